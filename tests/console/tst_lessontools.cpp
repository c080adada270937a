// Tools for a lesson: timed locks, released on a driven clock, kept across a
// restart and cancelled by hand.

#include "GroupSettingsFile.h"
#include "InputDialog.h"
#include "TimedLockController.h"
#include "tst_mainwindow_support.h"

#include <QTemporaryDir>
#include <QtTest>

using namespace MainWindowTest;

namespace {

const QString Room = QStringLiteral("一号机房");
const QString Room2 = QStringLiteral("二号机房");
constexpr qint64 Minute = 60 * 1000;
// 2026-12-07 09:00 UTC.
constexpr qint64 LessonStart = 1796634000000LL;

bool seedRooms(const QTemporaryDir& dir)
{
    return seedDatabase(dir.filePath(QStringLiteral("data.sqlite3")), {{Room, 1}, {Room2, 2}},
                        {{0x0A0000000101ULL, QStringLiteral("r1-a"), QStringLiteral("10.0.1.1"), Room}});
}

int storedLockType(const QString& configPath, const QString& group)
{
    QList<GroupSettings> entries;
    GroupSettingsFile::read(configPath, entries);
    for (const GroupSettings& entry : entries)
        if (entry.group_name == group)
            return entry.lock_type;
    return -1;
}

// A console on `clock`, with config.conf and the stored timed locks read.
void start(RokVtxAdmin& window, const qint64& clock)
{
    window.timedLocks()->setClock([&clock] { return clock; });
    window.onSpecialMessage(1);
}

} // namespace

class TestLessonTools : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();

    void timedLockEndsAcrossRestart_data();
    void timedLockEndsAcrossRestart();
    void timedLockCancelledByHandAndWithGroup();
};

void TestLessonTools::initTestCase()
{
    initRokResources();
    registerRokMetaTypes();
}

void TestLessonTools::cleanup()
{
    MessageBox::setNextAnswer(QMessageBox::NoButton);
    InputDialog::clearNextAnswer();
}

void TestLessonTools::timedLockEndsAcrossRestart_data()
{
    QTest::addColumn<int>("downMinutes");
    QTest::addColumn<QString>("leftAfterRestart");
    QTest::newRow("back before the end") << 2 << QStringLiteral("黑屏锁定：还剩 05:00");
    QTest::newRow("end passed while down") << 20 << QString();
}

void TestLessonTools::timedLockEndsAcrossRestart()
{
    QFETCH(int, downMinutes);
    QFETCH(QString, leftAfterRestart);
    QTemporaryDir dir;
    QVERIFY(seedRooms(dir));
    qint64 clock = LessonStart;
    {
        RokVtxAdmin window(dir.path());
        start(window, clock);
        window.tabWidget()->setCurrentIndex(tabIndexOf(window, Room));
        action(window, "action_op_lock_for_10")->trigger();
        QCOMPARE(page(window, Room)->lock_state->lock_type, int(Rok_Lock_State::BlackLock));
        QVERIFY(action(window, "action_op_lock")->isChecked());
        QCOMPARE(window.timedLockText(), QStringLiteral("黑屏锁定：还剩 10:00"));
        clock += 3 * Minute;
        window.timedLocks()->tick();
        QCOMPARE(window.timedLockText(), QStringLiteral("黑屏锁定：还剩 07:00"));
    }

    clock += downMinutes * Minute;
    SendLog log;
    RokVtxAdmin window(dir.path());
    window.tabWidget()->setCurrentIndex(tabIndexOf(window, Room));
    log.watchAll(window);
    start(window, clock);
    QStudentGroupWidget* room = page(window, Room);
    QCOMPARE(window.timedLockText(), leftAfterRestart);
    if (!leftAfterRestart.isEmpty()) {
        QCOMPARE(room->lock_state->lock_type, int(Rok_Lock_State::BlackLock));
        clock += 5 * Minute;
        window.timedLocks()->tick();
    }
    // Released as by the teacher's second press: datagram, check mark, file.
    QCOMPARE(room->lock_state->lock_type, int(Rok_Lock_State::None));
    const QList<SendLog::Sent> locks = log.ofId(Protocol::MSG_ADMIN_LOCK_STATE);
    QVERIFY(!locks.isEmpty());
    QCOMPARE(locks.last().page, room);
    QCOMPARE(lockWord(locks.last().datagram) & 0xFFu, 0u);
    QVERIFY(!action(window, "action_op_lock")->isChecked());
    QVERIFY(window.timedLockText().isEmpty());
    window.saveNow();
    QCOMPARE(storedLockType(window.configPath(), Room), 0);
    QVERIFY(window.timedLocks()->stored().isEmpty());
}

void TestLessonTools::timedLockCancelledByHandAndWithGroup()
{
    QTemporaryDir dir;
    QVERIFY(seedRooms(dir));
    qint64 clock = LessonStart;
    RokVtxAdmin window(dir.path());
    start(window, clock);
    QAction* kbd = action(window, "action_op_lock_kbd_mouse");

    // On "全部", a custom time for every page; a press by hand ends the timers.
    window.tabWidget()->setCurrentIndex(0);
    InputDialog::setNextInt(25);
    action(window, "action_op_lock_kbd_mouse_for_custom")->trigger();
    QCOMPARE(window.timedLockText(), QStringLiteral("键盘鼠标全锁：还剩 25:00"));
    QCOMPARE(page(window, Room2)->lock_state->lock_type, int(Rok_Lock_State::KeyboardMouseLock));
    kbd->trigger();
    QCOMPARE(page(window, Room2)->lock_state->lock_type, int(Rok_Lock_State::None));
    QVERIFY(window.timedLockText().isEmpty());
    kbd->trigger();
    clock += 30 * Minute;
    window.timedLocks()->tick();
    QCOMPARE(page(window, Room2)->lock_state->lock_type, int(Rok_Lock_State::KeyboardMouseLock));

    // A deleted group takes its timer with it.
    window.tabWidget()->setCurrentIndex(tabIndexOf(window, Room));
    action(window, "action_op_lock_kbd_mouse_for_5")->trigger();
    QCOMPARE(window.timedLocks()->stored().size(), 1);
    MessageBox::setNextAnswer(QMessageBox::Yes);
    window.deleteCurrentGroup();
    QVERIFY(window.timedLocks()->stored().isEmpty());
    QVERIFY(!window.timedLocks()->has(Room));
}

QTEST_MAIN(TestLessonTools)
#include "tst_lessontools.moc"
