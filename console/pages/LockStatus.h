#pragma once

#include <QList>
#include <QObject>
#include <QString>

class ConsoleCore;
class PageDirectory;
class QLabel;
class QStatusBar;
class QTabWidget;
class QTimer;
class WindowParts;

// The current tab's lock in words in the status bar, always, red while it
// holds, so that the teacher reads the room's state from across the room:
// "黑屏锁定" or "未锁定"; on "全部" each room's in short.
class LockStatus final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(LockStatus)

public:
    static void attach(ConsoleCore& core, WindowParts& parts);

    struct Room
    {
        QString name;
        int lock = 0;
    };
    // The words for a group's tab (one room) or for "全部" (every room, in
    // tab order).
    static QString describe(const QList<Room>& rooms, bool all);

    LockStatus(const PageDirectory& pages, QTabWidget* tabs, QStatusBar* statusBar);

    QString text() const;
    // Brings the words up to date now (it happens by itself after a change).
    void refresh();
    // Soon, once the changes of one command are all made.
    void schedule();

private:
    const PageDirectory& pages;
    QTabWidget* tabs;
    QLabel* label = nullptr;
    QTimer* refresh_timer = nullptr;
};
