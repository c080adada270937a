// What a student on the lab network may not do, as the core's rules: speak
// for another machine, move agents out of their groups for good, override a
// group's state unanswered, or bury the teacher in alerts.

#include "AgentPortWatch.h"
#include "AnswerBudget.h"
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
#include "LabGuard.h"
#include "PageDirectory.h"
#include "QStudentGroupWidget.h"
#include "SentLedger.h"
#include "UdpServer.h"

#include <QNetworkDatagram>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QUdpSocket>
#include <QtTest>

#include <QTabWidget>

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
    void watchJudgesByContent();
    void watchAnswersEveryWord();
    void watchAnswersAnyDestination();
    void foreignJoinsFailClosed();
    void consoleKeepsMachinesToTheirOwnAddress();
    void consoleAnswersAnotherConsole();
    void guardAnswersWithThePagesWords();
    void consoleTellsForgedSource();
    void roomAlertsEscalate();
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
}

namespace {

const uint32_t Room = address("239.74.8.28");
const uint32_t Ungrouped = address("239.74.8.27");
const uint32_t Escape = address("239.74.250.1");
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
        callbacks.senderSeen = [this](uint32_t sender, AgentPortWatch::Kind kind, bool forged) {
            senders << QStringLiteral("%1 %2%3").arg(Protocol::addressToText(sender)).arg(int(kind)).arg(forged ? " forged" : "");
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
    QVERIFY(w.answers.isEmpty());
    QCOMPARE(w.senders, (QStringList { "127.0.0.1 2 forged", "127.0.0.1 2", "127.0.0.99 2" }));
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
    const QByteArray escapeJoin = Protocol::buildJoinGroup(Escape);
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
        return qMakePair(Protocol::addressToText(Escape), datagram);
    };
    QCOMPARE(w.sent, (QList<QPair<QString, QByteArray>> { escapeSent(BlackLock) }));
    // Words sent there are answered at once; its own word, noted, passes.
    w.fromConsole(BlackLock, Escape, 1ms);
    w.feed(Unlock, Student, 40000, Escape, 1ms);
    w.feed(Protocol::buildPolicy(1, {}), Student, 40000, Escape, 2ms);
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
    w.feed(Unlock, Student, 40000, Escape, 2s);
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
    QTRY_VERIFY(!alerts.isEmpty());
    QCOMPARE(alerts.first().at(1).toString(), QStringLiteral("发现其他教师端：127.0.0.99"));
    // Told once; the row counts the sender's datagrams. The room's row says
    // how fast it was hit (the three words may fall into two seconds).
    const QString senderRow = QStringLiteral("发现其他教师端：127.0.0.99，首条为锁定状态（共 3 条）");
    QTRY_VERIFY(securityRows(*window.eventLog()).contains(senderRow));
    QStringList rows = securityRows(*window.eventLog());
    rows.removeOne(senderRow);
    QCOMPARE(rows.size(), 1);
    QVERIFY2(rows.first() == QStringLiteral("未分组正被解锁：每秒 3 次")
            || rows.first() == QStringLiteral("未分组正被解锁：每秒 2 次"),
        qPrintable(rows.first()));
    QCOMPARE(alerts.size(), 2);
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
    student.to("255.255.255.255", Protocol::buildJoinGroup(Escape));
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
    QTemporaryDir dir;
    RokVtxAdmin window(dir.path());
    QVERIFY(window.watchingAgentPort());
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
    // Told apart from the console's own datagrams, which make no row.
    QTRY_COMPARE(securityRows(*window.eventLog()),
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
