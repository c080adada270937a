// The UDP endpoint the console's network thread runs on.

#ifdef _WIN32
#include <winsock2.h>
#include <windows.h>
#endif
#include "core/Protocol.h"
#include "core/UdpServer.h"

#include <QtTest>
#include <asio/ip/udp.hpp>
#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#ifdef __linux__
#include <netinet/in.h>
#include <sys/socket.h>
#endif

namespace {

const uint32_t Loopback = Protocol::addressFromOctets(127, 0, 0, 1);

struct Received
{
    QByteArray bytes;
    std::string peer;
    std::thread::id thread;
    uint32_t local;
};

// A server that records every datagram it receives.
class Listener
{
public:
    // Started, on a free port of 127.0.0.1.
    Listener()
    {
        fd = server.createsocket(0, "127.0.0.1");
        record();
        server.start();
    }
    // Not yet started, sharing the port on every address, with destinations.
    explicit Listener(int sharedPort)
    {
        fd = server.createsocket(sharedPort, "0.0.0.0", true);
        server.setReceiveDestination(true);
        record();
    }
    // The loop must end before the members its callback fills go away.
    ~Listener() { server.stop(); }

    uint16_t port() const { return server.localPort(); }
    std::vector<Received> received() const
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return received_;
    }

    UdpServer server;
    int fd = -1;
    std::atomic_int count { 0 };

private:
    void record()
    {
        server.onMessage = [this](const SocketChannelPtr& channel, const UdpBuffer& buffer) {
            std::lock_guard<std::mutex> lock(mutex_);
            received_.push_back({ QByteArray(buffer.data(), int(buffer.size())), channel->peeraddr(),
                std::this_thread::get_id(), channel->localAddress() });
            count.fetch_add(1);
        };
    }

    mutable std::mutex mutex_;
    std::vector<Received> received_;
};

} // namespace

class TestEndpoint : public QObject
{
    Q_OBJECT

private slots:
    void lifecycleGuards();
    void largestDatagramAndLimits();
    void failuresKeepLoop();
    void stopIsRepeatable();
    void stopFromCallback();
    void sharedPortGroupsAndBroadcast();
    void timerOnLoopThread();
};

void TestEndpoint::lifecycleGuards()
{
    UdpServer server;
    QVERIFY(server.createsocket(0, "localhost") < 1);
    QVERIFY(server.createsocket(0, "256.0.0.1") < 1);
    QVERIFY(server.createsocket(70000) < 1);
    QVERIFY(!server.setBroadcast(true));
    const char byte = 0;
    QVERIFY(server.sendto(&byte, 1, Loopback, 9) < 0);

    QVERIFY(server.createsocket(0, "127.0.0.1") >= 1);
    QVERIFY(server.createsocket(0, "127.0.0.1") < 1);
    QCOMPARE(server.start(), 0);
    QCOMPARE(server.start(), -1);

    // A port in use is refused, on its address or on any: no two consoles.
    UdpServer sameAddress;
    QVERIFY(sameAddress.createsocket(server.localPort(), "127.0.0.1") < 1);
    UdpServer anyAddress;
    QVERIFY(anyAddress.createsocket(server.localPort(), "0.0.0.0") < 1);
    QCOMPARE(anyAddress.start(), -1);

    server.stop();
    QCOMPARE(server.start(), -1);
    QVERIFY(server.createsocket(0, "127.0.0.1") < 1);
}

void TestEndpoint::largestDatagramAndLimits()
{
    Listener listener;
    UdpServer sender;
    QVERIFY(sender.createsocket(0, "127.0.0.1") >= 1);
    QCOMPARE(sender.start(), 0);

    QByteArray largest(UdpServer::MaxDatagramSize, '\0');
    for (int i = 0; i < largest.size(); ++i)
        largest[i] = char(i * 7);
    const asio::ip::udp::endpoint dest(asio::ip::make_address_v4("127.0.0.1"), listener.port());
    QCOMPARE(sender.sendto(largest.constData(), largest.size(), dest.data()), largest.size());
    QCOMPARE(sender.sendto(nullptr, 0, dest.data()), 0);
    QTRY_COMPARE(listener.count.load(), 2);
    const std::vector<Received> received = listener.received();
    QVERIFY(received[0].bytes == largest);
    QVERIFY(received[1].bytes.isEmpty());
    QCOMPARE(received[0].peer, "127.0.0.1:" + std::to_string(sender.localPort()));
    QCOMPARE(received[0].local, 0u); // not asked for
    QVERIFY(received[0].thread != std::this_thread::get_id());

    const QByteArray tooLarge(UdpServer::MaxDatagramSize + 1, 'x');
    QVERIFY(sender.sendto(tooLarge.constData(), tooLarge.size(), dest.data()) < 0);
    QVERIFY(sender.sendto("x", -1, dest.data()) < 0);
    QVERIFY(sender.sendto("x", 1, nullptr) < 0);
    const asio::ip::udp::endpoint v6(asio::ip::make_address_v6("::1"), listener.port());
    QVERIFY(sender.sendto("x", 1, v6.data()) < 0);
}

void TestEndpoint::failuresKeepLoop()
{
    UdpServer server;
    QVERIFY(server.createsocket(0, "127.0.0.1") >= 1);
#ifdef __linux__
    // Have Linux report ICMP errors on the next receive, as Windows does.
    const int on = 1;
    QCOMPARE(setsockopt(server.fd(), IPPROTO_IP, IP_RECVERR, &on, sizeof on), 0);
#endif
    std::atomic_int calls { 0 };
    server.onMessage = [&calls](const SocketChannelPtr&, const UdpBuffer&) {
        if (calls.fetch_add(1) == 0)
            throw std::runtime_error("handler failure");
    };
    QCOMPARE(server.start(), 0);

    Listener sender;
    QVERIFY(sender.server.sendto("a", 1, Loopback, server.localPort()) == 1);
    QTRY_COMPARE(calls.load(), 1);
    QVERIFY(sender.server.sendto("b", 1, Loopback, server.localPort()) == 1);
    QTRY_COMPARE(calls.load(), 2);

    // A machine that is on but runs no agent answers with port unreachable,
    // which once stopped the receiving.
    asio::io_context io;
    asio::ip::udp::socket closed(io, asio::ip::udp::endpoint(asio::ip::address_v4::loopback(), 0));
    const uint16_t closedPort = closed.local_endpoint().port();
    closed.close();
    for (int i = 0; i < 3; ++i) {
        QVERIFY(server.sendto("x", 1, Loopback, closedPort) == 1);
        QVERIFY(sender.server.sendto("c", 1, Loopback, server.localPort()) == 1);
        QTRY_COMPARE(calls.load(), 3 + i);
    }
}

void TestEndpoint::stopIsRepeatable()
{
    Listener sender;
    SocketChannelPtr kept;
    std::mutex keptMutex;
    auto server = std::make_unique<UdpServer>();
    QVERIFY(server->createsocket(0, "127.0.0.1") >= 1);
    server->onMessage = [&](const SocketChannelPtr& channel, const UdpBuffer&) {
        std::lock_guard<std::mutex> lock(keptMutex);
        kept = channel;
    };
    QCOMPARE(server->start(), 0);
    QCOMPARE(sender.server.sendto("x", 1, Loopback, server->localPort()), 1);
    QTRY_VERIFY([&] {
        std::lock_guard<std::mutex> lock(keptMutex);
        return kept != nullptr;
    }());
    QVERIFY(kept->isOpened());

    server->stop();
    QCOMPARE(server->fd(), -1);
    QCOMPARE(server->localPort(), uint16_t(0));
    QVERIFY(!kept->isOpened());
    QVERIFY(kept->write("late", 4) < 0);
    QVERIFY(server->sendto("x", 1, Loopback, sender.port()) < 0);
    server->stop();

    // A channel kept past its server fails instead of touching freed state.
    server.reset();
    QVERIFY(!kept->isOpened());
    QVERIFY(kept->write("later", 5) < 0);
    UdpServer neverOpened;
    neverOpened.stop();
}

void TestEndpoint::stopFromCallback()
{
    UdpServer server;
    QVERIFY(server.createsocket(0, "127.0.0.1") >= 1);
    std::atomic_int calls { 0 };
    server.onMessage = [&](const SocketChannelPtr&, const UdpBuffer&) {
        calls.fetch_add(1);
        server.stop();
    };
    QCOMPARE(server.start(), 0);
    Listener sender;
    sender.server.sendto("x", 1, Loopback, server.localPort());
    QTRY_COMPARE(calls.load(), 1);
    QTRY_COMPARE(server.fd(), -1);
    server.stop();
}

void TestEndpoint::sharedPortGroupsAndBroadcast()
{
    const uint32_t group = Protocol::addressFromOctets(239, 74, 8, 27);
    const uint32_t broadcast = Protocol::addressFromOctets(255, 255, 255, 255);
    // An agent and a second socket on the agents' port of one PC.
    Listener agent(Protocol::AgentPort);
    Listener watcher(Protocol::AgentPort);
    QVERIFY(agent.fd >= 1);
    QVERIFY(watcher.fd >= 1);
    UdpServer unshared;
    QVERIFY(unshared.createsocket(Protocol::AgentPort, "0.0.0.0") < 1);

    QVERIFY(!agent.server.joinGroup(Protocol::addressFromOctets(10, 0, 0, 1)));
    QVERIFY(agent.server.joinGroup(group));
    QVERIFY(watcher.server.joinGroup(group));
    QCOMPARE(agent.server.start(), 0);
    QCOMPARE(watcher.server.start(), 0);

    UdpServer console;
    QVERIFY(console.createsocket(0, "127.0.0.2") >= 1);
    QVERIFY(console.setBroadcast(true));
    QCOMPARE(console.start(), 0);
    QCOMPARE(console.sendto("g", 1, group, Protocol::AgentPort), 1);
    QTRY_COMPARE(agent.count.load(), 1);
    QTRY_COMPARE(watcher.count.load(), 1);
    QCOMPARE(agent.received()[0].local, group);
    QCOMPARE(watcher.received()[0].local, group);

    // Queued to the agent's loop ahead of this send: once the send is out,
    // the agent has left. Linux would still hand it the group the watcher
    // keeps, unless membership is the socket's own.
    QVERIFY(agent.server.leaveGroup(group));
    Listener sink;
    QCOMPARE(agent.server.sendto("s", 1, Loopback, sink.port()), 1);
    QTRY_COMPARE(sink.count.load(), 1);
    QCOMPARE(console.sendto("h", 1, group, Protocol::AgentPort), 1);
    QCOMPARE(console.sendto("b", 1, broadcast, Protocol::AgentPort), 1);
    QTRY_COMPARE(watcher.count.load(), 3);
    // Wine runs the Windows build on Linux sockets without IP_MULTICAST_ALL
    // switched off, so there the agent still hears the group the watcher
    // keeps; Windows itself, like Linux here, does not.
#ifdef _WIN32
    const bool sharedMembership = GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr;
#else
    const bool sharedMembership = false;
#endif
    QTRY_COMPARE(agent.count.load(), sharedMembership ? 3 : 2);
    const std::vector<Received> seen = agent.received();
    const Received& last = seen.back();
    QCOMPARE(last.bytes, QByteArray("b"));
    QCOMPARE(last.local, broadcast);
    if (!sharedMembership) // Wine names a broadcast's source its own way
        QCOMPARE(last.peer, "127.0.0.2:" + std::to_string(console.localPort()));
    const std::vector<Received> watched = watcher.received();
    QCOMPARE(watched[1].bytes, QByteArray("h"));
    QCOMPARE(watched[1].local, group);
    QCOMPARE(watched[2].local, broadcast);
}

void TestEndpoint::timerOnLoopThread()
{
    UdpServer server;
    QVERIFY(server.createsocket(0, "127.0.0.1") >= 1);
    std::mutex mutex;
    std::thread::id tickThread;
    std::thread::id messageThread;
    std::atomic_int ticks { 0 };
    std::atomic_bool stopped { false };
    std::atomic_int lateTicks { 0 };
    server.setTimer(std::chrono::milliseconds(1), [&] {
        if (stopped.load())
            lateTicks.fetch_add(1);
        {
            std::lock_guard<std::mutex> lock(mutex);
            tickThread = std::this_thread::get_id();
        }
        if (ticks.fetch_add(1) == 0)
            throw std::runtime_error("tick failure");
    });
    std::atomic_int messages { 0 };
    server.onMessage = [&](const SocketChannelPtr&, const UdpBuffer&) {
        std::lock_guard<std::mutex> lock(mutex);
        messageThread = std::this_thread::get_id();
        messages.fetch_add(1);
    };
    QCOMPARE(server.start(), 0);
    // A tick that threw ended neither the timer nor the receiving.
    QTRY_VERIFY(ticks.load() >= 3);
    Listener sender;
    QCOMPARE(sender.server.sendto("x", 1, Loopback, server.localPort()), 1);
    QTRY_COMPARE(messages.load(), 1);
    {
        std::lock_guard<std::mutex> lock(mutex);
        QCOMPARE(tickThread, messageThread);
        QVERIFY(tickThread != std::this_thread::get_id());
    }

    server.stop();
    stopped = true;
    // A second server's timer as the clock: while it ticks on, the stopped
    // one does not.
    UdpServer clock;
    QVERIFY(clock.createsocket(0, "127.0.0.1") >= 1);
    std::atomic_int clockTicks { 0 };
    clock.setTimer(std::chrono::milliseconds(1), [&clockTicks] { clockTicks.fetch_add(1); });
    QCOMPARE(clock.start(), 0);
    QTRY_VERIFY(clockTicks.load() >= 10);
    clock.stop();
    QCOMPARE(lateTicks.load(), 0);
}

QTEST_GUILESS_MAIN(TestEndpoint)
#include "tst_endpoint.moc"
