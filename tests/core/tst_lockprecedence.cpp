// Which change of a page's lock wins, by who asked: a table per question,
// without a window.

#include "model/LockPrecedence.h"
#include "model/Rok_Lock_State.h"

#include <QtTest>

Q_DECLARE_METATYPE(LockOrigin)
Q_DECLARE_METATYPE(LockPrecedence::Outcome)
Q_DECLARE_METATYPE(LockPrecedence::Occasion)
Q_DECLARE_METATYPE(LockPrecedence::Step)

namespace {

constexpr int Quiet = Rok_Lock_State::BlackQuiet;
constexpr int Locked = Rok_Lock_State::BlackLock;
constexpr int Keyboard = Rok_Lock_State::KeyboardMouseLock;
const QDateTime Now(QDate(2026, 12, 9), QTime(7, 58), Qt::UTC);

} // namespace

class TestLockPrecedence : public QObject
{
    Q_OBJECT

private slots:
    void changeByOrigin_data();
    void changeByOrigin();
    void timetableStep_data();
    void timetableStep();
    void teacherHoldsUntilNextChange_data();
    void teacherHoldsUntilNextChange();
};

void TestLockPrecedence::changeByOrigin_data()
{
    QTest::addColumn<LockOrigin>("origin");
    QTest::addColumn<int>("current");
    QTest::addColumn<int>("timed");
    QTest::addColumn<LockPrecedence::Outcome>("outcome");
    QTest::addColumn<bool>("endsTimedLock");
    QTest::addColumn<bool>("holdsTimetable");

    using O = LockPrecedence::Outcome;
    QTest::newRow("teacher's press") << LockOrigin::Teacher << 0 << 0 << O::Take << true << true;
    QTest::newRow("teacher's release of a timed lock") << LockOrigin::Teacher << Locked << Locked << O::Take << true
                                                       << true;
    QTest::newRow("mode applied by the teacher") << LockOrigin::LessonMode << Quiet << Locked << O::Take << true
                                                 << true;
    QTest::newRow("timed lock ends its own lock") << LockOrigin::TimedLock << Locked << Locked << O::Take << true
                                                  << false;
    QTest::newRow("timed lock over another lock") << LockOrigin::TimedLock << Keyboard << Locked << O::Ignore << true
                                                  << false;
    QTest::newRow("timed lock on a released page") << LockOrigin::TimedLock << 0 << Locked << O::Ignore << true
                                                   << false;
    QTest::newRow("timed lock no longer running") << LockOrigin::TimedLock << Locked << 0 << O::Ignore << true
                                                  << false;
    QTest::newRow("lesson over a timed lock") << LockOrigin::Timetable << Locked << Locked << O::Take << true
                                              << false;
    QTest::newRow("guard on a locked page") << LockOrigin::Guard << Locked << Locked << O::Restore << false << false;
}

void TestLockPrecedence::changeByOrigin()
{
    QFETCH(LockOrigin, origin);
    QFETCH(int, current);
    QFETCH(int, timed);
    QFETCH(LockPrecedence::Outcome, outcome);
    QFETCH(bool, endsTimedLock);
    QFETCH(bool, holdsTimetable);
    QCOMPARE(LockPrecedence::outcome(origin, current, timed), outcome);
    QCOMPARE(LockPrecedence::endsTimedLock(origin), endsTimedLock);
    QCOMPARE(LockPrecedence::holdsTimetable(origin), holdsTimetable);
}

void TestLockPrecedence::timetableStep_data()
{
    QTest::addColumn<LockPrecedence::Occasion>("occasion");
    QTest::addColumn<QDateTime>("due");
    QTest::addColumn<qint64>("appliedMs");
    QTest::addColumn<bool>("held");
    QTest::addColumn<LockPrecedence::Step>("step");

    using C = LockPrecedence::Occasion;
    using S = LockPrecedence::Step;
    const QDateTime due = Now.addSecs(-60);
    const qint64 earlier = due.addDays(-1).toMSecsSinceEpoch();
    const qint64 same = due.toMSecsSinceEpoch();
    QTest::newRow("scheduled change over the teacher") << C::Scheduled << due << earlier << true << S::Apply;
    QTest::newRow("week saved") << C::WeekEdited << due << earlier << false << S::TakeAsApplied;
    QTest::newRow("week saved while the teacher holds") << C::WeekEdited << due << earlier << true
                                                        << S::TakeAsApplied;
    QTest::newRow("start-up with a change not applied") << C::CatchUp << due << earlier << false << S::Apply;
    QTest::newRow("start-up with it applied") << C::CatchUp << due << same << false << S::Leave;
    QTest::newRow("clock set back while the teacher holds") << C::CatchUp << due << earlier << true << S::Leave;
    QTest::newRow("week without lessons") << C::WeekEdited << QDateTime() << earlier << false << S::Leave;
}

void TestLockPrecedence::timetableStep()
{
    QFETCH(LockPrecedence::Occasion, occasion);
    QFETCH(QDateTime, due);
    QFETCH(qint64, appliedMs);
    QFETCH(bool, held);
    QFETCH(LockPrecedence::Step, step);
    QCOMPARE(LockPrecedence::timetableStep(occasion, due, appliedMs, held), step);
}

void TestLockPrecedence::teacherHoldsUntilNextChange_data()
{
    QTest::addColumn<QDateTime>("until");
    QTest::addColumn<bool>("holds");
    QTest::newRow("before the next change") << Now.addSecs(120) << true;
    QTest::newRow("at the next change") << Now << false;
    QTest::newRow("after it") << Now.addSecs(-1) << false;
    QTest::newRow("no next change") << QDateTime() << true;
}

void TestLockPrecedence::teacherHoldsUntilNextChange()
{
    QFETCH(QDateTime, until);
    QFETCH(bool, holds);
    QCOMPARE(LockPrecedence::teacherHolds(until, Now), holds);
}

QTEST_GUILESS_MAIN(TestLockPrecedence)
#include "tst_lockprecedence.moc"
