#include "groups/MachineMenu.h"

#include "ConsoleCore.h"
#include "WindowParts.h"
#include "ui_RokVtxAdmin.h"
#include "seatplan/SeatPlans.h"

#include "core/QStudentManage.h"
#include "dialogs/MessageBox.h"
#include "groups/Dialog_moveinto_grp.h"
#include "groups/GroupOperations.h"
#include "pages/PageDirectory.h"
#include "pages/QStudentGroupWidget.h"
#include "tableview/QtRokTableView.h"

#include <QAction>
#include <QCursor>
#include <QMenu>

MachineMenu::MachineMenu(QWidget* window, QStudentManage& registry, PageDirectory& pages,
                         GroupOperations& operations, std::function<int()> currentTab)
    : QObject(window)
    , window(window)
    , registry(registry)
    , pages(pages)
    , operations(operations)
    , current_tab(std::move(currentTab))
{
    context_menu = new QMenu(window);
    add_to_group = std::make_unique<QAction>(QStringLiteral("添加到组...(&A)"));
    remove_from_group = std::make_unique<QAction>(QStringLiteral("移出组(&O)"));
    delete_machine = std::make_unique<QAction>(QStringLiteral("删除本机...(&D)"));
    context_menu->addAction(add_to_group.get());
    context_menu->addAction(remove_from_group.get());
    context_menu->addSeparator();
    context_menu->addAction(delete_machine.get());
    connect(add_to_group.get(), &QAction::triggered, this, &MachineMenu::moveIntoGroup);
    connect(remove_from_group.get(), &QAction::triggered, this, &MachineMenu::removeFromCurrentGroup);
    connect(delete_machine.get(), &QAction::triggered, this, &MachineMenu::deleteSelected);
}

MachineMenu::~MachineMenu() = default;

QList<quint64> MachineMenu::targets() const
{
    return menu_macs.isEmpty() ? QList<quint64>{ selected_mac } : menu_macs;
}

void MachineMenu::showForRow(const QPoint& pos)
{
    const int tab = current_tab();
    if (tab < 0)
        return;
    selected_mac = 0;
    menu_macs.clear();
    QStudentGroupWidget* page = pages.pageAt(tab);
    if (!page)
        return;
    const QModelIndex index = page->machine_table->indexAt(pos);
    if (!index.isValid())
        return;
    selected_mac = page->macAtRow(index.row());
    if (selected_mac == 0)
        return;
    // On a row of the selection the menu acts on every selected machine.
    const QList<quint64> selected = page->selectedMacs();
    if (selected.size() > 1 && selected.contains(selected_mac))
        menu_macs = selected;
    exec(page);
}

void MachineMenu::showForTiles(QStudentGroupWidget* page, quint64 mac, const QList<quint64>& targets)
{
    const int tab = current_tab();
    if (tab < 0 || mac == 0 || page != pages.pageAt(tab))
        return;
    selected_mac = mac;
    menu_macs = targets;
    exec(page);
}

void MachineMenu::exec(QStudentGroupWidget* page)
{
    const bool groupless = current_tab() == 0 || page->page_order == QStudentGroupWidget::UngroupedOrder;
    remove_from_group->setEnabled(!groupless);
    add_to_group->setEnabled(groupless);
    delete_machine->setEnabled(true);
    context_menu->exec(QCursor::pos());
}

void MachineMenu::moveIntoGroup()
{
    const QStringList names = registry.groupNames();
    if (names.isEmpty()) {
        MessageBox::critical(window, QStringLiteral("错误"), QStringLiteral("您需要先创建分组，才可以继续此操作。"),
                             QMessageBox::Ok);
        return;
    }
    Dialog_moveinto_grp dialog(window);
    dialog.setGroupNames(names);
    if (dialog.exec() != QDialog::Accepted)
        return;
    moveTo(dialog.chosen_group);
}

void MachineMenu::moveTo(const QString& target)
{
    if (!registry.groupNames().contains(target))
        return;
    operations.moveMachines(targets(), target);
}

void MachineMenu::removeFromCurrentGroup()
{
    const int tab = current_tab();
    if (tab < 0)
        return;
    operations.removeFromGroup(pages.nameAt(tab), targets());
}

void MachineMenu::deleteSelected()
{
    if (current_tab() < 0)
        return;
    // One machine goes without a question, as it always did; several are
    // asked about once.
    const QList<quint64> macs = targets();
    if (macs.size() > 1
        && MessageBox::question(window, QStringLiteral("删除机器"),
               QStringLiteral("确实要删除选中的 %1 台机器？").arg(macs.size()), QMessageBox::Yes | QMessageBox::No)
            != QMessageBox::Yes)
        return;
    operations.deleteMachines(macs);
    selected_mac = 0;
    menu_macs.clear();
}

void MachineMenu::attach(ConsoleCore& core, WindowParts& parts)
{
    auto* menu = new MachineMenu(parts.window, core.registry(), core.pages(), core.groups(), core.currentTabReader());
    parts.machineMenu = menu;
    connect(&parts, &WindowParts::sg_page_made, menu, [menu](QStudentGroupWidget* page) {
        connect(page, &QStudentGroupWidget::sg_customContextMenuRequested, menu, &MachineMenu::showForRow);
    });
    connect(parts.seatPlans, &SeatPlans::sg_menu_requested, menu, &MachineMenu::showForTiles);
}
