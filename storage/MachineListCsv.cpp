#include "storage/MachineListCsv.h"

#include "model/CStudentGroup.h"
#include "model/MacAddress.h"

#include <QHostAddress>
#include <QSaveFile>
#include <QSet>

namespace {

// First characters a spreadsheet program may take for the start of a formula
// (a tab or carriage return before one too), and the guard's own quote, so
// that a text that itself starts with a quote is told from a guarded one.
const QString FormulaStarts = QStringLiteral("=+-@\t\r'");

// Spreadsheet programs skip white space before a formula too.
bool startsLikeFormula(const QString& text)
{
    for (const QChar c : text) {
        if (FormulaStarts.contains(c))
            return true;
        if (!c.isSpace())
            return false;
    }
    return false;
}

QString field(QString text)
{
    // Host names come from the students' machines: one starting like a
    // formula must stay text when the teacher opens the file.
    if (startsLikeFormula(text))
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

struct Record
{
    int line = 0;
    QStringList fields;
};

// RFC 4180: fields in double quotes may hold commas, doubled quotes and line
// breaks. A quote inside an unquoted field is kept as it stands.
QList<Record> records(const QString& text)
{
    QList<Record> rows;
    Record row;
    QString current;
    bool quoted = false;
    bool atFieldStart = true;
    int line = 1;
    row.line = line;
    auto endField = [&] {
        // The export's guard against formulas is not part of the name; a
        // quote the guard does not explain is.
        if (current.startsWith(QLatin1Char('\'')) && startsLikeFormula(current.mid(1)))
            current.remove(0, 1);
        row.fields << current;
        current.clear();
        atFieldStart = true;
    };
    auto endRow = [&] {
        endField();
        if (row.fields.size() > 1 || !row.fields.first().trimmed().isEmpty())
            rows << row;
        row = Record();
        row.line = line;
    };
    for (int i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (quoted) {
            if (c == QLatin1Char('"')) {
                if (i + 1 < text.size() && text.at(i + 1) == QLatin1Char('"')) {
                    current += c;
                    ++i;
                } else {
                    quoted = false;
                }
            } else {
                if (c == QLatin1Char('\n'))
                    ++line;
                current += c;
            }
        } else if (c == QLatin1Char('"') && atFieldStart) {
            quoted = true;
            atFieldStart = false;
        } else if (c == QLatin1Char(',')) {
            endField();
        } else if (c == QLatin1Char('\r') || c == QLatin1Char('\n')) {
            if (c == QLatin1Char('\r') && i + 1 < text.size() && text.at(i + 1) == QLatin1Char('\n'))
                ++i;
            ++line;
            endRow();
        } else {
            current += c;
            atFieldStart = false;
        }
    }
    if (!current.isEmpty() || !row.fields.isEmpty())
        endRow();
    return rows;
}

} // namespace

QList<MachineListCsv::Entry> MachineListCsv::decode(const QByteArray& csv, QStringList* refused)
{
    QByteArray bytes = csv;
    if (bytes.startsWith("\xEF\xBB\xBF"))
        bytes.remove(0, 3);
    // With its size: a NUL in a row must not end the file there.
    QList<Record> rows = records(QString::fromUtf8(bytes.constData(), bytes.size()));
    if (!rows.isEmpty() && rows.first().fields.first().trimmed() == QStringLiteral("机器名"))
        rows.removeFirst();

    QList<Entry> entries;
    QSet<quint64> seen;
    for (const Record& row : rows) {
        auto refuse = [&](const QString& why) {
            if (refused)
                refused->append(QStringLiteral("第 %1 行：%2").arg(row.line).arg(why));
        };
        if (row.fields.size() < 3) {
            refuse(QStringLiteral("缺少 MAC 地址"));
            continue;
        }
        Entry entry;
        entry.line = row.line;
        // As exported: white space around a name is part of it.
        entry.hostname = row.fields.at(0);
        entry.ip = row.fields.at(1).trimmed();
        if (!MacAddress::fromDisplay(row.fields.at(2), &entry.mac)) {
            refuse(QStringLiteral("MAC 地址“%1”无效").arg(row.fields.at(2)));
            continue;
        }
        if (!entry.ip.isEmpty() && QHostAddress(entry.ip).protocol() != QAbstractSocket::IPv4Protocol) {
            refuse(QStringLiteral("IP 地址“%1”无效").arg(entry.ip));
            continue;
        }
        // Names as the add-group dialog takes them; "未分组" is no group.
        if (row.fields.size() > 3)
            entry.group = CStudentGroup::normalisedName(row.fields.at(3));
        if (entry.group == QStringLiteral("未分组"))
            entry.group.clear();
        if (CStudentGroup::isReservedName(entry.group)) {
            refuse(QStringLiteral("“%1”是系统保留的名称").arg(entry.group));
            continue;
        }
        if (seen.contains(entry.mac)) {
            refuse(QStringLiteral("MAC 地址 %1 重复").arg(MacAddress::toDisplay(entry.mac)));
            continue;
        }
        seen.insert(entry.mac);
        entries << entry;
    }
    return entries;
}

QByteArray MachineListCsv::encodeTable(const QStringList& header, const QList<QStringList>& rows)
{
    QByteArray csv("\xEF\xBB\xBF");
    csv += line(header);
    for (const QStringList& row : rows)
        csv += line(row);
    return csv;
}

QByteArray MachineListCsv::encode(const QList<CStuInfo_PTR>& machines)
{
    QList<QStringList> rows;
    for (const CStuInfo_PTR& machine : machines) {
        if (!machine)
            continue;
        rows << QStringList { machine->hostname, machine->ip, MacAddress::toDisplay(machine->ullmac), machine->group_name,
            machine->online.load() ? QStringLiteral("在线") : QStringLiteral("断开") };
    }
    return encodeTable({ QStringLiteral("机器名"), QStringLiteral("IP地址"), QStringLiteral("MAC地址"),
                           QStringLiteral("分组"), QStringLiteral("状态") },
        rows);
}

bool MachineListCsv::write(const QString& path, const QList<CStuInfo_PTR>& machines, QString* error)
{
    return writeBytes(path, encode(machines), error);
}

bool MachineListCsv::writeBytes(const QString& path, const QByteArray& csv, QString* error)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(csv) != csv.size() || !file.commit()) {
        if (error)
            *error = file.errorString();
        return false;
    }
    return true;
}
