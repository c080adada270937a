#pragma once

#include "BenchOptions.h"

#include <QJsonObject>

// A student PC that floods the console. "registrations": 20,000 made-up
// MACs register from one address in about a second, then a genuine new PC
// registers from another; the UI thread's stalls, memory, the database and
// how soon the genuine PC holds its join. "policy": a known machine reports
// an old policy version 10,000 times a second from its own address; how many
// policy multicasts the console sends its group for that, and the CPU.
// "boot": made-up registrations at --rate a second from many addresses while
// 20 PCs boot; how many hold their join within 20 s. "reregister": the
// agents' MSG_ADMIN_REREGISTER broadcast at --rate a second to --agents
// agents; the registrations that follow and the console's CPU.
class FloodBenchmark final
{
public:
    static QJsonObject run(const BenchOptions& options);
};
