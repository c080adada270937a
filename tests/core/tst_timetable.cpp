// A page's week of lessons: overlaps refused, a lesson across midnight, the
// state due at an instant, the day's end lock and wake, daylight time; what
// a lesson's end puts back.

#include "model/BeforeLesson.h"
#include "model/Rok_Lock_State.h"
#include "model/Timetable.h"

#include <QTimeZone>
#include <QtTest>

namespace {

TimetableLesson lesson(int weekday, const QTime& start, const QTime& end, const QString& mode,
                       const QString& endMode = QString())
{
    TimetableLesson l;
    l.weekday = weekday;
    l.start = start;
    l.end = end;
    l.start_mode = mode;
    l.end_mode = endMode;
    return l;
}

QDateTime utc(int day, int hour, int minute = 0)
{
    // December 2026: the 7th is a Monday.
    return QDateTime(QDate(2026, 12, day), QTime(hour, minute), Qt::UTC);
}

// A page's set-up: the two switches and the titles switched off.
LessonMode setup(bool manualIp, bool usb, const QStringList& titlesOff = {})
{
    LessonMode mode;
    mode.allowmanualip = manualIp;
    mode.allowusbdrv = usb;
    mode.setDisabled(1, titlesOff);
    return mode;
}

} // namespace

Q_DECLARE_METATYPE(LessonMode)

class TestTimetable : public QObject
{
    Q_OBJECT

private slots:
    void overlapsRefusedWithBothNamed();
    void lessonAcrossMidnight();
    void dueNextAndBackToBack();
    void dayEndLockAndWake();
    void daylightTimeMovesTheInstants();
    void lessonEndPutsBackWhatItsStartChanged_data();
    void lessonEndPutsBackWhatItsStartChanged();
};

void TestTimetable::overlapsRefusedWithBothNamed()
{
    Timetable week;
    week.lessons << lesson(1, QTime(8, 0), QTime(8, 45), QStringLiteral("考试模式"))
                 << lesson(7, QTime(23, 0), QTime(1, 0), QStringLiteral("考试模式"));
    QCOMPARE(week.overlapOf(lesson(1, QTime(8, 30), QTime(9, 15), QStringLiteral("上机"))),
             QStringLiteral("周一 08:30–09:15 与已有的 周一 08:00–08:45 时间重叠。"));
    // Sunday night's lesson runs on into Monday.
    QVERIFY(!week.overlapOf(lesson(1, QTime(0, 30), QTime(0, 50), QStringLiteral("上机"))).isEmpty());
    // One that runs on into a later lesson overlaps it too.
    QVERIFY(!week.overlapOf(lesson(1, QTime(7, 30), QTime(8, 15), QStringLiteral("上机"))).isEmpty());
    // Back to back is no overlap, nor is the lesson being edited with itself.
    QVERIFY(week.overlapOf(lesson(1, QTime(8, 45), QTime(9, 30), QStringLiteral("上机"))).isEmpty());
    QVERIFY(week.overlapOf(lesson(1, QTime(7, 15), QTime(8, 0), QStringLiteral("上机"))).isEmpty());
    QVERIFY(week.overlapOf(lesson(1, QTime(8, 10), QTime(8, 50), QStringLiteral("上机")), 0).isEmpty());
}

void TestTimetable::lessonAcrossMidnight()
{
    Timetable week;
    week.lessons << lesson(1, QTime(22, 0), QTime(1, 0), QStringLiteral("夜课"), QStringLiteral("黑屏锁定"));
    const QList<Timetable::Change> changes = week.changesBetween(utc(7, 21), utc(8, 2));
    QCOMPARE(changes.size(), 2);
    QCOMPARE(changes.at(0).at, utc(7, 22));
    QCOMPARE(changes.at(1).at, utc(8, 1));
    QCOMPARE(changes.at(1).mode, QStringLiteral("黑屏锁定"));
    QCOMPARE(week.due(utc(8, 0, 30)).mode, QStringLiteral("夜课"));
    QCOMPARE(week.due(utc(8, 1, 30)).mode, QStringLiteral("黑屏锁定"));
    // Tuesday holds no lesson of its own; Monday's ends on it.
    QCOMPARE(week.nextChange(utc(7, 23)).at, utc(8, 1));
}

void TestTimetable::dueNextAndBackToBack()
{
    Timetable week;
    QVERIFY(!week.due(utc(7, 9)).isValid());
    week.lessons << lesson(1, QTime(8, 0), QTime(9, 0), QStringLiteral("上机"))
                 << lesson(1, QTime(9, 0), QTime(9, 45), QStringLiteral("考试模式"));
    // At 09:00 the second lesson's start follows the first one's end.
    const QList<Timetable::Change> at9 = week.changesBetween(utc(7, 8, 59), utc(7, 9));
    QCOMPARE(at9.size(), 2);
    QCOMPARE(at9.at(0).kind, Timetable::End);
    QCOMPARE(week.due(utc(7, 9)).mode, QStringLiteral("考试模式"));
    // Between lessons the last end: a release.
    const Timetable::Change after = week.due(utc(7, 12));
    QCOMPARE(after.kind, Timetable::End);
    QVERIFY(after.mode.isEmpty());
    QCOMPARE(after.lock, 0);
    // Before Monday's lessons, last week's end; the next start is at 08:00.
    QCOMPARE(week.due(utc(7, 7)).at, utc(7, 9, 45).addDays(-7));
    QCOMPARE(week.nextChange(utc(7, 7)).at, utc(7, 8));
}

void TestTimetable::dayEndLockAndWake()
{
    Timetable week;
    week.lessons << lesson(2, QTime(10, 0), QTime(10, 45), QStringLiteral("上机"))
                 << lesson(2, QTime(8, 0), QTime(8, 45), QStringLiteral("上机"));
    week.day_end_lock = Rok_Lock_State::BlackLock;
    week.wake_minutes = 15;
    // The day's last end locks; the first keeps its release.
    QCOMPARE(week.due(utc(8, 9)).lock, 0);
    QCOMPARE(week.due(utc(8, 11)).lock, int(Rok_Lock_State::BlackLock));
    const QList<Timetable::Change> morning = week.changesBetween(utc(8, 7), utc(8, 8));
    QCOMPARE(morning.size(), 2);
    QCOMPARE(morning.at(0).kind, Timetable::Wake);
    QCOMPARE(morning.at(0).at, utc(8, 7, 45));
    // Wakes are no state; one is due until its lesson starts.
    QCOMPARE(week.due(utc(8, 7, 50)).kind, Timetable::End);
    QVERIFY(week.wakeDue(utc(8, 7, 50)).isValid());
    QVERIFY(!week.wakeDue(utc(8, 8, 0)).isValid());
    QVERIFY(!week.wakeDue(utc(8, 9, 50)).isValid());
}

void TestTimetable::daylightTimeMovesTheInstants()
{
    const QTimeZone berlin("Europe/Berlin");
    if (!berlin.isValid() || !berlin.hasTransitions())
        QSKIP("no daylight-time data for Europe/Berlin here");
    Timetable week;
    week.lessons << lesson(7, QTime(8, 0), QTime(8, 45), QStringLiteral("上机"))
                 << lesson(7, QTime(2, 30), QTime(4, 0), QStringLiteral("夜课"));
    // The Sundays before and after the clocks go back: 08:00 stays 08:00 on the wall.
    const QDateTime saturdayBefore(QDate(2026, 10, 17), QTime(12, 0), berlin);
    QCOMPARE(week.nextChange(saturdayBefore.addSecs(19 * 3600)).at.toUTC(),
             QDateTime(QDate(2026, 10, 18), QTime(6, 0), Qt::UTC));
    const QDateTime saturdayAfter(QDate(2026, 10, 24), QTime(12, 0), berlin);
    const QList<Timetable::Change> sunday = week.changesBetween(saturdayAfter, saturdayAfter.addDays(1));
    QCOMPARE(sunday.size(), 4);
    QCOMPARE(sunday.at(2).at.toUTC(), QDateTime(QDate(2026, 10, 25), QTime(7, 0), Qt::UTC));
    // In spring 02:30 never shows on the wall: the lesson starts as the clocks reach 03:00.
    const QDateTime springSaturday(QDate(2026, 3, 28), QTime(12, 0), berlin);
    const Timetable::Change skipped = week.nextChange(springSaturday);
    QCOMPARE(skipped.mode, QStringLiteral("夜课"));
    QCOMPARE(skipped.at.toUTC(), QDateTime(QDate(2026, 3, 29), QTime(1, 0), Qt::UTC));
}

void TestTimetable::lessonEndPutsBackWhatItsStartChanged_data()
{
    QTest::addColumn<LessonMode>("before");
    QTest::addColumn<LessonMode>("started"); // as the start left it
    QTest::addColumn<LessonMode>("atEnd"); // as the end finds it
    QTest::addColumn<LessonMode>("back");
    const QString qq = QStringLiteral("QQ");
    const QString game = QStringLiteral("游戏.*");
    QTest::newRow("mode switched USB and an entry off")
        << setup(true, true) << setup(true, false, { qq }) << setup(true, false, { qq }) << setup(true, true);
    QTest::newRow("mode switched an entry on") << setup(false, false, { qq }) << setup(false, false)
                                               << setup(false, false) << setup(false, false, { qq });
    QTest::newRow("teacher's switches in the lesson stay")
        << setup(true, true) << setup(true, false, { qq }) << setup(false, false, { qq, game })
        << setup(false, true, { game });
    QTest::newRow("start changed nothing") << setup(false, true) << setup(false, true) << setup(true, false, { qq })
                                           << setup(true, false, { qq });
}

void TestTimetable::lessonEndPutsBackWhatItsStartChanged()
{
    QFETCH(LessonMode, before);
    QFETCH(LessonMode, started);
    QFETCH(LessonMode, atEnd);
    QFETCH(LessonMode, back);
    const BeforeLesson changed = BeforeLesson::between(before, started);
    QCOMPARE(changed.isEmpty(), before.sameSettings(started));
    QVERIFY(changed.putBack(atEnd).sameSettings(back));

    // Back to back (or the first end missed): a second start from where the
    // first left the page, then one end puts back what came before both.
    const LessonMode second = setup(!started.allowmanualip, started.allowusbdrv, { QStringLiteral("游戏.*") });
    BeforeLesson both = BeforeLesson::between(started, second);
    both.keepEarlier(changed);
    QVERIFY(both.putBack(second).sameSettings(before));
}

QTEST_GUILESS_MAIN(TestTimetable)
#include "tst_timetable.moc"
