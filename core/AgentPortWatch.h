#pragma once

#include "core/AnswerBudget.h"
#include "core/RepeatCounter.h"
#include "core/SentLedger.h"
#include "core/UdpServer.h"

#include <QByteArray>
#include <QHash>
#include <QSet>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <unordered_map>
#include <vector>

// Listens where the agents listen. Anyone on the lab network can send the
// agents what the console sends them, from any source address; this socket,
// on the agents' port beside any agent on this PC and joined to every
// page's multicast group, sees what reaches them and judges it by content.
// A lock word or policy is the console's own only when it bears the
// console's address and port and is one the console sent to that group and
// not yet heard back (SentLedger); anything else agents obey is foreign, is
// answered at once, each word on its own, and is told, all on the watch's
// own thread.
class AgentPortWatch final
{
public:
    enum Kind { Beacon = 1, LockState, Policy, JoinGroup, Reregister };
    using Clock = std::chrono::steady_clock;
    static constexpr int TimerMs = 10;
    // Answers leave at once, so no student can time its words to them; a
    // group answers at most this many words a second (two consoles on the
    // same groups would answer each other without end), and the budget
    // bounds the bytes. A word that must wait is answered as soon as both
    // allow, so the last foreign word never stands.
    static constexpr int AnswersPerSecond = 100;
    // A foreign policy brings the page's policy again, at most once per this.
    static constexpr int PolicyAnswerMs = 1000;
    // A group that a foreign join named and no page has is watched and held
    // at the strictest lock word of the pages, sent at once and every
    // EscapeRepeatMs, until EscapeAfterSweepMs after the first sweep of the
    // joins that followed the group's last join (the agents are back), or
    // EscapeMaxMs after that join when no sweep came. At most
    // MaxEscapeGroups at once; a new one takes the place of the oldest.
    static constexpr int MaxEscapeGroups = 8;
    static constexpr int EscapeRepeatMs = 300;
    static constexpr int EscapeAfterSweepMs = 1000;
    static constexpr int EscapeMaxMs = 30000;
    // The pages repeat their lock word and policy every this.
    static constexpr int RepetitionMs = 600;
    // How long a sender counts as one sighting, and how many senders are
    // told apart at once.
    static constexpr qint64 SenderWindowMs = 10 * 60 * 1000;
    static constexpr int MaxSenders = 1024;

    struct Callbacks
    {
        // Send the page at multicast address `group` its lock word and/or
        // its policy again, as they are now.
        std::function<void(uint32_t group, bool lock, bool policy)> answer;
        // Send `datagram` to `group`, a group no page has.
        std::function<void(uint32_t group, const QByteArray& datagram)> sendTo;
        // Someone told agents which group they are in: sweep the joins.
        std::function<void()> joinSeen;
        // The first foreign datagram of `sender` (network order) in its
        // window; `forged`: it bore the console's own address and port;
        // `destination`: where it went (0: not known).
        std::function<void(uint32_t sender, Kind kind, bool forged, uint32_t destination)> senderSeen;
    };

    // The key of a sender in senders(): a forged source apart from a real
    // sender at that address.
    static quint64 senderKey(uint32_t sender, bool forged) { return forged ? quint64(1) << 32 | sender : sender; }

    // `ownPort`: the port the console sends from.
    explicit AgentPortWatch(uint16_t ownPort);
    ~AgentPortWatch();
    AgentPortWatch(const AgentPortWatch&) = delete;
    AgentPortWatch& operator=(const AgentPortWatch&) = delete;

    // Before open(); they run on the watch thread.
    void setCallbacks(Callbacks callbacks);
    // Before open(): what answers spend; without one they are bounded only
    // by AnswersPerSecond.
    void setBudget(AnswerBudget* budget);
    // Binds `port` beside whoever holds it and starts the watch thread. False
    // when the port is held by a socket that does not share it.
    bool open(uint16_t port);
    bool isOpen() const { return server.fd() > 0; }
    // The pages' multicast groups (network order); joins the new ones and
    // leaves the rest. Any thread.
    void setGroups(const QSet<uint32_t>& groups);
    void stop();

    // Any thread, before it leaves: the console sends `datagram` to
    // `address` (network order).
    void noteSent(uint32_t address, const QByteArray& datagram, Clock::time_point now);
    // Any thread: every machine was just sent its join.
    void noteSwept(Clock::time_point now);
    // The bytes a second of the pages' repeated words, as last sent.
    double repetitionBytesPerSecond() const;
    // Foreign words that hit each group since the last call (any thread).
    QHash<uint32_t, int> takeHits();

    // Counts of the senders seen (senderKey); the UI reads how often each
    // came back.
    RepeatCounter& senders() { return sender_counter; }

    // One datagram as the watch thread handles it (the tests and the fuzzer
    // feed it straight). `destination` 0 when not known.
    void handle(const char* data, size_t len, uint32_t source, uint16_t port, uint32_t destination,
        Clock::time_point now);
    // Called on the watch thread every TimerMs: answers that had to wait,
    // the escape groups' words and their end.
    void flushHeldResends(Clock::time_point now);

    // This PC's IPv4 addresses (network order), loopback and 0.0.0.0
    // included; `broadcasts`: its networks' broadcast addresses and
    // 255.255.255.255.
    static std::vector<uint32_t> localAddresses(std::vector<uint32_t>* broadcasts = nullptr);

private:
    struct Answer
    {
        double tokens = AnswersPerSecond;
        Clock::time_point refilled;
        bool lockOwed = false;
        bool policyOwed = false;
        bool policySent = false;
        Clock::time_point policyAt;
        Clock::time_point lockAt;
    };
    struct Escape
    {
        Clock::time_point lastJoin;
    };

    void readAddresses();
    bool isLocal(uint32_t address);
    bool isOwn(uint32_t source, uint16_t port) { return port == own_port && isLocal(source); }
    bool isBroadcast(uint32_t address);
    QSet<uint32_t> pageGroups();
    void told(uint32_t sender, Kind kind, bool forged, uint32_t destination);
    void handleJoin(const char* data, size_t len, uint32_t source, bool own, uint32_t destination,
        Clock::time_point now);
    void hit(uint32_t group, const char* data, size_t len, bool policy, bool forged, Clock::time_point now);
    void tryAnswer(uint32_t group, Answer& answer, Clock::time_point now);
    void guardEscape(uint32_t group, Clock::time_point now);
    void endEscape(uint32_t group);

    const uint16_t own_port;
    UdpServer server;
    Callbacks callbacks;
    AnswerBudget* budget = nullptr;
    SentLedger ledger;
    mutable std::mutex group_mutex;
    QSet<uint32_t> joined;
    RepeatCounter sender_counter { SenderWindowMs, MaxSenders };
    std::mutex hits_mutex;
    QHash<uint32_t, int> hits;
    std::atomic<Clock::rep> swept_at { 0 };
    // Watch thread only.
    std::vector<uint32_t> own_addresses;
    std::vector<uint32_t> own_broadcasts;
    Clock::time_point addresses_read;
    std::unordered_map<uint32_t, Answer> answers;
    std::unordered_map<uint32_t, Escape> escapes;
    Clock::time_point pruned;
};
