#pragma once

#include <QList>
#include <QPoint>
#include <QString>

// The record of one lesson or exam in one room: when it ran, who started it,
// which machines were on line at its start and at its end (with their seats),
// and what happened in between, as the event log and the lock path told it.
// Kept apart from the log's rows, which pruning by count may remove.
struct LessonRecord
{
    enum class Origin
    {
        Teacher = 1, // "开始记录" on the room's tab
        Timetable = 2, // a lesson of the room's week
    };

    // The event log's kinds (EventLogStore::Kind, checked there), and two
    // of the record's own beyond them.
    enum EventKind
    {
        Offline = 1,
        Online = 2,
        LockChange = 20, // the room took a lock; the detail names who asked
        Marker = 21, // the record's own notes (the console restarted mid-lesson)
    };

    struct Event
    {
        qint64 at_ms = 0; // UTC
        int kind = 0;
        quint64 mac = 0;
        QString machine;
        QString detail;
    };

    struct Machine
    {
        quint64 mac = 0;
        QString name;
        QString ip;
        QPoint seat { -1, -1 }; // (-1, -1): none
        bool online = false;
    };

    // Off line, and back (or not by the end).
    struct Absence
    {
        quint64 mac = 0;
        QString machine;
        qint64 from_ms = 0;
        qint64 to_ms = 0; // the record's end while still away
        bool back = false;
        bool locked = false; // went off line while the room was locked

        qint64 durationMs() const { return to_ms - from_ms; }
    };

    qint64 id = 0;
    QString room;
    Origin origin = Origin::Teacher;
    QString title; // "课表：周一 08:00–08:45", or empty
    qint64 start_ms = 0;
    qint64 end_ms = 0; // 0: still recording
    QList<Machine> at_start; // every machine of the room, on line or not
    QList<Machine> at_end;
    QList<Event> events; // in time order

    bool isOpen() const { return end_ms == 0; }
    static QString originName(Origin origin);

    // Every time a machine went off line and came back, in the order they
    // went; one still away at the end (or now, while open: `nowMs`) runs to
    // then. An off-line row whose detail starts with `lockedPrefix` was
    // lost while the room was locked.
    QList<Absence> absences(const QString& lockedPrefix, qint64 nowMs = 0) const;
    static int onlineCount(const QList<Machine>& machines);
    // "1小时02分05秒", "3分07秒", "12秒".
    static QString durationText(qint64 ms);
};
