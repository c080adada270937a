#pragma once

#include "ForgedSender.h"
#include "SimulatorOptions.h"

#include <QByteArray>
#include <asio/io_context.hpp>
#include <asio/ip/udp.hpp>
#include <asio/steady_timer.hpp>
#include <chrono>
#include <cstdint>
#include <list>
#include <set>
#include <system_error>

// A student on the lab network who speaks the console's datagrams to the
// agents, or an agent's to the console, from a socket of its own on an
// ephemeral port, or with the console's own address and port (forging).
// It runs on the simulator's event loop and only sends; the agents hear it
// as real agents would, and the simulator measures what that costs the
// console.
class MisbehavingStudent final
{
public:
    using Clock = std::chrono::steady_clock;

    MisbehavingStudent(asio::io_context& io, const SimulatorOptions& options);
    MisbehavingStudent(const MisbehavingStudent&) = delete;
    MisbehavingStudent& operator=(const MisbehavingStudent&) = delete;

    // Binds --student-address, never on the console's or the agents' port;
    // with --student-forge opens the raw socket too.
    bool open(std::error_code& error);
    // Begins every mode at once; `console` is where the console listens.
    void start(const asio::ip::udp::endpoint& console);
    bool isStarted() const { return started_; }
    // A group address (network-order bytes) the console gave an agent;
    // foreign-lock goes there from now on.
    void learnGroup(uint32_t group) { groups_.insert(group); }
    // The console's lock word reached `group` (network-order bytes): race
    // answers it at once, at most --student-rate times a second.
    void consoleSpoke(uint32_t group, Clock::time_point now);
    // True for a datagram this student sent bearing the console's address,
    // which the agents' accounting must not take for the console's.
    bool forgedThis(const QByteArray& datagram) const;

    uint64_t sent() const { return sent_; }
    uint64_t sendErrors() const { return sendErrors_; }
    uint64_t bytesSent() const { return bytes_; }

private:
    using Action = void (MisbehavingStudent::*)();

    // Runs `action` at `at` and every `period` after, on a fixed schedule.
    void repeat(asio::steady_timer& timer, Clock::time_point at, Clock::duration period, Action action);
    void send(const QByteArray& datagram, const asio::ip::udp::endpoint& to);
    void sendEscapeLock();
    void sendForeignLocks();
    void sendStolenHeartbeat();
    void sendStolenRegister();
    void sendBeacon();
    void sendBroadcastLock();
    void sendRepeatedJoin();
    void sendUnicastLocks();

    const unsigned modes_;
    const uint32_t address_;
    const uint32_t groupInterface_;
    const int rate_;
    const bool forges_;
    const bool madeUp_;
    uint32_t madeUpNext_ = 0;
    const int agents_;
    const uint32_t addressBase_;
    const asio::ip::udp::endpoint broadcast_;
    const asio::ip::udp::endpoint escape_;
    const QByteArray join_;
    const QByteArray unlock_;
    const QByteArray heartbeat_;
    const QByteArray register_;
    const QByteArray beacon_;

    asio::io_context& io_;
    asio::ip::udp::socket socket_;
    ForgedSender forged_;
    // A list, so that each timer stays where its handler refers to it.
    std::list<asio::steady_timer> timers_;
    asio::ip::udp::endpoint console_;
    std::set<uint32_t> groups_;
    bool started_ = false;
    Clock::time_point raceSecond_;
    int raceCount_ = 0;
    uint64_t bytes_ = 0;
    uint64_t sent_ = 0;
    uint64_t sendErrors_ = 0;
};
