// rok-flood: the console under a flood of datagrams, in-process so that its
// UI thread can be watched. Phase 1 sends random datagrams (random lengths 0
// to 100 bytes, random identities and message ids, garbage registrations of
// a few known machines); phase 2 registers distinct bogus MACs in a burst
// from one PC, then a genuine PC registers from another.
// Throughout, a probe agent asks the console something every 50 ms and times
// the answer, and a 10 ms timer on the UI thread measures how late it fires.
// Prints the figures and, with --check, judges them against generous bounds.
//
// Run it only inside scripts/netns (scripts/flood does): it sends to the
// console's port on 127.0.0.1 from several loopback addresses.

#include "core/Protocol.h"
#include "core/RegistrationGate.h"
#include "dialogs/MessageBox.h"
#include "pages/QStudentGroupWidget.h"
#include "RokResources.h"
#include "RokVtxAdmin.h"
#include "storage/QDataHelper.h"
#include "tableview/QtRokTableView.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTimer>
#include <QVariant>
#include <algorithm>
#include <asio/io_context.hpp>
#include <asio/ip/udp.hpp>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <mutex>
#include <random>
#include <thread>
#include <tuple>
#include <vector>

#if defined(__SANITIZE_ADDRESS__)
constexpr bool underAddressSanitizer = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool underAddressSanitizer = true;
#else
constexpr bool underAddressSanitizer = false;
#endif
#else
constexpr bool underAddressSanitizer = false;
#endif

namespace {

using Clock = std::chrono::steady_clock;
using asio::ip::udp;

constexpr quint64 PoolBase = 0x0000AA0000000001ULL;
constexpr int PoolSize = 64;
constexpr quint64 BogusBase = 0x0000B0B000000001ULL;
constexpr quint64 ProbeMac = 0x0000CC0000000001ULL;

double msSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

long statusKb(const char* key)
{
    QFile file(QStringLiteral("/proc/self/status"));
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : file.readAll().split('\n'))
        if (line.startsWith(key))
            return line.mid(int(qstrlen(key))).trimmed().split(' ').value(0).toLong();
    return -1;
}

// Udp: InDatagrams and RcvbufErrors of this network namespace.
std::pair<long long, long long> udpCounters()
{
    QFile file(QStringLiteral("/proc/net/snmp"));
    if (!file.open(QIODevice::ReadOnly))
        return { -1, -1 };
    const QList<QByteArray> lines = file.readAll().split('\n');
    for (int i = 0; i + 1 < lines.size(); ++i) {
        if (!lines.at(i).startsWith("Udp: ") || !lines.at(i + 1).startsWith("Udp: "))
            continue;
        const QList<QByteArray> names = lines.at(i).simplified().split(' ');
        const QList<QByteArray> values = lines.at(i + 1).simplified().split(' ');
        return { values.value(names.indexOf("InDatagrams")).toLongLong(),
            values.value(names.indexOf("RcvbufErrors")).toLongLong() };
    }
    return { -1, -1 };
}

// The UI thread's lateness: a 10 ms timer that should fire every 10 ms.
class LatenessProbe final : public QObject
{
public:
    LatenessProbe()
    {
        timer.setTimerType(Qt::PreciseTimer);
        timer.setInterval(10);
        connect(&timer, &QTimer::timeout, this, [this] {
            const double late = msSince(last) - 10.0;
            last = Clock::now();
            worst = std::max(worst, late);
            if (late > 100)
                ++over100;
        });
        last = Clock::now();
        timer.start();
    }
    // Worst lateness since the last call, and how often it passed 100 ms.
    std::pair<double, int> take()
    {
        const auto result = std::make_pair(std::max(0.0, worst), over100);
        worst = 0;
        over100 = 0;
        return result;
    }

private:
    QTimer timer;
    Clock::time_point last;
    double worst = 0;
    int over100 = 0;
};

// A student computer that keeps asking: a heartbeat from an unknown identity
// must bring MSG_ADMIN_REREGISTER, a registration of its own MSG_ADMIN_JOIN_GROUP.
class AgentProbe final
{
public:
    struct Figures
    {
        int asked = 0;
        int answered = 0;
        double worstMs = 0;
        double sumMs = 0;
        double longestGapMs = 0; // longest time without any answer
    };

    AgentProbe()
        : socket(io, udp::v4())
    {
        // Beside the console's own watch on the agents' port, as an agent is.
        socket.set_option(asio::socket_base::reuse_address(true));
        socket.bind(udp::endpoint(asio::ip::make_address_v4("127.0.0.2"), Protocol::AgentPort));
        socket.non_blocking(true);
        thread = std::thread([this] { run(); });
    }
    ~AgentProbe()
    {
        running = false;
        thread.join();
    }
    Figures take()
    {
        std::lock_guard<std::mutex> lock(mutex);
        Figures result = figures;
        result.longestGapMs = std::max(result.longestGapMs, msSince(lastAnswer));
        figures = Figures();
        return result;
    }

private:
    void run()
    {
        const udp::endpoint console(asio::ip::make_address_v4("127.0.0.1"), Protocol::ConsolePort);
        int turn = 0;
        while (running) {
            const bool registering = ++turn % 2 == 0;
            const QByteArray ask = registering ? Protocol::buildRegister(ProbeMac, QStringLiteral("PROBE"))
                                               : Protocol::buildHeartbeat(0x0000DD0000000000ULL + quint64(turn));
            const uint32_t expected = registering ? Protocol::MSG_ADMIN_JOIN_GROUP : Protocol::MSG_ADMIN_REREGISTER;
            asio::error_code error;
            // The first registration needs the console's socket; until then nothing counts.
            socket.send_to(asio::buffer(ask.constData(), size_t(ask.size())), console, 0, error);
            const Clock::time_point sent = Clock::now();
            bool answered = false;
            while (running && msSince(sent) < 1000) {
                char reply[64];
                udp::endpoint from;
                const size_t n = socket.receive_from(asio::buffer(reply), from, 0, error);
                if (error == asio::error::would_block) {
                    std::this_thread::sleep_for(std::chrono::microseconds(200));
                    continue;
                }
                if (!error && Protocol::consoleMessageId(QByteArray(reply, int(n))) == expected) {
                    answered = true;
                    break;
                }
            }
            {
                std::lock_guard<std::mutex> lock(mutex);
                ++figures.asked;
                if (answered) {
                    const double rtt = msSince(sent);
                    ++figures.answered;
                    figures.sumMs += rtt;
                    figures.worstMs = std::max(figures.worstMs, rtt);
                    figures.longestGapMs = std::max(figures.longestGapMs, msSince(lastAnswer));
                    lastAnswer = Clock::now();
                }
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    }

    asio::io_context io;
    udp::socket socket;
    std::thread thread;
    std::atomic_bool running { true };
    std::mutex mutex;
    Figures figures;
    Clock::time_point lastAnswer = Clock::now();
};

// Sends from its address (the flood's PC, 127.0.0.3) as fast as the socket
// takes it.
class Blaster final
{
public:
    explicit Blaster(const char* address = "127.0.0.3")
        : socket(io, udp::endpoint(asio::ip::make_address_v4(address), 0))
        , console(asio::ip::make_address_v4("127.0.0.1"), Protocol::ConsolePort)
    {
        socket.non_blocking(true);
    }

    bool send(const QByteArray& datagram)
    {
        for (int tries = 0; tries < 1000; ++tries) {
            asio::error_code error;
            socket.send_to(asio::buffer(datagram.constData(), size_t(datagram.size())), console, 0, error);
            drain();
            if (!error)
                return true;
            if (error != asio::error::would_block && error != asio::error::no_buffer_space)
                return false;
            std::this_thread::yield();
        }
        return false;
    }

    // Answers read back, so that the namespace's drop counter counts only
    // datagrams the console's socket had no room for.
    long answers() const { return answered.load(); }

    QByteArray randomDatagram(std::mt19937_64& random)
    {
        QByteArray datagram(int(random() % 101), Qt::Uninitialized);
        for (char& byte : datagram)
            byte = char(random());
        if (datagram.size() < Protocol::AgentHeadSize)
            return datagram;
        quint64 mac = random();
        uint32_t id = uint32_t(random());
        const unsigned kind = unsigned(random() % 100);
        if (kind < 10) {
            mac = 0;
        } else if (kind < 30) {
            // Known machines, including registrations whose host name is garbage.
            mac = PoolBase + random() % PoolSize;
            static const uint32_t ids[]
                = { Protocol::MSG_STU_REGISTER, Protocol::MSG_STU_HEARTBEAT, Protocol::MSG_STU_POLICY_VERSION };
            id = random() % 4 == 3 ? id : ids[random() % 3];
            if (id == Protocol::MSG_STU_REGISTER && random() % 2 && datagram.size() > 12)
                datagram[12] = char(Protocol::TV_STRING);
        } else {
            const unsigned pick = unsigned(random() % 3);
            id = pick == 0 ? Protocol::MSG_STU_HEARTBEAT : pick == 1 ? Protocol::MSG_STU_POLICY_VERSION : id;
            if (id == Protocol::MSG_STU_REGISTER)
                id = Protocol::MSG_STU_HEARTBEAT; // bogus registrations are phase 2's
        }
        QByteArray head;
        Protocol::appendU64(head, mac);
        Protocol::appendU32(head, id);
        datagram.replace(0, Protocol::AgentHeadSize, head);
        return datagram;
    }

private:
    void drain()
    {
        char reply[64];
        udp::endpoint from;
        asio::error_code error;
        for (int i = 0; i < 64; ++i) {
            socket.receive_from(asio::buffer(reply), from, 0, error);
            if (error)
                return;
            ++answered;
        }
    }

    asio::io_context io;
    udp::socket socket;
    udp::endpoint console;
    std::atomic_long answered { 0 };
};

int storedMachines(const QString& path)
{
    int count = -1;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("flood-reader"));
        db.setDatabaseName(path);
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
        if (db.open()) {
            QSqlQuery query(db);
            if (query.exec(QStringLiteral("SELECT count(*) FROM tb_machines;")) && query.next())
                count = query.value(0).toInt();
            db.close();
        }
    }
    QSqlDatabase::removeDatabase(QStringLiteral("flood-reader"));
    return count;
}

// Runs the event loop for `ms`, or until `done` holds (checked every 20 ms).
void spin(int ms, const std::function<bool()>& done = {})
{
    QElapsedTimer elapsed;
    elapsed.start();
    while (elapsed.elapsed() < ms) {
        QEventLoop loop;
        QTimer::singleShot(20, &loop, &QEventLoop::quit);
        loop.exec();
        if (done && done())
            return;
    }
}

} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    initRokResources();
    long datagrams = 1000000;
    int registrations = 10000;
    bool check = false;
    const QStringList args = QCoreApplication::arguments();
    for (int i = 1; i < args.size(); ++i) {
        if (args.at(i) == QLatin1String("--datagrams") && i + 1 < args.size())
            datagrams = args.at(++i).toLong();
        else if (args.at(i) == QLatin1String("--registrations") && i + 1 < args.size())
            registrations = args.at(++i).toInt();
        else if (args.at(i) == QLatin1String("--check"))
            check = true;
        else {
            std::fputs("usage: rok-flood [--datagrams N] [--registrations N] [--check]\n", stderr);
            return 2;
        }
    }
    if (qgetenv("ROK_NETNS_ISOLATED") != "1") {
        std::fputs("rok-flood: run me inside scripts/netns\n", stderr);
        return 2;
    }

    QTemporaryDir dir;
    MessageBox::setNextAnswer(QMessageBox::Ok);
    RokVtxAdmin window(dir.path());
    if (!window.networkReady()) {
        std::fputs("rok-flood: the console could not open its socket\n", stderr);
        return 1;
    }
    window.show();
    LatenessProbe lateness;
    AgentProbe probe;
    Blaster blaster;
    const auto rows = [&window] { return window.allPage()->machine_table->getRowCount(); };

    // Per line: probe answers within 1 s of those asked, the slowest answer,
    // the longest time without one, the UI thread's worst lateness and how
    // often it was more than 100 ms late.
    std::printf(
        "%-34s %8s %9s %8s %10s %8s %7s\n", "phase", "at s", "answered", "slowest", "no-answer", "UI-late", ">100ms");
    auto report = [&](const char* phase, double seconds) {
        const AgentProbe::Figures f = probe.take();
        const auto [late, over] = lateness.take();
        std::printf("%-34s %8.1f %4d/%-4d %6.0fms %8.0fms %6.0fms %7d\n", phase, seconds, f.answered, f.asked,
            f.worstMs, f.longestGapMs, late, over);
        std::fflush(stdout);
        return std::make_tuple(f, late);
    };

    // Idle, with the probe registered.
    spin(3000, [&] { return window.core().registry().findMachine(ProbeMac) != nullptr; });
    spin(2000);
    report("idle", 2.0);
    const long rssStart = statusKb("VmRSS:");
    const auto udpStart = udpCounters();

    // Phase 1: random datagrams, sent from a thread while the UI thread runs.
    std::atomic_long sent { 0 };
    std::atomic_bool blasting { true };
    Clock::time_point phaseStart = Clock::now();
    std::thread blast([&] {
        std::mt19937_64 random(20261206);
        // One PC's share of them is kept (RegistrationGate::MaxPerAddress);
        // the rest are known MACs from elsewhere or unknown ones.
        for (int i = 0; i < PoolSize; ++i)
            blaster.send(Protocol::buildRegister(PoolBase + quint64(i), QStringLiteral("POOL-%1").arg(i)));
        for (long i = 0; i < datagrams; ++i)
            if (blaster.send(blaster.randomDatagram(random)))
                ++sent;
        blasting = false;
    });
    std::vector<std::tuple<AgentProbe::Figures, double>> during;
    while (blasting) {
        spin(1000, [&] { return !blasting; });
        during.push_back(report("  random datagrams (per second)", msSince(phaseStart) / 1000));
    }
    blast.join();
    const double phase1Seconds = msSince(phaseStart) / 1000;
    const auto udpAfter1 = udpCounters();
    // The kernel drops what does not fit the console's receive buffer, probes
    // too; the console has caught up once the buffer is drained.
    // A probe sent just before the end may still wait out its second.
    spin(1500);
    during.push_back(report("  draining the buffer (1.5 s)", 1.5));
    spin(2000);
    const auto after1 = report("after random datagrams (2 s)", 2.0);
    const long rssAfter1 = statusKb("VmRSS:");
    const long long dropped = udpAfter1.second - udpStart.second;
    std::printf("phase 1: %ld of %ld datagrams sent in %.1f s (%.0f/s); %lld dropped by the kernel for a full "
                "receive buffer, so the console took about %lld (%.0f/s); %ld answers came back\n",
        sent.load(), datagrams, phase1Seconds, double(sent.load()) / phase1Seconds, dropped, sent.load() - dropped,
        double(sent.load() - dropped) / phase1Seconds, blaster.answers());

    // Phase 2: distinct bogus MACs register in one burst from one PC. The
    // console keeps a few (RegistrationGate::MaxPerAddress) and refuses the
    // rest; a genuine new PC from another address still gets in at once.
    phaseStart = Clock::now();
    blasting = true;
    std::thread burst([&] {
        for (int i = 0; i < registrations; ++i)
            blaster.send(Protocol::buildRegister(BogusBase + quint64(i), QStringLiteral("BOGUS-%1").arg(i)));
        blasting = false;
    });
    while (blasting) {
        spin(1000, [&] { return !blasting; });
        during.push_back(report("  bogus registrations (per second)", msSince(phaseStart) / 1000));
    }
    burst.join();
    const double burstSeconds = msSince(phaseStart) / 1000;
    const auto burstEnd = Clock::now();
    Blaster genuine("127.0.0.7");
    const quint64 genuineMac = 0x0000600D00000001ULL;
    spin(10000, [&] {
        genuine.send(Protocol::buildRegister(genuineMac, QStringLiteral("GENUINE")));
        return window.allPage()->rowOfMachine(genuineMac) >= 0;
    });
    const double genuineShown = std::chrono::duration<double, std::milli>(Clock::now() - burstEnd).count();
    int bogusKept = 0;
    for (int i = 0; i < registrations; ++i)
        bogusKept += window.core().registry().findMachine(BogusBase + quint64(i)) ? 1 : 0;
    const QString dbPath = window.core().databasePath();
    const int expectedStored = int(window.core().registry().allMachines().size());
    spin(30000, [&] { return storedMachines(dbPath) >= expectedStored; });
    const double stored = msSince(phaseStart) / 1000;
    spin(3000);
    const auto after2 = report("after registrations (3 s)", 3.0);
    const long rssAfter2 = statusKb("VmRSS:");
    std::printf("phase 2: %d registrations from one PC sent in %.1f s, %d kept; a genuine PC from another address "
                "shown %.0f ms after the burst; all in the database after %.1f s; %d machines, %d rows in \"全部\"\n",
        registrations, burstSeconds, bogusKept, genuineShown, stored, int(window.core().registry().allMachines().size()),
        rows());
    spin(4000);
    const auto settled = report("settled (4 s)", 4.0);
    const long rssEnd = statusKb("VmRSS:");
    const long peak = statusKb("VmHWM:");
    std::printf(
        "memory: RSS %ld MB at start, %ld MB after phase 1, %ld MB after phase 2, %ld MB at the end; peak %ld MB\n",
        rssStart / 1024, rssAfter1 / 1024, rssAfter2 / 1024, rssEnd / 1024, peak / 1024);

    double worstLate = 0;
    double longestGap = 0;
    for (const auto& [figures, late] : during) {
        worstLate = std::max(worstLate, late);
        longestGap = std::max(longestGap, figures.longestGapMs);
    }
    std::printf("during the floods: worst UI lateness %.0f ms, longest time without an answer %.0f ms\n", worstLate,
        longestGap);

    if (!check)
        return 0;
    // Generous bounds: a console that stops answering, freezes for seconds,
    // loses registrations or grows without bound fails; a slow machine does not.
    int passed = 0;
    int failed = 0;
    auto expect = [&](bool ok, const QString& what) {
        (ok ? passed : failed)++;
        std::printf("%s: %s\n", ok ? "PASS" : "FAIL", qPrintable(what));
    };
    const auto answeredAll = [](const std::tuple<AgentProbe::Figures, double>& phase) {
        return std::get<0>(phase).asked > 0 && std::get<0>(phase).answered == std::get<0>(phase).asked;
    };
    expect(answeredAll(after1) && answeredAll(after2) && answeredAll(settled),
        QStringLiteral("every probe answered within 1 s once a flood is over"));
    expect(longestGap < 5000, QStringLiteral("the probe never went 5 s without an answer during the floods"));
    expect(worstLate < 5000, QStringLiteral("the UI thread never stalled for 5 s"));
    expect(bogusKept <= RegistrationGate::MaxPerAddress,
        QStringLiteral("one PC registered at most %1 machines").arg(RegistrationGate::MaxPerAddress));
    expect(window.allPage()->rowOfMachine(genuineMac) >= 0 && storedMachines(dbPath) >= expectedStored,
        QStringLiteral("a genuine new PC got in beside the flood, and reached the database"));
    if (underAddressSanitizer) {
        // Its quarantine holds on to freed memory by design (256 MB by
        // default), so the figures above say nothing about our growth.
        std::printf("memory not judged under AddressSanitizer\n");
    } else {
        expect(rssAfter1 - rssStart < 64 * 1024, QStringLiteral("random datagrams grew the RSS by less than 64 MB"));
        expect(rssEnd - rssStart < 512 * 1024, QStringLiteral("the RSS grew by less than 512 MB in all"));
    }
    std::printf("flood: %d passed, %d failed\n", passed, failed);
    return failed == 0 ? 0 : 1;
}
