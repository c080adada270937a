#include "core/HostName.h"

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

// Calls `take(at, units)` for each code point of `text` that is kept, until
// it returns false.
template <typename Take> void forKept(const QString& text, Take take)
{
    for (int i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        const bool pair = c.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate();
        const uint codePoint = pair ? QChar::surrogateToUcs4(c, text.at(i + 1)) : c.unicode();
        if (!HostName::isDropped(codePoint) && !take(i, pair ? 2 : 1))
            return;
        if (pair)
            ++i;
    }
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
    forKept(name, [&](int at, int units) {
        if (kept.size() + units > MaxLength)
            return false;
        kept.append(name.midRef(at, units));
        return true;
    });
    return kept;
}

int HostName::keptLength(const QString& text)
{
    int kept = 0;
    forKept(text, [&kept](int, int units) {
        kept += units;
        return true;
    });
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
