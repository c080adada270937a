#include "BenchOptions.h"
#include "BenchReport.h"
#include "CommandBenchmark.h"
#include "EventLogBenchmark.h"
#include "LessonRecordBenchmark.h"
#include "FloodBenchmark.h"
#include "LabSeed.h"
#include "ReceiveBenchmark.h"
#include "ScaleBenchmark.h"
#include "SeatPlanBenchmark.h"
#include "StartStopBenchmark.h"
#include "StudentBenchmark.h"

#include "RokResources.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstdio>

namespace {

void printResult(const QJsonObject& result)
{
    const QByteArray line = QJsonDocument(result).toJson(QJsonDocument::Compact);
    std::fprintf(stdout, "%s\n", line.constData());
    std::fflush(stdout);
}

} // namespace

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("rok-bench"));
    QApplication::setQuitOnLastWindowClosed(false);
    initRokResources();

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Benchmarks of the teacher's console. Opens the console's UDP port: run it only inside scripts/netns.\n"
        "Each run prints one JSON object on standard output."));
    parser.addHelpOption();
    parser.addPositionalArgument(QStringLiteral("benchmark"),
        QStringLiteral("receive | scale | startstop | command | seatplan | student | flood | eventlog | lessonrecord; seed DIR and open DIR to profile a start by "
                       "hand; report DIR to turn a directory of results into Markdown."));
    const QCommandLineOption agents(QStringLiteral("agents"), QStringLiteral("Simulated agents (5000)."), QStringLiteral("N"));
    const QCommandLineOption groups(QStringLiteral("groups"), QStringLiteral("Stored groups (50)."), QStringLiteral("N"));
    const QCommandLineOption window(
        QStringLiteral("window"), QStringLiteral("Steady window of the scale run, seconds (180); the policy flood's seconds (5)."),
        QStringLiteral("S"));
    const QCommandLineOption repeats(
        QStringLiteral("repeats"), QStringLiteral("Starts and stops to time (5)."), QStringLiteral("N"));
    const QCommandLineOption commands(
        QStringLiteral("commands"), QStringLiteral("Lock commands to time (20)."), QStringLiteral("N"));
    const QCommandLineOption idle(
        QStringLiteral("idle"), QStringLiteral("Time the lock command without agents heartbeating."));
    const QCommandLineOption catalog(QStringLiteral("catalog"),
        QStringLiteral("Central policy entries per list in the stored school: four samples, then made-up entries of 32 bytes (4)."), QStringLiteral("N"));
    const QCommandLineOption silent(
        QStringLiteral("silent"), QStringLiteral("Agents that fall silent together (500)."), QStringLiteral("N"));
    const QCommandLineOption attack(QStringLiteral("attack"),
        QStringLiteral("Seconds of each attack of the student run (30); the flood run's attack, registrations, policy, boot or reregister."),
        QStringLiteral("S|NAME"));
    const QCommandLineOption rate(QStringLiteral("rate"),
        QStringLiteral("Foreign lock words a second in the student run (10); policy reports a second in the flood run (10000)."),
        QStringLiteral("N"));
    const QCommandLineOption modes(QStringLiteral("modes"),
        QStringLiteral("The student run's attacks, comma-separated (all): foreign-lock, forged-lock, made-up-sources, broadcast-lock, "
                       "repeat-join, repeat-join-forged, repeat-join-page, race, unicast-lock, join-escape."),
        QStringLiteral("LIST"));
    const QCommandLineOption rates(QStringLiteral("rates"),
        QStringLiteral("Words a second of each rated attack of the student run, comma-separated (3,10,50)."),
        QStringLiteral("LIST"));
    const QCommandLineOption logRows(QStringLiteral("rows"), QStringLiteral("Rows of the event log run's tables (1000000)."), QStringLiteral("N"));
    parser.addOptions({ agents, groups, window, silent, repeats, commands, idle, catalog, attack, rate, modes, rates, logRows });
    parser.process(app);

    BenchOptions options;
    if (parser.isSet(agents))
        options.agents = parser.value(agents).toInt();
    if (parser.isSet(groups))
        options.groups = parser.value(groups).toInt();
    if (parser.isSet(window))
        options.windowSeconds = parser.value(window).toInt();
    if (parser.isSet(silent))
        options.silent = parser.value(silent).toInt();
    if (parser.isSet(catalog))
        options.catalog = parser.value(catalog).toInt();
    if (parser.isSet(commands))
        options.commands = parser.value(commands).toInt();
    options.commandUnderLoad = !parser.isSet(idle);
    if (parser.isSet(repeats))
        options.repeats = parser.value(repeats).toInt();
    if (parser.isSet(logRows))
        options.logRows = parser.value(logRows).toInt();
    const QString benchmark = parser.positionalArguments().value(0);
    const bool flood = benchmark == QLatin1String("flood");
    if (parser.isSet(attack)) {
        if (flood)
            options.floodAttack = parser.value(attack);
        else
            options.attackSeconds = parser.value(attack).toInt();
    }
    if (parser.isSet(rate))
        (flood ? options.floodRate : options.studentRate) = parser.value(rate).toInt();
    if (parser.isSet(modes))
        options.studentModes = parser.value(modes).split(QLatin1Char(','), Qt::SkipEmptyParts);
    if (parser.isSet(rates)) {
        options.studentRates.clear();
        for (const QString& value : parser.value(rates).split(QLatin1Char(','), Qt::SkipEmptyParts))
            options.studentRates << value.toInt();
    }
    if (flood && parser.isSet(window))
        options.floodSeconds = parser.value(window).toInt();
    // The policy flood plays a small school: a few rooms of 100.
    if (flood && !parser.isSet(agents))
        options.agents = 300;
    if (flood && !parser.isSet(groups))
        options.groups = 3;
    // The student run plays one room.
    if (benchmark == QLatin1String("student") && !parser.isSet(agents))
        options.agents = 200;
    if (benchmark == QLatin1String("student") && !parser.isSet(groups))
        options.groups = 1;
    if (benchmark == QLatin1String("report")) {
        const QByteArray text = BenchReport::markdown(parser.positionalArguments().value(1)).toUtf8();
        std::fwrite(text.constData(), 1, size_t(text.size()), stdout);
        return 0;
    }
    if (qgetenv("ROK_NETNS_ISOLATED") != "1") {
        std::fprintf(stderr, "rok-bench: run it inside scripts/netns, which isolates the console's traffic\n");
        return 2;
    }
    QJsonObject result;
    if (benchmark == QLatin1String("scale")) {
        result = ScaleBenchmark::run(options);
    } else if (benchmark == QLatin1String("receive")) {
        result = ReceiveBenchmark::run(options);
    } else if (benchmark == QLatin1String("command")) {
        result = CommandBenchmark::run(options);
    } else if (benchmark == QLatin1String("seatplan")) {
        result = SeatPlanBenchmark::run(options);
    } else if (benchmark == QLatin1String("student")) {
        result = StudentBenchmark::run(options);
    } else if (flood) {
        result = FloodBenchmark::run(options);
    } else if (benchmark == QLatin1String("eventlog")) {
        result = EventLogBenchmark::run(options);
    } else if (benchmark == QLatin1String("lessonrecord")) {
        result = LessonRecordBenchmark::run(options);
    } else if (benchmark == QLatin1String("startstop")) {
        result = StartStopBenchmark::run(options);
    } else if (benchmark == QLatin1String("seed")) {
        // A school on disk to profile by hand: seed DIR, then open DIR.
        QString error;
        result.insert(QStringLiteral("bench"), QStringLiteral("seed"));
        if (!LabSeed::write(parser.positionalArguments().value(1), options.agents, options.groups, &error, options.catalog))
            result.insert(QStringLiteral("error"), error);
    } else if (benchmark == QLatin1String("open")) {
        result = StartStopBenchmark::openOnce(parser.positionalArguments().value(1));
    } else {
        std::fprintf(stderr, "rok-bench: unknown benchmark \"%s\"\n", benchmark.toLocal8Bit().constData());
        return 2;
    }
    result.insert(QStringLiteral("loadavg"), BenchReport::machine().value(QStringLiteral("loadavg")));
    printResult(result);
    return result.contains(QStringLiteral("error")) ? 1 : 0;
}
