#include "model/CStudentGroup.h"

#include <QStringList>

QString CStudentGroup::ullmacListText() const
{
    QStringList parts;
    parts.reserve(ullmac_list.size());
    for (quint64 mac : ullmac_list)
        parts << QString::number(mac);
    return parts.join(QLatin1Char(','));
}

bool CStudentGroup::isReservedName(const QString& name)
{
    return name == QStringLiteral("全部") || name == QStringLiteral("未分组");
}

QString CStudentGroup::normalisedName(QString text)
{
    text.remove(QLatin1Char('\''));
    return text.trimmed();
}

bool CStudentGroup::showsBefore(const CStudentGroup& a, const CStudentGroup& b)
{
    if (a.display_order != b.display_order)
        return a.display_order < b.display_order;
    return a.group_name < b.group_name;
}

void CStudentGroup::setUllmacListText(const QString& text)
{
    ullmac_list.clear();
    const QStringList parts = text.split(QLatin1Char(','), Qt::SkipEmptyParts);
    for (const QString& part : parts)
        ullmac_list.insert(part.toULongLong());
}
