#pragma once

#include "pages/PageDirectory.h"

#include <QObject>
#include <QString>

class ConsoleCore;
class EventLog;
class LabCommands;
class LabGuard;
class LessonModes;
class LessonTimetable;
class LessonTools;
class MachineMenu;
class Overview;
class PolicyCatalog;
class PowerControl;
class QAppWatcherWidget;
class QMainWindow;
class QStudentGroupWidget;
class QTabWidget;
class ReceivePath;
class SaveScheduler;
class SeatPlans;
class StartupNotices;
class TrayIcon;
class UdpServer;

namespace Ui {
class RokVtxAdminClass;
}

// What the window hands each feature as it attaches: the form (menus, tool
// bar, status bar, actions), the tabs and the central editor, the moments a
// feature may wait for, and the features others build on, each set as it
// attaches (the window's list says in which order).
class WindowParts final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(WindowParts)

public:
    using Attach = void (*)(ConsoleCore& core, WindowParts& parts);

    WindowParts(QMainWindow* window, Ui::RokVtxAdminClass& form, QTabWidget* tabs, QAppWatcherWidget* watchEditor,
        UdpServer& endpoint, const QString& dataDir);

    QMainWindow* const window;
    Ui::RokVtxAdminClass& form;
    QTabWidget* const tabs;
    QAppWatcherWidget* const watchEditor;
    // The console's socket; open once the features are attached.
    UdpServer& endpoint;
    // Where data.sqlite3, config.conf and the prepared files are.
    const QString dataDir;
    // Made by the window before any feature: what start-up finds waits there.
    StartupNotices* notices = nullptr;

    TrayIcon* tray = nullptr;
    SaveScheduler* saves = nullptr;
    Overview* overview = nullptr;
    SeatPlans* seatPlans = nullptr;
    EventLog* log = nullptr;
    LabGuard* guard = nullptr;
    PolicyCatalog* catalog = nullptr;
    LessonTools* lesson = nullptr;
    PowerControl* power = nullptr;
    LessonModes* lessonModes = nullptr;
    LessonTimetable* timetable = nullptr;
    MachineMenu* machineMenu = nullptr;
    LabCommands* commands = nullptr;
    ReceivePath* receive = nullptr;

    // For a feature whose change alters what the current tab's marks say.
    void showCommandStates() { emit sg_command_states_stale(); }

signals:
    // Every page as it is made, at start and later; it is in the tabs and
    // the directory already.
    void sg_page_made(QStudentGroupWidget* page);
    // The start's pages exist.
    void sg_pages_made();
    // A group's page is about to go; it is still in the directory.
    void sg_page_removing(QStudentGroupWidget* page);
    // The pages' group addresses changed (made, removed, renamed).
    void sg_published(const PageDirectory::Addresses& addresses);
    // A tab came in front, or the first one is shown.
    void sg_tab_shown(int index);
    // The tool bar's marks are to show tab `index`.
    void sg_command_states(int index);
    void sg_command_states_stale();
    // config.conf's page states are on the pages: the lab is served.
    void sg_settings_applied();
    // What start-up found has been told.
    void sg_started();
};
