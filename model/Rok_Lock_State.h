#pragma once

#include <atomic>
#include <memory>

// Lock and device policy of one group page.
struct Rok_Lock_State
{
    enum LockType { None = 0, BlackQuiet = 1, BlackLock = 2, KeyboardMouseLock = 3 };

    int lock_type = None;
    std::atomic_bool allowmanualip{false};
    std::atomic_bool allowusbdrv{false};

    Rok_Lock_State() = default;
    Rok_Lock_State(const Rok_Lock_State& other) { copyFrom(other); }
    Rok_Lock_State& operator=(const Rok_Lock_State& other)
    {
        copyFrom(other);
        return *this;
    }

    void copyFrom(const Rok_Lock_State& other)
    {
        lock_type = other.lock_type;
        allowmanualip.store(other.allowmanualip.load());
        allowusbdrv.store(other.allowusbdrv.load());
    }
};

using Rok_Lock_State_PTR = std::shared_ptr<Rok_Lock_State>;
