#pragma once

#include <QObject>
#include <QStringList>

#include <functional>

class ConsoleCore;
class GroupOperations;
class PageDirectory;
class QAction;
class QPoint;
class QTabWidget;
class QWidget;
class QStudentManage;
class WindowParts;

// The group tabs as the teacher handles them: a right click on a group's tab
// offers to rename it, "重命名分组..." renames the group in front, and
// dragging a tab reorders the groups among themselves. "全部" stays first
// and "未分组" last: a move that would shift either is undone at once.
// "添加组" asks for a new group; "删除组" asks before the group in front goes.
class GroupTabs final : public QObject
{
    Q_OBJECT

public:
    // `renameAction` (in "操作") is enabled on a group's tab only.
    GroupTabs(QTabWidget* tabs, PageDirectory& pages, GroupOperations& groups, QAction* renameAction,
              QWidget* window);

    // "添加组" and "删除组" (what else goes with a group is told by `keptWith`).
    void attachGroupActions(QAction* add, QAction* remove, QStudentManage& registry,
        std::function<QStringList(const QString&)> keptWith);
    static void attach(ConsoleCore& core, WindowParts& parts);

    // Asks for the new name of the group on tab `index`.
    void renameTab(int index);
    void addGroup();
    void deleteCurrentGroup();

private:
    bool isGroupTab(int index) const;
    void showTabMenu(const QPoint& pos);
    void onTabMoved(int from, int to);
    void updateRenameAction();

    QTabWidget* tabs;
    PageDirectory& pages;
    GroupOperations& groups;
    QAction* rename_action;
    QWidget* window;
    QStudentManage* registry = nullptr;
    std::function<QStringList(const QString&)> kept_with;
    bool undoing_move = false;
};
