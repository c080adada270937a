#include "core/JoinRepeater.h"

#include <utility>

JoinRepeater::JoinRepeater(const QStudentManage& registry_, Send send_)
    : registry(registry_)
    , send(std::move(send_))
{
}

void JoinRepeater::setGroupAddresses(const QHash<QString, uint32_t>& byGroup, uint32_t ungrouped)
{
    std::lock_guard<std::mutex> lock(address_mutex);
    group_addresses = byGroup;
    ungrouped_address = ungrouped;
}

void JoinRepeater::setSweptCallback(std::function<void()> swept)
{
    swept_callback = std::move(swept);
}

void JoinRepeater::setSweepGate(std::function<bool(int joins, Clock::time_point now)> gate)
{
    sweep_gate = std::move(gate);
}

void JoinRepeater::requestSweep()
{
    sweep_asked.store(true);
}

int JoinRepeater::tick(Clock::time_point now)
{
    const int total = registry.machineCount();
    if (sweep_asked.load() && (!swept || now - last_sweep >= std::chrono::milliseconds(SweepIntervalMs))
        && (!sweep_gate || sweep_gate(total, now))) {
        sweep_asked.store(false);
        swept = true;
        last_sweep = now;
        quint64 from = 0;
        const int sent = sendJoins(from, total);
        if (swept_callback)
            swept_callback();
        return sent;
    }
    constexpr int Slices = PeriodMs / SliceMs;
    const int sent = sendJoins(cursor, (total + Slices - 1) / Slices);
    joins_this_period += sent;
    if (++slice == Slices) {
        period_joins.store(joins_this_period);
        slice = 0;
        joins_this_period = 0;
    }
    return sent;
}

int JoinRepeater::sendJoins(quint64& from, int count)
{
    if (count <= 0)
        return 0;
    const QList<QStudentManage::JoinTarget> targets = registry.onlineMachinesAfter(from, count);
    QHash<QString, uint32_t> addresses;
    uint32_t ungrouped = 0;
    {
        std::lock_guard<std::mutex> lock(address_mutex);
        addresses = group_addresses;
        ungrouped = ungrouped_address;
    }
    std::vector<Join> joins;
    joins.reserve(size_t(targets.size()));
    for (const QStudentManage::JoinTarget& target : targets) {
        const uint32_t group = target.group.isEmpty() ? ungrouped : addresses.value(target.group);
        if (group != 0)
            joins.push_back({ target.address, group });
    }
    if (!joins.empty())
        send(joins);
    return int(joins.size());
}
