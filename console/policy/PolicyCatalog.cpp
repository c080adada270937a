#include "policy/PolicyCatalog.h"

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
