#include "AgentSimulator.h"

#include "core/Protocol.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QtEndian>
#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>

#ifdef __linux__
#include <cerrno>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#endif

namespace {

using std::chrono::milliseconds;

constexpr size_t ReceiveBufferSize = 65536;
// Datagrams read per wake-up before the other sockets get their turn.
constexpr int ReadBatch = 64;
constexpr int ListenerBufferBytes = 4 * 1024 * 1024;
// Agents due within this much of each other are served in one wake-up.
constexpr milliseconds TickCoalescing(2);

bool isMulticast(uint32_t hostOrder)
{
    return (hostOrder >> 28) == 0xE;
}

uint32_t toNetworkOrder(uint32_t hostOrder)
{
    return qToBigEndian(hostOrder);
}

uint32_t toHostOrder(uint32_t networkOrder)
{
    return qFromBigEndian(networkOrder);
}

std::chrono::steady_clock::duration seconds(double value)
{
    return std::chrono::duration_cast<std::chrono::steady_clock::duration>(std::chrono::duration<double>(value));
}

QString endpointText(const asio::ip::udp::endpoint& endpoint)
{
    return QStringLiteral("%1:%2").arg(QString::fromStdString(endpoint.address().to_string())).arg(endpoint.port());
}

void printError(const QString& text)
{
    std::fprintf(stderr, "rok-agentsim: %s\n", text.toLocal8Bit().constData());
    std::fflush(stderr);
}

// A console on this host broadcasting over loopback may leave the source
// unset (127.0.0.1 has host scope); 0.0.0.0 then means this host.
asio::ip::address sourceAddress(const asio::ip::udp::endpoint& source)
{
    return source.address().is_unspecified() ? asio::ip::address(asio::ip::address_v4::loopback()) : source.address();
}

void removeFrom(std::vector<SimulatedAgent*>& agents, const SimulatedAgent* agent)
{
    for (size_t i = 0; i < agents.size(); ++i) {
        if (agents[i] == agent) {
            agents[i] = agents.back();
            agents.pop_back();
            return;
        }
    }
}

qint64 toMs(SimulatedAgent::Clock::duration duration)
{
    return static_cast<qint64>(std::chrono::duration_cast<milliseconds>(duration).count());
}

} // namespace

AgentSimulator::AgentSimulator(const SimulatorOptions& options)
    : options_(options)
    , listener_(io_)
    , memberships_(io_, listener_, asio::ip::address_v4(options.groupInterface))
    , buffer_(ReceiveBufferSize)
    , signals_(io_)
    , tickTimer_(io_)
    , reportTimer_(io_)
    , silenceTimer_(io_)
    , durationTimer_(io_)
    , studentTimer_(io_)
{
    SimulatedAgent::Schedule schedule;
    schedule.heartbeat = milliseconds(options_.heartbeatMs);
    schedule.jitter = milliseconds(options_.jitterMs);
    schedule.policyReport = milliseconds(options_.policyReportMs);
    agents_.reserve(static_cast<size_t>(options_.agents));
    for (int i = 0; i < options_.agents; ++i) {
        agents_.push_back(std::make_unique<SimulatedAgent>(
            io_, options_.agentMac(i), options_.agentHostName(i), options_.agentAddress(i), schedule, counters_));
    }
    targets_.reserve(agents_.size());
    if (options_.studentModes != 0)
        student_ = std::make_unique<MisbehavingStudent>(io_, options_);
    if (options_.consoleAddress != 0) {
        console_ = asio::ip::udp::endpoint(asio::ip::address_v4(options_.consoleAddress), options_.consolePort);
        consoleKnown_ = true;
    }
}

// Agents and sockets go before io_; their pending handlers are dropped
// unrun when io_ is destroyed last.
AgentSimulator::~AgentSimulator() = default;

bool AgentSimulator::open(QString& error)
{
#ifndef __linux__
    error = QStringLiteral("this simulator runs on Linux only: it gives every agent its own address in "
                           "127.0.0.0/8 and needs IP_PKTINFO to tell the multicast groups apart");
    return false;
#else
    if (!raiseDescriptorLimit(error) || !openListener(error))
        return false;
    for (size_t i = 0; i < agents_.size(); ++i) {
        std::error_code failure;
        if (!agents_[i]->open(failure)) {
            const int index = static_cast<int>(i);
            error = QStringLiteral("cannot bind %1:%2 for agent %3: %4 (every agent needs its own loopback "
                                   "address; see --help)")
                        .arg(SimulatorOptions::addressText(options_.agentAddress(index)))
                        .arg(Protocol::AgentPort)
                        .arg(index + 1)
                        .arg(QString::fromStdString(failure.message()));
            return false;
        }
    }
    std::error_code failure;
    if (student_ && !student_->open(failure)) {
        error = QStringLiteral("cannot bind the student's socket on %1: %2")
                    .arg(SimulatorOptions::addressText(options_.studentAddress),
                        QString::fromStdString(failure.message()));
        return false;
    }
    std::error_code ignored;
    signals_.add(SIGINT, ignored);
    signals_.add(SIGTERM, ignored);
    return true;
#endif
}

bool AgentSimulator::raiseDescriptorLimit(QString& error) const
{
#ifdef __linux__
    // One socket per agent, the shared socket, one membership socket per 20
    // groups at worst, and the usual few.
    const rlim_t needed = static_cast<rlim_t>(options_.agents) + static_cast<rlim_t>(options_.agents) / 16 + 64;
    rlimit limit {};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return true;
    if (limit.rlim_cur != RLIM_INFINITY && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_NOFILE, &limit);
        getrlimit(RLIMIT_NOFILE, &limit);
    }
    if (limit.rlim_cur != RLIM_INFINITY && limit.rlim_cur < needed) {
        error = QStringLiteral("%1 agents need about %2 open files, but the limit is %3 (see ulimit -Hn)")
                    .arg(options_.agents)
                    .arg(static_cast<qulonglong>(needed))
                    .arg(static_cast<qulonglong>(limit.rlim_cur));
        return false;
    }
#else
    Q_UNUSED(error)
#endif
    return true;
}

bool AgentSimulator::openListener(QString& error)
{
    const asio::ip::udp::endpoint any(asio::ip::address_v4::any(), Protocol::AgentPort);
    std::error_code failure;
    listener_.open(asio::ip::udp::v4(), failure);
    if (!failure)
        listener_.set_option(asio::socket_base::reuse_address(true), failure);
    if (!failure)
        listener_.bind(any, failure);
    if (!failure)
        listener_.non_blocking(true, failure);
    if (failure) {
        error = QStringLiteral("cannot bind 0.0.0.0:%1 for the beacon and the groups: %2")
                    .arg(Protocol::AgentPort)
                    .arg(QString::fromStdString(failure.message()));
        return false;
    }
    // Policy datagrams of many groups may arrive together; a small buffer would drop some.
    std::error_code ignored;
    listener_.set_option(asio::socket_base::receive_buffer_size(ListenerBufferBytes), ignored);
#ifdef __linux__
    const int on = 1;
    if (setsockopt(listener_.native_handle(), IPPROTO_IP, IP_PKTINFO, &on, sizeof on) != 0
        || setsockopt(listener_.native_handle(), IPPROTO_IP, IP_MULTICAST_ALL, &on, sizeof on) != 0) {
        error = QStringLiteral("cannot ask for the destination of group datagrams: %1")
                    .arg(QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
#endif
    return true;
}

int AgentSimulator::run()
{
    started_ = SimulatedAgent::Clock::now();
    signals_.async_wait([this](const std::error_code& error, int) {
        if (!error)
            shutdown(0);
    });
    armListener();
    for (size_t i = 0; i < agents_.size(); ++i)
        armAgent(i);

    if (consoleKnown_)
        startAgents();
    else
        printError(QStringLiteral("waiting for the console's beacon on port %1").arg(Protocol::AgentPort));
    if (student_) {
        studentTimer_.expires_at(started_ + seconds(options_.studentAfterSeconds));
        studentTimer_.async_wait([this](const std::error_code& error) {
            if (error)
                return;
            studentDue_ = true;
            startStudent();
        });
    }

    scheduleSilence();
    scheduleReport();
    if (options_.durationSeconds > 0) {
        durationTimer_.expires_at(started_ + seconds(options_.durationSeconds));
        durationTimer_.async_wait([this](const std::error_code& error) {
            if (!error)
                shutdown(0);
        });
    }

    io_.run();
    return exitCode_;
}

void AgentSimulator::armListener()
{
    listener_.async_wait(asio::ip::udp::socket::wait_read, [this](const std::error_code& error) {
        if (error) {
            if (error != asio::error::operation_aborted) {
                printError(QStringLiteral("the shared socket failed: %1").arg(QString::fromStdString(error.message())));
                shutdown(1);
            }
            return;
        }
        readListener();
        armListener();
    });
}

void AgentSimulator::readListener()
{
#ifdef __linux__
    for (int i = 0; i < ReadBatch; ++i) {
        sockaddr_in source {};
        iovec part { buffer_.data(), buffer_.size() };
        alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in_pktinfo))];
        msghdr message {};
        message.msg_name = &source;
        message.msg_namelen = sizeof source;
        message.msg_iov = &part;
        message.msg_iovlen = 1;
        message.msg_control = control;
        message.msg_controllen = sizeof control;

        const ssize_t size = recvmsg(listener_.native_handle(), &message, MSG_DONTWAIT);
        if (size < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        ++counters_.received;
        if (message.msg_flags & MSG_TRUNC) {
            ++counters_.malformed;
            continue;
        }
        uint32_t destination = 0;
        for (cmsghdr* header = CMSG_FIRSTHDR(&message); header; header = CMSG_NXTHDR(&message, header)) {
            if (header->cmsg_level == IPPROTO_IP && header->cmsg_type == IP_PKTINFO) {
                in_pktinfo info {};
                std::memcpy(&info, CMSG_DATA(header), sizeof info);
                destination = toHostOrder(info.ipi_addr.s_addr);
            }
        }
        const asio::ip::udp::endpoint from(
            asio::ip::address_v4(toHostOrder(source.sin_addr.s_addr)), qFromBigEndian(source.sin_port));
        handleShared(QByteArray::fromRawData(buffer_.data(), static_cast<int>(size)), from, destination, Clock::now());
    }
#endif
}

void AgentSimulator::armAgent(size_t index)
{
    agents_[index]->socket().async_wait(asio::ip::udp::socket::wait_read, [this, index](const std::error_code& error) {
        if (error)
            return;
        readAgent(index);
        armAgent(index);
    });
}

void AgentSimulator::readAgent(size_t index)
{
    SimulatedAgent& agent = *agents_[index];
    for (int i = 0; i < ReadBatch; ++i) {
        asio::ip::udp::endpoint from;
        std::error_code error;
        const size_t size = agent.socket().receive_from(asio::buffer(buffer_), from, 0, error);
        if (error == asio::error::interrupted)
            continue;
        // would_block ends the batch; anything else (a stray ICMP report)
        // is consumed by the read and the next wake-up goes on.
        if (error)
            break;
        ++counters_.received;
        handleUnicast(index, QByteArray::fromRawData(buffer_.data(), static_cast<int>(size)), from, Clock::now());
    }
}

void AgentSimulator::handleUnicast(
    size_t index, const QByteArray& datagram, const asio::ip::udp::endpoint& source, Clock::time_point now)
{
    SimulatedAgent& agent = *agents_[index];
    if (agent.isSilent()) {
        ++counters_.ignored;
        return;
    }
    targets_.assign(1, &agent);
    deliver(datagram, source, nullptr, now);
}

void AgentSimulator::handleShared(
    const QByteArray& datagram, const asio::ip::udp::endpoint& source, uint32_t destination, Clock::time_point now)
{
    if (Protocol::consoleMessageId(datagram) == Protocol::MSG_ADMIN_BEACON) {
        handleBeacon(datagram, source);
        return;
    }
    GroupState* group = nullptr;
    if (isMulticast(destination)) {
        const auto it = groups_.find(toNetworkOrder(destination));
        if (it == groups_.end()) {
            ++counters_.ignored;
            return;
        }
        group = &it->second;
        targets_ = group->members;
    } else if (destination == 0xFFFFFFFFu || destination == 0x7FFFFFFFu) {
        targets_.clear();
        for (const auto& agent : agents_)
            targets_.push_back(agent.get());
    } else {
        // A unicast to an address no agent owns.
        ++counters_.ignored;
        return;
    }
    deliver(datagram, source, group, now);
}

// Agents take a console datagram from anyone, as real agents do; only the
// accounting of what the console wants looks at the source.
void AgentSimulator::deliver(
    const QByteArray& datagram, const asio::ip::udp::endpoint& source, GroupState* group, Clock::time_point now)
{
    const uint32_t id = Protocol::consoleMessageId(datagram);
    const bool fromConsole = isConsole(source) && !(student_ && student_->forgedThis(datagram));
    int delivered = 0;
    switch (id) {
    case Protocol::MSG_ADMIN_BEACON:
        handleBeacon(datagram, source);
        return;
    case Protocol::MSG_ADMIN_JOIN_GROUP: {
        uint32_t address = 0;
        if (!Protocol::parseJoinGroup(datagram, address) || !isMulticast(toHostOrder(address))) {
            ++counters_.malformed;
            return;
        }
        counters_.consoleJoins += fromConsole;
        // targets_ is a copy, so moving agents out of `group` is safe;
        // `group` itself may be gone afterwards.
        for (SimulatedAgent* agent : targets_) {
            if (!agent->isSilent()) {
                moveToGroup(*agent, address, fromConsole, now);
                ++delivered;
            }
        }
        if (!fromConsole && away_ > 0 && !escaped_) {
            escaped_ = true;
            escapedAt_ = now;
        }
        noteAway(now);
        break;
    }
    case Protocol::MSG_ADMIN_LOCK_STATE: {
        uint32_t word = 0;
        if (!Protocol::parseLockState(datagram, word)) {
            ++counters_.malformed;
            return;
        }
        if (group && fromConsole) {
            setConsoleLocks(*group, (word & 0xFFu) != 0, now);
            if (student_)
                student_->consoleSpoke(group->address, now);
        }
        for (SimulatedAgent* agent : targets_) {
            if (!agent->isSilent()) {
                agent->holdLock(word, now);
                ++delivered;
            }
        }
        break;
    }
    case Protocol::MSG_ADMIN_POLICY: {
        std::shared_ptr<const HeldPolicy> policy;
        if (group && group->policy && group->policyDatagram == datagram) {
            policy = group->policy;
        } else {
            Protocol::PolicyContent content;
            if (!Protocol::parsePolicy(datagram, content)) {
                ++counters_.malformed;
                return;
            }
            policy = std::make_shared<const HeldPolicy>(std::move(content));
            if (group) {
                // `datagram` borrows the receive buffer; keep a real copy.
                group->policyDatagram = QByteArray(datagram.constData(), datagram.size());
                group->policy = policy;
            }
        }
        for (SimulatedAgent* agent : targets_) {
            if (!agent->isSilent()) {
                agent->holdPolicy(policy);
                ++delivered;
            }
        }
        break;
    }
    case Protocol::MSG_ADMIN_REREGISTER:
        if (datagram.size() != 4) {
            ++counters_.malformed;
            return;
        }
        for (SimulatedAgent* agent : targets_) {
            if (!agent->isSilent()) {
                agent->reregister();
                ++counters_.reregisters;
                ++delivered;
            }
        }
        break;
    default:
        if (datagram.size() < 4)
            ++counters_.malformed;
        else
            ++counters_.ignored;
        return;
    }
    if (delivered == 0)
        ++counters_.ignored;
}

void AgentSimulator::handleBeacon(const QByteArray& datagram, const asio::ip::udp::endpoint& source)
{
    if (datagram.size() != 4) {
        ++counters_.malformed;
        return;
    }
    ++counters_.beacons;
    // The first console heard is kept; a second one would split the agents.
    if (consoleKnown_ || stopping_)
        return;
    console_ = asio::ip::udp::endpoint(sourceAddress(source), source.port());
    consoleKnown_ = true;
    printError(QStringLiteral("console found at %1").arg(endpointText(console_)));
    startAgents();
    if (student_)
        startStudent();
}

bool AgentSimulator::isConsole(const asio::ip::udp::endpoint& source) const
{
    return consoleKnown_ && source.port() == console_.port() && sourceAddress(source) == console_.address();
}

void AgentSimulator::moveToGroup(SimulatedAgent& agent, uint32_t group, bool fromConsole, Clock::time_point now)
{
    const bool wasAway = isAway(agent);
    const uint32_t previous = agent.group();
    if (previous != group) {
        if (previous != 0)
            leaveGroup(agent, previous);
        groupFor(group).members.push_back(&agent);
    }
    agent.joinGroup(group);
    const uint32_t assignedBefore = agent.consoleGroup();
    if (fromConsole && assignedBefore != group) {
        GroupState& state = groupFor(group);
        state.assigned.push_back(&agent);
        agent.assignConsoleGroup(group, state.consoleLocks, now);
        if (assignedBefore != 0)
            unassign(agent, assignedBefore);
        if (student_)
            student_->learnGroup(group);
    }
    away_ += static_cast<int>(isAway(agent)) - static_cast<int>(wasAway);
}

AgentSimulator::GroupState& AgentSimulator::groupFor(uint32_t group)
{
    const auto inserted = groups_.try_emplace(group);
    if (inserted.second) {
        inserted.first->second.address = group;
        std::error_code error;
        if (!memberships_.join(group, error)) {
            ++counters_.joinErrors;
            if (!joinErrorShown_) {
                joinErrorShown_ = true;
                printError(QStringLiteral("cannot join group %1: %2")
                               .arg(Protocol::addressToText(group), QString::fromStdString(error.message())));
            }
        }
    }
    return inserted.first->second;
}

void AgentSimulator::leaveGroup(SimulatedAgent& agent, uint32_t group)
{
    const auto it = groups_.find(group);
    if (it == groups_.end())
        return;
    removeFrom(it->second.members, &agent);
    releaseIfUnused(it);
}

void AgentSimulator::unassign(SimulatedAgent& agent, uint32_t group)
{
    const auto it = groups_.find(group);
    if (it == groups_.end())
        return;
    removeFrom(it->second.assigned, &agent);
    releaseIfUnused(it);
}

void AgentSimulator::releaseIfUnused(std::unordered_map<uint32_t, GroupState>::iterator it)
{
    if (!it->second.members.empty() || !it->second.assigned.empty())
        return;
    memberships_.leave(it->first);
    groups_.erase(it);
}

void AgentSimulator::setConsoleLocks(GroupState& group, bool consoleLocks, Clock::time_point now)
{
    // The console repeats its word; only a change reaches the agents.
    if (group.consoleLocks == consoleLocks)
        return;
    group.consoleLocks = consoleLocks;
    for (SimulatedAgent* agent : group.assigned)
        agent->setConsoleLocks(consoleLocks, now);
}

void AgentSimulator::setAgentSilent(SimulatedAgent& agent, bool silent, Clock::time_point now)
{
    const bool wasAway = isAway(agent);
    agent.setSilent(silent, now);
    away_ += static_cast<int>(isAway(agent)) - static_cast<int>(wasAway);
}

bool AgentSimulator::isAway(const SimulatedAgent& agent)
{
    return !agent.isSilent() && agent.group() != agent.consoleGroup();
}

void AgentSimulator::noteAway(Clock::time_point now)
{
    if (!escaped_)
        return;
    if (away_ > 0) {
        rejoined_ = false;
    } else if (!rejoined_) {
        rejoined_ = true;
        rejoinedAt_ = now;
    }
}

void AgentSimulator::startAgents()
{
    // Spread the agents' phases evenly over one period so that thousands of
    // them never fire in the same millisecond.
    const auto now = SimulatedAgent::Clock::now();
    const auto period = std::chrono::duration_cast<SimulatedAgent::Clock::duration>(milliseconds(options_.heartbeatMs));
    const auto count = static_cast<SimulatedAgent::Clock::rep>(agents_.size());
    for (size_t i = 0; i < agents_.size(); ++i) {
        SimulatedAgent* agent = agents_[i].get();
        due_.push({ agent->start(console_, now + period * static_cast<SimulatedAgent::Clock::rep>(i) / count), agent });
    }
    armTicks();
}

void AgentSimulator::startStudent()
{
    // Steal and foreign-lock need the console; a rogue beacon heard first
    // would become the agents' console.
    if (!studentDue_ || !consoleKnown_ || stopping_ || student_->isStarted())
        return;
    student_->start(console_);
    printError(
        QStringLiteral("the student starts from %1").arg(SimulatorOptions::addressText(options_.studentAddress)));
}

void AgentSimulator::armTicks()
{
    if (due_.empty())
        return;
    tickTimer_.expires_at(due_.top().at);
    tickTimer_.async_wait([this](const std::error_code& error) {
        if (!error)
            runTicks();
    });
}

void AgentSimulator::runTicks()
{
    const auto horizon = SimulatedAgent::Clock::now() + TickCoalescing;
    // tick() always returns a time past `horizon`, so this ends.
    while (!due_.empty() && due_.top().at <= horizon) {
        SimulatedAgent* agent = due_.top().agent;
        due_.pop();
        due_.push({ agent->tick(horizon), agent });
    }
    armTicks();
}

void AgentSimulator::scheduleSilence()
{
    const int count = options_.effectiveSilentCount();
    if (count <= 0)
        return;
    silenceTimer_.expires_at(started_ + seconds(options_.silentAfterSeconds));
    silenceTimer_.async_wait([this, count](const std::error_code& error) {
        if (error)
            return;
        // The events carry each agent's last datagram, which falling silent forgets.
        writeSilenceEvents(count, true);
        const auto now = Clock::now();
        for (int i = 0; i < count; ++i)
            setAgentSilent(*agents_[static_cast<size_t>(i)], true, now);
        noteAway(now);
        if (options_.returnAfterSeconds < 0)
            return;
        silenceTimer_.expires_after(seconds(options_.returnAfterSeconds));
        silenceTimer_.async_wait([this, count](const std::error_code& returnError) {
            if (returnError)
                return;
            const auto now = Clock::now();
            for (int i = 0; i < count; ++i)
                setAgentSilent(*agents_[static_cast<size_t>(i)], false, now);
            noteAway(now);
            writeSilenceEvents(count, false);
        });
    });
}

void AgentSimulator::writeSilenceEvents(int count, bool silent)
{
    if (!options_.silenceEvents)
        return;
    const auto micros = [](SimulatedAgent::Clock::time_point at) {
        return static_cast<qint64>(
            std::chrono::duration_cast<std::chrono::microseconds>(at.time_since_epoch()).count());
    };
    const qint64 now = micros(SimulatedAgent::Clock::now());
    QByteArray out;
    for (int i = 0; i < count; ++i) {
        const SimulatedAgent& agent = *agents_[static_cast<size_t>(i)];
        out += silent ? "{\"type\":\"silence\",\"mac\":\"" : "{\"type\":\"return\",\"mac\":\"";
        out += QByteArray::number(static_cast<qulonglong>(agent.mac()));
        out += '"';
        if (silent) {
            out += ",\"last_sent_us\":";
            out += agent.lastSent() == SimulatedAgent::Clock::time_point() ? QByteArray("null")
                                                                          : QByteArray::number(micros(agent.lastSent()));
        }
        out += ",\"at_us\":";
        out += QByteArray::number(now);
        out += "}\n";
    }
    std::fwrite(out.constData(), 1, static_cast<size_t>(out.size()), stdout);
    std::fflush(stdout);
}

void AgentSimulator::scheduleReport()
{
    if (options_.reportMs <= 0)
        return;
    const milliseconds period(options_.reportMs);
    reportDue_ = reportDue_ == SimulatedAgent::Clock::time_point() ? started_ + period : reportDue_ + period;
    const auto now = SimulatedAgent::Clock::now();
    if (reportDue_ <= now)
        reportDue_ = now + period;
    reportTimer_.expires_at(reportDue_);
    reportTimer_.async_wait([this](const std::error_code& error) {
        if (error)
            return;
        writeReport(false);
        scheduleReport();
    });
}

void AgentSimulator::writeReport(bool final)
{
    const QByteArray out = reportText(final, Clock::now());
    std::fwrite(out.constData(), 1, static_cast<size_t>(out.size()), stdout);
    std::fflush(stdout);
}

QByteArray AgentSimulator::reportText(bool final, Clock::time_point now)
{
    QByteArray out;
    if (options_.silenceEvents) {
        // Agents that went longer than this without a datagram may rightly be
        // shown off line: the simulator fell behind, not the console.
        constexpr auto lateGap = milliseconds(1400);
        for (const auto& agent : agents_) {
            const auto gap = agent->takeLongestGap();
            if (gap < lateGap)
                continue;
            out += "{\"type\":\"late\",\"mac\":\"";
            out += QByteArray::number(static_cast<qulonglong>(agent->mac()));
            out += "\",\"gap_ms\":";
            out += QByteArray::number(static_cast<qint64>(std::chrono::duration_cast<milliseconds>(gap).count()));
            out += "}\n";
        }
    }
    if (!options_.summaryOnly) {
        for (const auto& agent : agents_) {
            out += agent->reportLine(now);
            out += '\n';
        }
    }
    out += summaryLine(final, now);
    out += '\n';
    return out;
}

QByteArray AgentSimulator::summaryLine(bool final, Clock::time_point now) const
{
    qint64 registered = 0;
    qint64 silent = 0;
    qint64 joined = 0;
    qint64 locked = 0;
    qint64 withPolicy = 0;
    Clock::duration unlockedTotal = Clock::duration::zero();
    Clock::duration unlockedMax = Clock::duration::zero();
    for (const auto& agent : agents_) {
        registered += agent->isRegistered();
        silent += agent->isSilent();
        joined += agent->group() != 0;
        locked += agent->holdsLock();
        withPolicy += agent->holdsPolicy();
        const Clock::duration unlocked = agent->unlockedTime(now);
        unlockedTotal += unlocked;
        unlockedMax = std::max(unlockedMax, unlocked);
    }
    // Groups kept only to hear the console for agents now elsewhere do not count.
    qint64 groups = 0;
    for (const auto& group : groups_)
        groups += !group.second.members.empty();
    const auto count = [](uint64_t value) { return QJsonValue(static_cast<qint64>(value)); };
    QJsonObject line;
    line.insert(QStringLiteral("final"), final);
    line.insert(QStringLiteral("elapsed_ms"), toMs(now - started_));
    line.insert(QStringLiteral("console"), consoleKnown_ ? QJsonValue(endpointText(console_)) : QJsonValue());
    line.insert(QStringLiteral("agents"), static_cast<qint64>(agents_.size()));
    line.insert(QStringLiteral("registered"), registered);
    line.insert(QStringLiteral("silent"), silent);
    line.insert(QStringLiteral("joined"), joined);
    line.insert(QStringLiteral("locked"), locked);
    line.insert(QStringLiteral("with_policy"), withPolicy);
    line.insert(QStringLiteral("groups"), groups);
    line.insert(QStringLiteral("sent"), count(counters_.sent));
    line.insert(QStringLiteral("send_errors"), count(counters_.sendErrors));
    line.insert(QStringLiteral("registers"), count(counters_.registers));
    line.insert(QStringLiteral("heartbeats"), count(counters_.heartbeats));
    line.insert(QStringLiteral("policy_reports"), count(counters_.policyReports));
    line.insert(QStringLiteral("received"), count(counters_.received));
    line.insert(QStringLiteral("malformed"), count(counters_.malformed));
    line.insert(QStringLiteral("ignored"), count(counters_.ignored));
    line.insert(QStringLiteral("beacons"), count(counters_.beacons));
    line.insert(QStringLiteral("reregisters"), count(counters_.reregisters));
    line.insert(QStringLiteral("join_errors"), count(counters_.joinErrors));
    line.insert(QStringLiteral("consoleJoins"), count(counters_.consoleJoins));
    line.insert(QStringLiteral("unlockedMsTotal"), toMs(unlockedTotal));
    line.insert(QStringLiteral("unlockedMsMax"), toMs(unlockedMax));
    if (student_) {
        line.insert(QStringLiteral("studentSent"), count(student_->sent()));
        line.insert(QStringLiteral("studentBytes"), count(student_->bytesSent()));
        if (options_.hasStudent(SimulatorOptions::JoinEscape))
            line.insert(QStringLiteral("rejoinMs"),
                !escaped_       ? QJsonValue()
                    : rejoined_ ? QJsonValue(toMs(rejoinedAt_ - escapedAt_))
                                : QJsonValue(qint64(-1)));
    }
    QByteArray text = QJsonDocument(line).toJson(QJsonDocument::Compact);
    text.replace(0, 1, "{\"type\":\"summary\",");
    return text;
}

void AgentSimulator::shutdown(int exitCode)
{
    if (stopping_)
        return;
    stopping_ = true;
    exitCode_ = exitCode;
    writeReport(true);
    io_.stop();
}
