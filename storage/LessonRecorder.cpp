#include "storage/LessonRecorder.h"

#include "storage/LessonRecordStore.h"

#include <QDateTime>

static_assert(int(LessonRecord::Offline) == int(EventLogStore::Offline)
        && int(LessonRecord::Online) == int(EventLogStore::Online),
    "a record reads the log's off-line and on-line rows by their kinds");
static_assert(int(LessonRecord::LockChange) > EventLogStore::LastKind, "a record's own kinds follow the log's");

LessonRecorder::LessonRecorder(LessonRecordStore& store, Snapshot snapshot, QObject* parent)
    : QObject(parent)
    , store(store)
    , snapshot(std::move(snapshot))
    , clock([] { return QDateTime::currentMSecsSinceEpoch(); })
{
}

void LessonRecorder::setClock(Clock clock_)
{
    clock = std::move(clock_);
}

qint64 LessonRecorder::now() const
{
    return clock();
}

void LessonRecorder::follow(const EventLogStore& log)
{
    connect(&log, &EventLogStore::sg_added, this, &LessonRecorder::take);
    connect(&log, &EventLogStore::sg_detail_changed, this, [this](qint64 handle, const QString& detail) {
        if (!open_records.isEmpty())
            store.updateEvent(handle, detail);
    });
}

bool LessonRecorder::start(const QString& room, LessonRecord::Origin origin, const QString& title)
{
    if (room.isEmpty() || room == SecurityRowBudget::EveryPage || open_records.contains(room))
        return false;
    const qint64 id = store.begin(room, origin, title, now(), snapshot ? snapshot(room) : QList<LessonRecord::Machine>());
    if (id <= 0)
        return false;
    open_records.insert(room, { id, origin });
    emit sg_changed(room);
    return true;
}

bool LessonRecorder::finish(const QString& room, LessonRecord::Origin by)
{
    const auto it = open_records.constFind(room);
    if (it == open_records.cend() || (by == LessonRecord::Origin::Timetable && it->origin != by))
        return false;
    if (!store.finish(it->id, now(), snapshot ? snapshot(room) : QList<LessonRecord::Machine>()))
        return false;
    open_records.remove(room);
    emit sg_changed(room);
    return true;
}

void LessonRecorder::add(const QString& room, const LessonRecord::Event& event, qint64 handle)
{
    const auto it = open_records.constFind(room);
    if (it != open_records.cend())
        store.addEvent(it->id, event, handle);
}

void LessonRecorder::noteLock(const QStringList& rooms, const QString& detail)
{
    for (const QString& room : rooms)
        add(room, { now(), LessonRecord::LockChange, 0, QString(), detail });
}

void LessonRecorder::take(const EventLogStore::Event& event)
{
    if (open_records.isEmpty())
        return;
    const LessonRecord::Event copy { event.at_ms, event.kind, event.mac, event.machine, event.detail };
    // Rows aimed at every room (another console's broadcast, a command on
    // "全部") belong to each room's record.
    if (event.page == SecurityRowBudget::EveryPage) {
        if (event.kind != EventLogStore::Security && event.kind != EventLogStore::Command)
            return;
        for (auto it = open_records.cbegin(); it != open_records.cend(); ++it)
            store.addEvent(it->id, copy, event.handle);
        return;
    }
    add(event.page, copy, event.handle);
}

void LessonRecorder::renameRoom(const QString& from, const QString& to)
{
    if (!open_records.contains(from) || open_records.contains(to))
        return;
    open_records.insert(to, open_records.take(from));
    store.renameRoom(from, to);
    add(to, { now(), LessonRecord::Marker, 0, QString(), QStringLiteral("机房改名：%1 → %2").arg(from, to) });
}

void LessonRecorder::removeRoom(const QString& room)
{
    if (open_records.contains(room)) {
        add(room, { now(), LessonRecord::Marker, 0, QString(), QStringLiteral("分组已删除，记录结束") });
        finish(room, LessonRecord::Origin::Teacher);
    }
}

int LessonRecorder::resume()
{
    int resumed = 0;
    for (const LessonRecordStore::Summary& summary : store.openRecords()) {
        if (open_records.contains(summary.room))
            continue;
        open_records.insert(summary.room, { summary.id, summary.origin });
        add(summary.room,
            { now(), LessonRecord::Marker, 0, QString(),
                QStringLiteral("教师端重新启动：此前一段时间的事件未能记录") });
        ++resumed;
        emit sg_changed(summary.room);
    }
    return resumed;
}
