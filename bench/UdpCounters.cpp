#include "UdpCounters.h"

#include <QByteArray>
#include <QFile>
#include <QList>

UdpCounters UdpCounters::read()
{
    UdpCounters counters;
    QFile file(QStringLiteral("/proc/self/net/snmp"));
    if (!file.open(QIODevice::ReadOnly))
        return counters;
    QList<QByteArray> names;
    for (const QByteArray& line : file.readAll().split('\n')) {
        if (!line.startsWith("Udp: "))
            continue;
        const QList<QByteArray> fields = line.mid(5).split(' ');
        if (names.isEmpty()) {
            names = fields;
            continue;
        }
        for (int i = 0; i < fields.size() && i < names.size(); ++i) {
            if (names.at(i) == "InDatagrams")
                counters.inDatagrams = fields.at(i).toULongLong();
            else if (names.at(i) == "RcvbufErrors")
                counters.receiveBufferErrors = fields.at(i).toULongLong();
        }
        break;
    }
    return counters;
}
