// Group dialogs and group management in the main window.

#include "Dialog_addgroup.h"
#include "Dialog_moveinto_grp.h"
#include "QAppWatcherWidget.h"
#include "QtRokTableView.h"
#include "tst_mainwindow_support.h"

#include <QTemporaryDir>
#include <QToolBar>
#include <QtTest>

using namespace MainWindowTest;

namespace {

constexpr quint64 MacOne = 0x0000A1A1A1A1A1A1ULL; // in A, 10.0.0.11
constexpr quint64 MacTwo = 0x0000A2A2A2A2A2A2ULL; // in A, 10.0.0.12
constexpr quint64 MacFree = 0x0000C3C3C3C3C3C3ULL; // in no group, 10.0.0.13

QString dataPath(const QTemporaryDir& dir)
{
    return dir.filePath(QStringLiteral("data.sqlite3"));
}

StringItemList catalog()
{
    return { item(1, QStringLiteral("游戏.*")), item(1, QStringLiteral("QQ")), item(2, QStringLiteral("Spooler")),
        item(3, QStringLiteral("C:\\a.exe")) };
}

// Tabs "全部", "A", "B", "未分组".
bool seedGroupsAB(const QTemporaryDir& dir)
{
    return seedDatabase(dataPath(dir), { { QStringLiteral("A"), 1 }, { QStringLiteral("B"), 2 } },
        { { MacOne, QStringLiteral("pc-1"), QStringLiteral("10.0.0.11"), QStringLiteral("A") },
            { MacTwo, QStringLiteral("pc-2"), QStringLiteral("10.0.0.12"), QStringLiteral("A") },
            { MacFree, QStringLiteral("pc-3"), QStringLiteral("10.0.0.13"), QString() } },
        catalog());
}

QString groupCell(const RokVtxAdmin& window, quint64 mac)
{
    QStudentGroupWidget* all = window.allPage();
    const int row = rowOf(all, mac);
    return row < 0 ? QStringLiteral("<no row>") : all->machine_table->getCellText(row, 4);
}

QSet<quint64> storedMembers(const QString& path, const QString& group)
{
    const Stored stored = readDatabase(path);
    const CStudentGroup_PTR found = stored.group(group);
    return found ? found->ullmac_list : QSet<quint64> { quint64(~0ULL) };
}

} // namespace

class TestGroups : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();

    void addGroupDialogBehaviour_data();
    void addGroupDialogBehaviour();
    void moveDialogBehaviour();

    void addGroupTabPositions_data();
    void addGroupTabPositions();
    void addGroupOfTakenNameRefused();
    void addGroupToLockedLab();
    void addGroupBeforeShownTab();
    void moveMachineBetweenGroups();
    void moveWithoutGroups();
    void removeMachineFromGroup();
    void deleteMachineFromEveryTab();
    void deleteCurrentGroup();
    void deleteGroupOnlyOnGroupTabs();
};

void TestGroups::initTestCase()
{
    initRokResources();
    registerRokMetaTypes();
}

void TestGroups::cleanup()
{
    MessageBox::setNextAnswer(QMessageBox::NoButton);
    MessageBox::clearLast();
}

void TestGroups::addGroupDialogBehaviour_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<QString>("message");

    const QString noName = QStringLiteral("请输入分组名称！");
    QTest::newRow("plain") << QStringLiteral("机房A") << QStringLiteral("机房A") << true << QString();
    QTest::newRow("quotes and outer spaces")
        << QStringLiteral("  '三'年 级' ") << QStringLiteral("三年 级") << true << QString();
    QTest::newRow("empty") << QString() << QString() << false << noName;
    QTest::newRow("quotes and spaces only") << QStringLiteral(" '' ' ") << QString() << false << noName;
    QTest::newRow("全部") << QStringLiteral("全部") << QStringLiteral("全部") << false << QStringLiteral("全部");
    QTest::newRow("未分组 in quotes") << QStringLiteral(" '未分组' ") << QStringLiteral("未分组") << false
                                      << QStringLiteral("未分组");
}

void TestGroups::addGroupDialogBehaviour()
{
    QFETCH(QString, typed);
    QFETCH(QString, name);
    QFETCH(bool, accepted);
    QFETCH(QString, message);

    Dialog_addgroup dialog;
    dialog.show();
    QCOMPARE(dialog.group_order_input, 1);
    auto* edit = dialog.findChild<QLineEdit*>(QStringLiteral("lineEdit"));
    edit->setText(typed);
    auto* order = dialog.findChild<QSpinBox*>(QStringLiteral("spinBox"));
    order->setValue(100);
    QCOMPARE(dialog.group_order_input, 99);
    order->setValue(7);
    QCOMPARE(dialog.group_name_input, name);
    QCOMPARE(dialog.group_order_input, 7);

    MessageBox::setNextAnswer(QMessageBox::Ok);
    dialog.findChild<QPushButton*>(QStringLiteral("pushButton_ok"))->click();
    if (accepted) {
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QVERIFY(dialog.isHidden());
        QCOMPARE(MessageBox::lastText(), QString());
    } else {
        QVERIFY(dialog.isVisible());
        QCOMPARE(MessageBox::lastTitle(), QStringLiteral("错误"));
        QVERIFY2(MessageBox::lastText().contains(message), qPrintable(MessageBox::lastText()));
        QCOMPARE(edit->text(), typed);
        QCOMPARE(dialog.focusWidget(), edit);
        dialog.findChild<QPushButton*>(QStringLiteral("pushButton_cancel"))->click();
        QCOMPARE(dialog.result(), int(QDialog::Rejected));
        QVERIFY(dialog.isHidden());
    }
}

void TestGroups::moveDialogBehaviour()
{
    Dialog_moveinto_grp dialog;
    auto* box = dialog.findChild<QComboBox*>(QStringLiteral("comboBox"));
    dialog.show();
    dialog.setGroupNames({});
    QCOMPARE(dialog.chosen_group, QString());
    dialog.findChild<QPushButton*>(QStringLiteral("pushButton_ok"))->click();
    QVERIFY(dialog.isVisible()); // nothing chosen, nothing happens

    dialog.setGroupNames({ QStringLiteral("B"), QStringLiteral("A") });
    QCOMPARE(dialog.chosen_group, QStringLiteral("B"));
    box->setCurrentIndex(1);
    QCOMPARE(dialog.chosen_group, QStringLiteral("A"));
    dialog.findChild<QPushButton*>(QStringLiteral("pushButton_ok"))->click();
    QCOMPARE(dialog.result(), int(QDialog::Accepted));

    dialog.show();
    dialog.findChild<QPushButton*>(QStringLiteral("pushButton_cancel"))->click();
    QCOMPARE(dialog.result(), int(QDialog::Rejected));
}

void TestGroups::addGroupTabPositions_data()
{
    QTest::addColumn<int>("order");
    QTest::addColumn<QStringList>("tabs");

    QTest::newRow("order 1") << 1 << QStringList { "全部", "新组", "A", "未分组" };
    QTest::newRow("order 99") << 99 << QStringList { "全部", "A", "新组", "未分组" };
    QTest::newRow("order = tab count") << 3 << QStringList { "全部", "A", "未分组", "新组" };
}

void TestGroups::addGroupTabPositions()
{
    QFETCH(int, order);
    QFETCH(QStringList, tabs);

    QTemporaryDir dir;
    QVERIFY(seedDatabase(dataPath(dir), { { QStringLiteral("A"), 4 } }, {}, catalog()));
    RokVtxAdmin window(dir.path());
    QCOMPARE(tabTexts(window), (QStringList { "全部", "A", "未分组" }));

    answerAddGroup(&window, QStringLiteral("  新组 "), order);
    window.addGroupInteractive();
    QCOMPARE(tabTexts(window), tabs);

    QStudentGroupWidget* added = page(window, "新组");
    QCOMPARE(added->page_order, order);
    QCOMPARE(added->group_addr.load(), Protocol::addressFromOctets(239, 74, 8, 29));
    QCOMPARE(added->policy_editor->allItems().size(), catalog().size());
    QVERIFY(window.studentManage().groupNames().contains(QStringLiteral("新组")));

    // The new group reaches the database without waiting for the exit.
    QTRY_VERIFY_WITH_TIMEOUT(readDatabase(dataPath(dir)).group(QStringLiteral("新组")), 10000);
    QCOMPARE(readDatabase(dataPath(dir)).group(QStringLiteral("新组"))->display_order, order);

    // The ungrouped page stays the ungrouped page wherever it sits.
    QCOMPARE(window.ungroupedPage()->page_order, 999);
    window.tabWidget()->setCurrentIndex(tabIndexOf(window, "新组"));
    QVERIFY(action(window, "action_op_remove_group")->isEnabled());
}

void TestGroups::addGroupOfTakenNameRefused()
{
    QTemporaryDir dir;
    QVERIFY(seedGroupsAB(dir));
    RokVtxAdmin window(dir.path());
    const QStringList before = tabTexts(window);

    // Refused in the dialog, with the reason, so the teacher can choose again.
    answerAddGroup(&window, QStringLiteral("A"), 1);
    window.addGroupInteractive();
    QCOMPARE(MessageBox::lastTitle(), QStringLiteral("错误"));
    QVERIFY2(MessageBox::lastText().contains(QStringLiteral("“A”已经存在")), qPrintable(MessageBox::lastText()));
    QCOMPARE(tabTexts(window), before);
    QCOMPARE(window.studentManage().groupNames(), (QStringList { "A", "B" }));
}

void TestGroups::addGroupToLockedLab()
{
    QTemporaryDir dir;
    QVERIFY(seedGroupsAB(dir));
    RokVtxAdmin window(dir.path());
    window.tabWidget()->setCurrentIndex(0);
    action(window, "action_op_lock")->trigger();
    QVERIFY(action(window, "action_op_lock")->isChecked());

    // The newcomer is not locked, so "全部" no longer shows the lab locked,
    // and the next press locks every page instead of releasing them.
    answerAddGroup(&window, QStringLiteral("新组"), 5);
    window.addGroupInteractive();
    QVERIFY(!action(window, "action_op_lock")->isChecked());
    action(window, "action_op_lock")->trigger();
    for (const char* name : { "A", "B", "新组", "未分组" })
        QCOMPARE(page(window, QString::fromUtf8(name))->lock_state->lock_type, 2);
}

void TestGroups::addGroupBeforeShownTab()
{
    QTemporaryDir dir;
    QVERIFY(seedGroupsAB(dir));
    SendLog log;
    RokVtxAdmin window(dir.path());
    window.tabWidget()->setCurrentIndex(tabIndexOf(window, "B"));
    QStudentGroupWidget* groupB = page(window, "B");

    answerAddGroup(&window, QStringLiteral("新组"), 1);
    window.addGroupInteractive();
    QCOMPARE(tabTexts(window), (QStringList { "全部", "新组", "A", "B", "未分组" }));
    QCOMPARE(window.tabWidget()->currentWidget(), groupB);

    // Commands and group deletion act on the tab in front, not on whatever
    // now sits at its old index.
    log.watchAll(window);
    action(window, "action_op_lock")->trigger();
    QCOMPARE(log.sent.size(), 1);
    QCOMPARE(log.sent.at(0).page, groupB);
    QCOMPARE(groupB->lock_state->lock_type, 2);
    QCOMPARE(page(window, "A")->lock_state->lock_type, 0);

    MessageBox::setNextAnswer(QMessageBox::No);
    window.deleteCurrentGroup();
    QCOMPARE(MessageBox::lastText(), QStringLiteral("确实需要删除分组“B”？"));
}

void TestGroups::moveMachineBetweenGroups()
{
    QTemporaryDir dir;
    QVERIFY(seedGroupsAB(dir));
    SendLog log;
    RokVtxAdmin window(dir.path());
    QStudentGroupWidget* groupA = page(window, "A");
    QStudentGroupWidget* groupB = page(window, "B");
    QStudentGroupWidget* ungrouped = window.ungroupedPage();
    log.watchAll(window);

    // Nothing chosen, then cancelled: nothing moves.
    window.setSelectedMac(MacOne);
    answerMoveInto(&window, QString());
    window.moveMachineIntoGroup();
    QVERIFY(rowOf(groupA, MacOne) >= 0);
    QCOMPARE(groupB->machine_table->getRowCount(), 0);

    // A -> B through "全部", with the agent on line.
    window.studentManage().findMachine(MacOne)->markAlive();
    answerMoveInto(&window, QStringLiteral("B"));
    window.moveMachineIntoGroup();
    QCOMPARE(rowOf(groupA, MacOne), -1);
    QVERIFY(rowOf(groupA, MacTwo) >= 0);
    QVERIFY(rowOf(groupB, MacOne) >= 0);
    QCOMPARE(groupCell(window, MacOne), QStringLiteral("B"));
    QCOMPARE(window.studentManage().findMachine(MacOne)->group_name, QStringLiteral("B"));
    const QList<SendLog::Sent> joins = log.ofId(Protocol::MSG_ADMIN_JOIN_GROUP);
    QCOMPARE(joins.size(), 1);
    QCOMPARE(joins.at(0).address, Protocol::addressFromOctets(10, 0, 0, 11));
    QCOMPARE(joinAddress(joins.at(0).datagram), groupB->group_addr.load());
    QTRY_COMPARE_WITH_TIMEOUT(storedMembers(dataPath(dir), QStringLiteral("B")), QSet<quint64> { MacOne }, 10000);
    QCOMPARE(storedMembers(dataPath(dir), QStringLiteral("A")), QSet<quint64> { MacTwo });

    // Off line, from "未分组" into A: no join datagram.
    log.sent.clear();
    window.tabWidget()->setCurrentIndex(tabIndexOf(window, "未分组"));
    window.setSelectedMac(MacFree);
    window.moveSelectedMachineTo(QStringLiteral("A"));
    QCOMPARE(rowOf(ungrouped, MacFree), -1);
    QVERIFY(rowOf(groupA, MacFree) >= 0);
    QCOMPARE(groupCell(window, MacFree), QStringLiteral("A"));
    QVERIFY(log.ofId(Protocol::MSG_ADMIN_JOIN_GROUP).isEmpty());

    // Into the group it is in, or a group that does not exist: nothing moves.
    window.moveSelectedMachineTo(QStringLiteral("A"));
    window.moveSelectedMachineTo(QStringLiteral("Nowhere"));
    QVERIFY(rowOf(groupA, MacFree) >= 0);
    QCOMPARE(window.studentManage().findMachine(MacFree)->group_name, QStringLiteral("A"));
    QCOMPARE(groupA->machine_table->getRowCount(), 2);

    // A machine deleted meanwhile is not moved anywhere.
    window.setSelectedMac(0x0000FFFFFFFFFFFFULL);
    window.moveSelectedMachineTo(QStringLiteral("B"));
    QCOMPARE(groupB->machine_table->getRowCount(), 1);
}

void TestGroups::moveWithoutGroups()
{
    QTemporaryDir dir;
    QVERIFY(seedDatabase(dataPath(dir), {}, { { MacFree, QStringLiteral("pc-3"), QStringLiteral("10.0.0.13"), {} } }));
    RokVtxAdmin window(dir.path());
    window.setSelectedMac(MacFree);
    MessageBox::setNextAnswer(QMessageBox::Ok);
    window.moveMachineIntoGroup();
    QCOMPARE(MessageBox::lastTitle(), QStringLiteral("错误"));
    QCOMPARE(MessageBox::lastText(), QStringLiteral("您需要先创建分组，才可以继续此操作。"));
    QVERIFY(rowOf(window.ungroupedPage(), MacFree) >= 0);
}

void TestGroups::removeMachineFromGroup()
{
    QTemporaryDir dir;
    QVERIFY(seedGroupsAB(dir));
    SendLog log;
    RokVtxAdmin window(dir.path());
    window.tabWidget()->setCurrentIndex(tabIndexOf(window, "A"));
    log.watchAll(window);

    window.studentManage().findMachine(MacOne)->markAlive();
    window.setSelectedMac(MacOne);
    window.removeMachineFromCurrentGroup();
    QCOMPARE(rowOf(page(window, "A"), MacOne), -1);
    QVERIFY(rowOf(window.ungroupedPage(), MacOne) >= 0);
    QCOMPARE(groupCell(window, MacOne), QString());
    QCOMPARE(window.studentManage().findMachine(MacOne)->group_name, QString());
    const QList<SendLog::Sent> joins = log.ofId(Protocol::MSG_ADMIN_JOIN_GROUP);
    QCOMPARE(joins.size(), 1);
    QCOMPARE(joinAddress(joins.at(0).datagram), window.ungroupedPage()->group_addr.load());
    QTRY_COMPARE_WITH_TIMEOUT(storedMembers(dataPath(dir), QStringLiteral("A")), QSet<quint64> { MacTwo }, 10000);

    // Not a member (any more): nothing happens.
    window.removeMachineFromCurrentGroup();
    QCOMPARE(window.ungroupedPage()->machine_table->getRowCount(), 2);
}

void TestGroups::deleteMachineFromEveryTab()
{
    QTemporaryDir dir;
    QVERIFY(seedGroupsAB(dir));
    RokVtxAdmin window(dir.path());
    window.tabWidget()->setCurrentIndex(tabIndexOf(window, "A"));
    window.setSelectedMac(MacOne);
    window.deleteSelectedMachine();

    for (int i = 0; i < window.tabWidget()->count(); ++i)
        QCOMPARE(rowOf(window.pageAt(i), MacOne), -1);
    QVERIFY(!window.studentManage().findMachine(MacOne));
    QCOMPARE(window.selectedMac(), quint64(0));
    QCOMPARE(window.allPage()->machine_table->getRowCount(), 2);
    QTRY_VERIFY_WITH_TIMEOUT(!readDatabase(dataPath(dir)).machines.contains(MacOne), 10000);
    QCOMPARE(storedMembers(dataPath(dir), QStringLiteral("A")), QSet<quint64> { MacTwo });

    // From "未分组" as well.
    window.tabWidget()->setCurrentIndex(tabIndexOf(window, "未分组"));
    window.setSelectedMac(MacFree);
    window.deleteSelectedMachine();
    QCOMPARE(rowOf(window.allPage(), MacFree), -1);
    QCOMPARE(window.ungroupedPage()->machine_table->getRowCount(), 0);
}

void TestGroups::deleteCurrentGroup()
{
    QTemporaryDir dir;
    QVERIFY(seedGroupsAB(dir));
    SendLog log;
    RokVtxAdmin window(dir.path());
    page(window, "B")->setLockType(Rok_Lock_State::BlackLock);
    window.tabWidget()->setCurrentIndex(tabIndexOf(window, "A"));
    QPointer<QStudentGroupWidget> groupA = page(window, "A");
    log.watchAll(window);

    MessageBox::setNextAnswer(QMessageBox::No);
    window.deleteCurrentGroup();
    QCOMPARE(MessageBox::lastTitle(), QStringLiteral("警告"));
    QCOMPARE(MessageBox::lastText(), QStringLiteral("确实需要删除分组“A”？"));
    QCOMPARE(tabTexts(window), (QStringList { "全部", "A", "B", "未分组" }));

    window.studentManage().findMachine(MacOne)->markAlive();
    // Deleted while the process-watch view is shown: the lab tool bar stays off.
    action(window, "action_view_watch_app")->trigger();
    MessageBox::setNextAnswer(QMessageBox::Yes);
    window.deleteCurrentGroup();
    QCOMPARE(tabTexts(window), (QStringList { "全部", "B", "未分组" }));
    QVERIFY(!window.findChild<QToolBar*>(QStringLiteral("mainToolBar"))->isEnabled());
    action(window, "action_view_manage")->trigger();
    QVERIFY(window.findChild<QToolBar*>(QStringLiteral("mainToolBar"))->isEnabled());
    // The page goes at once, and with it the thread that kept repeating its
    // state to the group's address.
    QVERIFY(groupA.isNull());

    QStudentGroupWidget* ungrouped = window.ungroupedPage();
    QVERIFY(rowOf(ungrouped, MacOne) >= 0);
    QVERIFY(rowOf(ungrouped, MacTwo) >= 0);
    QCOMPARE(groupCell(window, MacOne), QString());
    QCOMPARE(groupCell(window, MacTwo), QString());
    QCOMPARE(window.studentManage().groupNames(), QStringList { "B" });
    const QList<SendLog::Sent> joins = log.ofId(Protocol::MSG_ADMIN_JOIN_GROUP);
    QCOMPARE(joins.size(), 1);
    QCOMPARE(joins.at(0).address, Protocol::addressFromOctets(10, 0, 0, 11));
    QCOMPARE(joinAddress(joins.at(0).datagram), ungrouped->group_addr.load());
    QVERIFY(!readDatabase(dataPath(dir)).group(QStringLiteral("A")));

    // The tab now in front is handled like any tab change.
    QCOMPARE(window.currentTab(), window.tabWidget()->currentIndex());
    QCOMPARE(window.tabWidget()->currentWidget(), page(window, "B"));
    QVERIFY(action(window, "action_op_lock")->isChecked());
    QVERIFY(action(window, "action_op_remove_group")->isEnabled());
    window.tabWidget()->setCurrentIndex(tabIndexOf(window, "未分组"));
    window.setSelectedMac(MacOne);
    window.moveSelectedMachineTo(QStringLiteral("B"));
    QVERIFY(rowOf(page(window, "B"), MacOne) >= 0);
    QCOMPARE(rowOf(ungrouped, MacOne), -1);
}

void TestGroups::deleteGroupOnlyOnGroupTabs()
{
    QTemporaryDir dir;
    QVERIFY(seedGroupsAB(dir));
    RokVtxAdmin window(dir.path());
    for (const char* tab : { "全部", "未分组" }) {
        window.tabWidget()->setCurrentIndex(tabIndexOf(window, QString::fromUtf8(tab)));
        QVERIFY(!action(window, "action_op_remove_group")->isEnabled());
        MessageBox::setNextAnswer(QMessageBox::Yes);
        window.deleteCurrentGroup();
        QCOMPARE(MessageBox::lastText(), QString());
        MessageBox::setNextAnswer(QMessageBox::NoButton);
        QCOMPARE(window.tabWidget()->count(), 4);
    }
}

QTEST_MAIN(TestGroups)
#include "tst_mainwindow_groups.moc"
