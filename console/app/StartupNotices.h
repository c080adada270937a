#pragma once

#include <QList>
#include <QObject>
#include <QString>

class EventLogStore;
class QStatusBar;
class QWidget;

// What start-up finds (a database it cannot write, a config.conf it could not
// read, stored lists that need a word) waits here until the lab is served: a
// box before the socket is open, the beacon runs and the saved page states
// are applied would leave the room unlocked and unseen until someone clicked
// it. Then each notice is told in the status bar and a log row, and those
// worth it in one box that stops nothing. Notices after that are told at once.
class StartupNotices final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(StartupNotices)

public:
    enum Reach { LogAndBox, LogOnly };
    static constexpr int StatusMessageMs = 30000;

    StartupNotices(QWidget* window, QStatusBar* statusBar, EventLogStore* log);

    // An empty text is nothing to tell.
    void add(const QString& title, const QString& text, Reach reach = LogAndBox);
    // The lab is served: what waits is told.
    void release();
    bool isReleased() const { return released; }

private:
    struct Notice
    {
        QString title;
        QString text;
        Reach reach = LogAndBox;
    };
    void tell(const QList<Notice>& notices);

    QWidget* window;
    QStatusBar* status_bar;
    EventLogStore* log;
    QList<Notice> waiting;
    bool released = false;
};
