#include "HostName.h"

#include <algorithm>

bool HostName::isDropped(QChar c)
{
    const ushort u = c.unicode();
    return u < 0x20 || (u >= 0x7F && u <= 0x9F) || u == 0x061C || u == 0x200E || u == 0x200F
        || (u >= 0x202A && u <= 0x202E) || (u >= 0x2066 && u <= 0x2069);
}

QString HostName::clean(const QString& name)
{
    QString kept;
    kept.reserve(std::min(name.size(), MaxLength));
    for (const QChar c : name) {
        if (isDropped(c))
            continue;
        if (kept.size() == MaxLength) {
            // More follows: a high surrogate at the end would lose its pair.
            if (kept.at(kept.size() - 1).isHighSurrogate())
                kept.chop(1);
            break;
        }
        kept.append(c);
    }
    return kept;
}
