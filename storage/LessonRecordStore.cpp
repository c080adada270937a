#include "storage/LessonRecordStore.h"

#include "storage/SqlExec.h"

#include <QDateTime>
#include <QSqlQuery>
#include <QTimer>
#include <QVariant>

namespace {

enum Phase { AtStart = 0, AtEnd = 1 };

} // namespace

LessonRecordStore::LessonRecordStore(QObject* parent)
    : QObject(parent)
    , clock([] { return QDateTime::currentMSecsSinceEpoch(); })
    , flush_timer(new QTimer(this))
{
    flush_timer->setSingleShot(true);
    flush_timer->setInterval(FlushDelayMs);
    connect(flush_timer, &QTimer::timeout, this, &LessonRecordStore::flush);
}

void LessonRecordStore::setClock(Clock clock_)
{
    clock = std::move(clock_);
}

QSqlDatabase LessonRecordStore::database() const
{
    return QSqlDatabase::database(connection_name, false);
}

bool LessonRecordStore::open(const QSqlDatabase& connection)
{
    connection_name = connection.connectionName();
    const QSqlDatabase db = database();
    usable = db.isValid() && db.isOpen()
        && runLogged(db,
            QStringLiteral("CREATE TABLE IF NOT EXISTS tb_lesson_record(id integer primary key,room text not null,"
                           "origin int not null,title text,start_utc bigint not null,end_utc bigint);"),
            "tb_lesson_record create")
        && runLogged(db, QStringLiteral("CREATE INDEX IF NOT EXISTS ix_lesson_record_start ON tb_lesson_record(start_utc);"),
            "tb_lesson_record index")
        && runLogged(db,
            QStringLiteral("CREATE TABLE IF NOT EXISTS tb_lesson_record_machine(record_id int not null,phase int not "
                           "null,ullmac bigint not null,machine text,ip text,seat_x int,seat_y int,online int not "
                           "null);"),
            "tb_lesson_record_machine create")
        && runLogged(db,
            QStringLiteral("CREATE INDEX IF NOT EXISTS ix_lesson_record_machine ON "
                           "tb_lesson_record_machine(record_id);"),
            "tb_lesson_record_machine index")
        && runLogged(db,
            QStringLiteral("CREATE TABLE IF NOT EXISTS tb_lesson_record_event(id integer primary key,record_id int not "
                           "null,at_utc bigint not null,kind int not null,ullmac bigint,machine text,detail text);"),
            "tb_lesson_record_event create")
        && runLogged(db,
            QStringLiteral("CREATE INDEX IF NOT EXISTS ix_lesson_record_event ON tb_lesson_record_event(record_id);"),
            "tb_lesson_record_event index");
    event_counts.clear();
    dropped.clear();
    handle_rows.clear();
    if (usable)
        prune();
    return usable;
}

void LessonRecordStore::close()
{
    flush();
    flush_timer->stop();
    pending.clear();
    usable = false;
    connection_name.clear();
}

bool LessonRecordStore::writeMachines(qint64 record, int phase, const QList<LessonRecord::Machine>& machines)
{
    QSqlQuery insert(database());
    if (!insert.prepare(QStringLiteral("INSERT INTO tb_lesson_record_machine (record_id,phase,ullmac,machine,ip,"
                                       "seat_x,seat_y,online) values(?,?,?,?,?,?,?,?);")))
        return false;
    for (const LessonRecord::Machine& machine : machines) {
        insert.addBindValue(record);
        insert.addBindValue(phase);
        insert.addBindValue(machine.mac);
        insert.addBindValue(machine.name);
        insert.addBindValue(machine.ip);
        insert.addBindValue(machine.seat.x());
        insert.addBindValue(machine.seat.y());
        insert.addBindValue(machine.online ? 1 : 0);
        if (!execLogged(insert, "tb_lesson_record_machine insert"))
            return false;
    }
    return true;
}

qint64 LessonRecordStore::begin(const QString& room, LessonRecord::Origin origin, const QString& title,
    qint64 startMs, const QList<LessonRecord::Machine>& machines)
{
    if (!usable)
        return 0;
    QSqlDatabase db = database();
    if (!db.transaction())
        return 0;
    QSqlQuery insert(db);
    qint64 id = 0;
    if (insert.prepare(QStringLiteral("INSERT INTO tb_lesson_record (room,origin,title,start_utc) values(?,?,?,?);"))) {
        insert.addBindValue(room);
        insert.addBindValue(int(origin));
        insert.addBindValue(title);
        insert.addBindValue(startMs);
        if (execLogged(insert, "tb_lesson_record insert"))
            id = insert.lastInsertId().toLongLong();
    }
    if (id <= 0 || !writeMachines(id, AtStart, machines) || !db.commit()) {
        db.rollback();
        return 0;
    }
    event_counts.insert(id, 0);
    return id;
}

bool LessonRecordStore::addEvent(qint64 record, const LessonRecord::Event& event, qint64 handle)
{
    if (!usable || record <= 0)
        return false;
    auto count = event_counts.find(record);
    if (count == event_counts.end()) {
        // A record resumed after a restart: its rows so far count.
        QSqlQuery query(database());
        int written = 0;
        if (query.prepare(QStringLiteral("SELECT count(*) FROM tb_lesson_record_event WHERE record_id=?;"))) {
            query.addBindValue(record);
            if (execLogged(query, "tb_lesson_record_event count") && query.next())
                written = query.value(0).toInt();
        }
        count = event_counts.insert(record, written);
    }
    if (count.value() >= max_events) {
        ++dropped[record];
        return false;
    }
    ++count.value();
    pending << Pending { record, handle, event };
    if (!flush_timer->isActive())
        flush_timer->start();
    return true;
}

void LessonRecordStore::updateEvent(qint64 handle, const QString& detail)
{
    if (!usable || handle <= 0)
        return;
    bool waiting = false;
    for (Pending& entry : pending)
        if (entry.handle == handle) {
            entry.event.detail = detail;
            waiting = true;
        }
    const QList<qint64> rows = handle_rows.value(handle);
    if (waiting || rows.isEmpty())
        return;
    for (const qint64 row : rows)
        runLogged(database(), QStringLiteral("UPDATE tb_lesson_record_event SET detail=? WHERE id=?;"),
            "tb_lesson_record_event update", { detail, row });
}

bool LessonRecordStore::flush()
{
    flush_timer->stop();
    if (!usable || pending.isEmpty())
        return true;
    QSqlDatabase db = database();
    bool written = db.transaction();
    QList<QPair<qint64, qint64>> handles;
    if (written) {
        QSqlQuery insert(db);
        written = insert.prepare(QStringLiteral("INSERT INTO tb_lesson_record_event "
                                                "(record_id,at_utc,kind,ullmac,machine,detail) values(?,?,?,?,?,?);"));
        for (int i = 0; written && i < pending.size(); ++i) {
            const Pending& entry = pending.at(i);
            insert.addBindValue(entry.record);
            insert.addBindValue(entry.event.at_ms);
            insert.addBindValue(entry.event.kind);
            insert.addBindValue(entry.event.mac);
            insert.addBindValue(entry.event.machine);
            insert.addBindValue(entry.event.detail);
            written = execLogged(insert, "tb_lesson_record_event insert");
            if (written && entry.handle > 0)
                handles << qMakePair(entry.handle, insert.lastInsertId().toLongLong());
        }
        written = written && prune() && db.commit();
        if (!written)
            db.rollback();
    }
    if (!written) {
        // Kept for the next try; the log's own retry tells the teacher.
        flush_timer->start(FlushDelayMs * 20);
        return false;
    }
    if (handle_rows.size() > MaxHandles)
        handle_rows.clear();
    for (const auto& handle : std::as_const(handles))
        handle_rows[handle.first] << handle.second;
    pending.clear();
    return true;
}

bool LessonRecordStore::finish(qint64 record, qint64 endMs, const QList<LessonRecord::Machine>& machines)
{
    if (!usable || record <= 0)
        return false;
    const int over = dropped.take(record);
    if (over > 0) {
        // The note goes in over the bound: the record says what it left out.
        pending << Pending { record, 0,
            { endMs, LessonRecord::Marker, 0, QString(),
                QStringLiteral("另有 %1 条事件超出本记录的上限 %2 条，未记录").arg(over).arg(max_events) } };
    }
    if (!flush())
        return false;
    QSqlDatabase db = database();
    const bool done = db.transaction()
        && runLogged(db, QStringLiteral("UPDATE tb_lesson_record SET end_utc=? WHERE id=?;"), "tb_lesson_record end",
            { endMs, record })
        && writeMachines(record, AtEnd, machines) && db.commit();
    if (!done) {
        db.rollback();
        return false;
    }
    event_counts.remove(record);
    return true;
}

bool LessonRecordStore::renameRoom(const QString& from, const QString& to)
{
    return usable
        && runLogged(database(), QStringLiteral("UPDATE tb_lesson_record SET room=? WHERE room=? AND end_utc IS NULL;"),
            "tb_lesson_record rename", { to, from });
}

// Only ended records, and only by age: an exam's evidence stays as long as
// the log's rows of that day would.
bool LessonRecordStore::prune()
{
    if (max_age_ms <= 0)
        return true;
    const QSqlDatabase db = database();
    const qint64 cutoff = clock() - max_age_ms;
    const QString old = QStringLiteral("SELECT id FROM tb_lesson_record WHERE end_utc IS NOT NULL AND end_utc<?");
    return runLogged(db, QStringLiteral("DELETE FROM tb_lesson_record_event WHERE record_id IN (%1);").arg(old),
               "tb_lesson_record_event prune", { cutoff })
        && runLogged(db, QStringLiteral("DELETE FROM tb_lesson_record_machine WHERE record_id IN (%1);").arg(old),
            "tb_lesson_record_machine prune", { cutoff })
        && runLogged(db, QStringLiteral("DELETE FROM tb_lesson_record WHERE end_utc IS NOT NULL AND end_utc<?;"),
            "tb_lesson_record prune", { cutoff });
}

QList<LessonRecordStore::Summary> LessonRecordStore::list(const QString& room, const QDate& day) const
{
    QList<Summary> out;
    if (!usable)
        return out;
    QStringList where;
    QVariantList values;
    if (!room.isEmpty()) {
        where << QStringLiteral("room=?");
        values << room;
    }
    if (day.isValid()) {
        where << QStringLiteral("start_utc>=? AND start_utc<?");
        values << QDateTime(day, QTime(0, 0)).toMSecsSinceEpoch()
               << QDateTime(day.addDays(1), QTime(0, 0)).toMSecsSinceEpoch();
    }
    QSqlQuery query(database());
    const QString filter = where.isEmpty() ? QString() : QStringLiteral(" WHERE ") + where.join(QStringLiteral(" AND "));
    if (!query.prepare(QStringLiteral("SELECT id,room,origin,title,start_utc,ifnull(end_utc,0),(SELECT count(*) FROM "
                                      "tb_lesson_record_event e WHERE e.record_id=r.id) FROM tb_lesson_record r%1 "
                                      "ORDER BY start_utc DESC,id DESC;")
                           .arg(filter)))
        return out;
    for (const QVariant& value : std::as_const(values))
        query.addBindValue(value);
    if (!execLogged(query, "tb_lesson_record list"))
        return out;
    while (query.next()) {
        Summary summary;
        summary.id = query.value(0).toLongLong();
        summary.room = query.value(1).toString();
        summary.origin = query.value(2).toInt() == int(LessonRecord::Origin::Timetable) ? LessonRecord::Origin::Timetable
                                                                                       : LessonRecord::Origin::Teacher;
        summary.title = query.value(3).toString();
        summary.start_ms = query.value(4).toLongLong();
        summary.end_ms = query.value(5).toLongLong();
        summary.events = query.value(6).toInt();
        out << summary;
    }
    return out;
}

QStringList LessonRecordStore::rooms() const
{
    QStringList out;
    QSqlQuery query(database());
    if (usable && query.prepare(QStringLiteral("SELECT DISTINCT room FROM tb_lesson_record ORDER BY room;"))
        && execLogged(query, "tb_lesson_record rooms"))
        while (query.next())
            out << query.value(0).toString();
    return out;
}

QList<LessonRecordStore::Summary> LessonRecordStore::openRecords() const
{
    QList<Summary> out;
    for (const Summary& summary : list())
        if (summary.end_ms == 0)
            out << summary;
    return out;
}

LessonRecord LessonRecordStore::load(qint64 id) const
{
    LessonRecord record;
    if (!usable)
        return record;
    const QSqlDatabase db = database();
    QSqlQuery head(db);
    if (!head.prepare(QStringLiteral(
            "SELECT room,origin,title,start_utc,ifnull(end_utc,0) FROM tb_lesson_record WHERE id=?;")))
        return record;
    head.addBindValue(id);
    if (!execLogged(head, "tb_lesson_record load") || !head.next())
        return record;
    record.id = id;
    record.room = head.value(0).toString();
    record.origin = head.value(1).toInt() == int(LessonRecord::Origin::Timetable) ? LessonRecord::Origin::Timetable
                                                                                 : LessonRecord::Origin::Teacher;
    record.title = head.value(2).toString();
    record.start_ms = head.value(3).toLongLong();
    record.end_ms = head.value(4).toLongLong();

    QSqlQuery machines(db);
    machines.setForwardOnly(true);
    if (machines.prepare(QStringLiteral("SELECT phase,ullmac,machine,ip,seat_x,seat_y,online FROM "
                                        "tb_lesson_record_machine WHERE record_id=? ORDER BY rowid;"))) {
        machines.addBindValue(id);
        if (execLogged(machines, "tb_lesson_record_machine load"))
            while (machines.next()) {
                LessonRecord::Machine machine;
                machine.mac = machines.value(1).toULongLong();
                machine.name = machines.value(2).toString();
                machine.ip = machines.value(3).toString();
                machine.seat = QPoint(machines.value(4).toInt(), machines.value(5).toInt());
                machine.online = machines.value(6).toInt() != 0;
                (machines.value(0).toInt() == AtEnd ? record.at_end : record.at_start) << machine;
            }
    }
    QSqlQuery events(db);
    events.setForwardOnly(true);
    if (events.prepare(QStringLiteral("SELECT at_utc,kind,ullmac,machine,detail FROM tb_lesson_record_event WHERE "
                                      "record_id=? ORDER BY at_utc,id;"))) {
        events.addBindValue(id);
        if (execLogged(events, "tb_lesson_record_event load"))
            while (events.next())
                record.events << LessonRecord::Event { events.value(0).toLongLong(), events.value(1).toInt(),
                    events.value(2).toULongLong(), events.value(3).toString(), events.value(4).toString() };
    }
    // Events of an open record still waiting for their write.
    for (const Pending& entry : pending)
        if (entry.record == id)
            record.events << entry.event;
    return record;
}
