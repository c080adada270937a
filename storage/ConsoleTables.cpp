#include "storage/ConsoleTables.h"

ConsoleTables::ConsoleTables()
{
    // Records go by the log's age on the log's clock, and reach the disk
    // whenever the log's rows do (also the exit's and the session end's save).
    lesson_record_store.setClock([this] { return event_log.now(); });
    QObject::connect(&event_log, &EventLogStore::sg_written, &lesson_record_store, &LessonRecordStore::flush);
}

ConsoleTables::~ConsoleTables()
{
    close();
}

bool ConsoleTables::open(const QSqlDatabase& db)
{
    if (!event_log.isOpen())
        event_log.open(db);
    if (!seat_store.isOpen())
        seat_store.open(db);
    if (!timed_lock_store.isOpen())
        timed_lock_store.open(db);
    if (!timetable_store.isOpen())
        timetable_store.open(db);
    if (!lesson_mode_store.isOpen())
        lesson_mode_store.open(db);
    if (!lesson_record_store.isOpen()) {
        lesson_record_store.setMaxAge(event_log.maxAgeMs());
        lesson_record_store.open(db);
    }
    return isOpen();
}

bool ConsoleTables::isOpen() const
{
    return event_log.isOpen() && seat_store.isOpen() && timed_lock_store.isOpen()
        && timetable_store.isOpen()
        && lesson_mode_store.isOpen() && lesson_record_store.isOpen();
}

void ConsoleTables::close()
{
    event_log.close();
    seat_store.close();
    timed_lock_store.close();
    timetable_store.close();
    lesson_mode_store.close();
    lesson_record_store.close();
}
