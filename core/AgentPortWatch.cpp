#include "core/AgentPortWatch.h"

#include "core/Protocol.h"

#include <QDateTime>
#include <QHostAddress>
#include <QNetworkInterface>
#include <QtEndian>

#include <algorithm>
#include <utility>

namespace {

constexpr std::chrono::seconds AddressRereadInterval { 1 };
constexpr std::chrono::seconds PruneInterval { 1 };

bool isMulticast(uint32_t networkOrder)
{
    return (reinterpret_cast<const uint8_t*>(&networkOrder)[0] & 0xF0u) == 0xE0u;
}

bool sameBytes(const QByteArray& datagram, const char* data, size_t len)
{
    return size_t(datagram.size()) == len && std::equal(data, data + len, datagram.constData());
}

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

void AgentPortWatch::setBudget(AnswerBudget* budget_)
{
    budget = budget_;
}

bool AgentPortWatch::open(uint16_t port)
{
    if (server.createsocket(port, "0.0.0.0", true) < 1)
        return false;
    server.setReceiveDestination(true);
    // A student who answers each of the console's words at once would
    // otherwise have its words stand for the pause.
    server.setReadPause(false);
    server.onMessage = [this](const SocketChannelPtr& channel, const UdpBuffer& buf) {
        handle(buf.data(), buf.size(), channel->peerAddress(), channel->peerPort(), channel->localAddress(),
            Clock::now());
    };
    server.setTimer(std::chrono::milliseconds(TimerMs), [this] { flushHeldResends(Clock::now()); });
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

QSet<uint32_t> AgentPortWatch::pageGroups()
{
    std::lock_guard<std::mutex> lock(group_mutex);
    return joined;
}

void AgentPortWatch::stop()
{
    server.stop();
}

void AgentPortWatch::noteSent(uint32_t address, const QByteArray& datagram, Clock::time_point now)
{
    ledger.noteSent(address, datagram, now);
}

void AgentPortWatch::noteSwept(Clock::time_point now)
{
    swept_at.store(now.time_since_epoch().count());
}

double AgentPortWatch::repetitionBytesPerSecond() const
{
    QSet<uint32_t> groups;
    {
        std::lock_guard<std::mutex> lock(group_mutex);
        groups = joined;
    }
    return ledger.repetitionBytes(groups) * 1000.0 / RepetitionMs;
}

QHash<uint32_t, int> AgentPortWatch::takeHits()
{
    std::lock_guard<std::mutex> lock(hits_mutex);
    return std::exchange(hits, {});
}

std::vector<uint32_t> AgentPortWatch::localAddresses(std::vector<uint32_t>* broadcasts)
{
    // Without an address of link scope (loopback alone) a broadcast leaves
    // from 0.0.0.0.
    std::vector<uint32_t> addresses { Protocol::addressFromOctets(127, 0, 0, 1), 0 };
    if (broadcasts)
        *broadcasts = { Protocol::addressFromOctets(255, 255, 255, 255) };
    for (const QNetworkInterface& interface : QNetworkInterface::allInterfaces()) {
        for (const QNetworkAddressEntry& entry : interface.addressEntries()) {
            bool ipv4 = false;
            const quint32 hostOrder = entry.ip().toIPv4Address(&ipv4);
            if (!ipv4)
                continue;
            addresses.push_back(qToBigEndian(hostOrder));
            const quint32 broadcast = entry.broadcast().toIPv4Address(&ipv4);
            if (broadcasts && ipv4 && broadcast != 0)
                broadcasts->push_back(qToBigEndian(broadcast));
        }
    }
    return addresses;
}

void AgentPortWatch::readAddresses()
{
    own_addresses = localAddresses(&own_broadcasts);
    addresses_read = Clock::now();
}

bool AgentPortWatch::isLocal(uint32_t address)
{
    // 127.0.0.0/8 is this PC's, whatever the interfaces list.
    if (reinterpret_cast<const uint8_t*>(&address)[0] == 127)
        return true;
    if (own_addresses.empty())
        readAddresses();
    const auto listed = [this, address] {
        return std::find(own_addresses.begin(), own_addresses.end(), address) != own_addresses.end();
    };
    if (listed())
        return true;
    // An address this PC was given since (DHCP, a cable plugged in); a
    // sender that only pretends costs one look a second.
    if (Clock::now() - addresses_read < AddressRereadInterval)
        return false;
    readAddresses();
    return listed();
}

bool AgentPortWatch::isBroadcast(uint32_t address)
{
    if (own_addresses.empty())
        readAddresses();
    return std::find(own_broadcasts.begin(), own_broadcasts.end(), address) != own_broadcasts.end();
}

void AgentPortWatch::told(uint32_t sender, Kind kind, bool forged, uint32_t destination)
{
    if (callbacks.senderSeen
        && sender_counter.hit(senderKey(sender, forged), QDateTime::currentMSecsSinceEpoch()).first)
        callbacks.senderSeen(sender, kind, forged, destination);
}

void AgentPortWatch::handle(const char* data, size_t len, uint32_t source, uint16_t port, uint32_t destination,
    Clock::time_point now)
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
    case Protocol::MSG_ADMIN_REREGISTER:
        kind = Reregister; // a storm of them floods the console with registrations
        break;
    default:
        return; // not something agents obey
    }
    const bool own = isOwn(source, port);
    if (kind == Beacon || kind == Reregister) {
        // A beacon forged with the console's address says what its own says;
        // a storm of re-registrations floods the console with registrations.
        if (!own)
            told(source, kind, false, destination);
        return;
    }
    if (kind == JoinGroup) {
        handleJoin(data, len, source, own, destination, now);
        return;
    }
    if (own && ledger.takeHeard(destination, data, len, now))
        return;
    told(source, kind, own, destination);
    const bool policy = kind == Policy;
    const QSet<uint32_t> pages = pageGroups();
    if (destination != 0 && (pages.contains(destination) || escapes.count(destination) != 0)) {
        hit(destination, data, len, policy, own, now);
        return;
    }
    // The broadcast, a group no page has, or a destination the system did
    // not tell: it may have reached any agent, so every page answers.
    for (const uint32_t group : pages)
        hit(group, data, len, policy, own, now);
    if (destination == 0)
        for (const auto& escape : escapes)
            hit(escape.first, data, len, policy, own, now);
}

void AgentPortWatch::handleJoin(const char* data, size_t len, uint32_t source, bool own, uint32_t destination,
    Clock::time_point now)
{
    const uint32_t named = len == 8 ? Protocol::readU32(data + 4) : 0;
    const bool pageGroup = named != 0 && pageGroups().contains(named);
    // The console sends joins to one agent's address, naming its page.
    if (own && pageGroup && !isMulticast(destination) && !isBroadcast(destination))
        return;
    told(source, JoinGroup, own, destination);
    if (callbacks.joinSeen)
        callbacks.joinSeen();
    // Not 224.0.0.0/24, which every host hears: the word there would reach
    // the agents of every room, not only those the join moved.
    const auto* octets = reinterpret_cast<const uint8_t*>(&named);
    const bool everyHost = octets[0] == 224 && octets[1] == 0 && octets[2] == 0;
    if (!pageGroup && isMulticast(named) && !everyHost)
        guardEscape(named, now);
}

void AgentPortWatch::hit(uint32_t group, const char* data, size_t len, bool policy, bool forged, Clock::time_point now)
{
    // The group's own word from another sender changes nothing there.
    if (!forged && sameBytes(policy ? ledger.lastPolicy(group) : ledger.lastLock(group), data, len))
        return;
    {
        std::lock_guard<std::mutex> lock(hits_mutex);
        ++hits[group];
    }
    Answer& answer = answers[group];
    answer.lockOwed = true;
    answer.policyOwed = answer.policyOwed || policy;
    tryAnswer(group, answer, now);
}

void AgentPortWatch::tryAnswer(uint32_t group, Answer& answer, Clock::time_point now)
{
    const bool policy = answer.policyOwed
        && (!answer.policySent || now - answer.policyAt >= std::chrono::milliseconds(PolicyAnswerMs));
    if (!answer.lockOwed && !policy)
        return;
    if (now > answer.refilled) {
        answer.tokens = std::min<double>(AnswersPerSecond,
            answer.tokens + std::chrono::duration<double>(now - answer.refilled).count() * AnswersPerSecond);
        answer.refilled = now;
    }
    if (answer.tokens < 1)
        return;
    const bool escape = escapes.count(group) != 0;
    const SentLedger::Words words
        = escape ? ledger.strictest(pageGroups()) : SentLedger::Words { ledger.lastLock(group), ledger.lastPolicy(group) };
    const bool lock = answer.lockOwed;
    const int bytes = (lock ? AnswerBudget::wireBytes(std::max(words.lock.size(), 8)) : 0)
        + (policy ? AnswerBudget::wireBytes(words.policy.size()) : 0);
    if (budget && !budget->spend(bytes, now))
        return;
    answer.tokens -= 1;
    answer.lockOwed = false;
    if (lock)
        answer.lockAt = now;
    if (policy) {
        answer.policyOwed = false;
        answer.policySent = true;
        answer.policyAt = now;
    }
    if (!escape) {
        if (callbacks.answer)
            callbacks.answer(group, lock, policy);
        return;
    }
    if (!callbacks.sendTo)
        return;
    if (lock && !words.lock.isEmpty())
        callbacks.sendTo(group, words.lock);
    if (policy && !words.policy.isEmpty())
        callbacks.sendTo(group, words.policy);
}

void AgentPortWatch::guardEscape(uint32_t group, Clock::time_point now)
{
    const bool held = escapes.count(group) != 0;
    if (!held) {
        if (escapes.size() >= size_t(MaxEscapeGroups)) {
            const auto oldest = std::min_element(escapes.begin(), escapes.end(),
                [](const auto& a, const auto& b) { return a.second.lastJoin < b.second.lastJoin; });
            endEscape(oldest->first);
        }
        if (server.fd() > 0)
            server.joinGroup(group);
    }
    escapes[group].lastJoin = now;
    // At once for a new group: a word sent there before the watch joined it
    // went unseen. A group held already has its word repeated anyway, and
    // the agents a join brings hold their own page's word.
    Answer& answer = answers[group];
    if (held && now - answer.lockAt < std::chrono::milliseconds(EscapeRepeatMs))
        return;
    answer.lockOwed = true;
    tryAnswer(group, answer, now);
}

void AgentPortWatch::endEscape(uint32_t group)
{
    escapes.erase(group);
    answers.erase(group);
    if (server.fd() > 0 && !pageGroups().contains(group))
        server.leaveGroup(group);
}

void AgentPortWatch::flushHeldResends(Clock::time_point now)
{
    const Clock::rep sweptRep = swept_at.load();
    const Clock::time_point swept { Clock::duration(sweptRep) };
    for (auto it = escapes.begin(); it != escapes.end();) {
        const Clock::time_point lastJoin = it->second.lastJoin;
        const bool back = sweptRep != 0 && swept > lastJoin && now - swept >= std::chrono::milliseconds(EscapeAfterSweepMs);
        if (back || now - lastJoin >= std::chrono::milliseconds(EscapeMaxMs)) {
            const uint32_t group = it->first;
            ++it;
            endEscape(group);
            continue;
        }
        Answer& answer = answers[it->first];
        if (now - answer.lockAt >= std::chrono::milliseconds(EscapeRepeatMs))
            answer.lockOwed = true;
        ++it;
    }
    for (auto& entry : answers)
        if (entry.second.lockOwed || entry.second.policyOwed)
            tryAnswer(entry.first, entry.second, now);

    if (now - pruned < PruneInterval)
        return;
    pruned = now;
    QSet<uint32_t> keep = pageGroups();
    for (const auto& escape : escapes)
        keep.insert(escape.first);
    for (auto it = answers.begin(); it != answers.end();) {
        if (!keep.contains(it->first) && !it->second.lockOwed && !it->second.policyOwed)
            it = answers.erase(it);
        else
            ++it;
    }
    ledger.prune(keep, now);
}
