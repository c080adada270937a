#pragma once

#include <QDateTime>

// Who asked for a change of a page's lock.
enum class LockOrigin
{
    Teacher, // a press on the tool bar, "全部解锁", a timed lock started
    LessonMode, // a lesson mode the teacher applied
    TimedLock, // a timed lock's end
    Timetable, // a lesson's start or end, as scheduled
    Guard, // the answer to another console's word on the agents' port
};

// Which change of a page's lock wins, by who asked. The teacher's command
// stands until the page's next scheduled change; editing the timetable
// changes nothing now; a timed lock ends only the lock it set; the guard
// puts the page's own state back and never changes it.
class LockPrecedence final
{
public:
    enum class Outcome
    {
        Take, // the page takes the lock asked for
        Restore, // the page sends its own state again, unchanged
        Ignore, // nothing happens to the page
    };

    // `current`: the page's lock; `timed`: the lock its running timed lock
    // set (0: none running).
    static Outcome outcome(LockOrigin origin, int current, int timed)
    {
        switch (origin) {
        case LockOrigin::Guard:
            return Outcome::Restore;
        case LockOrigin::TimedLock:
            // The teacher or a lesson may have changed the page meanwhile.
            return timed != 0 && current == timed ? Outcome::Take : Outcome::Ignore;
        default:
            return Outcome::Take;
        }
    }

    // Whether the page's running timed lock is over: any change but the
    // guard's puts the page in a state the timer did not set.
    static bool endsTimedLock(LockOrigin origin) { return origin != LockOrigin::Guard; }

    // Whether the timetable leaves the page alone until its next scheduled
    // change: what the teacher chose, by hand or by a mode.
    static bool holdsTimetable(LockOrigin origin)
    {
        return origin == LockOrigin::Teacher || origin == LockOrigin::LessonMode;
    }

    // When the timetable looks at the change due on a page.
    enum class Occasion
    {
        Scheduled, // the change's instant has just passed
        CatchUp, // start-up, or the clock jumped (a sleep, set by hand)
        WeekEdited, // the teacher saved the page's week
    };
    enum class Step
    {
        Apply,
        Leave,
        // Nothing is applied, and the change counts as applied: the page's
        // state stands for it, also after a restart.
        TakeAsApplied,
    };

    // `due`: the instant of the change due now (invalid: none); `appliedMs`:
    // UTC ms of the change applied last; `held`: a teacher's command stands.
    static Step timetableStep(Occasion occasion, const QDateTime& due, qint64 appliedMs, bool held)
    {
        if (!due.isValid())
            return Step::Leave;
        switch (occasion) {
        case Occasion::Scheduled:
            return Step::Apply;
        case Occasion::WeekEdited:
            return Step::TakeAsApplied;
        case Occasion::CatchUp:
            break;
        }
        return held || due.toMSecsSinceEpoch() == appliedMs ? Step::Leave : Step::Apply;
    }

    // Whether a teacher's command still stands at `now`; `until` was the
    // page's next scheduled change when it was given (invalid: there was none).
    static bool teacherHolds(const QDateTime& until, const QDateTime& now)
    {
        return !until.isValid() || now < until;
    }
};
