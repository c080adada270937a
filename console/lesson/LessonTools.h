#pragma once

#include "model/CStuInfo.h"

#include <QList>
#include <QObject>
#include <QString>

#include <functional>

class EventLog;
class EventLogDock;
class ConsoleTables;
class EventLogStore;
class LockPath;
class PageDirectory;
class QAction;
class QLabel;
class QMainWindow;
class QMenu;
class QStatusBar;
class QStudentGroupWidget;
class QTabWidget;
class QToolBar;
class TimedLockController;
class ConsoleCore;
class WindowParts;

// The lesson's tools in the window: timed locks (menus, countdown, expiry,
// restoring at start) and the event log (its tables, dock and entries).
class LessonTools final : public QObject
{
    Q_OBJECT

public:
    static void attach(ConsoleCore& core, WindowParts& parts);

    struct Attachment
    {
        PageDirectory* pages = nullptr;
        QTabWidget* tabs = nullptr;
        QMenu* lockMenu = nullptr; // "操作": the timed-lock submenus go here
        QMenu* viewMenu = nullptr; // "视图": the log's toggle goes here
        QToolBar* toolBar = nullptr;
        QAction* lockAction = nullptr;
        QAction* lockKbdMouseAction = nullptr;
        std::function<int()> currentTab;
        // Every lock change goes through it, which also ends timed locks.
        LockPath* lockPath = nullptr;
        // The commands' rows.
        EventLog* log = nullptr;
    };

    // The countdown's label and the log's dock; the log is kept in `tables`.
    LessonTools(ConsoleTables& tables, TimedLockController& timedLocks, QMainWindow* window, QStatusBar* statusBar);

    // Once the pages and the actions exist.
    void attach(const Attachment& attachment);

    static QString lockName(int kind);

    TimedLockController* timedLocks() const { return timed_locks; }
    EventLogStore* eventLog() const { return event_log; }
    EventLogDock* eventLogDock() const { return event_log_dock; }

    // The locks stored by the last run whose pages still hold them; once.
    void restoreTimedLocks();
    // Locks the current tab's pages with `kind` until `minutes` have passed.
    void startTimedLock(int kind, int minutes);
    // "全部解锁": every page's lock released as a second press would.
    void releaseAllPages();
    // The status bar's entry: the current tab's timer, else the one ending
    // first, and how many others run.
    QString timedLockText() const;
    // Every running timer, a line each.
    QString timedLockToolTip() const;
    void updateTimedLockStatus();
    // A page renamed: its timed lock and the log's filter follow.
    void renamePage(const QString& from, const QString& to);


private:
    void buildTimedLockMenus();
    void buildReleaseAll();
    void onTimedLockExpired(const QString& pageName, int kind);

    QMainWindow* window;
    Attachment host;
    QLabel* timed_label = nullptr;
    QStatusBar* status_bar = nullptr;
    TimedLockController* timed_locks = nullptr;
    EventLogStore* event_log = nullptr;
    EventLogDock* event_log_dock = nullptr;
    bool timed_locks_restored = false;
};
