#include "PolicyEntryDelegate.h"

#include <QMetaProperty>

#include <utility>

PolicyEntryDelegate::PolicyEntryDelegate(Accept accept, QObject* parent)
    : QStyledItemDelegate(parent)
    , accept(std::move(accept))
{
}

void PolicyEntryDelegate::setModelData(QWidget* editor, QAbstractItemModel* model, const QModelIndex& index) const
{
    // The text as the editor holds it, whichever editor the factory made.
    const QMetaProperty user = editor->metaObject()->userProperty();
    const QString text = user.isValid() ? user.read(editor).toString() : QString();
    if (accept && !accept(index.row(), text))
        return;
    QStyledItemDelegate::setModelData(editor, model, index);
}
