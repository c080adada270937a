#include "MacAddress.h"

#include <QStringList>

namespace {

// Upper-case hex octets, least significant byte first, with an optional
// separator. Every table row shows a MAC, so this avoids QString::arg.
QString octets(quint64 mac, QChar separator)
{
    static const char digits[] = "0123456789ABCDEF";
    QString text;
    text.reserve(17);
    for (int i = 0; i < 6; ++i) {
        if (i > 0 && !separator.isNull())
            text += separator;
        const auto byte = static_cast<unsigned>((mac >> (8 * i)) & 0xFF);
        text += QLatin1Char(digits[byte >> 4]);
        text += QLatin1Char(digits[byte & 0xF]);
    }
    return text;
}

} // namespace

QString MacAddress::toDisplay(quint64 mac)
{
    return octets(mac, QLatin1Char(':'));
}

QString MacAddress::toCompact(quint64 mac)
{
    return octets(mac, QChar());
}
