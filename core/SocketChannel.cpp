#include "core/SocketChannel.h"

#include "core/UdpServer.h"

#include <cstring>
#include <utility>

SocketChannel::SocketChannel(
    std::weak_ptr<UdpServerCore> core, uint32_t peerAddress, uint16_t peerPort, uint32_t localAddress)
    : core_(std::move(core))
    , peerAddress_(peerAddress)
    , peerPort_(peerPort)
    , localAddress_(localAddress)
{
}

bool SocketChannel::isOpened() const
{
    return UdpServer::coreIsOpen(core_.lock().get());
}

std::string SocketChannel::peeraddr() const
{
    uint8_t octets[4];
    std::memcpy(octets, &peerAddress_, sizeof octets);
    std::string text;
    for (int i = 0; i < 4; ++i) {
        text += std::to_string(octets[i]);
        text += i < 3 ? '.' : ':';
    }
    return text + std::to_string(peerPort_);
}

int SocketChannel::write(const void* data, size_t len)
{
    return UdpServer::coreSend(core_.lock().get(), data, len, peerAddress_, peerPort_);
}
