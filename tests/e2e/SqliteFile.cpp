#include "SqliteFile.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QVariant>
#include <atomic>

namespace {

// One connection per call, gone before the call returns.
QString connectionName()
{
    static std::atomic_int counter { 0 };
    return QStringLiteral("e2e-sqlite-%1").arg(++counter);
}

} // namespace

namespace SqliteFile {

bool exec(const QString& path, const QStringList& statements, QString* error)
{
    const QString name = connectionName();
    bool ok = false;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(path);
        ok = db.open();
        QString why = db.lastError().text();
        QSqlQuery query(db);
        for (const QString& statement : statements) {
            if (!ok)
                break;
            ok = query.exec(statement);
            if (!ok)
                why = statement + QLatin1Char(' ') + query.lastError().text();
        }
        if (!ok && error)
            *error = why;
        query.finish();
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
    return ok;
}

QList<QStringList> rows(const QString& path, const QString& select, QString* error)
{
    const QString name = connectionName();
    QList<QStringList> result;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(path);
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
        QSqlQuery query(db);
        if (!db.open() || !query.exec(select)) {
            if (error)
                *error = db.lastError().text() + query.lastError().text();
        }
        while (query.next()) {
            QStringList row;
            for (int i = 0; i < query.record().count(); ++i)
                row << query.value(i).toString();
            result << row;
        }
        query.finish();
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
    return result;
}

} // namespace SqliteFile
