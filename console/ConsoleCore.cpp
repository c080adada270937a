#include "ConsoleCore.h"

#include <QDir>

ConsoleCore::ConsoleCore(const QString& dataDir)
    : database_path(QDir(dataDir).absoluteFilePath(QStringLiteral("data.sqlite3")))
    , settings_file(QDir(dataDir).absoluteFilePath(QStringLiteral("config.conf")))
{
}

ConsoleCore::~ConsoleCore() = default;

void ConsoleCore::setTabs(QTabWidget* tabs)
{
    directory = std::make_unique<PageDirectory>(tabs);
}

void ConsoleCore::setPageHost(GroupOperations::PageHost host, QObject* parent)
{
    operations = new GroupOperations(machines, *directory, std::move(host), parent);
}

QList<QStudentGroupWidget*> ConsoleCore::commandTargets() const
{
    return directory->commandTargets(current_tab);
}
