#include "core/GroupSender.h"

#include "core/Protocol.h"

GroupSender::GroupSender(Send send, std::shared_ptr<WaitClock> clock)
    : lock_state(std::make_shared<Rok_Lock_State>())
    , send(std::move(send))
    , clock(std::move(clock))
{
}

GroupSender::~GroupSender()
{
    stop();
}

void GroupSender::start()
{
    if (resend_thread)
        return;
    running.store(true);
    try {
        resend_thread = std::make_unique<std::thread>([this] { resendLoop(); });
    } catch (...) {
        running.store(false);
        throw;
    }
}

void GroupSender::stop()
{
    running.store(false);
    clock->wakeAll();
    if (resend_thread && resend_thread->joinable())
        resend_thread->join();
}

void GroupSender::buildLockDatagram()
{
    std::lock_guard<std::mutex> guard(lock_mutex);
    lock_datagram = Protocol::buildLockState(Protocol::lockStateWord(*lock_state));
    const uint32_t address = group_addr.load();
    if (address != 0)
        send(address, lock_datagram);
}

void GroupSender::buildPolicyDatagram(const std::array<QStringList, 3>& lists)
{
    std::lock_guard<std::mutex> guard(policy_mutex);
    const uint32_t version = Protocol::policyVersionNow();
    policy_version.store(version);
    policy_datagram = Protocol::buildPolicy(version, lists);
    const uint32_t address = group_addr.load();
    if (address != 0)
        send(address, policy_datagram);
}

QByteArray GroupSender::policyDatagramCopy()
{
    std::lock_guard<std::mutex> guard(policy_mutex);
    return policy_datagram;
}

QByteArray GroupSender::lockDatagramCopy()
{
    std::lock_guard<std::mutex> guard(lock_mutex);
    return lock_datagram;
}

bool GroupSender::resendPolicyIfNewer(uint32_t agentVersion)
{
    if (!(agentVersion < policy_version.load()))
        return false;
    const uint32_t address = group_addr.load();
    if (address == 0 || !policy_throttle.request(clock->now()))
        return false;
    std::lock_guard<std::mutex> guard(policy_mutex);
    if (policy_datagram.isEmpty())
        return false;
    send(address, policy_datagram);
    return true;
}

void GroupSender::resendLoop()
{
    const auto stopped = [this] { return !running.load(); };
    bool lockTurn = true;
    while (running.load()) {
        // Up to the next multiple of the period: the threads of all pages
        // wake together, and their datagrams reach the UI thread and the
        // network thread as one batch rather than as fifty wake-ups.
        clock->sleepUntil(WaitClock::nextMultiple(clock->now(), std::chrono::milliseconds(ResendPeriodMs)), stopped);
        if (stopped())
            break;
        const uint32_t address = group_addr.load();
        if (address == 0)
            continue;
        // Policy reports held back by the throttle are answered here.
        const bool owed = policy_throttle.takeOwed(clock->now());
        if (owed && lockTurn) {
            std::lock_guard<std::mutex> guard(policy_mutex);
            send(address, policy_datagram);
        }
        if (lockTurn) {
            std::lock_guard<std::mutex> guard(lock_mutex);
            send(address, lock_datagram);
        } else {
            std::lock_guard<std::mutex> guard(policy_mutex);
            send(address, policy_datagram);
        }
        lockTurn = !lockTurn;
    }
}
