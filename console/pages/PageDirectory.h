#pragma once

#include "model/CStuInfo.h"
#include "storage/GroupSettings.h"

#include <QHash>
#include <QList>
#include <QSet>
#include <QString>

#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

class QStudentGroupWidget;
class QPoint;
class QTabWidget;

// Which page is which. A page's identity is its tab's text; tab 0 is "全部",
// "未分组" has QStudentGroupWidget::UngroupedOrder. The UI thread asks the
// tabs; the network thread must not touch them and reads a copy published
// after every change of pages, under a lock (see Guarded).
class PageDirectory final
{
public:
    static const QString UngroupedName;

    explicit PageDirectory(QTabWidget* tabs);

    QStudentGroupWidget* pageAt(int index) const;
    // The tab text of a page besides "全部"; empty for "全部" and unknown pages.
    QString nameOf(const QStudentGroupWidget* page) const;
    QString nameAt(int index) const;
    // The page's tab, -1 for none.
    int indexOf(const QStudentGroupWidget* page) const;
    // config.conf's entries onto the group pages of those names, and back.
    void applySettings(const QList<GroupSettings>& entries) const;
    QList<GroupSettings> settings() const;
    // The tab under a point of the screen, -1 for none; the tab in front.
    int tabAt(const QPoint& globalPos) const;
    int currentIndex() const;
    // The page of group `name` (never "未分组").
    QStudentGroupWidget* groupPage(const QString& name) const;
    QStudentGroupWidget* ungrouped() const;
    // A group's page, or "未分组" for that name (no group may be called so).
    QStudentGroupWidget* pageNamed(const QString& name) const;
    // The page a machine is shown on besides "全部", and its name.
    QStudentGroupWidget* pageOf(const CStuInfo_PTR& machine) const;
    static QString pageNameOf(const CStuInfo_PTR& machine);
    // Every page, "全部" first.
    QList<QStudentGroupWidget*> pages() const;
    // Every page but "全部": the groups' and "未分组".
    QList<QStudentGroupWidget*> groupPages() const;
    // What a command on tab `index` acts on: on "全部" every other page.
    QList<QStudentGroupWidget*> commandTargets(int index) const;

    // The multicast addresses of the pages, as last published.
    struct Addresses
    {
        QHash<QString, uint32_t> groups; // by group name
        uint32_t ungrouped = 0;
        QSet<uint32_t> all;
    };
    // Copies the tabs for the network thread; call after every page added or
    // removed, and before a removed page is destroyed.
    Addresses publish();
    // Gives a group's page (its tab) a new name. `alongside` (the registry's
    // rename) runs under the network thread's lock with the new copy
    // published, so no datagram finds the registry and the pages naming the
    // group differently. False, and nothing changed, when it refuses.
    bool renamePage(QStudentGroupWidget* page, const QString& name, const std::function<bool()>& alongside);

    // The network thread's view. While one exists no page in it is destroyed
    // (the UI thread publishes a page's removal before destroying it).
    class Guarded
    {
    public:
        QStudentGroupWidget* ungrouped() const;
        // Group `name`'s page, or null.
        QStudentGroupWidget* groupPage(const QString& name) const;
        // The pages besides "全部" sending to multicast address `group`;
        // for 0, every page that sends.
        QList<QStudentGroupWidget*> pagesAt(uint32_t group) const;

    private:
        friend class PageDirectory;
        explicit Guarded(const PageDirectory& directory);
        std::unique_lock<std::mutex> lock;
        const PageDirectory& directory;
    };
    Guarded guarded() const { return Guarded(*this); }

private:
    struct Entry
    {
        QString title;
        QStudentGroupWidget* page = nullptr;
        int order = 0;
    };

    std::vector<Entry> entries() const;

    QTabWidget* tabs;
    mutable std::mutex published_mutex;
    std::vector<Entry> published;
};
