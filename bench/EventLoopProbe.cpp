#include "EventLoopProbe.h"

#include "ProcessUsage.h"

EventLoopProbe::EventLoopProbe(QObject* parent)
    : QObject(parent)
{
    timer_.setTimerType(Qt::PreciseTimer);
    timer_.setInterval(IntervalMs);
    connect(&timer_, &QTimer::timeout, this, &EventLoopProbe::tick);
}

void EventLoopProbe::start()
{
    last_ = 0;
    timer_.start();
}

void EventLoopProbe::stop()
{
    timer_.stop();
}

void EventLoopProbe::reset()
{
    lateness_.clear();
    worst_ = -1;
    worstAt_ = 0;
}

void EventLoopProbe::tick()
{
    const int64_t now = ProcessUsage::monotonicNs();
    if (last_ != 0) {
        const double late = std::max(0.0, double(now - last_) / 1e6 - IntervalMs);
        lateness_.add(late);
        if (late > worst_) {
            worst_ = late;
            worstAt_ = now / 1000;
        }
        all_.add(late);
    }
    last_ = now;
}
