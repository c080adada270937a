#pragma once

#include <QChar>
#include <QString>

// What a student machine may call itself on the console. The name comes from
// the machine's own datagram: hidden characters could make one machine pass
// for another in the lists and the CSV export, and a long name would crowd
// the pages and the database.
class HostName final
{
public:
    HostName() = delete;

    // UTF-16 units kept of a name.
    static constexpr int MaxLength = 64;

    // Control characters (C0, DEL, C1) and bidirectional formatting characters.
    static bool isDropped(QChar c);
    // The name without dropped characters, cut to MaxLength units; a
    // surrogate pair that the cut would halve goes whole.
    static QString clean(const QString& name);
};
