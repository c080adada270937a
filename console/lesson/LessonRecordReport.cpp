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
#include <QTextCursor>
#include <QTextDocument>
#include <QTextTable>

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

// A field on one line of a list: a tab or a line break of its own would
// break the columns or start a line.
QString oneLine(QString text)
{
    for (QChar& c : text)
        if (c == QLatin1Char('\t') || c == QLatin1Char('\n') || c == QLatin1Char('\r') || c == QChar::ParagraphSeparator
            || c == QChar::LineSeparator)
            c = QLatin1Char(' ');
    return text;
}

// The lines of a list inserted at once (a block each), then the marked
// parts set apart: thousands of inserts one by one took most of the time.
class Lines
{
public:
    void add(const QString& lead, const QString& tail, bool marked = false)
    {
        if (!text.isEmpty())
            text += QChar::ParagraphSeparator;
        text += lead;
        if (marked)
            spans.append({ int(text.size()), int(tail.size()) });
        text += tail;
    }
    void insert(QTextCursor& cursor, const QTextBlockFormat& block, const QTextCharFormat& plain,
        const QTextCharFormat& mark) const
    {
        cursor.insertBlock(block, plain);
        const int base = cursor.position();
        cursor.insertText(text, plain);
        QTextCursor part(cursor.document());
        for (const auto& span : spans) {
            part.setPosition(base + span.first);
            part.setPosition(base + span.first + span.second, QTextCursor::KeepAnchor);
            part.setCharFormat(mark);
        }
    }

private:
    QString text;
    QList<QPair<int, int>> spans;
};

// Wider rooms are listed by name under the plan.
constexpr int MaxSeatColumns = 40;
// Wider than this, the plan's cells are set small (a PDF page holds about 20).
constexpr int CompactColumns = 10;

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

void fill(QTextDocument& document, const LessonRecord& record, qint64 nowMs)
{
    const QList<LessonRecord::Absence> absences = record.absences(EventLogStore::LockedOfflinePrefix, nowMs);
    const QList<Seat> seats = seatsOf(record, absences);
    const qint64 end = record.isOpen() ? nowMs : record.end_ms;
    int locked = 0, stillAway = 0;
    for (const LessonRecord::Absence& absence : absences) {
        locked += absence.locked ? 1 : 0;
        stillAway += absence.back ? 0 : 1;
    }

    document.clear();
    // Thousands of inserts: no undo steps, and one change for the layout.
    document.setUndoRedoEnabled(false);
    QFont base = document.defaultFont();
    base.setPointSizeF(9);
    document.setDefaultFont(base);
    QTextCursor cursor(&document);
    cursor.beginEditBlock();
    QTextCharFormat plain;
    QTextCharFormat bold;
    bold.setFontWeight(QFont::Bold);
    QTextCharFormat title = bold;
    title.setFontPointSize(14);
    QTextCharFormat heading = bold;
    heading.setFontPointSize(11);
    QTextCharFormat on;
    on.setForeground(QColor(0x05, 0x5d, 0x13));
    QTextCharFormat off;
    off.setForeground(QColor(0xb1, 0x19, 0x05));
    QTextCharFormat lost = off;
    lost.setFontWeight(QFont::Bold);

    QTextBlockFormat block;
    QTextBlockFormat spaced;
    spaced.setTopMargin(10);
    spaced.setBottomMargin(4);
    // Columns of the lists: tab stops, which lay out far faster than a table
    // of thousands of rows.
    const auto columns = [](std::initializer_list<double> stops) {
        QTextBlockFormat format;
        QList<QTextOption::Tab> tabs;
        for (double stop : stops)
            tabs << QTextOption::Tab(stop, QTextOption::LeftTab);
        format.setTabPositions(tabs);
        return format;
    };

    cursor.setBlockFormat(block);
    cursor.insertText(QStringLiteral("课堂记录：%1").arg(record.room), title);
    cursor.insertBlock(block, plain);
    cursor.insertText(QStringLiteral("开始 %1　结束 %2　时长 %3")
                          .arg(stamp(record.start_ms),
                              record.isOpen() ? QStringLiteral("（记录中）") : stamp(record.end_ms),
                              LessonRecord::durationText(end - record.start_ms)));
    cursor.insertBlock(block, plain);
    cursor.insertText(QStringLiteral("来源 %1%2").arg(LessonRecord::originName(record.origin),
        record.title.isEmpty() ? QString() : QStringLiteral("（%1）").arg(record.title)));
    cursor.insertBlock(block, plain);
    cursor.insertText(QStringLiteral("开始时在线 %1 / %2 台，结束时在线 %3 / %4 台；离线 %5 次，其中锁定中断开 %6 次；"
                                     "结束时仍未回来 %7 台")
                          .arg(LessonRecord::onlineCount(record.at_start))
                          .arg(record.at_start.size())
                          .arg(LessonRecord::onlineCount(record.at_end))
                          .arg(record.isOpen() ? record.at_start.size() : record.at_end.size())
                          .arg(absences.size())
                          .arg(locked)
                          .arg(stillAway));

    // The room by seat: a cell a machine, rows and columns as in the plan.
    cursor.insertBlock(spaced, heading);
    cursor.insertText(QStringLiteral("机位（开始 / 结束）"));
    QMap<int, QMap<int, int>> grid; // row, column, index into seats
    QList<int> unseated;
    int width = 0;
    for (int i = 0; i < seats.size(); ++i) {
        const QPoint seat = seats.at(i).machine.seat;
        if (seat.x() < 0 || seat.y() < 0 || seat.x() >= MaxSeatColumns || grid[seat.y()].contains(seat.x())) {
            unseated << i;
            continue;
        }
        grid[seat.y()].insert(seat.x(), i);
        width = std::max(width, seat.x() + 1);
    }
    for (auto it = grid.begin(); it != grid.end();)
        it = it->isEmpty() ? grid.erase(it) : std::next(it);
    if (!grid.isEmpty()) {
        QTextTableFormat format;
        format.setBorder(0.5);
        format.setCellSpacing(0);
        format.setCellPadding(2);
        format.setBorderStyle(QTextFrameFormat::BorderStyle_Solid);
        if (width > CompactColumns)
            format.setCellPadding(1);
        QTextTable* table = cursor.insertTable(grid.size(), width, format);
        // A wide room in small type, its notes short; the legend below says
        // what the bold red means.
        const bool compact = width > CompactColumns;
        const auto sized = [compact](QTextCharFormat format) {
            if (compact)
                format.setFontPointSize(6.5);
            return format;
        };
        const QTextCharFormat cellName = sized(bold), cellPlain = sized(plain), cellOn = sized(on),
                              cellOff = sized(off), cellLost = sized(lost);
        int row = 0;
        for (auto line = grid.cbegin(); line != grid.cend(); ++line, ++row)
            for (auto it = line->cbegin(); it != line->cend(); ++it) {
                const Seat& seat = seats.at(it.value());
                QTextCursor in = table->cellAt(row, it.key()).firstCursorPosition();
                in.insertText(seat.machine.name, cellName);
                in.insertBlock(block, cellPlain);
                in.insertText(seat.at_start ? QStringLiteral("在线") : QStringLiteral("断开"), seat.at_start ? cellOn : cellOff);
                in.insertText(compact ? QStringLiteral("/") : QStringLiteral(" / "), cellPlain);
                in.insertText(seat.at_end ? QStringLiteral("在线") : QStringLiteral("断开"), seat.at_end ? cellOn : cellOff);
                if (seat.absences > 0) {
                    in.insertBlock(block, cellPlain);
                    in.insertText(compact ? QStringLiteral("离线%1次").arg(seat.absences)
                                          : QStringLiteral("离线 %1 次%2")
                                                .arg(seat.absences)
                                                .arg(seat.locked_absence ? QStringLiteral("（锁定中）") : QString()),
                        seat.locked_absence ? cellLost : cellOff);
                }
            }
        cursor.movePosition(QTextCursor::End);
        if (compact) {
            cursor.insertBlock(block, plain);
            cursor.insertText(QStringLiteral("开始/结束时的状态；"), plain);
            cursor.insertText(QStringLiteral("红色粗体"), lost);
            cursor.insertText(QStringLiteral("：曾在锁定中断开"), plain);
        }
        cursor.movePosition(QTextCursor::End);
    }
    if (!unseated.isEmpty()) {
        std::sort(unseated.begin(), unseated.end(), [&seats](int a, int b) {
            return NaturalOrder::less(seats.at(a).machine.name, seats.at(b).machine.name);
        });
        QStringList names;
        for (int i : std::as_const(unseated))
            names << QStringLiteral("%1（%2）").arg(seats.at(i).machine.name,
                seats.at(i).at_end ? QStringLiteral("在线") : QStringLiteral("断开"));
        cursor.insertBlock(block, plain);
        cursor.insertText(QStringLiteral("无机位：") + names.join(QStringLiteral("　")));
    }

    cursor.insertBlock(spaced, heading);
    cursor.insertText(QStringLiteral("离线记录"));
    const QTextBlockFormat awayColumns = columns({ 160, 240, 320, 440 });
    cursor.insertBlock(awayColumns, bold);
    cursor.insertText(QStringLiteral("机器\t离线\t回来\t时长\t锁定中"));
    if (absences.isEmpty()) {
        cursor.insertBlock(block, plain);
        cursor.insertText(QStringLiteral("无"));
    }
    Lines away;
    for (const LessonRecord::Absence& absence : absences) {
        away.add(QStringLiteral("%1\t%2\t%3\t%4\t")
                     .arg(oneLine(absence.machine), clock(absence.from_ms),
                         absence.back ? clock(absence.to_ms) : QStringLiteral("未回来"),
                         LessonRecord::durationText(absence.durationMs())),
            absence.locked ? QStringLiteral("是（锁定中断开）") : QStringLiteral("否"), absence.locked);
    }
    if (!absences.isEmpty())
        away.insert(cursor, awayColumns, plain, lost);

    cursor.insertBlock(spaced, heading);
    cursor.insertText(QStringLiteral("时间线"));
    const QTextBlockFormat lineColumns = columns({ 70, 120, 240 });
    cursor.insertBlock(lineColumns, bold);
    cursor.insertText(QStringLiteral("时间\t类别\t机器\t详情"));
    Lines timeline;
    timeline.add(QStringLiteral("%1\t记录\t\t").arg(clock(record.start_ms)), QStringLiteral("开始记录"));
    for (const LessonRecord::Event& event : record.events) {
        const bool lockedOff
            = event.kind == LessonRecord::Offline && event.detail.startsWith(EventLogStore::LockedOfflinePrefix);
        timeline.add(QStringLiteral("%1\t%2\t%3\t").arg(clock(event.at_ms), kindName(event.kind), oneLine(event.machine)),
            oneLine(event.detail), lockedOff);
    }
    if (!record.isOpen())
        timeline.add(QStringLiteral("%1\t记录\t\t").arg(clock(record.end_ms)), QStringLiteral("结束记录"));
    timeline.insert(cursor, lineColumns, plain, lost);
    cursor.endEditBlock();
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
        // A wide room's plan keeps its names whole across the page.
        int columns = 0;
        for (const LessonRecord::Machine& machine : record.at_start)
            columns = std::max(columns, machine.seat.x() + 1);
        if (columns > CompactColumns)
            writer.setPageOrientation(QPageLayout::Landscape);
        writer.setPageMargins(QMarginsF(10, 10, 10, 10), QPageLayout::Millimeter);
        writer.setResolution(300);
        QTextDocument document;
        fill(document, record, nowMs);
        // Paged to the writer's own margins (in the document's 96-dpi units);
        // without a page size print() adds 2 cm more on every side.
        document.setPageSize(writer.pageLayout().paintRect(QPageLayout::Inch).size() * 96);
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
