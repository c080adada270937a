#include "StandInConsole.h"

#include "Protocol.h"

#include <utility>

StandInConsole::StandInConsole(GroupChooser chooseGroup)
    : chooseGroup_(std::move(chooseGroup))
{
}

StandInConsole::~StandInConsole()
{
    server_.stop();
}

bool StandInConsole::open()
{
    if (server_.createsocket(Protocol::ConsolePort, "0.0.0.0") < 1)
        return false;
    server_.onMessage
        = [this](const SocketChannelPtr& channel, const UdpBuffer& buffer) { onMessage(channel, buffer); };
    clock_.start();
    return server_.start() == 0;
}

bool StandInConsole::send(uint32_t address, const QByteArray& datagram)
{
    return server_.sendto(datagram.constData(), datagram.size(), address, Protocol::AgentPort) >= 0;
}

QHash<quint64, StandInConsole::Agent> StandInConsole::agents() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return agents_;
}

StandInConsole::Agent StandInConsole::agentByHost(const QString& host) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    for (const Agent& agent : agents_) {
        if (agent.host == host)
            return agent;
    }
    return Agent();
}

void StandInConsole::onMessage(const SocketChannelPtr& channel, const UdpBuffer& buffer)
{
    const QByteArray datagram(buffer.data(), static_cast<int>(buffer.size()));
    Protocol::AgentHead head;
    if (!Protocol::parseAgentHead(datagram, head))
        return;
    const char* payload = datagram.constData() + Protocol::AgentHeadSize;
    const int payloadSize = datagram.size() - Protocol::AgentHeadSize;

    uint32_t group = 0;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        Agent& agent = agents_[head.mac];
        agent.address = Protocol::addressToText(channel->peerAddress());
        agent.addressBytes = channel->peerAddress();
        agent.arrivals.append(clock_.elapsed());
        switch (head.id) {
        case Protocol::MSG_STU_REGISTER:
            agent.host = Protocol::hostNameFromRegister(payload, payloadSize);
            ++agent.registers;
            group = chooseGroup_(agent.host);
            break;
        case Protocol::MSG_STU_HEARTBEAT:
            ++agent.heartbeats;
            break;
        case Protocol::MSG_STU_POLICY_VERSION:
            if (payloadSize >= 4) {
                ++agent.policyReports;
                agent.reportedVersion = Protocol::readU32(payload);
            }
            break;
        default:
            break;
        }
    }
    // Like the console: the reply goes to the sender's address, agent port.
    if (group != 0) {
        const QByteArray reply = Protocol::buildJoinGroup(group);
        server_.sendto(reply.constData(), reply.size(), channel->peerAddress(), Protocol::AgentPort);
    }
}
