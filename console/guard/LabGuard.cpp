#include "LabGuard.h"

#include "MachineIdentity.h"
#include "Protocol.h"
#include "QStudentGroupWidget.h"
#include "QStudentManage.h"
#include "SecurityMonitor.h"
#include "UdpServer.h"

#include <QDateTime>
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
    callbacks.senderSeen = [this](uint32_t sender, AgentPortWatch::Kind kind, bool forged) {
        QMetaObject::invokeMethod(
            security, [this, sender, kind, forged] { security->noteForeignSender(sender, kind, forged); },
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

LabGuard::Verdict LabGuard::screen(const CStuInfo_PTR& known, uint32_t id, uint32_t source)
{
    if (!known)
        return admitRegistration(source) ? Verdict::Accept : Verdict::Drop;
    if (MachineIdentity::speaksFor(*known, source))
        return Verdict::Accept;
    // Another PC using this MAC: no sign of life, no policy resend.
    if (id != Protocol::MSG_STU_REGISTER)
        return Verdict::Reregister;
    if (MachineIdentity::registration(*known, source) == MachineIdentity::Registration::Refused) {
        const uint32_t recorded = known->address.load();
        const quint64 mac = known->ullmac;
        if (security->takeoverCounter()
                .hit(SecurityMonitor::pairKey(recorded, source), QDateTime::currentMSecsSinceEpoch())
                .first)
            QMetaObject::invokeMethod(
                security, [this, mac, recorded, source] { security->noteTakeover(mac, recorded, source); },
                Qt::QueuedConnection);
        return Verdict::Drop;
    }
    if (!admitRegistration(source))
        return Verdict::Drop;
    // Moved while off line: its datagrams come from here from now on (the
    // texts follow on the UI thread).
    known->address.store(source);
    return Verdict::Accept;
}

bool LabGuard::admitRegistration(uint32_t source)
{
    const RegistrationGate::Verdict verdict
        = registration_gate.admit(registry.machinesAtAddress(source), QDateTime::currentMSecsSinceEpoch());
    if (verdict == RegistrationGate::Verdict::Admitted)
        return true;
    if (security->refusalCounter().hit(source, QDateTime::currentMSecsSinceEpoch()).first) {
        const bool addressFull = verdict == RegistrationGate::Verdict::AddressFull;
        QMetaObject::invokeMethod(
            security, [this, source, addressFull] { security->noteRefusedRegistrations(source, addressFull); },
            Qt::QueuedConnection);
    }
    return false;
}

bool LabGuard::admitMachineEvent(const CStuInfo_PTR& machine)
{
    return security->admitMachineEvent(machine->address.load());
}
