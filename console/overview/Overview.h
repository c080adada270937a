#pragma once

#include "model/CStuInfo.h"

#include <QMap>
#include <QObject>
#include <QSet>
#include <QString>

class PageDirectory;
class QAction;
class QLabel;
class QStatusBar;
class QStudentManage;
class QStudentGroupWidget;
class QTabWidget;
class QTimer;
class QWidget;
class ConsoleCore;
class WindowParts;

// What the teacher sees of the room at a glance: the current tab's counts
// in the status bar, the on-line filter, and machines going off line while
// the window is hidden, told as one message per burst.
class Overview final : public QObject
{
    Q_OBJECT

public:
    static void attach(ConsoleCore& core, WindowParts& parts);

    // Before the pages: each one starts with the filter and reports its rows.
    Overview(QStudentManage& registry, QWidget* window, QStatusBar* statusBar);

    // Once the pages and the filter's action exist.
    void attach(PageDirectory* pages, QTabWidget* tabs, QAction* onlineOnlyAction);

    bool onlineOnly() const { return online_only; }
    void setOnlineOnly(bool onlineOnly);

    void scheduleCountsUpdate();
    // The page's rows count once it is in front.
    void watch(QStudentGroupWidget* page);
    void updateCounts();
    // The status bar's "在线 n / 共 m" of the current tab.
    QString countsText() const;

    // The registry's worker found these silent: their rows and the tray's
    // burst follow, and each is told by sg_offline (any thread's report is
    // handed here on the UI thread; machines deleted meanwhile are skipped).
    void machinesWentOffline(const QList<CStuInfo_PTR>& machines);


signals:
    // A machine went off line; its rows already say so.
    void sg_offline(const CStuInfo_PTR& machine);
    // For the tray: the burst of machines that went off line, told once.
    void sg_offline_burst(const QString& title, const QString& text);

private:
    void noteOffline(const CStuInfo_PTR& machine);
    void reportOfflineBurst();

    QStudentManage& registry;
    QWidget* window;
    PageDirectory* pages = nullptr;
    QTabWidget* tabs = nullptr;
    QAction* online_only_action = nullptr;
    QLabel* counts_label = nullptr;
    QTimer* counts_timer = nullptr;
    bool online_only = false;
    // Machines that went off line while the window was hidden, by MAC; one
    // tray message names them when the burst is over.
    QMap<quint64, CStuInfo_PTR> offline_burst;
    QTimer* offline_burst_timer = nullptr;
    // Of those, the ones whose page was locked: in an exam, a pulled cable.
    QSet<quint64> offline_locked;
};
