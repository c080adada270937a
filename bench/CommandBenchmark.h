#pragma once

#include "BenchOptions.h"

#include <QJsonObject>

// "黑屏锁定（&B)" with "全部" current and 50 groups: the time from the
// command until every group's lock datagram has arrived at the agents'
// port, as the kernel timestamps it; with the school heartbeating meanwhile.
class CommandBenchmark final
{
public:
    static QJsonObject run(const BenchOptions& options);
};
