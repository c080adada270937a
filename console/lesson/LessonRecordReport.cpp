#include "lesson/LessonRecordReport.h"

#include "core/NaturalOrder.h"
#include "model/MacAddress.h"
#include "storage/EventLogStore.h"
#include "storage/MachineListCsv.h"

#include <QDateTime>
#include <QHash>
#include <QMap>
#include <QPageLayout>
#include <QPageSize>
#include <QPdfWriter>
#include <QSaveFile>
#include <QTextDocument>

#include <algorithm>

namespace LessonRecordReport {

namespace {

QString stamp(qint64 ms)
{
    return QDateTime::fromMSecsSinceEpoch(ms).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

QString clock(qint64 ms)
{
    return QDateTime::fromMSecsSinceEpoch(ms).toString(QStringLiteral("HH:mm:ss"));
}

QString seatText(const QPoint& seat)
{
    return seat.x() < 0 ? QString() : QStringLiteral("%1排%2座").arg(seat.y() + 1).arg(seat.x() + 1);
}

QString absenceNote(const LessonRecord::Absence& absence)
{
    return QStringLiteral("%1 离线，%2，共 %3%4")
        .arg(clock(absence.from_ms),
            absence.back ? QStringLiteral("%1 回来").arg(clock(absence.to_ms)) : QStringLiteral("结束时仍未回来"),
            LessonRecord::durationText(absence.durationMs()),
            absence.locked ? QStringLiteral("（锁定中断开）") : QString());
}

// Every machine of the room, as at the start with its state at the end.
struct Seat
{
    LessonRecord::Machine machine;
    bool at_start = false;
    bool at_end = false;
    int absences = 0;
    bool locked_absence = false;
};

QList<Seat> seatsOf(const LessonRecord& record, const QList<LessonRecord::Absence>& absences)
{
    QList<Seat> seats;
    QHash<quint64, int> index;
    for (const LessonRecord::Machine& machine : record.at_start) {
        index.insert(machine.mac, seats.size());
        seats << Seat { machine, machine.online, false, 0, false };
    }
    for (const LessonRecord::Machine& machine : record.at_end) {
        auto it = index.constFind(machine.mac);
        if (it == index.cend()) {
            it = index.insert(machine.mac, seats.size());
            seats << Seat { machine, false, false, 0, false };
        }
        seats[it.value()].at_end = machine.online;
    }
    for (const LessonRecord::Absence& absence : absences) {
        const auto it = index.constFind(absence.mac);
        if (it == index.cend())
            continue;
        ++seats[it.value()].absences;
        seats[it.value()].locked_absence = seats[it.value()].locked_absence || absence.locked;
    }
    return seats;
}

QString escaped(const QString& text)
{
    return text.toHtmlEscaped();
}

} // namespace

QString kindName(int kind)
{
    switch (kind) {
    case LessonRecord::LockChange:
        return QStringLiteral("锁定");
    case LessonRecord::Marker:
        return QStringLiteral("记录");
    default:
        return EventLogStore::kindName(kind);
    }
}

QString fileBaseName(const LessonRecord& record)
{
    QString room = record.room;
    // A room's name may hold what no file name may.
    for (QChar& c : room)
        if (QStringLiteral("\\/:*?\"<>|").contains(c) || c.unicode() < 0x20)
            c = QLatin1Char('_');
    return QStringLiteral("课堂记录_%1_%2")
        .arg(room, QDateTime::fromMSecsSinceEpoch(record.start_ms).toString(QStringLiteral("yyyyMMdd_HHmm")));
}

QString html(const LessonRecord& record, qint64 nowMs)
{
    const QList<LessonRecord::Absence> absences = record.absences(EventLogStore::LockedOfflinePrefix, nowMs);
    const QList<Seat> seats = seatsOf(record, absences);
    const qint64 end = record.isOpen() ? nowMs : record.end_ms;
    int locked = 0, stillAway = 0;
    for (const LessonRecord::Absence& absence : absences) {
        locked += absence.locked ? 1 : 0;
        stillAway += absence.back ? 0 : 1;
    }

    QString out;
    out.reserve(256 * (record.events.size() + seats.size() + absences.size()) + 4096);
    out += QStringLiteral("<html><head><meta charset=\"utf-8\"><style>"
                          "body{font-size:9pt} h2{font-size:14pt} h3{font-size:11pt;margin-top:12px}"
                          "td,th{padding:2px 4px} th{background:#e8e8e8;text-align:left}"
                          ".off{color:#b11905} .on{color:#055d13} .lk{color:#b11905;font-weight:bold}"
                          "</style></head><body>");
    out += QStringLiteral("<h2>课堂记录：%1</h2>").arg(escaped(record.room));
    out += QStringLiteral("<p>开始 %1　结束 %2　时长 %3<br>来源 %4%5</p>")
               .arg(stamp(record.start_ms),
                   record.isOpen() ? QStringLiteral("（记录中）") : stamp(record.end_ms),
                   LessonRecord::durationText(end - record.start_ms), LessonRecord::originName(record.origin),
                   record.title.isEmpty() ? QString() : QStringLiteral("（%1）").arg(escaped(record.title)));
    out += QStringLiteral("<p>开始时在线 %1 / %2 台，结束时在线 %3 / %4 台；离线 %5 次，其中锁定中断开 %6 次；"
                          "结束时仍未回来 %7 台</p>")
               .arg(LessonRecord::onlineCount(record.at_start))
               .arg(record.at_start.size())
               .arg(LessonRecord::onlineCount(record.at_end))
               .arg(record.isOpen() ? record.at_start.size() : record.at_end.size())
               .arg(absences.size())
               .arg(locked)
               .arg(stillAway);

    // The room by seat: a cell a machine, rows and columns as in the plan.
    out += QStringLiteral("<h3>机位（开始 / 结束）</h3>");
    QMap<int, QMap<int, int>> grid; // row, column, index into seats
    QList<int> unseated;
    int columns = 0;
    for (int i = 0; i < seats.size(); ++i) {
        const QPoint seat = seats.at(i).machine.seat;
        if (seat.x() < 0 || seat.y() < 0 || seat.x() > 64 || grid[seat.y()].contains(seat.x())) {
            unseated << i;
            continue;
        }
        grid[seat.y()].insert(seat.x(), i);
        columns = std::max(columns, seat.x() + 1);
    }
    const auto cell = [&](const Seat& seat) {
        const QString state = QStringLiteral("<span class=\"%1\">%2</span> / <span class=\"%3\">%4</span>")
                                  .arg(seat.at_start ? QStringLiteral("on") : QStringLiteral("off"),
                                      seat.at_start ? QStringLiteral("在线") : QStringLiteral("断开"),
                                      seat.at_end ? QStringLiteral("on") : QStringLiteral("off"),
                                      seat.at_end ? QStringLiteral("在线") : QStringLiteral("断开"));
        const QString away = seat.absences == 0 ? QString()
            : QStringLiteral("<br><span class=\"%1\">离线 %2 次%3</span>")
                  .arg(seat.locked_absence ? QStringLiteral("lk") : QStringLiteral("off"))
                  .arg(seat.absences)
                  .arg(seat.locked_absence ? QStringLiteral("（锁定中）") : QString());
        return QStringLiteral("<b>%1</b><br>%2%3").arg(escaped(seat.machine.name), state, away);
    };
    if (!grid.isEmpty()) {
        out += QStringLiteral("<table border=\"1\" cellspacing=\"0\">");
        for (auto row = grid.cbegin(); row != grid.cend(); ++row) {
            out += QStringLiteral("<tr>");
            for (int column = 0; column < columns; ++column) {
                const auto it = row->constFind(column);
                out += it == row->cend() ? QStringLiteral("<td></td>")
                                         : QStringLiteral("<td>%1</td>").arg(cell(seats.at(it.value())));
            }
            out += QStringLiteral("</tr>");
        }
        out += QStringLiteral("</table>");
    }
    if (!unseated.isEmpty()) {
        std::sort(unseated.begin(), unseated.end(), [&seats](int a, int b) {
            return NaturalOrder::less(seats.at(a).machine.name, seats.at(b).machine.name);
        });
        out += QStringLiteral("<p>无机位：");
        for (int i : std::as_const(unseated))
            out += QStringLiteral("%1 (%2)　").arg(escaped(seats.at(i).machine.name),
                seats.at(i).at_end ? QStringLiteral("在线") : QStringLiteral("断开"));
        out += QStringLiteral("</p>");
    }

    out += QStringLiteral("<h3>离线记录</h3>");
    if (absences.isEmpty()) {
        out += QStringLiteral("<p>无</p>");
    } else {
        out += QStringLiteral("<table border=\"1\" cellspacing=\"0\"><tr><th>机器</th><th>离线</th><th>回来</th>"
                              "<th>时长</th><th>锁定中</th></tr>");
        for (const LessonRecord::Absence& absence : absences)
            out += QStringLiteral("<tr><td>%1</td><td>%2</td><td>%3</td><td>%4</td><td%5>%6</td></tr>")
                       .arg(escaped(absence.machine), clock(absence.from_ms),
                           absence.back ? clock(absence.to_ms) : QStringLiteral("未回来"),
                           LessonRecord::durationText(absence.durationMs()),
                           absence.locked ? QStringLiteral(" class=\"lk\"") : QString(),
                           absence.locked ? QStringLiteral("是") : QStringLiteral("否"));
        out += QStringLiteral("</table>");
    }

    out += QStringLiteral("<h3>时间线</h3><table border=\"1\" cellspacing=\"0\"><tr><th>时间</th><th>类别</th>"
                          "<th>机器</th><th>详情</th></tr>");
    out += QStringLiteral("<tr><td>%1</td><td>记录</td><td></td><td>开始记录</td></tr>").arg(clock(record.start_ms));
    for (const LessonRecord::Event& event : record.events) {
        const bool lockedOff = event.kind == LessonRecord::Offline
            && event.detail.startsWith(EventLogStore::LockedOfflinePrefix);
        out += QStringLiteral("<tr><td>%1</td><td>%2</td><td>%3</td><td%4>%5</td></tr>")
                   .arg(clock(event.at_ms), kindName(event.kind), escaped(event.machine),
                       lockedOff ? QStringLiteral(" class=\"lk\"") : QString(), escaped(event.detail));
    }
    if (!record.isOpen())
        out += QStringLiteral("<tr><td>%1</td><td>记录</td><td></td><td>结束记录</td></tr>").arg(clock(record.end_ms));
    out += QStringLiteral("</table></body></html>");
    return out;
}

QByteArray csv(const LessonRecord& record, qint64 nowMs)
{
    const QList<LessonRecord::Absence> absences = record.absences(EventLogStore::LockedOfflinePrefix, nowMs);
    QList<QStringList> rows;
    rows << QStringList { QStringLiteral("记录"), stamp(record.start_ms), record.room, QString(), QString(),
        QStringLiteral("%1 至 %2，来源 %3%4")
            .arg(stamp(record.start_ms), record.isOpen() ? QStringLiteral("（记录中）") : stamp(record.end_ms),
                LessonRecord::originName(record.origin),
                record.title.isEmpty() ? QString() : QStringLiteral("（%1）").arg(record.title)) };
    const auto machines = [&rows](const QString& part, qint64 at, const QList<LessonRecord::Machine>& list) {
        for (const LessonRecord::Machine& machine : list)
            rows << QStringList { part, stamp(at), machine.name, MacAddress::toDisplay(machine.mac),
                seatText(machine.seat), machine.online ? QStringLiteral("在线") : QStringLiteral("断开") };
    };
    machines(QStringLiteral("开始时"), record.start_ms, record.at_start);
    if (!record.isOpen())
        machines(QStringLiteral("结束时"), record.end_ms, record.at_end);
    for (const LessonRecord::Absence& absence : absences)
        rows << QStringList { QStringLiteral("离线记录"), stamp(absence.from_ms), absence.machine,
            MacAddress::toDisplay(absence.mac), QString(), absenceNote(absence) };
    for (const LessonRecord::Event& event : record.events)
        rows << QStringList { kindName(event.kind), stamp(event.at_ms), event.machine,
            event.mac != 0 ? MacAddress::toDisplay(event.mac) : QString(), QString(), event.detail };
    return MachineListCsv::encodeTable({ QStringLiteral("类别"), QStringLiteral("时间"), QStringLiteral("机器"),
                                           QStringLiteral("MAC地址"), QStringLiteral("机位"), QStringLiteral("详情") },
        rows);
}

bool writePdf(const LessonRecord& record, qint64 nowMs, const QString& path, QString* error)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        if (error)
            *error = file.errorString();
        return false;
    }
    {
        QPdfWriter writer(&file);
        writer.setTitle(QStringLiteral("课堂记录：%1").arg(record.room));
        writer.setCreator(QStringLiteral("机房控制系统教师端"));
        writer.setPageSize(QPageSize(QPageSize::A4));
        writer.setPageMargins(QMarginsF(15, 15, 15, 15), QPageLayout::Millimeter);
        writer.setResolution(300);
        QTextDocument document;
        document.setHtml(html(record, nowMs));
        document.print(&writer);
    }
    if (!file.commit()) {
        if (error)
            *error = file.errorString();
        return false;
    }
    return true;
}

} // namespace LessonRecordReport
