#include "TimedLockStore.h"

#include <QDebug>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

namespace {

bool run(QSqlQuery& query, const char* what)
{
    if (query.exec())
        return true;
    qDebug().noquote() << QStringLiteral("tb_timed_locks %1: %2").arg(QLatin1String(what), query.lastError().text());
    return false;
}

} // namespace

bool TimedLockStore::open(const QSqlDatabase& db_)
{
    db = db_;
    usable = false;
    if (!db.isValid() || !db.isOpen())
        return false;
    QSqlQuery create(db);
    usable = create.prepare(QStringLiteral("CREATE TABLE IF NOT EXISTS tb_timed_locks(group_name text primary key not "
                                           "null,kind int not null,end_utc bigint not null);"))
        && run(create, "create");
    return usable;
}

QList<TimedLockStore::Entry> TimedLockStore::load() const
{
    QList<Entry> entries;
    if (!usable)
        return entries;
    QSqlQuery query(db);
    if (!query.prepare(QStringLiteral("SELECT group_name,kind,end_utc FROM tb_timed_locks;")) || !run(query, "load"))
        return entries;
    while (query.next())
        entries << Entry{query.value(0).toString(), query.value(1).toInt(), query.value(2).toLongLong()};
    return entries;
}

bool TimedLockStore::put(const Entry& entry)
{
    if (!usable)
        return false;
    QSqlQuery query(db);
    if (!query.prepare(QStringLiteral("INSERT OR REPLACE INTO tb_timed_locks (group_name,kind,end_utc) values(?,?,?);")))
        return false;
    query.addBindValue(entry.page);
    query.addBindValue(entry.kind);
    query.addBindValue(entry.end_ms);
    return run(query, "put");
}

bool TimedLockStore::remove(const QString& page)
{
    if (!usable)
        return false;
    QSqlQuery query(db);
    if (!query.prepare(QStringLiteral("DELETE FROM tb_timed_locks WHERE group_name=?;")))
        return false;
    query.addBindValue(page);
    return run(query, "remove");
}
