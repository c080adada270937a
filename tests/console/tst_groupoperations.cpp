// Group operations on their own: the registry and the pages that show it,
// without a window. Machines are made as the network thread makes them and
// placed later, as the UI thread does.

#include "BarePages.h"

#include <QSignalSpy>
#include <QtTest>

#include <memory>

class TestGroupOperations : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void renameBeforePlacementLeavesNoStrayRow();
    void movesAndDeletionsKeepOneRowPerPage();
    void renameRefusedWhileSettingsCannotFollow();
    void severalMachinesChangeInOneLogRow();

private:
    CStuInfo_PTR admit(quint64 mac, const QString& host, const QString& ip);
    static int rows(QStudentGroupWidget* page, quint64 mac) { return BarePages::rows(page, mac); }

    std::unique_ptr<BarePages> lab;
    QStudentManage* registry = nullptr;
    QTabWidget* tabs = nullptr;
    PageDirectory* directory = nullptr;
    GroupOperations* ops = nullptr;
};

void TestGroupOperations::init()
{
    lab = std::make_unique<BarePages>();
    registry = &lab->registry;
    tabs = lab->tabs.get();
    directory = &lab->directory;
    ops = lab->ops.get();
}

void TestGroupOperations::cleanup()
{
    lab.reset();
}

CStuInfo_PTR TestGroupOperations::admit(quint64 mac, const QString& host, const QString& ip)
{
    return registry->admitMachine(mac, host, ip, false, false).machine;
}

void TestGroupOperations::renameBeforePlacementLeavesNoStrayRow()
{
    // A registration renamed before its placement: the placement shows the
    // new texts; a machine evicted before its placement leaves no row.
    const CStuInfo_PTR early = admit(0x1001, QStringLiteral("PC-01"), QStringLiteral("127.0.0.11"));
    QVERIFY(early);
    ops->renameMachine(early, QStringLiteral("PC-01-NEU"), QStringLiteral("127.0.0.12"));
    QCOMPARE(rows(directory->pageAt(0), 0x1001), 0);
    QCOMPARE(rows(directory->ungrouped(), 0x1001), 0);
    ops->placeMachine(early);
    for (QStudentGroupWidget* page : { directory->pageAt(0), directory->ungrouped() }) {
        QCOMPARE(rows(page, 0x1001), 1);
        QCOMPARE(page->machine_table->getCellText(page->rowOfMachine(0x1001), 0), QStringLiteral("PC-01-NEU"));
    }

    const CStuInfo_PTR evicted = admit(0x1002, QStringLiteral("PC-02"), QStringLiteral("127.0.0.13"));
    ops->renameMachine(evicted, QStringLiteral("PC-02b"), QStringLiteral("127.0.0.13"));
    registry->removeMachine(0x1002);
    ops->dropEvicted(evicted);
    QCOMPARE(rows(directory->pageAt(0), 0x1002), 0);
    QCOMPARE(rows(directory->ungrouped(), 0x1002), 0);
}

void TestGroupOperations::movesAndDeletionsKeepOneRowPerPage()
{
    QVERIFY(ops->addGroup(QStringLiteral("一号机房"), 1, QString()));
    QVERIFY(!ops->addGroup(QStringLiteral("一号机房"), 2, QString()));
    QStudentGroupWidget* room = directory->groupPage(QStringLiteral("一号机房"));
    QVERIFY(room);
    QCOMPARE(tabs->indexOf(directory->ungrouped()), tabs->count() - 1);
    for (quint64 mac : { 0x2001ULL, 0x2002ULL })
        ops->placeMachine(admit(mac, QStringLiteral("PC"), QStringLiteral("127.0.0.20")));

    QSignalSpy changes(ops, &GroupOperations::sg_changed);
    ops->moveMachines({ 0x2001, 0x2002 }, QStringLiteral("一号机房"));
    QCOMPARE(changes.count(), 3); // each machine, then the one row naming both
    QCOMPARE(rows(room, 0x2001), 1);
    QCOMPARE(rows(directory->ungrouped(), 0x2001), 0);
    // Moving into the group it is in already adds nothing.
    ops->moveMachine(0x2001, QStringLiteral("一号机房"));
    QCOMPARE(rows(room, 0x2001), 1);

    // Out of a group it is not in: left alone.
    ops->removeFromGroup(QStringLiteral("二号机房"), { 0x2002 });
    QCOMPARE(rows(room, 0x2002), 1);
    ops->removeFromGroup(QStringLiteral("一号机房"), { 0x2002 });
    QCOMPARE(rows(room, 0x2002), 0);
    QCOMPARE(rows(directory->ungrouped(), 0x2002), 1);

    // A deleted group's members come back to "未分组", its page goes.
    ops->deleteGroup(QStringLiteral("一号机房"));
    QVERIFY(!directory->groupPage(QStringLiteral("一号机房")));
    QCOMPARE(rows(directory->ungrouped(), 0x2001), 1);
    QCOMPARE(registry->groupNameOfMachine(0x2001), QString());

    ops->deleteMachines({ 0x2001 });
    QVERIFY(!registry->findMachine(0x2001));
    for (QStudentGroupWidget* page : directory->pages())
        QCOMPARE(rows(page, 0x2001), 0);
    QCOMPARE(rows(directory->pageAt(0), 0x2002), 1);
}

void TestGroupOperations::renameRefusedWhileSettingsCannotFollow()
{
    QVERIFY(ops->addGroup(QStringLiteral("一号机房"), 1, QString()));
    QVERIFY(ops->addGroup(QStringLiteral("二号机房"), 2, QString()));
    QVERIFY(!ops->renameGroup(QStringLiteral("一号机房"), QStringLiteral("二号机房")));
    QVERIFY(!ops->renameGroup(QStringLiteral("一号机房"), PageDirectory::UngroupedName));
    lab->refusal = QStringLiteral("settings file unreadable");
    QVERIFY(!ops->renameGroup(QStringLiteral("一号机房"), QStringLiteral("三号机房")));
    QVERIFY(directory->groupPage(QStringLiteral("一号机房")));
    lab->refusal.clear();
    QVERIFY(ops->renameGroup(QStringLiteral("一号机房"), QStringLiteral("三号机房")));
    QVERIFY(directory->groupPage(QStringLiteral("三号机房")));
    QVERIFY(registry->groupNames().contains(QStringLiteral("三号机房")));
}

QTEST_MAIN(TestGroupOperations)
#include "tst_groupoperations.moc"

void TestGroupOperations::severalMachinesChangeInOneLogRow()
{
    QList<quint64> macs;
    for (quint64 mac = 1; mac <= 3; ++mac) {
        ops->placeMachine(admit(mac, QStringLiteral("PC-%1").arg(mac), QStringLiteral("10.0.0.%1").arg(mac)));
        macs << mac;
    }
    const QString room = QStringLiteral("一号机房");
    QVERIFY(ops->addGroup(room, 1, QString()));
    QList<GroupChange> changes;
    connect(ops, &GroupOperations::sg_changed, this, [&changes](const GroupChange& change) { changes << change; });
    const auto rowsLogged = [&changes] {
        QStringList rows;
        for (const GroupChange& change : changes)
            if (!change.detail.isEmpty())
                rows << change.page + QLatin1Char(' ') + change.detail;
        changes.clear();
        return rows;
    };

    ops->moveMachines(macs, room);
    QCOMPARE(directory->groupPage(room)->machine_table->getRowCount(), 3);
    // Each machine is still told (the saves follow it), the log gets one row.
    QCOMPARE(changes.size(), 4);
    QCOMPARE(rowsLogged(), QStringList { "一号机房 3 台移入分组“一号机房”：PC-1、PC-2、PC-3" });

    // A machine that is not a member is skipped, and not named.
    ops->removeFromGroup(room, { 1, 2, 99 });
    QCOMPARE(rowsLogged(), QStringList { "一号机房 2 台移出分组“一号机房”：PC-1、PC-2" });
    // Nothing changed, nothing logged.
    ops->removeFromGroup(room, { 98, 99 });
    QVERIFY(rowsLogged().isEmpty());
    ops->deleteMachines({ 1, 3 });
    QCOMPARE(rowsLogged(), QStringList { "全部 删除 2 台机器：PC-1、PC-3" });
    QVERIFY(!registry->findMachine(1) && !registry->findMachine(3));

    // One machine keeps its own row.
    ops->moveMachines({ 2 }, room);
    QCOMPARE(rowsLogged(), QStringList { "一号机房 移入分组“一号机房”" });
}
