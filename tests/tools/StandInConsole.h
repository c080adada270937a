#pragma once

#include "UdpServer.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QHash>
#include <QString>
#include <QVector>
#include <cstdint>
#include <functional>
#include <mutex>

// A minimal console for the simulator's tests, built on the console's own
// endpoint: bound to 0.0.0.0:57851, it answers every registration with
// MSG_ADMIN_JOIN_GROUP and records what each agent sent.
class StandInConsole final
{
public:
    struct Agent
    {
        QString host;
        // Source address of the last datagram, "a.b.c.d".
        QString address;
        uint32_t addressBytes = 0;
        int registers = 0;
        int heartbeats = 0;
        int policyReports = 0;
        uint32_t reportedVersion = 0;
        // Arrival of every datagram, ms since open().
        QVector<qint64> arrivals;
    };

    // Group address (network-order bytes) given to a registering host.
    using GroupChooser = std::function<uint32_t(const QString& host)>;

    explicit StandInConsole(GroupChooser chooseGroup);
    ~StandInConsole();
    StandInConsole(const StandInConsole&) = delete;
    StandInConsole& operator=(const StandInConsole&) = delete;

    bool open();
    bool send(uint32_t address, const QByteArray& datagram);

    QHash<quint64, Agent> agents() const;
    Agent agentByHost(const QString& host) const;

private:
    void onMessage(const SocketChannelPtr& channel, const UdpBuffer& buffer);

    GroupChooser chooseGroup_;
    UdpServer server_;
    QElapsedTimer clock_;
    mutable std::mutex mutex_;
    QHash<quint64, Agent> agents_;
};
