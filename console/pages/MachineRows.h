#pragma once

#include "model/CStuInfo.h"

#include <QColor>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPersistentModelIndex>
#include <QString>

#include <functional>

class QAbstractItemModel;
class QStandardItemModel;
class QtRokTableView;

// The rows of a page's machine table: its columns and roles, how a machine's
// row is filled and kept current, and which row shows a MAC. Everything that
// reads the table (the page, its seat plan, the window) asks here rather than
// knowing a column's number or a state's text and colour. Page's thread only.
class MachineRows final : public QObject
{
    Q_OBJECT

public:
    enum Column : int {
        NameColumn = 0,
        IpColumn = 1,
        StateColumn = 2,
        MacColumn = 3,
        GroupColumn = 4, // on "全部" only
        // Then the lock column (lockColumn()), then an empty filler.
    };
    // Bits naming the columns an update writes.
    enum ColumnMask : int {
        ColumnName = 0x01,
        ColumnIp = 0x02,
        ColumnState = 0x04,
        ColumnMac = 0x08,
        ColumnGroup = 0x10,
        ColumnLock = 0x20,
        AllColumns = 0x3F,
        NoColumns = 0xFFFF
    };
    // User-data role of the MAC key in the name and MAC columns.
    static constexpr unsigned MacRole = 5;
    // User-data role of the lock type in the lock column.
    static constexpr unsigned LockRole = 6;
    // The lock type (Rok_Lock_State) a row's machine gets, by its MAC key.
    using LockSource = std::function<int(quint64 mac)>;

    // What the state cell shows. A conflict (two addresses claim the MAC)
    // counts as on line: something answers as the machine.
    enum class State { None, Offline, Online, Conflict };
    static QString stateText(State state);
    static QColor stateColor(State state);
    static bool countsOnline(State state) { return state == State::Online || state == State::Conflict; }
    static State stateOf(const CStuInfo& machine);

    // What a row shows, for those that show it elsewhere (the seat plan's tiles).
    struct Shown
    {
        quint64 mac = 0;
        QString host;
        QString ip;
        QString macText;
        State state = State::None;
        QColor stateColor;
        QString group; // on "全部"
        bool hidden = false;
    };

    struct Counts
    {
        int online = 0;
        int total = 0;
    };

    explicit MachineRows(QtRokTableView* table, QObject* parent = nullptr);
    ~MachineRows() override;

    QAbstractItemModel* model() const;
    // Headers, widths and sorting; the group column on "全部" only.
    void setUpColumns(bool groupColumn);
    // After the group column where there is one, so the others keep their
    // places.
    int lockColumn() const { return group_column ? GroupColumn + 1 : GroupColumn; }

    // Where the lock column reads each row's lock; none shows no lock.
    void setLockSource(LockSource source);
    // Rewrites the lock column after a lock changed (only the cells that differ).
    void refreshLocks();

    // Rows for exactly these machines, in the table's current sort order;
    // rows of machines kept stay where they are.
    void setMachines(const QList<CStuInfo_PTR>& machines);
    // Writes the given columns of a row; a row at or past the end is appended.
    void fill(int row, const CStuInfo_PTR& machine, int columns);
    // Rewrites the given columns of every row from `machineAt(row)` (rows
    // without a machine are left alone). The model reports one change over
    // the rows rather than several per cell: the 2 s refresh of 5,000 rows.
    void refreshRows(const std::function<CStuInfo_PTR(int row)>& machineAt, int columns);
    // The machine's row, appended with every column when it has none.
    void update(const CStuInfo_PTR& machine, int columns);
    void remove(quint64 ullmac);

    int rowCount() const;
    // First row showing the machine, -1 when none.
    int rowOf(quint64 ullmac) const;
    // The MAC key of a row, 0 for none.
    quint64 macAt(int row) const;
    State stateAt(int row) const;
    // The lock the row's lock cell shows (Rok_Lock_State::None when none).
    int lockAt(int row) const;
    Shown shownAt(int row) const;
    Counts counts() const;

    // Only the view hides the off-line rows: the model keeps every row.
    void setOnlineOnly(bool onlineOnly);
    bool onlineOnly() const { return online_only; }

signals:
    // Rows came or went, or a row's shown state changed.
    void sg_rows_changed();

private:
    // Beyond this many separate gaps setMachines refills the table instead.
    static constexpr int ScatteredRemovalLimit = 32;

    void append(const QList<CStuInfo_PTR>& machines);
    void forget(int first, int last);
    void applyFilter(int row, bool online);
    bool fillLock(int row, quint64 mac);
    QList<CStuInfo_PTR> orderedForDisplay(const QList<CStuInfo_PTR>& machines) const;

    QtRokTableView* table;
    QStandardItemModel* item_model = nullptr;
    // While refreshRows runs: the model's signals are held, and a state
    // change is told once at the end.
    bool refreshing = false;
    bool state_changed = false;
    bool group_column = false;
    bool online_only = false;
    LockSource lock_source;
    // Name cells of every row by MAC key. Persistent indexes follow the rows
    // through header sorts and removals, so finding a machine's row does not
    // scan the table.
    QHash<quint64, QList<QPersistentModelIndex>> rows_by_mac;
};
