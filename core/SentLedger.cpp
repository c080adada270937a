#include "core/SentLedger.h"

#include "core/AnswerBudget.h"
#include "core/Protocol.h"

#include <cstring>

namespace {

bool isMulticast(uint32_t networkOrder)
{
    return (reinterpret_cast<const uint8_t*>(&networkOrder)[0] & 0xF0u) == 0xE0u;
}

} // namespace

void SentLedger::noteSent(uint32_t group, const QByteArray& datagram, Clock::time_point now)
{
    const uint32_t id = Protocol::consoleMessageId(datagram);
    if (!isMulticast(group) || (id != Protocol::MSG_ADMIN_LOCK_STATE && id != Protocol::MSG_ADMIN_POLICY))
        return;
    std::lock_guard<std::mutex> lock(mutex);
    Group& entry = groups[group];
    expire(entry, now);
    if (entry.pending.size() >= size_t(MaxPending))
        entry.pending.pop_front();
    entry.pending.push_back({ now, datagram });
    (id == Protocol::MSG_ADMIN_LOCK_STATE ? entry.lock : entry.policy) = datagram;
}

void SentLedger::expire(Group& group, Clock::time_point now)
{
    while (!group.pending.empty() && now - group.pending.front().sent > std::chrono::milliseconds(KeepMs))
        group.pending.pop_front();
}

bool SentLedger::take(Group& group, const char* data, size_t len)
{
    for (auto it = group.pending.begin(); it != group.pending.end(); ++it) {
        if (size_t(it->datagram.size()) == len && std::memcmp(it->datagram.constData(), data, len) == 0) {
            group.pending.erase(it);
            return true;
        }
    }
    return false;
}

bool SentLedger::takeHeard(uint32_t group, const char* data, size_t len, Clock::time_point now)
{
    std::lock_guard<std::mutex> lock(mutex);
    if (group != 0) {
        const auto it = groups.find(group);
        if (it == groups.end())
            return false;
        expire(*it, now);
        return take(*it, data, len);
    }
    for (Group& entry : groups) {
        expire(entry, now);
        if (take(entry, data, len))
            return true;
    }
    return false;
}

QByteArray SentLedger::lastLock(uint32_t group) const
{
    std::lock_guard<std::mutex> lock(mutex);
    return groups.value(group).lock;
}

QByteArray SentLedger::lastPolicy(uint32_t group) const
{
    std::lock_guard<std::mutex> lock(mutex);
    return groups.value(group).policy;
}

int SentLedger::repetitionBytes(const QSet<uint32_t>& of) const
{
    std::lock_guard<std::mutex> lock(mutex);
    int bytes = 0;
    for (const uint32_t group : of) {
        const auto it = groups.constFind(group);
        if (it == groups.cend())
            continue;
        if (!it->lock.isEmpty())
            bytes += AnswerBudget::wireBytes(it->lock.size());
        if (!it->policy.isEmpty())
            bytes += AnswerBudget::wireBytes(it->policy.size());
    }
    return bytes;
}

SentLedger::Words SentLedger::strictest(const QSet<uint32_t>& of) const
{
    std::lock_guard<std::mutex> lock(mutex);
    Words words;
    int best = -1;
    for (const uint32_t group : of) {
        const auto it = groups.constFind(group);
        uint32_t word = 0;
        if (it == groups.cend() || !Protocol::parseLockState(it->lock, word))
            continue;
        const int strictness = Protocol::lockStrictness(word);
        if (strictness > best) {
            best = strictness;
            words = { it->lock, it->policy };
        }
    }
    return words;
}

void SentLedger::prune(const QSet<uint32_t>& keep, Clock::time_point now)
{
    std::lock_guard<std::mutex> lock(mutex);
    for (auto it = groups.begin(); it != groups.end();) {
        expire(*it, now);
        if (!keep.contains(it.key()) && it->pending.empty())
            it = groups.erase(it);
        else
            ++it;
    }
}
