#pragma once

#include <QByteArray>
#include <QList>
#include <QtGlobal>

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

// Powers machines on by their MAC: the magic packet goes by UDP broadcast to
// 255.255.255.255 and to the broadcast address of every up IPv4 interface.
// Machines are woken one after another with a pause between them, so a room
// does not draw its start-up current at once; the caller never waits.
class WakeOnLan final
{
public:
    static constexpr uint16_t DefaultPort = 9;
    static constexpr int DefaultSpacingMs = 20;

    explicit WakeOnLan(uint16_t port = DefaultPort, int spacingMs = DefaultSpacingMs);
    ~WakeOnLan();
    WakeOnLan(const WakeOnLan&) = delete;
    WakeOnLan& operator=(const WakeOnLan&) = delete;

    // Six 0xFF bytes, then the six MAC bytes in display order sixteen times.
    static QByteArray magicPacket(quint64 mac);
    // Network-order addresses: 255.255.255.255 first, then each broadcast-
    // capable interface's broadcast address, without repeats.
    static QList<uint32_t> broadcastAddresses();

    // Queues the machines; returns at once.
    void wake(const QList<quint64>& macs);
    // Machines queued and not yet sent.
    int pending() const;

private:
    void run();

    const uint16_t port;
    const int spacing_ms;
    mutable std::mutex mutex;
    std::condition_variable wakeup;
    std::deque<quint64> queue;
    bool stopping = false;
    std::thread worker;
};
