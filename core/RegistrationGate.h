#pragma once

#include <QtGlobal>

#include <algorithm>
#include <cstdint>
#include <vector>

// Limits on new machines, so that made-up MACs cannot fill the registry: a
// lab PC has one or two network cards, and a room of sixty booting at once
// stays far below the rate. A refused agent gets no record and registers
// again when the console next asks it to; a genuine agent therefore comes
// back, a made-up MAC of a flood is sent once. The MACs refused lately are
// remembered, so that one that keeps retrying is let in ahead of them: it
// has a share of the rate of its own, and at its address's limit it may
// take the place of a machine that was heard only once. Network thread only.
class RegistrationGate final
{
public:
    static constexpr int MaxPerAddress = 4;
    static constexpr int MaxPerSecond = 200;
    // Tokens drip in evenly; at most this many wait, so a flood takes them
    // as they come instead of a whole second's worth at its start.
    static constexpr int Burst = MaxPerSecond / 2;
    // Kept for retrying MACs only, beside MaxPerSecond.
    static constexpr int RetriesPerSecond = 50;
    // A MAC refused within this is retrying when it registers again.
    static constexpr qint64 RetryWindowMs = 30000;
    // A refusal is remembered in one of Slots places by its MAC and
    // address; a newer refusal takes the place only once the older one has
    // had this long to come back.
    static constexpr qint64 SlotHoldMs = 2000;
    static constexpr int Slots = 8192;

    enum class Verdict {
        Admitted,
        MakeRoom, // the address is full, but the MAC keeps retrying: let it in in place of a one-shot machine
        AddressFull,
        TooFast,
    };

    RegistrationGate()
        : remembered(Slots)
    {
    }

    // `atAddress`: machines the registry already holds at `source`.
    Verdict admit(quint64 mac, uint32_t source, int atAddress, qint64 nowMs)
    {
        drip(nowMs);
        const bool retrying = isRetrying(mac, source, nowMs);
        if (atAddress >= MaxPerAddress && !retrying) {
            remember(mac, source, nowMs);
            return Verdict::AddressFull;
        }
        if (!take(retrying)) {
            remember(mac, source, nowMs);
            return Verdict::TooFast;
        }
        return atAddress >= MaxPerAddress ? Verdict::MakeRoom : Verdict::Admitted;
    }

    // The registry refused a MAC the gate let through (no room made, the
    // registry full): it counts as refused.
    void refused(quint64 mac, uint32_t source, qint64 nowMs) { remember(mac, source, nowMs); }

    // Refused lately and back: a genuine agent does so, a flood's made-up MAC not.
    bool isRetrying(quint64 mac, uint32_t source, qint64 nowMs) const
    {
        const Slot& slot = remembered[slotOf(mac, source)];
        return slot.mac == mac && slot.source == source && nowMs - slot.refused_ms <= RetryWindowMs;
    }

private:
    struct Slot
    {
        quint64 mac = 0;
        uint32_t source = 0;
        qint64 refused_ms = 0;
    };

    static size_t slotOf(quint64 mac, uint32_t source)
    {
        // splitmix64's finaliser: made-up MACs in a row spread over the slots.
        quint64 x = mac ^ (quint64(source) << 17) ^ quint64(source);
        x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ULL;
        x = (x ^ (x >> 27)) * 0x94D049BB133111EBULL;
        return size_t((x ^ (x >> 31)) % Slots);
    }

    void remember(quint64 mac, uint32_t source, qint64 nowMs)
    {
        Slot& slot = remembered[slotOf(mac, source)];
        const bool same = slot.mac == mac && slot.source == source;
        if (same || slot.mac == 0 || nowMs - slot.refused_ms > SlotHoldMs)
            slot = { mac, source, nowMs };
    }

    // Tokens in thousandths, so that each millisecond adds a whole number.
    void drip(qint64 nowMs)
    {
        if (last_ms < 0 || nowMs < last_ms) {
            last_ms = nowMs;
            return;
        }
        const qint64 elapsed = std::min<qint64>(nowMs - last_ms, 1000);
        last_ms = nowMs;
        tokens = std::min<qint64>(tokens + elapsed * MaxPerSecond, qint64(Burst) * 1000);
        retry_tokens = std::min<qint64>(retry_tokens + elapsed * RetriesPerSecond, qint64(RetriesPerSecond) * 1000);
    }

    bool take(bool retrying)
    {
        if (tokens >= 1000) {
            tokens -= 1000;
            return true;
        }
        if (retrying && retry_tokens >= 1000) {
            retry_tokens -= 1000;
            return true;
        }
        return false;
    }

    std::vector<Slot> remembered;
    qint64 last_ms = -1;
    qint64 tokens = qint64(Burst) * 1000;
    qint64 retry_tokens = qint64(RetriesPerSecond) * 1000;
};
