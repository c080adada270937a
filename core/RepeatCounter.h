#pragma once

#include <QList>
#include <QPair>
#include <QtGlobal>

#include <deque>
#include <mutex>
#include <unordered_map>

// Counts repeats of one thing (a sender, a pair of addresses) so that the
// teacher hears of it once per window rather than once per datagram: the
// first hit of a key opens its window, later hits within it only count.
// Thread-safe. The number of keys is bounded, so made-up senders cannot grow
// it. At the bound a new key takes the place of the oldest key heard only
// once (made-up sources are), so such a flood cannot keep a real sender from
// being told for a whole window; when every key was heard again, new keys
// are counted as dropped and not reported.
class RepeatCounter final
{
public:
    struct Hit
    {
        bool first = false; // opens a window: tell the teacher
        quint64 count = 0; // hits in the key's window so far
    };

    RepeatCounter(qint64 windowMs, int maxKeys);
    RepeatCounter(const RepeatCounter&) = delete;
    RepeatCounter& operator=(const RepeatCounter&) = delete;

    Hit hit(quint64 key, qint64 nowMs);
    // Keys whose count grew since the last call, with their counts now.
    QList<QPair<quint64, quint64>> takeGrown();
    // New keys refused because the bound was reached.
    quint64 dropped() const;

private:
    struct Window
    {
        qint64 opened_ms = 0;
        quint64 count = 0;
        bool grown = false;
    };

    void forgetClosed(qint64 nowMs);
    bool evictOneShot();

    const qint64 window_ms;
    const size_t max_keys;
    mutable std::mutex mutex;
    std::unordered_map<quint64, Window> windows;
    // Keys in the order their windows opened, with the opening time (an
    // entry whose window has since closed or grown is passed over).
    std::deque<std::pair<quint64, qint64>> opened;
    quint64 dropped_keys = 0;
};
