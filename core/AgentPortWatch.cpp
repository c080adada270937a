#include "AgentPortWatch.h"

#include "Protocol.h"

#include <QDateTime>
#include <QHostAddress>
#include <QNetworkInterface>
#include <QtEndian>

#include <algorithm>
#include <utility>

namespace {

constexpr std::chrono::seconds AddressRereadInterval { 1 };

} // namespace

AgentPortWatch::AgentPortWatch(uint16_t ownPort)
    : own_port(ownPort)
{
}

AgentPortWatch::~AgentPortWatch()
{
    stop();
}

void AgentPortWatch::setCallbacks(Callbacks callbacks_)
{
    callbacks = std::move(callbacks_);
}

bool AgentPortWatch::open(uint16_t port)
{
    if (server.createsocket(port, "0.0.0.0", true) < 1)
        return false;
    server.setReceiveDestination(true);
    server.onMessage = [this](const SocketChannelPtr& channel, const UdpBuffer& buf) {
        handle(buf.data(), buf.size(), channel->peerAddress(), channel->peerPort(), channel->localAddress(),
            std::chrono::steady_clock::now());
    };
    server.setTimer(std::chrono::milliseconds(TimerMs),
        [this] { flushHeldResends(std::chrono::steady_clock::now()); });
    {
        std::lock_guard<std::mutex> lock(group_mutex);
        for (const uint32_t group : std::as_const(joined))
            server.joinGroup(group);
    }
    if (server.start() != 0) {
        server.stop();
        return false;
    }
    return true;
}

void AgentPortWatch::setGroups(const QSet<uint32_t>& groups)
{
    std::lock_guard<std::mutex> lock(group_mutex);
    if (server.fd() > 0) {
        for (const uint32_t group : groups)
            if (!joined.contains(group))
                server.joinGroup(group);
        for (const uint32_t group : std::as_const(joined))
            if (!groups.contains(group))
                server.leaveGroup(group);
    }
    joined = groups;
}

void AgentPortWatch::stop()
{
    server.stop();
}

std::vector<uint32_t> AgentPortWatch::localAddresses()
{
    // Without an address of link scope (loopback alone) a broadcast leaves
    // from 0.0.0.0.
    std::vector<uint32_t> addresses { Protocol::addressFromOctets(127, 0, 0, 1), 0 };
    for (const QHostAddress& address : QNetworkInterface::allAddresses()) {
        bool ipv4 = false;
        const quint32 hostOrder = address.toIPv4Address(&ipv4);
        if (ipv4)
            addresses.push_back(qToBigEndian(hostOrder));
    }
    return addresses;
}

bool AgentPortWatch::isOwn(uint32_t source, uint16_t port)
{
    if (port != own_port)
        return false;
    if (own_addresses.empty()) {
        own_addresses = localAddresses();
        addresses_read = std::chrono::steady_clock::now();
    }
    const auto listed = [this, source] {
        return std::find(own_addresses.begin(), own_addresses.end(), source) != own_addresses.end();
    };
    if (listed())
        return true;
    // An address this PC was given since (DHCP, a cable plugged in); a
    // sender that only pretends costs one look a second.
    const auto now = std::chrono::steady_clock::now();
    if (now - addresses_read < AddressRereadInterval)
        return false;
    addresses_read = now;
    own_addresses = localAddresses();
    return listed();
}

void AgentPortWatch::handle(const char* data, size_t len, uint32_t source, uint16_t port, uint32_t destination,
    std::chrono::steady_clock::time_point now)
{
    if (!data || len < 4)
        return;
    Kind kind;
    switch (Protocol::readU32(data)) {
    case Protocol::MSG_ADMIN_BEACON:
        kind = Beacon;
        break;
    case Protocol::MSG_ADMIN_LOCK_STATE:
        kind = LockState;
        break;
    case Protocol::MSG_ADMIN_POLICY:
        kind = Policy;
        break;
    case Protocol::MSG_ADMIN_JOIN_GROUP:
        kind = JoinGroup;
        break;
    default:
        return; // not something agents obey
    }
    if (isOwn(source, port))
        return;

    if (callbacks.senderSeen && sender_counter.hit(source, QDateTime::currentMSecsSinceEpoch()).first)
        callbacks.senderSeen(source, kind);

    if (kind == JoinGroup) {
        if (callbacks.joinSeen)
            callbacks.joinSeen();
        return;
    }
    if (kind == Beacon)
        return;
    QList<uint32_t> groups;
    {
        std::lock_guard<std::mutex> lock(group_mutex);
        if (destination != 0 && !joined.contains(destination))
            return; // a group no page has
        // Without the destination (a system that does not tell it) every
        // page answers.
        groups = destination != 0 ? QList<uint32_t> { destination } : joined.values();
    }
    for (const uint32_t group : std::as_const(groups))
        overridden(group, now);
}

void AgentPortWatch::overridden(uint32_t group, std::chrono::steady_clock::time_point now)
{
    Resend& resend = resends[group];
    if (now - resend.last >= std::chrono::milliseconds(ResendIntervalMs)) {
        resend.last = now;
        if (resend.held) {
            resend.held = false;
            --held_count;
        }
        if (callbacks.stateOverridden)
            callbacks.stateOverridden(group);
    } else if (!resend.held) {
        // Answered at the end of the interval, so the last foreign word
        // never stands.
        resend.held = true;
        ++held_count;
    }
}

void AgentPortWatch::flushHeldResends(std::chrono::steady_clock::time_point now)
{
    if (held_count == 0)
        return;
    for (auto& entry : resends) {
        Resend& resend = entry.second;
        if (resend.held && now - resend.last >= std::chrono::milliseconds(ResendIntervalMs)) {
            resend.held = false;
            --held_count;
            resend.last = now;
            if (callbacks.stateOverridden)
                callbacks.stateOverridden(entry.first);
        }
    }
}
