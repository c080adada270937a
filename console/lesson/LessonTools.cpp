#include "lesson/LessonTools.h"

#include "ConsoleCore.h"
#include "WindowParts.h"
#include "ui_RokVtxAdmin.h"
#include "groups/GroupOperations.h"

#include "dialogs/InputDialog.h"
#include "lesson/TimedLockController.h"
#include "log/EventLog.h"
#include "log/EventLogDock.h"
#include "model/Rok_Lock_State.h"
#include "pages/LockPath.h"
#include "pages/PageDirectory.h"
#include "pages/QStudentGroupWidget.h"
#include "storage/ConsoleTables.h"
#include "storage/EventLogStore.h"

#include <QAction>
#include <QLabel>
#include <QMainWindow>
#include <QMenu>
#include <QSettings>
#include <QStatusBar>
#include <QTabWidget>
#include <QToolBar>
#include <QToolButton>

namespace {

constexpr int StatusMessageMs = 5000;
const QString EventLogKey = QStringLiteral("view/eventLog");

// The last second still shows as 00:01; a fresh five-minute lock as 05:00.
QString countdown(qint64 remainingMs)
{
    const qint64 seconds = (remainingMs + 999) / 1000;
    return QStringLiteral("%1:%2").arg(seconds / 60, 2, 10, QLatin1Char('0')).arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

} // namespace

LessonTools::LessonTools(ConsoleTables& tables, TimedLockController& timedLocks, QMainWindow* window,
    QStatusBar* statusBar)
    : QObject(window)
    , window(window)
{
    timed_label = new QLabel(window);
    status_bar = statusBar;
    statusBar->addPermanentWidget(timed_label);
    timed_locks = &timedLocks;
    connect(timed_locks, &TimedLockController::sg_expired, this, &LessonTools::onTimedLockExpired);
    connect(timed_locks, &TimedLockController::sg_ticked, this, &LessonTools::updateTimedLockStatus);
    event_log = &tables.eventLog();
    event_log_dock = new EventLogDock(event_log, window);
    window->addDockWidget(Qt::BottomDockWidgetArea, event_log_dock);
    event_log_dock->hide();
    connect(event_log_dock, &EventLogDock::sg_message, statusBar,
            [statusBar](const QString& text) { statusBar->showMessage(text, StatusMessageMs); });
}

void LessonTools::attach(const Attachment& attachment)
{
    host = attachment;
    connect(host.lockPath, &LockPath::sg_changed, this, &LessonTools::updateTimedLockStatus);
    buildTimedLockMenus();
    buildReleaseAll();

    QAction* showLog = event_log_dock->toggleViewAction();
    showLog->setText(QStringLiteral("日志"));
    showLog->setObjectName(QStringLiteral("action_view_event_log"));
    host.viewMenu->addSeparator();
    host.viewMenu->addAction(showLog);
    // Open or closed, as this PC's teacher left it.
    event_log_dock->setVisible(QSettings().value(EventLogKey, false).toBool());
    connect(event_log_dock, &EventLogDock::sg_opened, this,
            [](bool open) { QSettings().setValue(EventLogKey, open); });
}

QString LessonTools::lockName(int kind)
{
    switch (kind) {
    case Rok_Lock_State::BlackQuiet:
        return QStringLiteral("黑屏安静");
    case Rok_Lock_State::KeyboardMouseLock:
        return QStringLiteral("键盘鼠标全锁");
    default:
        return QStringLiteral("黑屏锁定");
    }
}

void LessonTools::buildTimedLockMenus()
{
    QAction* after = nullptr;
    const QList<QAction*> opActions = host.lockMenu->actions();
    const int kbdAt = opActions.indexOf(host.lockKbdMouseAction);
    if (kbdAt >= 0 && kbdAt + 1 < opActions.size())
        after = opActions.at(kbdAt + 1);
    for (QAction* action : {host.lockAction, host.lockKbdMouseAction}) {
        const int kind =
            action == host.lockAction ? Rok_Lock_State::BlackLock : Rok_Lock_State::KeyboardMouseLock;
        auto* menu = new QMenu(QStringLiteral("定时%1").arg(lockName(kind)), window);
        menu->setObjectName(action->objectName() + QStringLiteral("_timed"));
        for (int minutes : {5, 10, 15, 30, 45}) {
            QAction* timed = menu->addAction(QStringLiteral("%1 分钟").arg(minutes));
            timed->setObjectName(QStringLiteral("%1_for_%2").arg(action->objectName()).arg(minutes));
            connect(timed, &QAction::triggered, this, [this, kind, minutes] { startTimedLock(kind, minutes); });
        }
        menu->addSeparator();
        QAction* custom = menu->addAction(QStringLiteral("自定义时长..."));
        custom->setObjectName(action->objectName() + QStringLiteral("_for_custom"));
        connect(custom, &QAction::triggered, this, [this, kind] {
            bool ok = false;
            const int minutes = InputDialog::getInt(window, QStringLiteral("定时%1").arg(lockName(kind)),
                                                    QStringLiteral("锁定时长（分钟）："), 20, 1, 600, &ok);
            if (ok)
                startTimedLock(kind, minutes);
        });
        // The arrow beside the tool-bar button; a click on the button itself
        // stays the plain command.
        if (auto* button = qobject_cast<QToolButton*>(host.toolBar->widgetForAction(action))) {
            button->setMenu(menu);
            button->setPopupMode(QToolButton::MenuButtonPopup);
        }
        host.lockMenu->insertMenu(after, menu);
    }
}

void LessonTools::buildReleaseAll()
{
    // On "全部" with rooms in different states the lock buttons show none
    // pressed, and a press locks every room: this is the one press that
    // releases them all.
    auto* releaseAll = new QAction(QIcon(QStringLiteral(":/RokVtxAdmin/images/unlockall.png")),
                                   QStringLiteral("全部解锁"), window);
    releaseAll->setObjectName(QStringLiteral("action_op_unlock_all"));
    releaseAll->setToolTip(QStringLiteral("解除所有分组的锁定"));
    connect(releaseAll, &QAction::triggered, this, &LessonTools::releaseAllPages);
    const QList<QAction*> menuActions = host.lockMenu->actions();
    const int kbdInMenu = menuActions.indexOf(host.lockKbdMouseAction);
    // After the timed-lock submenus, which follow the lock actions.
    int at = kbdInMenu + 1;
    while (at < menuActions.size() && menuActions.at(at)->menu())
        ++at;
    host.lockMenu->insertAction(at < menuActions.size() ? menuActions.at(at) : nullptr, releaseAll);
    const QList<QAction*> barActions = host.toolBar->actions();
    const int kbdInBar = barActions.indexOf(host.lockKbdMouseAction);
    host.toolBar->insertAction(
        kbdInBar >= 0 && kbdInBar + 1 < barActions.size() ? barActions.at(kbdInBar + 1) : nullptr, releaseAll);
}

void LessonTools::releaseAllPages()
{
    const QList<QStudentGroupWidget*> pages = host.pages->commandTargets(0);
    if (pages.isEmpty())
        return;
    int locked = 0;
    for (const QStudentGroupWidget* page : pages)
        locked += page->lock_state->lock_type != Rok_Lock_State::None ? 1 : 0;
    event_log->add(EventLogStore::Command, QStringLiteral("全部"), 0, QString(), QStringLiteral("全部解锁"));
    host.lockPath->setPagesLock(pages, Rok_Lock_State::None, LockOrigin::Teacher);
    status_bar->showMessage(locked == 0 ? QStringLiteral("全部解锁：没有锁定的机房")
                                        : QStringLiteral("全部解锁：已解锁 %1 个机房").arg(locked),
        StatusMessageMs);
}

void LessonTools::startTimedLock(int kind, int minutes)
{
    const QList<QStudentGroupWidget*> targets = host.pages->commandTargets(host.currentTab());
    if (targets.isEmpty() || minutes <= 0)
        return;
    host.log->command(QStringLiteral("%1 %2 分钟").arg(lockName(kind)).arg(minutes));
    host.lockPath->setPagesLock(targets, kind, LockOrigin::Teacher);
    for (QStudentGroupWidget* page : targets)
        timed_locks->start(host.pages->nameOf(page), kind, qint64(minutes) * 60 * 1000);
    updateTimedLockStatus();
}

void LessonTools::restoreTimedLocks()
{
    if (timed_locks_restored)
        return;
    timed_locks_restored = true;
    for (const TimedLockStore::Entry& entry : timed_locks->stored()) {
        QStudentGroupWidget* page = host.pages->pageNamed(entry.page);
        // Kept while its end would still release what it set.
        if (page
            && LockPrecedence::outcome(LockOrigin::TimedLock, page->lock_state->lock_type, entry.kind)
                == LockPrecedence::Outcome::Take)
            timed_locks->adopt(entry);
        else
            timed_locks->cancel(entry.page);
    }
    // Ends that passed while the console was not running release at once.
    timed_locks->tick();
}

void LessonTools::onTimedLockExpired(const QString& pageName, int kind)
{
    QStudentGroupWidget* page = host.pages ? host.pages->pageNamed(pageName) : nullptr;
    if (!page)
        return;
    // The row, as for a command, before the datagrams; only for a release that happens.
    if (LockPrecedence::outcome(LockOrigin::TimedLock, page->lock_state->lock_type, kind)
        == LockPrecedence::Outcome::Take)
        event_log->add(EventLogStore::Command, pageName, 0, QString(),
                       QStringLiteral("定时结束，解除%1").arg(lockName(kind)));
    host.lockPath->setPagesLock({ page }, Rok_Lock_State::None, LockOrigin::TimedLock);
}

QString LessonTools::timedLockText() const
{
    const int tab = host.currentTab ? host.currentTab() : -1;
    const QStringList running = timed_locks->pages();
    if (tab < 0 || running.isEmpty())
        return QString();
    // The tab's own timer; on "全部" or a tab without one, the one that ends
    // first, named by its page unless every page shares it. The others are
    // counted here and listed in the tool tip, so that none is out of sight.
    const QString own = tab > 0 ? host.pages->nameAt(tab) : QString();
    QString shown = timed_locks->has(own) ? own : QString();
    bool shared = tab == 0 && running.size() == host.tabs->count() - 1;
    for (const QString& key : running) {
        const qint64 left = timed_locks->remainingMs(key);
        if (!shown.isEmpty() && shown != own
            && (left != timed_locks->remainingMs(shown) || timed_locks->kindOf(key) != timed_locks->kindOf(shown)))
            shared = false;
        if (shown.isEmpty() || (shown != own && left < timed_locks->remainingMs(shown)))
            shown = key;
    }
    QString text = QStringLiteral("%1：还剩 %2")
                       .arg(lockName(timed_locks->kindOf(shown)), countdown(timed_locks->remainingMs(shown)));
    if (shown != own && !shared)
        text = QStringLiteral("%1 %2").arg(shown, text);
    if (!shared && running.size() > 1)
        text += QStringLiteral("（另有 %1 个定时锁定）").arg(running.size() - 1);
    return text;
}

QString LessonTools::timedLockToolTip() const
{
    QStringList lines;
    for (const QString& key : timed_locks->pages())
        lines << QStringLiteral("%1：%2，还剩 %3")
                     .arg(key, lockName(timed_locks->kindOf(key)), countdown(timed_locks->remainingMs(key)));
    return lines.join(QLatin1Char('\n'));
}

void LessonTools::updateTimedLockStatus()
{
    timed_label->setText(timedLockText());
    timed_label->setToolTip(timedLockToolTip());
}

void LessonTools::renamePage(const QString& from, const QString& to)
{
    timed_locks->rename(from, to);
    event_log_dock->followRename(from, to);
    updateTimedLockStatus();
}

void LessonTools::attach(ConsoleCore& core, WindowParts& parts)
{
    auto* lesson = new LessonTools(core.tables(), core.timedLocks(), parts.window, parts.form.statusBar);
    parts.lesson = lesson;
    Ui::RokVtxAdminClass& form = parts.form;
    lesson->attach({ &core.pages(), parts.tabs, form.menu_A, form.menu_V, form.mainToolBar, form.action_op_lock,
        form.action_op_lock_kbd_mouse, core.currentTabReader(), &core.lockPath(), parts.log });
    connect(&parts, &WindowParts::sg_tab_shown, lesson, &LessonTools::updateTimedLockStatus);
    QTabWidget* tabs = parts.tabs;
    lesson->eventLogDock()->setCurrentPages([tabs, &core] {
        QStringList names;
        for (int index = 0; index < tabs->count(); ++index)
            names << core.pages().nameAt(index);
        return names;
    });
    connect(&parts, &WindowParts::sg_settings_applied, lesson, [lesson, &core] {
        // Without the pages' saved locks there is nothing the stored ends
        // belong to; they stay for a run that can read config.conf.
        if (!core.settings().readFailed())
            lesson->restoreTimedLocks();
    });
    connect(&parts, &WindowParts::sg_page_removing, lesson,
        [&core](QStudentGroupWidget* page) { core.timedLocks().cancel(core.pages().nameOf(page)); });
    connect(&core.groups(), &GroupOperations::sg_changed, lesson, [lesson](const GroupChange& change) {
        if (!change.renamedFrom.isEmpty())
            lesson->renamePage(change.renamedFrom, change.page);
    });
}
