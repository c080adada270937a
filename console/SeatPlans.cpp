#include "SeatPlans.h"

#include "QStudentGroupWidget.h"

SeatPlans::SeatPlans(SeatStore& store, QObject* parent)
    : QObject(parent)
    , store(store)
    , seat_map(std::make_shared<SeatPlanView::SeatMap>())
{
    *seat_map = store.loadSeats();
    seat_plan_shown = store.seatPlanShown();
}

void SeatPlans::attach(QStudentGroupWidget* page)
{
    SeatPlanView* view = page->seatPlan();
    view->setSeatMap(seat_map);
    page->setSeatPlanShown(seat_plan_shown);
    pages << page;
    connect(view, &SeatPlanView::sg_seats_moved, this,
        [this, page](const SeatPlanView::SeatMap& moved) { onSeatsMoved(page, moved); });
    connect(
        view, &SeatPlanView::sg_menu_requested, this, [this, page](quint64 mac) { emit sg_menu_requested(page, mac); });
    connect(view, &SeatPlanView::sg_tiles_dropped, this, &SeatPlans::sg_tiles_dropped);
}

void SeatPlans::setShown(bool shown)
{
    seat_plan_shown = shown;
    for (const QPointer<QStudentGroupWidget>& page : qAsConst(pages))
        if (page)
            page->setSeatPlanShown(shown);
    store.setSeatPlanShown(shown);
}

void SeatPlans::onSeatsMoved(QStudentGroupWidget* from, const SeatPlanView::SeatMap& moved)
{
    // At once: a seat is one row, and the plan is the teacher's work of a lesson.
    store.saveSeats(moved);
    for (const QPointer<QStudentGroupWidget>& page : qAsConst(pages))
        if (page && page != from)
            page->seatPlan()->invalidate();
}
