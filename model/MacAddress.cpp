#include "model/MacAddress.h"

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

bool MacAddress::fromDisplay(const QString& text, quint64* mac)
{
    QString digits = text.trimmed();
    if (digits.size() == 17) {
        const QChar separator = digits.at(2);
        if (separator != QLatin1Char(':') && separator != QLatin1Char('-'))
            return false;
        for (int i = 2; i < 17; i += 3)
            if (digits.at(i) != separator)
                return false;
        digits.remove(separator);
    }
    if (digits.size() != 12)
        return false;
    quint64 value = 0;
    for (int i = 0; i < 6; ++i) {
        bool ok = false;
        const quint64 byte = digits.mid(2 * i, 2).toUInt(&ok, 16);
        // toUInt also takes a sign or a space; only two hex digits will do.
        if (!ok || !digits.at(2 * i).isLetterOrNumber() || !digits.at(2 * i + 1).isLetterOrNumber())
            return false;
        value |= byte << (8 * i);
    }
    if (value == 0)
        return false;
    *mac = value;
    return true;
}
