#pragma once

#include "HeldPolicy.h"
#include "SimulatorCounters.h"

#include <QByteArray>
#include <QString>
#include <asio/io_context.hpp>
#include <asio/ip/udp.hpp>
#include <chrono>
#include <cstdint>
#include <memory>
#include <random>
#include <system_error>

// One student computer: its identity, its socket on its own loopback
// address, its send schedule and what the console told it. It only sends;
// the simulator reads the socket, hands over what the console said, and
// calls tick() when the agent's next send is due.
class SimulatedAgent final
{
public:
    using Clock = std::chrono::steady_clock;

    struct Schedule
    {
        std::chrono::milliseconds heartbeat { 1000 };
        // Each heartbeat moves by up to this much either way; below heartbeat / 2.
        std::chrono::milliseconds jitter { 0 };
        // 0: never report the policy version.
        std::chrono::milliseconds policyReport { 5000 };
    };

    // `address` in host byte order. `counters` must outlive the agent.
    SimulatedAgent(asio::io_context& io, uint64_t mac, const QString& hostName, uint32_t address,
        const Schedule& schedule, SimulatorCounters& counters);
    SimulatedAgent(const SimulatedAgent&) = delete;
    SimulatedAgent& operator=(const SimulatedAgent&) = delete;

    // Binds the socket to the agent's address, port 57852, non-blocking.
    bool open(std::error_code& error);
    asio::ip::udp::socket& socket() { return socket_; }

    // Registers with `console` at `firstTick`; returns when tick() is due.
    Clock::time_point start(const asio::ip::udp::endpoint& console, Clock::time_point firstTick);
    // Sends whatever is due by `now`; returns when it is due next.
    Clock::time_point tick(Clock::time_point now);

    // Unplugged: sends nothing and takes in nothing; the schedule runs on so
    // that the agent comes back in its own phase.
    bool isSilent() const { return silent_; }
    void setSilent(bool silent, Clock::time_point now);

    // What it was told, by the console or anyone else speaking like it.
    // Group addresses are network-order bytes.
    void joinGroup(uint32_t group);
    void reregister();
    void holdLock(uint32_t word, Clock::time_point now);
    void holdPolicy(std::shared_ptr<const HeldPolicy> policy);

    // What the console itself wants of it: the group it last put the agent
    // in, and whether its own last word for that group locks.
    void assignConsoleGroup(uint32_t group, bool consoleLocks, Clock::time_point now);
    void setConsoleLocks(bool consoleLocks, Clock::time_point now);
    uint32_t consoleGroup() const { return consoleGroup_; }
    // How long it has held an unlocked word, not silent, while the console
    // wanted its group locked.
    Clock::duration unlockedTime(Clock::time_point now) const;

    uint64_t mac() const { return mac_; }
    // When its last datagram left; the epoch of Clock when it has sent none
    // since it started or last changed between silent and not.
    Clock::time_point lastSent() const { return lastSent_; }
    // The longest time between two of its datagrams since the last call,
    // a silence excepted (the simulator itself may fall behind).
    Clock::duration takeLongestGap()
    {
        const Clock::duration gap = longestGap_;
        longestGap_ = Clock::duration::zero();
        return gap;
    }
    uint32_t group() const { return group_; }
    bool isRegistered() const { return registered_; }
    bool holdsLock() const { return hasLock_; }
    bool holdsPolicy() const { return policy_ != nullptr; }

    // One compact JSON object, no newline; times up to `now`.
    QByteArray reportLine(Clock::time_point now) const;

private:
    Clock::time_point nextDue() const;
    void send(const QByteArray& datagram);
    void sendRegister();
    static Clock::time_point nextAfter(Clock::time_point due, Clock::duration period, Clock::time_point now);
    bool isUnlockedAgainstConsole() const;
    // Adds the time since the last change to unlocked_, if it counted.
    // Called before each change of what isUnlockedAgainstConsole() reads.
    void accrue(Clock::time_point now);

    uint64_t mac_ = 0;
    QString hostName_;
    uint32_t address_ = 0;
    QString macText_;
    QString macDisplay_;
    QString addressText_;
    QByteArray registerDatagram_;
    QByteArray heartbeatDatagram_;
    Schedule schedule_;
    SimulatorCounters& counters_;

    asio::ip::udp::socket socket_;
    asio::ip::udp::endpoint console_;
    bool started_ = false;
    Clock::time_point heartbeatNominal_;
    Clock::time_point heartbeatDue_;
    Clock::time_point reportDue_;
    Clock::time_point lastSent_;
    Clock::duration longestGap_ = Clock::duration::zero();
    std::minstd_rand random_;

    bool silent_ = false;
    bool registered_ = false;
    uint32_t group_ = 0;
    bool hasLock_ = false;
    uint32_t lockWord_ = 0;
    std::shared_ptr<const HeldPolicy> policy_;
    uint32_t consoleGroup_ = 0;
    bool consoleLocks_ = false;
    Clock::duration unlocked_ = Clock::duration::zero();
    Clock::time_point accruedUntil_;

    uint64_t joins_ = 0;
    uint64_t locks_ = 0;
    uint64_t policies_ = 0;
    uint64_t reregisters_ = 0;
    uint64_t sent_ = 0;
};
