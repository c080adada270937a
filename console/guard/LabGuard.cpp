#include "guard/LabGuard.h"

#include "ConsoleCore.h"
#include "WindowParts.h"
#include "ui_RokVtxAdmin.h"
#include "app/TrayIcon.h"
#include "groups/MachineMenu.h"
#include "log/EventLog.h"
#include <QStatusBar>

#include "core/MachineIdentity.h"
#include "core/Protocol.h"
#include "core/QStudentManage.h"
#include "core/UdpServer.h"
#include "groups/GroupOperations.h"
#include "guard/SecurityMonitor.h"
#include "pages/QStudentGroupWidget.h"

#include <QAction>
#include <QDateTime>
#include <QMenu>
#include <QTimer>

#include <algorithm>
#include <array>
#include <chrono>
#include <vector>

LabGuard::LabGuard(QStudentManage& registry, PageDirectory& pages, UdpServer& server, EventLogStore* log,
                   QObject* parent)
    : QObject(parent)
    , registry(registry)
    , pages(pages)
    , server(server)
    , port_watch(Protocol::ConsolePort)
{
    join_repeater = std::make_unique<JoinRepeater>(registry, [this](const std::vector<JoinRepeater::Join>& joins) {
        std::vector<std::array<char, 8>> bytes(joins.size());
        std::vector<UdpServer::Outgoing> batch(joins.size());
        for (size_t i = 0; i < joins.size(); ++i) {
            const QByteArray join = Protocol::buildJoinGroup(joins[i].group);
            std::copy_n(join.constData(), bytes[i].size(), bytes[i].begin());
            batch[i] = { bytes[i].data(), int(bytes[i].size()), joins[i].agent, Protocol::AgentPort };
        }
        this->server.sendBatch(batch.data(), batch.size());
    });
    // The sweep's own bytes pay for the lock words that follow it.
    join_repeater->setSweepGate(
        [this](int joins, JoinRepeater::Clock::time_point now) { return budget.spendWhole(sweepBytes(joins), now); });
    join_repeater->setSweptCallback([this] {
        port_watch.noteSwept(AgentPortWatch::Clock::now());
        resendPageState(0, true, false);
    });

    security = new SecurityMonitor(registry, log, this);
    security->setSenderCounter(&port_watch.senders());
    connect(security, &SecurityMonitor::sg_alert, this, &LabGuard::sg_alert);
    hits_timer = new QTimer(this);
    hits_timer->setInterval(1000);
    connect(hits_timer, &QTimer::timeout, this, &LabGuard::reportRoomHits);
}

LabGuard::~LabGuard()
{
    stop();
}

void LabGuard::repeatJoins()
{
    // Benchmarks weigh the repeated joins' cost.
    const bool repeat = qEnvironmentVariableIsEmpty("ROK_BENCH_NO_JOIN_REPEAT");
    server.setTimer(std::chrono::milliseconds(JoinRepeater::SliceMs), [this, repeat] {
        const auto now = JoinRepeater::Clock::now();
        if (repeat)
            join_repeater->tick(now);
        updateBudget(now);
    });
}

bool LabGuard::watchAgentPort()
{
    AgentPortWatch::Callbacks callbacks;
    callbacks.answer = [this](uint32_t group, bool lock, bool policy) { resendPageState(group, lock, policy); };
    callbacks.sendTo = [this](uint32_t group, const QByteArray& datagram) { send(group, datagram); };
    callbacks.joinSeen = [this] { join_repeater->requestSweep(); };
    callbacks.senderSeen = [this](uint32_t sender, AgentPortWatch::Kind kind, bool forged, uint32_t destination) {
        QMetaObject::invokeMethod(
            security,
            [this, sender, kind, forged, destination] {
                security->noteForeignSender(sender, kind, pageAimedAt(destination), forged);
            },
            Qt::QueuedConnection);
    };
    port_watch.setCallbacks(std::move(callbacks));
    port_watch.setBudget(&budget);
    updateBudget(AnswerBudget::Clock::now());
    hits_timer->start();
    return port_watch.open(Protocol::AgentPort);
}

void LabGuard::stop()
{
    port_watch.stop();
}

void LabGuard::setGroupAddresses(const PageDirectory::Addresses& addresses)
{
    join_repeater->setGroupAddresses(addresses.groups, addresses.ungrouped);
    port_watch.setGroups(addresses.all);
    page_groups.store(addresses.all.size());
}

void LabGuard::noteSent(uint32_t address, const QByteArray& datagram)
{
    port_watch.noteSent(address, datagram, AgentPortWatch::Clock::now());
}

void LabGuard::send(uint32_t group, const QByteArray& datagram)
{
    if (datagram.isEmpty())
        return;
    noteSent(group, datagram);
    server.sendto(datagram.constData(), datagram.size(), group, Protocol::AgentPort);
}

QString LabGuard::pageAimedAt(uint32_t destination) const
{
    if (destination != 0)
        for (QStudentGroupWidget* page : pages.groupPages())
            if (page->group_addr.load() == destination)
                return pages.nameOf(page);
    return SecurityRowBudget::EveryPage;
}

void LabGuard::resendPageState(uint32_t group, bool lock, bool policy)
{
    // Under the directory's lock the pages cannot be destroyed meanwhile.
    const PageDirectory::Guarded directory = pages.guarded();
    for (QStudentGroupWidget* page : directory.pagesAt(group)) {
        const uint32_t address = page->group_addr.load();
        if (lock)
            send(address, page->lockDatagramCopy());
        if (policy)
            send(address, page->policyDatagramCopy());
    }
}

int LabGuard::sweepBytes(int joins) const
{
    return (joins + page_groups.load()) * AnswerBudget::wireBytes(8);
}

void LabGuard::updateBudget(AnswerBudget::Clock::time_point now)
{
    // Per second: the pages' words, the joins of a period, two beacons.
    const double rate = port_watch.repetitionBytesPerSecond()
        + join_repeater->joinsPerPeriod() * AnswerBudget::wireBytes(8) * 1000.0 / JoinRepeater::PeriodMs
        + 2 * AnswerBudget::wireBytes(4);
    budget.setRate(rate, rate * BudgetSeconds + sweepBytes(registry.machineCount()), now);
}

void LabGuard::reportRoomHits()
{
    const QHash<uint32_t, int> hits = port_watch.takeHits();
    if (hits.isEmpty())
        return;
    QList<QPair<QString, int>> rooms;
    {
        const PageDirectory::Guarded directory = pages.guarded();
        for (auto it = hits.cbegin(); it != hits.cend(); ++it)
            for (QStudentGroupWidget* page : directory.pagesAt(it.key()))
                rooms << qMakePair(page->page_name, it.value());
    }
    for (const auto& room : std::as_const(rooms))
        security->noteRoomUnderAttack(room.first, room.second);
}

LabGuard::Verdict LabGuard::screen(const CStuInfo_PTR& known, quint64 mac, uint32_t id, uint32_t source)
{
    if (!known)
        return Verdict::Accept;
    using Claim = MachineIdentity::Claim;
    const NeighbourTable::Verdict seen = neighbours.check(source, mac);
    if (id != Protocol::MSG_STU_REGISTER) {
        switch (MachineIdentity::signOfLife(*known, source, seen)) {
        case Claim::Same:
            if (!known->heard_again.load())
                known->heard_again.store(true);
            return Verdict::Accept;
        case Claim::Forged:
            tellForged(mac, source);
            return Verdict::Drop;
        default:
            // The claimant of a conflict keeps it alive; anyone else is
            // asked to register, and so to show itself.
            if (source == known->claimant.load()) {
                known->claimant_missed_ticks.store(0);
                return Verdict::Drop;
            }
            return Verdict::Reregister;
        }
    }
    const bool grouped = !registry.groupNameOfMachine(mac).isEmpty();
    switch (MachineIdentity::registration(*known, source, grouped, seen)) {
    case Claim::Same:
        if (!known->heard_again.load())
            known->heard_again.store(true);
        return Verdict::Accept;
    case Claim::Forged:
        tellForged(mac, source);
        return Verdict::Drop;
    case Claim::Conflict:
        claimed(known, source);
        return Verdict::Drop;
    case Claim::Moved:
        break;
    }
    const uint32_t recorded = known->address.load();
    // Back at its stored address a machine is not counted against the
    // address's share; elsewhere (a DHCP move) it is.
    if (source != known->stored_address.load() && !admitMove(mac, source))
        return Verdict::Drop;
    // Its datagrams come from here from now on (the texts follow on the UI
    // thread); the old address, if it is still heard, claims the MAC.
    known->address.store(source);
    if (known->online.load() && recorded != 0)
        claimed(known, recorded);
    return Verdict::Accept;
}

QStudentManage::Admission LabGuard::admitMachine(quint64 mac, const QString& hostName, const QString& ip)
{
    const uint32_t source = Protocol::addressFromText(ip);
    if (forged(mac, source))
        return {};
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    const RegistrationGate::Verdict verdict
        = registration_gate.admit(mac, source, registry.machinesAtAddress(source), now);
    if (verdict == RegistrationGate::Verdict::AddressFull || verdict == RegistrationGate::Verdict::TooFast) {
        tellRefused(source, verdict);
        return {};
    }
    QStudentManage::Admission admission = registry.admitMachine(mac, hostName, ip,
        registration_gate.isRetrying(mac, source, now), verdict == RegistrationGate::Verdict::MakeRoom);
    if (!admission.machine) {
        registration_gate.refused(mac, source, now);
        tellRefused(source, admission.refusal);
    } else if (admission.quotaReached) {
        tellRefused(source, QStudentManage::Admission::Refusal::Quota);
    }
    return admission;
}

RegistrationAnswer::Answer LabGuard::answerRegistration(
    const CStuInfo_PTR& known, const char* payload, int len, const QString& ip)
{
    if (!known)
        return { true, true };
    return RegistrationAnswer::answer(*known,
        RegistrationAnswer::fingerprint(payload, len, Protocol::addressFromText(ip)),
        QDateTime::currentMSecsSinceEpoch());
}

bool LabGuard::admitMove(quint64 mac, uint32_t source)
{
    const RegistrationGate::Verdict verdict = registration_gate.admit(
        mac, source, registry.machinesAtAddress(source), QDateTime::currentMSecsSinceEpoch());
    if (verdict == RegistrationGate::Verdict::Admitted)
        return true;
    tellRefused(source, verdict == RegistrationGate::Verdict::TooFast ? verdict : RegistrationGate::Verdict::AddressFull);
    return false;
}

void LabGuard::tellRefused(uint32_t source, RegistrationGate::Verdict verdict)
{
    // A full address is told by address; the rate, from whatever addresses
    // a flood uses, in one row.
    if (verdict == RegistrationGate::Verdict::TooFast) {
        tellRefusedAtBound(SecurityMonitor::RateKey);
        return;
    }
    if (security->refusalCounter().hit(source, QDateTime::currentMSecsSinceEpoch()).first)
        QMetaObject::invokeMethod(
            security, [this, source] { security->noteRefusedRegistrations(source); }, Qt::QueuedConnection);
}

void LabGuard::tellRefusedAtBound(quint64 key)
{
    if (security->refusalCounter().hit(key, QDateTime::currentMSecsSinceEpoch()).first)
        QMetaObject::invokeMethod(
            security, [this, key] { security->noteRefusedAtBound(key); }, Qt::QueuedConnection);
}

void LabGuard::tellRefused(uint32_t source, QStudentManage::Admission::Refusal refusal)
{
    using Refusal = QStudentManage::Admission::Refusal;
    if (refusal == Refusal::AddressFull) {
        tellRefused(source, RegistrationGate::Verdict::AddressFull);
        return;
    }
    // One summarised row for every refusal at a bound, whatever the address.
    tellRefusedAtBound(refusal == Refusal::Full ? SecurityMonitor::RegistryFullKey : SecurityMonitor::QuotaKey);
}

bool LabGuard::forged(quint64 mac, uint32_t source)
{
    if (neighbours.check(source, mac) != NeighbourTable::Verdict::Other)
        return false;
    tellForged(mac, source);
    return true;
}

void LabGuard::tellForged(quint64 mac, uint32_t source)
{
    if (security->forgeryCounter()
            .hit(SecurityMonitor::forgeryKey(mac, source), QDateTime::currentMSecsSinceEpoch())
            .first)
    {
        const quint64 other = neighbours.macAt(source);
        QMetaObject::invokeMethod(
            security, [this, mac, source, other] { security->noteForged(mac, source, other); },
            Qt::QueuedConnection);
    }
}

void LabGuard::claimed(const CStuInfo_PTR& known, uint32_t source)
{
    known->claimant_missed_ticks.store(0);
    const uint32_t before = known->claimant.exchange(source);
    const uint32_t recorded = known->address.load();
    const quint64 mac = known->ullmac;
    if (security->conflictCounter()
            .hit(SecurityMonitor::conflictKey(mac, recorded, source), QDateTime::currentMSecsSinceEpoch())
            .first)
        QMetaObject::invokeMethod(
            security, [this, mac, recorded, source] { security->noteConflict(mac, recorded, source); },
            Qt::QueuedConnection);
    if (before != source)
        showStateOf(known);
    // Every PC that claims a grouped identity gets the room's state.
    sendGroupJoin(mac, source);
}

void LabGuard::sendGroupJoin(quint64 mac, uint32_t agent)
{
    const QString group = registry.groupNameOfMachine(mac);
    uint32_t address = 0;
    {
        const PageDirectory::Guarded directory = pages.guarded();
        QStudentGroupWidget* page = group.isEmpty() ? nullptr : directory.groupPage(group);
        if (!page)
            page = directory.ungrouped();
        if (page)
            address = page->group_addr.load();
    }
    if (address == 0)
        return;
    const QByteArray join = Protocol::buildJoinGroup(address);
    server.sendto(join.constData(), join.size(), agent, Protocol::AgentPort);
}

void LabGuard::showStateOf(const CStuInfo_PTR& machine)
{
    QMetaObject::invokeMethod(
        this,
        [this, machine] {
            if (registry.findMachine(machine->ullmac) != machine)
                return;
            // Rows already shown only (see GroupOperations::renameMachine).
            for (QStudentGroupWidget* page : { pages.pageAt(0), pages.pageOf(machine) })
                if (page && page->rowOfMachine(machine->ullmac) >= 0)
                    page->updateMachineRow(machine, QStudentGroupWidget::ColumnState);
        },
        Qt::QueuedConnection);
}

void LabGuard::attachMachineMenu(QMenu* menu, std::function<QList<quint64>()> targets, GroupOperations* operations)
{
    QAction* adopt = menu->addAction(QStringLiteral("采用新地址(&N)"));
    connect(adopt, &QAction::triggered, this, [this, targets, operations] {
        const QList<quint64> macs = targets();
        if (macs.size() == 1)
            if (const CStuInfo_PTR machine = registry.findMachine(macs.first()))
                operations->adoptAddress(machine);
    });
    connect(menu, &QMenu::aboutToShow, this, [this, adopt, targets] {
        const QList<quint64> macs = targets();
        const CStuInfo_PTR machine = macs.size() == 1 ? registry.findMachine(macs.first()) : nullptr;
        const uint32_t claimant = machine ? machine->claimant.load() : 0;
        adopt->setEnabled(claimant != 0);
        adopt->setText(claimant != 0
                ? QStringLiteral("采用新地址 %1(&N)").arg(Protocol::addressToText(claimant))
                : QStringLiteral("采用新地址(&N)"));
    });
}

bool LabGuard::admitMachineEvent(const CStuInfo_PTR& machine)
{
    return security->admitMachineEvent(machine->address.load());
}

void LabGuard::attach(ConsoleCore& core, WindowParts& parts)
{
    auto* guard = new LabGuard(core.registry(), core.pages(), parts.endpoint, &parts.log->store(), parts.window);
    parts.guard = guard;
    parts.log->setMachineEventFilter([guard](const CStuInfo_PTR& machine) { return guard->admitMachineEvent(machine); });
    QStatusBar* status = parts.form.statusBar;
    TrayIcon* tray = parts.tray;
    connect(guard, &LabGuard::sg_alert, guard, [status, tray](const QString& title, const QString& text) {
        status->showMessage(text, 15000);
        tray->alert(title, text);
    });
    connect(&parts, &WindowParts::sg_published, guard, &LabGuard::setGroupAddresses);
    connect(&core.groups(), &GroupOperations::sg_changed, guard, [guard](const GroupChange& change) {
        if (change.machine)
            guard->monitor()->noteMachineNamed(change.machine);
    });
    MachineMenu* menu = parts.machineMenu;
    guard->attachMachineMenu(menu->menu(), [menu] { return menu->targets(); }, &core.groups());
}
