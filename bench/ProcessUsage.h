#pragma once

#include <QList>
#include <QString>

#include <cstdint>

// Whole-process accounting read from /proc/self, as `top` and `time` see it.
class ProcessUsage final
{
public:
    struct Cpu
    {
        double user = 0; // seconds
        double system = 0;
        double total() const { return user + system; }
    };
    struct ThreadCpu
    {
        int tid = 0;
        QString name;
        Cpu cpu;
    };

    static Cpu processCpu();
    static QList<ThreadCpu> threadCpu();
    // Resident set now and its peak, in KiB.
    static qint64 residentKiB();
    static qint64 peakResidentKiB();
    static int threadCount();
    // Monotonic clock (CLOCK_MONOTONIC, what std::chrono::steady_clock reads
    // in every process), in nanoseconds and microseconds.
    static int64_t monotonicNs();
    static int64_t monotonicUs() { return monotonicNs() / 1000; }
    // Milliseconds since a monotonicNs() reading.
    static double msSince(int64_t startNs) { return double(monotonicNs() - startNs) / 1e6; }
    // Wall clock, as kernel receive timestamps (SO_TIMESTAMPNS) give it.
    static int64_t realtimeNs();
    // Milliseconds since this process started (10 ms resolution).
    static double sinceProcessStartMs();

private:
    static Cpu readStat(const QString& path);
    static qint64 statusField(const char* name);
};
