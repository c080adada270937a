#pragma once

#include "Percentiles.h"

#include <QObject>
#include <QTimer>

#include <cstdint>

// Measures how late the UI thread's event loop serves a 5 ms timer: every
// interval beyond 5 ms is time the loop was busy with something else.
class EventLoopProbe final : public QObject
{
    Q_OBJECT

public:
    static constexpr int IntervalMs = 5;

    explicit EventLoopProbe(QObject* parent = nullptr);

    void start();
    void stop();
    // Forget what was measured so far (the start of a steady window).
    void reset();

    // Lateness in milliseconds of every tick since start() or reset().
    const Percentiles& lateness() const { return lateness_; }
    // Lateness in milliseconds since start(), across resets.
    const Percentiles& latenessSinceStart() const { return all_; }
    // Monotonic microseconds at the end of the latest tick since reset().
    int64_t worstAtUs() const { return worstAt_; }

private:
    void tick();

    QTimer timer_;
    int64_t last_ = 0;
    double worst_ = -1;
    int64_t worstAt_ = 0;
    Percentiles lateness_;
    Percentiles all_;
};
