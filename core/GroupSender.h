#pragma once

#include "core/ResendThrottle.h"
#include "core/WaitClock.h"
#include "model/Rok_Lock_State.h"

#include <QByteArray>
#include <QStringList>
#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

// What a group's page sends its agents: the lock state and the policy as
// the two multicast datagrams, handed out at once when they change and
// repeated by a thread of its own, the two taking turns every
// ResendPeriodMs (each every second turn). No widgets: the network thread
// asks it for copies and resends without touching the page.
class GroupSender final
{
public:
    static constexpr int ResendPeriodMs = 300;
    // An agent's report of an older policy is answered at most once per
    // PolicyResendMs (reports in between are answered together at the end
    // of it).
    static constexpr int PolicyResendMs = 300;
    // Address (network-order bytes) and datagram. Called on the thread that
    // built or resent it, under the datagram's mutex.
    using Send = std::function<void(uint32_t address, const QByteArray& datagram)>;

    explicit GroupSender(Send send, std::shared_ptr<WaitClock> clock = std::make_shared<WaitClock>());
    GroupSender(const GroupSender&) = delete;
    GroupSender& operator=(const GroupSender&) = delete;
    ~GroupSender();

    // Starts the resend thread; the standard library's error when the system
    // refuses one.
    void start();
    // Ends the resend thread and waits for it; nothing is repeated after.
    void stop();

    // Rebuilds the lock word from lock_state, and sends it when an address
    // is set.
    void buildLockDatagram();
    // A new policy version (now) with the three lists (forbidden titles,
    // protected services, protected programs), sent when an address is set.
    void buildPolicyDatagram(const std::array<QStringList, 3>& lists);
    // Thread-safe copies for the receive path.
    QByteArray policyDatagramCopy();
    QByteArray lockDatagramCopy();
    // An agent reported the policy it holds: when that is older than ours,
    // the whole group gets the current policy again, throttled. True when
    // sent now.
    bool resendPolicyIfNewer(uint32_t agentVersion);

    std::shared_ptr<Rok_Lock_State> lock_state;
    std::atomic<uint32_t> group_addr { 0 }; // network-order bytes; 0 = none
    std::atomic<uint32_t> policy_version { 0 };

private:
    void resendLoop();

    const Send send;
    const std::shared_ptr<WaitClock> clock;
    std::unique_ptr<std::thread> resend_thread;
    std::atomic_bool running { false };

    QByteArray policy_datagram;
    std::mutex policy_mutex;
    ResendThrottle policy_throttle { std::chrono::milliseconds(PolicyResendMs) };
    QByteArray lock_datagram { 8, '\0' };
    std::mutex lock_mutex;
};
