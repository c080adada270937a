#include "QtRokTableView.h"

#include "QRokColumnHeaderView.h"
#include "ReadOnlyDelegate.h"

#include <QItemSelectionModel>
#include <QStandardItem>
#include <QStandardItemModel>

namespace {

constexpr int TextCopyRole = Qt::UserRole + 1;

constexpr int NumberAlignment = Qt::AlignRight | Qt::AlignVCenter; // 0x82
constexpr int TextAlignment = Qt::AlignLeft | Qt::AlignVCenter; // 0x81
constexpr int BoolAlignment = Qt::AlignCenter; // 0x84

int userRole(unsigned role)
{
    return Qt::UserRole + static_cast<int>(role);
}

} // namespace

QtRokTableView::QtRokTableView(QWidget* parent)
    : QTableView(parent)
{
    init();
}

QtRokTableView::~QtRokTableView() = default;

void QtRokTableView::init()
{
    itemModel = new QStandardItemModel(this);
    // Ctrl, Shift and Ctrl+A pick several rows for one command.
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);

    setModel(itemModel);
    // setModel made a selection model of its own; Qt leaves replacing and
    // deleting it to us.
    QItemSelectionModel* initialSelection = selectionModel();
    selModel = new QItemSelectionModel(itemModel, this);
    setSelectionModel(selModel);
    if (initialSelection != selModel)
        delete initialSelection;

    columnHeader = new QRokColumnHeaderView(Qt::Horizontal, this);
    // A header made by hand starts unclickable, unlike the one QTableView
    // makes for itself; sortable columns must behave as in a plain table.
    columnHeader->setSectionsClickable(true);
    columnHeader->setHighlightSections(true);
    setHorizontalHeader(columnHeader);

    connect(itemModel, &QAbstractItemModel::rowsInserted, this, &QtRokTableView::on_row_count_changed);
    connect(itemModel, &QAbstractItemModel::rowsRemoved, this, &QtRokTableView::on_row_count_changed);
    connect(selModel, &QItemSelectionModel::currentRowChanged, this, &QtRokTableView::on_currentRow_changed);
    connect(itemModel, &QAbstractItemModel::dataChanged, this, &QtRokTableView::copyCellText);
}

void QtRokTableView::on_row_count_changed()
{
    emit row_count_changed(itemModel->rowCount(), QPrivateSignal());
}

void QtRokTableView::on_currentRow_changed(const QModelIndex& current, const QModelIndex& previous)
{
    emit currentRow_changed(current, previous);
}

// Only the cell at the top-left's row and the bottom-right's column is
// refreshed; every writer in this class changes one cell at a time.
void QtRokTableView::copyCellText(const QModelIndex& topLeft, const QModelIndex& bottomRight)
{
    if (topLeft.parent().isValid())
        return;
    QStandardItem* item = itemModel->item(topLeft.row(), bottomRight.column());
    if (!item)
        return;
    const QString text = item->text();
    const QVariant stored = item->data(TextCopyRole);
    // Writing the copy reports another change; stop once it is in place.
    if (stored.userType() == QMetaType::QString && stored.toString() == text)
        return;
    item->setData(text, TextCopyRole);
}

QStandardItem* QtRokTableView::getCellItem(int row, int column)
{
    // The model would silently refuse (and leak) an item at a negative place.
    if (row < 0 || column < 0)
        return nullptr;
    QStandardItem* item = itemModel->item(row, column);
    if (!item) {
        item = new QStandardItem;
        itemModel->setItem(row, column, item);
    }
    return item;
}

ReadOnlyDelegate* QtRokTableView::readOnlyDelegate()
{
    // One delegate serves every protected row and column; repeated calls
    // would otherwise pile up idle delegates for the view's lifetime.
    if (!readOnly)
        readOnly = new ReadOnlyDelegate(this);
    return readOnly;
}

int QtRokTableView::getRowCount() const
{
    return itemModel->rowCount();
}

int QtRokTableView::getColumnCount() const
{
    return itemModel->columnCount();
}

void QtRokTableView::clearRows()
{
    itemModel->setRowCount(0);
}

void QtRokTableView::removeRow(int row)
{
    if (row < 0 || row >= itemModel->rowCount())
        return;
    itemModel->removeRow(row);
}

void QtRokTableView::storeCellValue(int row, int column, const QVariant& value, int defaultAlignment)
{
    QStandardItem* item = getCellItem(row, column);
    if (!item)
        return;
    item->setData(value, Qt::EditRole);
    item->setData(value, Qt::DisplayRole);
    item->setData(columnAlignments.value(column, defaultAlignment), Qt::TextAlignmentRole);
    // Replaced by the text copy as soon as the model reports the change.
    item->setData(value, TextCopyRole);
}

void QtRokTableView::setCellValue(int row, int column, int value)
{
    storeCellValue(row, column, QVariant(value), NumberAlignment);
}

void QtRokTableView::setCellValue(int row, int column, float value)
{
    storeCellValue(row, column, QVariant(value), NumberAlignment);
}

void QtRokTableView::setCellValue(int row, int column, double value)
{
    storeCellValue(row, column, QVariant(value), NumberAlignment);
}

void QtRokTableView::setCellValue(int row, int column, const QString& value)
{
    storeCellValue(row, column, QVariant(value), TextAlignment);
}

void QtRokTableView::setCellValue(int row, int column, bool value)
{
    storeCellValue(row, column, QVariant(value), BoolAlignment);
}

QString QtRokTableView::getCellText(int row, int column) const
{
    const QStandardItem* item = itemModel->item(row, column);
    return item ? item->text() : QString();
}

void QtRokTableView::setCellUserData(int row, int column, const QVariant& value, unsigned role)
{
    if (QStandardItem* item = itemModel->item(row, column))
        item->setData(value, userRole(role));
}

QVariant QtRokTableView::getCellUserData(int row, int column, unsigned role) const
{
    const QStandardItem* item = itemModel->item(row, column);
    return item ? item->data(userRole(role)) : QVariant();
}

void QtRokTableView::setCellWidget(int row, int column, QWidget* widget)
{
    const QModelIndex index = itemModel->index(row, column);
    if (index.isValid())
        setIndexWidget(index, widget);
}

QWidget* QtRokTableView::getCellWidget(int row, int column) const
{
    const QModelIndex index = itemModel->index(row, column);
    return index.isValid() ? indexWidget(index) : nullptr;
}

void QtRokTableView::setColumnHeaderTextList(const QStringList& texts)
{
    headerTexts = texts;
    itemModel->setColumnCount(texts.size());
    for (int column = 0; column < texts.size(); ++column)
        itemModel->setHeaderData(column, Qt::Horizontal, texts.at(column), Qt::EditRole);
}

void QtRokTableView::setColumnHeaderText(int column, const QString& text)
{
    if (column < 0 || column >= itemModel->columnCount())
        return;
    itemModel->setHeaderData(column, Qt::Horizontal, text, Qt::EditRole);
}

QString QtRokTableView::getColumnHeaderText(int column) const
{
    if (column < 0 || column >= itemModel->columnCount())
        return QString();
    return itemModel->headerData(column, Qt::Horizontal, Qt::DisplayRole).toString();
}

void QtRokTableView::setColumnHeaderVisible(bool visible)
{
    horizontalHeader()->setVisible(visible);
}

void QtRokTableView::setColumnHeaderHeight(int height)
{
    horizontalHeader()->setFixedHeight(height);
}

int QtRokTableView::getColumnHeaderHeight() const
{
    return horizontalHeader()->height();
}

void QtRokTableView::setColumnAlignment(int column, int alignment)
{
    columnAlignments.insert(column, alignment);
    const int rows = itemModel->rowCount();
    for (int row = 0; row < rows; ++row) {
        if (QStandardItem* item = itemModel->item(row, column))
            item->setData(alignment, Qt::TextAlignmentRole);
    }
    if (rows > 0)
        viewport()->update();
}

// The header only knows sections the model has; a column outside it is
// ignored rather than handed to QHeaderView, which asserts on it.
void QtRokTableView::setColumnFixedWidth(int column, int width)
{
    if (column < 0 || column >= horizontalHeader()->count())
        return;
    horizontalHeader()->setSectionResizeMode(column, QHeaderView::Fixed);
    setColumnWidth(column, width);
}

void QtRokTableView::setColumnResizeMode(int column, QHeaderView::ResizeMode mode)
{
    if (column < 0 || column >= horizontalHeader()->count())
        return;
    horizontalHeader()->setSectionResizeMode(column, mode);
}

void QtRokTableView::setColumnSortable(int column, bool sortable)
{
    if (sortable)
        columnHeader->sortableColumns.insert(column);
    else
        columnHeader->sortableColumns.remove(column);
}

bool QtRokTableView::getColumnSortable(int column) const
{
    return columnHeader->sortableColumns.contains(column);
}

void QtRokTableView::setColumnReadonly(int column)
{
    setItemDelegateForColumn(column, readOnlyDelegate());
}

void QtRokTableView::setRowReadonly(int row)
{
    setItemDelegateForRow(row, readOnlyDelegate());
}

void QtRokTableView::setEditable(bool editable)
{
    setEditTriggers(editable ? QAbstractItemView::AllEditTriggers : QAbstractItemView::NoEditTriggers);
}

void QtRokTableView::storeColumnsWidth()
{
    columnWidths.clear();
    const int columns = itemModel->columnCount();
    for (int column = 0; column < columns; ++column)
        columnWidths.append(columnWidth(column));
}

void QtRokTableView::restoreColumnsWidth()
{
    const int n = qMin(columnWidths.size(), itemModel->columnCount());
    for (int column = 0; column < n; ++column) {
        if (horizontalHeader()->sectionResizeMode(column) != QHeaderView::Stretch)
            setColumnWidth(column, columnWidths.at(column));
    }
}

QList<int> QtRokTableView::getColumnsWidth() const
{
    return columnWidths;
}

void QtRokTableView::setRowHeaderVisible(bool visible)
{
    verticalHeader()->setVisible(visible);
}

void QtRokTableView::setRowHeaderWidth(int width)
{
    verticalHeader()->setFixedWidth(width);
}

int QtRokTableView::getRowHeaderWidth() const
{
    return verticalHeader()->width();
}

void QtRokTableView::setRowHeaderAlignment(Qt::Alignment alignment)
{
    verticalHeader()->setDefaultAlignment(alignment);
}

// QHeaderView silently raises a default size below its font-derived minimum;
// a height asked for explicitly should be the height the rows get.
void QtRokTableView::setRowDefaultHeight(int height)
{
    if (height >= 0 && height < verticalHeader()->minimumSectionSize())
        verticalHeader()->setMinimumSectionSize(height);
    verticalHeader()->setDefaultSectionSize(height);
}

int QtRokTableView::getRowDefaultHeight() const
{
    return verticalHeader()->defaultSectionSize();
}

void QtRokTableView::setRowFixedHeight(int row, int height)
{
    if (row < 0 || row >= verticalHeader()->count())
        return;
    verticalHeader()->setSectionResizeMode(row, QHeaderView::Fixed);
    setRowHeight(row, height);
}

void QtRokTableView::setRowHeightFixed(bool fixed)
{
    verticalHeader()->setSectionResizeMode(fixed ? QHeaderView::Fixed : QHeaderView::Interactive);
}

int QtRokTableView::getRowHeight(int row) const
{
    if (row < 0 || row >= itemModel->rowCount())
        return 0;
    return rowHeight(row);
}
