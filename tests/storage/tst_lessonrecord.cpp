// The record of a lesson or exam without a window: the absences derived from
// its events (a table), and a simulated room on a driven clock through the
// event log, the recorder and the store.
#include "model/LessonRecord.h"
#include "storage/ConsoleTables.h"
#include "storage/EventLogStore.h"
#include "storage/LessonRecordStore.h"
#include "storage/LessonRecorder.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>

Q_DECLARE_METATYPE(LessonRecord::Event)

namespace {

const QString Room = QStringLiteral("二号机房");
const QString Other = QStringLiteral("三号机房");
const qint64 Minute = 60 * 1000;
const qint64 Day = 24 * 60 * Minute;
// 2026-12-08 09:00 UTC
const qint64 Nine = 1796720400000LL;
const QString Locked = QStringLiteral("锁定中断开（黑屏锁定）");

using Event = LessonRecord::Event;

// A room of machines whose on-line state the test sets.
struct Room_
{
    QList<LessonRecord::Machine> machines;
    void set(quint64 mac, bool online)
    {
        for (LessonRecord::Machine& machine : machines)
            if (machine.mac == mac)
                machine.online = online;
    }
};

struct Lab
{
    QTemporaryDir dir;
    qint64 clock = Nine;
    Room_ room;
    std::unique_ptr<ConsoleTables> tables;
    std::unique_ptr<LessonRecorder> recorder;

    Lab()
    {
        for (int i = 1; i <= 4; ++i)
            room.machines << LessonRecord::Machine { quint64(0xA0 + i), QStringLiteral("PC-%1").arg(i),
                QStringLiteral("10.0.0.%1").arg(i), QPoint(i - 1, 0), true };
        room.machines[3].online = false; // PC-4 never came
        reopen();
    }
    ~Lab() { close(); }
    void close()
    {
        recorder.reset();
        tables.reset();
        QSqlDatabase::removeDatabase(QStringLiteral("records"));
    }
    // A console started again on the same file.
    void reopen()
    {
        close();
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("records"));
        db.setDatabaseName(dir.filePath(QStringLiteral("data.sqlite3")));
        QVERIFY(db.open());
        tables = std::make_unique<ConsoleTables>();
        tables->eventLog().setClock([this] { return clock; });
        QVERIFY(tables->open(db));
        recorder = std::make_unique<LessonRecorder>(
            tables->lessonRecords(), [this](const QString& name) {
                return name == Room ? room.machines : QList<LessonRecord::Machine>();
            });
        recorder->setClock([this] { return clock; });
        recorder->follow(tables->eventLog());
    }
    EventLogStore& log() { return tables->eventLog(); }
    LessonRecordStore& store() { return tables->lessonRecords(); }
    void at(int minutes) { clock = Nine + minutes * Minute; }
    void offline(quint64 mac, const QString& detail = QString())
    {
        room.set(mac, false);
        log().add(EventLogStore::Offline, Room, mac, QStringLiteral("PC-%1").arg(mac - 0xA0), detail);
    }
    void online(quint64 mac)
    {
        room.set(mac, true);
        log().add(EventLogStore::Online, Room, mac, QStringLiteral("PC-%1").arg(mac - 0xA0), QString());
    }
};

QStringList texts(const LessonRecord& record)
{
    QStringList out;
    for (const Event& event : record.events) {
        QStringList parts { QString::number((event.at_ms - Nine) / Minute), QString::number(event.kind) };
        for (const QString& text : { event.machine, event.detail })
            if (!text.isEmpty())
                parts << text;
        out << parts.join(QLatin1Char(' '));
    }
    return out;
}

} // namespace

class TestLessonRecord : public QObject
{
    Q_OBJECT

private slots:
    void absences_data();
    void absences();
    void examInARoomOnADrivenClock();
    void whoEndsARecord();
    void keptByAgeNeverByCount();
    void restartMidLessonGoesOn();
    void countedRowFollowsItsCount();
    void boundedPerRecordAndSaysSo();
};

void TestLessonRecord::absences_data()
{
    QTest::addColumn<QList<Event>>("events");
    QTest::addColumn<qint64>("end");
    // "mac from to back locked", minutes
    QTest::addColumn<QStringList>("expected");

    const auto off = [](int minute, quint64 mac, const QString& detail = QString()) {
        return Event { Nine + minute * Minute, LessonRecord::Offline, mac, QString(), detail };
    };
    const auto on = [](int minute, quint64 mac) {
        return Event { Nine + minute * Minute, LessonRecord::Online, mac, QString(), QString() };
    };
    const qint64 end = Nine + 90 * Minute;
    QTest::newRow("away and back") << QList<Event> { off(10, 1), on(17, 1) } << end << QStringList { "1 10 17 1 0" };
    QTest::newRow("lost while locked") << QList<Event> { off(10, 1, Locked), on(12, 1) } << end
                                       << QStringList { "1 10 12 1 1" };
    QTest::newRow("still away at the end")
        << QList<Event> { off(30, 2, Locked) } << end << QStringList { "2 30 90 0 1" };
    QTest::newRow("twice, in the order they went")
        << QList<Event> { off(5, 1), off(6, 2), on(8, 1), on(9, 2), off(40, 1), on(41, 1) } << end
        << QStringList { "1 5 8 1 0", "2 6 9 1 0", "1 40 41 1 0" };
    QTest::newRow("a second off-line row changes nothing")
        << QList<Event> { off(5, 1), off(7, 1, Locked), on(9, 1) } << end << QStringList { "1 5 9 1 0" };
    QTest::newRow("back without having gone: it came late")
        << QList<Event> { on(3, 1) } << end << QStringList {};
    QTest::newRow("rows without a machine") << QList<Event> { off(3, 0), on(4, 0) } << end << QStringList {};
    QTest::newRow("open record: away until now")
        << QList<Event> { off(20, 3) } << qint64(0) << QStringList { "3 20 25 0 0" };
}

void TestLessonRecord::absences()
{
    QFETCH(QList<Event>, events);
    QFETCH(qint64, end);
    QFETCH(QStringList, expected);
    LessonRecord record;
    record.start_ms = Nine;
    record.end_ms = end;
    record.events = events;
    QStringList found;
    for (const LessonRecord::Absence& a : record.absences(EventLogStore::LockedOfflinePrefix, Nine + 25 * Minute)) {
        found << QStringLiteral("%1 %2 %3 %4 %5")
                     .arg(a.mac)
                     .arg((a.from_ms - Nine) / Minute)
                     .arg((a.to_ms - Nine) / Minute)
                     .arg(a.back)
                     .arg(a.locked);
        QCOMPARE(a.durationMs(), a.to_ms - a.from_ms);
    }
    QCOMPARE(found, expected);
}

// Room 2 between 09:00 and 10:30: who left while it was locked, for how long,
// and what else happened there, read back from the file after a restart.
void TestLessonRecord::examInARoomOnADrivenClock()
{
    Lab lab;
    // Rows before the start are not the lesson's.
    lab.log().add(EventLogStore::Command, Room, 0, QString(), QStringLiteral("before"));
    QVERIFY(lab.recorder->start(Room, LessonRecord::Origin::Timetable, QStringLiteral("课表：周二 09:00–10:30")));
    QVERIFY(lab.recorder->isRecording(Room));
    lab.at(1);
    lab.recorder->noteLock({ Other, Room }, QStringLiteral("黑屏锁定（课表）"));
    lab.at(10);
    lab.offline(0xA2, Locked);
    lab.at(17);
    lab.online(0xA2);
    lab.at(20);
    lab.log().add(EventLogStore::Security, QStringLiteral("全部"), 0, QString(), QStringLiteral("发现其他教师端"));
    lab.log().add(EventLogStore::Command, QStringLiteral("全部"), 0, QString(), QStringLiteral("全部解锁"));
    lab.log().add(EventLogStore::Online, QStringLiteral("全部"), 0, QString(), QStringLiteral("not a room's"));
    lab.log().add(EventLogStore::Offline, Other, 0xB1, QStringLiteral("PC-B"), QString());
    lab.at(30);
    lab.offline(0xA3);
    lab.at(90);
    QVERIFY(lab.recorder->finish(Room, LessonRecord::Origin::Timetable));
    QVERIFY(!lab.recorder->isRecording(Room));
    lab.log().add(EventLogStore::Command, Room, 0, QString(), QStringLiteral("after"));
    QVERIFY(lab.log().flush());

    lab.reopen();
    const QList<LessonRecordStore::Summary> list = lab.store().list(Room, QDate(2026, 12, 8));
    QCOMPARE(list.size(), 1);
    QCOMPARE(lab.store().list(Other).size(), 0);
    QCOMPARE(lab.store().list(Room, QDate(2026, 12, 9)).size(), 0);
    QCOMPARE(lab.store().rooms(), QStringList { Room });
    const LessonRecord record = lab.store().load(list.first().id);
    QCOMPARE(record.room, Room);
    QCOMPARE(record.origin, LessonRecord::Origin::Timetable);
    QCOMPARE(record.title, QStringLiteral("课表：周二 09:00–10:30"));
    QCOMPARE(record.start_ms, Nine);
    QCOMPARE(record.end_ms, Nine + 90 * Minute);
    QCOMPARE(record.at_start.size(), 4);
    QCOMPARE(LessonRecord::onlineCount(record.at_start), 3);
    QCOMPARE(LessonRecord::onlineCount(record.at_end), 2);
    QCOMPARE(record.at_end.at(2).online, false);
    QCOMPARE(record.at_start.at(1).seat, QPoint(1, 0));
    QCOMPARE(record.at_start.at(1).ip, QStringLiteral("10.0.0.2"));
    QCOMPARE(texts(record),
        QStringList({ QStringLiteral("1 20 黑屏锁定（课表）"), QStringLiteral("10 1 PC-2 ") + Locked,
            QStringLiteral("17 2 PC-2"), QStringLiteral("20 6 发现其他教师端"), QStringLiteral("20 4 全部解锁"),
            QStringLiteral("30 1 PC-3") }));
    const QList<LessonRecord::Absence> away = record.absences(EventLogStore::LockedOfflinePrefix);
    QCOMPARE(away.size(), 2);
    QCOMPARE(away.at(0).machine, QStringLiteral("PC-2"));
    QVERIFY(away.at(0).locked && away.at(0).back);
    QCOMPARE(away.at(0).durationMs(), 7 * Minute);
    QVERIFY(!away.at(1).locked && !away.at(1).back);
    QCOMPARE(away.at(1).durationMs(), 60 * Minute);
    QCOMPARE(LessonRecord::durationText(away.at(1).durationMs()), QStringLiteral("1小时00分00秒"));
    QCOMPARE(LessonRecord::durationText(7 * Minute + 5000), QStringLiteral("7分05秒"));
    QCOMPARE(LessonRecord::durationText(12000), QStringLiteral("12秒"));
}

void TestLessonRecord::whoEndsARecord()
{
    Lab lab;
    QVERIFY(!lab.recorder->start(QStringLiteral("全部"), LessonRecord::Origin::Teacher));
    QVERIFY(lab.recorder->start(Room, LessonRecord::Origin::Teacher));
    // A lesson of the week neither starts a second record nor ends the teacher's.
    QVERIFY(!lab.recorder->start(Room, LessonRecord::Origin::Timetable));
    QVERIFY(!lab.recorder->finish(Room, LessonRecord::Origin::Timetable));
    QVERIFY(lab.recorder->isRecording(Room));
    QVERIFY(lab.recorder->finish(Room, LessonRecord::Origin::Teacher));
    QVERIFY(!lab.recorder->finish(Room, LessonRecord::Origin::Teacher));
    // The teacher ends a lesson's record early.
    QVERIFY(lab.recorder->start(Room, LessonRecord::Origin::Timetable));
    QVERIFY(lab.recorder->finish(Room, LessonRecord::Origin::Teacher));
    // A room renamed mid-lesson keeps its record; a deleted one ends it.
    QVERIFY(lab.recorder->start(Other, LessonRecord::Origin::Teacher));
    lab.recorder->renameRoom(Other, QStringLiteral("四号机房"));
    QVERIFY(lab.recorder->isRecording(QStringLiteral("四号机房")));
    lab.log().add(EventLogStore::Command, QStringLiteral("四号机房"), 0, QString(), QStringLiteral("renamed"));
    lab.recorder->removeRoom(QStringLiteral("四号机房"));
    QVERIFY(lab.recorder->recordingRooms().isEmpty());
    const QList<LessonRecordStore::Summary> renamed = lab.store().list(QStringLiteral("四号机房"));
    QCOMPARE(renamed.size(), 1);
    QVERIFY(renamed.first().end_ms != 0);
    QCOMPARE(texts(lab.store().load(renamed.first().id)).mid(1),
        QStringList({ QStringLiteral("0 4 renamed"), QStringLiteral("0 21 分组已删除，记录结束") }));
    QCOMPARE(lab.store().list().size(), 3);
}

void TestLessonRecord::keptByAgeNeverByCount()
{
    Lab lab;
    lab.log().setBounds(3, EventLogStore::DefaultMaxAgeMs);
    QVERIFY(lab.recorder->start(Room, LessonRecord::Origin::Teacher));
    for (int i = 0; i < 20; ++i)
        lab.online(0xA1);
    QVERIFY(lab.recorder->finish(Room, LessonRecord::Origin::Teacher));
    QVERIFY(lab.log().flush());
    QCOMPARE(lab.log().rowCount(), 3);
    const qint64 old = lab.store().list().first().id;
    QCOMPARE(lab.store().load(old).events.size(), 20);
    // An open record outlives the bound; the ended one goes with its age.
    lab.at(10);
    QVERIFY(lab.recorder->start(Other, LessonRecord::Origin::Teacher));
    lab.clock = Nine + 31 * Day;
    lab.reopen();
    QCOMPARE(lab.store().list().size(), 1);
    QCOMPARE(lab.store().load(old).id, 0);
    QCOMPARE(lab.store().openRecords().size(), 1);
}

void TestLessonRecord::restartMidLessonGoesOn()
{
    Lab lab;
    QVERIFY(lab.recorder->start(Room, LessonRecord::Origin::Timetable));
    lab.at(5);
    lab.offline(0xA1, Locked);
    // Stopped without an end: what the log wrote, the record wrote with it
    // (the session's end saves only the log).
    QVERIFY(lab.log().flush());
    QSqlQuery written(QSqlDatabase::database(QStringLiteral("records")));
    QVERIFY(written.exec(QStringLiteral("SELECT count(*) FROM tb_lesson_record_event;")) && written.next());
    QCOMPARE(written.value(0).toInt(), 1);
    lab.at(20);
    lab.reopen();
    QVERIFY(!lab.recorder->isRecording(Room));
    QCOMPARE(lab.recorder->resume(), 1);
    QCOMPARE(lab.recorder->resume(), 0);
    lab.at(21);
    lab.online(0xA1);
    // The lesson's end still ends it: the origin came back with it.
    lab.at(45);
    QVERIFY(lab.recorder->finish(Room, LessonRecord::Origin::Timetable));
    const LessonRecord record = lab.store().load(lab.store().list().first().id);
    QCOMPARE(texts(record),
        QStringList({ QStringLiteral("5 1 PC-1 ") + Locked, QStringLiteral("20 21 教师端重新启动：此前一段时间的事件未能记录"),
            QStringLiteral("21 2 PC-1") }));
    QCOMPARE(record.absences(EventLogStore::LockedOfflinePrefix).first().durationMs(), 16 * Minute);
}

void TestLessonRecord::countedRowFollowsItsCount()
{
    Lab lab;
    QVERIFY(lab.recorder->start(Room, LessonRecord::Origin::Teacher));
    const qint64 row = lab.log().addCounted(EventLogStore::Security, Room, 0, QString(), QStringLiteral("正被解锁：每秒 1 次"),
        SecurityRowBudget::Source::Bounded);
    lab.log().updateDetail(row, QStringLiteral("正被解锁：每秒 2 次"));
    QVERIFY(lab.log().flush());
    lab.log().updateDetail(row, QStringLiteral("正被解锁：每秒 8 次"));
    QVERIFY(lab.log().flush());
    QVERIFY(lab.recorder->finish(Room, LessonRecord::Origin::Teacher));
    QCOMPARE(texts(lab.store().load(lab.store().list().first().id)), QStringList { QStringLiteral("0 6 正被解锁：每秒 8 次") });
}

void TestLessonRecord::boundedPerRecordAndSaysSo()
{
    Lab lab;
    lab.store().setMaxEvents(3);
    QVERIFY(lab.recorder->start(Room, LessonRecord::Origin::Teacher));
    for (int i = 0; i < 5; ++i)
        lab.online(0xA1);
    QVERIFY(lab.recorder->finish(Room, LessonRecord::Origin::Teacher));
    const LessonRecord record = lab.store().load(lab.store().list().first().id);
    QCOMPARE(record.events.size(), 4);
    QCOMPARE(record.events.last().detail, QStringLiteral("另有 2 条事件超出本记录的上限 3 条，未记录"));
}

QTEST_GUILESS_MAIN(TestLessonRecord)
#include "tst_lessonrecord.moc"
