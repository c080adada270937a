#include "MacAddress.h"

#include <QStringList>

namespace {

QStringList octets(quint64 mac)
{
    QStringList parts;
    for (int i = 0; i < 6; ++i)
        parts << QString("%1").arg((mac >> (8 * i)) & 0xFF, 2, 16, QLatin1Char('0'));
    return parts;
}

} // namespace

QString MacAddress::toDisplay(quint64 mac)
{
    return octets(mac).join(QLatin1Char(':')).toUpper();
}

QString MacAddress::toCompact(quint64 mac)
{
    return octets(mac).join(QString()).toUpper();
}
