#include "timetable/LessonTimetable.h"

#include "ConsoleCore.h"
#include "WindowParts.h"
#include "ui_RokVtxAdmin.h"

#include "groups/GroupOperations.h"
#include "lesson/LessonModes.h"
#include "lesson/LessonTools.h"
#include "model/Rok_Lock_State.h"
#include "pages/LockPath.h"
#include "pages/PageDirectory.h"
#include "pages/QStudentGroupWidget.h"
#include "power/PowerControl.h"
#include "storage/EventLogStore.h"
#include "timetable/TimetableEditor.h"
#include "timetable/TimetableRunner.h"

#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QStatusBar>
#include <QTabWidget>

LessonTimetable::LessonTimetable(const Attachment& attachment)
    : QObject(attachment.window)
    , host(attachment)
{
    timetable_runner = new TimetableRunner(host.actions, this);
    timetable_runner->setStore(host.store);
    connect(timetable_runner, &TimetableRunner::sg_changed, this, &LessonTimetable::updateStatus);

    editor_action = new QAction(QStringLiteral("课表..."), this);
    editor_action->setObjectName(QStringLiteral("action_op_timetable"));
    editor_action->setToolTip(QStringLiteral("本组每周的课：上课、下课时自动应用课堂模式"));
    connect(editor_action, &QAction::triggered, this, [this] { openEditor(); });
    host.menu->addSeparator();
    host.menu->addAction(editor_action);

    status_label = new QLabel(host.window);
    status_label->setObjectName(QStringLiteral("timetable_status"));
    host.statusBar->addPermanentWidget(status_label);
    connect(host.tabs, &QTabWidget::currentChanged, this, &LessonTimetable::updateStatus);
    for (QAction* command : host.commands)
        connect(command, &QAction::triggered, this, [this] {
            for (QStudentGroupWidget* page : host.pages->commandTargets(host.currentTab()))
                noteManualChange(host.pages->nameOf(page));
        });
    // The teacher's own lock changes hold the timetable off; its own do not.
    if (host.lockPath)
        connect(host.lockPath, &LockPath::sg_changed, this,
            [this](const QStringList& pages, int, LockOrigin origin) {
                if (LockPrecedence::holdsTimetable(origin))
                    for (const QString& page : pages)
                        noteManualChange(page);
            });
    if (host.groups)
        connect(host.groups, &GroupOperations::sg_changed, this, [this](const GroupChange& change) {
            if (!change.renamedFrom.isEmpty())
                timetable_runner->renamePage(change.renamedFrom, change.page);
            if (change.removed)
                timetable_runner->removePage(change.page);
        });
}

LessonActions LessonTimetable::actionsFor(
    LessonModes& modes, PageDirectory& pages, PowerControl& power, EventLogStore& log, LockPath& lockPath)
{
    LessonActions actions;
    actions.log = [&log](const QString& page, const QString& detail) {
        log.add(EventLogStore::Timetable, page, 0, QString(), detail);
    };
    actions.wake = [&pages, &power](const QString& page) { power.wakePage(pages.pageNamed(page)); };
    const QList<int> kinds { Rok_Lock_State::BlackQuiet, Rok_Lock_State::BlackLock, Rok_Lock_State::KeyboardMouseLock };
    actions.modeNames = [&modes, kinds] {
        QStringList names = modes.modeNames();
        for (int kind : kinds)
            if (!names.contains(LessonTools::lockName(kind)))
                names << LessonTools::lockName(kind);
        return names;
    };
    // A lock type by its name, where no saved mode has taken it; -1: none.
    const auto lockNamed = [kinds](const QString& mode) {
        for (int kind : kinds)
            if (LessonTools::lockName(kind) == mode)
                return kind;
        return -1;
    };
    const auto gone = [](const QString& text, const QString& mode) {
        return QStringLiteral("%1：课堂模式“%2”已不存在").arg(text, mode);
    };
    const LessonActions base = actions;
    // A saved mode whole; entries gone from the central lists are named in a row.
    const auto applyWhole = [&modes, base](QStudentGroupWidget* page, const QString& name, const QString& mode,
                                const QString& text) {
        const QStringList missing = modes.apply(mode, { page }, text, LockOrigin::Timetable);
        if (!missing.isEmpty())
            base.log(name, QStringLiteral("%1：%2 缺少条目 %3").arg(text, mode, missing.join(QStringLiteral("、"))));
    };
    actions.start = [&modes, &pages, &lockPath, base, lockNamed, gone, applyWhole](
                        const QString& page, const QString& mode, const QString& text) {
        QStudentGroupWidget* target = pages.pageNamed(page);
        if (!target)
            return BeforeLesson();
        if (modes.hasMode(mode)) {
            const LessonMode before = LessonModes::capture(target, QString());
            applyWhole(target, page, mode, text);
            return BeforeLesson::between(before, LessonModes::capture(target, QString()));
        }
        const int kind = lockNamed(mode);
        base.log(page, kind < 0 ? gone(text, mode) : QStringLiteral("%1：%2").arg(text, mode));
        if (kind >= 0)
            lockPath.setPagesLock({ target }, kind, LockOrigin::Timetable);
        return BeforeLesson();
    };
    actions.end = [&modes, &pages, &lockPath, base, lockNamed, gone, applyWhole](const QString& page,
                      const QString& mode, int lock, const BeforeLesson& before, const QString& text) {
        QStudentGroupWidget* target = pages.pageNamed(page);
        if (!target)
            return;
        if (!mode.isEmpty() && modes.hasMode(mode)) {
            applyWhole(target, page, mode, text);
            return;
        }
        const int kind = mode.isEmpty() ? lock : lockNamed(mode);
        QString row = kind < 0 ? gone(text, mode)
                               : QStringLiteral("%1 %2").arg(text,
                                   kind != 0 ? LessonTools::lockName(kind) : QStringLiteral("解除锁定"));
        if (LessonModes::putBack(target, before))
            row += QStringLiteral("，恢复课前设置");
        base.log(page, row);
        // A mode gone since: the lock stays as it is, the rest follows the end.
        lockPath.setPagesLock({ target }, kind < 0 ? target->lock_state->lock_type : kind, LockOrigin::Timetable);
    };
    return actions;
}

void LessonTimetable::start()
{
    timetable_runner->start();
}

bool LessonTimetable::hasWeek(const QString& page) const
{
    return !timetable_runner->timetable(page).isEmpty();
}

void LessonTimetable::noteManualChange(const QString& page)
{
    timetable_runner->noteManualChange(page);
}

TimetableEditor* LessonTimetable::openEditor()
{
    const int tab = host.currentTab ? host.currentTab() : -1;
    const QString page = tab > 0 ? host.pages->nameAt(tab) : QString();
    if (page.isEmpty())
        return nullptr;
    if (editor)
        editor->close();
    const LessonActions& actions = timetable_runner->lessonActions();
    editor = new TimetableEditor(page, timetable_runner->timetable(page),
                                 actions.modeNames ? actions.modeNames() : QStringList(), host.window);
    editor->setToday(timetable_runner->now().date().dayOfWeek());
    editor->setAttribute(Qt::WA_DeleteOnClose);
    connect(editor, &QDialog::accepted, this, [this] {
        // The page may have been renamed meanwhile; the week belongs to the name it had.
        timetable_runner->setTimetable(editor->page(), editor->timetable());
    });
    editor->open();
    return editor;
}

QString LessonTimetable::nextChangeText() const
{
    const int tab = host.currentTab ? host.currentTab() : -1;
    if (tab < 0 || !host.pages)
        return QString();
    // On "全部" the first change of any page, named by its page.
    QString shownPage;
    Timetable::Change shown;
    const QStringList names = tab > 0 ? QStringList { host.pages->nameAt(tab) } : [this] {
        QStringList all;
        for (int i = 1; i < host.tabs->count(); ++i)
            all << host.pages->nameAt(i);
        return all;
    }();
    for (const QString& name : names) {
        const Timetable::Change next = timetable_runner->nextChange(name);
        if (next.isValid() && (!shown.isValid() || next.at < shown.at)) {
            shown = next;
            shownPage = name;
        }
    }
    if (!shown.isValid())
        return QString();
    QString what = shown.mode;
    if (shown.kind == Timetable::End) {
        const QString then = !shown.mode.isEmpty() ? shown.mode
            : shown.lock != 0                       ? LessonTools::lockName(shown.lock)
                                                    : QString();
        what = then.isEmpty() ? QStringLiteral("下课") : QStringLiteral("下课（%1）").arg(then);
    }
    // Always with its weekday, so that a time already past today reads as
    // next week's: "下周二" once the change lies beyond this Sunday.
    const QDate today = timetable_runner->now().date();
    const QDate day = shown.at.date();
    const bool nextWeek = today.addDays(1 - today.dayOfWeek()).daysTo(day) >= 7;
    const QString when = QStringLiteral("%1%2 %3").arg(nextWeek ? QStringLiteral("下") : QString(),
        Timetable::weekdayName(day.dayOfWeek()), shown.at.toString(QStringLiteral("HH:mm")));
    const QString text = QStringLiteral("下一节：%1 %2").arg(when, what);
    return tab == 0 ? QStringLiteral("%1 %2").arg(shownPage, text) : text;
}

void LessonTimetable::updateStatus()
{
    editor_action->setEnabled(host.currentTab && host.currentTab() > 0);
    status_label->setText(nextChangeText());
}

void LessonTimetable::attach(ConsoleCore& core, WindowParts& parts)
{
    Ui::RokVtxAdminClass& form = parts.form;
    auto* timetable = new LessonTimetable({ parts.window, form.menu_A, form.statusBar, parts.tabs, &core.pages(),
        &core.groups(), &core.tables().timetables(), core.currentTabReader(),
        { form.action_op_auto_ip, form.action_op_usbdisk }, &core.lockPath(),
        actionsFor(*parts.lessonModes, core.pages(), *parts.power, core.tables().eventLog(), core.lockPath()) });
    parts.timetable = timetable;
    connect(&parts, &WindowParts::sg_settings_applied, timetable, &LessonTimetable::start);
    // The tabs tell a new tab before the window makes it current.
    connect(&parts, &WindowParts::sg_tab_shown, timetable, &LessonTimetable::updateStatus);
}
