#pragma once

#include "GroupMemberships.h"
#include "HeldPolicy.h"
#include "SimulatedAgent.h"
#include "SimulatorCounters.h"
#include "SimulatorOptions.h"

#include <QByteArray>
#include <QString>
#include <asio/io_context.hpp>
#include <asio/ip/udp.hpp>
#include <asio/signal_set.hpp>
#include <asio/steady_timer.hpp>
#include <cstdint>
#include <functional>
#include <memory>
#include <queue>
#include <unordered_map>
#include <vector>

// Plays the student computers against one console on a single-threaded
// event loop: finds the console, runs every agent's schedule, reads the
// agents' sockets and the shared socket, hands each console datagram to the
// agents it is meant for, makes agents fall silent and return, and reports.
class AgentSimulator final
{
public:
    explicit AgentSimulator(const SimulatorOptions& options);
    ~AgentSimulator();
    AgentSimulator(const AgentSimulator&) = delete;
    AgentSimulator& operator=(const AgentSimulator&) = delete;

    // Raises the open-file limit and opens every socket. False, with the
    // reason in `error`, when the system refuses.
    bool open(QString& error);
    // Runs until --duration is over or SIGINT/SIGTERM arrives, writes the
    // final report and returns the exit status.
    int run();

private:
    struct GroupState
    {
        std::vector<SimulatedAgent*> members;
        // The group's last policy, decoded once for all members; the console
        // repeats the same datagram, which is then only compared.
        QByteArray policyDatagram;
        std::shared_ptr<const HeldPolicy> policy;
    };

    // When an agent's next send is due. One timer serves every agent, so
    // agents due close together share one wake-up.
    struct Due
    {
        SimulatedAgent::Clock::time_point at;
        SimulatedAgent* agent = nullptr;
        bool operator>(const Due& other) const { return at > other.at; }
    };

    bool raiseDescriptorLimit(QString& error) const;
    bool openListener(QString& error);
    void armListener();
    void readListener();
    void armAgent(SimulatedAgent& agent);
    void readAgent(SimulatedAgent& agent);
    // `destination` in host byte order, as the datagram's IP header had it.
    void handleShared(const QByteArray& datagram, const asio::ip::udp::endpoint& source, uint32_t destination);
    // Applies one console datagram to every agent in targets_.
    void deliver(const QByteArray& datagram, const asio::ip::udp::endpoint& source, GroupState* group);
    void handleBeacon(const QByteArray& datagram, const asio::ip::udp::endpoint& source);
    void moveToGroup(SimulatedAgent& agent, uint32_t group);
    void leaveGroup(SimulatedAgent& agent, uint32_t group);
    void startAgents();
    void armTicks();
    void runTicks();
    void scheduleSilence();
    void scheduleReport();
    void writeSilenceEvents(int count, bool silent);
    void writeReport(bool final);
    QByteArray summaryLine(bool final) const;
    void shutdown(int exitCode);

    const SimulatorOptions options_;
    asio::io_context io_ { 1 };
    asio::ip::udp::socket listener_;
    GroupMemberships memberships_;
    SimulatorCounters counters_;
    std::vector<std::unique_ptr<SimulatedAgent>> agents_;
    std::unordered_map<uint32_t, GroupState> groups_;
    std::vector<SimulatedAgent*> targets_;
    // One receive buffer for every socket: the loop reads one datagram at a time.
    std::vector<char> buffer_;

    std::priority_queue<Due, std::vector<Due>, std::greater<Due>> due_;

    asio::signal_set signals_;
    asio::steady_timer tickTimer_;
    asio::steady_timer reportTimer_;
    asio::steady_timer silenceTimer_;
    asio::steady_timer durationTimer_;
    SimulatedAgent::Clock::time_point started_;
    SimulatedAgent::Clock::time_point reportDue_;

    asio::ip::udp::endpoint console_;
    bool consoleKnown_ = false;
    bool stopping_ = false;
    bool joinErrorShown_ = false;
    int exitCode_ = 0;
};
