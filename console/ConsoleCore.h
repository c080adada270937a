#pragma once

#include "core/QStudentManage.h"
#include "groups/GroupOperations.h"
#include "lesson/TimedLockController.h"
#include "pages/LockPath.h"
#include "pages/PageDirectory.h"
#include "storage/ConsoleTables.h"
#include "storage/GroupSettingsSession.h"

#include <QList>
#include <QString>

#include <functional>
#include <memory>

class QStudentGroupWidget;
class QTabWidget;

// What the console is without its window: the machine registry and the
// console's own tables, config.conf for this run, which page is which, the
// group operations, the timed locks and the one lock path, and the tab the
// lab commands act on. Features are handed what they need from here; the
// window only shows it.
class ConsoleCore final
{
public:
    // data.sqlite3 and config.conf live in `dataDir`.
    explicit ConsoleCore(const QString& dataDir);
    ~ConsoleCore();
    ConsoleCore(const ConsoleCore&) = delete;
    ConsoleCore& operator=(const ConsoleCore&) = delete;

    QStudentManage& registry() { return machines; }
    ConsoleTables& tables() { return own_tables; }
    GroupSettingsSession& settings() { return settings_file; }
    const GroupSettingsSession& settings() const { return settings_file; }
    const QString& databasePath() const { return database_path; }
    // config.conf's page states onto the pages; false when it could not be
    // read (the pages keep their defaults), with what to tell in `notice`.
    bool loadSettings(QString* notice);
    // The pages' states into config.conf, when this run may write it.
    void saveSettings();

    // Once the tabs exist: which page is which, and the lock path on them.
    void setTabs(QTabWidget* tabs);
    PageDirectory& pages() const { return *directory; }
    TimedLockController& timedLocks() { return timed_locks; }
    // Every change of a page's lock, with who asked.
    LockPath& lockPath() const { return *lock_path; }
    // Once pages can be made: the group operations on them (a rename is
    // refused while config.conf cannot be written).
    void setPageHost(GroupOperations::PageHost host, QObject* parent);
    GroupOperations& groups() const { return *operations; }

    // The tab the lab commands act on (-1 before the first is shown).
    int currentTab() const { return current_tab; }
    void setCurrentTab(int index) { current_tab = index; }
    std::function<int()> currentTabReader() const
    {
        return [this] { return current_tab; };
    }
    // What a command acts on: the current tab's pages ("全部": every other).
    QList<QStudentGroupWidget*> commandTargets() const;

private:
    QString database_path;
    GroupSettingsSession settings_file;
    std::unique_ptr<PageDirectory> directory;
    TimedLockController timed_locks;
    std::unique_ptr<LockPath> lock_path;
    GroupOperations* operations = nullptr;
    int current_tab = -1;
    // Last, so they go first: the registry's worker stops and its final save
    // runs while the pages still exist; the tables let go of the registry's
    // connection before it closes.
    QStudentManage machines;
    ConsoleTables own_tables;
};
