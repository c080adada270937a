#include "HostName.h"

#include <QVector>

#include <algorithm>
#include <iterator>

namespace {

// Not format characters, yet drawn as nothing: the combining grapheme
// joiner, Hangul fillers, Khmer inherent vowels, Mongolian variation
// selectors and the variation selectors.
bool isInvisible(uint u)
{
    return HostName::isDropped(u) || QChar::isSpace(u) || u == 0x034F || u == 0x115F || u == 0x1160
        || u == 0x17B4 || u == 0x17B5 || (u >= 0x180B && u <= 0x180D) || u == 0x3164 || u == 0xFFA0
        || (u >= 0xFE00 && u <= 0xFE0F) || (u >= 0xE0100 && u <= 0xE01EF);
}

} // namespace

bool HostName::isDropped(uint u)
{
    return u < 0x20 || (u >= 0x7F && u <= 0x9F) || u == 0x2028 || u == 0x2029
        || QChar::category(u) == QChar::Other_Format;
}

QString HostName::clean(const QString& name)
{
    QString kept;
    kept.reserve(std::min(name.size(), MaxLength));
    for (int i = 0; i < name.size(); ++i) {
        const QChar c = name.at(i);
        const bool pair = c.isHighSurrogate() && i + 1 < name.size() && name.at(i + 1).isLowSurrogate();
        const uint codePoint = pair ? QChar::surrogateToUcs4(c, name.at(i + 1)) : c.unicode();
        if (!isDropped(codePoint)) {
            if (kept.size() + (pair ? 2 : 1) > MaxLength)
                break;
            kept.append(c);
            if (pair)
                kept.append(name.at(i + 1));
        }
        if (pair)
            ++i;
    }
    return kept;
}

QString HostName::comparable(const QString& name)
{
    const QVector<uint> normal = name.normalized(QString::NormalizationForm_KC).toUcs4();
    QVector<uint> visible;
    visible.reserve(normal.size());
    std::copy_if(normal.cbegin(), normal.cend(), std::back_inserter(visible), [](uint u) { return !isInvisible(u); });
    return QString::fromUcs4(visible.constData(), visible.size()).toCaseFolded();
}
