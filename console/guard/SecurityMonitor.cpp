#include "SecurityMonitor.h"

#include "AgentPortWatch.h"
#include "EventLogStore.h"
#include "MacAddress.h"
#include "Protocol.h"
#include "QStudentManage.h"
#include "RegistrationGate.h"

#include <QDateTime>

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
}

void SecurityMonitor::setSenderCounter(RepeatCounter* senders_)
{
    senders = senders_;
}

QString SecurityMonitor::machineAt(uint32_t address, quint64* mac) const
{
    const QMap<quint64, CStuInfo_PTR> machines = registry.allMachines();
    for (const CStuInfo_PTR& machine : machines)
        if (machine->address.load() == address) {
            if (mac)
                *mac = machine->ullmac;
            return machine->hostname.isEmpty() ? MacAddress::toDisplay(machine->ullmac) : machine->hostname;
        }
    return QString();
}

void SecurityMonitor::noteForeignSender(uint32_t sender, int kind, bool forged)
{
    quint64 mac = 0;
    QString machine;
    QString text;
    if (forged) {
        text = QStringLiteral("来源地址伪造：冒用教师端地址 %1").arg(Protocol::addressToText(sender));
    } else {
        machine = machineAt(sender, &mac);
        QString who = Protocol::addressToText(sender);
        if (!machine.isEmpty())
            who += QStringLiteral("（%1）").arg(machine);
        text = QStringLiteral("发现其他教师端：%1").arg(who);
    }
    const QString detail = QStringLiteral("%1，首条为%2").arg(text, kindText(kind));
    addRow(sender_rows, AgentPortWatch::senderKey(sender, forged), mac, machine, detail);
    emit sg_alert(AlertTitle, text);
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
    if (log) {
        if (begins)
            attack.handle = log->addCounted(EventLogStore::Security, room, 0, QString(), text);
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
    addRow(conflict_rows, conflictKey(mac, recorded, claimed), mac, name, detail);
    emit sg_alert(AlertTitle,
        QStringLiteral("身份冲突：%1 同时出现在 %2 和 %3")
            .arg(who, Protocol::addressToText(recorded), Protocol::addressToText(claimed)));
}

void SecurityMonitor::noteForged(quint64 mac, uint32_t source, quint64 other)
{
    const CStuInfo_PTR machine = registry.findMachine(mac);
    const QString name = machine ? machine->hostname : QString();
    const QString detail = QStringLiteral("伪造：%1 发来 MAC %2 的数据，但本机网卡表中该地址属于 %3：已忽略")
                               .arg(Protocol::addressToText(source), MacAddress::toDisplay(mac),
                                   MacAddress::toDisplay(other));
    addRow(forgery_rows, forgeryKey(mac, source), mac, name, detail);
    emit sg_alert(AlertTitle,
        QStringLiteral("伪造的来源地址：%1 冒用 %2")
            .arg(Protocol::addressToText(source), name.isEmpty() ? MacAddress::toDisplay(mac) : name));
}

void SecurityMonitor::noteRefusedRegistrations(uint32_t address)
{
    const QString detail = QStringLiteral("%1 注册的机器超过每个地址 %2 台：未接受")
                               .arg(Protocol::addressToText(address))
                               .arg(RegistrationGate::MaxPerAddress);
    addRow(refusal_rows, address, 0, QString(), detail);
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
    addRow(refusal_rows, key, 0, QString(), detail);
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
        addRow(burst_rows, address, 0, QString(),
            QStringLiteral("%1 的机器一分钟内上线、离线或注册超过 %2 次，其余只计数")
                .arg(Protocol::addressToText(address))
                .arg(MachineEventsPerMinute));
    return false;
}

void SecurityMonitor::addRow(QHash<quint64, Row>& rows, quint64 key, quint64 mac, const QString& machine,
    const QString& detail)
{
    bound(rows);
    if (log)
        rows.insert(key, { log->addCounted(EventLogStore::Security, QString(), mac, machine, detail), detail });
    count_timer->start();
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
        }
    };
    update(senders, sender_rows, QStringLiteral("条"));
    update(&conflicts, conflict_rows, QStringLiteral("次"));
    update(&forgeries, forgery_rows, QStringLiteral("次"));
    update(&refusals, refusal_rows, QStringLiteral("次"));
    update(&machine_events, burst_rows, QStringLiteral("次"));
}
