#pragma once

#include "core/MetaTypes.h"
#include "model/CStudentGroup.h"
#include "model/CStuInfo.h"
#include "model/QtDoubleIntStringItem.h"
#include "storage/QDataHelper.h"

#include <QHash>
#include <QList>
#include <QMap>
#include <QObject>
#include <QSqlDatabase>
#include <QString>
#include <QStringList>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

// The single source of truth about student machines and groups. A worker
// thread ticks every TickMs and reports machines that stayed silent for
// OfflineTicks ticks. Locks: the group lock before the machine lock, never
// the other way round.
class QStudentManage final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(QStudentManage)

public:
    static constexpr int TickMs = 100;
    static constexpr int OfflineTicks = 15;
    // updateMachine refuses new machines beyond this many. Far above any lab,
    // it keeps registrations of made-up MACs from growing the console (and
    // the time each page takes to refresh) without bound.
    static constexpr int MaxMachines = 20000;
    // Of those, machines never put in a group: the rest stays for the
    // machines of the teacher's groups, whatever a flood registers.
    static constexpr int MaxNeverGrouped = MaxMachines / 2;

    // Clock: the worker ticks every TickMs. Manual: only when tick() is
    // called, so that tests count ticks exactly.
    enum class Ticks { Clock, Manual };
    // Starts the worker; throws std::system_error when it cannot.
    explicit QStudentManage(Ticks ticks = Ticks::Clock);
    // Stops the worker, saves machines and groups (when the database is
    // usable) and closes it.
    ~QStudentManage() override;

    // Creates the file when missing, opens it, creates the tables and loads
    // machines and groups. False leaves the registry unsaved, and empty
    // unless only writing failed; databaseError() tells why.
    bool openDatabase(const QString& path);
    // The last open or write succeeded.
    bool databaseOk() const;
    // The file was read whole; only then is it ever written. One that could
    // not be written is tried again at every save.
    bool databaseReadable() const;
    QString databaseError() const;
    // Writes machines and groups now; false (and nothing written) while the
    // database is not usable. Safe to repeat.
    bool saveAll();

    // An on-line machine as the join repeater needs it, read under the locks.
    struct JoinTarget
    {
        quint64 mac = 0;
        uint32_t address = 0; // network order
        QString group; // empty: in no group
    };

    // Null when `mac` is new and MaxMachines are known already. The address
    // becomes the machine's stored one.
    CStuInfo_PTR updateMachine(quint64 mac, const QString& hostname, const QString& ip, bool online);

    // A MAC heard on the network for the first time, registering from `ip`.
    struct Admission
    {
        enum class Refusal {
            None,
            AddressFull, // no machine at the address made room
            Full, // MaxMachines known, none made room
            Quota, // MaxNeverGrouped machines in no group
        };
        CStuInfo_PTR machine; // on line; null when refused
        // The record was made now; else it existed and is returned untouched.
        bool made = false;
        // The machine that made room, for the caller to take off the pages.
        CStuInfo_PTR evicted;
        Refusal refusal = Refusal::None;
        // This machine took the quota's last place.
        bool quotaReached = false;
    };
    // At MaxMachines, or at MaxNeverGrouped for a machine in no stored
    // group, room is made (evicted) only for a machine of a stored group or
    // one that keeps retrying (`retrying`): in place of the newest machine
    // registered this run that was never grouped and never heard again (a
    // flood's made-up MAC), failing that of one never grouped and not heard
    // this run. `atAddress`: the address is full, room is made only among
    // this run's machines there.
    Admission admitMachine(quint64 mac, const QString& hostname, const QString& ip, bool retrying, bool atAddress);
    // New texts of a known machine; its on-line state is the datagrams' alone.
    bool renameMachine(quint64 mac, const QString& hostname, const QString& ip);
    // The teacher takes the address that claims a machine's MAC as its own
    // (recorded and stored); the old one, if still heard, claims it next.
    // The new address text, empty when the machine has no claimant.
    QString adoptClaimant(quint64 mac);
    CStuInfo_PTR findMachine(quint64 mac) const;
    void removeMachine(quint64 mac);
    QMap<quint64, CStuInfo_PTR> allMachines() const;
    QMap<quint64, CStuInfo_PTR> ungroupedMachines() const;
    // Unknown MACs are skipped.
    QList<CStuInfo_PTR> machinesByMac(const QList<quint64>& macs) const;

    int machineCount() const;
    // Known machines whose address is `address` (network order).
    int machinesAtAddress(uint32_t address) const;
    // The on-line ones among the `count` machines that follow `cursor` in
    // MAC order, wrapping round at the end; `cursor` moves past them. A
    // machine's claimant (an identity conflict) is a target of its own.
    QList<JoinTarget> onlineMachinesAfter(quint64& cursor, int count) const;
    // Machines never put in a group.
    int neverGroupedCount() const { return never_grouped.load(); }

    QString groupNameOfMachine(quint64 mac) const;
    // Ascending display_order, ties by name (CStudentGroup::showsBefore).
    QList<CStudentGroup_PTR> sortedGroups() const;
    QStringList groupNames() const;
    // False for an empty, reserved or taken name.
    bool addGroup(const QString& name, int displayOrder);
    // Members become ungrouped; the row leaves the database at once.
    void removeGroup(const QString& name);
    // False, and nothing changed, for a missing group or an empty, reserved
    // or taken new name. The members follow; the database at the next save.
    bool renameGroup(const QString& from, const QString& to);
    // The named groups take display_order 1, 2, ... in the order given;
    // others keep theirs.
    void setGroupOrders(const QStringList& names);
    // False, and nothing changed, for an empty name, MAC 0 or a group that
    // does not exist.
    bool moveMachineToGroup(const QString& groupName, quint64 mac);
    bool removeMachineFromGroup(const QString& groupName, quint64 mac);

    // Manual ticks only: one tick on the worker, back once its batch was emitted.
    void tick();

    // Item types 1..4 only; false for any other type or an unusable database.
    bool saveStringItems(const StringItemList& items, int itemType);
    QDataHelper& store();

signals:
    // From the worker thread: the machines that have just gone off line,
    // ascending MAC.
    void sg_state_changed_machines(QList<CStuInfo_PTR> machines, QPrivateSignal);

private:
    void run();
    // Caller holds group_mutex.
    QString groupNameLocked(quint64 mac) const;
    void loadMachines();
    void loadGroups();
    bool saveMachines();
    bool saveGroups();
    void closeDatabase();
    // Caller holds machine_mutex.
    void countAddress(const QString& ip, int delta);
    CStuInfo_PTR insertLocked(quint64 mac, const QString& hostname, const QString& ip, bool grouped);
    void eraseLocked(QMap<quint64, CStuInfo_PTR>::iterator it);
    // The newest machine of this run's registrations that was never grouped
    // nor heard again, at `address` unless 0; null when none.
    CStuInfo_PTR newestOneShotLocked(uint32_t address);
    void recountNeverGrouped();
    // Records the outcome of a write; false keeps the reason in db_error.
    bool noteWrite(bool written);
    void noteWriteFailure();

    std::thread worker;
    std::atomic_uint32_t active_workers{0};
    std::atomic_bool running{false};
    // The worker sleeps a whole tick on this and is woken early only to stop
    // (or, with manual ticks, to tick).
    std::mutex wake_mutex;
    std::condition_variable wake;
    const bool manual_ticks;
    uint64_t ticks_asked = 0; // under wake_mutex
    uint64_t ticks_done = 0;
    QMap<quint64, CStuInfo_PTR> machines;
    // How many machines each address holds (under machine_mutex).
    QHash<uint32_t, int> per_address;
    // This run's registrations that were in no group, oldest first (under
    // machine_mutex); those grouped, heard again or gone are dropped lazily.
    std::vector<quint64> registered_this_run;
    std::atomic_int never_grouped{0};
    QMap<QString, CStudentGroup_PTR> groups;
    mutable std::mutex machine_mutex;
    mutable std::mutex group_mutex;
    QSqlDatabase connection;
    QDataHelper data_store;
    bool db_ok = false;
    bool db_read = false;
    QString db_error;
    QString connection_name;
};
