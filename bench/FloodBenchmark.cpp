#include "FloodBenchmark.h"

#include "core/Protocol.h"
#include "dialogs/MessageBox.h"
#include "EventLoopProbe.h"
#include "EventWait.h"
#include "GroupCapture.h"
#include "LabSeed.h"
#include "pages/QStudentGroupWidget.h"
#include "ProcessUsage.h"
#include "RokVtxAdmin.h"
#include "SimulatorOptions.h"
#include "SimulatorRun.h"
#include "storage/EventLogStore.h"
#include "tableview/QtRokTableView.h"
#include "UdpCounters.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTimer>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <ctime>
#include <memory>
#include <random>
#include <thread>
#include <unordered_set>
#include <vector>

namespace {

constexpr uint32_t FloodSource = 0x7F000063u; // 127.0.0.99
constexpr uint32_t GenuineSource = 0x7F000007u; // 127.0.0.7
constexpr quint64 GenuineMac = 0x0000600D00000001ULL;
constexpr int FloodRegistrations = 20000;
constexpr int FloodSeconds = 1;
constexpr int AfterFloodMs = 5000;
// The console repeats each page's policy every 600 ms on its own.
constexpr double RepeatPeriodS = 0.6;
// After the last report: the one coalesced resend is due within 300 ms.
constexpr int TailMs = 700;
constexpr int BaselineMs = 3000;
// IPv4 and UDP headers, to compare with the rates a capture on the wire gives.
constexpr int HeaderBytes = 28;

void progress(const QString& text)
{
    std::fprintf(stderr, "flood: %s\n", text.toLocal8Bit().constData());
    std::fflush(stderr);
}

int threadId()
{
    return int(::syscall(SYS_gettid));
}

double threadCpuSeconds()
{
    timespec cpu {};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &cpu);
    return double(cpu.tv_sec) + double(cpu.tv_nsec) / 1e9;
}

// A UDP socket at `address`:`port` (host order; port 0 for any), beside the
// console's own watch on the agents' port.
int boundSocket(uint32_t address, uint16_t port)
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK, 0);
    if (fd < 0)
        return -1;
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in local {};
    local.sin_family = AF_INET;
    local.sin_port = htons(port);
    local.sin_addr.s_addr = htonl(address);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

sockaddr_in consoleAddress()
{
    sockaddr_in to {};
    to.sin_family = AF_INET;
    to.sin_port = htons(Protocol::ConsolePort);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return to;
}

bool sendToConsole(int fd, const QByteArray& datagram)
{
    const sockaddr_in to = consoleAddress();
    return ::sendto(fd, datagram.constData(), size_t(datagram.size()), 0, reinterpret_cast<const sockaddr*>(&to),
               sizeof to)
        == datagram.size();
}

// The console's answers waiting on `fd`, by message id.
struct Answers
{
    int joins = 0;
    int reregisters = 0;
    int other = 0;
};

void drain(int fd, Answers& answers)
{
    char buffer[2048];
    for (;;) {
        const ssize_t size = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
        if (size < 0)
            return;
        const uint32_t id = size >= 4 ? Protocol::readU32(buffer) : 0;
        if (id == Protocol::MSG_ADMIN_JOIN_GROUP && size == 8)
            ++answers.joins;
        else if (id == Protocol::MSG_ADMIN_REREGISTER)
            ++answers.reregisters;
        else
            ++answers.other;
    }
}

// Sends `total` datagrams at a steady rate from a thread of its own:
// datagram k is due k / rate seconds after the start, and every
// millisecond what is due goes out in sendmmsg batches.
class PacedSender final
{
public:
    PacedSender(int fd, QList<QByteArray> datagrams, int64_t total, double perSecond)
        : fd_(fd)
        , datagrams_(std::move(datagrams))
        , total_(total)
        , perSecond_(perSecond)
    {
    }
    ~PacedSender() { join(); }

    void start()
    {
        running_ = true;
        thread_ = std::thread([this] { run(); });
    }
    void join()
    {
        if (thread_.joinable())
            thread_.join();
    }
    bool running() const { return running_.load(); }
    int64_t sent() const { return sent_.load(); }
    int64_t errors() const { return errors_.load(); }
    int64_t startedNs() const { return started_.load(); }
    int64_t endedNs() const { return ended_.load(); }
    int threadId() const { return tid_.load(); }
    // The thread's own CPU, read as it ends.
    double cpuSeconds() const { return cpu_.load(); }

private:
    void run()
    {
        tid_ = ::threadId();
        sockaddr_in to = consoleAddress();
        std::vector<iovec> parts;
        for (const QByteArray& datagram : datagrams_)
            parts.push_back({ const_cast<char*>(datagram.constData()), size_t(datagram.size()) });
        constexpr int Batch = 64;
        mmsghdr batch[Batch] {};
        const int64_t start = ProcessUsage::monotonicNs();
        started_ = start;
        int64_t next = 0;
        while (next < total_) {
            const int64_t now = ProcessUsage::monotonicNs();
            const int64_t due = std::min<int64_t>(total_, int64_t(double(now - start) * perSecond_ / 1e9) + 1);
            while (next < due) {
                const int count = int(std::min<int64_t>(Batch, due - next));
                for (int i = 0; i < count; ++i) {
                    batch[i].msg_hdr = msghdr();
                    batch[i].msg_hdr.msg_name = &to;
                    batch[i].msg_hdr.msg_namelen = sizeof to;
                    batch[i].msg_hdr.msg_iov = &parts[size_t((next + i) % int64_t(parts.size()))];
                    batch[i].msg_hdr.msg_iovlen = 1;
                }
                const int sent = ::sendmmsg(fd_, batch, unsigned(count), 0);
                if (sent > 0) {
                    sent_ += sent;
                    next += sent;
                } else {
                    // A full send buffer drops it, as a flooding PC would not care.
                    ++errors_;
                    ++next;
                }
            }
            timespec wake {};
            const int64_t at = (ProcessUsage::monotonicNs() / 1000000 + 1) * 1000000;
            wake.tv_sec = time_t(at / 1000000000);
            wake.tv_nsec = long(at % 1000000000);
            clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &wake, nullptr);
        }
        ended_ = ProcessUsage::monotonicNs();
        cpu_ = threadCpuSeconds();
        running_ = false;
    }

    int fd_;
    QList<QByteArray> datagrams_;
    int64_t total_;
    double perSecond_;
    std::thread thread_;
    std::atomic_bool running_ { false };
    std::atomic<int64_t> sent_ { 0 };
    std::atomic<int64_t> errors_ { 0 };
    std::atomic<int64_t> started_ { 0 };
    std::atomic<int64_t> ended_ { 0 };
    std::atomic_int tid_ { 0 };
    std::atomic<double> cpu_ { 0 };
};

QJsonObject stallJson(const Percentiles& lateness)
{
    QJsonObject json;
    json.insert(QStringLiteral("count"), qint64(lateness.count()));
    json.insert(QStringLiteral("p50_ms"), lateness.at(50));
    json.insert(QStringLiteral("p99_ms"), lateness.at(99));
    json.insert(QStringLiteral("max_ms"), lateness.max());
    json.insert(QStringLiteral("over_50ms"), qint64(lateness.countAbove(50)));
    return json;
}

qint64 fileBytes(const QString& path)
{
    const QFileInfo info(path);
    return info.exists() ? info.size() : 0;
}

int eventRows(EventLogStore* log, int kind)
{
    if (!log)
        return -1;
    QSqlQuery query = log->select(QString(), kind, true);
    int rows = 0;
    while (query.isActive() && query.next())
        ++rows;
    return rows;
}

QJsonObject registrationFlood(const BenchOptions&)
{
    QJsonObject result;
    result.insert(QStringLiteral("attack"), QStringLiteral("registrations"));
    QTemporaryDir dir;
    if (!dir.isValid()) {
        result.insert(QStringLiteral("error"), QStringLiteral("no temporary directory"));
        return result;
    }
    MessageBox::setNextAnswer(QMessageBox::Ok);
    auto window = std::make_unique<RokVtxAdmin>(dir.path());
    window->show();
    if (!window->networkReady()) {
        result.insert(QStringLiteral("error"), QStringLiteral("the console could not open its UDP port"));
        return result;
    }
    EventLoopProbe probe;
    probe.start();
    EventWait::forMs(1500);
    result.insert(QStringLiteral("rss_before_mb"), double(ProcessUsage::residentKiB()) / 1024.0);

    // Distinct made-up MACs: 48 bits, locally administered, never the genuine one.
    std::mt19937_64 random(20261208);
    std::unordered_set<quint64> macs;
    QList<QByteArray> registrations;
    while (registrations.size() < FloodRegistrations) {
        const quint64 mac = (random() & 0x0000FEFFFFFFFFFFULL) | 0x0000020000000000ULL;
        if (mac == GenuineMac || !macs.insert(mac).second)
            continue;
        registrations << Protocol::buildRegister(mac, QStringLiteral("PC-%1").arg(registrations.size()));
    }
    const int floodFd = boundSocket(FloodSource, 0);
    const int genuineFd = boundSocket(GenuineSource, Protocol::AgentPort);
    if (floodFd < 0 || genuineFd < 0) {
        result.insert(QStringLiteral("error"), QStringLiteral("could not bind 127.0.0.99 or 127.0.0.7:57852"));
        return result;
    }

    const UdpCounters udpBefore = UdpCounters::read();
    probe.reset();
    PacedSender flood(floodFd, registrations, FloodRegistrations, double(FloodRegistrations) / FloodSeconds);
    flood.start();
    progress(QStringLiteral("registrations: %1 from 127.0.0.99 in %2 s").arg(FloodRegistrations).arg(FloodSeconds));
    EventWait::until([&] { return !flood.running(); }, 30000, 2);
    flood.join();
    const int64_t floodEnd = ProcessUsage::monotonicNs();

    // The genuine PC registers again every 200 ms until it holds its join,
    // as an agent that heard nothing does.
    std::atomic<int64_t> firstSent { 0 };
    std::atomic<int64_t> joined { 0 };
    std::atomic_int attempts { 0 };
    std::atomic_bool stop { false };
    std::thread genuine([&] {
        const QByteArray registration = Protocol::buildRegister(GenuineMac, QStringLiteral("GENUINE-PC"));
        int64_t lastSent = 0;
        while (!stop.load()) {
            const int64_t now = ProcessUsage::monotonicNs();
            if (now - lastSent >= 200000000) {
                if (sendToConsole(genuineFd, registration)) {
                    ++attempts;
                    if (firstSent.load() == 0)
                        firstSent = now;
                }
                lastSent = now;
            }
            Answers answers;
            drain(genuineFd, answers);
            if (answers.joins > 0) {
                joined = ProcessUsage::monotonicNs();
                return;
            }
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    });
    int64_t shown = 0;
    QTimer look;
    QObject::connect(&look, &QTimer::timeout, [&] {
        if (shown == 0 && window->allPage()->rowOfMachine(GenuineMac) >= 0)
            shown = ProcessUsage::monotonicNs();
    });
    look.start(5);
    EventWait::until([&] { return ProcessUsage::monotonicNs() - floodEnd >= int64_t(AfterFloodMs) * 1000000; },
        AfterFloodMs + 1000, 5);
    look.stop();
    stop = true;
    genuine.join();
    probe.stop();
    const UdpCounters udpAfter = UdpCounters::read();

    result.insert(QStringLiteral("flood_sent"), qint64(flood.sent()));
    result.insert(QStringLiteral("flood_send_errors"), qint64(flood.errors()));
    result.insert(QStringLiteral("flood_send_s"), double(flood.endedNs() - flood.startedNs()) / 1e9);
    result.insert(QStringLiteral("udp_receive_buffer_drops"),
        qint64(udpAfter.receiveBufferErrors - udpBefore.receiveBufferErrors));
    result.insert(QStringLiteral("stall"), stallJson(probe.lateness()));
    result.insert(QStringLiteral("stall_window_s"), double(ProcessUsage::monotonicNs() - flood.startedNs()) / 1e9);
    result.insert(QStringLiteral("rss_after_mb"), double(ProcessUsage::residentKiB()) / 1024.0);
    result.insert(QStringLiteral("rss_peak_mb"), double(ProcessUsage::peakResidentKiB()) / 1024.0);
    const int64_t first = firstSent.load();
    result.insert(QStringLiteral("genuine_attempts"), attempts.load());
    result.insert(QStringLiteral("genuine_join_ms"), joined.load() > 0 ? double(joined.load() - first) / 1e6 : -1.0);
    result.insert(QStringLiteral("genuine_shown_ms"), shown > 0 ? double(shown - first) / 1e6 : -1.0);

    const QString floodText = SimulatorOptions::addressText(FloodSource);
    int fromFlood = 0;
    const auto machines = window->core().registry().allMachines();
    for (const CStuInfo_PTR& machine : machines)
        fromFlood += machine->ip == floodText ? 1 : 0;
    result.insert(QStringLiteral("machines"), machines.size());
    result.insert(QStringLiteral("machines_from_flood_address"), fromFlood);
    result.insert(QStringLiteral("rows_all"), window->allPage()->machine_table->getRowCount());
    if (QStudentGroupWidget* ungrouped = window->ungroupedPage())
        result.insert(QStringLiteral("rows_ungrouped"), ungrouped->machine_table->getRowCount());

    // The next save, made now rather than waited for.
    const int64_t saveStart = ProcessUsage::monotonicNs();
    window->saveNow();
    result.insert(QStringLiteral("save_ms"), double(ProcessUsage::monotonicNs() - saveStart) / 1e6);
    const QString db = window->core().databasePath();
    result.insert(QStringLiteral("database_bytes"),
        fileBytes(db) + fileBytes(db + QStringLiteral("-wal")) + fileBytes(db + QStringLiteral("-journal")));
    EventLogStore* log = &window->core().tables().eventLog();
    result.insert(QStringLiteral("event_log_rows"), log ? log->rowCount() : -1);
    result.insert(QStringLiteral("event_log_security_rows"), eventRows(log, EventLogStore::Security));
    result.insert(QStringLiteral("event_log_registered_rows"), eventRows(log, EventLogStore::Registered));
    window.reset();
    ::close(floodFd);
    ::close(genuineFd);
    return result;
}

QStudentGroupWidget* pageHolding(RokVtxAdmin& window, quint64 mac)
{
    for (int i = 0; i < window.tabWidget()->count(); ++i) {
        QStudentGroupWidget* page = window.pageAt(i);
        if (page && page != window.allPage() && page != window.ungroupedPage() && page->rowOfMachine(mac) >= 0)
            return page;
    }
    return nullptr;
}

double cpuOf(const QList<ProcessUsage::ThreadCpu>& threads, int tid)
{
    for (const ProcessUsage::ThreadCpu& thread : threads)
        if (thread.tid == tid)
            return thread.cpu.total();
    return 0;
}

QJsonObject policyFlood(const BenchOptions& options)
{
    QJsonObject result;
    result.insert(QStringLiteral("attack"), QStringLiteral("policy"));
    result.insert(QStringLiteral("machines"), options.agents);
    result.insert(QStringLiteral("groups"), options.groups);
    result.insert(QStringLiteral("rate"), options.floodRate);
    result.insert(QStringLiteral("attack_s"), options.floodSeconds);
    QTemporaryDir dir;
    QString error;
    if (!dir.isValid() || !LabSeed::write(dir.path(), options.agents, options.groups, &error, options.catalog)) {
        result.insert(QStringLiteral("error"), QStringLiteral("seeding failed: %1").arg(error));
        return result;
    }
    auto window = std::make_unique<RokVtxAdmin>(dir.path());
    window->show();
    if (!window->networkReady()) {
        result.insert(QStringLiteral("error"), QStringLiteral("the console could not open its UDP port"));
        return result;
    }
    SimulatorOptions school;
    school.agents = options.agents;
    const quint64 mac = school.agentMac(0);
    const uint32_t address = school.agentAddress(0);
    QStudentGroupWidget* page = nullptr;
    uint32_t group = 0;
    EventWait::until([&] { return (page = pageHolding(*window, mac)) && (group = page->group_addr.load()) != 0; },
        5000, 50);
    GroupCapture capture;
    if (group == 0 || !capture.open({ group })) {
        result.insert(QStringLiteral("error"), QStringLiteral("no group address to listen to"));
        return result;
    }
    capture.start();

    // The machine registers from its own address and holds its join: its
    // reports are then a known machine's.
    const int agentFd = boundSocket(address, Protocol::AgentPort);
    if (agentFd < 0) {
        result.insert(QStringLiteral("error"), QStringLiteral("could not bind the machine's address"));
        return result;
    }
    Answers answers;
    const QByteArray registration = Protocol::buildRegister(mac, school.agentHostName(0));
    EventWait::until(
        [&] {
            sendToConsole(agentFd, registration);
            drain(agentFd, answers);
            return answers.joins > 0;
        },
        5000, 100);
    result.insert(QStringLiteral("registered"), answers.joins > 0);
    result.insert(QStringLiteral("address"), SimulatorOptions::addressText(address));

    EventLoopProbe probe;
    probe.start();
    // The policy's own repetition, with nothing reported.
    const int64_t baselineStart = ProcessUsage::realtimeNs();
    EventWait::forMs(BaselineMs);
    const int64_t baselineEnd = ProcessUsage::realtimeNs();
    int baseline = 0;
    for (const GroupCapture::PolicySeen& seen : capture.policiesSince(baselineStart))
        baseline += seen.group == group && seen.atRealtimeNs < baselineEnd ? 1 : 0;
    const double baselinePerS = double(baseline) / (double(baselineEnd - baselineStart) / 1e9);

    const QByteArray report = Protocol::buildPolicyVersion(mac, 0);
    const int64_t reports = int64_t(options.floodRate) * options.floodSeconds;
    PacedSender sender(agentFd, { report }, reports, options.floodRate);
    drain(agentFd, answers);
    answers = Answers();
    const UdpCounters udpBefore = UdpCounters::read();
    const ProcessUsage::Cpu cpuStart = ProcessUsage::processCpu();
    const QList<ProcessUsage::ThreadCpu> threadsStart = ProcessUsage::threadCpu();
    const int64_t attackStart = ProcessUsage::realtimeNs();
    const int64_t attackStartMono = ProcessUsage::monotonicNs();
    probe.reset();
    sender.start();
    progress(QStringLiteral("policy: %1 reports of version 0 a second for %2 s from %3")
                 .arg(options.floodRate)
                 .arg(options.floodSeconds)
                 .arg(SimulatorOptions::addressText(address)));
    EventWait::until(
        [&] {
            drain(agentFd, answers);
            return !sender.running();
        },
        options.floodSeconds * 1000 + 10000, 5);
    sender.join();
    const ProcessUsage::Cpu cpuEnd = ProcessUsage::processCpu();
    const QList<ProcessUsage::ThreadCpu> threadsEnd = ProcessUsage::threadCpu();
    const double wall = double(ProcessUsage::monotonicNs() - attackStartMono) / 1e9;
    const int64_t attackEnd = ProcessUsage::realtimeNs();
    EventWait::forMs(TailMs);
    drain(agentFd, answers);
    probe.stop();
    const UdpCounters udpAfter = UdpCounters::read();
    capture.stop();

    const int64_t windowEnd = attackEnd + int64_t(TailMs) * 1000000;
    int raw = 0;
    qint64 bytes = 0;
    for (const GroupCapture::PolicySeen& seen : capture.policiesSince(attackStart))
        if (seen.group == group && seen.atRealtimeNs <= windowEnd) {
            ++raw;
            bytes += seen.bytes + HeaderBytes;
        }
    const double windowS = double(windowEnd - attackStart) / 1e9;
    const double periodic = windowS / RepeatPeriodS;
    const int64_t sent = sender.sent();
    result.insert(QStringLiteral("reports_sent"), qint64(sent));
    result.insert(QStringLiteral("udp_receive_buffer_drops"),
        qint64(udpAfter.receiveBufferErrors - udpBefore.receiveBufferErrors));
    result.insert(QStringLiteral("baseline_policies_per_s"), baselinePerS);
    result.insert(QStringLiteral("window_s"), windowS);
    result.insert(QStringLiteral("policies_raw"), raw);
    result.insert(QStringLiteral("policies_periodic_expected"), periodic);
    result.insert(QStringLiteral("policies_net"), double(raw) - periodic);
    result.insert(QStringLiteral("policy_datagram_bytes"), raw > 0 ? double(bytes) / raw - HeaderBytes : 0.0);
    result.insert(QStringLiteral("per_report_raw"), sent > 0 ? double(raw) / double(sent) : 0.0);
    result.insert(QStringLiteral("per_report_net"), sent > 0 ? (double(raw) - periodic) / double(sent) : 0.0);
    const double sendS = double(sender.endedNs() - sender.startedNs()) / 1e9;
    result.insert(QStringLiteral("send_s"), sendS);
    result.insert(QStringLiteral("in_mb_per_s"), sendS > 0 ? double(sent) * (report.size() + HeaderBytes) / sendS / 1e6 : 0.0);
    result.insert(QStringLiteral("out_mb_per_s"), double(bytes) / windowS / 1e6);
    result.insert(QStringLiteral("answers_join"), answers.joins);
    result.insert(QStringLiteral("answers_reregister"), answers.reregisters);
    // The whole process, and without the harness's sender and capture threads.
    const double process = cpuEnd.total() - cpuStart.total();
    const double harness = sender.cpuSeconds()
        + (cpuOf(threadsEnd, capture.threadId()) - cpuOf(threadsStart, capture.threadId()));
    result.insert(QStringLiteral("cpu_s_wall"), wall);
    result.insert(QStringLiteral("cpu_process_percent"), wall > 0 ? process / wall * 100 : 0.0);
    result.insert(QStringLiteral("cpu_console_percent"), wall > 0 ? (process - harness) / wall * 100 : 0.0);
    result.insert(QStringLiteral("cpu_harness_threads_percent"), wall > 0 ? harness / wall * 100 : 0.0);
    result.insert(QStringLiteral("stall"), stallJson(probe.lateness()));
    window.reset();
    ::close(agentFd);
    return result;
}

// CPU of the process and of its busiest thread other than the UI thread
// (the network thread under a storm of datagrams) between two readings.
void insertCpu(QJsonObject& result, const ProcessUsage::Cpu& start, const ProcessUsage::Cpu& end,
    const QList<ProcessUsage::ThreadCpu>& threadsStart, const QList<ProcessUsage::ThreadCpu>& threadsEnd,
    double harnessSeconds, double wall)
{
    const double process = end.total() - start.total();
    result.insert(QStringLiteral("cpu_s_wall"), wall);
    result.insert(QStringLiteral("cpu_console_percent"), wall > 0 ? (process - harnessSeconds) / wall * 100 : 0.0);
    double busiest = 0;
    for (const ProcessUsage::ThreadCpu& thread : threadsEnd)
        if (thread.tid != int(getpid()))
            busiest = std::max(busiest, thread.cpu.total() - cpuOf(threadsStart, thread.tid));
    result.insert(QStringLiteral("cpu_busiest_thread_percent"), wall > 0 ? busiest / wall * 100 : 0.0);
}

// Made-up MACs register at `rate` a second, each once and each from an
// address of its own (as forged sources would), while 20 PCs boot: how many
// of them hold their join, and when.
QJsonObject bootFlood(const BenchOptions& options)
{
    constexpr int Pcs = 20;
    constexpr int BootAfterS = 3;
    constexpr int BootWindowS = 20;
    constexpr int Sources = 1024;
    QJsonObject result;
    result.insert(QStringLiteral("attack"), QStringLiteral("boot"));
    result.insert(QStringLiteral("rate"), options.floodRate);
    result.insert(QStringLiteral("pcs"), Pcs);
    QTemporaryDir dir;
    auto window = std::make_unique<RokVtxAdmin>(dir.path());
    window->show();
    if (!window->networkReady()) {
        result.insert(QStringLiteral("error"), QStringLiteral("the console could not open its UDP port"));
        return result;
    }
    std::vector<int> fds;
    for (int i = 0; i < Sources; ++i) {
        const int fd = boundSocket(0x7F010000u + uint32_t(i) + 1, 0); // 127.1.0.1 on
        if (fd < 0) {
            result.insert(QStringLiteral("error"), QStringLiteral("could not bind the flood's addresses"));
            return result;
        }
        fds.push_back(fd);
    }
    EventLoopProbe probe;
    probe.start();
    EventWait::forMs(1000);

    std::atomic_bool flooding { true };
    std::atomic<int64_t> sent { 0 };
    const int64_t floodS = BootAfterS + BootWindowS + 2;
    std::thread flood([&] {
        const int64_t start = ProcessUsage::monotonicNs();
        int64_t next = 0;
        while (flooding.load()) {
            const int64_t now = ProcessUsage::monotonicNs();
            if (now - start >= floodS * 1000000000)
                break;
            const int64_t due = int64_t(double(now - start) * options.floodRate / 1e9) + 1;
            for (; next < due; ++next) {
                const quint64 mac = 0x0000020000000000ULL | quint64(next + 1);
                if (sendToConsole(fds[size_t(next % Sources)], Protocol::buildRegister(mac, QStringLiteral("X"))))
                    ++sent;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    progress(QStringLiteral("boot: made-up registrations at %1/s from %2 addresses; %3 PCs boot after %4 s")
                 .arg(options.floodRate)
                 .arg(Sources)
                 .arg(Pcs)
                 .arg(BootAfterS));
    EventWait::forMs(BootAfterS * 1000);

    SimulatorRun simulator;
    QJsonArray registeredAt; // seconds after the boot when each further PC held its join
    int registered = 0;
    int64_t bootNs = 0;
    QObject::connect(&simulator, &SimulatorRun::summaryRead, &simulator, [&] {
        const int now = simulator.summary().value(QStringLiteral("registered")).toInt();
        for (; registered < now; ++registered)
            registeredAt.append(double(ProcessUsage::monotonicNs() - bootNs) / 1e9);
    });
    const ProcessUsage::Cpu cpuStart = ProcessUsage::processCpu();
    const QList<ProcessUsage::ThreadCpu> threadsStart = ProcessUsage::threadCpu();
    bootNs = ProcessUsage::monotonicNs();
    simulator.start({ QStringLiteral("--agents"), QString::number(Pcs), QStringLiteral("--console"),
        QStringLiteral("127.0.0.1"), QStringLiteral("--report-ms"), QStringLiteral("250"),
        QStringLiteral("--summary-only"), QStringLiteral("--duration"), QString::number(BootWindowS) });
    EventWait::until([&] { return !simulator.isRunning(); }, (BootWindowS + 10) * 1000, 50);
    const double wall = double(ProcessUsage::monotonicNs() - bootNs) / 1e9;
    const ProcessUsage::Cpu cpuEnd = ProcessUsage::processCpu();
    const QList<ProcessUsage::ThreadCpu> threadsEnd = ProcessUsage::threadCpu();
    simulator.stop();
    flooding = false;
    flood.join();
    probe.stop();

    result.insert(QStringLiteral("flood_sent"), qint64(sent.load()));
    result.insert(QStringLiteral("registered_in_window"), registered);
    result.insert(QStringLiteral("registered_at_s"), registeredAt);
    result.insert(QStringLiteral("simulator"), simulator.summary());
    result.insert(QStringLiteral("machines"), window->core().registry().machineCount());
    insertCpu(result, cpuStart, cpuEnd, threadsStart, threadsEnd, 0, wall);
    result.insert(QStringLiteral("stall"), stallJson(probe.lateness()));
    EventLogStore* log = &window->core().tables().eventLog();
    if (log)
        log->flush();
    result.insert(QStringLiteral("event_log_security_rows"), eventRows(log, EventLogStore::Security));
    window.reset();
    for (const int fd : fds)
        ::close(fd);
    return result;
}

// Agents re-register whenever they hear MSG_ADMIN_REREGISTER, from anyone:
// a student broadcasts it at `rate` a second to a lab of `agents` agents.
// What the console spends on the registrations that follow.
QJsonObject reregisterStorm(const BenchOptions& options)
{
    QJsonObject result;
    result.insert(QStringLiteral("attack"), QStringLiteral("reregister"));
    result.insert(QStringLiteral("agents"), options.agents);
    result.insert(QStringLiteral("rate"), options.floodRate);
    result.insert(QStringLiteral("attack_s"), options.floodSeconds);
    QTemporaryDir dir;
    auto window = std::make_unique<RokVtxAdmin>(dir.path());
    window->show();
    if (!window->networkReady()) {
        result.insert(QStringLiteral("error"), QStringLiteral("the console could not open its UDP port"));
        return result;
    }
    SimulatorRun simulator;
    const int duration = options.floodSeconds + 40;
    simulator.start({ QStringLiteral("--agents"), QString::number(options.agents), QStringLiteral("--console"),
        QStringLiteral("127.0.0.1"), QStringLiteral("--report-ms"), QStringLiteral("500"),
        QStringLiteral("--summary-only"), QStringLiteral("--duration"), QString::number(duration) });
    EventWait::until(
        [&] { return simulator.summary().value(QStringLiteral("registered")).toInt() >= options.agents; }, 30000,
        50);
    result.insert(QStringLiteral("registered_before"), simulator.summary().value(QStringLiteral("registered")));
    EventWait::forMs(2000);

    const int fd = boundSocket(FloodSource, 0);
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
    EventLoopProbe probe;
    probe.start();
    const QJsonObject before = simulator.summary();
    const UdpCounters udpBefore = UdpCounters::read();
    const ProcessUsage::Cpu cpuStart = ProcessUsage::processCpu();
    const QList<ProcessUsage::ThreadCpu> threadsStart = ProcessUsage::threadCpu();
    const int64_t start = ProcessUsage::monotonicNs();
    const QByteArray reregister = Protocol::buildReregister();
    sockaddr_in to {};
    to.sin_family = AF_INET;
    to.sin_port = htons(Protocol::AgentPort);
    to.sin_addr.s_addr = htonl(INADDR_BROADCAST);
    int64_t next = 0;
    const int64_t total = int64_t(options.floodRate) * options.floodSeconds;
    progress(QStringLiteral("reregister: %1 broadcasts a second for %2 s to %3 agents")
                 .arg(options.floodRate)
                 .arg(options.floodSeconds)
                 .arg(options.agents));
    EventWait::until(
        [&] {
            const int64_t due
                = std::min<int64_t>(total, int64_t(double(ProcessUsage::monotonicNs() - start) * options.floodRate / 1e9) + 1);
            for (; next < due; ++next)
                ::sendto(fd, reregister.constData(), size_t(reregister.size()), 0, reinterpret_cast<sockaddr*>(&to),
                    sizeof to);
            return next >= total;
        },
        options.floodSeconds * 1000 + 5000, 1);
    const double wall = double(ProcessUsage::monotonicNs() - start) / 1e9;
    const ProcessUsage::Cpu cpuEnd = ProcessUsage::processCpu();
    const QList<ProcessUsage::ThreadCpu> threadsEnd = ProcessUsage::threadCpu();
    const UdpCounters udpAfter = UdpCounters::read();
    EventWait::forMs(1000);
    const QJsonObject after = simulator.summary();
    probe.stop();
    simulator.stop();
    ::close(fd);

    const auto delta = [&](const char* key) {
        return after.value(QLatin1String(key)).toDouble() - before.value(QLatin1String(key)).toDouble();
    };
    result.insert(QStringLiteral("broadcasts_sent"), qint64(next));
    result.insert(QStringLiteral("registrations_per_s"), delta("registers") / wall);
    result.insert(QStringLiteral("joins_per_s"), delta("consoleJoins") / wall);
    result.insert(QStringLiteral("udp_in_per_s"), double(udpAfter.inDatagrams - udpBefore.inDatagrams) / wall);
    result.insert(QStringLiteral("udp_receive_buffer_drops"),
        qint64(udpAfter.receiveBufferErrors - udpBefore.receiveBufferErrors));
    result.insert(QStringLiteral("registered_after"), after.value(QStringLiteral("registered")));
    insertCpu(result, cpuStart, cpuEnd, threadsStart, threadsEnd, 0, wall);
    result.insert(QStringLiteral("stall"), stallJson(probe.lateness()));
    EventLogStore* log = &window->core().tables().eventLog();
    if (log)
        log->flush();
    result.insert(QStringLiteral("event_log_security_rows"), eventRows(log, EventLogStore::Security));
    window.reset();
    return result;
}

} // namespace

QJsonObject FloodBenchmark::run(const BenchOptions& options)
{
    QJsonObject result;
    if (options.floodAttack == QLatin1String("registrations")) {
        result = registrationFlood(options);
    } else if (options.floodAttack == QLatin1String("policy")) {
        result = policyFlood(options);
    } else if (options.floodAttack == QLatin1String("boot")) {
        result = bootFlood(options);
    } else if (options.floodAttack == QLatin1String("reregister")) {
        result = reregisterStorm(options);
    } else {
        result.insert(QStringLiteral("error"),
            QStringLiteral("--attack registrations, policy, boot or reregister, not \"%1\"").arg(options.floodAttack));
    }
    result.insert(QStringLiteral("bench"), QStringLiteral("flood"));
    return result;
}
