#include "HeldPolicy.h"
#include "Protocol.h"
#include "SimulatedAgent.h"
#include "SimulatorOptions.h"
#include "SimulatorProcess.h"
#include "StandInConsole.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QTextCodec>
#include <QTimer>
#include <QtTest>
#include <memory>

namespace {

constexpr int Patience = 15000;
constexpr uint32_t PolicyVersion = 0x7A11C0DEu;
constexpr uint32_t LockWord = 0xF0000302u;

QString host(int number)
{
    return QStringLiteral("PC-%1").arg(number, 4, 10, QLatin1Char('0'));
}

std::array<QStringList, 3> policyLists()
{
    return { QStringList { QStringLiteral("^微信$"), QStringLiteral("notepad.*") },
        QStringList { QStringLiteral("RokAgent"), QStringLiteral("守护\"引号\"\\服务") },
        QStringList { QStringLiteral("C:\\Program Files\\Rok\\agent.exe") } };
}

QJsonArray listsJson(const std::array<QStringList, 3>& lists)
{
    QJsonArray array;
    for (const QStringList& list : lists)
        array.append(QJsonArray::fromStringList(list));
    return array;
}

QStringList fastAgents(int count)
{
    return { QStringLiteral("--agents"), QString::number(count), QStringLiteral("--console"),
        QStringLiteral("127.0.0.1"), QStringLiteral("--heartbeat-ms"), QStringLiteral("100"),
        QStringLiteral("--report-ms"), QStringLiteral("100") };
}

QByteArray describe(const SimulatorProcess& simulator)
{
    QByteArray text;
    for (const QJsonObject& agent : simulator.agents())
        text += QJsonDocument(agent).toJson(QJsonDocument::Compact) + '\n';
    text += QJsonDocument(simulator.summary()).toJson(QJsonDocument::Compact);
    return text;
}

bool holds(const QJsonObject& agent, const QString& group, const QString& lock)
{
    return agent.value(QStringLiteral("group")).toString() == group
        && agent.value(QStringLiteral("lock")).toString() == lock;
}

// Repeats the given datagrams to their groups, as a console page does.
class GroupSender final
{
public:
    explicit GroupSender(StandInConsole& console)
        : console_(console)
    {
        timer_.setInterval(100);
        QObject::connect(&timer_, &QTimer::timeout, &timer_, [this] {
            for (const auto& item : datagrams_)
                console_.send(item.first, item.second);
        });
        timer_.start();
    }

    void add(uint32_t address, const QByteArray& datagram) { datagrams_.append({ address, datagram }); }

private:
    StandInConsole& console_;
    QTimer timer_;
    QVector<QPair<uint32_t, QByteArray>> datagrams_;
};

} // namespace

class TestAgentSim : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    // The program's own parts, in process.
    void parsesDefaultsAndEveryOption();
    void silenceDefaults();
    void rejectsBadOptions_data();
    void rejectsBadOptions();
    void agentAddresses_data();
    void agentAddresses();
    void macForms_data();
    void macForms();
    void reportLineIsEscapedJson();
    void helpListsEveryOption();

    // The program against a stand-in console.
    void agentsJoinGroupAndHoldLockAndLists();
    void reregisterAndJoinReachOneAgent();
    void silentAgentsStopAndReturn();
    void groupsBeyondOneSocketsLimit();
};

void TestAgentSim::initTestCase()
{
    QVERIFY2(qEnvironmentVariableIsSet("ROK_NETNS_ISOLATED"),
        "opens UDP ports and broadcasts: run it through ctest or scripts/netns");
    // Wire text is local 8-bit; the simulator is started with the same codec.
    QTextCodec::setCodecForLocale(QTextCodec::codecForName("UTF-8"));
}

void TestAgentSim::parsesDefaultsAndEveryOption()
{
    SimulatorOptions options;
    QString message;
    QCOMPARE(SimulatorOptions::parse({ QStringLiteral("rok-agentsim") }, options, message),
        SimulatorOptions::ParseResult::Run);
    // No console given: the agents wait for its beacon.
    QCOMPARE(options.consoleAddress, 0u);
    QCOMPARE(options.effectiveSilentCount(), 0);
    QCOMPARE(options.agentHostName(0), QStringLiteral("PC-0001"));
    QCOMPARE(SimulatorOptions::addressText(options.agentAddress(0)), QStringLiteral("127.0.1.1"));

    const QStringList all { QStringLiteral("rok-agentsim"), QStringLiteral("-n"), QStringLiteral("12345"),
        QStringLiteral("--console"), QStringLiteral("127.0.0.9:4000"), QStringLiteral("--heartbeat-ms"),
        QStringLiteral("250"), QStringLiteral("--jitter-ms"), QStringLiteral("124"),
        QStringLiteral("--policy-report-ms"), QStringLiteral("0"), QStringLiteral("--silent"), QStringLiteral("7"),
        QStringLiteral("--silent-after"), QStringLiteral("1.5"), QStringLiteral("--return-after"), QStringLiteral("2"),
        QStringLiteral("--duration"), QStringLiteral("30"), QStringLiteral("--report-ms"), QStringLiteral("0"),
        QStringLiteral("--summary-only"), QStringLiteral("--macs-from"), QStringLiteral("0x0A0B0C0D0E0F"),
        QStringLiteral("--host-prefix"), QStringLiteral("机房-"), QStringLiteral("--address-base"),
        QStringLiteral("127.1.0.1"), QStringLiteral("--group-interface"), QStringLiteral("127.0.0.2") };
    QCOMPARE(SimulatorOptions::parse(all, options, message), SimulatorOptions::ParseResult::Run);
    QCOMPARE(options.agents, 12345);
    QCOMPARE(SimulatorOptions::addressText(options.consoleAddress), QStringLiteral("127.0.0.9"));
    QCOMPARE(options.consolePort, uint16_t(4000));
    QCOMPARE(options.heartbeatMs, 250);
    QCOMPARE(options.jitterMs, 124);
    QCOMPARE(options.policyReportMs, 0);
    QCOMPARE(options.effectiveSilentCount(), 7);
    QCOMPARE(options.silentAfterSeconds, 1.5);
    QCOMPARE(options.returnAfterSeconds, 2.0);
    QCOMPARE(options.durationSeconds, 30.0);
    QCOMPARE(options.reportMs, 0);
    QVERIFY(options.summaryOnly);
    QCOMPARE(options.agentMac(2), Q_UINT64_C(0x0A0B0C0D0E11));
    QCOMPARE(options.agentHostName(11), QStringLiteral("机房-00012"));
    QCOMPARE(SimulatorOptions::addressText(options.groupInterface), QStringLiteral("127.0.0.2"));
    QCOMPARE(SimulatorOptions::addressText(options.agentAddress(254)), QStringLiteral("127.1.1.1"));
}

void TestAgentSim::silenceDefaults()
{
    SimulatorOptions options;
    QString message;
    QCOMPARE(SimulatorOptions::parse(
                 { QStringLiteral("x"), QStringLiteral("--silent-after"), QStringLiteral("3") }, options, message),
        SimulatorOptions::ParseResult::Run);
    QCOMPARE(options.effectiveSilentCount(), 40);
    QCOMPARE(options.returnAfterSeconds, -1.0);

    // --silent alone: silent from the start, a late arrival once it returns.
    QCOMPARE(SimulatorOptions::parse(
                 { QStringLiteral("x"), QStringLiteral("--silent"), QStringLiteral("3") }, options, message),
        SimulatorOptions::ParseResult::Run);
    QCOMPARE(options.effectiveSilentCount(), 3);
    QCOMPARE(options.silentAfterSeconds, 0.0);
}

void TestAgentSim::rejectsBadOptions_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("complaint");

    QTest::newRow("no agents") << QStringList { "--agents", "0" } << "--agents";
    QTest::newRow("agents not a number") << QStringList { "--agents", "4x" } << "--agents";
    QTest::newRow("console octet") << QStringList { "--console", "127.0.0.300" } << "--console";
    QTest::newRow("console port 0") << QStringList { "--console", "127.0.0.1:0" } << "--console";
    QTest::newRow("console port text") << QStringList { "--console", "127.0.0.1:x" } << "--console";
    QTest::newRow("console any") << QStringList { "--console", "0.0.0.0" } << "--console";
    QTest::newRow("heartbeat 0") << QStringList { "--heartbeat-ms", "0" } << "--heartbeat-ms";
    QTest::newRow("jitter half the period")
        << QStringList { "--heartbeat-ms", "100", "--jitter-ms", "50" } << "--jitter-ms";
    QTest::newRow("negative report period") << QStringList { "--policy-report-ms", "-1" } << "--policy-report-ms";
    QTest::newRow("more silent than agents") << QStringList { "--agents", "4", "--silent", "5" } << "--silent";
    QTest::newRow("return without silence") << QStringList { "--return-after", "2" } << "--return-after";
    QTest::newRow("negative silence") << QStringList { "--silent-after", "-1" } << "--silent-after";
    QTest::newRow("duration nan") << QStringList { "--duration", "nan" } << "--duration";
    QTest::newRow("mac zero") << QStringList { "--macs-from", "0" } << "--macs-from";
    QTest::newRow("mac short") << QStringList { "--macs-from", "01:02:03" } << "--macs-from";
    QTest::newRow("mac sign") << QStringList { "--macs-from", "+5" } << "--macs-from";
    QTest::newRow("mac overflow") << QStringList { "--agents", "2", "--macs-from", "0xFFFFFFFFFFFFFFFF" }
                                  << "--macs-from";
    QTest::newRow("address off loopback") << QStringList { "--address-base", "10.0.0.1" } << "--address-base";
    QTest::newRow("addresses run out") << QStringList { "--agents", "10", "--address-base", "127.255.255.250" }
                                       << "--address-base";
    QTest::newRow("unknown code page") << QStringList { "--code-page", "EBCDIC-KLINGON" } << "--code-page";
    QTest::newRow("unknown option") << QStringList { "--agentz", "3" } << "agentz";
    QTest::newRow("stray argument") << QStringList { "stray" } << "stray";
}

void TestAgentSim::rejectsBadOptions()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, complaint);

    SimulatorOptions options;
    options.agents = 77;
    QString message;
    QCOMPARE(SimulatorOptions::parse(QStringList { QStringLiteral("rok-agentsim") } + arguments, options, message),
        SimulatorOptions::ParseResult::Error);
    QVERIFY2(message.contains(complaint), qPrintable(message));
    QCOMPARE(options.agents, 77);
}

void TestAgentSim::agentAddresses_data()
{
    QTest::addColumn<QString>("base");
    QTest::addColumn<int>("index");
    QTest::addColumn<QString>("address");

    QTest::newRow("first") << "127.0.1.1" << 0 << "127.0.1.1";
    QTest::newRow("last of the block") << "127.0.1.1" << 253 << "127.0.1.254";
    QTest::newRow(".255 and .0 skipped") << "127.0.1.1" << 254 << "127.0.2.1";
    QTest::newRow("5000th") << "127.0.1.1" << 4999 << "127.0.20.174";
    QTest::newRow("base on .0") << "127.0.1.0" << 0 << "127.0.1.1";
    QTest::newRow("base on .255") << "127.0.1.255" << 1 << "127.0.2.2";
    QTest::newRow("carry into the second octet") << "127.0.255.254" << 1 << "127.1.0.1";
}

void TestAgentSim::agentAddresses()
{
    QFETCH(QString, base);
    QFETCH(int, index);
    QFETCH(QString, address);

    uint32_t baseAddress = 0;
    QVERIFY(SimulatorOptions::parseAddress(base, baseAddress));
    QCOMPARE(SimulatorOptions::addressText(SimulatorOptions::agentAddress(baseAddress, index)), address);
}

void TestAgentSim::macForms_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<quint64>("mac");

    QTest::newRow("display, low byte first") << "01:00:00:00:00:5A" << true << Q_UINT64_C(0x5A0000000001);
    QTest::newRow("display with dashes") << "F6-E5-D4-C3-B2-A1" << true << Q_UINT64_C(0xA1B2C3D4E5F6);
    QTest::newRow("hex") << "0x5a0000000001" << true << Q_UINT64_C(0x5A0000000001);
    QTest::newRow("hex, all 64 bits") << "0xFFFF000000000002" << true << Q_UINT64_C(0xFFFF000000000002);
    QTest::newRow("decimal") << "98956046499841" << true << Q_UINT64_C(0x5A0000000001);
    QTest::newRow("hex too long") << "0x1FFFF000000000002" << false << quint64(0);
    QTest::newRow("decimal past 64 bits") << "18446744073709551616" << false << quint64(0);
    QTest::newRow("display bad pair") << "01:00:00:00:0G:5A" << false << quint64(0);
    QTest::newRow("blank") << " 12" << false << quint64(0);
    QTest::newRow("empty") << "" << false << quint64(0);
}

void TestAgentSim::macForms()
{
    QFETCH(QString, text);
    QFETCH(bool, valid);
    QFETCH(quint64, mac);

    uint64_t parsed = 0;
    QCOMPARE(SimulatorOptions::parseMac(text, parsed), valid);
    if (valid)
        QCOMPARE(quint64(parsed), mac);
}

void TestAgentSim::reportLineIsEscapedJson()
{
    asio::io_context io;
    SimulatorCounters counters;
    const SimulatedAgent::Schedule schedule;
    SimulatedAgent fresh(io, Q_UINT64_C(0x5A0000000001), host(1), 0x7F000101u, schedule, counters);
    QJsonParseError error {};
    const QByteArray freshLine = fresh.reportLine();
    QVERIFY(freshLine.startsWith("{\"type\":\"agent\","));
    const QJsonObject empty = QJsonDocument::fromJson(freshLine, &error).object();
    QCOMPARE(error.error, QJsonParseError::NoError);
    QCOMPARE(empty.value("mac").toString(), QStringLiteral("98956046499841"));
    QCOMPARE(empty.value("mac_display").toString(), QStringLiteral("01:00:00:00:00:5A"));
    QCOMPARE(empty.value("ip").toString(), QStringLiteral("127.0.1.1"));
    QVERIFY(empty.value("group").isNull());
    QVERIFY(empty.value("lock").isNull());
    QCOMPARE(empty.value("registered").toBool(true), false);
    QCOMPARE(empty.value("lists").toArray(), QJsonArray({ QJsonArray(), QJsonArray(), QJsonArray() }));

    SimulatedAgent agent(io, Q_UINT64_C(0x5A0000000002), QStringLiteral("PC-\"2\"\\"), 0x7F000102u, schedule, counters);
    agent.joinGroup(Protocol::firstGroupAddress());
    agent.holdLock(0xF000000Au);
    Protocol::PolicyContent content;
    content.version = 0xFFFFFFFFu;
    content.lists = policyLists();
    const auto policy = std::make_shared<const HeldPolicy>(content);
    agent.holdPolicy(policy);
    agent.holdPolicy(policy);

    const QJsonObject line = QJsonDocument::fromJson(agent.reportLine(), &error).object();
    QCOMPARE(error.error, QJsonParseError::NoError);
    QCOMPARE(line.value("type").toString(), QStringLiteral("agent"));
    QCOMPARE(line.value("host").toString(), QStringLiteral("PC-\"2\"\\"));
    QCOMPARE(line.value("group").toString(), QStringLiteral("239.74.8.27"));
    QCOMPARE(line.value("lock").toString(), QStringLiteral("0xF000000A"));
    QCOMPARE(line.value("registered").toBool(), true);
    QCOMPARE(line.value("policy_version").toDouble(), 4294967295.0);
    QCOMPARE(line.value("lists").toArray(), listsJson(policyLists()));
    QCOMPARE(line.value("joins").toInt(), 1);
    QCOMPARE(line.value("locks").toInt(), 1);
    QCOMPARE(line.value("policies").toInt(), 2);
}

void TestAgentSim::helpListsEveryOption()
{
    QProcess help;
    help.start(QStringLiteral(ROK_AGENTSIM_PATH), { QStringLiteral("--help") });
    QVERIFY(help.waitForFinished(Patience));
    QCOMPARE(help.exitCode(), 0);
    const QString text = QString::fromLocal8Bit(help.readAllStandardOutput());
    const QStringList options { "--agents", "--console", "--heartbeat-ms", "--jitter-ms", "--policy-report-ms",
        "--silent", "--silent-after", "--return-after", "--duration", "--report-ms", "--summary-only", "--macs-from",
        "--host-prefix", "--address-base", "--group-interface" };
    for (const QString& option : options)
        QVERIFY2(text.contains(option), qPrintable(option));
    QVERIFY(text.contains(QStringLiteral("(default 40)")));
    QVERIFY(text.contains(QStringLiteral("own address")));

    QProcess bad;
    bad.start(QStringLiteral(ROK_AGENTSIM_PATH), { QStringLiteral("--heartbeat-ms"), QStringLiteral("0") });
    QVERIFY(bad.waitForFinished(Patience));
    QCOMPARE(bad.exitCode(), 2);
    QVERIFY(bad.readAllStandardError().contains("--heartbeat-ms"));
}

void TestAgentSim::agentsJoinGroupAndHoldLockAndLists()
{
    const uint32_t group = Protocol::firstGroupAddress();
    StandInConsole console([group](const QString&) { return group; });
    QVERIFY(console.open());
    GroupSender sender(console);
    sender.add(group, Protocol::buildLockState(LockWord));
    const QByteArray policy = Protocol::buildPolicy(PolicyVersion, policyLists());
    sender.add(group, policy);
    // A truncated policy must be counted and leave the held one alone.
    sender.add(group, policy.left(policy.size() - 2));

    SimulatorProcess simulator;
    simulator.start(fastAgents(4) << QStringLiteral("--policy-report-ms") << QStringLiteral("150"));
    QVERIFY(simulator.process().waitForStarted(Patience));

    const QJsonArray lists = listsJson(policyLists());
    const auto allHold = [&] {
        const QList<QJsonObject> agents = simulator.agents();
        if (agents.size() != 4)
            return false;
        for (const QJsonObject& agent : agents) {
            if (!holds(agent, QStringLiteral("239.74.8.27"), QStringLiteral("0xF0000302"))
                || agent.value("policy_version").toDouble() != PolicyVersion || agent.value("lists").toArray() != lists
                || !agent.value("registered").toBool())
                return false;
        }
        return true;
    };
    QTRY_VERIFY2_WITH_TIMEOUT(allHold(), describe(simulator).constData(), Patience);

    // The console sees four machines, each from its own address, and their
    // policy version reports come back with what they hold.
    const auto allReported = [&] {
        for (int number = 1; number <= 4; ++number) {
            if (console.agentByHost(host(number)).reportedVersion != PolicyVersion)
                return false;
        }
        return true;
    };
    QTRY_VERIFY_WITH_TIMEOUT(allReported(), Patience);
    const QHash<quint64, StandInConsole::Agent> seen = console.agents();
    QCOMPARE(seen.size(), 4);
    for (int number = 1; number <= 4; ++number) {
        const quint64 mac = SimulatorOptions::DefaultMacBase + quint64(number - 1);
        QVERIFY(seen.contains(mac));
        const StandInConsole::Agent& agent = seen[mac];
        QCOMPARE(agent.host, host(number));
        QCOMPARE(agent.address, QStringLiteral("127.0.1.%1").arg(number));
        QVERIFY(agent.registers >= 1);
        QVERIFY(agent.heartbeats >= 1);
        const QJsonObject reported = simulator.agent(host(number));
        QCOMPARE(reported.value("mac").toString(), QString::number(mac));
        QCOMPARE(reported.value("ip").toString(), agent.address);
    }

    QTRY_VERIFY_WITH_TIMEOUT(simulator.summary().value("malformed").toInt() > 0, Patience);
    QVERIFY(allHold());
    const QJsonObject summary = simulator.summary();
    QCOMPARE(summary.value("console").toString(), QStringLiteral("127.0.0.1:57851"));
    QCOMPARE(summary.value("joined").toInt(), 4);
    QCOMPARE(summary.value("with_policy").toInt(), 4);
    QCOMPARE(summary.value("send_errors").toInt(), 0);

    // SIGTERM ends the run cleanly, with a final report.
    simulator.process().terminate();
    QTRY_COMPARE_WITH_TIMEOUT(simulator.process().state(), QProcess::NotRunning, Patience);
    QCOMPARE(simulator.process().exitStatus(), QProcess::NormalExit);
    QCOMPARE(simulator.process().exitCode(), 0);
    QTRY_VERIFY(simulator.summary().value("final").toBool());
    QVERIFY2(simulator.badLines().isEmpty(), qPrintable(simulator.badLines().join('\n')));
}

void TestAgentSim::reregisterAndJoinReachOneAgent()
{
    const uint32_t first = Protocol::firstGroupAddress();
    const uint32_t second = Protocol::nextGroupAddress(first);
    StandInConsole console([first](const QString&) { return first; });
    QVERIFY(console.open());
    GroupSender sender(console);
    sender.add(first, Protocol::buildLockState(LockWord));
    sender.add(second, Protocol::buildLockState(0xF0000001u));

    SimulatorProcess simulator;
    simulator.start(fastAgents(3));
    const auto locked = [&](int number, const QString& group, const QString& lock) {
        return holds(simulator.agent(host(number)), group, lock);
    };
    QTRY_VERIFY2_WITH_TIMEOUT(locked(1, "239.74.8.27", "0xF0000302") && locked(2, "239.74.8.27", "0xF0000302")
            && locked(3, "239.74.8.27", "0xF0000302"),
        describe(simulator).constData(), Patience);

    // Each agent has its own address, so a reply reaches that agent alone.
    const StandInConsole::Agent one = console.agentByHost(host(1));
    const StandInConsole::Agent two = console.agentByHost(host(2));
    const StandInConsole::Agent three = console.agentByHost(host(3));
    QVERIFY(console.send(two.addressBytes, Protocol::buildReregister()));
    QVERIFY(console.send(three.addressBytes, Protocol::buildJoinGroup(second)));

    QTRY_COMPARE_WITH_TIMEOUT(console.agentByHost(host(2)).registers, two.registers + 1, Patience);
    QTRY_VERIFY2_WITH_TIMEOUT(locked(3, "239.74.8.28", "0xF0000001"), describe(simulator).constData(), Patience);
    QTRY_COMPARE_WITH_TIMEOUT(simulator.agent(host(2)).value("reregisters").toInt(), 1, Patience);
    QTRY_COMPARE_WITH_TIMEOUT(simulator.summary().value("groups").toInt(), 2, Patience);

    // Let the first agent beat a few more times: nobody else re-registered
    // or moved.
    const int beats = console.agentByHost(host(1)).heartbeats;
    QTRY_VERIFY_WITH_TIMEOUT(console.agentByHost(host(1)).heartbeats >= beats + 3, Patience);
    QCOMPARE(console.agentByHost(host(1)).registers, one.registers);
    QCOMPARE(console.agentByHost(host(2)).registers, two.registers + 1);
    QCOMPARE(console.agentByHost(host(3)).registers, three.registers);
    QVERIFY(locked(1, "239.74.8.27", "0xF0000302"));
    QVERIFY(locked(2, "239.74.8.27", "0xF0000302"));
    QCOMPARE(simulator.agent(host(2)).value("registered").toBool(), true);
    QCOMPARE(simulator.agent(host(1)).value("reregisters").toInt(), 0);
}

void TestAgentSim::silentAgentsStopAndReturn()
{
    const uint32_t group = Protocol::firstGroupAddress();
    StandInConsole console([group](const QString&) { return group; });
    QVERIFY(console.open());

    // Agents 1 and 2 are silent from 1 s to 3.5 s; the run ends by itself at 5 s.
    SimulatorProcess simulator;
    simulator.start(fastAgents(4) << QStringLiteral("--silent") << QStringLiteral("2")
                                  << QStringLiteral("--silent-after") << QStringLiteral("1")
                                  << QStringLiteral("--return-after") << QStringLiteral("2.5")
                                  << QStringLiteral("--duration") << QStringLiteral("5"));
    QTRY_COMPARE_WITH_TIMEOUT(simulator.process().state(), QProcess::NotRunning, Patience);
    QCOMPARE(simulator.process().exitCode(), 0);
    QTRY_VERIFY(simulator.summary().value("final").toBool());
    QVERIFY(simulator.summary().value("elapsed_ms").toInt() >= 5000);

    QVERIFY(simulator.wasSilent(host(1)));
    QVERIFY(simulator.wasSilent(host(2)));
    QVERIFY(!simulator.wasSilent(host(3)));
    QCOMPARE(simulator.summary().value("silent").toInt(), 0);

    // The longest pause in what the console heard from each agent: the
    // silent ones paused for the whole silence, the others never.
    const auto longestPause = [&](int number) {
        const QVector<qint64> arrivals = console.agentByHost(host(number)).arrivals;
        qint64 longest = 0;
        for (int i = 1; i < arrivals.size(); ++i)
            longest = qMax(longest, arrivals[i] - arrivals[i - 1]);
        return longest;
    };
    for (int number = 1; number <= 4; ++number) {
        const StandInConsole::Agent agent = console.agentByHost(host(number));
        const qint64 pause = longestPause(number);
        if (number <= 2) {
            QVERIFY2(pause >= 2400, qPrintable(QString::number(pause)));
            // They came back with heartbeats, not a new registration.
            QVERIFY(agent.arrivals.constLast() - agent.arrivals.constFirst() >= 3000);
        } else {
            QVERIFY2(pause < 1500, qPrintable(QString::number(pause)));
        }
        QCOMPARE(agent.registers, 1);
    }
}

void TestAgentSim::groupsBeyondOneSocketsLimit()
{
    // One group per agent, more than one socket may join on Linux (20).
    constexpr int Agents = 25;
    const auto groupOf = [](int number) { return Protocol::addressFromOctets(239, 74, 8, uint8_t(26 + number)); };
    StandInConsole console([groupOf](const QString& name) { return groupOf(name.rightRef(4).toInt()); });
    QVERIFY(console.open());
    GroupSender sender(console);
    for (int number = 1; number <= Agents; ++number)
        sender.add(groupOf(number), Protocol::buildLockState(0xF0000000u | uint32_t(number)));

    SimulatorProcess simulator;
    simulator.start(fastAgents(Agents));
    const auto eachHoldsItsOwn = [&] {
        for (int number = 1; number <= Agents; ++number) {
            const QString lock
                = QStringLiteral("0xF00000") + QStringLiteral("%1").arg(number, 2, 16, QLatin1Char('0')).toUpper();
            if (!holds(simulator.agent(host(number)), QStringLiteral("239.74.8.%1").arg(26 + number), lock))
                return false;
        }
        return true;
    };
    QTRY_VERIFY2_WITH_TIMEOUT(eachHoldsItsOwn(), describe(simulator).constData(), Patience);
    QCOMPARE(simulator.summary().value("groups").toInt(), Agents);
    QCOMPARE(simulator.summary().value("join_errors").toInt(), 0);
    // Each group's datagram reached its own agent only.
    for (int number = 1; number <= Agents; ++number)
        QVERIFY(simulator.agent(host(number)).value("locks").toInt() >= 1);
}

QTEST_GUILESS_MAIN(TestAgentSim)
#include "tst_agentsim.moc"
