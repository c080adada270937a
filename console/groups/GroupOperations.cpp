#include "groups/GroupOperations.h"

#include "log/EventLog.h"

#include "core/QStudentManage.h"
#include "pages/PageDirectory.h"
#include "pages/QStudentGroupWidget.h"

#include <algorithm>
#include <utility>

GroupOperations::GroupOperations(QStudentManage& registry, PageDirectory& pages, PageHost host, QObject* parent)
    : QObject(parent)
    , registry(registry)
    , pages(pages)
    , host(std::move(host))
{
}

QStudentGroupWidget* GroupOperations::allPage() const
{
    return pages.pageAt(0);
}

void GroupOperations::changed(const QString& page, const QString& detail, const CStuInfo_PTR& machine,
                              bool pagesChanged, bool removed)
{
    GroupChange change;
    if (batch && machine && !detail.isEmpty()) {
        batch->labels << EventLog::machineLabel(machine);
        if (!batch->pages.contains(page))
            batch->pages << page;
        change.page = page;
        change.machine = machine;
        emit sg_changed(change);
        return;
    }
    change.pagesChanged = pagesChanged;
    change.removed = removed;
    change.page = page;
    change.detail = detail;
    change.machine = machine;
    emit sg_changed(change);
}

bool GroupOperations::addGroup(const QString& name, int order, const QString& logDetail)
{
    if (!registry.addGroup(name, order))
        return false;
    host.create(name, order);
    takeOrderFromTabs();
    changed(name, logDetail, nullptr, true);
    return true;
}

int GroupOperations::nextGroupOrder() const
{
    int order = 1;
    for (const CStudentGroup_PTR& group : registry.sortedGroups())
        order = std::max(order, group->display_order + 1);
    return order;
}

QStringList GroupOperations::groupNames() const
{
    return registry.groupNames();
}

QString GroupOperations::renameRefusal() const
{
    return host.renameRefusal ? host.renameRefusal() : QString();
}

bool GroupOperations::renameGroup(const QString& from, const QString& to)
{
    if (!renameRefusal().isEmpty())
        return false;
    QStudentGroupWidget* page = pages.groupPage(from);
    if (!page || !pages.renamePage(page, to, [&] { return registry.renameGroup(from, to); }))
        return false;
    for (const CStuInfo_PTR& machine : registry.allMachines())
        if (machine->group_name == to)
            allPage()->updateMachineRow(machine, QStudentGroupWidget::ColumnGroup);
    GroupChange change;
    change.pagesChanged = true;
    change.page = to;
    change.detail = QStringLiteral("重命名分组：%1 → %2").arg(from, to);
    change.renamedFrom = from;
    emit sg_changed(change);
    return true;
}

void GroupOperations::takeOrderFromTabs()
{
    QStringList names;
    for (QStudentGroupWidget* page : pages.groupPages())
        if (page != pages.ungrouped())
            names << pages.nameOf(page);
    registry.setGroupOrders(names);
}

void GroupOperations::storeGroupOrder()
{
    takeOrderFromTabs();
    pages.publish();
    changed(QString(), QString(), nullptr, true);
}

void GroupOperations::deleteGroup(const QString& name)
{
    QStudentGroupWidget* page = pages.groupPage(name);
    if (!page)
        return;
    QList<CStuInfo_PTR> members;
    for (const CStuInfo_PTR& machine : registry.allMachines())
        if (machine->group_name == name)
            members << machine;
    registry.removeGroup(name);
    // The page goes at once, so its thread stops repeating the old state.
    host.remove(page);

    QStudentGroupWidget* ungrouped = pages.ungrouped();
    for (const CStuInfo_PTR& machine : members) {
        if (ungrouped)
            ungrouped->addMachine(machine); // tells on-line members the new address
        allPage()->updateMachineRow(machine, QStudentGroupWidget::ColumnGroup);
    }
    changed(name, QStringLiteral("删除分组（%1 台机器改为未分组）").arg(members.size()), nullptr, true, true);
}

QString GroupOperations::deletionQuestion(const QString& name, QStringList kept) const
{
    kept.removeAll(QString());
    int members = 0;
    for (const CStuInfo_PTR& machine : registry.allMachines())
        if (machine->group_name == name)
            ++members;
    QString note;
    if (members > 0)
        note = QStringLiteral("%1 的 %2 台机器将移到未分组").arg(name).arg(members);
    if (!kept.isEmpty())
        note += (members > 0 ? QStringLiteral("，它的") : QStringLiteral("%1 的").arg(name))
            + kept.join(QStringLiteral("和")) + QStringLiteral("将被删除");
    return (note.isEmpty() ? note : note + QStringLiteral("。\n")) + QStringLiteral("确实需要删除分组“%1”？").arg(name);
}

void GroupOperations::inBatch(const QList<quint64>& macs, const std::function<QString(int)>& summary,
    const std::function<void(quint64)>& change)
{
    if (macs.size() < 2 || batch) {
        for (const quint64 mac : macs)
            change(mac);
        return;
    }
    Batch done;
    batch = &done;
    for (const quint64 mac : macs)
        change(mac);
    batch = nullptr;
    if (done.labels.isEmpty())
        return;
    changed(done.pages.size() == 1 ? done.pages.first() : QStringLiteral("全部"),
        summary(done.labels.size()) + QStringLiteral("：") + done.labels.join(QStringLiteral("、")));
}

void GroupOperations::moveMachines(const QList<quint64>& macs, const QString& target)
{
    inBatch(macs,
        [&target](int count) {
            return target.isEmpty() ? QStringLiteral("%1 台移出分组").arg(count)
                                    : QStringLiteral("%1 台移入分组“").arg(count) + target + QStringLiteral("”");
        },
        [this, &target](quint64 mac) { moveMachine(mac, target); });
}

void GroupOperations::moveMachine(quint64 mac, const QString& target)
{
    const CStuInfo_PTR machine = registry.findMachine(mac);
    if (!machine)
        return;
    const QString old = machine->group_name;
    if (old == target || (!target.isEmpty() && !registry.groupNames().contains(target)))
        return;

    if (!old.isEmpty()) {
        registry.removeMachineFromGroup(old, mac);
        if (QStudentGroupWidget* page = pages.groupPage(old))
            page->removeMachine(mac);
    } else if (QStudentGroupWidget* page = pages.ungrouped()) {
        page->removeMachine(mac);
    }

    QStudentGroupWidget* page = nullptr;
    if (!target.isEmpty() && registry.moveMachineToGroup(target, mac))
        page = pages.groupPage(target);
    else
        page = pages.ungrouped();
    if (page)
        page->addMachine(machine);
    allPage()->updateMachineRow(machine, QStudentGroupWidget::ColumnGroup);
    changed(PageDirectory::pageNameOf(machine),
            old.isEmpty() ? QStringLiteral("移入分组“%1”").arg(machine->group_name)
            : machine->group_name.isEmpty() ? QStringLiteral("移出分组“%1”").arg(old)
                                            : QStringLiteral("从“%1”移到“%2”").arg(old, machine->group_name),
            machine);
}

void GroupOperations::removeFromGroup(const QString& group, const QList<quint64>& macs)
{
    const auto summary = [&group](int count) {
        return QStringLiteral("%1 台移出分组“").arg(count) + group + QStringLiteral("”");
    };
    inBatch(macs, summary, [this, &group](quint64 mac) {
        // The registry accepts any MAC for an existing group; a machine that
        // is not a member must not gain a second row in "未分组".
        if (registry.groupNameOfMachine(mac) != group)
            return;
        if (!registry.removeMachineFromGroup(group, mac))
            return;
        if (QStudentGroupWidget* page = pages.groupPage(group))
            page->removeMachine(mac);
        const CStuInfo_PTR machine = registry.findMachine(mac);
        if (!machine)
            return;
        if (QStudentGroupWidget* page = pages.ungrouped())
            page->addMachine(machine);
        allPage()->updateMachineRow(machine, QStudentGroupWidget::ColumnGroup);
        changed(group, QStringLiteral("移出分组“%1”").arg(group), machine);
    });
}

void GroupOperations::deleteMachines(const QList<quint64>& macs)
{
    const auto summary = [](int count) { return QStringLiteral("删除 %1 台机器").arg(count); };
    inBatch(macs, summary, [this](quint64 mac) {
        const CStuInfo_PTR machine = registry.findMachine(mac);
        for (QStudentGroupWidget* page : pages.pages())
            page->removeMachine(mac);
        registry.removeMachine(mac);
        changed(machine ? PageDirectory::pageNameOf(machine) : QString(),
                machine ? QStringLiteral("删除机器") : QString(), machine);
    });
}

void GroupOperations::placeMachine(const CStuInfo_PTR& machine, const QString& logDetail)
{
    // A machine list taken in between a registration on the network thread
    // and its placement here has placed the machine already: one row a page.
    if (allPage()->rowOfMachine(machine->ullmac) < 0)
        allPage()->addMachine(machine);
    QStudentGroupWidget* page = pages.pageOf(machine);
    if (!page)
        page = pages.ungrouped();
    if (page && page->rowOfMachine(machine->ullmac) < 0)
        page->addMachine(machine);
    changed(PageDirectory::pageNameOf(machine), logDetail, machine);
}

void GroupOperations::dropEvicted(const CStuInfo_PTR& machine)
{
    for (QStudentGroupWidget* page : pages.pages())
        page->removeMachine(machine->ullmac);
    changed(pages.nameOf(pages.ungrouped()), QStringLiteral("为新机器腾出位置，移除从未分组、注册后未再上线的机器"), machine);
}

void GroupOperations::renameMachine(const CStuInfo_PTR& machine, const QString& hostName, const QString& address)
{
    if (registry.findMachine(machine->ullmac) != machine)
        return; // deleted meanwhile
    if (machine->hostname == hostName && machine->ip == address)
        return;
    registry.renameMachine(machine->ullmac, hostName, address);
    // Only rows already shown: a machine still waiting for its placement gets
    // them there, with the new texts. A row made here would belong to no
    // page's machines, and outlive the machine if it is evicted meanwhile.
    const int columns = QStudentGroupWidget::ColumnName | QStudentGroupWidget::ColumnIp;
    for (QStudentGroupWidget* page : { allPage(), pages.pageOf(machine) })
        if (page && page->rowOfMachine(machine->ullmac) >= 0)
            page->updateMachineRow(machine, columns);
    changed(QString(), QString(), machine);
}

void GroupOperations::adoptAddress(const CStuInfo_PTR& machine)
{
    const QString old = machine->ip;
    const QString adopted = registry.adoptClaimant(machine->ullmac);
    if (adopted.isEmpty())
        return;
    const int columns = QStudentGroupWidget::ColumnIp | QStudentGroupWidget::ColumnState;
    allPage()->updateMachineRow(machine, columns);
    if (QStudentGroupWidget* page = pages.pageOf(machine))
        page->updateMachineRow(machine, columns);
    changed(PageDirectory::pageNameOf(machine), QStringLiteral("采用新地址：%1 → %2").arg(old, adopted), machine);
}
