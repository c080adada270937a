#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QUdpSocket>
#include <cstdint>

// A UDP socket in the role of an agent (or a bystander on the agents' port)
// that keeps every datagram it receives.
class DatagramCatcher final : public QObject
{
    Q_OBJECT

public:
    struct Datagram
    {
        QByteArray data;
        quint16 senderPort = 0;
    };

    explicit DatagramCatcher(QObject* parent = nullptr);

    // Shares the port with the other catchers: the system hands a unicast
    // datagram to the socket bound to its exact destination address.
    bool bind(const QHostAddress& address, quint16 port);
    bool joinGroup(const QHostAddress& group) { return socket_.joinMulticastGroup(group); }
    // To the console at 127.0.0.1:57851, or to an agent's own address.
    bool sendToConsole(const QByteArray& datagram);
    bool sendToAgent(const QString& address, const QByteArray& datagram);

    QList<Datagram> received() const { return received_; }
    // Console datagrams with this message id, in arrival order.
    QList<Datagram> withId(uint32_t id) const;
    int countOf(uint32_t id) const { return withId(id).size(); }
    void clear() { received_.clear(); }

private:
    void readPending();

    QUdpSocket socket_;
    QList<Datagram> received_;
};
