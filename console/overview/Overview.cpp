#include "overview/Overview.h"

#include "ConsoleCore.h"
#include "WindowParts.h"
#include "ui_RokVtxAdmin.h"
#include "app/TrayIcon.h"

#include "core/QStudentManage.h"
#include "log/EventLog.h"
#include "model/Rok_Lock_State.h"
#include "pages/PageDirectory.h"
#include "pages/QStudentGroupWidget.h"

#include <QAction>
#include <QLabel>
#include <QSettings>
#include <QStatusBar>
#include <QStringList>
#include <QTabWidget>
#include <QTimer>
#include <QWidget>

#include <algorithm>
#include <utility>

namespace {

// Machines coming and going in a burst cost one recount of the current tab.
constexpr int CountsDelayMs = 100;
// Machines going off line within this time make one tray message, which
// names them when there are at most OfflineNamesShown.
constexpr int OfflineBurstMs = 2000;
constexpr int OfflineNamesShown = 5;
const QString OnlineOnlyKey = QStringLiteral("view/onlineOnly");

} // namespace

Overview::Overview(QStudentManage& registry, QWidget* window, QStatusBar* statusBar)
    : QObject(window)
    , registry(registry)
    , window(window)
{
    online_only = QSettings().value(OnlineOnlyKey, false).toBool();
    counts_label = new QLabel(window);
    statusBar->addPermanentWidget(counts_label);
    counts_timer = new QTimer(this);
    counts_timer->setSingleShot(true);
    counts_timer->setInterval(CountsDelayMs);
    connect(counts_timer, &QTimer::timeout, this, &Overview::updateCounts);
    offline_burst_timer = new QTimer(this);
    offline_burst_timer->setSingleShot(true);
    offline_burst_timer->setInterval(OfflineBurstMs);
    connect(offline_burst_timer, &QTimer::timeout, this, &Overview::reportOfflineBurst);
}

void Overview::attach(PageDirectory* pageDirectory, QTabWidget* tabWidget, QAction* onlineOnlyAction)
{
    // The worker's reports arrive here queued, on the UI thread.
    connect(&registry, &QStudentManage::sg_state_changed_machines, this, &Overview::machinesWentOffline);
    pages = pageDirectory;
    tabs = tabWidget;
    online_only_action = onlineOnlyAction;
    online_only_action->setChecked(online_only);
    connect(online_only_action, &QAction::triggered, this, &Overview::setOnlineOnly);
}

void Overview::scheduleCountsUpdate()
{
    if (!counts_timer->isActive())
        counts_timer->start();
}

void Overview::updateCounts()
{
    counts_timer->stop();
    QStudentGroupWidget::Counts counts;
    if (QStudentGroupWidget* page = pages->pageAt(tabs->currentIndex()))
        counts = page->counts();
    counts_label->setText(QStringLiteral("在线 %1 / 共 %2").arg(counts.online).arg(counts.total));
}

QString Overview::countsText() const
{
    return counts_label->text();
}

void Overview::setOnlineOnly(bool onlineOnly)
{
    online_only = onlineOnly;
    online_only_action->setChecked(onlineOnly);
    for (QStudentGroupWidget* page : pages->pages())
        page->setOnlineOnly(onlineOnly);
    // A view preference of this PC's teacher, not a setting of the groups.
    QSettings().setValue(OnlineOnlyKey, onlineOnly);
}

void Overview::machinesWentOffline(const QList<CStuInfo_PTR>& machines)
{
    for (const CStuInfo_PTR& machine : machines) {
        // A machine deleted after the worker reported it must not come back as
        // a row nobody can remove.
        if (!machine || registry.findMachine(machine->ullmac) != machine)
            continue;
        machine->markDead();
        noteOffline(machine);
        pages->pageAt(0)->updateMachineRow(machine, QStudentGroupWidget::ColumnState);
        if (QStudentGroupWidget* page = pages->pageOf(machine))
            page->updateMachineRow(machine, QStudentGroupWidget::ColumnState);
        emit sg_offline(machine);
    }
}

void Overview::noteOffline(const CStuInfo_PTR& machine)
{
    if (window->isVisible())
        return;
    offline_burst.insert(machine->ullmac, machine);
    const QStudentGroupWidget* page = pages->pageOf(machine);
    if (page && page->lock_state->lock_type != Rok_Lock_State::None)
        offline_locked.insert(machine->ullmac);
    if (!offline_burst_timer->isActive())
        offline_burst_timer->start();
}

void Overview::reportOfflineBurst()
{
    const QMap<quint64, CStuInfo_PTR> burst = std::exchange(offline_burst, {});
    const QSet<quint64> locked = std::exchange(offline_locked, {});
    if (window->isVisible())
        return; // the teacher sees the tables
    QStringList names;
    int lockedCount = 0;
    for (const CStuInfo_PTR& machine : burst) {
        // Back already, or deleted meanwhile: nothing to tell.
        if (machine->online.load() || registry.findMachine(machine->ullmac) != machine)
            continue;
        const bool wasLocked = locked.contains(machine->ullmac);
        lockedCount += wasLocked ? 1 : 0;
        names << EventLog::machineLabel(machine) + (wasLocked ? QStringLiteral("（锁定中断开）") : QString());
    }
    if (names.isEmpty())
        return;
    std::sort(names.begin(), names.end());
    const QString title = QStringLiteral("机器离线");
    QString text = names.size() <= OfflineNamesShown
        ? QStringLiteral("%1 台机器离线：%2").arg(names.size()).arg(names.join(QStringLiteral("、")))
        : QStringLiteral("%1 台机器离线").arg(names.size());
    if (names.size() > OfflineNamesShown && lockedCount > 0)
        text += QStringLiteral("，其中 %1 台锁定中断开").arg(lockedCount);
    emit sg_offline_burst(title, text);
}

void Overview::watch(QStudentGroupWidget* page)
{
    connect(page, &QStudentGroupWidget::sg_rows_changed, this, [this, page] {
        if (tabs && tabs->currentWidget() == page)
            scheduleCountsUpdate();
    });
}

void Overview::attach(ConsoleCore& core, WindowParts& parts)
{
    // Before the pages: each one starts with the filter and reports its rows.
    auto* overview = new Overview(core.registry(), parts.window, parts.form.statusBar);
    parts.overview = overview;
    connect(overview, &Overview::sg_offline_burst, parts.tray, &TrayIcon::alert);
    overview->attach(&core.pages(), parts.tabs, parts.form.action_view_online_only);
    connect(&parts, &WindowParts::sg_page_made, overview, [overview](QStudentGroupWidget* page) {
        page->setOnlineOnly(overview->onlineOnly());
        overview->watch(page);
    });
    connect(&parts, &WindowParts::sg_tab_shown, overview, &Overview::updateCounts);
}
