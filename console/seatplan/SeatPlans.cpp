#include "seatplan/SeatPlans.h"

#include "ConsoleCore.h"
#include "WindowParts.h"
#include "ui_RokVtxAdmin.h"
#include "groups/GroupOperations.h"

#include "core/QStudentManage.h"
#include "pages/PageDirectory.h"
#include "pages/QStudentGroupWidget.h"

#include <QSettings>
#include <QStatusBar>
#include <QTabBar>
#include <QTabWidget>

#include <algorithm>

namespace {

const QString ZoomKey = QStringLiteral("view/seatPlanZoom");

} // namespace

SeatPlans::SeatPlans(SeatStore& store, const QStudentManage& registry, const PageDirectory& directory,
                     QObject* parent)
    : QObject(parent)
    , store(store)
    , registry(registry)
    , directory(directory)
    , seat_map(std::make_shared<SeatPlanView::SeatMap>())
{
    *seat_map = store.loadSeats();
    seat_plan_shown = store.seatPlanShown();
    zoom_setting = QSettings().value(ZoomKey, int(SeatPlanView::FitZoom)).toInt();
}

void SeatPlans::attach(QStudentGroupWidget* page)
{
    SeatPlanView* view = page->seatPlan();
    view->setSeatMap(seat_map);
    view->setZoom(zoom_setting);
    zoom_setting = view->zoom(); // a stored value out of range, clamped
    page->setSeatPlanShown(seat_plan_shown);
    if (page->showAll()) {
        // "全部" shows each machine in its own group's room, with that room's lock.
        const auto owner = [this](quint64 mac) {
            const QString group = registry.groupNameOfMachine(mac);
            return group.isEmpty() ? directory.ungrouped() : directory.groupPage(group);
        };
        page->setLockSource([owner](quint64 mac) {
            const QStudentGroupWidget* room = owner(mac);
            return room ? room->lock_state->lock_type : 0;
        });
        view->setRoomSource([this, owner](quint64 mac) {
            const QStudentGroupWidget* room = owner(mac);
            const int index = directory.indexOf(room);
            // A machine whose group has no page yet goes last, under its group's name.
            return index > 0 ? SeatPlanView::Room { directory.nameOf(room), index }
                             : SeatPlanView::Room { registry.groupNameOfMachine(mac), 1 << 20 };
        });
    }
    pages << page;
    connect(view, &SeatPlanView::sg_zoom_changed, this, &SeatPlans::setZoom);
    connect(page, &QStudentGroupWidget::sg_group_lockstate_changed, this, [this] {
        for (const QPointer<QStudentGroupWidget>& shown : qAsConst(pages))
            if (shown)
                shown->refreshLocks();
        emit sg_locks_changed();
    });
    connect(page, &QObject::destroyed, this, &SeatPlans::sg_locks_changed);
    emit sg_locks_changed();
    connect(view, &SeatPlanView::sg_seats_moved, this,
        [this, page](const SeatPlanView::SeatMap& moved) { onSeatsMoved(page, moved); });
    connect(view, &SeatPlanView::sg_menu_requested, this, [this, page, view](quint64 mac) {
        QList<quint64> targets = view->selectedMacs();
        if (!targets.contains(mac))
            targets = { mac };
        emit sg_menu_requested(page, mac, targets);
    });
    connect(view, &SeatPlanView::sg_tiles_dropped, this, &SeatPlans::onTilesDropped);
}

void SeatPlans::onTilesDropped(const QList<quint64>& macs, const QPoint& globalPos)
{
    const int index = directory.tabAt(globalPos);
    QStudentGroupWidget* page = directory.pageAt(index);
    // "全部" is no group; the page the tiles came from is theirs already.
    if (index <= 0 || !page || index == directory.currentIndex())
        return;
    emit sg_tiles_moved(macs, page == directory.ungrouped() ? QString() : directory.nameAt(index));
}

void SeatPlans::setShown(bool shown)
{
    seat_plan_shown = shown;
    for (const QPointer<QStudentGroupWidget>& page : qAsConst(pages))
        if (page)
            page->setSeatPlanShown(shown);
    store.setSeatPlanShown(shown);
}

void SeatPlans::setZoom(int zoom)
{
    if (zoom != SeatPlanView::FitZoom)
        zoom = std::clamp(zoom, int(SeatPlanView::MinZoom), int(SeatPlanView::MaxZoom));
    if (zoom == zoom_setting)
        return;
    zoom_setting = zoom;
    for (const QPointer<QStudentGroupWidget>& page : qAsConst(pages))
        if (page)
            page->seatPlan()->setZoom(zoom);
    // A view preference of this PC's teacher, not a setting of the groups.
    QSettings().setValue(ZoomKey, zoom_setting);
}

void SeatPlans::onSeatsMoved(QStudentGroupWidget* from, const SeatPlanView::SeatMap& moved)
{
    // At once: a seat is one row, and the plan is the teacher's work of a lesson.
    store.saveSeats(moved);
    for (const QPointer<QStudentGroupWidget>& page : qAsConst(pages))
        if (page && page != from)
            page->seatPlan()->invalidate();
}

const QString SeatPlans::DragHint = QStringLiteral("表格中拖动只选择机器；要把机器拖进其他组或座位，请打开“视图 → 机位图”");

void SeatPlans::attach(ConsoleCore& core, WindowParts& parts)
{
    auto* plans = new SeatPlans(core.tables().seats(), core.registry(), core.pages(), parts.window);
    parts.seatPlans = plans;
    QAction* shown = parts.form.action_view_seatplan;
    shown->setChecked(plans->shown());
    connect(shown, &QAction::triggered, plans, &SeatPlans::setShown);
    connect(&parts, &WindowParts::sg_page_made, plans, qOverload<QStudentGroupWidget*>(&SeatPlans::attach));
    connect(plans, &SeatPlans::sg_tiles_moved, &core.groups(), &GroupOperations::moveMachines);
    // "全部" shows the rooms in the tabs' order, which the teacher may drag.
    connect(parts.tabs->tabBar(), &QTabBar::tabMoved, plans, [&core] {
        if (QStudentGroupWidget* all = core.pages().pageAt(0))
            all->seatPlan()->invalidate();
    });
    // A drag in the table only selects; the teacher who tries is shown where drags go.
    QStatusBar* status = parts.form.statusBar;
    connect(&parts, &WindowParts::sg_page_made, plans, [status](QStudentGroupWidget* page) {
        connect(page, &QStudentGroupWidget::sg_table_dragged, status, [status] {
            status->showMessage(DragHint, 8000);
        });
    });
}
