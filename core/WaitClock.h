#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>

// The time and the sleeps of a worker thread: the steady clock here. Tests
// derive a clock they move by hand, so that a thread's period is checked
// exactly rather than against the wall clock.
class WaitClock
{
public:
    using Clock = std::chrono::steady_clock;

    WaitClock() = default;
    WaitClock(const WaitClock&) = delete;
    WaitClock& operator=(const WaitClock&) = delete;
    virtual ~WaitClock() = default;

    virtual Clock::time_point now() const { return Clock::now(); }
    // Sleeps until `due`, or until stopped() holds when wakeAll() is called.
    virtual void sleepUntil(Clock::time_point due, const std::function<bool()>& stopped);
    // Every sleeper checks stopped() again. Call it after making stopped()
    // true: it takes the sleepers' mutex, so no sleeper misses the change.
    void wakeAll();

    // The first multiple of `period` after `now`: threads with the same
    // period wake together, however far apart they started.
    static Clock::time_point nextMultiple(Clock::time_point now, Clock::duration period)
    {
        return Clock::time_point(period * (now.time_since_epoch() / period + 1));
    }

protected:
    std::mutex mutex;
    std::condition_variable wake;
};
