#pragma once

#include "core/QStudentManage.h"

#include <QHash>
#include <QString>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

// Repeats every on-line machine's group membership by unicast, as the pages
// repeat their lock state: a join that someone else sent moves an agent out
// of its group only until its next turn. The joins of one period are spread
// evenly over its slices, never sent as one burst; a sweep sends them all at
// once (someone was seen moving agents), at most once a second and when the
// gate allows.
class JoinRepeater final
{
public:
    static constexpr int PeriodMs = 5000;
    static constexpr int SliceMs = 100;
    static constexpr int SweepIntervalMs = 1000;
    using Clock = std::chrono::steady_clock;
    // Agent address and group address, both network-order bytes.
    struct Join
    {
        uint32_t agent = 0;
        uint32_t group = 0;
    };
    // One tick's joins, sent together.
    using Send = std::function<void(const std::vector<Join>& joins)>;

    JoinRepeater(const QStudentManage& registry, Send send);
    // After a sweep (network thread): the agents are back in their groups,
    // and the groups' state should follow at once, so that a word someone
    // sent them meanwhile does not stand until its next repetition.
    void setSweptCallback(std::function<void()> swept);
    JoinRepeater(const JoinRepeater&) = delete;
    JoinRepeater& operator=(const JoinRepeater&) = delete;

    // The multicast address of each group's page, and of the page of the
    // machines in no group (any thread; the pages come and go on the UI
    // thread). A machine whose group has no page gets no join.
    void setGroupAddresses(const QHash<QString, uint32_t>& byGroup, uint32_t ungrouped);
    // Before a sweep of `joins` joins (network thread): false puts it off to
    // a later slice, as the byte budget wants.
    void setSweepGate(std::function<bool(int joins, Clock::time_point now)> gate);
    // Any thread: the next slice sends every on-line machine its join.
    void requestSweep();
    // The joins of the last whole period, sweeps aside (any thread).
    int joinsPerPeriod() const { return period_joins.load(); }
    // Network thread, every SliceMs: sends this slice's joins (or a sweep's);
    // returns how many.
    int tick(Clock::time_point now);

private:
    int sendJoins(quint64& cursor, int count);

    const QStudentManage& registry;
    const Send send;
    std::function<void()> swept_callback;
    std::function<bool(int, Clock::time_point)> sweep_gate;
    std::mutex address_mutex;
    QHash<QString, uint32_t> group_addresses;
    uint32_t ungrouped_address = 0;
    std::atomic_bool sweep_asked { false };
    std::atomic_int period_joins { 0 };
    // Network thread only.
    quint64 cursor = 0;
    Clock::time_point last_sweep;
    bool swept = false;
    int slice = 0;
    int joins_this_period = 0;
};
