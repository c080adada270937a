#include "MisbehavingStudent.h"

#include "core/Protocol.h"

#include <QString>
#include <QtEndian>
#include <asio/ip/multicast.hpp>

namespace {

using std::chrono::milliseconds;

// join-escape's lock follows its join this much later, so that the agents
// have joined the escape group when it arrives.
constexpr milliseconds EscapeLockDelay(50);
constexpr milliseconds EscapeLockPeriod(500);
constexpr milliseconds StolenHeartbeatPeriod(500);
constexpr milliseconds StolenRegisterPeriod(1000);
constexpr milliseconds BeaconPeriod(500);
constexpr uint32_t UnlockedWord = 0xF0000000u;
// The kernel may hand out any port of its ephemeral range, which holds both
// of the protocol's; a few tries find another.
constexpr int BindTries = 8;

} // namespace

MisbehavingStudent::MisbehavingStudent(asio::io_context& io, const SimulatorOptions& options)
    : modes_(options.studentModes)
    , address_(options.studentAddress)
    , groupInterface_(options.groupInterface)
    , rate_(options.studentRate)
    , forges_(options.studentForges)
    , madeUp_(options.studentMadeUp)
    , agents_(options.agents)
    , addressBase_(options.addressBase)
    , broadcast_(asio::ip::address_v4::broadcast(), Protocol::AgentPort)
    , escape_(asio::ip::address_v4(options.escapeGroup), Protocol::AgentPort)
    , join_(Protocol::buildJoinGroup(qToBigEndian(options.escapeGroup)))
    , unlock_(Protocol::buildLockState(UnlockedWord))
    , heartbeat_(Protocol::buildHeartbeat(options.agentMac(options.victim)))
    , register_(Protocol::buildRegister(options.agentMac(options.victim), QStringLiteral("STUDENT")))
    , beacon_(Protocol::buildBeacon())
    , io_(io)
    , socket_(io)
{
}

bool MisbehavingStudent::open(std::error_code& error)
{
    if ((forges_ || madeUp_) && !forged_.open(error))
        return false;
    const asio::ip::udp::endpoint local(asio::ip::address_v4(address_), 0);
    for (int attempt = 0; attempt < BindTries; ++attempt) {
        std::error_code ignored;
        socket_.close(ignored);
        socket_.open(asio::ip::udp::v4(), error);
        if (!error)
            socket_.set_option(asio::socket_base::broadcast(true), error);
        // Groups go out where the agents joined them.
        if (!error)
            socket_.set_option(asio::ip::multicast::outbound_interface(asio::ip::address_v4(groupInterface_)), error);
        if (!error)
            socket_.bind(local, error);
        if (!error)
            socket_.non_blocking(true, error);
        if (error)
            break;
        const uint16_t port = socket_.local_endpoint(error).port();
        if (error)
            break;
        if (port != Protocol::ConsolePort && port != Protocol::AgentPort)
            return true;
        error = asio::error::address_in_use;
    }
    std::error_code ignored;
    socket_.close(ignored);
    return false;
}

void MisbehavingStudent::start(const asio::ip::udp::endpoint& console)
{
    if (started_)
        return;
    started_ = true;
    console_ = console;
    const Clock::time_point now = Clock::now();
    if (modes_ & SimulatorOptions::JoinEscape) {
        send(join_, broadcast_);
        timers_.emplace_back(io_);
        repeat(timers_.back(), now + EscapeLockDelay, EscapeLockPeriod, &MisbehavingStudent::sendEscapeLock);
    }
    if (modes_ & SimulatorOptions::ForeignLock) {
        timers_.emplace_back(io_);
        const Clock::duration period = std::chrono::duration_cast<Clock::duration>(std::chrono::seconds(1)) / rate_;
        repeat(timers_.back(), now, period, &MisbehavingStudent::sendForeignLocks);
    }
    if (modes_ & SimulatorOptions::StealHeartbeat) {
        timers_.emplace_back(io_);
        repeat(timers_.back(), now, StolenHeartbeatPeriod, &MisbehavingStudent::sendStolenHeartbeat);
    }
    if (modes_ & SimulatorOptions::StealRegister) {
        timers_.emplace_back(io_);
        repeat(timers_.back(), now, StolenRegisterPeriod, &MisbehavingStudent::sendStolenRegister);
    }
    if (modes_ & SimulatorOptions::RogueBeacon) {
        timers_.emplace_back(io_);
        repeat(timers_.back(), now, BeaconPeriod, &MisbehavingStudent::sendBeacon);
    }
    const Clock::duration period = std::chrono::duration_cast<Clock::duration>(std::chrono::seconds(1)) / rate_;
    if (modes_ & SimulatorOptions::BroadcastLock) {
        timers_.emplace_back(io_);
        repeat(timers_.back(), now, period, &MisbehavingStudent::sendBroadcastLock);
    }
    if (modes_ & SimulatorOptions::RepeatJoin) {
        timers_.emplace_back(io_);
        repeat(timers_.back(), now, period, &MisbehavingStudent::sendRepeatedJoin);
        timers_.emplace_back(io_);
        repeat(timers_.back(), now + period / 2, period, &MisbehavingStudent::sendEscapeLock);
    }
    if (modes_ & SimulatorOptions::UnicastLock) {
        timers_.emplace_back(io_);
        repeat(timers_.back(), now, period, &MisbehavingStudent::sendUnicastLocks);
    }
}

void MisbehavingStudent::consoleSpoke(uint32_t group, Clock::time_point now)
{
    if (!started_ || !(modes_ & SimulatorOptions::Race) || groups_.count(group) == 0)
        return;
    // Each word at once, as long as this second's words do not exceed the rate.
    if (raceCount_ == 0 || now - raceSecond_ >= std::chrono::seconds(1)) {
        raceSecond_ = now;
        raceCount_ = 0;
    }
    if (raceCount_ >= rate_)
        return;
    ++raceCount_;
    send(unlock_, asio::ip::udp::endpoint(asio::ip::address_v4(qFromBigEndian(group)), Protocol::AgentPort));
}

bool MisbehavingStudent::forgedThis(const QByteArray& datagram) const
{
    return forges_ && (datagram == unlock_ || datagram == join_);
}

void MisbehavingStudent::repeat(asio::steady_timer& timer, Clock::time_point at, Clock::duration period, Action action)
{
    timer.expires_at(at);
    timer.async_wait([this, &timer, at, period, action](const std::error_code& error) {
        if (error)
            return;
        (this->*action)();
        // After a stall, skip what was missed rather than send a burst.
        Clock::time_point next = at + period;
        const Clock::time_point now = Clock::now();
        if (next <= now)
            next += period * ((now - next) / period + 1);
        repeat(timer, next, period, action);
    });
}

void MisbehavingStudent::send(const QByteArray& datagram, const asio::ip::udp::endpoint& to)
{
    bool sent = false;
    if (forges_) {
        sent = forged_.send(datagram, console_, to);
    } else if (madeUp_) {
        // 127.200.0.1 upwards, .0 and .255 skipped: a new sender each time.
        uint32_t host = madeUpNext_++ % (254 * 256);
        host = (host / 254) << 8 | (host % 254 + 1);
        const asio::ip::udp::endpoint from(asio::ip::address_v4((127u << 24) | (200u << 16) | host), 40000);
        sent = forged_.send(datagram, from, to);
    } else {
        std::error_code error;
        socket_.send_to(asio::buffer(datagram.constData(), static_cast<size_t>(datagram.size())), to, 0, error);
        sent = !error;
    }
    if (!sent) {
        ++sendErrors_;
        return;
    }
    ++sent_;
    bytes_ += static_cast<uint64_t>(datagram.size());
}

void MisbehavingStudent::sendEscapeLock()
{
    send(unlock_, escape_);
}

void MisbehavingStudent::sendForeignLocks()
{
    for (const uint32_t group : groups_)
        send(unlock_, asio::ip::udp::endpoint(asio::ip::address_v4(qFromBigEndian(group)), Protocol::AgentPort));
}

void MisbehavingStudent::sendStolenHeartbeat()
{
    send(heartbeat_, console_);
}

void MisbehavingStudent::sendStolenRegister()
{
    send(register_, console_);
}

void MisbehavingStudent::sendBeacon()
{
    send(beacon_, broadcast_);
}

void MisbehavingStudent::sendBroadcastLock()
{
    send(unlock_, broadcast_);
}

void MisbehavingStudent::sendRepeatedJoin()
{
    send(join_, broadcast_);
}

void MisbehavingStudent::sendUnicastLocks()
{
    for (int i = 0; i < agents_; ++i)
        send(unlock_,
            asio::ip::udp::endpoint(
                asio::ip::address_v4(SimulatorOptions::agentAddress(addressBase_, i)), Protocol::AgentPort));
}
