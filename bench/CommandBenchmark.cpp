#include "CommandBenchmark.h"

#include "core/Protocol.h"
#include "EventWait.h"
#include "GroupCapture.h"
#include "LabSeed.h"
#include "pages/QStudentGroupWidget.h"
#include "Percentiles.h"
#include "ProcessUsage.h"
#include "RokVtxAdmin.h"
#include "SimulatorRun.h"

#include <QAction>
#include <QHash>
#include <QRandomGenerator>
#include <QTabWidget>
#include <QTemporaryDir>

#include <cstdio>
#include <memory>

QJsonObject CommandBenchmark::run(const BenchOptions& options)
{
    QJsonObject result;
    result.insert(QStringLiteral("bench"), QStringLiteral("command"));
    result.insert(QStringLiteral("groups"), options.groups);
    result.insert(QStringLiteral("commands"), options.commands);

    QTemporaryDir dir;
    QString error;
    if (!dir.isValid() || !LabSeed::write(dir.path(), options.agents, options.groups, &error, options.catalog)) {
        result.insert(QStringLiteral("error"), QStringLiteral("seeding failed: %1").arg(error));
        return result;
    }
    auto window = std::make_unique<RokVtxAdmin>(dir.path());
    window->show();
    if (!window->networkReady()) {
        result.insert(QStringLiteral("error"), QStringLiteral("the console could not open its UDP port"));
        return result;
    }
    window->tabWidget()->setCurrentIndex(0);
    EventWait::forMs(1000);

    SimulatorRun simulator;
    if (options.commandUnderLoad) {
        simulator.start({ QStringLiteral("--agents"), QString::number(options.agents), QStringLiteral("--console"),
            QStringLiteral("127.0.0.1"), QStringLiteral("--summary-only"), QStringLiteral("--report-ms"),
            QStringLiteral("1000") });
        EventWait::until(
            [&] { return simulator.summary().value(QStringLiteral("registered")).toInt() >= options.agents; }, 30000,
            50);
        EventWait::forMs(3000);
        result.insert(QStringLiteral("agents_heartbeating"),
            simulator.summary().value(QStringLiteral("registered")).toInt());
    }

    QList<uint32_t> groups;
    QList<QStudentGroupWidget*> pages;
    for (int i = 1; i < window->tabWidget()->count(); ++i) {
        QStudentGroupWidget* page = window->pageAt(i);
        if (page && page->group_addr.load() != 0) {
            groups << page->group_addr.load();
            pages << page;
        }
    }
    result.insert(QStringLiteral("group_addresses"), groups.size());
    GroupCapture capture;
    if (!capture.open(groups)) {
        result.insert(QStringLiteral("error"), QStringLiteral("cannot join the group addresses"));
        return result;
    }
    capture.start();

    auto* lock = window->findChild<QAction*>(QStringLiteral("action_op_lock"));
    if (!lock) {
        result.insert(QStringLiteral("error"), QStringLiteral("no action_op_lock"));
        return result;
    }

    Percentiles lastGroup; // per command: when the last group's datagram was seen
    Percentiles everyGroup;
    Percentiles commandUi;
    int missing = 0;
    for (int i = 0; i < options.commands; ++i) {
        // Away from the pages' own 300 ms repetition rhythm.
        EventWait::forMs(250 + int(QRandomGenerator::global()->bounded(200)));
        const int64_t t0 = ProcessUsage::realtimeNs();
        const int64_t ui0 = ProcessUsage::monotonicNs();
        lock->trigger(); // on and off in turn: choosing the active lock again releases it
        commandUi.add(double(ProcessUsage::monotonicNs() - ui0) / 1e6);
        const uint32_t word = Protocol::lockStateWord(*pages.constFirst()->lock_state);
        EventWait::forMs(150);

        QHash<uint32_t, int64_t> first;
        for (const GroupCapture::LockSeen& seen : capture.seenSince(t0)) {
            if (seen.word == word && !first.contains(seen.group))
                first.insert(seen.group, seen.atRealtimeNs);
        }
        double latest = 0;
        for (uint32_t group : groups) {
            const auto it = first.constFind(group);
            if (it == first.constEnd()) {
                ++missing;
                continue;
            }
            const double ms = double(it.value() - t0) / 1e6;
            everyGroup.add(ms);
            latest = std::max(latest, ms);
        }
        lastGroup.add(latest);
    }
    // The pages repeat lock and policy in turn, so each group's lock state
    // comes round every second period: 600 ms.
    const int64_t quiet = ProcessUsage::realtimeNs();
    EventWait::forMs(3000);
    QHash<uint32_t, int64_t> previous;
    Percentiles repeatGap;
    for (const GroupCapture::LockSeen& seen : capture.seenSince(quiet)) {
        const auto it = previous.constFind(seen.group);
        if (it != previous.constEnd())
            repeatGap.add(double(seen.atRealtimeNs - it.value()) / 1e6);
        previous.insert(seen.group, seen.atRealtimeNs);
    }
    capture.stop();
    simulator.stop();

    result.insert(QStringLiteral("repeat_gap_p50_ms"), repeatGap.at(50));
    result.insert(QStringLiteral("repeat_gap_p95_ms"), repeatGap.at(95));
    result.insert(QStringLiteral("repeat_gaps"), int(repeatGap.count()));

    result.insert(QStringLiteral("all_groups_p50_ms"), lastGroup.at(50));
    result.insert(QStringLiteral("all_groups_max_ms"), lastGroup.max());
    result.insert(QStringLiteral("one_group_p50_ms"), everyGroup.at(50));
    result.insert(QStringLiteral("command_ui_p50_ms"), commandUi.at(50));
    result.insert(QStringLiteral("command_ui_max_ms"), commandUi.max());
    result.insert(QStringLiteral("missing"), missing);
    window.reset();
    return result;
}
