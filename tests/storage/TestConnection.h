#pragma once

// A connection of the test's own to an SQLite file, beside whatever
// connection the code under test holds: to prepare a file and to read back
// what reached it.

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>
#include <QVariant>

class TestConnection final
{
public:
    explicit TestConnection(const QString& path)
        : name(QStringLiteral("test-connection-%1").arg(++connections))
    {
        db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(path);
        db.open();
    }
    ~TestConnection()
    {
        db.close();
        db = QSqlDatabase();
        QSqlDatabase::removeDatabase(name);
    }
    TestConnection(const TestConnection&) = delete;
    TestConnection& operator=(const TestConnection&) = delete;

    // The error, empty when the statement ran.
    QString exec(const QString& sql)
    {
        QSqlQuery query(db);
        return query.exec(sql) ? QString() : query.lastError().text();
    }

    // The first value of every row, NULL as "<null>".
    QStringList column(const QString& sql)
    {
        QSqlQuery query(db);
        if (!query.exec(sql))
            return { QStringLiteral("<failed: %1>").arg(query.lastError().text()) };
        QStringList values;
        while (query.next())
            values << (query.value(0).isNull() ? QStringLiteral("<null>") : query.value(0).toString());
        return values;
    }

    QSqlDatabase db;

private:
    static inline int connections = 0;
    QString name;
};
