#include "DatagramBlaster.h"

#include "Protocol.h"

#include <QString>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <vector>

namespace {

constexpr int SendBatch = 32;

} // namespace

DatagramBlaster::DatagramBlaster(QList<QByteArray> datagrams)
    : datagrams_(std::move(datagrams))
{
}

DatagramBlaster::~DatagramBlaster()
{
    stop();
}

QList<QByteArray> DatagramBlaster::agentMix(
    uint64_t macBase, int macs, uint32_t policyVersion, int reportEvery, int registerEvery)
{
    QList<QByteArray> mix;
    for (int i = 0; i < macs; ++i) {
        const uint64_t mac = macBase + uint64_t(i);
        if (registerEvery > 0 && i % registerEvery == registerEvery - 1)
            mix << Protocol::buildRegister(mac, QStringLiteral("PC-%1").arg(i + 1, 4, 10, QLatin1Char('0')));
        else if (reportEvery > 0 && i % reportEvery == reportEvery - 1)
            mix << Protocol::buildPolicyVersion(mac, policyVersion);
        else
            mix << Protocol::buildHeartbeat(mac);
    }
    return mix;
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
    sockaddr_in to {};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);

    std::vector<iovec> parts(size_t(datagrams_.size()));
    for (int i = 0; i < datagrams_.size(); ++i)
        parts[size_t(i)] = { const_cast<char*>(datagrams_.at(i).constData()), size_t(datagrams_.at(i).size()) };
    mmsghdr batch[SendBatch] {};
    size_t next = 0;
    while (running_.load(std::memory_order_relaxed)) {
        for (auto& message : batch) {
            message.msg_hdr = msghdr();
            message.msg_hdr.msg_name = &to;
            message.msg_hdr.msg_namelen = sizeof to;
            message.msg_hdr.msg_iov = &parts[next];
            message.msg_hdr.msg_iovlen = 1;
            next = (next + 1) % parts.size();
        }
        const int sent = ::sendmmsg(fd, batch, SendBatch, 0);
        if (sent > 0)
            sent_.fetch_add(uint64_t(sent), std::memory_order_relaxed);
    }
    ::close(fd);
}
