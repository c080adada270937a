#include "power/PowerControl.h"

#include "ConsoleCore.h"
#include "WindowParts.h"
#include "ui_RokVtxAdmin.h"
#include "groups/MachineMenu.h"
#include "log/EventLog.h"

#include <QAction>
#include <QMenu>

#include "core/QStudentManage.h"
#include "pages/PageDirectory.h"
#include "pages/QStudentGroupWidget.h"

#include <QSet>
#include <QStatusBar>

#include <utility>

namespace {

constexpr int StatusMessageMs = 5000;

} // namespace

PowerControl::PowerControl(QStudentManage& registry, PageDirectory& pages, QStatusBar* statusBar,
                           std::function<void(const QString&)> logCommand, QObject* parent)
    : QObject(parent)
    , registry(registry)
    , pages(pages)
    , status_bar(statusBar)
    , log_command(std::move(logCommand))
{
}

void PowerControl::wakeTab(int index)
{
    if (index < 0)
        return;
    if (index == 0) {
        wakeMachines(registry.allMachines().values());
    } else {
        wakePage(pages.pageAt(index));
    }
}

void PowerControl::wakePage(QStudentGroupWidget* page)
{
    if (page)
        wakeMachines(page->machinesInRowOrder());
}

void PowerControl::attachMachineMenu(QMenu* menu, std::function<QList<quint64>()> targets)
{
    menu->addSeparator();
    QAction* wake = menu->addAction(QStringLiteral("唤醒本机(&W)"));
    connect(wake, &QAction::triggered, this, [this, targets] { wakeMacs(targets()); });
    connect(menu, &QMenu::aboutToShow, this, [this, wake, targets] {
        bool anyOffline = false;
        for (const quint64 mac : targets()) {
            const CStuInfo_PTR machine = registry.findMachine(mac);
            anyOffline = anyOffline || (machine && !machine->online.load());
        }
        wake->setEnabled(anyOffline);
    });
}

void PowerControl::wakeMacs(const QList<quint64>& macs)
{
    QList<CStuInfo_PTR> machines;
    for (const quint64 mac : macs)
        if (const CStuInfo_PTR machine = registry.findMachine(mac))
            machines << machine;
    if (!machines.isEmpty())
        wakeMachines(machines);
}

void PowerControl::wakeMachines(const QList<CStuInfo_PTR>& machines)
{
    QList<quint64> macs;
    QSet<quint64> queued;
    for (const CStuInfo_PTR& machine : machines) {
        if (machine && !machine->online.load() && !queued.contains(machine->ullmac)) {
            queued.insert(machine->ullmac);
            macs << machine->ullmac;
        }
    }
    // The waker's thread spaces the packets out; this returns at once.
    waker.wake(macs);
    if (!macs.isEmpty())
        log_command(QStringLiteral("唤醒 %1 台离线机器").arg(macs.size()));
    status_bar->showMessage(macs.isEmpty() ? QStringLiteral("没有需要唤醒的离线机器")
                                           : QStringLiteral("已排队唤醒 %1 台离线机器").arg(macs.size()),
                            StatusMessageMs);
}

void PowerControl::attach(ConsoleCore& core, WindowParts& parts)
{
    auto* power = new PowerControl(core.registry(), core.pages(), parts.form.statusBar, parts.log->commandWriter(),
        parts.window);
    parts.power = power;
    connect(parts.form.action_op_wake, &QAction::triggered, power, [power, &core] { power->wakeTab(core.currentTab()); });
    MachineMenu* menu = parts.machineMenu;
    power->attachMachineMenu(menu->menu(), [menu] { return menu->targets(); });
}
