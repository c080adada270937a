#pragma once

#include "core/WaitClock.h"

#include <atomic>
#include <vector>

// A clock the test moves by hand. Every sleep is noted with its due time, so
// a test reads the period a thread chose, and a thread wakes only when the
// test moves the time to its due (or stops it).
class HandClock final : public WaitClock
{
public:
    explicit HandClock(qint64 startMs = 0)
        : ms(startMs)
    {
    }

    Clock::time_point now() const override { return at(ms.load()); }

    void sleepUntil(Clock::time_point due, const std::function<bool()>& stopped) override
    {
        std::unique_lock<std::mutex> guard(mutex);
        dues.push_back(std::chrono::duration_cast<std::chrono::milliseconds>(due.time_since_epoch()).count());
        wake.notify_all();
        wake.wait(guard, [&] { return stopped() || now() >= due; });
    }

    // The due time (ms) of the n-th sleep (from 1), once a thread began it;
    // -1 when none did within seconds. A thread begins its next sleep only
    // after its work of the last wake-up is done.
    int sleep(int n)
    {
        std::unique_lock<std::mutex> guard(mutex);
        if (!wake.wait_for(guard, std::chrono::seconds(10), [&] { return int(dues.size()) >= n; }))
            return -1;
        return int(dues[size_t(n - 1)]);
    }

    void setTime(qint64 toMs)
    {
        {
            std::lock_guard<std::mutex> guard(mutex);
            ms.store(toMs);
        }
        wake.notify_all();
    }

    static Clock::time_point at(qint64 atMs) { return Clock::time_point(std::chrono::milliseconds(atMs)); }

private:
    std::atomic<qint64> ms;
    std::vector<qint64> dues;
};
