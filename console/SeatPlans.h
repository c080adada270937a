#pragma once

#include "SeatPlanView.h"
#include "SeatStore.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <memory>

class QStudentGroupWidget;

// The seat plans of all pages: one map of seats shared by them, kept in the
// database as the teacher moves tiles, and whether the pages show the plan
// instead of their tables.
class SeatPlans final : public QObject
{
    Q_OBJECT

public:
    // Reads the seats and the choice of view; without an open store the
    // plan still works, for this run only.
    explicit SeatPlans(SeatStore& store, QObject* parent = nullptr);

    void attach(QStudentGroupWidget* page);

    bool shown() const { return seat_plan_shown; }
    void setShown(bool shown);
    const SeatPlanView::SeatMap& seats() const { return *seat_map; }

signals:
    void sg_menu_requested(QStudentGroupWidget* page, quint64 mac);
    void sg_tiles_dropped(const QList<quint64>& macs, const QPoint& globalPos);

private:
    void onSeatsMoved(QStudentGroupWidget* from, const SeatPlanView::SeatMap& moved);

    SeatStore& store;
    std::shared_ptr<SeatPlanView::SeatMap> seat_map;
    QList<QPointer<QStudentGroupWidget>> pages;
    bool seat_plan_shown = false;
};
