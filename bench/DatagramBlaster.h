#pragma once

#include <QByteArray>
#include <QList>

#include <atomic>
#include <cstdint>
#include <thread>

// Sends agent datagrams to one port on 127.0.0.1 as fast as the system
// takes them, round-robin over a fixed set, from a thread of its own.
class DatagramBlaster final
{
public:
    explicit DatagramBlaster(QList<QByteArray> datagrams);
    ~DatagramBlaster();
    DatagramBlaster(const DatagramBlaster&) = delete;
    DatagramBlaster& operator=(const DatagramBlaster&) = delete;

    void start(uint16_t port);
    void stop();
    uint64_t sent() const { return sent_.load(); }

    // Heartbeats of `macs` agents from `macBase` on, every `reportEvery`-th
    // a policy-version report of `policyVersion` and every `registerEvery`-th
    // a registration.
    static QList<QByteArray> agentMix(
        uint64_t macBase, int macs, uint32_t policyVersion, int reportEvery, int registerEvery);

private:
    void run(uint16_t port);

    QList<QByteArray> datagrams_;
    std::thread thread_;
    std::atomic_bool running_ { false };
    std::atomic<uint64_t> sent_ { 0 };
};
