// What a student on the lab network may not do, as the core's rules: speak
// for another machine, move agents out of their groups for good, override a
// group's state unanswered, or bury the teacher in alerts.

#include "../console/BarePages.h"
#include "../console/tst_mainwindow_support.h"
#include "core/AgentPortWatch.h"
#include "core/AnswerBudget.h"
#include "core/JoinRepeater.h"
#include "core/MachineIdentity.h"
#include "core/NeighbourTable.h"
#include "core/Protocol.h"
#include "core/QStudentManage.h"
#include "core/RegistrationAnswer.h"
#include "core/RegistrationGate.h"
#include "core/RepeatCounter.h"
#include "core/ResendThrottle.h"
#include "core/SentLedger.h"
#include "core/UdpServer.h"
#include "dialogs/MessageBox.h"
#include "groups/MachineMenu.h"
#include "guard/LabGuard.h"
#include "guard/SecurityMonitor.h"
#include "model/SecurityRowBudget.h"
#include "pages/PageDirectory.h"
#include "network/ReceivePath.h"
#include "pages/QStudentGroupWidget.h"
#include "RokResources.h"
#include "RokVtxAdmin.h"
#include "saving/SaveScheduler.h"
#include "storage/EventLogStore.h"
#include "tableview/QtRokTableView.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QMenu>
#include <QNetworkDatagram>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QUdpSocket>
#include <QtTest>

#include <QTabWidget>

#include <cstring>

#ifdef _WIN32
#include <windows.h>
#endif
#ifdef __linux__
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace {

uint32_t address(const char* text)
{
    return Protocol::addressFromText(QString::fromLatin1(text));
}

using namespace std::chrono_literals;
using MainWindowTest::underWine;


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
        while (socket.hasPendingDatagrams()) {
            const QByteArray datagram = socket.receiveDatagram().data();
            ids << Protocol::consoleMessageId(datagram);
            uint32_t group = 0;
            if (ids.last() == Protocol::MSG_ADMIN_JOIN_GROUP && datagram.size() == 8) {
                std::memcpy(&group, datagram.constData() + 4, sizeof group);
                groups << group;
            }
        }
        return ids;
    }
    // The groups the joins it heard named.
    QList<uint32_t> joins()
    {
        heard();
        return groups;
    }

    QHostAddress address;
    QUdpSocket socket;
    QList<uint32_t> ids;
    QList<uint32_t> groups;
};

// The network card the OS saw at 127.0.1.7.
constexpr quint64 Seen = 0x5A00000000AAULL;
constexpr quint64 FullBase = 0x0000B0B000000001ULL;

QStringList securityRows(EventLogStore& log)
{
    log.flush();
    QStringList rows;
    QSqlQuery query = log.select(QString(), EventLogStore::Security, true);
    while (query.next())
        rows << query.value(5).toString();
    return rows;
}

// The console's network side without its window: bare pages, the event log
// in memory, the endpoint on the console's port, the guard on the agents'
// port and the receive path, wired as the console wires them (machines
// placed and renamed, their names watched, the pages' datagrams sent). No
// joins are repeated: the ones heard are the answers.
class BareConsole final
{
public:
    BareConsole()
    {
        db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("bare-console"));
        db.setDatabaseName(QStringLiteral(":memory:"));
        db.open();
        log.open(db);
        guard = std::make_unique<LabGuard>(lab.registry, lab.directory, endpoint, &log);
        receive = std::make_unique<ReceivePath>(lab.registry, lab.directory, *guard, endpoint);
        GroupOperations* ops = lab.ops.get();
        QObject::connect(receive.get(), &ReceivePath::sg_registered, ops,
            [ops](const CStuInfo_PTR& machine) { ops->placeMachine(machine); });
        QObject::connect(receive.get(), &ReceivePath::sg_renamed, ops, &GroupOperations::renameMachine);
        QObject::connect(receive.get(), &ReceivePath::sg_evicted, ops, &GroupOperations::dropEvicted);
        QObject::connect(ops, &GroupOperations::sg_changed, guard.get(), [this](const GroupChange& change) {
            if (change.machine)
                guard->monitor()->noteMachineNamed(change.machine);
        });
        // The pages' own datagrams go out as the console's, "全部" in front.
        for (QStudentGroupWidget* page : lab.directory.groupPages())
            QObject::connect(page, &QStudentGroupWidget::sg_need_send_msg, guard.get(),
                [this](uint32_t address, const QByteArray& datagram) {
                    guard->noteSent(address, datagram);
                    endpoint.sendto(datagram.constData(), datagram.size(), address, Protocol::AgentPort);
                });
        lab.all()->refresh_enabled = true;
        guard->setGroupAddresses(lab.directory.publish());
        endpoint.onMessage = [this](const SocketChannelPtr& channel, const UdpBuffer& buf) {
            receive->onUdpMessage(channel, buf);
        };
        listening = endpoint.createsocket(Protocol::ConsolePort, "0.0.0.0") > 0 && endpoint.start() == 0
            && guard->watchAgentPort();
    }
    ~BareConsole()
    {
        receive->stop();
        guard->stop();
        endpoint.stop();
        receive.reset();
        guard.reset();
        log.close();
        db = QSqlDatabase();
        QSqlDatabase::removeDatabase(QStringLiteral("bare-console"));
    }

    BarePages lab;
    QSqlDatabase db;
    EventLogStore log;
    UdpServer endpoint;
    std::unique_ptr<LabGuard> guard;
    std::unique_ptr<ReceivePath> receive;
    bool listening = false;
};

} // namespace

class TestGuard : public QObject
{
    Q_OBJECT

private slots:
    void identity_data();
    void identity();
    void neighbourTable();
    void repeatCounter();
    void securityRowBudget_data();
    void securityRowBudget();
    void limits();
    void joinsRepeatedAndSpread();
    void watchJudgesByContent();
    void watchAnswersEveryWord();
    void watchAnswersAnyDestination();
    void foreignJoinsFailClosed();
    void consoleShowsIdentityConflicts();
    void consoleCatchesForgedSources();
    void consoleAnswersReregistrationsOnceASecond();
    void consoleAnswersAnotherConsole();
    void guardAnswersWithThePagesWords();
    void consoleTellsForgedSource();
    void roomAlertsEscalate();
    void madeUpSourcesCannotHideASender();
    void alikeNames();
    void alikeNamesMarkedNotChanged();
    void savesAndLogCannotBeFlooded();
    void consoleKeepsAnsweringWhenFull();
};

void TestGuard::identity_data()
{
    QTest::addColumn<bool>("registration");
    QTest::addColumn<QString>("recorded");
    QTest::addColumn<QString>("stored");
    QTest::addColumn<bool>("online");
    QTest::addColumn<bool>("grouped");
    QTest::addColumn<int>("seen"); // NeighbourTable::Verdict
    QTest::addColumn<QString>("source");
    QTest::addColumn<int>("claim"); // MachineIdentity::Claim

    using C = MachineIdentity::Claim;
    using N = NeighbourTable::Verdict;
    const QString own = QStringLiteral("127.0.1.7");
    const QString other = QStringLiteral("127.0.0.99");
    // clang-format off
    QTest::newRow("register from its address") << true << own << own << true << true << int(N::Unknown) << own << int(C::Same);
    QTest::newRow("grouped, off, elsewhere: a conflict, no move") << true << own << own << false << true << int(N::Unknown) << other << int(C::Conflict);
    QTest::newRow("grouped, on, elsewhere") << true << own << own << true << true << int(N::Matches) << other << int(C::Conflict);
    QTest::newRow("in no group, off, elsewhere: DHCP") << true << own << own << false << false << int(N::Unknown) << other << int(C::Moved);
    QTest::newRow("in no group, on, elsewhere") << true << own << own << true << false << int(N::Unknown) << other << int(C::Conflict);
    QTest::newRow("back at its stored address") << true << other << own << true << true << int(N::Unknown) << own << int(C::Moved);
    QTest::newRow("the table knows another MAC there") << true << own << own << true << true << int(N::Other) << own << int(C::Forged);
    QTest::newRow("heartbeat from its address") << false << own << own << true << true << int(N::Matches) << own << int(C::Same);
    QTest::newRow("heartbeat from elsewhere") << false << own << own << false << false << int(N::Unknown) << other << int(C::Conflict);
    QTest::newRow("heartbeat forged from its address") << false << own << own << true << true << int(N::Other) << own << int(C::Forged);
    QTest::newRow("no address speaks for none") << false << QString() << QString() << false << false << int(N::Unknown) << QString() << int(C::Conflict);
    // clang-format on
}

void TestGuard::identity()
{
    QFETCH(bool, registration);
    QFETCH(QString, recorded);
    QFETCH(QString, stored);
    QFETCH(bool, online);
    QFETCH(bool, grouped);
    QFETCH(int, seen);
    QFETCH(QString, source);
    QFETCH(int, claim);
    CStuInfo machine;
    machine.address.store(Protocol::addressFromText(recorded));
    machine.stored_address.store(Protocol::addressFromText(stored));
    machine.online.store(online);
    const uint32_t from = Protocol::addressFromText(source);
    const auto verdict = NeighbourTable::Verdict(seen);
    QCOMPARE(int(registration ? MachineIdentity::registration(machine, from, grouped, verdict)
                              : MachineIdentity::signOfLife(machine, from, verdict)),
        claim);
}

void TestGuard::neighbourTable()
{
    // /proc/net/arp: complete entries only; a MAC's first octet is the key's
    // lowest byte; group and empty hardware addresses name no PC.
    const QByteArray text = "IP address       HW type     Flags       HW address            Mask     Device\n"
                            "127.0.1.7        0x1         0x2         00:11:22:33:44:55     *        eth0\n"
                            "127.0.1.8        0x1         0x0         00:11:22:33:44:66     *        eth0\n"
                            "127.0.1.6        0x1         0x2         00:00:00:00:00:00     *        eth0\n"
                            "127.0.1.9        0x1         0x6         0A:0B:0C:0D:0E:0F     *        eth0\n"
                            "239.74.8.27      0x1         0x2         01:00:5e:4a:08:1b     *        eth0\n"
                            "garbage\n";
    const NeighbourTable::Entries parsed = NeighbourTable::parseProcArp(text);
    QCOMPARE(parsed, (NeighbourTable::Entries { { address("127.0.1.7"), 0x554433221100ULL },
                         { address("127.0.1.9"), 0x0F0E0D0C0B0AULL } }));

    // Looks see the last reading only; the upper bytes of a key are not a MAC's.
    NeighbourTable::Entries os;
    NeighbourTable table([&os] { return os; });
    QCOMPARE(table.check(address("127.0.1.7"), 0x554433221100ULL), NeighbourTable::Verdict::Unknown);
    os = parsed;
    QCOMPARE(table.check(address("127.0.1.7"), 0x554433221100ULL), NeighbourTable::Verdict::Unknown);
    table.refresh();
    using V = NeighbourTable::Verdict;
    QCOMPARE(table.check(address("127.0.1.7"), 0xFFFF554433221100ULL), V::Matches);
    QCOMPARE(table.check(address("127.0.1.7"), 0x001122334455ULL), V::Other);
    QCOMPARE(table.check(address("127.0.1.8"), 0x001122334455ULL), V::Unknown);
    QCOMPARE(table.macAt(address("127.0.1.9")), 0x0F0E0D0C0B0AULL);
}

void TestGuard::repeatCounter()
{
    RepeatCounter counter(1000, 2);
    QVERIFY(counter.hit(1, 0).first);
    QCOMPARE(counter.hit(1, 999).count, quint64(2));
    QVERIFY(!counter.hit(1, 999).first);
    QVERIFY(counter.hit(2, 10).first);
    // Full: a new sender takes the place of one heard once (made-up sources
    // are), never of one that came back.
    QVERIFY(counter.hit(3, 500).first);
    QVERIFY(counter.hit(2, 501).first);
    QCOMPARE(counter.dropped(), quint64(0));
    QCOMPARE(counter.hit(2, 502).count, quint64(2));
    QVERIFY(!counter.hit(4, 503).first);
    QCOMPARE(counter.dropped(), quint64(1));
    QList<QPair<quint64, quint64>> grown = counter.takeGrown();
    std::sort(grown.begin(), grown.end());
    QCOMPARE(grown, (QList<QPair<quint64, quint64>> { { 1, 3 }, { 2, 2 } }));
    QVERIFY(counter.takeGrown().isEmpty());
    QVERIFY(counter.hit(1, 1000).first); // a new window, a new row
}

void TestGuard::securityRowBudget_data()
{
    // Steps "page:second:n|r" (n a new source, r one that came back) and
    // what each gets: a row, or the page's count of sources not recorded.
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QStringList>("verdicts");
    const QStringList fourNew { "A:0:n", "A:1:n", "A:2:n", "A:3:n" };
    const QStringList fourRows { "row", "row", "row", "row" };
    QTest::newRow("new sources: four rows a minute, then counted")
        << fourNew + QStringList { "A:4:n", "A:59:n" } << fourRows + QStringList { "1", "2" };
    QTest::newRow("sources that come back: four more")
        << fourNew + QStringList { "A:5:n", "A:6:r", "A:7:r", "A:8:r", "A:9:r", "A:10:r", "A:11:n" }
        << fourRows + QStringList { "1", "row", "row", "row", "row", "1", "2" };
    QTest::newRow("per page") << fourNew + QStringList { "B:5:n", "全部:6:n", "A:7:n" }
                              << fourRows + QStringList { "row", "row", "1" };
    QTest::newRow("a new minute starts afresh") << fourNew + QStringList { "A:59:n", "A:60:n", "A:61:n" }
                                                << fourRows + QStringList { "1", "row", "row" };
}

void TestGuard::securityRowBudget()
{
    QFETCH(QStringList, steps);
    QFETCH(QStringList, verdicts);
    SecurityRowBudget budget;
    constexpr qint64 Start = 1700000040000; // a minute's start
    QStringList seen;
    for (const QString& step : steps) {
        const QStringList part = step.split(QLatin1Char(':'));
        const SecurityRowBudget::Verdict verdict = budget.admit(part.at(0), Start + part.at(1).toInt() * 1000,
            part.at(2) == QLatin1String("r") ? SecurityRowBudget::Source::Returning : SecurityRowBudget::Source::New);
        seen << (verdict.row ? QStringLiteral("row") : QString::number(verdict.unrecorded));
    }
    QCOMPARE(seen, verdicts);
}

void TestGuard::limits()
{
    // New machines: a share per address, and MaxPerSecond spread over the
    // second (a burst's worth waits), with a share of its own for MACs
    // that were refused and come back.
    RegistrationGate gate;
    using V = RegistrationGate::Verdict;
    constexpr int Full = RegistrationGate::MaxPerAddress;
    const uint32_t pc = address("127.0.0.3");
    QCOMPARE(gate.admit(1, pc, Full, 0), V::AddressFull);
    QCOMPARE(gate.admit(2, pc, Full, 0), V::AddressFull);
    QCOMPARE(gate.admit(1, pc, Full, 900), V::MakeRoom); // retrying: room among the address's machines
    QCOMPARE(gate.admit(2, address("127.0.0.4"), Full, 900), V::AddressFull); // its retry counts per address
    for (int i = 0; i < RegistrationGate::Burst; ++i)
        QCOMPARE(gate.admit(100 + quint64(i), pc, 0, 1000), V::Admitted);
    QCOMPARE(gate.admit(7, pc, 0, 1000), V::TooFast);
    QCOMPARE(gate.admit(8, pc, 0, 1004), V::TooFast);
    QCOMPARE(gate.admit(8, pc, 0, 1005), V::Admitted); // 1000 / MaxPerSecond ms later
    QCOMPARE(gate.admit(9, pc, 0, 1005), V::TooFast);
    for (int i = 0; i < RegistrationGate::RetriesPerSecond; ++i)
        QCOMPARE(gate.admit(7, pc, 0, 1005), V::Admitted);
    QCOMPARE(gate.admit(7, pc, 0, 1005), V::TooFast);
    QVERIFY(gate.isRetrying(7, pc, 1005 + RegistrationGate::RetryWindowMs));
    QVERIFY(!gate.isRetrying(7, pc, 1006 + RegistrationGate::RetryWindowMs));

    // A flood of made-up MACs, each sent once, does not push a refused MAC
    // out of memory before it can come back; once that time is over it may.
    RegistrationGate flooded;
    QCOMPARE(flooded.admit(0xAA, pc, Full, 0), V::AddressFull);
    for (quint64 i = 1; i <= 100000; ++i)
        flooded.refused(0xB0B0000000 + i, pc, 1);
    QVERIFY(flooded.isRetrying(0xAA, pc, RegistrationGate::SlotHoldMs));
    for (quint64 i = 1; i <= 100000; ++i)
        flooded.refused(0xC0C0000000 + i, pc, RegistrationGate::SlotHoldMs + 1);
    QVERIFY(!flooded.isRetrying(0xAA, pc, RegistrationGate::SlotHoldMs + 2));

    // A registration that changes nothing: a join once a second, no rename.
    CStuInfo machine;
    using A = RegistrationAnswer;
    const uint32_t same = A::fingerprint("\x0bPC", 3, pc);
    QVERIFY(same != A::fingerprint("\x0bPC", 3, address("127.0.0.4")));
    QVERIFY(A::answer(machine, same, 5000).changed);
    const A::Answer again = A::answer(machine, same, 5999);
    QVERIFY(!again.changed && !again.join);
    QVERIFY(A::answer(machine, same, 6000).join);
    QVERIFY(!A::answer(machine, same, 6001).join);
    const A::Answer renamed = A::answer(machine, A::fingerprint("\x0bPC2", 4, pc), 6002);
    QVERIFY(renamed.changed && renamed.join);

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

    // The guard's bytes, headers and fragments counted: an answer may
    // overdraw what is left, a sweep waits until it is covered.
    QCOMPARE(AnswerBudget::wireBytes(8), 36);
    QCOMPARE(AnswerBudget::wireBytes(1472), 1500);
    QCOMPARE(AnswerBudget::wireBytes(1473), 1521);
    AnswerBudget budget;
    budget.setRate(100, 50, start);
    QVERIFY(!budget.spendWhole(51, start));
    QVERIFY(budget.spend(51, start));
    QVERIFY(!budget.spend(1, start));
    QVERIFY(!budget.spendWhole(10, start + 100ms));
    QVERIFY(budget.spendWhole(10, start + 120ms));
    QCOMPARE(budget.available(start + 1h), 50.0);
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
    int sentJoins = 0;
    JoinRepeater repeater(registry, [&](const std::vector<JoinRepeater::Join>& batch) {
        for (const JoinRepeater::Join& join : batch)
            joins[join.agent] << join.group;
        sentJoins += int(batch.size());
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
    QCOMPARE(repeater.joinsPerPeriod(), sentJoins);

    // A move is followed at the machine's next turn; a sweep reaches every
    // machine at once when the budget allows, and not again within a second.
    QVERIFY(registry.removeMachineFromGroup(QStringLiteral("A"), 2));
    bool allowed = false;
    repeater.setSweepGate([&allowed](int joinCount, JoinRepeater::Clock::time_point) {
        return allowed && joinCount == Machines;
    });
    repeater.requestSweep();
    joins.clear();
    tick();
    QCOMPARE(sweeps, 0);
    QVERIFY(joins.size() < Machines / 4);
    allowed = true;
    joins.clear();
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

    // A PC that claims a machine's MAC is told the machine's group too, also
    // while the machine is off.
    registry.findMachine(4)->claimant.store(address("127.0.2.4"));
    joins.clear();
    for (int i = 0; i < Slices; ++i)
        tick();
    QCOMPARE(joins.value(address("127.0.2.4")), QList<uint32_t> { groupA });
}

namespace {

const uint32_t Room = address("239.74.8.28");
const uint32_t Ungrouped = address("239.74.8.27");
const uint32_t EscapeGroup = address("239.74.250.1");
const uint32_t Own = address("127.0.0.1");
const uint32_t Student = address("127.0.0.99");
const uint32_t Broadcast = address("255.255.255.255");
const QByteArray Unlock = Protocol::buildLockState(0xF0000000u);
const QByteArray BlackLock = Protocol::buildLockState(0xF0000102u);
const QByteArray KeyboardLock = Protocol::buildLockState(0xF0000103u);
const QByteArray NoLock = Protocol::buildLockState(0xF0000100u);

// The watch with what it asks for written down, on a clock of the test's.
class Watched
{
public:
    using Clock = AgentPortWatch::Clock;

    Watched()
        : watch(Protocol::ConsolePort)
    {
        AgentPortWatch::Callbacks callbacks;
        callbacks.answer = [this](uint32_t group, bool lock, bool policy) {
            answers << QStringLiteral("%1%2%3").arg(name(group), lock ? " lock" : "", policy ? " policy" : "");
        };
        // As the guard does: what it sends is noted first.
        callbacks.sendTo = [this](uint32_t group, const QByteArray& datagram) {
            watch.noteSent(group, datagram, at);
            sent << qMakePair(name(group), datagram);
        };
        callbacks.joinSeen = [this] { ++sweeps; };
        callbacks.senderSeen = [this](uint32_t sender, AgentPortWatch::Kind kind, bool forged, uint32_t destination) {
            senders << QStringLiteral("%1 %2%3").arg(Protocol::addressToText(sender)).arg(int(kind)).arg(forged ? " forged" : "");
            destinations << destination;
        };
        watch.setCallbacks(callbacks);
        watch.setGroups({ Room, Ungrouped });
    }
    static QString name(uint32_t group)
    {
        return group == Room ? QStringLiteral("room") : group == Ungrouped ? QStringLiteral("ungrouped")
                                                                           : Protocol::addressToText(group);
    }
    void feed(const QByteArray& datagram, uint32_t source, uint16_t port, uint32_t destination, Clock::duration after)
    {
        at = start + after;
        watch.handle(datagram.constData(), size_t(datagram.size()), source, port, destination, at);
    }
    void fromConsole(const QByteArray& datagram, uint32_t destination, Clock::duration after)
    {
        feed(datagram, Own, Protocol::ConsolePort, destination, after);
    }
    void flush(Clock::duration after)
    {
        at = start + after;
        watch.flushHeldResends(at);
    }
    QStringList takeAnswers()
    {
        QStringList taken = std::exchange(answers, {});
        taken.sort();
        return taken;
    }

    AgentPortWatch watch;
    const Clock::time_point start = Clock::now();
    Clock::time_point at = start;
    QStringList answers;
    QList<QPair<QString, QByteArray>> sent;
    QStringList senders;
    QList<uint32_t> destinations;
    int sweeps = 0;
};

} // namespace

void TestGuard::watchJudgesByContent()
{
    Watched w;
    const QByteArray policy = Protocol::buildPolicy(7, {});
    // The console's own, as it sent them: passed over.
    w.watch.noteSent(Room, BlackLock, w.start);
    w.watch.noteSent(Room, policy, w.start);
    w.fromConsole(BlackLock, Room, 1ms);
    w.fromConsole(policy, Room, 1ms);
    QVERIFY(w.answers.isEmpty() && w.senders.isEmpty());

    // One more than it sent, though its word: forged, answered at once.
    w.fromConsole(BlackLock, Room, 2ms);
    QCOMPARE(w.takeAnswers(), QStringList { "room lock" });
    QCOMPARE(w.senders, QStringList { "127.0.0.1 2 forged" });

    // After a change the previous word, still on its way, is the console's
    // own once; a word it did not send there is forged, whoever's it was.
    w.watch.noteSent(Room, NoLock, w.start + 10ms);
    w.watch.noteSent(Room, BlackLock, w.start + 11ms);
    w.fromConsole(BlackLock, Room, 12ms);
    w.fromConsole(NoLock, Room, 12ms);
    QVERIFY(w.answers.isEmpty());
    w.fromConsole(NoLock, Room, 13ms);
    w.fromConsole(BlackLock, Ungrouped, 13ms);
    QCOMPARE(w.takeAnswers(), (QStringList { "room lock", "ungrouped lock" }));
    // Not heard back in time: forgotten, so no forger can use it later.
    w.watch.noteSent(Room, BlackLock, w.start + 20ms);
    w.fromConsole(BlackLock, Room, 21ms + std::chrono::milliseconds(SentLedger::KeepMs));
    QCOMPARE(w.takeAnswers(), QStringList { "room lock" });

    // What agents do not obey passes; this PC from another port is another
    // sender, not a forgery.
    w.feed(Protocol::buildHeartbeat(5), Student, 40000, Room, 3s);
    w.feed(Unlock.left(3), Student, 40000, Room, 3s);
    QVERIFY(w.answers.isEmpty());
    w.feed(Unlock, Own, 40000, Room, 3s);
    QCOMPARE(w.takeAnswers(), QStringList { "room lock" });
    // Another sender repeating the room's own word changes nothing there.
    w.feed(BlackLock, Student, 40000, Room, 3s);
    // A re-registration is told, not answered: a storm of them floods the
    // console with registrations, not the agents with states.
    w.feed(Protocol::buildReregister(), address("127.0.0.97"), 40000, Broadcast, 3s);
    QVERIFY(w.answers.isEmpty());
    QCOMPARE(w.senders, (QStringList { "127.0.0.1 2 forged", "127.0.0.1 2", "127.0.0.99 2", "127.0.0.97 5" }));
    // With where each went, for the row's page.
    QCOMPARE(w.destinations, (QList<uint32_t> { Room, Room, Room, Broadcast }));
    QCOMPARE(w.watch.takeHits(), (QHash<uint32_t, int> { { Room, 4 }, { Ungrouped, 1 } }));
}

void TestGuard::watchAnswersEveryWord()
{
    // Each foreign word at once, however close the next: no timetable a
    // student could race.
    Watched w;
    w.feed(Unlock, Student, 40000, Room, 0ms);
    w.feed(Unlock, Student, 40000, Room, 1ms);
    QCOMPARE(w.takeAnswers(), (QStringList { "room lock", "room lock" }));

    // So many a second, so two consoles cannot answer each other without
    // end; the word that had to wait is answered as soon as allowed.
    Watched capped;
    for (int i = 0; i <= AgentPortWatch::AnswersPerSecond; ++i)
        capped.feed(Unlock, Student, 40000, Room, 0ms);
    QCOMPARE(capped.takeAnswers().size(), AgentPortWatch::AnswersPerSecond);
    capped.flush(0ms);
    QVERIFY(capped.answers.isEmpty());
    capped.flush(std::chrono::milliseconds(1000 / AgentPortWatch::AnswersPerSecond + 1));
    QCOMPARE(capped.takeAnswers(), QStringList { "room lock" });
    capped.flush(1s);
    QVERIFY(capped.answers.isEmpty());

    // A foreign policy brings the page's policy too, at most once a second.
    const QByteArray policy = Protocol::buildPolicy(1, {});
    w.feed(policy, Student, 40000, Room, 2s);
    QCOMPARE(w.takeAnswers(), QStringList { "room lock policy" });
    w.feed(policy, Student, 40000, Room, 2500ms);
    QCOMPARE(w.takeAnswers(), QStringList { "room lock" });
    w.flush(2999ms);
    QVERIFY(w.answers.isEmpty());
    w.flush(3s);
    QCOMPARE(w.takeAnswers(), QStringList { "room policy" });

    // The budget: answers while anything is left, one overdrawing it; the
    // rest as it refills (1,000 bytes a second here).
    Watched spent;
    AnswerBudget budget;
    budget.setRate(1000, 100, spent.start);
    spent.watch.setBudget(&budget);
    for (int i = 0; i < 4; ++i)
        spent.feed(Unlock, Student, 40000, Room, 0ms);
    QCOMPARE(spent.takeAnswers().size(), 3); // 100 bytes, 36 each
    spent.flush(5ms);
    QVERIFY(spent.answers.isEmpty());
    spent.flush(12ms);
    QCOMPARE(spent.takeAnswers(), QStringList { "room lock" });
}

void TestGuard::watchAnswersAnyDestination()
{
    Watched w;
    w.watch.noteSent(Room, BlackLock, w.start);
    w.watch.noteSent(Ungrouped, NoLock, w.start);
    // The broadcast, a group no page has, or no destination told: any agent
    // may hold it, so every page answers whose word it is not.
    for (const uint32_t destination : { Broadcast, address("239.74.250.9"), 0u }) {
        w.feed(Unlock, Student, 40000, destination, 1ms);
        QCOMPARE(w.takeAnswers(), (QStringList { "room lock", "ungrouped lock" }));
    }
    w.feed(NoLock, Student, 40000, Broadcast, 2ms);
    QCOMPARE(w.takeAnswers(), QStringList { "room lock" });
    w.fromConsole(Unlock, Broadcast, 3ms);
    QCOMPARE(w.takeAnswers(), (QStringList { "room lock", "ungrouped lock" }));
    QCOMPARE(w.senders, (QStringList { "127.0.0.99 2", "127.0.0.1 2 forged" }));
}

void TestGuard::foreignJoinsFailClosed()
{
    Watched w;
    const QByteArray roomPolicy = Protocol::buildPolicy(9, { QStringList { "游戏" }, {}, {} });
    w.watch.noteSent(Room, BlackLock, w.start);
    w.watch.noteSent(Room, roomPolicy, w.start);
    w.watch.noteSent(Ungrouped, KeyboardLock, w.start);
    const QByteArray escapeJoin = Protocol::buildJoinGroup(EscapeGroup);
    // The console's own join, to an agent's address, naming its page; to
    // everyone at once it never sends one.
    w.fromConsole(Protocol::buildJoinGroup(Room), address("10.0.1.3"), 0ms);
    QCOMPARE(w.sweeps, 0);
    w.fromConsole(Protocol::buildJoinGroup(Ungrouped), Broadcast, 0ms);
    QCOMPARE(w.sweeps, 1);
    // A group every host hears is swept, not held: a word there would
    // reach every room.
    w.feed(Protocol::buildJoinGroup(address("224.0.0.1")), Student, 40000, Broadcast, 0ms);
    QCOMPARE(w.sweeps, 2);
    QVERIFY(w.sent.isEmpty());

    // A join naming no page's group, though it bears the console's address:
    // a sweep, and the group held at once at the strictest word of the pages.
    w.fromConsole(escapeJoin, Broadcast, 0ms);
    QCOMPARE(w.sweeps, 3);
    QCOMPARE(w.senders, (QStringList { "127.0.0.1 4 forged", "127.0.0.99 4" }));
    const auto escapeSent = [&w](const QByteArray& datagram) {
        return qMakePair(Protocol::addressToText(EscapeGroup), datagram);
    };
    QCOMPARE(w.sent, (QList<QPair<QString, QByteArray>> { escapeSent(BlackLock) }));
    // Words sent there are answered at once; its own word, noted, passes.
    w.fromConsole(BlackLock, EscapeGroup, 1ms);
    w.feed(Unlock, Student, 40000, EscapeGroup, 1ms);
    w.feed(Protocol::buildPolicy(1, {}), Student, 40000, EscapeGroup, 2ms);
    QCOMPARE(w.sent.size(), 4);
    QCOMPARE(w.sent.mid(2), (QList<QPair<QString, QByteArray>> { escapeSent(BlackLock), escapeSent(roomPolicy) }));
    QVERIFY(w.answers.isEmpty());
    w.sent.clear();
    w.flush(2ms + std::chrono::milliseconds(AgentPortWatch::EscapeRepeatMs));
    QCOMPARE(w.sent, (QList<QPair<QString, QByteArray>> { escapeSent(BlackLock) }));

    // Joins keep coming: a sweep before the last join does not end it.
    w.watch.noteSwept(w.start + 400ms);
    w.feed(escapeJoin, Student, 40000, Broadcast, 500ms);
    QCOMPARE(w.sweeps, 4);
    QCOMPARE(w.sent.size(), 1); // the word repeated lately holds for the agents it brings
    w.watch.noteSwept(w.start + 600ms);
    w.sent.clear();
    w.flush(1599ms);
    QCOMPARE(w.sent.size(), 1);
    w.flush(1600ms);
    w.flush(2s);
    QCOMPARE(w.sent.size(), 1);
    // Ended: a word there now reached agents of no page, and every page answers.
    w.feed(Unlock, Student, 40000, EscapeGroup, 2s);
    QCOMPARE(w.takeAnswers(), (QStringList { "room lock", "ungrouped lock" }));

    // At most so many groups at once, each for so long without a sweep.
    w.sent.clear();
    for (int i = 0; i <= AgentPortWatch::MaxEscapeGroups; ++i)
        w.feed(Protocol::buildJoinGroup(Protocol::addressFromText(QStringLiteral("239.74.250.%1").arg(10 + i))),
            Student, 40000, Broadcast, 3s + std::chrono::milliseconds(i));
    QCOMPARE(w.sent.size(), AgentPortWatch::MaxEscapeGroups + 1);
    w.sent.clear();
    w.flush(4s);
    QCOMPARE(w.sent.size(), AgentPortWatch::MaxEscapeGroups);
    for (const auto& word : std::as_const(w.sent))
        QVERIFY(word.first != QStringLiteral("239.74.250.10"));
    w.sent.clear();
    w.flush(3s + std::chrono::milliseconds(AgentPortWatch::MaxEscapeGroups + AgentPortWatch::EscapeMaxMs));
    QVERIFY(w.sent.isEmpty());
}

void TestGuard::consoleShowsIdentityConflicts()
{
    if (qgetenv("ROK_NETNS_ISOLATED") != "1")
        QSKIP("opens the console's ports; runs only inside scripts/netns");
    if (underWine())
        QSKIP("this suite's PCs on the agents' port hear nothing under Wine");
    QTemporaryDir dir;
    constexpr quint64 Mac = 0x5A0000000007ULL;
    constexpr quint64 FreeMac = 0x5A0000000008ULL;
    {
        // 一号机房 with PC-07, which is switched off when the console starts.
        QStudentManage seed;
        QVERIFY(seed.openDatabase(dir.filePath(QStringLiteral("data.sqlite3"))));
        QVERIFY(seed.addGroup(QStringLiteral("一号机房"), 1));
        QVERIFY(seed.updateMachine(Mac, QStringLiteral("PC-07"), QStringLiteral("127.0.1.7"), false));
        QVERIFY(seed.moveMachineToGroup(QStringLiteral("一号机房"), Mac));
    }
    // The joins counted are the answers (JoinRepeater's are tested alone).
    qputenv("ROK_BENCH_NO_JOIN_REPEAT", "1");
    RokVtxAdmin window(dir.path());
    qunsetenv("ROK_BENCH_NO_JOIN_REPEAT");
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QVERIFY(window.networkReady());
    QSignalSpy alerts(&window, &RokVtxAdmin::sg_tray_message);
    QStudentManage& registry = window.core().registry();
    const CStuInfo_PTR machine = registry.findMachine(Mac);
    const uint32_t room = address("239.74.8.27");
    const auto state = [&window] {
        const int row = window.allPage()->rowOfMachine(Mac);
        return row < 0 ? QString() : window.allPage()->machine_table->getCellText(row, MachineRows::StateColumn);
    };
    Pc owner("127.0.1.7");
    Pc student("127.0.0.99");

    // A student claims the MAC of the switched-off PC: nothing moves, nobody
    // is called the impostor, and the student's PC is told the room's group.
    student.toConsole(Protocol::buildRegister(Mac, QStringLiteral("STUDENT")));
    QTRY_COMPARE(student.joins(), QList<uint32_t> { room });
    student.toConsole(Protocol::buildHeartbeat(Mac));
    student.toConsole(Protocol::buildRegister(Mac, QStringLiteral("STUDENT")));
    QTRY_COMPARE(student.joins().size(), 2); // the heartbeat before it was handled
    QVERIFY(!machine->online.load());
    QVERIFY(!student.heard().contains(Protocol::MSG_ADMIN_REREGISTER)); // its heartbeats keep the conflict
    QCOMPARE(machine->ip, QStringLiteral("127.0.1.7"));
    QCOMPARE(machine->hostname, QStringLiteral("PC-07"));
    QTRY_COMPARE(state(), QStringLiteral("冲突"));

    // The PC boots at its own address: it is the machine and gets its room.
    owner.toConsole(Protocol::buildRegister(Mac, QStringLiteral("PC-07")));
    QTRY_VERIFY(machine->online.load() && owner.joins().contains(room));
    QCOMPARE(state(), QStringLiteral("冲突"));
    QTRY_COMPARE(securityRows(window.core().tables().eventLog()),
        QStringList { QStringLiteral("身份冲突：PC-07（07:00:00:00:00:5A）同时出现在 127.0.1.7 和 127.0.0.99，两处都收到本组的设置（共 2 次）") });
    QCOMPARE(alerts.size(), 1);
    QCOMPARE(alerts.first().at(1).toString(), QStringLiteral("身份冲突：PC-07 同时出现在 127.0.1.7 和 127.0.0.99"));

    // The teacher takes the new address from the machine's menu; the old
    // one, still on line, claims the MAC now.
    QTimer beats;
    connect(&beats, &QTimer::timeout, &beats, [&] { student.toConsole(Protocol::buildHeartbeat(Mac)); });
    beats.start(200);
    QtRokTableView* table = window.allPage()->machine_table;
    bool adopted = false;
    QTimer::singleShot(0, this, [&] {
        if (!QTest::qWaitFor([] { return QApplication::activePopupWidget() != nullptr; }, 5000))
            return;
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        for (QAction* entry : menu ? menu->actions() : QList<QAction*>())
            if (entry->text() == QStringLiteral("采用新地址 127.0.0.99(&N)") && entry->isEnabled()) {
                adopted = true;
                entry->trigger();
            }
        if (menu)
            menu->close();
    });
    window.parts().machineMenu->showForRow(
        table->visualRect(table->model()->index(window.allPage()->rowOfMachine(Mac), 0)).center());
    QVERIFY(adopted);
    QCOMPARE(machine->ip, QStringLiteral("127.0.0.99"));
    QCOMPARE(table->getCellText(window.allPage()->rowOfMachine(Mac), 1), QStringLiteral("127.0.0.99"));
    // Stored so: the old address registering again is the conflict, told
    // once for the pair whichever claims.
    owner.toConsole(Protocol::buildRegister(Mac, QStringLiteral("PC-07")));
    QTRY_COMPARE(owner.joins().size(), 2);
    QCOMPARE(machine->ip, QStringLiteral("127.0.0.99"));
    QTRY_COMPARE(securityRows(window.core().tables().eventLog()),
        QStringList { QStringLiteral("身份冲突：PC-07（07:00:00:00:00:5A）同时出现在 127.0.1.7 和 127.0.0.99，两处都收到本组的设置（共 3 次）") });
    // The owner falls silent: the conflict ends, the student's PC is the machine.
    QTRY_VERIFY_WITH_TIMEOUT(!machine->inConflict(), 10000);
    QTRY_COMPARE_WITH_TIMEOUT(state(), QStringLiteral("在线"), 10000);
    beats.stop();

    // In no group, a machine off line moves with its registration (DHCP).
    Pc free("127.0.1.8");
    free.toConsole(Protocol::buildRegister(FreeMac, QStringLiteral("PC-08")));
    QTRY_VERIFY(registry.findMachine(FreeMac) && registry.findMachine(FreeMac)->hostname == QStringLiteral("PC-08"));
    const CStuInfo_PTR moving = registry.findMachine(FreeMac);
    QTRY_VERIFY_WITH_TIMEOUT(!moving->online.load(), 10000);
    Pc renewed("127.0.1.9");
    renewed.toConsole(Protocol::buildRegister(FreeMac, QStringLiteral("PC-08B")));
    QTRY_COMPARE(moving->ip, QStringLiteral("127.0.1.9"));
    QCOMPARE(moving->hostname, QStringLiteral("PC-08B"));
}

void TestGuard::consoleCatchesForgedSources()
{
    if (qgetenv("ROK_NETNS_ISOLATED") != "1")
        QSKIP("opens the console's ports; runs only inside scripts/netns");
    if (underWine())
        QSKIP("this suite's PCs on the agents' port hear nothing under Wine");
    BareConsole console;
    QVERIFY(console.listening);
    QStudentManage& registry = console.lab.registry;
    constexpr quint64 Mac = 0x5A0000000007ULL;
    console.guard->neighbourTable().setReader(
        [] { return NeighbourTable::Entries { { address("127.0.1.7"), Seen } }; });
    console.guard->neighbourTable().refresh();
    const CStuInfo_PTR machine = registry.updateMachine(Mac, QStringLiteral("PC-07"), QStringLiteral("127.0.1.7"), false);
    Pc forger("127.0.1.7");
    // Heartbeats and a registration from the machine's recorded address
    // but another card: no sign of life, no answer, no new machine; a row.
    forger.toConsole(Protocol::buildHeartbeat(Mac));
    forger.toConsole(Protocol::buildRegister(Mac, QStringLiteral("SWAPPED")));
    forger.toConsole(Protocol::buildRegister(0x5A00000000BBULL, QStringLiteral("MADE-UP")));
    forger.toConsole(Protocol::buildHeartbeat(Seen));
    QTRY_COMPARE(forger.heard(), QList<uint32_t> { Protocol::MSG_ADMIN_REREGISTER });
    QVERIFY(!machine->online.load());
    QCOMPARE(machine->hostname, QStringLiteral("PC-07"));
    QVERIFY(!registry.findMachine(0x5A00000000BBULL));
    QTRY_COMPARE(securityRows(console.log),
        (QStringList { QStringLiteral("伪造：来源 127.0.1.7（未核实，可能伪造）发来 MAC BB:00:00:00:00:5A 的数据，但本机网卡表中该地址属于 AA:00:00:00:00:5A：已忽略"),
            QStringLiteral("伪造：来源 127.0.1.7（未核实，可能伪造）发来 MAC 07:00:00:00:00:5A 的数据，但本机网卡表中该地址属于 AA:00:00:00:00:5A：已忽略（共 2 次）") }));
    // The card the OS knows there is taken in.
    forger.toConsole(Protocol::buildRegister(Seen, QStringLiteral("PC-AA")));
    QTRY_VERIFY(registry.findMachine(Seen));
}

void TestGuard::consoleAnswersReregistrationsOnceASecond()
{
    if (qgetenv("ROK_NETNS_ISOLATED") != "1")
        QSKIP("opens the console's ports; runs only inside scripts/netns");
    if (underWine())
        QSKIP("this suite's PCs on the agents' port hear nothing under Wine");
    BareConsole console;
    QVERIFY(console.listening);
    constexpr quint64 Mac = 0x5A0000000007ULL;
    Pc pc("127.0.1.7");
    // Six bytes make a MAC: the same six under other upper bytes are no
    // second PC.
    pc.toConsole(Protocol::buildRegister(Mac | 1ULL << 48, QStringLiteral("PC-07")));
    pc.toConsole(Protocol::buildRegister(Mac, QStringLiteral("PC-07")));
    QTRY_COMPARE(pc.joins().size(), 2);
    QCOMPARE(console.lab.registry.allMachines().keys(), QList<quint64> { Mac });
    // Asked to register again and again (anyone can ask every agent): the
    // same registration is answered with one join a second.
    QElapsedTimer elapsed;
    elapsed.start();
    for (int i = 0; i < 50; ++i)
        pc.toConsole(Protocol::buildRegister(Mac, QStringLiteral("PC-07")));
    pc.toConsole(Protocol::buildHeartbeat(0x5A00000000FFULL));
    QTRY_VERIFY(pc.heard().contains(Protocol::MSG_ADMIN_REREGISTER));
    QVERIFY(pc.joins().size() - 2 <= 2 + int(elapsed.elapsed() / RegistrationAnswer::JoinIntervalMs));
    // A new name is answered at once, and the record takes it.
    pc.toConsole(Protocol::buildRegister(Mac, QStringLiteral("PC-07B")));
    QTRY_COMPARE(console.lab.registry.findMachine(Mac)->hostname, QStringLiteral("PC-07B"));
}

void TestGuard::consoleAnswersAnotherConsole()
{
    if (qgetenv("ROK_NETNS_ISOLATED") != "1")
        QSKIP("opens the console's ports; runs only inside scripts/netns");
    if (underWine())
        QSKIP("this suite's PCs on the agents' port hear nothing under Wine");
    BareConsole console;
    QVERIFY(console.listening);
    EventLogStore& log = console.log;
    log.setClock([] { return qint64(1700000040000); }); // one minute of budget throughout
    QSignalSpy alerts(console.guard.get(), &LabGuard::sg_alert);
    // 1,100 words from made-up sources at "未分组" (as the watch reports
    // them), one "from" a classmate's address: four rows name theirs, with
    // an alert each, and one row counts the rest.
    QVERIFY(console.lab.registry.updateMachine(0x5A0000000017ULL, QStringLiteral("PC-17"),
        QStringLiteral("10.9.0.1"), true));
    for (int i = 0; i < 1100; ++i)
        console.guard->monitor()->noteForeignSender(
            Protocol::addressFromOctets(10, 9, uint8_t(i / 256), uint8_t(i % 256)), AgentPortWatch::LockState,
            QStringLiteral("未分组"));
    QCOMPARE(alerts.size(), SecurityRowBudget::NewSourceRows);
    QCOMPARE(alerts.at(1).at(1).toString(),
        QStringLiteral("发现其他教师端（发往未分组）：来源 10.9.0.1（PC-17 的地址；未核实，可能伪造）"));
    QStringList rows = securityRows(log);
    QCOMPARE(rows.size(), SecurityRowBudget::NewSourceRows + 1);
    QCOMPARE(rows.first(), QStringLiteral("另有 1096 个来源未记录"));
    QCOMPARE(rows.last(), QStringLiteral("发现其他教师端：来源 10.9.0.0（未核实，可能伪造），首条为锁定状态"));
    QSqlQuery blamed = log.select(QStringLiteral("未分组"), EventLogStore::Security, true);
    while (blamed.next())
        QVERIFY2(blamed.value(3).toString().isEmpty(), qPrintable(blamed.value(5).toString()));

    // The student who keeps sending still gets a row of its own, on the
    // page its words went to ("未分组" has the first group address).
    Pc student("127.0.0.99");
    QTimer words;
    connect(&words, &QTimer::timeout, &words, [&student] { student.to("239.74.8.27", Unlock); });
    words.start(100);
    const auto studentRow = [&log] {
        log.flush();
        QSqlQuery row = log.select(QString(), EventLogStore::Security, true);
        while (row.next())
            if (row.value(5).toString().startsWith(
                    QStringLiteral("发现其他教师端：来源 127.0.0.99（未核实，可能伪造），首条为锁定状态（共 ")))
                return row.value(2).toString() == QStringLiteral("未分组");
        return false;
    };
    QTRY_VERIFY(studentRow());
    words.stop();
    // Beside it the room's row, which says how fast it was hit.
    rows = securityRows(log);
    QCOMPARE(rows.size(), SecurityRowBudget::NewSourceRows + 3);
    QCOMPARE(rows.filter(QStringLiteral("未分组正被解锁：每秒 ")).size(), 1);
    QStringList told;
    for (const QList<QVariant>& alert : std::as_const(alerts))
        if (!alert.at(1).toString().contains(QStringLiteral("正被解锁")))
            told << alert.at(1).toString();
    QCOMPARE(told.size(), SecurityRowBudget::NewSourceRows + 1);
    QCOMPARE(told.last(), QStringLiteral("发现其他教师端（发往未分组）：来源 127.0.0.99（未核实，可能伪造）"));
}

void TestGuard::guardAnswersWithThePagesWords()
{
    if (qgetenv("ROK_NETNS_ISOLATED") != "1")
        QSKIP("opens the agents' port; runs only inside scripts/netns");
    if (underWine())
        QSKIP("this suite's PCs on the agents' port hear nothing under Wine");
    // A guard beside an endpoint of its own and one locked room that nothing
    // repeats: what reaches the room's group is the guard's answer.
    QTabWidget tabs;
    auto* all = new QStudentGroupWidget(&tabs, QStringLiteral("全部"));
    all->setShowAll(true);
    tabs.addTab(all, QStringLiteral("全部"));
    auto* room = new QStudentGroupWidget(&tabs, QStringLiteral("一号机房"));
    room->setGroupAddress(Room);
    room->setLockType(Rok_Lock_State::BlackLock);
    tabs.addTab(room, QStringLiteral("一号机房"));
    PageDirectory directory(&tabs);
    QStudentManage registry(QStudentManage::Ticks::Manual);
    UdpServer endpoint;
    QVERIFY(endpoint.createsocket(0) > 0);
    QCOMPARE(endpoint.start(), 0);
    LabGuard guard(registry, directory, endpoint, nullptr);
    QSignalSpy alerts(&guard, &LabGuard::sg_alert);
    guard.setGroupAddresses(directory.publish());
    QVERIFY(guard.watchAgentPort());

    QUdpSocket listener;
    QVERIFY(listener.bind(QHostAddress::AnyIPv4, Protocol::AgentPort,
        QUdpSocket::ShareAddress | QUdpSocket::ReuseAddressHint));
    QVERIFY(listener.joinMulticastGroup(QHostAddress(QStringLiteral("239.74.8.28"))));
    QVERIFY(listener.joinMulticastGroup(QHostAddress(QStringLiteral("239.74.250.1"))));
    QList<QPair<QString, QByteArray>> heard;
    const auto heardNow = [&] {
        while (listener.hasPendingDatagrams()) {
            const QNetworkDatagram datagram = listener.receiveDatagram();
            heard << qMakePair(datagram.destinationAddress().toString(), datagram.data());
        }
        return heard;
    };
    const auto roomWord = qMakePair(QStringLiteral("239.74.8.28"), room->lockDatagramCopy());
    const auto roomPolicy = qMakePair(QStringLiteral("239.74.8.28"), room->policyDatagramCopy());
    Pc student("127.0.0.99");
    student.to("239.74.8.28", Unlock);
    QTRY_VERIFY(heardNow().contains(roomWord));
    QVERIFY(!heard.contains(roomPolicy));
    // The room's alert names it, with the rate of the words.
    QTRY_VERIFY(!alerts.isEmpty() && alerts.last().at(1).toString() == QStringLiteral("一号机房正被解锁：每秒 1 次"));
    student.to("239.74.8.28", Protocol::buildPolicy(1, {}));
    QTRY_VERIFY(heardNow().contains(roomPolicy));
    // A join to a group no page has: the room's word there at once.
    student.to("255.255.255.255", Protocol::buildJoinGroup(EscapeGroup));
    QTRY_VERIFY(heardNow().contains(qMakePair(QStringLiteral("239.74.250.1"), room->lockDatagramCopy())));
    guard.stop();
    endpoint.stop();
}

void TestGuard::consoleTellsForgedSource()
{
    if (qgetenv("ROK_NETNS_ISOLATED") != "1")
        QSKIP("opens the console's ports; runs only inside scripts/netns");
#ifndef __linux__
    QSKIP("a datagram with the console's own source needs a raw socket, here only on Linux");
#else
    // A raw socket writes the console's address and port as the source.
    const int raw = ::socket(AF_INET, SOCK_RAW, IPPROTO_RAW);
    if (raw < 0)
        QSKIP("the system refuses a raw socket (needs CAP_NET_RAW)");
    BareConsole console;
    QVERIFY(console.listening);
    // IPv4 from 127.0.0.1 to 239.74.8.27 ("未分组"), UDP 57851 to 57852.
    QByteArray packet = QByteArray::fromHex("4500002400010000011100007f000001ef4a081b"
                                            "e1fbe1fc00100000")
        + Unlock;
    // The header's checksum; the UDP one may stay 0.
    quint32 sum = 0;
    for (int i = 0; i < 20; i += 2)
        sum += quint32(quint8(packet[i])) << 8 | quint8(packet[i + 1]);
    while (sum >> 16)
        sum = (sum & 0xFFFF) + (sum >> 16);
    packet[10] = char(~sum >> 8);
    packet[11] = char(~sum);
    sockaddr_in to {};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = Ungrouped;
    QCOMPARE(::sendto(raw, packet.constData(), size_t(packet.size()), 0, reinterpret_cast<sockaddr*>(&to), sizeof to),
        ssize_t(packet.size()));
    ::close(raw);
    QTRY_COMPARE(securityRows(console.log),
        QStringList { QStringLiteral("来源地址伪造：冒用教师端地址 127.0.0.1，首条为锁定状态") });
#endif
}

void TestGuard::roomAlertsEscalate()
{
    QStudentManage registry(QStudentManage::Ticks::Manual);
    SecurityMonitor monitor(registry, nullptr);
    QSignalSpy alerts(&monitor, &SecurityMonitor::sg_alert);
    for (const int rate : { 3, 5, 6, 11, 12, 0 })
        monitor.noteRoomUnderAttack(QStringLiteral("一号机房"), rate);
    monitor.noteRoomUnderAttack(QStringLiteral("二号机房"), 1);
    QStringList texts;
    for (const QList<QVariant>& alert : std::as_const(alerts))
        texts << alert.at(1).toString();
    QCOMPARE(texts, (QStringList { "一号机房正被解锁：每秒 3 次", "一号机房正被解锁：每秒 6 次", "一号机房正被解锁：每秒 12 次",
                        "二号机房正被解锁：每秒 1 次" }));
}

void TestGuard::madeUpSourcesCannotHideASender()
{
    // The student's first word goes into the summary among 5,000 made-up
    // sources, which push it out of memory; when it sends again, it gets its
    // row all the same, on every page.
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("made-up"));
        db.setDatabaseName(QStringLiteral(":memory:"));
        QVERIFY(db.open());
        EventLogStore log;
        log.setClock([] { return qint64(1700000040000); });
        QVERIFY(log.open(db));
        QStudentManage registry(QStudentManage::Ticks::Manual);
        SecurityMonitor monitor(registry, &log);
        RepeatCounter senders(SecurityMonitor::WindowMs, SecurityMonitor::MaxPairs);
        monitor.setSenderCounter(&senders);
        const uint32_t student = address("127.0.0.99");
        for (uint32_t i = 0; i < 5000; ++i)
            monitor.noteForeignSender(i == 4 ? student : Protocol::addressFromOctets(10, 9, uint8_t(i >> 8), uint8_t(i)),
                AgentPortWatch::LockState, QStringLiteral("一号机房"));
        senders.hit(student, 1);
        senders.hit(student, 2);
        QTRY_VERIFY(securityRows(log).contains(QStringLiteral("发现其他教师端：来源 127.0.0.99（未核实，可能伪造）（共 2 条）")));
        QCOMPARE(securityRows(log).size(), SecurityRowBudget::NewSourceRows + 2);
        log.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("made-up"));
}

void TestGuard::alikeNames()
{
    // Alike after compatibility normalisation, with invisible characters,
    // white space and case set aside; a few named, then "等".
    QStudentManage registry(QStudentManage::Ticks::Manual);
    SecurityMonitor monitor(registry, nullptr);
    const QStringList names { "PC-21", "ｐｃ－２１", "P C-21", "PC\u3164-2\uFE0F1", "pc-21", "PC-22" };
    QList<CStuInfo_PTR> machines;
    for (int i = 0; i < names.size(); ++i) {
        machines << registry.updateMachine(0x5A0000000020ULL + quint64(i), names.at(i),
            QStringLiteral("127.0.1.%1").arg(20 + i), false);
        monitor.noteMachineNamed(machines.last());
    }
    const QString three = QStringLiteral("ｐｃ－２１（21:00:00:00:00:5A）、P C-21（22:00:00:00:00:5A）、"
                                         "PC\u3164-2\uFE0F1（23:00:00:00:00:5A）");
    QCOMPARE(machines.at(0)->alike_names, three + QStringLiteral("等"));
    QVERIFY(machines.at(4)->alike_names.startsWith(QStringLiteral("PC-21（20:00:00:00:00:5A）、ｐｃ－２１")));
    QCOMPARE(machines.at(5)->alike_names, QString());
    // Gone or renamed apart, they are no longer named.
    registry.removeMachine(machines.at(4)->ullmac);
    monitor.noteMachineNamed(machines.at(4));
    QCOMPARE(machines.at(0)->alike_names, three);
    for (const int i : { 1, 2, 3 }) {
        QVERIFY(registry.renameMachine(machines.at(i)->ullmac, QStringLiteral("PC-3%1").arg(i), machines.at(i)->ip));
        monitor.noteMachineNamed(machines.at(i));
    }
    QCOMPARE(machines.at(0)->alike_names, QString());
}

void TestGuard::alikeNamesMarkedNotChanged()
{
    if (qgetenv("ROK_NETNS_ISOLATED") != "1")
        QSKIP("opens the console's ports; runs only inside scripts/netns");
    if (underWine())
        QSKIP("this suite's PCs on the agents' port hear nothing under Wine");
    BareConsole console;
    QVERIFY(console.listening);
    constexpr quint64 First = 0x5A0000000021ULL;
    constexpr quint64 Second = 0x5A0000000022ULL;
    Pc first("127.0.1.21");
    Pc second("127.0.1.22");
    first.toConsole(Protocol::buildRegister(First, QStringLiteral("PC-21")));
    QTRY_VERIFY(console.lab.registry.findMachine(First));
    second.toConsole(Protocol::buildRegister(Second, QStringLiteral("ｐｃ－２１\u200B\uFEFF")));
    QTRY_COMPARE(securityRows(console.log),
        QStringList { QStringLiteral("机器名“ｐｃ－２１”与 PC-21（21:00:00:00:00:5A）相同或形近") });
    QCOMPARE(console.lab.registry.findMachine(Second)->hostname, QStringLiteral("ｐｃ－２１"));
    QStudentGroupWidget* all = console.lab.all();
    const auto mark = [all](quint64 mac) {
        const int row = all->rowOfMachine(mac);
        return row < 0 ? QStringLiteral("no row") : all->machine_table->model()->index(row, 0).data(Qt::ToolTipRole).toString();
    };
    QTRY_COMPARE(mark(Second), QStringLiteral("机器名与 PC-21（21:00:00:00:00:5A）相同或形近"));
    QTRY_COMPARE(mark(First), QStringLiteral("机器名与 ｐｃ－２１（22:00:00:00:00:5A）相同或形近"));
    // Renamed apart, the marks go.
    first.toConsole(Protocol::buildRegister(First, QStringLiteral("PC-23")));
    QTRY_COMPARE(mark(Second), QString());
    QTRY_COMPARE(mark(First), QString());
}

void TestGuard::savesAndLogCannotBeFlooded()
{
    QTemporaryDir dir;
    RokVtxAdmin window(dir.path());
    QVERIFY(window.core().registry().addGroup(QStringLiteral("一号机房"), 1));
    window.parts().saves->scheduleDatabaseSave();
    window.parts().saves->scheduleConfigSave();
    // A machine renaming itself twice a second asks for saves for ever.
    QTimer renames;
    connect(&renames, &QTimer::timeout, &window, [&window] {
        window.parts().saves->scheduleDatabaseSave();
        window.parts().saves->scheduleConfigSave();
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
    QTRY_VERIFY(QFile::exists(window.core().settings().path()));
    renames.stop();

    // Machines of one address going off line in a burst: twenty rows, then
    // one counted row for the rest.
    QList<CStuInfo_PTR> lost;
    for (int i = 0; i < 25; ++i)
        lost << window.core().registry().updateMachine(0xBB00 + quint64(i), QString(), QStringLiteral("127.0.0.3"), false);
    window.parts().overview->machinesWentOffline(lost);
    EventLogStore& log = window.core().tables().eventLog();
    QTRY_COMPARE(securityRows(log),
        QStringList { QStringLiteral("127.0.0.3 的机器一分钟内上线、离线或注册超过 20 次，其余只计数（共 25 次）") });
    QSqlQuery offline = log.select(QString(), EventLogStore::Offline, true);
    int rows = 0;
    while (offline.next())
        ++rows;
    QCOMPARE(rows, SecurityMonitor::MachineEventsPerMinute);
}

void TestGuard::consoleKeepsAnsweringWhenFull()
{
    if (qgetenv("ROK_NETNS_ISOLATED") != "1")
        QSKIP("sends to the console's port; runs only inside scripts/netns");
    BareConsole console;
    QVERIFY(console.listening);
    QStudentManage& registry = console.lab.registry;
    // Full of machines never heard this run, in no group.
    for (int i = 0; i < QStudentManage::MaxMachines; ++i)
        QVERIFY(registry.updateMachine(
            FullBase + quint64(i), QStringLiteral("BOGUS"), QStringLiteral("127.0.0.3"), false));

    QUdpSocket agent;
    // Answers go back to the sender's port, so any port will do.
    QVERIFY(agent.bind(QHostAddress(QStringLiteral("127.0.0.2")), 0));
    const auto send = [&](const QByteArray& datagram) {
        agent.writeDatagram(datagram, QHostAddress(QStringLiteral("127.0.0.1")), Protocol::ConsolePort);
    };
    int reregisters = 0;
    const auto heardReregisters = [&] {
        while (agent.hasPendingDatagrams())
            reregisters
                += Protocol::consoleMessageId(agent.receiveDatagram().data()) == Protocol::MSG_ADMIN_REREGISTER;
        return reregisters;
    };
    const quint64 fresh = 0x0000CC0000000002ULL;
    const quint64 refused = 0x0000CC0000000003ULL;

    // Full: a PC's first registration is refused, and its heartbeat asked to
    // register again; retrying, it takes the place of a machine in no group
    // that has not been heard this run, which leaves the pages.
    console.lab.all()->addMachine(registry.findMachine(FullBase));
    QVERIFY(console.lab.all()->rowOfMachine(FullBase) >= 0);
    send(Protocol::buildRegister(fresh, QStringLiteral("FRESH")));
    send(Protocol::buildHeartbeat(fresh));
    QTRY_COMPARE(heardReregisters(), 1);
    QVERIFY(!registry.findMachine(fresh));
    send(Protocol::buildRegister(fresh, QStringLiteral("FRESH")));
    QTRY_VERIFY(registry.findMachine(fresh));
    QVERIFY(!registry.findMachine(FullBase));
    QTRY_VERIFY(console.lab.all()->rowOfMachine(FullBase) < 0);
    // With every machine heard (again), nothing makes room, and the console
    // goes on answering.
    for (const CStuInfo_PTR& machine : registry.allMachines()) {
        machine->markHeard();
        machine->heard_again.store(true);
    }
    for (int i = 0; i < 2; ++i) {
        send(Protocol::buildRegister(refused, QStringLiteral("REFUSED")));
        send(Protocol::buildHeartbeat(refused));
        QTRY_COMPARE(heardReregisters(), 2 + i);
    }
    QVERIFY(!registry.findMachine(refused));
    QCOMPARE(registry.allMachines().size(), QStudentManage::MaxMachines);
}

QTEST_MAIN(TestGuard)
#include "tst_guard.moc"
