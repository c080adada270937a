#pragma once

#include "model/CStuInfo.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

// The machine list as a CSV file for spreadsheet programs: a header row, then
// host name, IP, MAC, group and state of each machine, in UTF-8 with a byte
// order mark (without one, spreadsheet programs read the Chinese as the
// local code page) and CRLF line ends.
namespace MachineListCsv {

// One machine of a list read back.
struct Entry
{
    int line = 0;
    QString hostname;
    QString ip;
    quint64 mac = 0;
    QString group; // empty: no group
};

QByteArray encode(const QList<CStuInfo_PTR>& machines);
// Any other table in the same form (the event log): a header row, then the rows.
QByteArray encodeTable(const QStringList& header, const QList<QStringList>& rows);
// Replaces `path` whole or not at all with `csv`.
bool writeBytes(const QString& path, const QByteArray& csv, QString* error);
// Replaces `path` whole or not at all; false, with the reason in *error,
// when the file could not be written.
bool write(const QString& path, const QList<CStuInfo_PTR>& machines, QString* error);
// Reads what encode writes, or a spreadsheet program's save of it: with or
// without the byte order mark, CRLF or LF, the header row optional and the
// state column ignored. Rows that cannot be a machine (no valid MAC, a bad
// IP, a reserved group name, a MAC listed twice) are left out, each with a
// line in *refused.
QList<Entry> decode(const QByteArray& csv, QStringList* refused);

} // namespace MachineListCsv
