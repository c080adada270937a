#include "core/WaitClock.h"

void WaitClock::sleepUntil(Clock::time_point due, const std::function<bool()>& stopped)
{
    std::unique_lock<std::mutex> guard(mutex);
    wake.wait_until(guard, due, stopped);
}

void WaitClock::wakeAll()
{
    {
        std::lock_guard<std::mutex> guard(mutex);
    }
    wake.notify_all();
}
