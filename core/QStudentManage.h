#pragma once

#include "CStuInfo.h"
#include "CStudentGroup.h"
#include "MetaTypes.h"
#include "QDataHelper.h"
#include "QtDoubleIntStringItem.h"

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

    // Null when `mac` is new and MaxMachines are known already. With
    // `evicted`, a full registry makes room instead: the new machine takes
    // the place of one in no group that has not been heard this run, which
    // `evicted` receives (the caller takes it off the pages).
    CStuInfo_PTR updateMachine(
        quint64 mac, const QString& hostname, const QString& ip, bool online, CStuInfo_PTR* evicted = nullptr);
    // The network thread's way in: makes the on-line record of a new `mac`
    // (*made true) as updateMachine does, but returns a record that exists
    // already (made meanwhile, e.g. by an import) untouched: once published,
    // a record's texts are written only on the UI thread, which reads them
    // without a lock.
    CStuInfo_PTR addHeardMachine(
        quint64 mac, const QString& hostname, const QString& ip, CStuInfo_PTR* evicted, bool* made);
    // New texts of a known machine; its on-line state is the datagrams' alone.
    bool renameMachine(quint64 mac, const QString& hostname, const QString& ip);
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
    // MAC order, wrapping round at the end; `cursor` moves past them.
    QList<JoinTarget> onlineMachinesAfter(quint64& cursor, int count) const;

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
    // updateMachine, and addHeardMachine with `rewriteKnown` false.
    CStuInfo_PTR storeMachine(quint64 mac, const QString& hostname, const QString& ip, bool online,
                              CStuInfo_PTR* evicted, bool rewriteKnown, bool* made);
    void loadMachines();
    void loadGroups();
    bool saveMachines();
    bool saveGroups();
    void closeDatabase();
    // Caller holds machine_mutex.
    void countAddress(const QString& ip, int delta);
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
