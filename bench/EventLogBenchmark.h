#pragma once

#include "BenchOptions.h"

#include <QJsonObject>

// The event log with a million rows: how long a write (the flush of a few
// events with its prune) holds the UI thread, and what opening such a table
// costs. An empty table gives what a write costs whatever the table holds
// (the commit's syncs to disk); then two tables: the most the bounds keep (the ordinary and the "安全"
// rows at their bounds, the rest evidence kept by age), and one written
// before "安全" rows had a bound (a forging student's million rows), which
// the first open prunes.
class EventLogBenchmark final
{
public:
    static QJsonObject run(const BenchOptions& options);
};
