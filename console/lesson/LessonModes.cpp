#include "lesson/LessonModes.h"

#include "ConsoleCore.h"
#include "WindowParts.h"
#include "ui_RokVtxAdmin.h"
#include "log/EventLog.h"

#include "core/PolicyRules.h"
#include "dialogs/InputDialog.h"
#include "dialogs/MessageBox.h"
#include "lesson/LessonModeDialog.h"
#include "lesson/LessonTools.h"
#include "pages/LockPath.h"
#include "pages/PageDirectory.h"
#include "pages/QStudentGroupWidget.h"
#include "policy/QAppWatcherWidget.h"
#include "storage/EventLogStore.h"
#include "storage/LessonModeStore.h"

#include <QAction>
#include <QMenu>
#include <QSet>
#include <QStatusBar>

namespace {

constexpr int StatusMessageMs = 5000;
const QString Title = QStringLiteral("课堂模式");

// Switches the page's entries as the mode says: off what it names, on the
// rest. True when any entry changed.
bool applyEntries(QStudentGroupWidget* page, const LessonMode& mode)
{
    QAppWatcherWidget* editor = page->policy_editor;
    bool changed = false;
    for (int type = 1; type <= 3; ++type) {
        const QStringList& named = mode.disabled(type);
        const QSet<QString> off(named.begin(), named.end());
        StringItemList items = editor->itemsOfType(type);
        QSet<QString> present;
        bool typeChanged = false;
        for (const QtDoubleIntStringItem_PTR& item : items) {
            present.insert(item->str_val);
            const int wanted
                = off.contains(item->str_val) ? QtDoubleIntStringItem::Inactive : QtDoubleIntStringItem::Active;
            if (item->item_state != wanted) {
                item->item_state = wanted;
                typeChanged = true;
            }
        }
        // Only what the list holds: config.conf keeps no more than that.
        editor->disabledSet(type) = off & present;
        if (typeChanged) {
            editor->fillList(type, items);
            changed = true;
        }
    }
    return changed;
}

// The mode's switches and entries, its lock left to the lock path. True when
// anything changed.
bool applySetup(QStudentGroupWidget* page, const LessonMode& mode)
{
    bool changed = false;
    if (page->lock_state->allowmanualip.load() != mode.allowmanualip) {
        page->setAllowManualIp(mode.allowmanualip);
        changed = true;
    }
    if (page->lock_state->allowusbdrv.load() != mode.allowusbdrv) {
        page->setAllowUsbDrv(mode.allowusbdrv);
        changed = true;
    }
    if (applyEntries(page, mode)) {
        page->buildPolicyDatagram();
        changed = true;
    }
    return changed;
}

} // namespace

LessonModes::LessonModes(LessonModeStore& store, const Attachment& attachment, QWidget* window)
    : QObject(window)
    , store(store)
    , host(attachment)
    , window(window)
{
    buildMenu();
}

void LessonModes::buildMenu()
{
    modes_menu = new QMenu(Title, window);
    modes_menu->setObjectName(QStringLiteral("menu_lesson_modes"));
    save_action = modes_menu->addAction(QStringLiteral("保存为课堂模式..."));
    save_action->setObjectName(QStringLiteral("action_mode_save"));
    connect(save_action, &QAction::triggered, this, &LessonModes::saveCurrentInteractive);
    apply_menu = modes_menu->addMenu(QStringLiteral("应用课堂模式"));
    apply_menu->setObjectName(QStringLiteral("menu_mode_apply"));
    modes_menu->addSeparator();
    manage_action = modes_menu->addAction(QStringLiteral("管理课堂模式..."));
    manage_action->setObjectName(QStringLiteral("action_mode_manage"));
    connect(manage_action, &QAction::triggered, this, &LessonModes::manage);
    connect(modes_menu, &QMenu::aboutToShow, this, &LessonModes::fillApplyMenu);

    QAction* before = nullptr;
    const QList<QAction*> actions = host.menu->actions();
    const int at = actions.indexOf(host.after);
    if (at >= 0 && at + 1 < actions.size())
        before = actions.at(at + 1);
    host.menu->insertMenu(before, modes_menu);
}

void LessonModes::fillApplyMenu()
{
    apply_menu->clear();
    const bool onPage = !currentTargets().isEmpty();
    save_action->setEnabled(onPage);
    for (const LessonMode& mode : store.load()) {
        QAction* action = apply_menu->addAction(mode.name);
        action->setToolTip(describe(mode));
        action->setStatusTip(describe(mode));
        const QString name = mode.name;
        connect(action, &QAction::triggered, this, [this, name] { applyToCurrent(name); });
    }
    apply_menu->setEnabled(onPage && !apply_menu->isEmpty());
    manage_action->setEnabled(!apply_menu->isEmpty());
}

QStringList LessonModes::modeNames() const
{
    QStringList names;
    for (const LessonMode& mode : store.load())
        names << mode.name;
    return names;
}

bool LessonModes::hasMode(const QString& name) const
{
    LessonMode mode;
    return findMode(name, mode);
}

bool LessonModes::findMode(const QString& name, LessonMode& found) const
{
    for (const LessonMode& mode : store.load()) {
        if (mode.name == name) {
            found = mode;
            return true;
        }
    }
    return false;
}

LessonMode LessonModes::capture(const QStudentGroupWidget* page, const QString& name)
{
    LessonMode mode;
    mode.name = name;
    mode.lock_type = page->lock_state->lock_type;
    mode.allowmanualip = page->lock_state->allowmanualip.load();
    mode.allowusbdrv = page->lock_state->allowusbdrv.load();
    if (!page->policy_editor)
        return mode;
    for (int type = 1; type <= 3; ++type) {
        QStringList off;
        for (const QtDoubleIntStringItem_PTR& item : page->policy_editor->itemsOfType(type))
            if (item->item_state != QtDoubleIntStringItem::Active)
                off << item->str_val;
        mode.setDisabled(type, off);
    }
    return mode;
}

QString LessonModes::describe(const LessonMode& mode)
{
    int off = 0;
    for (int type = 1; type <= 3; ++type)
        off += mode.disabled(type).size();
    QStringList parts;
    parts << (mode.lock_type == Rok_Lock_State::None ? QStringLiteral("不锁定")
                                                     : LessonTools::lockName(mode.lock_type));
    parts << (mode.allowmanualip ? QStringLiteral("允许手动IP") : QStringLiteral("自动IP"));
    parts << (mode.allowusbdrv ? QStringLiteral("允许U盘") : QStringLiteral("禁用U盘"));
    if (off > 0)
        parts << QStringLiteral("关闭 %1 个条目").arg(off);
    return parts.join(QStringLiteral("，"));
}

QString LessonModes::describeMode(const QString& name) const
{
    LessonMode mode;
    return findMode(name, mode) ? describe(mode) : QString();
}

QList<QStudentGroupWidget*> LessonModes::currentTargets() const
{
    const int tab = host.currentTab ? host.currentTab() : -1;
    QList<QStudentGroupWidget*> pages;
    for (QStudentGroupWidget* page : host.pages->commandTargets(tab))
        if (page->policy_editor)
            pages << page;
    return pages;
}

QStringList LessonModes::apply(
    const QString& name, const QList<QStudentGroupWidget*>& pages, const QString& logKindText, LockOrigin origin)
{
    LessonMode mode;
    QList<QStudentGroupWidget*> targets;
    for (QStudentGroupWidget* page : pages)
        if (page && page->policy_editor && !targets.contains(page))
            targets << page;
    if (targets.isEmpty() || !findMode(name, mode))
        return {};

    QStringList missing;
    for (QStudentGroupWidget* page : targets)
        for (const QString& entry : mode.missingEntries(page->policy_editor->allItems()))
            if (!missing.contains(entry))
                missing << entry;

    // One row for the whole step, before the datagrams, as the commands log.
    const QList<QStudentGroupWidget*> everyPage = host.pages->commandTargets(0);
    const bool all = targets.size() > 1 && targets.size() == everyPage.size();
    QStringList names;
    for (QStudentGroupWidget* page : targets)
        names << host.pages->nameOf(page);
    host.eventLog->add(origin == LockOrigin::Timetable ? EventLogStore::Timetable : EventLogStore::Command,
        all ? QStringLiteral("全部") : names.join(QStringLiteral("、")), 0, QString(),
        QStringLiteral("%1：%2").arg(logKindText, mode.name));

    for (QStudentGroupWidget* page : targets)
        applySetup(page, mode);
    // Last: the check marks and config.conf it updates take in the switches
    // and entries too.
    host.lockPath->setPagesLock(targets, mode.lock_type, origin);
    return missing;
}

bool LessonModes::putBack(QStudentGroupWidget* page, const BeforeLesson& before)
{
    if (!page || !page->policy_editor || before.isEmpty())
        return false;
    return applySetup(page, before.putBack(capture(page, QString())));
}

QString LessonModes::saveCurrent(const QString& typed)
{
    const QString name = LessonMode::normalisedName(typed);
    const QString problem = LessonMode::nameProblem(name);
    if (!problem.isEmpty())
        return problem;
    const QList<QStudentGroupWidget*> pages = currentTargets();
    if (pages.isEmpty())
        return QStringLiteral("没有可保存的分组。");
    // On "全部" a mode is only what every page has in common.
    const LessonMode mode = capture(pages.first(), name);
    for (QStudentGroupWidget* page : pages)
        if (!capture(page, name).sameSettings(mode))
            return QStringLiteral("各分组的设置不同，无法保存为一个课堂模式。请在要保存的分组中操作。");
    if (!store.put(mode))
        return QStringLiteral("无法保存课堂模式：数据库不可写。");
    emit sg_changed();
    return QString();
}

QString LessonModes::renameMode(const QString& from, const QString& typed)
{
    const QString to = LessonMode::normalisedName(typed);
    const QString problem = LessonMode::nameProblem(to);
    if (!problem.isEmpty())
        return problem;
    if (to == from)
        return QString();
    if (hasMode(to))
        return QStringLiteral("已有名为“%1”的课堂模式。").arg(to);
    if (!store.rename(from, to))
        return QStringLiteral("无法重命名课堂模式“%1”。").arg(from);
    emit sg_renamed(from, to);
    emit sg_changed();
    return QString();
}

QString LessonModes::removeMode(const QString& name)
{
    if (!hasMode(name) || !store.remove(name))
        return QStringLiteral("无法删除课堂模式“%1”。").arg(name);
    emit sg_removed(name);
    emit sg_changed();
    return QString();
}

void LessonModes::saveCurrentInteractive()
{
    if (currentTargets().isEmpty())
        return;
    // A name it cannot take is told and asked for again, as 添加组 does.
    QString typed;
    QString name;
    for (;;) {
        bool ok = false;
        typed = InputDialog::getText(
            window, QStringLiteral("保存为课堂模式"), QStringLiteral("课堂模式名称："), typed, &ok);
        if (!ok)
            return;
        name = LessonMode::normalisedName(typed);
        const QString refused = LessonMode::nameProblem(name);
        if (refused.isEmpty())
            break;
        MessageBox::warning(window, Title, refused, QMessageBox::Ok);
    }
    if (hasMode(name)
        && MessageBox::question(window, Title, QStringLiteral("课堂模式“%1”已存在，要用当前设置替换吗？").arg(name),
               QMessageBox::Yes | QMessageBox::No)
            != QMessageBox::Yes)
        return;
    const QString problem = saveCurrent(name);
    if (!problem.isEmpty()) {
        MessageBox::warning(window, Title, problem, QMessageBox::Ok);
        return;
    }
    showStatus(QStringLiteral("已保存课堂模式“%1”").arg(name));
}

void LessonModes::applyToCurrent(const QString& mode)
{
    const QList<QStudentGroupWidget*> pages = currentTargets();
    if (pages.isEmpty())
        return;
    if (!hasMode(mode)) {
        MessageBox::warning(window, Title, QStringLiteral("课堂模式“%1”已不存在。").arg(mode), QMessageBox::Ok);
        return;
    }
    const QStringList missing = apply(mode, pages, Title);
    if (!missing.isEmpty()) {
        MessageBox::warning(window, Title,
            QStringLiteral("已应用课堂模式“%1”，但以下条目已不在策略列表中：\n").arg(mode)
                + PolicyRules::listed(missing),
            QMessageBox::Ok);
        return;
    }
    showStatus(QStringLiteral("已应用课堂模式“%1”").arg(mode));
}

void LessonModes::manage()
{
    LessonModeDialog dialog(*this, window);
    dialog.exec();
}

void LessonModes::showStatus(const QString& text)
{
    if (host.statusBar)
        host.statusBar->showMessage(text, StatusMessageMs);
}

void LessonModes::attach(ConsoleCore& core, WindowParts& parts)
{
    Ui::RokVtxAdminClass& form = parts.form;
    parts.lessonModes = new LessonModes(core.tables().lessonModes(),
        { &core.pages(), form.menu_A, form.action_op_usbdisk, form.statusBar, &parts.log->store(),
            core.currentTabReader(), &core.lockPath() },
        parts.window);
}
