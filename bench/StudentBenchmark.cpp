#include "StudentBenchmark.h"

#include "EventWait.h"
#include "GroupCapture.h"
#include "LabSeed.h"
#include "Percentiles.h"
#include "ProcessUsage.h"
#include "QStudentGroupWidget.h"
#include "Rok_Lock_State.h"
#include "RokVtxAdmin.h"
#include "SimulatorRun.h"

#include <QHash>
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

QJsonObject attack(const BenchOptions& options, const QString& mode)
{
    QJsonObject phase;
    phase.insert(QStringLiteral("mode"), mode);
    QTemporaryDir dir;
    QString error;
    if (!dir.isValid()
        || !LabSeed::write(dir.path(), options.agents, 1, &error, options.catalog, Rok_Lock_State::BlackLock)) {
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
    uint32_t group = 0;
    EventWait::until([&] { return room && (group = room->group_addr.load()) != 0; }, 5000, 50);
    GroupCapture capture;
    if (group == 0 || !capture.open({ group })) {
        phase.insert(QStringLiteral("error"), QStringLiteral("no group address to listen to"));
        return phase;
    }
    capture.start();

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
    simulator.start({ QStringLiteral("--agents"), QString::number(options.agents), QStringLiteral("--console"),
        QStringLiteral("127.0.0.1"), QStringLiteral("--report-ms"), QStringLiteral("500"), QStringLiteral("--student"), mode, QStringLiteral("--student-rate"),
        QString::number(options.studentRate), QStringLiteral("--student-after"), QString::number(AttackAfterS),
        QStringLiteral("--duration"), QString::number(duration) });
    const int64_t started = ProcessUsage::monotonicNs();
    progress(QStringLiteral("%1: simulator started, attack at %2 s for %3 s")
                 .arg(mode)
                 .arg(AttackAfterS)
                 .arg(options.attackSeconds));

    // The attack window's CPU, the harness's capture thread included.
    EventWait::until(
        [&] { return ProcessUsage::monotonicNs() - started >= int64_t(AttackAfterS) * 1000000000; },
        AttackAfterS * 1000 + 1000, 20);
    const ProcessUsage::Cpu cpuStart = ProcessUsage::processCpu();
    const int64_t attackStart = ProcessUsage::monotonicNs();
    EventWait::until([&] { return !simulator.isRunning(); }, (options.attackSeconds + 10) * 1000, 100);
    const double attackWall = double(ProcessUsage::monotonicNs() - attackStart) / 1e9;
    const ProcessUsage::Cpu cpuEnd = ProcessUsage::processCpu();
    simulator.stop();
    capture.stop();

    const QJsonObject final = simulator.summary();
    if (!final.value(QStringLiteral("final")).toBool()) {
        phase.insert(QStringLiteral("error"), QStringLiteral("no final summary: %1").arg(simulator.errors()));
        return phase;
    }
    // The last report before the attack, and one 2 s before it: the room
    // must be locked and accrue nothing before the student starts.
    QJsonObject before;
    QJsonObject earlier;
    for (const QJsonObject& summary : summaries) {
        const double elapsed = number(summary, "elapsed_ms");
        if (elapsed <= attackAtMs - 2000)
            earlier = summary;
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
    result.insert(QStringLiteral("rate"), options.studentRate);
    result.insert(QStringLiteral("attack_s"), options.attackSeconds);
    result.insert(QStringLiteral("join_repeat"), qEnvironmentVariableIsEmpty("ROK_BENCH_NO_JOIN_REPEAT"));
    for (const QString& mode : { QStringLiteral("foreign-lock"), QStringLiteral("join-escape") }) {
        const QJsonObject phase = attack(options, mode);
        if (phase.contains(QStringLiteral("error")) && !result.contains(QStringLiteral("error")))
            result.insert(QStringLiteral("error"), phase.value(QStringLiteral("error")));
        result.insert(QString(mode).replace(QLatin1Char('-'), QLatin1Char('_')), phase);
    }
    return result;
}
