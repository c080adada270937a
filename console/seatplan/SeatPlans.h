#pragma once

#include "seatplan/SeatPlanView.h"
#include "storage/SeatStore.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <memory>

class PageDirectory;
class QStudentGroupWidget;
class QStudentManage;
class ConsoleCore;
class WindowParts;

// The seat plans of all pages: one map of seats shared by them, kept in the
// database as the teacher moves tiles, whether the pages show the plan
// instead of their tables, and the size of the tiles (this PC's teacher's
// choice, kept in QSettings). A lock change of any page shows again on
// every page: the tiles and lock column of "全部" show the lock of each
// machine's own page.
class SeatPlans final : public QObject
{
    Q_OBJECT

public:
    static void attach(ConsoleCore& core, WindowParts& parts);
    // Told when the teacher drags in a table.
    static const QString DragHint;

    // Reads the seats and the choice of view; without an open store the
    // plan still works, for this run only.
    SeatPlans(SeatStore& store, const QStudentManage& registry, const PageDirectory& directory,
              QObject* parent = nullptr);

    void attach(QStudentGroupWidget* page);

    bool shown() const { return seat_plan_shown; }
    void setShown(bool shown);
    const SeatPlanView::SeatMap& seats() const { return *seat_map; }
    // SeatPlanView::FitZoom or a percent, on every page.
    int zoom() const { return zoom_setting; }
    void setZoom(int zoom);

signals:
    // On `mac`'s tile; `targets` are the selected tiles it is one of, else it alone.
    void sg_menu_requested(QStudentGroupWidget* page, quint64 mac, const QList<quint64>& targets);
    // Tiles let go over another tab: into its group ("未分组": an empty `group`).
    void sg_tiles_moved(const QList<quint64>& macs, const QString& group);
    // A page's lock changed, or a page came or went.
    void sg_locks_changed();

private:
    void onSeatsMoved(QStudentGroupWidget* from, const SeatPlanView::SeatMap& moved);
    void onTilesDropped(const QList<quint64>& macs, const QPoint& globalPos);

    SeatStore& store;
    const QStudentManage& registry;
    const PageDirectory& directory;
    std::shared_ptr<SeatPlanView::SeatMap> seat_map;
    QList<QPointer<QStudentGroupWidget>> pages;
    bool seat_plan_shown = false;
    int zoom_setting = SeatPlanView::FitZoom;
};
