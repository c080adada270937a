#pragma once

#include <QString>
#include <QStringList>

// One entry of the group settings file: the lock state of one group page and,
// per process-watch list, the texts switched off for that group.
struct GroupSettings
{
    QString group_name;
    int lock_type = 0;
    bool allowmanualip = false;
    bool allowusbdrv = false;
    QStringList titles; // type-1: forbidden window titles
    QStringList services; // type-2: protected services
    QStringList programs; // type-3: protected programs

    bool operator==(const GroupSettings& other) const
    {
        return group_name == other.group_name && lock_type == other.lock_type && allowmanualip == other.allowmanualip
            && allowusbdrv == other.allowusbdrv && titles == other.titles && services == other.services
            && programs == other.programs;
    }
    bool operator!=(const GroupSettings& other) const { return !(*this == other); }
};
