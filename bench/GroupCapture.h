#pragma once

#include <QList>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

// Listens on the agents' port to the console's group multicasts, as a
// capture on the wire would, and notes every MSG_ADMIN_LOCK_STATE and every
// MSG_ADMIN_POLICY with the kernel's arrival time.
class GroupCapture final
{
public:
    struct LockSeen
    {
        uint32_t group = 0; // network-order address bytes
        uint32_t word = 0;
        int64_t atRealtimeNs = 0;
    };

    struct PolicySeen
    {
        uint32_t group = 0; // network-order address bytes
        int bytes = 0;
        int64_t atRealtimeNs = 0;
    };

    GroupCapture() = default;
    ~GroupCapture();
    GroupCapture(const GroupCapture&) = delete;
    GroupCapture& operator=(const GroupCapture&) = delete;

    // Joins every group on 127.0.0.1; false when the system refuses.
    bool open(const QList<uint32_t>& groups);
    void start();
    void stop();
    std::vector<LockSeen> seenSince(int64_t realtimeNs) const;
    std::vector<PolicySeen> policiesSince(int64_t realtimeNs) const;
    // The capture thread's id, to tell its CPU from the console's.
    int threadId() const { return tid_.load(); }

private:
    void run();

    int fd_ = -1;
    std::vector<int> memberships_;
    std::thread thread_;
    std::atomic_bool running_ { false };
    mutable std::mutex mutex_;
    std::vector<LockSeen> seen_;
    std::vector<PolicySeen> policies_;
    std::atomic_int tid_ { 0 };
};
