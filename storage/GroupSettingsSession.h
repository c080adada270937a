#pragma once

#include "storage/GroupSettings.h"

#include <QList>
#include <QString>

// config.conf for one run of the console. It is read at most once, and
// written only once this run has read it (or found none), so a run that
// could not read it never replaces the teacher's settings with defaults. A
// file that does not parse is set aside under a name of its own and the
// pages' settings are written afresh.
class GroupSettingsSession final
{
public:
    explicit GroupSettingsSession(QString path);

    // The first call reads the file: true with its entries when there are
    // any to apply (false for a missing file, a failed read and every later
    // call). *notice tells the teacher what was found wrong, once.
    bool load(QList<GroupSettings>& entries, QString* notice);
    // False when nothing was written: before a load, after a failed read, or
    // on a write error (*error).
    bool save(const QList<GroupSettings>& entries, QString* error = nullptr) const;

    // This run could not read the file and leaves it as it is.
    bool readFailed() const { return read_failed; }
    const QString& path() const { return file_path; }

private:
    QString file_path;
    bool loaded = false;
    bool read_failed = false;
};
