#include "core/RepeatCounter.h"

#include <algorithm>

RepeatCounter::RepeatCounter(qint64 windowMs, int maxKeys)
    : window_ms(windowMs)
    , max_keys(size_t(qMax(1, maxKeys)))
{
}

RepeatCounter::Hit RepeatCounter::hit(quint64 key, qint64 nowMs)
{
    std::lock_guard<std::mutex> lock(mutex);
    auto it = windows.find(key);
    if (it != windows.end() && nowMs - it->second.opened_ms < window_ms) {
        ++it->second.count;
        it->second.grown = true;
        return { false, it->second.count };
    }
    if (it == windows.end() && windows.size() >= max_keys) {
        forgetClosed(nowMs);
        if (windows.size() >= max_keys && !evictOneShot()) {
            ++dropped_keys;
            return {};
        }
    }
    windows[key] = Window { nowMs, 1, false };
    opened.emplace_back(key, nowMs);
    // Entries passed over pile up only while nothing is evicted.
    if (opened.size() > 2 * max_keys)
        opened.erase(std::remove_if(opened.begin(), opened.end(),
                         [this](const std::pair<quint64, qint64>& entry) {
                             const auto window = windows.find(entry.first);
                             return window == windows.end() || window->second.opened_ms != entry.second
                                 || window->second.count > 1;
                         }),
            opened.end());
    return { true, 1 };
}

QList<QPair<quint64, quint64>> RepeatCounter::takeGrown()
{
    std::lock_guard<std::mutex> lock(mutex);
    QList<QPair<quint64, quint64>> grown;
    for (auto& entry : windows)
        if (entry.second.grown) {
            entry.second.grown = false;
            grown.append({ entry.first, entry.second.count });
        }
    return grown;
}

quint64 RepeatCounter::dropped() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return dropped_keys;
}

bool RepeatCounter::evictOneShot()
{
    while (!opened.empty()) {
        const auto entry = opened.front();
        opened.pop_front();
        const auto window = windows.find(entry.first);
        if (window != windows.end() && window->second.opened_ms == entry.second && window->second.count == 1) {
            windows.erase(window);
            return true;
        }
    }
    return false;
}

void RepeatCounter::forgetClosed(qint64 nowMs)
{
    for (auto it = windows.begin(); it != windows.end();)
        it = nowMs - it->second.opened_ms >= window_ms ? windows.erase(it) : std::next(it);
}
