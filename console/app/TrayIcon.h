#pragma once

#include <QObject>
#include <QString>

class QAction;
class QSystemTrayIcon;
class QWidget;
class ConsoleCore;
class WindowParts;

// The console in the notification area, where it lives while its window is
// hidden: 显示窗口/隐藏窗口 (or a double click) and 退出, and the alerts
// that must reach a teacher who is not looking at the window.
class TrayIcon final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(TrayIcon)

public:
    static void attach(ConsoleCore& core, WindowParts& parts);

    TrayIcon(QWidget* window, const QString& toolTip);

    // 退出: its handler asks what to do with unsaved work.
    QAction* quitAction() const { return quit; }
    // Shown as a balloon where the system has a tray, and told by sg_alert
    // everywhere (also where there is none).
    void alert(const QString& title, const QString& text);

signals:
    void sg_alert(const QString& title, const QString& text);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void toggleWindow();

    QWidget* window;
    QSystemTrayIcon* icon = nullptr;
    QAction* toggle = nullptr;
    QAction* quit = nullptr;
};
