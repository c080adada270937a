#pragma once

#include "BenchOptions.h"

#include <QJsonObject>

// The seat plan of one page with 200 machines (a room) and of "全部" with
// 5,000: showing it (tiles laid out and first painted), every machine
// changing state at once (the table's refresh and the tiles that follow it),
// and a repaint of the window's worth of tiles.
class SeatPlanBenchmark final
{
public:
    static QJsonObject run(const BenchOptions& options);
};
