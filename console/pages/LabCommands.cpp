#include "pages/LabCommands.h"

#include "ConsoleCore.h"
#include "WindowParts.h"
#include "ui_RokVtxAdmin.h"
#include "groups/GroupOperations.h"
#include "log/EventLog.h"
#include "saving/SaveScheduler.h"

#include "lesson/LessonTools.h"
#include "model/Rok_Lock_State.h"
#include "pages/LockPath.h"
#include "pages/PageDirectory.h"
#include "pages/QStudentGroupWidget.h"

#include <QAction>
#include <QActionGroup>
#include <QIcon>

LabCommands::LabCommands(const Actions& actions, Host host, QObject* parent)
    : QObject(parent)
    , actions(actions)
    , host(std::move(host))
{
    locks = new QActionGroup(this);
    locks->setExclusive(true);
    locks->setEnabled(true);
    locks->addAction(actions.quiet);
    locks->addAction(actions.lock);
    locks->addAction(actions.lockKeyboardMouse);
    connect(locks, &QActionGroup::triggered, this, &LabCommands::applyLock);
    connect(actions.autoIp, &QAction::triggered, this, &LabCommands::applyAutoIp);
    connect(actions.usb, &QAction::triggered, this, &LabCommands::applyUsb);
}

QList<QStudentGroupWidget*> LabCommands::targets() const
{
    return host.pages->commandTargets(host.currentTab());
}

void LabCommands::applyLock(QAction* action)
{
    int type = 0;
    if (action == actions.quiet)
        type = Rok_Lock_State::BlackQuiet;
    else if (action == actions.lock)
        type = Rok_Lock_State::BlackLock;
    else if (action == actions.lockKeyboardMouse)
        type = Rok_Lock_State::KeyboardMouseLock;
    else
        return;

    // Choosing the active lock again releases it.
    if (shown_state.lock_type == type) {
        host.log(QStringLiteral("解除%1").arg(LessonTools::lockName(type)));
        type = Rok_Lock_State::None;
        action->setChecked(false);
    } else {
        host.log(LessonTools::lockName(type));
    }
    host.lockPath->setPagesLock(targets(), type, LockOrigin::Teacher);
}

void LabCommands::applyAutoIp(bool checked)
{
    host.log(checked ? QStringLiteral("自动IP：开") : QStringLiteral("自动IP：关"));
    for (QStudentGroupWidget* page : targets())
        page->setAllowManualIp(!checked);
    shown_state.allowmanualip = !checked;
    host.settingsChanged();
}

void LabCommands::applyUsb(bool checked)
{
    // "禁用U盘" ticked: drives disabled, the bit allowusbdrv clear.
    host.log(checked ? QStringLiteral("禁用U盘") : QStringLiteral("允许U盘"));
    for (QStudentGroupWidget* page : targets())
        page->setAllowUsbDrv(!checked);
    shown_state.allowusbdrv = !checked;
    updateUsbLook();
    host.settingsChanged();
}

void LabCommands::updateUsbLook()
{
    // The icon and tool tip name what the agents get.
    if (!actions.usb->isChecked()) {
        actions.usb->setIcon(QIcon(QStringLiteral(":/RokVtxAdmin/images/usb-disk-enable.png")));
        actions.usb->setToolTip(QStringLiteral("当前允许使用U盘"));
    } else {
        actions.usb->setIcon(QIcon(QStringLiteral(":/RokVtxAdmin/images/usb-disk-disable.png")));
        actions.usb->setToolTip(QStringLiteral("当前禁用U盘"));
    }
}

void LabCommands::showStateOf(int index)
{
    LockShown shown;
    int order = index;
    if (index > 0) {
        if (QStudentGroupWidget* page = host.pages->pageAt(index)) {
            shown = LockShown::of(*page->lock_state);
            order = page->page_order;
        }
    } else if (index == 0) {
        QList<const Rok_Lock_State*> states;
        for (QStudentGroupWidget* page : host.pages->groupPages())
            states << page->lock_state.get();
        shown = LockShown::common(states);
    }

    actions.lock->setChecked(shown.lock_type == Rok_Lock_State::BlackLock);
    actions.quiet->setChecked(shown.lock_type == Rok_Lock_State::BlackQuiet);
    actions.lockKeyboardMouse->setChecked(shown.lock_type == Rok_Lock_State::KeyboardMouseLock);
    // An exclusive group keeps its last action checked; no lock means none.
    if (shown.lock_type == Rok_Lock_State::None && locks->checkedAction())
        locks->checkedAction()->setChecked(false);
    actions.autoIp->setChecked(!shown.allowmanualip);
    actions.usb->setChecked(!shown.allowusbdrv);
    updateUsbLook();
    actions.removeGroup->setEnabled(order != 0 && order != QStudentGroupWidget::UngroupedOrder);
    shown_state = shown;
}

void LabCommands::attach(ConsoleCore& core, WindowParts& parts)
{
    Ui::RokVtxAdminClass& form = parts.form;
    SaveScheduler* saves = parts.saves;
    auto* commands = new LabCommands({ form.action_op_keep_quiet, form.action_op_lock, form.action_op_lock_kbd_mouse,
                                         form.action_op_auto_ip, form.action_op_usbdisk, form.action_op_remove_group },
        { &core.pages(), &core.lockPath(), core.currentTabReader(), parts.log->commandWriter(),
            [saves] { saves->scheduleConfigSave(); } },
        parts.window);
    parts.commands = commands;
    connect(&parts, &WindowParts::sg_command_states, commands, &LabCommands::showStateOf);
    // The check marks (and what a second press releases) follow the pages;
    // on "全部" they describe every page, so a newcomer changes them too.
    WindowParts* stale = &parts;
    connect(&core.lockPath(), &LockPath::sg_changed, commands, [stale] { stale->showCommandStates(); });
    connect(&core.groups(), &GroupOperations::sg_changed, commands, [stale](const GroupChange& change) {
        if (change.pagesChanged)
            stale->showCommandStates();
    });
}
