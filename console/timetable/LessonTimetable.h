#pragma once

#include "timetable/LessonActions.h"

#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>

class EventLogStore;
class GroupOperations;
class LessonModes;
class LockPath;
class PowerControl;
class QStudentGroupWidget;
class PageDirectory;
class QAction;
class QLabel;
class QMenu;
class QStatusBar;
class QTabWidget;
class QWidget;
class TimetableEditor;
class TimetableRunner;
class TimetableStore;
class ConsoleCore;
class WindowParts;

// The weekly timetable in the window: "课表..." in the lock menu, the runner
// that applies the weeks, and the status bar's next change of the current tab.
class LessonTimetable final : public QObject
{
    Q_OBJECT

public:
    static void attach(ConsoleCore& core, WindowParts& parts);

    struct Attachment
    {
        QWidget* window = nullptr;
        QMenu* menu = nullptr; // "操作": "课表..." goes here
        QStatusBar* statusBar = nullptr;
        QTabWidget* tabs = nullptr;
        PageDirectory* pages = nullptr;
        GroupOperations* groups = nullptr; // a renamed page keeps its week
        TimetableStore* store = nullptr;
        std::function<int()> currentTab;
        // Commands by hand besides the locks (those the lock path tells of).
        QList<QAction*> commands;
        LockPath* lockPath = nullptr;
        LessonActions actions;
    };

    explicit LessonTimetable(const Attachment& attachment);

    // Once the pages' saved states are read: what is due now is applied over them.
    void start();
    // A command by hand on the page; it stands until the page's next change.
    void noteManualChange(const QString& page);

    TimetableRunner* runner() const { return timetable_runner; }
    bool hasWeek(const QString& page) const;
    // The editor of the current tab's page, opened window-modal; it keeps
    // the week when accepted. Null on "全部".
    TimetableEditor* openEditor();
    // "下一节：周三 08:00 考试模式" ("下周三" a week on, "下课" for an end);
    // empty without a next change.
    QString nextChangeText() const;
    void updateStatus();

    // The timetable's actions in the window: the saved lesson modes, and the
    // three lock types by their names where no mode has taken the name;
    // locks through the lock path, as the timetable's.
    static LessonActions actionsFor(
        LessonModes& modes, PageDirectory& pages, PowerControl& power, EventLogStore& log, LockPath& lockPath);

private:
    Attachment host;
    TimetableRunner* timetable_runner = nullptr;
    QAction* editor_action = nullptr;
    QLabel* status_label = nullptr;
    QPointer<TimetableEditor> editor;
};
