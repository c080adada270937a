#include "pages/LockBadge.h"

#include "lesson/LessonTools.h"
#include "model/Rok_Lock_State.h"

#include <QPaintDevice>
#include <QPainter>
#include <QPixmap>
#include <QPixmapCache>
#include <QRect>

namespace {

const int IconSizes[] = { 16, 32, 64 };

QString iconName(int lockType)
{
    switch (lockType) {
    case Rok_Lock_State::BlackQuiet:
        return QStringLiteral("lock-quiet");
    case Rok_Lock_State::BlackLock:
        return QStringLiteral("lock-black");
    case Rok_Lock_State::KeyboardMouseLock:
        return QStringLiteral("lock-kbdmouse");
    default:
        return QString();
    }
}

QString iconFile(const QString& name, int size)
{
    return QStringLiteral(":/RokVtxAdmin/images/%1-%2.png").arg(name).arg(size);
}

} // namespace

QIcon LockBadge::icon(int lockType)
{
    const QString name = iconName(lockType);
    QIcon icon;
    if (!name.isEmpty())
        for (const int size : IconSizes)
            icon.addFile(iconFile(name, size), QSize(size, size));
    return icon;
}

QString LockBadge::toolTip(int lockType)
{
    return lockType == Rok_Lock_State::None ? QString() : LessonTools::lockName(lockType);
}

void LockBadge::paint(QPainter& painter, const QRect& rect, int lockType)
{
    const QString name = iconName(lockType);
    const int side = rect.height();
    if (name.isEmpty() || side <= 0)
        return;
    const qreal ratio = painter.device() ? painter.device()->devicePixelRatioF() : 1.0;
    const int pixels = qRound(side * ratio);
    // Every tile of a locked room repaints its badge: scaled once per size.
    const QString key = QStringLiteral("rok-badge-%1-%2").arg(name).arg(pixels);
    QPixmap pixmap;
    if (!QPixmapCache::find(key, &pixmap)) {
        // The drawing made for the nearest size up, so small badges stay sharp.
        int file = IconSizes[2];
        for (const int size : IconSizes) {
            if (size >= pixels) {
                file = size;
                break;
            }
        }
        pixmap.load(iconFile(name, file));
        if (pixmap.isNull())
            return;
        if (pixmap.width() != pixels)
            pixmap = pixmap.scaled(pixels, pixels, Qt::KeepAspectRatio, Qt::SmoothTransformation);
        QPixmapCache::insert(key, pixmap);
    }
    painter.drawPixmap(QRect(rect.right() - side + 1, rect.top(), side, side), pixmap);
}
