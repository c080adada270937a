#include "pages/LockPath.h"

#include "lesson/TimedLockController.h"
#include "pages/PageDirectory.h"
#include "pages/QStudentGroupWidget.h"

LockPath::LockPath(PageDirectory& pages, TimedLockController& timedLocks, QObject* parent)
    : QObject(parent)
    , pages(pages)
    , timed_locks(timedLocks)
{
}

void LockPath::setPagesLock(const QList<QStudentGroupWidget*>& targets, int type, LockOrigin origin)
{
    QStringList taken;
    for (QStudentGroupWidget* page : targets) {
        const QString name = pages.nameOf(page);
        const int timed = timed_locks.has(name) ? timed_locks.kindOf(name) : 0;
        const LockPrecedence::Outcome outcome = LockPrecedence::outcome(origin, page->lock_state->lock_type, timed);
        // Ended before a new one is started after this.
        if (timed != 0 && LockPrecedence::endsTimedLock(origin))
            timed_locks.cancel(name);
        if (outcome == LockPrecedence::Outcome::Restore) {
            page->buildLockDatagram();
        } else if (outcome == LockPrecedence::Outcome::Take) {
            page->setLockType(type);
            taken << name;
        }
    }
    emit sg_changed(taken, type, origin);
}
