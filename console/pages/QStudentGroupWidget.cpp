#include "pages/QStudentGroupWidget.h"

#include "core/MetaTypes.h"
#include "core/Protocol.h"
#include "policy/QAppWatcherWidget.h"
#include "seatplan/SeatPlanBar.h"
#include "seatplan/SeatPlanView.h"
#include "tableview/QtRokTableView.h"

#include <QDateTime>
#include <QFont>
#include <QApplication>
#include <QHelpEvent>
#include <QItemSelectionModel>
#include <QMouseEvent>
#include <QMetaObject>
#include <QScrollArea>
#include <QSplitter>
#include <QThread>
#include <QToolTip>
#include <QVBoxLayout>

#include <algorithm>
#include <array>

QStudentGroupWidget::QStudentGroupWidget(QWidget* parent, QString name)
    : QWidget(parent)
    , sender([this](uint32_t address, const QByteArray& datagram) { emit sg_need_send_msg(address, datagram); })
    , page_name(name.isEmpty() ? QStringLiteral("未命名") : std::move(name))
{
    qRegisterMetaType<QVector<int>>("QVector<int>");
    // The datagram signal carries a uint32_t across threads.
    registerRokMetaTypes();

    running.store(true);
    show_all.store(false);
    refresh_enabled.store(false);
    busy_threads.store(0);

    setUpTable();

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);
    splitter = new QSplitter(Qt::Vertical, this);
    splitter->setChildrenCollapsible(false);
    layout->addWidget(splitter);
    splitter->addWidget(machine_table);
    machine_table->setContextMenuPolicy(Qt::CustomContextMenu);

    // The seat plan reads the table's own rows; only one of the two is shown.
    seat_plan = new SeatPlanView(rows.get());
    seat_plan->setFont(machine_table->font());
    setLockSource([this](quint64) { return lock_state->lock_type; });
    seat_pane = new QWidget;
    auto* seatLayout = new QVBoxLayout(seat_pane);
    seatLayout->setContentsMargins(0, 0, 0, 0);
    seatLayout->setSpacing(0);
    seat_area = new QScrollArea;
    seat_area->setWidget(seat_plan);
    seat_area->setWidgetResizable(true);
    seat_area->setBackgroundRole(QPalette::Window);
    seatLayout->addWidget(seat_area, 1);
    seat_bar = new SeatPlanBar(seat_plan, seat_pane);
    seatLayout->addWidget(seat_bar);
    splitter->addWidget(seat_pane);
    seat_pane->hide();

    policy_editor = new QAppWatcherWidget(this);
    splitter->addWidget(policy_editor);
    policy_editor->setEmbedded(true);
    // A taller window gives its height to the machines; the policy list
    // keeps the height the teacher gave it.
    splitter->setStretchFactor(0, 1);
    splitter->setStretchFactor(1, 1);
    splitter->setStretchFactor(2, 0);
    connect(splitter, &QSplitter::splitterMoved, this, [this] {
        if (policy_editor && policy_editor->isVisible()) {
            policy_height = policy_editor->height();
            emit sg_policy_list_resized(policy_height);
        }
    });
    connect(seat_bar, &SeatPlanBar::sg_policy_list_toggled, this, [this](bool shown) {
        if (policy_editor && seatPlanShown()) {
            policy_editor->setVisible(shown);
            applyPolicyHeight();
        }
    });

    rows->setUpColumns(false);

    connect(machine_table, &QWidget::customContextMenuRequested, this, &QStudentGroupWidget::onTableContextMenu);
    machine_table->viewport()->installEventFilter(this);
    connect(policy_editor, &QAppWatcherWidget::sg_item_state_changed, this,
        [this] { emit sg_group_item_changed(QPrivateSignal()); });
    connect(this, &QStudentGroupWidget::sg_group_item_changed, this, &QStudentGroupWidget::buildPolicyDatagram);
    connect(this, &QStudentGroupWidget::sg_group_lockstate_changed, this, &QStudentGroupWidget::buildLockDatagram);
    connect(this, &QStudentGroupWidget::sg_group_lockstate_changed, this, &QStudentGroupWidget::refreshLocks);
    connect(this, &QStudentGroupWidget::sg_update_machines, this, &QStudentGroupWidget::refreshAllRows);

    buildLockDatagram();
    buildPolicyDatagram();

    refresh_thread = std::make_unique<std::thread>([this] { refreshLoop(); });
    try {
        sender.start();
    } catch (...) {
        // No destructor runs for a constructor that throws; a joinable thread
        // left behind would terminate the program.
        running.store(false);
        refresh_clock.wakeAll();
        refresh_thread->join();
        throw;
    }
}

QStudentGroupWidget::~QStudentGroupWidget()
{
    running.store(false);
    refresh_clock.wakeAll();
    // The resend thread emits this page's signal: it ends before the page does.
    sender.stop();
    while (busy_threads.load() > 0)
        std::this_thread::sleep_for(std::chrono::microseconds(1));
    if (refresh_thread && refresh_thread->joinable())
        refresh_thread->join();
    // The table outlives this part of the object (Qt deletes children in the
    // base destructor); its rows go first.
    rows.reset();
}

bool QStudentGroupWidget::onOwnThread() const
{
    return QThread::currentThread() == thread();
}

void QStudentGroupWidget::setUpTable()
{
    machine_table = new QtRokTableView();
    machine_table->setEditable(false);
    machine_table->setRowDefaultHeight(20);
    machine_table->setAlternatingRowColors(true);
    machine_table->setContextMenuPolicy(Qt::CustomContextMenu);
    machine_table->setSortingEnabled(true);

    QFont font = machine_table->font();
    font.setFamilies({ QStringLiteral("Monospace"), QStringLiteral("Times New Roman"), QStringLiteral("Arial"),
        QStringLiteral("Calibri"), QStringLiteral("宋体") });
    font.setPointSize(9);
    font.setWeight(50);
    machine_table->setFont(font);

    rows = std::make_unique<MachineRows>(machine_table);
    connect(rows.get(), &MachineRows::sg_rows_changed, this, &QStudentGroupWidget::sg_rows_changed);
}

void QStudentGroupWidget::setShowAll(bool showAll)
{
    show_all.store(showAll);
    rows->setUpColumns(showAll);
    seat_plan->setFixWholeRoom(!showAll);
    seat_bar->setPolicyListButtonShown(!showAll);
    if (showAll && policy_editor) {
        policy_editor->hide();
        policy_editor->deleteLater();
        policy_editor = nullptr;
    }
}

void QStudentGroupWidget::setLockSource(const MachineRows::LockSource& source)
{
    rows->setLockSource(source);
    seat_plan->setLockSource(source);
}

void QStudentGroupWidget::refreshLocks()
{
    rows->refreshLocks();
    seat_plan->update();
}

void QStudentGroupWidget::onTableContextMenu(const QPoint& pos)
{
    const QModelIndex index = machine_table->indexAt(pos);
    if (index.row() >= 0 && index.column() >= 0 && index.model())
        emit sg_customContextMenuRequested(pos);
}

void QStudentGroupWidget::setOnlineOnly(bool onlineOnly)
{
    if (rows->onlineOnly() == onlineOnly)
        return;
    rows->setOnlineOnly(onlineOnly);
    seat_plan->invalidate();
}

void QStudentGroupWidget::setSeatPlanShown(bool shown)
{
    machine_table->setVisible(!shown);
    seat_pane->setVisible(shown);
    // The plan gets the policy list's room until the teacher asks for it.
    if (policy_editor)
        policy_editor->setVisible(!shown);
    seat_bar->setPolicyListShown(false);
    applyPolicyHeight();
}

bool QStudentGroupWidget::seatPlanShown() const
{
    return !seat_pane->isHidden();
}

void QStudentGroupWidget::setPolicyListHeight(int height)
{
    if (height <= 0 || height == policy_height)
        return;
    policy_height = height;
    applyPolicyHeight();
}

void QStudentGroupWidget::applyPolicyHeight()
{
    if (!policy_editor || policy_height <= 0 || policy_editor->isHidden())
        return;
    const int rest = std::max(0, splitter->height() - policy_height - splitter->handleWidth());
    splitter->setSizes({ machine_table->isHidden() ? 0 : rest, seat_pane->isHidden() ? 0 : rest, policy_height });
}

void QStudentGroupWidget::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    // A height set while another page was in front, or before the window's first layout.
    applyPolicyHeight();
}

QStudentGroupWidget::Counts QStudentGroupWidget::counts() const
{
    return rows->counts();
}

QList<quint64> QStudentGroupWidget::selectedMacs() const
{
    QList<int> selected;
    for (const QModelIndex& index : machine_table->selectionModel()->selectedRows())
        if (!machine_table->isRowHidden(index.row()))
            selected << index.row();
    std::sort(selected.begin(), selected.end());
    QList<quint64> macs;
    for (const int row : selected)
        if (const quint64 mac = macAtRow(row))
            macs << mac;
    return macs;
}

QList<CStuInfo_PTR> QStudentGroupWidget::machinesInRowOrder() const
{
    QList<CStuInfo_PTR> machines;
    std::lock_guard<std::recursive_mutex> guard(map_mutex);
    for (int row = 0, count = rows->rowCount(); row < count; ++row) {
        if (CStuInfo_PTR machine = machineAtRow(row))
            machines << std::move(machine);
    }
    return machines;
}

CStuInfo_PTR QStudentGroupWidget::machineAtRow(int row) const
{
    const quint64 mac = rows->macAt(row);
    std::lock_guard<std::recursive_mutex> guard(map_mutex);
    return machines_by_mac.value(mac);
}

QString QStudentGroupWidget::stateToolTip(const CStuInfo& machine)
{
    const uint32_t claimant = machine.claimant.load();
    if (claimant == 0)
        return lastHeardText(machine);
    return QStringLiteral("%1\n冲突：此 MAC 同时出现在 %2 和 %3（右键“采用新地址”可改用后者）")
        .arg(lastHeardText(machine), Protocol::addressToText(machine.address.load()),
            Protocol::addressToText(claimant));
}

QString QStudentGroupWidget::lastHeardText(const CStuInfo& machine)
{
    const qint64 ms = machine.last_heard_ms.load();
    if (ms <= 0)
        return QStringLiteral("最后在线 —");
    const QDateTime when = QDateTime::fromMSecsSinceEpoch(ms);
    const bool today = when.date() == QDate::currentDate();
    return QStringLiteral("最后在线 %1")
        .arg(when.toString(today ? QStringLiteral("HH:mm:ss") : QStringLiteral("yyyy-MM-dd HH:mm:ss")));
}

bool QStudentGroupWidget::eventFilter(QObject* watched, QEvent* event)
{
    // The time is read when the tip is asked for: kept in the model it would
    // change every on-line row at every refresh.
    if (watched == machine_table->viewport()) {
        if (event->type() == QEvent::MouseButtonPress)
            drag_start = static_cast<QMouseEvent*>(event)->pos();
        if (event->type() == QEvent::MouseMove && !drag_start.isNull()) {
            const auto* move = static_cast<QMouseEvent*>(event);
            if ((move->buttons() & Qt::LeftButton)
                && (move->pos() - drag_start).manhattanLength() >= 3 * QApplication::startDragDistance()) {
                drag_start = QPoint();
                emit sg_table_dragged();
            }
        }
    }
    if (event->type() == QEvent::ToolTip && watched == machine_table->viewport()) {
        const auto* help = static_cast<QHelpEvent*>(event);
        const QModelIndex index = machine_table->indexAt(help->pos());
        if (index.isValid() && index.column() == MachineRows::StateColumn) {
            if (const CStuInfo_PTR machine = machineAtRow(index.row())) {
                QToolTip::showText(help->globalPos(), stateToolTip(*machine), machine_table->viewport(),
                    machine_table->visualRect(index));
                return true;
            }
        }
    }
    return QWidget::eventFilter(watched, event);
}

int QStudentGroupWidget::rowOfMachine(quint64 ullmac) const
{
    return rows->rowOf(ullmac);
}

void QStudentGroupWidget::setMachines(const QList<CStuInfo_PTR>& machines)
{
    if (!onOwnThread()) {
        QMetaObject::invokeMethod(
            this, [this, machines] { setMachines(machines); }, Qt::QueuedConnection);
        return;
    }

    rows->setMachines(machines);

    std::lock_guard<std::recursive_mutex> guard(map_mutex);
    machines_by_mac.clear();
    for (const CStuInfo_PTR& machine : machines) {
        if (machine)
            machines_by_mac.insert(machine->ullmac, machine);
    }
}

void QStudentGroupWidget::addMachine(const CStuInfo_PTR& machine)
{
    if (!machine)
        return;
    // First registrations arrive on the network thread; the table may only be
    // touched here.
    if (!onOwnThread()) {
        QMetaObject::invokeMethod(
            this, [this, machine] { addMachine(machine); }, Qt::QueuedConnection);
        return;
    }

    {
        std::lock_guard<std::recursive_mutex> guard(map_mutex);
        machines_by_mac.insert(machine->ullmac, machine);
    }

    std::lock_guard<std::mutex> guard(row_mutex);
    rows->fill(rows->rowCount(), machine, AllColumns);
    if (machine->online.load()) {
        const uint32_t address = Protocol::addressFromText(machine->ip);
        emit sg_need_send_msg(address, Protocol::buildJoinGroup(group_addr.load()));
    }
}

void QStudentGroupWidget::removeMachine(quint64 ullmac)
{
    if (ullmac == 0)
        return;
    if (!onOwnThread()) {
        QMetaObject::invokeMethod(
            this, [this, ullmac] { removeMachine(ullmac); }, Qt::QueuedConnection);
        return;
    }

    {
        std::lock_guard<std::recursive_mutex> guard(map_mutex);
        if (machines_by_mac.remove(ullmac) == 0)
            return;
    }

    std::lock_guard<std::mutex> guard(row_mutex);
    rows->remove(ullmac);
}

void QStudentGroupWidget::updateMachineRow(const CStuInfo_PTR& machine, int columns)
{
    if (!machine)
        return;
    if (!onOwnThread()) {
        QMetaObject::invokeMethod(
            this, [this, machine, columns] { updateMachineRow(machine, columns); }, Qt::QueuedConnection);
        return;
    }

    std::lock_guard<std::mutex> guard(row_mutex);
    rows->update(machine, columns);
}

void QStudentGroupWidget::refreshAllRows()
{
    std::lock_guard<std::recursive_mutex> guard(map_mutex);
    // Locks follow their own changes.
    rows->refreshRows([this](int row) { return machineAtRow(row); }, AllColumns & ~ColumnLock);
}

void QStudentGroupWidget::setPolicyItems(const StringItemList& items)
{
    if (!policy_editor)
        return;
    policy_editor->setItems(items);
    emit sg_group_item_changed(QPrivateSignal());
}

void QStudentGroupWidget::mergePolicyItems(const StringItemList& items)
{
    if (!policy_editor)
        return;
    if (policy_editor->mergeItems(items) > 0)
        emit sg_group_item_changed(QPrivateSignal());
}

void QStudentGroupWidget::loadGroupConfig(const std::shared_ptr<Rok_Lock_State>& lock, const QStringList& titles,
    const QStringList& services, const QStringList& programs)
{
    if (show_all.load() || !policy_editor)
        return;
    if (lock)
        lock_state->copyFrom(*lock);

    const std::array<const QStringList*, 3> lists { &titles, &services, &programs };
    for (int type = 1; type <= 3; ++type) {
        QSet<QString>& disabled = policy_editor->disabledSet(type);
        for (const QString& text : *lists[size_t(type - 1)])
            disabled.insert(text);
    }
    policy_editor->applyDisabledSets();

    // The restored lock state goes out at once rather than after the next
    // lock command.
    if (lock)
        emit sg_group_lockstate_changed(QPrivateSignal());
    emit sg_group_item_changed(QPrivateSignal());
}

void QStudentGroupWidget::exportGroupConfig(
    std::shared_ptr<Rok_Lock_State>& lockOut, QStringList& titles, QStringList& services, QStringList& programs)
{
    titles.clear();
    services.clear();
    programs.clear();
    lockOut = std::make_shared<Rok_Lock_State>(*lock_state);
    if (!policy_editor)
        return;

    for (const QtDoubleIntStringItem_PTR& item : policy_editor->allItems()) {
        if (!item || item->item_state == QtDoubleIntStringItem::Active)
            continue;
        switch (item->item_type) {
        case QtDoubleIntStringItem::ForbiddenTitles:
            titles << item->str_val;
            break;
        case QtDoubleIntStringItem::ProtectedServices:
            services << item->str_val;
            break;
        case QtDoubleIntStringItem::ProtectedPrograms:
            programs << item->str_val;
            break;
        default:
            break;
        }
    }
}

void QStudentGroupWidget::setLockType(int type)
{
    lock_state->lock_type = type;
    emit sg_group_lockstate_changed(QPrivateSignal());
}

void QStudentGroupWidget::setAllowManualIp(bool allow)
{
    lock_state->allowmanualip.store(allow);
    emit sg_group_lockstate_changed(QPrivateSignal());
}

void QStudentGroupWidget::setAllowUsbDrv(bool allow)
{
    lock_state->allowusbdrv.store(allow);
    emit sg_group_lockstate_changed(QPrivateSignal());
}

void QStudentGroupWidget::buildLockDatagram()
{
    sender.buildLockDatagram();
}

void QStudentGroupWidget::buildPolicyDatagram()
{
    std::array<QStringList, 3> lists;
    if (policy_editor) {
        for (int type = 1; type <= 3; ++type) {
            for (const QtDoubleIntStringItem_PTR& item : policy_editor->itemsOfType(type)) {
                if (item && item->item_state == QtDoubleIntStringItem::Active)
                    lists[size_t(type - 1)] << item->str_val;
            }
        }
    }
    sender.buildPolicyDatagram(lists);
}

void QStudentGroupWidget::refreshLoop()
{
    ++busy_threads;
    while (running.load()) {
        if (refresh_enabled.load())
            emit sg_update_machines();
        refresh_clock.sleepUntil(WaitClock::nextMultiple(refresh_clock.now(), std::chrono::milliseconds(2000)),
            [this] { return !running.load(); });
    }
    --busy_threads;
}
