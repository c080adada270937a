#pragma once

#include <QStyledItemDelegate>

#include <functional>

// Edits the text of a process-watch entry in place, and writes the typed text
// into the list only when `accept` agrees; a refused edit leaves the entry as
// it was.
class PolicyEntryDelegate final : public QStyledItemDelegate
{
    Q_OBJECT

public:
    using Accept = std::function<bool(int row, const QString& text)>;

    PolicyEntryDelegate(Accept accept, QObject* parent);

    void setModelData(QWidget* editor, QAbstractItemModel* model, const QModelIndex& index) const override;

private:
    Accept accept;
};
