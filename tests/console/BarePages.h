#pragma once

// The registry and the pages that show it, without a window: tabs "全部" and
// "未分组", a page directory and the group operations making and removing
// group pages as the console does (a new group no further than before
// "未分组", every page published at once). The pages get the console's
// multicast addresses in the order they are made ("未分组" the first); the
// registry ticks only when the test says.

#include "core/MetaTypes.h"
#include "core/Protocol.h"
#include "core/QStudentManage.h"
#include "groups/GroupOperations.h"
#include "pages/PageDirectory.h"
#include "pages/QStudentGroupWidget.h"
#include "tableview/QtRokTableView.h"

#include <QTabWidget>

#include <memory>

class BarePages final
{
public:
    BarePages()
    {
        registerRokMetaTypes();
        addPage(QStringLiteral("全部"), 0, 0);
        addPage(PageDirectory::UngroupedName, QStudentGroupWidget::UngroupedOrder, 1);
        GroupOperations::PageHost host;
        host.create = [this](const QString& name, int order) {
            return addPage(name, order, qMin(order, tabs->count() - 1));
        };
        host.remove = [this](QStudentGroupWidget* page) {
            tabs->removeTab(tabs->indexOf(page));
            directory.publish();
            delete page;
        };
        host.renameRefusal = [this] { return refusal; };
        ops = std::make_unique<GroupOperations>(registry, directory, std::move(host));
    }
    BarePages(const BarePages&) = delete;
    BarePages& operator=(const BarePages&) = delete;

    QStudentGroupWidget* addPage(const QString& name, int order, int position)
    {
        auto* page = new QStudentGroupWidget(nullptr, name);
        page->setShowAll(order == 0);
        page->page_order = order;
        if (order != 0) {
            page->group_addr = next_address;
            next_address = Protocol::nextGroupAddress(next_address);
        }
        tabs->insertTab(position, page, name);
        directory.publish();
        return page;
    }

    // A machine as the network thread makes it, placed as the UI thread does.
    CStuInfo_PTR place(quint64 mac, const QString& host, const QString& ip, const QString& group = QString())
    {
        const CStuInfo_PTR machine = registry.updateMachine(mac, host, ip, false);
        if (!group.isEmpty())
            registry.moveMachineToGroup(group, mac);
        ops->placeMachine(machine);
        return machine;
    }

    QStudentGroupWidget* all() const { return directory.pageAt(0); }
    QStudentGroupWidget* page(const QString& name) const { return directory.pageNamed(name); }

    static int rows(QStudentGroupWidget* page, quint64 mac)
    {
        int count = 0;
        for (int row = 0; page && row < page->machine_table->getRowCount(); ++row)
            count += page->macAtRow(row) == mac;
        return count;
    }

    QStringList tabTexts() const
    {
        QStringList texts;
        for (int i = 0; i < tabs->count(); ++i)
            texts << tabs->tabText(i);
        return texts;
    }

    // Destroyed last to first: the operations before the directory, the
    // tabs (and their pages) before the registry they show. Machines fall
    // off line only when the test ticks.
    QStudentManage registry { QStudentManage::Ticks::Manual };
    std::unique_ptr<QTabWidget> tabs = std::make_unique<QTabWidget>();
    PageDirectory directory { tabs.get() };
    std::unique_ptr<GroupOperations> ops;
    QString refusal;

private:
    uint32_t next_address = Protocol::firstGroupAddress();
};
