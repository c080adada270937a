#pragma once

#include "CStuInfo.h"

#include <QByteArray>
#include <QList>
#include <QString>

// The machine list as a CSV file for spreadsheet programs: a header row, then
// host name, IP, MAC, group and state of each machine, in UTF-8 with a byte
// order mark (without one, spreadsheet programs read the Chinese as the
// local code page) and CRLF line ends.
namespace MachineListCsv {

QByteArray encode(const QList<CStuInfo_PTR>& machines);
// Replaces `path` whole or not at all; false, with the reason in *error,
// when the file could not be written.
bool write(const QString& path, const QList<CStuInfo_PTR>& machines, QString* error);

} // namespace MachineListCsv
