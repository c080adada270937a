#include "groups/GroupTabs.h"

#include "dialogs/MessageBox.h"
#include "groups/Dialog_addgroup.h"
#include "groups/GroupOperations.h"
#include "pages/PageDirectory.h"
#include "pages/QStudentGroupWidget.h"

#include <QAction>
#include <QMenu>
#include <QPointer>
#include <QTabBar>
#include <QTabWidget>

#include <algorithm>

namespace {

const QString RenameText = QStringLiteral("重命名分组...");

} // namespace

GroupTabs::GroupTabs(QTabWidget* tabs, PageDirectory& pages, GroupOperations& groups, QAction* renameAction,
                     QWidget* window)
    : QObject(window)
    , tabs(tabs)
    , pages(pages)
    , groups(groups)
    , rename_action(renameAction)
    , window(window)
{
    QTabBar* bar = tabs->tabBar();
    bar->setMovable(true);
    bar->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(bar, &QTabBar::customContextMenuRequested, this, &GroupTabs::showTabMenu);
    connect(bar, &QTabBar::tabMoved, this, &GroupTabs::onTabMoved);
    connect(tabs, &QTabWidget::currentChanged, this, &GroupTabs::updateRenameAction);
    connect(rename_action, &QAction::triggered, this, [this] { renameTab(this->tabs->currentIndex()); });
    updateRenameAction();
}

bool GroupTabs::isGroupTab(int index) const
{
    const QStudentGroupWidget* page = pages.pageAt(index);
    return index > 0 && page && page != pages.ungrouped();
}

void GroupTabs::updateRenameAction()
{
    rename_action->setEnabled(isGroupTab(tabs->currentIndex()));
}

void GroupTabs::showTabMenu(const QPoint& pos)
{
    QTabBar* bar = tabs->tabBar();
    const int index = bar->tabAt(pos);
    if (!isGroupTab(index))
        return;
    // The tab under the mouse, wherever it sits once the menu is closed.
    const QPointer<QWidget> page = tabs->widget(index);
    QMenu menu(window);
    QAction* rename = menu.addAction(RenameText);
    if (menu.exec(bar->mapToGlobal(pos)) == rename && page)
        renameTab(tabs->indexOf(page));
}

void GroupTabs::renameTab(int index)
{
    if (!isGroupTab(index))
        return;
    const QString refusal = groups.renameRefusal();
    if (!refusal.isEmpty()) {
        MessageBox::warning(window, QStringLiteral("无法重命名"), refusal);
        return;
    }
    const QString old = pages.nameAt(index);
    Dialog_addgroup dialog(window);
    dialog.setRenaming(old);
    QStringList taken = groups.groupNames();
    taken.removeAll(old);
    dialog.setTakenNames(taken);
    if (dialog.exec() != QDialog::Accepted || dialog.group_name_input == old)
        return;
    groups.renameGroup(old, dialog.group_name_input);
}

void GroupTabs::onTabMoved(int from, int to)
{
    if (undoing_move)
        return;
    // Every tab between the two places shifts by one.
    const int first = std::min(from, to);
    const int last = std::max(from, to);
    const int ungrouped = tabs->indexOf(pages.ungrouped());
    if (first == 0 || (ungrouped >= first && ungrouped <= last)) {
        undoing_move = true;
        tabs->tabBar()->moveTab(to, from);
        undoing_move = false;
        return;
    }
    groups.storeGroupOrder();
}
