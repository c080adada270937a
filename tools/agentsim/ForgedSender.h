#pragma once

#include <QByteArray>
#include <asio/ip/udp.hpp>
#include <system_error>

// Sends UDP datagrams with any source address and port, as a student with a
// packet tool does: a raw IPv4 socket that writes the headers itself. It
// needs CAP_NET_RAW (root, or the owner of a network namespace such as
// scripts/netns gives) and Linux; elsewhere open() fails.
class ForgedSender final
{
public:
    ForgedSender() = default;
    ~ForgedSender();
    ForgedSender(const ForgedSender&) = delete;
    ForgedSender& operator=(const ForgedSender&) = delete;

    bool open(std::error_code& error);
    bool isOpen() const { return fd_ >= 0; }
    bool send(const QByteArray& payload, const asio::ip::udp::endpoint& from, const asio::ip::udp::endpoint& to);

    // The datagram as it goes on the wire: IPv4 header, UDP header, payload.
    static QByteArray packet(const QByteArray& payload, const asio::ip::udp::endpoint& from,
        const asio::ip::udp::endpoint& to, uint16_t id);

private:
    int fd_ = -1;
    uint16_t id_ = 0;
};
