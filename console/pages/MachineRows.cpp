#include "pages/MachineRows.h"

#include "model/MacAddress.h"
#include "model/Rok_Lock_State.h"
#include "pages/LockBadge.h"
#include "tableview/QtRokTableView.h"

#include <QBrush>
#include <QHeaderView>
#include <QSignalBlocker>
#include <QStandardItem>
#include <QStandardItemModel>
#include <QVector>

#include <algorithm>
#include <functional>
#include <vector>

namespace {

const QColor OnlineColor(QStringLiteral("#055d13"));
const QColor OfflineColor(QStringLiteral("#b11905"));
const QColor AlikeColor(QStringLiteral("#ffe08a"));
const QString OnlineText(QStringLiteral("在线"));
const QString OfflineText(QStringLiteral("断开"));
const QColor ConflictColor(QStringLiteral("#c25400"));
const QString ConflictText(QStringLiteral("冲突"));
const QColor LockedColor(QStringLiteral("#c62828"));
constexpr int CenterAlignment = int(Qt::AlignHCenter | Qt::AlignVCenter); // 0x84

// Loaded once: a lock of "全部" rewrites thousands of cells.
QIcon lockIcon(int lock)
{
    static QHash<int, QIcon> icons;
    const auto it = icons.constFind(lock);
    return it != icons.constEnd() ? *it : *icons.insert(lock, LockBadge::icon(lock));
}

} // namespace

QString MachineRows::stateText(State state)
{
    switch (state) {
    case State::Online:
        return OnlineText;
    case State::Offline:
        return OfflineText;
    case State::Conflict:
        return ConflictText;
    case State::None:
        break;
    }
    return QString();
}

QColor MachineRows::stateColor(State state)
{
    switch (state) {
    case State::Online:
        return OnlineColor;
    case State::Offline:
        return OfflineColor;
    case State::Conflict:
        return ConflictColor;
    case State::None:
        break;
    }
    return QColor();
}

MachineRows::State MachineRows::stateOf(const CStuInfo& machine)
{
    const bool conflict = machine.inConflict();
    const bool online = conflict || machine.online.load();
    return conflict ? State::Conflict : online ? State::Online : State::Offline;
}

MachineRows::MachineRows(QtRokTableView* table_, QObject* parent)
    : QObject(parent)
    , table(table_)
    , item_model(qobject_cast<QStandardItemModel*>(table_->model()))
{
    if (!item_model)
        return;
    connect(item_model, &QAbstractItemModel::rowsAboutToBeRemoved, this,
        [this](const QModelIndex& parent, int first, int last) {
            if (!parent.isValid())
                forget(first, last);
        });
    connect(item_model, &QAbstractItemModel::modelAboutToBeReset, this, [this] { rows_by_mac.clear(); });
    connect(item_model, &QAbstractItemModel::rowsRemoved, this, [this](const QModelIndex& parent) {
        if (!parent.isValid())
            emit sg_rows_changed();
    });
}

MachineRows::~MachineRows() = default;

QAbstractItemModel* MachineRows::model() const
{
    return table->model();
}

void MachineRows::setUpColumns(bool groupColumn)
{
    group_column = groupColumn;
    QStringList headers { QStringLiteral("机器名"), QStringLiteral("IP地址"), QStringLiteral("状态"),
        QStringLiteral("MAC地址") };
    if (groupColumn)
        headers << QStringLiteral("分组");
    headers << QStringLiteral("锁定") << QString();
    table->setColumnHeaderTextList(headers);

    table->setColumnWidth(NameColumn, 120);
    table->setColumnWidth(IpColumn, 120);
    table->setColumnWidth(StateColumn, 60);
    table->setColumnWidth(MacColumn, 140);
    table->setColumnAlignment(StateColumn, CenterAlignment);
    table->setSortingEnabled(true);
    for (int column = NameColumn; column <= MacColumn; ++column)
        table->setColumnSortable(column, true);
    // Out of Stretch first: a stretching section ignores a set width (the
    // filler may have been another column before a switch of layout).
    for (int column = GroupColumn; column < headers.size() - 1; ++column)
        table->setColumnResizeMode(column, QHeaderView::Interactive);
    if (groupColumn) {
        table->setColumnWidth(GroupColumn, 80);
        table->setColumnAlignment(GroupColumn, CenterAlignment);
        table->setColumnSortable(GroupColumn, true);
    }
    // The lock is the page's (on "全部" the row's group's): sorting by it
    // would only sort by group again.
    table->setColumnWidth(lockColumn(), 110);
    table->setColumnSortable(lockColumn(), false);
    table->setColumnSortable(lockColumn() + 1, false);
    table->setColumnResizeMode(lockColumn() + 1, QHeaderView::Stretch);

    table->sortByColumn(IpColumn, Qt::AscendingOrder);
}

void MachineRows::fill(int row, const CStuInfo_PTR& machine, int columns)
{
    if (columns == NoColumns || !machine || row < 0 || !item_model)
        return;
    if (row >= table->getRowCount()) {
        // The whole row in one insertion: a cell created on its own makes the
        // model announce a layout change, which the headers answer with a
        // pass over every section.
        row = table->getRowCount();
        QList<QStandardItem*> cells;
        for (int column = 0; column < std::max(1, table->getColumnCount()); ++column)
            cells << new QStandardItem();
        item_model->appendRow(cells);
    }
    const quint64 mac = machine->ullmac;
    const QVariant key = QVariant::fromValue<qulonglong>(mac);
    // The refresh rewrites every row every two seconds, 5,000 rows on "全部";
    // a cell is only written when its text changes.
    bool touched = false;
    const auto setText = [&](int column, const QString& text) {
        const QStandardItem* item = item_model->item(row, column);
        const QVariant shown = item ? item->data(Qt::DisplayRole) : QVariant();
        if (shown.isValid() && shown.toString() == text)
            return false;
        table->setCellValue(row, column, text);
        touched = true;
        return true;
    };

    if (columns & ColumnName) {
        setText(NameColumn, machine->hostname);
        const QVariant previous = table->getCellUserData(row, NameColumn, MacRole);
        const bool newKey = !previous.isValid() || previous.toULongLong() != mac;
        if (newKey && previous.isValid())
            forget(row, row);
        if (newKey) {
            table->setCellUserData(row, NameColumn, key, MacRole);
            rows_by_mac[mac].append(QPersistentModelIndex(item_model->index(row, NameColumn)));
        }
        // A name that reads like another machine's is marked, never changed.
        const QString alike = machine->alike_names.isEmpty()
            ? QString()
            : QStringLiteral("机器名与 %1相同或形近").arg(machine->alike_names);
        QStandardItem* name = item_model->item(row, NameColumn);
        if (name && name->toolTip() != alike) {
            name->setToolTip(alike);
            name->setBackground(alike.isEmpty() ? QBrush() : QBrush(AlikeColor));
            touched = true;
        }
    }
    if (columns & ColumnMac) {
        if (setText(MacColumn, MacAddress::toDisplay(mac)))
            table->setCellUserData(row, MacColumn, key, MacRole);
    }
    if (columns & ColumnIp)
        setText(IpColumn, machine->ip);
    if (columns & ColumnState) {
        const State state = stateOf(*machine);
        if (setText(StateColumn, stateText(state))) {
            if (QStandardItem* item = item_model->item(row, StateColumn))
                item->setForeground(QBrush(stateColor(state), Qt::SolidPattern));
            applyFilter(row, countsOnline(state));
            // Only a change is worth a recount by the window.
            if (refreshing)
                state_changed = true;
            else
                emit sg_rows_changed();
        }
    }
    // A row that changed group may have changed lock.
    const bool regrouped = (columns & ColumnGroup) && group_column && setText(GroupColumn, machine->group_name);
    if ((columns & ColumnLock) || regrouped)
        touched = fillLock(row, mac) || touched;

    if (touched && !refreshing)
        table->viewport()->update();
}

void MachineRows::refreshRows(const std::function<CStuInfo_PTR(int row)>& machineAt, int columns)
{
    const int count = table->getRowCount();
    if (!item_model || count == 0)
        return;
    refreshing = true;
    state_changed = false;
    {
        // Only existing rows are written, so nothing but cell data goes
        // untold; the text copies are stored by the writes themselves.
        const QSignalBlocker hold(item_model);
        for (int row = 0; row < count; ++row)
            if (const CStuInfo_PTR machine = machineAt(row))
                fill(row, machine, columns);
    }
    refreshing = false;
    emit item_model->dataChanged(item_model->index(0, 0), item_model->index(count - 1, item_model->columnCount() - 1));
    table->viewport()->update();
    if (state_changed)
        emit sg_rows_changed();
}

void MachineRows::update(const CStuInfo_PTR& machine, int columns)
{
    if (!machine)
        return;
    int row = rowOf(machine->ullmac);
    if (row < 0) {
        if (columns == NoColumns)
            return;
        // A partial row would carry no MAC key: it could never be found
        // again, and every later update would append another one.
        row = table->getRowCount();
        columns = AllColumns;
    }
    fill(row, machine, columns);
}

void MachineRows::remove(quint64 ullmac)
{
    const int row = rowOf(ullmac);
    if (row >= 0)
        table->removeRow(row);
}

void MachineRows::append(const QList<CStuInfo_PTR>& machines)
{
    for (const CStuInfo_PTR& machine : machines)
        fill(table->getRowCount(), machine, AllColumns);
}

void MachineRows::forget(int first, int last)
{
    for (int row = first; row <= last; ++row) {
        const QVariant key = table->getCellUserData(row, NameColumn, MacRole);
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

void MachineRows::setLockSource(LockSource source)
{
    lock_source = std::move(source);
    refreshLocks();
}

void MachineRows::refreshLocks()
{
    bool touched = false;
    for (int row = 0, rows = table->getRowCount(); row < rows; ++row)
        touched = fillLock(row, macAt(row)) || touched;
    if (touched)
        table->viewport()->update();
}

bool MachineRows::fillLock(int row, quint64 mac)
{
    if (!item_model)
        return false;
    const int lock = lock_source && mac != 0 ? lock_source(mac) : int(Rok_Lock_State::None);
    QStandardItem* item = item_model->item(row, lockColumn());
    if (item && item->data(Qt::UserRole + int(LockRole)).isValid() && lockAt(row) == lock)
        return false;
    // The words and the picture of the tile's badge, so both read alike.
    table->setCellValue(row, lockColumn(), LockBadge::toolTip(lock));
    table->setCellUserData(row, lockColumn(), lock, LockRole);
    item = item_model->item(row, lockColumn());
    if (!item)
        return false;
    item->setIcon(lockIcon(lock));
    item->setForeground(lock == Rok_Lock_State::None ? QBrush() : QBrush(LockedColor));
    return true;
}

int MachineRows::lockAt(int row) const
{
    return table->getCellUserData(row, lockColumn(), LockRole).toInt();
}

int MachineRows::rowCount() const
{
    return table->getRowCount();
}

int MachineRows::rowOf(quint64 ullmac) const
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

quint64 MachineRows::macAt(int row) const
{
    return table->getCellUserData(row, NameColumn, MacRole).toULongLong();
}

MachineRows::State MachineRows::stateAt(int row) const
{
    const QString text = table->getCellText(row, StateColumn);
    for (const State state : { State::Online, State::Conflict, State::Offline }) {
        if (text == stateText(state))
            return state;
    }
    return State::None;
}

MachineRows::Shown MachineRows::shownAt(int row) const
{
    Shown shown;
    shown.mac = macAt(row);
    shown.host = table->getCellText(row, NameColumn);
    shown.ip = table->getCellText(row, IpColumn);
    shown.macText = table->getCellText(row, MacColumn);
    shown.state = stateAt(row);
    shown.stateColor = stateColor(shown.state);
    shown.hidden = table->isRowHidden(row);
    if (group_column)
        shown.group = table->getCellText(row, GroupColumn);
    return shown;
}

MachineRows::Counts MachineRows::counts() const
{
    Counts counts;
    counts.total = table->getRowCount();
    for (int row = 0; row < counts.total; ++row) {
        if (countsOnline(stateAt(row)))
            ++counts.online;
    }
    return counts;
}

void MachineRows::applyFilter(int row, bool online)
{
    table->setRowHidden(row, online_only && !online);
}

void MachineRows::setOnlineOnly(bool onlineOnly)
{
    online_only = onlineOnly;
    for (int row = 0, rows = table->getRowCount(); row < rows; ++row)
        applyFilter(row, countsOnline(stateAt(row)));
}

QList<CStuInfo_PTR> MachineRows::orderedForDisplay(const QList<CStuInfo_PTR>& machines) const
{
    const QHeaderView* header = table->horizontalHeader();
    const int section = header->sortIndicatorSection();
    if (section < NameColumn || section > GroupColumn)
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
        case NameColumn:
            entry.text = machine->hostname;
            break;
        case IpColumn:
            entry.text = machine->ip;
            break;
        case StateColumn:
            entry.flag = machine->online.load() ? 1 : 0;
            break;
        case MacColumn:
            entry.text = MacAddress::toCompact(machine->ullmac);
            break;
        default:
            entry.text = machine->group_name;
            break;
        }
        keyed.push_back(std::move(entry));
    }

    const auto less = [section](const Keyed& a, const Keyed& b) {
        return section == StateColumn ? a.flag < b.flag : a.text < b.text;
    };
    std::stable_sort(keyed.begin(), keyed.end(),
        [&](const Keyed& a, const Keyed& b) { return ascending ? less(a, b) : less(b, a); });

    QList<CStuInfo_PTR> ordered;
    ordered.reserve(int(keyed.size()));
    for (Keyed& entry : keyed)
        ordered.append(std::move(entry.machine));
    return ordered;
}

void MachineRows::setMachines(const QList<CStuInfo_PTR>& machines)
{
    const QList<CStuInfo_PTR> ordered = orderedForDisplay(machines);
    const int existing = table->getRowCount();

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
        table->clearRows();
        append(rows);
    } else {
        for (int row = 0; row < existing; ++row) {
            if (keptBy[size_t(row)])
                fill(row, keptBy[size_t(row)], AllColumns);
        }
        append(appended);
        for (const auto& run : qAsConst(removals))
            item_model->removeRows(run.first, run.second);
    }
}
