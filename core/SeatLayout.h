#pragma once

#include <QHash>
#include <QList>
#include <QPoint>
#include <QSize>
#include <QString>
#include <QVector>

// Where a page's tiles sit, in cells of a grid that all pages share. Seats
// are kept per machine (by MAC); a machine without one, or whose seat a
// machine of an earlier row holds, takes the first free cell, FreeColumns to
// a row, in natural order of host names. A move keeps the moved tiles' shape
// and says which seats are to be stored.
class SeatLayout final
{
public:
    using SeatMap = QHash<quint64, QPoint>;

    struct Machine
    {
        quint64 mac = 0;
        QString host;
    };

    // Cells per row for machines without a seat, and the least width of a room.
    static constexpr int FreeColumns = 8;

    // The machines in the order of the page's rows, each MAC once.
    void place(const QVector<Machine>& machines, const SeatMap& seats);

    // Machines by their index in place()'s list.
    int count() const { return cells.size(); }
    QPoint cellAt(int index) const { return cells.value(index, QPoint(-1, -1)); }
    // -1 when the machine has no tile, or no tile is in the cell.
    int indexOf(quint64 mac) const { return index_of_mac.value(mac, -1); }
    int indexAt(const QPoint& cell) const;
    // (-1, -1) when the machine has no tile.
    QPoint cellOf(quint64 mac) const { return cellAt(indexOf(mac)); }
    // The room in cells: every tile, and at least FreeColumns by one.
    QSize extent() const;

    // Moves the machines' tiles `offset` cells, stopped by the room's left
    // and top walls as one block. Refused (nothing moves, an empty map) when
    // no tile would move or one would land on a tile not moving, except that
    // a single tile swaps cells with the one it lands on. Returns the seats
    // to store: the tiles moved and swapped and, with `wholeRoom` (a group's
    // room becomes the plan as shown), every other tile whose cell `stored`
    // does not already hold.
    SeatMap move(const QList<quint64>& macs, const QPoint& offset, const SeatMap& stored, bool wholeRoom);

    // A drag of `shift` pixels as whole cells of `cell` pixels, to the nearest.
    static QPoint snapped(const QPoint& shift, const QSize& cell);

private:
    void indexCells();

    QVector<quint64> macs;
    QVector<QPoint> cells;
    QHash<quint64, int> index_of_mac;
    QHash<quint64, int> index_of_cell; // by cellKey()
};
