#pragma once

#include <QByteArray>
#include <QHash>
#include <QSet>

#include <chrono>
#include <cstdint>
#include <deque>
#include <mutex>

// What the console sent to each multicast group, until the watch of the
// agents' port hears it come back. A datagram on a group that bears the
// console's own address and port but is not one it sent there, or one more
// than it sent, was forged: the sources of datagrams prove nothing. Keeps
// the last lock word and policy sent to each group, the words the group's
// agents are meant to hold. Thread-safe.
class SentLedger final
{
public:
    using Clock = std::chrono::steady_clock;
    // A datagram not heard back within this long is forgotten (the watch's
    // receive queue dropped it): no forger can reuse it later.
    static constexpr int KeepMs = 2000;
    // Datagrams awaited per group; the console repeats two every 600 ms.
    static constexpr int MaxPending = 64;

    // Any thread, before the datagram leaves: the console sent `datagram`
    // to `group` (network-order bytes; a multicast address, else ignored).
    void noteSent(uint32_t group, const QByteArray& datagram, Clock::time_point now);
    // A datagram bearing the console's address came back on `group` (0: the
    // system did not say where; any group). True, and taken, when it is one
    // the console sent there and was not heard yet.
    bool takeHeard(uint32_t group, const char* data, size_t len, Clock::time_point now);
    // The last lock-state and policy datagram sent to `group`; empty when none.
    QByteArray lastLock(uint32_t group) const;
    QByteArray lastPolicy(uint32_t group) const;
    // The bytes on the wire of one repetition of the last lock word and
    // policy of each of `groups`.
    int repetitionBytes(const QSet<uint32_t>& groups) const;
    // The strictest of the last lock words of `groups`, and the policy last
    // sent with it; empty when none of them has sent one.
    struct Words
    {
        QByteArray lock;
        QByteArray policy;
    };
    Words strictest(const QSet<uint32_t>& groups) const;
    // Drops the groups outside `keep` that await nothing.
    void prune(const QSet<uint32_t>& keep, Clock::time_point now);

private:
    struct Pending
    {
        Clock::time_point sent;
        QByteArray datagram;
    };
    struct Group
    {
        std::deque<Pending> pending;
        QByteArray lock;
        QByteArray policy;
    };

    static void expire(Group& group, Clock::time_point now);
    static bool take(Group& group, const char* data, size_t len);

    mutable std::mutex mutex;
    QHash<uint32_t, Group> groups;
};
