#include "pages/TabLockIcons.h"

#include "ConsoleCore.h"
#include "WindowParts.h"
#include "ui_RokVtxAdmin.h"

#include "model/Rok_Lock_State.h"
#include "pages/LockBadge.h"
#include "pages/PageDirectory.h"
#include "pages/QStudentGroupWidget.h"
#include "seatplan/SeatPlans.h"

#include <QTabWidget>
#include <QTimer>

TabLockIcons::TabLockIcons(const PageDirectory& pages, QTabWidget* tabs, SeatPlans& plans)
    : QObject(tabs)
    , pages(pages)
    , tabs(tabs)
{
    // A lock from "全部" changes every page: one pass over the tabs after the last.
    refresh_timer = new QTimer(this);
    refresh_timer->setSingleShot(true);
    refresh_timer->setInterval(0);
    connect(refresh_timer, &QTimer::timeout, this, &TabLockIcons::refresh);
    connect(&plans, &SeatPlans::sg_locks_changed, refresh_timer, qOverload<>(&QTimer::start));
    refresh();
}

void TabLockIcons::refresh()
{
    refresh_timer->stop();
    int shared = -1;
    for (int index = 1; index < tabs->count(); ++index) {
        const QStudentGroupWidget* page = pages.pageAt(index);
        const int lock = page ? page->lock_state->lock_type : int(Rok_Lock_State::None);
        setTab(index, lock);
        shared = shared == -1 || shared == lock ? lock : int(Rok_Lock_State::None);
    }
    if (tabs->count() > 0)
        setTab(0, std::max(shared, int(Rok_Lock_State::None)));
}

void TabLockIcons::setTab(int index, int lockType)
{
    // The tool tip names the lock shown: unchanged tabs are not laid out again.
    const QString tip = LockBadge::toolTip(lockType);
    if (tabs->tabToolTip(index) == tip && tabs->tabIcon(index).isNull() == tip.isEmpty())
        return;
    tabs->setTabIcon(index, LockBadge::icon(lockType));
    tabs->setTabToolTip(index, tip);
}

void TabLockIcons::attach(ConsoleCore& core, WindowParts& parts)
{
    new TabLockIcons(core.pages(), parts.tabs, *parts.seatPlans);
}
