#pragma once

#include <QObject>

class PageDirectory;
class QTabWidget;
class QTimer;
class SeatPlans;
class ConsoleCore;
class WindowParts;

// Each tab shows its page's lock: the icon of the seat plan's badges and the
// lock's name as tool tip. "全部" shows one only while every other page has
// the same lock, as its check marks do. Follows every lock change (commands,
// the end of a timed lock, config.conf read at start) and pages coming and
// going.
class TabLockIcons final : public QObject
{
    Q_OBJECT

public:
    static void attach(ConsoleCore& core, WindowParts& parts);

    TabLockIcons(const PageDirectory& pages, QTabWidget* tabs, SeatPlans& plans);

    // Brings the icons up to date now (it happens by itself once the
    // changes of a command are all made).
    void refresh();

private:
    void setTab(int index, int lockType);

    const PageDirectory& pages;
    QTabWidget* tabs;
    QTimer* refresh_timer = nullptr;
};
