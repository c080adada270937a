#pragma once

#include <QString>
#include <QtGlobal>

// Text forms of the 64-bit MAC key. The least significant byte is the first
// octet shown; the upper 16 bits are never shown.
namespace MacAddress {

// The largest key a datagram may carry: six bytes make a MAC, and a key with
// other upper bytes would pass for a second PC of the same MAC text.
constexpr quint64 MaxKey = 0xFFFFFFFFFFFFULL;

// "00:11:22:33:44:55"
QString toDisplay(quint64 mac);
// The display form without separators, the key the tables sort on.
QString toCompact(quint64 mac);
// Reads the display form back; '-' or no separator and lower case are taken
// as well. False for anything else and for the all-zero address.
bool fromDisplay(const QString& text, quint64* mac);

} // namespace MacAddress
