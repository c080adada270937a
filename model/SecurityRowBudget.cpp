#include "model/SecurityRowBudget.h"

const QString SecurityRowBudget::EveryPage = QStringLiteral("全部");

SecurityRowBudget::Verdict SecurityRowBudget::admit(const QString& page, qint64 nowMs, Source source)
{
    const qint64 start = nowMs - nowMs % MinuteMs;
    // Pages are few; a name gone keeps its entry until the minute turns.
    if (minutes.size() > 1024)
        for (auto it = minutes.begin(); it != minutes.end();)
            it = it->start != start ? minutes.erase(it) : std::next(it);
    Minute& minute = minutes[page];
    if (minute.start != start)
        minute = Minute { start, 0, 0 };
    const int allowed = source == Source::Returning ? RowsPerMinute : NewSourceRows;
    if (minute.rows < allowed || source == Source::Bounded) {
        ++minute.rows;
        return {};
    }
    // A source that comes back was counted when it was first turned away.
    if (source == Source::New)
        ++minute.unrecorded;
    return { false, minute.unrecorded, start };
}

QString SecurityRowBudget::summary(int unrecorded)
{
    return QStringLiteral("另有 %1 个来源未记录").arg(unrecorded);
}

QString SecurityRowBudget::source(const QString& address, const QString& machine)
{
    return machine.isEmpty() ? QStringLiteral("来源 %1（未核实，可能伪造）").arg(address)
                             : QStringLiteral("来源 %1（%2 的地址；未核实，可能伪造）").arg(address, machine);
}
