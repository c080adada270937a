#pragma once

#include "model/LockPrecedence.h"

#include <QList>
#include <QObject>
#include <QStringList>

class PageDirectory;
class QStudentGroupWidget;
class TimedLockController;

// The one way a page's lock changes. Every change names who asked, and
// LockPrecedence says what it does to each page and what it ends; whoever
// keeps a record of the pages' locks hears of it once, with the origin.
class LockPath final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(LockPath)

public:
    LockPath(PageDirectory& pages, TimedLockController& timedLocks, QObject* parent = nullptr);

    // Lock type `type` (0 releases) on `pages`, as `origin` asks.
    void setPagesLock(const QList<QStudentGroupWidget*>& pages, int type, LockOrigin origin);

signals:
    // After the pages took the lock: their names (none when no page took it).
    void sg_changed(const QStringList& pages, int type, LockOrigin origin);

private:
    PageDirectory& pages;
    TimedLockController& timed_locks;
};
