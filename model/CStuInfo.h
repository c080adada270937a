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
    // UI thread only: the other machines whose names read like this one's
    // ("PC-01（…）"), marked on its rows; empty for none. Not stored.
    QString alike_names;
    std::atomic_bool online{false};
    std::atomic_uint32_t missed_ticks{0};
    // When the machine was last heard from, in milliseconds since the epoch
    // (wall clock, for display); 0 until it is heard this run. Not stored.
    std::atomic<int64_t> last_heard_ms{0};
    // `ip` as network-order bytes, 0 when it is none. The receive path
    // compares every datagram's source with it without taking a lock; the
    // registry keeps it in step with `ip`.
    std::atomic<uint32_t> address{0};
    // The address the machine is known by outside this run's datagrams: read
    // from the database, of its first registration, or the teacher's choice.
    // A grouped machine's `address` moves only back to it or by that choice.
    std::atomic<uint32_t> stored_address{0};
    // Another address that claims this MAC (an identity conflict), 0 for
    // none; it ends when that address falls silent for as long as a machine
    // takes to go off line.
    std::atomic<uint32_t> claimant{0};
    std::atomic_uint32_t claimant_missed_ticks{0};
    // Registered over the network this run and never in a group, or heard
    // again after registering: who may make room for whom at the bounds.
    std::atomic_bool ever_grouped{false};
    std::atomic_bool heard_again{false};
    // Network thread: the last registration's bytes and source, hashed, and
    // when it was last answered with a join (ms since the epoch).
    std::atomic<uint32_t> registration_fingerprint{0};
    std::atomic<int64_t> join_answered_ms{0};

    // Any thread: an identity conflict holds now.
    bool inConflict() const { return claimant.load() != 0; }

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
