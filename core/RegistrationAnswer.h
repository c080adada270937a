#pragma once

#include "model/CStuInfo.h"

#include <QHashFunctions>
#include <QtGlobal>

#include <cstdint>

// An agent registers again whenever it is asked to, and anyone on the lab
// network can ask every agent at once, as often as they like. A
// registration that brings nothing new (the same bytes from the same
// address) renames nothing and is answered with its join at most once per
// JoinIntervalMs per machine. Network thread only.
class RegistrationAnswer final
{
public:
    static constexpr qint64 JoinIntervalMs = 1000;

    struct Answer
    {
        bool changed = false; // new name or address: the record's texts follow
        bool join = false; // send the machine its group's join now
    };

    static uint32_t fingerprint(const char* payload, int len, uint32_t source)
    {
        const uint32_t hash = uint32_t(qHashBits(payload, size_t(len > 0 ? len : 0), source));
        return hash != 0 ? hash : 1;
    }

    static Answer answer(CStuInfo& machine, uint32_t fingerprint, qint64 nowMs)
    {
        Answer result;
        result.changed = machine.registration_fingerprint.exchange(fingerprint) != fingerprint;
        const qint64 last = machine.join_answered_ms.load();
        result.join = result.changed || nowMs - last >= JoinIntervalMs || nowMs < last;
        if (result.join)
            machine.join_answered_ms.store(nowMs);
        return result;
    }
};
