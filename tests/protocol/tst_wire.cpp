// The bytes on the wire and the texts of MACs and member lists: every
// expected datagram is written out, never built with the code under test.

#include "core/Protocol.h"
#include "core/WakeOnLan.h"
#include "model/CStudentGroup.h"
#include "model/MacAddress.h"

#include <QNetworkDatagram>
#include <QTextCodec>
#include <QUdpSocket>
#include <QtTest>

using namespace Protocol;

using PolicyLists = std::array<QStringList, 3>;
Q_DECLARE_METATYPE(PolicyLists)

namespace {

// Hex with spaces and "|" between fields, as the datagrams are written out below.
QByteArray hex(const char* text)
{
    return QByteArray::fromHex(QByteArray(text));
}

} // namespace

class TestWire : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void fixedConsoleDatagrams_data();
    void fixedConsoleDatagrams();
    void lockState_data();
    void lockState();
    void groupAddressSequence_data();
    void groupAddressSequence();
    void addressText_data();
    void addressText();
    void typedValueHead_data();
    void typedValueHead();
    void hostName_data();
    void hostName();
    void agentDatagrams_data();
    void agentDatagrams();
    void policyBytes_data();
    void policyBytes();
    void policyRejectsEveryTruncation();
    void policyRejectsMalformed_data();
    void policyRejectsMalformed();
    void consoleParsersAreStrict();

    void macTexts_data();
    void macTexts();
    void memberList_data();
    void memberList();
    void magicPacket();
    void wakesEachMachineInTurn();
};

void TestWire::initTestCase()
{
    // Wire text is in the local 8-bit code page, GBK on the labs' Chinese
    // Windows. Windows uses its own ANSI code page (936 under
    // scripts/windows --test); elsewhere set it.
#ifndef _WIN32
    QTextCodec::setCodecForLocale(QTextCodec::codecForName("GBK"));
#endif
}

void TestWire::fixedConsoleDatagrams_data()
{
    QTest::addColumn<QByteArray>("datagram");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("beacon") << buildBeacon() << hex("01 00 00 00");
    QTest::newRow("reregister") << buildReregister() << hex("01 00 00 30");
    QTest::newRow("join first group") << buildJoinGroup(firstGroupAddress()) << hex("02 00 00 30 | EF 4A 08 1B");
    QTest::newRow("join 10.1.2.3") << buildJoinGroup(addressFromOctets(10, 1, 2, 3))
                                   << hex("02 00 00 30 | 0A 01 02 03");
}

void TestWire::fixedConsoleDatagrams()
{
    QFETCH(QByteArray, datagram);
    QFETCH(QByteArray, expected);
    QCOMPARE(datagram.toHex(' '), expected.toHex(' '));
}

void TestWire::lockState_data()
{
    QTest::addColumn<int>("lockType");
    QTest::addColumn<bool>("manualIp");
    QTest::addColumn<bool>("usb");
    QTest::addColumn<uint>("word");
    QTest::addColumn<QByteArray>("datagram");

    QTest::newRow("none, manual ip, no usb") << 0 << true << false << 0xF0000000u << hex("03 00 00 30 | 00 00 00 F0");
    QTest::newRow("black lock, no manual ip, usb")
        << 2 << false << true << 0xF0000302u << hex("03 00 00 30 | 02 03 00 F0");
    QTest::newRow("quiet, defaults") << 1 << false << false << 0xF0000101u << hex("03 00 00 30 | 01 01 00 F0");
    QTest::newRow("kbd mouse, both allowed") << 3 << true << true << 0xF0000203u << hex("03 00 00 30 | 03 02 00 F0");
    QTest::newRow("only low 8 bits of type")
        << 0x1FF << true << false << 0xF00000FFu << hex("03 00 00 30 | FF 00 00 F0");
}

void TestWire::lockState()
{
    QFETCH(int, lockType);
    QFETCH(bool, manualIp);
    QFETCH(bool, usb);
    QFETCH(uint, word);
    QFETCH(QByteArray, datagram);

    Rok_Lock_State state;
    state.lock_type = lockType;
    state.allowmanualip = manualIp;
    state.allowusbdrv = usb;
    QCOMPARE(lockStateWord(state), word);
    QCOMPARE(buildLockState(word).toHex(' '), datagram.toHex(' '));

    uint32_t parsed = 0;
    QVERIFY(parseLockState(datagram, parsed));
    QCOMPARE(parsed, word);
}

void TestWire::groupAddressSequence_data()
{
    QTest::addColumn<int>("ordinal");
    QTest::addColumn<QString>("address");

    QTest::newRow("1st") << 1 << "239.74.8.27";
    QTest::newRow("228th") << 228 << "239.74.8.254";
    QTest::newRow("229th skips .255 and .0, .1") << 229 << "239.74.9.2";
    QTest::newRow("481st") << 481 << "239.74.9.254";
    QTest::newRow("482nd") << 482 << "239.74.10.2";
}

void TestWire::groupAddressSequence()
{
    QFETCH(int, ordinal);
    QFETCH(QString, address);

    uint32_t current = firstGroupAddress();
    for (int i = 1; i < ordinal; ++i)
        current = nextGroupAddress(current);
    QCOMPARE(addressToText(current), address);
    QCOMPARE(current, addressFromText(address));
}

void TestWire::addressText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("bytes");

    QTest::newRow("plain") << "192.168.1.20" << hex("C0 A8 01 14");
    QTest::newRow("broadcast") << "255.255.255.255" << hex("FF FF FF FF");
    QTest::newRow("three parts") << "1.2.3" << QByteArray();
    QTest::newRow("five parts") << "1.2.3.4.5" << QByteArray();
    QTest::newRow("octet too big") << "256.1.1.1" << QByteArray();
    QTest::newRow("sign") << "+1.2.3.4" << QByteArray();
    QTest::newRow("empty part") << "1..3.4" << QByteArray();
    QTest::newRow("with port") << "1.2.3.4:80" << QByteArray();
}

void TestWire::addressText()
{
    QFETCH(QString, text);
    QFETCH(QByteArray, bytes);

    const uint32_t address = addressFromText(text);
    if (bytes.isEmpty()) {
        QCOMPARE(address, 0u);
        return;
    }
    QCOMPARE(QByteArray(reinterpret_cast<const char*>(&address), 4), bytes);
    QCOMPARE(addressToText(address), text);
}

void TestWire::typedValueHead_data()
{
    QTest::addColumn<QByteArray>("buffer");
    QTest::addColumn<int>("len");
    QTest::addColumn<int>("offset");
    QTest::addColumn<int>("code");
    QTest::addColumn<uint>("size");

    QTest::newRow("empty") << QByteArray() << 0 << 0 << -1 << 0u;
    QTest::newRow("negative length") << hex("01") << -1 << 0 << -1 << 0u;
    QTest::newRow("offset at end") << hex("01 00") << 2 << 2 << -1 << 0u;
    QTest::newRow("negative offset") << hex("01 00") << 2 << -1 << -1 << 0u;
    QTest::newRow("code 0") << hex("00") << 1 << 0 << 0 << 0u;
    const uint sizes[] = { 1, 1, 2, 2, 4, 4, 8, 8, 4, 8 };
    for (int code = 1; code <= 10; ++code) {
        // The value itself is not required to be present.
        QTest::addRow("code %d", code) << QByteArray(1, char(code)) << 1 << 0 << code << sizes[code - 1];
    }
    QTest::newRow("string") << hex("0B 05 00 00 00 50 43 2D 30 31 00") << 11 << 0 << 11 << 5u;
    QTest::newRow("string length only") << hex("0B 10 00 00 00") << 5 << 0 << 11 << 16u;
    QTest::newRow("string with 3 length bytes") << hex("0B 05 00 00") << 4 << 0 << -1 << 0u;
    QTest::newRow("length beyond len") << hex("0B 05 00 00 00") << 4 << 0 << -1 << 0u;
    QTest::newRow("code 12") << hex("0C 00 01 00 00") << 5 << 0 << 12 << 256u;
    QTest::newRow("code 12 truncated") << hex("0C 00") << 2 << 0 << -1 << 0u;
    QTest::newRow("code 13") << hex("0D 00 00 00 00") << 5 << 0 << -1 << 0u;
    QTest::newRow("code 0xFF") << hex("FF") << 1 << 0 << -1 << 0u;
    QTest::newRow("at offset") << hex("AA BB 0B 02 00 00 00 41 42 00") << 10 << 2 << 11 << 2u;
}

void TestWire::typedValueHead()
{
    QFETCH(QByteArray, buffer);
    QFETCH(int, len);
    QFETCH(int, offset);
    QFETCH(int, code);
    QFETCH(uint, size);

    uint32_t got = 0xDEADBEEF;
    QCOMPARE(int(readTypedValueHead(buffer.constData(), len, offset, got)), code);
    QCOMPARE(got, size);
}

void TestWire::hostName_data()
{
    QTest::addColumn<QByteArray>("codec");
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<QString>("name");
    // Empty: the test's local code page. A console on a UTF-8 system reads
    // every character an agent can send.
    const QByteArray gbk;
    const QByteArray utf8 = "UTF-8";
    const QByteArray head = hex("0B 00 00 00 00");

    QTest::newRow("with NUL") << gbk << hex("0B 05 00 00 00 50 43 2D 30 31 00") << "PC-01";
    QTest::newRow("without NUL") << gbk << hex("0B 05 00 00 00 50 43 2D 30 31") << "PC-01";
    QTest::newRow("GBK") << gbk << hex("0B 07 00 00 00 BB FA B7 BF 2D 30 31 00") << QStringLiteral("机房-01");
    QTest::newRow("length field ignored") << gbk << hex("0B FF 00 00 00 50 43 00 41 41") << "PC";
    QTest::newRow("length shorter than text") << gbk << hex("0B 01 00 00 00 50 43 00") << "PC";
    QTest::newRow("empty name") << gbk << hex("0B 00 00 00 00 00") << "";
    QTest::newRow("head only") << gbk << hex("0B 00 00 00 00") << "";
    QTest::newRow("empty payload") << gbk << QByteArray() << "";
    QTest::newRow("truncated head") << gbk << hex("0B 05 00 00") << "";
    QTest::newRow("code 12") << gbk << hex("0C 02 00 00 00 41 42 00") << "";
    QTest::newRow("unknown code") << gbk << hex("20 02 00 00 00 41 42 00") << "";

    // Hidden characters are dropped, the characters around their ranges kept.
    QTest::newRow("C0 and DEL") << gbk << hex("0B 09 00 00 00 01 50 1F 43 20 7F 2D 09 31 00") << "PC -1";
    QTest::newRow("C1") << utf8 << hex("0B 08 00 00 00 C2 80 50 C2 9F 43 C2 A0 00") << QStringLiteral("PC\u00A0");
    QTest::newRow("format characters and separators")
        << utf8
        << hex("0B 00 00 00 00 41 D8 9C 42 E2 80 8E E2 80 8F 43 E2 80 AA E2 80 AE E2 80 AF"
               " 44 E2 81 A6 E2 81 A9 E2 81 AA 45 E2 80 8D E2 80 A9 E2 80 8B EF BB BF E2 80 A8 F3 A0 81 81"
               " 46 C2 AD 47 00")
        << QStringLiteral("ABC\u202FDEFG");
    QTest::newRow("65 characters") << gbk << head + QByteArray(65, 'a') << QString(64, QLatin1Char('a'));
    QTest::newRow("dropped characters do not count")
        << gbk << head + QByteArray(300, '\x01') + QByteArray(64, 'a') + "b" << QString(64, QLatin1Char('a'));
    QTest::newRow("dropped tags do not count") << utf8 << head + hex("F3 A0 81 81").repeated(100) + "PC" << "PC";
    QTest::newRow("surrogate pair at the cut")
        << utf8 << head + QByteArray(63, 'a') + hex("F0 9F 98 80") << QString(63, QLatin1Char('a'));
    QTest::newRow("surrogate pair ending at the cut")
        << utf8 << head + QByteArray(62, 'a') + hex("F0 9F 98 80 62")
        << QString(62, QLatin1Char('a')) + QStringLiteral("\U0001F600");
}

void TestWire::hostName()
{
    QFETCH(QByteArray, codec);
    QFETCH(QByteArray, payload);
    QFETCH(QString, name);
    QTextCodec* const local = QTextCodec::codecForLocale();
    if (!codec.isEmpty())
        QTextCodec::setCodecForLocale(QTextCodec::codecForName(codec));
    const QString read = hostNameFromRegister(payload.constData(), payload.size());
    QTextCodec::setCodecForLocale(local);
    QCOMPARE(read, name);
}

void TestWire::agentDatagrams_data()
{
    QTest::addColumn<QByteArray>("datagram");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("register") << buildRegister(Q_UINT64_C(0x1122334455667788), QStringLiteral("PC-01"))
                              << hex("88 77 66 55 44 33 22 11 | 01 00 00 20 | 0B 05 00 00 00 50 43 2D 30 31 00");
    QTest::newRow("register empty name") << buildRegister(1, QString())
                                         << hex("01 00 00 00 00 00 00 00 | 01 00 00 20 | 0B 00 00 00 00 00");
    QTest::newRow("heartbeat") << buildHeartbeat(Q_UINT64_C(0xA1B2C3D4E5F6))
                               << hex("F6 E5 D4 C3 B2 A1 00 00 | 02 00 00 20");
    QTest::newRow("policy version") << buildPolicyVersion(2, 0x01020304u)
                                    << hex("02 00 00 00 00 00 00 00 | 03 00 00 20 | 04 03 02 01");
    QTest::newRow("raw payload") << buildAgentDatagram(0, 0x20000009u, QByteArray("xy"))
                                 << hex("00 00 00 00 00 00 00 00 | 09 00 00 20 | 78 79");
}

void TestWire::agentDatagrams()
{
    QFETCH(QByteArray, datagram);
    QFETCH(QByteArray, expected);
    QCOMPARE(datagram.toHex(' '), expected.toHex(' '));

    AgentHead head;
    QVERIFY(parseAgentHead(datagram, head));
    QCOMPARE(head.mac, readU64(expected.constData()));
    QCOMPARE(head.id, readU32(expected.constData() + 8));
}

void TestWire::policyBytes_data()
{
    QTest::addColumn<uint>("version");
    QTest::addColumn<PolicyLists>("lists");
    QTest::addColumn<QByteArray>("expected");
    QTest::addColumn<bool>("roundTrips");

    QTest::newRow("worked example") << 0x01020304u
                                    << PolicyLists { QStringList { "ab", "c" }, QStringList {}, QStringList { "d" } }
                                    << hex("04 00 00 30 | 04 03 02 01 | 03 00 00 00 |"
                                           " 01 00 00 00 02 00 00 00 0B 04 00 00 00 61 62 0A 63 00 |"
                                           " 02 00 00 00 00 00 00 00 |"
                                           " 03 00 00 00 01 00 00 00 0B 01 00 00 00 64 00")
                                    << true;
    QTest::newRow("GBK texts") << 1u
                               << PolicyLists { QStringList {}, QStringList {},
                                      QStringList { QStringLiteral("游戏"), QStringLiteral("记事本") } }
                               << hex("04 00 00 30 | 01 00 00 00 | 03 00 00 00 |"
                                      " 01 00 00 00 00 00 00 00 | 02 00 00 00 00 00 00 00 |"
                                      " 03 00 00 00 02 00 00 00 0B 0B 00 00 00 D3 CE CF B7 0A BC C7 CA C2 B1 BE 00")
                               << true;
    QTest::newRow("all empty: 36 bytes")
        << 0xFFFFFFFFu << PolicyLists {}
        << hex("04 00 00 30 | FF FF FF FF | 03 00 00 00 |"
               " 01 00 00 00 00 00 00 00 | 02 00 00 00 00 00 00 00 | 03 00 00 00 00 00 00 00")
        << true;
    QTest::newRow("one empty item still has a string")
        << 0u << PolicyLists { QStringList {}, QStringList { "" }, QStringList {} }
        << hex("04 00 00 30 | 00 00 00 00 | 03 00 00 00 |"
               " 01 00 00 00 00 00 00 00 | 02 00 00 00 01 00 00 00 0B 00 00 00 00 00 |"
               " 03 00 00 00 00 00 00 00")
        << true;
    QTest::newRow("length stops at a NUL")
        << 0u << PolicyLists { QStringList { QString::fromLatin1("a\0b", 3) }, QStringList {}, QStringList {} }
        << hex("04 00 00 30 | 00 00 00 00 | 03 00 00 00 |"
               " 01 00 00 00 01 00 00 00 0B 01 00 00 00 61 00 |"
               " 02 00 00 00 00 00 00 00 | 03 00 00 00 00 00 00 00")
        << false;
}

void TestWire::policyBytes()
{
    QFETCH(uint, version);
    QFETCH(PolicyLists, lists);
    QFETCH(QByteArray, expected);
    QFETCH(bool, roundTrips);
    QCOMPARE(buildPolicy(version, lists).toHex(' '), expected.toHex(' '));

    PolicyContent parsed;
    QVERIFY(parsePolicy(expected, parsed));
    QCOMPARE(parsed.version, version);
    if (roundTrips) {
        for (int i = 0; i < 3; ++i)
            QCOMPARE(parsed.lists[i], lists[i]);
    }
}

void TestWire::policyRejectsEveryTruncation()
{
    const QByteArray full
        = buildPolicy(0x01020304u, { QStringList { "ab", "c" }, QStringList {}, QStringList { "d" } });
    PolicyContent parsed;
    QVERIFY(parsePolicy(full, parsed));
    for (int len = 0; len < full.size(); ++len) {
        PolicyContent untouched;
        untouched.version = 99;
        QVERIFY2(!parsePolicy(full.left(len), untouched), qPrintable(QString::number(len)));
        QCOMPARE(untouched.version, 99u);
    }
}

void TestWire::policyRejectsMalformed_data()
{
    QTest::addColumn<QByteArray>("datagram");

    const char* emptyLists = " 01 00 00 00 00 00 00 00 | 02 00 00 00 00 00 00 00 | 03 00 00 00 00 00 00 00";
    QTest::newRow("wrong id") << hex(QByteArray("03 00 00 30 | 00 00 00 00 | 03 00 00 00 |").append(emptyLists));
    QTest::newRow("two lists") << hex(QByteArray("04 00 00 30 | 00 00 00 00 | 02 00 00 00 |").append(emptyLists));
    QTest::newRow("trailing byte") << hex(
        QByteArray("04 00 00 30 | 00 00 00 00 | 03 00 00 00 |").append(emptyLists).append(" 00"));
    QTest::newRow("types out of order") << hex("04 00 00 30 | 00 00 00 00 | 03 00 00 00 |"
                                               " 02 00 00 00 00 00 00 00 | 01 00 00 00 00 00 00 00 |"
                                               " 03 00 00 00 00 00 00 00");
    QTest::newRow("code 12 string") << hex("04 00 00 30 | 00 00 00 00 | 03 00 00 00 |"
                                           " 01 00 00 00 01 00 00 00 0C 01 00 00 00 61 00 |"
                                           " 02 00 00 00 00 00 00 00 | 03 00 00 00 00 00 00 00");
    QTest::newRow("no NUL after text") << hex("04 00 00 30 | 00 00 00 00 | 03 00 00 00 |"
                                              " 01 00 00 00 01 00 00 00 0B 01 00 00 00 61 62 |"
                                              " 02 00 00 00 00 00 00 00 | 03 00 00 00 00 00 00 00");
    QTest::newRow("count differs from items") << hex("04 00 00 30 | 00 00 00 00 | 03 00 00 00 |"
                                                     " 01 00 00 00 03 00 00 00 0B 03 00 00 00 61 0A 62 00 |"
                                                     " 02 00 00 00 00 00 00 00 | 03 00 00 00 00 00 00 00");
    QTest::newRow("length past end") << hex("04 00 00 30 | 00 00 00 00 | 03 00 00 00 |"
                                            " 01 00 00 00 01 00 00 00 0B FF FF FF FF 61 00 |"
                                            " 02 00 00 00 00 00 00 00 | 03 00 00 00 00 00 00 00");
}

void TestWire::policyRejectsMalformed()
{
    QFETCH(QByteArray, datagram);
    PolicyContent parsed;
    QVERIFY(!parsePolicy(datagram, parsed));
}

void TestWire::consoleParsersAreStrict()
{
    QCOMPARE(consoleMessageId(hex("01 00 00")), 0u);
    QCOMPARE(consoleMessageId(buildBeacon()), MSG_ADMIN_BEACON);

    uint32_t value = 0;
    QVERIFY(parseJoinGroup(hex("02 00 00 30 | EF 4A 09 02"), value));
    QCOMPARE(addressToText(value), QStringLiteral("239.74.9.2"));
    QVERIFY(!parseJoinGroup(hex("02 00 00 30 | EF 4A 09"), value));
    QVERIFY(!parseJoinGroup(hex("02 00 00 30 | EF 4A 09 02 00"), value));
    QVERIFY(!parseJoinGroup(hex("03 00 00 30 | EF 4A 09 02"), value));
    QVERIFY(!parseLockState(hex("02 00 00 30 | 00 00 00 F0"), value));
    QVERIFY(!parseLockState(hex("03 00 00 30 | 00 00 F0"), value));
    AgentHead head;
    QVERIFY(!parseAgentHead(hex("01 00 00 00 00 00 00 00 | 02 00 00"), head));
}

void TestWire::macTexts_data()
{
    QTest::addColumn<quint64>("mac");
    QTest::addColumn<QString>("display");
    QTest::addColumn<QString>("compact");

    QTest::newRow("low byte first") << Q_UINT64_C(0x554433221100) << "00:11:22:33:44:55"
                                    << "001122334455";
    QTest::newRow("upper case") << Q_UINT64_C(0xA1B2C3D4E5F6) << "F6:E5:D4:C3:B2:A1"
                                << "F6E5D4C3B2A1";
    QTest::newRow("upper 16 bits hidden") << Q_UINT64_C(0xFFFF000000000002) << "02:00:00:00:00:00"
                                          << "020000000000";
}

void TestWire::macTexts()
{
    QFETCH(quint64, mac);
    QFETCH(QString, display);
    QFETCH(QString, compact);
    QCOMPARE(MacAddress::toDisplay(mac), display);
    QCOMPARE(MacAddress::toCompact(mac), compact);
}

void TestWire::memberList_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QList<quint64>>("expected");

    QTest::newRow("empty") << "" << QList<quint64> {};
    QTest::newRow("lone comma") << "," << QList<quint64> {};
    QTest::newRow("empty part dropped") << "12,,34" << QList<quint64> { 12, 34 };
    QTest::newRow("junk reads as zero") << "12,x" << QList<quint64> { 0, 12 };
    QTest::newRow("full 64 bits") << "18446744073709551615" << QList<quint64> { Q_UINT64_C(18446744073709551615) };
}

void TestWire::memberList()
{
    QFETCH(QString, text);
    QFETCH(QList<quint64>, expected);

    CStudentGroup group;
    group.ullmac_list = { 99 }; // parsing starts from a cleared set
    group.setUllmacListText(text);
    QList<quint64> got = group.ullmac_list.values();
    std::sort(got.begin(), got.end());
    QCOMPARE(got, expected);

    // Written back as the stored column has it; a set has no order.
    group.ullmac_list = { 1, 42 };
    const QString written = group.ullmacListText();
    QVERIFY2(written == "1,42" || written == "42,1", qPrintable(written));
}

void TestWire::magicPacket()
{
    // Display form F6:E5:D4:C3:B2:A1: the least significant byte goes first.
    QCOMPARE(WakeOnLan::magicPacket(Q_UINT64_C(0xA1B2C3D4E5F6)).toHex(' '),
        hex("FF FF FF FF FF FF").append(hex("F6 E5 D4 C3 B2 A1").repeated(16)).toHex(' '));
    // The upper 16 bits of the key are not part of the address.
    QCOMPARE(WakeOnLan::magicPacket(Q_UINT64_C(0xFFFF0000000000AB)).mid(6, 6), hex("AB 00 00 00 00 00"));
}

void TestWire::wakesEachMachineInTurn()
{
    if (qgetenv("ROK_NETNS_ISOLATED") != "1")
        QSKIP("broadcasts only inside the isolated network namespace");

    QUdpSocket listener;
    QVERIFY(listener.bind(QHostAddress::AnyIPv4, WakeOnLan::DefaultPort, QUdpSocket::ShareAddress));
    QList<QByteArray> received;
    connect(&listener, &QUdpSocket::readyRead, this, [&] {
        while (listener.hasPendingDatagrams())
            received << listener.receiveDatagram().data();
    });

    WakeOnLan waker;
    // MAC 0 is no machine and is not woken.
    waker.wake({ Q_UINT64_C(0x060504030201), 0, Q_UINT64_C(0x0F0E0D0C0B0A) });
    QTRY_COMPARE(received.size(), 2);
    QCOMPARE(received[0].toHex(' '), hex("FF FF FF FF FF FF").append(hex("01 02 03 04 05 06").repeated(16)).toHex(' '));
    QCOMPARE(received[1].left(12).toHex(' '), hex("FF FF FF FF FF FF 0A 0B 0C 0D 0E 0F").toHex(' '));
    QCOMPARE(waker.pending(), 0);
}

QTEST_GUILESS_MAIN(TestWire)
#include "tst_wire.moc"
