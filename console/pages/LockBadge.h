#pragma once

#include <QIcon>
#include <QString>

class QPainter;
class QRect;

// The picture of a page's lock (Rok_Lock_State): on the page's tab and on
// its machines' tiles, so the two read alike.
class LockBadge final
{
public:
    LockBadge() = delete;

    // Null for no lock.
    static QIcon icon(int lockType);
    // The lock's name; empty for no lock.
    static QString toolTip(int lockType);
    // The icon in the square of `rect`'s height at its right end.
    static void paint(QPainter& painter, const QRect& rect, int lockType);
};
