// The UDP endpoint the console's network thread runs on.

#include "Protocol.h"
#include "UdpServer.h"

#include <QtTest>
#include <asio/ip/udp.hpp>
#include <atomic>
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
};

// A started server that records every datagram it receives.
class Listener
{
public:
    Listener()
    {
        fd = server.createsocket(0, "127.0.0.1");
        server.onMessage = [this](const SocketChannelPtr& channel, const UdpBuffer& buffer) {
            std::lock_guard<std::mutex> lock(mutex_);
            received_.push_back(
                { QByteArray(buffer.data(), int(buffer.size())), channel->peeraddr(), std::this_thread::get_id() });
            count.fetch_add(1);
        };
        server.start();
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

QTEST_GUILESS_MAIN(TestEndpoint)
#include "tst_endpoint.moc"
