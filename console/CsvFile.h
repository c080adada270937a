#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// CSV for spreadsheet programs: UTF-8 with a byte order mark (without one,
// spreadsheet programs read the Chinese as the local code page), CRLF line
// ends, RFC 4180 quoting, and texts that would start a formula kept as text.
namespace CsvFile {

// The characters a spreadsheet program takes as the start of a formula.
extern const QString FormulaStarts;

QByteArray byteOrderMark();
QByteArray line(const QStringList& fields);
// Replaces `path` whole or not at all; false, with the reason in *error,
// when the file could not be written.
bool write(const QString& path, const QByteArray& csv, QString* error);

} // namespace CsvFile
