#include "policy/PolicyEntryDelegate.h"

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
    // The text accepted, whatever `accept` did to the cell's other roles
    // (a change there reloads the open editor from the old text).
    model->setData(index, text, Qt::EditRole);
}
