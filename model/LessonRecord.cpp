#include "model/LessonRecord.h"

#include <QHash>

#include <algorithm>

QString LessonRecord::originName(Origin origin)
{
    return origin == Origin::Timetable ? QStringLiteral("课表") : QStringLiteral("教师");
}

QList<LessonRecord::Absence> LessonRecord::absences(const QString& lockedPrefix, qint64 nowMs) const
{
    QList<Absence> out;
    QHash<quint64, int> away; // MAC to its open absence in `out`
    for (const Event& event : events) {
        if (event.mac == 0)
            continue;
        if (event.kind == Offline) {
            // A second off-line row without one back between says nothing new.
            if (away.contains(event.mac))
                continue;
            Absence absence;
            absence.mac = event.mac;
            absence.machine = event.machine;
            absence.from_ms = event.at_ms;
            absence.locked = !lockedPrefix.isEmpty() && event.detail.startsWith(lockedPrefix);
            away.insert(event.mac, out.size());
            out << absence;
        } else if (event.kind == Online) {
            const auto it = away.find(event.mac);
            if (it == away.end())
                continue;
            Absence& absence = out[it.value()];
            absence.to_ms = event.at_ms;
            absence.back = true;
            away.erase(it);
        }
    }
    const qint64 until = end_ms != 0 ? end_ms : nowMs;
    for (const int index : std::as_const(away))
        out[index].to_ms = std::max(until, out[index].from_ms);
    return out;
}

int LessonRecord::onlineCount(const QList<Machine>& machines)
{
    int count = 0;
    for (const Machine& machine : machines)
        count += machine.online ? 1 : 0;
    return count;
}

QString LessonRecord::durationText(qint64 ms)
{
    const qint64 seconds = std::max<qint64>(ms, 0) / 1000;
    const qint64 h = seconds / 3600;
    const qint64 m = seconds % 3600 / 60;
    const qint64 s = seconds % 60;
    if (h > 0)
        return QStringLiteral("%1小时%2分%3秒").arg(h).arg(m, 2, 10, QLatin1Char('0')).arg(s, 2, 10, QLatin1Char('0'));
    if (m > 0)
        return QStringLiteral("%1分%2秒").arg(m).arg(s, 2, 10, QLatin1Char('0'));
    return QStringLiteral("%1秒").arg(s);
}
