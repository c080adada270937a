// What a student on the lab network may not do, as the core's rules: speak
// for another machine, move agents out of their groups for good, override a
// group's state unanswered, or bury the teacher in alerts.

#include "AgentPortWatch.h"
#include "EventLogStore.h"
#include "JoinRepeater.h"
#include "MachineIdentity.h"
#include "MessageBox.h"
#include "Protocol.h"
#include "QStudentManage.h"
#include "RegistrationGate.h"
#include "RepeatCounter.h"
#include "ResendThrottle.h"
#include "RokResources.h"
#include "RokVtxAdmin.h"
#include "SaveScheduler.h"
#include "SecurityMonitor.h"

#include <QNetworkDatagram>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QUdpSocket>
#include <QtTest>

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

uint32_t address(const char* text)
{
    return Protocol::addressFromText(QString::fromLatin1(text));
}

using namespace std::chrono_literals;

// Under Wine this suite's own sockets beside the console's watch on the
// agents' port hear nothing of the console's datagrams, nor the watch theirs;
// a sender outside Wine is seen (scripts/windows-e2e checks it).
bool underWine()
{
#ifdef _WIN32
    const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version");
#else
    return false;
#endif
}

// A PC on the lab network: its own loopback address on the agents' port.
class Pc
{
public:
    explicit Pc(const char* ip)
        : address(QString::fromLatin1(ip))
    {
        // Beside the console's watch on the same port: on Windows sharing
        // needs the reuse option asked for, as the watch asks for it.
        QVERIFY(socket.bind(address, Protocol::AgentPort, QUdpSocket::ShareAddress | QUdpSocket::ReuseAddressHint));
    }
    void toConsole(const QByteArray& datagram)
    {
        socket.writeDatagram(datagram, QHostAddress(QStringLiteral("127.0.0.1")), Protocol::ConsolePort);
    }
    void to(const char* ip, const QByteArray& datagram)
    {
        socket.writeDatagram(datagram, QHostAddress(QString::fromLatin1(ip)), Protocol::AgentPort);
    }
    // Ids of the console's datagrams that reached this PC (bound to its
    // own address, it gets unicast alone).
    QList<uint32_t> heard()
    {
        while (socket.hasPendingDatagrams())
            ids << Protocol::consoleMessageId(socket.receiveDatagram().data());
        return ids;
    }

    QHostAddress address;
    QUdpSocket socket;
    QList<uint32_t> ids;
};

QStringList securityRows(EventLogStore& log)
{
    log.flush();
    QStringList rows;
    QSqlQuery query = log.select(QString(), EventLogStore::Security, true);
    while (query.next())
        rows << query.value(5).toString();
    return rows;
}

} // namespace

class TestGuard : public QObject
{
    Q_OBJECT

private slots:
    void identity();
    void repeatCounter();
    void limits();
    void joinsRepeatedAndSpread();
    void watchTellsForeignFromOwn();
    void consoleKeepsMachinesToTheirOwnAddress();
    void consoleAnswersAnotherConsole();
    void savesAndLogCannotBeFlooded();
};

void TestGuard::identity()
{
    QStudentManage registry(QStudentManage::Ticks::Manual);
    const CStuInfo_PTR machine = registry.updateMachine(7, QStringLiteral("PC-7"), QStringLiteral("127.0.1.7"), false);
    using R = MachineIdentity::Registration;
    QCOMPARE(MachineIdentity::registration(*machine, address("127.0.1.8")), R::Moved);
    machine->markAlive();
    QVERIFY(MachineIdentity::speaksFor(*machine, address("127.0.1.7")));
    QVERIFY(!MachineIdentity::speaksFor(*machine, address("127.0.0.99")));
    QCOMPARE(MachineIdentity::registration(*machine, address("127.0.1.7")), R::Same);
    QCOMPARE(MachineIdentity::registration(*machine, address("127.0.0.99")), R::Refused);
    // The address follows a rename; a machine without one speaks for nobody.
    QVERIFY(registry.renameMachine(7, QStringLiteral("PC-7"), QStringLiteral("127.0.1.9")));
    QVERIFY(MachineIdentity::speaksFor(*machine, address("127.0.1.9")));
    QVERIFY(registry.renameMachine(7, QStringLiteral("PC-7"), QString()));
    QVERIFY(!MachineIdentity::speaksFor(*machine, 0));
}

void TestGuard::repeatCounter()
{
    RepeatCounter counter(1000, 2);
    QVERIFY(counter.hit(1, 0).first);
    QCOMPARE(counter.hit(1, 999).count, quint64(2));
    QVERIFY(!counter.hit(1, 999).first);
    QVERIFY(counter.hit(2, 10).first);
    // Full: a third sender is not told apart until a window closes.
    QVERIFY(!counter.hit(3, 500).first);
    QCOMPARE(counter.dropped(), quint64(1));
    QCOMPARE(counter.takeGrown(), (QList<QPair<quint64, quint64>> { { 1, 3 } }));
    QVERIFY(counter.takeGrown().isEmpty());
    QVERIFY(counter.hit(1, 1000).first); // a new window, a new row
    QVERIFY(!counter.hit(3, 1000).first);
    QVERIFY(counter.hit(3, 1010).first);
}

void TestGuard::limits()
{
    // New machines: a share per address, and so many a second in all.
    RegistrationGate gate;
    using V = RegistrationGate::Verdict;
    QCOMPARE(gate.admit(RegistrationGate::MaxPerAddress, 0), V::AddressFull);
    for (int i = 0; i < RegistrationGate::MaxPerSecond; ++i)
        QCOMPARE(gate.admit(RegistrationGate::MaxPerAddress - 1, 999), V::Admitted);
    QCOMPARE(gate.admit(0, 999), V::TooFast);
    QCOMPARE(gate.admit(0, 1000), V::Admitted);

    // One policy resend per interval; what was asked meanwhile is owed once.
    const auto start = ResendThrottle::Clock::now();
    ResendThrottle throttle(300ms);
    QVERIFY(throttle.request(start));
    QVERIFY(!throttle.takeOwed(start + 1s));
    QVERIFY(throttle.request(start + 1s));
    QVERIFY(!throttle.request(start + 1s + 10ms));
    QVERIFY(!throttle.request(start + 1s + 20ms));
    QVERIFY(!throttle.takeOwed(start + 1s + 299ms));
    QVERIFY(throttle.takeOwed(start + 1s + 300ms));
    QVERIFY(!throttle.takeOwed(start + 2s));
    QVERIFY(!throttle.request(start + 1s + 400ms)); // within 300 ms of the owed one
}

void TestGuard::joinsRepeatedAndSpread()
{
    QStudentManage registry(QStudentManage::Ticks::Manual);
    QVERIFY(registry.addGroup(QStringLiteral("A"), 1));
    constexpr int Machines = 120;
    for (int i = 1; i <= Machines; ++i) {
        const QString ip = QStringLiteral("127.0.1.%1").arg(i);
        QVERIFY(registry.updateMachine(quint64(i), QString(), ip, i % 4 != 0)); // every fourth off line
        if (i % 2 == 0)
            QVERIFY(registry.moveMachineToGroup(QStringLiteral("A"), quint64(i)));
    }
    const uint32_t groupA = address("239.74.8.28");
    const uint32_t ungrouped = address("239.74.8.27");
    QMap<uint32_t, QList<uint32_t>> joins; // agent -> groups, in order
    int largestTick = 0;
    int sweeps = 0;
    JoinRepeater repeater(registry, [&](const std::vector<JoinRepeater::Join>& batch) {
        for (const JoinRepeater::Join& join : batch)
            joins[join.agent] << join.group;
    });
    repeater.setSweptCallback([&sweeps] { ++sweeps; });
    repeater.setGroupAddresses({ { QStringLiteral("A"), groupA } }, ungrouped);

    auto now = JoinRepeater::Clock::now();
    const auto tick = [&] {
        now += std::chrono::milliseconds(JoinRepeater::SliceMs);
        largestTick = std::max(largestTick, repeater.tick(now));
    };
    constexpr int Slices = JoinRepeater::PeriodMs / JoinRepeater::SliceMs;
    for (int i = 0; i < Slices; ++i)
        tick();
    // Each on-line machine once in the period, to its own group, in slices.
    QCOMPARE(joins.size(), Machines * 3 / 4);
    for (int i = 1; i <= Machines; ++i) {
        const uint32_t agent = address(QStringLiteral("127.0.1.%1").arg(i).toLatin1());
        if (i % 4 == 0)
            QVERIFY(!joins.contains(agent));
        else
            QVERIFY(!joins.value(agent).isEmpty()
                && joins.value(agent).count(i % 2 == 0 ? groupA : ungrouped) == joins.value(agent).size());
    }
    QVERIFY(largestTick <= (Machines + Slices - 1) / Slices);

    // A move is followed at the machine's next turn; a sweep reaches every
    // machine at once, and not again within a second.
    QVERIFY(registry.removeMachineFromGroup(QStringLiteral("A"), 2));
    joins.clear();
    repeater.requestSweep();
    tick();
    QCOMPARE(joins.size(), Machines * 3 / 4);
    QCOMPARE(sweeps, 1);
    QCOMPARE(joins.value(address("127.0.1.2")).last(), ungrouped);
    repeater.requestSweep();
    joins.clear();
    tick();
    QVERIFY(joins.size() < Machines / 4);
    for (int i = 0; i < 9; ++i)
        tick();
    QCOMPARE(joins.size(), Machines * 3 / 4);
}

void TestGuard::watchTellsForeignFromOwn()
{
    AgentPortWatch watch(Protocol::ConsolePort);
    QList<uint32_t> overridden;
    int joinsSeen = 0;
    QList<QPair<uint32_t, int>> senders;
    AgentPortWatch::Callbacks callbacks;
    callbacks.stateOverridden = [&](uint32_t group) { overridden << group; };
    callbacks.joinSeen = [&] { ++joinsSeen; };
    callbacks.senderSeen = [&](uint32_t sender, AgentPortWatch::Kind kind) { senders << qMakePair(sender, int(kind)); };
    watch.setCallbacks(callbacks);
    const uint32_t room = address("239.74.8.28");
    watch.setGroups({ room, address("239.74.8.27") });

    const uint32_t own = address("127.0.0.1");
    const uint32_t student = address("127.0.0.99");
    const QByteArray unlock = Protocol::buildLockState(0xF0000000u);
    const auto now = std::chrono::steady_clock::now();
    auto at = now;
    const auto feed = [&](const QByteArray& datagram, uint32_t source, uint16_t port, uint32_t destination) {
        watch.handle(datagram.constData(), size_t(datagram.size()), source, port, destination, at);
    };
    // The console's own datagrams, and what agents do not obey, pass.
    feed(unlock, own, Protocol::ConsolePort, room);
    feed(Protocol::buildHeartbeat(5), student, 40000, room);
    feed(unlock.left(3), student, 40000, room);
    QVERIFY(overridden.isEmpty() && senders.isEmpty());

    // Another sender's word on a room: answered at once, then held back to
    // one answer per interval, which still comes once the interval is over.
    feed(unlock, student, 40000, room);
    feed(unlock, own, 40000, room); // this PC, but not the console's port
    QCOMPARE(overridden, QList<uint32_t> { room });
    watch.flushHeldResends(now);
    QCOMPARE(overridden.size(), 1);
    watch.flushHeldResends(now + std::chrono::milliseconds(AgentPortWatch::ResendIntervalMs));
    QCOMPARE(overridden, (QList<uint32_t> { room, room }));
    watch.flushHeldResends(now + 1s);
    QCOMPARE(overridden.size(), 2);
    at = now + 60ms;
    // A group no page has needs no answer; without the destination every page answers.
    feed(unlock, student, 40000, address("239.74.250.1"));
    QCOMPARE(overridden.size(), 2);
    feed(Protocol::buildPolicy(1, {}), student, 40001, 0);
    QCOMPARE(overridden.size(), 3); // the room is still held back; the other page answers
    QCOMPARE(overridden.last(), address("239.74.8.27"));

    feed(Protocol::buildJoinGroup(address("239.74.250.1")), student, 40000, address("255.255.255.255"));
    feed(Protocol::buildBeacon(), address("127.0.0.98"), Protocol::ConsolePort, address("255.255.255.255"));
    QCOMPARE(joinsSeen, 1);
    // Each sender is told once, however often it sends.
    QCOMPARE(senders, (QList<QPair<uint32_t, int>> { { student, AgentPortWatch::LockState },
                          { own, AgentPortWatch::LockState }, { address("127.0.0.98"), AgentPortWatch::Beacon } }));
    QCOMPARE(watch.senders().hit(student, QDateTime::currentMSecsSinceEpoch()).count, quint64(5));
}

void TestGuard::consoleKeepsMachinesToTheirOwnAddress()
{
    if (qgetenv("ROK_NETNS_ISOLATED") != "1")
        QSKIP("opens the console's ports; runs only inside scripts/netns");
    if (underWine())
        QSKIP("this suite's PCs on the agents' port hear nothing under Wine");
    QTemporaryDir dir;
    RokVtxAdmin window(dir.path());
    QVERIFY(window.networkReady());
    QStudentManage& registry = window.studentManage();
    constexpr quint64 Mac = 0x5A0000000007ULL;
    Pc owner("127.0.1.7");
    Pc student("127.0.0.99");
    owner.toConsole(Protocol::buildRegister(Mac, QStringLiteral("PC-07")));
    QTRY_VERIFY(registry.findMachine(Mac) && registry.findMachine(Mac)->hostname == QStringLiteral("PC-07"));
    const CStuInfo_PTR machine = registry.findMachine(Mac);
    QTRY_VERIFY(owner.heard().contains(Protocol::MSG_ADMIN_JOIN_GROUP));

    // While the owner is on line, another PC can neither take the MAC over
    // nor speak for it: its heartbeat is asked to register, its registration
    // changes nothing and is logged with both addresses.
    student.toConsole(Protocol::buildHeartbeat(Mac));
    QTRY_VERIFY(student.heard().contains(Protocol::MSG_ADMIN_REREGISTER));
    student.toConsole(Protocol::buildRegister(Mac, QStringLiteral("STUDENT")));
    QTRY_COMPARE(securityRows(*window.eventLog()).size(), 1);
    QCOMPARE(securityRows(*window.eventLog()).first(), QStringLiteral("127.0.0.99 以本机的 MAC 注册，本机正在 127.0.1.7 在线：未接受"));
    QCOMPARE(machine->hostname, QStringLiteral("PC-07"));
    QCOMPARE(machine->ip, QStringLiteral("127.0.1.7"));
    QVERIFY(!student.heard().contains(Protocol::MSG_ADMIN_JOIN_GROUP));

    // The owner unplugged: heartbeats from elsewhere do not keep it on line.
    QTimer stolen;
    connect(&stolen, &QTimer::timeout, &stolen, [&] { student.toConsole(Protocol::buildHeartbeat(Mac)); });
    stolen.start(200);
    QTRY_VERIFY_WITH_TIMEOUT(!machine->online.load(), 10000);
    stolen.stop();
    // Off line, a registration from elsewhere is a move, as after DHCP.
    student.toConsole(Protocol::buildRegister(Mac, QStringLiteral("PC-07B")));
    QTRY_COMPARE(machine->ip, QStringLiteral("127.0.0.99"));
    QCOMPARE(machine->hostname, QStringLiteral("PC-07B"));
    QTRY_VERIFY(student.heard().contains(Protocol::MSG_ADMIN_JOIN_GROUP));
    QCOMPARE(securityRows(*window.eventLog()).size(), 1);
}

void TestGuard::consoleAnswersAnotherConsole()
{
    if (qgetenv("ROK_NETNS_ISOLATED") != "1")
        QSKIP("opens the console's ports; runs only inside scripts/netns");
    if (underWine())
        QSKIP("this suite's PCs on the agents' port hear nothing under Wine");
    QTemporaryDir dir;
    RokVtxAdmin window(dir.path());
    QVERIFY(window.watchingAgentPort());
    QSignalSpy alerts(&window, &RokVtxAdmin::sg_tray_message);
    Pc student("127.0.0.99");
    // "未分组" has the first group address.
    for (int i = 0; i < 3; ++i)
        student.to("239.74.8.27", Protocol::buildLockState(0xF0000000u));
    QTRY_COMPARE(alerts.size(), 1);
    QCOMPARE(alerts.first().at(1).toString(), QStringLiteral("发现其他教师端：127.0.0.99"));
    // Told once; the row counts the sender's datagrams.
    QTRY_COMPARE(securityRows(*window.eventLog()),
        QStringList { QStringLiteral("发现其他教师端：127.0.0.99，首条为锁定状态（共 3 条）") });
    QCOMPARE(alerts.size(), 1);
}

void TestGuard::savesAndLogCannotBeFlooded()
{
    QTemporaryDir dir;
    RokVtxAdmin window(dir.path());
    QVERIFY(window.studentManage().addGroup(QStringLiteral("一号机房"), 1));
    window.saveScheduler()->scheduleDatabaseSave();
    window.saveScheduler()->scheduleConfigSave();
    // A machine renaming itself twice a second asks for saves for ever.
    QTimer renames;
    connect(&renames, &QTimer::timeout, &window, [&window] {
        window.saveScheduler()->scheduleDatabaseSave();
        window.saveScheduler()->scheduleConfigSave();
    });
    renames.start(300);
    const auto storedGroups = [&dir] {
        int count = -1;
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("reader"));
            db.setDatabaseName(dir.filePath(QStringLiteral("data.sqlite3")));
            QSqlQuery query(db);
            if (db.open() && query.exec(QStringLiteral("SELECT count(*) FROM tb_groups;")) && query.next())
                count = query.value(0).toInt();
        }
        QSqlDatabase::removeDatabase(QStringLiteral("reader"));
        return count;
    };
    QTRY_COMPARE(storedGroups(), 1);
    QTRY_VERIFY(QFile::exists(window.configPath()));
    renames.stop();

    // Machines of one address going off line in a burst: twenty rows, then
    // one counted row for the rest.
    QList<CStuInfo_PTR> lost;
    for (int i = 0; i < 25; ++i)
        lost << window.studentManage().updateMachine(0xBB00 + quint64(i), QString(), QStringLiteral("127.0.0.3"), false);
    window.onMachinesChanged(lost);
    EventLogStore& log = *window.eventLog();
    QTRY_COMPARE(securityRows(log),
        QStringList { QStringLiteral("127.0.0.3 的机器一分钟内上线、离线或注册超过 20 次，其余只计数（共 25 次）") });
    QSqlQuery offline = log.select(QString(), EventLogStore::Offline, true);
    int rows = 0;
    while (offline.next())
        ++rows;
    QCOMPARE(rows, SecurityMonitor::MachineEventsPerMinute);
}

QTEST_MAIN(TestGuard)
#include "tst_guard.moc"
