// The two files the console keeps: the SQLite store of machines, groups and
// lists, and config.conf, the group settings. What reaches each file, what
// comes back, and what a damaged or foreign file gives.

#include "storage/GroupSettingsFile.h"
#include "storage/GroupSettingsSession.h"
#include "storage/LessonModeStore.h"
#include "storage/PolicyListFile.h"
#include "storage/QDataHelper.h"
#include "TestConnection.h"

#include <QDir>
#include <QTemporaryDir>
#include <QtTest>
#include <algorithm>

Q_DECLARE_METATYPE(GroupSettings)

// Readable diffs when two entry lists differ.
char* toString(const GroupSettings& s)
{
    const QStringList parts { s.group_name, QString::number(s.lock_type), QString::number(s.allowmanualip),
        QString::number(s.allowusbdrv), s.titles.join('|'), s.services.join('|'), s.programs.join('|') };
    return qstrdup(parts.join(QLatin1Char(' ')).toUtf8().constData());
}

namespace {

const QString Ungrouped = QStringLiteral("未分组");

// A fresh SQLite file with the console's tables, a store on it, and the same
// connection for the test's own statements.
struct Fixture
{
    explicit Fixture(bool tables = true)
    {
        store.setDatabase(sql.db);
        if (tables)
            store.initTables();
    }

    QTemporaryDir dir;
    TestConnection sql { dir.filePath(QStringLiteral("data.sqlite3")) };
    QDataHelper store;
};

Machine_PTR machine(quint64 mac, const QString& ip, const QString& hostname)
{
    auto m = std::make_shared<Machine>();
    m->ullmac = mac;
    m->ip = ip;
    m->hostname = hostname;
    return m;
}

CStudentGroup_PTR group(const QString& name, int order, QSet<quint64> members = {}, bool global = false)
{
    auto g = std::make_shared<CStudentGroup>();
    g->group_name = name;
    g->display_order = order;
    g->ullmac_list = std::move(members);
    g->is_global = global;
    return g;
}

QtDoubleIntStringItem_PTR item(const QString& text, int state = QtDoubleIntStringItem::Active, int type = 0)
{
    auto i = std::make_shared<QtDoubleIntStringItem>();
    i->str_val = text;
    i->item_state = state;
    i->item_type = type;
    return i;
}

QStringList texts(const StringItemList& items)
{
    QStringList out;
    for (const auto& i : items)
        out << QStringLiteral("%1:%2:%3").arg(i->item_type).arg(i->item_state).arg(i->str_val);
    return out;
}

// name:order:global:members
QStringList groupTexts(const QList<CStudentGroup_PTR>& groups)
{
    QStringList out;
    for (const auto& g : groups) {
        QList<quint64> macs = g->ullmac_list.values();
        std::sort(macs.begin(), macs.end());
        QStringList members;
        for (const quint64 mac : macs)
            members << QString::number(mac);
        out << QStringLiteral("%1:%2:%3:%4")
                   .arg(g->group_name)
                   .arg(g->display_order)
                   .arg(g->is_global)
                   .arg(members.join(','));
    }
    return out;
}

GroupSettings entry(const QString& name, int lock = 0, bool manualIp = false, bool usb = false,
    const QStringList& titles = {}, const QStringList& services = {}, const QStringList& programs = {})
{
    return GroupSettings { name, lock, manualIp, usb, titles, services, programs };
}

// One entry in the written layout, with the given inner lines.
QByteArray fileWith(const QByteArray& body)
{
    return "groups=(\n\t{\n" + body + "\n\t},\n);";
}

QByteArray fileBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

} // namespace

class TestStorage : public QObject
{
    Q_OBJECT

private slots:
    void tablesAndDefaults();
    void foreignOrReadOnlyFile();
    void machinesRoundTrip();
    void groupsRoundTrip();
    void removeGroupTouchesOnlyItsRow();
    void loadStringItemsByType_data();
    void loadStringItemsByType();
    void savingOneTypeKeepsTheOthers();
    void failingSaveKeepsOldRows();

    void settingsWrittenExactly();
    void settingsRoundTrip_data();
    void settingsRoundTrip();
    void normalize_data();
    void normalize();
    void settingsFiles_data();
    void settingsFiles();
    void settingsFileOnDisk();
    void settingsSession_data();
    void settingsSession();
    void lessonModesRoundTrip();
    void policyListFile_data();
    void policyListFile();
    void policyListRoundTrip();
};

void TestStorage::tablesAndDefaults()
{
    Fixture f(false);
    QVERIFY(f.store.initTables());
    QCOMPARE(f.sql.exec("INSERT INTO tb_machines VALUES (7,'10.0.0.7','pc7');"), QString());
    QVERIFY(f.store.initTables());
    QVERIFY(f.store.checkTables());
    QCOMPARE(f.sql.column("SELECT name FROM sqlite_master WHERE type='table' ORDER BY name;"),
        (QStringList { "tb_groups", "tb_machines", "tb_string_items" }));
    QCOMPARE(f.sql.column("SELECT hostname FROM tb_machines;"), QStringList { "pc7" });
    // Older files and other programs leave these columns out.
    QCOMPARE(f.sql.exec("INSERT INTO tb_groups (group_name) VALUES ('g');"), QString());
    QCOMPARE(f.sql.exec("INSERT INTO tb_string_items (str_val,item_type) VALUES ('x',1);"), QString());
    QCOMPARE(f.sql.column("SELECT display_order || ',' || is_global FROM tb_groups;"), QStringList { "1,0" });
    QCOMPARE(f.sql.column("SELECT item_state FROM tb_string_items;"), QStringList { "1" });
}

void TestStorage::foreignOrReadOnlyFile()
{
    Fixture f(false);
    // Tables of another shape: CREATE TABLE IF NOT EXISTS leaves them alone.
    QCOMPARE(f.sql.exec("CREATE TABLE tb_machines(x int);"), QString());
    QCOMPARE(f.sql.exec("CREATE TABLE tb_groups(y int);"), QString());
    QCOMPARE(f.sql.exec("INSERT INTO tb_machines VALUES (1);"), QString());
    QVERIFY(f.store.initTables());
    QVERIFY(!f.store.checkTables());
    QVERIFY(f.store.checkWritable());

    bool ok = true;
    QVERIFY(f.store.loadMachineList(&ok).isEmpty());
    QVERIFY(!ok);
    ok = true;
    QVERIFY(f.store.loadGroupList(&ok).isEmpty());
    QVERIFY(!ok);
    QVERIFY(!f.store.saveMachineList({ machine(1, "a", "b") }));
    QCOMPARE(f.sql.column("SELECT x FROM tb_machines;"), QStringList { "1" });

    f.sql.db.close();
    f.sql.db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
    QVERIFY(f.sql.db.open());
    f.store.setDatabase(f.sql.db);
    QVERIFY(!f.store.checkWritable());
    QVERIFY2(f.store.lastError().startsWith(QStringLiteral("checkWritable.")), qPrintable(f.store.lastError()));
}

void TestStorage::machinesRoundTrip()
{
    Fixture f;
    // Keys with the top bit set (anything a datagram may carry) come back
    // exactly and do not collide.
    const quint64 big = Q_UINT64_C(0xA1B2C3D4E5F6);
    const quint64 high1 = Q_UINT64_C(0xFFFF000000000002);
    const quint64 high2 = Q_UINT64_C(0xFFFF000000000003);
    QVERIFY(f.store.saveMachineList({ machine(big, "192.168.1.20", QStringLiteral("机房-01")),
        machine(1, QString(), QStringLiteral("pc1")), machine(high1, "a", "h1"), machine(high2, "b", QString()) }));
    const QMap<quint64, Machine_PTR> loaded = f.store.loadMachineList();
    QCOMPARE(loaded.keys(), (QList<quint64> { 1, big, high1, high2 }));
    QCOMPARE(loaded[big]->ip, QStringLiteral("192.168.1.20"));
    QCOMPARE(loaded[big]->hostname, QStringLiteral("机房-01"));
    QCOMPARE(loaded[high2]->hostname, QString());
    QCOMPARE(f.sql.column("SELECT typeof(ullmac) FROM tb_machines WHERE ullmac=1;"), QStringList { "integer" });

    // A save replaces the whole table; an empty one empties it, and reading nothing is no failure.
    QVERIFY(f.store.saveMachineList({ machine(0x33, "10.0.0.4", "pc3") }));
    QCOMPARE(f.store.loadMachineList().keys(), QList<quint64> { 0x33 });
    QVERIFY(f.store.saveMachineList({}));
    bool ok = false;
    QVERIFY(f.store.loadMachineList(&ok).isEmpty());
    QVERIFY(ok);
}

void TestStorage::groupsRoundTrip()
{
    Fixture f;
    QVERIFY(f.store.saveGroupList(
        { group(QStringLiteral("三班"), 3, { 10, 11, 12 }), group("first", 1, { 7 }), group("global", 2, {}, true) }));
    QCOMPARE(groupTexts(f.store.loadGroupList()),
        (QStringList { "first:1:0:7", "global:2:1:", QStringLiteral("三班:3:0:10,11,12") }));
    QCOMPARE(f.sql.column("SELECT ullmac_list FROM tb_groups WHERE group_name='global';"), QStringList { "" });
    QVERIFY(f.store.saveGroupList({ group("only", 9) }));
    QCOMPARE(groupTexts(f.store.loadGroupList()), QStringList { "only:9:0:" });

    // Rows other programs wrote: a shared display order keeps both, NULL
    // members read as none, and only 1 is global.
    QCOMPARE(f.sql.exec("DELETE FROM tb_groups;"), QString());
    QCOMPARE(f.sql.exec("INSERT INTO tb_groups VALUES ('late',5,'1',1),('b',2,'',2),('a',2,'3,4','1'),"
                        "('first',0,NULL,NULL),('last',6,'',0);"),
        QString());
    QStringList read = groupTexts(f.store.loadGroupList());
    if (read.size() == 5 && read[1].startsWith('b'))
        read.swapItemsAt(1, 2);
    QCOMPARE(read, (QStringList { "first:0:0:", "a:2:1:3,4", "b:2:0:", "late:5:1:1", "last:6:0:" }));
}

void TestStorage::removeGroupTouchesOnlyItsRow()
{
    // Names are bound, never spliced into the statement.
    const QStringList names { "O'Brien", "''", "x' OR '1'='1", "a'; DELETE FROM tb_groups; --", "三班" };
    Fixture f;
    QList<CStudentGroup_PTR> groups { group("O", 1, { 1 }), group("x", 2, { 3 }), group("a", 3), group("Brien", 4) };
    for (const QString& name : names)
        groups << group(name, groups.size() + 1);
    QVERIFY(f.store.saveGroupList(groups));
    for (const QString& name : names)
        QVERIFY(f.store.removeGroup(name));
    QCOMPARE(groupTexts(f.store.loadGroupList()), (QStringList { "O:1:0:1", "x:2:0:3", "a:3:0:", "Brien:4:0:" }));
    // Removing a name that matches nothing still succeeds.
    QVERIFY(f.store.removeGroup(names.first()));
    QCOMPARE(f.store.loadGroupList().size(), 4);
}

void TestStorage::loadStringItemsByType_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("all") << -1 << QStringList { "1:1:t1", "1:0:t2", "1:0:t3", "2:1:s1", "2:0:s2", "3:1:p1", "3:0:p2" };
    QTest::newRow("titles") << 1 << QStringList { "1:1:t1", "1:0:t2", "1:0:t3" };
    QTest::newRow("services") << 2 << QStringList { "2:1:s1", "2:0:s2" };
    QTest::newRow("programs") << 3 << QStringList { "3:1:p1", "3:0:p2" };
    QTest::newRow("reserved") << 4 << QStringList {};
    QTest::newRow("zero") << 0 << QStringList {};
}

void TestStorage::loadStringItemsByType()
{
    QFETCH(int, type);
    QFETCH(QStringList, expected);
    Fixture f;
    // Interleaved on purpose: within a type, rows come back in insertion order.
    // A state other than 0 or 1 (t3, s2) reads as off.
    QCOMPARE(f.sql.exec("INSERT INTO tb_string_items VALUES ('p1',3,1),('t1',1,1),('r1',4,1),('s1',2,1),"
                        "('t2',1,0),('z',0,1),('t3',1,2),('s2',2,-1),('p2',3,0);"),
        QString());
    QCOMPARE(texts(f.store.loadStringItems(type)), expected);
}

void TestStorage::savingOneTypeKeepsTheOthers()
{
    Fixture f;
    QVERIFY(f.store._saveIntStringItems(1, { item("^QQ$"), item("game", QtDoubleIntStringItem::Inactive) }));
    QVERIFY(f.store._saveIntStringItems(2, { item("old-service") }));
    QVERIFY(f.store._saveIntStringItems(3, { item("C:\\Windows\\agent.exe") }));

    // The items' own type is not what decides where they go; a null text
    // (a list row never typed into) is saved as an empty entry.
    QVERIFY(f.store._saveIntStringItems(2, { item("svc-a", 1, 3), item(QString(), 0, 1), item("svc-a", 1, 9) }));
    QCOMPARE(texts(f.store.loadStringItems(-1)),
        (QStringList { "1:1:^QQ$", "1:0:game", "2:1:svc-a", "2:0:", "2:1:svc-a", "3:1:C:\\Windows\\agent.exe" }));

    QVERIFY(f.store._saveIntStringItems(2, {}));
    QCOMPARE(f.store.loadStringItems(-1).size(), 3);
}

void TestStorage::failingSaveKeepsOldRows()
{
    Fixture f;
    QVERIFY(f.store.saveMachineList({ machine(1, "10.0.0.1", "pc1"), machine(2, "10.0.0.2", "pc2") }));
    QVERIFY(f.store.saveGroupList({ group("a", 1, { 1 }), group("b", 2, { 2 }) }));
    QVERIFY(f.store._saveIntStringItems(1, { item("t") }));
    QVERIFY(f.store._saveIntStringItems(2, { item("s1"), item("s2") }));
    QCOMPARE(f.sql.exec("CREATE TRIGGER refuse BEFORE INSERT ON tb_string_items WHEN NEW.str_val = 'bad' "
                        "BEGIN SELECT RAISE(ABORT,'refused'); END;"),
        QString());

    // The first row goes in, the second fails: the delete and that row must both be undone.
    QVERIFY(!f.store.saveMachineList({ machine(3, "x", "pc3"), machine(3, "y", "pc4") }));
    QVERIFY2(f.store.lastError().startsWith("INSERT INTO tb_machines failed.UNIQUE"), qPrintable(f.store.lastError()));
    QVERIFY(!f.store.saveGroupList({ group("c", 1), group("c", 2) }));
    QVERIFY2(f.store.lastError().startsWith("saveGroupList.UNIQUE"), qPrintable(f.store.lastError()));
    QVERIFY(!f.store._saveIntStringItems(2, { item("new"), item("bad") }));
    QVERIFY2(f.store.lastError().startsWith("_saveIntStringItems.refused"), qPrintable(f.store.lastError()));
    QCOMPARE(f.store.loadMachineList().keys(), (QList<quint64> { 1, 2 }));
    QCOMPARE(groupTexts(f.store.loadGroupList()), (QStringList { "a:1:0:1", "b:2:0:2" }));
    QCOMPARE(texts(f.store.loadStringItems(-1)), (QStringList { "1:1:t", "2:1:s1", "2:1:s2" }));

    // The connection is not left inside a transaction: the next save works and sticks.
    QVERIFY(f.store.saveMachineList({ machine(9, "10.0.0.9", "pc9") }));
    QVERIFY(f.store.saveGroupList({ group("z", 1) }));
    QVERIFY(f.store._saveIntStringItems(2, { item("s9") }));
    f.sql.db.close();
    QVERIFY(f.sql.db.open());
    QCOMPARE(f.sql.column("SELECT ullmac FROM tb_machines;"), QStringList { "9" });
    QCOMPARE(f.sql.column("SELECT group_name FROM tb_groups;"), QStringList { "z" });
    QCOMPARE(f.sql.column("SELECT str_val FROM tb_string_items ORDER BY item_type;"), (QStringList { "t", "s9" }));
}

void TestStorage::settingsWrittenExactly()
{
    const QList<GroupSettings> entries {
        entry(QStringLiteral("机房\"一\""), 2, true, false, { QStringLiteral("游戏"), QStringLiteral("QQ.*") }, {},
            { QStringLiteral("C:\\x.exe") }),
        entry(Ungrouped, 0, false, true, {}, { QStringLiteral("Spooler") }, {}),
    };
    const QByteArray expected
        = "groups=(\n"
          "\t{\n\t\tgroup-name=\"机房\\\"一\\\"\";\n\t\tlock-type=2;\n\t\tallowmanualip=1;\n\t\tallowusbdrv=0;\n"
          "\t\ttype-1=[\n\t\t\t\"游戏\",\n\t\t\t\"QQ.*\",\n\t\t];\n\t\ttype-2=[\n\n\t\t];\n"
          "\t\ttype-3=[\n\t\t\t\"C:\\\\x.exe\",\n\t\t];\n\t},\n"
          "\t{\n\t\tgroup-name=\"未分组\";\n\t\tlock-type=0;\n\t\tallowmanualip=0;\n\t\tallowusbdrv=1;\n"
          "\t\ttype-1=[\n\n\t\t];\n\t\ttype-2=[\n\t\t\t\"Spooler\",\n\t\t];\n\t\ttype-3=[\n\n\t\t];\n\t},\n"
          ");";
    QCOMPARE(GroupSettingsFile::toText(entries), expected);
    QByteArray crlf = expected;
    crlf.replace("\n", "\r\n");
    QCOMPARE(GroupSettingsFile::toText(entries, GroupSettingsFile::LineEnd::CrLf), crlf);
    QCOMPARE(GroupSettingsFile::toText({}), QByteArray("groups=(\n);"));
    // libconfig reads texts as C strings: a NUL would cut the rest of the file off.
    QVERIFY(GroupSettingsFile::toText({ entry(QString::fromLatin1("a\0b", 3)) }).contains("group-name=\"ab\";"));
}

void TestStorage::settingsRoundTrip_data()
{
    QTest::addColumn<QString>("text");
    QTest::newRow("path with \\n \\t \\r \\f \\x") << QStringLiteral("D:\\new\\tools\\run\\files\\x41.exe");
    QTest::newRow("unc path") << QStringLiteral("\\\\server\\share\\a.exe");
    QTest::newRow("ends in backslash") << QStringLiteral("C:\\dir\\");
    QTest::newRow("lone backslash") << QStringLiteral("\\");
    QTest::newRow("double quotes") << QStringLiteral("say \"hi\"");
    QTest::newRow("quote then comma bracket") << QStringLiteral("x\",)");
    QTest::newRow("tab and newline") << QStringLiteral("a\tb\nc\r\nd");
    QTest::newRow("include-like line") << QStringLiteral("x\n@include \"/nonexistent\"");
    QTest::newRow("empty text") << QString();
}

void TestStorage::settingsRoundTrip()
{
    QFETCH(QString, text);
    const QList<GroupSettings> entries {
        entry(text, 3, true, true, { text, QStringLiteral("after") }, { text }, { QStringLiteral("before"), text }),
        entry(Ungrouped, 1, false, false, { text }, {}, {}),
    };
    // Line breaks inside a text stay as they are in a CR LF file too.
    for (const auto lineEnd : { GroupSettingsFile::LineEnd::Lf, GroupSettingsFile::LineEnd::CrLf }) {
        QList<GroupSettings> back;
        QString error;
        QVERIFY2(
            GroupSettingsFile::parse(GroupSettingsFile::toText(entries, lineEnd), back, &error), qPrintable(error));
        QCOMPARE(back, entries);
    }
}

void TestStorage::normalize_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("comma between kept") << QByteArray("a=[1, 2];") << QByteArray("a=[1, 2];");
    QTest::newRow("hash comment between") << QByteArray("a=[1, # x ]\n];") << QByteArray("a=[1 # x ]\n];");
    QTest::newRow("line comment between") << QByteArray("a=[1, // ,]\n];") << QByteArray("a=[1 // ,]\n];");
    QTest::newRow("block comment between") << QByteArray("a=(1, /* ] */ );") << QByteArray("a=(1 /* ] */ );");
    QTest::newRow("comment then value keeps comma")
        << QByteArray("a=[1, /* ] */ 2];") << QByteArray("a=[1, /* ] */ 2];");
    QTest::newRow("comma bracket in string") << QByteArray("a=\"a,]\";") << QByteArray("a=\"a,]\";");
    QTest::newRow("escaped quote in string") << QByteArray("a=[\"x\\\",)\",];") << QByteArray("a=[\"x\\\",)\"];");
    QTest::newRow("backslash at end of text") << QByteArray("a=\"\\") << QByteArray("a=\"\\\\");
    QTest::newRow("quote in comment") << QByteArray("# \"\na=[1,];") << QByteArray("# \"\na=[1];");
    QTest::newRow("unterminated block comment") << QByteArray("a=1; /* ,)") << QByteArray("a=1; /* ,)");
    QTest::newRow("include commented out")
        << QByteArray("a=1;\n \t@include \"/dev/stdin\"\nb=2;") << QByteArray("a=1;\n \t#include \"/dev/stdin\"\nb=2;");
    QTest::newRow("include in string kept")
        << QByteArray("a=\"\n@include \\\"x\\\"\";") << QByteArray("a=\"\n@include \\\"x\\\"\";");
    QTest::newRow("not an include") << QByteArray("a=1; @include \"x\"\n@includes \"y\"")
                                    << QByteArray("a=1; @include \"x\"\n@includes \"y\"");
}

void TestStorage::normalize()
{
    QFETCH(QByteArray, input);
    QFETCH(QByteArray, expected);
    QCOMPARE(GroupSettingsFile::normalize(input), expected);
}

void TestStorage::settingsFiles_data()
{
    // Files written by hand, by older consoles or damaged: readable or not,
    // and every field of what is read.
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<bool>("readable");
    QTest::addColumn<QList<GroupSettings>>("expected");
    using Entries = QList<GroupSettings>;

    const GroupSettings good = entry(QStringLiteral("好"), 2, true, true, { QStringLiteral("t") });
    const QByteArray goodText = "{ group-name=\"好\"; lock-type=2; allowmanualip=1; allowusbdrv=1;"
                                " type-1=[\"t\"]; type-2=[]; type-3=[]; }";
    const QString a = QStringLiteral("a");
    const auto lock = [](const QByteArray& type) {
        return "groups=({ group-name=\"a\"; lock-type=" + type + "; allowmanualip=1; type-1=[\"游戏\",]; });";
    };
    const auto locked = [a](int type) { return Entries { entry(a, type, true, false, { QStringLiteral("游戏") }) }; };

    QTest::newRow("truncated inside an entry")
        << QByteArray("groups=(\n\t{\n\t\tgroup-name=\"未分组\";\n\t\tlock-type=2;") << false << Entries {};
    QTest::newRow("unterminated string") << QByteArray("groups=(\n{ group-name=\"a; }\n);") << false << Entries {};
    QTest::newRow("text ending in backslash, unescaped")
        << QByteArray("groups=(\n{ group-name=\"a\\\"; }\n);") << false << Entries {};
    QTest::newRow("nested 100000 deep") << QByteArray("groups=") + QByteArray(100000, '(') + QByteArray(100000, ')')
            + ";" << false << Entries {};
    QTest::newRow("two byte-order marks")
        << "\xEF\xBB\xBF\xEF\xBB\xBFgroups=(" + goodText + ");" << false << Entries {};
    QTest::newRow("trailing garbage") << "groups=(" + goodText + ");\n}}}" << false << Entries {};

    QTest::newRow("empty file") << QByteArray() << true << Entries {};
    QTest::newRow("groups missing") << QByteArray("other=(" + goodText + ");") << true << Entries {};
    QTest::newRow("groups is an array") << QByteArray("groups=[\"a\", \"b\"];") << true << Entries {};
    QTest::newRow("groups is a group") << QByteArray("groups={ x=" + goodText + "; };") << true << Entries {};
    QTest::newRow("entries that are not groups")
        << QByteArray("groups=(\"x\", 5, (1, 2), [1], " + goodText + ",);") << true << Entries { good };
    QTest::newRow("bad entry between good ones")
        << QByteArray("groups=(" + goodText + ", { lock-type=\"x\"; type-1=5; }, " + goodText + ");") << true
        << Entries { good, entry({}), good };
    QTest::newRow("same name twice") << QByteArray("groups=(" + goodText + ", { group-name=\"好\"; lock-type=1; });")
                                     << true << Entries { good, entry(QStringLiteral("好"), 1) };
    QTest::newRow("group-name missing") << fileWith("\t\tlock-type=3;") << true << Entries { entry({}, 3) };
    QTest::newRow("group-name not a string")
        << fileWith("group-name=7; lock-type=1;") << true << Entries { entry({}, 1) };
    QTest::newRow("ints missing") << fileWith("\t\tgroup-name=\"a\";") << true << Entries { entry(a) };
    // Only a plain 32-bit integer counts, and only 0 to 3 are lock types:
    // agents see the low 8 bits, so 258 would black out a room.
    QTest::newRow("lock type 3") << lock("3") << true << locked(3);
    QTest::newRow("lock type in hex") << lock("0x2") << true << locked(2);
    QTest::newRow("lock type 4") << lock("4") << true << locked(0);
    QTest::newRow("lock type 255") << lock("255") << true << locked(0);
    QTest::newRow("lock type 258") << lock("258") << true << locked(0);
    QTest::newRow("lock type -1") << lock("-1") << true << locked(0);
    QTest::newRow("boolean values") << fileWith(
        "group-name=\"a\"; lock-type=true; allowmanualip=true; allowusbdrv=true;")
                                    << true << Entries { entry(a) };
    QTest::newRow("float, 64-bit, quoted")
        << fileWith("group-name=\"a\"; lock-type=2.0; allowmanualip=1L; allowusbdrv=\"1\";") << true
        << Entries { entry(a) };
    QTest::newRow("64-bit, quoted, float")
        << fileWith("group-name=\"a\"; lock-type=2L; allowmanualip=\"1\"; allowusbdrv=1.0;") << true
        << Entries { entry(a) };
    QTest::newRow("flags other than 1") << fileWith("group-name=\"a\"; allowmanualip=2; allowusbdrv=-1;") << true
                                        << Entries { entry(a) };
    QTest::newRow("flags one by one") << fileWith("group-name=\"a\"; allowmanualip=0x1; allowusbdrv=0;") << true
                                      << Entries { entry(a, 0, true) };
    QTest::newRow("lists missing") << fileWith("group-name=\"a\"; type-2=[\"s\"];") << true
                                   << Entries { entry(a, 0, false, false, {}, { QStringLiteral("s") }) };
    QTest::newRow("list instead of array") << fileWith("group-name=\"a\"; type-1=(\"x\"); type-3=[\"p\"];") << true
                                           << Entries { entry(a, 0, false, false, {}, {}, { QStringLiteral("p") }) };
    QTest::newRow("group or scalar instead of array")
        << fileWith("group-name=\"a\"; type-1={ x=\"y\"; }; type-2=\"s\";") << true << Entries { entry(a) };
    QTest::newRow("non-string elements") << fileWith("group-name=\"a\"; type-1=[1, 2]; type-2=[true]; type-3=[\"p\"];")
                                         << true
                                         << Entries { entry(a, 0, false, false, {}, {}, { QStringLiteral("p") }) };
    QTest::newRow("unknown settings ignored")
        << fileWith("group-name=\"a\"; extra=(1, \"x\"); lock-type=1;") << true << Entries { entry(a, 1) };
    QTest::newRow("NUL inside the name") << QByteArray("groups=({ group-name=\"未") + '\0' + "分组\"; lock-type=2; });"
                                         << true << Entries { entry(Ungrouped, 2) };
    // An include that were followed would read this executable: a syntax error.
    QTest::newRow("include not followed") << QByteArray(
        "@include \"" + QFile::encodeName(QCoreApplication::applicationFilePath()) + "\"\ngroups=(" + goodText + ");")
                                          << true << Entries { good };

    const QByteArray unescaped
        = "groups=(\n\t{\n\t\tgroup-name=\"机房一\";\n\t\tlock-type=1;\n"
          "\t\tallowmanualip=1;\n\t\tallowusbdrv=0;\n"
          "\t\ttype-1=[\n\t\t\t\"^C:\\Windows\\.*\\.exe$\",\n\t\t];\n"
          "\t\ttype-2=[\n\n\t\t];\n"
          "\t\ttype-3=[\n\t\t\t\"C:\\Program Files\\x.exe\",\n\t\t\t\"C:\\tools\\new\\run.exe\",\n"
          "\t\t\t\"D:\\games\\\",\n" // ends in a backslash
          "\t\t];\n\t},\n);";
    const Entries unescapedEntries { entry(QStringLiteral("机房一"), 1, true, false,
        { QStringLiteral("^C:\\Windows\\.*\\.exe$") }, {},
        { QStringLiteral("C:\\Program Files\\x.exe"), QStringLiteral("C:\\tools\\new\\run.exe"),
            QStringLiteral("D:\\games\\") }) };
    QTest::newRow("older file: unescaped paths, trailing commas") << unescaped << true << unescapedEntries;
    QByteArray crlf = unescaped;
    crlf.replace("\n", "\r\n");
    QTest::newRow("older file: CR LF") << crlf << true << unescapedEntries;
    QTest::newRow("byte-order mark") << QByteArray("\xEF\xBB\xBF" + fileWith("\t\tgroup-name=\"未分组\";")) << true
                                     << Entries { entry(Ungrouped) };
}

void TestStorage::settingsFiles()
{
    QFETCH(QByteArray, text);
    QFETCH(bool, readable);
    QFETCH(QList<GroupSettings>, expected);
    QList<GroupSettings> back { entry(QStringLiteral("stale")) };
    QString error;
    QCOMPARE(GroupSettingsFile::parse(text, back, &error), readable);
    QCOMPARE(back, expected);
    if (!readable)
        QVERIFY2(error.startsWith(QLatin1String("line ")) && error.size() > 7, qPrintable(error));
}

void TestStorage::settingsFileOnDisk()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("config.conf"));
    const QList<GroupSettings> entries { entry(QStringLiteral("机房 \\ \"二\""), 3, true, false, {}, {},
                                             { QStringLiteral("C:\\a b\\c.exe") }),
        entry(Ungrouped) };
    QString error;
    QList<GroupSettings> back;
    for (const auto lineEnd : { GroupSettingsFile::LineEnd::CrLf, GroupSettingsFile::LineEnd::Lf }) {
        QVERIFY2(GroupSettingsFile::write(path, entries, &error, lineEnd), qPrintable(error));
        QCOMPARE(fileBytes(path), GroupSettingsFile::toText(entries, lineEnd));
        QVERIFY2(GroupSettingsFile::read(path, back, &error), qPrintable(error));
        QCOMPARE(back, entries);
    }
    QVERIFY(GroupSettingsFile::write(path, entries, &error));
    QCOMPARE(fileBytes(path), GroupSettingsFile::toText(entries, GroupSettingsFile::NativeLineEnd));

#ifndef Q_OS_WIN // an open handle blocks the rename on Windows
    // Replaced by rename, never in place: a reader of the old file keeps it
    // whole, and no temporary file is left behind.
    QFile held(path);
    QVERIFY(held.open(QIODevice::ReadOnly));
    QVERIFY(GroupSettingsFile::write(path, { entry(Ungrouped, 1) }, &error));
    QCOMPARE(held.readAll(), GroupSettingsFile::toText(entries, GroupSettingsFile::NativeLineEnd));
    QVERIFY(GroupSettingsFile::read(path, back, &error));
    QCOMPARE(back, QList<GroupSettings> { entry(Ungrouped, 1) });
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList { QStringLiteral("config.conf") });
#endif

    // Reading a missing file fails with the reason; an empty file has no entries.
    QVERIFY(!GroupSettingsFile::read(dir.filePath(QStringLiteral("none.conf")), back, &error));
    QVERIFY(back.isEmpty());
    QVERIFY2(error.startsWith(QLatin1String("readFile failed.: ")) && error.size() > 18, qPrintable(error));
    const QString empty = dir.filePath(QStringLiteral("empty.conf"));
    QVERIFY(QFile(empty).open(QIODevice::WriteOnly));
    QVERIFY(GroupSettingsFile::read(empty, back, &error));
    QVERIFY(back.isEmpty());

    // Writing over a directory fails and replaces nothing.
    const QString asDir = dir.filePath(QStringLiteral("sub"));
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("sub")));
    error.clear();
    QVERIFY(!GroupSettingsFile::write(asDir, entries, &error));
    QVERIFY(!error.isEmpty());
    QVERIFY(QFileInfo(asDir).isDir());
}

void TestStorage::settingsSession_data()
{
    QTest::addColumn<QByteArray>("text"); // "-": none; "/": a directory in its place
    QTest::addColumn<bool>("applied"); // entries to apply
    QTest::addColumn<bool>("told");
    QTest::addColumn<bool>("written"); // a later save replaces the file
    QTest::addColumn<bool>("setAside");

    QTest::newRow("none") << QByteArray("-") << false << false << true << false;
    QTest::newRow("good") << QByteArray("groups=({ group-name=\"A\"; lock-type=3; });") << true << false << true
                          << false;
    QTest::newRow("damaged") << QByteArray("groups=(\n{\n") << false << true << true << true;
    QTest::newRow("unreadable") << QByteArray("/") << false << true << false << false;
}

void TestStorage::settingsSession()
{
    QFETCH(QByteArray, text);
    QFETCH(bool, applied);
    QFETCH(bool, told);
    QFETCH(bool, written);
    QFETCH(bool, setAside);

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("config.conf"));
    if (text == "/")
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("config.conf")));
    else if (text != "-") {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(text) == text.size());
    }

    GroupSettingsSession session(path);
    GroupSettingsSession unread(path);
    QVERIFY(!unread.save({ GroupSettings {} })); // never before a read
    QList<GroupSettings> entries;
    QString notice;
    QCOMPARE(session.load(entries, &notice), applied);
    QCOMPARE(!notice.isEmpty(), told);
    QCOMPARE(session.readFailed(), text == "/");
    if (applied)
        QCOMPARE(entries.value(0).lock_type, 3);
    QCOMPARE(QDir(dir.path()).entryList({ QStringLiteral("config.conf.bad-*") }).size(), setAside ? 1 : 0);

    // Read once per run: a second load neither applies nor tells again.
    notice.clear();
    QVERIFY(!session.load(entries, &notice));
    QVERIFY(notice.isEmpty());

    GroupSettings saved;
    saved.group_name = QStringLiteral("B");
    QCOMPARE(session.save({ saved }), written);
    QList<GroupSettings> back;
    QCOMPARE(GroupSettingsFile::read(path, back) && back.value(0).group_name == QStringLiteral("B"), written);
}

void TestStorage::lessonModesRoundTrip()
{
    // Entries holding the characters a joined text would split or quote on.
    const QStringList odd { "a,b", "say \"hi\"", "[\"x\"]", "line\nbreak", "\\d+", QStringLiteral("游戏.*") };
    LessonMode exam;
    exam.name = QStringLiteral("考试模式");
    exam.lock_type = Rok_Lock_State::KeyboardMouseLock;
    exam.allowusbdrv = true;
    exam.setDisabled(1, odd);
    exam.setDisabled(3, { "b.exe", "a.exe", "a.exe" });
    LessonMode free;
    free.name = "free";
    free.allowmanualip = true;
    {
        Fixture f;
        LessonModeStore store;
        QVERIFY(store.open(f.sql.db));
        QVERIFY(store.put(exam) && store.put(free));
        free.lock_type = Rok_Lock_State::BlackQuiet;
        QVERIFY(store.put(free)); // replaces
        QVERIFY(!store.rename("free", exam.name)); // never over another mode
        QVERIFY(store.rename("free", "quiet"));
        QVERIFY(!store.rename("gone", "other"));
        QVERIFY(store.put(free) && store.remove("free"));
        // A row another program mangled reads as no entries.
        QCOMPARE(f.sql.exec("INSERT INTO tb_lesson_modes VALUES ('bad',0,0,0,'a,b','{}','');"), QString());

        LessonModeStore reopened;
        QVERIFY(reopened.open(f.sql.db));
        const QList<LessonMode> modes = reopened.load();
        QCOMPARE(modes.size(), 3);
        QCOMPARE(modes.at(0).name, QStringLiteral("bad"));
        for (int type = 1; type <= 3; ++type)
            QVERIFY(modes.at(0).disabled(type).isEmpty());
        QCOMPARE(modes.at(1).name, QStringLiteral("quiet"));
        QCOMPARE(modes.at(1).lock_type, int(Rok_Lock_State::BlackQuiet));
        QVERIFY(modes.at(1).allowmanualip && !modes.at(1).allowusbdrv);
        QCOMPARE(modes.at(2).name, exam.name);
        QVERIFY(modes.at(2).sameSettings(exam));
        QStringList sorted = odd;
        sorted.sort();
        QCOMPARE(modes.at(2).disabled(1), sorted);
        QCOMPARE(modes.at(2).disabled(3), (QStringList { "a.exe", "b.exe" }));
        // Against the central lists: what they no longer hold, per type.
        QCOMPARE(exam.missingEntries({ item("a.exe", 1, 3), item("b.exe", 1, 1), item("a,b", 0, 1) }),
            (QStringList { "[\"x\"]", "\\d+", "line\nbreak", "say \"hi\"", QStringLiteral("游戏.*"), "b.exe" }));
    }
    LessonModeStore unused;
    QVERIFY(!unused.open(QSqlDatabase()) && unused.load().isEmpty() && !unused.put(exam));
}

namespace {

QStringList policyEntries(const QList<PolicyListFile::Entry>& entries)
{
    QStringList out;
    for (const PolicyListFile::Entry& entry : entries)
        out << QStringLiteral("%1:%2 %3 [%4]").arg(entry.line).arg(entry.type).arg(entry.state).arg(entry.text);
    return out;
}

} // namespace

void TestStorage::policyListFile_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QStringList>("entries"); // line:type state [text]
    QTest::addColumn<QStringList>("refused");

    QTest::newRow("as exported") << QByteArray("\xEF\xBB\xBF# note\r\n[禁止的窗口标题]\r\n激活\t.*游戏.*\r\n\r\n"
                                               "[守护的服务]\r\n[守护的程序]\r\n停用\tC:\\a b.exe\r\n")
                                 << QStringList { "3:1 1 [.*游戏.*]", "7:3 0 [C:\\a b.exe]" } << QStringList();
    QTest::newRow("by hand: spaces, LF, no mark")
        << QByteArray("  [ 守护的服务 ]\n  停用   Spooler \n激活\t  #x\n")
        << QStringList { "2:2 0 [Spooler ]", "3:2 1 [  #x]" } << QStringList();
    QTest::newRow("lines that are no entry")
        << QByteArray("激活\tbefore\n[守护的进程]\n激活\tunder it\n[守护的服务]\n开启\ta\n激活a\n激活\n停用\t \n"
                      "激活\tSpooler\n停用\tSpooler\n激活\tspooler\n")
        << QStringList { "9:2 1 [Spooler]", "11:2 1 [spooler]" }
        << QStringList { "第 1 行：条目不在任何列表之下", "第 2 行：没有名为“守护的进程”的列表",
               "第 3 行：条目属于未知的列表“守护的进程”", "第 5 行：状态须为“激活”或“停用”",
               "第 6 行：状态须为“激活”或“停用”", "第 7 行：缺少条目文字", "第 8 行：缺少条目文字",
               "第 10 行：“Spooler”在“守护的服务”中重复" };
    // "[守护的服务]\n激活\t游戏" saved in the local code page (GBK).
    QTest::newRow("not UTF-8") << QByteArray("[\xca\xd8\xbb\xa4\xb5\xc4\xb7\xfe\xce\xf1]\n\xbc\xa4\xbb\xee\t\xd3\xce\xcf\xb7\n")
                               << QStringList() << QStringList { "文件不是 UTF-8 编码，未读取（请以 UTF-8 保存）" };
}

void TestStorage::policyListFile()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QStringList, entries);
    QFETCH(QStringList, refused);
    QStringList told;
    QCOMPARE(policyEntries(PolicyListFile::decode(bytes, &told)), entries);
    QCOMPARE(told, refused);
}

void TestStorage::policyListRoundTrip()
{
    auto item = [](int type, int state, const QString& text) {
        auto entry = std::make_shared<QtDoubleIntStringItem>();
        entry->item_type = type;
        entry->item_state = state;
        entry->str_val = text;
        return entry;
    };
    const StringItemList items { item(3, 1, QStringLiteral("C:\\程序\\a.exe")), item(1, 0, QStringLiteral(" [x]\t# ")),
        item(2, 1, QStringLiteral("激活")), item(1, 1, QStringLiteral("a\r\nb")), item(4, 1, QStringLiteral("other")) };
    const QByteArray bytes = PolicyListFile::encode(items);
    QVERIFY(bytes.startsWith("\xEF\xBB\xBF") && bytes.endsWith("\r\n") && !bytes.contains("\n\n"));
    QStringList told;
    // Sections in list order; a line break cannot stay in a line; type 4 is no list.
    QCOMPARE(policyEntries(PolicyListFile::decode(bytes, &told)),
        (QStringList { "4:1 0 [ [x]\t# ]", "5:1 1 [ab]", "7:2 1 [激活]", "9:3 1 [C:\\程序\\a.exe]" }));
    QCOMPARE(told, QStringList());

    QTemporaryDir dir;
    QString error;
    QVERIFY(PolicyListFile::write(dir.filePath(QStringLiteral("p.txt")), items, &error));
    QVERIFY(!PolicyListFile::write(dir.filePath(QStringLiteral("none/p.txt")), items, &error));
    QVERIFY(!error.isEmpty());
}

QTEST_GUILESS_MAIN(TestStorage)
#include "tst_storage.moc"
