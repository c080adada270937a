#include "ForgedSender.h"

#ifdef __linux__
#include <cerrno>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace {

constexpr int IpHeaderSize = 20;
constexpr int UdpHeaderSize = 8;

void put16(QByteArray& out, int at, uint16_t value)
{
    out[at] = static_cast<char>(value >> 8);
    out[at + 1] = static_cast<char>(value & 0xFFu);
}

void put32(QByteArray& out, int at, uint32_t value)
{
    put16(out, at, static_cast<uint16_t>(value >> 16));
    put16(out, at + 2, static_cast<uint16_t>(value & 0xFFFFu));
}

uint16_t checksum(const QByteArray& bytes, int from, int size)
{
    uint32_t sum = 0;
    for (int i = 0; i + 1 < size; i += 2)
        sum += static_cast<uint32_t>(static_cast<uint8_t>(bytes[from + i])) << 8
            | static_cast<uint8_t>(bytes[from + i + 1]);
    if (size % 2 != 0)
        sum += static_cast<uint32_t>(static_cast<uint8_t>(bytes[from + size - 1])) << 8;
    while (sum >> 16)
        sum = (sum & 0xFFFFu) + (sum >> 16);
    return static_cast<uint16_t>(~sum & 0xFFFFu);
}

} // namespace

ForgedSender::~ForgedSender()
{
#ifdef __linux__
    if (fd_ >= 0)
        ::close(fd_);
#endif
}

bool ForgedSender::open(std::error_code& error)
{
#ifdef __linux__
    // IPPROTO_RAW: the kernel takes the IP header as written.
    fd_ = ::socket(AF_INET, SOCK_RAW, IPPROTO_RAW);
    const int on = 1;
    if (fd_ < 0 || ::setsockopt(fd_, SOL_SOCKET, SO_BROADCAST, &on, sizeof on) != 0) {
        error = std::error_code(errno, std::generic_category());
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
        return false;
    }
    return true;
#else
    error = std::make_error_code(std::errc::operation_not_supported);
    return false;
#endif
}

QByteArray ForgedSender::packet(const QByteArray& payload, const asio::ip::udp::endpoint& from,
    const asio::ip::udp::endpoint& to, uint16_t id)
{
    const int udpSize = UdpHeaderSize + payload.size();
    QByteArray out(IpHeaderSize + udpSize, '\0');
    out[0] = 0x45; // version 4, five words of header
    put16(out, 2, static_cast<uint16_t>(IpHeaderSize + udpSize));
    put16(out, 4, id);
    const uint32_t destination = to.address().to_v4().to_uint();
    out[8] = static_cast<char>((destination >> 28) == 0xE ? 1 : 64); // groups stay on the link
    out[9] = 17; // UDP
    put32(out, 12, from.address().to_v4().to_uint());
    put32(out, 16, destination);
    put16(out, 10, checksum(out, 0, IpHeaderSize));
    put16(out, 20, from.port());
    put16(out, 22, to.port());
    put16(out, 24, static_cast<uint16_t>(udpSize));
    // The UDP checksum stays 0: optional over IPv4.
    out.replace(IpHeaderSize + UdpHeaderSize, payload.size(), payload);
    return out;
}

bool ForgedSender::send(const QByteArray& payload, const asio::ip::udp::endpoint& from, const asio::ip::udp::endpoint& to)
{
#ifdef __linux__
    if (fd_ < 0)
        return false;
    const QByteArray bytes = packet(payload, from, to, ++id_);
    sockaddr_in destination {};
    destination.sin_family = AF_INET;
    destination.sin_addr.s_addr = htonl(to.address().to_v4().to_uint());
    return ::sendto(fd_, bytes.constData(), static_cast<size_t>(bytes.size()), MSG_DONTWAIT,
               reinterpret_cast<const sockaddr*>(&destination), sizeof destination)
        == bytes.size();
#else
    (void)payload;
    (void)from;
    (void)to;
    return false;
#endif
}
