#include "../storage/TestConnection.h"
#include "QStudentManage.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <future>
#include <memory>
#include <thread>

namespace {

QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

QList<quint64> macsOf(const QList<CStuInfo_PTR>& records)
{
    QList<quint64> macs;
    for (const auto& r : records)
        macs << r->ullmac;
    return macs;
}

QList<quint64> sortedMembers(const CStudentGroup_PTR& group)
{
    QList<quint64> macs = group->ullmac_list.values();
    std::sort(macs.begin(), macs.end());
    return macs;
}

CStudentGroup_PTR groupNamed(QStudentManage& registry, const QString& name)
{
    for (const auto& g : registry.sortedGroups()) {
        if (g->group_name == name)
            return g;
    }
    return nullptr;
}

// A MAC in at most one member set; a machine's group_name names the group
// that holds it, or is empty.
bool invariantsHold(QStudentManage& registry)
{
    QHash<quint64, QString> owner;
    for (const auto& g : registry.sortedGroups()) {
        for (quint64 mac : g->ullmac_list) {
            if (owner.contains(mac)) {
                qWarning() << mac << "in" << owner[mac] << "and" << g->group_name;
                return false;
            }
            owner.insert(mac, g->group_name);
        }
    }
    const auto all = registry.allMachines();
    for (const auto& m : all) {
        if (!m->group_name.isEmpty() && owner.value(m->ullmac) != m->group_name) {
            qWarning() << m->ullmac << "says" << m->group_name << "held by" << owner.value(m->ullmac);
            return false;
        }
    }
    return true;
}

// Collects the off-line batches on the test's thread.
struct BatchLog
{
    explicit BatchLog(QStudentManage& registry)
    {
        timer.start();
        QObject::connect(
            &registry, &QStudentManage::sg_state_changed_machines, &context, [this](const QList<CStuInfo_PTR>& batch) {
                batches << batch;
                arrivals << timer.elapsed();
            });
    }
    QObject context;
    QElapsedTimer timer;
    QList<QList<CStuInfo_PTR>> batches;
    QList<qint64> arrivals;
};

} // namespace

class TestRegistry : public QObject
{
    Q_OBJECT

private slots:
    void updateAndFindMachines();
    void snapshots();
    void addGroupTwice();
    void moveBetweenGroups();
    void moveIntoMissingGroupChangesNothing();
    void refusedArguments();
    void removeGroupUngroupsMembers();
    void removeMachine();
    void removeMachineFromGroup();
    void groupOrder();

    void persistsAcrossInstances();
    void saveAllAnyTime();
    void globalGroupsDroppedAndForgotten();
    void removeGroupWritesAtOnce();
    void writtenOnceNoLongerHeld();
    void saveStringItemsTypes();
    void unusableDatabaseIsNeverWritten_data();
    void unusableDatabaseIsNeverWritten();

    void offlineBatch();
    void destroyWhileWorkerPauses();
};

void TestRegistry::updateAndFindMachines()
{
    QStudentManage registry;
    QCOMPARE(registry.findMachine(5), CStuInfo_PTR());

    const CStuInfo_PTR off = registry.updateMachine(5, "pc5", "10.0.0.5", false);
    QVERIFY(off);
    QCOMPARE(off->ullmac, quint64(5));
    QCOMPARE(off->hostname, QStringLiteral("pc5"));
    QCOMPARE(off->ip, QStringLiteral("10.0.0.5"));
    QVERIFY(!off->online);
    QVERIFY(off->group_name.isEmpty());

    const CStuInfo_PTR on = registry.updateMachine(6, QString(), "10.0.0.6", true);
    QVERIFY(on->online);
    QCOMPARE(on->missed_ticks.load(), 0u);

    // An existing record is updated in place, never replaced.
    off->missed_ticks = 7;
    const CStuInfo_PTR again = registry.updateMachine(5, QStringLiteral("机房五"), "10.0.0.55", true);
    QCOMPARE(again.get(), off.get());
    QCOMPARE(off->hostname, QStringLiteral("机房五"));
    QCOMPARE(off->ip, QStringLiteral("10.0.0.55"));
    QVERIFY(off->online);
    QCOMPARE(off->missed_ticks.load(), 0u);
    QCOMPARE(registry.findMachine(5).get(), off.get());

    // A new name or address leaves the on-line state to the datagrams.
    on->online = false;
    off->missed_ticks = 9;
    QVERIFY(registry.renameMachine(6, QStringLiteral("pc6"), "10.0.0.66"));
    QVERIFY(registry.renameMachine(5, QStringLiteral("pc5"), "10.0.0.5"));
    QVERIFY(!registry.renameMachine(7, QStringLiteral("pc7"), "10.0.0.7"));
    QCOMPARE(on->hostname, QStringLiteral("pc6"));
    QCOMPARE(off->ip, QStringLiteral("10.0.0.5"));
    QVERIFY(!on->online);
    QCOMPARE(off->missed_ticks.load(), 9u);
}

void TestRegistry::snapshots()
{
    QStudentManage registry;
    for (quint64 mac : { 30, 10, 20, 40 })
        registry.updateMachine(mac, "pc", "ip", false);
    QVERIFY(registry.addGroup("g", 1));
    QVERIFY(registry.moveMachineToGroup("g", 20));

    const auto all = registry.allMachines();
    QCOMPARE(all.keys(), (QList<quint64> { 10, 20, 30, 40 }));
    QCOMPARE(registry.ungroupedMachines().keys(), (QList<quint64> { 10, 30, 40 }));
    QCOMPARE(macsOf(registry.machinesByMac({ 40, 99, 10, 20 })), (QList<quint64> { 40, 10, 20 }));

    // A snapshot is not disturbed by later changes.
    registry.removeMachine(10);
    QCOMPARE(all.size(), 4);
    QCOMPARE(registry.allMachines().size(), 3);
}

void TestRegistry::addGroupTwice()
{
    QStudentManage registry;
    QVERIFY(registry.addGroup(QStringLiteral("一班"), 3));
    QVERIFY(!registry.addGroup(QStringLiteral("一班"), 4));
    QVERIFY(!registry.addGroup(QString(), 1));
    QCOMPARE(registry.groupNames(), QStringList { QStringLiteral("一班") });
    const auto group = groupNamed(registry, QStringLiteral("一班"));
    QCOMPARE(group->display_order, 3);
    QVERIFY(group->ullmac_list.isEmpty());
    QVERIFY(!group->is_global);
}

void TestRegistry::moveBetweenGroups()
{
    QStudentManage registry;
    const auto rec = registry.updateMachine(7, "pc7", "ip", true);
    QVERIFY(registry.addGroup("A", 1));
    QVERIFY(registry.addGroup("B", 2));

    QVERIFY(registry.moveMachineToGroup("B", 7));
    QCOMPARE(rec->group_name, QStringLiteral("B"));
    QCOMPARE(registry.groupNameOfMachine(7), QStringLiteral("B"));
    QVERIFY(invariantsHold(registry));

    // Into the group it is in, twice: still one member.
    QVERIFY(registry.moveMachineToGroup("A", 7));
    QVERIFY(registry.moveMachineToGroup("A", 7));
    QCOMPARE(rec->group_name, QStringLiteral("A"));
    QCOMPARE(sortedMembers(groupNamed(registry, "A")), QList<quint64> { 7 });
    QVERIFY(groupNamed(registry, "B")->ullmac_list.isEmpty());
    QCOMPARE(registry.groupNameOfMachine(7), QStringLiteral("A"));
    QVERIFY(registry.ungroupedMachines().isEmpty());
    QVERIFY(invariantsHold(registry));

    // A MAC the registry does not know is still kept as a member.
    QVERIFY(registry.moveMachineToGroup("B", 99));
    QCOMPARE(sortedMembers(groupNamed(registry, "B")), QList<quint64> { 99 });
    QVERIFY(invariantsHold(registry));
}

void TestRegistry::moveIntoMissingGroupChangesNothing()
{
    QStudentManage registry;
    const auto rec = registry.updateMachine(7, "pc7", "ip", true);
    QVERIFY(registry.addGroup("A", 1));
    QVERIFY(registry.moveMachineToGroup("A", 7));

    QVERIFY(!registry.moveMachineToGroup("missing", 7));
    QCOMPARE(rec->group_name, QStringLiteral("A"));
    QCOMPARE(sortedMembers(groupNamed(registry, "A")), QList<quint64> { 7 });
    QCOMPARE(registry.groupNames(), QStringList { "A" });
    QVERIFY(invariantsHold(registry));

    const auto loose = registry.updateMachine(8, "pc8", "ip", true);
    QVERIFY(!registry.moveMachineToGroup("missing", 8));
    QVERIFY(loose->group_name.isEmpty());
    QVERIFY(registry.ungroupedMachines().contains(8));

    // A group may hold a MAC no record has yet; when that machine first
    // appears, its record is already a member.
    QVERIFY(registry.moveMachineToGroup("A", 9));
    const auto late = registry.updateMachine(9, "pc9", "ip", true);
    QCOMPARE(late->group_name, QStringLiteral("A"));
    QVERIFY(!registry.ungroupedMachines().contains(9));
    QVERIFY(invariantsHold(registry));
}

void TestRegistry::refusedArguments()
{
    QStudentManage registry;
    registry.updateMachine(7, "pc7", "ip", true);
    QVERIFY(registry.addGroup("A", 1));
    QVERIFY(!registry.moveMachineToGroup(QString(), 7));
    QVERIFY(!registry.moveMachineToGroup("A", 0));
    QVERIFY(!registry.removeMachineFromGroup(QString(), 7));
    QVERIFY(!registry.removeMachineFromGroup("A", 0));
    QVERIFY(!registry.removeMachineFromGroup("missing", 7));
    QVERIFY(groupNamed(registry, "A")->ullmac_list.isEmpty());
    QVERIFY(registry.findMachine(7)->group_name.isEmpty());
}

void TestRegistry::removeGroupUngroupsMembers()
{
    QStudentManage registry;
    const auto a = registry.updateMachine(1, "a", "ip", true);
    const auto b = registry.updateMachine(2, "b", "ip", true);
    const auto c = registry.updateMachine(3, "c", "ip", true);
    QVERIFY(registry.addGroup("G", 1));
    QVERIFY(registry.addGroup("H", 2));
    QVERIFY(registry.moveMachineToGroup("G", 1));
    QVERIFY(registry.moveMachineToGroup("G", 2));
    QVERIFY(registry.moveMachineToGroup("G", 42));
    QVERIFY(registry.moveMachineToGroup("H", 3));

    registry.removeGroup("G");
    QCOMPARE(registry.groupNames(), QStringList { "H" });
    QVERIFY(a->group_name.isEmpty());
    QVERIFY(b->group_name.isEmpty());
    QCOMPARE(c->group_name, QStringLiteral("H"));
    QCOMPARE(registry.ungroupedMachines().keys(), (QList<quint64> { 1, 2 }));
    QCOMPARE(registry.groupNameOfMachine(1), QString());
    QVERIFY(invariantsHold(registry));

    registry.removeGroup("no such group");
    QCOMPARE(registry.groupNames(), QStringList { "H" });
}

void TestRegistry::removeMachine()
{
    QStudentManage registry;
    const auto rec = registry.updateMachine(7, "pc7", "ip", true);
    registry.updateMachine(8, "pc8", "ip", true);
    QVERIFY(registry.addGroup("A", 1));
    QVERIFY(registry.moveMachineToGroup("A", 7));
    QVERIFY(registry.moveMachineToGroup("A", 8));

    registry.removeMachine(7);
    QCOMPARE(registry.findMachine(7), CStuInfo_PTR());
    QCOMPARE(sortedMembers(groupNamed(registry, "A")), QList<quint64> { 8 });
    QCOMPARE(rec->hostname, QStringLiteral("pc7")); // holders keep a valid record
    QVERIFY(invariantsHold(registry));

    registry.removeMachine(12345);
    QCOMPARE(registry.allMachines().keys(), QList<quint64> { 8 });
    QCOMPARE(sortedMembers(groupNamed(registry, "A")), QList<quint64> { 8 });
}

void TestRegistry::removeMachineFromGroup()
{
    QStudentManage registry;
    const auto rec = registry.updateMachine(7, "pc7", "ip", true);
    QVERIFY(registry.addGroup("A", 1));
    QVERIFY(registry.addGroup("B", 2));
    QVERIFY(registry.moveMachineToGroup("A", 7));

    // Naming the wrong group does not strand the machine.
    QVERIFY(registry.removeMachineFromGroup("B", 7));
    QCOMPARE(rec->group_name, QStringLiteral("A"));
    QVERIFY(invariantsHold(registry));

    QVERIFY(registry.removeMachineFromGroup("A", 7));
    QVERIFY(rec->group_name.isEmpty());
    QVERIFY(groupNamed(registry, "A")->ullmac_list.isEmpty());
    QVERIFY(registry.ungroupedMachines().contains(7));
    QVERIFY(invariantsHold(registry));
}

void TestRegistry::groupOrder()
{
    QStudentManage registry;
    QVERIFY(registry.addGroup("z", 1));
    QVERIFY(registry.addGroup("a", 5));
    QVERIFY(registry.addGroup("m", 3));
    QVERIFY(registry.addGroup("n", 3));
    const QStringList names = registry.groupNames();
    QCOMPARE(names.size(), 4);
    QCOMPARE(names.first(), QStringLiteral("z"));
    QCOMPARE(names.last(), QStringLiteral("a"));
    QVERIFY(names.contains("m") && names.contains("n"));
}

void TestRegistry::persistsAcrossInstances()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("data.sqlite3");
    {
        QStudentManage registry;
        QVERIFY(registry.openDatabase(path));
        QVERIFY(registry.databaseOk());
        QCOMPARE(registry.databaseError(), QString());
        registry.updateMachine(Q_UINT64_C(0xA1B2C3D4E5F6), QStringLiteral("机房-01"), "192.168.1.20", true);
        registry.updateMachine(2, "pc2", "10.0.0.2", true);
        QVERIFY(registry.addGroup(QStringLiteral("三班"), 2));
        QVERIFY(registry.addGroup("empty", 1));
        QVERIFY(registry.moveMachineToGroup(QStringLiteral("三班"), 2));
        QVERIFY(registry.moveMachineToGroup(QStringLiteral("三班"), 77));
    }
    QVERIFY(QFile::exists(path));

    QStudentManage registry;
    QVERIFY(registry.openDatabase(path));
    QCOMPARE(registry.allMachines().keys(), (QList<quint64> { 2, Q_UINT64_C(0xA1B2C3D4E5F6) }));
    const auto first = registry.findMachine(Q_UINT64_C(0xA1B2C3D4E5F6));
    QCOMPARE(first->hostname, QStringLiteral("机房-01"));
    QCOMPARE(first->ip, QStringLiteral("192.168.1.20"));
    QVERIFY(!first->online);
    QCOMPARE(first->missed_ticks.load(), 0u);
    QVERIFY(first->group_name.isEmpty());
    QCOMPARE(registry.findMachine(2)->group_name, QStringLiteral("三班"));
    QCOMPARE(registry.groupNames(), (QStringList { "empty", QStringLiteral("三班") }));
    QCOMPARE(sortedMembers(groupNamed(registry, QStringLiteral("三班"))), (QList<quint64> { 2, 77 }));
    QCOMPARE(registry.ungroupedMachines().keys(), QList<quint64> { Q_UINT64_C(0xA1B2C3D4E5F6) });
    QVERIFY(invariantsHold(registry));

    // Two registries at once, each on its own connection.
    QStudentManage other;
    QVERIFY(other.openDatabase(dir.filePath("other.sqlite3")));
    QVERIFY(other.allMachines().isEmpty());
    QCOMPARE(registry.allMachines().size(), 2);
}

void TestRegistry::saveAllAnyTime()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("data.sqlite3");
    QStudentManage registry;
    QVERIFY(!registry.saveAll()); // nothing open yet
    QVERIFY(registry.openDatabase(path));
    registry.updateMachine(1, "pc1", "10.0.0.1", true);
    QVERIFY(registry.addGroup("A", 1));
    QVERIFY(registry.moveMachineToGroup("A", 1));

    QVERIFY(registry.saveAll());
    QVERIFY(registry.saveAll());
    TestConnection raw(path);
    QCOMPARE(raw.column("SELECT ullmac || ',' || ip || ',' || hostname FROM tb_machines;"),
        QStringList { "1,10.0.0.1,pc1" });
    QCOMPARE(raw.column("SELECT group_name || ',' || display_order || ',' || ullmac_list || ',' || is_global "
                        "FROM tb_groups;"),
        QStringList { "A,1,1,0" });

    registry.removeMachine(1);
    QVERIFY(registry.saveAll());
    QCOMPARE(raw.column("SELECT count(*) FROM tb_machines;"), QStringList { "0" });
    QCOMPARE(raw.column("SELECT ullmac_list FROM tb_groups;"), QStringList { "" });
}

void TestRegistry::globalGroupsDroppedAndForgotten()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("data.sqlite3");
    {
        QStudentManage seed;
        QVERIFY(seed.openDatabase(path));
    }
    {
        TestConnection raw(path);
        QCOMPARE(raw.exec("INSERT INTO tb_machines VALUES (5,'10.0.0.5','pc5'),(6,'10.0.0.6','pc6');"), QString());
        QCOMPARE(raw.exec("INSERT INTO tb_groups VALUES ('global',1,'5',1),('local',2,'6',0);"), QString());
    }
    {
        QStudentManage registry;
        QVERIFY(registry.openDatabase(path));
        QCOMPARE(registry.groupNames(), QStringList { "local" });
        QVERIFY(registry.findMachine(5)->group_name.isEmpty());
        QCOMPARE(registry.findMachine(6)->group_name, QStringLiteral("local"));
        QCOMPARE(registry.ungroupedMachines().keys(), QList<quint64> { 5 });
    }
    TestConnection raw(path);
    QCOMPARE(raw.column("SELECT group_name FROM tb_groups;"), QStringList { "local" });
}

void TestRegistry::removeGroupWritesAtOnce()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("data.sqlite3");
    QStudentManage registry;
    QVERIFY(registry.openDatabase(path));
    QVERIFY(registry.addGroup("O'Brien", 1));
    QVERIFY(registry.addGroup("keep", 2));
    QVERIFY(registry.saveAll());

    registry.removeGroup("O'Brien");
    TestConnection raw(path);
    QCOMPARE(raw.column("SELECT group_name FROM tb_groups;"), QStringList { "keep" });

    // A busy database is waited for outside the group lock, which the network
    // thread needs for every datagram: here the other program lets go only
    // once it has seen the group gone.
    QVERIFY(registry.addGroup("busy", 3));
    QVERIFY(registry.saveAll());
    std::promise<void> locked;
    std::thread other([&] {
        TestConnection holder(path);
        holder.exec("BEGIN EXCLUSIVE;");
        locked.set_value();
        while (registry.groupNames().contains("busy"))
            std::this_thread::yield();
        holder.exec("ROLLBACK;");
    });
    locked.get_future().wait();
    registry.removeGroup("busy");
    other.join();
    QCOMPARE(raw.column("SELECT group_name FROM tb_groups;"), QStringList { "keep" });
}

void TestRegistry::writtenOnceNoLongerHeld()
{
    // Read while another program held the file for writing: not written
    // then, but at the first save after it let go.
    QTemporaryDir dir;
    const QString path = dir.filePath("data.sqlite3");
    {
        QStudentManage seed;
        QVERIFY(seed.openDatabase(path));
        QVERIFY(seed.addGroup("A", 1));
    }
    auto holder = std::make_unique<TestConnection>(path);
    QCOMPARE(holder->exec("BEGIN IMMEDIATE;"), QString());
    QStudentManage registry;
    QVERIFY(!registry.openDatabase(path));
    QVERIFY(registry.databaseReadable());
    QVERIFY2(registry.databaseError().startsWith(
                 QStringLiteral("无法写入数据库文件“%1”").arg(QDir::toNativeSeparators(path))),
        qPrintable(registry.databaseError()));
    QCOMPARE(registry.groupNames(), QStringList { "A" });
    holder.reset();

    QVERIFY(registry.addGroup("B", 2));
    QVERIFY(registry.saveAll());
    QVERIFY(registry.databaseOk());
    QCOMPARE(TestConnection(path).column("SELECT group_name FROM tb_groups ORDER BY group_name;"),
        (QStringList { "A", "B" }));
}

void TestRegistry::saveStringItemsTypes()
{
    QTemporaryDir dir;
    QStudentManage registry;
    auto entry = std::make_shared<QtDoubleIntStringItem>();
    entry->str_val = QStringLiteral("notepad");
    entry->item_state = QtDoubleIntStringItem::Active;
    QVERIFY(!registry.saveStringItems({ entry }, 1)); // no database yet

    QVERIFY(registry.openDatabase(dir.filePath("data.sqlite3")));
    for (int type : { -1, 0, 5 })
        QVERIFY(!registry.saveStringItems({ entry }, type));
    for (int type : { 1, 2, 3, 4 })
        QVERIFY(registry.saveStringItems({ entry }, type));
    QCOMPARE(registry.store().loadStringItems(-1).size(), 3);
    QCOMPARE(registry.store().loadStringItems(3).first()->str_val, QStringLiteral("notepad"));
    TestConnection raw(dir.filePath("data.sqlite3"));
    QCOMPARE(
        raw.column("SELECT item_type FROM tb_string_items ORDER BY item_type;"), (QStringList { "1", "2", "3", "4" }));
}

void TestRegistry::unusableDatabaseIsNeverWritten_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("directory") << "directory";
    QTest::newRow("not a database") << "garbage";
    QTest::newRow("tables of another shape") << "schema";
}

void TestRegistry::unusableDatabaseIsNeverWritten()
{
    QFETCH(QString, kind);
    QTemporaryDir dir;
    QString path = dir.filePath("data.sqlite3");
    if (kind == "directory") {
        path = dir.path();
    } else if (kind == "garbage") {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QByteArray("not a database\n").repeated(300));
    } else {
        TestConnection raw(path);
        QCOMPARE(raw.exec("CREATE TABLE tb_machines(mac text, note text);"), QString());
        QCOMPARE(raw.exec("CREATE TABLE tb_groups(group_name text);"), QString());
        QCOMPARE(raw.exec("CREATE TABLE tb_string_items(str_val text, item_type int, item_state int);"), QString());
        QCOMPARE(raw.exec("INSERT INTO tb_machines VALUES ('x','keep me');"), QString());
    }
    const QByteArray before = kind == "directory" ? QByteArray() : readAll(path);

    {
        QStudentManage registry;
        QVERIFY(!registry.openDatabase(path));
        QVERIFY(!registry.databaseOk());
        QVERIFY2(!registry.databaseError().isEmpty(), "no reason given");
        QVERIFY2(
            registry.databaseError().contains(QDir::toNativeSeparators(path)), qPrintable(registry.databaseError()));
        qInfo().noquote() << registry.databaseError();

        registry.updateMachine(1, "pc1", "10.0.0.1", true);
        QVERIFY(registry.addGroup("A", 1));
        QVERIFY(registry.moveMachineToGroup("A", 1));
        registry.removeGroup("A");
        auto entry = std::make_shared<QtDoubleIntStringItem>();
        entry->str_val = QStringLiteral("x");
        QVERIFY(!registry.saveStringItems({ entry }, 1));
        QVERIFY(!registry.saveAll());
    }

    if (kind == "directory") {
        QVERIFY(QFileInfo(path).isDir());
        QCOMPARE(QDir(path).entryList(QDir::NoDotAndDotDot | QDir::AllEntries), QStringList());
    } else {
        QCOMPARE(readAll(path), before);
    }
}

void TestRegistry::offlineBatch()
{
    QStudentManage registry;
    BatchLog log(registry);

    // Inserted out of order; the batch comes in ascending MAC order.
    const QList<quint64> silent { 0x30, 0x10, 0x20 };
    const qint64 start = log.timer.elapsed();
    for (quint64 mac : silent)
        registry.updateMachine(mac, "pc", "ip", true);
    registry.updateMachine(0x05, "never", "ip", false); // off line records are left alone
    const auto keeper = registry.updateMachine(0x15, "alive", "ip", true);

    // An agent that keeps talking every ~100 ms for 3 s.
    QElapsedTimer alive;
    alive.start();
    while (alive.elapsed() < 3000) {
        keeper->markAlive();
        QTest::qWait(100);
    }

    QCOMPARE(log.batches.size(), 1);
    QCOMPARE(macsOf(log.batches.first()), (QList<quint64> { 0x10, 0x20, 0x30 }));
    const qint64 after = log.arrivals.first() - start;
    // Fifteen ticks of at least 100 ms each, the first possibly right away.
    QVERIFY2(after >= 1350 && after < 2900, qPrintable(QString::number(after)));
    for (const auto& rec : log.batches.first()) {
        QVERIFY(!rec->online);
        QCOMPARE(rec->missed_ticks.load(), 0u);
    }
    QVERIFY(keeper->online);
    QVERIFY(keeper->missed_ticks.load() < static_cast<uint32_t>(QStudentManage::OfflineTicks));
    QVERIFY(!registry.findMachine(0x05)->online);

    // Back on line, then silent again: reported once more. A removed machine
    // is no longer watched.
    registry.removeMachine(0x15);
    registry.findMachine(0x20)->markAlive();
    QTRY_COMPARE_WITH_TIMEOUT(log.batches.size(), 2, 5000);
    QCOMPARE(macsOf(log.batches.last()), QList<quint64> { 0x20 });
    QVERIFY(keeper->online);
}

void TestRegistry::destroyWhileWorkerPauses()
{
    auto registry = std::make_unique<QStudentManage>();
    BatchLog log(*registry);
    registry->updateMachine(1, "pc", "ip", true);
    // Right after a batch the worker is in its pause.
    QTRY_COMPARE_WITH_TIMEOUT(log.batches.size(), 1, 5000);

    QElapsedTimer timer;
    timer.start();
    registry.reset();
    QVERIFY2(timer.elapsed() < 200, qPrintable(QString::number(timer.elapsed())));
}

QTEST_GUILESS_MAIN(TestRegistry)
#include "tst_registry.moc"
