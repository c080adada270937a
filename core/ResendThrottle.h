#pragma once

#include <chrono>
#include <mutex>

// At most one send per interval, whoever asks how often: asks in between
// are owed one send, taken once the interval is over. Keeps a 16-byte
// datagram from making the console multicast a whole policy each time.
// Thread-safe.
class ResendThrottle final
{
public:
    using Clock = std::chrono::steady_clock;

    explicit ResendThrottle(Clock::duration interval)
        : interval_(interval)
    {
    }

    // True: send now. False: one send is owed (takeOwed).
    bool request(Clock::time_point now)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (sent_ && now - last_ < interval_) {
            owed_ = true;
            return false;
        }
        sent_ = true;
        last_ = now;
        owed_ = false;
        return true;
    }

    // True, once, when an owed send is due.
    bool takeOwed(Clock::time_point now)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!owed_ || now - last_ < interval_)
            return false;
        owed_ = false;
        last_ = now;
        return true;
    }

private:
    const Clock::duration interval_;
    std::mutex mutex_;
    Clock::time_point last_;
    bool sent_ = false;
    bool owed_ = false;
};
