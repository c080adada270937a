#pragma once

#include "model/LockPrecedence.h"

#include <QObject>
#include <QPointer>

class ConsoleCore;
class WindowParts;
class LessonRecorder;
class LessonRecordsDialog;
class LockPath;
class QAction;
class QLabel;
class QMenu;
class QStatusBar;
class QWidget;
class TimetableRunner;

// The records of lessons and exams in the window: "开始记录" / "结束记录" for
// the current tab's room, a record for each lesson of a room's week, and
// "课堂记录..." with the past ones. The room's lock changes come from the lock
// path with who asked; everything else from the event log.
class LessonRecords final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(LessonRecords)

public:
    struct Attachment
    {
        QWidget* window = nullptr;
        QMenu* menu = nullptr; // "操作"
        QStatusBar* statusBar = nullptr;
        LockPath* lockPath = nullptr;
        TimetableRunner* timetable = nullptr;
    };

    LessonRecords(ConsoleCore& core, const Attachment& attachment, QObject* parent);
    // Into the window: the "操作" menu, the status bar, the lock path and
    // the timetable's runner; the actions follow the tab shown.
    static void attach(ConsoleCore& core, WindowParts& parts);

    LessonRecorder* recorder() const { return record_keeper; }
    QAction* startAction() const { return start_action; }
    QAction* finishAction() const { return finish_action; }
    QAction* listAction() const { return list_action; }
    // "课堂记录...", opened beside the window.
    LessonRecordsDialog* openList();

    static QString lockText(int type, LockOrigin origin);
    // The actions and the status bar for the current tab's room.
    void updateActions();

private:
    QString currentRoom() const;

    ConsoleCore& core;
    Attachment host;
    LessonRecorder* record_keeper = nullptr;
    QAction* start_action = nullptr;
    QAction* finish_action = nullptr;
    QAction* list_action = nullptr;
    QLabel* status_label = nullptr;
    QPointer<LessonRecordsDialog> list_dialog;
};
