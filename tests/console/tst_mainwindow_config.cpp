// config.conf through the main window: what each page leaves in it, round
// trips of awkward texts, and files that are not as the console writes them.
// The file's layout and escaping are tst_groupsettings'.

#include "GroupSettingsFile.h"
#include "QAppWatcherWidget.h"
#include "QtRokTableView.h"
#include "tst_mainwindow_support.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QtTest>

using namespace MainWindowTest;

namespace {

QString dataPath(const QTemporaryDir& dir)
{
    return dir.filePath(QStringLiteral("data.sqlite3"));
}

QString configPath(const QTemporaryDir& dir)
{
    return dir.filePath(QStringLiteral("config.conf"));
}

StringItemList catalog()
{
    return { item(1, QStringLiteral("游戏.*")), item(1, QStringLiteral("QQ")), item(2, QStringLiteral("Spooler")),
        item(3, QStringLiteral("C:\\a.exe")) };
}

// Switches the entry with `text` off (or back on) in a page's embedded list.
bool switchEntry(QStudentGroupWidget* page, int type, const QString& text, bool off)
{
    QtRokTableView* table = page->policy_editor->tableOfType(type);
    for (int row = 0; table && row < table->getRowCount(); ++row) {
        if (table->getCellText(row, 0) != text)
            continue;
        auto* box = page->policy_editor->stateBox(type, row);
        if (!box)
            return false;
        box->setCurrentIndex(off ? 1 : 0);
        return true;
    }
    return false;
}

struct Exported
{
    int lockType = 0;
    bool manualIp = false;
    bool usb = false;
    QStringList titles, services, programs;
};

Exported exported(QStudentGroupWidget* page)
{
    Exported out;
    std::shared_ptr<Rok_Lock_State> lock;
    page->exportGroupConfig(lock, out.titles, out.services, out.programs);
    out.lockType = lock->lock_type;
    out.manualIp = lock->allowmanualip;
    out.usb = lock->allowusbdrv;
    return out;
}

} // namespace

class TestConfig : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void configHoldsEveryPageButAll();
    void configRoundTrip();
    void sameTabTextReceivesSameEntry();
    void malformedConfig_data();
    void malformedConfig();
};

void TestConfig::initTestCase()
{
    initRokResources();
    registerRokMetaTypes();
}

void TestConfig::configHoldsEveryPageButAll()
{
    // Also where the program's directory has a non-ASCII name.
    QTemporaryDir dir(QDir::tempPath() + QStringLiteral("/机房控制-XXXXXX"));
    QVERIFY(dir.isValid());
    QVERIFY(seedDatabase(dataPath(dir), { { QStringLiteral("A"), 1 } }, {}, catalog()));
    RokVtxAdmin window(dir.path());
    window.loadConfigFile();
    QStudentGroupWidget* groupA = page(window, "A");
    QVERIFY(switchEntry(groupA, 3, QStringLiteral("C:\\a.exe"), true));
    QVERIFY(switchEntry(groupA, 1, QStringLiteral("QQ"), true));
    QVERIFY(switchEntry(groupA, 1, QStringLiteral("游戏.*"), true));
    window.tabWidget()->setCurrentIndex(1);
    action(window, "action_op_lock")->trigger();
    action(window, "action_op_usbdisk")->trigger();
    window.saveNow();

    // The switched-off entries in row order, not in the order they were switched.
    GroupSettings a;
    a.group_name = QStringLiteral("A");
    a.lock_type = 2;
    a.allowusbdrv = true;
    a.titles = QStringList { QStringLiteral("游戏.*"), QStringLiteral("QQ") };
    a.programs = QStringList { QStringLiteral("C:\\a.exe") };
    GroupSettings ungrouped;
    ungrouped.group_name = QStringLiteral("未分组");
    QCOMPARE(
        fileBytes(configPath(dir)), GroupSettingsFile::toText({ a, ungrouped }, GroupSettingsFile::NativeLineEnd));
}

void TestConfig::configRoundTrip()
{
    const QString group = QStringLiteral("机房\\\"一\"班, b); # /*");
    const QString title = QStringLiteral("^.*\\.(exe|bat)$ \"x\",] */");
    const QString program = QStringLiteral("\\\\server\\\"share\"\\程序,y\\");

    QTemporaryDir dir;
    const StringItemList items { item(1, title), item(1, QStringLiteral("plain")), item(3, program) };
    QVERIFY(seedDatabase(dataPath(dir), { { group, 1 } }, {}, items));
    {
        RokVtxAdmin window(dir.path());
        window.loadConfigFile();
        QCOMPARE(tabTexts(window), (QStringList { "全部", group, "未分组" }));
        QVERIFY(switchEntry(window.pageAt(1), 1, title, true));
        QVERIFY(switchEntry(window.pageAt(1), 3, program, true));
        QVERIFY(switchEntry(window.pageAt(2), 3, program, true));
        window.tabWidget()->setCurrentIndex(1);
        action(window, "action_op_keep_quiet")->trigger();
        window.tabWidget()->setCurrentIndex(2);
        action(window, "action_op_auto_ip")->trigger();
    }

    QList<GroupSettings> parsed;
    QString error;
    QVERIFY2(GroupSettingsFile::read(configPath(dir), parsed, &error), qPrintable(error));
    QCOMPARE(parsed.size(), 2);
    QCOMPARE(parsed.at(0).group_name, group);

    RokVtxAdmin window(dir.path());
    window.loadConfigFile();
    const Exported first = exported(window.pageAt(1));
    QCOMPARE(first.lockType, 1);
    QCOMPARE(first.titles, QStringList { title });
    QCOMPARE(first.programs, QStringList { program });
    const Exported second = exported(window.ungroupedPage());
    QCOMPARE(second.lockType, 0);
    QVERIFY(second.manualIp);
    QCOMPARE(second.titles, QStringList());
    QCOMPARE(second.programs, QStringList { program });
    // The states come back in the check marks of the tab in front too.
    window.tabWidget()->setCurrentIndex(1);
    QVERIFY(action(window, "action_op_keep_quiet")->isChecked());
}

void TestConfig::sameTabTextReceivesSameEntry()
{
    // A group of that name from an earlier version of the console.
    QTemporaryDir dir;
    QVERIFY(seedDatabase(dataPath(dir), { { QStringLiteral("未分组"), 1 } }, {}, catalog()));
    QVERIFY(writeFile(configPath(dir),
        "groups=(\n\t{\n\t\tgroup-name=\"未分组\";\n\t\tlock-type=1;\n\t\ttype-1=[\"QQ\"];\n\t},\n"
        "\t{\n\t\tgroup-name=\"nobody\";\n\t\tlock-type=3;\n\t},\n);"));
    RokVtxAdmin window(dir.path());
    window.loadConfigFile();
    QCOMPARE(tabTexts(window), (QStringList { "全部", "未分组", "未分组" }));
    for (int i = 1; i < 3; ++i) {
        QCOMPARE(window.pageAt(i)->lock_state->lock_type, 1);
        QCOMPARE(exported(window.pageAt(i)).titles, QStringList { QStringLiteral("QQ") });
    }
}

void TestConfig::malformedConfig_data()
{
    QTest::addColumn<QByteArray>("text"); // empty: config.conf is a directory
    QTest::addColumn<int>("lockA"); // lock type of page A after loading
    QTest::addColumn<QStringList>("offInA"); // type-1 entries switched off in A
    QTest::addColumn<bool>("kept"); // the run must leave the file as it was
    QTest::addColumn<bool>("told"); // a box names the file

    // tst_badfiles tries many more damaged and odd files.
    const QStringList none;
    QTest::newRow("unreadable") << QByteArray() << 0 << none << true << true;
    // Kept beside under another name (tst_badfiles), then written afresh.
    QTest::newRow("syntax error") << QByteArray("groups=(\n\t{\n\t\tgroup-name=\"A\";\n\t\tlock-type=2;\n") << 0 << none
                                  << false << true;
    QTest::newRow("lists missing") << QByteArray("groups=({ group-name=\"A\"; lock-type=3; type-1=[\"QQ\"]; });") << 3
                                   << QStringList { "QQ" } << false << false;
    QTest::newRow("BOM, CR LF, trailing commas")
        << QByteArray("\xEF\xBB\xBFgroups=(\r\n\t{\r\n\t\tgroup-name=\"A\";\r\n\t\tlock-type=2;\r\n"
                      "\t\ttype-1=[\r\n\t\t\t\"游戏.*\",\r\n\t\t\t\"QQ\",\r\n\t\t];\r\n\t},\r\n);")
        << 2 << QStringList { "游戏.*", "QQ" } << false << false;
}

void TestConfig::malformedConfig()
{
    QFETCH(QByteArray, text);
    QFETCH(int, lockA);
    QFETCH(QStringList, offInA);
    QFETCH(bool, kept);
    QFETCH(bool, told);

    QTemporaryDir dir;
    QVERIFY(seedDatabase(dataPath(dir), { { QStringLiteral("A"), 1 } }, {}, catalog()));
    if (text.isEmpty())
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("config.conf")));
    else
        QVERIFY(writeFile(configPath(dir), text));

    {
        // A file that cannot be read is reported once, naming it.
        MessageBox::clearLast();
        if (told)
            MessageBox::setNextAnswer(QMessageBox::Ok);
        RokVtxAdmin window(dir.path());
        window.loadConfigFile();
        if (told)
            QVERIFY2(MessageBox::lastText().contains(QStringLiteral("config.conf")), qPrintable(MessageBox::lastText()));
        else
            QVERIFY2(MessageBox::lastText().isEmpty(), qPrintable(MessageBox::lastText()));
        // Only once per run.
        MessageBox::clearLast();
        MessageBox::setNextAnswer(QMessageBox::Ok);
        window.loadConfigFile();
        QVERIFY2(MessageBox::lastText().isEmpty(), qPrintable(MessageBox::lastText()));
        MessageBox::setNextAnswer(QMessageBox::NoButton);
        QStudentGroupWidget* groupA = page(window, "A");
        QCOMPARE(groupA->lock_state->lock_type, lockA);
        QVERIFY(!groupA->lock_state->allowusbdrv.load());
        QVERIFY(!groupA->lock_state->allowmanualip.load());
        QCOMPARE(exported(groupA).titles, offInA);

        // Changes that would be saved, then a full exit.
        window.tabWidget()->setCurrentIndex(1);
        action(window, "action_op_lock_kbd_mouse")->trigger();
        QVERIFY(switchEntry(groupA, 2, QStringLiteral("Spooler"), true));
        window.saveNow();
    }

    if (text.isEmpty()) {
        QVERIFY(QFileInfo(configPath(dir)).isDir());
    } else if (kept) {
        QCOMPARE(fileBytes(configPath(dir)), text);
    } else {
        QList<GroupSettings> parsed;
        QVERIFY(GroupSettingsFile::read(configPath(dir), parsed));
        QCOMPARE(parsed.size(), 2);
        QCOMPARE(parsed.at(0).group_name, QStringLiteral("A"));
        QCOMPARE(parsed.at(0).lock_type, lockA == 3 ? 0 : 3);
        QCOMPARE(parsed.at(0).services, QStringList { QStringLiteral("Spooler") });
    }
    // Nothing but the file itself was left behind by the writer.
    QStringList entries = QDir(dir.path()).entryList(QDir::Files | QDir::Hidden);
    entries.removeAll(QStringLiteral("data.sqlite3"));
    entries.removeAll(QStringLiteral("config.conf"));
    if (told && !kept)
        QCOMPARE(entries.size(), 1); // the damaged file, set aside
    else
        QCOMPARE(entries, QStringList());
}

QTEST_MAIN(TestConfig)
#include "tst_mainwindow_config.moc"
