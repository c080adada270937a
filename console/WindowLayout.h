#pragma once

#include <QObject>
#include <QRect>

class PageDirectory;
class QMainWindow;
class QTabWidget;
class ConsoleCore;
class WindowParts;

// Where this PC's teacher left the window: its size and place, the docks
// and the tool bar, and the height of the pages' policy lists (one for all
// pages: dragged on one, every page shows it). Kept in QSettings; read when
// attached, before the window is first shown, and written when the window
// is closed (it only hides), when the program quits and when the session
// ends.
class WindowLayout final : public QObject
{
    Q_OBJECT

public:
    static void attach(ConsoleCore& core, WindowParts& parts);
    // Where the window opens without a saved place: as large as `available`
    // leaves room for its frame, never below `minimum`, centred.
    static QRect firstStartGeometry(const QRect& available, const QSize& minimum);

    WindowLayout(QMainWindow* window, QTabWidget* tabs, const PageDirectory& pages);

    void save() const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void restore();
    // The page in front gets the policy list's height, and tells when it is dragged.
    void follow(int index);
    void onPolicyListResized(int height);

    QMainWindow* window;
    QTabWidget* tabs;
    const PageDirectory& pages;
    int policy_height = 0;
};
