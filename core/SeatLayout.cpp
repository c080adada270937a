#include "core/SeatLayout.h"

#include "core/NaturalOrder.h"

#include <QSet>

#include <algorithm>
#include <climits>

namespace {

quint64 cellKey(const QPoint& cell)
{
    return (quint64(quint32(cell.x())) << 32) | quint32(cell.y());
}

} // namespace

void SeatLayout::place(const QVector<Machine>& machines, const SeatMap& seats)
{
    macs.clear();
    cells.clear();
    index_of_mac.clear();
    index_of_cell.clear();
    macs.reserve(machines.size());
    cells.reserve(machines.size());

    // Seats first, in row order; then the rest into free cells, row by row.
    QVector<int> unseated;
    for (int i = 0; i < machines.size(); ++i) {
        const quint64 mac = machines[i].mac;
        macs.append(mac);
        cells.append(QPoint(-1, -1));
        index_of_mac.insert(mac, i);
        const auto seat = seats.constFind(mac);
        if (seat != seats.constEnd() && !index_of_cell.contains(cellKey(seat.value()))) {
            cells[i] = seat.value();
            index_of_cell.insert(cellKey(seat.value()), i);
        } else {
            unseated.append(i);
        }
    }
    std::stable_sort(unseated.begin(), unseated.end(),
        [&machines](int a, int b) { return NaturalOrder::less(machines[a].host, machines[b].host); });
    int next = 0;
    for (const int i : qAsConst(unseated)) {
        QPoint cell;
        do {
            cell = QPoint(next % FreeColumns, next / FreeColumns);
            ++next;
        } while (index_of_cell.contains(cellKey(cell)));
        cells[i] = cell;
        index_of_cell.insert(cellKey(cell), i);
    }
}

int SeatLayout::indexAt(const QPoint& cell) const
{
    return index_of_cell.value(cellKey(cell), -1);
}

QSize SeatLayout::extent() const
{
    QPoint last(FreeColumns - 1, 0);
    for (const QPoint& cell : cells)
        last = QPoint(std::max(last.x(), cell.x()), std::max(last.y(), cell.y()));
    return QSize(last.x() + 1, last.y() + 1);
}

SeatLayout::SeatMap SeatLayout::move(
    const QList<quint64>& moved, const QPoint& offset, const SeatMap& stored, bool wholeRoom)
{
    QSet<int> moving;
    for (const quint64 mac : moved) {
        const int i = indexOf(mac);
        if (i >= 0)
            moving.insert(i);
    }
    if (moving.isEmpty() || offset.isNull())
        return {};
    // The group keeps its shape against the room's left and top walls.
    int minX = INT_MAX;
    int minY = INT_MAX;
    for (const int i : qAsConst(moving)) {
        minX = std::min(minX, cells[i].x());
        minY = std::min(minY, cells[i].y());
    }
    const QPoint shift(std::max(offset.x(), -minX), std::max(offset.y(), -minY));
    if (shift.isNull())
        return {};

    SeatMap seats;
    int swapWith = -1;
    for (const int i : qAsConst(moving)) {
        const QPoint target = cells[i] + shift;
        const int holder = indexAt(target);
        if (holder >= 0 && !moving.contains(holder)) {
            if (moving.size() > 1)
                return {};
            swapWith = holder;
        }
        seats.insert(macs[i], target);
    }
    if (swapWith >= 0) {
        const int i = *moving.cbegin();
        seats.insert(macs[swapWith], cells[i]);
    }
    if (wholeRoom) {
        // The room as it is shown becomes the plan: otherwise the tiles in
        // free cells would close up behind the one that moved.
        for (int i = 0; i < cells.size(); ++i)
            if (!seats.contains(macs[i]) && stored.value(macs[i], QPoint(-1, -1)) != cells[i])
                seats.insert(macs[i], cells[i]);
    }
    for (auto it = seats.cbegin(); it != seats.cend(); ++it)
        cells[index_of_mac.value(it.key())] = it.value();
    indexCells();
    return seats;
}

void SeatLayout::indexCells()
{
    index_of_cell.clear();
    for (int i = 0; i < cells.size(); ++i)
        index_of_cell.insert(cellKey(cells[i]), i);
}

QPoint SeatLayout::snapped(const QPoint& shift, const QSize& cell)
{
    return QPoint(qRound(double(shift.x()) / cell.width()), qRound(double(shift.y()) / cell.height()));
}
