#pragma once

#include <QDateTime>
#include <QList>
#include <QString>
#include <QTime>

// One lesson of a page's week. It starts on `weekday` (Qt::Monday ..
// Qt::Sunday); an end not after its start falls on the next day.
struct TimetableLesson
{
    int weekday = 1;
    QTime start;
    QTime end;
    QString start_mode;
    QString end_mode; // empty: the lock is released

    bool operator==(const TimetableLesson& other) const;
    // Minutes from its start to its end, across midnight when it must.
    int minutes() const;
};

// A page's week of lessons and what happens around them, as instants in the
// local time of the clock it is asked with: a change of daylight time moves
// a lesson's instant, never its time on the wall.
class Timetable
{
public:
    enum ChangeKind { Wake, End, Start };

    struct Change
    {
        QDateTime at; // invalid: none
        ChangeKind kind = Start;
        int lesson = -1; // index into lessons
        // What it does: a mode, else the lock type `lock` (0 releases).
        QString mode;
        int lock = 0;

        bool isValid() const { return at.isValid(); }
    };

    QList<TimetableLesson> lessons;
    // Wake-on-LAN this many minutes before the day's first lesson; 0: never.
    int wake_minutes = 0;
    // The lock type set when the day's last lesson ends, in place of that
    // lesson's end; 0: its own end stays.
    int day_end_lock = 0;

    bool isEmpty() const { return lessons.isEmpty(); }
    bool operator==(const Timetable& other) const;

    static QString weekdayName(int weekday);
    // "08:45", or "次日 01:00" for an end after midnight.
    static QString endTime(const TimetableLesson& lesson);
    // "周一 08:00–08:45".
    static QString describe(const TimetableLesson& lesson);

    // The lesson that starts last on `weekday`, whose end the day's end lock
    // replaces; -1 for none.
    int lastOfDay(int weekday) const;

    // Why `candidate` cannot join the week, naming both lessons; empty when
    // it overlaps none. `replacing` (the lesson being edited) is left out.
    QString overlapOf(const TimetableLesson& candidate, int replacing = -1) const;

    // Every change in (from, to], in order; an end before a start at the
    // same instant.
    QList<Change> changesBetween(const QDateTime& from, const QDateTime& to) const;
    // The state due at `now`: a lesson in progress its start, between
    // lessons the last end; none without lessons. Wakes are not states.
    Change due(const QDateTime& now) const;
    // The first start or end after `now`.
    Change nextChange(const QDateTime& now) const;
    // The wake whose lesson has not started yet at `now`, if one is due.
    Change wakeDue(const QDateTime& now) const;

private:
    QList<Change> changesOn(const QDate& day, const QDateTime& like) const;
};
