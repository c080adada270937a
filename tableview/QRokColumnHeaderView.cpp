#include "QRokColumnHeaderView.h"

#include <QMouseEvent>

QRokColumnHeaderView::QRokColumnHeaderView(Qt::Orientation orientation, QWidget* parent)
    : QHeaderView(orientation, parent)
{
}

QRokColumnHeaderView::~QRokColumnHeaderView() = default;

// The base header only emits sectionClicked (and flips the sort indicator)
// while sections are clickable, so switching that off for the duration of
// one event swallows the click without touching anything else.
void QRokColumnHeaderView::blockClicksUnlessSortable(const QMouseEvent* event)
{
    if (!sortableColumns.contains(logicalIndexAt(event->pos())))
        setSectionsClickable(false);
}

void QRokColumnHeaderView::mousePressEvent(QMouseEvent* event)
{
    blockClicksUnlessSortable(event);
    QHeaderView::mousePressEvent(event);
    if (!sectionsClickable())
        setSectionsClickable(true);
}

void QRokColumnHeaderView::mouseReleaseEvent(QMouseEvent* event)
{
    blockClicksUnlessSortable(event);
    QHeaderView::mouseReleaseEvent(event);
    if (!sectionsClickable())
        setSectionsClickable(true);
}
