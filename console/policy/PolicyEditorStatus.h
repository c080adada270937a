#pragma once

#include <QObject>

class EventLogStore;
class QAppWatcherWidget;
class QMainWindow;
class ConsoleCore;
class WindowParts;

// What the window tells of the console-wide policy editor: unsaved lists as a
// mark in the title, a save in the status bar and the event log.
class PolicyEditorStatus final : public QObject
{
    Q_OBJECT

public:
    static void attach(ConsoleCore& core, WindowParts& parts);

    PolicyEditorStatus(QAppWatcherWidget* editor, QMainWindow* window, EventLogStore* log);

private:
    void showMark();
    void onSaved();

    QAppWatcherWidget* editor;
    QMainWindow* window;
    EventLogStore* log;
};
