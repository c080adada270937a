#pragma once

#include <QByteArray>
#include <QElapsedTimer>
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
        QHostAddress sender;
        quint16 senderPort = 0;
        qint64 atMs = 0; // since the catcher was made
    };

    explicit DatagramCatcher(QObject* parent = nullptr);

    // Shares the port with the other catchers: the system hands a unicast
    // datagram to the socket bound to its exact destination address.
    bool bind(const QHostAddress& address, quint16 port);
    bool joinGroup(const QHostAddress& group);
    // To the console at 127.0.0.1:57851.
    bool sendToConsole(const QByteArray& datagram);

    QList<Datagram> received() const { return received_; }
    // Console datagrams with this message id, in arrival order.
    QList<Datagram> withId(uint32_t id) const;
    int countOf(uint32_t id) const { return withId(id).size(); }
    void clear() { received_.clear(); }
    QString errorString() const { return socket_.errorString(); }

private:
    void readPending();

    QUdpSocket socket_;
    QElapsedTimer clock_;
    QList<Datagram> received_;
};
