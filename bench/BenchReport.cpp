#include "BenchReport.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QSysInfo>
#include <QThread>

#include <algorithm>

namespace {

QJsonObject readJson(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QJsonDocument::fromJson(file.readAll().trimmed()).object();
}

QString readText(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(file.readAll()) : QString();
}

// A field of /usr/bin/time -v output.
QString timeField(const QString& text, const QString& name)
{
    const QRegularExpression pattern(QStringLiteral("^\\s*%1:\\s*(.+)$").arg(QRegularExpression::escape(name)),
        QRegularExpression::MultilineOption);
    return pattern.match(text).captured(1).trimmed();
}

QString num(double value, int decimals = 1)
{
    return QString::number(value, 'f', decimals);
}

QString verdict(bool met)
{
    return met ? QStringLiteral("met") : QStringLiteral("**missed**");
}

QString firstLine(const QString& path, const QString& key)
{
    for (const QString& line : readText(path).split(QLatin1Char('\n')))
        if (line.startsWith(key))
            return line.mid(line.indexOf(QLatin1Char(':')) + 1).trimmed();
    return QString();
}

// The load beside the runs that came after the first four.
QString laterLoads(const QDir& dir)
{
    QString text;
    for (const QString& name : { QStringLiteral("student"), QStringLiteral("scale-large"),
             QStringLiteral("scale-large-norepeat"), QStringLiteral("flood-registrations"),
             QStringLiteral("flood-policy") }) {
        const QJsonObject result = readJson(dir.filePath(name + QStringLiteral(".json")));
        if (!result.isEmpty())
            text += QStringLiteral(", %1 %2").arg(name, result.value(QStringLiteral("loadavg")).toString());
    }
    return text;
}

// "", "-2", "-3" ...: the pairs of 18,000-agent runs with and without
// the repeated joins that the result directory holds.
QStringList pairSuffixes(const QDir& dir)
{
    QStringList suffixes;
    for (int pair = 1;; ++pair) {
        const QString suffix = pair == 1 ? QString() : QStringLiteral("-%1").arg(pair);
        if (!dir.exists(QStringLiteral("scale-large%1.json").arg(suffix))
            || !dir.exists(QStringLiteral("scale-large-norepeat%1.json").arg(suffix)))
            return suffixes;
        suffixes << suffix;
    }
}

} // namespace

QJsonObject BenchReport::machine()
{
    QJsonObject json;
    json.insert(QStringLiteral("cpu"), firstLine(QStringLiteral("/proc/cpuinfo"), QStringLiteral("model name")));
    json.insert(QStringLiteral("cores"), QThread::idealThreadCount());
    json.insert(QStringLiteral("memory"), firstLine(QStringLiteral("/proc/meminfo"), QStringLiteral("MemTotal")));
    json.insert(QStringLiteral("kernel"), QSysInfo::kernelVersion());
    json.insert(QStringLiteral("os"), QSysInfo::prettyProductName());
    json.insert(QStringLiteral("loadavg"), readText(QStringLiteral("/proc/loadavg")).section(QLatin1Char(' '), 0, 2));
    return json;
}

QString BenchReport::markdown(const QString& resultDir)
{
    const QDir dir(resultDir);
    const QJsonObject receive = readJson(dir.filePath(QStringLiteral("receive.json")));
    const QJsonObject scale = readJson(dir.filePath(QStringLiteral("scale.json")));
    const QJsonObject startstop = readJson(dir.filePath(QStringLiteral("startstop.json")));
    const QJsonObject command = readJson(dir.filePath(QStringLiteral("command.json")));
    const QString scaleTime = readText(dir.filePath(QStringLiteral("scale.time")));
    const QJsonObject box = machine();

    QString md;
    md += QStringLiteral("# Benchmark results\n\n");
    md += QStringLiteral("Measured %1 with `scripts/bench%2` on %3 (%4 cores, %5), %6, kernel %7. "
                         "Load average (1, 5, 15 min) as each benchmark ended: receive %8, scale %9, start/stop %10, command %11%12.\n\n")
              .arg(QDateTime::currentDateTime().toString(Qt::ISODate),
                  scale.value(QStringLiteral("window_s")).toInt() < 120 ? QStringLiteral(" --quick") : QString(),
                  box.value(QStringLiteral("cpu")).toString())
              .arg(box.value(QStringLiteral("cores")).toInt())
              .arg(box.value(QStringLiteral("memory")).toString(), box.value(QStringLiteral("os")).toString(),
                  box.value(QStringLiteral("kernel")).toString(),
                  receive.value(QStringLiteral("loadavg")).toString(), scale.value(QStringLiteral("loadavg")).toString(),
                  startstop.value(QStringLiteral("loadavg")).toString(),
                  command.value(QStringLiteral("loadavg")).toString(), laterLoads(dir));

    md += QStringLiteral("| # | target | measured | |\n|---|---|---|---|\n");
    const auto row = [&md](const QString& id, const QString& target, const QString& measured, bool met) {
        md += QStringLiteral("| %1 | %2 | %3 | %4 |\n").arg(id, target, measured, verdict(met));
    };
    const auto error = [](const QJsonObject& result) {
        const QString text = result.value(QStringLiteral("error")).toString();
        return text.isEmpty() ? QString() : QStringLiteral(" (error: %1)").arg(text);
    };

    const double ratio = receive.value(QStringLiteral("ratio")).toDouble();
    row(QStringLiteral("1"), QStringLiteral("receive path ≥ 0.5 × bare receive loop"),
        QStringLiteral("%1 (console %2/s, bare loop %3/s, sender offering %4/s)%5")
            .arg(num(ratio, 2), num(receive.value(QStringLiteral("console_per_s")).toDouble(), 0),
                num(receive.value(QStringLiteral("bare_per_s")).toDouble(), 0),
                num(receive.value(QStringLiteral("console_offered_per_s")).toDouble(), 0), error(receive)),
        ratio >= 0.5);

    const double cpu = scale.value(QStringLiteral("cpu_percent")).toDouble();
    const QString agents = QString::number(scale.value(QStringLiteral("agents")).toInt());
    row(QStringLiteral("2a"), QStringLiteral("%1 agents: CPU ≤ 5 % of one core (mean)").arg(agents),
        QStringLiteral("%1 % over %2 s (user %3, system %4; the 5 ms probe alone costs %5 %)%6")
            .arg(num(cpu, 2))
            .arg(scale.value(QStringLiteral("window_s")).toInt())
            .arg(num(scale.value(QStringLiteral("cpu_user_percent")).toDouble(), 2),
                num(scale.value(QStringLiteral("cpu_system_percent")).toDouble(), 2),
                num(scale.value(QStringLiteral("harness_idle_cpu_percent")).toDouble(), 2), error(scale)),
        cpu <= 5.0 && !scale.contains(QStringLiteral("error")));
    const double rss = scale.value(QStringLiteral("rss_max_mb")).toDouble();
    const QString peak = timeField(scaleTime, QStringLiteral("Maximum resident set size (kbytes)"));
    row(QStringLiteral("2b"), QStringLiteral("resident memory ≤ 150 MB"),
        QStringLiteral("%1 MB max in the window; whole run peak %2 MB (time -v)")
            .arg(num(rss), num(peak.toDouble() / 1024.0)),
        rss > 0 && rss <= 150 && peak.toDouble() / 1024.0 <= 150);
    const QJsonObject stall = scale.value(QStringLiteral("stall")).toObject();
    const double p99 = stall.value(QStringLiteral("p99_ms")).toDouble();
    row(QStringLiteral("2c"), QStringLiteral("UI event loop stall p99 ≤ 50 ms"),
        QStringLiteral("p99 %1 ms, p50 %2 ms, max %3 ms (%4 of %5 probe ticks over 50 ms)")
            .arg(num(p99, 2), num(stall.value(QStringLiteral("p50_ms")).toDouble(), 2),
                num(stall.value(QStringLiteral("max_ms")).toDouble(), 1))
            .arg(scale.value(QStringLiteral("stall_ticks_over_50ms")).toInt())
            .arg(stall.value(QStringLiteral("count")).toInt()),
        stall.contains(QStringLiteral("p99_ms")) && p99 <= 50);
    const QJsonObject off = scale.value(QStringLiteral("offline")).toObject();
    const int silenced = off.value(QStringLiteral("silenced")).toInt();
    const int within = off.value(QStringLiteral("within_tolerance")).toInt();
    row(QStringLiteral("2d"), QStringLiteral("%1 silent agents each shown \"断开\" 1.5 s ± 0.15 s after its last datagram")
            .arg(silenced),
        QStringLiteral("%1 of %2 within; %3 shown; min %4 ms, median %5 ms, max %6 ms")
            .arg(within)
            .arg(silenced)
            .arg(off.value(QStringLiteral("shown_offline")).toInt())
            .arg(num(off.value(QStringLiteral("min_ms")).toDouble(), 0),
                num(off.value(QStringLiteral("p50_ms")).toDouble(), 0),
                num(off.value(QStringLiteral("max_ms")).toDouble(), 0)),
        silenced > 0 && within == silenced);
    const int falseOffline = scale.value(QStringLiteral("false_offline")).toInt(-1);
    row(QStringLiteral("2e"), QStringLiteral("no agent that keeps sending is ever shown off line"),
        QStringLiteral("%1 false \"断开\"").arg(falseOffline), falseOffline == 0);

    const QJsonObject up = startstop.value(QStringLiteral("window_up")).toObject();
    const QJsonObject exit = startstop.value(QStringLiteral("exit")).toObject();
    const QString school = QStringLiteral("%1 machines, %2 groups")
                               .arg(startstop.value(QStringLiteral("machines")).toInt())
                               .arg(startstop.value(QStringLiteral("groups")).toInt());
    row(QStringLiteral("3a"), QStringLiteral("%1: window up ≤ 1 s").arg(school),
        QStringLiteral("median %1 ms, max %2 ms (from process start: median %3 ms)%4")
            .arg(num(up.value(QStringLiteral("median_ms")).toDouble(), 0),
                num(up.value(QStringLiteral("max_ms")).toDouble(), 0),
                num(startstop.value(QStringLiteral("process_start_to_up")).toObject().value(QStringLiteral("median_ms")).toDouble(), 0),
                error(startstop)),
        up.contains(QStringLiteral("max_ms")) && up.value(QStringLiteral("max_ms")).toDouble() <= 1000);
    const QJsonObject save = startstop.value(QStringLiteral("save")).toObject();
    row(QStringLiteral("3b"), QStringLiteral("exit save ≤ 0.5 s"),
        QStringLiteral("config.conf and database: median %1 ms, max %2 ms; whole exit with the window's teardown: "
                       "median %3 ms, max %4 ms; saved %5 machines, %6 groups")
            .arg(num(save.value(QStringLiteral("median_ms")).toDouble(), 0),
                num(save.value(QStringLiteral("max_ms")).toDouble(), 0),
                num(exit.value(QStringLiteral("median_ms")).toDouble(), 0),
                num(exit.value(QStringLiteral("max_ms")).toDouble(), 0))
            .arg(startstop.value(QStringLiteral("saved_machines")).toInt())
            .arg(startstop.value(QStringLiteral("saved_groups")).toInt()),
        save.contains(QStringLiteral("max_ms")) && save.value(QStringLiteral("max_ms")).toDouble() <= 500
            && startstop.value(QStringLiteral("saved_machines")).toInt() == startstop.value(QStringLiteral("machines")).toInt());

    const double last = command.value(QStringLiteral("all_groups_max_ms")).toDouble();
    row(QStringLiteral("4"), QStringLiteral("lock on \"全部\", %1 group addresses: all on the wire ≤ 5 ms")
            .arg(command.value(QStringLiteral("group_addresses")).toInt()),
        QStringLiteral("last group: median %1 ms, max %2 ms over %3 commands, %4 agents heartbeating; %5 missing%6")
            .arg(num(command.value(QStringLiteral("all_groups_p50_ms")).toDouble(), 2), num(last, 2))
            .arg(command.value(QStringLiteral("commands")).toInt())
            .arg(command.value(QStringLiteral("agents_heartbeating")).toInt())
            .arg(command.value(QStringLiteral("missing")).toInt())
            .arg(error(command)),
        command.contains(QStringLiteral("all_groups_max_ms")) && last <= 5 && command.value(QStringLiteral("missing")).toInt() == 0);

    const double gap = command.value(QStringLiteral("repeat_gap_p50_ms")).toDouble();
    row(QStringLiteral("4b"), QStringLiteral("each group's lock state repeated every 600 ms (lock and policy in turn)"),
        QStringLiteral("gap between repeats: median %1 ms, 95th percentile %2 ms over %3 gaps%4")
            .arg(num(gap, 0), num(command.value(QStringLiteral("repeat_gap_p95_ms")).toDouble(), 0))
            .arg(command.value(QStringLiteral("repeat_gaps")).toInt())
            .arg(error(command)),
        gap >= 540 && gap <= 660);

    // The seat plan: a room of 200 on its page, 5,000 tiles on "全部".
    const QJsonObject seatplan = readJson(dir.filePath(QStringLiteral("seatplan.json")));
    const auto seatRow = [&](const QString& id, const QString& key, const QString& what, double limitMs,
                             const QString& things = QStringLiteral("tiles")) {
        const QJsonObject room = seatplan.value(QStringLiteral("room")).toObject().value(key).toObject();
        const QJsonObject all = seatplan.value(QStringLiteral("all")).toObject().value(key).toObject();
        row(id, QStringLiteral("%1 ≤ %2 ms").arg(what, num(limitMs, 0)),
            QStringLiteral("200 %6: median %1 ms, max %2 ms; 5,000 %6: median %3 ms, max %4 ms%5")
                .arg(num(room.value(QStringLiteral("p50_ms")).toDouble(), 2),
                    num(room.value(QStringLiteral("max_ms")).toDouble(), 2),
                    num(all.value(QStringLiteral("p50_ms")).toDouble(), 2),
                    num(all.value(QStringLiteral("max_ms")).toDouble(), 2), error(seatplan), things),
            all.contains(QStringLiteral("max_ms")) && all.value(QStringLiteral("max_ms")).toDouble() <= limitMs
                && room.value(QStringLiteral("max_ms")).toDouble() <= limitMs);
    };
    seatRow(QStringLiteral("5a"), QStringLiteral("build"), QStringLiteral("seat plan shown: tiles laid out and painted"), 50);
    seatRow(QStringLiteral("5b"), QStringLiteral("state_update"),
        QStringLiteral("seat plan, every machine changes state: table refresh, tiles and repaint"), 16);
    seatRow(QStringLiteral("5c"), QStringLiteral("repaint"), QStringLiteral("seat plan, repaint of a window's worth"), 16);
    seatRow(QStringLiteral("5d"), QStringLiteral("table_update"),
        QStringLiteral("table, every machine changes state with every other row selected and the lock column "
                       "shown: refresh and repaint"),
        16, QStringLiteral("rows"));

    // A locked room of 200 against a student who speaks the console's datagrams.
    const QJsonObject student = readJson(dir.filePath(QStringLiteral("student.json")));
    if (!student.isEmpty()) {
        const QJsonObject foreign = student.value(QStringLiteral("foreign_lock")).toObject();
        const QJsonObject answer = foreign.value(QStringLiteral("answer")).toObject();
        const double share = foreign.value(QStringLiteral("unlocked_share_percent")).toDouble();
        row(QStringLiteral("6a"),
            QStringLiteral("%1 locked agents, foreign lock words %2/s: share of time unlocked < 1 %")
                .arg(student.value(QStringLiteral("agents")).toInt())
                .arg(student.value(QStringLiteral("rate")).toInt()),
            QStringLiteral("%1 % over %2 s (load %3); one agent at most %4 ms; the console's answer after a "
                           "foreign word: median %5 ms, p99 %6 ms, max %7 ms (%8 of %9 answered)%10")
                .arg(num(share, 2), num(foreign.value(QStringLiteral("attack_ms")).toDouble() / 1000, 0),
                    student.value(QStringLiteral("loadavg")).toString().section(QLatin1Char(' '), 0, 0),
                    num(foreign.value(QStringLiteral("unlocked_ms_agent_max")).toDouble(), 0),
                    num(answer.value(QStringLiteral("p50_ms")).toDouble(), 2),
                    num(answer.value(QStringLiteral("p99_ms")).toDouble(), 2),
                    num(answer.value(QStringLiteral("max_ms")).toDouble(), 2))
                .arg(answer.value(QStringLiteral("answered")).toInt())
                .arg(answer.value(QStringLiteral("foreign_words_seen")).toInt())
                .arg(error(student)),
            foreign.contains(QStringLiteral("unlocked_share_percent")) && share < 1.0);
        const QJsonObject escape = student.value(QStringLiteral("join_escape")).toObject();
        const QJsonValue rejoin = escape.value(QStringLiteral("rejoin_ms"));
        const bool back = rejoin.isDouble() && rejoin.toDouble() >= 0;
        row(QStringLiteral("6b"), QStringLiteral("after a foreign join to another group: every agent back in its group ≤ 5 s"),
            QStringLiteral("%1; unlocked %2 % of the %3 s after it")
                .arg(back ? QStringLiteral("%1 ms").arg(num(rejoin.toDouble(), 0)) : QStringLiteral("never"),
                    num(escape.value(QStringLiteral("unlocked_share_percent")).toDouble(), 2),
                    num(escape.value(QStringLiteral("attack_ms")).toDouble() / 1000, 0)),
            back && rejoin.toDouble() <= 5000);
        // Every attack at every rate: the console must hold what it can see
        // at up to 10 words a second, and answer without flooding.
        int index = 0;
        for (const QJsonValue& value : student.value(QStringLiteral("attacks")).toArray()) {
            const QJsonObject phase = value.toObject();
            const QString mode = phase.value(QStringLiteral("mode")).toString();
            if (mode == QLatin1String("join-escape"))
                continue;
            const int rate = phase.value(QStringLiteral("rate")).toInt();
            const double unlocked = phase.value(QStringLiteral("unlocked_share_percent")).toDouble();
            const QJsonObject bytes = phase.value(QStringLiteral("bytes")).toObject();
            const double ratio = bytes.value(QStringLiteral("out_per_in")).toDouble();
            const double stall = phase.value(QStringLiteral("stall")).toObject().value(QStringLiteral("max_ms")).toDouble();
            const bool seen = mode != QLatin1String("unicast-lock");
            const bool answered = mode == QLatin1String("foreign-lock") || mode == QLatin1String("forged-lock")
                || mode == QLatin1String("broadcast-lock") || mode == QLatin1String("race");
            QStringList targets;
            bool met = stall <= 50;
            if (seen && rate <= 10) {
                targets << QStringLiteral("unlocked < 5 %");
                met = met && unlocked < 5;
            }
            if (answered) {
                targets << QStringLiteral("bytes out per byte in ≤ 5");
                met = met && ratio <= 5;
            }
            targets << QStringLiteral("stall ≤ 50 ms");
            row(QStringLiteral("6e.%1").arg(++index), QStringLiteral("%1 at %2/s: %3").arg(mode).arg(rate).arg(targets.join(QStringLiteral(", "))),
                QStringLiteral("unlocked %1 %; %2 bytes out per byte in (%3 × the normal output); %4 security rows a "
                               "minute; stall max %5 ms%6")
                    .arg(num(unlocked, 2), num(ratio, 2),
                        num(bytes.value(QStringLiteral("extra_over_normal")).toDouble(), 2),
                        num(phase.value(QStringLiteral("security_rows_per_min")).toDouble(), 1), num(stall, 1),
                        phase.contains(QStringLiteral("error")) ? QStringLiteral(" (%1)").arg(phase.value(QStringLiteral("error")).toString()) : QString()),
                met && !phase.contains(QStringLiteral("error")));
        }
    }

    // Near the registry's bound, with and without the repeated joins.
    const QJsonObject large = readJson(dir.filePath(QStringLiteral("scale-large.json")));
    const QJsonObject bare = readJson(dir.filePath(QStringLiteral("scale-large-norepeat.json")));
    if (!large.isEmpty()) {
        const QString school = QStringLiteral("%1 agents, %2 groups")
                                   .arg(large.value(QStringLiteral("agents")).toInt())
                                   .arg(large.value(QStringLiteral("groups")).toInt());
        const auto cpuText = [&](const QJsonObject& run) {
            return QStringLiteral("%1 % (network thread %2 %, UI thread %3 %; load %4)")
                .arg(num(run.value(QStringLiteral("cpu_percent")).toDouble(), 2),
                    num(run.value(QStringLiteral("network_thread_cpu_percent")).toDouble(), 2),
                    num(run.value(QStringLiteral("ui_thread_cpu_percent")).toDouble(), 2),
                    run.value(QStringLiteral("loadavg")).toString().section(QLatin1Char(' '), 0, 0));
        };
        md += QStringLiteral("| 7a | %1: CPU of one core (mean over %2 s) | %3; all registered in %4 s%5 | — |\n")
                  .arg(school)
                  .arg(large.value(QStringLiteral("window_s")).toInt())
                  .arg(cpuText(large), num(large.value(QStringLiteral("all_registered_s")).toDouble(), 1), error(large));
        if (!bare.isEmpty()) {
            // One pair's difference is as small as the runs' own spread: the
            // pairs ran in turn, and the median of their differences counts.
            QList<double> differences;
            QStringList pairs;
            for (const QString& suffix : pairSuffixes(dir)) {
                const QJsonObject with = readJson(dir.filePath(QStringLiteral("scale-large%1.json").arg(suffix)));
                const QJsonObject without
                    = readJson(dir.filePath(QStringLiteral("scale-large-norepeat%1.json").arg(suffix)));
                const double added = with.value(QStringLiteral("cpu_percent")).toDouble()
                    - without.value(QStringLiteral("cpu_percent")).toDouble();
                differences << added;
                pairs << QStringLiteral("%1 (%2 against %3 %, network thread %4 against %5 %)")
                             .arg(num(added, 2), num(with.value(QStringLiteral("cpu_percent")).toDouble(), 2),
                                 num(without.value(QStringLiteral("cpu_percent")).toDouble(), 2),
                                 num(with.value(QStringLiteral("network_thread_cpu_percent")).toDouble(), 2),
                                 num(without.value(QStringLiteral("network_thread_cpu_percent")).toDouble(), 2));
            }
            std::sort(differences.begin(), differences.end());
            const double median = differences.size() % 2
                ? differences.at(differences.size() / 2)
                : (differences.at(differences.size() / 2 - 1) + differences.at(differences.size() / 2)) / 2;
            row(QStringLiteral("7b"), QStringLiteral("%1: the repeated joins add ≤ 1 % of one core").arg(school),
                QStringLiteral("median %1 points over %2 pairs run in turn: %3; %4 joins/s (without them %5)")
                    .arg(num(median, 2))
                    .arg(differences.size())
                    .arg(pairs.join(QStringLiteral("; ")),
                        num(large.value(QStringLiteral("joins_per_s")).toDouble(), 0),
                        num(bare.value(QStringLiteral("joins_per_s")).toDouble(), 0)),
                median <= 1.0);
            // On loopback the kernel delivers each join into its agent's
            // socket on the sending thread; scripts/profile-joins measures
            // that share, which a lab's student PCs carry themselves.
            const QJsonObject profile = readJson(dir.filePath(QStringLiteral("profile-joins.json")));
            if (!profile.isEmpty()) {
                const double delivery = profile.value(QStringLiteral("delivery_share_percent")).toDouble();
                const double own = median * (1 - delivery / 100);
                row(QStringLiteral("7g"),
                    QStringLiteral("%1: the repeated joins add ≤ 1 % of one core, without the loopback's delivery")
                        .arg(school),
                    QStringLiteral("%1 points: %2 % of the joins' `sendmmsg` time is the loopback delivering into "
                                   "the simulator's sockets (perf, %3 of %4 samples)")
                        .arg(num(own, 2), num(delivery, 0))
                        .arg(profile.value(QStringLiteral("delivery_samples")).toInt())
                        .arg(profile.value(QStringLiteral("sendmmsg_samples")).toInt()),
                    own <= 1.0);
            }
        }
        const QJsonObject largeStall = large.value(QStringLiteral("stall")).toObject();
        md += QStringLiteral("| 7c | %1: resident memory | %2 MB max in the window | — |\n")
                  .arg(school, num(large.value(QStringLiteral("rss_max_mb")).toDouble()));
        row(QStringLiteral("7d"), QStringLiteral("%1: UI event loop stall p99 ≤ 50 ms").arg(school),
            QStringLiteral("p99 %1 ms, max %2 ms")
                .arg(num(largeStall.value(QStringLiteral("p99_ms")).toDouble(), 2),
                    num(largeStall.value(QStringLiteral("max_ms")).toDouble(), 1)),
            largeStall.contains(QStringLiteral("p99_ms")) && largeStall.value(QStringLiteral("p99_ms")).toDouble() <= 50);
        const QJsonObject largeOff = large.value(QStringLiteral("offline")).toObject();
        const int largeSilenced = largeOff.value(QStringLiteral("silenced")).toInt();
        const int largeWithin = largeOff.value(QStringLiteral("within_tolerance")).toInt();
        row(QStringLiteral("7e"), QStringLiteral("%1: %2 silent agents shown \"断开\" 1.5 s ± 0.15 s after their last datagram")
                .arg(school)
                .arg(largeSilenced),
            QStringLiteral("%1 of %2 within; min %3 ms, median %4 ms, max %5 ms")
                .arg(largeWithin)
                .arg(largeSilenced)
                .arg(num(largeOff.value(QStringLiteral("min_ms")).toDouble(), 0),
                    num(largeOff.value(QStringLiteral("p50_ms")).toDouble(), 0),
                    num(largeOff.value(QStringLiteral("max_ms")).toDouble(), 0)),
            largeSilenced > 0 && largeWithin == largeSilenced);
        const int largeFalse = large.value(QStringLiteral("false_offline")).toInt(-1);
        row(QStringLiteral("7f"), QStringLiteral("%1: no agent that keeps sending shown off line").arg(school),
            QStringLiteral("%1 false \"断开\"").arg(largeFalse), largeFalse == 0);
    }

    // A student PC flooding the console: made-up registrations from one
    // address, then old-policy reports from a known machine's own address.
    const auto load = [](const QJsonObject& run) {
        return run.value(QStringLiteral("loadavg")).toString().section(QLatin1Char(' '), 0, 0);
    };
    const QJsonObject registrations = readJson(dir.filePath(QStringLiteral("flood-registrations.json")));
    if (!registrations.isEmpty()) {
        const QString flood = QStringLiteral("%1 registrations from one address in %2 s")
                                  .arg(registrations.value(QStringLiteral("flood_sent")).toInt())
                                  .arg(num(registrations.value(QStringLiteral("flood_send_s")).toDouble(), 2));
        const QJsonObject floodStall = registrations.value(QStringLiteral("stall")).toObject();
        const double floodMax = floodStall.value(QStringLiteral("max_ms")).toDouble();
        row(QStringLiteral("8a"), QStringLiteral("%1: UI stall during it and 5 s after, max ≤ 50 ms").arg(flood),
            QStringLiteral("p99 %1 ms, max %2 ms (%3 of %4 probe ticks over 50 ms; load %5)%6")
                .arg(num(floodStall.value(QStringLiteral("p99_ms")).toDouble(), 2), num(floodMax, 1))
                .arg(floodStall.value(QStringLiteral("over_50ms")).toInt())
                .arg(floodStall.value(QStringLiteral("count")).toInt())
                .arg(load(registrations), error(registrations)),
            floodStall.contains(QStringLiteral("max_ms")) && floodMax <= 50);
        const int fromFlood = registrations.value(QStringLiteral("machines_from_flood_address")).toInt(-1);
        row(QStringLiteral("8b"), QStringLiteral("%1: machines registered from it ≤ 4").arg(flood),
            QStringLiteral("%1; \"未分组\" %2 rows, %3 machines in all; event log %4 rows (%5 security, %6 "
                           "registrations); %7 datagrams dropped by the kernel (load %8)")
                .arg(fromFlood)
                .arg(registrations.value(QStringLiteral("rows_ungrouped")).toInt())
                .arg(registrations.value(QStringLiteral("machines")).toInt())
                .arg(registrations.value(QStringLiteral("event_log_rows")).toInt())
                .arg(registrations.value(QStringLiteral("event_log_security_rows")).toInt())
                .arg(registrations.value(QStringLiteral("event_log_registered_rows")).toInt())
                .arg(registrations.value(QStringLiteral("udp_receive_buffer_drops")).toInt())
                .arg(load(registrations)),
            fromFlood >= 0 && fromFlood <= 4);
        const double join = registrations.value(QStringLiteral("genuine_join_ms")).toDouble(-1);
        row(QStringLiteral("8c"),
            QStringLiteral("right after it, a genuine new PC from another address holds its join ≤ 1 s"),
            QStringLiteral("%1 (%2 registrations sent); shown in \"全部\" after %3 ms (load %4)")
                .arg(join >= 0 ? QStringLiteral("%1 ms").arg(num(join, 1)) : QStringLiteral("never"))
                .arg(registrations.value(QStringLiteral("genuine_attempts")).toInt())
                .arg(num(registrations.value(QStringLiteral("genuine_shown_ms")).toDouble(), 0), load(registrations)),
            join >= 0 && join <= 1000);
        md += QStringLiteral("| 8d | %1: memory and the database | resident %2 MB after (%3 MB before, peak %4 MB); "
                             "database %5 KB after the next save (%6 ms) | — |\n")
                  .arg(flood, num(registrations.value(QStringLiteral("rss_after_mb")).toDouble()),
                      num(registrations.value(QStringLiteral("rss_before_mb")).toDouble()),
                      num(registrations.value(QStringLiteral("rss_peak_mb")).toDouble()),
                      num(registrations.value(QStringLiteral("database_bytes")).toDouble() / 1024.0, 0),
                      num(registrations.value(QStringLiteral("save_ms")).toDouble(), 0));
    }
    const QJsonObject policy = readJson(dir.filePath(QStringLiteral("flood-policy.json")));
    if (!policy.isEmpty()) {
        const QString reports = QStringLiteral("a known machine reports policy version 0 %1/s for %2 s from its own address")
                                    .arg(policy.value(QStringLiteral("rate")).toInt())
                                    .arg(policy.value(QStringLiteral("attack_s")).toInt());
        const double perReport = policy.value(QStringLiteral("per_report_net")).toDouble();
        row(QStringLiteral("9a"), QStringLiteral("%1: policy multicasts to its group per report ≤ 0.01").arg(reports),
            QStringLiteral("%1 net, %2 raw: %3 policies in %4 s against %5 of the 600 ms repetition, for %6 reports "
                           "(%7 dropped by the kernel); out %8 MB/s for %9 MB/s in; %10 re-register answers (load %11)%12")
                .arg(num(perReport, 5), num(policy.value(QStringLiteral("per_report_raw")).toDouble(), 5))
                .arg(policy.value(QStringLiteral("policies_raw")).toInt())
                .arg(num(policy.value(QStringLiteral("window_s")).toDouble(), 2),
                    num(policy.value(QStringLiteral("policies_periodic_expected")).toDouble(), 1))
                .arg(policy.value(QStringLiteral("reports_sent")).toInt())
                .arg(policy.value(QStringLiteral("udp_receive_buffer_drops")).toInt())
                .arg(num(policy.value(QStringLiteral("out_mb_per_s")).toDouble(), 3),
                    num(policy.value(QStringLiteral("in_mb_per_s")).toDouble(), 2))
                .arg(policy.value(QStringLiteral("answers_reregister")).toInt())
                .arg(load(policy), error(policy)),
            policy.value(QStringLiteral("registered")).toBool() && policy.value(QStringLiteral("reports_sent")).toInt() > 0
                && perReport <= 0.01);
        const QJsonObject policyStall = policy.value(QStringLiteral("stall")).toObject();
        md += QStringLiteral("| 9b | %1: console CPU | %2 % of one core (whole process %3 %, the harness's sender and "
                             "capture %4 %); UI stall p99 %5 ms, max %6 ms (load %7) | — |\n")
                  .arg(reports, num(policy.value(QStringLiteral("cpu_console_percent")).toDouble(), 1),
                      num(policy.value(QStringLiteral("cpu_process_percent")).toDouble(), 1),
                      num(policy.value(QStringLiteral("cpu_harness_threads_percent")).toDouble(), 1),
                      num(policyStall.value(QStringLiteral("p99_ms")).toDouble(), 2),
                      num(policyStall.value(QStringLiteral("max_ms")).toDouble(), 1), load(policy));
    }

    // A lesson's record: 200 machines, 2,000 events, as PDF and as its page.
    const QJsonObject record = readJson(dir.filePath(QStringLiteral("lessonrecord.json")));
    if (!record.isEmpty()) {
        const QJsonObject pdf = record.value(QStringLiteral("pdf")).toObject();
        const QJsonObject page = record.value(QStringLiteral("page_open")).toObject();
        const QString what = QStringLiteral("a 90-minute record of %1 machines and %2 events")
                                 .arg(record.value(QStringLiteral("machines")).toInt())
                                 .arg(record.value(QStringLiteral("events")).toInt());
        row(QStringLiteral("10a"), QStringLiteral("%1 written as PDF ≤ 1 s").arg(what),
            QStringLiteral("median %1 ms, max %2 ms (%3 KB; load %4)%5")
                .arg(num(pdf.value(QStringLiteral("p50_ms")).toDouble(), 0),
                    num(pdf.value(QStringLiteral("max_ms")).toDouble(), 0))
                .arg(record.value(QStringLiteral("pdf_bytes")).toInt() / 1024)
                .arg(load(record), error(record)),
            pdf.contains(QStringLiteral("max_ms")) && pdf.value(QStringLiteral("max_ms")).toDouble() <= 1000);
        row(QStringLiteral("10b"), QStringLiteral("%1: its page opened ≤ 200 ms").arg(what),
            QStringLiteral("median %1 ms, max %2 ms (load %3)%4")
                .arg(num(page.value(QStringLiteral("p50_ms")).toDouble(), 0),
                    num(page.value(QStringLiteral("max_ms")).toDouble(), 0), load(record), error(record)),
            page.contains(QStringLiteral("max_ms")) && page.value(QStringLiteral("max_ms")).toDouble() <= 200);
    }

    md += QStringLiteral("\nRaw results: the JSON lines below, one per benchmark.\n\n```\n");
    for (const QString& name : { QStringLiteral("receive"), QStringLiteral("scale"), QStringLiteral("startstop"),
             QStringLiteral("command"), QStringLiteral("seatplan"), QStringLiteral("student"),
             QStringLiteral("scale-large"), QStringLiteral("scale-large-norepeat"),
             QStringLiteral("flood-registrations"), QStringLiteral("flood-policy"), QStringLiteral("lessonrecord") })
        md += readText(dir.filePath(name + QStringLiteral(".json"))).trimmed() + QLatin1Char('\n');
    const QString profile = readText(dir.filePath(QStringLiteral("profile-joins.json"))).trimmed();
    if (!profile.isEmpty())
        md += profile + QLatin1Char('\n');
    for (const QString& suffix : pairSuffixes(dir).mid(1))
        for (const QString& name : { QStringLiteral("scale-large"), QStringLiteral("scale-large-norepeat") })
            md += readText(dir.filePath(name + suffix + QStringLiteral(".json"))).trimmed() + QLatin1Char('\n');
    md += QStringLiteral("```\n");
    return md;
}
