#include "ReadOnlyDelegate.h"

ReadOnlyDelegate::ReadOnlyDelegate(QObject* parent)
    : QItemDelegate(parent)
{
}

ReadOnlyDelegate::~ReadOnlyDelegate() = default;

QWidget* ReadOnlyDelegate::createEditor(QWidget*, const QStyleOptionViewItem&, const QModelIndex&) const
{
    return nullptr;
}
