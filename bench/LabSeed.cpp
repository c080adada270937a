#include "LabSeed.h"

#include "core/QStudentManage.h"
#include "model/QtDoubleIntStringItem.h"
#include "SimulatorOptions.h"
#include "storage/GroupSettingsFile.h"

#include <QDir>

#include <algorithm>
#include <memory>

QString LabSeed::groupName(int index)
{
    return QStringLiteral("机房%1").arg(index + 1, 2, 10, QLatin1Char('0'));
}

bool LabSeed::write(const QString& dataDir, int machines, int groups, QString* error, int catalog, int lockType)
{
    SimulatorOptions addressing;
    addressing.agents = machines;
    QStudentManage registry;
    if (!registry.openDatabase(QDir(dataDir).absoluteFilePath(QStringLiteral("data.sqlite3")))) {
        if (error)
            *error = registry.databaseError();
        return false;
    }
    for (int i = 0; i < machines; ++i) {
        registry.updateMachine(addressing.agentMac(i), addressing.agentHostName(i),
            SimulatorOptions::addressText(addressing.agentAddress(i)), false);
    }
    for (int g = 0; g < groups; ++g)
        registry.addGroup(groupName(g), g + 1);
    if (groups > 0) {
        const int perGroup = (machines + groups - 1) / groups;
        for (int i = 0; i < machines; ++i)
            registry.moveMachineToGroup(groupName(i / perGroup), addressing.agentMac(i));
    }

    const char* const samples[3][4] = {
        { "游戏", ".*QQ.*", "迅雷", "抖音" },
        { "RokAgent", "Spooler", "W32Time", "Dhcp" },
        { "C:\\Program Files\\Rok\\agent.exe", "C:\\Windows\\explorer.exe", "C:\\Tools\\exam.exe",
            "C:\\Tools\\board.exe" },
    };
    for (int type = 1; type <= 3; ++type) {
        StringItemList items;
        for (int i = 0; i < catalog; ++i) {
            auto item = std::make_shared<QtDoubleIntStringItem>();
            item->item_type = type;
            item->item_state = QtDoubleIntStringItem::Active;
            // Beyond the samples, entries of 32 bytes: a large school's lists.
            item->str_val = i < 4 ? QString::fromUtf8(samples[type - 1][i])
                                  : QStringLiteral("entry-%1-%2").arg(type).arg(i, 4, 10, QLatin1Char('0')).leftJustified(32, QLatin1Char('x'));
            items << item;
        }
        registry.saveStringItems(items, type);
    }
    if (!registry.saveAll()) {
        if (error)
            *error = registry.store().lastError();
        return false;
    }
    if (lockType > 0) {
        QList<GroupSettings> settings;
        for (int g = 0; g < groups; ++g) {
            GroupSettings entry;
            entry.group_name = groupName(g);
            entry.lock_type = lockType;
            settings << entry;
        }
        if (!GroupSettingsFile::write(QDir(dataDir).absoluteFilePath(QStringLiteral("config.conf")), settings, error))
            return false;
    }
    return true;
}
