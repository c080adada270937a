// The real console program and the agent simulator through whole workflows:
// a prepared lab served, stopped, extended and restarted; then the window
// in-process with agents that fall silent, come back, move and get locked.

#include "ConsoleProcess.h"
#include "core/Protocol.h"
#include "DatagramCatcher.h"
#include "pages/QStudentGroupWidget.h"
#include "RokVtxAdmin.h"
#include "SimulatorProcess.h"
#include "SqliteFile.h"
#include "tableview/QtRokTableView.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonObject>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTextCodec>
#include <QtTest>

namespace {

// Stored before the first start: "机房A" (display order 2) lists a machine
// the console has never seen; "机房B" (order 5) holds one stored with its old
// address. Pages: "全部", "机房A" 239.74.8.27, "机房B" .28, "未分组" .29.
constexpr quint64 ListedInA = Q_UINT64_C(0x0A0000000001);
constexpr quint64 StoredInB = Q_UINT64_C(0x0B0000000001);
constexpr quint64 Registered = Q_UINT64_C(0x0C0000000001);
// The simulator's first agent, as it numbers them by default.
constexpr quint64 FirstAgent = Q_UINT64_C(0x5A0000000001);
// More groups than one socket may join on Linux (20), one agent in each.
constexpr int Agents = 25;

constexpr int Patience = 15000;

QByteArray hex(const char* text)
{
    return QByteArray::fromHex(text); // spaces are skipped
}

const QByteArray Reregister = hex("01 00 00 30");
const QByteArray JoinGroupA = hex("02 00 00 30 EF 4A 08 1B");
const QByteArray JoinGroupB = hex("02 00 00 30 EF 4A 08 1C");
const QByteArray JoinUngrouped = hex("02 00 00 30 EF 4A 08 1D");

QStringList labTables()
{
    return {
        QStringLiteral("CREATE TABLE tb_machines(ullmac bigint primary key not null,ip text,hostname text);"),
        QStringLiteral("CREATE TABLE tb_groups(group_name text primary key not null,"
                       "display_order int not null default 1,ullmac_list text,is_global int default 0);"),
        QStringLiteral("CREATE TABLE tb_string_items(str_val text not null,item_type int not null,"
                       "item_state int not null default 1);"),
        QStringLiteral("INSERT INTO tb_groups VALUES('机房A',2,'%1',0);").arg(ListedInA),
    };
}

QString host(int number)
{
    return QStringLiteral("PC-%1").arg(number, 4, 10, QLatin1Char('0'));
}

bool holds(const SimulatorProcess& simulator, int number, const QString& group, const QString& lock)
{
    const QJsonObject agent = simulator.agent(host(number));
    return agent.value(QStringLiteral("group")).toString() == group
        && agent.value(QStringLiteral("lock")).toString() == lock;
}

QString stateOf(const QStudentGroupWidget* page, quint64 mac)
{
    const int row = page->rowOfMachine(mac);
    return row < 0 ? QString() : page->machine_table->getCellText(row, MachineRows::StateColumn);
}

} // namespace

class TestWorkflows : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void reregisterAnswers_data();
    void reregisterAnswers();
    void newAndStoredMachinesToldTheirGroup();
    void olderPolicyVersionAnsweredAtGroupAddress();
    void stopKeepsLab();
    void restartServesAgentsInTheirGroups();
    void windowFollowsAgentsOfflineAndBack();

private:
    // Waits until two more lock datagrams reached "未分组": by then anything
    // the console had queued before has left it.
    bool settle();
    bool answers();

    QTemporaryDir dir_;
    ConsoleProcess console_ { dir_.path() };
    DatagramCatcher probe_;
    DatagramCatcher groupA_;
    DatagramCatcher ungrouped_;
    DatagramCatcher bystander_;
};

void TestWorkflows::initTestCase()
{
    QVERIFY2(qEnvironmentVariableIsSet("ROK_NETNS_ISOLATED"),
        "opens the console's UDP ports: run it through ctest or scripts/netns");
    // Wire text is local 8-bit; the console and the simulator run in UTF-8.
    QTextCodec::setCodecForLocale(QTextCodec::codecForName("UTF-8"));
    QVERIFY(dir_.isValid());

    QString error;
    QVERIFY2(SqliteFile::exec(console_.dataFile(QStringLiteral("data.sqlite3")),
                 labTables()
                     << QStringLiteral("INSERT INTO tb_groups VALUES('机房B',5,'%1',0);").arg(StoredInB)
                     << QStringLiteral("INSERT INTO tb_machines VALUES(%1,'127.0.0.21','PC-B1');").arg(StoredInB)
                     << QStringLiteral("INSERT INTO tb_string_items VALUES('notepad.exe',3,1);"),
                 &error),
        qPrintable(error));

    QVERIFY(groupA_.bind(QHostAddress(QStringLiteral("239.74.8.27")), Protocol::AgentPort));
    QVERIFY(groupA_.joinGroup(QHostAddress(QStringLiteral("239.74.8.27"))));
    QVERIFY(ungrouped_.bind(QHostAddress(QStringLiteral("239.74.8.29")), Protocol::AgentPort));
    QVERIFY(ungrouped_.joinGroup(QHostAddress(QStringLiteral("239.74.8.29"))));
    QVERIFY(bystander_.bind(QHostAddress::AnyIPv4, Protocol::AgentPort));
    QVERIFY(probe_.bind(QHostAddress(QStringLiteral("127.0.0.2")), 0));

    QVERIFY2(console_.start(), qPrintable(console_.process().errorString()));
    QTRY_VERIFY_WITH_TIMEOUT(answers(), Patience);
    // Both groups repeat their state from the start.
    QTRY_VERIFY_WITH_TIMEOUT(groupA_.countOf(Protocol::MSG_ADMIN_LOCK_STATE) > 0, Patience);
    QTRY_VERIFY_WITH_TIMEOUT(ungrouped_.countOf(Protocol::MSG_ADMIN_POLICY) > 0, Patience);
}

bool TestWorkflows::settle()
{
    const int locks = ungrouped_.countOf(Protocol::MSG_ADMIN_LOCK_STATE);
    return QTest::qWaitFor(
        [this, locks] { return ungrouped_.countOf(Protocol::MSG_ADMIN_LOCK_STATE) >= locks + 2; }, Patience);
}

// Asks with a datagram without identity until the console answers.
bool TestWorkflows::answers()
{
    probe_.clear();
    probe_.sendToConsole(hex("00 00 00 00 00 00 00 00 02 00 00 20"));
    return QTest::qWaitFor([this] { return probe_.countOf(Protocol::MSG_ADMIN_REREGISTER) > 0; }, 200);
}

void TestWorkflows::reregisterAnswers_data()
{
    QTest::addColumn<QByteArray>("datagram");
    QTest::addColumn<int>("replies");

    QTest::newRow("identity 0, register PC-01")
        << hex("00 00 00 00 00 00 00 00 01 00 00 20 0B 05 00 00 00 50 43 2D 30 31 00") << 2;
    QTest::newRow("identity 0, policy version") << hex("00 00 00 00 00 00 00 00 03 00 00 20 01 00 00 00") << 2;
    QTest::newRow("unknown machine, heartbeat") << hex("01 00 00 00 00 EE 00 00 02 00 00 20") << 2;
    QTest::newRow("unknown machine, heartbeat with tail") << hex("02 00 00 00 00 EE 00 00 02 00 00 20 FF FF") << 2;
    QTest::newRow("unknown machine, policy version") << hex("03 00 00 00 00 EE 00 00 03 00 00 20 00 00 00 00") << 2;
    QTest::newRow("unknown machine, unknown id") << hex("04 00 00 00 00 EE 00 00 99 00 00 20") << 2;
    QTest::newRow("short, identity 0") << hex("00 00 00 00 00 00 00 00 02 00 00") << 0;
    QTest::newRow("short, unknown machine") << hex("05 00 00 00 00 EE 00 00 01 00 00") << 0;
}

void TestWorkflows::reregisterAnswers()
{
    QFETCH(QByteArray, datagram);
    QFETCH(int, replies);
    probe_.clear();

    // Twice: had the first created a record, the second would not be asked
    // to register again.
    QVERIFY(probe_.sendToConsole(datagram));
    QVERIFY(probe_.sendToConsole(datagram));
    QTRY_COMPARE_WITH_TIMEOUT(probe_.received().size(), replies, Patience);
    if (replies == 0) {
        QVERIFY(settle());
        QCOMPARE(probe_.received().size(), 0);
    }
    for (const DatagramCatcher::Datagram& reply : probe_.received()) {
        QCOMPARE(reply.data, Reregister);
        QCOMPARE(reply.senderPort, Protocol::ConsolePort);
    }
}

void TestWorkflows::newAndStoredMachinesToldTheirGroup()
{
    DatagramCatcher fresh, listed, stored;
    QVERIFY(fresh.bind(QHostAddress(QStringLiteral("127.0.0.3")), Protocol::AgentPort)
        && listed.bind(QHostAddress(QStringLiteral("127.0.0.4")), Protocol::AgentPort)
        && stored.bind(QHostAddress(QStringLiteral("127.0.0.5")), Protocol::AgentPort));

    // A new machine goes to "未分组" and one listed by "机房A" there; one
    // stored in "机房B" with another address is told where it registered
    // from. Joins are repeated, so each hears its own join and nothing else.
    const QByteArray registration = hex("01 00 00 00 00 0C 00 00 01 00 00 20 0B 05 00 00 00 50 43 2D 30 31 00");
    QVERIFY(fresh.sendToConsole(registration));
    QVERIFY(listed.sendToConsole(Protocol::buildRegister(ListedInA, QStringLiteral("PC-A1"))));
    QVERIFY(stored.sendToConsole(Protocol::buildRegister(StoredInB, QStringLiteral("PC-B1"))));
    QTRY_VERIFY_WITH_TIMEOUT(fresh.received().size() >= 2, Patience);
    QTRY_VERIFY_WITH_TIMEOUT(listed.received().size() >= 2, Patience);
    QTRY_VERIFY_WITH_TIMEOUT(stored.received().size() >= 1, Patience);
    // Known now: a heartbeat asks for nothing, a new registration is answered.
    QVERIFY(fresh.sendToConsole(Protocol::buildHeartbeat(Registered)));
    QVERIFY(fresh.sendToConsole(registration));
    QTRY_VERIFY_WITH_TIMEOUT(fresh.received().size() >= 3, Patience);
    QVERIFY(settle());
    const auto only = [](const DatagramCatcher& agent, const QByteArray& join) {
        for (const DatagramCatcher::Datagram& datagram : agent.received())
            if (datagram.data != join || datagram.senderPort != Protocol::ConsolePort)
                return false;
        return true;
    };
    QVERIFY(only(fresh, JoinUngrouped));
    QVERIFY(only(listed, JoinGroupA));
    QVERIFY(only(stored, JoinGroupB));
}

void TestWorkflows::olderPolicyVersionAnsweredAtGroupAddress()
{
    // The PC that registered PC-A1 before: from elsewhere, while it is on
    // line, its registration would not be taken.
    DatagramCatcher agent;
    QVERIFY(agent.bind(QHostAddress(QStringLiteral("127.0.0.4")), Protocol::AgentPort));
    QVERIFY(agent.sendToConsole(Protocol::buildRegister(ListedInA, QStringLiteral("PC-A1"))));
    QTRY_VERIFY_WITH_TIMEOUT(agent.received().size() >= 1, Patience);
    QCOMPARE(agent.received().constFirst().data, JoinGroupA);

    // The group's current policy, from its periodic repetition.
    groupA_.clear();
    QTRY_VERIFY_WITH_TIMEOUT(groupA_.countOf(Protocol::MSG_ADMIN_POLICY) > 0, Patience);
    Protocol::PolicyContent current;
    QVERIFY(Protocol::parsePolicy(groupA_.withId(Protocol::MSG_ADMIN_POLICY).constFirst().data, current));
    QCOMPARE(current.lists[2], QStringList { QStringLiteral("notepad.exe") });
    const uint32_t version = current.version;

    // An older one brings the policy to the whole group, but a burst of them
    // no more than twice (at once, then at the end of the 300 ms) beside the
    // repetitions; another group gets only its own repetitions, the asking
    // agent nothing unicast. Which versions ask, and the throttle's exact
    // bounds, are tst_sender's.
    constexpr int Reports = 20;
    groupA_.clear();
    const int ungroupedLocks = ungrouped_.countOf(Protocol::MSG_ADMIN_LOCK_STATE);
    const int ungroupedPolicies = ungrouped_.countOf(Protocol::MSG_ADMIN_POLICY);
    for (int i = 0; i < Reports; ++i)
        QVERIFY(agent.sendToConsole(Protocol::buildPolicyVersion(ListedInA, version - 1)));
    QTRY_VERIFY_WITH_TIMEOUT(groupA_.countOf(Protocol::MSG_ADMIN_LOCK_STATE) >= 3, Patience);
    QVERIFY2(groupA_.countOf(Protocol::MSG_ADMIN_POLICY) >= 1 && groupA_.countOf(Protocol::MSG_ADMIN_POLICY) <= 3 + 2,
        qPrintable(QString::number(groupA_.countOf(Protocol::MSG_ADMIN_POLICY))));
    for (const DatagramCatcher::Datagram& policy : groupA_.withId(Protocol::MSG_ADMIN_POLICY)) {
        Protocol::PolicyContent sent;
        QVERIFY(Protocol::parsePolicy(policy.data, sent));
        QCOMPARE(sent.version, version);
        QCOMPARE(policy.senderPort, Protocol::ConsolePort);
    }
    QVERIFY(ungrouped_.countOf(Protocol::MSG_ADMIN_POLICY) - ungroupedPolicies
        <= ungrouped_.countOf(Protocol::MSG_ADMIN_LOCK_STATE) - ungroupedLocks + 1);
    QCOMPARE(agent.countOf(Protocol::MSG_ADMIN_POLICY), 0);
}

void TestWorkflows::stopKeepsLab()
{
    // The beacon as it reaches the wire (its period is tst_sender's, exact).
    QTRY_VERIFY_WITH_TIMEOUT(bystander_.countOf(Protocol::MSG_ADMIN_BEACON) >= 2, Patience);
    for (const DatagramCatcher::Datagram& beacon : bystander_.withId(Protocol::MSG_ADMIN_BEACON)) {
        QCOMPARE(beacon.data, hex("01 00 00 00"));
        QCOMPARE(beacon.senderPort, Protocol::ConsolePort);
    }

    QVERIFY2(!QFile::exists(console_.dataFile(QStringLiteral("config.conf"))), "written at exit, not before");
    console_.terminate();
    QVERIFY(console_.waitForFinished(Patience));
    QCOMPARE(console_.process().exitStatus(), QProcess::NormalExit);
    QCOMPARE(console_.process().exitCode(), 0);

    // Every page but "全部", in tab order, with the defaults.
    QByteArray expected = "groups=(\n";
    for (const char* name : { "机房A", "机房B", "未分组" })
        expected += QByteArray("\t{\n\t\tgroup-name=\"") + name
            + "\";\n\t\tlock-type=0;\n\t\tallowmanualip=0;\n\t\tallowusbdrv=0;\n"
              "\t\ttype-1=[\n\n\t\t];\n\t\ttype-2=[\n\n\t\t];\n\t\ttype-3=[\n\n\t\t];\n\t},\n";
    QFile config(console_.dataFile(QStringLiteral("config.conf")));
    QVERIFY(config.open(QIODevice::ReadOnly));
    QCOMPARE(config.readAll(), expected + ");");

    // The groups keep their members; the registered machines were added and
    // nothing that was only asked to register again.
    const QString path = console_.dataFile(QStringLiteral("data.sqlite3"));
    QString error;
    QCOMPARE(SqliteFile::rows(path,
                 QStringLiteral("SELECT group_name,display_order,ullmac_list FROM tb_groups ORDER BY display_order;"),
                 &error),
        (QList<QStringList> {
            { QStringLiteral("机房A"), QStringLiteral("2"), QString::number(ListedInA) },
            { QStringLiteral("机房B"), QStringLiteral("5"), QString::number(StoredInB) },
        }));
    QCOMPARE(SqliteFile::rows(path, QStringLiteral("SELECT ullmac,hostname FROM tb_machines ORDER BY ullmac;"), &error),
        (QList<QStringList> {
            { QString::number(ListedInA), QStringLiteral("PC-A1") },
            { QString::number(StoredInB), QStringLiteral("PC-B1") },
            { QString::number(Registered), QStringLiteral("PC-01") },
        }));
    QVERIFY2(error.isEmpty(), qPrintable(error));
}

void TestWorkflows::restartServesAgentsInTheirGroups()
{
    // One group per simulator agent, after "机房B": pages at .29 to .53.
    QStringList groups;
    for (int number = 1; number <= Agents; ++number)
        groups << QStringLiteral("INSERT INTO tb_groups VALUES('G%1',%2,'%3',0);")
                      .arg(number)
                      .arg(9 + number)
                      .arg(FirstAgent + quint64(number - 1));
    const QString database = console_.dataFile(QStringLiteral("data.sqlite3"));
    QString error;
    QVERIFY2(SqliteFile::exec(database, groups, &error), qPrintable(error));
    QVERIFY(console_.start());

    // The agents find the console by its beacon and each joins its own
    // group, holding its lock state (manual IP not allowed) and the lists.
    SimulatorProcess simulator;
    simulator.start(QStringLiteral("--agents %1 --heartbeat-ms 200 --report-ms 100").arg(Agents).split(' '));
    const auto eachInItsGroup = [&] {
        for (int number = 1; number <= Agents; ++number)
            if (!holds(simulator, number, QStringLiteral("239.74.8.%1").arg(28 + number), QStringLiteral("0xF0000100")))
                return false;
        return true;
    };
    QTRY_VERIFY_WITH_TIMEOUT(eachInItsGroup(), Patience);
    QCOMPARE(simulator.summary().value(QStringLiteral("join_errors")).toInt(), 0);
    QTRY_COMPARE_WITH_TIMEOUT(simulator.agent(host(1)).value(QStringLiteral("lists")).toArray(),
        QJsonArray({ QJsonArray(), QJsonArray(), QJsonArray { QStringLiteral("notepad.exe") } }), Patience);

    // A second console on the same lock says so and ends at once.
    ConsoleProcess second(dir_.path());
    QVERIFY(second.start());
    QVERIFY(second.waitForFinished(Patience));
    QCOMPARE(second.process().exitCode(), 0);
    QVERIFY2(second.standardError().contains("already running"), second.standardError().constData());
    QTRY_VERIFY_WITH_TIMEOUT(answers(), Patience);

    // A datagram to one agent's address reaches that agent alone.
    QVERIFY(probe_.sendToAgent(QStringLiteral("127.0.1.2"), Protocol::buildReregister()));
    QVERIFY(probe_.sendToAgent(QStringLiteral("127.0.1.3"), hex("02 00 00 30 EF 4A 08 1B")));
    QTRY_COMPARE_WITH_TIMEOUT(simulator.agent(host(2)).value(QStringLiteral("reregisters")).toInt(), 1, Patience);
    QTRY_VERIFY_WITH_TIMEOUT(holds(simulator, 3, QStringLiteral("239.74.8.27"), QStringLiteral("0xF0000100")), Patience);
    QCOMPARE(simulator.agent(host(1)).value(QStringLiteral("reregisters")).toInt(), 0);
    QVERIFY(holds(simulator, 4, QStringLiteral("239.74.8.32"), QStringLiteral("0xF0000100")));

    // SIGTERM ends the simulator with a final report, then the console.
    simulator.process().terminate();
    QVERIFY(simulator.process().waitForFinished(Patience));
    QTRY_VERIFY(simulator.summary().value(QStringLiteral("final")).toBool());
    QVERIFY2(simulator.badLines().isEmpty(), qPrintable(simulator.badLines().join('\n')));
    console_.terminate();
    QVERIFY(console_.waitForFinished(Patience));
    const QList<QStringList> machines = SqliteFile::rows(database,
        QStringLiteral("SELECT ullmac,ip,hostname FROM tb_machines WHERE ullmac>=%1 ORDER BY ullmac;").arg(FirstAgent),
        &error);
    QCOMPARE(machines.size(), Agents);
    for (int i = 0; i < Agents; ++i)
        QCOMPARE(machines.at(i),
            (QStringList { QString::number(FirstAgent + quint64(i)), QStringLiteral("127.0.1.%1").arg(i + 1), host(i + 1) }));
}

void TestWorkflows::windowFollowsAgentsOfflineAndBack()
{
    QTemporaryDir dir;
    QString error;
    QVERIFY2(SqliteFile::exec(dir.filePath(QStringLiteral("data.sqlite3")), labTables(), &error), qPrintable(error));
    RokVtxAdmin window(dir.path());
    QVERIFY(window.networkReady());
    QStudentGroupWidget* all = window.allPage();
    QStudentGroupWidget* ungrouped = window.ungroupedPage();
    QStudentGroupWidget* groupA = window.pageAt(1);
    QVERIFY(all && ungrouped && groupA);
    constexpr quint64 Fading = FirstAgent;
    constexpr quint64 Steady = FirstAgent + 1;
    const QString Online = QStringLiteral("在线");
    const QString Offline = QStringLiteral("断开");

    // PC-0001 stops after 3 s for 3 s; PC-0002 keeps going.
    SimulatorProcess simulator;
    simulator.start(QStringLiteral("--agents 2 --console 127.0.0.1 --heartbeat-ms 200 --report-ms 100 --silent 1 "
                                   "--silent-after 3 --return-after 3")
                        .split(' '));
    QTRY_COMPARE_WITH_TIMEOUT(stateOf(all, Fading), Online, Patience);
    QTRY_COMPARE_WITH_TIMEOUT(stateOf(all, Steady), Online, Patience);
    QTRY_COMPARE_WITH_TIMEOUT(stateOf(ungrouped, Fading), Online, Patience);
    QVERIFY2(!simulator.wasSilent(host(1)), "the agent fell silent before it was seen");

    // Its silence makes it "断开" on both of its pages, neither in view (so
    // not refreshed by itself); the other stays "在线".
    window.tabWidget()->setCurrentWidget(groupA);
    const auto silent = [&] { return simulator.agent(host(1)).value(QStringLiteral("silent")).toBool(); };
    QTRY_VERIFY_WITH_TIMEOUT(silent(), Patience);
    QTRY_COMPARE_WITH_TIMEOUT(stateOf(all, Fading), Offline, Patience);
    QTRY_COMPARE_WITH_TIMEOUT(stateOf(ungrouped, Fading), Offline, Patience);
    QCOMPARE(stateOf(all, Steady), Online);
    window.tabWidget()->setCurrentWidget(all);

    // Back again: the page in view ("全部") shows it at its next refresh,
    // another page when it comes into view.
    QTRY_VERIFY_WITH_TIMEOUT(!silent(), Patience);
    QTRY_COMPARE_WITH_TIMEOUT(stateOf(all, Fading), Online, Patience);
    window.tabWidget()->setCurrentWidget(ungrouped);
    QTRY_COMPARE_WITH_TIMEOUT(stateOf(ungrouped, Fading), Online, Patience);
    QCOMPARE(window.core().registry().allMachines().size(), 2);

    // Moved into "机房A" and given a black-screen lock with USB allowed: the
    // agent follows to the group's address and holds the new word.
    window.core().groups().moveMachine(Steady, QStringLiteral("机房A"));
    groupA->setAllowUsbDrv(true);
    groupA->setLockType(2);
    QTRY_VERIFY_WITH_TIMEOUT(holds(simulator, 2, QStringLiteral("239.74.8.27"), QStringLiteral("0xF0000302")), Patience);
    QVERIFY(holds(simulator, 1, QStringLiteral("239.74.8.28"), QStringLiteral("0xF0000100")));
    QCOMPARE(stateOf(groupA, Steady), Online);

    // A student moves the lab to a group of its own and unlocks it there and
    // in the room: the agents end in their groups under the room's lock,
    // and the teacher hears of the student once.
    QSignalSpy alerts(&window, &RokVtxAdmin::sg_tray_message);
    DatagramCatcher student;
    QVERIFY(student.bind(QHostAddress(QStringLiteral("127.0.0.99")), 0));
    for (int i = 0; i < 3; ++i) {
        QVERIFY(student.sendToAgent(QStringLiteral("255.255.255.255"), hex("02 00 00 30 EF 4A FA 01")));
        QVERIFY(student.sendToAgent(QStringLiteral("239.74.250.1"), hex("03 00 00 30 00 00 00 F0")));
        QVERIFY(student.sendToAgent(QStringLiteral("239.74.8.27"), hex("03 00 00 30 00 00 00 F0")));
        QTest::qWait(300);
    }
    QTRY_VERIFY_WITH_TIMEOUT(holds(simulator, 2, QStringLiteral("239.74.8.27"), QStringLiteral("0xF0000302")), Patience);
    QTRY_VERIFY_WITH_TIMEOUT(holds(simulator, 1, QStringLiteral("239.74.8.28"), QStringLiteral("0xF0000100")), Patience);
    QTRY_VERIFY_WITH_TIMEOUT(!alerts.isEmpty(), Patience);
    QCOMPARE(alerts.first().at(1).toString(), QStringLiteral("发现其他教师端（发往全部）：来源 127.0.0.99（未核实，可能伪造）"));
    // Besides, each room says it is being unlocked.
    for (int i = 1; i < alerts.size(); ++i)
        QVERIFY2(alerts.at(i).at(1).toString().contains(QStringLiteral("正被解锁：每秒 ")),
            qPrintable(alerts.at(i).at(1).toString()));
}

QTEST_MAIN(TestWorkflows)
#include "tst_workflows.moc"
