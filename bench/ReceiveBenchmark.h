#pragma once

#include "BenchOptions.h"

#include <QJsonObject>

// The console's receive path against the physical limit: datagrams per
// second its network thread handles (heartbeats, policy reports and
// registrations of many machines), beside a bare receive loop fed by the
// same sender, in alternating phases of one run.
class ReceiveBenchmark final
{
public:
    static QJsonObject run(const BenchOptions& options);
};
