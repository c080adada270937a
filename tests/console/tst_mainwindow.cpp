// The main window: pages and their addresses, views, context menu, tray,
// machine state changes, and what happens without a socket.

#include "QAppWatcherWidget.h"
#include "QtRokTableView.h"
#include "UdpServer.h"
#include "tst_mainwindow_support.h"

#include <QCloseEvent>
#include <QtGui/private/qguiapplication_p.h>
#include <QMenu>
#include <QSystemTrayIcon>
#include <QTemporaryDir>
#include <QToolBar>
#include <QtTest>

using namespace MainWindowTest;

namespace {

const QString TitleBase = QStringLiteral("机房控制系统教师端");
const QString Online = QStringLiteral("在线");
const QString Offline = QStringLiteral("断开");

constexpr quint64 MacA = 0x0000A1A1A1A1A1A1ULL;
constexpr quint64 MacB = 0x0000B2B2B2B2B2B2ULL;
constexpr quint64 MacFree = 0x0000C3C3C3C3C3C3ULL;

// Groups A (display order 5) and B (2), one machine in each and one in none.
bool seedTwoGroups(const QTemporaryDir& dir)
{
    return seedDatabase(dir.filePath(QStringLiteral("data.sqlite3")),
        { { QStringLiteral("A"), 5 }, { QStringLiteral("B"), 2 } },
        { { MacA, QStringLiteral("pc-a"), QStringLiteral("10.0.0.11"), QStringLiteral("A") },
            { MacB, QStringLiteral("pc-b"), QStringLiteral("10.0.0.12"), QStringLiteral("B") },
            { MacFree, QStringLiteral("pc-free"), QStringLiteral("10.0.0.13"), QString() } },
        { item(1, QStringLiteral("游戏")), item(3, QStringLiteral("C:\\Tools\\guard.exe")) });
}

QString stateText(const QStudentGroupWidget* page, quint64 mac)
{
    const int row = rowOf(page, mac);
    return row < 0 ? QString() : page->machine_table->getCellText(row, 2);
}

QMenu* trayMenu(const RokVtxAdmin& window)
{
    auto* tray = window.findChild<QSystemTrayIcon*>();
    return tray ? tray->contextMenu() : nullptr;
}

} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();

    void pagesFollowStoredGroupOrder();
    void viewSwitching();
    void viewShortcuts();
    void contextMenuPerTab_data();
    void contextMenuPerTab();
    void contextMenuOverEmptyArea();
    void offlineMachineOfUnknownGroup();
    void lateOfflineReportOfDeletedMachine();
    void closeHidesToTray();
    void onlyCurrentTabRefreshes();
    void registrationAddsRows();
    void worksWithoutSocket();
};

void TestMainWindow::initTestCase()
{
    initRokResources();
    registerRokMetaTypes();
}

void TestMainWindow::cleanup()
{
    MessageBox::setNextAnswer(QMessageBox::NoButton);
    MessageBox::clearLast();
}

void TestMainWindow::pagesFollowStoredGroupOrder()
{
    QTemporaryDir dir;
    QVERIFY(seedTwoGroups(dir));
    RokVtxAdmin window(dir.path());
    QVERIFY(window.networkReady());

    QCOMPARE(tabTexts(window), (QStringList { "全部", "B", "A", "未分组" }));
    QCOMPARE(window.allPage(), window.pageAt(0));
    QCOMPARE(window.ungroupedPage(), window.pageAt(3));

    const QList<int> orders { 0, 1, 2, 999 };
    const QList<uint32_t> addresses { 0, Protocol::addressFromOctets(239, 74, 8, 27),
        Protocol::addressFromOctets(239, 74, 8, 28), Protocol::addressFromOctets(239, 74, 8, 29) };
    for (int i = 0; i < 4; ++i) {
        QCOMPARE(window.pageAt(i)->page_order, orders.at(i));
        QCOMPARE(window.pageAt(i)->group_addr.load(), addresses.at(i));
        QCOMPARE(window.pageAt(i)->policy_editor == nullptr, i == 0);
    }

    QStudentGroupWidget* all = window.allPage();
    QCOMPARE(all->machine_table->getRowCount(), 3);
    QCOMPARE(all->machine_table->getCellText(rowOf(all, MacA), 4), QStringLiteral("A"));
    QCOMPARE(all->machine_table->getCellText(rowOf(all, MacFree), 4), QString());
    QCOMPARE(page(window, "A")->machine_table->getRowCount(), 1);
    QVERIFY(rowOf(page(window, "A"), MacA) >= 0);
    QVERIFY(rowOf(page(window, "B"), MacB) >= 0);
    QCOMPARE(window.ungroupedPage()->machine_table->getRowCount(), 1);
    QVERIFY(rowOf(window.ungroupedPage(), MacFree) >= 0);

    // The stored catalog reaches the editor and every group page.
    QCOMPARE(window.watchEditor()->itemsOfType(1).size(), 1);
    QCOMPARE(window.watchEditor()->itemsOfType(3).value(0)->str_val, QStringLiteral("C:\\Tools\\guard.exe"));
    for (int i = 1; i < 4; ++i)
        QCOMPARE(window.pageAt(i)->policy_editor->allItems().size(), 2);
}

void TestMainWindow::viewSwitching()
{
    QTemporaryDir dir;
    QVERIFY(seedTwoGroups(dir));
    RokVtxAdmin window(dir.path());
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    auto* toolBar = window.findChild<QToolBar*>(QStringLiteral("mainToolBar"));
    QVERIFY(toolBar);
    QAction* toolBarShown = action(window, "action_view_toolbar");
    QVERIFY(toolBarShown->isChecked());
    toolBarShown->trigger();
    QVERIFY(toolBar->isHidden());
    toolBarShown->trigger();
    QVERIFY(toolBar->isVisible());
    window.tabWidget()->setCurrentIndex(tabIndexOf(window, "A"));

    action(window, "action_view_watch_app")->trigger();
    QCOMPARE(window.windowTitle(), TitleBase + QStringLiteral(" — 配置进程监控"));
    QVERIFY(window.tabWidget()->isHidden());
    QVERIFY(window.watchEditor()->isVisible());
    QVERIFY(!toolBar->isEnabled());

    // A state changed while the editor was in front shows on the way back.
    page(window, "A")->setLockType(Rok_Lock_State::KeyboardMouseLock);
    action(window, "action_view_manage")->trigger();
    QCOMPARE(window.windowTitle(), TitleBase + QStringLiteral(" — 管理"));
    QVERIFY(window.tabWidget()->isVisible());
    QVERIFY(window.watchEditor()->isHidden());
    QVERIFY(toolBar->isEnabled());
    QVERIFY(action(window, "action_op_lock_kbd_mouse")->isChecked());
    QVERIFY(action(window, "action_op_remove_group")->isEnabled());

    // The four view actions outside the menus change nothing visible.
    action(window, "action_view_disable_title")->trigger();
    QCOMPARE(window.windowTitle(), TitleBase + QStringLiteral(" — 管理"));
    QVERIFY(window.tabWidget()->isVisible());
}

void TestMainWindow::viewShortcuts()
{
    QTemporaryDir dir;
    RokVtxAdmin window(dir.path());
    window.show();
    window.activateWindow();
    if (!QTest::qWaitForWindowActive(&window))
        QSKIP("The platform does not activate windows; shortcuts cannot reach this one.");

    QTest::keyClick(&window, Qt::Key_F3);
    QTRY_VERIFY(window.tabWidget()->isHidden());
    QCOMPARE(window.windowTitle(), TitleBase + QStringLiteral(" — 配置进程监控"));
    QTest::keyClick(&window, Qt::Key_F2);
    QTRY_VERIFY(window.tabWidget()->isVisible());
    QCOMPARE(window.windowTitle(), TitleBase + QStringLiteral(" — 管理"));
}

void TestMainWindow::contextMenuPerTab_data()
{
    QTest::addColumn<QString>("tab");
    QTest::addColumn<quint64>("mac");
    QTest::addColumn<bool>("addEnabled");
    QTest::addColumn<bool>("online");

    QTest::newRow("全部") << QStringLiteral("全部") << MacB << true << false;
    QTest::newRow("未分组") << QStringLiteral("未分组") << MacFree << true << false;
    QTest::newRow("group") << QStringLiteral("A") << MacA << false << false;
    QTest::newRow("on line") << QStringLiteral("A") << MacA << false << true;
}

void TestMainWindow::contextMenuPerTab()
{
    QFETCH(QString, tab);
    QFETCH(quint64, mac);
    QFETCH(bool, addEnabled);
    QFETCH(bool, online);

    QTemporaryDir dir;
    QVERIFY(seedTwoGroups(dir));
    RokVtxAdmin window(dir.path());
    if (online)
        window.studentManage().findMachine(mac)->markAlive();
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    window.tabWidget()->setCurrentIndex(tabIndexOf(window, tab));
    QCOMPARE(window.currentTab(), tabIndexOf(window, tab));

    QStudentGroupWidget* shown = page(window, tab);
    QtRokTableView* table = shown->machine_table;
    const QPoint pos = table->visualRect(table->model()->index(rowOf(shown, mac), 0)).center();

    QMap<QString, bool> enabled;
    bool menuShown = false;
    QTimer::singleShot(0, this, [&] {
        if (!QTest::qWaitFor([] { return QApplication::activePopupWidget() != nullptr; }, 5000))
            return;
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        if (!menu)
            return;
        menuShown = true;
        for (QAction* entry : menu->actions())
            if (!entry->isSeparator())
                enabled.insert(entry->text(), entry->isEnabled());
        menu->close();
    });
    window.showMachineContextMenu(pos);

    QVERIFY(menuShown);
    QCOMPARE(enabled.keys(), (QStringList { "删除本机...(&D)", "唤醒本机(&W)", "添加到组...(&A)", "移出组(&O)" }));
    QCOMPARE(enabled.value(QStringLiteral("添加到组...(&A)")), addEnabled);
    QCOMPARE(enabled.value(QStringLiteral("移出组(&O)")), !addEnabled);
    QVERIFY(enabled.value(QStringLiteral("删除本机...(&D)")));
    QCOMPARE(enabled.value(QStringLiteral("唤醒本机(&W)")), !online); // a running machine needs no wake
    QCOMPARE(window.selectedMac(), mac);
}

void TestMainWindow::contextMenuOverEmptyArea()
{
    QTemporaryDir dir;
    QVERIFY(seedTwoGroups(dir));
    RokVtxAdmin window(dir.path());
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    window.setSelectedMac(MacA);

    QtRokTableView* table = window.allPage()->machine_table;
    const QPoint below(5, table->viewport()->height() - 2);
    QVERIFY(!table->indexAt(below).isValid());
    window.showMachineContextMenu(below);
    QVERIFY(!QApplication::activePopupWidget());
    QCOMPARE(window.selectedMac(), quint64(0));
}

void TestMainWindow::offlineMachineOfUnknownGroup()
{
    QTemporaryDir dir;
    QVERIFY(seedTwoGroups(dir));
    RokVtxAdmin window(dir.path());
    QStudentGroupWidget* all = window.allPage();

    const quint64 ghostMac = 0x0000D4D4D4D4D4D4ULL;
    const CStuInfo_PTR ghost
        = window.studentManage().updateMachine(ghostMac, QStringLiteral("ghost"), QStringLiteral("10.0.0.40"), true);
    ghost->group_name = QStringLiteral("Ghost");
    all->addMachine(ghost);
    QCOMPARE(stateText(all, ghostMac), Online);
    const CStuInfo_PTR member = window.studentManage().findMachine(MacB);
    member->markAlive();
    page(window, "B")->refreshAllRows();

    window.onMachinesChanged({ ghost, nullptr, member });
    QVERIFY(!ghost->online.load());
    QCOMPARE(stateText(all, ghostMac), Offline);
    QCOMPARE(stateText(page(window, "B"), MacB), Offline);
    // No page took the machine of a group without a tab.
    for (int i = 1; i < window.tabWidget()->count(); ++i)
        QCOMPARE(rowOf(window.pageAt(i), ghostMac), -1);
}

void TestMainWindow::lateOfflineReportOfDeletedMachine()
{
    QTemporaryDir dir;
    RokVtxAdmin window(dir.path());
    const quint64 mac = 0x0000E5E5E5E5E5E5ULL;
    const CStuInfo_PTR machine
        = window.studentManage().updateMachine(mac, QStringLiteral("gone"), QStringLiteral("10.0.0.41"), true);
    window.allPage()->addMachine(machine);
    window.ungroupedPage()->addMachine(machine);

    // The worker reported it off line just before the teacher deleted it.
    window.tabWidget()->setCurrentIndex(0);
    window.setSelectedMac(mac);
    window.deleteSelectedMachine();
    window.onMachinesChanged({ machine });
    QCOMPARE(rowOf(window.allPage(), mac), -1);
    QCOMPARE(rowOf(window.ungroupedPage(), mac), -1);
}

void TestMainWindow::closeHidesToTray()
{
    QTemporaryDir dir;
    RokVtxAdmin window(dir.path());
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    auto* tray = window.findChild<QSystemTrayIcon*>();
    QVERIFY(tray);
    QCOMPARE(tray->toolTip(), TitleBase);
    QMenu* menu = trayMenu(window);
    QVERIFY(menu);
    QCOMPARE(menu->actions().size(), 2);
    QAction* toggle = menu->actions().at(0);
    QCOMPARE(toggle->text(), QStringLiteral("隐藏窗口(&H)"));
    QCOMPARE(menu->actions().at(1)->text(), QStringLiteral("退出(&X)"));

    QCloseEvent close;
    QApplication::sendEvent(&window, &close);
    QVERIFY(!close.isAccepted());
    QVERIFY(window.isHidden());
    QCOMPARE(toggle->text(), QStringLiteral("显示窗口(&S)"));

    emit tray->activated(QSystemTrayIcon::Trigger);
    QVERIFY(window.isHidden());
    emit tray->activated(QSystemTrayIcon::DoubleClick);
    QVERIFY(window.isVisible());
    QCOMPARE(toggle->text(), QStringLiteral("隐藏窗口(&H)"));

    toggle->trigger();
    QVERIFY(window.isHidden());
    QCOMPARE(toggle->text(), QStringLiteral("显示窗口(&S)"));
    toggle->trigger();
    QVERIFY(window.isVisible());
    QCOMPARE(toggle->text(), QStringLiteral("隐藏窗口(&H)"));

    QVERIFY(!window.close());
    QVERIFY(window.isHidden());

    // Log-off or shutdown: Qt's close of each visible window must succeed,
    // or the session's end is cancelled.
    window.show();
    auto* app = static_cast<QGuiApplicationPrivate*>(QObjectPrivate::get(qApp));
    app->is_saving_session = true;
    const bool closed = window.close();
    app->is_saving_session = false;
    QVERIFY(closed);
    QVERIFY(window.isHidden());
}

void TestMainWindow::onlyCurrentTabRefreshes()
{
    QTemporaryDir dir;
    QVERIFY(seedTwoGroups(dir));
    RokVtxAdmin window(dir.path());
    const auto refreshing = [&window] {
        QList<int> tabs;
        for (int i = 0; i < window.tabWidget()->count(); ++i)
            if (window.pageAt(i)->refresh_enabled.load())
                tabs << i;
        return tabs;
    };
    QCOMPARE(refreshing(), QList<int> { 0 });
    window.tabWidget()->setCurrentIndex(2);
    QCOMPARE(refreshing(), QList<int> { 2 });
    QCOMPARE(window.currentTab(), 2);
    window.tabWidget()->setCurrentIndex(3);
    QCOMPARE(refreshing(), QList<int> { 3 });
}

void TestMainWindow::registrationAddsRows()
{
    QTemporaryDir dir;
    RokVtxAdmin window(dir.path());
    QVERIFY(window.networkReady());

    const quint64 mac = 0x0000E5E5E5E5E5E5ULL;
    UdpServer agent;
    QVERIFY(registerFrom(agent, mac, QStringLiteral("pc-new")));

    QTRY_VERIFY(rowOf(window.allPage(), mac) >= 0);
    QTRY_VERIFY(rowOf(window.ungroupedPage(), mac) >= 0);
    QStudentGroupWidget* all = window.allPage();
    QCOMPARE(all->machine_table->getCellText(rowOf(all, mac), 0), QStringLiteral("pc-new"));
    QCOMPARE(all->machine_table->getCellText(rowOf(all, mac), 1), QStringLiteral("127.0.0.1"));
    // A new machine reaches the database without waiting for the exit.
    const QString path = window.databasePath();
    QTRY_VERIFY_WITH_TIMEOUT(readDatabase(path).machines.contains(mac), 10000);

    // Registering again under a new name renames the rows and the stored record.
    const QByteArray again = Protocol::buildRegister(mac, QStringLiteral("pc-renamed"));
    QVERIFY(agent.sendto(again.constData(), again.size(), Protocol::addressFromOctets(127, 0, 0, 1),
                Protocol::ConsolePort)
        >= 0);
    QTRY_COMPARE(all->machine_table->getCellText(rowOf(all, mac), 0), QStringLiteral("pc-renamed"));
    QTRY_COMPARE_WITH_TIMEOUT(
        readDatabase(path).machines.value(mac)->hostname, QStringLiteral("pc-renamed"), 10000);
}

void TestMainWindow::worksWithoutSocket()
{
    QTemporaryDir dir;
    QVERIFY(seedTwoGroups(dir));
    QVERIFY(writeFile(dir.filePath(QStringLiteral("config.conf")),
        "groups=(\n\t{\n\t\tgroup-name=\"A\";\n\t\tlock-type=1;\n\t},\n);"));

    UdpServer blocker;
    QVERIFY(blocker.createsocket(Protocol::ConsolePort, "0.0.0.0") > 0);
    MessageBox::setNextAnswer(QMessageBox::Ok);
    RokVtxAdmin window(dir.path());

    QVERIFY(!window.networkReady());
    QCOMPARE(MessageBox::lastTitle(), QStringLiteral("错误"));
    QCOMPARE(MessageBox::lastText(), QStringLiteral("createsocket失败！是否该端口已经被占用？"));
    QCOMPARE(window.currentTab(), 0);

    // The stored page states still come back, and the commands still act.
    QTRY_COMPARE(page(window, "A")->lock_state->lock_type, 1);
    action(window, "action_op_lock_kbd_mouse")->trigger();
    for (int i = 1; i < window.tabWidget()->count(); ++i)
        QCOMPARE(window.pageAt(i)->lock_state->lock_type, 3);
    QVERIFY(action(window, "action_op_lock_kbd_mouse")->isChecked());
}

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
