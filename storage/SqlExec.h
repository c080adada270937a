#pragma once

#include <QDebug>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlDatabase>
#include <QString>
#include <QVariant>
#include <QVariantList>

// Runs a prepared statement of the console's own tables; a failure goes to
// the debug output with `what` (table and step) in front of the reason.
inline bool execLogged(QSqlQuery& query, const char* what)
{
    if (query.exec())
        return true;
    qDebug().noquote() << QStringLiteral("%1: %2").arg(QLatin1String(what), query.lastError().text());
    return false;
}

// Prepares `text` on `db`, binds `values` in order and runs it, as above.
inline bool runLogged(const QSqlDatabase& db, const QString& text, const char* what, const QVariantList& values = {})
{
    QSqlQuery query(db);
    if (!query.prepare(text))
        return false;
    for (const QVariant& value : values)
        query.addBindValue(value);
    return execLogged(query, what);
}
