#include "HeldPolicy.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <utility>

HeldPolicy::HeldPolicy(Protocol::PolicyContent content)
    : content_(std::move(content))
{
    QJsonArray lists;
    for (const QStringList& list : content_.lists)
        lists.append(QJsonArray::fromStringList(list));
    listsJson_ = QJsonDocument(lists).toJson(QJsonDocument::Compact);
}

const QByteArray& HeldPolicy::emptyListsJson()
{
    static const QByteArray empty = QByteArrayLiteral("[[],[],[]]");
    return empty;
}
