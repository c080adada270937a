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

    // Control characters (C0, DEL, C1), format characters (Unicode Cf: the
    // bidirectional controls, zero-width characters, the byte order mark,
    // tags) and the line and paragraph separators.
    static bool isDropped(uint codePoint);
    static bool isDropped(QChar c) { return isDropped(uint(c.unicode())); }
    // The name without dropped characters, cut to MaxLength units; a
    // surrogate pair that the cut would halve goes whole.
    static QString clean(const QString& name);
    // UTF-16 units clean() would keep of `text`, uncut.
    static int keptLength(const QString& text);
    // The name as two names are compared for looking alike: compatibility
    // normalised (NFKC: full-width "ＰＣ０１" reads "PC01"), without
    // invisible characters and white space, case folded. Never shown.
    static QString comparable(const QString& name);
};
