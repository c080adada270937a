#pragma once

#include <QList>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>

class GroupOperations;
class PageDirectory;
class QAction;
class QMenu;
class QPoint;
class QStudentGroupWidget;
class QStudentManage;
class QWidget;
class ConsoleCore;
class WindowParts;

// The machine menu on a row or a tile: 添加到组, 移出组, 删除本机 and what
// other features add to it. Its actions act on the machines it was opened
// on: the row's, or the selected tiles.
class MachineMenu final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(MachineMenu)

public:
    static void attach(ConsoleCore& core, WindowParts& parts);

    MachineMenu(QWidget* window, QStudentManage& registry, PageDirectory& pages, GroupOperations& operations,
                std::function<int()> currentTab);
    ~MachineMenu() override;

    // For features that add actions acting on targets().
    QMenu* menu() const { return context_menu; }
    QList<quint64> targets() const;
    quint64 selectedMac() const { return selected_mac; }
    void setSelectedMac(quint64 mac)
    {
        selected_mac = mac;
        menu_macs.clear();
    }

    // On the current tab's table, at `pos` in its viewport.
    void showForRow(const QPoint& pos);
    // On a tile; `targets` are the page's selected tiles.
    void showForTiles(QStudentGroupWidget* page, quint64 mac, const QList<quint64>& targets);

    // The menu's actions.
    void moveIntoGroup();
    // The group part of moveIntoGroup, once the group is chosen.
    void moveTo(const QString& target);
    void removeFromCurrentGroup();
    void deleteSelected();

private:
    void exec(QStudentGroupWidget* page);

    QWidget* window;
    QStudentManage& registry;
    PageDirectory& pages;
    GroupOperations& operations;
    std::function<int()> current_tab;
    QMenu* context_menu = nullptr;
    std::unique_ptr<QAction> add_to_group;
    std::unique_ptr<QAction> remove_from_group;
    std::unique_ptr<QAction> delete_machine;
    quint64 selected_mac = 0;
    // The selected tiles the menu was opened on; empty: selected_mac alone.
    QList<quint64> menu_macs;
};
