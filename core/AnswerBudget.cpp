#include "core/AnswerBudget.h"

#include <algorithm>

namespace {

constexpr int UdpHeader = 8;
constexpr int IpHeader = 20;
// The payload of one IP fragment on an Ethernet link (MTU 1,500).
constexpr int FragmentPayload = 1480;

} // namespace

int AnswerBudget::wireBytes(int payload)
{
    const int datagram = UdpHeader + std::max(payload, 0);
    const int fragments = (datagram + FragmentPayload - 1) / FragmentPayload;
    return datagram + IpHeader * fragments;
}

void AnswerBudget::setRate(double bytesPerSecond, double capacity_, Clock::time_point now)
{
    std::lock_guard<std::mutex> lock(mutex);
    if (started)
        refill(now);
    rate = std::max(bytesPerSecond, 0.0);
    capacity = std::max(capacity_, 0.0);
    if (!started) {
        started = true;
        refilled = now;
        balance = capacity;
    }
    balance = std::min(balance, capacity);
}

void AnswerBudget::refill(Clock::time_point now)
{
    if (now <= refilled)
        return;
    const double seconds = std::chrono::duration<double>(now - refilled).count();
    refilled = now;
    balance = std::min(capacity, balance + rate * seconds);
}

bool AnswerBudget::spend(int bytes, Clock::time_point now)
{
    std::lock_guard<std::mutex> lock(mutex);
    refill(now);
    if (balance <= 0)
        return false;
    balance -= bytes;
    return true;
}

bool AnswerBudget::spendWhole(int bytes, Clock::time_point now)
{
    std::lock_guard<std::mutex> lock(mutex);
    refill(now);
    if (balance < bytes)
        return false;
    balance -= bytes;
    return true;
}

double AnswerBudget::available(Clock::time_point now)
{
    std::lock_guard<std::mutex> lock(mutex);
    refill(now);
    return balance;
}
