// What IT staff use: the prepared school an installer leaves beside the
// console, taken in once at the PC's first start, never over the PC's own
// data; and the policy lists to and from one text file in the 文件 menu.

#include "deploy/Deployment.h"
#include "dialogs/FileDialog.h"
#include "groups/GroupOperations.h"
#include "policy/QAppWatcherWidget.h"
#include "storage/EventLogStore.h"
#include "tableview/QtRokTableView.h"
#include "tst_mainwindow_support.h"

#include <QSqlQuery>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QtTest>

#include <utility>

using namespace MainWindowTest;

Q_DECLARE_METATYPE(QList<SeedGroup>)
Q_DECLARE_METATYPE(QList<SeedMachine>)

namespace {

const QString Room1 = QStringLiteral("一号机房");
const QString Room2 = QStringLiteral("二号机房");

constexpr quint64 R1a = 0x00000A0000000101ULL;
constexpr quint64 R1b = 0x00000A0000000102ULL;
constexpr quint64 R2a = 0x00000A0000000201ULL;
constexpr quint64 R3a = 0x00000A0000000301ULL;

// A spreadsheet program's save of an export: three rooms, and three rows
// that cannot be machines, one with a NUL that must not end the file.
const char PreparedMachinesText[] = "\xEF\xBB\xBF"
                                    "机器名,IP地址,MAC地址,分组,状态\r\n"
                                    "r1-a,10.0.1.1,01:01:00:00:00:0A,一号机房,在线\r\n"
                                    "r1-b,10.0.1.2,02:01:00:00:00:0A,一号机房,断开\r\n"
                                    "r2-a,,01:02:00:00:00:0A,二号机房,\r\n"
                                    "r3-a,10.0.3.1,01:03:00:00:00:0A,三号机房,\r\n"
                                    "bad,10.0.9.1,not-a\0mac,一号机房,\r\n"
                                    "twice,10.0.9.2,01:01:00:00:00:0A,二号机房,\r\n"
                                    "reserved,10.0.9.3,09:09:00:00:00:0A,全部,\r\n";
const QByteArray PreparedMachines(PreparedMachinesText, sizeof(PreparedMachinesText) - 1);

// The last line holds a NUL, the one fault a line of the file can carry.
const char PreparedPoliciesText[] = "[禁止的窗口标题]\n"
                                    "激活\t.*游戏.*\n"
                                    "激活\t([unclosed\n"
                                    "[守护的程序]\n"
                                    "停用\tC:\\Windows\\notepad.exe\n"
                                    "关闭\tC:\\x.exe\n"
                                    "激活\tC:\\a\0b.exe\n";
const QByteArray PreparedPolicies(PreparedPoliciesText, sizeof(PreparedPoliciesText) - 1);

QStringList logged(EventLogStore& log)
{
    log.flush();
    QStringList details;
    QSqlQuery query = log.select(QString(), EventLogStore::Command, true);
    while (query.next())
        details << query.value(5).toString();
    return details;
}

int rowsOf(QStudentGroupWidget* page, quint64 mac)
{
    int rows = 0;
    for (int row = 0; row < page->machine_table->getRowCount(); ++row)
        rows += page->macAtRow(row) == mac;
    return rows;
}

QStringList texts(const StringItemList& items)
{
    QStringList out;
    for (const auto& item : items)
        out << QStringLiteral("%1 %2").arg(item->item_state).arg(item->str_val);
    return out;
}

} // namespace

class TestDeploy : public QObject
{
    Q_OBJECT

private slots:
    void preparedSchoolAtFirstStart();
    void preparedFilesNeverOverwriteTheData_data();
    void preparedFilesNeverOverwriteTheData();
    void registrationDuringTheImportPlacedOnce();
    void machineListNotUtf8RefusedWhole();
    void policyListMenu();
};

void TestDeploy::preparedSchoolAtFirstStart()
{
    QTemporaryDir dir;
    QVERIFY(writeFile(dir.filePath(Deployment::MachinesFile), PreparedMachines));
    QVERIFY(writeFile(dir.filePath(Deployment::PoliciesFile), PreparedPolicies));
    RokVtxAdmin window(dir.path());
    // The lab is served first: nothing is taken in before the page states.
    QCOMPARE(tabTexts(window), (QStringList { QStringLiteral("全部"), QStringLiteral("未分组") }));

    QTRY_VERIFY(QFile::exists(dir.filePath(QStringLiteral("deploy-machines.imported.csv"))));
    QVERIFY(QFile::exists(dir.filePath(QStringLiteral("deploy-policies.imported.txt"))));
    QVERIFY(!QFile::exists(dir.filePath(Deployment::MachinesFile)));
    QCOMPARE(tabTexts(window), (QStringList { QStringLiteral("全部"), Room1, Room2, QStringLiteral("三号机房"),
                                   QStringLiteral("未分组") }));
    QStudentManage& registry = window.core().registry();
    QCOMPARE(registry.groupNameOfMachine(R1a), Room1);
    QCOMPARE(registry.groupNameOfMachine(R1b), Room1);
    QCOMPARE(registry.groupNameOfMachine(R2a), Room2);
    QCOMPARE(registry.groupNameOfMachine(R3a), QStringLiteral("三号机房"));
    QCOMPARE(registry.allMachines().size(), 4);
    QVERIFY(rowOf(page(window, Room1), R1b) >= 0);

    // Stored before the files were set aside.
    const Stored stored = readDatabase(dir.filePath(QStringLiteral("data.sqlite3")));
    QVERIFY(stored.ok);
    QCOMPARE(stored.machines.size(), 4);
    QVERIFY(stored.group(Room2) && stored.group(Room2)->ullmac_list.contains(R2a));
    // A title the console cannot check is taken in as it stands and told.
    QCOMPARE(texts(registry.store().loadStringItems(1)),
             (QStringList { QStringLiteral("1 .*游戏.*"), QStringLiteral("1 ([unclosed") }));
    QCOMPARE(texts(registry.store().loadStringItems(3)), QStringList { QStringLiteral("0 C:\\Windows\\notepad.exe") });
    QCOMPARE(texts(page(window, Room2)->policy_editor->itemsOfType(1)),
             (QStringList { QStringLiteral("1 .*游戏.*"), QStringLiteral("1 ([unclosed") }));

    const QStringList rows = logged(window.core().tables().eventLog());
    QVERIFY(rows.contains(QStringLiteral("部署：导入 3 个机房、4 台机器，拒绝 3 行（见 deploy-report.txt）")));
    QVERIFY(rows.contains(QStringLiteral("部署：导入策略列表 3 条，拒绝 2 行（见 deploy-report.txt）")));
    QVERIFY(window.statusBar()->currentMessage().startsWith(QStringLiteral("部署：导入 3 个机房、4 台机器")));
    const QByteArray reportBytes = fileBytes(dir.filePath(Deployment::ReportFile));
    const QString report = QString::fromUtf8(reportBytes.constData(), reportBytes.size());
    for (const QString& refusal : { QStringLiteral("第 6 行：MAC 地址“not-a"),
             QStringLiteral("第 7 行：MAC 地址 01:01:00:00:00:0A 重复"), QStringLiteral("第 8 行："),
             QStringLiteral("第 3 行：“([unclosed”教师端无法检查此正则表达式"),
             QStringLiteral("第 6 行：状态须为“激活”或“停用”"), QStringLiteral("第 7 行：") })
        QVERIFY2(report.contains(refusal), qPrintable(QString(report).replace(QChar(0), QLatin1Char('@'))));
}

void TestDeploy::preparedFilesNeverOverwriteTheData_data()
{
    QTest::addColumn<QList<SeedGroup>>("groups");
    QTest::addColumn<QList<SeedMachine>>("machines");
    QTest::addColumn<QStringList>("catalog"); // "state text" of list 1
    QTest::addColumn<QStringList>("tabs");

    QTest::newRow("a room with its machine")
        << QList<SeedGroup> { { Room2, 1 } }
        << QList<SeedMachine> { { R1a, QStringLiteral("mine"), QStringLiteral("10.0.0.1"), Room2 } } << QStringList()
        << QStringList { QStringLiteral("全部"), Room2, QStringLiteral("未分组") };
    QTest::newRow("list entries only") << QList<SeedGroup>() << QList<SeedMachine>()
                                       << QStringList { QStringLiteral("0 QQ") }
                                       << QStringList { QStringLiteral("全部"), QStringLiteral("未分组") };
}

void TestDeploy::preparedFilesNeverOverwriteTheData()
{
    QFETCH(QList<SeedGroup>, groups);
    QFETCH(QList<SeedMachine>, machines);
    QFETCH(QStringList, catalog);
    QFETCH(QStringList, tabs);
    QTemporaryDir dir;
    StringItemList items;
    for (const QString& entry : catalog)
        items << item(1, entry.mid(2), entry.left(1).toInt());
    QVERIFY(seedDatabase(dir.filePath(QStringLiteral("data.sqlite3")), groups, machines, items));
    QVERIFY(writeFile(dir.filePath(Deployment::MachinesFile), PreparedMachines));
    QVERIFY(writeFile(dir.filePath(Deployment::PoliciesFile), PreparedPolicies));
    RokVtxAdmin window(dir.path());

    QTRY_VERIFY(QFile::exists(dir.filePath(QStringLiteral("deploy-machines.skipped.csv"))));
    QVERIFY(QFile::exists(dir.filePath(QStringLiteral("deploy-policies.skipped.txt"))));
    QCOMPARE(tabTexts(window), tabs);
    QCOMPARE(window.core().registry().allMachines().size(), machines.size());
    for (const SeedMachine& machine : machines)
        QCOMPARE(window.core().registry().groupNameOfMachine(machine.mac), machine.group);
    QCOMPARE(texts(window.watchEditor()->allItems()), catalog);
    QVERIFY(logged(window.core().tables().eventLog()).value(0).startsWith(QStringLiteral("部署：本机已有机房数据，部署文件未导入")));
}

// Seen in the first start with a lab registering: a machine the import placed
// between its registration on the network thread and that registration's
// placement on the UI thread stood twice on its pages.
void TestDeploy::registrationDuringTheImportPlacedOnce()
{
    QTemporaryDir dir;
    QVERIFY(writeFile(dir.filePath(Deployment::MachinesFile), PreparedMachines));
    RokVtxAdmin window(dir.path());
    auto* groups = window.findChild<GroupOperations*>();
    // The network thread's part of two registrations: the records, their
    // placements queued, here to come after the import, which runs in one
    // go. R1a's record is made before the import, R1b's by it.
    QStudentManage& registry = window.core().registry();
    const CStuInfo_PTR early = registry.updateMachine(R1a, QStringLiteral("r1-a"), QString(), true);
    bool queued = false;
    bool placed = false;
    connect(groups, &GroupOperations::sg_changed, this, [&] {
        if (!std::exchange(queued, true))
            QMetaObject::invokeMethod(
                groups,
                [&] {
                    groups->placeMachine(early);
                    groups->placeMachine(registry.findMachine(R1b));
                    placed = true;
                },
                Qt::QueuedConnection);
    });
    QTRY_VERIFY(placed);
    QVERIFY(QFile::exists(dir.filePath(QStringLiteral("deploy-machines.imported.csv"))));
    for (quint64 mac : { R1a, R1b }) {
        QCOMPARE(rowsOf(window.allPage(), mac), 1);
        QCOMPARE(rowsOf(page(window, Room1), mac), 1);
        QCOMPARE(rowsOf(window.ungroupedPage(), mac), 0);
    }
}

void TestDeploy::machineListNotUtf8RefusedWhole()
{
    // A spreadsheet program's plain CSV on Chinese Windows: "一号机房" in GBK.
    QTemporaryDir dir;
    QVERIFY(writeFile(dir.filePath(Deployment::MachinesFile),
        "r1-a,10.0.1.1,01:01:00:00:00:0A,\xd2\xbb\xba\xc5\xbb\xfa\xb7\xbf\r\n"));
    RokVtxAdmin window(dir.path());
    QTRY_VERIFY(QFile::exists(dir.filePath(QStringLiteral("deploy-machines.imported.csv"))));
    QCOMPARE(tabTexts(window), (QStringList { QStringLiteral("全部"), QStringLiteral("未分组") }));
    QCOMPARE(window.core().registry().allMachines().size(), 0);
    QCOMPARE(logged(window.core().tables().eventLog()).value(0),
        QStringLiteral("部署：导入 0 个机房、0 台机器，拒绝 1 行（见 deploy-report.txt）"));
    QVERIFY(QString::fromUtf8(fileBytes(dir.filePath(Deployment::ReportFile))).contains(QStringLiteral("不是 UTF-8")));
}

void TestDeploy::policyListMenu()
{
    QTemporaryDir dir;
    QVERIFY(seedDatabase(dir.filePath(QStringLiteral("data.sqlite3")), { { Room1, 1 } }, {},
        { item(1, QStringLiteral("QQ"), 0), item(2, QStringLiteral("Spooler")) }));
    RokVtxAdmin window(dir.path());

    const QString exported = dir.filePath(QStringLiteral("策略.txt"));
    FileDialog::setNextSaveFileName(exported);
    action(window, "action_file_export_policies")->trigger();
    QCOMPARE(fileBytes(exported), QByteArray("\xEF\xBB\xBF"
                                               "# 机房控制系统教师端 策略列表\r\n"
                                               "# 每个条目一行：状态（激活 或 停用）、一个制表符、条目文字\r\n"
                                               "[禁止的窗口标题]\r\n"
                                               "停用\tQQ\r\n"
                                               "[守护的服务]\r\n"
                                               "激活\tSpooler\r\n"
                                               "[守护的程序]\r\n"));

    // Known texts keep their state; new ones are stored and reach the pages.
    QVERIFY(writeFile(exported, "[禁止的窗口标题]\n激活\tQQ\n激活 微信\n[守护的服务]\n激活\t\n"));
    FileDialog::setNextOpenFileName(exported);
    MessageBox::setNextAnswer(QMessageBox::Ok);
    action(window, "action_file_import_policies")->trigger();
    QCOMPARE(window.statusBar()->currentMessage(), QStringLiteral("新增 1 条，已有 1 条保持原状，拒绝 1 行。"));
    QCOMPARE(texts(window.core().registry().store().loadStringItems(1)),
        (QStringList { QStringLiteral("0 QQ"), QStringLiteral("1 微信") }));
    QCOMPARE(texts(page(window, Room1)->policy_editor->itemsOfType(1)),
        (QStringList { QStringLiteral("0 QQ"), QStringLiteral("1 微信") }));
    QVERIFY(!window.watchEditor()->isModified());
}

QTEST_MAIN(TestDeploy)
#include "tst_deploy.moc"
