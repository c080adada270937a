#include "storage/TimedLockStore.h"

#include "storage/SqlExec.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

bool TimedLockStore::open(const QSqlDatabase& connection)
{
    connection_name = connection.connectionName();
    usable = false;
    const QSqlDatabase db = database();
    if (!db.isValid() || !db.isOpen())
        return false;
    QSqlQuery create(db);
    usable = create.prepare(QStringLiteral("CREATE TABLE IF NOT EXISTS tb_timed_locks(group_name text primary key not "
                                           "null,kind int not null,end_utc bigint not null);"))
        && execLogged(create, "tb_timed_locks create");
    return usable;
}

QList<TimedLockStore::Entry> TimedLockStore::load() const
{
    QList<Entry> entries;
    if (!usable)
        return entries;
    QSqlQuery query(database());
    if (!query.prepare(QStringLiteral("SELECT group_name,kind,end_utc FROM tb_timed_locks;"))
        || !execLogged(query, "tb_timed_locks load"))
        return entries;
    while (query.next())
        entries << Entry { query.value(0).toString(), query.value(1).toInt(), query.value(2).toLongLong() };
    return entries;
}

bool TimedLockStore::put(const Entry& entry)
{
    if (!usable)
        return false;
    QSqlQuery query(database());
    if (!query.prepare(
            QStringLiteral("INSERT OR REPLACE INTO tb_timed_locks (group_name,kind,end_utc) values(?,?,?);")))
        return false;
    query.addBindValue(entry.page);
    query.addBindValue(entry.kind);
    query.addBindValue(entry.end_ms);
    return execLogged(query, "tb_timed_locks put");
}

bool TimedLockStore::remove(const QString& page)
{
    if (!usable)
        return false;
    QSqlQuery query(database());
    if (!query.prepare(QStringLiteral("DELETE FROM tb_timed_locks WHERE group_name=?;")))
        return false;
    query.addBindValue(page);
    return execLogged(query, "tb_timed_locks remove");
}

bool TimedLockStore::rename(const QString& from, const QString& to)
{
    if (!usable)
        return false;
    // One statement: a stop half-way leaves the lock under one name or the other.
    QSqlQuery query(database());
    if (!query.prepare(QStringLiteral("UPDATE OR REPLACE tb_timed_locks SET group_name=? WHERE group_name=?;")))
        return false;
    query.addBindValue(to);
    query.addBindValue(from);
    return execLogged(query, "tb_timed_locks rename");
}

void TimedLockStore::close()
{
    usable = false;
    connection_name.clear();
}

QSqlDatabase TimedLockStore::database() const
{
    return QSqlDatabase::database(connection_name, false);
}
