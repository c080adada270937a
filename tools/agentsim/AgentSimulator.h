#pragma once

#include "GroupMemberships.h"
#include "HeldPolicy.h"
#include "MisbehavingStudent.h"
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
// Optionally a misbehaving student shares the loop; the report measures
// what it cost: time the agents spent unlocked against the console's word.
class AgentSimulator final
{
public:
    using Clock = SimulatedAgent::Clock;

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

    // The receive paths without their sockets, so tests can feed them by
    // hand: a datagram that reached the shared socket, `destination` in
    // host byte order as its IP header had it; one that reached agent
    // `index`'s own socket.
    void handleShared(
        const QByteArray& datagram, const asio::ip::udp::endpoint& source, uint32_t destination, Clock::time_point now);
    void handleUnicast(
        size_t index, const QByteArray& datagram, const asio::ip::udp::endpoint& source, Clock::time_point now);
    // What one report writes, with the times up to `now`.
    QByteArray reportText(bool final, Clock::time_point now);

private:
    struct GroupState
    {
        uint32_t address = 0; // network-order bytes
        // The agents in the group now.
        std::vector<SimulatedAgent*> members;
        // The agents the console itself put in it, wherever they are now;
        // the group stays joined for them, to hear the console's word.
        std::vector<SimulatedAgent*> assigned;
        // The console's own last lock word for the group has a lock type.
        bool consoleLocks = false;
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
    void armAgent(size_t index);
    void readAgent(size_t index);
    // Applies one console datagram, from whoever sent it, to every agent in targets_.
    void deliver(
        const QByteArray& datagram, const asio::ip::udp::endpoint& source, GroupState* group, Clock::time_point now);
    void handleBeacon(const QByteArray& datagram, const asio::ip::udp::endpoint& source);
    // The console's own address and port, as its beacon or --console gave them.
    bool isConsole(const asio::ip::udp::endpoint& source) const;
    void moveToGroup(SimulatedAgent& agent, uint32_t group, bool fromConsole, Clock::time_point now);
    // The group's state, joining it on the interface when it is new.
    GroupState& groupFor(uint32_t group);
    void leaveGroup(SimulatedAgent& agent, uint32_t group);
    void unassign(SimulatedAgent& agent, uint32_t group);
    void releaseIfUnused(std::unordered_map<uint32_t, GroupState>::iterator it);
    void setConsoleLocks(GroupState& group, bool consoleLocks, Clock::time_point now);
    void setAgentSilent(SimulatedAgent& agent, bool silent, Clock::time_point now);
    // Out of the group the console gave it, and not silent.
    static bool isAway(const SimulatedAgent& agent);
    // Notes when every agent is back after an escape.
    void noteAway(Clock::time_point now);
    void startAgents();
    void startStudent();
    void armTicks();
    void runTicks();
    void scheduleSilence();
    void scheduleReport();
    void writeSilenceEvents(int count, bool silent);
    void writeReport(bool final);
    QByteArray summaryLine(bool final, Clock::time_point now) const;
    void shutdown(int exitCode);

    const SimulatorOptions options_;
    asio::io_context io_ { 1 };
    asio::ip::udp::socket listener_;
    GroupMemberships memberships_;
    SimulatorCounters counters_;
    std::vector<std::unique_ptr<SimulatedAgent>> agents_;
    std::unordered_map<uint32_t, GroupState> groups_;
    std::vector<SimulatedAgent*> targets_;
    std::unique_ptr<MisbehavingStudent> student_;
    // One receive buffer for every socket: the loop reads one datagram at a time.
    std::vector<char> buffer_;

    std::priority_queue<Due, std::vector<Due>, std::greater<Due>> due_;

    asio::signal_set signals_;
    asio::steady_timer tickTimer_;
    asio::steady_timer reportTimer_;
    asio::steady_timer silenceTimer_;
    asio::steady_timer durationTimer_;
    asio::steady_timer studentTimer_;
    SimulatedAgent::Clock::time_point started_;
    SimulatedAgent::Clock::time_point reportDue_;

    asio::ip::udp::endpoint console_;
    bool consoleKnown_ = false;
    bool stopping_ = false;
    bool joinErrorShown_ = false;
    bool studentDue_ = false;

    // Agents for which isAway() holds, and the escape: the first join not
    // from the console that took agents away, and when all were back.
    int away_ = 0;
    bool escaped_ = false;
    bool rejoined_ = false;
    SimulatedAgent::Clock::time_point escapedAt_;
    SimulatedAgent::Clock::time_point rejoinedAt_;
    int exitCode_ = 0;
};
