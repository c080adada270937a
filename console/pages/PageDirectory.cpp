#include "pages/PageDirectory.h"

#include "pages/QStudentGroupWidget.h"

#include <QTabBar>
#include <QTabWidget>

const QString PageDirectory::UngroupedName = QStringLiteral("未分组");

PageDirectory::PageDirectory(QTabWidget* tabs)
    : tabs(tabs)
{
}

QStudentGroupWidget* PageDirectory::pageAt(int index) const
{
    return qobject_cast<QStudentGroupWidget*>(tabs->widget(index));
}

QString PageDirectory::nameOf(const QStudentGroupWidget* page) const
{
    const int index = indexOf(page);
    return index > 0 ? tabs->tabText(index) : QString();
}

int PageDirectory::indexOf(const QStudentGroupWidget* page) const
{
    return page ? tabs->indexOf(const_cast<QStudentGroupWidget*>(page)) : -1;
}

QString PageDirectory::nameAt(int index) const
{
    return tabs->tabText(index);
}

QStudentGroupWidget* PageDirectory::groupPage(const QString& name) const
{
    for (int i = 1; i < tabs->count(); ++i) {
        QStudentGroupWidget* page = pageAt(i);
        if (page && page->page_order != QStudentGroupWidget::UngroupedOrder && tabs->tabText(i) == name)
            return page;
    }
    return nullptr;
}

QStudentGroupWidget* PageDirectory::ungrouped() const
{
    for (int i = 1; i < tabs->count(); ++i) {
        QStudentGroupWidget* page = pageAt(i);
        if (page && page->page_order == QStudentGroupWidget::UngroupedOrder)
            return page;
    }
    return nullptr;
}

QStudentGroupWidget* PageDirectory::pageNamed(const QString& name) const
{
    return name == UngroupedName ? ungrouped() : groupPage(name);
}

QStudentGroupWidget* PageDirectory::pageOf(const CStuInfo_PTR& machine) const
{
    return machine->group_name.isEmpty() ? ungrouped() : groupPage(machine->group_name);
}

QString PageDirectory::pageNameOf(const CStuInfo_PTR& machine)
{
    return machine->group_name.isEmpty() ? UngroupedName : machine->group_name;
}

QList<QStudentGroupWidget*> PageDirectory::pages() const
{
    QList<QStudentGroupWidget*> all;
    for (int i = 0; i < tabs->count(); ++i)
        if (QStudentGroupWidget* page = pageAt(i))
            all << page;
    return all;
}

QList<QStudentGroupWidget*> PageDirectory::groupPages() const
{
    return commandTargets(0);
}

void PageDirectory::applySettings(const QList<GroupSettings>& entries) const
{
    for (const GroupSettings& entry : entries) {
        auto lock = std::make_shared<Rok_Lock_State>();
        lock->lock_type = entry.lock_type;
        lock->allowmanualip = entry.allowmanualip;
        lock->allowusbdrv = entry.allowusbdrv;
        for (QStudentGroupWidget* page : groupPages())
            if (nameOf(page) == entry.group_name)
                page->loadGroupConfig(lock, entry.titles, entry.services, entry.programs);
    }
}

QList<GroupSettings> PageDirectory::settings() const
{
    QList<GroupSettings> entries;
    for (QStudentGroupWidget* page : groupPages()) {
        if (!page->policy_editor)
            continue;
        GroupSettings entry;
        entry.group_name = nameOf(page);
        std::shared_ptr<Rok_Lock_State> lock;
        page->exportGroupConfig(lock, entry.titles, entry.services, entry.programs);
        if (lock) {
            entry.lock_type = lock->lock_type;
            entry.allowmanualip = lock->allowmanualip;
            entry.allowusbdrv = lock->allowusbdrv;
        }
        entries << entry;
    }
    return entries;
}

int PageDirectory::tabAt(const QPoint& globalPos) const
{
    const QTabBar* bar = tabs->tabBar();
    return bar->tabAt(bar->mapFromGlobal(globalPos));
}

int PageDirectory::currentIndex() const
{
    return tabs->currentIndex();
}

QList<QStudentGroupWidget*> PageDirectory::commandTargets(int index) const
{
    QList<QStudentGroupWidget*> targets;
    if (index < 0)
        return targets;
    if (index == 0) {
        for (int i = 1; i < tabs->count(); ++i)
            if (QStudentGroupWidget* page = pageAt(i))
                targets << page;
    } else if (QStudentGroupWidget* page = pageAt(index)) {
        targets << page;
    }
    return targets;
}

std::vector<PageDirectory::Entry> PageDirectory::entries() const
{
    std::vector<Entry> all;
    for (int i = 0; i < tabs->count(); ++i) {
        QStudentGroupWidget* page = pageAt(i);
        if (page)
            all.push_back({tabs->tabText(i), page, page->page_order});
    }
    return all;
}

PageDirectory::Addresses PageDirectory::publish()
{
    std::vector<Entry> entries = this->entries();
    Addresses addresses;
    for (const Entry& entry : entries) {
        const uint32_t address = entry.page->group_addr.load();
        if (address == 0)
            continue;
        addresses.all.insert(address);
        if (entry.order == QStudentGroupWidget::UngroupedOrder)
            addresses.ungrouped = address;
        else
            addresses.groups.insert(entry.title, address);
    }
    std::lock_guard<std::mutex> lock(published_mutex);
    published.swap(entries);
    return addresses;
}

bool PageDirectory::renamePage(QStudentGroupWidget* page, const QString& name, const std::function<bool()>& alongside)
{
    const int index = tabs->indexOf(page);
    if (index <= 0 || page->page_order == QStudentGroupWidget::UngroupedOrder)
        return false;
    std::vector<Entry> renamed = entries();
    for (Entry& entry : renamed)
        if (entry.page == page)
            entry.title = name;
    {
        std::lock_guard<std::mutex> lock(published_mutex);
        if (!alongside())
            return false;
        published.swap(renamed);
    }
    tabs->setTabText(index, name);
    page->page_name = name;
    return true;
}

PageDirectory::Guarded::Guarded(const PageDirectory& directory)
    : lock(directory.published_mutex)
    , directory(directory)
{
}

QStudentGroupWidget* PageDirectory::Guarded::ungrouped() const
{
    const std::vector<Entry>& entries = directory.published;
    for (size_t i = 1; i < entries.size(); ++i)
        if (entries[i].order == QStudentGroupWidget::UngroupedOrder)
            return entries[i].page;
    return nullptr;
}

QStudentGroupWidget* PageDirectory::Guarded::groupPage(const QString& name) const
{
    const std::vector<Entry>& entries = directory.published;
    for (size_t i = 1; i < entries.size(); ++i)
        if (entries[i].title == name)
            return entries[i].page;
    return nullptr;
}

QList<QStudentGroupWidget*> PageDirectory::Guarded::pagesAt(uint32_t group) const
{
    QList<QStudentGroupWidget*> found;
    const std::vector<Entry>& entries = directory.published;
    for (size_t i = 1; i < entries.size(); ++i) {
        const uint32_t address = entries[i].page->group_addr.load();
        if (address != 0 && (group == 0 || address == group))
            found << entries[i].page;
    }
    return found;
}
