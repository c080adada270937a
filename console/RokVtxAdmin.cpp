#include "RokVtxAdmin.h"

#include "app/QuitActions.h"
#include "app/StartupNotices.h"
#include "app/TrayIcon.h"
#include "core/Beacon.h"
#include "core/MetaTypes.h"
#include "core/PolicyRules.h"
#include "core/Protocol.h"
#include "deploy/Deployment.h"
#include "dialogs/MessageBox.h"
#include "groups/Dialog_addgroup.h"
#include "groups/GroupTabs.h"
#include "groups/MachineMenu.h"
#include "groups/NewMachineQueue.h"
#include "guard/SecurityMonitor.h"
#include "lesson/LessonModes.h"
#include "lesson/TimedLockController.h"
#include "log/EventLog.h"
#include "network/ReceivePath.h"
#include "pages/LabCommands.h"
#include "pages/LockPath.h"
#include "pages/QStudentGroupWidget.h"
#include "pages/TabLockIcons.h"
#include "policy/PolicyCatalog.h"
#include "policy/PolicyEditorStatus.h"
#include "policy/QAppWatcherWidget.h"
#include "power/PowerControl.h"
#include "saving/SaveScheduler.h"
#include "seatplan/SeatPlans.h"
#include "storage/EventLogStore.h"
#include "tableview/QtRokTableView.h"
#include "timetable/LessonTimetable.h"
#include "transfer/MachineListTransfer.h"
#include "ui_RokVtxAdmin.h"
#include "WindowLayout.h"

#include <QActionGroup>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QDir>
#include <QMenu>
#include <QStatusBar>
#include <QTabBar>
#include <QTabWidget>
#include <QTimer>
#include <QVBoxLayout>

#include <chrono>
#include <cstdio>
#include <utility>

namespace {

constexpr int StatusMessageMs = 5000;

QString viewTitle(const QString& base, const QString& view)
{
    return QStringLiteral("%1 — %2").arg(base, view);
}

} // namespace

RokVtxAdmin::RokVtxAdmin(QWidget* parent)
    : RokVtxAdmin(QCoreApplication::applicationDirPath(), parent)
{
}

RokVtxAdmin::RokVtxAdmin(const QString& dataDir, QWidget* /*parent: the window is always top level*/)
    : QMainWindow(nullptr)
    , ui(std::make_unique<Ui::RokVtxAdminClass>())
    , core_(dataDir)
{
    if (objectName().isEmpty())
        setObjectName(QStringLiteral("RokVtxAdminClass"));
    ui->setupUi(this);
    setMinimumSize(600, 400);
    base_title = windowTitle();
    initialise(dataDir);
}

RokVtxAdmin::~RokVtxAdmin()
{
    shutdown();
}

void RokVtxAdmin::initialise(const QString& dataDir)
{
    busy_threads = 0;
    next_group_addr = Protocol::firstGroupAddress();

    registerRokMetaTypes();

    tray = new TrayIcon(this, base_title);
    connect(tray, &TrayIcon::sg_alert, this, &RokVtxAdmin::sg_tray_message);
    // Nothing modal before the lab is served: what start-up finds waits here.
    notices = new StartupNotices(this, ui->statusBar, &core_.tables().eventLog());
    saves = new SaveScheduler(core_.registry(), [this] { saveConfigFile(); }, this, ui->statusBar);
    notices->add(QStringLiteral("数据库"), saves->openDatabase(core_.databasePath()));

    // Before the pages: each one starts with the filter and reports its rows.
    room_overview = new Overview(core_.registry(), this, ui->statusBar);
    connect(room_overview, &Overview::sg_offline_burst, tray, &TrayIcon::alert);
    // Creating their tables takes the write lock; a file held elsewhere gets
    // them once a save works again.
    if (core_.registry().databaseOk())
        core_.tables().open(core_.registry().store().database());
    connect(saves, &SaveScheduler::sg_database_writable, this, [this] { core_.tables().open(core_.registry().store().database()); });
    lesson = new LessonTools(core_.tables(), this, ui->statusBar);

    tab_widget = new QTabWidget(this);
    core_.setTabs(tab_widget);
    seat_plans = new SeatPlans(core_.tables().seats(), core_.registry(), core_.pages(), this);
    event_log = new EventLog(core_.tables().eventLog(), core_.pages(), core_.currentTabReader(), this);
    guard = new LabGuard(core_.registry(), core_.pages(), udp_server, &event_log->store(), this);
    event_log->setMachineEventFilter([this](const CStuInfo_PTR& machine) { return guard->admitMachineEvent(machine); });
    connect(guard, &LabGuard::sg_alert, this, [this](const QString& title, const QString& text) {
        ui->statusBar->showMessage(text, StatusMessageMs * 3);
        tray->alert(title, text);
    });
    new TabLockIcons(core_.pages(), tab_widget, *seat_plans);
    attachGroupOperations();
    auto* layout = new QVBoxLayout(ui->centralWidget);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(tab_widget);

    watch_editor = new QAppWatcherWidget(this);
    layout->addWidget(watch_editor);
    watch_editor->hide();
    catalog = new PolicyCatalog(core_.registry(), core_.pages(), watch_editor, this);
    connect(catalog, &PolicyCatalog::sg_settings_changed, saves, &SaveScheduler::scheduleConfigSave);
    connect(catalog, &PolicyCatalog::sg_stored, saves, &SaveScheduler::noteDatabaseSave);

    setWindowTitle(viewTitle(base_title, QStringLiteral("管理")));

    all_page = createGroupPage(QStringLiteral("全部"), true, 0);
    all_page->setMachines(core_.registry().allMachines().values());

    int k = 1;
    for (const CStudentGroup_PTR& group : core_.registry().sortedGroups()) {
        const QList<CStuInfo_PTR> machines = core_.registry().machinesByMac(group->ullmac_list.values());
        QStudentGroupWidget* page = createGroupPage(group->group_name, false, k++);
        page->setMachines(machines);
    }

    ungrouped_page = createGroupPage(QStringLiteral("未分组"), false, QStudentGroupWidget::UngroupedOrder);
    ungrouped_page->setMachines(core_.registry().ungroupedMachines().values());

    notices->add(QStringLiteral("策略列表"), PolicyRules::listed(catalog->load()));

    connect(tab_widget, &QTabWidget::currentChanged, this, &RokVtxAdmin::onTabChanged);
    new PolicyEditorStatus(watch_editor, this, &event_log->store());
    connect(this, &RokVtxAdmin::sg_special_message, this, &RokVtxAdmin::onSpecialMessage);

    wireActions();
    new MachineListTransfer({ this, ui->statusBar, ui->action_file_export, ui->action_file_import,
                                core_.currentTabReader() },
        core_.registry(), core_.pages(), core_.groups());
    auto* deployment = new Deployment({ this, ui->statusBar, ui->menu_F, ui->action_file_exit, dataDir, watch_editor,
                                          event_log->commandWriter(),
                                          [this] { return saves->saveDatabase(); } },
        core_.registry(), core_.groups());
    connect(this, &RokVtxAdmin::sg_special_message, deployment, [deployment](uint32_t value) {
        if (value == 1)
            deployment->applyPreparedSchool();
    });
    machine_menu = new MachineMenu(this, core_.registry(), core_.pages(), core_.groups(), core_.currentTabReader());
    const auto menuTargets = [this] { return machine_menu->targets(); };
    power->attachMachineMenu(machine_menu->menu(), menuTargets);
    guard->attachMachineMenu(machine_menu->menu(), menuTargets, &core_.groups());
    connect(seat_plans, &SeatPlans::sg_menu_requested, machine_menu, &MachineMenu::showForTiles);
    new QuitActions(
        { ui->action_file_exit, tray->quitAction() }, [this] { return watch_editor->askToLeave(); }, this);
    new WindowLayout(this, tab_widget, core_.pages());

    openEndpoint();
    if (bind_fd <= 0) {
        // Without a socket the commands still change the pages, so they need
        // a current tab; and the saved page states must still come back.
        onTabChanged(0);
        QTimer::singleShot(100, this, [this] { emit sg_special_message(1); });
    }
}

void RokVtxAdmin::openEndpoint()
{
    bind_fd = udp_server.createsocket(Protocol::ConsolePort, "0.0.0.0");
    if (bind_fd < 1) {
        MessageBox::critical(nullptr, QStringLiteral("错误"), QStringLiteral("createsocket失败！是否该端口已经被占用？"),
                             QMessageBox::Ok);
        return;
    }
    udp_server.setBroadcast(true);
    udp_server.onMessage = [this](const SocketChannelPtr& channel, const UdpBuffer& buf) {
        receive->onUdpMessage(channel, buf);
    };
    guard->repeatJoins();
    onTabChanged(0);
    udp_server.start();
    if (!guard->watchAgentPort())
        notices->add(QStringLiteral("学生端端口"),
            QStringLiteral("无法监听学生端端口 %1：其他教师端发出的指令将不会被发现。").arg(Protocol::AgentPort),
            StartupNotices::LogOnly);
    notify_thread = std::make_unique<std::thread>([this] { notifyBody(); });
    beacon = std::make_unique<Beacon>([this](uint32_t address, const QByteArray& datagram) {
        if (bind_fd > 0) {
            std::lock_guard<std::mutex> sendLock(send_mutex);
            udp_server.sendto(datagram.constData(), datagram.size(), address, Protocol::AgentPort);
        }
    });
    beacon->start();
}

void RokVtxAdmin::shutdown()
{
    if (shut_down)
        return;
    shut_down = true;

    receive->stop();
    if (beacon)
        beacon->stop();
    guard->stop();
    if (bind_fd > 0)
        udp_server.stop();
    while (busy_threads.load() != 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    if (notify_thread && notify_thread->joinable())
        notify_thread->join();

    saves->stop();
    saveConfigFile();
    // The console's tables let go of the connection as they are destroyed,
    // then the registry saves machines and groups and closes it.
}

void RokVtxAdmin::notifyBody()
{
    ++busy_threads;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    emit sg_special_message(1);
    --busy_threads;
}

void RokVtxAdmin::sendToAgent(uint32_t address, const QByteArray& datagram)
{
    if (bind_fd <= 0)
        return;
    guard->noteSent(address, datagram);
    std::lock_guard<std::mutex> lock(send_mutex);
    udp_server.sendto(datagram.constData(), datagram.size(), address, Protocol::AgentPort);
}

QStudentGroupWidget* RokVtxAdmin::createGroupPage(const QString& name, bool isAll, int position)
{
    auto* page = new QStudentGroupWidget(this, name);
    page->setShowAll(isAll);
    page->setOnlineOnly(room_overview->onlineOnly());
    page->page_order = position;
    // A new group goes no further than before "未分组", which stays last.
    const int last = ungrouped_page ? tab_widget->indexOf(ungrouped_page) : tab_widget->count();
    if (position > last && position != QStudentGroupWidget::UngroupedOrder)
        position = last;
    connect(page, &QStudentGroupWidget::sg_customContextMenuRequested, this, [this](const QPoint& pos) {
        if (machine_menu)
            machine_menu->showForRow(pos);
    });
    seat_plans->attach(page);
    tab_widget->insertTab(position, page, name);
    // A tab inserted before the one in front shifts its index without a
    // currentChanged; commands, the context menu and group deletion must keep
    // acting on the tab shown.
    if (core_.currentTab() >= 0)
        core_.setCurrentTab(tab_widget->currentIndex());

    if (!isAll) {
        page->group_addr = next_group_addr;
        next_group_addr = Protocol::nextGroupAddress(next_group_addr);
        connect(page, &QStudentGroupWidget::sg_need_send_msg, this, &RokVtxAdmin::sendToAgent);
    }
    catalog->watch(page);
    room_overview->watch(page);
    rebuildPageDirectory();
    return page;
}

void RokVtxAdmin::rebuildPageDirectory()
{
    guard->setGroupAddresses(core_.pages().publish());
}

// ---------------------------------------------------------------------------
// Actions and views

void RokVtxAdmin::wireActions()
{
    view_group = new QActionGroup(this);
    view_group->setExclusive(true);
    view_group->setEnabled(true);
    for (QAction* action : {ui->action_view_manage, ui->action_view_watch_app, ui->action_view_protect_service,
                            ui->action_view_protect_progress, ui->action_view_disable_title,
                            ui->action_view_disable_path}) {
        action->setCheckable(true);
        view_group->addAction(action);
    }
    current_view_action = ui->action_view_manage;
    ui->action_view_manage->setChecked(true);

    ui->action_file_setdb->setVisible(false);
    ui->action_view_toolbar->setChecked(ui->mainToolBar->isVisible());

    connect(ui->action_op_add_group, &QAction::triggered, this, &RokVtxAdmin::addGroupInteractive);
    connect(ui->action_op_remove_group, &QAction::triggered, this, &RokVtxAdmin::deleteCurrentGroup);
    connect(view_group, &QActionGroup::triggered, this, &RokVtxAdmin::switchView);
    connect(ui->mainToolBar, &QToolBar::visibilityChanged, ui->action_view_toolbar, &QAction::setChecked);
    connect(ui->action_view_toolbar, &QAction::triggered, ui->mainToolBar, &QToolBar::setVisible);

    room_overview->attach(&core_.pages(), tab_widget, ui->action_view_online_only);
    event_log->follow(*room_overview);
    ui->action_view_seatplan->setChecked(seat_plans->shown());
    connect(ui->action_view_seatplan, &QAction::triggered, this, &RokVtxAdmin::setSeatPlanShown);
    power = new PowerControl(core_.registry(), core_.pages(), ui->statusBar,
                             event_log->commandWriter(), this);
    connect(ui->action_op_wake, &QAction::triggered, power, [this] { power->wakeTab(core_.currentTab()); });
    // Every feature that locks goes through the one path; the check marks
    // (and what a second press releases) follow the pages.
    lock_path = new LockPath(core_.pages(), *lesson->timedLocks(), this);
    connect(lock_path, &LockPath::sg_changed, this, [this] {
        if (core_.currentTab() >= 0)
            refreshCommandStates(core_.currentTab());
    });
    saves->follow(*lock_path);
    const auto currentTab = core_.currentTabReader();
    commands = new LabCommands({ ui->action_op_keep_quiet, ui->action_op_lock, ui->action_op_lock_kbd_mouse,
                                   ui->action_op_auto_ip, ui->action_op_usbdisk, ui->action_op_remove_group },
        { &core_.pages(), lock_path, currentTab, event_log->commandWriter(),
            [this] { saves->scheduleConfigSave(); } },
        this);
    lesson->attach({ &core_.pages(), tab_widget, ui->menu_A, ui->menu_V, ui->mainToolBar, ui->action_op_lock,
        ui->action_op_lock_kbd_mouse, currentTab, lock_path, event_log });
    lesson_modes = new LessonModes(core_.tables().lessonModes(),
        { &core_.pages(), ui->menu_A, ui->action_op_usbdisk, ui->statusBar, &event_log->store(), currentTab,
            lock_path },
        this);
    timetable = new LessonTimetable({ this, ui->menu_A, ui->statusBar, tab_widget, &core_.pages(), &core_.groups(),
        &core_.tables().timetables(), currentTab, { ui->action_op_auto_ip, ui->action_op_usbdisk }, lock_path,
        LessonTimetable::actionsFor(*lesson_modes, core_.pages(), *power, core_.tables().eventLog(), *lock_path) });
}

void RokVtxAdmin::switchView(QAction* action)
{
    // Unsaved policy lists are saved, dropped or kept as the teacher answers.
    if (action != ui->action_view_watch_app && !watch_editor->isHidden() && !watch_editor->askToLeave()) {
        current_view_action->setChecked(true);
        return;
    }
    current_view_action = action;
    if (action == ui->action_view_manage) {
        tab_widget->show();
        watch_editor->hide();
        setWindowTitle(viewTitle(base_title, QStringLiteral("管理")));
        refreshCommandStates(tab_widget->currentIndex());
    } else if (action == ui->action_view_watch_app) {
        tab_widget->hide();
        watch_editor->show();
        setWindowTitle(viewTitle(base_title, QStringLiteral("配置进程监控")));
        ui->mainToolBar->setEnabled(false);
    }
}

void RokVtxAdmin::onTabChanged(int index)
{
    // Only the page in view repaints its rows; the others would spend the UI
    // thread on tables nobody sees. The newly shown page is brought up to
    // date at once rather than at its next tick.
    for (QStudentGroupWidget* page : core_.pages().pages())
        page->refresh_enabled = (page == pageAt(index));
    if (QStudentGroupWidget* page = pageAt(index))
        page->refreshAllRows();
    refreshCommandStates(index);
    room_overview->updateCounts();
    lesson->updateTimedLockStatus();
}

void RokVtxAdmin::setSeatPlanShown(bool shown)
{
    ui->action_view_seatplan->setChecked(shown);
    seat_plans->setShown(shown);
}

void RokVtxAdmin::closeEvent(QCloseEvent* event)
{
    // At log-off or shutdown Qt closes every visible window and a refusal
    // cancels the session's end: save and let it go.
    const bool sessionEnds = qApp && qApp->isSavingSession();
    if (sessionEnds)
        saveNow();
    event->setAccepted(sessionEnds);
    if (!sessionEnds)
        hide();
}

void RokVtxAdmin::onSpecialMessage(uint32_t value)
{
    if (value == 1) {
        loadConfigFile();
        // Without the pages' saved locks there is nothing the stored ends belong to;
        // they stay for a run that can read config.conf.
        if (!core_.settings().readFailed())
            lesson->restoreTimedLocks();
        timetable->start();
        notices->release();
    }
}

void RokVtxAdmin::saveNow()
{
    saves->saveNow();
    core_.tables().eventLog().flush();
}

// ---------------------------------------------------------------------------
// The group settings file

void RokVtxAdmin::loadConfigFile()
{
    QList<GroupSettings> entries;
    QString notice;
    const bool read = core_.settings().load(entries, &notice);
    if (!notice.isEmpty())
        notices->add(QStringLiteral("设置文件"), notice);
    if (!read)
        return;
    core_.pages().applySettings(entries);
    if (core_.currentTab() >= 0)
        refreshCommandStates(core_.currentTab());
}

void RokVtxAdmin::saveConfigFile()
{
    QString error;
    if (!core_.settings().save(core_.pages().settings(), &error) && !error.isEmpty())
        std::fprintf(stderr, "%s\n", error.toLocal8Bit().constData());
}

void RokVtxAdmin::refreshCommandStates(int index)
{
    // The process-watch view keeps the lab tool bar off whatever happens to
    // the tabs behind it; the check marks still follow the tab in front.
    ui->mainToolBar->setEnabled(current_view_action == ui->action_view_manage);
    core_.setCurrentTab(index);
    if (commands)
        commands->showStateOf(index);
}

// ---------------------------------------------------------------------------
// Group management

void RokVtxAdmin::attachGroupOperations()
{
    GroupOperations::PageHost host;
    host.create = [this](const QString& name, int order) {
        QStudentGroupWidget* page = createGroupPage(name, false, order);
        catalog->give(page);
        return page;
    };
    host.remove = [this](QStudentGroupWidget* page) {
        lesson->timedLocks()->cancel(core_.pages().nameOf(page));
        // Once it is out of the directory the network thread cannot reach it.
        tab_widget->removeTab(tab_widget->indexOf(page));
        rebuildPageDirectory();
        delete page;
    };
    host.renameRefusal = [this] {
        return core_.settings().readFailed()
            ? QStringLiteral("本次运行未能读取设置文件“%1”，也不会改写它：改名后该组的设置无法随新名保存。\n"
                             "请在该文件可以读取后重新启动本程序，再改名。")
                  .arg(QDir::toNativeSeparators(core_.settings().path()))
            : QString();
    };
    core_.setPageHost(std::move(host), this);
    connect(&core_.groups(), &GroupOperations::sg_changed, this, [this](const GroupChange& change) {
        if (change.machine)
            guard->monitor()->noteMachineNamed(change.machine);
        // On "全部" the marks describe every page; an unlocked newcomer changes them.
        if (change.pagesChanged)
            refreshCommandStates(tab_widget->currentIndex());
        if (!change.renamedFrom.isEmpty()) {
            // The joins, the timed lock and the log's filter follow the new name.
            rebuildPageDirectory();
            lesson->renamePage(change.renamedFrom, change.page);
        }
    });
    saves->follow(core_.groups());
    event_log->follow(core_.groups());
    connect(seat_plans, &SeatPlans::sg_tiles_moved, &core_.groups(), &GroupOperations::moveMachines);
    receive = new ReceivePath(core_.registry(), core_.pages(), *guard, udp_server, this);
    connect(receive, &ReceivePath::sg_evicted, &core_.groups(), &GroupOperations::dropEvicted);
    connect(receive, &ReceivePath::sg_registered, &core_.groups(),
        [this](const CStuInfo_PTR& machine) { core_.groups().placeMachine(machine); });
    event_log->follow(*receive);
    connect(receive, &ReceivePath::sg_renamed, &core_.groups(), &GroupOperations::renameMachine);
    new GroupTabs(tab_widget, core_.pages(), core_.groups(), ui->action_op_rename_group, this);
}

void RokVtxAdmin::addGroupInteractive()
{
    Dialog_addgroup dialog(this);
    dialog.setTakenNames(core_.registry().groupNames());
    dialog.setOrder(core_.groups().nextGroupOrder());
    if (dialog.exec() != QDialog::Accepted)
        return;
    core_.groups().addGroup(dialog.group_name_input, dialog.group_order_input, QStringLiteral("添加分组"));
}

void RokVtxAdmin::deleteCurrentGroup()
{
    if (core_.currentTab() <= 0)
        return;
    QStudentGroupWidget* page = pageAt(core_.currentTab());
    if (!page || page->page_order == QStudentGroupWidget::UngroupedOrder)
        return;
    const QString name = core_.pages().nameAt(core_.currentTab());
    const auto answer = MessageBox::question(this, QStringLiteral("警告"),
        core_.groups().deletionQuestion(name,
            { timetable->hasWeek(name) ? QStringLiteral("课表") : QString(),
                lesson->timedLocks()->has(name) ? QStringLiteral("定时锁定") : QString() }),
        QMessageBox::Yes | QMessageBox::No);
    if (answer != QMessageBox::Yes)
        return;

    core_.groups().deleteGroup(name);
}

