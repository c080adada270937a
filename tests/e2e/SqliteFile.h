#pragma once

#include <QList>
#include <QString>
#include <QStringList>

// Direct access to a console's data.sqlite3, without the console's own
// store: the tests prepare and check the file as another program would.
namespace SqliteFile {

// Runs the statements in order, stopping at the first failure.
bool exec(const QString& path, const QStringList& statements, QString* error);
// Every row of the query, each column as text.
QList<QStringList> rows(const QString& path, const QString& select, QString* error);

} // namespace SqliteFile
