#include "AgentSimulator.h"
#include "core/Protocol.h"
#include "HeldPolicy.h"
#include "SimulatedAgent.h"
#include "SimulatorOptions.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QtTest>
#include <memory>

namespace {

constexpr int Patience = 15000;

using Clock = SimulatedAgent::Clock;

Clock::time_point at(int ms)
{
    return Clock::time_point() + std::chrono::milliseconds(ms);
}

uint32_t hostOrder(const char* address)
{
    uint32_t value = 0;
    SimulatorOptions::parseAddress(QString::fromLatin1(address), value);
    return value;
}

// The protocol's form of a group address: network-order bytes.
uint32_t group(const char* address)
{
    return Protocol::addressFromText(QString::fromLatin1(address));
}

// The report's lines at `ms`: agents by host name, and the summary.
QHash<QString, QJsonObject> report(AgentSimulator& simulator, int ms)
{
    QHash<QString, QJsonObject> lines;
    for (const QByteArray& line : simulator.reportText(false, at(ms)).split('\n')) {
        const QJsonObject object = QJsonDocument::fromJson(line).object();
        const QString type = object.value(QStringLiteral("type")).toString();
        lines.insert(type == QLatin1String("agent") ? object.value(QStringLiteral("host")).toString() : type, object);
    }
    return lines;
}

} // namespace

class TestAgentSim : public QObject
{
    Q_OBJECT

private slots:
    void parsesDefaultsAndEveryOption();
    void rejectsBadOptions_data();
    void rejectsBadOptions();
    void agentAddresses_data();
    void agentAddresses();
    void macForms_data();
    void macForms();
    void reportLineIsEscapedJson();
    void unlockedTimeCountsOnlyTheConsolesWord();
    void helpListsEveryOption();
};

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

    const QStringList all = QStringLiteral("rok-agentsim -n 12345 --console 127.0.0.9:4000 --heartbeat-ms 250 "
                                           "--jitter-ms 124 --policy-report-ms 0 --silent 7 --silent-after 1.5 "
                                           "--return-after 2 --duration 30 --report-ms 0 --summary-only --macs-from "
                                           "0x0A0B0C0D0E0F --host-prefix 机房- --address-base 127.1.0.1 "
                                           "--group-interface 127.0.0.2")
                                .split(' ');
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

    // Silence without a count: 40 agents, for good; --silent alone: silent
    // from the start, a late arrival once it returns.
    QCOMPARE(SimulatorOptions::parse(
                 { QStringLiteral("x"), QStringLiteral("--silent-after"), QStringLiteral("3") }, options, message),
        SimulatorOptions::ParseResult::Run);
    QCOMPARE(options.effectiveSilentCount(), 40);
    QCOMPARE(options.returnAfterSeconds, -1.0);
    QCOMPARE(options.studentModes, 0u);
    QCOMPARE(SimulatorOptions::parse(
                 { QStringLiteral("x"), QStringLiteral("--silent"), QStringLiteral("3") }, options, message),
        SimulatorOptions::ParseResult::Run);
    QCOMPARE(options.effectiveSilentCount(), 3);
    QCOMPARE(options.silentAfterSeconds, 0.0);

    // The student: its defaults, then every option; modes add up over lists
    // and repeated options.
    QCOMPARE(
        SimulatorOptions::parse(
            { QStringLiteral("x"), QStringLiteral("--student"), QStringLiteral("foreign-lock") }, options, message),
        SimulatorOptions::ParseResult::Run);
    QCOMPARE(options.studentModes, unsigned(SimulatorOptions::ForeignLock));
    QCOMPARE(SimulatorOptions::addressText(options.studentAddress), QStringLiteral("127.0.0.99"));
    QCOMPARE(SimulatorOptions::addressText(options.escapeGroup), QStringLiteral("239.74.250.1"));
    QCOMPARE(options.studentAfterSeconds, 2.0);
    QCOMPARE(options.studentRate, 10);
    QCOMPARE(options.victim, 0);
    const QStringList student = QStringLiteral("x -n 300 --student join-escape,steal-heartbeat --student "
                                               "steal-register,rogue-beacon --student-address 127.0.9.9 "
                                               "--student-after 0.5 --escape-group 224.1.2.3 --student-rate 1000 "
                                               "--victim 299 --student race,unicast-lock --student-forge")
                                    .split(' ');
    QCOMPARE(SimulatorOptions::parse(student, options, message), SimulatorOptions::ParseResult::Run);
    QCOMPARE(options.studentModes,
        unsigned(SimulatorOptions::JoinEscape | SimulatorOptions::StealHeartbeat | SimulatorOptions::StealRegister
            | SimulatorOptions::RogueBeacon | SimulatorOptions::Race | SimulatorOptions::UnicastLock));
    QVERIFY(options.studentForges);
    QCOMPARE(SimulatorOptions::addressText(options.studentAddress), QStringLiteral("127.0.9.9"));
    QCOMPARE(options.studentAfterSeconds, 0.5);
    QCOMPARE(SimulatorOptions::addressText(options.escapeGroup), QStringLiteral("224.1.2.3"));
    QCOMPARE(options.studentRate, 1000);
    QCOMPARE(options.victim, 299);
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
    QTest::newRow("unknown student mode")
        << QStringList { "--student", "join-escape,lock-everyone" } << "lock-everyone";
    QTest::newRow("student on an agent's address")
        << QStringList { "--student", "steal-register", "--student-address", "127.0.1.40" } << "--student-address";
    QTest::newRow("escape group not multicast") << QStringList { "--escape-group", "10.0.0.1" } << "--escape-group";
    QTest::newRow("victim past the agents") << QStringList { "--agents", "4", "--victim", "4" } << "--victim";
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
    SimulatedAgent fresh(io, Q_UINT64_C(0x5A0000000001), QStringLiteral("PC-0001"), 0x7F000101u, schedule, counters);
    const QByteArray freshLine = fresh.reportLine(SimulatedAgent::Clock::time_point());
    QVERIFY(freshLine.startsWith("{\"type\":\"agent\","));
    const QJsonObject empty = QJsonDocument::fromJson(freshLine).object();
    QCOMPARE(empty.value("mac_display").toString(), QStringLiteral("01:00:00:00:00:5A"));
    QVERIFY(empty.value("group").isNull());
    QVERIFY(empty.value("lock").isNull());

    // Quotes and backslashes in the host name and the lists stay JSON.
    SimulatedAgent agent(io, Q_UINT64_C(0x5A0000000002), QStringLiteral("PC-\"2\"\\"), 0x7F000102u, schedule, counters);
    agent.joinGroup(Protocol::firstGroupAddress());
    agent.holdLock(0xF000000Au, SimulatedAgent::Clock::time_point());
    Protocol::PolicyContent content;
    content.version = 0xFFFFFFFFu;
    content.lists = { QStringList { QStringLiteral("^微信$"), QStringLiteral("notepad.*") },
        QStringList { QStringLiteral("守护\"引号\"\\服务") }, QStringList { QStringLiteral("C:\\Rok\\agent.exe") } };
    const auto policy = std::make_shared<const HeldPolicy>(content);
    agent.holdPolicy(policy);
    agent.holdPolicy(policy);

    QJsonParseError error {};
    const QJsonObject line
        = QJsonDocument::fromJson(agent.reportLine(SimulatedAgent::Clock::time_point()), &error).object();
    QCOMPARE(error.error, QJsonParseError::NoError);
    QCOMPARE(line.value("host").toString(), QStringLiteral("PC-\"2\"\\"));
    QCOMPARE(line.value("group").toString(), QStringLiteral("239.74.8.27"));
    QCOMPARE(line.value("lock").toString(), QStringLiteral("0xF000000A"));
    QCOMPARE(line.value("policy_version").toDouble(), 4294967295.0);
    QCOMPARE(line.value("lists").toArray(),
        QJsonArray({ QJsonArray { "^微信$", "notepad.*" }, QJsonArray { "守护\"引号\"\\服务" },
            QJsonArray { "C:\\Rok\\agent.exe" } }));
    QCOMPARE(line.value("policies").toInt(), 2);
}

void TestAgentSim::unlockedTimeCountsOnlyTheConsolesWord()
{
    // Real multicast memberships: only inside the namespace.
    if (qgetenv("ROK_NETNS_ISOLATED") != "1")
        QSKIP("joins multicast groups only inside the isolated network namespace");

    SimulatorOptions options;
    QString message;
    QCOMPARE(SimulatorOptions::parse(
                 QStringLiteral("x -n 3 --console 127.0.0.1 --student join-escape --report-ms 0").split(' '), options,
                 message),
        SimulatorOptions::ParseResult::Run);
    AgentSimulator simulator(options);
    QString error;
    QVERIFY2(simulator.open(error), qPrintable(error));

    const asio::ip::udp::endpoint console(asio::ip::make_address_v4("127.0.0.1"), Protocol::ConsolePort);
    // The student, and the console's address from another port.
    const asio::ip::udp::endpoint student(asio::ip::make_address_v4("127.0.0.99"), 40000);
    const asio::ip::udp::endpoint consoleHost(asio::ip::make_address_v4("127.0.0.1"), 40001);
    const uint32_t broadcast = 0xFFFFFFFFu;
    const QByteArray toA = Protocol::buildJoinGroup(group("239.74.8.27"));
    const QByteArray locked = Protocol::buildLockState(0xF0000002u);
    const QByteArray unlocked = Protocol::buildLockState(0xF0000000u);

    // The console puts PC-0001 and PC-0002 in A and locks it, PC-0003 in B,
    // unlocked: nothing counts yet.
    simulator.handleUnicast(0, toA, console, at(0));
    simulator.handleUnicast(1, toA, console, at(0));
    simulator.handleUnicast(2, Protocol::buildJoinGroup(group("239.74.8.28")), console, at(0));
    simulator.handleShared(locked, console, hostOrder("239.74.8.27"), at(0));
    simulator.handleShared(unlocked, console, hostOrder("239.74.8.28"), at(0));
    QHash<QString, QJsonObject> lines = report(simulator, 1000);
    QCOMPARE(lines.value("PC-0001").value("consoleGroup").toString(), QStringLiteral("239.74.8.27"));
    QCOMPARE(lines.value("PC-0001").value("unlockedMs").toInt(), 0);
    QVERIFY(lines.value("summary").value("rejoinMs").isNull());

    // A foreign unlock on A's address reaches A's agents, until the
    // console's next word 300 ms later; the same on B, which the console
    // leaves unlocked, costs nothing.
    simulator.handleShared(unlocked, student, hostOrder("239.74.8.27"), at(1000));
    simulator.handleShared(unlocked, student, hostOrder("239.74.8.28"), at(1000));
    lines = report(simulator, 1100);
    QCOMPARE(lines.value("PC-0002").value("lock").toString(), QStringLiteral("0xF0000000"));
    QCOMPARE(lines.value("PC-0002").value("unlockedMs").toInt(), 100);
    simulator.handleShared(locked, console, hostOrder("239.74.8.27"), at(1300));

    // A join broadcast by anyone moves every agent, and the escape group's
    // unlock reaches them there; the console still wants A locked, and
    // words on A from others (even from its host) do not change that.
    simulator.handleShared(Protocol::buildJoinGroup(group("239.74.250.1")), student, broadcast, at(2000));
    simulator.handleShared(unlocked, student, hostOrder("239.74.250.1"), at(2050));
    simulator.handleShared(unlocked, consoleHost, hostOrder("239.74.8.27"), at(2100));
    simulator.handleShared(locked, console, hostOrder("239.74.8.27"), at(2600));
    lines = report(simulator, 2800);
    QCOMPARE(lines.value("PC-0001").value("group").toString(), QStringLiteral("239.74.250.1"));
    QCOMPARE(lines.value("PC-0001").value("consoleGroup").toString(), QStringLiteral("239.74.8.27"));
    QCOMPARE(lines.value("PC-0001").value("unlockedMs").toInt(), 300 + 750);
    QCOMPARE(lines.value("PC-0003").value("unlockedMs").toInt(), 0);
    QCOMPARE(lines.value("summary").value("rejoinMs").toInt(), -1);

    // The console takes PC-0001 back and relocks it; PC-0002 stays out
    // until the teacher unlocks A; PC-0003 returns last.
    simulator.handleUnicast(0, toA, console, at(3000));
    simulator.handleShared(locked, console, hostOrder("239.74.8.27"), at(3100));
    lines = report(simulator, 3500);
    QCOMPARE(lines.value("PC-0001").value("lock").toString(), QStringLiteral("0xF0000002"));
    QCOMPARE(lines.value("PC-0001").value("unlockedMs").toInt(), 300 + 1050);
    QCOMPARE(lines.value("PC-0002").value("unlockedMs").toInt(), 300 + 1450);
    QCOMPARE(lines.value("summary").value("unlockedMsTotal").toInt(), 1350 + 1750);
    QCOMPARE(lines.value("summary").value("unlockedMsMax").toInt(), 1750);
    simulator.handleUnicast(1, toA, console, at(3600));
    simulator.handleShared(unlocked, console, hostOrder("239.74.8.27"), at(3700));
    QCOMPARE(report(simulator, 3750).value("summary").value("rejoinMs").toInt(), -1);
    simulator.handleUnicast(2, Protocol::buildJoinGroup(group("239.74.8.28")), console, at(3800));
    lines = report(simulator, 5000);
    QCOMPARE(lines.value("PC-0002").value("unlockedMs").toInt(), 300 + 1650);
    QCOMPARE(lines.value("summary").value("unlockedMsMax").toInt(), 1950);
    QCOMPARE(lines.value("summary").value("rejoinMs").toInt(), 1800);
    QCOMPARE(lines.value("summary").value("join_errors").toInt(), 0);
}

void TestAgentSim::helpListsEveryOption()
{
    QProcess help;
    help.start(QStringLiteral(ROK_AGENTSIM_PATH), { QStringLiteral("--help") });
    QVERIFY(help.waitForFinished(Patience));
    QCOMPARE(help.exitCode(), 0);
    const QString text = QString::fromLocal8Bit(help.readAllStandardOutput());
    for (const char* option : { "--agents", "--console", "--heartbeat-ms", "--jitter-ms", "--policy-report-ms",
             "--silent", "--silent-after", "--return-after", "--duration", "--report-ms", "--summary-only",
             "--macs-from", "--host-prefix", "--address-base", "--group-interface", "--student", "--student-address",
             "--student-after", "--escape-group", "--student-rate", "--student-forge", "--victim", "(default 40)" })
        QVERIFY2(text.contains(QLatin1String(option)), option);

    QProcess bad;
    bad.start(QStringLiteral(ROK_AGENTSIM_PATH), { QStringLiteral("--heartbeat-ms"), QStringLiteral("0") });
    QVERIFY(bad.waitForFinished(Patience));
    QCOMPARE(bad.exitCode(), 2);
    QVERIFY(bad.readAllStandardError().contains("--heartbeat-ms"));
}

QTEST_GUILESS_MAIN(TestAgentSim)
#include "tst_agentsim.moc"
