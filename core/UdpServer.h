#pragma once

#include "core/SocketChannel.h"

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <thread>

struct sockaddr;
class UdpServerCore;

// Bytes of one received datagram, valid only during the receive callback.
class UdpBuffer final
{
public:
    UdpBuffer(const char* data, size_t size)
        : data_(data)
        , size_(size)
    {
    }

    const char* data() const { return data_; }
    size_t size() const { return size_; }

private:
    const char* data_ = nullptr;
    size_t size_ = 0;
};

// One IPv4 UDP socket with its own event-loop thread. Every datagram is
// received, handed to onMessage and sent on that thread; other threads'
// sends are copied and queued to it, so each datagram keeps its own
// destination and no socket call ever runs concurrently with another.
//
// Usage, all from the owning thread: createsocket, optionally setBroadcast,
// joinGroup, setTimer and setReceiveDestination, set onMessage, start; stop
// (or destruction) ends and joins the loop thread. Do not destroy the server
// from inside onMessage or the timer's tick.
class UdpServer final
{
public:
    // Largest UDP payload over IPv4.
    static constexpr int MaxDatagramSize = 65507;

    UdpServer();
    ~UdpServer();

    UdpServer(const UdpServer&) = delete;
    UdpServer& operator=(const UdpServer&) = delete;

    // Runs on the loop thread, one datagram at a time in arrival order. Set
    // it before start().
    std::function<void(const SocketChannelPtr&, const UdpBuffer&)> onMessage;

    // Binds a new socket to host:port (port 0 picks a free one). Returns the
    // descriptor (1 or more), or -1 when the socket cannot be made or bound,
    // for instance because the port is taken. shareAddress sets SO_REUSEADDR
    // first, so the socket can share a port (such as an agent's on the same
    // PC) with others; every sharer receives the port's broadcasts and the
    // multicasts of the groups it joined, a unicast reaches one of them only.
    int createsocket(int port, const char* host = "0.0.0.0", bool shareAddress = false);
    // Starts the loop thread and receiving: 0, or -1 without a socket or
    // when already started or stopped.
    int start();
    // Closes the socket, ends the loop thread and joins it. Safe to repeat;
    // called from inside onMessage or the tick it only asks the loop to end.
    void stop();

    // Thread-safe. From the loop thread the datagram is sent at once and the
    // bytes sent are returned; from any other thread it is copied and queued
    // to the loop, and its length is returned. Below 0: no open socket, a
    // destination that is not IPv4, a size outside 0..MaxDatagramSize, the
    // queue full, or (on the loop thread) the system refused it.
    int sendto(const void* data, int len, const struct sockaddr* dest);
    // Destination as network-order address bytes and a port in host order.
    int sendto(const void* data, int len, uint32_t addressNetworkOrder, uint16_t port);

    // One datagram of a batch; `data` stays the caller's.
    struct Outgoing
    {
        const char* data = nullptr;
        int size = 0;
        uint32_t address = 0; // network order
        uint16_t port = 0; // host order
    };
    // From the loop thread only (a timer's tick): sends them all, with as
    // few system calls as the system allows; the number sent, -1 elsewhere.
    int sendBatch(const Outgoing* datagrams, size_t count);

    // SO_BROADCAST. Before start() the result is the system's; afterwards the
    // change is queued to the loop thread and true means queued.
    bool setBroadcast(bool on);
    // IPv4 multicast membership on the default interface, the group given as
    // network-order address bytes. Answers like setBroadcast; each group is
    // joined or left on its own, one's failure leaves the others as they
    // are. The socket receives only the groups it joined itself, never those
    // other sockets of the PC joined.
    bool joinGroup(uint32_t groupNetworkOrder);
    bool leaveGroup(uint32_t groupNetworkOrder);

    // Set before start(), else ignored. The loop thread calls tick every
    // interval, on deadlines fixed from start(); deadlines missed while the
    // loop was held up are skipped rather than run in a burst. A tick that
    // throws ends only that tick. No tick runs after stop() has returned.
    // An interval of 0 or an empty tick means no timer.
    void setTimer(std::chrono::milliseconds interval, std::function<void()> tick);

    // Set before start(), else ignored. When on, each channel handed to
    // onMessage carries the datagram's destination address (localAddress()),
    // such as the group it was multicast to; it costs a little per datagram,
    // so it is off unless asked for.
    void setReceiveDestination(bool on);

    // Set before start(), else ignored. On (the default), the loop pauses
    // 2 ms after a read while datagrams keep coming, waking less often;
    // off, each datagram is handled as it arrives (a socket that answers
    // each one at once).
    void setReadPause(bool on);

    // The socket's descriptor, -1 when none is open.
    int fd() const { return fd_.load(); }
    // The bound port in host order, 0 when none is open.
    uint16_t localPort() const { return localPort_.load(); }

    // Used by SocketChannel, which holds the core only weakly.
    static bool coreIsOpen(const UdpServerCore* core);
    static int coreSend(UdpServerCore* core, const void* data, size_t len, uint32_t address, uint16_t port);

private:
    std::shared_ptr<UdpServerCore> core_;
    std::thread loopThread_;
    std::atomic_int fd_ { -1 };
    std::atomic<uint16_t> localPort_ { 0 };
    bool started_ = false;
    bool receiveDestination_ = false;
};
