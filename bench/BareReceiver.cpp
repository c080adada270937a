#include "BareReceiver.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstring>

BareReceiver::~BareReceiver()
{
    stop();
    if (fd_ >= 0)
        ::close(fd_);
}

bool BareReceiver::open()
{
    fd_ = ::socket(AF_INET, SOCK_DGRAM, 0);
    if (fd_ < 0)
        return false;
    sockaddr_in local {};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof local;
    if (::bind(fd_, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0
        || ::getsockname(fd_, reinterpret_cast<sockaddr*>(&local), &length) != 0)
        return false;
    port_ = ntohs(local.sin_port);
    // Wakes the loop now and then so that stop() is seen without traffic.
    timeval timeout { 0, 100000 };
    ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    return true;
}

void BareReceiver::start()
{
    stop();
    running_ = true;
    thread_ = std::thread([this] { run(); });
}

void BareReceiver::stop()
{
    running_ = false;
    if (thread_.joinable())
        thread_.join();
}

void BareReceiver::run()
{
    char buffer[65536];
    uint64_t sum = 0;
    while (running_.load(std::memory_order_relaxed)) {
        sockaddr_in from {};
        socklen_t length = sizeof from;
        const ssize_t size = ::recvfrom(fd_, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &length);
        if (size < 12)
            continue;
        uint64_t mac = 0;
        uint32_t id = 0;
        std::memcpy(&mac, buffer, sizeof mac);
        std::memcpy(&id, buffer + 8, sizeof id);
        sum += mac ^ id;
        handled_.fetch_add(1, std::memory_order_relaxed);
    }
    checksum_ = sum;
}
