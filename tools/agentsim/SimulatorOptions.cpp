#include "SimulatorOptions.h"

#include "core/Protocol.h"
#include "model/MacAddress.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QHash>
#include <QRegularExpression>
#include <QTextCodec>
#include <cmath>
#include <limits>

namespace {

const char* const Description = R"(Plays student computers (agents) against the teacher's console over its UDP
protocol, and prints what every agent holds as JSON lines.

Each agent waits for the console (its beacon to 255.255.255.255:57852, or
--console), sends MSG_STU_REGISTER with its host name and repeats it every
heartbeat period until a MSG_ADMIN_JOIN_GROUP answers; from then on it sends
MSG_STU_HEARTBEAT every period and MSG_STU_POLICY_VERSION with the version
of the policy it holds. MSG_ADMIN_REREGISTER makes it register again at once.
It joins the multicast group each MSG_ADMIN_JOIN_GROUP names and keeps the
last MSG_ADMIN_LOCK_STATE and MSG_ADMIN_POLICY it received; malformed
datagrams are counted and otherwise ignored. A silent agent is unplugged: it
neither sends nor takes in anything until it returns, and then goes on where
it stopped (it registers again only when the console asks).

Why every agent has its own address: the console answers an agent at the
address its datagram came from, and MSG_ADMIN_JOIN_GROUP carries no MAC, so
agents sharing one address could not be told apart. Agent i therefore owns
the loopback address --address-base + i (last octets .0 and .255 skipped)
and a UDP socket bound to it at port 57852; the system hands a unicast
datagram to the socket bound to its exact destination address. One more
socket, bound to 0.0.0.0:57852, hears the beacon and the group multicasts
and passes each multicast to the agents told that group. Every address in
127.0.0.0/8 is local only on Linux; run the simulator inside an isolated
network namespace (scripts/netns), never on a lab network.

Output, every --report-ms and once more at exit, one JSON object per line:
  {"type":"agent","mac":"<decimal key>","mac_display":"01:00:00:00:00:5A",
   "host":"PC-0001","ip":"127.0.1.1","registered":true,"silent":false,
   "group":"239.74.8.27" or null,"consoleGroup":"239.74.8.27" or null,
   "lock":"0xF0000302" or null,"unlockedMs":n,
   "policy_version":<uint32, 0 = none>,"lists":[[...],[...],[...]],
   "joins":n,"locks":n,"policies":n,"reregisters":n,"sent":n}
for each agent (left out with --summary-only), then
  {"type":"summary","final":false,"elapsed_ms":n,"console":"a.b.c.d:port"
   or null,"agents":n,"registered":n,"silent":n,"joined":n,"locked":n,
   "with_policy":n,"groups":n,"sent":n,"send_errors":n,"registers":n,
   "heartbeats":n,"policy_reports":n,"received":n,"malformed":n,
   "ignored":n,"beacons":n,"reregisters":n,"join_errors":n,
   "consoleJoins":n,"unlockedMsTotal":n,"unlockedMsMax":n}
"registered" means a MSG_ADMIN_JOIN_GROUP answered the last registration.
"consoleJoins" counts the MSG_ADMIN_JOIN_GROUP datagrams from the console.
"group" is where the agent is; "consoleGroup" where the console itself
(datagrams from its address and port) last put it. "unlockedMs" is how long
the agent, not silent, held an unlocked word (lock type 0, or none) while
the console's own last word for its consoleGroup had a lock type.

The agents take any console datagram from anyone, as real agents do: a
join broadcast by anyone moves every agent, and a lock or policy on a group
address reaches that group. --student adds a misbehaving student who uses
that, from its own socket at --student-address (an ephemeral port),
starting --student-after seconds in, once the console is known:
  join-escape      broadcasts one join to --escape-group, then every 500 ms
                   (from 50 ms on) sends that group the word 0xF0000000
  foreign-lock     sends 0xF0000000 to every group the console gave an
                   agent, --student-rate times a second each
  steal-heartbeat  sends the console heartbeats with agent --victim's MAC
                   every 500 ms
  steal-register   registers agent --victim's MAC as host STUDENT every 1 s
  rogue-beacon     broadcasts a second console's beacon every 500 ms
  broadcast-lock   sends 0xF0000000 to 255.255.255.255, --student-rate
                   times a second
  repeat-join      broadcasts a join to --escape-group and, half a period
                   later, sends that group 0xF0000000, --student-rate times
                   a second each
  race             answers each of the console's lock words on a group it
                   gave an agent with 0xF0000000 there at once, at most
                   --student-rate times a second
  unicast-lock     sends 0xF0000000 to every agent's own address,
                   --student-rate times a second each
With --student-forge every datagram of the student bears the console's
address and port (a raw socket: Linux, and root or scripts/netns); with
--student-made-up each bears a source address of its own, 127.200.0.0/16 in
turn (the same raw socket).
The summary then adds "studentSent":n, "studentBytes":n (payload bytes)
and, for join-escape,
"rejoinMs": from the escape join until every agent not silent was back in
its consoleGroup; -1 while one is out, null before the escape.

With --silence-events, at the moment agents fall silent and when they
return, one line per agent (times in microseconds of the monotonic clock,
CLOCK_MONOTONIC on Linux, as steady clocks of other processes read it):
  {"type":"silence","mac":"<decimal key>","last_sent_us":n or null,"at_us":n}
  {"type":"return","mac":"<decimal key>","at_us":n}
and, with each report, for every agent that went 1.4 s or longer between
two of its datagrams outside a silence (the simulator fell behind):
  {"type":"late","mac":"<decimal key>","gap_ms":n}

Exit status: 0 after --duration or SIGINT/SIGTERM, 1 when the network
refuses a socket, 2 for bad options.)";

bool readInt(const QString& text, int minimum, int maximum, int& value)
{
    bool ok = false;
    const int parsed = text.toInt(&ok);
    if (!ok || parsed < minimum || parsed > maximum)
        return false;
    value = parsed;
    return true;
}

bool readSeconds(const QString& text, double& value)
{
    bool ok = false;
    const double parsed = text.toDouble(&ok);
    // Beyond a year a steady_timer deadline stops meaning anything useful.
    if (!ok || !std::isfinite(parsed) || parsed < 0 || parsed > 366.0 * 24 * 3600)
        return false;
    value = parsed;
    return true;
}

} // namespace

SimulatorOptions::ParseResult SimulatorOptions::parse(
    const QStringList& arguments, SimulatorOptions& options, QString& message)
{
    const SimulatorOptions defaults;
    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromUtf8(Description));
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption help(
        QStringList { QStringLiteral("h"), QStringLiteral("help") }, QStringLiteral("Show this help and exit."));
    const QCommandLineOption agents(QStringList { QStringLiteral("n"), QStringLiteral("agents") },
        QStringLiteral("Number of agents, 1 to %1 (default %2).").arg(MaxAgents).arg(DefaultAgents),
        QStringLiteral("N"));
    const QCommandLineOption console(QStringLiteral("console"),
        QStringLiteral("The console's address, port %1 unless given (default: none, "
                       "wait for its beacon on port %2).")
            .arg(Protocol::ConsolePort)
            .arg(Protocol::AgentPort),
        QStringLiteral("ADDR[:PORT]"));
    const QCommandLineOption heartbeat(QStringLiteral("heartbeat-ms"),
        QStringLiteral("Heartbeat period of every agent; the agents' phases are "
                       "spread evenly over it (default %1).")
            .arg(defaults.heartbeatMs),
        QStringLiteral("MS"));
    const QCommandLineOption jitter(QStringLiteral("jitter-ms"),
        QStringLiteral("Random shift of each heartbeat, up to this much either way, "
                       "below half the period (default %1).")
            .arg(defaults.jitterMs),
        QStringLiteral("MS"));
    const QCommandLineOption policyReport(QStringLiteral("policy-report-ms"),
        QStringLiteral("Period of MSG_STU_POLICY_VERSION from each registered "
                       "agent; 0 = never (default %1).")
            .arg(defaults.policyReportMs),
        QStringLiteral("MS"));
    const QCommandLineOption silent(QStringLiteral("silent"),
        QStringLiteral("How many agents fall silent, the first ones (default: all, "
                       "when --silent-after is given)."),
        QStringLiteral("N"));
    const QCommandLineOption silentAfter(QStringLiteral("silent-after"),
        QStringLiteral("Seconds from the start until those agents fall silent "
                       "(default: never; 0 when only --silent is given)."),
        QStringLiteral("SECONDS"));
    const QCommandLineOption returnAfter(QStringLiteral("return-after"),
        QStringLiteral("Seconds the silent agents stay silent before they "
                       "heartbeat again (default: they never return)."),
        QStringLiteral("SECONDS"));
    const QCommandLineOption duration(QStringLiteral("duration"),
        QStringLiteral("Seconds to run; 0 = until SIGINT or SIGTERM (default 0)."), QStringLiteral("SECONDS"));
    const QCommandLineOption report(QStringLiteral("report-ms"),
        QStringLiteral("Period of the JSON report; 0 = only at exit (default %1).").arg(defaults.reportMs),
        QStringLiteral("MS"));
    const QCommandLineOption summaryOnly(
        QStringLiteral("summary-only"), QStringLiteral("Print only the summary lines, no line per agent."));
    const QCommandLineOption silenceEvents(QStringLiteral("silence-events"),
        QStringLiteral("Print a line for each agent when it falls silent (with the "
                       "time of its last datagram) and when it returns."));
    const QCommandLineOption macsFrom(QStringLiteral("macs-from"),
        QStringLiteral("MAC key of the first agent, then BASE + 1 and so on. Hex with "
                       "0x, decimal, or the display form (default 0x%1 = %2).")
            .arg(QStringLiteral("%1").arg(DefaultMacBase, 12, 16, QLatin1Char('0')).toUpper())
            .arg(MacAddress::toDisplay(DefaultMacBase)),
        QStringLiteral("BASE"));
    const QCommandLineOption hostPrefix(QStringLiteral("host-prefix"),
        QStringLiteral("Host names are this prefix and the agent's number from 1, "
                       "at least 4 digits (default %1).")
            .arg(defaults.hostPrefix),
        QStringLiteral("TEXT"));
    const QCommandLineOption codePage(QStringLiteral("code-page"),
        QStringLiteral("Code page of the texts on the wire, as on a Windows PC of that "
                       "locale, e.g. GBK (default: this system's)."),
        QStringLiteral("NAME"));
    const QCommandLineOption addressBase(QStringLiteral("address-base"),
        QStringLiteral("Loopback address of the first agent, in 127.0.0.0/8 "
                       "(default %1).")
            .arg(addressText(DefaultAddressBase)),
        QStringLiteral("ADDR"));
    const QCommandLineOption groupInterface(QStringLiteral("group-interface"),
        QStringLiteral("Address of the interface on which the multicast groups "
                       "are joined (default %1).")
            .arg(addressText(DefaultGroupInterface)),
        QStringLiteral("ADDR"));
    const QCommandLineOption student(QStringLiteral("student"),
        QStringLiteral("A misbehaving student on the lab network, doing each of: "
                       "join-escape, foreign-lock, steal-heartbeat, steal-register, "
                       "rogue-beacon, broadcast-lock, repeat-join, race, unicast-lock (default: none)."),
        QStringLiteral("MODE[,MODE...]"));
    const QCommandLineOption studentAddress(QStringLiteral("student-address"),
        QStringLiteral("The student's own address, in 127.0.0.0/8 and no agent's "
                       "(default %1).")
            .arg(addressText(DefaultStudentAddress)),
        QStringLiteral("ADDR"));
    const QCommandLineOption studentAfter(QStringLiteral("student-after"),
        QStringLiteral("Seconds from the start until the student begins, and not "
                       "before the console is known (default %1).")
            .arg(defaults.studentAfterSeconds),
        QStringLiteral("SECONDS"));
    const QCommandLineOption escapeGroup(QStringLiteral("escape-group"),
        QStringLiteral("The multicast group join-escape moves the agents to "
                       "(default %1).")
            .arg(addressText(DefaultEscapeGroup)),
        QStringLiteral("ADDR"));
    const QCommandLineOption studentRate(QStringLiteral("student-rate"),
        QStringLiteral("foreign-lock datagrams per second to each group (and the rate of "
                       "broadcast-lock, repeat-join, race and unicast-lock), 1 to 1000 (default %1).")
            .arg(defaults.studentRate),
        QStringLiteral("N"));
    const QCommandLineOption studentForge(QStringLiteral("student-forge"),
        QStringLiteral("The student's datagrams bear the console's address and port."));
    const QCommandLineOption studentMadeUp(QStringLiteral("student-made-up"),
        QStringLiteral("Each of the student's datagrams bears a made-up source address of its own."));
    const QCommandLineOption victim(QStringLiteral("victim"),
        QStringLiteral("The agent, from 0, whose MAC steal-heartbeat and steal-register "
                       "use (default %1).")
            .arg(defaults.victim),
        QStringLiteral("I"));
    parser.addOptions({ help, agents, console, heartbeat, jitter, policyReport, silent, silentAfter, returnAfter,
        duration, report, summaryOnly, silenceEvents, macsFrom, hostPrefix, codePage, addressBase, groupInterface,
        student, studentAddress, studentAfter, escapeGroup, studentRate, studentForge, studentMadeUp, victim });

    if (!parser.parse(arguments)) {
        message = parser.errorText();
        return ParseResult::Error;
    }
    if (parser.isSet(help)) {
        message = parser.helpText();
        return ParseResult::Help;
    }
    if (!parser.positionalArguments().isEmpty()) {
        message = QStringLiteral("unexpected argument: %1").arg(parser.positionalArguments().constFirst());
        return ParseResult::Error;
    }

    SimulatorOptions parsed;
    const auto fail = [&message](const QCommandLineOption& option, const QString& why) {
        message = QStringLiteral("--%1: %2").arg(option.names().constLast(), why);
        return ParseResult::Error;
    };
    constexpr int MaxMs = 24 * 3600 * 1000;

    if (parser.isSet(agents) && !readInt(parser.value(agents), 1, MaxAgents, parsed.agents))
        return fail(agents, QStringLiteral("expected a number from 1 to %1").arg(MaxAgents));
    if (parser.isSet(console)) {
        const QString text = parser.value(console);
        const int colon = text.indexOf(QLatin1Char(':'));
        int port = Protocol::ConsolePort;
        if (colon >= 0 && !readInt(text.mid(colon + 1), 1, 65535, port))
            return fail(console, QStringLiteral("bad port in \"%1\"").arg(text));
        if (!parseAddress(text.left(colon), parsed.consoleAddress) || parsed.consoleAddress == 0)
            return fail(console, QStringLiteral("expected an IPv4 address, not \"%1\"").arg(text));
        parsed.consolePort = static_cast<uint16_t>(port);
    }
    if (parser.isSet(heartbeat) && !readInt(parser.value(heartbeat), 1, MaxMs, parsed.heartbeatMs))
        return fail(heartbeat, QStringLiteral("expected milliseconds from 1 to %1").arg(MaxMs));
    if (parser.isSet(jitter) && !readInt(parser.value(jitter), 0, (parsed.heartbeatMs - 1) / 2, parsed.jitterMs))
        return fail(jitter,
            QStringLiteral("expected 0 to %1 (below half the heartbeat period)").arg((parsed.heartbeatMs - 1) / 2));
    if (parser.isSet(policyReport) && !readInt(parser.value(policyReport), 0, MaxMs, parsed.policyReportMs))
        return fail(policyReport, QStringLiteral("expected milliseconds from 0 to %1").arg(MaxMs));
    if (parser.isSet(silent) && !readInt(parser.value(silent), 0, parsed.agents, parsed.silentCount))
        return fail(silent, QStringLiteral("expected 0 to %1 (the number of agents)").arg(parsed.agents));
    if (parser.isSet(silentAfter) && !readSeconds(parser.value(silentAfter), parsed.silentAfterSeconds))
        return fail(silentAfter, QStringLiteral("expected seconds, 0 or more"));
    if (parser.isSet(silent) && !parser.isSet(silentAfter))
        parsed.silentAfterSeconds = 0;
    if (parser.isSet(returnAfter)) {
        if (!readSeconds(parser.value(returnAfter), parsed.returnAfterSeconds))
            return fail(returnAfter, QStringLiteral("expected seconds, 0 or more"));
        if (parsed.silentAfterSeconds < 0)
            return fail(returnAfter, QStringLiteral("needs --silent or --silent-after"));
    }
    if (parser.isSet(duration) && !readSeconds(parser.value(duration), parsed.durationSeconds))
        return fail(duration, QStringLiteral("expected seconds, 0 or more"));
    if (parser.isSet(report) && !readInt(parser.value(report), 0, MaxMs, parsed.reportMs))
        return fail(report, QStringLiteral("expected milliseconds from 0 to %1").arg(MaxMs));
    parsed.summaryOnly = parser.isSet(summaryOnly);
    parsed.silenceEvents = parser.isSet(silenceEvents);
    if (parser.isSet(macsFrom)) {
        if (!parseMac(parser.value(macsFrom), parsed.macBase) || parsed.macBase == 0)
            return fail(
                macsFrom, QStringLiteral("expected a MAC key other than 0, not \"%1\"").arg(parser.value(macsFrom)));
    }
    if (parsed.macBase > std::numeric_limits<uint64_t>::max() - static_cast<uint64_t>(parsed.agents - 1))
        return fail(macsFrom, QStringLiteral("the last agent's key would overflow 64 bits"));
    if (parser.isSet(hostPrefix))
        parsed.hostPrefix = parser.value(hostPrefix);
    if (parser.isSet(codePage)) {
        parsed.codePage = parser.value(codePage).toLatin1();
        if (!QTextCodec::codecForName(parsed.codePage))
            return fail(codePage, QStringLiteral("unknown code page \"%1\"").arg(parser.value(codePage)));
    }
    if (parser.isSet(addressBase)) {
        if (!parseAddress(parser.value(addressBase), parsed.addressBase) || (parsed.addressBase >> 24) != 127)
            return fail(addressBase,
                QStringLiteral("expected an address in 127.0.0.0/8, not \"%1\"").arg(parser.value(addressBase)));
    }
    const uint32_t last = parsed.agentAddress(parsed.agents - 1);
    if ((last >> 24) != 127 || last == 0x7FFFFFFFu)
        return fail(addressBase,
            QStringLiteral("%1 agents from %2 run past 127.255.255.254")
                .arg(parsed.agents)
                .arg(addressText(parsed.addressBase)));
    if (parser.isSet(groupInterface) && !parseAddress(parser.value(groupInterface), parsed.groupInterface))
        return fail(
            groupInterface, QStringLiteral("expected an IPv4 address, not \"%1\"").arg(parser.value(groupInterface)));
    if (parser.isSet(student)) {
        static const QHash<QString, StudentMode> modes {
            { QStringLiteral("join-escape"), JoinEscape },
            { QStringLiteral("foreign-lock"), ForeignLock },
            { QStringLiteral("steal-heartbeat"), StealHeartbeat },
            { QStringLiteral("steal-register"), StealRegister },
            { QStringLiteral("rogue-beacon"), RogueBeacon },
            { QStringLiteral("broadcast-lock"), BroadcastLock },
            { QStringLiteral("repeat-join"), RepeatJoin },
            { QStringLiteral("race"), Race },
            { QStringLiteral("unicast-lock"), UnicastLock },
        };
        // Repeated --student options add up.
        for (const QString& list : parser.values(student)) {
            for (const QString& name : list.split(QLatin1Char(','))) {
                const auto it = modes.constFind(name.trimmed());
                if (it == modes.constEnd())
                    return fail(student,
                        QStringLiteral("unknown mode \"%1\" (expected join-escape, foreign-lock, steal-heartbeat, "
                                       "steal-register, rogue-beacon, broadcast-lock, repeat-join, race or "
                                       "unicast-lock)")
                            .arg(name));
                parsed.studentModes |= it.value();
            }
        }
    }
    if (parser.isSet(studentAddress)) {
        if (!parseAddress(parser.value(studentAddress), parsed.studentAddress) || (parsed.studentAddress >> 24) != 127)
            return fail(studentAddress,
                QStringLiteral("expected an address in 127.0.0.0/8, not \"%1\"").arg(parser.value(studentAddress)));
    }
    // The console answers a registration at its source address: on an
    // agent's address that answer would reach the agent.
    if (parsed.studentModes != 0 && parsed.isAgentAddress(parsed.studentAddress))
        return fail(studentAddress, QStringLiteral("%1 is an agent's address").arg(addressText(parsed.studentAddress)));
    if (parser.isSet(studentAfter) && !readSeconds(parser.value(studentAfter), parsed.studentAfterSeconds))
        return fail(studentAfter, QStringLiteral("expected seconds, 0 or more"));
    if (parser.isSet(escapeGroup)) {
        if (!parseAddress(parser.value(escapeGroup), parsed.escapeGroup) || (parsed.escapeGroup >> 28) != 0xE)
            return fail(
                escapeGroup, QStringLiteral("expected a multicast address, not \"%1\"").arg(parser.value(escapeGroup)));
    }
    if (parser.isSet(studentRate) && !readInt(parser.value(studentRate), 1, 1000, parsed.studentRate))
        return fail(studentRate, QStringLiteral("expected 1 to 1000"));
    parsed.studentForges = parser.isSet(studentForge);
    parsed.studentMadeUp = parser.isSet(studentMadeUp);
    if (parser.isSet(victim) && !readInt(parser.value(victim), 0, parsed.agents - 1, parsed.victim))
        return fail(victim, QStringLiteral("expected 0 to %1 (an agent's index)").arg(parsed.agents - 1));

    options = parsed;
    return ParseResult::Run;
}

uint32_t SimulatorOptions::agentAddress(uint32_t base, int index)
{
    uint64_t high = base >> 8;
    uint32_t low = base & 0xFFu;
    if (low == 0) {
        low = 1;
    } else if (low == 255) {
        ++high;
        low = 1;
    }
    const uint64_t position = (low - 1) + static_cast<uint64_t>(index);
    high += position / 254;
    const uint64_t address = (high << 8) | (position % 254 + 1);
    // Past 255.255.255.254 there is nothing; callers check the range.
    return address > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<uint32_t>(address);
}

QString SimulatorOptions::agentHostName(int index) const
{
    const int width = qMax(4, static_cast<int>(QString::number(agents).size()));
    return hostPrefix + QStringLiteral("%1").arg(index + 1, width, 10, QLatin1Char('0'));
}

int SimulatorOptions::effectiveSilentCount() const
{
    if (silentAfterSeconds < 0)
        return 0;
    return silentCount < 0 ? agents : qMin(silentCount, agents);
}

bool SimulatorOptions::isAgentAddress(uint32_t address) const
{
    // Agents count up through every address but the .0 and .255 ones.
    const uint32_t low = address & 0xFFu;
    return low != 0 && low != 255 && address >= agentAddress(0) && address <= agentAddress(agents - 1);
}

bool SimulatorOptions::parseAddress(const QString& text, uint32_t& address)
{
    const QStringList parts = text.split(QLatin1Char('.'));
    if (parts.size() != 4)
        return false;
    uint32_t value = 0;
    for (const QString& part : parts) {
        int octet = 0;
        // toInt would take "+1" and " 1"; an address has digits only.
        if (part.isEmpty() || part.size() > 3)
            return false;
        for (const QChar ch : part) {
            if (ch < QLatin1Char('0') || ch > QLatin1Char('9'))
                return false;
        }
        if (!readInt(part, 0, 255, octet))
            return false;
        value = (value << 8) | static_cast<uint32_t>(octet);
    }
    address = value;
    return true;
}

bool SimulatorOptions::parseMac(const QString& text, uint64_t& mac)
{
    static const QRegularExpression display(QStringLiteral("^([0-9A-Fa-f]{2})([:-][0-9A-Fa-f]{2}){5}$"));
    static const QRegularExpression hex(QStringLiteral("^0[xX][0-9A-Fa-f]{1,16}$"));
    static const QRegularExpression decimal(QStringLiteral("^[0-9]{1,20}$"));
    bool ok = false;
    uint64_t value = 0;
    if (display.match(text).hasMatch()) {
        const QStringList parts = text.split(QRegularExpression(QStringLiteral("[:-]")));
        for (int i = 0; i < parts.size(); ++i)
            value |= static_cast<uint64_t>(parts.at(i).toUInt(&ok, 16)) << (8 * i);
        ok = true;
    } else if (hex.match(text).hasMatch()) {
        value = text.mid(2).toULongLong(&ok, 16);
    } else if (decimal.match(text).hasMatch()) {
        // false beyond 2^64 - 1
        value = text.toULongLong(&ok, 10);
    }
    if (!ok)
        return false;
    mac = value;
    return true;
}

QString SimulatorOptions::addressText(uint32_t address)
{
    return QStringLiteral("%1.%2.%3.%4")
        .arg(address >> 24)
        .arg((address >> 16) & 0xFFu)
        .arg((address >> 8) & 0xFFu)
        .arg(address & 0xFFu);
}
