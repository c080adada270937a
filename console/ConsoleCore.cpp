#include "ConsoleCore.h"

#include <QDir>

#include <cstdio>

ConsoleCore::ConsoleCore(const QString& dataDir)
    : database_path(QDir(dataDir).absoluteFilePath(QStringLiteral("data.sqlite3")))
    , settings_file(QDir(dataDir).absoluteFilePath(QStringLiteral("config.conf")))
{
    timed_locks.setStore(&own_tables.timedLocks());
}

ConsoleCore::~ConsoleCore() = default;

void ConsoleCore::setTabs(QTabWidget* tabs)
{
    directory = std::make_unique<PageDirectory>(tabs);
    lock_path = std::make_unique<LockPath>(*directory, timed_locks);
}

bool ConsoleCore::loadSettings(QString* notice)
{
    QList<GroupSettings> entries;
    if (!settings_file.load(entries, notice))
        return false;
    directory->applySettings(entries);
    return true;
}

void ConsoleCore::saveSettings()
{
    QString error;
    if (!settings_file.save(directory->settings(), &error) && !error.isEmpty())
        std::fprintf(stderr, "%s\n", error.toLocal8Bit().constData());
}

void ConsoleCore::setPageHost(GroupOperations::PageHost host, QObject* parent)
{
    // Settings are kept by the group's name in a file this run may not write.
    host.renameRefusal = [this] {
        return settings_file.readFailed()
            ? QStringLiteral("本次运行未能读取设置文件“%1”，也不会改写它：改名后该组的设置无法随新名保存。\n"
                             "请在该文件可以读取后重新启动本程序，再改名。")
                  .arg(QDir::toNativeSeparators(settings_file.path()))
            : QString();
    };
    operations = new GroupOperations(machines, *directory, std::move(host), parent);
}

QList<QStudentGroupWidget*> ConsoleCore::commandTargets() const
{
    return directory->commandTargets(current_tab);
}
