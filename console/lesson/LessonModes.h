#pragma once

#include "model/BeforeLesson.h"
#include "model/LessonMode.h"
#include "model/LockPrecedence.h"
#include "storage/EventLogStore.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>

class EventLogStore;
class LessonModeStore;
class LockPath;
class PageDirectory;
class QAction;
class QMenu;
class QStatusBar;
class QStudentGroupWidget;
class QWidget;
class ConsoleCore;
class WindowParts;

// Lesson modes in the window: "课堂模式" in "操作" saves the current page's
// set-up under a name, applies a saved one to the current page (or every page
// on "全部") through the lab commands' path, and renames or deletes them.
class LessonModes final : public QObject
{
    Q_OBJECT

public:
    static void attach(ConsoleCore& core, WindowParts& parts);

    struct Attachment
    {
        PageDirectory* pages = nullptr;
        QMenu* menu = nullptr; // "操作"
        QAction* after = nullptr; // the submenu follows this action
        QStatusBar* statusBar = nullptr;
        EventLogStore* eventLog = nullptr;
        std::function<int()> currentTab;
        // Locks as the commands do: datagrams at once, timed locks ended,
        // check marks and config.conf brought up to date with the pages.
        LockPath* lockPath = nullptr;
    };

    LessonModes(LessonModeStore& store, const Attachment& attachment, QWidget* window);

    QStringList modeNames() const;
    bool hasMode(const QString& name) const;
    // A group page's set-up as a mode named `name`.
    static LessonMode capture(const QStudentGroupWidget* page, const QString& name);
    // "黑屏锁定，禁止手动IP，允许U盘，关闭 2 个条目".
    static QString describe(const LessonMode& mode);
    // The same for a saved mode; empty for none.
    QString describeMode(const QString& name) const;

    // Applies `mode` to the group pages among `pages` and logs one row,
    // "<logKindText>：<mode>", of the timetable's kind when it asked. Returns
    // the entries the mode switches off that the central lists no longer
    // hold; the rest is applied. Nothing happens for a mode that does not exist.
    QStringList apply(const QString& mode, const QList<QStudentGroupWidget*>& pages, const QString& logKindText,
        LockOrigin origin = LockOrigin::LessonMode);
    // Puts back on a group page what lesson starts changed beyond its lock;
    // true when anything changed.
    static bool putBack(QStudentGroupWidget* page, const BeforeLesson& before);

    // The menu's steps without their prompts. Each returns what went wrong,
    // empty on success.
    QString saveCurrent(const QString& name);
    QString renameMode(const QString& from, const QString& to);
    QString removeMode(const QString& name);

    // The menu's steps as the teacher takes them, with prompts and messages.
    void saveCurrentInteractive();
    void applyToCurrent(const QString& mode);
    void manage();

    QMenu* modesMenu() const { return modes_menu; }
    QMenu* applyMenu() const { return apply_menu; }

signals:
    void sg_renamed(const QString& from, const QString& to);
    void sg_removed(const QString& name);
    // A mode saved, renamed or deleted.
    void sg_changed();

private:
    void buildMenu();
    void fillApplyMenu();
    bool findMode(const QString& name, LessonMode& mode) const;
    QList<QStudentGroupWidget*> currentTargets() const;
    void showStatus(const QString& text);

    LessonModeStore& store;
    Attachment host;
    QWidget* window;
    QMenu* modes_menu = nullptr;
    QMenu* apply_menu = nullptr;
    QAction* save_action = nullptr;
    QAction* manage_action = nullptr;
};
