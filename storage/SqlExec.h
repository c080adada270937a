#pragma once

#include <QDebug>
#include <QSqlError>
#include <QSqlQuery>
#include <QString>

// Runs a prepared statement of the console's own tables; a failure goes to
// the debug output with `what` (table and step) in front of the reason.
inline bool execLogged(QSqlQuery& query, const char* what)
{
    if (query.exec())
        return true;
    qDebug().noquote() << QStringLiteral("%1: %2").arg(QLatin1String(what), query.lastError().text());
    return false;
}
