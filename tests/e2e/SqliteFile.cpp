#include "SqliteFile.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QVariant>
#include <atomic>

namespace {

// Runs `use` on a connection of its own, gone before this returns.
template <typename Use>
void withDatabase(const QString& path, Use use)
{
    static std::atomic_int counter { 0 };
    const QString name = QStringLiteral("e2e-sqlite-%1").arg(++counter);
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(path);
        use(db);
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
}

} // namespace

namespace SqliteFile {

bool exec(const QString& path, const QStringList& statements, QString* error)
{
    bool ok = false;
    withDatabase(path, [&](QSqlDatabase& db) {
        ok = db.open();
        QString why = db.lastError().text();
        QSqlQuery query(db);
        for (int i = 0; ok && i < statements.size(); ++i) {
            ok = query.exec(statements.at(i));
            why = statements.at(i) + QLatin1Char(' ') + query.lastError().text();
        }
        if (!ok && error)
            *error = why;
    });
    return ok;
}

QList<QStringList> rows(const QString& path, const QString& select, QString* error)
{
    QList<QStringList> result;
    withDatabase(path, [&](QSqlDatabase& db) {
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
        QSqlQuery query(db);
        if ((!db.open() || !query.exec(select)) && error)
            *error = db.lastError().text() + query.lastError().text();
        while (query.next()) {
            QStringList row;
            for (int i = 0; i < query.record().count(); ++i)
                row << query.value(i).toString();
            result << row;
        }
    });
    return result;
}

} // namespace SqliteFile
