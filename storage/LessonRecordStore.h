#pragma once

#include "model/LessonRecord.h"

#include <QDate>
#include <QHash>
#include <QList>
#include <QObject>
#include <QSqlDatabase>
#include <QString>
#include <QStringList>

#include <functional>

class QTimer;

// The records of lessons and exams in data.sqlite3: tb_lesson_record (one
// row a record), tb_lesson_record_machine (the room's machines at its start
// and end) and tb_lesson_record_event (its events). Events wait in memory
// and are written together shortly after, one transaction a burst, so a
// stop mid-lesson loses at most that moment. Records go only by age, as the
// log's rows do (the same bound); never by count, and never while open.
class LessonRecordStore final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(LessonRecordStore)

public:
    using Clock = std::function<qint64()>;
    static constexpr int FlushDelayMs = 500;
    // A record keeps at most this many events; the rest are counted in one
    // note at its end, so a flapping room cannot fill the disk.
    static constexpr int DefaultMaxEvents = 50000;

    // A line of the list of records.
    struct Summary
    {
        qint64 id = 0;
        QString room;
        LessonRecord::Origin origin = LessonRecord::Origin::Teacher;
        QString title;
        qint64 start_ms = 0;
        qint64 end_ms = 0;
        int events = 0;
    };

    explicit LessonRecordStore(QObject* parent = nullptr);

    void setClock(Clock clock);
    void setMaxAge(qint64 maxAgeMs) { max_age_ms = maxAgeMs; }
    void setMaxEvents(int maxEvents) { max_events = maxEvents; }
    bool open(const QSqlDatabase& db);
    bool isOpen() const { return usable; }
    void close();

    // A new open record with its machines at the start; its id, 0 when
    // nothing could be written.
    qint64 begin(const QString& room, LessonRecord::Origin origin, const QString& title, qint64 startMs,
        const QList<LessonRecord::Machine>& machines);
    // Kept for the next write; false when the record holds its bound.
    // `handle` (the log's addCounted) names an event whose detail may change.
    bool addEvent(qint64 record, const LessonRecord::Event& event, qint64 handle = 0);
    // Rewrites the detail of the events added with `handle` (a count that grows).
    void updateEvent(qint64 handle, const QString& detail);
    // Ends a record: its end, its machines at the end, and what waits.
    bool finish(qint64 record, qint64 endMs, const QList<LessonRecord::Machine>& machines);
    bool renameRoom(const QString& from, const QString& to);
    bool flush();

    // Newest first; an empty room or an invalid date does not filter (the
    // date is the local day the record started on).
    QList<Summary> list(const QString& room = QString(), const QDate& day = QDate()) const;
    QStringList rooms() const;
    // Ids of the records still open (the console stopped mid-lesson).
    QList<Summary> openRecords() const;
    // The whole record; id 0 when there is none.
    LessonRecord load(qint64 id) const;

private:
    bool prune();
    bool writeMachines(qint64 record, int phase, const QList<LessonRecord::Machine>& machines);
    QSqlDatabase database() const;

    struct Pending
    {
        qint64 record = 0;
        qint64 handle = 0;
        LessonRecord::Event event;
    };

    Clock clock;
    QString connection_name;
    bool usable = false;
    qint64 max_age_ms = 0;
    int max_events = DefaultMaxEvents;
    QList<Pending> pending;
    // Events kept per open record, and those over the bound.
    QHash<qint64, int> event_counts;
    QHash<qint64, int> dropped;
    // Handles of written events to their rows, while their detail may change.
    static constexpr int MaxHandles = 4096;
    QHash<qint64, QList<qint64>> handle_rows;
    QTimer* flush_timer = nullptr;
};
