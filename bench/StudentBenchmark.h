#pragma once

#include "BenchOptions.h"

#include <QJsonObject>

// A locked room against a student who speaks the console's datagrams: how
// long the agents hold an unlocked word while foreign lock words keep coming,
// and how soon a join that moved them all to a group of the student's own
// is undone. Each attack gets a console and a simulator of its own.
class StudentBenchmark final
{
public:
    static QJsonObject run(const BenchOptions& options);
};
