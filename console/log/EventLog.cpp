#include "log/EventLog.h"

#include "ConsoleCore.h"
#include "WindowParts.h"
#include "ui_RokVtxAdmin.h"

#include "groups/GroupOperations.h"
#include "lesson/LessonTools.h"
#include "model/MacAddress.h"
#include "model/Rok_Lock_State.h"
#include "network/ReceivePath.h"
#include "overview/Overview.h"
#include "pages/PageDirectory.h"
#include "pages/QStudentGroupWidget.h"
#include "storage/EventLogStore.h"

EventLog::EventLog(EventLogStore& store, PageDirectory& pages, std::function<int()> currentTab, QObject* parent)
    : QObject(parent)
    , log(store)
    , pages(pages)
    , current_tab(std::move(currentTab))
    , started_ms(store.now())
{
}

QString EventLog::machineLabel(const CStuInfo_PTR& machine)
{
    return !machine->hostname.isEmpty() ? machine->hostname
        : !machine->ip.isEmpty()        ? machine->ip
                                        : MacAddress::toDisplay(machine->ullmac);
}

void EventLog::follow(const ReceivePath& receive)
{
    connect(&receive, &ReceivePath::sg_registered, this,
        [this](const CStuInfo_PTR& machine) { machineEvent(EventLogStore::Registered, machine); });
    connect(&receive, &ReceivePath::sg_online, this,
        [this](const CStuInfo_PTR& machine) { online(machine); });
}

void EventLog::follow(const Overview& overview)
{
    connect(&overview, &Overview::sg_offline, this, &EventLog::offline);
}

void EventLog::follow(const GroupOperations& operations)
{
    connect(&operations, &GroupOperations::sg_changed, this, [this](const GroupChange& change) {
        if (!change.detail.isEmpty())
            groupChange(change.page, change.detail, change.machine);
        if (!change.renamedFrom.isEmpty())
            log.flush();
    });
}

void EventLog::machineEvent(int kind, const CStuInfo_PTR& machine, const QString& detail)
{
    if (admit_event && !admit_event(machine))
        return;
    log.add(kind, PageDirectory::pageNameOf(machine), machine->ullmac, machineLabel(machine), detail);
}

bool EventLog::inStartup() const
{
    return log.now() - started_ms < StartupMs;
}

void EventLog::online(const CStuInfo_PTR& machine)
{
    const quint64 mac = machine->ullmac;
    if (!inStartup()) {
        went_offline.clear();
        startup_machines.clear();
    }
    if (!inStartup() || went_offline.contains(mac) || startup_machines.contains(mac)) {
        machineEvent(EventLogStore::Online, machine);
        return;
    }
    if (admit_event && !admit_event(machine))
        return;
    startup_machines.insert(mac);
    const QString detail = QStringLiteral("启动：%1 台上线").arg(startup_machines.size());
    if (startup_row > 0)
        log.updateDetail(startup_row, detail);
    else
        startup_row = log.addCounted(EventLogStore::Online, QStringLiteral("全部"), 0, QString(), detail);
}

void EventLog::offline(const CStuInfo_PTR& machine)
{
    if (inStartup())
        went_offline.insert(machine->ullmac);
    const QStudentGroupWidget* page = pages.pageOf(machine);
    const int lock = page ? page->lock_state->lock_type : int(Rok_Lock_State::None);
    machineEvent(EventLogStore::Offline, machine,
        lock != Rok_Lock_State::None
            ? EventLogStore::LockedOfflinePrefix + QStringLiteral("（%1）").arg(LessonTools::lockName(lock))
            : QString());
}

void EventLog::command(const QString& detail)
{
    const int tab = current_tab ? current_tab() : -1;
    log.add(EventLogStore::Command, tab >= 0 ? pages.nameAt(tab) : QString(), 0, QString(), detail);
}

std::function<void(const QString&)> EventLog::commandWriter()
{
    return [this](const QString& detail) { command(detail); };
}

void EventLog::groupChange(const QString& page, const QString& detail, const CStuInfo_PTR& machine)
{
    log.add(EventLogStore::Group, page, machine ? machine->ullmac : 0, machine ? machineLabel(machine) : QString(),
            detail);
}

void EventLog::attach(ConsoleCore& core, WindowParts& parts)
{
    auto* log = new EventLog(core.tables().eventLog(), core.pages(), core.currentTabReader(), parts.window);
    parts.log = log;
    log->follow(*parts.overview);
    log->follow(core.groups());
}
