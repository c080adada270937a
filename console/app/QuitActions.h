#pragma once

#include <QList>
#include <QObject>
#include <functional>

class QAction;
class ConsoleCore;
class WindowParts;

// The ways out of the run that can ask (文件 → 退出, the tray's 退出): the run
// ends only once `mayLeave` agrees, so unsaved work is saved, dropped or kept
// with the console running, as the teacher answers. Log-off and the signals
// end the run without asking: nobody could answer there.
class QuitActions final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(QuitActions)

public:
    static void attach(ConsoleCore& core, WindowParts& parts);

    QuitActions(const QList<QAction*>& actions, std::function<bool()> mayLeave, QObject* parent);

    // What each of the actions does.
    void quit();

signals:
    // The answers let the run end; connected to the application's exit.
    void sg_leave();

private:
    std::function<bool()> may_leave;
};
