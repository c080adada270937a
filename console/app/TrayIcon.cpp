#include "app/TrayIcon.h"

#include "ConsoleCore.h"
#include "WindowParts.h"
#include "ui_RokVtxAdmin.h"

#include <QAction>
#include <QEvent>
#include <QIcon>
#include <QMenu>
#include <QSystemTrayIcon>
#include <QWidget>

TrayIcon::TrayIcon(QWidget* window, const QString& toolTip)
    : QObject(window)
    , window(window)
{
    icon = new QSystemTrayIcon(QIcon(QStringLiteral(":/RokVtxAdmin/RokVtxAdmin.png")), this);
    icon->setToolTip(toolTip);
    quit = new QAction(QStringLiteral("退出(&X)"), this);
    toggle = new QAction(QStringLiteral("隐藏窗口(&H)"), this);
    auto* menu = new QMenu(window);
    menu->addAction(toggle);
    menu->addAction(quit);
    icon->setContextMenu(menu);
    connect(toggle, &QAction::triggered, this, &TrayIcon::toggleWindow);
    connect(
        icon, &QSystemTrayIcon::activated, this,
        [this](QSystemTrayIcon::ActivationReason reason) {
            if (reason == QSystemTrayIcon::DoubleClick)
                toggle->trigger();
        },
        Qt::DirectConnection);
    // The menu names what a click does next, however the window was hidden
    // (its close button hides it too).
    window->installEventFilter(this);
    icon->show();
}

void TrayIcon::alert(const QString& title, const QString& text)
{
    emit sg_alert(title, text);
    if (QSystemTrayIcon::isSystemTrayAvailable() && QSystemTrayIcon::supportsMessages())
        icon->showMessage(title, text, QSystemTrayIcon::Warning);
}

void TrayIcon::toggleWindow()
{
    if (window->isVisible())
        window->hide();
    else
        window->show();
}

bool TrayIcon::eventFilter(QObject* watched, QEvent* event)
{
    // Not the system's own (minimising): the window stays visible then.
    if (watched == window && !event->spontaneous()) {
        if (event->type() == QEvent::Hide)
            toggle->setText(QStringLiteral("显示窗口(&S)"));
        else if (event->type() == QEvent::Show)
            toggle->setText(QStringLiteral("隐藏窗口(&H)"));
    }
    return QObject::eventFilter(watched, event);
}

void TrayIcon::attach(ConsoleCore& /*core*/, WindowParts& parts)
{
    // Before the window names its view: the tray shows the program's name.
    parts.tray = new TrayIcon(parts.window, parts.window->windowTitle());
}
