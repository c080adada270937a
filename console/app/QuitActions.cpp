#include "app/QuitActions.h"

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
