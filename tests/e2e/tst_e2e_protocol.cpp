#include "ConsoleProcess.h"
#include "DatagramCatcher.h"
#include "Protocol.h"
#include "SqliteFile.h"

#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTextCodec>
#include <QtTest>
#include <algorithm>
#include <memory>

namespace {

// Stored before the console starts: group "机房A" (display order 2) lists a
// machine the console has never seen; "机房B" (display order 5) holds a
// machine stored with its old address. The pages are therefore "全部",
// "机房A" 239.74.8.27, "机房B" 239.74.8.28, "未分组" 239.74.8.29.
constexpr quint64 ListedInA = Q_UINT64_C(0x0A0000000001);
constexpr quint64 StoredInB = Q_UINT64_C(0x0B0000000001);
// Registers as PC-01 in the ungrouped test.
constexpr quint64 Registered = Q_UINT64_C(0x0C0000000001);

const QHostAddress GroupA(QStringLiteral("239.74.8.27"));
const QHostAddress Ungrouped(QStringLiteral("239.74.8.29"));

constexpr int Patience = 10000;

QByteArray hex(const char* text)
{
    return QByteArray::fromHex(text); // spaces are skipped
}

const QByteArray Reregister = hex("01 00 00 30");
const QByteArray JoinGroupA = hex("02 00 00 30 EF 4A 08 1B");
const QByteArray JoinGroupB = hex("02 00 00 30 EF 4A 08 1C");
const QByteArray JoinUngrouped = hex("02 00 00 30 EF 4A 08 1D");

QStringList preparedDatabase()
{
    return {
        QStringLiteral("CREATE TABLE tb_machines(ullmac bigint primary key not null,ip text,hostname text);"),
        QStringLiteral("CREATE TABLE tb_groups(group_name text primary key not null,"
                       "display_order int not null default 1,ullmac_list text,is_global int default 0);"),
        QStringLiteral("CREATE TABLE tb_string_items(str_val text not null,item_type int not null,"
                       "item_state int not null default 1);"),
        QStringLiteral("INSERT INTO tb_groups VALUES('机房B',5,'%1',0);").arg(StoredInB),
        QStringLiteral("INSERT INTO tb_groups VALUES('机房A',2,'%1',0);").arg(ListedInA),
        QStringLiteral("INSERT INTO tb_machines VALUES(%1,'127.0.0.21','PC-B1');").arg(StoredInB),
        QStringLiteral("INSERT INTO tb_string_items VALUES('notepad.exe',3,1);"),
    };
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QByteArray datagramBytes(const QList<DatagramCatcher::Datagram>& datagrams, int index)
{
    return index < datagrams.size() ? datagrams.at(index).data : QByteArray();
}

} // namespace

class TestE2eProtocol : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void beaconEveryHalfSecond();
    void reregisterAnswers_data();
    void reregisterAnswers();
    void shortDatagramIgnored();
    void registrationAnsweredTwiceWithUngroupedAddress();
    void storedGroupMachinesToldTheirGroup();
    void olderPolicyVersionAnsweredAtGroupAddress();
    void stopsKeepingGroupsAndMachines();

private:
    // Waits until two more lock datagrams reached "未分组": by then anything
    // the console had queued before has left it.
    bool settle();
    std::unique_ptr<DatagramCatcher> agentAt(const char* address);

    QTemporaryDir dir_;
    std::unique_ptr<ConsoleProcess> console_;
    DatagramCatcher probe_;
    DatagramCatcher groupA_;
    DatagramCatcher ungrouped_;
};

void TestE2eProtocol::initTestCase()
{
    QVERIFY2(qEnvironmentVariableIsSet("ROK_NETNS_ISOLATED"),
        "opens the console's UDP ports: run it through ctest or scripts/netns");
    QTextCodec::setCodecForLocale(QTextCodec::codecForName("UTF-8"));
    QVERIFY(dir_.isValid());

    console_ = std::make_unique<ConsoleProcess>(
        dir_.filePath(QStringLiteral("console")), dir_.filePath(QStringLiteral("tmp")));
    QVERIFY(console_->install());
    QString error;
    QVERIFY2(SqliteFile::exec(console_->dataFile(QStringLiteral("data.sqlite3")), preparedDatabase(), &error),
        qPrintable(error));

    QVERIFY2(groupA_.bind(GroupA, Protocol::AgentPort), qPrintable(groupA_.errorString()));
    QVERIFY2(groupA_.joinGroup(GroupA), qPrintable(groupA_.errorString()));
    QVERIFY2(ungrouped_.bind(Ungrouped, Protocol::AgentPort), qPrintable(ungrouped_.errorString()));
    QVERIFY2(ungrouped_.joinGroup(Ungrouped), qPrintable(ungrouped_.errorString()));
    QVERIFY(probe_.bind(QHostAddress(QStringLiteral("127.0.0.2")), 0));

    console_->start();
    QVERIFY2(console_->process().waitForStarted(Patience), qPrintable(console_->process().errorString()));
    // Listening once it answers a datagram without identity.
    const QByteArray ping = hex("00 00 00 00 00 00 00 00 02 00 00 20");
    const auto answered = [this, &ping] {
        probe_.sendToConsole(ping);
        return probe_.countOf(Protocol::MSG_ADMIN_REREGISTER) > 0;
    };
    QTRY_VERIFY_WITH_TIMEOUT(answered(), Patience);
    // Both groups repeat their state from the start.
    QTRY_VERIFY_WITH_TIMEOUT(groupA_.countOf(Protocol::MSG_ADMIN_LOCK_STATE) > 0, Patience);
    QTRY_VERIFY_WITH_TIMEOUT(ungrouped_.countOf(Protocol::MSG_ADMIN_POLICY) > 0, Patience);
}

bool TestE2eProtocol::settle()
{
    const int locks = ungrouped_.countOf(Protocol::MSG_ADMIN_LOCK_STATE);
    return QTest::qWaitFor(
        [this, locks] { return ungrouped_.countOf(Protocol::MSG_ADMIN_LOCK_STATE) >= locks + 2; }, Patience);
}

std::unique_ptr<DatagramCatcher> TestE2eProtocol::agentAt(const char* address)
{
    auto agent = std::make_unique<DatagramCatcher>();
    if (!agent->bind(QHostAddress(QString::fromLatin1(address)), Protocol::AgentPort))
        return nullptr;
    return agent;
}

void TestE2eProtocol::beaconEveryHalfSecond()
{
    DatagramCatcher bystander;
    QVERIFY(bystander.bind(QHostAddress::AnyIPv4, Protocol::AgentPort));
    QTRY_VERIFY_WITH_TIMEOUT(bystander.countOf(Protocol::MSG_ADMIN_BEACON) >= 6, Patience);

    const QList<DatagramCatcher::Datagram> beacons = bystander.withId(Protocol::MSG_ADMIN_BEACON);
    QVector<qint64> periods;
    for (int i = 0; i < beacons.size(); ++i) {
        QCOMPARE(beacons.at(i).data, hex("01 00 00 00"));
        QCOMPARE(beacons.at(i).senderPort, Protocol::ConsolePort);
        if (i > 0)
            periods << beacons.at(i).atMs - beacons.at(i - 1).atMs;
    }
    // About 500 ms. The median, because a busy machine may hand this test
    // two beacons at once and then none for a while.
    std::sort(periods.begin(), periods.end());
    const qint64 median = periods.at(periods.size() / 2);
    QVERIFY2(median >= 350 && median <= 900, qPrintable(QStringLiteral("median period %1 ms").arg(median)));
}

void TestE2eProtocol::reregisterAnswers_data()
{
    QTest::addColumn<QByteArray>("datagram");

    QTest::newRow("identity 0, register PC-01")
        << hex("00 00 00 00 00 00 00 00 01 00 00 20 0B 05 00 00 00 50 43 2D 30 31 00");
    QTest::newRow("identity 0, heartbeat") << hex("00 00 00 00 00 00 00 00 02 00 00 20");
    QTest::newRow("identity 0, policy version") << hex("00 00 00 00 00 00 00 00 03 00 00 20 01 00 00 00");
    QTest::newRow("unknown machine, heartbeat") << hex("01 00 00 00 00 EE 00 00 02 00 00 20");
    QTest::newRow("unknown machine, heartbeat with tail") << hex("02 00 00 00 00 EE 00 00 02 00 00 20 FF FF");
    QTest::newRow("unknown machine, policy version") << hex("03 00 00 00 00 EE 00 00 03 00 00 20 00 00 00 00");
    QTest::newRow("unknown machine, unknown id") << hex("04 00 00 00 00 EE 00 00 99 00 00 20");
}

void TestE2eProtocol::reregisterAnswers()
{
    QFETCH(QByteArray, datagram);
    probe_.clear();

    // Twice: had the first created a record, the second would not be asked
    // to register again.
    QVERIFY(probe_.sendToConsole(datagram));
    QVERIFY(probe_.sendToConsole(datagram));
    QTRY_COMPARE_WITH_TIMEOUT(probe_.received().size(), 2, Patience);
    for (const DatagramCatcher::Datagram& reply : probe_.received()) {
        QCOMPARE(reply.data, Reregister);
        QCOMPARE(reply.senderPort, Protocol::ConsolePort);
    }
}

void TestE2eProtocol::shortDatagramIgnored()
{
    probe_.clear();
    QVERIFY(probe_.sendToConsole(hex("00 00 00 00 00 00 00 00 02 00 00")));
    QVERIFY(probe_.sendToConsole(hex("05 00 00 00 00 EE 00 00 01 00 00")));
    QVERIFY(probe_.sendToConsole(hex("00 00 00 00 00 00 00 00 02 00 00 20")));
    QTRY_COMPARE_WITH_TIMEOUT(probe_.received().size(), 1, Patience);
    QVERIFY(settle());
    QCOMPARE(probe_.received().size(), 1);
    QCOMPARE(probe_.received().constFirst().data, Reregister);
}

void TestE2eProtocol::registrationAnsweredTwiceWithUngroupedAddress()
{
    const std::unique_ptr<DatagramCatcher> agent = agentAt("127.0.0.3");
    QVERIFY(agent);

    // `Registered` as PC-01.
    const QByteArray registration = hex("01 00 00 00 00 0C 00 00 01 00 00 20 0B 05 00 00 00 50 43 2D 30 31 00");
    QVERIFY(agent->sendToConsole(registration));
    QTRY_COMPARE_WITH_TIMEOUT(agent->countOf(Protocol::MSG_ADMIN_JOIN_GROUP), 2, Patience);
    QVERIFY(settle());
    QCOMPARE(agent->received().size(), 2);
    for (const DatagramCatcher::Datagram& join : agent->received()) {
        QCOMPARE(join.data, JoinUngrouped);
        QCOMPARE(join.senderPort, Protocol::ConsolePort);
    }

    // Known now: a heartbeat asks for nothing, a new registration is answered once.
    QVERIFY(agent->sendToConsole(hex("01 00 00 00 00 0C 00 00 02 00 00 20")));
    QVERIFY(agent->sendToConsole(registration));
    QTRY_COMPARE_WITH_TIMEOUT(agent->countOf(Protocol::MSG_ADMIN_JOIN_GROUP), 3, Patience);
    QVERIFY(settle());
    QCOMPARE(agent->received().size(), 3);
    QCOMPARE(agent->received().constLast().data, JoinUngrouped);
}

void TestE2eProtocol::storedGroupMachinesToldTheirGroup()
{
    const std::unique_ptr<DatagramCatcher> listed = agentAt("127.0.0.4");
    const std::unique_ptr<DatagramCatcher> stored = agentAt("127.0.0.5");
    QVERIFY(listed && stored);

    // Never seen, but listed by "机房A": placed there and told twice, like a
    // new machine in "未分组".
    QVERIFY(listed->sendToConsole(Protocol::buildRegister(ListedInA, QStringLiteral("PC-A1"))));
    // Stored in "机房B" with another address: the answer goes where the
    // registration came from, once, since the machine is already placed.
    QVERIFY(stored->sendToConsole(Protocol::buildRegister(StoredInB, QStringLiteral("PC-B1"))));

    QTRY_COMPARE_WITH_TIMEOUT(listed->received().size(), 2, Patience);
    QTRY_COMPARE_WITH_TIMEOUT(stored->received().size(), 1, Patience);
    QVERIFY(settle());
    QCOMPARE(listed->received().size(), 2);
    QCOMPARE(datagramBytes(listed->received(), 0), JoinGroupA);
    QCOMPARE(datagramBytes(listed->received(), 1), JoinGroupA);
    QCOMPARE(stored->received().size(), 1);
    QCOMPARE(datagramBytes(stored->received(), 0), JoinGroupB);
}

void TestE2eProtocol::olderPolicyVersionAnsweredAtGroupAddress()
{
    const std::unique_ptr<DatagramCatcher> agent = agentAt("127.0.0.6");
    QVERIFY(agent);
    QVERIFY(agent->sendToConsole(Protocol::buildRegister(ListedInA, QStringLiteral("PC-A1"))));
    QTRY_VERIFY_WITH_TIMEOUT(agent->countOf(Protocol::MSG_ADMIN_JOIN_GROUP) > 0, Patience);
    QCOMPARE(datagramBytes(agent->received(), 0), JoinGroupA);

    // The group's current policy, from its periodic repetition.
    groupA_.clear();
    QTRY_VERIFY_WITH_TIMEOUT(groupA_.countOf(Protocol::MSG_ADMIN_POLICY) > 0, Patience);
    Protocol::PolicyContent current;
    QVERIFY(Protocol::parsePolicy(groupA_.withId(Protocol::MSG_ADMIN_POLICY).constFirst().data, current));
    QCOMPARE(current.lists[2], QStringList { QStringLiteral("notepad.exe") });
    const uint32_t version = current.version;

    // The same or a newer version asks for nothing: over three lock
    // repetitions only the periodic policies arrive.
    constexpr int Reports = 20;
    groupA_.clear();
    for (int i = 0; i < Reports; ++i) {
        QVERIFY(agent->sendToConsole(Protocol::buildPolicyVersion(ListedInA, version)));
        QVERIFY(agent->sendToConsole(Protocol::buildPolicyVersion(ListedInA, version + 1)));
    }
    QTRY_VERIFY_WITH_TIMEOUT(groupA_.countOf(Protocol::MSG_ADMIN_LOCK_STATE) >= 3, Patience);
    QVERIFY2(groupA_.countOf(Protocol::MSG_ADMIN_POLICY) <= 3,
        qPrintable(QString::number(groupA_.countOf(Protocol::MSG_ADMIN_POLICY))));

    // An older one brings the policy to the whole group, each time.
    groupA_.clear();
    ungrouped_.clear();
    for (int i = 0; i < Reports; ++i)
        QVERIFY(agent->sendToConsole(Protocol::buildPolicyVersion(ListedInA, version - 1)));
    QTRY_VERIFY_WITH_TIMEOUT(groupA_.countOf(Protocol::MSG_ADMIN_POLICY) >= Reports, Patience);
    for (const DatagramCatcher::Datagram& policy : groupA_.withId(Protocol::MSG_ADMIN_POLICY)) {
        Protocol::PolicyContent sent;
        QVERIFY(Protocol::parsePolicy(policy.data, sent));
        QCOMPARE(sent.version, version);
        QCOMPARE(policy.senderPort, Protocol::ConsolePort);
    }
    // Another group's address gets only its own repetitions, one policy
    // for each lock; the asking agent gets nothing unicast.
    QVERIFY(ungrouped_.countOf(Protocol::MSG_ADMIN_POLICY) <= ungrouped_.countOf(Protocol::MSG_ADMIN_LOCK_STATE) + 1);
    QCOMPARE(agent->countOf(Protocol::MSG_ADMIN_POLICY), 0);
}

void TestE2eProtocol::stopsKeepingGroupsAndMachines()
{
    console_->terminate();
    QVERIFY(console_->waitForFinished(Patience));
    QCOMPARE(console_->process().exitStatus(), QProcess::NormalExit);
    QCOMPARE(console_->process().exitCode(), 0);

    // Every page but "全部", in tab order.
    const QString config = QString::fromUtf8(readFile(console_->dataFile(QStringLiteral("config.conf"))));
    QRegularExpressionMatchIterator names
        = QRegularExpression(QStringLiteral("group-name=\"([^\"]*)\";")).globalMatch(config);
    QStringList pages;
    while (names.hasNext())
        pages << names.next().captured(1);
    QCOMPARE(pages, (QStringList { QStringLiteral("机房A"), QStringLiteral("机房B"), QStringLiteral("未分组") }));

    // The groups keep their members; the registered machines were added and
    // nothing that was only asked to register again.
    const QString path = console_->dataFile(QStringLiteral("data.sqlite3"));
    QString error;
    const QList<QStringList> groups = SqliteFile::rows(path,
        QStringLiteral("SELECT group_name,display_order,ullmac_list FROM tb_groups ORDER BY display_order;"), &error);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QCOMPARE(groups,
        (QList<QStringList> {
            { QStringLiteral("机房A"), QStringLiteral("2"), QString::number(ListedInA) },
            { QStringLiteral("机房B"), QStringLiteral("5"), QString::number(StoredInB) },
        }));
    const QList<QStringList> machines
        = SqliteFile::rows(path, QStringLiteral("SELECT ullmac,hostname FROM tb_machines ORDER BY ullmac;"), &error);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QCOMPARE(machines,
        (QList<QStringList> {
            { QString::number(ListedInA), QStringLiteral("PC-A1") },
            { QString::number(StoredInB), QStringLiteral("PC-B1") },
            { QString::number(Registered), QStringLiteral("PC-01") },
        }));
}

QTEST_GUILESS_MAIN(TestE2eProtocol)
#include "tst_e2e_protocol.moc"
