#pragma once

#include "QtRokTableViewExport.h"

#include <QHeaderView>
#include <QList>
#include <QMap>
#include <QModelIndex>
#include <QStringList>
#include <QTableView>
#include <QVariant>

class QItemSelectionModel;
class QStandardItem;
class QStandardItemModel;
class QRokColumnHeaderView;
class ReadOnlyDelegate;

// A table view that owns its item model and is driven cell by cell.
//
// User-data role r of this interface is item role Qt::UserRole + r. User role 1
// is kept by the view as a QString copy of the cell's text.
class QTROKTABLEVIEW_EXPORT QtRokTableView : public QTableView
{
    Q_OBJECT

public:
    explicit QtRokTableView(QWidget* parent = nullptr);
    ~QtRokTableView() override;

    int getRowCount() const;
    int getColumnCount() const;
    // Drops every row; columns and header texts stay.
    void clearRows();
    void removeRow(int row);

    // A cell beyond the last row or column grows the model. A negative row or
    // column is ignored.
    void setCellValue(int row, int column, int value);
    void setCellValue(int row, int column, float value);
    void setCellValue(int row, int column, double value);
    void setCellValue(int row, int column, const QString& value);
    void setCellValue(int row, int column, bool value);
    // A string literal would otherwise pick the bool overload.
    void setCellValue(int row, int column, const char* value) = delete;

    QString getCellText(int row, int column) const;
    // Only stored on a cell that already exists; never creates one.
    void setCellUserData(int row, int column, const QVariant& value, unsigned role);
    QVariant getCellUserData(int row, int column, unsigned role) const;
    void setCellWidget(int row, int column, QWidget* widget);
    QWidget* getCellWidget(int row, int column) const;

    void setColumnHeaderTextList(const QStringList& texts);
    void setColumnHeaderText(int column, const QString& text);
    QString getColumnHeaderText(int column) const;
    void setColumnHeaderVisible(bool visible);
    void setColumnHeaderHeight(int height);
    int getColumnHeaderHeight() const;

    // Applies to the column's existing cells and to cells set later.
    void setColumnAlignment(int column, int alignment);
    void setColumnFixedWidth(int column, int width);
    void setColumnResizeMode(int column, QHeaderView::ResizeMode mode);
    // Only sortable columns react to header clicks.
    void setColumnSortable(int column, bool sortable);
    bool getColumnSortable(int column) const;
    void setColumnReadonly(int column);
    void setRowReadonly(int row);
    void setEditable(bool editable);

    // Widths are kept in memory only; Stretch columns are never restored.
    void storeColumnsWidth();
    void restoreColumnsWidth();
    QList<int> getColumnsWidth() const;

    void setRowHeaderVisible(bool visible);
    void setRowHeaderWidth(int width);
    int getRowHeaderWidth() const;
    void setRowHeaderAlignment(Qt::Alignment alignment);
    void setRowDefaultHeight(int height);
    int getRowDefaultHeight() const;
    void setRowFixedHeight(int row, int height);
    void setRowHeightFixed(bool fixed);
    // 0 for a row outside the table.
    int getRowHeight(int row) const;

signals:
    // The model's row count after rows were inserted or removed.
    void row_count_changed(int nRows, QPrivateSignal);
    void currentRow_changed(const QModelIndex& current, const QModelIndex& previous);

protected:
    void init();
    // The cell's item, created empty when missing; null for a negative row or column.
    QStandardItem* getCellItem(int row, int column);
    void on_currentRow_changed(const QModelIndex& current, const QModelIndex& previous);
    void on_row_count_changed();

private:
    void storeCellValue(int row, int column, const QVariant& value, int defaultAlignment);
    void copyCellText(const QModelIndex& topLeft, const QModelIndex& bottomRight);
    ReadOnlyDelegate* readOnlyDelegate();

    QStandardItemModel* itemModel = nullptr;
    QItemSelectionModel* selModel = nullptr;
    QStringList headerTexts;
    QRokColumnHeaderView* columnHeader = nullptr;
    QMap<int, int> columnAlignments;
    QList<int> columnWidths;
    ReadOnlyDelegate* readOnly = nullptr;

    Q_DISABLE_COPY(QtRokTableView)
};
