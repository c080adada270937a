#pragma once

#include "model/BeforeLesson.h"
#include "model/Timetable.h"

#include <QDateTime>
#include <QMap>
#include <QSqlDatabase>
#include <QString>

// The pages' timetables, beside the console's own tables: their lessons
// (tb_timetable_lessons), options (tb_timetable_options) and the instant of
// the change last applied to each page (tb_timetable_applied), so that a
// restart applies a change it has not applied yet and no other, and what a
// lesson's start changed that its end puts back (tb_timetable_before). Without
// a usable database every call does nothing and the week lasts this run only.
class TimetableStore final
{
public:
    bool open(const QSqlDatabase& db);
    bool isOpen() const { return usable; }
    void close();

    QMap<QString, Timetable> load() const;
    // Replaces the page's week; an empty one is removed.
    bool put(const QString& page, const Timetable& timetable);
    bool remove(const QString& page);
    bool rename(const QString& from, const QString& to);

    // UTC milliseconds since the epoch; 0 when none was applied.
    QMap<QString, qint64> applied() const;
    bool setApplied(const QString& page, qint64 atMs);

    QMap<QString, BeforeLesson> befores() const;
    // An empty one is removed.
    bool setBefore(const QString& page, const BeforeLesson& before);

private:
    QSqlDatabase database() const;
    bool removeRows(QSqlDatabase& db, const QString& page, bool withApplied);

    QString connection_name;
    bool usable = false;
};
