#pragma once

#include "core/NeighbourTable.h"
#include "model/CStuInfo.h"

#include <cstdint>

// Who may speak for a registered machine. Datagrams carry no proof of their
// sender; the address a machine registered from is the best there is, so a
// MAC heard from anywhere else neither keeps the machine on line nor moves
// it on its own. Where the OS neighbour table knows the sender's address,
// a datagram whose MAC is not the one at that address is forged.
class MachineIdentity final
{
public:
    enum class Claim {
        Same, // from the recorded address
        Moved, // take the sender's address as the machine's
        Conflict, // another PC claims the MAC: both get the group's join, neither judged
        Forged, // the neighbour table gives the sender's address another MAC
    };

    // A sign of life counts only from the recorded address (network order).
    static bool speaksFor(const CStuInfo& machine, uint32_t source)
    {
        return source != 0 && machine.address.load() == source;
    }

    // A registration of a known machine from `source`. `grouped`: the
    // machine is in a group, whose lock a student would escape by moving it.
    // A grouped machine moves only back to its stored address (the teacher
    // takes a new one with "采用新地址"); one in no group moves while it is
    // off line, as after DHCP gave its PC another address.
    static Claim registration(const CStuInfo& machine, uint32_t source, bool grouped, NeighbourTable::Verdict seen)
    {
        if (seen == NeighbourTable::Verdict::Other)
            return Claim::Forged;
        if (speaksFor(machine, source))
            return Claim::Same;
        if (source != 0 && source == machine.stored_address.load())
            return Claim::Moved;
        if (grouped || machine.online.load())
            return Claim::Conflict;
        return Claim::Moved;
    }

    // Any other datagram of a known machine.
    static Claim signOfLife(const CStuInfo& machine, uint32_t source, NeighbourTable::Verdict seen)
    {
        if (seen == NeighbourTable::Verdict::Other)
            return Claim::Forged;
        return speaksFor(machine, source) ? Claim::Same : Claim::Conflict;
    }
};
