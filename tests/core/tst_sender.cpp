// What the console repeats on its own beat, without a window: a group's
// lock word and policy taking turns on the period, an agent's report of an
// old policy answered within the throttle, nothing without a group address;
// the beacon on fixed deadlines. Time is a clock the test moves, so every
// period is checked exactly.

#include "Beacon.h"
#include "GroupSender.h"
#include "HandClock.h"
#include "Protocol.h"

#include <QtTest>
#include <mutex>

namespace {

const uint32_t GroupAddress = Protocol::addressFromOctets(239, 74, 8, 27);

std::array<QStringList, 3> lists(
    const QStringList& titles, const QStringList& services = {}, const QStringList& programs = {})
{
    return { titles, services, programs };
}

// Every datagram the sender handed out, from any thread.
struct Outbox
{
    GroupSender::Send sink()
    {
        return [this](uint32_t address, const QByteArray& datagram) {
            std::lock_guard<std::mutex> guard(mutex);
            sent.push_back({ address, datagram });
        };
    }

    // The ids of what was sent to the group, in order: 'L' lock word, 'P' policy.
    QString ids()
    {
        std::lock_guard<std::mutex> guard(mutex);
        QString out;
        for (const auto& one : sent) {
            if (one.first != GroupAddress)
                out += QLatin1Char('?');
            else if (one.second.size() == 8 && Protocol::consoleMessageId(one.second) == Protocol::MSG_ADMIN_LOCK_STATE)
                out += QLatin1Char('L');
            else if (Protocol::consoleMessageId(one.second) == Protocol::MSG_ADMIN_POLICY)
                out += QLatin1Char('P');
            else
                out += QLatin1Char('?');
        }
        return out;
    }

    std::mutex mutex;
    std::vector<std::pair<uint32_t, QByteArray>> sent;
};

} // namespace

class TestSender : public QObject
{
    Q_OBJECT

private slots:
    void lockAndPolicyTakeTurnsEveryPeriod();
    void nothingRepeatedWithoutAddress();
    void oldPolicyReportThrottled();
    void heldBackReportAnsweredOnTheLockTurn();
    void buildsSendAtOnceOnlyWithAddress();
    void stopEndsTheSleep();
    void beaconOnFixedDeadlines();
};

void TestSender::lockAndPolicyTakeTurnsEveryPeriod()
{
    // Started off the beat: the first wake-up is the next multiple of the
    // period, so every page's thread wakes at the same instants.
    auto clock = std::make_shared<HandClock>(130);
    Outbox out;
    GroupSender sender(out.sink(), clock);
    sender.buildLockDatagram();
    sender.buildPolicyDatagram(lists({ "a" }));
    sender.group_addr = GroupAddress;
    sender.start();

    const QStringList expected { "L", "LP", "LPL", "LPLP" };
    for (int n = 1; n <= 4; ++n) {
        QCOMPARE(clock->sleep(n), 300 * n);
        clock->setTime(300 * n);
        QCOMPARE(clock->sleep(n + 1), 300 * (n + 1));
        QCOMPARE(out.ids(), expected.at(n - 1));
    }
    // A late wake-up sends once and keeps the beat: no burst to catch up.
    clock->setTime(2000);
    QCOMPARE(clock->sleep(6), 2100);
    QCOMPARE(out.ids(), QStringLiteral("LPLPL"));
    QCOMPARE(out.sent.back().second, sender.lockDatagramCopy());
    QCOMPARE(out.sent.at(1).second, sender.policyDatagramCopy());
}

void TestSender::nothingRepeatedWithoutAddress()
{
    auto clock = std::make_shared<HandClock>();
    Outbox out;
    GroupSender sender(out.sink(), clock);
    sender.buildLockDatagram();
    sender.buildPolicyDatagram(lists({}));
    QVERIFY(!sender.resendPolicyIfNewer(0));
    sender.start();
    for (int n = 1; n <= 3; ++n) {
        QCOMPARE(clock->sleep(n), 300 * n);
        clock->setTime(300 * n);
    }
    QCOMPARE(clock->sleep(4), 1200);
    QCOMPARE(out.ids(), QString());

    // The turn does not move while nothing goes out: the lock word first.
    sender.group_addr = GroupAddress;
    clock->setTime(1200);
    QCOMPARE(clock->sleep(5), 1500);
    QCOMPARE(out.ids(), QStringLiteral("L"));
}

void TestSender::oldPolicyReportThrottled()
{
    // Not started: only the reports send.
    auto clock = std::make_shared<HandClock>(1000);
    Outbox out;
    GroupSender sender(out.sink(), clock);
    sender.group_addr = GroupAddress;
    sender.buildPolicyDatagram(lists({}, { "svc" }));
    const uint32_t version = sender.policy_version.load();
    QCOMPARE(out.ids(), QStringLiteral("P"));

    QVERIFY(!sender.resendPolicyIfNewer(version));
    QVERIFY(sender.resendPolicyIfNewer(version - 1));
    clock->setTime(1299);
    QVERIFY(!sender.resendPolicyIfNewer(version - 1));
    clock->setTime(1300);
    QVERIFY(sender.resendPolicyIfNewer(0));
    QCOMPARE(out.ids(), QStringLiteral("PPP"));
    QCOMPARE(out.sent.back().second, sender.policyDatagramCopy());
}

void TestSender::heldBackReportAnsweredOnTheLockTurn()
{
    auto clock = std::make_shared<HandClock>();
    Outbox out;
    GroupSender sender(out.sink(), clock);
    sender.buildLockDatagram();
    sender.buildPolicyDatagram(lists({ "t" }));
    sender.group_addr = GroupAddress;
    sender.start();

    QCOMPARE(clock->sleep(1), 300);
    clock->setTime(300);
    QCOMPARE(clock->sleep(2), 600);
    clock->setTime(350);
    QVERIFY(sender.resendPolicyIfNewer(0)); // at once
    clock->setTime(400);
    QVERIFY(!sender.resendPolicyIfNewer(0)); // held back
    clock->setTime(600);
    QCOMPARE(clock->sleep(3), 900);
    // The policy's own turn came too early to count as the answer.
    QCOMPARE(out.ids(), QStringLiteral("LPP"));
    clock->setTime(900);
    QCOMPARE(clock->sleep(4), 1200);
    QCOMPARE(out.ids(), QStringLiteral("LPPPL"));
}

void TestSender::buildsSendAtOnceOnlyWithAddress()
{
    auto clock = std::make_shared<HandClock>();
    Outbox out;
    GroupSender sender(out.sink(), clock);
    QCOMPARE(sender.lockDatagramCopy(), QByteArray(8, '\0'));
    sender.lock_state->lock_type = 2;
    sender.buildLockDatagram();
    sender.buildPolicyDatagram(lists({}));
    QCOMPARE(out.ids(), QString());
    QCOMPARE(sender.lockDatagramCopy(), QByteArray::fromHex("03000030020100f0"));

    sender.group_addr = GroupAddress;
    sender.lock_state->allowusbdrv = true;
    sender.buildLockDatagram();
    sender.buildPolicyDatagram(lists({ "x" }, {}, { "p.exe" }));
    QCOMPARE(out.ids(), QStringLiteral("LP"));
    QCOMPARE(out.sent.front().second, QByteArray::fromHex("03000030020300f0"));
    Protocol::PolicyContent content;
    QVERIFY(Protocol::parsePolicy(out.sent.back().second, content));
    QCOMPARE(content.version, sender.policy_version.load());
    QCOMPARE(content.lists[2], QStringList { "p.exe" });
}

void TestSender::stopEndsTheSleep()
{
    auto clock = std::make_shared<HandClock>();
    Outbox out;
    GroupSender sender(out.sink(), clock);
    sender.buildLockDatagram();
    sender.group_addr = GroupAddress;
    sender.start();
    QCOMPARE(clock->sleep(1), 300);
    // Returns without the time moving, having sent nothing.
    sender.stop();
    QCOMPARE(out.ids(), QString());
}

void TestSender::beaconOnFixedDeadlines()
{
    auto clock = std::make_shared<HandClock>(130);
    std::mutex mutex;
    int beacons = 0;
    Beacon beacon(
        [&](uint32_t address, const QByteArray& datagram) {
            std::lock_guard<std::mutex> guard(mutex);
            beacons += address == 0xFFFFFFFFu && datagram == Protocol::buildBeacon() ? 1 : 1000;
        },
        clock);
    beacon.start();
    // The first at once, then every period from there.
    QCOMPARE(clock->sleep(1), 630);
    QCOMPARE(beacons, 1);
    clock->setTime(630);
    QCOMPARE(clock->sleep(2), 1130);
    // A late wake-up does not move the beat.
    clock->setTime(1200);
    QCOMPARE(clock->sleep(3), 1630);
    QCOMPARE(beacons, 3);
    // Behind by more than a period, the beat starts again from the wake-up:
    // the beacons missed are not made up.
    clock->setTime(2500);
    QCOMPARE(clock->sleep(5), 3000);
    QCOMPARE(beacons, 5);
    beacon.stop();
    QCOMPARE(beacons, 5);
}

QTEST_GUILESS_MAIN(TestSender)
#include "tst_sender.moc"
