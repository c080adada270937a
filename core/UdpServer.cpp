#include "core/UdpServer.h"

#include <asio/executor_work_guard.hpp>
#include <asio/io_context.hpp>
#include <asio/ip/multicast.hpp>
#include <asio/ip/udp.hpp>
#include <asio/post.hpp>
#include <asio/steady_timer.hpp>
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <cstring>
#include <new>
#include <system_error>
#include <unordered_map>
#include <vector>

#ifdef __linux__
#include <cerrno>
#include <netinet/in.h>
#include <sys/socket.h>
#endif
#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#include <mswsock.h>
#ifndef SIO_UDP_CONNRESET
#define SIO_UDP_CONNRESET _WSAIOW(IOC_VENDOR, 12)
#endif
#endif

namespace {

// Bound on what other threads may have queued for the loop; a sender that
// outruns the socket gets failures instead of growing memory without end.
constexpr size_t MaxQueuedBytes = 16u * 1024 * 1024;
constexpr size_t QueuedOverhead = 64;
constexpr size_t ReceiveBufferSize = 65536;
// Datagrams read per system call, and calls per turn before queued sends
// get theirs.
constexpr int ReceiveBatch = 64;
constexpr int ReceiveRounds = 4;
// Asked of the system for the socket's receive queue (it may grant less).
// While the loop is held up, by a busy machine or a burst of registrations,
// datagrams wait here; one dropped heartbeat can show a machine off line.
constexpr int ReceiveQueueBytes = 4 * 1024 * 1024;
// While datagrams keep coming, the loop pauses this long before the next
// read instead of waking for each one: a lab of 5,000 heartbeating machines
// costs a few hundred wake-ups a second instead of thousands. A send handed
// over by another thread ends the pause at once.
constexpr std::chrono::milliseconds ReadPause { 2 };

asio::ip::udp::endpoint makeEndpoint(uint32_t addressNetworkOrder, uint16_t port)
{
    asio::ip::address_v4::bytes_type bytes;
    std::memcpy(bytes.data(), &addressNetworkOrder, bytes.size());
    return asio::ip::udp::endpoint(asio::ip::address_v4(bytes), port);
}

} // namespace

// Socket, event loop and receive state; shared with the channels handed out,
// which hold it weakly so a kept channel never outlives what it writes to.
class UdpServerCore final : public std::enable_shared_from_this<UdpServerCore>
{
public:
    using Handler = std::function<void(const SocketChannelPtr&, const UdpBuffer&)>;

    explicit UdpServerCore(const Handler& handler)
        : handler_(handler)
    {
    }

    asio::io_context io;
    asio::ip::udp::socket socket { io };
    std::atomic_bool open { false };
    // Set before the loop starts.
    bool readPause = true;

    bool onLoopThread() { return io.get_executor().running_in_this_thread(); }

    // Before the loop runs: the change is made now and the system's answer
    // returned. Once it runs, socket calls belong to the loop thread, so the
    // change is queued there and true means queued.
    template <class Change> bool configure(bool loopRunning, Change change)
    {
        if (!open.load())
            return false;
        if (onLoopThread() || !loopRunning)
            return change();
        asio::post(io, [change] { change(); });
        interruptPause();
        return true;
    }

    bool setMembership(uint32_t groupNetworkOrder, bool join)
    {
#ifdef __linux__
        // Linux would otherwise hand a socket bound to the wildcard address
        // the datagrams of every group any socket of this PC joined.
        if (holders_.empty()) {
            const int all = 0;
            ::setsockopt(socket.native_handle(), IPPROTO_IP, IP_MULTICAST_ALL, &all, sizeof all);
        }
#endif
        const asio::ip::address_v4 group = makeEndpoint(groupNetworkOrder, 0).address().to_v4();
        asio::error_code ec;
        if (join)
            socket.set_option(asio::ip::multicast::join_group(group), ec);
        else if (!leaveHeld(groupNetworkOrder))
            socket.set_option(asio::ip::multicast::leave_group(group), ec);
#ifdef __linux__
        if (join && ec == asio::error::no_buffer_space)
            return joinHeld(groupNetworkOrder, group);
#endif
        return !ec;
    }

    // Before the loop runs.
    void setTimer(std::chrono::milliseconds interval, std::function<void()> tick)
    {
        tickInterval_ = interval;
        tick_ = std::move(tick);
    }

    // Before the loop runs; without an answer from the system the channels
    // simply report 0.
    void enableDestination()
    {
#ifdef __linux__
        const int on = 1;
        if (::setsockopt(socket.native_handle(), IPPROTO_IP, IP_PKTINFO, &on, sizeof on) == 0)
            rxControl_.reset(new RxControl[ReceiveBatch]);
#elif defined(_WIN32)
        const DWORD on = 1;
        GUID id = WSAID_WSARECVMSG;
        LPFN_WSARECVMSG function = nullptr;
        DWORD returned = 0;
        if (::setsockopt(socket.native_handle(), IPPROTO_IP, IP_PKTINFO, reinterpret_cast<const char*>(&on), sizeof on)
                == 0
            && WSAIoctl(socket.native_handle(), SIO_GET_EXTENSION_FUNCTION_POINTER, &id, sizeof id, &function,
                   sizeof function, &returned, nullptr, nullptr)
                == 0)
            recvMsg_ = function;
#endif
    }

    // Loop thread only.
    void armTimer()
    {
        if (!tick_ || tickInterval_.count() <= 0)
            return;
        tickDue_ = std::chrono::steady_clock::now() + tickInterval_;
        waitForTick();
    }

    void run()
    {
        for (;;) {
            try {
                io.run();
                return;
            } catch (...) {
                // A handler threw; the loop stays up for the next datagram.
            }
        }
    }

    // Loop thread only.
    void shutdown()
    {
        asio::error_code ec;
        socket.close(ec);
#ifdef __linux__
        holders_.clear();
        heldBy_.clear();
#endif
        work_.reset();
        io.stop();
    }

    // Any thread: ends a pause of the loop, so what was just posted runs now.
    void interruptPause()
    {
        {
            std::lock_guard<std::mutex> lock(pauseMutex_);
            pauseInterrupted_ = true;
        }
        pauseWake_.notify_one();
    }

    // Loop thread only.
    void armReceive()
    {
        socket.async_wait(asio::socket_base::wait_read, [this](const asio::error_code& ec) { readable(ec); });
    }

    int send(const void* data, size_t len, const asio::ip::udp::endpoint& dest)
    {
        if (!open.load() || len > static_cast<size_t>(UdpServer::MaxDatagramSize) || (!data && len > 0))
            return -1;
        if (onLoopThread())
            return sendNow(data, len, dest);

        const size_t cost = len + QueuedOverhead;
        if (queuedBytes_.fetch_add(cost) + cost > MaxQueuedBytes) {
            queuedBytes_.fetch_sub(cost);
            return -1;
        }
        try {
            const char* bytes = static_cast<const char*>(data);
            asio::post(io, [this, copy = std::vector<char>(bytes, bytes + len), dest, cost] {
                queuedBytes_.fetch_sub(cost);
                sendNow(copy.data(), copy.size(), dest);
            });
            interruptPause();
        } catch (const std::bad_alloc&) {
            queuedBytes_.fetch_sub(cost);
            return -1;
        }
        return static_cast<int>(len);
    }

#ifdef __linux__
    // One socket may join only igmp_max_memberships groups (20 unless
    // raised). Further groups are joined by sockets that only hold the
    // membership; this socket, bound to the wildcard address, then takes
    // every group joined on the PC (IP_MULTICAST_ALL), so a caller that
    // needs more groups must not rely on leaving one to stop its datagrams.
    bool joinHeld(uint32_t key, const asio::ip::address_v4& group)
    {
        const int all = 1;
        ::setsockopt(socket.native_handle(), IPPROTO_IP, IP_MULTICAST_ALL, &all, sizeof all);
        const asio::ip::multicast::join_group option(group);
        asio::error_code ec;
        for (size_t i = 0; i < holders_.size(); ++i) {
            holders_[i]->set_option(option, ec);
            if (!ec) {
                heldBy_[key] = i;
                return true;
            }
            if (ec != asio::error::no_buffer_space)
                return false;
        }
        auto holder = std::make_unique<asio::ip::udp::socket>(io);
        holder->open(asio::ip::udp::v4(), ec);
        if (!ec)
            holder->set_option(option, ec);
        if (ec)
            return false;
        holders_.push_back(std::move(holder));
        heldBy_[key] = holders_.size() - 1;
        return true;
    }
#endif

    // True when a holder had the group and left it.
    bool leaveHeld(uint32_t key)
    {
#ifdef __linux__
        const auto it = heldBy_.find(key);
        if (it == heldBy_.end())
            return false;
        asio::error_code ec;
        holders_[it->second]->set_option(
            asio::ip::multicast::leave_group(makeEndpoint(key, 0).address().to_v4()), ec);
        heldBy_.erase(it);
        return true;
#else
        (void)key;
        return false;
#endif
    }

private:
    void waitForTick()
    {
        timer_.expires_at(tickDue_);
        timer_.async_wait([this](const asio::error_code& ec) {
            if (ec)
                return;
            try {
                tick_();
            } catch (...) {
                // The tick's failure ends with this tick.
            }
            // Deadlines stay on their grid; those missed while the loop was
            // held up are skipped, not run back to back.
            const auto now = std::chrono::steady_clock::now();
            tickDue_ += tickInterval_;
            if (tickDue_ <= now)
                tickDue_ += (now - tickDue_) / tickInterval_ * tickInterval_ + tickInterval_;
            waitForTick();
        });
    }

    // The socket is non-blocking: a send the system cannot take at once is
    // lost like any other failed send, and never stalls the loop.
public:
    // Loop thread only. One system call for the lot where the system has
    // it: the joins repeated to a whole lab cost per datagram, not per call.
    int sendBatch(const UdpServer::Outgoing* datagrams, size_t count)
    {
        if (!socket.is_open() || !onLoopThread())
            return -1;
        int sent = 0;
#ifdef __linux__
        constexpr size_t Batch = 64;
        mmsghdr messages[Batch];
        iovec vectors[Batch];
        sockaddr_in destinations[Batch];
        for (size_t first = 0; first < count; first += Batch) {
            const size_t n = std::min(Batch, count - first);
            for (size_t i = 0; i < n; ++i) {
                const UdpServer::Outgoing& out = datagrams[first + i];
                destinations[i] = sockaddr_in();
                destinations[i].sin_family = AF_INET;
                destinations[i].sin_port = htons(out.port);
                std::memcpy(&destinations[i].sin_addr, &out.address, sizeof out.address);
                vectors[i].iov_base = const_cast<char*>(out.data);
                vectors[i].iov_len = size_t(out.size);
                messages[i] = mmsghdr();
                messages[i].msg_hdr.msg_name = &destinations[i];
                messages[i].msg_hdr.msg_namelen = sizeof(sockaddr_in);
                messages[i].msg_hdr.msg_iov = &vectors[i];
                messages[i].msg_hdr.msg_iovlen = 1;
            }
            // A datagram the system refuses is lost like any failed send;
            // the rest of the batch still goes.
            for (size_t done = 0; done < n;) {
                const int got = ::sendmmsg(socket.native_handle(), messages + done, unsigned(n - done), MSG_DONTWAIT);
                if (got <= 0) {
                    if (got < 0 && errno == EINTR)
                        continue;
                    ++done;
                    continue;
                }
                sent += got;
                done += size_t(got);
            }
        }
#else
        for (size_t i = 0; i < count; ++i)
            if (sendNow(datagrams[i].data, size_t(datagrams[i].size), makeEndpoint(datagrams[i].address, datagrams[i].port)) >= 0)
                ++sent;
#endif
        return sent;
    }

private:
    int sendNow(const void* data, size_t len, const asio::ip::udp::endpoint& dest)
    {
        if (!socket.is_open())
            return -1;
        asio::error_code ec;
        const size_t sent = socket.send_to(asio::buffer(data, len), dest, 0, ec);
        return ec ? -1 : static_cast<int>(sent);
    }

    // Reads what has arrived, a batch at a time: one wake-up of the loop
    // serves every datagram queued meanwhile, with no completion handler
    // and no re-arming per datagram (and on Linux one system call per batch).
    void readable(const asio::error_code& ec)
    {
        if (!socket.is_open() || ec == asio::error::operation_aborted || ec == asio::error::bad_descriptor)
            return;
        for (int round = 0; round < ReceiveRounds; ++round) {
            const int got = readBatch();
            if (got < 0)
                return; // stopped from the handler
            if (got == 0) {
                armReceive();
                return;
            }
            if (got < ReceiveBatch) {
                if (readPause)
                    pauseForMore();
                asio::post(io, [this] { readable(asio::error_code()); });
                return;
            }
        }
        // More may be waiting: let queued sends go first, then read on.
        asio::post(io, [this] { readable(asio::error_code()); });
    }

    // Waiting on a condition, not in the reactor: arriving datagrams do not
    // wake the loop, only the end of the pause or a send from another thread.
    void pauseForMore()
    {
        std::unique_lock<std::mutex> lock(pauseMutex_);
        pauseWake_.wait_for(lock, ReadPause, [this] { return pauseInterrupted_; });
        pauseInterrupted_ = false;
    }

    // Datagrams read and handled, below ReceiveBatch when the socket ran dry;
    // -1 when the server was stopped meanwhile.
    int readBatch()
    {
#ifdef __linux__
        for (int i = 0; i < ReceiveBatch; ++i) {
            rxIov_[i].iov_base = rxSlots_.get() + size_t(i) * ReceiveBufferSize;
            rxIov_[i].iov_len = ReceiveBufferSize;
            msghdr& header = rxMessages_[i].msg_hdr;
            header = msghdr();
            header.msg_name = &rxPeers_[i];
            header.msg_namelen = sizeof(sockaddr_in);
            header.msg_iov = &rxIov_[i];
            header.msg_iovlen = 1;
            if (rxControl_) {
                header.msg_control = rxControl_[i].bytes;
                header.msg_controllen = sizeof rxControl_[i].bytes;
            }
            rxMessages_[i].msg_len = 0;
        }
        int got;
        do {
            got = ::recvmmsg(socket.native_handle(), rxMessages_, ReceiveBatch, MSG_DONTWAIT, nullptr);
        } while (got < 0 && errno == EINTR);
        // Dry, or an error that concerns one datagram only: the next wake-up
        // goes on reading. A queued error report (IP_RECVERR) is read off,
        // or it would wake the loop again and again.
        if (got < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
            drainErrorQueue();
        if (got <= 0)
            return 0;
        for (int i = 0; i < got; ++i) {
            const sockaddr_in& peer = rxPeers_[i];
            msghdr& header = rxMessages_[i].msg_hdr;
            if (peer.sin_family == AF_INET && !(header.msg_flags & MSG_TRUNC)) {
                uint32_t address = 0;
                std::memcpy(&address, &peer.sin_addr, sizeof address);
                deliver(address, ntohs(peer.sin_port), static_cast<const char*>(rxIov_[i].iov_base),
                    rxMessages_[i].msg_len, rxControl_ ? destinationOf(header) : 0);
            }
            if (!socket.is_open())
                return -1;
        }
        return got;
#else
#ifdef _WIN32
        if (recvMsg_)
            return readBatchWithDestination();
#endif
        for (int i = 0; i < ReceiveBatch; ++i) {
            asio::error_code rec;
            const size_t size = socket.receive_from(asio::buffer(rxBuffer_), rxPeer_, 0, rec);
            if (!socket.is_open())
                return -1;
            if (rec == asio::error::would_block || rec == asio::error::try_again)
                return i;
            // Any other error concerns one datagram only (Windows, for one,
            // reports an earlier send's ICMP port-unreachable here).
            if (!rec && rxPeer_.address().is_v4()) {
                const auto bytes = rxPeer_.address().to_v4().to_bytes();
                uint32_t address = 0;
                std::memcpy(&address, bytes.data(), sizeof address);
                deliver(address, rxPeer_.port(), rxBuffer_.data(), size, 0);
                if (!socket.is_open())
                    return -1;
            }
        }
        return ReceiveBatch;
#endif
    }

#ifdef __linux__
    static uint32_t destinationOf(msghdr& header)
    {
        for (cmsghdr* item = CMSG_FIRSTHDR(&header); item; item = CMSG_NXTHDR(&header, item)) {
            if (item->cmsg_level == IPPROTO_IP && item->cmsg_type == IP_PKTINFO) {
                in_pktinfo info;
                std::memcpy(&info, CMSG_DATA(item), sizeof info);
                uint32_t address = 0;
                std::memcpy(&address, &info.ipi_addr, sizeof address);
                return address;
            }
        }
        return 0;
    }

    void drainErrorQueue()
    {
        char control[512];
        for (int i = 0; i < ReceiveBatch; ++i) {
            msghdr header {};
            header.msg_control = control;
            header.msg_controllen = sizeof control;
            if (::recvmsg(socket.native_handle(), &header, MSG_ERRQUEUE | MSG_DONTWAIT) < 0)
                return;
        }
    }
#endif

#ifdef _WIN32
    // The plain read path's loop, through WSARecvMsg for the destination.
    int readBatchWithDestination()
    {
        for (int i = 0; i < ReceiveBatch; ++i) {
            sockaddr_in peer {};
            WSABUF data;
            data.buf = rxBuffer_.data();
            data.len = static_cast<ULONG>(rxBuffer_.size());
            WSAMSG message {};
            message.name = reinterpret_cast<sockaddr*>(&peer);
            message.namelen = sizeof peer;
            message.lpBuffers = &data;
            message.dwBufferCount = 1;
            message.Control.buf = rxControl_.bytes;
            message.Control.len = sizeof rxControl_.bytes;
            DWORD size = 0;
            const int result = recvMsg_(socket.native_handle(), &message, &size, nullptr, nullptr);
            if (!socket.is_open())
                return -1;
            if (result == SOCKET_ERROR) {
                if (WSAGetLastError() == WSAEWOULDBLOCK)
                    return i;
                continue; // concerns one datagram only, as in the plain path
            }
            if (peer.sin_family != AF_INET || (message.dwFlags & MSG_TRUNC))
                continue;
            uint32_t address = 0;
            std::memcpy(&address, &peer.sin_addr, sizeof address);
            deliver(address, ntohs(peer.sin_port), rxBuffer_.data(), size, destinationOf(message));
            if (!socket.is_open())
                return -1;
        }
        return ReceiveBatch;
    }

    static uint32_t destinationOf(WSAMSG& message)
    {
        for (WSACMSGHDR* item = WSA_CMSG_FIRSTHDR(&message); item; item = WSA_CMSG_NXTHDR(&message, item)) {
            if (item->cmsg_level == IPPROTO_IP && item->cmsg_type == IP_PKTINFO) {
                IN_PKTINFO info;
                std::memcpy(&info, WSA_CMSG_DATA(item), sizeof info);
                uint32_t address = 0;
                std::memcpy(&address, &info.ipi_addr, sizeof address);
                return address;
            }
        }
        return 0;
    }
#endif

    void deliver(uint32_t address, uint16_t port, const char* data, size_t size, uint32_t local)
    {
        if (!handler_)
            return;
        try {
            const auto channel = std::make_shared<SocketChannel>(weak_from_this(), address, port, local);
            handler_(channel, UdpBuffer(data, size));
        } catch (...) {
            // The handler's failure ends with this datagram.
        }
    }

    const Handler& handler_;
    asio::executor_work_guard<asio::io_context::executor_type> work_ { io.get_executor() };
    std::atomic<size_t> queuedBytes_ { 0 };
    std::mutex pauseMutex_;
    std::condition_variable pauseWake_;
    bool pauseInterrupted_ = false;
    asio::steady_timer timer_ { io };
    std::chrono::milliseconds tickInterval_ { 0 };
    std::function<void()> tick_;
    std::chrono::steady_clock::time_point tickDue_;
#ifdef __linux__
    std::vector<std::unique_ptr<asio::ip::udp::socket>> holders_;
    std::unordered_map<uint32_t, size_t> heldBy_;
#endif
#ifdef __linux__
    // Slots are only touched as far as datagrams fill them.
    std::unique_ptr<char[]> rxSlots_ { new char[size_t(ReceiveBatch) * ReceiveBufferSize] };
    mmsghdr rxMessages_[ReceiveBatch] {};
    iovec rxIov_[ReceiveBatch] {};
    sockaddr_in rxPeers_[ReceiveBatch] {};
    // Only while the destination is asked for; the read path otherwise
    // passes no control buffer at all.
    union RxControl {
        cmsghdr align;
        char bytes[CMSG_SPACE(sizeof(in_pktinfo))];
    };
    std::unique_ptr<RxControl[]> rxControl_;
#else
    std::vector<char> rxBuffer_ = std::vector<char>(ReceiveBufferSize);
    asio::ip::udp::endpoint rxPeer_;
#endif
#ifdef _WIN32
    // Null while the destination is not asked for or cannot be had.
    LPFN_WSARECVMSG recvMsg_ = nullptr;
    union {
        WSACMSGHDR align;
        char bytes[WSA_CMSG_SPACE(sizeof(IN_PKTINFO))];
    } rxControl_;
#endif
};

UdpServer::UdpServer()
    : core_(std::make_shared<UdpServerCore>(onMessage))
{
}

UdpServer::~UdpServer()
{
    stop();
    // Only left joinable when destroyed from its own callback; the thread
    // keeps the core alive until the loop ends.
    if (loopThread_.joinable())
        loopThread_.detach();
}

int UdpServer::createsocket(int port, const char* host, bool shareAddress)
{
    auto& socket = core_->socket;
    if (started_ || socket.is_open() || port < 0 || port > 65535 || !host)
        return -1;

    asio::error_code ec;
    const asio::ip::address_v4 address = asio::ip::make_address_v4(host, ec);
    if (ec)
        return -1;
    socket.open(asio::ip::udp::v4(), ec);
    if (ec)
        return -1;
    // Callers read a descriptor below 1 as failure: with standard input
    // closed the socket could get 0, so take the next one instead.
    if (socket.native_handle() == 0) {
        asio::ip::udp::socket other(core_->io);
        other.open(asio::ip::udp::v4(), ec);
        asio::error_code ignored;
        socket.close(ignored);
        if (ec)
            return -1;
        socket = std::move(other);
    }
    if (shareAddress)
        socket.set_option(asio::socket_base::reuse_address(true), ec);
    if (!ec)
        socket.bind(asio::ip::udp::endpoint(address, static_cast<uint16_t>(port)), ec);
    if (!ec)
        localPort_ = socket.local_endpoint(ec).port();
    if (ec) {
        asio::error_code ignored;
        socket.close(ignored);
        localPort_ = 0;
        return -1;
    }
    asio::error_code ignored;
    socket.set_option(asio::socket_base::receive_buffer_size(ReceiveQueueBytes), ignored);
#ifdef _WIN32
    // Windows fails the next receive with WSAECONNRESET after an ICMP port
    // unreachable (a lab PC that is on but runs no agent); those reports say
    // nothing about the datagrams waiting to be read.
    {
        BOOL report = FALSE;
        DWORD returned = 0;
        WSAIoctl(socket.native_handle(), SIO_UDP_CONNRESET, &report, sizeof report, nullptr, 0, &returned,
            nullptr, nullptr);
    }
#endif
    socket.non_blocking(true, ec);
    if (ec) {
        asio::error_code ignored;
        socket.close(ignored);
        localPort_ = 0;
        return -1;
    }
    fd_ = static_cast<int>(socket.native_handle());
    core_->open = true;
    return fd_;
}

int UdpServer::start()
{
    if (started_ || !core_->open.load())
        return -1;
    if (receiveDestination_)
        core_->enableDestination();
    try {
        loopThread_ = std::thread([keep = core_] {
            keep->armReceive();
            keep->armTimer();
            keep->run();
        });
    } catch (const std::system_error&) {
        return -1;
    }
    started_ = true;
    return 0;
}

void UdpServer::stop()
{
    UdpServerCore* core = core_.get();
    core->open = false;
    fd_ = -1;
    localPort_ = 0;
    // From the callback: the loop cannot join itself, and loopThread_ belongs
    // to the owner's thread; the owner's own stop() joins later.
    if (core->onLoopThread()) {
        core->shutdown();
        return;
    }
    if (loopThread_.joinable()) {
        asio::post(core->io, [core] { core->shutdown(); });
        core->interruptPause();
        loopThread_.join();
    }
    // No loop runs any more, so the socket is this thread's to close.
    asio::error_code ec;
    core->socket.close(ec);
}

int UdpServer::sendto(const void* data, int len, const struct sockaddr* dest)
{
    if (!dest || dest->sa_family != AF_INET)
        return -1;
    sockaddr_in in;
    std::memcpy(&in, dest, sizeof in);
    uint32_t address = 0;
    std::memcpy(&address, &in.sin_addr, sizeof address);
    uint8_t port[2];
    std::memcpy(port, &in.sin_port, sizeof port);
    return sendto(data, len, address, static_cast<uint16_t>(port[0] << 8 | port[1]));
}

int UdpServer::sendto(const void* data, int len, uint32_t addressNetworkOrder, uint16_t port)
{
    if (len < 0)
        return -1;
    return core_->send(data, static_cast<size_t>(len), makeEndpoint(addressNetworkOrder, port));
}

int UdpServer::sendBatch(const Outgoing* datagrams, size_t count)
{
    return core_->sendBatch(datagrams, count);
}

bool UdpServer::setBroadcast(bool on)
{
    UdpServerCore* core = core_.get();
    return core->configure(loopThread_.joinable(), [core, on] {
        asio::error_code ec;
        core->socket.set_option(asio::socket_base::broadcast(on), ec);
        return !ec;
    });
}

bool UdpServer::joinGroup(uint32_t groupNetworkOrder)
{
    UdpServerCore* core = core_.get();
    return core->configure(
        loopThread_.joinable(), [core, groupNetworkOrder] { return core->setMembership(groupNetworkOrder, true); });
}

bool UdpServer::leaveGroup(uint32_t groupNetworkOrder)
{
    UdpServerCore* core = core_.get();
    return core->configure(
        loopThread_.joinable(), [core, groupNetworkOrder] { return core->setMembership(groupNetworkOrder, false); });
}

void UdpServer::setTimer(std::chrono::milliseconds interval, std::function<void()> tick)
{
    if (!started_)
        core_->setTimer(interval, std::move(tick));
}

void UdpServer::setReceiveDestination(bool on)
{
    if (!started_)
        receiveDestination_ = on;
}

void UdpServer::setReadPause(bool on)
{
    if (!started_)
        core_->readPause = on;
}

bool UdpServer::coreIsOpen(const UdpServerCore* core)
{
    return core && core->open.load();
}

int UdpServer::coreSend(UdpServerCore* core, const void* data, size_t len, uint32_t address, uint16_t port)
{
    return core ? core->send(data, len, makeEndpoint(address, port)) : -1;
}
