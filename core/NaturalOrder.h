#pragma once

#include <QString>

// Names in the order people count them: runs of digits compare by their
// value, so PC-2 comes before PC-10 and PC-0002 before PC-0010; letters
// compare without regard to case. Names equal that way still get a fixed
// order (fewer leading zeros, then the plain text), so sorting is stable
// across runs.
class NaturalOrder final
{
public:
    NaturalOrder() = delete;

    // Negative, zero or positive as `a` comes before, with or after `b`;
    // zero only for equal texts.
    static int compare(const QString& a, const QString& b);
    static bool less(const QString& a, const QString& b) { return compare(a, b) < 0; }
};
