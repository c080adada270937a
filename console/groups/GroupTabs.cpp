#include "groups/GroupTabs.h"

#include "ConsoleCore.h"
#include "WindowParts.h"
#include "timetable/LessonTimetable.h"
#include "ui_RokVtxAdmin.h"

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

void GroupTabs::attachGroupActions(QAction* add, QAction* remove, QStudentManage& machines,
    std::function<QStringList(const QString&)> keptWith)
{
    registry = &machines;
    kept_with = std::move(keptWith);
    connect(add, &QAction::triggered, this, &GroupTabs::addGroup);
    connect(remove, &QAction::triggered, this, &GroupTabs::deleteCurrentGroup);
}

void GroupTabs::addGroup()
{
    Dialog_addgroup dialog(window);
    dialog.setTakenNames(registry->groupNames());
    dialog.setOrder(groups.nextGroupOrder());
    if (dialog.exec() != QDialog::Accepted)
        return;
    groups.addGroup(dialog.group_name_input, dialog.group_order_input, QStringLiteral("添加分组"));
}

void GroupTabs::deleteCurrentGroup()
{
    const int index = tabs->currentIndex();
    if (!isGroupTab(index))
        return;
    const QString name = pages.nameAt(index);
    const auto answer = MessageBox::question(window, QStringLiteral("警告"),
        groups.deletionQuestion(name, kept_with ? kept_with(name) : QStringList()), QMessageBox::Yes | QMessageBox::No);
    if (answer == QMessageBox::Yes)
        groups.deleteGroup(name);
}

void GroupTabs::attach(ConsoleCore& core, WindowParts& parts)
{
    auto* tabs = new GroupTabs(parts.tabs, core.pages(), core.groups(), parts.form.action_op_rename_group, parts.window);
    LessonTimetable* timetable = parts.timetable;
    TimedLockController* timedLocks = &core.timedLocks();
    tabs->attachGroupActions(parts.form.action_op_add_group, parts.form.action_op_remove_group, core.registry(),
        [timetable, timedLocks](const QString& name) {
            return QStringList { timetable && timetable->hasWeek(name) ? QStringLiteral("课表") : QString(),
                timedLocks->has(name) ? QStringLiteral("定时锁定") : QString() };
        });
}
