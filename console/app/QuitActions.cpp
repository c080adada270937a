#include "app/QuitActions.h"

#include "ConsoleCore.h"
#include "WindowParts.h"
#include "ui_RokVtxAdmin.h"
#include "app/TrayIcon.h"
#include "policy/QAppWatcherWidget.h"

#include <QAction>
#include <QCoreApplication>
#include <utility>

QuitActions::QuitActions(const QList<QAction*>& actions, std::function<bool()> mayLeave, QObject* parent)
    : QObject(parent)
    , may_leave(std::move(mayLeave))
{
    for (QAction* action : actions)
        connect(action, &QAction::triggered, this, &QuitActions::quit);
    connect(this, &QuitActions::sg_leave, this, [] { QCoreApplication::exit(0); });
}

void QuitActions::quit()
{
    if (!may_leave || may_leave())
        emit sg_leave();
}

void QuitActions::attach(ConsoleCore& /*core*/, WindowParts& parts)
{
    QAppWatcherWidget* editor = parts.watchEditor;
    new QuitActions({ parts.form.action_file_exit, parts.tray->quitAction() }, [editor] { return editor->askToLeave(); },
        parts.window);
}
