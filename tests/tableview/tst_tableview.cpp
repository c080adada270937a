#include "tableview/QtRokTableView.h"

#include <QAbstractItemDelegate>
#include <QLabel>
#include <QSignalSpy>
#include <QStandardItemModel>
#include <QtTest>

namespace {

// Column texts in view order.
QStringList columnTexts(const QtRokTableView& view, int column)
{
    QStringList texts;
    for (int row = 0; row < view.getRowCount(); ++row)
        texts << view.getCellText(row, column);
    return texts;
}

void clickHeaderSection(QtRokTableView& view, int column)
{
    QHeaderView* header = view.horizontalHeader();
    const QPoint centre(
        header->sectionViewportPosition(column) + header->sectionSize(column) / 2, header->height() / 2);
    QTest::mouseClick(header->viewport(), Qt::LeftButton, Qt::NoModifier, centre);
}

// Exposes the editing state to the tests.
class ProbeTableView final : public QtRokTableView
{
public:
    bool isEditing() const { return state() == EditingState; }
};

} // namespace

class TableViewTest : public QObject
{
    Q_OBJECT

private slots:
    void outOfRangeCellsReadEmptyAndWriteNothing();
    void valueBeyondLastRowGrowsModel();
    void userDataNeverCreatesCell();
    void defaultAlignmentAndTextCopy_data();
    void defaultAlignmentAndTextCopy();
    void columnAlignmentAppliesToExistingAndLaterCells();
    void clearRowsKeepsHeader();
    void removeRowIgnoresRowsOutsideTable();
    void currentRowSignal();
    void headerClickSortsOnlySortableColumns_data();
    void headerClickSortsOnlySortableColumns();
    void restoreSkipsStretchAndExtraWidths();
    void rowHeightOutsideTableIsZero();
    void readOnlyDelegateRefusesEditing();
};

void TableViewTest::outOfRangeCellsReadEmptyAndWriteNothing()
{
    QtRokTableView view;
    QCOMPARE(view.getCellText(5, 0), QString());
    QCOMPARE(view.getCellText(-1, -1), QString());
    QVERIFY(!view.getCellUserData(0, 0, 1).isValid());
    QCOMPARE(view.getCellWidget(0, 0), nullptr);
    QCOMPARE(view.getColumnHeaderText(0), QString());

    QSignalSpy rows(&view, &QtRokTableView::row_count_changed);
    QLabel label;
    view.setCellWidget(3, 3, &label);
    view.setColumnHeaderText(0, QStringLiteral("x"));
    view.setCellValue(-1, 0, 7);
    view.setCellValue(0, -1, QStringLiteral("lost"));
    view.removeRow(0);
    view.setColumnFixedWidth(4, 30);
    view.setRowFixedHeight(2, 30);
    QCOMPARE(view.getRowCount(), 0);
    QCOMPARE(view.getColumnCount(), 0);
    QCOMPARE(rows.count(), 0);
}

void TableViewTest::valueBeyondLastRowGrowsModel()
{
    QtRokTableView view;
    QSignalSpy rows(&view, &QtRokTableView::row_count_changed);

    view.setCellValue(5, 0, QStringLiteral("pc-05"));

    QCOMPARE(view.getRowCount(), 6);
    QCOMPARE(view.getColumnCount(), 1);
    QCOMPARE(rows.count(), 1);
    QCOMPARE(rows.at(0).at(0).toInt(), 6);
    QCOMPARE(view.getCellText(5, 0), QStringLiteral("pc-05"));
    QCOMPARE(view.getCellText(4, 0), QString());
}

void TableViewTest::userDataNeverCreatesCell()
{
    QtRokTableView view;
    view.setColumnHeaderTextList({ QStringLiteral("a"), QStringLiteral("b") });
    view.setCellValue(0, 0, QStringLiteral("host"));

    view.setCellUserData(0, 1, QVariant(Q_UINT64_C(0x112233445566)), 5);
    view.setCellUserData(3, 0, QVariant(1), 5);
    QVERIFY(!view.getCellUserData(0, 1, 5).isValid());
    QCOMPARE(view.getRowCount(), 1);
    auto* model = qobject_cast<QStandardItemModel*>(view.model());
    QVERIFY(model);
    QCOMPARE(model->item(0, 1), nullptr);

    view.setCellUserData(0, 0, QVariant::fromValue<qulonglong>(0x112233445566), 5);
    QCOMPARE(view.getCellUserData(0, 0, 5).toULongLong(), Q_UINT64_C(0x112233445566));
    QCOMPARE(model->item(0, 0)->data(Qt::UserRole + 5).toULongLong(), Q_UINT64_C(0x112233445566));
}

void TableViewTest::defaultAlignmentAndTextCopy_data()
{
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<int>("alignment");
    QTest::addColumn<QString>("text");

    QTest::newRow("int") << QVariant(42) << 0x82 << QStringLiteral("42");
    QTest::newRow("double") << QVariant(2.5) << 0x82 << QStringLiteral("2.5");
    QTest::newRow("float") << QVariant(0.5f) << 0x82 << QStringLiteral("0.5");
    QTest::newRow("text") << QVariant(QStringLiteral("在线")) << 0x81 << QStringLiteral("在线");
    QTest::newRow("bool") << QVariant(true) << 0x84 << QStringLiteral("true");
}

void TableViewTest::defaultAlignmentAndTextCopy()
{
    QFETCH(QVariant, value);
    QFETCH(int, alignment);
    QFETCH(QString, text);

    QtRokTableView view;
    switch (value.userType()) {
    case QMetaType::Int:
        view.setCellValue(0, 0, value.toInt());
        break;
    case QMetaType::Double:
        view.setCellValue(0, 0, value.toDouble());
        break;
    case QMetaType::Float:
        view.setCellValue(0, 0, value.toFloat());
        break;
    case QMetaType::Bool:
        view.setCellValue(0, 0, value.toBool());
        break;
    default:
        view.setCellValue(0, 0, value.toString());
        break;
    }

    const QModelIndex index = view.model()->index(0, 0);
    QCOMPARE(index.data(Qt::TextAlignmentRole).toInt(), alignment);
    QCOMPARE(index.data(Qt::DisplayRole).userType(), value.userType());
    QCOMPARE(view.getCellText(0, 0), text);
    const QVariant copy = view.getCellUserData(0, 0, 1);
    QCOMPARE(copy.userType(), int(QMetaType::QString));
    QCOMPARE(copy.toString(), text);
}

void TableViewTest::columnAlignmentAppliesToExistingAndLaterCells()
{
    QtRokTableView view;
    view.setColumnHeaderTextList({ QStringLiteral("a"), QStringLiteral("b") });
    view.setCellValue(0, 1, QStringLiteral("before"));
    view.setCellValue(1, 0, 1);

    view.setColumnAlignment(1, 0x84);
    view.setCellValue(2, 1, QStringLiteral("after"));
    view.setCellValue(3, 1, 17);

    const QAbstractItemModel* model = view.model();
    for (int row : { 0, 2, 3 })
        QCOMPARE(model->index(row, 1).data(Qt::TextAlignmentRole).toInt(), 0x84);
    // Other columns keep their defaults, and no cell was created in column 1 of row 1.
    QCOMPARE(model->index(1, 0).data(Qt::TextAlignmentRole).toInt(), 0x82);
    QVERIFY(!model->index(1, 1).data(Qt::TextAlignmentRole).isValid());
}

void TableViewTest::clearRowsKeepsHeader()
{
    QtRokTableView view;
    view.setColumnHeaderTextList({ QStringLiteral("a"), QStringLiteral("b") });
    view.setCellValue(2, 1, 3);
    QSignalSpy rows(&view, &QtRokTableView::row_count_changed);

    view.clearRows();

    QCOMPARE(rows.count(), 1);
    QCOMPARE(rows.at(0).at(0).toInt(), 0);
    QCOMPARE(view.getRowCount(), 0);
    QCOMPARE(view.getColumnCount(), 2);
    QCOMPARE(view.getColumnHeaderText(1), QStringLiteral("b"));
}

void TableViewTest::removeRowIgnoresRowsOutsideTable()
{
    QtRokTableView view;
    for (int row = 0; row < 3; ++row)
        view.setCellValue(row, 0, row);
    QSignalSpy rows(&view, &QtRokTableView::row_count_changed);

    view.removeRow(3);
    view.removeRow(-1);
    QCOMPARE(rows.count(), 0);

    view.removeRow(1);
    QCOMPARE(rows.count(), 1);
    QCOMPARE(rows.at(0).at(0).toInt(), 2);
    QCOMPARE(columnTexts(view, 0), QStringList({ QStringLiteral("0"), QStringLiteral("2") }));
}

void TableViewTest::currentRowSignal()
{
    QtRokTableView view;
    for (int row = 0; row < 3; ++row)
        view.setCellValue(row, 0, row);
    QSignalSpy current(&view, &QtRokTableView::currentRow_changed);

    view.setCurrentIndex(view.model()->index(2, 0));
    QCOMPARE(current.count(), 1);
    QCOMPARE(current.at(0).at(0).value<QModelIndex>().row(), 2);
    QVERIFY(!current.at(0).at(1).value<QModelIndex>().isValid());
    QCOMPARE(view.selectionModel()->selectedRows().count(), 1);
}

void TableViewTest::headerClickSortsOnlySortableColumns_data()
{
    QTest::addColumn<int>("column");
    QTest::addColumn<bool>("sorts");

    QTest::newRow("column 0") << 0 << false;
    QTest::newRow("column 1") << 1 << false;
    QTest::newRow("column 2") << 2 << true;
}

void TableViewTest::headerClickSortsOnlySortableColumns()
{
    QFETCH(int, column);
    QFETCH(bool, sorts);

    QtRokTableView view;
    view.setColumnHeaderTextList({ QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c") });
    // Each column sorts the rows differently.
    const QStringList rows[] = { { "b", "z", "2" }, { "c", "x", "3" }, { "a", "y", "1" } };
    for (int row = 0; row < 3; ++row)
        for (int col = 0; col < 3; ++col)
            view.setCellValue(row, col, rows[row][col]);
    view.setSortingEnabled(true);
    view.sortByColumn(1, Qt::AscendingOrder);
    view.setColumnSortable(2, true);
    view.resize(400, 200);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));

    QHeaderView* header = view.horizontalHeader();
    const QStringList before = columnTexts(view, 1);
    clickHeaderSection(view, column);

    QVERIFY(header->sectionsClickable());
    if (!sorts) {
        QCOMPARE(header->sortIndicatorSection(), 1);
        QCOMPARE(header->sortIndicatorOrder(), Qt::AscendingOrder);
        QCOMPARE(columnTexts(view, 1), before);
        return;
    }
    QCOMPARE(header->sortIndicatorSection(), column);
    QStringList expected = columnTexts(view, column);
    std::sort(expected.begin(), expected.end());
    if (header->sortIndicatorOrder() == Qt::DescendingOrder)
        std::reverse(expected.begin(), expected.end());
    QCOMPARE(columnTexts(view, column), expected);
    QVERIFY(columnTexts(view, 1) != before);
}

void TableViewTest::restoreSkipsStretchAndExtraWidths()
{
    QtRokTableView view;
    view.setColumnHeaderTextList({ QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c") });
    view.setColumnResizeMode(2, QHeaderView::Stretch);
    view.resize(400, 200);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    view.setColumnWidth(0, 50);
    view.setColumnWidth(1, 60);

    view.storeColumnsWidth();
    const QList<int> stored = view.getColumnsWidth();
    QCOMPARE(stored.size(), 3);
    QCOMPARE(stored.mid(0, 2), QList<int>({ 50, 60 }));

    view.setColumnWidth(0, 90);
    view.setColumnWidth(1, 100);
    view.resize(600, 200);
    QTRY_VERIFY(view.columnWidth(2) != stored.at(2));
    QSignalSpy resized(view.horizontalHeader(), &QHeaderView::sectionResized);

    view.restoreColumnsWidth();
    QCOMPARE(view.columnWidth(0), 50);
    QCOMPARE(view.columnWidth(1), 60);
    for (const QList<QVariant>& args : resized)
        QVERIFY2(args.at(0).toInt() != 2 || args.at(2).toInt() != stored.at(2), "stretch column set by hand");

    // More stored widths than columns: only the existing ones are set.
    view.setColumnHeaderTextList({ QStringLiteral("a"), QStringLiteral("b") });
    view.setColumnWidth(0, 80);
    view.restoreColumnsWidth();
    QCOMPARE(view.columnWidth(0), 50);
    QCOMPARE(view.getColumnCount(), 2);
    QCOMPARE(view.getColumnsWidth(), stored);
}

void TableViewTest::rowHeightOutsideTableIsZero()
{
    QtRokTableView view;
    QCOMPARE(view.getRowHeight(0), 0);
    view.setRowDefaultHeight(20);
    view.setCellValue(1, 0, 1);
    QCOMPARE(view.getRowHeight(-1), 0);
    QCOMPARE(view.getRowHeight(view.getRowCount()), 0);
    QCOMPARE(view.getRowHeight(0), 20);
    view.setRowFixedHeight(1, 33);
    QCOMPARE(view.getRowHeight(1), 33);
}

void TableViewTest::readOnlyDelegateRefusesEditing()
{
    ProbeTableView view;
    view.setColumnHeaderTextList({ QStringLiteral("a"), QStringLiteral("b") });
    for (int row = 0; row < 2; ++row) {
        view.setCellValue(row, 0, QStringLiteral("text"));
        view.setCellValue(row, 1, 1);
    }
    view.setEditable(true);
    QCOMPARE(int(view.editTriggers()), 31);
    view.setColumnReadonly(1);
    view.setRowReadonly(1);
    QVERIFY(!view.isEditing());

    const QAbstractItemModel* model = view.model();
    QStyleOptionViewItem option;
    QCOMPARE(view.itemDelegateForColumn(1)->createEditor(view.viewport(), option, model->index(0, 1)), nullptr);

    view.edit(model->index(0, 1));
    QVERIFY(!view.isEditing());
    view.edit(model->index(1, 0));
    QVERIFY(!view.isEditing());
    view.edit(model->index(0, 0));
    QVERIFY(view.isEditing());

    view.setEditable(false);
    QCOMPARE(int(view.editTriggers()), 0);
}

QTEST_MAIN(TableViewTest)
#include "tst_tableview.moc"
