#include "QDataHelper.h"
#include "TestConnection.h"

#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>

namespace {

// A fresh SQLite file, a store on it, and the same connection for the
// test's own statements.
struct Fixture
{
    Fixture() { store.setDatabase(sql.db); }

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

QStringList groupNames(const QList<CStudentGroup_PTR>& groups)
{
    QStringList out;
    for (const auto& g : groups)
        out << g->group_name;
    return out;
}

} // namespace

class TestDataHelper : public QObject
{
    Q_OBJECT

private slots:
    void initTablesCreatesTablesOnce();
    void initTablesReportsFailures();
    void createTableRejectsEmptyInput();

    void machinesRoundTrip();
    void groupsRoundTrip();
    void sharedDisplayOrderKeepsBoth();
    void globalFlagReadsOnlyOne_data();
    void globalFlagReadsOnlyOne();
    void removeGroupTouchesOnlyItsRow_data();
    void removeGroupTouchesOnlyItsRow();

    void loadStringItemsByType_data();
    void loadStringItemsByType();
    void savingOneTypeKeepsTheOthers();

    void failingSaveKeepsOldRows_data();
    void failingSaveKeepsOldRows();
    void failingReadsAreReported();
};

void TestDataHelper::initTablesCreatesTablesOnce()
{
    Fixture f;
    QVERIFY(f.store.initTables());
    QCOMPARE(f.store.lastError(), QString());
    QStringList tables = f.sql.db.tables();
    std::sort(tables.begin(), tables.end());
    QCOMPARE(tables, (QStringList { "tb_groups", "tb_machines", "tb_string_items" }));

    QCOMPARE(f.sql.exec("INSERT INTO tb_machines VALUES (7,'10.0.0.7','pc7');"), QString());
    QVERIFY(f.store.initTables());
    QCOMPARE(f.sql.column("SELECT hostname FROM tb_machines;"), QStringList { "pc7" });
    // Defaults come from the column definitions.
    QCOMPARE(f.sql.exec("INSERT INTO tb_groups (group_name) VALUES ('g');"), QString());
    QCOMPARE(f.sql.column("SELECT display_order || ',' || is_global FROM tb_groups;"), QStringList { "1,0" });
    QCOMPARE(f.sql.exec("INSERT INTO tb_string_items (str_val,item_type) VALUES ('x',1);"), QString());
    QCOMPARE(f.sql.column("SELECT item_state FROM tb_string_items;"), QStringList { "1" });
}

void TestDataHelper::initTablesReportsFailures()
{
    QDataHelper unset;
    QVERIFY(!unset.initTables());
    QCOMPARE(unset.lastError(), QStringLiteral("db is invalid."));

    // A directory cannot be opened as a database file.
    Fixture f;
    f.sql.db.close();
    f.sql.db.setDatabaseName(f.dir.path());
    f.store.setDatabase(f.sql.db);
    QVERIFY(!f.store.initTables());
    QVERIFY2(f.store.lastError().startsWith(QStringLiteral("db open failed.")), qPrintable(f.store.lastError()));
    QVERIFY(f.store.lastError().size() > QStringLiteral("db open failed.").size());

    // A file that is not a database opens but refuses the tables.
    const QString junk = f.dir.filePath(QStringLiteral("junk.sqlite3"));
    QFile file(junk);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(QByteArray("this is not a database, just some text bytes padded out to a page").repeated(40));
    file.close();
    f.sql.db.setDatabaseName(junk);
    f.store.setDatabase(f.sql.db);
    QVERIFY(!f.store.initTables());
    QVERIFY2(f.store.lastError().startsWith(QStringLiteral("create table failed.")), qPrintable(f.store.lastError()));

    // initTables starts from a clean slate.
    f.sql.db.close();
    f.sql.db.setDatabaseName(f.dir.filePath(QStringLiteral("good.sqlite3")));
    f.store.setDatabase(f.sql.db);
    QVERIFY(f.store.initTables());
    QCOMPARE(f.store.lastError(), QString());
}

void TestDataHelper::createTableRejectsEmptyInput()
{
    Fixture f;
    QVERIFY(!f.store.createTable({}, QStringLiteral("t")));
    QCOMPARE(f.store.lastError(), QStringLiteral("field list is empty or tablename is empty."));
    f.store.setLastError(QString());
    QVERIFY(!f.store.createTable({ QStringLiteral("a int") }, QString()));
    QCOMPARE(f.store.lastError(), QStringLiteral("field list is empty or tablename is empty."));

    QVERIFY(!f.store.createTable({ QStringLiteral("a nonsense nonsense (") }, QStringLiteral("t")));
    QVERIFY(f.store.lastError().startsWith(QStringLiteral("create table failed.")));

    QVERIFY(f.store.createTable({ QStringLiteral("a int"), QStringLiteral("b text") }, QStringLiteral("t")));
    QCOMPARE(
        f.sql.column("SELECT sql FROM sqlite_master WHERE name='t';"), QStringList { "CREATE TABLE t(a int,b text)" });
}

void TestDataHelper::machinesRoundTrip()
{
    Fixture f;
    QVERIFY(f.store.initTables());
    const quint64 big = Q_UINT64_C(0xA1B2C3D4E5F6);
    QVERIFY(f.store.saveMachineList({ machine(big, "192.168.1.20", QStringLiteral("机房-01")),
        machine(1, QString(), QStringLiteral("pc1")), machine(0x33, "10.0.0.3", QString()) }));
    const QMap<quint64, Machine_PTR> loaded = f.store.loadMachineList();
    QCOMPARE(loaded.keys(), (QList<quint64> { 1, 0x33, big }));
    QCOMPARE(loaded[big]->ullmac, big);
    QCOMPARE(loaded[big]->ip, QStringLiteral("192.168.1.20"));
    QCOMPARE(loaded[big]->hostname, QStringLiteral("机房-01"));
    QCOMPARE(loaded[1]->ip, QString());
    QCOMPARE(loaded[0x33]->hostname, QString());
    QCOMPARE(f.sql.column("SELECT typeof(ullmac) FROM tb_machines WHERE ullmac=1;"), QStringList { "integer" });

    // Keys with the top bit set (anything a datagram may carry) come back
    // exactly and do not collide with each other.
    const quint64 high1 = Q_UINT64_C(0xFFFF000000000002);
    const quint64 high2 = Q_UINT64_C(0xFFFF000000000003);
    QVERIFY(f.store.saveMachineList({ machine(high1, "a", "h1"), machine(high2, "b", "h2"), machine(1, "c", "pc1") }));
    const auto highs = f.store.loadMachineList();
    QCOMPARE(highs.keys(), (QList<quint64> { 1, high1, high2 }));
    QCOMPARE(highs[high2]->hostname, QStringLiteral("h2"));

    // A save replaces the whole table.
    QVERIFY(f.store.saveMachineList({ machine(0x33, "10.0.0.4", "pc3") }));
    const auto replaced = f.store.loadMachineList();
    QCOMPARE(replaced.keys(), QList<quint64> { 0x33 });
    QCOMPARE(replaced[0x33]->ip, QStringLiteral("10.0.0.4"));
    // An empty list empties it, and reading nothing is no failure.
    QVERIFY(f.store.saveMachineList({}));
    QCOMPARE(f.sql.column("SELECT count(*) FROM tb_machines;"), QStringList { "0" });
    bool ok = false;
    QVERIFY(f.store.loadMachineList(&ok).isEmpty());
    QVERIFY(ok);
}

void TestDataHelper::groupsRoundTrip()
{
    Fixture f;
    QVERIFY(f.store.initTables());
    QVERIFY(f.store.saveGroupList(
        { group(QStringLiteral("三班"), 3, { 10, 11, 12 }), group("first", 1, { 7 }), group("global", 2, {}, true) }));

    const auto loaded = f.store.loadGroupList();
    QCOMPARE(groupNames(loaded), (QStringList { "first", "global", QStringLiteral("三班") }));
    QCOMPARE(loaded[0]->display_order, 1);
    QCOMPARE(loaded[0]->ullmac_list, QSet<quint64> { 7 });
    QVERIFY(!loaded[0]->is_global);
    QVERIFY(loaded[1]->is_global);
    QCOMPARE(loaded[2]->ullmac_list, (QSet<quint64> { 10, 11, 12 }));
    QCOMPARE(loaded[2]->display_order, 3);
    QVERIFY(loaded[1]->ullmac_list.isEmpty());
    QCOMPARE(f.sql.column("SELECT ullmac_list FROM tb_groups WHERE group_name='global';"), QStringList { "" });

    QVERIFY(f.store.saveGroupList({ group("only", 9) }));
    QCOMPARE(groupNames(f.store.loadGroupList()), QStringList { "only" });
    QVERIFY(f.store.saveGroupList({}));
    QVERIFY(f.store.loadGroupList().isEmpty());
}

void TestDataHelper::sharedDisplayOrderKeepsBoth()
{
    Fixture f;
    QVERIFY(f.store.initTables());
    QCOMPARE(f.sql.exec("INSERT INTO tb_groups VALUES ('late',5,'1',0),('b',2,'',0),('a',2,'3,4',0),"
                        "('first',0,NULL,0);"),
        QString());
    const auto loaded = f.store.loadGroupList();
    QCOMPARE(loaded.size(), 4);
    QCOMPARE(loaded.first()->group_name, QStringLiteral("first"));
    QVERIFY(loaded.first()->ullmac_list.isEmpty());
    QCOMPARE(loaded.last()->group_name, QStringLiteral("late"));
    QStringList middle { loaded[1]->group_name, loaded[2]->group_name };
    std::sort(middle.begin(), middle.end());
    QCOMPARE(middle, (QStringList { "a", "b" }));
}

void TestDataHelper::globalFlagReadsOnlyOne_data()
{
    QTest::addColumn<QString>("stored");
    QTest::addColumn<bool>("global");
    QTest::newRow("one") << "1" << true;
    QTest::newRow("zero") << "0" << false;
    QTest::newRow("two") << "2" << false;
    QTest::newRow("null") << "NULL" << false;
    QTest::newRow("text one") << "'1'" << true;
}

void TestDataHelper::globalFlagReadsOnlyOne()
{
    QFETCH(QString, stored);
    QFETCH(bool, global);
    Fixture f;
    QVERIFY(f.store.initTables());
    QCOMPARE(f.sql.exec(QStringLiteral("INSERT INTO tb_groups VALUES ('g',1,'',%1);").arg(stored)), QString());
    const auto loaded = f.store.loadGroupList();
    QCOMPARE(loaded.size(), 1);
    QCOMPARE(loaded[0]->is_global, global);
}

void TestDataHelper::removeGroupTouchesOnlyItsRow_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("apostrophe") << "O'Brien";
    QTest::newRow("only apostrophes") << "''";
    QTest::newRow("injection") << "x' OR '1'='1";
    QTest::newRow("statement break") << "a'; DELETE FROM tb_groups; --";
    QTest::newRow("chinese") << QStringLiteral("三班");
}

void TestDataHelper::removeGroupTouchesOnlyItsRow()
{
    QFETCH(QString, name);
    Fixture f;
    QVERIFY(f.store.initTables());
    QVERIFY(f.store.saveGroupList(
        { group("O", 1, { 1 }), group(name, 2, { 2 }), group("x", 3, { 3 }), group("a", 4), group("Brien", 5) }));

    QVERIFY(f.store.removeGroup(name));
    QStringList left = groupNames(f.store.loadGroupList());
    QCOMPARE(left, (QStringList { "O", "x", "a", "Brien" }));

    // Removing a name that matches nothing still succeeds.
    QVERIFY(f.store.removeGroup(name));
    QCOMPARE(groupNames(f.store.loadGroupList()).size(), 4);
}

void TestDataHelper::loadStringItemsByType_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("all") << -1 << QStringList { "1:1:t1", "1:0:t2", "1:0:t3", "2:1:s1", "2:0:s2", "3:1:p1", "3:0:p2" };
    QTest::newRow("titles") << 1 << QStringList { "1:1:t1", "1:0:t2", "1:0:t3" };
    QTest::newRow("services") << 2 << QStringList { "2:1:s1", "2:0:s2" };
    QTest::newRow("programs") << 3 << QStringList { "3:1:p1", "3:0:p2" };
    QTest::newRow("reserved") << 4 << QStringList {};
    QTest::newRow("zero") << 0 << QStringList {};
    QTest::newRow("minus two") << -2 << QStringList {};
    QTest::newRow("five") << 5 << QStringList {};
}

void TestDataHelper::loadStringItemsByType()
{
    QFETCH(int, type);
    QFETCH(QStringList, expected);
    Fixture f;
    QVERIFY(f.store.initTables());
    // Interleaved on purpose: within a type, rows come back in insertion order.
    // A state other than 0 or 1 (t3, s2) reads as off.
    QCOMPARE(f.sql.exec("INSERT INTO tb_string_items VALUES ('p1',3,1),('t1',1,1),('r1',4,1),('s1',2,1),"
                        "('t2',1,0),('z',0,1),('t3',1,2),('s2',2,-1),('p2',3,0);"),
        QString());
    QCOMPARE(texts(f.store.loadStringItems(type)), expected);
}

void TestDataHelper::savingOneTypeKeepsTheOthers()
{
    Fixture f;
    QVERIFY(f.store.initTables());
    QVERIFY(f.store._saveIntStringItems(1, { item("^QQ$"), item("game", QtDoubleIntStringItem::Inactive) }));
    QVERIFY(f.store._saveIntStringItems(2, { item("old-service") }));
    QVERIFY(f.store._saveIntStringItems(3, { item("C:\\Windows\\agent.exe") }));

    // The items' own type is not what decides where they go.
    QVERIFY(f.store._saveIntStringItems(2, { item("svc-a", 1, 3), item("", 0, 1), item("svc-a", 1, 9) }));
    QCOMPARE(texts(f.store.loadStringItems(-1)),
        (QStringList { "1:1:^QQ$", "1:0:game", "2:1:svc-a", "2:0:", "2:1:svc-a", "3:1:C:\\Windows\\agent.exe" }));

    QVERIFY(f.store._saveIntStringItems(2, {}));
    QCOMPARE(f.store.loadStringItems(2).size(), 0);
    QCOMPARE(f.store.loadStringItems(-1).size(), 3);

    QVERIFY(f.store._saveIntStringItems(4, { item("reserved") }));
    QCOMPARE(f.sql.column("SELECT str_val FROM tb_string_items WHERE item_type=4;"), QStringList { "reserved" });
    QCOMPARE(f.store.loadStringItems(-1).size(), 3);
}

void TestDataHelper::failingSaveKeepsOldRows_data()
{
    QTest::addColumn<QString>("table");
    QTest::addColumn<QString>("trigger");
    QTest::addColumn<QString>("errorPrefix");
    QTest::newRow("machines: duplicate key") << "machines"
                                             << ""
                                             << "INSERT INTO tb_machines failed.";
    QTest::newRow("machines: trigger") << "machines"
                                       << "CREATE TRIGGER no_pc BEFORE INSERT ON tb_machines WHEN NEW.hostname='bad' "
                                          "BEGIN SELECT RAISE(ABORT,'refused'); END;"
                                       << "INSERT INTO tb_machines failed.";
    QTest::newRow("groups: duplicate name") << "groups"
                                            << ""
                                            << "saveGroupList.";
    QTest::newRow("groups: delete refused") << "groups"
                                            << "CREATE TRIGGER keep BEFORE DELETE ON tb_groups "
                                               "BEGIN SELECT RAISE(ABORT,'refused'); END;"
                                            << "saveGroupList .";
    QTest::newRow("items: insert refused") << "items"
                                           << "CREATE TRIGGER refuse BEFORE INSERT ON tb_string_items "
                                              "WHEN NEW.str_val = 'bad' BEGIN SELECT RAISE(ABORT,'refused'); END;"
                                           << "_saveIntStringItems.";
}

void TestDataHelper::failingSaveKeepsOldRows()
{
    QFETCH(QString, table);
    QFETCH(QString, trigger);
    QFETCH(QString, errorPrefix);
    Fixture f;
    QVERIFY(f.store.initTables());
    QVERIFY(f.store.saveMachineList({ machine(1, "10.0.0.1", "pc1"), machine(2, "10.0.0.2", "pc2") }));
    QVERIFY(f.store.saveGroupList({ group("a", 1, { 1 }), group("b", 2, { 2 }) }));
    QVERIFY(f.store._saveIntStringItems(1, { item("t") }));
    QVERIFY(f.store._saveIntStringItems(2, { item("s1"), item("s2") }));
    if (!trigger.isEmpty())
        QCOMPARE(f.sql.exec(trigger), QString());

    if (table == "machines") {
        // The first row goes in, the second fails: the delete and that row must both be undone.
        const quint64 second = trigger.isEmpty() ? 3 : 4;
        QVERIFY(!f.store.saveMachineList({ machine(3, "x", "pc3"), machine(second, "y", "bad") }));
    } else if (table == "groups") {
        QVERIFY(!f.store.saveGroupList({ group("c", 1), group("c", 2) }));
    } else {
        QVERIFY(!f.store._saveIntStringItems(2, { item("new"), item("bad") }));
    }
    QVERIFY2(f.store.lastError().startsWith(errorPrefix), qPrintable(f.store.lastError()));
    QVERIFY(f.store.lastError().size() > errorPrefix.size());

    QCOMPARE(f.store.loadMachineList().keys(), (QList<quint64> { 1, 2 }));
    QCOMPARE(groupNames(f.store.loadGroupList()), (QStringList { "a", "b" }));
    QCOMPARE(texts(f.store.loadStringItems(-1)), (QStringList { "1:1:t", "2:1:s1", "2:1:s2" }));

    // The connection is not left inside a transaction: the next save works and sticks.
    if (!trigger.isEmpty())
        QCOMPARE(f.sql.exec("DROP TRIGGER " + trigger.section(' ', 2, 2) + ";"), QString());
    QVERIFY(f.store.saveMachineList({ machine(9, "10.0.0.9", "pc9") }));
    QVERIFY(f.store.saveGroupList({ group("z", 1) }));
    QVERIFY(f.store._saveIntStringItems(2, { item("s9") }));
    f.sql.db.close();
    QVERIFY(f.sql.db.open());
    QCOMPARE(f.sql.column("SELECT ullmac FROM tb_machines;"), QStringList { "9" });
    QCOMPARE(f.sql.column("SELECT group_name FROM tb_groups;"), QStringList { "z" });
    QCOMPARE(f.sql.column("SELECT str_val FROM tb_string_items ORDER BY item_type;"), (QStringList { "t", "s9" }));
}

void TestDataHelper::failingReadsAreReported()
{
    Fixture f;
    // Tables of another shape: CREATE TABLE IF NOT EXISTS leaves them alone.
    QCOMPARE(f.sql.exec("CREATE TABLE tb_machines(x int);"), QString());
    QCOMPARE(f.sql.exec("CREATE TABLE tb_groups(y int);"), QString());
    QCOMPARE(f.sql.exec("INSERT INTO tb_machines VALUES (1);"), QString());
    QVERIFY(f.store.initTables());

    bool ok = true;
    QVERIFY(f.store.loadMachineList(&ok).isEmpty());
    QVERIFY(!ok);
    QVERIFY(f.store.lastError().startsWith(QStringLiteral("loadMachineList.")));
    ok = true;
    QVERIFY(f.store.loadGroupList(&ok).isEmpty());
    QVERIFY(!ok);
    QVERIFY(f.store.lastError().startsWith(QStringLiteral("loadGroupList.")));

    QVERIFY(!f.store.saveMachineList({ machine(1, "a", "b") }));
    QVERIFY(f.store.lastError().startsWith(QStringLiteral("INSERT INTO tb_machines failed.")));
    QVERIFY(f.store.lastError().size() > QStringLiteral("INSERT INTO tb_machines failed.").size());
    QCOMPARE(f.sql.column("SELECT x FROM tb_machines;"), QStringList { "1" });

    QCOMPARE(f.sql.exec("DROP TABLE tb_groups;"), QString());
    QVERIFY(!f.store.removeGroup(QStringLiteral("g")));
    QVERIFY(f.store.lastError().startsWith(QStringLiteral("removeGroup.")));
}

QTEST_GUILESS_MAIN(TestDataHelper)
#include "tst_datahelper.moc"
