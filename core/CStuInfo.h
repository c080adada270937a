#pragma once

#include <QString>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>

// One student machine, live. Shared by pointer between the registry, the
// pages and queued signals; never copied.
struct CStuInfo
{
    uint64_t ullmac = 0;
    QString ip;
    QString hostname;
    QString group_name;
    std::atomic_bool online{false};
    std::atomic_uint32_t missed_ticks{0};
    // When the machine was last heard from, in milliseconds since the epoch
    // (wall clock, for display); 0 until it is heard this run. Not stored.
    std::atomic<int64_t> last_heard_ms{0};
    // `ip` as network-order bytes, 0 when it is none. The receive path
    // compares every datagram's source with it without taking a lock; the
    // registry keeps it in step with `ip`.
    std::atomic<uint32_t> address{0};

    // The network thread, the registry worker and the UI thread all write
    // these two atomics without a lock; re-reading `online` after the store
    // keeps a concurrent revival from being lost.
    void markAlive()
    {
        markHeard();
        online.store(true);
        if (online.load())
            missed_ticks.store(0);
    }

    void markHeard()
    {
        using namespace std::chrono;
        last_heard_ms.store(duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count());
    }

    void markDead()
    {
        online.store(false);
        if (online.load())
            missed_ticks.store(0);
    }
};

using CStuInfo_PTR = std::shared_ptr<CStuInfo>;
