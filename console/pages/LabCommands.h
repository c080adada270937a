#pragma once

#include "model/LockShown.h"

#include <QObject>
#include <QString>

#include <functional>

class LockPath;
class PageDirectory;
class QAction;
class QActionGroup;
class QStudentGroupWidget;
class ConsoleCore;
class WindowParts;

// The tool bar's lab commands on the tab in front (three locks, 自动IP,
// 禁用U盘) and their check marks, which always show what that tab's pages
// send: on "全部" what every page shares.
class LabCommands final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(LabCommands)

public:
    static void attach(ConsoleCore& core, WindowParts& parts);

    struct Actions
    {
        QAction* quiet = nullptr;
        QAction* lock = nullptr;
        QAction* lockKeyboardMouse = nullptr;
        QAction* autoIp = nullptr;
        QAction* usb = nullptr;
        QAction* removeGroup = nullptr;
    };
    struct Host
    {
        PageDirectory* pages = nullptr;
        LockPath* lockPath = nullptr;
        std::function<int()> currentTab;
        // The event log's row of a teacher's command.
        std::function<void(const QString& detail)> log;
        // A page's state changed: config.conf keeps it.
        std::function<void()> settingsChanged;
    };

    LabCommands(const Actions& actions, Host host, QObject* parent);

    // The marks of tab `index` (-1: none in front yet).
    void showStateOf(int index);

private:
    void applyLock(QAction* action);
    void applyAutoIp(bool checked);
    void applyUsb(bool checked);
    void updateUsbLook();
    QList<QStudentGroupWidget*> targets() const;

    Actions actions;
    Host host;
    QActionGroup* locks = nullptr;
    // What the marks show now; choosing the lock shown again releases it.
    LockShown shown_state;
};
