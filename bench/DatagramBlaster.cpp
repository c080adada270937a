#include "DatagramBlaster.h"

#include "core/Protocol.h"
#include "SimulatorOptions.h"

#include <QString>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <vector>

namespace {

constexpr int SendBatch = 32;

// The source address of one message: IP_PKTINFO's ipi_spec_dst, so that one
// socket speaks for every machine.
struct SourceControl
{
    alignas(cmsghdr) char bytes[CMSG_SPACE(sizeof(in_pktinfo))];
};

void setSource(SourceControl& control, uint32_t source)
{
    std::memset(control.bytes, 0, sizeof control.bytes);
    auto* header = reinterpret_cast<cmsghdr*>(control.bytes);
    header->cmsg_level = IPPROTO_IP;
    header->cmsg_type = IP_PKTINFO;
    header->cmsg_len = CMSG_LEN(sizeof(in_pktinfo));
    in_pktinfo info {};
    info.ipi_spec_dst.s_addr = htonl(source);
    std::memcpy(CMSG_DATA(header), &info, sizeof info);
}

sockaddr_in loopbackPort(uint16_t port)
{
    sockaddr_in to {};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return to;
}

} // namespace

DatagramBlaster::DatagramBlaster(QList<Datagram> datagrams)
    : datagrams_(std::move(datagrams))
{
}

DatagramBlaster::~DatagramBlaster()
{
    stop();
}

QList<DatagramBlaster::Datagram> DatagramBlaster::agentMix(
    int macs, uint32_t policyVersion, int reportEvery, int registerEvery)
{
    SimulatorOptions agents;
    agents.agents = macs;
    QList<Datagram> mix;
    for (int i = 0; i < macs; ++i) {
        const uint64_t mac = agents.agentMac(i);
        Datagram datagram;
        datagram.source = agents.agentAddress(i);
        if (registerEvery > 0 && i % registerEvery == registerEvery - 1)
            datagram.bytes = Protocol::buildRegister(mac, agents.agentHostName(i));
        else if (reportEvery > 0 && i % reportEvery == reportEvery - 1)
            datagram.bytes = Protocol::buildPolicyVersion(mac, policyVersion);
        else
            datagram.bytes = Protocol::buildHeartbeat(mac);
        mix << datagram;
    }
    return mix;
}

bool DatagramBlaster::sendFrom(int fd, const QByteArray& datagram, uint32_t source, uint16_t port)
{
    sockaddr_in to = loopbackPort(port);
    SourceControl control;
    setSource(control, source);
    iovec part { const_cast<char*>(datagram.constData()), size_t(datagram.size()) };
    msghdr message {};
    message.msg_name = &to;
    message.msg_namelen = sizeof to;
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    message.msg_control = control.bytes;
    message.msg_controllen = sizeof control.bytes;
    return ::sendmsg(fd, &message, 0) == datagram.size();
}

void DatagramBlaster::start(uint16_t port)
{
    stop();
    running_ = true;
    thread_ = std::thread([this, port] { run(port); });
}

void DatagramBlaster::stop()
{
    running_ = false;
    if (thread_.joinable())
        thread_.join();
}

void DatagramBlaster::run(uint16_t port)
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    if (fd < 0)
        return;
    sockaddr_in to = loopbackPort(port);

    // Built once: the loop only points at them.
    std::vector<iovec> parts(size_t(datagrams_.size()));
    std::vector<SourceControl> controls(size_t(datagrams_.size()));
    for (int i = 0; i < datagrams_.size(); ++i) {
        const Datagram& datagram = datagrams_.at(i);
        parts[size_t(i)] = { const_cast<char*>(datagram.bytes.constData()), size_t(datagram.bytes.size()) };
        setSource(controls[size_t(i)], datagram.source);
    }
    mmsghdr batch[SendBatch] {};
    size_t next = 0;
    while (running_.load(std::memory_order_relaxed)) {
        for (auto& message : batch) {
            message.msg_hdr = msghdr();
            message.msg_hdr.msg_name = &to;
            message.msg_hdr.msg_namelen = sizeof to;
            message.msg_hdr.msg_iov = &parts[next];
            message.msg_hdr.msg_iovlen = 1;
            message.msg_hdr.msg_control = controls[next].bytes;
            message.msg_hdr.msg_controllen = sizeof controls[next].bytes;
            next = (next + 1) % parts.size();
        }
        const int sent = ::sendmmsg(fd, batch, SendBatch, 0);
        if (sent > 0)
            sent_.fetch_add(uint64_t(sent), std::memory_order_relaxed);
    }
    ::close(fd);
}
