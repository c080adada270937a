#pragma once

#include "RepeatCounter.h"
#include "UdpServer.h"

#include <QSet>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <unordered_map>
#include <vector>

// Listens where the agents listen. Anyone on the lab network can send the
// agents what the console sends them; this socket, on the agents' port
// beside any agent on this PC and joined to every page's multicast group,
// sees what reaches them. Datagrams the console sent itself (its port on one
// of this PC's addresses) are passed over; another sender's lock state,
// policy, join or beacon is foreign, and the callbacks say so on the watch's
// own thread.
class AgentPortWatch final
{
public:
    enum Kind { Beacon = 1, LockState, Policy, JoinGroup };
    // Foreign datagrams on a page's group make it repeat its state at once,
    // but no more often than this, so a flood is not answered in kind.
    static constexpr int ResendIntervalMs = 50;
    static constexpr int TimerMs = 10;
    // How long a sender counts as one sighting, and how many senders are
    // told apart at once.
    static constexpr qint64 SenderWindowMs = 10 * 60 * 1000;
    static constexpr int MaxSenders = 1024;

    struct Callbacks
    {
        // Someone else set the state of the group at `group`: send ours again.
        std::function<void(uint32_t group)> stateOverridden;
        // Someone else told agents which group they are in.
        std::function<void()> joinSeen;
        // The first datagram of `sender` (network order) in its window.
        std::function<void(uint32_t sender, Kind kind)> senderSeen;
    };

    // `ownPort`: the port the console sends from.
    explicit AgentPortWatch(uint16_t ownPort);
    ~AgentPortWatch();
    AgentPortWatch(const AgentPortWatch&) = delete;
    AgentPortWatch& operator=(const AgentPortWatch&) = delete;

    // Before open(); they run on the watch thread.
    void setCallbacks(Callbacks callbacks);
    // Binds `port` beside whoever holds it and starts the watch thread. False
    // when the port is held by a socket that does not share it.
    bool open(uint16_t port);
    bool isOpen() const { return server.fd() > 0; }
    // The pages' multicast groups (network order); joins the new ones and
    // leaves the rest. Any thread.
    void setGroups(const QSet<uint32_t>& groups);
    void stop();

    // Counts of the senders seen; the UI reads how often each came back.
    RepeatCounter& senders() { return sender_counter; }

    // One datagram as the watch thread handles it (the tests and the fuzzer
    // feed it straight). `destination` 0 when not known.
    void handle(const char* data, size_t len, uint32_t source, uint16_t port, uint32_t destination,
        std::chrono::steady_clock::time_point now);
    // Called on the watch thread every TimerMs: the resends held back.
    void flushHeldResends(std::chrono::steady_clock::time_point now);

    // This PC's IPv4 addresses (network order), loopback and 0.0.0.0 included.
    static std::vector<uint32_t> localAddresses();

private:
    bool isOwn(uint32_t source, uint16_t port);
    void overridden(uint32_t group, std::chrono::steady_clock::time_point now);

    struct Resend
    {
        std::chrono::steady_clock::time_point last;
        bool held = false;
    };

    const uint16_t own_port;
    UdpServer server;
    Callbacks callbacks;
    std::mutex group_mutex;
    QSet<uint32_t> joined;
    RepeatCounter sender_counter { SenderWindowMs, MaxSenders };
    // Watch thread only.
    std::vector<uint32_t> own_addresses;
    std::chrono::steady_clock::time_point addresses_read;
    std::unordered_map<uint32_t, Resend> resends;
    int held_count = 0;
};
