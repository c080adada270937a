#pragma once

#include <QString>

// Writes a school into a console's data directory: the simulator's first
// `machines` agents as stored machines, shared out over `groups` groups
// ("机房01", ...) in order, and a central policy catalog of `catalog` entries
// per list (at most 4).
class LabSeed final
{
public:
    static bool write(const QString& dataDir, int machines, int groups, QString* error, int catalog = 4);
    static QString groupName(int index);
};
