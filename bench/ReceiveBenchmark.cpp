#include "ReceiveBenchmark.h"

#include "BareReceiver.h"
#include "core/Protocol.h"
#include "core/RegistrationGate.h"
#include "DatagramBlaster.h"
#include "EventWait.h"
#include "pages/QStudentGroupWidget.h"
#include "Percentiles.h"
#include "ProcessUsage.h"
#include "RokVtxAdmin.h"
#include "SimulatorOptions.h"
#include "UdpCounters.h"

#include <QJsonArray>
#include <QTemporaryDir>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <memory>

namespace {

// Each machine registers from its own address, which the console records
// as the only one that speaks for it; paced below the console's limit on
// new machines a second, which it would otherwise refuse.
void registerAll(const SimulatorOptions& agents)
{
    constexpr int PerTenth = RegistrationGate::MaxPerSecond / 10 - 1;
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    for (int i = 0; i < agents.agents; ++i) {
        DatagramBlaster::sendFrom(fd, Protocol::buildRegister(agents.agentMac(i), agents.agentHostName(i)),
            agents.agentAddress(i), Protocol::ConsolePort);
        if (i % PerTenth == PerTenth - 1)
            EventWait::forMs(100);
    }
    ::close(fd);
}

} // namespace

QJsonObject ReceiveBenchmark::run(const BenchOptions& options)
{
    QJsonObject result;
    result.insert(QStringLiteral("bench"), QStringLiteral("receive"));
    result.insert(QStringLiteral("machines"), options.agents);
    result.insert(QStringLiteral("phase_s"), options.phaseSeconds);
    result.insert(QStringLiteral("rounds"), options.rounds);

    QTemporaryDir dir;
    auto window = std::make_unique<RokVtxAdmin>(dir.path());
    window->show();
    if (!window->networkReady()) {
        result.insert(QStringLiteral("error"), QStringLiteral("the console could not open its UDP port"));
        return result;
    }
    EventWait::forMs(500);

    SimulatorOptions agents;
    agents.agents = options.agents;
    registerAll(agents);
    const bool registered = EventWait::until(
        [&] { return window->core().registry().allMachines().size() >= options.agents; }, 60000, 50);
    result.insert(QStringLiteral("registered"), window->core().registry().allMachines().size());
    if (!registered) {
        result.insert(QStringLiteral("error"), QStringLiteral("not every machine registered"));
        return result;
    }
    EventWait::forMs(1500);

    // One in 6 a policy report (agents report every 5 s, beat every 1 s),
    // one in 64 a registration; the report carries the current version, as
    // agents that hold the group's policy send it.
    const uint32_t version = window->ungroupedPage()->policy_version.load();
    DatagramBlaster blaster(DatagramBlaster::agentMix(options.agents, version, 6, 64));
    result.insert(QStringLiteral("mix"),
        QStringLiteral("heartbeats, 1 in 6 policy reports, 1 in 64 registrations, each from its machine's address"));

    BareReceiver bare;
    if (!bare.open()) {
        result.insert(QStringLiteral("error"), QStringLiteral("cannot open the bare receiver's socket"));
        return result;
    }

    Percentiles bareRates;
    Percentiles consoleRates;
    Percentiles bareOffered;
    Percentiles consoleOffered;
    uint64_t consoleDrops = 0;
    QJsonArray phases;
    const int ramp = 300;
    const int phaseMs = int(options.phaseSeconds * 1000);
    for (int round = 0; round < options.rounds; ++round) {
        for (int which = 0; which < 2; ++which) {
            const bool console = which == 1;
            if (!console)
                bare.start();
            blaster.start(console ? Protocol::ConsolePort : bare.port());
            EventWait::forMs(ramp);
            const UdpCounters c0 = UdpCounters::read();
            const uint64_t h0 = bare.handled();
            const uint64_t s0 = blaster.sent();
            const int64_t t0 = ProcessUsage::monotonicNs();
            EventWait::forMs(phaseMs);
            const UdpCounters c1 = UdpCounters::read();
            const uint64_t h1 = bare.handled();
            const uint64_t s1 = blaster.sent();
            const double seconds = double(ProcessUsage::monotonicNs() - t0) / 1e9;
            blaster.stop();
            if (!console)
                bare.stop();
            const double handled = console ? double(c1.inDatagrams - c0.inDatagrams) : double(h1 - h0);
            const double rate = handled / seconds;
            const double offered = double(s1 - s0) / seconds;
            (console ? consoleRates : bareRates).add(rate);
            (console ? consoleOffered : bareOffered).add(offered);
            if (console)
                consoleDrops += c1.receiveBufferErrors - c0.receiveBufferErrors;
            QJsonObject phase;
            phase.insert(QStringLiteral("receiver"), console ? QStringLiteral("console") : QStringLiteral("bare"));
            phase.insert(QStringLiteral("handled_per_s"), rate);
            phase.insert(QStringLiteral("offered_per_s"), offered);
            phases.append(phase);
            std::fprintf(stderr, "receive: round %d %s: %.0f handled/s of %.0f offered/s\n", round + 1,
                console ? "console" : "bare   ", rate, offered);
            // Let the queues drain before the other receiver's turn.
            EventWait::forMs(500);
        }
    }
    result.insert(QStringLiteral("phases"), phases);
    result.insert(QStringLiteral("bare_per_s"), bareRates.at(50));
    result.insert(QStringLiteral("console_per_s"), consoleRates.at(50));
    result.insert(QStringLiteral("bare_offered_per_s"), bareOffered.at(50));
    result.insert(QStringLiteral("console_offered_per_s"), consoleOffered.at(50));
    result.insert(QStringLiteral("console_drops"), qint64(consoleDrops));
    result.insert(QStringLiteral("ratio"), bareRates.at(50) > 0 ? consoleRates.at(50) / bareRates.at(50) : 0);
    result.insert(QStringLiteral("machines_after"), window->core().registry().allMachines().size());
    // Every heartbeat counted only if each machine is on record at its own address.
    int ownAddress = 0;
    const QMap<quint64, CStuInfo_PTR> machines = window->core().registry().allMachines();
    for (int i = 0; i < options.agents; ++i) {
        const CStuInfo_PTR machine = machines.value(agents.agentMac(i));
        ownAddress += machine && machine->address.load() == htonl(agents.agentAddress(i));
    }
    result.insert(QStringLiteral("machines_at_own_address"), ownAddress);
    window.reset();
    return result;
}
