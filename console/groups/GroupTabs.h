#pragma once

#include <QObject>

class GroupOperations;
class PageDirectory;
class QAction;
class QPoint;
class QTabWidget;
class QWidget;

// The group tabs as the teacher handles them: a right click on a group's tab
// offers to rename it, "重命名分组..." renames the group in front, and
// dragging a tab reorders the groups among themselves. "全部" stays first
// and "未分组" last: a move that would shift either is undone at once.
class GroupTabs final : public QObject
{
    Q_OBJECT

public:
    // `renameAction` (in "操作") is enabled on a group's tab only.
    GroupTabs(QTabWidget* tabs, PageDirectory& pages, GroupOperations& groups, QAction* renameAction,
              QWidget* window);

    // Asks for the new name of the group on tab `index`.
    void renameTab(int index);

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
    bool undoing_move = false;
};
