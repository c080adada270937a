#pragma once

#include "model/LessonRecord.h"
#include "storage/EventLogStore.h"

#include <QHash>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>

class LessonRecordStore;

// Keeps the open record of each room: started by the teacher or by a lesson
// of the room's week, it takes the event log's rows of the room, with the
// "安全" rows and commands aimed at every room, and the room's lock changes
// with who asked; it notes the room's machines at the start and the end. A
// record the timetable started ends with the lesson; one the teacher started
// only by the teacher (or with its room). No widgets; the clock is injected.
class LessonRecorder final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(LessonRecorder)

public:
    using Clock = std::function<qint64()>;
    // The room's machines now, on line or not, with their seats.
    using Snapshot = std::function<QList<LessonRecord::Machine>(const QString& room)>;

    LessonRecorder(LessonRecordStore& store, Snapshot snapshot, QObject* parent = nullptr);

    void setClock(Clock clock);
    qint64 now() const;
    // Rows of the event log from now on.
    void follow(const EventLogStore& log);

    // A new record of `room`; false when one is open there already or
    // nothing can be written.
    bool start(const QString& room, LessonRecord::Origin origin, const QString& title = QString());
    // Ends the room's record: the teacher's end ends any, the timetable's
    // only the one a lesson started.
    bool finish(const QString& room, LessonRecord::Origin by);
    bool isRecording(const QString& room) const { return open_records.contains(room); }
    qint64 recordOf(const QString& room) const { return open_records.value(room).id; }
    QStringList recordingRooms() const { return open_records.keys(); }

    // The rooms took lock `detail` ("黑屏锁定（教师）").
    void noteLock(const QStringList& rooms, const QString& detail);
    // An event of the log, as sg_added brings it.
    void take(const EventLogStore::Event& event);
    void renameRoom(const QString& from, const QString& to);
    // The room's group is gone: its record ends.
    void removeRoom(const QString& room);
    // The records a stopped console left open go on, with a note of the gap;
    // how many.
    int resume();

signals:
    // A record started or ended.
    void sg_changed(const QString& room);

private:
    struct Open
    {
        qint64 id = 0;
        LessonRecord::Origin origin = LessonRecord::Origin::Teacher;
    };
    void add(const QString& room, const LessonRecord::Event& event, qint64 handle = 0);

    LessonRecordStore& store;
    Snapshot snapshot;
    Clock clock;
    QHash<QString, Open> open_records;
};
