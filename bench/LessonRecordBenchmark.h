#pragma once

#include "BenchOptions.h"

#include <QJsonObject>

// The record of a 90-minute exam in a room of 200 machines with 2,000
// events (machines going off line and back, commands, lock changes, "安全"
// rows): how long it takes to write as PDF (target 1 s) and to open as the
// readable page (target 200 ms: read from data.sqlite3, laid out as far as the window
// shows it, painted).
class LessonRecordBenchmark final
{
public:
    static QJsonObject run(const BenchOptions& options);
};
