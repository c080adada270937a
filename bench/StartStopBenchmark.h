#pragma once

#include "BenchOptions.h"

#include <QJsonObject>

// A school stored on disk (machines and groups): how soon the window is up,
// and how long the exit with its saves takes. Each repetition is a fresh
// process ("open"), so every start is a real start.
class StartStopBenchmark final
{
public:
    static QJsonObject run(const BenchOptions& options);
    // One start and stop on an existing data directory, in this process.
    static QJsonObject openOnce(const QString& dataDir);
};
