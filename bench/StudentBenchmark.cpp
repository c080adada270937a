#include "StudentBenchmark.h"

#include "core/Protocol.h"
#include "EventLoopProbe.h"
#include "EventWait.h"
#include "GroupCapture.h"
#include "LabSeed.h"
#include "model/Rok_Lock_State.h"
#include "pages/QStudentGroupWidget.h"
#include "Percentiles.h"
#include "ProcessUsage.h"
#include "RokVtxAdmin.h"
#include "SimulatorRun.h"
#include "storage/EventLogStore.h"

#include <QHash>
#include <QJsonArray>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <cstdio>
#include <memory>
#include <vector>

namespace {

// The student's word: lock type 0.
constexpr uint32_t StudentWord = 0xF0000000u;
// Seconds from the simulator's start to the attack: every agent has
// registered, joined and taken the room's lock word by then.
constexpr int AttackAfterS = 8;
// The console's normal output is measured over this much before the attack.
constexpr int BaselineS = 4;
// The simulator's escape group.
const char* const EscapeGroup = "239.74.250.1";

struct Attack
{
    QString name;
    QStringList arguments;
    bool rated = true;
};

// Every attack the student run knows: what the console can see, and the
// unicast words it cannot.
const QList<Attack>& attacks()
{
    static const QList<Attack> list {
        { QStringLiteral("foreign-lock"), { QStringLiteral("--student"), QStringLiteral("foreign-lock") } },
        { QStringLiteral("forged-lock"),
            { QStringLiteral("--student"), QStringLiteral("foreign-lock"), QStringLiteral("--student-forge") } },
        // Every word from a source of its own: the "安全" rows stay within
        // their budget.
        { QStringLiteral("made-up-sources"),
            { QStringLiteral("--student"), QStringLiteral("foreign-lock"), QStringLiteral("--student-made-up") } },
        { QStringLiteral("broadcast-lock"), { QStringLiteral("--student"), QStringLiteral("broadcast-lock") } },
        { QStringLiteral("repeat-join"), { QStringLiteral("--student"), QStringLiteral("repeat-join") } },
        { QStringLiteral("repeat-join-forged"),
            { QStringLiteral("--student"), QStringLiteral("repeat-join"), QStringLiteral("--student-forge") } },
        // Joins naming the group of "未分组", a page the console repeats
        // unlocked words to.
        { QStringLiteral("repeat-join-page"), { QStringLiteral("--student"), QStringLiteral("repeat-join") } },
        { QStringLiteral("race"), { QStringLiteral("--student"), QStringLiteral("race") } },
        { QStringLiteral("unicast-lock"), { QStringLiteral("--student"), QStringLiteral("unicast-lock") } },
        { QStringLiteral("join-escape"), { QStringLiteral("--student"), QStringLiteral("join-escape") }, false },
    };
    return list;
}

double number(const QJsonObject& object, const char* key)
{
    return object.value(QLatin1String(key)).toDouble();
}

void progress(const QString& text)
{
    std::fprintf(stderr, "student: %s\n", text.toLocal8Bit().constData());
    std::fflush(stderr);
}

// From every foreign word seen on the room's group to the console's next
// locked word there.
QJsonObject answerLatency(const std::vector<GroupCapture::LockSeen>& seen, uint32_t group)
{
    Percentiles latency;
    int foreign = 0;
    int64_t pending = 0;
    for (const GroupCapture::LockSeen& lock : seen) {
        if (lock.group != group)
            continue;
        if (lock.word == StudentWord) {
            ++foreign;
            if (pending == 0)
                pending = lock.atRealtimeNs;
        } else if ((lock.word & 0xFFu) != 0 && pending != 0) {
            latency.add(double(lock.atRealtimeNs - pending) / 1e6);
            pending = 0;
        }
    }
    QJsonObject json;
    json.insert(QStringLiteral("foreign_words_seen"), foreign);
    json.insert(QStringLiteral("answered"), qint64(latency.count()));
    json.insert(QStringLiteral("p50_ms"), latency.at(50));
    json.insert(QStringLiteral("p99_ms"), latency.at(99));
    json.insert(QStringLiteral("max_ms"), latency.max());
    // What an agent that took every word at once would have spent unlocked.
    json.insert(QStringLiteral("total_ms"), latency.mean() * double(latency.count()));
    return json;
}

// Payload bytes the console multicast to the captured groups within
// [from, to): its lock words (the student's word told apart by content)
// and its policies.
double consoleGroupBytes(const GroupCapture& capture, int64_t from, int64_t to)
{
    double bytes = 0;
    for (const GroupCapture::LockSeen& lock : capture.seenSince(from))
        if (lock.atRealtimeNs < to && lock.word != StudentWord)
            bytes += 8;
    for (const GroupCapture::PolicySeen& policy : capture.policiesSince(from))
        if (policy.atRealtimeNs < to)
            bytes += policy.bytes;
    return bytes;
}

int securityRows(EventLogStore* log)
{
    if (!log)
        return -1;
    log->flush();
    QSqlQuery query = log->select(QString(), EventLogStore::Security, true);
    int rows = 0;
    while (query.next())
        ++rows;
    return rows;
}

QJsonObject attack(const BenchOptions& options, const Attack& mode, int rate)
{
    QJsonObject phase;
    phase.insert(QStringLiteral("mode"), mode.name);
    if (mode.rated)
        phase.insert(QStringLiteral("rate"), rate);
    QTemporaryDir dir;
    QString error;
    if (!dir.isValid()
        || !LabSeed::write(dir.path(), options.agents, options.groups, &error, options.catalog, Rok_Lock_State::BlackLock)) {
        phase.insert(QStringLiteral("error"), QStringLiteral("seeding failed: %1").arg(error));
        return phase;
    }
    auto window = std::make_unique<RokVtxAdmin>(dir.path());
    window->show();
    if (!window->networkReady()) {
        phase.insert(QStringLiteral("error"), QStringLiteral("the console could not open its UDP port"));
        return phase;
    }
    QStudentGroupWidget* room = window->pageAt(1);
    QStudentGroupWidget* ungrouped = window->ungroupedPage();
    uint32_t group = 0;
    EventWait::until([&] { return room && (group = room->group_addr.load()) != 0; }, 5000, 50);
    const uint32_t escape = Protocol::addressFromText(QString::fromLatin1(EscapeGroup));
    QList<uint32_t> groups { escape };
    for (int i = 1; QStudentGroupWidget* page = window->pageAt(i); ++i)
        if (page->group_addr.load() != 0)
            groups << page->group_addr.load();
    GroupCapture capture;
    if (group == 0 || !capture.open(groups)) {
        phase.insert(QStringLiteral("error"), QStringLiteral("no group address to listen to"));
        return phase;
    }
    capture.start();
    const int rowsBefore = securityRows(&window->core().tables().eventLog());

    QStringList arguments = mode.arguments;
    if (mode.name == QLatin1String("repeat-join-page") && ungrouped)
        arguments << QStringLiteral("--escape-group") << Protocol::addressToText(ungrouped->group_addr.load());

    SimulatorRun simulator;
    std::vector<QJsonObject> summaries;
    // Each agent's unlocked time at the last report before the attack.
    const double attackAtMs = AttackAfterS * 1000.0;
    QHash<quint64, qint64> unlockedBefore;
    QObject::connect(&simulator, &SimulatorRun::summaryRead, &simulator, [&] {
        summaries.push_back(simulator.summary());
        if (summaries.back().value(QStringLiteral("elapsed_ms")).toDouble() <= attackAtMs)
            unlockedBefore = simulator.unlockedMs();
    });
    const int duration = AttackAfterS + options.attackSeconds;
    simulator.start(QStringList { QStringLiteral("--agents"), QString::number(options.agents),
                        QStringLiteral("--console"), QStringLiteral("127.0.0.1"), QStringLiteral("--report-ms"),
                        QStringLiteral("500"), QStringLiteral("--student-rate"), QString::number(rate),
                        QStringLiteral("--student-after"), QString::number(AttackAfterS), QStringLiteral("--duration"),
                        QString::number(duration) }
        + arguments);
    const int64_t started = ProcessUsage::monotonicNs();
    progress(QStringLiteral("%1 at %2/s: simulator started, attack at %3 s for %4 s")
                 .arg(mode.name)
                 .arg(rate)
                 .arg(AttackAfterS)
                 .arg(options.attackSeconds));

    // The attack window's CPU, the harness's capture thread included.
    EventWait::until(
        [&] { return ProcessUsage::monotonicNs() - started >= int64_t(AttackAfterS) * 1000000000; },
        AttackAfterS * 1000 + 1000, 20);
    const ProcessUsage::Cpu cpuStart = ProcessUsage::processCpu();
    const int64_t attackStart = ProcessUsage::monotonicNs();
    const int64_t attackStartRealtime = ProcessUsage::realtimeNs();
    EventLoopProbe probe;
    probe.start();
    EventWait::until([&] { return !simulator.isRunning(); }, (options.attackSeconds + 10) * 1000, 100);
    probe.stop();
    const double attackWall = double(ProcessUsage::monotonicNs() - attackStart) / 1e9;
    const int64_t attackEndRealtime = ProcessUsage::realtimeNs();
    const ProcessUsage::Cpu cpuEnd = ProcessUsage::processCpu();
    simulator.stop();
    capture.stop();

    const QJsonObject final = simulator.summary();
    if (!final.value(QStringLiteral("final")).toBool()) {
        phase.insert(QStringLiteral("error"), QStringLiteral("no final summary: %1").arg(simulator.errors()));
        return phase;
    }
    // The last report before the attack, one 2 s before it (the room must be
    // locked and accrue nothing before the student starts) and one at the
    // start of the baseline.
    QJsonObject before;
    QJsonObject earlier;
    QJsonObject baseline;
    for (const QJsonObject& summary : summaries) {
        const double elapsed = number(summary, "elapsed_ms");
        if (elapsed <= attackAtMs - 2000)
            earlier = summary;
        if (elapsed <= attackAtMs - BaselineS * 1000)
            baseline = summary;
        if (elapsed <= attackAtMs)
            before = summary;
    }
    const int agents = options.agents;
    const double attackMs = number(final, "elapsed_ms") - attackAtMs;
    const double unlocked = number(final, "unlockedMsTotal") - number(before, "unlockedMsTotal");
    phase.insert(QStringLiteral("registered_before_attack"), before.value(QStringLiteral("registered")).toInt());
    phase.insert(QStringLiteral("locked_before_attack"), before.value(QStringLiteral("locked")).toInt());
    phase.insert(QStringLiteral("unlocked_ms_before_attack"),
        number(before, "unlockedMsTotal") - number(earlier, "unlockedMsTotal"));
    phase.insert(QStringLiteral("attack_ms"), attackMs);
    phase.insert(QStringLiteral("unlocked_ms_total"), unlocked);
    phase.insert(QStringLiteral("unlocked_share_percent"), attackMs > 0 ? unlocked / (agents * attackMs) * 100 : 0);
    // Per agent over the attack alone; joining a locked room costs each
    // agent up to one repetition period before it.
    Percentiles perAgent;
    const QHash<quint64, qint64>& unlockedAfter = simulator.unlockedMs();
    for (auto it = unlockedAfter.cbegin(); it != unlockedAfter.cend(); ++it)
        perAgent.add(double(it.value() - unlockedBefore.value(it.key())));
    phase.insert(QStringLiteral("unlocked_ms_agent_p50"), perAgent.at(50));
    phase.insert(QStringLiteral("unlocked_ms_agent_max"), perAgent.max());
    phase.insert(QStringLiteral("unlocked_ms_agent_max_before_attack"), number(before, "unlockedMsMax"));
    phase.insert(QStringLiteral("student_sent"), final.value(QStringLiteral("studentSent")));
    if (final.contains(QStringLiteral("rejoinMs")))
        phase.insert(QStringLiteral("rejoin_ms"), final.value(QStringLiteral("rejoinMs")));
    phase.insert(QStringLiteral("answer"), answerLatency(capture.seenSince(0), group));

    // What the attack made the console send beyond its normal output, per
    // byte the student sent: multicast lock words and policies on the
    // captured groups and the joins the agents took, as payload bytes, less
    // the same output at the rate of the seconds before the attack.
    const double baselineS = (number(before, "elapsed_ms") - number(baseline, "elapsed_ms")) / 1000;
    const double attackS = double(attackEndRealtime - attackStartRealtime) / 1e9;
    const double joinBytesBefore = (number(before, "consoleJoins") - number(baseline, "consoleJoins")) * 8;
    const double joinBytesDuring = (number(final, "consoleJoins") - number(before, "consoleJoins")) * 8;
    const double groupBytesBefore
        = consoleGroupBytes(capture, attackStartRealtime - int64_t(BaselineS) * 1000000000, attackStartRealtime);
    const double groupBytesDuring = consoleGroupBytes(capture, attackStartRealtime, attackEndRealtime);
    const double normalPerS = baselineS > 0 ? joinBytesBefore / baselineS + groupBytesBefore / BaselineS : 0;
    const double extra = groupBytesDuring + joinBytesDuring - normalPerS * attackS;
    const double studentBytes = number(final, "studentBytes");
    QJsonObject bytes;
    bytes.insert(QStringLiteral("normal_per_s"), normalPerS);
    bytes.insert(QStringLiteral("console_during"), groupBytesDuring + joinBytesDuring);
    bytes.insert(QStringLiteral("console_extra"), extra);
    bytes.insert(QStringLiteral("student"), studentBytes);
    bytes.insert(QStringLiteral("out_per_in"), studentBytes > 0 ? extra / studentBytes : 0);
    bytes.insert(QStringLiteral("extra_over_normal"), normalPerS > 0 ? extra / (normalPerS * attackS) : 0);
    phase.insert(QStringLiteral("bytes"), bytes);

    const int rowsAfter = securityRows(&window->core().tables().eventLog());
    phase.insert(QStringLiteral("security_rows"), rowsAfter - rowsBefore);
    phase.insert(QStringLiteral("security_rows_per_min"), attackS > 0 ? (rowsAfter - rowsBefore) / attackS * 60 : 0);
    QJsonObject stall;
    stall.insert(QStringLiteral("p99_ms"), probe.lateness().at(99));
    stall.insert(QStringLiteral("max_ms"), probe.lateness().max());
    phase.insert(QStringLiteral("stall"), stall);
    phase.insert(QStringLiteral("cpu_percent"), attackWall > 0 ? (cpuEnd.total() - cpuStart.total()) / attackWall * 100 : 0);
    phase.insert(QStringLiteral("simulator"), final);
    window.reset();
    return phase;
}

} // namespace

QJsonObject StudentBenchmark::run(const BenchOptions& options)
{
    QJsonObject result;
    result.insert(QStringLiteral("bench"), QStringLiteral("student"));
    result.insert(QStringLiteral("agents"), options.agents);
    result.insert(QStringLiteral("groups"), options.groups);
    result.insert(QStringLiteral("catalog"), options.catalog);
    result.insert(QStringLiteral("rate"), options.studentRate);
    result.insert(QStringLiteral("attack_s"), options.attackSeconds);
    result.insert(QStringLiteral("join_repeat"), qEnvironmentVariableIsEmpty("ROK_BENCH_NO_JOIN_REPEAT"));
    QJsonArray phases;
    for (const Attack& mode : attacks()) {
        if (!options.studentModes.isEmpty() && !options.studentModes.contains(mode.name))
            continue;
        const QList<int> rates = mode.rated ? options.studentRates : QList<int> { options.studentRate };
        for (const int rate : rates) {
            const QJsonObject phase = attack(options, mode, rate);
            if (phase.contains(QStringLiteral("error")) && !result.contains(QStringLiteral("error")))
                result.insert(QStringLiteral("error"), phase.value(QStringLiteral("error")));
            phases.append(phase);
            // The rows of the first student run.
            if ((mode.name == QLatin1String("foreign-lock") || mode.name == QLatin1String("join-escape"))
                && rate == options.studentRate)
                result.insert(QString(mode.name).replace(QLatin1Char('-'), QLatin1Char('_')), phase);
        }
    }
    result.insert(QStringLiteral("attacks"), phases);
    return result;
}
