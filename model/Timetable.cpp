#include "model/Timetable.h"

#include <QTimeZone>
#include <algorithm>

namespace {

constexpr int DayMinutes = 24 * 60;
constexpr int WeekMinutes = 7 * DayMinutes;
// A state at `now` comes from a change at most a week and a lesson back.
constexpr int LookBackDays = 9;

int minuteOfDay(const QTime& time)
{
    return time.hour() * 60 + time.minute();
}

// `time` on `day` in the zone of `like`. A time a change to daylight time
// skips happens as the clocks reach it: the first valid minute after.
QDateTime localInstant(const QDate& day, const QTime& time, const QDateTime& like)
{
    QDateTime at = like.timeSpec() == Qt::TimeZone ? QDateTime(day, time, like.timeZone())
                                                    : QDateTime(day, time, like.timeSpec(), like.offsetFromUtc());
    for (int step = 1; !at.isValid() && step <= 180; ++step)
        at = like.timeSpec() == Qt::TimeZone ? QDateTime(day, time.addSecs(step * 60), like.timeZone())
                                             : QDateTime(day, time.addSecs(step * 60), like.timeSpec());
    return at;
}

bool changeBefore(const Timetable::Change& a, const Timetable::Change& b)
{
    if (a.at != b.at)
        return a.at < b.at;
    return a.kind < b.kind;
}

} // namespace

bool TimetableLesson::operator==(const TimetableLesson& other) const
{
    return weekday == other.weekday && start == other.start && end == other.end && start_mode == other.start_mode
        && end_mode == other.end_mode;
}

int TimetableLesson::minutes() const
{
    const int length = minuteOfDay(end) - minuteOfDay(start);
    return length > 0 ? length : length + DayMinutes;
}

bool Timetable::operator==(const Timetable& other) const
{
    return lessons == other.lessons && wake_minutes == other.wake_minutes && day_end_lock == other.day_end_lock;
}

QString Timetable::weekdayName(int weekday)
{
    static const QString names[] = { QStringLiteral("一"), QStringLiteral("二"), QStringLiteral("三"),
        QStringLiteral("四"), QStringLiteral("五"), QStringLiteral("六"), QStringLiteral("日") };
    return weekday >= 1 && weekday <= 7 ? QStringLiteral("周") + names[weekday - 1] : QString();
}

QString Timetable::endTime(const TimetableLesson& lesson)
{
    const QString end = lesson.end.toString(QStringLiteral("HH:mm"));
    return lesson.end > lesson.start ? end : QStringLiteral("次日 ") + end;
}

QString Timetable::describe(const TimetableLesson& lesson)
{
    return QStringLiteral("%1 %2–%3")
        .arg(weekdayName(lesson.weekday), lesson.start.toString(QStringLiteral("HH:mm")), endTime(lesson));
}

QString Timetable::overlapOf(const TimetableLesson& candidate, int replacing) const
{
    // Minutes of the week; Sunday night's lesson runs on into Monday.
    const int from = (candidate.weekday - 1) * DayMinutes + minuteOfDay(candidate.start);
    const int length = candidate.minutes();
    for (int i = 0; i < lessons.size(); ++i) {
        if (i == replacing)
            continue;
        const TimetableLesson& other = lessons.at(i);
        const int otherFrom = (other.weekday - 1) * DayMinutes + minuteOfDay(other.start);
        for (int shift : { -WeekMinutes, 0, WeekMinutes }) {
            const int start = otherFrom + shift;
            if (from < start + other.minutes() && start < from + length)
                return QStringLiteral("%1 与已有的 %2 时间重叠。").arg(describe(candidate), describe(other));
        }
    }
    return QString();
}

int Timetable::lastOfDay(int weekday) const
{
    int last = -1;
    for (int i = 0; i < lessons.size(); ++i)
        if (lessons.at(i).weekday == weekday && (last < 0 || lessons.at(i).start > lessons.at(last).start))
            last = i;
    return last;
}

QList<Timetable::Change> Timetable::changesOn(const QDate& day, const QDateTime& like) const
{
    QList<Change> changes;
    int first = -1;
    const int last = lastOfDay(day.dayOfWeek());
    for (int i = 0; i < lessons.size(); ++i) {
        const TimetableLesson& lesson = lessons.at(i);
        if (lesson.weekday == day.dayOfWeek() && (first < 0 || lesson.start < lessons.at(first).start))
            first = i;
    }
    for (int i = 0; i < lessons.size(); ++i) {
        const TimetableLesson& lesson = lessons.at(i);
        if (lesson.weekday != day.dayOfWeek())
            continue;
        Change start;
        start.at = localInstant(day, lesson.start, like);
        start.kind = Start;
        start.lesson = i;
        start.mode = lesson.start_mode;
        changes << start;
        Change end;
        end.at = localInstant(lesson.end > lesson.start ? day : day.addDays(1), lesson.end, like);
        end.kind = End;
        end.lesson = i;
        if (i == last && day_end_lock != 0)
            end.lock = day_end_lock;
        else
            end.mode = lesson.end_mode;
        changes << end;
        if (i == first && wake_minutes > 0) {
            Change wake;
            wake.at = start.at.addSecs(-60 * qint64(wake_minutes));
            wake.kind = Wake;
            wake.lesson = i;
            changes << wake;
        }
    }
    return changes;
}

QList<Timetable::Change> Timetable::changesBetween(const QDateTime& from, const QDateTime& to) const
{
    QList<Change> changes;
    if (lessons.isEmpty() || !(from < to))
        return changes;
    // The day before also holds lessons ending after midnight, and wakes
    // reach back at most a day.
    for (QDate day = from.date().addDays(-1); day <= to.date().addDays(1); day = day.addDays(1))
        for (const Change& change : changesOn(day, to))
            if (from < change.at && change.at <= to)
                changes << change;
    std::sort(changes.begin(), changes.end(), changeBefore);
    return changes;
}

Timetable::Change Timetable::due(const QDateTime& now) const
{
    const QList<Change> changes = changesBetween(now.addDays(-LookBackDays), now);
    for (auto it = changes.crbegin(); it != changes.crend(); ++it)
        if (it->kind != Wake)
            return *it;
    return Change();
}

Timetable::Change Timetable::nextChange(const QDateTime& now) const
{
    for (const Change& change : changesBetween(now, now.addDays(LookBackDays)))
        if (change.kind != Wake)
            return change;
    return Change();
}

Timetable::Change Timetable::wakeDue(const QDateTime& now) const
{
    for (const Change& change : changesBetween(now.addDays(-1), now))
        if (change.kind == Wake && now < change.at.addSecs(60 * qint64(wake_minutes)))
            return change;
    return Change();
}
