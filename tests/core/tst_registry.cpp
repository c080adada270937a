// The machine registry: groups and members, the off-line rule counted in
// ticks the test drives, the bound on known machines, and the database.

#include "../storage/TestConnection.h"
#include "core/NaturalOrder.h"
#include "core/Protocol.h"
#include "core/QStudentManage.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>
#include <future>
#include <thread>

namespace {

QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

QList<quint64> members(QStudentManage& registry, const QString& name)
{
    for (const auto& g : registry.sortedGroups()) {
        if (g->group_name == name) {
            QList<quint64> macs = g->ullmac_list.values();
            std::sort(macs.begin(), macs.end());
            return macs;
        }
    }
    return { 0xBAD };
}

constexpr quint64 Base = 0x0000B0B000000001ULL;

void fill(QStudentManage& registry, int count)
{
    for (int i = 0; i < count; ++i)
        QVERIFY(registry.updateMachine(Base + quint64(i), QStringLiteral("BOGUS"), QStringLiteral("127.0.0.3"), false));
}

} // namespace

class TestRegistry : public QObject
{
    Q_OBJECT

private slots:
    void updateAndRename();
    void moveBetweenGroups();
    void removeMachineFromGroup();
    void groupOrder();
    void equalOrdersComeBackByName();
    void renameGroupKeepsMembers();
    void namesInNaturalOrder();
    void offlineAfterFifteenSilentTicks_data();
    void offlineAfterFifteenSilentTicks();
    void refusesBeyondTheBound();
    void admissionAtTheBounds();

    void persistsAcrossInstances();
    void globalGroupsDroppedAndForgotten();
    void removeGroupWritesAtOnce();
    void writtenOnceNoLongerHeld();
    void unusableDatabaseIsNeverWritten_data();
    void unusableDatabaseIsNeverWritten();
};

void TestRegistry::updateAndRename()
{
    QStudentManage registry;
    const CStuInfo_PTR rec = registry.updateMachine(5, "pc5", "10.0.0.5", false);
    QVERIFY(!rec->online);

    // An existing record is updated in place, never replaced.
    rec->missed_ticks = 7;
    QCOMPARE(registry.updateMachine(5, QStringLiteral("机房五"), "10.0.0.55", true).get(), rec.get());
    QCOMPARE(rec->hostname, QStringLiteral("机房五"));
    QCOMPARE(rec->ip, QStringLiteral("10.0.0.55"));
    QVERIFY(rec->online);
    QCOMPARE(rec->missed_ticks.load(), 0u);

    // A new name or address leaves the on-line state to the datagrams (a
    // rename once revived an off-line machine).
    rec->online = false;
    QVERIFY(registry.renameMachine(5, QStringLiteral("pc5"), "10.0.0.5"));
    QVERIFY(!registry.renameMachine(7, QStringLiteral("pc7"), "10.0.0.7"));
    QCOMPARE(rec->hostname, QStringLiteral("pc5"));
    QVERIFY(!rec->online);

    // The network thread's call makes a record but never rewrites one made
    // meanwhile: the UI thread reads its texts without a lock (a race).
    const QStudentManage::Admission late = registry.admitMachine(5, QStringLiteral("late"), "10.0.0.66", false, false);
    QCOMPARE(late.machine.get(), rec.get());
    QVERIFY(!late.made);
    QCOMPARE(rec->hostname + rec->ip, QStringLiteral("pc510.0.0.5"));
    QCOMPARE(registry.machinesAtAddress(Protocol::addressFromText(QStringLiteral("10.0.0.66"))), 0);
    QVERIFY(!rec->online);
    const QStudentManage::Admission fresh = registry.admitMachine(6, QStringLiteral("pc6"), "10.0.0.6", false, false);
    QVERIFY(fresh.made);
    const CStuInfo_PTR heard = fresh.machine;
    QCOMPARE(heard->hostname + heard->ip, QStringLiteral("pc610.0.0.6"));
    QVERIFY(heard->online);
}

void TestRegistry::moveBetweenGroups()
{
    QStudentManage registry;
    const auto rec = registry.updateMachine(7, "pc7", "ip", true);
    QVERIFY(registry.addGroup("A", 1));
    QVERIFY(registry.addGroup("B", 2));

    QVERIFY(registry.moveMachineToGroup("B", 7));
    QVERIFY(registry.moveMachineToGroup("A", 7));
    QCOMPARE(rec->group_name, QStringLiteral("A"));
    QCOMPARE(registry.groupNameOfMachine(7), QStringLiteral("A"));
    QCOMPARE(members(registry, "A"), QList<quint64> { 7 });
    QCOMPARE(members(registry, "B"), QList<quint64> {});
    QVERIFY(registry.ungroupedMachines().isEmpty());

    QVERIFY(!registry.moveMachineToGroup("missing", 7));
    QCOMPARE(rec->group_name, QStringLiteral("A"));

    // A group may hold a MAC no record has yet; when that machine first
    // appears, its record is already a member.
    QVERIFY(registry.moveMachineToGroup("B", 9));
    QCOMPARE(registry.updateMachine(9, "pc9", "ip", true)->group_name, QStringLiteral("B"));
    QVERIFY(!registry.ungroupedMachines().contains(9));
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

    QVERIFY(registry.removeMachineFromGroup("A", 7));
    QVERIFY(rec->group_name.isEmpty());
    QCOMPARE(members(registry, "A"), QList<quint64> {});
    QVERIFY(registry.ungroupedMachines().contains(7));
}

void TestRegistry::groupOrder()
{
    QStudentManage registry;
    QVERIFY(registry.addGroup("z", 1));
    QVERIFY(registry.addGroup("a", 5));
    QVERIFY(registry.addGroup("m", 3));
    QVERIFY(!registry.addGroup("m", 4));
    QVERIFY(!registry.addGroup(QString(), 2));
    QVERIFY(!registry.addGroup(QStringLiteral("未分组"), 2));
    QCOMPARE(registry.groupNames(), (QStringList { "z", "m", "a" }));
}

void TestRegistry::equalOrdersComeBackByName()
{
    // Enough of them for the sort to be more than an insertion sort, which
    // happens to keep the map's order.
    QStudentManage registry;
    QStringList names;
    for (int i = 0; i < 40; ++i) {
        names << QStringLiteral("组%1").arg(i, 2, 10, QLatin1Char('0'));
        QVERIFY(registry.addGroup(names.last(), 1));
    }
    QCOMPARE(registry.groupNames(), names);
}

void TestRegistry::renameGroupKeepsMembers()
{
    QStudentManage registry;
    registry.updateMachine(2, "pc2", "10.0.0.2", false);
    QVERIFY(registry.addGroup("A", 1) && registry.addGroup("B", 2) && registry.moveMachineToGroup("A", 2));
    for (const QString& refused : { QString(), QStringLiteral("全部"), QStringLiteral("未分组"), QStringLiteral("B") })
        QVERIFY(!registry.renameGroup("A", refused));
    QVERIFY(!registry.renameGroup("C", "D"));
    QVERIFY(registry.renameGroup("A", "C"));
    QCOMPARE(registry.groupNames(), (QStringList { "C", "B" }));
    QCOMPARE(registry.findMachine(2)->group_name, QStringLiteral("C"));
}

void TestRegistry::namesInNaturalOrder()
{
    // Numbers by value; equal values with fewer leading zeros first; letters
    // without regard to case.
    QStringList names { "PC-10", "pc-3", "PC-0010", "PC-2", "PC-0002", "PC-0001", "PC-02", "Lab-9", "PC-2a", "PC-" };
    std::sort(names.begin(), names.end(), NaturalOrder::less);
    QCOMPARE(names,
        (QStringList { "Lab-9", "PC-", "PC-0001", "PC-2", "PC-02", "PC-0002", "PC-2a", "pc-3", "PC-10", "PC-0010" }));
    QCOMPARE(NaturalOrder::compare("PC-7", "PC-7"), 0);
    QVERIFY(NaturalOrder::less("pc-7", "PC-7") != NaturalOrder::less("PC-7", "pc-7"));
}

void TestRegistry::offlineAfterFifteenSilentTicks_data()
{
    QTest::addColumn<int>("ticks");
    QTest::addColumn<bool>("offline");

    QTest::newRow("14") << 14 << false;
    QTest::newRow("15") << 15 << true;
    QTest::newRow("16: reported once") << 16 << true;
}

void TestRegistry::offlineAfterFifteenSilentTicks()
{
    QFETCH(int, ticks);
    QFETCH(bool, offline);

    QStudentManage registry(QStudentManage::Ticks::Manual);
    QList<QList<CStuInfo_PTR>> batches;
    // Direct: the batch is in before tick() returns.
    connect(
        &registry, &QStudentManage::sg_state_changed_machines, this,
        [&](const QList<CStuInfo_PTR>& batch) { batches << batch; }, Qt::DirectConnection);

    for (quint64 mac : { 0x30, 0x10, 0x20 })
        registry.updateMachine(mac, "pc", "ip", true);
    registry.updateMachine(0x05, "never", "ip", false); // off-line records are left alone
    for (int i = 0; i < ticks; ++i) {
        registry.tick();
        registry.updateMachine(0x15, "talks", "ip", true); // every datagram starts the count again
    }

    QCOMPARE(batches.size(), offline ? 1 : 0);
    QCOMPARE(registry.findMachine(0x10)->online.load(), !offline);
    QVERIFY(registry.findMachine(0x15)->online);
    QVERIFY(!registry.findMachine(0x05)->online);
    if (!offline)
        return;
    QList<quint64> macs;
    for (const auto& rec : batches.first())
        macs << rec->ullmac;
    QCOMPARE(macs, (QList<quint64> { 0x10, 0x20, 0x30 }));

    // Back on line, then silent again: reported once more.
    registry.findMachine(0x20)->markAlive();
    for (int i = 0; i < 15; ++i)
        registry.tick();
    QCOMPARE(batches.size(), 2);
    QCOMPARE(batches.last().size(), 2); // the talker, silent now, and 0x20
}

void TestRegistry::refusesBeyondTheBound()
{
    QStudentManage registry;
    fill(registry, QStudentManage::MaxMachines);
    const quint64 extra = Base + quint64(QStudentManage::MaxMachines);
    QVERIFY(!registry.updateMachine(extra, QStringLiteral("one too many"), QStringLiteral("10.0.0.1"), true));
    QVERIFY(!registry.findMachine(extra));
    QCOMPARE(registry.allMachines().size(), QStudentManage::MaxMachines);

    // Known machines are not affected; deleting one makes room again.
    QVERIFY(registry.updateMachine(Base, QStringLiteral("renamed"), QStringLiteral("10.0.0.2"), true));
    registry.removeMachine(Base + 1);
    QVERIFY(registry.updateMachine(extra, QStringLiteral("room again"), QStringLiteral("10.0.0.1"), true));
}

void TestRegistry::admissionAtTheBounds()
{
    using R = QStudentManage::Admission::Refusal;
    QStudentManage registry(QStudentManage::Ticks::Manual);
    QVERIFY(registry.addGroup(QStringLiteral("A"), 1));
    const auto admit = [&registry](quint64 mac, const char* ip, bool retrying, bool atAddress = false) {
        return registry.admitMachine(mac, QString(), QString::fromLatin1(ip), retrying, atAddress);
    };
    const auto heard = [&registry](quint64 mac) { registry.findMachine(mac)->heard_again.store(true); };

    // A full address makes room for a retrying MAC among this run's
    // machines there that were heard once, newest first, never a grouped one.
    for (quint64 mac = 11; mac <= 14; ++mac)
        QVERIFY(admit(mac, "10.0.1.1", false).machine);
    heard(14);
    QVERIFY(registry.moveMachineToGroup(QStringLiteral("A"), 11));
    QVERIFY(admit(16, "10.0.1.2", false).machine);
    QCOMPARE(admit(15, "10.0.1.1", true, true).evicted->ullmac, quint64(13));
    heard(15);
    QCOMPARE(admit(17, "10.0.1.1", true, true).evicted->ullmac, quint64(12));
    heard(17);
    QCOMPARE(admit(18, "10.0.1.1", true, true).refusal, R::AddressFull);

    // Machines never grouped have a quota; at it only a retrying MAC, or
    // one a stored group holds, gets in, in place of a one-shot machine
    // (then of one not heard this run).
    fill(registry, QStudentManage::MaxNeverGrouped - registry.neverGroupedCount() - 1);
    const QStudentManage::Admission last = admit(21, "10.0.2.1", false);
    QVERIFY(last.machine && last.quotaReached);
    QCOMPARE(admit(22, "10.0.2.2", false).refusal, R::Quota);
    QCOMPARE(admit(22, "10.0.2.2", true).evicted->ullmac, quint64(21));
    heard(22);
    QCOMPARE(admit(23, "10.0.2.3", true).evicted->ullmac, quint64(16));
    heard(23);
    QCOMPARE(admit(24, "10.0.2.4", true).evicted->ullmac, Base); // stored, unheard
    QVERIFY(registry.moveMachineToGroup(QStringLiteral("A"), 25));
    QVERIFY(admit(25, "10.0.2.5", false).machine);
    QCOMPARE(registry.neverGroupedCount(), QStudentManage::MaxNeverGrouped);
    QVERIFY(registry.moveMachineToGroup(QStringLiteral("A"), 22));
    QVERIFY(admit(26, "10.0.2.6", false).machine); // grouping one frees its place

    // At MaxMachines a machine of a stored group still gets in; with every
    // machine heard nothing makes room.
    for (quint64 mac = 1; registry.machineCount() < QStudentManage::MaxMachines; ++mac) {
        QVERIFY(registry.updateMachine(0xC0000000 + mac, QString(), QStringLiteral("10.0.3.1"), false));
        QVERIFY(registry.moveMachineToGroup(QStringLiteral("A"), 0xC0000000 + mac));
    }
    QVERIFY(registry.moveMachineToGroup(QStringLiteral("A"), 31));
    QCOMPARE(admit(31, "10.0.3.2", false).evicted->ullmac, quint64(26));
    heard(24);
    QVERIFY(registry.moveMachineToGroup(QStringLiteral("A"), 32));
    QCOMPARE(admit(32, "10.0.3.3", false).evicted->ullmac, Base + 1);
    for (const CStuInfo_PTR& machine : registry.allMachines())
        machine->markHeard();
    QVERIFY(registry.moveMachineToGroup(QStringLiteral("A"), 33));
    QCOMPARE(admit(33, "10.0.3.4", true).refusal, R::Full);
    QCOMPARE(registry.machineCount(), QStudentManage::MaxMachines);
}

void TestRegistry::persistsAcrossInstances()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("data.sqlite3");
    {
        QStudentManage registry;
        QVERIFY(!registry.saveAll()); // nothing open yet
        QVERIFY(registry.openDatabase(path));
        QVERIFY(registry.databaseOk());
        registry.updateMachine(Q_UINT64_C(0xA1B2C3D4E5F6), QStringLiteral("机房-01"), "192.168.1.20", true);
        registry.updateMachine(2, "pc2", "10.0.0.2", true);
        QVERIFY(registry.addGroup(QStringLiteral("三班"), 2));
        QVERIFY(registry.addGroup("empty", 1));
        QVERIFY(registry.moveMachineToGroup(QStringLiteral("三班"), 2));
        QVERIFY(registry.moveMachineToGroup(QStringLiteral("三班"), 77));
    }

    QStudentManage registry;
    QVERIFY(registry.openDatabase(path));
    QCOMPARE(registry.allMachines().keys(), (QList<quint64> { 2, Q_UINT64_C(0xA1B2C3D4E5F6) }));
    const auto first = registry.findMachine(Q_UINT64_C(0xA1B2C3D4E5F6));
    QCOMPARE(first->hostname, QStringLiteral("机房-01"));
    QCOMPARE(first->ip, QStringLiteral("192.168.1.20"));
    QVERIFY(!first->online);
    QVERIFY(first->group_name.isEmpty());
    QCOMPARE(registry.findMachine(2)->group_name, QStringLiteral("三班"));
    QCOMPARE(registry.groupNames(), (QStringList { "empty", QStringLiteral("三班") }));
    QCOMPARE(members(registry, QStringLiteral("三班")), (QList<quint64> { 2, 77 }));
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
    QVERIFY(registry.addGroup("busy", 3));
    QVERIFY(registry.saveAll());

    registry.removeGroup("O'Brien");
    TestConnection raw(path);
    QCOMPARE(raw.column("SELECT group_name FROM tb_groups ORDER BY group_name;"), (QStringList { "busy", "keep" }));

    // A busy database is waited for outside the group lock, which the network
    // thread needs for every datagram (it was once waited for inside): here
    // the other program lets go only once it has seen the group gone.
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
    // then, but at the first save after it let go (once never retried).
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

void TestRegistry::unusableDatabaseIsNeverWritten_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("directory") << "directory";
    QTest::newRow("not a database") << "garbage";
    QTest::newRow("tables of another shape") << "schema";
    QTest::newRow("list table damaged, the rest readable") << "items";
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
    } else if (kind == "items") {
        {
            QStudentManage seed;
            QVERIFY(seed.openDatabase(path));
            QVERIFY(seed.addGroup("S", 1));
        }
        // Only the list table's own page is overwritten: the schema, machines
        // and groups still read, the lists do not.
        auto raw = std::make_unique<TestConnection>(path);
        const int root = raw->column("SELECT rootpage FROM sqlite_master WHERE name='tb_string_items';").value(0).toInt();
        const int pageSize = raw->column("PRAGMA page_size;").value(0).toInt();
        raw.reset();
        QFile file(path);
        QVERIFY(root > 1 && pageSize > 0 && file.open(QIODevice::ReadWrite) && file.seek((root - 1) * pageSize));
        file.write(QByteArray(pageSize, '\xff'));
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
        QVERIFY2(registry.databaseError().contains(QDir::toNativeSeparators(path)), qPrintable(registry.databaseError()));

        registry.updateMachine(1, "pc1", "10.0.0.1", true);
        QVERIFY(registry.addGroup("A", 1));
        registry.removeGroup("A");
        auto entry = std::make_shared<QtDoubleIntStringItem>();
        entry->str_val = QStringLiteral("x");
        QVERIFY(!registry.saveStringItems({ entry }, 1));
        QVERIFY(!registry.saveAll());
    }

    if (kind == "directory")
        QCOMPARE(QDir(path).entryList(QDir::NoDotAndDotDot | QDir::AllEntries), QStringList());
    else
        QCOMPARE(readAll(path), before);
}

QTEST_MAIN(TestRegistry)
#include "tst_registry.moc"
