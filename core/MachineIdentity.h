#pragma once

#include "CStuInfo.h"

#include <cstdint>

// Who may speak for a registered machine. Datagrams carry no proof of their
// sender; the address a machine registered from is the best there is, so a
// MAC heard from anywhere else neither keeps the machine on line nor moves
// it while it is on line.
class MachineIdentity final
{
public:
    enum class Registration {
        Same, // from the recorded address
        Moved, // from another address while the machine is off line: accept it there
        Refused, // from another address while the machine is on line at its own
    };

    // A sign of life counts only from the recorded address (network order).
    static bool speaksFor(const CStuInfo& machine, uint32_t source)
    {
        return source != 0 && machine.address.load() == source;
    }

    // A real address change (DHCP, a reboot) heals by itself: the old
    // address falls silent, the machine goes off line, and its next
    // registration is a move.
    static Registration registration(const CStuInfo& machine, uint32_t source)
    {
        if (speaksFor(machine, source))
            return Registration::Same;
        return machine.online.load() ? Registration::Refused : Registration::Moved;
    }
};
