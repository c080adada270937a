#pragma once

#include <functional>

// Waits while the calling thread's event loop keeps running, so the console
// under test goes on working (and the probe goes on measuring) meanwhile.
class EventWait final
{
public:
    static void forMs(int ms);
    // Checks `done` every `pollMs`; false when `timeoutMs` passed first.
    static bool until(const std::function<bool()>& done, int timeoutMs, int pollMs = 20);
};
