#pragma once

#include "storage/EventLogStore.h"
#include "storage/LessonModeStore.h"
#include "storage/LessonRecordStore.h"
#include "storage/SeatStore.h"
#include "storage/TimedLockStore.h"
#include "storage/TimetableStore.h"

#include <QSqlDatabase>

// The console's own tables beside the registry's three: the event log, the
// seats with the view options kept in the database, the timed locks, the
// pages' timetables, the lesson modes and the records of lessons.
// One rule for all of them: opened on the registry's connection once the
// database can be written (creating a table takes the write lock, which a
// file held elsewhere would make the UI thread wait for), and let go before
// the registry closes that connection. Declared after the registry, the
// owner's destruction does the latter by itself.
class ConsoleTables final
{
    Q_DISABLE_COPY(ConsoleTables)

public:
    ConsoleTables();
    ~ConsoleTables();

    // Opens the tables not open yet; true when all of them are.
    bool open(const QSqlDatabase& db);
    bool isOpen() const;
    // Writes what the log holds back and lets go of the connection.
    void close();

    EventLogStore& eventLog() { return event_log; }
    SeatStore& seats() { return seat_store; }
    TimedLockStore& timedLocks() { return timed_lock_store; }
    TimetableStore& timetables() { return timetable_store; }
    LessonModeStore& lessonModes() { return lesson_mode_store; }
    LessonRecordStore& lessonRecords() { return lesson_record_store; }

private:
    EventLogStore event_log;
    SeatStore seat_store;
    TimedLockStore timed_lock_store;
    TimetableStore timetable_store;
    LessonModeStore lesson_mode_store;
    LessonRecordStore lesson_record_store;
};
