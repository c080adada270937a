#pragma once

#include <QString>

// Writes a school into a console's data directory: the simulator's first
// `machines` agents as stored machines, shared out over `groups` groups
// ("机房01", ...) in order, and a central policy catalog of `catalog` entries
// per list (four samples, then made-up entries of 32 bytes). A `lockType` above 0 also writes config.conf with
// every group page at that lock type, a room the teacher left locked.
class LabSeed final
{
public:
    static bool write(
        const QString& dataDir, int machines, int groups, QString* error, int catalog = 4, int lockType = 0);
    static QString groupName(int index);
};
