// The window in-process, its table read directly, with the agent simulator
// as a separate program whose agents fall silent and come back.

#include "QStudentGroupWidget.h"
#include "QtRokTableView.h"
#include "RokVtxAdmin.h"
#include "SimulatorProcess.h"

#include <QElapsedTimer>
#include <QJsonObject>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTextCodec>
#include <QtTest>

namespace {

constexpr int Patience = 15000;
// The simulator's first agents, as it numbers them by default.
constexpr quint64 Fading = Q_UINT64_C(0x5A0000000001);
constexpr quint64 Steady = Q_UINT64_C(0x5A0000000002);

const QString Online = QStringLiteral("在线");
const QString Offline = QStringLiteral("断开");

QString stateOf(const QStudentGroupWidget* page, quint64 mac)
{
    const int row = page->rowOfMachine(mac);
    return row < 0 ? QString() : page->machine_table->getCellText(row, 2);
}

bool isSilent(const SimulatorProcess& simulator, const QString& host)
{
    return simulator.agent(host).value(QStringLiteral("silent")).toBool();
}

} // namespace

class TestE2eOffline : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void silentMachineShownDisconnectedThenOnline();
};

void TestE2eOffline::initTestCase()
{
    QVERIFY2(qEnvironmentVariableIsSet("ROK_NETNS_ISOLATED"),
        "opens the console's UDP ports: run it through ctest or scripts/netns");
    QTextCodec::setCodecForLocale(QTextCodec::codecForName("UTF-8"));
}

void TestE2eOffline::silentMachineShownDisconnectedThenOnline()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    RokVtxAdmin window(dir.path());
    QVERIFY(window.networkReady());
    QStudentGroupWidget* all = window.allPage();
    QStudentGroupWidget* ungrouped = window.ungroupedPage();
    QVERIFY(all && ungrouped);

    // PC-0001 stops after 3 s for 3 s; PC-0002 keeps going.
    SimulatorProcess simulator;
    simulator.start({ QStringLiteral("--agents"), QStringLiteral("2"), QStringLiteral("--console"),
        QStringLiteral("127.0.0.1"), QStringLiteral("--heartbeat-ms"), QStringLiteral("200"),
        QStringLiteral("--report-ms"), QStringLiteral("50"), QStringLiteral("--silent"), QStringLiteral("1"),
        QStringLiteral("--silent-after"), QStringLiteral("3"), QStringLiteral("--return-after"), QStringLiteral("3") });
    QVERIFY2(simulator.process().waitForStarted(Patience), qPrintable(simulator.process().errorString()));

    QTRY_COMPARE_WITH_TIMEOUT(stateOf(all, Fading), Online, Patience);
    QTRY_COMPARE_WITH_TIMEOUT(stateOf(all, Steady), Online, Patience);
    QTRY_COMPARE_WITH_TIMEOUT(stateOf(ungrouped, Fading), Online, Patience);
    QVERIFY2(!simulator.wasSilent(QStringLiteral("PC-0001")), "the agent fell silent before it was seen");

    // About 1.5 s of silence (15 ticks of 100 ms) makes it "断开" on both
    // of its pages at once; the other machine stays "在线".
    QTRY_VERIFY_WITH_TIMEOUT(isSilent(simulator, QStringLiteral("PC-0001")), Patience);
    QElapsedTimer silence;
    silence.start();
    QTRY_COMPARE_WITH_TIMEOUT(stateOf(all, Fading), Offline, Patience);
    const qint64 shownAfter = silence.elapsed();
    QVERIFY2(shownAfter >= 1000 && shownAfter <= 4000,
        qPrintable(QStringLiteral("断开 shown %1 ms after the silence began").arg(shownAfter)));
    QTRY_COMPARE_WITH_TIMEOUT(stateOf(ungrouped, Fading), Offline, 1000);
    QCOMPARE(stateOf(all, Steady), Online);
    QCOMPARE(stateOf(ungrouped, Steady), Online);

    // Back again: the page in view ("全部") shows it at its next refresh.
    QTRY_VERIFY_WITH_TIMEOUT(!isSilent(simulator, QStringLiteral("PC-0001")), Patience);
    QTRY_COMPARE_WITH_TIMEOUT(stateOf(all, Fading), Online, 5000);
    QCOMPARE(stateOf(all, Steady), Online);
    // Another page is brought up to date when it comes into view.
    window.tabWidget()->setCurrentWidget(ungrouped);
    QTRY_COMPARE_WITH_TIMEOUT(stateOf(ungrouped, Fading), Online, 5000);
    QCOMPARE(window.studentManage().allMachines().size(), 2);
}

QTEST_MAIN(TestE2eOffline)
#include "tst_e2e_offline.moc"
