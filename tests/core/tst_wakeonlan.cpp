#include "MacAddress.h"
#include "Protocol.h"
#include "WakeOnLan.h"

#include <QElapsedTimer>
#include <QUdpSocket>
#include <QtTest>

class TestWakeOnLan : public QObject
{
    Q_OBJECT

private slots:
    void magicPacketBytes();
    void broadcastAddressesStartWithLimitedBroadcast();
    void wakesEachMachineInTurn();
};

void TestWakeOnLan::magicPacketBytes()
{
    // Display form F6:E5:D4:C3:B2:A1: the least significant byte goes first.
    const QByteArray packet = WakeOnLan::magicPacket(Q_UINT64_C(0xA1B2C3D4E5F6));
    QCOMPARE(packet.size(), 102);
    QCOMPARE(packet.left(6), QByteArray::fromHex("FFFFFFFFFFFF"));
    for (int n = 0; n < 16; ++n)
        QCOMPARE(packet.mid(6 + 6 * n, 6), QByteArray::fromHex("F6E5D4C3B2A1"));
    // The bytes are those the tables show, in the same order.
    QCOMPARE(MacAddress::toDisplay(Q_UINT64_C(0xA1B2C3D4E5F6)), QStringLiteral("F6:E5:D4:C3:B2:A1"));
    // The upper 16 bits of the key are not part of the address.
    QCOMPARE(WakeOnLan::magicPacket(Q_UINT64_C(0xFFFF0000000000AB)).mid(6, 6), QByteArray::fromHex("AB0000000000"));
}

void TestWakeOnLan::broadcastAddressesStartWithLimitedBroadcast()
{
    const QList<uint32_t> addresses = WakeOnLan::broadcastAddresses();
    QVERIFY(!addresses.isEmpty());
    QCOMPARE(Protocol::addressToText(addresses.first()), QStringLiteral("255.255.255.255"));
    QCOMPARE(QSet<uint32_t>(addresses.begin(), addresses.end()).size(), addresses.size());
}

void TestWakeOnLan::wakesEachMachineInTurn()
{
    if (qgetenv("ROK_NETNS_ISOLATED") != "1")
        QSKIP("broadcasts only inside the isolated network namespace");

    QUdpSocket listener;
    QVERIFY(listener.bind(QHostAddress::AnyIPv4, 9, QUdpSocket::ShareAddress));
    QList<QByteArray> received;
    QList<qint64> times;
    QElapsedTimer clock;
    connect(&listener, &QUdpSocket::readyRead, this, [&] {
        while (listener.hasPendingDatagrams()) {
            QByteArray data(int(listener.pendingDatagramSize()), '\0');
            listener.readDatagram(data.data(), data.size());
            received << data;
            times << clock.elapsed();
        }
    });

    const QList<quint64> macs{0x010203040506, 0x0A0B0C0D0E0F, 0x111213141516};
    WakeOnLan waker(9, 20);
    clock.start();
    waker.wake(macs);
    QVERIFY(clock.elapsed() < 200); // the caller never waits for the sends
    QTRY_COMPARE(received.size(), macs.size());
    for (int i = 0; i < macs.size(); ++i)
        QCOMPARE(received[i], WakeOnLan::magicPacket(macs[i]));
    // Staggered: the last machine is woken at least two pauses after the first.
    QVERIFY2(times.last() - times.first() >= 30, qPrintable(QString::number(times.last() - times.first())));
    QCOMPARE(waker.pending(), 0);
}

QTEST_GUILESS_MAIN(TestWakeOnLan)
#include "tst_wakeonlan.moc"
