// The bound on known machines that keeps registrations of made-up MACs from
// growing the console without end: in the registry, and at the console's port.

#include "MessageBox.h"
#include "Protocol.h"
#include "QStudentManage.h"
#include "RokResources.h"
#include "RokVtxAdmin.h"

#include <QHostAddress>
#include <QNetworkDatagram>
#include <QTemporaryDir>
#include <QUdpSocket>
#include <QtTest>

namespace {

constexpr quint64 Base = 0x0000B0B000000001ULL;

void fill(QStudentManage& registry, int count)
{
    for (int i = 0; i < count; ++i)
        QVERIFY(registry.updateMachine(Base + quint64(i), QStringLiteral("BOGUS"), QStringLiteral("127.0.0.3"), false));
}

// Datagrams the console sent to `socket` within `ms`, by message id.
QList<uint32_t> repliesWithin(QUdpSocket& socket, int ms)
{
    QList<uint32_t> ids;
    QElapsedTimer waited;
    waited.start();
    while (waited.elapsed() < ms) {
        QTest::qWait(10);
        while (socket.hasPendingDatagrams())
            ids << Protocol::consoleMessageId(socket.receiveDatagram().data());
    }
    return ids;
}

} // namespace

class TestRegistryLimit : public QObject
{
    Q_OBJECT

private slots:
    void registryRefusesBeyondTheBound();
    void consoleKeepsAnsweringWhenFull();
};

void TestRegistryLimit::registryRefusesBeyondTheBound()
{
    QStudentManage registry;
    fill(registry, QStudentManage::MaxMachines);
    QCOMPARE(registry.allMachines().size(), QStudentManage::MaxMachines);

    const quint64 extra = Base + quint64(QStudentManage::MaxMachines);
    QVERIFY(!registry.updateMachine(extra, QStringLiteral("one too many"), QStringLiteral("10.0.0.1"), true));
    QVERIFY(!registry.findMachine(extra));
    QCOMPARE(registry.allMachines().size(), QStudentManage::MaxMachines);

    // Known machines are not affected.
    const CStuInfo_PTR known
        = registry.updateMachine(Base, QStringLiteral("renamed"), QStringLiteral("10.0.0.2"), true);
    QVERIFY(known);
    QCOMPARE(known->hostname, QStringLiteral("renamed"));

    // Deleting a machine makes room again.
    registry.removeMachine(Base + 1);
    QVERIFY(registry.updateMachine(extra, QStringLiteral("room again"), QStringLiteral("10.0.0.1"), true));
}

void TestRegistryLimit::consoleKeepsAnsweringWhenFull()
{
    if (qgetenv("ROK_NETNS_ISOLATED") != "1")
        QSKIP("sends to the console's port; runs only inside scripts/netns");
    initRokResources();
    QTemporaryDir dir;
    MessageBox::setNextAnswer(QMessageBox::Ok);
    RokVtxAdmin window(dir.path());
    MessageBox::setNextAnswer(QMessageBox::NoButton);
    QVERIFY(window.networkReady());
    fill(window.studentManage(), QStudentManage::MaxMachines - 1);

    QUdpSocket agent;
    QVERIFY(agent.bind(QHostAddress(QStringLiteral("127.0.0.2")), Protocol::AgentPort));
    const QHostAddress console(QStringLiteral("127.0.0.1"));
    const quint64 last = 0x0000CC0000000001ULL;
    const quint64 refused = 0x0000CC0000000002ULL;

    // The last place is taken as usual.
    agent.writeDatagram(Protocol::buildRegister(last, QStringLiteral("LAST")), console, Protocol::ConsolePort);
    QTRY_VERIFY(window.studentManage().findMachine(last));
    QVERIFY(repliesWithin(agent, 300).contains(Protocol::MSG_ADMIN_JOIN_GROUP));

    // Beyond the bound a registration creates nothing and brings no answer...
    agent.writeDatagram(Protocol::buildRegister(refused, QStringLiteral("REFUSED")), console, Protocol::ConsolePort);
    QVERIFY(!repliesWithin(agent, 300).contains(Protocol::MSG_ADMIN_JOIN_GROUP));
    QVERIFY(!window.studentManage().findMachine(refused));
    QCOMPARE(window.studentManage().allMachines().size(), QStudentManage::MaxMachines);

    // ...while the console goes on answering everyone else.
    QList<uint32_t> heard;
    const auto hears = [&](uint32_t id) {
        heard << repliesWithin(agent, 20);
        return heard.contains(id);
    };
    agent.writeDatagram(Protocol::buildHeartbeat(refused), console, Protocol::ConsolePort);
    QTRY_VERIFY(hears(Protocol::MSG_ADMIN_REREGISTER));
    heard.clear();
    agent.writeDatagram(Protocol::buildRegister(last, QStringLiteral("LAST")), console, Protocol::ConsolePort);
    QTRY_VERIFY(hears(Protocol::MSG_ADMIN_JOIN_GROUP));
}

QTEST_MAIN(TestRegistryLimit)
#include "tst_registrylimit.moc"
