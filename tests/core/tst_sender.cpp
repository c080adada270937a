// What the console repeats on its own beat, without a window, on a clock the
// test moves, so every period is exact: a group's lock word and policy
// taking turns, the old-policy throttle and its held-back answer, nothing
// without a group address; the beacon on fixed deadlines.

#include "core/Beacon.h"
#include "core/GroupSender.h"
#include "core/Protocol.h"
#include "HandClock.h"

#include <QtTest>

namespace {

const uint32_t GroupAddress = Protocol::addressFromOctets(239, 74, 8, 27);

// A sender with both datagrams built (sent at once when addressed); what it
// sent, in order: 'L' the lock word, 'P' the policy, '?' anything else.
struct Group
{
    explicit Group(qint64 startMs, bool addressed = true)
        : clock(std::make_shared<HandClock>(startMs))
        , sender(
              [this](uint32_t address, const QByteArray& datagram) {
                  std::lock_guard<std::mutex> guard(mutex);
                  const uint32_t id = Protocol::consoleMessageId(datagram);
                  sent += QLatin1Char(address != GroupAddress    ? '?'
                          : id == Protocol::MSG_ADMIN_LOCK_STATE ? 'L'
                          : id == Protocol::MSG_ADMIN_POLICY     ? 'P'
                                                                 : '?');
              },
              clock)
    {
        sender.group_addr = addressed ? GroupAddress : 0;
        sender.buildLockDatagram();
        sender.buildPolicyDatagram(std::array<QStringList, 3> { QStringList { "t" }, QStringList(), QStringList() });
    }

    QString ids()
    {
        std::lock_guard<std::mutex> guard(mutex);
        return sent;
    }

    std::shared_ptr<HandClock> clock;
    std::mutex mutex;
    QString sent;
    GroupSender sender;
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
    void beaconOnFixedDeadlines();
};

void TestSender::lockAndPolicyTakeTurnsEveryPeriod()
{
    // Started off the beat: the first wake-up is the next multiple of the
    // period, so every page's thread wakes at the same instants.
    Group group(130);
    group.sender.start();
    const QStringList expected { "LPL", "LPLP", "LPLPL", "LPLPLP" };
    for (int n = 1; n <= 4; ++n) {
        QCOMPARE(group.clock->sleep(n), 300 * n);
        group.clock->setTime(300 * n);
        QCOMPARE(group.clock->sleep(n + 1), 300 * (n + 1));
        QCOMPARE(group.ids(), expected.at(n - 1));
    }
    // A late wake-up sends once and keeps the beat: no burst to catch up.
    group.clock->setTime(2000);
    QCOMPARE(group.clock->sleep(6), 2100);
    QCOMPARE(group.ids(), QStringLiteral("LPLPLPL"));
    // Stopping ends the sleep without the time moving.
    group.sender.stop();
    QCOMPARE(group.ids(), QStringLiteral("LPLPLPL"));
}

void TestSender::nothingRepeatedWithoutAddress()
{
    Group group(0, false);
    QVERIFY(!group.sender.resendPolicyIfNewer(0));
    group.sender.start();
    for (int n = 1; n <= 3; ++n) {
        QCOMPARE(group.clock->sleep(n), 300 * n);
        group.clock->setTime(300 * n);
    }
    QCOMPARE(group.clock->sleep(4), 1200);
    QCOMPARE(group.ids(), QString());
    // The turn does not move while nothing goes out: the lock word first.
    group.sender.group_addr = GroupAddress;
    group.clock->setTime(1200);
    QCOMPARE(group.clock->sleep(5), 1500);
    QCOMPARE(group.ids(), QStringLiteral("L"));
}

void TestSender::oldPolicyReportThrottled()
{
    Group group(1000); // not started: only the reports send
    const uint32_t version = group.sender.policy_version.load();
    QVERIFY(!group.sender.resendPolicyIfNewer(version));
    QVERIFY(group.sender.resendPolicyIfNewer(version - 1));
    group.clock->setTime(1299);
    QVERIFY(!group.sender.resendPolicyIfNewer(version - 1));
    group.clock->setTime(1300);
    QVERIFY(group.sender.resendPolicyIfNewer(0));
    QCOMPARE(group.ids(), QStringLiteral("LPPP"));
}

void TestSender::heldBackReportAnsweredOnTheLockTurn()
{
    Group group(0);
    group.sender.start();
    QCOMPARE(group.clock->sleep(1), 300);
    group.clock->setTime(300);
    QCOMPARE(group.clock->sleep(2), 600);
    group.clock->setTime(350);
    QVERIFY(group.sender.resendPolicyIfNewer(0)); // at once
    group.clock->setTime(400);
    QVERIFY(!group.sender.resendPolicyIfNewer(0)); // held back
    group.clock->setTime(600);
    QCOMPARE(group.clock->sleep(3), 900);
    // The policy's own turn came too early to count as the answer.
    QCOMPARE(group.ids(), QStringLiteral("LPLPP"));
    group.clock->setTime(900);
    QCOMPARE(group.clock->sleep(4), 1200);
    QCOMPARE(group.ids(), QStringLiteral("LPLPPPL"));
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
