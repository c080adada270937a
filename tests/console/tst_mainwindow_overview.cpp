// What the teacher sees at a glance and the power-on command: the status-bar
// counts, the on-line filter, the last-heard tool tip, the tray message for
// machines lost while the window is hidden, the CSV export and import, and waking the
// off-line machines of a tab.

#include "FileDialog.h"
#include "MacAddress.h"
#include "QtRokTableView.h"
#include "UdpServer.h"
#include "WakeOnLan.h"
#include "tst_mainwindow_support.h"

#include <QHeaderView>
#include <QHelpEvent>
#include <QSettings>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QToolTip>
#include <QUdpSocket>
#include <QtTest>

using namespace MainWindowTest;

namespace {

const QString Room1 = QStringLiteral("一号机房");
const QString Room2 = QStringLiteral("二号机房");

constexpr quint64 R1a = 0x00000A0000000101ULL;
constexpr quint64 R1b = 0x00000A0000000102ULL;
constexpr quint64 R1c = 0x00000A0000000103ULL;
constexpr quint64 R2a = 0x00000A0000000201ULL;
constexpr quint64 R2b = 0x00000A0000000202ULL;
constexpr quint64 Free = 0x00000A0000000301ULL;

// Three machines in 一号机房, two in 二号机房 (host names a spreadsheet
// could misread), one in none; all off line until heard.
bool seedLab(const QTemporaryDir& dir)
{
    return seedDatabase(dir.filePath(QStringLiteral("data.sqlite3")), { { Room1, 1 }, { Room2, 2 } },
        { { R1a, QStringLiteral("r1-a"), QStringLiteral("10.0.1.1"), Room1 },
            { R1b, QStringLiteral("r1-b"), QStringLiteral("10.0.1.2"), Room1 },
            { R1c, QStringLiteral("r1-c"), QStringLiteral("10.0.1.3"), Room1 },
            { R2a, QStringLiteral("机房,\"二\""), QStringLiteral("10.0.2.1"), Room2 },
            { R2b, QStringLiteral("=1+2"), QStringLiteral("10.0.2.2"), Room2 },
            { Free, QStringLiteral("free"), QStringLiteral("10.0.3.1"), QString() } });
}

// Keeps machines on line as their heartbeats would: the registry drops a
// machine after 1.5 s of silence.
class KeepAlive final : public QObject
{
public:
    KeepAlive(RokVtxAdmin& window, const QList<quint64>& macs)
    {
        for (quint64 mac : macs)
            machines << window.studentManage().findMachine(mac);
        beat();
        auto* timer = new QTimer(this);
        connect(timer, &QTimer::timeout, this, &KeepAlive::beat);
        timer->start(100);
    }

private:
    void beat()
    {
        for (const CStuInfo_PTR& machine : std::as_const(machines))
            machine->markAlive();
    }
    QList<CStuInfo_PTR> machines;
};

QSet<quint64> rowMacs(const QStudentGroupWidget* page, const std::function<bool(int row)>& select)
{
    QSet<quint64> macs;
    const QtRokTableView* table = page->machine_table;
    for (int row = 0; row < table->getRowCount(); ++row)
        if (select(row))
            macs << table->getCellUserData(row, 0, QStudentGroupWidget::MacRole).toULongLong();
    return macs;
}

QSet<quint64> hiddenMacs(const QStudentGroupWidget* page)
{
    return rowMacs(page, [page](int row) { return page->machine_table->isRowHidden(row); });
}

QSet<quint64> offlineMacs(const QStudentGroupWidget* page)
{
    return rowMacs(page, [page](int row) { return page->machine_table->getCellText(row, 2) != "在线"; });
}

QString stateToolTip(QStudentGroupWidget* page, quint64 mac)
{
    QtRokTableView* table = page->machine_table;
    const QPoint pos = table->visualRect(table->model()->index(rowOf(page, mac), 2)).center();
    QHelpEvent event(QEvent::ToolTip, pos, table->viewport()->mapToGlobal(pos));
    QApplication::sendEvent(table->viewport(), &event);
    const QString text = QToolTip::text();
    return text;
}

} // namespace

class TestOverview : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();

    void countsFollowTabAndMachines();
    void onlineOnlyHidesOfflineRows();
    void stateToolTipTellsLastHeard();
    void trayMessagePerBurstWhileHidden();
    void exportWritesCsv();
    void exportFailureIsReported();
    void importGivesExportedGroupsBack();
    void importRefusesBadRowsAndAsksOnce_data();
    void importRefusesBadRowsAndAsksOnce();
    void wakeReachesOfflineMachinesOfTab_data();
    void wakeReachesOfflineMachinesOfTab();

private:
    QTemporaryDir settings_dir;
};

void TestOverview::initTestCase()
{
    initRokResources();
    registerRokMetaTypes();
    // The filter is remembered in the program's settings: keep them here.
    QVERIFY(settings_dir.isValid());
    QCoreApplication::setOrganizationName(QStringLiteral("RokTests"));
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settings_dir.path());
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settings_dir.path());
}

void TestOverview::cleanup()
{
    MessageBox::setNextAnswer(QMessageBox::NoButton);
    MessageBox::clearLast();
    FileDialog::clearNextAnswer();
}

void TestOverview::countsFollowTabAndMachines()
{
    QTemporaryDir dir;
    QVERIFY(seedLab(dir));
    RokVtxAdmin window(dir.path());
    QCOMPARE(window.countsText(), QStringLiteral("在线 0 / 共 6"));

    // The refresh of the tab in view shows machines coming on line.
    auto alive = std::make_unique<KeepAlive>(window, QList<quint64> { R1a, R2b });
    QTRY_COMPARE_WITH_TIMEOUT(window.countsText(), QStringLiteral("在线 2 / 共 6"), 10000);
    window.tabWidget()->setCurrentIndex(tabIndexOf(window, Room1));
    QCOMPARE(window.countsText(), QStringLiteral("在线 1 / 共 3"));
    window.tabWidget()->setCurrentIndex(tabIndexOf(window, QStringLiteral("未分组")));
    QCOMPARE(window.countsText(), QStringLiteral("在线 0 / 共 1"));

    // A new machine registers and joins "未分组".
    const quint64 newcomer = 0x00000A0000000302ULL;
    UdpServer agent;
    QVERIFY(registerFrom(agent, newcomer, QStringLiteral("new")));
    QTRY_VERIFY(window.countsText().endsWith(QStringLiteral(" / 共 2")));

    // Machines falling silent, and a machine deleted.
    window.tabWidget()->setCurrentIndex(tabIndexOf(window, Room1));
    alive.reset();
    QTRY_COMPARE_WITH_TIMEOUT(window.countsText(), QStringLiteral("在线 0 / 共 3"), 10000);
    window.setSelectedMac(R1c);
    window.deleteSelectedMachine();
    QTRY_COMPARE(window.countsText(), QStringLiteral("在线 0 / 共 2"));
}

void TestOverview::onlineOnlyHidesOfflineRows()
{
    QTemporaryDir dir;
    QVERIFY(seedLab(dir));
    QSettings().remove(QStringLiteral("view/onlineOnly"));
    const auto filterHolds = [](const RokVtxAdmin& window) {
        for (int i = 0; i < window.tabWidget()->count(); ++i) {
            const QStudentGroupWidget* page = window.pageAt(i);
            if (hiddenMacs(page) != offlineMacs(page))
                return false;
        }
        return true;
    };
    {
        RokVtxAdmin window(dir.path());
        QAction* onlineOnly = action(window, "action_view_online_only");
        QVERIFY(onlineOnly->isCheckable() && !onlineOnly->isChecked());
        QVERIFY(hiddenMacs(window.allPage()).isEmpty());
        QStudentGroupWidget* room1 = page(window, Room1);
        for (int i = 0; i < window.tabWidget()->count(); ++i)
            window.pageAt(i)->refresh_enabled = true; // every page follows its machines

        KeepAlive alive(window, { R1a, R1c, Free });
        QTRY_COMPARE_WITH_TIMEOUT(offlineMacs(window.allPage()).size(), 3, 10000);
        QTRY_COMPARE_WITH_TIMEOUT(offlineMacs(room1), (QSet<quint64> { R1b }), 10000);
        QtRokTableView* table = window.allPage()->machine_table;
        table->selectRow(rowOf(window.allPage(), R1c));

        onlineOnly->trigger();
        QVERIFY(filterHolds(window));
        QCOMPARE(hiddenMacs(room1), (QSet<quint64> { R1b }));
        // Only the view hides them: the model, the sort and the selection stay.
        QCOMPARE(table->getRowCount(), 6);
        QCOMPARE(table->horizontalHeader()->sortIndicatorSection(), 1);
        QCOMPARE(table->selectionModel()->selectedRows(0).value(0).row(), rowOf(window.allPage(), R1c));

        table->sortByColumn(2, Qt::DescendingOrder);
        QVERIFY(filterHolds(window));
        table->sortByColumn(0, Qt::AscendingOrder);
        QVERIFY(filterHolds(window));
        QCOMPARE(table->selectionModel()->selectedRows(0).value(0).row(), rowOf(window.allPage(), R1c));

        // A machine coming on line shows; one dropping off hides.
        KeepAlive back(window, { R1b });
        QTRY_VERIFY_WITH_TIMEOUT(hiddenMacs(room1).isEmpty(), 10000);
        window.onMachinesChanged({ window.studentManage().findMachine(R1a) });
        QCOMPARE(hiddenMacs(room1), (QSet<quint64> { R1a }));
        QVERIFY(filterHolds(window));
    }

    // Remembered by the program, not by config.conf.
    QVERIFY(!fileBytes(dir.filePath(QStringLiteral("config.conf"))).contains("online"));
    {
        RokVtxAdmin window(dir.path());
        QAction* onlineOnly = action(window, "action_view_online_only");
        QVERIFY(onlineOnly->isChecked());
        QCOMPARE(hiddenMacs(window.allPage()).size(), 6);
        answerAddGroup(&window, QStringLiteral("新组"), 3);
        window.addGroupInteractive();
        QVERIFY(page(window, QStringLiteral("新组"))->onlineOnly());

        onlineOnly->trigger();
        QVERIFY(hiddenMacs(window.allPage()).isEmpty());
    }
    RokVtxAdmin window(dir.path());
    QVERIFY(!action(window, "action_view_online_only")->isChecked());
}

void TestOverview::stateToolTipTellsLastHeard()
{
    QTemporaryDir dir;
    QVERIFY(seedLab(dir));
    RokVtxAdmin window(dir.path());
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QStudentGroupWidget* all = window.allPage();

    QCOMPARE(stateToolTip(all, R1a), QStringLiteral("最后在线 —"));
    const QTime before = QTime::currentTime();
    window.studentManage().findMachine(R1a)->markAlive();
    const QTime after = QTime::currentTime();

    const QString text = stateToolTip(all, R1a);
    QVERIFY2(text.startsWith(QStringLiteral("最后在线 ")), qPrintable(text));
    const QTime heard = QTime::fromString(text.mid(5), QStringLiteral("HH:mm:ss"));
    QVERIFY2(heard.isValid(), qPrintable(text));
    QVERIFY(heard >= QTime(before.hour(), before.minute(), before.second()) && heard <= after);
}

void TestOverview::trayMessagePerBurstWhileHidden()
{
    QTemporaryDir dir;
    QVERIFY(seedLab(dir));
    RokVtxAdmin window(dir.path());
    QSignalSpy messages(&window, &RokVtxAdmin::sg_tray_message);
    const auto machines = [&window](const QList<quint64>& macs) { return window.studentManage().machinesByMac(macs); };

    // Two reports of the registry within one burst make one message.
    window.onMachinesChanged(machines({ R1b, R1a }));
    window.onMachinesChanged(machines({ Free }));
    QVERIFY(messages.wait(10000));
    QCOMPARE(messages.count(), 1);
    QCOMPARE(messages.at(0).at(0).toString(), QStringLiteral("机器离线"));
    QCOMPARE(messages.at(0).at(1).toString(), QStringLiteral("3 台机器离线：free、r1-a、r1-b"));

    // Many are counted, not named.
    messages.clear();
    window.onMachinesChanged(machines({ R1a, R1b, R1c, R2a, R2b, Free }));
    QVERIFY(messages.wait(10000));
    QCOMPARE(messages.at(0).at(1).toString(), QStringLiteral("6 台机器离线"));

    // While the teacher looks at the window the tables tell it; a later burst
    // names only its own machines, and not one back on line already.
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    messages.clear();
    window.onMachinesChanged(machines({ R1a }));
    window.hide();
    window.onMachinesChanged(machines({ R2a, R1c }));
    KeepAlive back(window, { R1c });
    QVERIFY(messages.wait(10000));
    QCOMPARE(messages.at(0).at(1).toString(), QStringLiteral("1 台机器离线：机房,\"二\""));
}

void TestOverview::exportWritesCsv()
{
    QTemporaryDir dir;
    QVERIFY(seedLab(dir));
    RokVtxAdmin window(dir.path());
    window.studentManage().findMachine(R2b)->markAlive();
    window.tabWidget()->setCurrentIndex(tabIndexOf(window, Room2));

    const QString path = dir.filePath(QStringLiteral("列表.csv"));
    FileDialog::setNextSaveFileName(path);
    action(window, "action_file_export")->trigger();
    QCOMPARE(fileBytes(path),
        QByteArray("\xEF\xBB\xBF"
                   "机器名,IP地址,MAC地址,分组,状态\r\n"
                   "\"机房,\"\"二\"\"\",10.0.2.1,01:02:00:00:00:0A,二号机房,断开\r\n"
                   "'=1+2,10.0.2.2,02:02:00:00:00:0A,二号机房,在线\r\n"));
    QVERIFY(window.statusBar()->currentMessage().contains(QStringLiteral("已导出 2 台机器")));

    // A cancelled chooser writes nothing.
    QVERIFY(QFile::remove(path));
    FileDialog::setNextSaveFileName(QString());
    action(window, "action_file_export")->trigger();
    QVERIFY(!QFile::exists(path));
}

void TestOverview::exportFailureIsReported()
{
    QTemporaryDir dir;
    QVERIFY(seedLab(dir));
    RokVtxAdmin window(dir.path());
    window.statusBar()->clearMessage();

    const QString path = dir.filePath(QStringLiteral("missing/list.csv"));
    FileDialog::setNextSaveFileName(path);
    MessageBox::setNextAnswer(QMessageBox::Ok);
    action(window, "action_file_export")->trigger();
    QCOMPARE(MessageBox::lastTitle(), QStringLiteral("错误"));
    QVERIFY2(MessageBox::lastText().contains(QDir::toNativeSeparators(path)), qPrintable(MessageBox::lastText()));
    QVERIFY(window.statusBar()->currentMessage().isEmpty());
    QVERIFY(!QFile::exists(path));
}

void TestOverview::importGivesExportedGroupsBack()
{
    QTemporaryDir dir;
    QVERIFY(seedLab(dir));
    const QString path = dir.filePath(QStringLiteral("全部.csv"));
    QStringList tabs;
    QList<QStringList> machines;
    {
        RokVtxAdmin source(dir.path());
        source.tabWidget()->setCurrentIndex(0);
        FileDialog::setNextSaveFileName(path);
        action(source, "action_file_export")->trigger();
        QVERIFY(QFile::exists(path));
        tabs = tabTexts(source);
        for (const CStuInfo_PTR& machine : source.studentManage().allMachines())
            machines << QStringList { MacAddress::toDisplay(machine->ullmac), machine->hostname, machine->ip,
                machine->group_name };
    }

    QTemporaryDir other;
    RokVtxAdmin target(other.path());
    FileDialog::setNextOpenFileName(path);
    MessageBox::setNextAnswer(QMessageBox::Ok);
    action(target, "action_file_import")->trigger();
    QCOMPARE(MessageBox::lastText(), QStringLiteral("新增 6 台机器，移动 0 台，拒绝 0 行。\n新建分组 2 个。"));
    QCOMPARE(tabTexts(target), tabs);
    QList<QStringList> imported;
    for (const CStuInfo_PTR& machine : target.studentManage().allMachines()) {
        // The formula guard is gone again, and each machine is on its page.
        imported << QStringList { MacAddress::toDisplay(machine->ullmac), machine->hostname, machine->ip,
            machine->group_name };
        const QString tab = machine->group_name.isEmpty() ? QStringLiteral("未分组") : machine->group_name;
        QVERIFY(rowOf(page(target, tab), machine->ullmac) >= 0);
    }
    QCOMPARE(imported, machines);
    target.saveNow();
    QCOMPARE(readDatabase(other.filePath(QStringLiteral("data.sqlite3"))).groupNames(), QStringList({ Room1, Room2 }));
}

void TestOverview::importRefusesBadRowsAndAsksOnce_data()
{
    QTest::addColumn<bool>("move");
    QTest::addColumn<QString>("groupOfR1a");
    QTest::newRow("moved") << true << Room2;
    QTest::newRow("kept") << false << Room1;
}

void TestOverview::importRefusesBadRowsAndAsksOnce()
{
    QFETCH(bool, move);
    QFETCH(QString, groupOfR1a);
    QTemporaryDir dir;
    QVERIFY(seedLab(dir));
    RokVtxAdmin window(dir.path());
    // As a spreadsheet program saves it: no byte order mark, LF, no state.
    const QString path = dir.filePath(QStringLiteral("机房.csv"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("\xe6\x9c\xba\xe5\x99\xa8\xe5\x90\x8d,IP,MAC,G\n" // 机器名
               "new-1,10.0.9.1,aa-bb-cc-dd-ee-01,\xe4\xb8\x89\n" // 三
               "r1-a,10.0.1.1,01:01:00:00:00:0A,\xe4\xba\x8c\xe5\x8f\xb7\xe6\x9c\xba\xe6\x88\xbf\n" // 二号机房
               "r1-b,10.0.1.2,02:01:00:00:00:0A,\xe4\xba\x8c\xe5\x8f\xb7\xe6\x9c\xba\xe6\x88\xbf\n"
               "free,10.0.3.1,01:03:00:00:00:0A,'=g\n"
               "\"q,\"\"1\"\"\nx\",10.0.9.4,aabbccddee04\n"
               "\n"
               "bad-mac,10.0.9.2,aa:bb:cc:dd:ee\n"
               "bad-ip,999.0.0.1,aa:bb:cc:dd:ee:02\n"
               "zero,,00:00:00:00:00:00\n"
               "all,,aa:bb:cc:dd:ee:03,\xe5\x85\xa8\xe9\x83\xa8\n" // 全部
               "again,10.0.9.5,AA:BB:CC:DD:EE:01\n"
               "short,10.0.9.6\n");
    file.close();

    FileDialog::setNextOpenFileName(path);
    MessageBox::setNextAnswers({ move ? QMessageBox::Yes : QMessageBox::No, QMessageBox::Ok });
    action(window, "action_file_import")->trigger();
    const QString text = MessageBox::lastText();
    const int moved = move ? 3 : 1; // free needs no consent
    QVERIFY2(text.startsWith(QStringLiteral("新增 2 台机器，移动 %1 台，拒绝 6 行。").arg(moved)), qPrintable(text));
    for (const char* line : { "第 9 行", "第 10 行", "第 11 行", "第 12 行", "第 13 行", "第 14 行" })
        QVERIFY2(text.contains(QString::fromUtf8(line)), line);

    QStudentManage& registry = window.studentManage();
    QCOMPARE(registry.groupNames(), QStringList({ Room1, Room2, QStringLiteral("三"), QStringLiteral("=g") }));
    QCOMPARE(registry.findMachine(0x01EEDDCCBBAAULL)->group_name, QStringLiteral("三"));
    QCOMPARE(registry.findMachine(0x04EEDDCCBBAAULL)->hostname, QStringLiteral("q,\"1\"\nx"));
    QCOMPARE(registry.findMachine(0x04EEDDCCBBAAULL)->group_name, QString());
    QCOMPARE(registry.findMachine(R1a)->group_name, groupOfR1a);
    QCOMPARE(rowOf(page(window, groupOfR1a), R1a) >= 0, true);
    QCOMPARE(registry.findMachine(Free)->group_name, QStringLiteral("=g"));
    QCOMPARE(rowOf(page(window, QStringLiteral("未分组")), Free), -1);
    QCOMPARE(registry.allMachines().size(), 8);
}

void TestOverview::wakeReachesOfflineMachinesOfTab_data()
{
    QTest::addColumn<QString>("tab");
    QTest::addColumn<QList<quint64>>("expected");

    QTest::newRow("group") << Room1 << QList<quint64> { R1a, R1c };
    QTest::newRow("全部") << QStringLiteral("全部") << QList<quint64> { R1a, R1c, R2a, R2b, Free };
}

void TestOverview::wakeReachesOfflineMachinesOfTab()
{
    QFETCH(QString, tab);
    QFETCH(QList<quint64>, expected);
    if (qgetenv("ROK_NETNS_ISOLATED") != "1")
        QSKIP("broadcasts only inside the isolated network namespace");

    QUdpSocket listener;
    QVERIFY(listener.bind(QHostAddress::AnyIPv4, WakeOnLan::DefaultPort, QUdpSocket::ShareAddress));
    QMap<QByteArray, int> received;
    QList<QByteArray> order;
    connect(&listener, &QUdpSocket::readyRead, this, [&] {
        while (listener.hasPendingDatagrams()) {
            QByteArray data(int(listener.pendingDatagramSize()), '\0');
            listener.readDatagram(data.data(), data.size());
            ++received[data];
            order << data;
        }
    });

    QTemporaryDir dir;
    QVERIFY(seedLab(dir));
    const quint64 marker = 0x00000A00000004FFULL; // known, off line, in no tab's wake
    QVERIFY(seedDatabase(dir.filePath(QStringLiteral("data.sqlite3")), {},
        { { marker, QStringLiteral("marker"), QStringLiteral("10.0.4.1"), Room2 } }));
    RokVtxAdmin window(dir.path());
    window.tabWidget()->setCurrentIndex(tabIndexOf(window, tab));
    window.studentManage().findMachine(R1b)->markAlive();
    window.studentManage().findMachine(marker)->markAlive();

    action(window, "action_op_wake")->trigger();
    QCOMPARE(window.statusBar()->currentMessage(), QStringLiteral("已排队唤醒 %1 台离线机器").arg(expected.size()));
    // The queue is sent in order: once the marker's packets arrive, the
    // tab's are all in.
    window.studentManage().findMachine(marker)->markDead();
    window.setSelectedMac(marker);
    window.wakeSelectedMachine();
    const int perMachine = WakeOnLan::broadcastAddresses().size();
    const QByteArray markerPacket = WakeOnLan::magicPacket(marker);
    QTRY_COMPARE(received.value(markerPacket), perMachine);

    const QList<QByteArray> tabPackets = order.mid(0, order.indexOf(markerPacket));
    QMap<QByteArray, int> expectedPackets;
    for (quint64 mac : expected)
        expectedPackets[WakeOnLan::magicPacket(mac)] = perMachine;
    QMap<QByteArray, int> tabReceived;
    for (const QByteArray& packet : tabPackets)
        ++tabReceived[packet];
    QCOMPARE(tabReceived, expectedPackets);
}

QTEST_MAIN(TestOverview)
#include "tst_mainwindow_overview.moc"
