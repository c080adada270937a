#pragma once

#include "core/WakeOnLan.h"
#include "model/CStuInfo.h"

#include <QList>
#include <QObject>
#include <QString>

#include <functional>

class PageDirectory;
class QMenu;
class QStudentGroupWidget;
class QStatusBar;
class QStudentManage;
class ConsoleCore;
class WindowParts;

// Powering machines on: Wake-on-LAN for the off-line machines of a tab or
// of the machine menu's targets.
class PowerControl final : public QObject
{
    Q_OBJECT

public:
    static void attach(ConsoleCore& core, WindowParts& parts);

    // `logCommand` records a command on the current tab.
    PowerControl(QStudentManage& registry, PageDirectory& pages, QStatusBar* statusBar,
                 std::function<void(const QString&)> logCommand, QObject* parent);

    // "唤醒本机(&W)" at the end of the machine menu, for `targets()`; enabled
    // while one of them is off line (a machine on line is running already).
    void attachMachineMenu(QMenu* menu, std::function<QList<quint64>()> targets);
    // Tab `index` ("全部": every known machine); nothing for -1.
    void wakeTab(int index);
    void wakeMacs(const QList<quint64>& macs);
    void wakePage(QStudentGroupWidget* page);

private:
    void wakeMachines(const QList<CStuInfo_PTR>& machines);

    QStudentManage& registry;
    PageDirectory& pages;
    QStatusBar* status_bar;
    std::function<void(const QString&)> log_command;
    // Sends the magic packets one after another on a thread of its own.
    WakeOnLan waker;
};
