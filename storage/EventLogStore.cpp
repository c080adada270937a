#include "storage/EventLogStore.h"

#include "storage/SqlExec.h"

#include <QDateTime>
#include <QSqlError>
#include <QTimer>
#include <QVariant>
#include <QVariantList>
#include <algorithm>
#include <utility>

namespace {

// The first column of the first row, -1 when the query fails.
qint64 scalar(const QSqlDatabase& db, const QString& text, const char* what, const QVariantList& values = {})
{
    QSqlQuery query(db);
    if (!query.prepare(text))
        return -1;
    for (const QVariant& value : values)
        query.addBindValue(value);
    return execLogged(query, what) && query.next() ? query.value(0).toLongLong() : -1;
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

void EventLogStore::setBounds(int maxRows, qint64 maxAgeMs, int maxSecurityRows)
{
    max_rows = maxRows;
    max_age_ms = maxAgeMs;
    max_security_rows = maxSecurityRows;
}

bool EventLogStore::open(const QSqlDatabase& connection)
{
    connection_name = connection.connectionName();
    const QSqlDatabase db = database();
    usable = db.isValid() && db.isOpen()
        && runLogged(db,
            QStringLiteral("CREATE TABLE IF NOT EXISTS tb_event_log(id integer primary key,at_utc bigint not "
                           "null,kind int not null,page text,ullmac bigint,machine text,detail text);"),
            "tb_event_log create")
        && runLogged(db, QStringLiteral("CREATE INDEX IF NOT EXISTS ix_event_log_at ON tb_event_log(at_utc);"),
            "tb_event_log index")
        // By kind, and within a kind by id: the oldest "安全" rows.
        && runLogged(db, QStringLiteral("CREATE INDEX IF NOT EXISTS ix_event_log_kind ON tb_event_log(kind);"),
            "tb_event_log index");
    security_rows = -1;
    summaries.clear();
    pages_read = false;
    page_names.clear();
    if (usable && prune(0))
        security_rows = next_security_rows;
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
    if (kind == Security && !admitSecurity(page, SecurityRowBudget::Source::New))
        return;
    if (usable)
        enqueue(Event { now(), kind, page, mac, machine, detail, 0 });
}

qint64 EventLogStore::addCounted(int kind, const QString& page, quint64 mac, const QString& machine,
    const QString& detail, SecurityRowBudget::Source source)
{
    if (kind == Security && !admitSecurity(page, source))
        return Summarised;
    if (!usable)
        return 0;
    const qint64 handle = ++next_handle;
    enqueue(Event { now(), kind, page, mac, machine, detail, handle });
    return handle;
}

bool EventLogStore::admitSecurity(const QString& page, SecurityRowBudget::Source source)
{
    const SecurityRowBudget::Verdict verdict = security_budget.admit(page, now(), source);
    if (verdict.row)
        return true;
    if (usable) {
        Summary& summary = summaries[page];
        const QString detail = SecurityRowBudget::summary(verdict.unrecorded);
        if (summary.minute == verdict.minute) {
            updateDetail(summary.handle, detail);
        } else {
            summary = { verdict.minute, ++next_handle };
            enqueue(Event { now(), Security, page, 0, QString(), detail, summary.handle });
        }
    }
    return false;
}

void EventLogStore::updateDetail(qint64 handle, const QString& detail)
{
    if (!usable || handle <= 0)
        return;
    emit sg_detail_changed(handle, detail);
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
    if (pages_read)
        page_names.insert(event.page);
    emit sg_added(event);
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
    int securityAdded = 0;
    for (const Event& event : std::as_const(pending)) {
        securityAdded += event.kind == Security ? 1 : 0;
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
        written = written && noteCountedIds() && writeCountedUpdates() && prune(securityAdded) && db.commit();
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
    security_rows = next_security_rows;
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

// Every statement here reads an index range no larger than what it removes
// (and the few machines lost while locked), never the whole table: at a
// million rows a scan of them stalled each write for a fifth of a second.
// Ids grow with every row. "+kind" keeps SQLite from reading every row of a
// kind where the time is the short way.
bool EventLogStore::prune(int securityAdded)
{
    const QSqlDatabase db = database();
    const qint64 cutoff = now() - max_age_ms;
    qint64 security = security_rows;
    if (security < 0) {
        // Once a run: the rows just inserted are among them.
        security = scalar(db, QStringLiteral("SELECT count(*) FROM tb_event_log WHERE kind=?;"), "tb_event_log count",
            { int(Security) });
    } else {
        const qint64 aged = scalar(db, QStringLiteral("SELECT count(*) FROM tb_event_log WHERE at_utc<? AND +kind=?;"),
            "tb_event_log count", { cutoff, int(Security) });
        security = aged < 0 ? -1 : security + securityAdded - aged;
    }
    if (security < 0
        || !runLogged(db, QStringLiteral("DELETE FROM tb_event_log WHERE at_utc<?;"), "tb_event_log prune", { cutoff }))
        return false;

    // The ordinary rows: the newest max_rows ids, each kind through its
    // index. What a teacher may need as evidence (commands, machines lost
    // while locked, someone else on the network) is not among them, so a
    // flood of machines coming and going cannot push it out.
    const qint64 top = scalar(db, QStringLiteral("SELECT ifnull(max(id),0) FROM tb_event_log;"), "tb_event_log ids");
    if (top < 0)
        return false;
    const qint64 below = top - max_rows;
    if (below > 0
        && (!runLogged(db, QStringLiteral("DELETE FROM tb_event_log WHERE kind IN (?,?,?,?) AND id<=?;"), "tb_event_log prune",
                { int(Online), int(Registered), int(Group), int(Notice), below })
            || !runLogged(db, QStringLiteral("DELETE FROM tb_event_log WHERE kind=? AND id<=? AND detail NOT LIKE ?;"),
                "tb_event_log prune", { int(Offline), below, LockedOfflinePrefix + QLatin1Char('%') })))
        return false;

    // "安全" rows by their own count, oldest first through the kind's index;
    // a table from before they had a bound sheds its excess a little at each
    // write, not all at a start.
    if (security > max_security_rows) {
        const qint64 excess = std::min<qint64>(security - max_security_rows, MaxPrunedPerWrite);
        if (!runLogged(db,
                QStringLiteral("DELETE FROM tb_event_log WHERE id IN "
                               "(SELECT id FROM tb_event_log WHERE kind=? ORDER BY id LIMIT ?);"),
                "tb_event_log prune", { int(Security), excess }))
            return false;
        security -= excess;
    }
    next_security_rows = security;
    return true;
}

QSqlQuery EventLogStore::select(const QString& page, int kind, bool forwardOnly) const
{
    QSqlQuery query(database());
    if (!usable)
        return query;
    query.setForwardOnly(forwardOnly);
    QStringList where;
    QVariantList values;
    if (!page.isEmpty()) {
        where << QStringLiteral("(page=? OR (kind=? AND page=?))");
        values << page << int(Security) << SecurityRowBudget::EveryPage;
    }
    if (kind != 0) {
        where << QStringLiteral("kind=?");
        values << kind;
    }
    const QString filter = where.isEmpty() ? QString() : QStringLiteral(" WHERE ") + where.join(QStringLiteral(" AND "));
    if (query.prepare(QStringLiteral("SELECT at_utc,kind,page,machine,ullmac,detail FROM tb_event_log%1 ORDER BY id DESC;")
                          .arg(filter))) {
        for (const QVariant& value : std::as_const(values))
            query.addBindValue(value);
        execLogged(query, "tb_event_log select");
    }
    return query;
}

QStringList EventLogStore::pages() const
{
    if (!usable)
        return {};
    // Read once; then every refresh of the open dock would read the whole
    // table. A page whose rows are all pruned stays until the next start.
    if (!pages_read) {
        QSqlQuery query(database());
        if (!query.prepare(QStringLiteral("SELECT DISTINCT page FROM tb_event_log;"))
            || !execLogged(query, "tb_event_log pages"))
            return {};
        while (query.next())
            page_names.insert(query.value(0).toString());
        pages_read = true;
    }
    QStringList names = page_names.values();
    std::sort(names.begin(), names.end());
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
