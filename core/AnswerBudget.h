#pragma once

#include <chrono>
#include <mutex>

// What the guard may send on top of the lab's normal traffic. Its answers
// to foreign words and its sweeps of the joins spend from one budget of
// bytes, refilled at the rate at which the console repeats its pages' words
// and its joins anyway, so no attack can make it send more than that again.
// Answers come first: one may overdraw what is left by its own size, while
// a sweep waits until the budget covers the whole of it. Thread-safe.
class AnswerBudget final
{
public:
    using Clock = std::chrono::steady_clock;

    // Bytes of a UDP datagram with `payload` bytes on an IPv4 link: the UDP
    // header, and an IP header for each fragment of 1,480 bytes.
    static int wireBytes(int payload);

    // `bytesPerSecond`: the normal repetition's; at most `capacity` bytes
    // are kept for a burst. Full at the first call.
    void setRate(double bytesPerSecond, double capacity, Clock::time_point now);
    // An answer: true, and spent, while anything is left.
    bool spend(int bytes, Clock::time_point now);
    // A sweep: true, and spent, when what is left covers it.
    bool spendWhole(int bytes, Clock::time_point now);
    double available(Clock::time_point now);

private:
    void refill(Clock::time_point now);

    std::mutex mutex;
    double rate = 0;
    double capacity = 0;
    double balance = 0;
    bool started = false;
    Clock::time_point refilled;
};
