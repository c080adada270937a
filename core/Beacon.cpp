#include "core/Beacon.h"

#include "core/Protocol.h"

Beacon::Beacon(Send send, std::shared_ptr<WaitClock> clock)
    : send(std::move(send))
    , clock(std::move(clock))
{
}

Beacon::~Beacon()
{
    stop();
}

void Beacon::start()
{
    if (thread)
        return;
    running.store(true);
    try {
        thread = std::make_unique<std::thread>([this] { loop(); });
    } catch (...) {
        running.store(false);
        throw;
    }
}

void Beacon::stop()
{
    running.store(false);
    clock->wakeAll();
    if (thread && thread->joinable())
        thread->join();
}

void Beacon::loop()
{
    const QByteArray beacon = Protocol::buildBeacon();
    const uint32_t broadcast = Protocol::addressFromOctets(255, 255, 255, 255);
    const auto stopped = [this] { return !running.load(); };
    // Fixed deadlines keep the period at 500 ms however long a send or a
    // busy machine delays the thread.
    auto deadline = clock->now();
    while (running.load()) {
        send(broadcast, beacon);
        deadline += std::chrono::milliseconds(PeriodMs);
        const auto now = clock->now();
        if (deadline < now)
            deadline = now; // fell behind: no burst to catch up
        clock->sleepUntil(deadline, stopped);
    }
}
