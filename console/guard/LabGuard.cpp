#include "LabGuard.h"

#include "MachineIdentity.h"
#include "Protocol.h"
#include "QStudentGroupWidget.h"
#include "QStudentManage.h"
#include "SecurityMonitor.h"
#include "UdpServer.h"

#include <QDateTime>

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
    join_repeater->setSweptCallback([this] { resendPageState(0); });

    security = new SecurityMonitor(registry, log, this);
    security->setSenderCounter(&port_watch.senders());
    connect(security, &SecurityMonitor::sg_alert, this, &LabGuard::sg_alert);
}

LabGuard::~LabGuard()
{
    stop();
}

void LabGuard::repeatJoins()
{
    if (qEnvironmentVariableIsEmpty("ROK_BENCH_NO_JOIN_REPEAT")) // benchmarks weigh the repeated joins' cost
        server.setTimer(std::chrono::milliseconds(JoinRepeater::SliceMs),
            [this] { join_repeater->tick(std::chrono::steady_clock::now()); });
}

bool LabGuard::watchAgentPort()
{
    AgentPortWatch::Callbacks callbacks;
    callbacks.stateOverridden = [this](uint32_t group) { resendPageState(group); };
    callbacks.joinSeen = [this] { join_repeater->requestSweep(); };
    callbacks.senderSeen = [this](uint32_t sender, AgentPortWatch::Kind kind) {
        QMetaObject::invokeMethod(
            security, [this, sender, kind] { security->noteForeignSender(sender, kind); }, Qt::QueuedConnection);
    };
    port_watch.setCallbacks(std::move(callbacks));
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
}

void LabGuard::resendPageState(uint32_t group)
{
    // Under the directory's lock the pages cannot be destroyed meanwhile.
    const PageDirectory::Guarded directory = pages.guarded();
    for (QStudentGroupWidget* page : directory.pagesAt(group)) {
        const uint32_t address = page->group_addr.load();
        for (const QByteArray& datagram : { page->lockDatagramCopy(), page->policyDatagramCopy() })
            if (!datagram.isEmpty())
                server.sendto(datagram.constData(), datagram.size(), address, Protocol::AgentPort);
    }
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
