#include "GroupCapture.h"

#include "core/Protocol.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstring>

namespace {

constexpr int MembershipsPerSocket = 20;

} // namespace

GroupCapture::~GroupCapture()
{
    stop();
    if (fd_ >= 0)
        ::close(fd_);
    for (int holder : memberships_)
        ::close(holder);
}

bool GroupCapture::open(const QList<uint32_t>& groups)
{
    fd_ = ::socket(AF_INET, SOCK_DGRAM, 0);
    if (fd_ < 0)
        return false;
    const int on = 1;
    ::setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in local {};
    local.sin_family = AF_INET;
    local.sin_port = htons(Protocol::AgentPort);
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    if (::bind(fd_, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0)
        return false;
    if (::setsockopt(fd_, IPPROTO_IP, IP_PKTINFO, &on, sizeof on) != 0
        || ::setsockopt(fd_, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on) != 0)
        return false;
    // A socket may join only a few groups (igmp_max_memberships, 20 by
    // default); extra sockets hold the rest, and IP_MULTICAST_ALL (on by
    // default) hands this socket every group any socket here has joined.
    for (int i = 0; i < groups.size(); ++i) {
        if (i % MembershipsPerSocket == 0) {
            const int holder = ::socket(AF_INET, SOCK_DGRAM, 0);
            if (holder < 0)
                return false;
            memberships_.push_back(holder);
        }
        ip_mreq join {};
        const uint32_t group = groups.at(i);
        std::memcpy(&join.imr_multiaddr, &group, sizeof group);
        join.imr_interface.s_addr = htonl(INADDR_LOOPBACK);
        if (::setsockopt(memberships_.back(), IPPROTO_IP, IP_ADD_MEMBERSHIP, &join, sizeof join) != 0)
            return false;
    }
    ::setsockopt(fd_, IPPROTO_IP, IP_MULTICAST_ALL, &on, sizeof on);
    const int buffer = 4 * 1024 * 1024;
    ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &buffer, sizeof buffer);
    timeval timeout { 0, 100000 };
    ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    return true;
}

void GroupCapture::start()
{
    running_ = true;
    thread_ = std::thread([this] { run(); });
}

void GroupCapture::stop()
{
    running_ = false;
    if (thread_.joinable())
        thread_.join();
}

std::vector<GroupCapture::LockSeen> GroupCapture::seenSince(int64_t realtimeNs) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<LockSeen> since;
    for (const LockSeen& seen : seen_)
        if (seen.atRealtimeNs >= realtimeNs)
            since.push_back(seen);
    return since;
}

std::vector<GroupCapture::PolicySeen> GroupCapture::policiesSince(int64_t realtimeNs) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<PolicySeen> since;
    for (const PolicySeen& seen : policies_)
        if (seen.atRealtimeNs >= realtimeNs)
            since.push_back(seen);
    return since;
}

void GroupCapture::run()
{
    tid_ = int(::syscall(SYS_gettid));
    // A policy datagram may be large (a long catalog); only its head counts.
    char buffer[2048];
    alignas(cmsghdr) char control[256];
    while (running_.load()) {
        iovec part { buffer, sizeof buffer };
        msghdr message {};
        message.msg_iov = &part;
        message.msg_iovlen = 1;
        message.msg_control = control;
        message.msg_controllen = sizeof control;
        const ssize_t size = ::recvmsg(fd_, &message, MSG_TRUNC);
        if (size < 8)
            continue;
        const uint32_t id = Protocol::readU32(buffer);
        const bool policy = id == Protocol::MSG_ADMIN_POLICY;
        if (!policy && (size != 8 || id != Protocol::MSG_ADMIN_LOCK_STATE))
            continue;
        LockSeen seen;
        seen.word = policy ? 0 : Protocol::readU32(buffer + 4);
        for (cmsghdr* header = CMSG_FIRSTHDR(&message); header; header = CMSG_NXTHDR(&message, header)) {
            if (header->cmsg_level == IPPROTO_IP && header->cmsg_type == IP_PKTINFO) {
                in_pktinfo info {};
                std::memcpy(&info, CMSG_DATA(header), sizeof info);
                std::memcpy(&seen.group, &info.ipi_addr, sizeof seen.group);
            } else if (header->cmsg_level == SOL_SOCKET && header->cmsg_type == SCM_TIMESTAMPNS) {
                timespec at {};
                std::memcpy(&at, CMSG_DATA(header), sizeof at);
                seen.atRealtimeNs = int64_t(at.tv_sec) * 1000000000 + at.tv_nsec;
            }
        }
        std::lock_guard<std::mutex> lock(mutex_);
        if (policy)
            policies_.push_back({ seen.group, int(size), seen.atRealtimeNs });
        else
            seen_.push_back(seen);
    }
}
