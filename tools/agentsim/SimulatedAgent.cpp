#include "SimulatedAgent.h"

#include "core/Protocol.h"
#include "model/MacAddress.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <algorithm>
#include <utility>

SimulatedAgent::SimulatedAgent(asio::io_context& io, uint64_t mac, const QString& hostName, uint32_t address,
    const Schedule& schedule, SimulatorCounters& counters)
    : mac_(mac)
    , hostName_(hostName)
    , address_(address)
    , macText_(QString::number(mac))
    , macDisplay_(MacAddress::toDisplay(mac))
    , addressText_(QString::fromStdString(asio::ip::address_v4(address).to_string()))
    , registerDatagram_(Protocol::buildRegister(mac, hostName))
    , heartbeatDatagram_(Protocol::buildHeartbeat(mac))
    , schedule_(schedule)
    , counters_(counters)
    , socket_(io)
    , random_(static_cast<std::minstd_rand::result_type>(mac))
{
}

bool SimulatedAgent::open(std::error_code& error)
{
    const asio::ip::udp::endpoint local(asio::ip::address_v4(address_), Protocol::AgentPort);
    socket_.open(asio::ip::udp::v4(), error);
    if (!error)
        socket_.set_option(asio::socket_base::reuse_address(true), error);
    if (!error)
        socket_.bind(local, error);
    // A full send buffer must cost one datagram, never stall every agent.
    if (!error)
        socket_.non_blocking(true, error);
    if (error) {
        std::error_code ignored;
        socket_.close(ignored);
    }
    return !error;
}

SimulatedAgent::Clock::time_point SimulatedAgent::start(
    const asio::ip::udp::endpoint& console, Clock::time_point firstTick)
{
    console_ = console;
    started_ = true;
    heartbeatNominal_ = firstTick;
    heartbeatDue_ = firstTick;
    reportDue_ = firstTick + schedule_.policyReport;
    return nextDue();
}

void SimulatedAgent::joinGroup(uint32_t group)
{
    group_ = group;
    registered_ = true;
    ++joins_;
}

void SimulatedAgent::reregister()
{
    ++reregisters_;
    registered_ = false;
    if (started_ && !silent_)
        sendRegister();
}

void SimulatedAgent::setSilent(bool silent, Clock::time_point now)
{
    accrue(now);
    silent_ = silent;
    // The gap over a silence is no lateness.
    lastSent_ = Clock::time_point();
}

void SimulatedAgent::holdLock(uint32_t word, Clock::time_point now)
{
    accrue(now);
    hasLock_ = true;
    lockWord_ = word;
    ++locks_;
}

void SimulatedAgent::holdPolicy(std::shared_ptr<const HeldPolicy> policy)
{
    policy_ = std::move(policy);
    ++policies_;
}

void SimulatedAgent::assignConsoleGroup(uint32_t group, bool consoleLocks, Clock::time_point now)
{
    consoleGroup_ = group;
    setConsoleLocks(consoleLocks, now);
}

void SimulatedAgent::setConsoleLocks(bool consoleLocks, Clock::time_point now)
{
    accrue(now);
    consoleLocks_ = consoleLocks;
}

SimulatedAgent::Clock::duration SimulatedAgent::unlockedTime(Clock::time_point now) const
{
    if (isUnlockedAgainstConsole() && now > accruedUntil_)
        return unlocked_ + (now - accruedUntil_);
    return unlocked_;
}

bool SimulatedAgent::isUnlockedAgainstConsole() const
{
    return consoleLocks_ && !silent_ && (!hasLock_ || (lockWord_ & 0xFFu) == 0);
}

void SimulatedAgent::accrue(Clock::time_point now)
{
    unlocked_ = unlockedTime(now);
    accruedUntil_ = std::max(accruedUntil_, now);
}

QByteArray SimulatedAgent::reportLine(Clock::time_point now) const
{
    QJsonObject line;
    line.insert(QStringLiteral("mac"), macText_);
    line.insert(QStringLiteral("mac_display"), macDisplay_);
    line.insert(QStringLiteral("host"), hostName_);
    line.insert(QStringLiteral("ip"), addressText_);
    line.insert(QStringLiteral("registered"), registered_);
    line.insert(QStringLiteral("silent"), silent_);
    line.insert(QStringLiteral("group"), group_ ? QJsonValue(Protocol::addressToText(group_)) : QJsonValue());
    line.insert(QStringLiteral("consoleGroup"),
        consoleGroup_ ? QJsonValue(Protocol::addressToText(consoleGroup_)) : QJsonValue());
    line.insert(QStringLiteral("unlockedMs"),
        static_cast<qint64>(std::chrono::duration_cast<std::chrono::milliseconds>(unlockedTime(now)).count()));
    line.insert(QStringLiteral("lock"),
        hasLock_
            ? QJsonValue(QStringLiteral("0x") + QStringLiteral("%1").arg(lockWord_, 8, 16, QLatin1Char('0')).toUpper())
            : QJsonValue());
    line.insert(QStringLiteral("policy_version"), static_cast<qint64>(policy_ ? policy_->version() : 0));
    line.insert(QStringLiteral("joins"), static_cast<qint64>(joins_));
    line.insert(QStringLiteral("locks"), static_cast<qint64>(locks_));
    line.insert(QStringLiteral("policies"), static_cast<qint64>(policies_));
    line.insert(QStringLiteral("reregisters"), static_cast<qint64>(reregisters_));
    line.insert(QStringLiteral("sent"), static_cast<qint64>(sent_));

    // QJsonObject sorts its keys; "type" goes first for readers that grep.
    // The lists are shared by the whole group and serialised once; they are
    // spliced in before the closing brace.
    QByteArray text = QJsonDocument(line).toJson(QJsonDocument::Compact);
    text.replace(0, 1, "{\"type\":\"agent\",");
    text.chop(1);
    text += ",\"lists\":";
    text += policy_ ? policy_->listsJson() : HeldPolicy::emptyListsJson();
    text += '}';
    return text;
}

SimulatedAgent::Clock::time_point SimulatedAgent::tick(Clock::time_point now)
{
    if (now >= heartbeatDue_) {
        if (!silent_) {
            if (registered_) {
                send(heartbeatDatagram_);
                ++counters_.heartbeats;
            } else {
                // Until a JOIN_GROUP answers, every beat registers again: a
                // lost registration or reply must not leave the agent unknown.
                sendRegister();
            }
        }
        heartbeatNominal_ = nextAfter(heartbeatNominal_, schedule_.heartbeat, now);
        heartbeatDue_ = heartbeatNominal_;
        if (schedule_.jitter.count() > 0) {
            const int jitter = static_cast<int>(schedule_.jitter.count());
            heartbeatDue_ += std::chrono::milliseconds(std::uniform_int_distribution<int>(-jitter, jitter)(random_));
            // A beat jittered into the past would fire twice in one wake-up.
            if (heartbeatDue_ <= now)
                heartbeatDue_ = now + std::chrono::milliseconds(1);
        }
    }
    if (schedule_.policyReport.count() > 0 && now >= reportDue_) {
        if (!silent_ && registered_) {
            send(Protocol::buildPolicyVersion(mac_, policy_ ? policy_->version() : 0));
            ++counters_.policyReports;
        }
        reportDue_ = nextAfter(reportDue_, schedule_.policyReport, now);
    }
    return nextDue();
}

SimulatedAgent::Clock::time_point SimulatedAgent::nextDue() const
{
    return schedule_.policyReport.count() > 0 ? std::min(heartbeatDue_, reportDue_) : heartbeatDue_;
}

void SimulatedAgent::send(const QByteArray& datagram)
{
    std::error_code error;
    socket_.send_to(asio::buffer(datagram.constData(), static_cast<size_t>(datagram.size())), console_, 0, error);
    if (error) {
        ++counters_.sendErrors;
        return;
    }
    const Clock::time_point now = Clock::now();
    if (lastSent_ != Clock::time_point())
        longestGap_ = std::max(longestGap_, now - lastSent_);
    lastSent_ = now;
    ++counters_.sent;
    ++sent_;
}

void SimulatedAgent::sendRegister()
{
    send(registerDatagram_);
    ++counters_.registers;
}

SimulatedAgent::Clock::time_point SimulatedAgent::nextAfter(
    Clock::time_point due, Clock::duration period, Clock::time_point now)
{
    due += period;
    // After a stall skip the missed beats instead of sending them in a burst,
    // keeping the phase.
    if (due <= now)
        due += period * ((now - due) / period + 1);
    return due;
}
