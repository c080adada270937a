#include "DatagramCatcher.h"

#include "core/Protocol.h"

#include <QNetworkDatagram>

DatagramCatcher::DatagramCatcher(QObject* parent)
    : QObject(parent)
{
    connect(&socket_, &QUdpSocket::readyRead, this, &DatagramCatcher::readPending);
}

bool DatagramCatcher::bind(const QHostAddress& address, quint16 port)
{
    return socket_.bind(address, port, QUdpSocket::ShareAddress | QUdpSocket::ReuseAddressHint);
}

bool DatagramCatcher::sendToConsole(const QByteArray& datagram)
{
    return socket_.writeDatagram(datagram, QHostAddress::LocalHost, Protocol::ConsolePort) == datagram.size();
}

bool DatagramCatcher::sendToAgent(const QString& address, const QByteArray& datagram)
{
    return socket_.writeDatagram(datagram, QHostAddress(address), Protocol::AgentPort) == datagram.size();
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
            received_.append({ datagram.data(), quint16(datagram.senderPort()) });
    }
}
