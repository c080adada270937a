#pragma once

#include "model/CStuInfo.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>

class PageDirectory;
class QStudentGroupWidget;
class QStudentManage;

// What one group operation changed, told once to whoever keeps a record of it.
struct GroupChange
{
    // A group (and its page) came or went: the group settings and the
    // commands' check marks change too.
    bool pagesChanged = false;
    // The event log's row: page, text (empty: no row) and machine (also
    // of a machine renamed, which has no row).
    QString page;
    QString detail;
    CStuInfo_PTR machine;
    // A group renamed: `page` is its new name. Whatever else is kept by
    // page name (timed locks, the log's filter) follows this one.
    QString renamedFrom;
    // A group deleted: `page` was its name, and what is kept by that name
    // goes with it, so that a new group of the same name starts afresh.
    bool removed = false;
};

// Every change of groups and of which machines are where: the registry
// first, then the pages that show it. Each one ends in sg_changed.
class GroupOperations final : public QObject
{
    Q_OBJECT

public:
    // How pages are made and taken away; the window owns them.
    struct PageHost
    {
        std::function<QStudentGroupWidget*(const QString& name, int order)> create;
        // Called while the group's page still exists, before it is destroyed.
        std::function<void(QStudentGroupWidget* page)> remove;
        // Why a rename would lose the group's settings now (they are kept
        // by name in a file this run may not write); empty when it would not.
        std::function<QString()> renameRefusal;
    };

    GroupOperations(QStudentManage& registry, PageDirectory& pages, PageHost host, QObject* parent = nullptr);

    // False when the registry refuses the name (empty, reserved or taken).
    // Its tab goes to `order`, no further than before "未分组", and every
    // group's display_order follows the tabs from then on.
    bool addGroup(const QString& name, int order, const QString& logDetail);
    // Behind every group there is.
    int nextGroupOrder() const;
    // The names a new or renamed group may not take.
    QStringList groupNames() const;
    // False, and nothing changed, when the registry refuses the new name
    // (empty, reserved or taken), `from` is no group or renames are refused.
    bool renameGroup(const QString& from, const QString& to);
    QString renameRefusal() const;
    // The groups' display_order follows their tabs' order.
    void storeGroupOrder();
    // Its members become ungrouped.
    void deleteGroup(const QString& name);
    // "确实需要删除分组“name”？", after what goes with the group, naming
    // only what it has: its machines and `kept`, what is kept by its name
    // ("课表", "定时锁定"; empty entries: it has none).
    QString deletionQuestion(const QString& name, QStringList kept) const;
    // Into group `target`, or out of any group for an empty `target`.
    void moveMachine(quint64 mac, const QString& target);
    void moveMachines(const QList<quint64>& macs, const QString& target);
    // Out of `group`; machines not in it are left alone.
    void removeFromGroup(const QString& group, const QList<quint64>& macs);
    void deleteMachines(const QList<quint64>& macs);
    // A machine new to the registry takes its rows.
    void placeMachine(const CStuInfo_PTR& machine, const QString& logDetail = QString());
    // A machine that made room for a new one leaves every page.
    void dropEvicted(const CStuInfo_PTR& machine);
    // A known machine came back under a new name or address.
    void renameMachine(const CStuInfo_PTR& machine, const QString& hostName, const QString& address);
    // The teacher's "采用新地址": the address that claims the machine's MAC
    // becomes its own.
    void adoptAddress(const CStuInfo_PTR& machine);

signals:
    void sg_changed(const GroupChange& change);

private:
    QStudentGroupWidget* allPage() const;
    // display_order 1, 2, ... as the tabs stand, so a restart shows them so.
    void takeOrderFromTabs();
    void changed(const QString& page, const QString& detail, const CStuInfo_PTR& machine = nullptr,
                 bool pagesChanged = false, bool removed = false);
    // `change` on each of several machines, told in one log row: the
    // summary of how many changed, then their names.
    void inBatch(const QList<quint64>& macs, const std::function<QString(int)>& summary,
        const std::function<void(quint64)>& change);

    QStudentManage& registry;
    PageDirectory& pages;
    PageHost host;
    // While a batch runs: the machines its changes named, and their pages.
    struct Batch
    {
        QStringList labels;
        QStringList pages;
    };
    Batch* batch = nullptr;
};
