// A page's rows without a page: what the window suites cannot reach, a
// conflict's row and a machine on two rows.

#include "pages/MachineRows.h"
#include "tableview/QtRokTableView.h"

#include <QtTest>

namespace {

CStuInfo_PTR machine(quint64 mac, const QString& ip, bool online)
{
    auto record = std::make_shared<CStuInfo>();
    record->ullmac = mac;
    record->ip = ip;
    record->hostname = QStringLiteral("pc-%1").arg(mac);
    if (online)
        record->markAlive();
    return record;
}

} // namespace

class TestMachineRows : public QObject
{
    Q_OBJECT

private slots:
    void conflictCountsOnline();
    void firstRowAndRefilledRows();
};

void TestMachineRows::conflictCountsOnline()
{
    // Something answers as the machine: on line for the counts, the filter
    // and the tile, in a colour of its own.
    QtRokTableView table;
    MachineRows rows(&table);
    rows.setUpColumns(false);
    const CStuInfo_PTR claimed = machine(1, QStringLiteral("10.0.0.1"), false);
    claimed->claimant.store(0x0A000063);
    rows.setMachines({ claimed, machine(2, QStringLiteral("10.0.0.2"), false) });
    rows.setOnlineOnly(true);

    const int row = rows.rowOf(1);
    QCOMPARE(table.getCellText(row, MachineRows::StateColumn), QStringLiteral("冲突"));
    QCOMPARE(rows.counts().online, 1);
    QCOMPARE(rows.counts().total, 2);
    const MachineRows::Shown shown = rows.shownAt(row);
    QVERIFY(!shown.hidden);
    QVERIFY(rows.shownAt(rows.rowOf(2)).hidden);
    QCOMPARE(shown.stateColor, QColor(QStringLiteral("#c25400")));
    QCOMPARE(shown.macText, QStringLiteral("01:00:00:00:00:00"));
}

void TestMachineRows::firstRowAndRefilledRows()
{
    QtRokTableView table;
    MachineRows rows(&table);
    rows.setUpColumns(false);
    const CStuInfo_PTR a = machine(1, QStringLiteral("10.0.0.1"), true);
    const CStuInfo_PTR b = machine(2, QStringLiteral("10.0.0.2"), true);
    rows.setMachines({ b, a, a });
    QCOMPARE(rows.rowCount(), 3);
    QCOMPARE(rows.rowOf(1), 0);
    QCOMPARE(rows.rowOf(2), 2);

    // A row written for another machine is found under that one only.
    rows.fill(0, b, MachineRows::AllColumns);
    QCOMPARE(rows.rowOf(1), 1);
    QCOMPARE(rows.rowOf(2), 0);
    QCOMPARE(rows.macAt(0), quint64(2));
    rows.remove(1);
    QCOMPARE(rows.rowOf(1), -1);
    QCOMPARE(rows.rowCount(), 2);
}

QTEST_MAIN(TestMachineRows)
#include "tst_machinerows.moc"
