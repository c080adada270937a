#pragma once

#include <QItemDelegate>

// Never opens an editor, so the rows or columns it is set on stay read-only
// whatever the view's edit triggers are.
class ReadOnlyDelegate final : public QItemDelegate
{
public:
    explicit ReadOnlyDelegate(QObject* parent = nullptr);
    ~ReadOnlyDelegate() override;

    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
};
