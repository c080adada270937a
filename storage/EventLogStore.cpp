#include "EventLogStore.h"

#include "SqlExec.h"

#include <QDateTime>
#include <QSqlError>
#include <QTimer>
#include <QVariant>
#include <QVariantList>
#include <algorithm>
#include <utility>

namespace {

bool runStatement(const QSqlDatabase& db, const QString& statement, const char* what)
{
    QSqlQuery query(db);
    return query.prepare(statement) && execLogged(query, what);
}

} // namespace

const QString EventLogStore::LockedOfflinePrefix = QStringLiteral("锁定中断开");

EventLogStore::EventLogStore(QObject* parent)
    : QObject(parent)
    , clock([] { return QDateTime::currentMSecsSinceEpoch(); })
    , flush_timer(new QTimer(this))
{
    flush_timer->setSingleShot(true);
    flush_timer->setInterval(FlushDelayMs);
    connect(flush_timer, &QTimer::timeout, this, &EventLogStore::flush);
}

void EventLogStore::setClock(Clock clock_)
{
    clock = std::move(clock_);
}

qint64 EventLogStore::now() const
{
    return clock();
}

void EventLogStore::setBounds(int maxRows, qint64 maxAgeMs)
{
    max_rows = maxRows;
    max_age_ms = maxAgeMs;
}

bool EventLogStore::open(const QSqlDatabase& connection)
{
    connection_name = connection.connectionName();
    const QSqlDatabase db = database();
    usable = db.isValid() && db.isOpen()
        && runStatement(db,
            QStringLiteral("CREATE TABLE IF NOT EXISTS tb_event_log(id integer primary key,at_utc bigint not "
                           "null,kind int not null,page text,ullmac bigint,machine text,detail text);"),
            "tb_event_log create")
        && runStatement(db, QStringLiteral("CREATE INDEX IF NOT EXISTS ix_event_log_at ON tb_event_log(at_utc);"),
            "tb_event_log index");
    if (usable)
        prune();
    return usable;
}

void EventLogStore::close()
{
    flush();
    flush_timer->stop();
    pending.clear();
    usable = false;
    // Readers let go of their rows before the connection goes; after the
    // last write, whose sg_written would have them read again.
    emit sg_closing();
    connection_name.clear();
}

QSqlDatabase EventLogStore::database() const
{
    return QSqlDatabase::database(connection_name, false);
}

QString EventLogStore::kindName(int kind)
{
    switch (kind) {
    case Offline:
        return QStringLiteral("离线");
    case Online:
        return QStringLiteral("上线");
    case Registered:
        return QStringLiteral("注册");
    case Command:
        return QStringLiteral("命令");
    case Group:
        return QStringLiteral("分组");
    case Security:
        return QStringLiteral("安全");
    case Timetable:
        return QStringLiteral("课表");
    case Notice:
        return QStringLiteral("提示");
    default:
        return QString();
    }
}

void EventLogStore::add(int kind, const QString& page, quint64 mac, const QString& machine, const QString& detail)
{
    if (usable)
        enqueue(Event { now(), kind, page, mac, machine, detail, 0 });
}

qint64 EventLogStore::addCounted(
    int kind, const QString& page, quint64 mac, const QString& machine, const QString& detail)
{
    if (!usable)
        return 0;
    const qint64 handle = ++next_handle;
    enqueue(Event { now(), kind, page, mac, machine, detail, handle });
    return handle;
}

void EventLogStore::updateDetail(qint64 handle, const QString& detail)
{
    if (!usable || handle <= 0)
        return;
    for (Event& event : pending)
        if (event.handle == handle) {
            event.detail = detail;
            return;
        }
    if (!counted_ids.contains(handle))
        return;
    counted_updates.insert(handle, detail);
    if (!flush_timer->isActive())
        flush_timer->start();
}

void EventLogStore::enqueue(Event event)
{
    pending << std::move(event);
    if (pending.size() > MaxPending)
        pending.erase(pending.begin(), pending.begin() + (pending.size() - MaxPending));
    if (!flush_timer->isActive())
        flush_timer->start();
}

bool EventLogStore::flush()
{
    flush_timer->stop();
    if (!usable || (pending.isEmpty() && counted_updates.isEmpty()))
        return true;
    QVariantList at, kind, page, mac, machine, detail;
    for (const Event& event : std::as_const(pending)) {
        at << event.at_ms;
        kind << event.kind;
        page << event.page;
        mac << event.mac;
        machine << event.machine;
        detail << event.detail;
    }
    QSqlDatabase db = database();
    bool written = db.transaction();
    if (written) {
        QSqlQuery insert(db);
        written = insert.prepare(QStringLiteral("INSERT INTO tb_event_log (at_utc,kind,page,ullmac,machine,detail) "
                                                "values(?,?,?,?,?,?);"));
        if (written) {
            for (const QVariantList& column : { at, kind, page, mac, machine, detail })
                insert.addBindValue(column);
            written = pending.isEmpty() || insert.execBatch();
            if (!written)
                qDebug().noquote() << QStringLiteral("tb_event_log insert: %1").arg(insert.lastError().text());
        }
        written = written && noteCountedIds() && writeCountedUpdates() && prune() && db.commit();
        if (!written)
            db.rollback();
    }
    if (!written) {
        // Each try may wait out SQLite's busy timeout on the UI thread: a
        // database held elsewhere is tried less and less often.
        retry_ms = std::min(retry_ms == 0 ? FlushDelayMs * 20 : retry_ms * 2, MaxRetryMs);
        flush_timer->start(retry_ms);
        return false;
    }
    retry_ms = 0;
    flush_timer->setInterval(FlushDelayMs);
    pending.clear();
    counted_updates.clear();
    emit sg_written();
    return true;
}

// Rows of one batch take consecutive ids after the largest, so the batch's
// last id places every counted row of it.
bool EventLogStore::noteCountedIds()
{
    bool any = false;
    for (const Event& event : std::as_const(pending))
        any = any || event.handle != 0;
    if (!any)
        return true;
    QSqlQuery last(database());
    if (!last.prepare(QStringLiteral("SELECT max(id) FROM tb_event_log;")) || !execLogged(last, "tb_event_log ids")
        || !last.next())
        return false;
    qint64 id = last.value(0).toLongLong() - pending.size();
    for (const Event& event : std::as_const(pending)) {
        ++id;
        if (event.handle != 0)
            counted_ids.insert(event.handle, id);
    }
    while (counted_ids.size() > MaxCounted)
        counted_ids.erase(counted_ids.begin());
    return true;
}

bool EventLogStore::writeCountedUpdates()
{
    for (auto it = counted_updates.cbegin(); it != counted_updates.cend(); ++it) {
        const auto id = counted_ids.constFind(it.key());
        if (id == counted_ids.cend())
            continue;
        QSqlQuery update(database());
        if (!update.prepare(QStringLiteral("UPDATE tb_event_log SET detail=? WHERE id=?;")))
            return false;
        update.addBindValue(it.value());
        update.addBindValue(id.value());
        if (!execLogged(update, "tb_event_log update"))
            return false;
    }
    return true;
}

bool EventLogStore::prune()
{
    QSqlQuery byAge(database());
    if (!byAge.prepare(QStringLiteral("DELETE FROM tb_event_log WHERE at_utc<?;")))
        return false;
    byAge.addBindValue(now() - max_age_ms);
    if (!execLogged(byAge, "tb_event_log prune"))
        return false;
    // Ids grow with every row, so the newest max_rows are those above this.
    // What a teacher may need as evidence (commands, machines lost while
    // locked, someone else on the network) goes only by age: a flood of
    // machines coming and going cannot push it out.
    QSqlQuery byCount(database());
    if (!byCount.prepare(QStringLiteral("DELETE FROM tb_event_log WHERE id<=(SELECT max(id) FROM tb_event_log)-? "
                                        "AND kind NOT IN (?,?,?) AND NOT (kind=? AND detail LIKE ?);")))
        return false;
    byCount.addBindValue(max_rows);
    byCount.addBindValue(int(Command));
    byCount.addBindValue(int(Security));
    byCount.addBindValue(int(Timetable));
    byCount.addBindValue(int(Offline));
    byCount.addBindValue(LockedOfflinePrefix + QLatin1Char('%'));
    return execLogged(byCount, "tb_event_log prune");
}

QSqlQuery EventLogStore::select(const QString& page, int kind, bool forwardOnly) const
{
    QSqlQuery query(database());
    if (!usable)
        return query;
    query.setForwardOnly(forwardOnly);
    if (query.prepare(QStringLiteral("SELECT at_utc,kind,page,machine,ullmac,detail FROM tb_event_log "
                                     "WHERE (ifnull(?,'')='' OR page=?) AND (?=0 OR kind=?) ORDER BY id DESC;"))) {
        query.addBindValue(page);
        query.addBindValue(page);
        query.addBindValue(kind);
        query.addBindValue(kind);
        execLogged(query, "tb_event_log select");
    }
    return query;
}

QStringList EventLogStore::pages() const
{
    QStringList names;
    QSqlQuery query(database());
    if (usable && query.prepare(QStringLiteral("SELECT DISTINCT page FROM tb_event_log ORDER BY page;"))
        && execLogged(query, "tb_event_log pages"))
        while (query.next())
            names << query.value(0).toString();
    return names;
}

int EventLogStore::rowCount() const
{
    QSqlQuery query(database());
    if (usable && query.prepare(QStringLiteral("SELECT count(*) FROM tb_event_log;"))
        && execLogged(query, "tb_event_log count") && query.next())
        return query.value(0).toInt();
    return 0;
}
