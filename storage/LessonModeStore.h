#pragma once

#include "model/LessonMode.h"

#include <QList>
#include <QSqlDatabase>
#include <QString>

// The lesson modes in tb_lesson_modes, beside the console's own tables, one
// row per mode. The switched-off entries of each list are kept as a JSON
// array of texts, so that no character in an entry can split or join them.
// Without a usable database every call does nothing.
class LessonModeStore final
{
public:
    // Creates the table when missing; false leaves the store unused.
    bool open(const QSqlDatabase& db);
    bool isOpen() const { return usable; }
    void close();

    // By name.
    QList<LessonMode> load() const;
    // Inserts, or replaces the mode of the same name.
    bool put(const LessonMode& mode);
    // False when `from` does not exist or `to` is taken.
    bool rename(const QString& from, const QString& to);
    bool remove(const QString& name);

    // The JSON form of a list of entries and back; text that is no array of
    // strings reads as no entries.
    static QString entriesText(const QStringList& entries);
    static QStringList entriesFromText(const QString& text);

private:
    QSqlDatabase database() const;

    QString connection_name;
    bool usable = false;
};
