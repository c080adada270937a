#pragma once

#include <QByteArray>
#include <QList>

#include <atomic>
#include <cstdint>
#include <thread>

// Sends agent datagrams to one port on 127.0.0.1 as fast as the system
// takes them, round-robin over a fixed set, from a thread of its own. Each
// datagram leaves from its machine's own loopback address, as the console
// expects of a registered machine.
class DatagramBlaster final
{
public:
    struct Datagram
    {
        QByteArray bytes;
        uint32_t source = 0; // host order
    };

    explicit DatagramBlaster(QList<Datagram> datagrams);
    ~DatagramBlaster();
    DatagramBlaster(const DatagramBlaster&) = delete;
    DatagramBlaster& operator=(const DatagramBlaster&) = delete;

    void start(uint16_t port);
    void stop();
    uint64_t sent() const { return sent_.load(); }

    // Heartbeats of the simulator's first `macs` agents (MAC and address as
    // rok-agentsim gives them), every `reportEvery`-th a policy-version
    // report of `policyVersion` and every `registerEvery`-th a registration.
    static QList<Datagram> agentMix(int macs, uint32_t policyVersion, int reportEvery, int registerEvery);
    // One datagram from `source` (host order) on an unbound UDP socket.
    static bool sendFrom(int fd, const QByteArray& datagram, uint32_t source, uint16_t port);

private:
    void run(uint16_t port);

    QList<Datagram> datagrams_;
    std::thread thread_;
    std::atomic_bool running_ { false };
    std::atomic<uint64_t> sent_ { 0 };
};
