// The five lab commands: which pages they reach, the datagrams they cause,
// the check marks of the current tab, and config.conf following them.

#include "GroupSettingsFile.h"
#include "QAppWatcherWidget.h"
#include "QtRokTableView.h"
#include "tst_mainwindow_support.h"

#include <QImage>
#include <QTemporaryDir>
#include <QtTest>

using namespace MainWindowTest;

namespace {

// Lock-state words with the default flags (manual IP refused, USB refused).
constexpr uint32_t NoLock = 0xF0000100;

QString dataPath(const QTemporaryDir& dir)
{
    return dir.filePath(QStringLiteral("data.sqlite3"));
}

// Tabs "全部", "A", "B", "未分组".
bool seedGroupsAB(const QTemporaryDir& dir)
{
    return seedDatabase(dataPath(dir), { { QStringLiteral("A"), 1 }, { QStringLiteral("B"), 2 } }, {},
        { item(1, QStringLiteral("游戏.*")), item(2, QStringLiteral("Spooler")),
            item(3, QStringLiteral("C:\\Tools\\guard.exe")) });
}

QImage iconImage(const QIcon& icon)
{
    return icon.pixmap(QSize(32, 32)).toImage().convertToFormat(QImage::Format_ARGB32);
}

QImage resourceImage(const char* name)
{
    return iconImage(QIcon(QStringLiteral(":/RokVtxAdmin/images/") + QLatin1String(name)));
}

// The check marks shown, and whether "删除当前组" is offered.
QStringList marksOf(const RokVtxAdmin& window)
{
    QStringList marks;
    for (const char* name : { "action_op_keep_quiet", "action_op_lock", "action_op_lock_kbd_mouse",
             "action_op_auto_ip", "action_op_usbdisk" })
        if (action(window, name)->isChecked())
            marks << QString::fromLatin1(name).remove(QStringLiteral("action_op_"));
    if (action(window, "action_op_remove_group")->isEnabled())
        marks << QStringLiteral("remove_group");
    return marks;
}

QList<GroupSettings> configEntries(const QString& path)
{
    QList<GroupSettings> entries;
    GroupSettingsFile::read(path, entries);
    return entries;
}

GroupSettings configEntry(const QString& path, const QString& name)
{
    for (const GroupSettings& entry : configEntries(path))
        if (entry.group_name == name)
            return entry;
    return GroupSettings();
}

// The combo box in the state column of an embedded list's row.
QComboBox* stateBox(QStudentGroupWidget* page, int type, int row)
{
    return page->policy_editor->stateBox(type, row);
}

} // namespace

class TestCommands : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();

    void lockOnOneTabAndToggleOff();
    void allTabReachesEveryPageInTabOrder_data();
    void allTabReachesEveryPageInTabOrder();
    void usbActionLook();
    void checkMarksFollowTab_data();
    void checkMarksFollowTab();
    void tabSwitchSendsNothing();
    void configWrittenAfterCommands();
    void configWrittenAfterSwitchOff();
    void restoredStateShownAtOnce();
};

void TestCommands::initTestCase()
{
    initRokResources();
    registerRokMetaTypes();
}

void TestCommands::cleanup()
{
    MessageBox::setNextAnswer(QMessageBox::NoButton);
}

void TestCommands::lockOnOneTabAndToggleOff()
{
    QTemporaryDir dir;
    QVERIFY(seedGroupsAB(dir));
    SendLog log;
    RokVtxAdmin window(dir.path());
    window.tabWidget()->setCurrentIndex(1);
    QStudentGroupWidget* groupA = window.pageAt(1);
    log.watchAll(window);

    QAction* lock = action(window, "action_op_lock");
    lock->trigger();
    QCOMPARE(log.sent.size(), 1);
    QCOMPARE(log.sent.at(0).page, groupA);
    QCOMPARE(log.sent.at(0).address, Protocol::addressFromOctets(239, 74, 8, 27));
    QCOMPARE(lockWord(log.sent.at(0).datagram), 0xF0000102u);
    QCOMPARE(groupA->lock_state->lock_type, 2);
    QVERIFY(lock->isChecked());
    QCOMPARE(window.pageAt(2)->lock_state->lock_type, 0);
    QCOMPARE(window.pageAt(3)->lock_state->lock_type, 0);

    // Choosing the active lock again releases it.
    log.sent.clear();
    lock->trigger();
    QCOMPARE(log.sent.size(), 1);
    QCOMPARE(lockWord(log.sent.at(0).datagram), NoLock);
    QCOMPARE(groupA->lock_state->lock_type, 0);
    QVERIFY(!lock->isChecked());
    QVERIFY(!action(window, "action_op_keep_quiet")->isChecked());
    QVERIFY(!action(window, "action_op_lock_kbd_mouse")->isChecked());

    // And a third time locks again: the release left nothing behind.
    log.sent.clear();
    lock->trigger();
    QCOMPARE(lockWord(log.sent.value(0).datagram), 0xF0000102u);
    QVERIFY(lock->isChecked());

    // Another lock replaces it instead of releasing.
    log.sent.clear();
    action(window, "action_op_keep_quiet")->trigger();
    QCOMPARE(lockWord(log.sent.value(0).datagram), 0xF0000101u);
    QVERIFY(!lock->isChecked());
    QVERIFY(action(window, "action_op_keep_quiet")->isChecked());

    // On "未分组" only that page, at its own address.
    window.tabWidget()->setCurrentIndex(3);
    log.sent.clear();
    action(window, "action_op_lock_kbd_mouse")->trigger();
    QCOMPARE(log.sent.size(), 1);
    QCOMPARE(log.sent.at(0).page, window.ungroupedPage());
    QCOMPARE(log.sent.at(0).address, Protocol::addressFromOctets(239, 74, 8, 29));
    QCOMPARE(lockWord(log.sent.at(0).datagram), 0xF0000103u);
    QCOMPARE(groupA->lock_state->lock_type, 1);
    QCOMPARE(window.pageAt(2)->lock_state->lock_type, 0);
}

void TestCommands::allTabReachesEveryPageInTabOrder_data()
{
    QTest::addColumn<QByteArray>("command");
    QTest::addColumn<uint>("chosen"); // word every page gets
    QTest::addColumn<uint>("again"); // word after choosing it a second time

    // Page A black-locked, B allowing manual settings: the tab is mixed.
    QTest::newRow("keep quiet") << QByteArray("action_op_keep_quiet") << 0xF0000101u << NoLock;
    QTest::newRow("auto ip") << QByteArray("action_op_auto_ip") << NoLock << 0xF0000000u;
}

void TestCommands::allTabReachesEveryPageInTabOrder()
{
    QFETCH(QByteArray, command);
    QFETCH(uint, chosen);
    QFETCH(uint, again);

    QTemporaryDir dir;
    QVERIFY(seedGroupsAB(dir));
    SendLog log;
    RokVtxAdmin window(dir.path());
    window.pageAt(1)->setLockType(command == "action_op_keep_quiet" ? Rok_Lock_State::BlackLock : 0);
    window.pageAt(2)->setAllowManualIp(command == "action_op_auto_ip");
    window.tabWidget()->setCurrentIndex(2);
    window.tabWidget()->setCurrentIndex(0);
    QAction* chosenAction = action(window, command.constData());
    QVERIFY(!chosenAction->isChecked());

    log.watchAll(window);
    chosenAction->trigger();
    QVERIFY(chosenAction->isChecked());
    QCOMPARE(log.sent.size(), 3);
    for (int i = 0; i < 3; ++i) {
        QCOMPARE(log.sent.at(i).page, window.pageAt(i + 1));
        QCOMPARE(log.sent.at(i).address, window.pageAt(i + 1)->group_addr.load());
        QCOMPARE(lockWord(log.sent.at(i).datagram), chosen);
        QCOMPARE(lockWord(window.pageAt(i + 1)->lockDatagramCopy()), chosen);
    }
    QCOMPARE(lockWord(window.allPage()->lockDatagramCopy()), NoLock);

    // All pages agree now, so choosing it again releases every one.
    log.sent.clear();
    chosenAction->trigger();
    QVERIFY(!chosenAction->isChecked());
    QCOMPARE(log.sent.size(), 3);
    for (int i = 0; i < 3; ++i)
        QCOMPARE(lockWord(log.sent.at(i).datagram), again);
}

void TestCommands::usbActionLook()
{
    QTemporaryDir dir;
    QVERIFY(seedGroupsAB(dir));
    SendLog log;
    RokVtxAdmin window(dir.path());
    window.tabWidget()->setCurrentIndex(2);
    QAction* usb = action(window, "action_op_usbdisk");
    const QImage enable = resourceImage("usb-disk-enable.png");
    const QImage disable = resourceImage("usb-disk-disable.png");
    QVERIFY(!enable.isNull());
    QVERIFY(enable != disable);
    // The icon and tool tip tell what the page allows; the text what a click does.
    const auto looksAllowed = [&](bool allowed) {
        return usb->isChecked() == allowed && iconImage(usb->icon()) == (allowed ? enable : disable)
            && usb->toolTip() == (allowed ? QStringLiteral("当前允许使用U盘") : QStringLiteral("当前禁用U盘"))
            && usb->text() == QStringLiteral("禁用U盘(&U)");
    };
    QVERIFY(looksAllowed(false));

    log.watchAll(window);
    usb->trigger();
    QVERIFY(looksAllowed(true));
    QVERIFY(window.pageAt(2)->lock_state->allowusbdrv.load());
    QVERIFY(!window.pageAt(1)->lock_state->allowusbdrv.load());
    QCOMPARE(lockWord(log.sent.value(0).datagram), 0xF0000300u);

    usb->trigger();
    QVERIFY(looksAllowed(false));
    QVERIFY(!window.pageAt(2)->lock_state->allowusbdrv.load());

    // The look follows the tab as well.
    window.pageAt(1)->setAllowUsbDrv(true);
    window.tabWidget()->setCurrentIndex(1);
    QVERIFY(looksAllowed(true));
}

void TestCommands::checkMarksFollowTab_data()
{
    QTest::addColumn<QList<int>>("lockTypes"); // pages A, B, 未分组
    QTest::addColumn<QList<bool>>("manualIp");
    QTest::addColumn<QList<bool>>("usb");
    QTest::addColumn<int>("tab");
    QTest::addColumn<QStringList>("expected");

    const QList<int> mixedLocks { 2, 0, 0 };
    const QList<bool> mixedFlags { true, false, false };
    const QList<bool> allTrue { true, true, true };
    const QList<bool> allFalse { false, false, false };

    QTest::newRow("A locked") << mixedLocks << mixedFlags << mixedFlags << 1
                              << QStringList { "lock", "usbdisk", "remove_group" };
    QTest::newRow("B defaults") << mixedLocks << mixedFlags << mixedFlags << 2
                                << QStringList { "auto_ip", "remove_group" };
    QTest::newRow("未分组") << QList<int> { 0, 0, 3 } << allFalse << allTrue << 3
                            << QStringList { "lock_kbd_mouse", "auto_ip", "usbdisk" };
    QTest::newRow("全部 mixed") << mixedLocks << mixedFlags << mixedFlags << 0 << QStringList {};
    QTest::newRow("全部 agreeing") << QList<int> { 1, 1, 1 } << allTrue << allTrue << 0
                                   << QStringList { "keep_quiet", "usbdisk" };
    QTest::newRow("全部 agreeing off") << QList<int> { 3, 3, 3 } << allFalse << allFalse << 0
                                       << QStringList { "lock_kbd_mouse", "auto_ip" };
}

void TestCommands::checkMarksFollowTab()
{
    QFETCH(QList<int>, lockTypes);
    QFETCH(QList<bool>, manualIp);
    QFETCH(QList<bool>, usb);
    QFETCH(int, tab);
    QFETCH(QStringList, expected);

    QTemporaryDir dir;
    QVERIFY(seedGroupsAB(dir));
    RokVtxAdmin window(dir.path());
    // Start from a tab showing the opposite, so every mark has to move.
    for (int i = 1; i < 4; ++i) {
        window.pageAt(i)->setLockType(lockTypes.at(i - 1));
        window.pageAt(i)->setAllowManualIp(manualIp.at(i - 1));
        window.pageAt(i)->setAllowUsbDrv(usb.at(i - 1));
    }
    window.tabWidget()->setCurrentIndex(tab == 1 ? 2 : 1);
    window.tabWidget()->setCurrentIndex(tab);
    QCOMPARE(window.currentTab(), tab);
    QCOMPARE(marksOf(window), expected);

    // A command starts from what the marks show: on an agreeing tab the lock
    // shown is the one a second choice releases.
    if (expected.contains(QStringLiteral("lock_kbd_mouse"))) {
        action(window, "action_op_lock_kbd_mouse")->trigger();
        for (int i = 1; i < 4; ++i)
            if (tab == 0 || tab == i)
                QCOMPARE(window.pageAt(i)->lock_state->lock_type, 0);
    }
}

void TestCommands::tabSwitchSendsNothing()
{
    QTemporaryDir dir;
    QVERIFY(seedGroupsAB(dir));
    SendLog log;
    RokVtxAdmin window(dir.path());
    window.pageAt(1)->setLockType(2);
    window.pageAt(3)->setAllowUsbDrv(true);
    log.watchAll(window);
    for (int tab : { 1, 2, 3, 0, 3, 1 })
        window.tabWidget()->setCurrentIndex(tab);
    action(window, "action_view_watch_app")->trigger();
    action(window, "action_view_manage")->trigger();
    QVERIFY(log.sent.isEmpty());
}

void TestCommands::configWrittenAfterCommands()
{
    QTemporaryDir dir;
    QVERIFY(seedGroupsAB(dir));
    RokVtxAdmin window(dir.path());
    window.loadConfigFile();
    const QString path = window.configPath();
    QCOMPARE(path, dir.filePath(QStringLiteral("config.conf")));

    window.tabWidget()->setCurrentIndex(2);
    action(window, "action_op_lock")->trigger();
    QTRY_COMPARE_WITH_TIMEOUT(configEntry(path, QStringLiteral("B")).lock_type, 2, 10000);
    QCOMPARE(configEntry(path, QStringLiteral("A")).lock_type, 0);

    window.tabWidget()->setCurrentIndex(0);
    action(window, "action_op_usbdisk")->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(configEntry(path, QStringLiteral("未分组")).allowusbdrv, 10000);
    action(window, "action_op_auto_ip")->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(!configEntry(path, QStringLiteral("A")).allowmanualip, 10000);
    const QList<GroupSettings> entries = configEntries(path);
    QCOMPARE(entries.size(), 3);
    for (const GroupSettings& entry : entries)
        QVERIFY(entry.allowusbdrv);
}

void TestCommands::configWrittenAfterSwitchOff()
{
    QTemporaryDir dir;
    QVERIFY(seedGroupsAB(dir));
    SendLog log;
    RokVtxAdmin window(dir.path());
    window.loadConfigFile();
    const QString path = window.configPath();
    QStudentGroupWidget* groupB = window.pageAt(2);

    QComboBox* box = stateBox(groupB, 3, 0);
    QVERIFY(box);
    log.watch(groupB);
    box->setCurrentIndex(1);
    // The group's policy goes out at once, without the switched-off entry.
    const QList<SendLog::Sent> policies = log.ofId(Protocol::MSG_ADMIN_POLICY);
    QCOMPARE(policies.size(), 1);
    Protocol::PolicyContent policy;
    QVERIFY(Protocol::parsePolicy(policies.at(0).datagram, policy));
    QVERIFY(policy.lists[2].isEmpty());
    QCOMPARE(policy.lists[0], QStringList { QStringLiteral("游戏.*") });

    QTRY_COMPARE_WITH_TIMEOUT(
        configEntry(path, QStringLiteral("B")).programs, QStringList { QStringLiteral("C:\\Tools\\guard.exe") }, 10000);
    QVERIFY(configEntry(path, QStringLiteral("A")).programs.isEmpty());

    box->setCurrentIndex(0);
    QTRY_VERIFY_WITH_TIMEOUT(configEntry(path, QStringLiteral("B")).programs.isEmpty(), 10000);
}

void TestCommands::restoredStateShownAtOnce()
{
    QTemporaryDir dir;
    QVERIFY(seedGroupsAB(dir));
    QList<GroupSettings> entries;
    for (const char* name : { "A", "B", "未分组" }) {
        GroupSettings entry;
        entry.group_name = QString::fromUtf8(name);
        entry.lock_type = 3;
        entry.allowmanualip = false;
        entry.allowusbdrv = true;
        entries << entry;
    }
    QVERIFY(GroupSettingsFile::write(dir.filePath(QStringLiteral("config.conf")), entries));

    RokVtxAdmin window(dir.path());
    QCOMPARE(window.currentTab(), 0);
    // The notifier applies the file shortly after start; no tab change is
    // needed for the marks to show it.
    QTRY_COMPARE(window.ungroupedPage()->lock_state->lock_type, 3);
    QCOMPARE(marksOf(window), (QStringList { "lock_kbd_mouse", "auto_ip", "usbdisk" }));
    QCOMPARE(action(window, "action_op_usbdisk")->toolTip(), QStringLiteral("当前允许使用U盘"));

    // And the next command starts from the restored state: releasing.
    action(window, "action_op_lock_kbd_mouse")->trigger();
    for (int i = 1; i < 4; ++i)
        QCOMPARE(window.pageAt(i)->lock_state->lock_type, 0);
}

QTEST_MAIN(TestCommands)
#include "tst_mainwindow_commands.moc"
