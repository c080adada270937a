#include "storage/ConsoleTables.h"

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
    return isOpen();
}

bool ConsoleTables::isOpen() const
{
    return event_log.isOpen() && seat_store.isOpen() && timed_lock_store.isOpen()
        && timetable_store.isOpen()
        && lesson_mode_store.isOpen();
}

void ConsoleTables::close()
{
    event_log.close();
    seat_store.close();
    timed_lock_store.close();
    timetable_store.close();
    lesson_mode_store.close();
}
