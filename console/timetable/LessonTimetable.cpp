#include "LessonTimetable.h"

#include "EventLogStore.h"
#include "GroupOperations.h"
#include "LessonModes.h"
#include "LessonTools.h"
#include "PageDirectory.h"
#include "PowerControl.h"
#include "Rok_Lock_State.h"
#include "TimetableEditor.h"
#include "TimetableRunner.h"

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
    if (host.groups)
        connect(host.groups, &GroupOperations::sg_changed, this, [this](const GroupChange& change) {
            if (!change.renamedFrom.isEmpty())
                timetable_runner->renamePage(change.renamedFrom, change.page);
            if (change.removed)
                timetable_runner->removePage(change.page);
        });
}

LessonActions LessonTimetable::actionsFor(LessonModes& modes, PageDirectory& pages, PowerControl& power,
    EventLogStore& log, std::function<void(const QList<QStudentGroupWidget*>&, int)> setPagesLock)
{
    const QList<int> kinds { Rok_Lock_State::BlackQuiet, Rok_Lock_State::BlackLock, Rok_Lock_State::KeyboardMouseLock };
    LessonActions actions;
    actions.log = [&log](const QString& page, const QString& detail) {
        log.add(EventLogStore::Timetable, page, 0, QString(), detail);
    };
    actions.setLock = [&pages, setPagesLock](const QString& page, int kind) {
        if (QStudentGroupWidget* named = pages.pageNamed(page))
            setPagesLock({ named }, kind);
    };
    actions.wake = [&pages, &power](const QString& page) { power.wakePage(pages.pageNamed(page)); };
    actions.modeNames = [&modes, kinds] {
        QStringList names = modes.modeNames();
        for (int kind : kinds)
            if (!names.contains(LessonTools::lockName(kind)))
                names << LessonTools::lockName(kind);
        return names;
    };
    const LessonActions base = actions;
    actions.applyMode = [&modes, &pages, kinds, base](const QString& page, const QString& mode, const QString& logKindText) {
        if (modes.hasMode(mode)) {
            // Entries gone from the central lists are named in the row.
            const QStringList missing
                = modes.apply(mode, { pages.pageNamed(page) }, logKindText, EventLogStore::Timetable);
            if (!missing.isEmpty())
                base.log(page, QStringLiteral("%1：%2 缺少条目 %3").arg(logKindText, mode, missing.join(QStringLiteral("、"))));
            return;
        }
        for (int kind : kinds)
            if (LessonTools::lockName(kind) == mode) {
                base.log(page, QStringLiteral("%1：%2").arg(logKindText, mode));
                base.setLock(page, kind);
            }
    };
    return actions;
}

void LessonTimetable::start()
{
    timetable_runner->start();
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
    const QString what = !shown.mode.isEmpty() ? shown.mode
        : shown.lock != 0                       ? LessonTools::lockName(shown.lock)
                                                : QStringLiteral("解除锁定");
    // Today's change by its time alone; a later one with its weekday.
    const QDateTime now = timetable_runner->now();
    const QString when = shown.at.date() == now.date()
        ? shown.at.toString(QStringLiteral("HH:mm"))
        : QStringLiteral("%1 %2").arg(Timetable::weekdayName(shown.at.date().dayOfWeek()),
                                      shown.at.toString(QStringLiteral("HH:mm")));
    const QString text = QStringLiteral("下一节：%1 %2").arg(when, what);
    return tab == 0 ? QStringLiteral("%1 %2").arg(shownPage, text) : text;
}

void LessonTimetable::updateStatus()
{
    editor_action->setEnabled(host.currentTab && host.currentTab() > 0);
    status_label->setText(nextChangeText());
}
