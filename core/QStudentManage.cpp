#include "core/QStudentManage.h"

#include "core/HostName.h"
#include "core/Protocol.h"
#include "model/Machine.h"

#include <QDir>
#include <QFile>
#include <QSqlError>

#include <algorithm>
#include <chrono>
#include <utility>

namespace {

QString nextConnectionName()
{
    static std::atomic_uint counter{0};
    return QStringLiteral("QStudentManage-%1").arg(++counter);
}

} // namespace

QStudentManage::QStudentManage(Ticks ticks)
    : manual_ticks(ticks == Ticks::Manual)
    , connection_name(nextConnectionName())
{
    // The batches cross to the UI thread queued, whatever order the owner
    // registers its types in.
    registerRokMetaTypes();
    active_workers.store(0);
    running.store(true);
    worker = std::thread(&QStudentManage::run, this);
}

QStudentManage::~QStudentManage()
{
    {
        std::lock_guard<std::mutex> lock(wake_mutex);
        running.store(false);
    }
    wake.notify_all();
    while (active_workers.load() != 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    if (worker.joinable())
        worker.join();
    saveAll();
    closeDatabase();
}

bool QStudentManage::openDatabase(const QString& path)
{
    closeDatabase();
    db_error.clear();
    const QString shownPath = QDir::toNativeSeparators(path);

    if (!QFile::exists(path)) {
        QFile file(path);
        if (file.open(QIODevice::WriteOnly))
            file.close();
    }

    connection = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection_name);
    if (!connection.isValid()) {
        db_error = QStringLiteral("数据库驱动 QSQLITE 不可用。");
        return false;
    }
    connection.setDatabaseName(path);
    if (!connection.open()) {
        db_error = QStringLiteral("无法打开数据库文件“%1”：%2").arg(shownPath, connection.lastError().text());
        return false;
    }

    data_store.setDatabase(connection);
    if (!data_store.checkTables()) {
        db_error = QStringLiteral("无法读取数据库文件“%1”：%2").arg(shownPath, data_store.lastError());
        data_store.setDatabase(QSqlDatabase());
        loadGroups();
        return false;
    }
    db_ok = data_store.initTables();
    if (!db_ok)
        db_error = QStringLiteral("无法在数据库文件“%1”中建表：%2").arg(shownPath, data_store.lastError());
    loadMachines();
    // A file that could not be read is not asked again: with a lock held
    // elsewhere every query would wait out the busy timeout on the UI thread.
    if (!db_ok)
        data_store.setDatabase(QSqlDatabase());
    loadGroups();
    if (db_ok) {
        bool itemsRead = false;
        data_store.loadStringItems(-1, &itemsRead);
        if (!itemsRead) {
            db_ok = false;
            db_error = QStringLiteral("无法读取数据库文件“%1”：%2").arg(shownPath, data_store.lastError());
            data_store.setDatabase(QSqlDatabase());
        }
    }
    db_read = db_ok;
    // What could be read stays shown. A file that cannot be written just now
    // (another program holds it, a full disk) is tried again at every save.
    if (db_ok && !data_store.checkWritable()) {
        db_ok = false;
        noteWriteFailure();
    }
    return db_ok;
}

bool QStudentManage::databaseOk() const
{
    return db_ok;
}

bool QStudentManage::databaseReadable() const
{
    return db_read;
}

QString QStudentManage::databaseError() const
{
    return db_error;
}

bool QStudentManage::saveAll()
{
    // A file we could not read is never overwritten with what little we know.
    if (!db_read)
        return false;
    const bool machinesSaved = saveMachines();
    const bool groupsSaved = saveGroups();
    return noteWrite(machinesSaved && groupsSaved);
}

bool QStudentManage::noteWrite(bool written)
{
    db_ok = written;
    if (written)
        db_error.clear();
    else
        noteWriteFailure();
    return written;
}

void QStudentManage::noteWriteFailure()
{
    db_error = QStringLiteral("无法写入数据库文件“%1”：%2")
                   .arg(QDir::toNativeSeparators(connection.databaseName()), data_store.lastError());
}

CStuInfo_PTR QStudentManage::updateMachine(quint64 mac, const QString& hostname, const QString& ip, bool online)
{
    // A machine seen for the first time may already be a member of a stored
    // group; its record must say so before anyone else can see it.
    std::lock_guard<std::mutex> groupLock(group_mutex);
    std::lock_guard<std::mutex> lock(machine_mutex);
    CStuInfo_PTR record = machines.value(mac);
    if (!record) {
        if (machines.size() >= MaxMachines)
            return nullptr;
        const QString group = groupNameLocked(mac);
        record = insertLocked(mac, hostname, ip, !group.isEmpty());
        record->group_name = group;
    } else {
        countAddress(record->ip, -1);
        record->ip = ip;
        record->address.store(Protocol::addressFromText(ip));
        countAddress(ip, 1);
        record->hostname = hostname;
    }
    record->stored_address.store(record->address.load());
    if (online)
        record->markHeard();
    record->online.store(online);
    if (record->online.load())
        record->missed_ticks.store(0);
    return record;
}

QStudentManage::Admission QStudentManage::admitMachine(
    quint64 mac, const QString& hostname, const QString& ip, bool retrying, bool atAddress)
{
    using Refusal = Admission::Refusal;
    Admission admission;
    std::lock_guard<std::mutex> groupLock(group_mutex);
    std::lock_guard<std::mutex> lock(machine_mutex);
    // One that exists (made meanwhile, e.g. by an import) is returned
    // untouched: once published, a record's texts are written only on the UI
    // thread, which reads them without a lock.
    if (const CStuInfo_PTR known = machines.value(mac)) {
        admission.machine = known;
        return admission;
    }
    const QString group = groupNameLocked(mac);
    const bool grouped = !group.isEmpty();
    // Made-up MACs are sent once and never heard again; a genuine agent
    // retries, and then speaks. Only the former make room, newest first, and
    // only for a machine of the teacher's groups or one that retries.
    CStuInfo_PTR victim;
    if (atAddress) {
        victim = newestOneShotLocked(Protocol::addressFromText(ip));
        if (!victim)
            admission.refusal = Refusal::AddressFull;
    } else {
        const bool quotaFull = !grouped && never_grouped.load() >= MaxNeverGrouped;
        if (quotaFull || machines.size() >= MaxMachines) {
            if (grouped || retrying)
                victim = newestOneShotLocked(0);
            if (!victim && (grouped || retrying)) {
                // Then one nobody ever grouped that has not been heard this run.
                const auto it = std::find_if(machines.cbegin(), machines.cend(), [](const CStuInfo_PTR& record) {
                    return !record->ever_grouped.load() && record->group_name.isEmpty()
                        && record->last_heard_ms.load() == 0;
                });
                if (it != machines.cend())
                    victim = it.value();
            }
            if (!victim)
                admission.refusal = quotaFull ? Refusal::Quota : Refusal::Full;
        }
    }
    if (admission.refusal != Refusal::None)
        return admission;
    if (victim) {
        eraseLocked(machines.find(victim->ullmac));
        admission.evicted = victim;
    }
    const CStuInfo_PTR record = insertLocked(mac, hostname, ip, grouped);
    record->group_name = group;
    record->markHeard();
    record->online.store(true);
    if (!grouped) {
        registered_this_run.push_back(mac);
        admission.quotaReached = never_grouped.load() == MaxNeverGrouped;
    }
    admission.machine = record;
    admission.made = true;
    return admission;
}

CStuInfo_PTR QStudentManage::insertLocked(quint64 mac, const QString& hostname, const QString& ip, bool grouped)
{
    auto created = std::make_shared<CStuInfo>();
    created->ullmac = mac;
    created->ip = ip;
    created->hostname = hostname;
    created->address.store(Protocol::addressFromText(ip));
    created->stored_address.store(created->address.load());
    created->ever_grouped.store(grouped);
    if (!grouped)
        ++never_grouped;
    countAddress(ip, 1);
    machines.insert(mac, created);
    return created;
}

void QStudentManage::eraseLocked(QMap<quint64, CStuInfo_PTR>::iterator it)
{
    countAddress(it.value()->ip, -1);
    if (!it.value()->ever_grouped.load())
        --never_grouped;
    machines.erase(it);
}

CStuInfo_PTR QStudentManage::newestOneShotLocked(uint32_t address)
{
    // Entries that can never be chosen again are dropped on the way: a
    // machine once grouped or heard again stays so.
    for (size_t i = registered_this_run.size(); i-- > 0;) {
        const CStuInfo_PTR record = machines.value(registered_this_run[i]);
        if (!record || record->ever_grouped.load() || record->heard_again.load()) {
            registered_this_run.erase(registered_this_run.begin() + std::ptrdiff_t(i));
            continue;
        }
        if (address == 0 || record->address.load() == address) {
            registered_this_run.erase(registered_this_run.begin() + std::ptrdiff_t(i));
            return record;
        }
    }
    return nullptr;
}

void QStudentManage::recountNeverGrouped()
{
    int count = 0;
    for (const CStuInfo_PTR& record : std::as_const(machines))
        count += record->ever_grouped.load() ? 0 : 1;
    never_grouped.store(count);
}

QString QStudentManage::adoptClaimant(quint64 mac)
{
    std::lock_guard<std::mutex> lock(machine_mutex);
    const CStuInfo_PTR record = machines.value(mac);
    const uint32_t claimant = record ? record->claimant.load() : 0;
    if (claimant == 0)
        return QString();
    const uint32_t old = record->address.load();
    const QString ip = Protocol::addressToText(claimant);
    countAddress(record->ip, -1);
    record->ip = ip;
    record->address.store(claimant);
    record->stored_address.store(claimant);
    countAddress(ip, 1);
    record->claimant_missed_ticks.store(0);
    record->claimant.store(record->online.load() ? old : 0);
    return ip;
}

bool QStudentManage::renameMachine(quint64 mac, const QString& hostname, const QString& ip)
{
    std::lock_guard<std::mutex> lock(machine_mutex);
    const auto it = machines.constFind(mac);
    if (it == machines.cend())
        return false;
    countAddress(it.value()->ip, -1);
    it.value()->hostname = hostname;
    it.value()->ip = ip;
    it.value()->address.store(Protocol::addressFromText(ip));
    countAddress(ip, 1);
    return true;
}

void QStudentManage::countAddress(const QString& ip, int delta)
{
    const uint32_t address = Protocol::addressFromText(ip);
    if (address == 0)
        return;
    int& count = per_address[address];
    count += delta;
    if (count <= 0)
        per_address.remove(address);
}

int QStudentManage::machinesAtAddress(uint32_t address) const
{
    std::lock_guard<std::mutex> lock(machine_mutex);
    return per_address.value(address);
}

CStuInfo_PTR QStudentManage::findMachine(quint64 mac) const
{
    std::lock_guard<std::mutex> lock(machine_mutex);
    return machines.value(mac);
}

void QStudentManage::removeMachine(quint64 mac)
{
    CStuInfo_PTR record;
    {
        std::lock_guard<std::mutex> lock(machine_mutex);
        const auto it = machines.find(mac);
        if (it == machines.end())
            return;
        record = it.value();
        eraseLocked(it);
    }
    if (record->group_name.isEmpty())
        return;
    std::lock_guard<std::mutex> lock(group_mutex);
    const auto group = groups.find(record->group_name);
    if (group != groups.end())
        group.value()->ullmac_list.remove(mac);
}

QMap<quint64, CStuInfo_PTR> QStudentManage::allMachines() const
{
    std::lock_guard<std::mutex> lock(machine_mutex);
    return machines;
}

QMap<quint64, CStuInfo_PTR> QStudentManage::ungroupedMachines() const
{
    std::lock_guard<std::mutex> lock(machine_mutex);
    QMap<quint64, CStuInfo_PTR> ungrouped;
    for (auto it = machines.cbegin(); it != machines.cend(); ++it) {
        if (it.value()->group_name.isEmpty())
            ungrouped.insert(it.key(), it.value());
    }
    return ungrouped;
}

QList<CStuInfo_PTR> QStudentManage::machinesByMac(const QList<quint64>& macs) const
{
    std::lock_guard<std::mutex> lock(machine_mutex);
    QList<CStuInfo_PTR> found;
    for (quint64 mac : macs) {
        const auto it = machines.constFind(mac);
        if (it != machines.cend())
            found.append(it.value());
    }
    return found;
}

int QStudentManage::machineCount() const
{
    std::lock_guard<std::mutex> lock(machine_mutex);
    return machines.size();
}

QList<QStudentManage::JoinTarget> QStudentManage::onlineMachinesAfter(quint64& cursor, int count) const
{
    QList<JoinTarget> targets;
    // group_name is written under the group lock only.
    std::lock_guard<std::mutex> groupLock(group_mutex);
    std::lock_guard<std::mutex> lock(machine_mutex);
    if (machines.isEmpty())
        return targets;
    count = std::min(count, int(machines.size()));
    auto it = machines.upperBound(cursor);
    for (int i = 0; i < count; ++i, ++it) {
        if (it == machines.cend())
            it = machines.cbegin();
        const CStuInfo& record = *it.value();
        cursor = it.key();
        if (record.online.load() && record.address.load() != 0)
            targets.append({ it.key(), record.address.load(), record.group_name });
        if (const uint32_t claimant = record.claimant.load())
            targets.append({ it.key(), claimant, record.group_name });
    }
    return targets;
}

QString QStudentManage::groupNameOfMachine(quint64 mac) const
{
    std::lock_guard<std::mutex> lock(group_mutex);
    // Asked for every datagram: a known machine's record carries its group
    // (kept under the group lock), so the groups are searched only for a MAC
    // that a stored group holds before the machine is heard.
    {
        std::lock_guard<std::mutex> machineLock(machine_mutex);
        const auto it = machines.constFind(mac);
        if (it != machines.cend())
            return it.value()->group_name;
    }
    return groupNameLocked(mac);
}

QString QStudentManage::groupNameLocked(quint64 mac) const
{
    for (const CStudentGroup_PTR& group : groups) {
        if (group->ullmac_list.contains(mac))
            return group->group_name;
    }
    return QString();
}

QList<CStudentGroup_PTR> QStudentManage::sortedGroups() const
{
    QList<CStudentGroup_PTR> sorted;
    {
        std::lock_guard<std::mutex> lock(group_mutex);
        sorted = groups.values();
    }
    std::sort(sorted.begin(), sorted.end(),
        [](const CStudentGroup_PTR& a, const CStudentGroup_PTR& b) { return CStudentGroup::showsBefore(*a, *b); });
    return sorted;
}

QStringList QStudentManage::groupNames() const
{
    QStringList names;
    for (const CStudentGroup_PTR& group : sortedGroups())
        names << group->group_name;
    return names;
}

bool QStudentManage::addGroup(const QString& name, int displayOrder)
{
    if (name.isEmpty() || CStudentGroup::isReservedName(name))
        return false;
    std::lock_guard<std::mutex> lock(group_mutex);
    if (groups.contains(name))
        return false;
    auto group = std::make_shared<CStudentGroup>();
    group->group_name = name;
    group->display_order = displayOrder;
    group->is_global = false;
    groups.insert(name, group);
    return true;
}

void QStudentManage::removeGroup(const QString& name)
{
    {
        std::lock_guard<std::mutex> lock(group_mutex);
        const auto it = groups.constFind(name);
        if (it != groups.cend()) {
            for (quint64 mac : it.value()->ullmac_list) {
                const CStuInfo_PTR record = findMachine(mac);
                if (record && record->group_name == name)
                    record->group_name.clear();
            }
        }
        groups.remove(name);
    }
    // Outside the lock: the network thread needs it for every datagram and
    // must not wait out a busy database.
    if (db_read)
        noteWrite(data_store.removeGroup(name));
}

bool QStudentManage::renameGroup(const QString& from, const QString& to)
{
    if (to.isEmpty() || CStudentGroup::isReservedName(to))
        return false;
    std::lock_guard<std::mutex> lock(group_mutex);
    const auto it = groups.find(from);
    if (it == groups.end() || groups.contains(to))
        return false;
    const CStudentGroup_PTR group = it.value();
    groups.erase(it);
    group->group_name = to;
    groups.insert(to, group);
    for (quint64 mac : std::as_const(group->ullmac_list)) {
        const CStuInfo_PTR record = findMachine(mac);
        if (record && record->group_name == from)
            record->group_name = to;
    }
    return true;
}

void QStudentManage::setGroupOrders(const QStringList& names)
{
    std::lock_guard<std::mutex> lock(group_mutex);
    for (int i = 0; i < names.size(); ++i) {
        const auto it = groups.constFind(names.at(i));
        if (it != groups.cend())
            it.value()->display_order = i + 1;
    }
}

bool QStudentManage::moveMachineToGroup(const QString& groupName, quint64 mac)
{
    if (groupName.isEmpty() || mac == 0)
        return false;
    // One hold of the group lock, so the target cannot vanish between the
    // check and the insert and a refused move leaves the old group intact.
    std::lock_guard<std::mutex> lock(group_mutex);
    const auto target = groups.constFind(groupName);
    if (target == groups.cend())
        return false;
    const CStuInfo_PTR record = findMachine(mac);
    if (record && !record->group_name.isEmpty()) {
        const auto old = groups.constFind(record->group_name);
        if (old != groups.cend())
            old.value()->ullmac_list.remove(mac);
        record->group_name.clear();
    }
    if (record) {
        record->group_name = groupName;
        if (!record->ever_grouped.exchange(true))
            --never_grouped;
    }
    target.value()->ullmac_list.insert(mac);
    return true;
}

bool QStudentManage::removeMachineFromGroup(const QString& groupName, quint64 mac)
{
    if (groupName.isEmpty() || mac == 0)
        return false;
    std::lock_guard<std::mutex> lock(group_mutex);
    const auto group = groups.constFind(groupName);
    if (group == groups.cend())
        return false;
    group.value()->ullmac_list.remove(mac);
    // A machine that sits in another group keeps that membership.
    const CStuInfo_PTR record = findMachine(mac);
    if (record && record->group_name == groupName)
        record->group_name.clear();
    return true;
}

bool QStudentManage::saveStringItems(const StringItemList& items, int itemType)
{
    if (itemType < QtDoubleIntStringItem::ForbiddenTitles || itemType > QtDoubleIntStringItem::Reserved)
        return false;
    if (!db_read)
        return false;
    return noteWrite(data_store._saveIntStringItems(itemType, items));
}

QDataHelper& QStudentManage::store()
{
    return data_store;
}

void QStudentManage::run()
{
    ++active_workers;
    if (!running.load()) {
        --active_workers;
        return;
    }
    // Ticks keep a fixed schedule, so a slow scan does not stretch the
    // off-line time-out. After a stall the schedule restarts from now: ticks
    // that were missed are never counted in a burst, which would declare
    // machines off line that were only not heard while nobody listened.
    constexpr auto tick = std::chrono::milliseconds(TickMs);
    auto due = std::chrono::steady_clock::now() + tick;
    while (running.load()) {
        {
            std::unique_lock<std::mutex> lock(wake_mutex);
            if (manual_ticks)
                wake.wait(lock, [this] { return ticks_done != ticks_asked || !running.load(); });
            else
                wake.wait_until(lock, due, [this] { return !running.load(); });
        }
        if (!running.load())
            break;
        due += tick;
        const auto now = std::chrono::steady_clock::now();
        if (due <= now)
            due = now + tick;

        // The only allocation of a tick is this list, and only when a
        // machine has just gone off line.
        QList<CStuInfo_PTR> changed;
        {
            std::lock_guard<std::mutex> lock(machine_mutex);
            for (const CStuInfo_PTR& record : std::as_const(machines)) {
                // A conflict lasts while the other address is heard.
                if (record->claimant.load() != 0
                    && ++record->claimant_missed_ticks >= static_cast<uint32_t>(OfflineTicks))
                    record->claimant.store(0);
                if (!record->online.load())
                    continue;
                const uint32_t ticks = ++record->missed_ticks;
                if (ticks >= static_cast<uint32_t>(OfflineTicks))
                    record->online.store(false);
                if (ticks == static_cast<uint32_t>(OfflineTicks)) {
                    record->missed_ticks.store(0);
                    record->markDead();
                    changed.append(record);
                }
            }
        }
        if (!changed.isEmpty())
            emit sg_state_changed_machines(changed, QPrivateSignal());
        if (manual_ticks) {
            std::lock_guard<std::mutex> lock(wake_mutex);
            ++ticks_done;
            wake.notify_all();
        }
    }
    --active_workers;
}

void QStudentManage::tick()
{
    if (!manual_ticks)
        return;
    std::unique_lock<std::mutex> lock(wake_mutex);
    const uint64_t asked = ++ticks_asked;
    wake.notify_all();
    wake.wait(lock, [&] { return ticks_done >= asked || !running.load(); });
}

void QStudentManage::loadMachines()
{
    if (!db_ok)
        return;
    std::lock_guard<std::mutex> lock(machine_mutex);
    machines.clear();
    per_address.clear();
    bool ok = false;
    const QMap<quint64, Machine_PTR> stored = data_store.loadMachineList(&ok);
    if (!ok) {
        db_ok = false;
        db_error = QStringLiteral("无法读取数据库文件“%1”：%2")
                       .arg(QDir::toNativeSeparators(connection.databaseName()), data_store.lastError());
        return;
    }
    for (const Machine_PTR& machine : stored) {
        // A name stored before names were cleaned is mended here; the next
        // save writes the mended name.
        machine->hostname = HostName::clean(machine->hostname);
        const CStuInfo_PTR record = machine->toStuInfo();
        record->address.store(Protocol::addressFromText(record->ip));
        record->stored_address.store(record->address.load());
        countAddress(record->ip, 1);
        machines.insert(machine->ullmac, record);
    }
    recountNeverGrouped();
}

void QStudentManage::loadGroups()
{
    bool ok = false;
    const QList<CStudentGroup_PTR> stored = data_store.loadGroupList(&ok);
    if (!ok && db_ok) {
        db_ok = false;
        db_error = QStringLiteral("无法读取数据库文件“%1”：%2")
                       .arg(QDir::toNativeSeparators(connection.databaseName()), data_store.lastError());
    }

    std::lock_guard<std::mutex> groupLock(group_mutex);
    std::lock_guard<std::mutex> machineLock(machine_mutex);
    groups.clear();
    for (const CStudentGroup_PTR& group : stored) {
        if (group->is_global)
            continue;
        groups.insert(group->group_name, group);
        for (quint64 mac : std::as_const(group->ullmac_list)) {
            const auto it = machines.constFind(mac);
            if (it != machines.cend()) {
                it.value()->group_name = group->group_name;
                it.value()->ever_grouped.store(true);
            }
        }
    }
    recountNeverGrouped();
}

bool QStudentManage::saveMachines()
{
    // Only the copy is made under the lock: the network thread looks up a
    // machine for every datagram and must not wait for the disk.
    QList<Machine_PTR> list;
    {
        std::lock_guard<std::mutex> lock(machine_mutex);
        list.reserve(machines.size());
        for (const CStuInfo_PTR& record : std::as_const(machines))
            list.append(Machine::fromStuInfo(*record));
    }
    return data_store.saveMachineList(list);
}

bool QStudentManage::saveGroups()
{
    // Copies, because the member sets change under the group lock only.
    QList<CStudentGroup_PTR> list;
    {
        std::lock_guard<std::mutex> lock(group_mutex);
        list.reserve(groups.size());
        for (const CStudentGroup_PTR& group : std::as_const(groups))
            list.append(std::make_shared<CStudentGroup>(*group));
    }
    return data_store.saveGroupList(list);
}

void QStudentManage::closeDatabase()
{
    db_ok = false;
    db_read = false;
    data_store.setDatabase(QSqlDatabase());
    if (connection.isValid() && connection.isOpen())
        connection.close();
    connection = QSqlDatabase();
    if (QSqlDatabase::contains(connection_name))
        QSqlDatabase::removeDatabase(connection_name);
}
