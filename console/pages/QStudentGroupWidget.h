#pragma once

#include "core/GroupSender.h"
#include "core/WaitClock.h"
#include "model/CStuInfo.h"
#include "model/QtDoubleIntStringItem.h"
#include "model/Rok_Lock_State.h"
#include "pages/MachineRows.h"

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QPoint>
#include <QString>
#include <QStringList>
#include <QWidget>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>

class QAppWatcherWidget;
class QScrollArea;
class QSplitter;
class SeatPlanBar;
class SeatPlanView;
class QtRokTableView;

// One tab page: the machines of a group (or of "全部" / "未分组"), the group's
// embedded policy lists and its lock state. The two multicast datagrams built
// from them, and the thread that repeats them, are its GroupSender's.
class QStudentGroupWidget final : public QWidget
{
    Q_OBJECT

public:
    // The table's columns and roles are MachineRows'; these names are the
    // page's face for the window and the tests.
    enum ColumnMask : int {
        ColumnName = MachineRows::ColumnName,
        ColumnIp = MachineRows::ColumnIp,
        ColumnState = MachineRows::ColumnState,
        ColumnMac = MachineRows::ColumnMac,
        ColumnGroup = MachineRows::ColumnGroup,
        ColumnLock = MachineRows::ColumnLock,
        AllColumns = MachineRows::AllColumns,
        NoColumns = MachineRows::NoColumns
    };
    static constexpr unsigned MacRole = MachineRows::MacRole;
    // Page order of "未分组".
    static constexpr int UngroupedOrder = 999;

    explicit QStudentGroupWidget(QWidget* parent, QString name);
    ~QStudentGroupWidget() override;

    void setShowAll(bool showAll);
    bool showAll() const { return show_all.load(); }
    void setGroupAddress(uint32_t address) { group_addr.store(address); }

    // Row operations. Any thread may call them; calls from another thread are
    // carried over to the page's thread, where the table lives.
    void setMachines(const QList<CStuInfo_PTR>& machines);
    void addMachine(const CStuInfo_PTR& machine);
    void removeMachine(quint64 ullmac);
    void updateMachineRow(const CStuInfo_PTR& machine, int columns);
    // First row showing the machine, -1 when none.
    int rowOfMachine(quint64 ullmac) const;
    // The page's machines in the order of its rows (page's thread).
    QList<CStuInfo_PTR> machinesInRowOrder() const;
    // The selected rows' machines that the table shows, in row order.
    QList<quint64> selectedMacs() const;

    using Counts = MachineRows::Counts;
    // What the table shows: its rows, and those whose state reads on line.
    Counts counts() const;

    // Hides the rows shown off line. Only the view hides them: the model
    // keeps every row, so sorting, selection and row lookups are unaffected,
    // and a hidden row stays hidden through a header sort.
    void setOnlineOnly(bool onlineOnly);
    bool onlineOnly() const { return rows->onlineOnly(); }

    // The machines as tiles in their seats instead of the table. The policy
    // list gives way to them until the bar under the plan brings it back.
    void setSeatPlanShown(bool shown);
    bool seatPlanShown() const;
    SeatPlanView* seatPlan() const { return seat_plan; }

    // Where the lock column and the tiles' badges read each machine's lock:
    // this page's own unless set ("全部" reads each machine's group's).
    void setLockSource(const MachineRows::LockSource& source);
    // Shows the locks again after one changed (this page's or, for "全部",
    // any page's).
    void refreshLocks();
    SeatPlanBar* seatPlanBar() const { return seat_bar; }

    // The height of the policy list below the machines, in pixels; 0 while
    // none was set or dragged.
    int policyListHeight() const { return policy_height; }
    void setPolicyListHeight(int height);

    // "最后在线 HH:MM:SS", the state cell's tool tip; "最后在线 —" for a
    // machine not heard from since the console started.
    static QString lastHeardText(const CStuInfo& machine);
    // The state cell's tool tip: the time, and both addresses of a conflict.
    static QString stateToolTip(const CStuInfo& machine);
    // The machine a row shows, or null; its MAC key, 0 for none.
    CStuInfo_PTR machineAtRow(int row) const;
    quint64 macAtRow(int row) const { return rows->macAt(row); }
    const MachineRows& machineRows() const { return *rows; }

    void setPolicyItems(const StringItemList& items);
    void mergePolicyItems(const StringItemList& items);
    void loadGroupConfig(const std::shared_ptr<Rok_Lock_State>& lock, const QStringList& titles,
        const QStringList& services, const QStringList& programs);
    void exportGroupConfig(
        std::shared_ptr<Rok_Lock_State>& lockOut, QStringList& titles, QStringList& services, QStringList& programs);

    void setLockType(int type);
    void setAllowManualIp(bool allow);
    void setAllowUsbDrv(bool allow);

    // Thread-safe copies for the receive path.
    QByteArray policyDatagramCopy() { return sender.policyDatagramCopy(); }
    QByteArray lockDatagramCopy() { return sender.lockDatagramCopy(); }
    // An agent reported the policy it holds: when that is older than ours,
    // the whole group gets the current policy again (GroupSender's
    // throttle). True when sent now.
    bool resendPolicyIfNewer(uint32_t agentVersion) { return sender.resendPolicyIfNewer(agentVersion); }

public slots:
    void buildLockDatagram();
    void buildPolicyDatagram();
    void refreshAllRows();

signals:
    void sg_customContextMenuRequested(QPoint pos);
    void sg_group_item_changed(QPrivateSignal);
    void sg_group_lockstate_changed(QPrivateSignal);
    void sg_update_machines();
    void sg_need_send_msg(uint32_t address, QByteArray datagram);
    // Rows came or went, or a row's shown state changed (page's thread).
    void sg_rows_changed();
    // The teacher dragged the border above the policy list.
    void sg_policy_list_resized(int height);
    // A drag in the table, which only selects: the seat plan takes drags.
    void sg_table_dragged();

private:
    // Before the members below that name its state.
    GroupSender sender;

public:
    // Read and written by the main window and the receive path.
    QString page_name;
    int page_order = 0;
    std::shared_ptr<Rok_Lock_State>& lock_state = sender.lock_state;
    QtRokTableView* machine_table = nullptr;
    QAppWatcherWidget* policy_editor = nullptr; // null on "全部"
    std::atomic<uint32_t>& group_addr = sender.group_addr; // network-order bytes; 0 = none
    std::atomic_bool refresh_enabled { false };
    std::atomic<uint32_t>& policy_version = sender.policy_version;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    bool onOwnThread() const;
    void setUpTable();
    void onTableContextMenu(const QPoint& pos);
    void applyPolicyHeight();
    void refreshLoop();

    std::unique_ptr<std::thread> refresh_thread;
    std::atomic_bool running { false };
    std::atomic_int busy_threads { 0 };
    // The refresh thread sleeps on this rather than in short slices: fifty
    // pages would otherwise wake their threads thousands of times a second.
    WaitClock refresh_clock;

    QSplitter* splitter = nullptr;
    QWidget* seat_pane = nullptr; // the plan's scroll area and its bar
    QScrollArea* seat_area = nullptr;
    SeatPlanView* seat_plan = nullptr;
    SeatPlanBar* seat_bar = nullptr;
    int policy_height = 0;
    // Where a press in the table began, until a drag from it is told.
    QPoint drag_start;
    // Deleted before the table (a child widget), so the model never calls
    // back into rows half destroyed.
    std::unique_ptr<MachineRows> rows;
    std::atomic_bool show_all { false };

    std::mutex row_mutex;
    mutable std::recursive_mutex map_mutex;
    QMap<quint64, CStuInfo_PTR> machines_by_mac;
};
