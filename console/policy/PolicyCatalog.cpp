#include "policy/PolicyCatalog.h"

#include "ConsoleCore.h"
#include "WindowParts.h"
#include "ui_RokVtxAdmin.h"
#include "app/StartupNotices.h"
#include "saving/SaveScheduler.h"

#include "core/PolicyRules.h"
#include "core/QStudentManage.h"
#include "pages/PageDirectory.h"
#include "pages/QStudentGroupWidget.h"
#include "policy/QAppWatcherWidget.h"

PolicyCatalog::PolicyCatalog(QStudentManage& registry, PageDirectory& pages, QAppWatcherWidget* editor,
                             QObject* parent)
    : QObject(parent)
    , registry(registry)
    , pages(pages)
    , editor(editor)
{
    connect(editor, &QAppWatcherWidget::sg_btn_save_clicked, this, &PolicyCatalog::save);
}

StringItemList PolicyCatalog::stored(QStringList* notes) const
{
    StringItemList items;
    for (int type = 1; type <= 3; ++type)
        items << registry.store().loadStringItems(type);
    // What every agent would reject is mended before any group sends it.
    const QStringList repairs = PolicyRules::repair(items);
    if (notes)
        *notes = repairs;
    return items;
}

QStringList PolicyCatalog::load()
{
    QStringList notes;
    const StringItemList catalog = stored(&notes);
    for (int type = 1; type <= 3; ++type) {
        StringItemList ofType;
        for (const auto& item : catalog)
            if (item->item_type == type)
                ofType << item;
        editor->fillList(type, ofType);
    }
    for (QStudentGroupWidget* page : pages.groupPages())
        page->setPolicyItems(catalog);
    return notes;
}

void PolicyCatalog::give(QStudentGroupWidget* page)
{
    page->setPolicyItems(stored());
}

void PolicyCatalog::watch(QStudentGroupWidget* page)
{
    // A teacher switching an entry off for a group is a setting to keep.
    if (page->policy_editor)
        connect(page->policy_editor, &QAppWatcherWidget::sg_item_state_changed, this,
                [this](int, const QString&, int) { emit sg_settings_changed(); });
}

void PolicyCatalog::save()
{
    StringItemList all;
    for (int type = 1; type <= 3; ++type) {
        const StringItemList items = editor->itemsOfType(type);
        emit sg_stored(registry.saveStringItems(items, type));
        all << items;
    }
    for (QStudentGroupWidget* page : pages.groupPages())
        if (page->policy_editor)
            page->mergePolicyItems(all);
    emit sg_settings_changed();
}

void PolicyCatalog::attach(ConsoleCore& core, WindowParts& parts)
{
    auto* catalog = new PolicyCatalog(core.registry(), core.pages(), parts.watchEditor, parts.window);
    parts.catalog = catalog;
    connect(catalog, &PolicyCatalog::sg_settings_changed, parts.saves, &SaveScheduler::scheduleConfigSave);
    connect(catalog, &PolicyCatalog::sg_stored, parts.saves, &SaveScheduler::noteDatabaseSave);
    // The start's pages get the lists at once when loaded; a group's page
    // made later gets them as stored.
    auto loaded = std::make_shared<bool>(false);
    connect(&parts, &WindowParts::sg_page_made, catalog, [catalog, loaded](QStudentGroupWidget* page) {
        catalog->watch(page);
        if (*loaded)
            catalog->give(page);
    });
    StartupNotices* notices = parts.notices;
    connect(&parts, &WindowParts::sg_pages_made, catalog, [catalog, loaded, notices] {
        notices->add(QStringLiteral("策略列表"), PolicyRules::listed(catalog->load()));
        *loaded = true;
    });
}
