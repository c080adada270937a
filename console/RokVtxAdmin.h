#pragma once

#include "ConsoleCore.h"
#include "core/Protocol.h"
#include "core/QStudentManage.h"
#include "core/SocketChannel.h"
#include "core/UdpServer.h"
#include "groups/GroupOperations.h"
#include "guard/LabGuard.h"
#include "lesson/LessonTools.h"
#include "model/CStuInfo.h"
#include "model/QtDoubleIntStringItem.h"
#include "overview/Overview.h"
#include "pages/PageDirectory.h"
#include "power/PowerControl.h"
#include "storage/ConsoleTables.h"
#include "storage/GroupSettingsSession.h"

#include <QList>
#include <QMainWindow>
#include <QMap>
#include <QPoint>
#include <QPointer>
#include <QSet>
#include <QString>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class Beacon;
class QAction;
class QActionGroup;
class PolicyCatalog;
class QAppWatcherWidget;
class QLabel;
class QMenu;
class QStudentGroupWidget;
class TrayIcon;
class SaveScheduler;
class SeatPlans;
class QTabWidget;
class QTimer;
class TimedLockController;
class EventLog;
class EventLogDock;
class EventLogStore;
class LabCommands;
class LessonModes;
class MachineMenu;
class LessonTimetable;
class LockPath;
class NewMachineQueue;
class ReceivePath;
class SecurityMonitor;
class StartupNotices;

namespace Ui {
class RokVtxAdminClass;
}

// The console's one main window. It owns the registry, the UDP endpoint, one
// tab page per group and the central process-watch editor, and routes
// everything between them.
class RokVtxAdmin final : public QMainWindow
{
    Q_OBJECT

public:
    explicit RokVtxAdmin(QWidget* parent = nullptr);
    // Keeps data.sqlite3 and config.conf in `dataDir` rather than beside
    // the executable; the tests run many consoles from one build.
    explicit RokVtxAdmin(const QString& dataDir, QWidget* parent = nullptr);
    ~RokVtxAdmin() override;

    QStudentGroupWidget* createGroupPage(const QString& name, bool isAll, int position);

    // Writes the database, config.conf and the log now (session end, tests).
    void saveNow();
    SaveScheduler* saveScheduler() const { return saves; }

    // For the tests and the tools that drive a console in-process.
    QTabWidget* tabWidget() const { return tab_widget; }
    ConsoleCore& core() { return core_; }
    QAppWatcherWidget* watchEditor() const { return watch_editor; }
    QStudentGroupWidget* allPage() const { return all_page; }
    QStudentGroupWidget* ungroupedPage() const { return ungrouped_page; }
    QStudentGroupWidget* pageAt(int index) const { return core_.pages().pageAt(index); }
    bool networkReady() const { return bind_fd > 0; }
    SeatPlans* seatPlans() const { return seat_plans; }
    MachineMenu* machineMenu() const { return machine_menu; }
    ReceivePath* receivePath() const { return receive; }
    Overview* overview() const { return room_overview; }
    // The status bar's "在线 n / 共 m" of the current tab.
    QString countsText() const { return room_overview->countsText(); }
    LessonTools* lessonTools() const { return lesson; }
    LessonModes* lessonModes() const { return lesson_modes; }
    TimedLockController* timedLocks() const { return lesson->timedLocks(); }
    EventLogStore* eventLog() { return &core_.tables().eventLog(); }
    EventLogDock* eventLogDock() const { return lesson->eventLogDock(); }
    SecurityMonitor* securityMonitor() const { return guard->monitor(); }
    LabGuard* labGuard() const { return guard; }
    // The agents' port is watched for other consoles' datagrams.
    bool watchingAgentPort() const { return guard->watchingAgentPort(); }
    // The status bar's countdown of the current tab's timed lock; empty
    // without one.
    QString timedLockText() const { return lesson->timedLockText(); }

signals:
    void sg_special_message(uint32_t value);
    void sg_heartbeat();
    // Every message the tray icon is asked to show, also where there is no
    // tray to show it.
    void sg_tray_message(const QString& title, const QString& text);

public slots:
    void onTabChanged(int index);
    void onSpecialMessage(uint32_t value);
    void sendToAgent(uint32_t address, const QByteArray& datagram);

    // Locks the current tab's pages with `kind` until `minutes` have passed.
    void startTimedLock(int kind, int minutes) { lesson->startTimedLock(kind, minutes); }
    void refreshCommandStates(int index);

    // Group management.
    void addGroupInteractive();
    void deleteCurrentGroup();

    void loadConfigFile();
    void saveConfigFile();

    // Overview and power.
    void setOnlineOnly(bool onlineOnly) { room_overview->setOnlineOnly(onlineOnly); }
    void setSeatPlanShown(bool shown);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void initialise(const QString& dataDir);
    void wireActions();
    void openEndpoint();
    void switchView(QAction* action);
    void rebuildPageDirectory();
    // Group changes: pages made and taken away here, logged and saved.
    void attachGroupOperations();
    void shutdown();

    void notifyBody();

    // Endpoint.
    UdpServer udp_server;
    int bind_fd = 0;
    std::mutex send_mutex;
    uint32_t next_group_addr = 0;
    std::atomic_int busy_threads{0};
    std::unique_ptr<std::thread> notify_thread;
    std::unique_ptr<Beacon> beacon;
    // What keeps the room locked against a student PC.
    LabGuard* guard = nullptr;

    std::unique_ptr<Ui::RokVtxAdminClass> ui;
    QTabWidget* tab_widget = nullptr;
    QAppWatcherWidget* watch_editor = nullptr;
    QString base_title;
    QActionGroup* view_group = nullptr;
    QAction* current_view_action = nullptr;
    SeatPlans* seat_plans = nullptr;
    QStudentGroupWidget* all_page = nullptr;
    QStudentGroupWidget* ungrouped_page = nullptr;

    TrayIcon* tray = nullptr;
    // The three policy lists, from the database to the editor and the pages.
    PolicyCatalog* catalog = nullptr;
    // The event log's rows of what the console does.
    EventLog* event_log = nullptr;
    Overview* room_overview = nullptr;
    LessonTools* lesson = nullptr;
    LessonModes* lesson_modes = nullptr;
    PowerControl* power = nullptr;
    LessonTimetable* timetable = nullptr;
    // The menu on a machine's row or tile.
    MachineMenu* machine_menu = nullptr;
    // The tool bar's lock, 自动IP and 禁用U盘 commands and their marks.
    LabCommands* commands = nullptr;
    // Every lock change, with who asked.
    LockPath* lock_path = nullptr;

    // The agents' datagrams, on the network thread.
    ReceivePath* receive = nullptr;

    SaveScheduler* saves = nullptr;
    bool shut_down = false;
    StartupNotices* notices = nullptr;

    // Declared late so it is destroyed early: the registry's worker stops and
    // its final save runs while the pages still exist.
    ConsoleCore core_;
};
