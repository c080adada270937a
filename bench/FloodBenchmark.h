#pragma once

#include "BenchOptions.h"

#include <QJsonObject>

// A student PC that floods the console. "registrations": 20,000 made-up
// MACs register from one address in about a second, then a genuine new PC
// registers from another; the UI thread's stalls, memory, the database and
// how soon the genuine PC holds its join. "policy": a known machine reports
// an old policy version 10,000 times a second from its own address; how many
// policy multicasts the console sends its group for that, and the CPU.
class FloodBenchmark final
{
public:
    static QJsonObject run(const BenchOptions& options);
};
