#include "CStudentGroup.h"

#include <QStringList>

QString CStudentGroup::ullmacListText() const
{
    QStringList parts;
    parts.reserve(ullmac_list.size());
    for (quint64 mac : ullmac_list)
        parts << QString::number(mac);
    return parts.join(QLatin1Char(','));
}

void CStudentGroup::setUllmacListText(const QString& text)
{
    ullmac_list.clear();
    const QStringList parts = text.split(QLatin1Char(','), Qt::SkipEmptyParts);
    for (const QString& part : parts)
        ullmac_list.insert(part.toULongLong());
}
