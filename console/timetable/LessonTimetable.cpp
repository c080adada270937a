#include "LessonTimetable.h"

#include "GroupOperations.h"
#include "LessonTools.h"
#include "PageDirectory.h"
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
        });
}

LessonActions LessonTimetable::lockTypeModes(LessonActions actions)
{
    const QList<int> kinds { Rok_Lock_State::BlackQuiet, Rok_Lock_State::BlackLock, Rok_Lock_State::KeyboardMouseLock };
    actions.modeNames = [kinds] {
        QStringList names;
        for (int kind : kinds)
            names << LessonTools::lockName(kind);
        return names;
    };
    const auto setLock = actions.setLock;
    const auto log = actions.log;
    actions.applyMode = [kinds, setLock, log](const QString& page, const QString& mode, const QString& logKindText) {
        for (int kind : kinds)
            if (LessonTools::lockName(kind) == mode) {
                if (log)
                    log(page, QStringLiteral("%1 %2").arg(logKindText, mode));
                if (setLock)
                    setLock(page, kind);
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
