#pragma once

#include <atomic>
#include <cstdint>
#include <thread>

// The physical limit to compare the console with: a thread that only reads
// datagrams off a UDP socket (one recvfrom each, as a plain server would)
// and looks at their 12-byte head.
class BareReceiver final
{
public:
    BareReceiver() = default;
    ~BareReceiver();
    BareReceiver(const BareReceiver&) = delete;
    BareReceiver& operator=(const BareReceiver&) = delete;

    // Binds 127.0.0.1 on a free port; false when the system refuses.
    bool open();
    uint16_t port() const { return port_; }
    void start();
    void stop();
    uint64_t handled() const { return handled_.load(); }

private:
    void run();

    int fd_ = -1;
    uint16_t port_ = 0;
    std::thread thread_;
    std::atomic_bool running_ { false };
    std::atomic<uint64_t> handled_ { 0 };
    std::atomic<uint64_t> checksum_ { 0 };
};
