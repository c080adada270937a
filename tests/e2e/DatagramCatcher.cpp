#include "DatagramCatcher.h"

#include "Protocol.h"

#include <QNetworkDatagram>

DatagramCatcher::DatagramCatcher(QObject* parent)
    : QObject(parent)
{
    clock_.start();
    connect(&socket_, &QUdpSocket::readyRead, this, &DatagramCatcher::readPending);
}

bool DatagramCatcher::bind(const QHostAddress& address, quint16 port)
{
    return socket_.bind(address, port, QUdpSocket::ShareAddress | QUdpSocket::ReuseAddressHint);
}

bool DatagramCatcher::joinGroup(const QHostAddress& group)
{
    return socket_.joinMulticastGroup(group);
}

bool DatagramCatcher::sendToConsole(const QByteArray& datagram)
{
    return socket_.writeDatagram(datagram, QHostAddress::LocalHost, Protocol::ConsolePort) == datagram.size();
}

QList<DatagramCatcher::Datagram> DatagramCatcher::withId(uint32_t id) const
{
    QList<Datagram> matching;
    for (const Datagram& datagram : received_)
        if (datagram.data.size() >= 4 && Protocol::consoleMessageId(datagram.data) == id)
            matching.append(datagram);
    return matching;
}

void DatagramCatcher::readPending()
{
    while (socket_.hasPendingDatagrams()) {
        const QNetworkDatagram datagram = socket_.receiveDatagram();
        if (datagram.isValid())
            received_.append(
                { datagram.data(), datagram.senderAddress(), quint16(datagram.senderPort()), clock_.elapsed() });
    }
}
