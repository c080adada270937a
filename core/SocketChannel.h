#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

class UdpServerCore;

// The endpoint's view of one received datagram: replies written here go to
// that datagram's source, whatever other threads send meanwhile. Meant for
// the receive callback; a copy kept longer stays safe to use and simply fails
// once the server has stopped.
class SocketChannel final
{
public:
    // Made by the server for each datagram it hands out.
    SocketChannel(
        std::weak_ptr<UdpServerCore> core, uint32_t peerAddress, uint16_t peerPort, uint32_t localAddress = 0);

    SocketChannel(const SocketChannel&) = delete;
    SocketChannel& operator=(const SocketChannel&) = delete;

    bool isOpened() const;
    // "a.b.c.d:port" of the datagram's source.
    std::string peeraddr() const;
    // Source address as network-order bytes in memory, and its port.
    uint32_t peerAddress() const { return peerAddress_; }
    uint16_t peerPort() const { return peerPort_; }
    // The address the datagram was sent to, as network-order bytes (a group,
    // 255.255.255.255 for a broadcast, or one of this PC's own); 0 when the
    // server does not ask for it (UdpServer::setReceiveDestination) or the
    // system did not say.
    uint32_t localAddress() const { return localAddress_; }

    // Sends one datagram to the source; bytes sent (or queued), below 0 on failure.
    int write(const void* data, size_t len);
    int write(const std::string& data) { return write(data.data(), data.size()); }

private:
    std::weak_ptr<UdpServerCore> core_;
    uint32_t peerAddress_ = 0;
    uint16_t peerPort_ = 0;
    uint32_t localAddress_ = 0;
};

using SocketChannelPtr = std::shared_ptr<SocketChannel>;
