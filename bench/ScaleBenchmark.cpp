#include "ScaleBenchmark.h"

#include "EventLoopProbe.h"
#include "EventWait.h"
#include "LabSeed.h"
#include "pages/QStudentGroupWidget.h"
#include "ProcessUsage.h"
#include "RokVtxAdmin.h"
#include "SimulatorRun.h"
#include "UdpCounters.h"

#include <QAbstractItemModel>
#include <QHash>
#include <QJsonArray>
#include <QSet>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

#include <unistd.h>

namespace {

// Off-line detection: 15 ticks of 100 ms after the last datagram.
constexpr double OfflineTargetMs = 1500;
constexpr double OfflineToleranceMs = 150;

struct Transition
{
    quint64 mac = 0;
    int64_t atUs = 0;
    bool online = false;
};

// Watches the state column of one page and logs every change of a machine
// between "在线" and "断开".
class StateWatch final : public QObject
{
public:
    StateWatch(const MachineRows& rows, QObject* parent)
        : QObject(parent)
        , rows_(rows)
    {
        connect(rows.model(), &QAbstractItemModel::dataChanged, this,
            [this](const QModelIndex& topLeft, const QModelIndex& bottomRight) {
                if (topLeft.column() > MachineRows::StateColumn || bottomRight.column() < MachineRows::StateColumn)
                    return;
                for (int row = topLeft.row(); row <= bottomRight.row(); ++row)
                    look(row);
            });
    }

    const std::vector<Transition>& transitions() const { return transitions_; }
    int onlineCount() const { return int(std::count_if(shown_.cbegin(), shown_.cend(), [](bool on) { return on; })); }

private:
    void look(int row)
    {
        const quint64 mac = rows_.macAt(row);
        if (mac == 0)
            return;
        const MachineRows::State state = rows_.stateAt(row);
        if (state == MachineRows::State::None)
            return;
        const bool online = state == MachineRows::State::Online;
        const auto it = shown_.find(mac);
        if (it == shown_.end()) {
            shown_.insert(mac, online);
            return;
        }
        if (it.value() == online)
            return;
        it.value() = online;
        transitions_.push_back({ mac, ProcessUsage::monotonicUs(), online });
    }

    const MachineRows& rows_;
    QHash<quint64, bool> shown_;
    std::vector<Transition> transitions_;
};

double percentOf(double seconds, double wallSeconds)
{
    return wallSeconds > 0 ? seconds / wallSeconds * 100.0 : 0;
}

QJsonObject latencyJson(const Percentiles& values)
{
    QJsonObject json;
    json.insert(QStringLiteral("count"), qint64(values.count()));
    json.insert(QStringLiteral("p50_ms"), values.at(50));
    json.insert(QStringLiteral("p99_ms"), values.at(99));
    json.insert(QStringLiteral("max_ms"), values.max());
    return json;
}

void progress(const char* text)
{
    std::fprintf(stderr, "scale: %s\n", text);
    std::fflush(stderr);
}

} // namespace

QJsonObject ScaleBenchmark::run(const BenchOptions& options)
{
    QJsonObject result;
    result.insert(QStringLiteral("bench"), QStringLiteral("scale"));
    result.insert(QStringLiteral("agents"), options.agents);
    result.insert(QStringLiteral("groups"), options.groups);
    result.insert(QStringLiteral("window_s"), options.windowSeconds);

    QTemporaryDir dir;
    QString error;
    if (!dir.isValid() || !LabSeed::write(dir.path(), options.agents, options.groups, &error, options.catalog)) {
        result.insert(QStringLiteral("error"), QStringLiteral("seeding failed: %1").arg(error));
        return result;
    }

    // What the harness costs on its own: the probe's 200 wake-ups a second.
    EventLoopProbe probe;
    probe.start();
    {
        const ProcessUsage::Cpu before = ProcessUsage::processCpu();
        const int64_t start = ProcessUsage::monotonicNs();
        EventWait::forMs(3000);
        const double wall = double(ProcessUsage::monotonicNs() - start) / 1e9;
        result.insert(QStringLiteral("harness_idle_cpu_percent"),
            percentOf(ProcessUsage::processCpu().total() - before.total(), wall));
    }

    progress("starting the console");
    auto window = std::make_unique<RokVtxAdmin>(dir.path());
    window->show();
    if (!window->networkReady()) {
        result.insert(QStringLiteral("error"), QStringLiteral("the console could not open its UDP port"));
        return result;
    }
    StateWatch watch(window->allPage()->machineRows(), nullptr);
    probe.reset();

    // Seconds from the simulator's start.
    const int warmup = options.windowSeconds >= 120 ? 15 : 10;
    const int silenceAt = warmup + options.windowSeconds / 3;
    const int returnAfter = options.windowSeconds >= 120 ? 20 : 8;
    SimulatorRun simulator;
    simulator.start({ QStringLiteral("--agents"), QString::number(options.agents), QStringLiteral("--console"),
        QStringLiteral("127.0.0.1"), QStringLiteral("--summary-only"), QStringLiteral("--report-ms"),
        QStringLiteral("1000"), QStringLiteral("--silent"), QString::number(options.silent),
        QStringLiteral("--silent-after"), QString::number(silenceAt), QStringLiteral("--return-after"),
        QString::number(returnAfter), QStringLiteral("--silence-events"), QStringLiteral("--duration"),
        QString::number(warmup + options.windowSeconds + 10) });
    const int64_t simStart = ProcessUsage::monotonicUs();
    progress("simulator started");

    int64_t registeredUs = 0;
    EventWait::until(
        [&] {
            if (registeredUs == 0
                && simulator.summary().value(QStringLiteral("registered")).toInt() >= options.agents)
                registeredUs = ProcessUsage::monotonicUs();
            return registeredUs != 0;
        },
        warmup * 1000, 50);
    result.insert(QStringLiteral("all_registered_s"),
        registeredUs ? double(registeredUs - simStart) / 1e6 : QJsonValue(QJsonValue::Null));
    EventWait::until([&] { return ProcessUsage::monotonicUs() - simStart >= int64_t(warmup) * 1000000; },
        warmup * 1000 + 1000, 50);
    const Percentiles startup = probe.lateness();
    QJsonObject startupJson = latencyJson(startup);
    startupJson.insert(QStringLiteral("max_at_s"), double(probe.worstAtUs() - simStart) / 1e6);
    result.insert(QStringLiteral("startup_stall"), startupJson);

    progress("steady window");
    probe.reset();
    const QJsonObject summaryStart = simulator.summary();
    const ProcessUsage::Cpu cpuStart = ProcessUsage::processCpu();
    const QList<ProcessUsage::ThreadCpu> threadsStart = ProcessUsage::threadCpu();
    const int64_t windowStart = ProcessUsage::monotonicNs();
    const size_t transitionsBefore = watch.transitions().size();
    const UdpCounters udpStart = UdpCounters::read();
    qint64 rssMax = 0;
    qint64 rssSum = 0;
    int rssSamples = 0;
    QTimer rssTimer;
    QObject::connect(&rssTimer, &QTimer::timeout, &rssTimer, [&] {
        const qint64 rss = ProcessUsage::residentKiB();
        rssMax = std::max(rssMax, rss);
        rssSum += rss;
        ++rssSamples;
    });
    rssTimer.start(1000);
    EventWait::forMs(options.windowSeconds * 1000);
    rssTimer.stop();
    const double wall = double(ProcessUsage::monotonicNs() - windowStart) / 1e9;
    const ProcessUsage::Cpu cpuEnd = ProcessUsage::processCpu();
    const QList<ProcessUsage::ThreadCpu> threadsEnd = ProcessUsage::threadCpu();
    const Percentiles steady = probe.lateness();
    const UdpCounters udpEnd = UdpCounters::read();
    const int onlineShown = watch.onlineCount();
    const QJsonObject summaryEnd = simulator.summary();
    progress("window over");

    // What the console's repeated joins cost the network: the joins the
    // simulator's agents received from it over the window's reports.
    const double joinSpanMs = summaryEnd.value(QStringLiteral("elapsed_ms")).toDouble()
        - summaryStart.value(QStringLiteral("elapsed_ms")).toDouble();
    result.insert(QStringLiteral("join_repeat"), qEnvironmentVariableIsEmpty("ROK_BENCH_NO_JOIN_REPEAT"));
    result.insert(QStringLiteral("joins_per_s"),
        joinSpanMs > 0 ? (summaryEnd.value(QStringLiteral("consoleJoins")).toDouble()
                             - summaryStart.value(QStringLiteral("consoleJoins")).toDouble())
                / joinSpanMs * 1000.0
                       : 0.0);

    result.insert(QStringLiteral("cpu_percent"), percentOf(cpuEnd.total() - cpuStart.total(), wall));
    result.insert(QStringLiteral("cpu_user_percent"), percentOf(cpuEnd.user - cpuStart.user, wall));
    result.insert(QStringLiteral("cpu_system_percent"), percentOf(cpuEnd.system - cpuStart.system, wall));
    result.insert(QStringLiteral("rss_max_mb"), double(rssMax) / 1024.0);
    result.insert(QStringLiteral("rss_mean_mb"), rssSamples ? double(rssSum) / rssSamples / 1024.0 : 0);
    result.insert(QStringLiteral("rss_peak_since_start_mb"), double(ProcessUsage::peakResidentKiB()) / 1024.0);
    result.insert(QStringLiteral("threads"), ProcessUsage::threadCount());
    QJsonObject steadyJson = latencyJson(steady);
    steadyJson.insert(QStringLiteral("max_at_s"), double(probe.worstAtUs() - simStart) / 1e6);
    result.insert(QStringLiteral("stall"), steadyJson);
    result.insert(QStringLiteral("stall_ticks_over_50ms"), qint64(steady.countAbove(50)));
    result.insert(QStringLiteral("online_shown_at_end"), onlineShown);
    // Datagrams lost on full receive queues in the window (the console's and
    // the simulator's sockets alike), and those read by either side.
    result.insert(QStringLiteral("udp_queue_drops"), qint64(udpEnd.receiveBufferErrors - udpStart.receiveBufferErrors));
    result.insert(QStringLiteral("udp_read_per_s"), double(udpEnd.inDatagrams - udpStart.inDatagrams) / wall);

    // The busiest threads over the window. None of them is named; the UI
    // thread is the process's own id, and the busiest of the others is the
    // UDP loop, which reads every datagram and sends every unicast.
    QJsonArray threads;
    QList<QPair<double, int>> busy;
    for (const ProcessUsage::ThreadCpu& end : threadsEnd) {
        double before = 0;
        for (const ProcessUsage::ThreadCpu& start : threadsStart)
            if (start.tid == end.tid)
                before = start.cpu.total();
        busy.append({ percentOf(end.cpu.total() - before, wall), end.tid });
    }
    std::sort(busy.begin(), busy.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
    for (int i = 0; i < std::min(6, int(busy.size())); ++i) {
        QJsonObject thread;
        thread.insert(QStringLiteral("tid"), busy.at(i).second);
        thread.insert(QStringLiteral("cpu_percent"), busy.at(i).first);
        thread.insert(QStringLiteral("ui"), busy.at(i).second == int(getpid()));
        threads.append(thread);
    }
    result.insert(QStringLiteral("busiest_threads"), threads);
    for (const auto& thread : busy) {
        if (thread.second == int(getpid())) {
            result.insert(QStringLiteral("ui_thread_cpu_percent"), thread.first);
        } else if (!result.contains(QStringLiteral("network_thread_cpu_percent"))) {
            result.insert(QStringLiteral("network_thread_cpu_percent"), thread.first);
        }
    }

    simulator.stop();
    const QJsonObject summary = simulator.summary();
    result.insert(QStringLiteral("simulator"), summary);

    // Off-line detection, timed from each silenced agent's own last datagram.
    const QHash<quint64, int64_t>& lastSent = simulator.lastSentUs();
    const int64_t returnedAt = simulator.returnedAtUs();
    QHash<quint64, int64_t> shownOffline;
    QHash<quint64, int64_t> shownBack;
    int falseOffline = 0;
    int lateOffline = 0;
    QJsonArray falseSamples;
    const std::vector<Transition>& log = watch.transitions();
    for (size_t i = transitionsBefore; i < log.size(); ++i) {
        const Transition& t = log[i];
        const auto sent = lastSent.constFind(t.mac);
        const bool silenced = sent != lastSent.cend();
        if (!t.online) {
            if (silenced && t.atUs > sent.value() && !shownOffline.contains(t.mac)
                && (returnedAt == 0 || t.atUs < returnedAt + 1000000)) {
                shownOffline.insert(t.mac, t.atUs);
                continue;
            }
            if (simulator.lateAgents().contains(t.mac)) {
                ++lateOffline;
                continue;
            }
            ++falseOffline;
            if (falseSamples.size() < 10) {
                QJsonObject sample;
                sample.insert(QStringLiteral("mac"), QString::number(t.mac));
                sample.insert(QStringLiteral("at_s"), double(t.atUs - simStart) / 1e6);
                sample.insert(QStringLiteral("silenced"), silenced);
                falseSamples.append(sample);
            }
        } else if (silenced && returnedAt != 0 && t.atUs >= returnedAt && !shownBack.contains(t.mac)) {
            shownBack.insert(t.mac, t.atUs);
        }
    }
    Percentiles offline;
    for (auto it = shownOffline.cbegin(); it != shownOffline.cend(); ++it)
        offline.add(double(it.value() - lastSent.value(it.key())) / 1000.0);
    Percentiles back;
    for (auto it = shownBack.cbegin(); it != shownBack.cend(); ++it)
        back.add(double(it.value() - returnedAt) / 1000.0);

    QJsonObject off;
    off.insert(QStringLiteral("silenced"), lastSent.size());
    off.insert(QStringLiteral("shown_offline"), shownOffline.size());
    off.insert(QStringLiteral("min_ms"), offline.min());
    off.insert(QStringLiteral("p50_ms"), offline.at(50));
    off.insert(QStringLiteral("max_ms"), offline.max());
    off.insert(QStringLiteral("within_tolerance"),
        qint64(offline.countWithin(OfflineTargetMs - OfflineToleranceMs, OfflineTargetMs + OfflineToleranceMs)));
    off.insert(QStringLiteral("silenced_at_s"),
        simulator.silencedAtUs() ? double(simulator.silencedAtUs() - simStart) / 1e6 : 0);
    off.insert(QStringLiteral("shown_back_online"), shownBack.size());
    off.insert(QStringLiteral("back_online_max_ms"), back.max());
    result.insert(QStringLiteral("offline"), off);
    result.insert(QStringLiteral("false_offline"), falseOffline);
    // Shown off line after the simulator itself sent nothing for 1.4 s or more.
    result.insert(QStringLiteral("offline_after_simulator_lag"), lateOffline);
    result.insert(QStringLiteral("simulator_late_agents"), simulator.lateAgents().size());
    result.insert(QStringLiteral("false_offline_samples"), falseSamples);

    progress("closing the console");
    const int64_t closing = ProcessUsage::monotonicNs();
    window.reset();
    result.insert(QStringLiteral("exit_ms"), double(ProcessUsage::monotonicNs() - closing) / 1e6);
    probe.stop();
    return result;
}
