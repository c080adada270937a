#include "core/NaturalOrder.h"

namespace {

int sign(int value)
{
    return (value > 0) - (value < 0);
}

} // namespace

int NaturalOrder::compare(const QString& a, const QString& b)
{
    // The first difference that only decides between otherwise equal names.
    int zeros = 0;
    int cased = 0;
    int i = 0;
    int j = 0;
    while (i < a.size() && j < b.size()) {
        if (a.at(i).isDigit() && b.at(j).isDigit()) {
            int startA = i;
            int startB = j;
            while (startA < a.size() && a.at(startA).digitValue() == 0)
                ++startA;
            while (startB < b.size() && b.at(startB).digitValue() == 0)
                ++startB;
            int endA = startA;
            int endB = startB;
            while (endA < a.size() && a.at(endA).isDigit())
                ++endA;
            while (endB < b.size() && b.at(endB).isDigit())
                ++endB;
            // More significant digits, a larger number: no value can overflow.
            if (endA - startA != endB - startB)
                return sign((endA - startA) - (endB - startB));
            for (int k = 0; k < endA - startA; ++k) {
                const int diff = a.at(startA + k).digitValue() - b.at(startB + k).digitValue();
                if (diff != 0)
                    return sign(diff);
            }
            if (zeros == 0)
                zeros = sign((startA - i) - (startB - j));
            i = endA;
            j = endB;
            continue;
        }
        const QChar ca = a.at(i);
        const QChar cb = b.at(j);
        if (ca != cb) {
            const int diff = int(ca.toCaseFolded().unicode()) - int(cb.toCaseFolded().unicode());
            if (diff != 0)
                return sign(diff);
            if (cased == 0)
                cased = sign(int(ca.unicode()) - int(cb.unicode()));
        }
        ++i;
        ++j;
    }
    if (i < a.size() || j < b.size())
        return i < a.size() ? 1 : -1;
    if (zeros != 0)
        return zeros;
    if (cased != 0)
        return cased;
    return sign(QString::compare(a, b));
}
