#include "core/WakeOnLan.h"

#include "core/Protocol.h"

#include <QNetworkInterface>

#include <asio/io_context.hpp>
#include <asio/ip/udp.hpp>
#include <asio/socket_base.hpp>

#include <chrono>
#include <cstring>

WakeOnLan::WakeOnLan(uint16_t port_, int spacingMs)
    : port(port_)
    , spacing_ms(spacingMs)
    , worker([this] { run(); })
{
}

WakeOnLan::~WakeOnLan()
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        stopping = true;
        queue.clear();
    }
    wakeup.notify_all();
    worker.join();
}

QByteArray WakeOnLan::magicPacket(quint64 mac)
{
    QByteArray packet(6, char(0xFF));
    packet.reserve(6 + 16 * 6);
    char bytes[6];
    for (int i = 0; i < 6; ++i)
        bytes[i] = char((mac >> (8 * i)) & 0xFF);
    for (int n = 0; n < 16; ++n)
        packet.append(bytes, 6);
    return packet;
}

QList<uint32_t> WakeOnLan::broadcastAddresses()
{
    QList<uint32_t> addresses{Protocol::addressFromOctets(255, 255, 255, 255)};
    const auto interfaces = QNetworkInterface::allInterfaces();
    for (const QNetworkInterface& iface : interfaces) {
        const auto flags = iface.flags();
        if (!(flags & QNetworkInterface::IsUp) || !(flags & QNetworkInterface::CanBroadcast))
            continue;
        for (const QNetworkAddressEntry& entry : iface.addressEntries()) {
            if (entry.ip().protocol() != QAbstractSocket::IPv4Protocol || entry.broadcast().isNull())
                continue;
            const uint32_t address = Protocol::addressFromText(entry.broadcast().toString());
            if (address != 0 && !addresses.contains(address))
                addresses << address;
        }
    }
    return addresses;
}

void WakeOnLan::wake(const QList<quint64>& macs)
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        for (quint64 mac : macs)
            if (mac != 0)
                queue.push_back(mac);
    }
    wakeup.notify_all();
}

int WakeOnLan::pending() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return int(queue.size());
}

void WakeOnLan::run()
{
    asio::io_context io;
    asio::ip::udp::socket socket(io);
    std::unique_lock<std::mutex> lock(mutex);
    for (;;) {
        wakeup.wait(lock, [this] { return stopping || !queue.empty(); });
        if (stopping)
            return;
        const quint64 mac = queue.front();
        queue.pop_front();
        lock.unlock();

        asio::error_code ec;
        if (!socket.is_open()) {
            socket.open(asio::ip::udp::v4(), ec);
            if (!ec)
                socket.set_option(asio::socket_base::broadcast(true), ec);
        }
        if (socket.is_open()) {
            const QByteArray packet = magicPacket(mac);
            for (uint32_t address : broadcastAddresses()) {
                asio::ip::address_v4::bytes_type bytes;
                std::memcpy(bytes.data(), &address, bytes.size());
                socket.send_to(asio::buffer(packet.constData(), size_t(packet.size())),
                               asio::ip::udp::endpoint(asio::ip::address_v4(bytes), port), 0, ec);
            }
        }

        lock.lock();
        if (!queue.empty())
            wakeup.wait_for(lock, std::chrono::milliseconds(spacing_ms), [this] { return stopping; });
    }
}
