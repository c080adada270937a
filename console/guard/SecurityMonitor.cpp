#include "guard/SecurityMonitor.h"

#include "core/AgentPortWatch.h"
#include "core/Protocol.h"
#include "core/QStudentManage.h"
#include "core/RegistrationGate.h"
#include "model/MacAddress.h"
#include "pages/PageDirectory.h"
#include "storage/EventLogStore.h"

#include <QDateTime>
#include <QSet>

#include <QTimer>

namespace {

const QString AlertTitle = QStringLiteral("安全警告");

QString kindText(int kind)
{
    switch (kind) {
    case AgentPortWatch::LockState:
        return QStringLiteral("锁定状态");
    case AgentPortWatch::Policy:
        return QStringLiteral("策略");
    case AgentPortWatch::JoinGroup:
        return QStringLiteral("分组通知");
    case AgentPortWatch::Reregister:
        return QStringLiteral("重新注册请求");
    default:
        return QStringLiteral("广播");
    }
}

// Datagrams of a sender, tries of a pair of addresses.
QString withCount(const QString& detail, quint64 count, const QString& unit)
{
    return count > 1 ? QStringLiteral("%1（共 %2 %3）").arg(detail).arg(count).arg(unit) : detail;
}

// Rows of senders long gone are only forgotten in bulk: their counts stop.
template <typename Map> void bound(Map& rows)
{
    if (rows.size() > 4 * SecurityMonitor::MaxPairs)
        rows.clear();
}

} // namespace

SecurityMonitor::SecurityMonitor(const QStudentManage& registry_, EventLogStore* log_, QObject* parent)
    : QObject(parent)
    , registry(registry_)
    , log(log_)
    , count_timer(new QTimer(this))
{
    count_timer->setInterval(CountUpdateMs);
    connect(count_timer, &QTimer::timeout, this, &SecurityMonitor::updateCounts);
    // The names known at start are marked; their rows were written when
    // they first met.
    const QMap<quint64, CStuInfo_PTR> machines = registry.allMachines();
    for (const CStuInfo_PTR& machine : machines)
        for (const quint64 other : names.rename(machine->ullmac, machine->hostname)) {
            markAlike(other);
            markAlike(machine->ullmac);
        }
}

void SecurityMonitor::setSenderCounter(RepeatCounter* senders_)
{
    senders = senders_;
}

QString SecurityMonitor::machineAt(uint32_t address) const
{
    // Made-up sources are many and mostly nobody's: no walk for them.
    if (registry.machinesAtAddress(address) == 0)
        return QString();
    const QMap<quint64, CStuInfo_PTR> machines = registry.allMachines();
    for (const CStuInfo_PTR& machine : machines)
        if (machine->address.load() == address)
            return machine->hostname.isEmpty() ? MacAddress::toDisplay(machine->ullmac) : machine->hostname;
    return QString();
}

void SecurityMonitor::noteForeignSender(uint32_t sender, int kind, const QString& page, bool forged)
{
    const quint64 key = AgentPortWatch::senderKey(sender, forged);
    const Unrecorded aim { page, kind };
    if (recordSender(key, aim, SecurityRowBudget::Source::New, 1))
        return;
    bound(unrecorded_senders);
    unrecorded_senders.insert(key, aim);
}

// The machine at the sender's address is named as its owner, not as the
// sender: anyone can write that address into a datagram. The row names no
// machine.
bool SecurityMonitor::recordSender(quint64 key, const Unrecorded& aim, SecurityRowBudget::Source source, quint64 count)
{
    const uint32_t sender = uint32_t(key);
    const QString address = Protocol::addressToText(sender);
    const bool forged = key >> 32 != 0;
    const QString what = forged ? QStringLiteral("来源地址伪造") : QStringLiteral("发现其他教师端");
    const QString who = forged ? QStringLiteral("冒用教师端地址 %1").arg(address)
                               : SecurityRowBudget::source(address, machineAt(sender));
    QString detail = QStringLiteral("%1：%2").arg(what, who);
    if (aim.kind >= 0)
        detail += QStringLiteral("，首条为%1").arg(kindText(aim.kind));
    if (!addRow(&sender_rows, key, aim.page, 0, QString(), detail, source))
        return false;
    if (count > 1 && log)
        log->updateDetail(sender_rows.value(key).handle, withCount(detail, count, QStringLiteral("条")));
    emit sg_alert(AlertTitle, QStringLiteral("%1（发往%2）：%3").arg(what, aim.page, who));
    return true;
}

void SecurityMonitor::noteRoomUnderAttack(const QString& room, int perSecond)
{
    if (perSecond <= 0)
        return;
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    bound(room_attacks);
    RoomAttack& attack = room_attacks[room];
    const bool begins = attack.alerted == 0 || now - attack.last_ms > RoomQuietMs;
    attack.last_ms = now;
    if (!begins && perSecond < 2 * attack.alerted)
        return;
    attack.alerted = perSecond;
    const QString text = QStringLiteral("%1正被解锁：每秒 %2 次").arg(room).arg(perSecond);
    // One row a room and attack: never held back by the made-up sources
    // that may come with it.
    if (log) {
        if (begins)
            attack.handle = log->addCounted(
                EventLogStore::Security, room, 0, QString(), text, SecurityRowBudget::Source::Bounded);
        else
            log->updateDetail(attack.handle, text);
    }
    emit sg_alert(AlertTitle, text);
}

void SecurityMonitor::noteConflict(quint64 mac, uint32_t recorded, uint32_t claimed)
{
    const CStuInfo_PTR machine = registry.findMachine(mac);
    const QString name = machine ? machine->hostname : QString();
    const QString who = name.isEmpty() ? MacAddress::toDisplay(mac) : name;
    const QString detail = QStringLiteral("身份冲突：%1（%2）同时出现在 %3 和 %4，两处都收到本组的设置")
                               .arg(who, MacAddress::toDisplay(mac), Protocol::addressToText(recorded),
                                   Protocol::addressToText(claimed));
    const QString page = machine ? PageDirectory::pageNameOf(machine) : SecurityRowBudget::EveryPage;
    if (addRow(&conflict_rows, conflictKey(mac, recorded, claimed), page, mac, name, detail))
        emit sg_alert(AlertTitle,
            QStringLiteral("身份冲突：%1 同时出现在 %2 和 %3")
                .arg(who, Protocol::addressToText(recorded), Protocol::addressToText(claimed)));
}

void SecurityMonitor::noteForged(quint64 mac, uint32_t source, quint64 other)
{
    const CStuInfo_PTR machine = registry.findMachine(mac);
    const QString name = machine ? machine->hostname : QString();
    const QString from = SecurityRowBudget::source(Protocol::addressToText(source));
    const QString detail = QStringLiteral("伪造：%1发来 MAC %2 的数据，但本机网卡表中该地址属于 %3：已忽略")
                               .arg(from, MacAddress::toDisplay(mac), MacAddress::toDisplay(other));
    const QString page = machine ? PageDirectory::pageNameOf(machine) : SecurityRowBudget::EveryPage;
    if (addRow(&forgery_rows, forgeryKey(mac, source), page, mac, name, detail))
        emit sg_alert(AlertTitle,
            QStringLiteral("伪造的来源地址：%1冒用 %2").arg(from, name.isEmpty() ? MacAddress::toDisplay(mac) : name));
}

void SecurityMonitor::noteRefusedRegistrations(uint32_t address)
{
    const QString detail = QStringLiteral("%1注册的机器超过每个地址 %2 台：未接受")
                               .arg(SecurityRowBudget::source(Protocol::addressToText(address)))
                               .arg(RegistrationGate::MaxPerAddress);
    if (addRow(&refusal_rows, address, SecurityRowBudget::EveryPage, 0, QString(), detail))
        emit sg_alert(AlertTitle, detail);
}

void SecurityMonitor::noteRefusedAtBound(quint64 key)
{
    QString detail;
    if (key == RegistryFullKey)
        detail = QStringLiteral("已知机器已达上限 %1 台：新机器的注册未被接受").arg(QStudentManage::MaxMachines);
    else if (key == QuotaKey)
        detail = QStringLiteral("从未分组的机器已达上限 %1 台：此后只接受反复注册的新机器")
                     .arg(QStudentManage::MaxNeverGrouped);
    else
        detail = QStringLiteral("新机器注册过快（每秒最多 %1 台）：部分注册未被接受").arg(RegistrationGate::MaxPerSecond);
    if (addRow(&refusal_rows, key, SecurityRowBudget::EveryPage, 0, QString(), detail))
        emit sg_alert(AlertTitle, detail);
}

bool SecurityMonitor::admitMachineEvent(uint32_t address)
{
    if (address == 0)
        return true;
    const RepeatCounter::Hit hit = machine_events.hit(address, QDateTime::currentMSecsSinceEpoch());
    // Not told apart (too many addresses at once): logged as usual.
    if (hit.count <= quint64(MachineEventsPerMinute))
        return true;
    if (hit.count == quint64(MachineEventsPerMinute) + 1)
        addRow(&burst_rows, address, SecurityRowBudget::EveryPage, 0, QString(),
            QStringLiteral("%1 的机器一分钟内上线、离线或注册超过 %2 次，其余只计数")
                .arg(Protocol::addressToText(address))
                .arg(MachineEventsPerMinute));
    return false;
}

void SecurityMonitor::noteMachineNamed(const CStuInfo_PTR& machine)
{
    const quint64 mac = machine->ullmac;
    QList<quint64> touched = names.alike(mac);
    QList<quint64> met;
    if (registry.findMachine(mac) == machine)
        met = names.rename(mac, machine->hostname);
    else
        names.remove(mac);
    touched << names.alike(mac) << mac;
    QSet<quint64> marked;
    for (const quint64 other : std::as_const(touched))
        if (!marked.contains(other)) {
            marked.insert(other);
            markAlike(other);
        }
    if (!met.isEmpty())
        addRow(nullptr, mac, PageDirectory::pageNameOf(machine), mac, machine->hostname,
            QStringLiteral("机器名“%1”与 %2相同或形近").arg(machine->hostname, namesOf(met)));
}

// A room imaged from one PC may share one name: a few are named, and the
// mark of the others stays as it is when one more comes.
QString SecurityMonitor::namesOf(const QList<quint64>& macs) const
{
    QStringList named;
    for (const quint64 mac : macs.mid(0, NamedAlike))
        if (const CStuInfo_PTR known = registry.findMachine(mac))
            named << QStringLiteral("%1（%2）").arg(known->hostname, MacAddress::toDisplay(mac));
    return named.join(QStringLiteral("、")) + (macs.size() > NamedAlike ? QStringLiteral("等") : QString());
}

void SecurityMonitor::markAlike(quint64 mac)
{
    if (const CStuInfo_PTR machine = registry.findMachine(mac))
        machine->alike_names = namesOf(names.alike(mac, NamedAlike + 1));
}

bool SecurityMonitor::addRow(QHash<quint64, Row>* rows, quint64 key, const QString& page, quint64 mac,
    const QString& machine, const QString& detail, SecurityRowBudget::Source source)
{
    if (!count_timer->isActive())
        count_timer->start();
    if (!log)
        return true;
    const qint64 handle = log->addCounted(EventLogStore::Security, page, mac, machine, detail, source);
    if (handle == EventLogStore::Summarised)
        return false;
    if (rows) {
        bound(*rows);
        rows->insert(key, { handle, detail });
    }
    return true;
}

// A sender that keeps sending gets its row, turned away before or not: on
// the page its first word went to, or on every page when a flood of made-up
// sources pushed that out of memory.
void SecurityMonitor::recordReturning(quint64 key, quint64 count)
{
    const auto aim = unrecorded_senders.constFind(key);
    const Unrecorded known = aim != unrecorded_senders.cend() ? *aim : Unrecorded { SecurityRowBudget::EveryPage, -1 };
    if (recordSender(key, known, SecurityRowBudget::Source::Returning, count))
        unrecorded_senders.remove(key);
}

void SecurityMonitor::updateCounts()
{
    if (!log)
        return;
    const auto update = [this](RepeatCounter* counter, const QHash<quint64, Row>& rows, const QString& unit) {
        if (!counter)
            return;
        for (const auto& grown : counter->takeGrown()) {
            const auto row = rows.constFind(grown.first);
            if (row != rows.cend())
                log->updateDetail(row->handle, withCount(row->detail, grown.second, unit));
            else if (&rows == &sender_rows)
                recordReturning(grown.first, grown.second);
        }
    };
    update(senders, sender_rows, QStringLiteral("条"));
    update(&conflicts, conflict_rows, QStringLiteral("次"));
    update(&forgeries, forgery_rows, QStringLiteral("次"));
    update(&refusals, refusal_rows, QStringLiteral("次"));
    update(&machine_events, burst_rows, QStringLiteral("次"));
}
