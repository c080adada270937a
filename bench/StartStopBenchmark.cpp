#include "StartStopBenchmark.h"

#include "core/QStudentManage.h"
#include "EventWait.h"
#include "LabSeed.h"
#include "pages/QStudentGroupWidget.h"
#include "Percentiles.h"
#include "ProcessUsage.h"
#include "RokVtxAdmin.h"
#include "tableview/QtRokTableView.h"

#include <QCoreApplication>
#include <QDir>
#include <QEvent>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QTabWidget>
#include <QTemporaryDir>

#include <cstdio>
#include <memory>

namespace {

// Notes the first paint of the table the teacher sees first.
class FirstPaint final : public QObject
{
public:
    int64_t atNs = 0;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Paint && atNs == 0)
            atNs = ProcessUsage::monotonicNs();
        return QObject::eventFilter(watched, event);
    }
};

double ms(int64_t fromNs, int64_t toNs)
{
    return double(toNs - fromNs) / 1e6;
}

QJsonObject summary(const Percentiles& values)
{
    QJsonObject json;
    json.insert(QStringLiteral("median_ms"), values.at(50));
    json.insert(QStringLiteral("max_ms"), values.max());
    json.insert(QStringLiteral("min_ms"), values.min());
    return json;
}

} // namespace

QJsonObject StartStopBenchmark::openOnce(const QString& dataDir)
{
    QJsonObject result;
    const double processMs = ProcessUsage::sinceProcessStartMs();
    const int64_t start = ProcessUsage::monotonicNs();
    auto window = std::make_unique<RokVtxAdmin>(dataDir);
    const int64_t constructed = ProcessUsage::monotonicNs();
    FirstPaint paint;
    window->allPage()->machine_table->viewport()->installEventFilter(&paint);
    window->show();
    const bool painted = EventWait::until([&] { return paint.atNs != 0; }, 20000, 1);
    const int64_t shown = painted ? paint.atNs : ProcessUsage::monotonicNs();

    result.insert(QStringLiteral("construct_ms"), ms(start, constructed));
    result.insert(QStringLiteral("window_up_ms"), ms(start, shown));
    result.insert(QStringLiteral("process_start_to_up_ms"), processMs + ms(start, shown));
    result.insert(QStringLiteral("painted"), painted);
    result.insert(QStringLiteral("tabs"), window->tabWidget()->count());
    result.insert(QStringLiteral("rows_all"), window->allPage()->machine_table->getRowCount());

    // Let the start finish (config.conf is read 100 ms in), then quit as
    // "退出(&X)" does: the event loop returns and the window is destroyed.
    EventWait::forMs(1500);
    // The saves the exit makes (config.conf and the database), timed alone;
    // then the whole exit, which makes them once more and tears the window down.
    const int64_t saving = ProcessUsage::monotonicNs();
    window->saveNow();
    result.insert(QStringLiteral("save_ms"), ms(saving, ProcessUsage::monotonicNs()));
    const int64_t closing = ProcessUsage::monotonicNs();
    window.reset();
    result.insert(QStringLiteral("exit_ms"), ms(closing, ProcessUsage::monotonicNs()));
    return result;
}

QJsonObject StartStopBenchmark::run(const BenchOptions& options)
{
    QJsonObject result;
    result.insert(QStringLiteral("bench"), QStringLiteral("startstop"));
    result.insert(QStringLiteral("machines"), options.agents);
    result.insert(QStringLiteral("groups"), options.groups);
    result.insert(QStringLiteral("catalog_per_list"), options.catalog);

    QTemporaryDir dir;
    QString error;
    if (!dir.isValid() || !LabSeed::write(dir.path(), options.agents, options.groups, &error, options.catalog)) {
        result.insert(QStringLiteral("error"), QStringLiteral("seeding failed: %1").arg(error));
        return result;
    }

    Percentiles up;
    Percentiles processUp;
    Percentiles exit;
    Percentiles save;
    Percentiles construct;
    QJsonArray runs;
    for (int i = 0; i < options.repeats; ++i) {
        QProcess child;
        child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        child.start(QCoreApplication::applicationFilePath(), { QStringLiteral("open"), dir.path() });
        if (!child.waitForFinished(120000) || child.exitCode() != 0) {
            result.insert(QStringLiteral("error"), QStringLiteral("run %1 failed").arg(i + 1));
            return result;
        }
        const QJsonObject one = QJsonDocument::fromJson(child.readAllStandardOutput().trimmed()).object();
        runs.append(one);
        up.add(one.value(QStringLiteral("window_up_ms")).toDouble());
        processUp.add(one.value(QStringLiteral("process_start_to_up_ms")).toDouble());
        exit.add(one.value(QStringLiteral("exit_ms")).toDouble());
        save.add(one.value(QStringLiteral("save_ms")).toDouble());
        construct.add(one.value(QStringLiteral("construct_ms")).toDouble());
        std::fprintf(stderr, "startstop: run %d: up %.0f ms, exit %.0f ms\n", i + 1,
            one.value(QStringLiteral("window_up_ms")).toDouble(), one.value(QStringLiteral("exit_ms")).toDouble());
    }
    result.insert(QStringLiteral("runs"), runs);
    result.insert(QStringLiteral("window_up"), summary(up));
    result.insert(QStringLiteral("process_start_to_up"), summary(processUp));
    result.insert(QStringLiteral("construct"), summary(construct));
    result.insert(QStringLiteral("exit"), summary(exit));
    result.insert(QStringLiteral("save"), summary(save));

    // What the exits wrote must still be the whole school.
    QStudentManage check;
    check.openDatabase(QDir(dir.path()).absoluteFilePath(QStringLiteral("data.sqlite3")));
    result.insert(QStringLiteral("saved_machines"), check.allMachines().size());
    result.insert(QStringLiteral("saved_groups"), check.groupNames().size());
    result.insert(QStringLiteral("config_written"), QFile::exists(QDir(dir.path()).absoluteFilePath(QStringLiteral("config.conf"))));
    return result;
}
