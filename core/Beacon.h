#pragma once

#include "core/WaitClock.h"

#include <QByteArray>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <thread>

// The console's announcement to every agent on the lab network: the beacon
// datagram to the broadcast address every PeriodMs, from a thread of its own.
class Beacon final
{
public:
    static constexpr int PeriodMs = 500;
    // Address (network-order bytes) and datagram, on the beacon's thread.
    using Send = std::function<void(uint32_t address, const QByteArray& datagram)>;

    explicit Beacon(Send send, std::shared_ptr<WaitClock> clock = std::make_shared<WaitClock>());
    Beacon(const Beacon&) = delete;
    Beacon& operator=(const Beacon&) = delete;
    ~Beacon();

    // The first beacon goes out at once.
    void start();
    // Ends the thread at once and waits for it.
    void stop();

private:
    void loop();

    const Send send;
    const std::shared_ptr<WaitClock> clock;
    std::unique_ptr<std::thread> thread;
    std::atomic_bool running { false };
};
