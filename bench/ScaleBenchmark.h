#pragma once

#include "BenchOptions.h"

#include <QJsonObject>

// A whole school against one console: every agent heartbeats each second,
// "全部" is current; CPU and memory of the process over a steady window,
// event-loop lateness, and how soon agents that fall silent together are
// shown "断开" (and that no other agent ever is).
class ScaleBenchmark final
{
public:
    static QJsonObject run(const BenchOptions& options);
};
