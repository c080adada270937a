#include "MachineListCsv.h"

#include "MacAddress.h"

#include <QSaveFile>
#include <QStringList>

namespace {

QString field(QString text)
{
    // Host names come from the students' machines: one starting like a
    // formula must stay text when the teacher opens the file.
    if (!text.isEmpty() && QStringLiteral("=+-@").contains(text.at(0)))
        text.prepend(QLatin1Char('\''));
    if (text.contains(QLatin1Char(',')) || text.contains(QLatin1Char('"')) || text.contains(QLatin1Char('\n'))
        || text.contains(QLatin1Char('\r'))) {
        text.replace(QLatin1Char('"'), QStringLiteral("\"\""));
        text = QLatin1Char('"') + text + QLatin1Char('"');
    }
    return text;
}

QByteArray line(const QStringList& fields)
{
    QStringList quoted;
    for (const QString& text : fields)
        quoted << field(text);
    return quoted.join(QLatin1Char(',')).toUtf8() + "\r\n";
}

} // namespace

QByteArray MachineListCsv::encode(const QList<CStuInfo_PTR>& machines)
{
    QByteArray csv("\xEF\xBB\xBF");
    csv += line({ QStringLiteral("机器名"), QStringLiteral("IP地址"), QStringLiteral("MAC地址"), QStringLiteral("分组"),
        QStringLiteral("状态") });
    for (const CStuInfo_PTR& machine : machines) {
        if (!machine)
            continue;
        csv += line({ machine->hostname, machine->ip, MacAddress::toDisplay(machine->ullmac), machine->group_name,
            machine->online.load() ? QStringLiteral("在线") : QStringLiteral("断开") });
    }
    return csv;
}

bool MachineListCsv::write(const QString& path, const QList<CStuInfo_PTR>& machines, QString* error)
{
    const QByteArray csv = encode(machines);
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(csv) != csv.size() || !file.commit()) {
        if (error)
            *error = file.errorString();
        return false;
    }
    return true;
}
