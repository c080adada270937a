#include "QStudentGroupWidget.h"

#include "MacAddress.h"
#include "MetaTypes.h"
#include "Protocol.h"
#include "QAppWatcherWidget.h"
#include "QtRokTableView.h"
#include "SeatPlanBar.h"
#include "SeatPlanView.h"

#include <QBrush>
#include <QColor>
#include <QDateTime>
#include <QFont>
#include <QHeaderView>
#include <QHelpEvent>
#include <QMetaObject>
#include <QScrollArea>
#include <QSplitter>
#include <QStandardItem>
#include <QStandardItemModel>
#include <QThread>
#include <QToolTip>
#include <QVBoxLayout>
#include <QVector>

#include <algorithm>
#include <array>
#include <functional>
#include <vector>

namespace {

const QColor OnlineColor(QStringLiteral("#055d13"));
const QColor OfflineColor(QStringLiteral("#b11905"));
const QColor AlikeColor(QStringLiteral("#ffe08a"));
const QString OnlineText(QStringLiteral("在线"));
const QString OfflineText(QStringLiteral("断开"));
// Two addresses claim the machine's MAC: something answers as it, so the
// row counts as on line and stays shown under the filter.
const QColor ConflictColor(QStringLiteral("#c25400"));
const QString ConflictText(QStringLiteral("冲突"));
constexpr int StateColumn = 2;
constexpr int CenterAlignment = int(Qt::AlignHCenter | Qt::AlignVCenter); // 0x84

} // namespace

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

    // The seat plan reads the table's own model; only one of the two is shown.
    seat_plan = new SeatPlanView(machine_table);
    seat_plan->setFont(machine_table->font());
    seat_plan->setLockSource([this](quint64) { return lock_state->lock_type; });
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

    setUpColumns(false);

    connect(machine_table, &QWidget::customContextMenuRequested, this, &QStudentGroupWidget::onTableContextMenu);
    machine_table->viewport()->installEventFilter(this);
    connect(policy_editor, &QAppWatcherWidget::sg_item_state_changed, this,
        [this] { emit sg_group_item_changed(QPrivateSignal()); });
    connect(this, &QStudentGroupWidget::sg_group_item_changed, this, &QStudentGroupWidget::buildPolicyDatagram);
    connect(this, &QStudentGroupWidget::sg_group_lockstate_changed, this, &QStudentGroupWidget::buildLockDatagram);
    connect(this, &QStudentGroupWidget::sg_group_lockstate_changed, seat_plan, qOverload<>(&QWidget::update));
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
    // base destructor); its model must not call back into a half-destroyed page.
    if (machine_model)
        disconnect(machine_model, nullptr, this, nullptr);
}

bool QStudentGroupWidget::onOwnThread() const
{
    return QThread::currentThread() == thread();
}

void QStudentGroupWidget::setUpTable()
{
    machine_table = new QtRokTableView();
    machine_model = qobject_cast<QStandardItemModel*>(machine_table->model());
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

    if (machine_model) {
        connect(machine_model, &QAbstractItemModel::rowsAboutToBeRemoved, this,
            [this](const QModelIndex& parent, int first, int last) {
                if (!parent.isValid())
                    forgetRows(first, last);
            });
        connect(machine_model, &QAbstractItemModel::modelAboutToBeReset, this, [this] { rows_by_mac.clear(); });
        connect(machine_model, &QAbstractItemModel::rowsRemoved, this, [this](const QModelIndex& parent) {
            if (!parent.isValid())
                emit sg_rows_changed();
        });
    }
}

void QStudentGroupWidget::setUpColumns(bool showAll)
{
    QStringList headers { QStringLiteral("机器名"), QStringLiteral("IP地址"), QStringLiteral("状态"),
        QStringLiteral("MAC地址") };
    if (showAll)
        headers << QStringLiteral("分组");
    headers << QString();
    machine_table->setColumnHeaderTextList(headers);

    machine_table->setColumnWidth(0, 120);
    machine_table->setColumnWidth(1, 120);
    machine_table->setColumnWidth(2, 60);
    machine_table->setColumnWidth(3, 140);
    machine_table->setColumnResizeMode(4, QHeaderView::Stretch);
    machine_table->setColumnAlignment(2, CenterAlignment);
    machine_table->setSortingEnabled(true);
    for (int column = 0; column < 4; ++column)
        machine_table->setColumnSortable(column, true);
    // The empty filler column never sorts, also after a switch back from the
    // "全部" layout.
    for (int column = 4; column < headers.size(); ++column)
        machine_table->setColumnSortable(column, headers.at(column).size() > 1);

    if (showAll) {
        // Out of Stretch first: a stretching section ignores a set width.
        machine_table->setColumnResizeMode(4, QHeaderView::Interactive);
        machine_table->setColumnWidth(4, 80);
        machine_table->setColumnResizeMode(5, QHeaderView::Stretch);
        machine_table->setColumnAlignment(2, CenterAlignment);
        machine_table->setColumnAlignment(4, CenterAlignment);
        machine_table->setColumnSortable(4, true);
    }

    machine_table->sortByColumn(1, Qt::AscendingOrder);
}

void QStudentGroupWidget::setShowAll(bool showAll)
{
    show_all.store(showAll);
    setUpColumns(showAll);
    seat_plan->setFixWholeRoom(!showAll);
    seat_bar->setPolicyListButtonShown(!showAll);
    if (showAll && policy_editor) {
        policy_editor->hide();
        policy_editor->deleteLater();
        policy_editor = nullptr;
    }
}

void QStudentGroupWidget::onTableContextMenu(const QPoint& pos)
{
    const QModelIndex index = machine_table->indexAt(pos);
    if (index.row() >= 0 && index.column() >= 0 && index.model())
        emit sg_customContextMenuRequested(pos);
}

void QStudentGroupWidget::fillRow(int row, const CStuInfo_PTR& machine, int columns)
{
    if (columns == NoColumns || !machine || row < 0)
        return;
    if (row >= machine_table->getRowCount()) {
        // The whole row in one insertion: a cell created on its own makes the
        // model announce a layout change, which the headers answer with a
        // pass over every section.
        row = machine_table->getRowCount();
        QList<QStandardItem*> cells;
        for (int column = 0; column < std::max(1, machine_table->getColumnCount()); ++column)
            cells << new QStandardItem();
        machine_model->appendRow(cells);
    }
    const quint64 mac = machine->ullmac;
    const QVariant key = QVariant::fromValue<qulonglong>(mac);
    // The refresh rewrites every row every two seconds, 5,000 rows on "全部";
    // a cell is only written when its text changes.
    bool touched = false;
    const auto setText = [&](int column, const QString& text) {
        const QStandardItem* item = machine_model->item(row, column);
        const QVariant shown = item ? item->data(Qt::DisplayRole) : QVariant();
        if (shown.isValid() && shown.toString() == text)
            return false;
        machine_table->setCellValue(row, column, text);
        touched = true;
        return true;
    };

    if (columns & ColumnName) {
        setText(0, machine->hostname);
        const QVariant previous = machine_table->getCellUserData(row, 0, MacRole);
        const bool newKey = !previous.isValid() || previous.toULongLong() != mac;
        if (newKey && previous.isValid())
            forgetRows(row, row);
        if (newKey) {
            machine_table->setCellUserData(row, 0, key, MacRole);
            rows_by_mac[mac].append(QPersistentModelIndex(machine_model->index(row, 0)));
        }
        // A name that reads like another machine's is marked, never changed.
        const QString alike = machine->alike_names.isEmpty()
            ? QString()
            : QStringLiteral("机器名与 %1相同或形近").arg(machine->alike_names);
        QStandardItem* name = machine_model->item(row, 0);
        if (name && name->toolTip() != alike) {
            name->setToolTip(alike);
            name->setBackground(alike.isEmpty() ? QBrush() : QBrush(AlikeColor));
            touched = true;
        }
    }
    if (columns & ColumnMac) {
        if (setText(3, MacAddress::toDisplay(mac)))
            machine_table->setCellUserData(row, 3, key, MacRole);
    }
    if (columns & ColumnIp)
        setText(1, machine->ip);
    if (columns & ColumnState) {
        const bool conflict = machine->inConflict();
        const bool online = conflict || machine->online.load();
        if (setText(StateColumn, conflict ? ConflictText : online ? OnlineText : OfflineText)) {
            if (QStandardItem* item = machine_model->item(row, StateColumn))
                item->setForeground(
                    QBrush(conflict ? ConflictColor : online ? OnlineColor : OfflineColor, Qt::SolidPattern));
            applyRowFilter(row, online);
            // Only a change is worth a recount by the window.
            emit sg_rows_changed();
        }
    }
    if ((columns & ColumnGroup) && show_all.load())
        setText(4, machine->group_name);

    if (touched)
        machine_table->viewport()->update();
}

void QStudentGroupWidget::appendRows(const QList<CStuInfo_PTR>& machines)
{
    for (const CStuInfo_PTR& machine : machines)
        fillRow(machine_table->getRowCount(), machine, AllColumns);
}

void QStudentGroupWidget::forgetRows(int first, int last)
{
    for (int row = first; row <= last; ++row) {
        const QVariant key = machine_model->index(row, 0).data(Qt::UserRole + int(MacRole));
        if (!key.isValid())
            continue;
        const auto it = rows_by_mac.find(key.toULongLong());
        if (it == rows_by_mac.end())
            continue;
        QList<QPersistentModelIndex>& rows = it.value();
        rows.erase(std::remove_if(rows.begin(), rows.end(),
                       [row](const QPersistentModelIndex& index) { return !index.isValid() || index.row() == row; }),
            rows.end());
        if (rows.isEmpty())
            rows_by_mac.erase(it);
    }
}

void QStudentGroupWidget::applyRowFilter(int row, bool online)
{
    machine_table->setRowHidden(row, online_only && !online);
}

void QStudentGroupWidget::applyRowFilter()
{
    const int rows = machine_table->getRowCount();
    for (int row = 0; row < rows; ++row) {
        const QString state = machine_table->getCellText(row, StateColumn);
        applyRowFilter(row, state == OnlineText || state == ConflictText);
    }
}

void QStudentGroupWidget::setOnlineOnly(bool onlineOnly)
{
    if (online_only == onlineOnly)
        return;
    online_only = onlineOnly;
    applyRowFilter();
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
    Counts counts;
    counts.total = machine_table->getRowCount();
    for (int row = 0; row < counts.total; ++row) {
        const QString state = machine_table->getCellText(row, StateColumn);
        if (state == OnlineText || state == ConflictText)
            ++counts.online;
    }
    return counts;
}

QList<CStuInfo_PTR> QStudentGroupWidget::machinesInRowOrder() const
{
    QList<CStuInfo_PTR> machines;
    std::lock_guard<std::recursive_mutex> guard(map_mutex);
    for (int row = 0, rows = machine_table->getRowCount(); row < rows; ++row) {
        if (CStuInfo_PTR machine = machineAtRow(row))
            machines << std::move(machine);
    }
    return machines;
}

CStuInfo_PTR QStudentGroupWidget::machineAtRow(int row) const
{
    const quint64 mac = machine_table->getCellUserData(row, 0, MacRole).toULongLong();
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
    if (event->type() == QEvent::ToolTip && watched == machine_table->viewport()) {
        const auto* help = static_cast<QHelpEvent*>(event);
        const QModelIndex index = machine_table->indexAt(help->pos());
        if (index.isValid() && index.column() == StateColumn) {
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
    const auto it = rows_by_mac.constFind(ullmac);
    if (it == rows_by_mac.constEnd())
        return -1;
    int first = -1;
    for (const QPersistentModelIndex& index : it.value()) {
        if (index.isValid() && (first < 0 || index.row() < first))
            first = index.row();
    }
    return first;
}

QList<CStuInfo_PTR> QStudentGroupWidget::orderedForDisplay(const QList<CStuInfo_PTR>& machines) const
{
    const QHeaderView* header = machine_table->horizontalHeader();
    const int section = header->sortIndicatorSection();
    if (section < 0 || section > 4)
        return machines;
    const bool ascending = header->sortIndicatorOrder() == Qt::AscendingOrder;

    // Keys are computed once per machine, not once per comparison.
    struct Keyed
    {
        QString text;
        int flag = 0;
        CStuInfo_PTR machine;
    };
    std::vector<Keyed> keyed;
    keyed.reserve(size_t(machines.size()));
    for (const CStuInfo_PTR& machine : machines) {
        if (!machine)
            continue;
        Keyed entry;
        entry.machine = machine;
        switch (section) {
        case 0:
            entry.text = machine->hostname;
            break;
        case 1:
            entry.text = machine->ip;
            break;
        case 2:
            entry.flag = machine->online.load() ? 1 : 0;
            break;
        case 3:
            entry.text = MacAddress::toCompact(machine->ullmac);
            break;
        default:
            entry.text = machine->group_name;
            break;
        }
        keyed.push_back(std::move(entry));
    }

    const auto less
        = [section](const Keyed& a, const Keyed& b) { return section == 2 ? a.flag < b.flag : a.text < b.text; };
    std::stable_sort(keyed.begin(), keyed.end(),
        [&](const Keyed& a, const Keyed& b) { return ascending ? less(a, b) : less(b, a); });

    QList<CStuInfo_PTR> ordered;
    ordered.reserve(int(keyed.size()));
    for (Keyed& entry : keyed)
        ordered.append(std::move(entry.machine));
    return ordered;
}

void QStudentGroupWidget::setMachines(const QList<CStuInfo_PTR>& machines)
{
    if (!onOwnThread()) {
        QMetaObject::invokeMethod(
            this, [this, machines] { setMachines(machines); }, Qt::QueuedConnection);
        return;
    }

    const QList<CStuInfo_PTR> ordered = orderedForDisplay(machines);
    const int existing = machine_table->getRowCount();

    // Existing rows of each machine, highest first, so takeLast() claims the
    // lowest one.
    QHash<quint64, QVector<int>> unclaimed;
    unclaimed.reserve(rows_by_mac.size());
    for (auto it = rows_by_mac.cbegin(); it != rows_by_mac.cend(); ++it) {
        QVector<int> rows;
        for (const QPersistentModelIndex& index : it.value()) {
            if (index.isValid() && index.row() < existing)
                rows.append(index.row());
        }
        std::sort(rows.begin(), rows.end(), std::greater<int>());
        unclaimed.insert(it.key(), rows);
    }

    // Which machine keeps each existing row; the rest become new rows.
    std::vector<CStuInfo_PTR> keptBy(static_cast<size_t>(existing));
    QList<CStuInfo_PTR> appended;
    for (const CStuInfo_PTR& machine : ordered) {
        if (!machine)
            continue;
        const auto it = unclaimed.find(machine->ullmac);
        if (it != unclaimed.end() && !it->isEmpty())
            keptBy[size_t(it->takeLast())] = machine;
        else
            appended << machine;
    }

    // Runs of rows to remove, highest first, so the rows still to be removed
    // keep their numbers.
    QVector<QPair<int, int>> removals;
    for (int row = existing - 1; row >= 0;) {
        if (keptBy[size_t(row)]) {
            --row;
            continue;
        }
        const int last = row;
        while (row >= 0 && !keptBy[size_t(row)])
            --row;
        removals.append({ row + 1, last - row });
    }

    if (removals.size() > ScatteredRemovalLimit) {
        // Each removal shifts every row and persistent index below it; with
        // many scattered gaps refilling the table in the same final order is
        // far cheaper.
        QList<CStuInfo_PTR> rows;
        for (const CStuInfo_PTR& machine : keptBy) {
            if (machine)
                rows << machine;
        }
        rows += appended;
        machine_table->clearRows();
        appendRows(rows);
    } else {
        for (int row = 0; row < existing; ++row) {
            if (keptBy[size_t(row)])
                fillRow(row, keptBy[size_t(row)], AllColumns);
        }
        appendRows(appended);
        for (const auto& run : qAsConst(removals))
            machine_model->removeRows(run.first, run.second);
    }

    std::lock_guard<std::recursive_mutex> guard(map_mutex);
    machines_by_mac.clear();
    for (const CStuInfo_PTR& machine : ordered) {
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
    fillRow(machine_table->getRowCount(), machine, AllColumns);
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
    const int row = rowOfMachine(ullmac);
    if (row >= 0)
        machine_table->removeRow(row);
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
    int row = rowOfMachine(machine->ullmac);
    if (row < 0) {
        if (columns == NoColumns)
            return;
        // A partial row would carry no MAC key: it could never be found
        // again, and every later update would append another one.
        row = machine_table->getRowCount();
        columns = AllColumns;
    }
    fillRow(row, machine, columns);
}

void QStudentGroupWidget::refreshAllRows()
{
    std::lock_guard<std::recursive_mutex> guard(map_mutex);
    for (int row = 0, rows = machine_table->getRowCount(); row < rows; ++row) {
        if (const CStuInfo_PTR machine = machineAtRow(row))
            fillRow(row, machine, AllColumns);
    }
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
