#pragma once

#include "model/LessonRecord.h"

#include <QByteArray>
#include <QString>

class QTextDocument;

// A record as the teacher hands it on: a readable page (the room's machines
// by seat, the absences, the events on a time line) for the window and as a
// PDF drawn with Qt's own QPdfWriter, and the same as CSV for spreadsheet
// programs.
namespace LessonRecordReport {

// "锁定" and "记录" for the record's own kinds, else the log's names.
QString kindName(int kind);
// "课堂记录_二号机房_20261208_0900", for the file choosers.
QString fileBaseName(const LessonRecord& record);
// The readable page; `nowMs` closes what is still away in an open record.
void fill(QTextDocument& document, const LessonRecord& record, qint64 nowMs);
QByteArray csv(const LessonRecord& record, qint64 nowMs);
// Replaces `path` whole or not at all; false with the reason in *error.
bool writePdf(const LessonRecord& record, qint64 nowMs, const QString& path, QString* error);

} // namespace LessonRecordReport
