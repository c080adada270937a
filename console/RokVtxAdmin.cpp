#include "RokVtxAdmin.h"

#include "app/QuitActions.h"
#include "app/StartupNotices.h"
#include "app/TrayIcon.h"
#include "core/Beacon.h"
#include "core/MetaTypes.h"
#include "core/Protocol.h"
#include "deploy/Deployment.h"
#include "dialogs/MessageBox.h"
#include "groups/GroupTabs.h"
#include "groups/MachineMenu.h"
#include "guard/LabGuard.h"
#include "lesson/LessonModes.h"
#include "lesson/LessonRecords.h"
#include "lesson/LessonTools.h"
#include "log/EventLog.h"
#include "network/ReceivePath.h"
#include "overview/Overview.h"
#include "pages/LabCommands.h"
#include "pages/LockStatus.h"
#include "pages/QStudentGroupWidget.h"
#include "pages/TabLockIcons.h"
#include "policy/PolicyCatalog.h"
#include "policy/PolicyEditorStatus.h"
#include "policy/QAppWatcherWidget.h"
#include "power/PowerControl.h"
#include "saving/SaveScheduler.h"
#include "seatplan/SeatPlans.h"
#include "timetable/LessonTimetable.h"
#include "transfer/MachineListTransfer.h"
#include "ui_RokVtxAdmin.h"
#include "WindowLayout.h"

#include <QActionGroup>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QStatusBar>
#include <QTabWidget>
#include <QTimer>
#include <QVBoxLayout>

#include <chrono>
#include <utility>

namespace {

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

    tab_widget = new QTabWidget(this);
    watch_editor = new QAppWatcherWidget(this);
    auto* layout = new QVBoxLayout(ui->centralWidget);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(tab_widget);
    layout->addWidget(watch_editor);
    watch_editor->hide();
    core_.setTabs(tab_widget);
    attachGroupOperations();

    parts_ = std::make_unique<WindowParts>(this, *ui, tab_widget, watch_editor, udp_server, dataDir);
    // Nothing modal before the lab is served: what start-up finds waits here.
    notices = new StartupNotices(this, ui->statusBar, &core_.tables().eventLog());
    parts_->notices = notices;
    // Each feature takes what it needs from the core and the window's parts,
    // and leaves there what later ones build on: the order is theirs.
    const WindowParts::Attach features[] = {
        &TrayIcon::attach,
        &SaveScheduler::attach,
        &Overview::attach,
        &SeatPlans::attach,
        &EventLog::attach,
        &MachineMenu::attach,
        &PowerControl::attach,
        &LabGuard::attach,
        &TabLockIcons::attach,
        &LockStatus::attach,
        &PolicyCatalog::attach,
        &PolicyEditorStatus::attach,
        &LessonTools::attach,
        &LabCommands::attach,
        &LessonModes::attach,
        &LessonTimetable::attach,
        &LessonRecords::attach,
        &GroupTabs::attach,
        &MachineListTransfer::attach,
        &Deployment::attach,
        &QuitActions::attach,
        &WindowLayout::attach,
        &ReceivePath::attach,
    };
    for (const WindowParts::Attach attach : features)
        attach(core_, *parts_);
    connect(parts_->tray, &TrayIcon::sg_alert, this, &RokVtxAdmin::sg_tray_message);
    connect(parts_.get(), &WindowParts::sg_command_states_stale, this, [this] {
        if (core_.currentTab() >= 0)
            refreshCommandStates(core_.currentTab());
    });
    wireViews();

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
    emit parts_->sg_pages_made();

    connect(tab_widget, &QTabWidget::currentChanged, this, &RokVtxAdmin::onTabChanged);
    connect(this, &RokVtxAdmin::sg_special_message, this, &RokVtxAdmin::onSpecialMessage);

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
    udp_server.onMessage = [receive = parts_->receive](const SocketChannelPtr& channel, const UdpBuffer& buf) {
        receive->onUdpMessage(channel, buf);
    };
    parts_->guard->repeatJoins();
    onTabChanged(0);
    udp_server.start();
    if (!parts_->guard->watchAgentPort())
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

    parts_->receive->stop();
    if (beacon)
        beacon->stop();
    parts_->guard->stop();
    if (bind_fd > 0)
        udp_server.stop();
    while (busy_threads.load() != 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    if (notify_thread && notify_thread->joinable())
        notify_thread->join();

    parts_->saves->stop();
    core_.saveSettings();
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
    parts_->guard->noteSent(address, datagram);
    std::lock_guard<std::mutex> lock(send_mutex);
    udp_server.sendto(datagram.constData(), datagram.size(), address, Protocol::AgentPort);
}

QStudentGroupWidget* RokVtxAdmin::createGroupPage(const QString& name, bool isAll, int position)
{
    auto* page = new QStudentGroupWidget(this, name);
    page->setShowAll(isAll);
    page->page_order = position;
    // A new group goes no further than before "未分组", which stays last.
    const int last = ungrouped_page ? tab_widget->indexOf(ungrouped_page) : tab_widget->count();
    if (position > last && position != QStudentGroupWidget::UngroupedOrder)
        position = last;
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
    publishPages();
    emit parts_->sg_page_made(page);
    return page;
}

void RokVtxAdmin::publishPages()
{
    const PageDirectory::Addresses addresses = core_.pages().publish();
    if (parts_)
        emit parts_->sg_published(addresses);
}

// ---------------------------------------------------------------------------
// Actions and views

void RokVtxAdmin::wireViews()
{
    setWindowTitle(viewTitle(base_title, QStringLiteral("管理")));
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

    connect(view_group, &QActionGroup::triggered, this, &RokVtxAdmin::switchView);
    connect(ui->mainToolBar, &QToolBar::visibilityChanged, ui->action_view_toolbar, &QAction::setChecked);
    connect(ui->action_view_toolbar, &QAction::triggered, ui->mainToolBar, &QToolBar::setVisible);
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
    emit parts_->sg_tab_shown(index);
}

void RokVtxAdmin::setSeatPlanShown(bool shown)
{
    ui->action_view_seatplan->setChecked(shown);
    parts_->seatPlans->setShown(shown);
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
        emit parts_->sg_settings_applied();
        notices->release();
        emit parts_->sg_started();
    }
}

void RokVtxAdmin::saveNow()
{
    parts_->saves->saveNow();
    core_.tables().eventLog().flush();
}

// ---------------------------------------------------------------------------
// The group settings file

void RokVtxAdmin::loadConfigFile()
{
    QString notice;
    const bool read = core_.loadSettings(&notice);
    if (!notice.isEmpty())
        notices->add(QStringLiteral("设置文件"), notice);
    if (read && core_.currentTab() >= 0)
        refreshCommandStates(core_.currentTab());
}

void RokVtxAdmin::refreshCommandStates(int index)
{
    // The process-watch view keeps the lab tool bar off whatever happens to
    // the tabs behind it; the check marks still follow the tab in front.
    ui->mainToolBar->setEnabled(current_view_action == ui->action_view_manage);
    core_.setCurrentTab(index);
    if (parts_)
        emit parts_->sg_command_states(index);
}

// ---------------------------------------------------------------------------
// Group management

void RokVtxAdmin::attachGroupOperations()
{
    GroupOperations::PageHost host;
    host.create = [this](const QString& name, int order) { return createGroupPage(name, false, order); };
    host.remove = [this](QStudentGroupWidget* page) {
        emit parts_->sg_page_removing(page);
        // Once it is out of the directory the network thread cannot reach it.
        tab_widget->removeTab(tab_widget->indexOf(page));
        publishPages();
        delete page;
    };
    core_.setPageHost(std::move(host), this);
}
