#pragma once

#include <QJsonObject>
#include <QString>

// Turns the JSON results of one scripts/bench run (one file per benchmark,
// plus /usr/bin/time -v output) into the Markdown table of bench/results.md.
class BenchReport final
{
public:
    static QString markdown(const QString& resultDir);
    // Machine facts and load, recorded with every result.
    static QJsonObject machine();
};
