// Where tiles sit and where a move puts them, as tables without a window.
// Machines are pc-1 ... by MAC 1 ...; cells are written "mac@x,y".

#include "core/SeatLayout.h"

#include <QtTest>

namespace {

SeatLayout::SeatMap cellsOf(const QString& text)
{
    SeatLayout::SeatMap cells;
    for (const QString& entry : text.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        const QStringList parts = entry.split(QRegularExpression(QStringLiteral("[@,]")));
        cells.insert(parts[0].toULongLong(), QPoint(parts[1].toInt(), parts[2].toInt()));
    }
    return cells;
}

QList<quint64> macsOf(const QString& text)
{
    QList<quint64> macs;
    for (const QString& mac : text.split(QLatin1Char(' '), Qt::SkipEmptyParts))
        macs << mac.toULongLong();
    return macs;
}

// Rows of the page in the order given, each named by its host.
QVector<SeatLayout::Machine> rowsOf(const QStringList& hosts)
{
    QVector<SeatLayout::Machine> machines;
    for (const QString& host : hosts)
        machines.append({ quint64(machines.size() + 1), host });
    return machines;
}

QVector<SeatLayout::Machine> rowsOf(int count)
{
    QStringList hosts;
    for (int i = 1; i <= count; ++i)
        hosts << QStringLiteral("pc-%1").arg(i);
    return rowsOf(hosts);
}

QString cellsText(const SeatLayout& layout, int count)
{
    QStringList cells;
    for (quint64 mac = 1; mac <= quint64(count); ++mac) {
        const QPoint cell = layout.cellOf(mac);
        cells << QStringLiteral("%1@%2,%3").arg(mac).arg(cell.x()).arg(cell.y());
    }
    return cells.join(QLatin1Char(' '));
}

} // namespace

class TestSeatLayout : public QObject
{
    Q_OBJECT

private slots:
    void place_data();
    void place();
    void move_data();
    void move();
    void snapped_data();
    void snapped();
};

void TestSeatLayout::place_data()
{
    QTest::addColumn<QStringList>("hosts");
    QTest::addColumn<QString>("seats");
    QTest::addColumn<QString>("cells");
    QTest::addColumn<QSize>("extent");

    const QStringList ten { "pc-10", "pc-9", "pc-8", "pc-7", "pc-6", "pc-5", "pc-4", "pc-3", "pc-2", "pc-1" };
    QTest::newRow("no seats: natural order of names, eight to a row")
        << ten << QString()
        << "1@1,1 2@0,1 3@7,0 4@6,0 5@5,0 6@4,0 7@3,0 8@2,0 9@1,0 10@0,0" << QSize(8, 2);
    QTest::newRow("a seat is kept, and the free cells go round it")
        << QStringList { "pc-1", "pc-2", "pc-3" } << "3@0,0" << "1@1,0 2@2,0 3@0,0" << QSize(8, 1);
    QTest::newRow("a seat an earlier row holds: the later machine goes to a free cell")
        << QStringList { "pc-1", "pc-2", "pc-3" } << "1@2,0 3@2,0" << "1@2,0 2@0,0 3@1,0" << QSize(8, 1);
    QTest::newRow("a far seat: the room grows to hold it")
        << QStringList { "pc-1", "pc-2" } << "2@30,7" << "1@0,0 2@30,7" << QSize(31, 8);
    QTest::newRow("the seat of a machine on no row holds no cell")
        << QStringList { "pc-1", "pc-2" } << "9@0,0 2@1,0" << "1@0,0 2@1,0" << QSize(8, 1);
    QTest::newRow("names that sort alike keep their row order")
        << QStringList { "b", "a", "b" } << QString() << "1@1,0 2@0,0 3@2,0" << QSize(8, 1);
}

void TestSeatLayout::place()
{
    QFETCH(QStringList, hosts);
    QFETCH(QString, seats);
    QFETCH(QString, cells);
    QFETCH(QSize, extent);

    SeatLayout layout;
    layout.place(rowsOf(hosts), cellsOf(seats));
    QCOMPARE(layout.count(), hosts.size());
    QCOMPARE(cellsText(layout, hosts.size()), cells);
    for (int i = 0; i < layout.count(); ++i)
        QCOMPARE(layout.indexAt(layout.cellAt(i)), i);
    QCOMPARE(layout.extent(), extent);
    QCOMPARE(layout.indexOf(99), -1);
    QCOMPARE(layout.cellOf(99), QPoint(-1, -1));
}

void TestSeatLayout::move_data()
{
    // Three machines pc-1 ... pc-3; without seats they sit at (0,0), (1,0), (2,0).
    QTest::addColumn<QString>("seats");
    QTest::addColumn<QString>("moving");
    QTest::addColumn<QPoint>("offset");
    QTest::addColumn<bool>("wholeRoom");
    QTest::addColumn<QString>("stored"); // empty: refused
    QTest::addColumn<QSize>("extent");

    QTest::newRow("one tile into a free cell") << QString() << "1" << QPoint(0, 1) << false << "1@0,1" << QSize(8, 2);
    QTest::newRow("a group's room: the tiles in free cells get their seats")
        << QString() << "1" << QPoint(0, 1) << true << "1@0,1 2@1,0 3@2,0" << QSize(8, 2);
    QTest::newRow("a group's room: seats already stored are not written again")
        << "2@1,0" << "1" << QPoint(0, 1) << true << "1@0,1 3@2,0" << QSize(8, 2);
    QTest::newRow("dropped on another tile: the two swap")
        << QString() << "1" << QPoint(2, 0) << false << "1@2,0 3@0,0" << QSize(8, 1);
    QTest::newRow("a group onto a tile not moving: refused")
        << QString() << "1 2" << QPoint(1, 0) << false << QString() << QSize(8, 1);
    QTest::newRow("a group into cells of its own") << "3@5,5" << "1 2" << QPoint(1, 0) << false << "1@1,0 2@2,0"
                                                   << QSize(8, 6);
    QTest::newRow("stopped by the left wall as one block")
        << "2@3,1 3@4,1" << "2 3" << QPoint(-9, 0) << false << "2@0,1 3@1,1" << QSize(8, 2);
    QTest::newRow("stopped by the top wall, sideways still")
        << "2@1,2" << "2" << QPoint(2, -5) << false << "2@3,0" << QSize(8, 1);
    QTest::newRow("against the wall already: refused")
        << QString() << "1" << QPoint(-1, -1) << false << QString() << QSize(8, 1);
    QTest::newRow("no offset: refused") << QString() << "1" << QPoint(0, 0) << true << QString() << QSize(8, 1);
    QTest::newRow("a machine without a tile: refused")
        << QString() << "9" << QPoint(0, 1) << true << QString() << QSize(8, 1);
    QTest::newRow("past the right edge: the room grows")
        << QString() << "3 9" << QPoint(9, 0) << false << "3@11,0" << QSize(12, 1);
}

void TestSeatLayout::move()
{
    QFETCH(QString, seats);
    QFETCH(QString, moving);
    QFETCH(QPoint, offset);
    QFETCH(bool, wholeRoom);
    QFETCH(QString, stored);
    QFETCH(QSize, extent);

    SeatLayout layout;
    layout.place(rowsOf(3), cellsOf(seats));
    SeatLayout::SeatMap cells;
    for (quint64 mac = 1; mac <= 3; ++mac)
        cells.insert(mac, layout.cellOf(mac));
    const SeatLayout::SeatMap expected = cellsOf(stored);

    QCOMPARE(layout.move(macsOf(moving), offset, cellsOf(seats), wholeRoom), expected);
    for (auto it = expected.cbegin(); it != expected.cend(); ++it)
        cells.insert(it.key(), it.value());
    for (quint64 mac = 1; mac <= 3; ++mac) {
        QCOMPARE(layout.cellOf(mac), cells.value(mac));
        QCOMPARE(layout.indexAt(cells.value(mac)), layout.indexOf(mac));
    }
    QCOMPARE(layout.extent(), extent);
}

void TestSeatLayout::snapped_data()
{
    QTest::addColumn<QPoint>("shift");
    QTest::addColumn<QPoint>("cells");

    // Cells of 106 x 66 pixels, as at 100 %.
    QTest::newRow("still") << QPoint(0, 0) << QPoint(0, 0);
    QTest::newRow("short of half a cell") << QPoint(52, -32) << QPoint(0, 0);
    QTest::newRow("past half a cell") << QPoint(54, -34) << QPoint(1, -1);
    QTest::newRow("off the grid, to the nearest") << QPoint(3 * 106 + 20, 2 * 66 - 15) << QPoint(3, 2);
    QTest::newRow("left and up") << QPoint(-250, -140) << QPoint(-2, -2);
}

void TestSeatLayout::snapped()
{
    QFETCH(QPoint, shift);
    QFETCH(QPoint, cells);
    QCOMPARE(SeatLayout::snapped(shift, QSize(106, 66)), cells);
}

QTEST_GUILESS_MAIN(TestSeatLayout)
#include "tst_seatlayout.moc"
