// Tools for a lesson: timed locks, released on a driven clock, kept across a
// restart and cancelled by hand; the event log, its bound, the mark of a
// machine lost while locked, and its CSV export; lesson modes from the menu,
// with their marks and config.conf (applied alone: tst_features); the weekly
// timetable, run on a driven clock across restarts, against the teacher's own
// lock, and what a lesson's end puts back (midnight and daylight time:
// tst_timetable); the record of a lesson as the teacher keeps and hands it on
// (its rules without a window: tst_lessonrecord).

#include "dialogs/FileDialog.h"
#include "dialogs/InputDialog.h"
#include "lesson/LessonModes.h"
#include "lesson/LessonRecordPage.h"
#include "lesson/LessonRecords.h"
#include "lesson/LessonRecordsDialog.h"
#include "storage/LessonRecordStore.h"
#include "storage/LessonRecorder.h"
#include "tableview/QtRokTableView.h"
#include "lesson/TimedLockController.h"
#include "log/EventLog.h"
#include "log/EventLogDock.h"
#include "model/MacAddress.h"
#include "policy/QAppWatcherWidget.h"
#include "storage/EventLogStore.h"
#include "storage/GroupSettingsFile.h"
#include "timetable/LessonTimetable.h"
#include "timetable/TimetableEditor.h"
#include "timetable/TimetableRunner.h"
#include "tst_mainwindow_support.h"

#include <QAbstractItemModelTester>
#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QLabel>
#include <QMenu>
#include <QSettings>
#include <QSignalSpy>
#include <QSqlQuery>
#include <QTableWidget>
#include <QTextBrowser>
#include <QTemporaryDir>
#include <QLabel>
#include <QStatusBar>
#include <QtTest>

using namespace MainWindowTest;

namespace {

const QString Room = QStringLiteral("一号机房");
const QString Room2 = QStringLiteral("二号机房");
constexpr qint64 Minute = 60 * 1000;
constexpr qint64 Day = 24 * 60 * Minute;
constexpr quint64 Room1Mac = 0x0A0000000101ULL;
constexpr quint64 Room2Mac = 0x0A0000000201ULL;
// 2026-12-07 09:00 UTC.
constexpr qint64 LessonStart = 1796634000000LL;

// r2-a's own address; under Wine a socket sends from 127.0.0.1 whatever it
// is bound to, and a grouped machine heard elsewhere is an identity conflict.
const char* room2Address()
{
    return underWine() ? "127.0.0.1" : "127.0.2.1";
}

bool seedRooms(const QTemporaryDir& dir)
{
    return seedDatabase(dir.filePath(QStringLiteral("data.sqlite3")), { { Room, 1 }, { Room2, 2 } },
        { { Room1Mac, QStringLiteral("r1-a"), QStringLiteral("10.0.1.1"), Room },
            { Room2Mac, QStringLiteral("r2-a"), QString::fromLatin1(room2Address()), Room2 } });
}

const QString Exam = QStringLiteral("考试模式");

// The rooms with central lists: one entry per list is switched off in modes.
bool seedRoomsWithLists(const QTemporaryDir& dir)
{
    return seedDatabase(dir.filePath(QStringLiteral("data.sqlite3")), { { Room, 1 }, { Room2, 2 } },
        { { Room1Mac, QStringLiteral("r1-a"), QStringLiteral("10.0.1.1"), Room },
            { Room2Mac, QStringLiteral("r2-a"), QStringLiteral("10.0.2.1"), Room2 } },
        { item(1, QStringLiteral("QQ")), item(1, QStringLiteral("游戏.*")), item(2, QStringLiteral("svc")),
            item(3, QStringLiteral("a.exe")), item(3, QStringLiteral("b.exe")) });
}

// Switches a page's entry on or off as the teacher does in its list.
void switchEntry(QStudentGroupWidget* page, int type, const QString& entry, bool on)
{
    const StringItemList items = page->policy_editor->itemsOfType(type);
    for (int row = 0; row < items.size(); ++row)
        if (items.at(row)->str_val == entry)
            page->policy_editor->stateBox(type, row)->setCurrentIndex(on ? 0 : 1);
}

// The entries a page's last policy datagram lists, per type.
std::array<QStringList, 3> sentLists(const SendLog& log, QStudentGroupWidget* page)
{
    Protocol::PolicyContent content;
    const QList<SendLog::Sent> sent = log.ofId(Protocol::MSG_ADMIN_POLICY);
    for (const SendLog::Sent& one : sent)
        if (one.page == page)
            Protocol::parsePolicy(one.datagram, content);
    return content.lists;
}

GroupSettings storedSettings(const QString& configPath, const QString& group)
{
    QList<GroupSettings> entries;
    GroupSettingsFile::read(configPath, entries);
    for (const GroupSettings& entry : entries)
        if (entry.group_name == group)
            return entry;
    return GroupSettings {};
}

// Applies a mode as the teacher does: "操作" > "课堂模式" > "应用课堂模式".
void applyFromMenu(RokVtxAdmin& window, const QString& mode)
{
    QMenu* modes = window.parts().lessonModes->modesMenu();
    emit modes->aboutToShow();
    for (QAction* entry : window.parts().lessonModes->applyMenu()->actions())
        if (entry->text() == mode)
            entry->trigger();
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
    window.core().timedLocks().setClock([&clock] { return clock; });
    window.onSpecialMessage(1);
}

// "kind page machine detail" of every stored event, newest first.
QStringList logged(EventLogStore& log)
{
    log.flush();
    QStringList events;
    QSqlQuery query = log.select(QString(), 0, true);
    while (query.next()) {
        QStringList fields { EventLogStore::kindName(query.value(1).toInt()), query.value(2).toString(),
            query.value(3).toString(), query.value(5).toString() };
        fields.removeAll(QString());
        events << fields.join(QLatin1Char(' '));
    }
    return events;
}

TimetableLesson lessonAt(int weekday, const QTime& start, const QTime& end, const QString& mode,
                         const QString& endMode = QString())
{
    TimetableLesson lesson;
    lesson.weekday = weekday;
    lesson.start = start;
    lesson.end = end;
    lesson.start_mode = mode;
    lesson.end_mode = endMode;
    return lesson;
}

// A week's runner on `wall` and `elapsed`, its changes recorded as
// "page mode log-text" ("下课" for an end without a mode) before they are applied.
LessonTimetable* startWeek(RokVtxAdmin& window, const QDateTime& wall, const qint64& elapsed, QStringList& modes)
{
    auto* week = window.findChild<LessonTimetable*>();
    week->runner()->setClock([&wall] { return wall; }, [&elapsed] { return elapsed; });
    LessonActions actions = week->runner()->lessonActions();
    const auto start = actions.start;
    const auto end = actions.end;
    actions.start = [&modes, start](const QString& page, const QString& mode, const QString& text) {
        modes << QStringLiteral("%1 %2 %3").arg(page, mode, text);
        return start(page, mode, text);
    };
    actions.end = [&modes, end](const QString& page, const QString& mode, int lock, const BeforeLesson& before,
                      const QString& text) {
        modes << QStringLiteral("%1 %2 %3").arg(page, mode.isEmpty() ? QStringLiteral("下课") : mode, text);
        end(page, mode, lock, before, text);
    };
    week->runner()->setActions(actions);
    window.onSpecialMessage(1);
    return week;
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
    void releaseAllAndEveryTimerInSight();
    void eventLogKeepsItsBound();
    void eventLogMarksLockedOfflineAndExports();
    void eventLogDockStaysOpenAcrossRestart();
    void eventLogDockOpenedFromMenuShowsRows();
    void startArrivalsAreOneRowEvidenceStaysOwn();
    void recordOfAnExamSavedAsPdfAndCsv();
    void timetableRestartsMidLessonAndTeacherWins();
    void timetableSavedOverTeachersLock();
    void timetableEndPutsBackWhatTheLessonChanged();
    void timetableEditorAsksWhatTheTeacherMeant();
    void modeSavedFromOnePageAppliedToAnother();
    void modeOnEveryPageAndAcrossRestart();

private:
    QTemporaryDir settings_dir;
};

void TestLessonTools::initTestCase()
{
    initRokResources();
    registerRokMetaTypes();
    // The log dock's state is kept in the program's settings: keep them here.
    QVERIFY(settings_dir.isValid());
    // Without an organization QSettings keeps nothing on Windows.
    QCoreApplication::setOrganizationName(QStringLiteral("RokTests"));
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settings_dir.path());
}

void TestLessonTools::cleanup()
{
    MessageBox::setNextAnswer(QMessageBox::NoButton);
    InputDialog::clearNextAnswer();
    FileDialog::clearNextAnswer();
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
        QCOMPARE(window.parts().lesson->timedLockText(), QStringLiteral("黑屏锁定：还剩 10:00"));
        clock += 3 * Minute;
        window.core().timedLocks().tick();
        QCOMPARE(window.parts().lesson->timedLockText(), QStringLiteral("黑屏锁定：还剩 07:00"));
    }

    clock += downMinutes * Minute;
    SendLog log;
    RokVtxAdmin window(dir.path());
    window.tabWidget()->setCurrentIndex(tabIndexOf(window, Room));
    log.watchAll(window);
    start(window, clock);
    QStudentGroupWidget* room = page(window, Room);
    QCOMPARE(window.parts().lesson->timedLockText(), leftAfterRestart);
    const int roomTab = tabIndexOf(window, Room);
    if (!leftAfterRestart.isEmpty()) {
        QCOMPARE(room->lock_state->lock_type, int(Rok_Lock_State::BlackLock));
        QTRY_COMPARE(tabLocks(window).at(roomTab), QStringLiteral("黑屏锁定"));
        clock += 5 * Minute;
        window.core().timedLocks().tick();
    }
    // Released as by the teacher's second press: datagram, check mark, file.
    QCOMPARE(room->lock_state->lock_type, int(Rok_Lock_State::None));
    const QList<SendLog::Sent> locks = log.ofId(Protocol::MSG_ADMIN_LOCK_STATE);
    QVERIFY(!locks.isEmpty());
    QCOMPARE(locks.last().page, room);
    QCOMPARE(lockWord(locks.last().datagram) & 0xFFu, 0u);
    QVERIFY(!action(window, "action_op_lock")->isChecked());
    QTRY_COMPARE(tabLocks(window).at(roomTab), QString());
    QVERIFY(window.parts().lesson->timedLockText().isEmpty());
    window.saveNow();
    QCOMPARE(storedLockType(window.core().settings().path(), Room), 0);
    QVERIFY(window.core().timedLocks().stored().isEmpty());
}

void TestLessonTools::timedLockCancelledByHandAndWithGroup()
{
    QTemporaryDir dir;
    QVERIFY(seedRooms(dir));
    qint64 clock = LessonStart;
    {
        RokVtxAdmin window(dir.path());
        start(window, clock);
        QAction* kbd = action(window, "action_op_lock_kbd_mouse");

        // On "全部", a custom time for every page; a press by hand ends the timers.
        window.tabWidget()->setCurrentIndex(0);
        InputDialog::setNextInt(25);
        action(window, "action_op_lock_kbd_mouse_for_custom")->trigger();
        QCOMPARE(window.parts().lesson->timedLockText(), QStringLiteral("键盘鼠标全锁：还剩 25:00"));
        QCOMPARE(page(window, Room2)->lock_state->lock_type, int(Rok_Lock_State::KeyboardMouseLock));
        kbd->trigger();
        QCOMPARE(page(window, Room2)->lock_state->lock_type, int(Rok_Lock_State::None));
        QVERIFY(window.parts().lesson->timedLockText().isEmpty());
        kbd->trigger();
        clock += 30 * Minute;
        window.core().timedLocks().tick();
        QCOMPARE(page(window, Room2)->lock_state->lock_type, int(Rok_Lock_State::KeyboardMouseLock));

        // A deleted group takes its timer and its week with it: a new group of
        // the same name starts without them.
        window.tabWidget()->setCurrentIndex(tabIndexOf(window, Room));
        action(window, "action_op_lock_kbd_mouse_for_5")->trigger();
        QCOMPARE(window.core().timedLocks().stored().size(), 1);
        Timetable week;
        week.lessons << lessonAt(1, QTime(8, 0), QTime(8, 45), LessonTools::lockName(Rok_Lock_State::BlackLock));
        window.findChild<LessonTimetable*>()->runner()->setTimetable(Room, week);
        MessageBox::setNextAnswer(QMessageBox::Yes);
        action(window, "action_op_remove_group")->trigger();
        QCOMPARE(MessageBox::lastText(), QStringLiteral("一号机房 的 1 台机器将移到未分组，它的课表和定时锁定将被删除。\n"
                                                        "确实需要删除分组“一号机房”？"));
        QVERIFY(window.core().timedLocks().stored().isEmpty());
        QVERIFY(!window.core().timedLocks().has(Room));
        QVERIFY(window.findChild<LessonTimetable*>()->runner()->timetable(Room).isEmpty());
        window.saveNow();
    }
    RokVtxAdmin window(dir.path());
    start(window, clock);
    QVERIFY(window.findChild<LessonTimetable*>()->runner()->timetable(Room).isEmpty());
}

void TestLessonTools::releaseAllAndEveryTimerInSight()
{
    QTemporaryDir dir;
    QVERIFY(seedRooms(dir));
    qint64 clock = LessonStart;
    RokVtxAdmin window(dir.path());
    start(window, clock);

    // Two rooms under different timed locks: no tab hides the other's timer.
    window.tabWidget()->setCurrentIndex(tabIndexOf(window, Room));
    action(window, "action_op_lock_for_10")->trigger();
    window.tabWidget()->setCurrentIndex(tabIndexOf(window, Room2));
    action(window, "action_op_lock_kbd_mouse_for_5")->trigger();
    QCOMPARE(window.parts().lesson->timedLockText(), QStringLiteral("键盘鼠标全锁：还剩 05:00（另有 1 个定时锁定）"));
    window.tabWidget()->setCurrentIndex(tabIndexOf(window, QStringLiteral("未分组")));
    QCOMPARE(window.parts().lesson->timedLockText(), QStringLiteral("二号机房 键盘鼠标全锁：还剩 05:00（另有 1 个定时锁定）"));
    QCOMPARE(window.parts().lesson->timedLockToolTip(),
        QStringLiteral("一号机房：黑屏锁定，还剩 10:00\n二号机房：键盘鼠标全锁，还剩 05:00"));

    // The status bar names the tab's lock in words, on "全部" every room's.
    const auto lockWords = [&window] {
        auto* label = window.findChild<QLabel*>(QStringLiteral("lock_status"));
        return label ? label->text() : QStringLiteral("(none)");
    };
    QTRY_COMPARE(lockWords(), QStringLiteral("未锁定"));
    window.tabWidget()->setCurrentIndex(tabIndexOf(window, Room));
    QTRY_COMPARE(lockWords(), QStringLiteral("黑屏锁定"));
    // A press on the tab in front changes the words without a tab change.
    action(window, "action_op_lock")->trigger();
    QTRY_COMPARE(lockWords(), QStringLiteral("未锁定"));
    action(window, "action_op_lock")->trigger();
    QTRY_COMPARE(lockWords(), QStringLiteral("黑屏锁定"));

    // On "全部" the lock buttons show none pressed; one press releases all.
    window.tabWidget()->setCurrentIndex(0);
    QTRY_COMPARE(lockWords(), QStringLiteral("黑屏锁定：一号机房；键盘鼠标全锁：二号机房；其余未锁定"));
    QVERIFY(!action(window, "action_op_lock")->isChecked());
    SendLog log;
    log.watchAll(window);
    action(window, "action_op_unlock_all")->trigger();
    for (const QString& name : { Room, Room2 })
        QCOMPARE(page(window, name)->lock_state->lock_type, int(Rok_Lock_State::None));
    QSet<QStudentGroupWidget*> released;
    for (const SendLog::Sent& sent : log.ofId(Protocol::MSG_ADMIN_LOCK_STATE))
        if ((lockWord(sent.datagram) & 0xFFu) == 0)
            released << sent.page;
    QVERIFY(released.contains(page(window, Room)) && released.contains(page(window, Room2)));
    QVERIFY(window.core().timedLocks().pages().isEmpty());
    QVERIFY(window.core().timedLocks().stored().isEmpty());
    QVERIFY(window.parts().lesson->timedLockText().isEmpty());
    QVERIFY(logged(window.core().tables().eventLog()).contains(QStringLiteral("命令 全部 全部解锁")));
    QCOMPARE(window.statusBar()->currentMessage(), QStringLiteral("全部解锁：已解锁 2 个机房"));
    QTRY_COMPARE(lockWords(), QStringLiteral("全部未锁定"));
    action(window, "action_op_unlock_all")->trigger();
    QCOMPARE(window.statusBar()->currentMessage(), QStringLiteral("全部解锁：没有锁定的机房"));
    window.saveNow();
    QCOMPARE(storedLockType(window.core().settings().path(), Room), 0);
    QCOMPARE(storedLockType(window.core().settings().path(), Room2), 0);
}

void TestLessonTools::eventLogKeepsItsBound()
{
    QTemporaryDir dir;
    qint64 clock = LessonStart - 31 * Day;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("log-bound"));
        db.setDatabaseName(dir.filePath(QStringLiteral("data.sqlite3")));
        QVERIFY(db.open());
        EventLogStore log;
        log.setClock([&clock] { return clock; });
        log.setBounds(8, EventLogStore::DefaultMaxAgeMs);
        QVERIFY(log.open(db));
        const auto add = [&log](int from, int to) {
            for (int i = from; i < to; ++i)
                log.add(EventLogStore::Online, Room, 0, QString(), QString::number(i));
            return log.flush();
        };
        QVERIFY(add(0, 3));
        // A month later the old rows go by age, then the oldest by count;
        // evidence goes only by age, and a counted row keeps its place.
        clock = LessonStart;
        log.add(EventLogStore::Offline, Room, 0, QString(), EventLogStore::LockedOfflinePrefix);
        log.add(EventLogStore::Command, Room, 0, QString(), QStringLiteral("c"));
        const qint64 counted = log.addCounted(EventLogStore::Security, Room, 0, QString(), QStringLiteral("s 1"));
        QVERIFY(add(3, 10));
        log.updateDetail(counted, QStringLiteral("s 2"));
        QCOMPARE(log.rowCount(), 10);
        QVERIFY(add(10, 13));
        log.updateDetail(counted, QStringLiteral("s 3"));
        QVERIFY(log.flush());
        QCOMPARE(logged(log).value(0), QStringLiteral("上线 一号机房 12"));
        QCOMPARE(logged(log).value(4), QStringLiteral("上线 一号机房 8"));
        QCOMPARE(logged(log).mid(8), QStringList({ QStringLiteral("安全 一号机房 s 3"), QStringLiteral("命令 一号机房 c"),
                                          QStringLiteral("离线 一号机房 锁定中断开") }));
        QCOMPARE(log.rowCount(), 11);
        // "安全" rows have a bound of their own, the oldest out first; a
        // room's filter shows those aimed at every room, not other rows of
        // "全部".
        log.setBounds(8, EventLogStore::DefaultMaxAgeMs, 2);
        log.add(EventLogStore::Security, QStringLiteral("全部"), 0, QString(), QStringLiteral("s 4"));
        log.add(EventLogStore::Command, QStringLiteral("全部"), 0, QString(), QStringLiteral("c 2"));
        log.add(EventLogStore::Security, Room2, 0, QString(), QStringLiteral("s 5"));
        const auto details = [&log](const QString& page, int kind) {
            log.flush();
            QStringList found;
            QSqlQuery query = log.select(page, kind, true);
            while (query.next())
                found << query.value(5).toString();
            return found;
        };
        QCOMPARE(details(QString(), EventLogStore::Security), QStringList({ QStringLiteral("s 5"), QStringLiteral("s 4") }));
        QCOMPARE(details(Room, 0).mid(0, 2), QStringList({ QStringLiteral("s 4"), QStringLiteral("12") }));
        QVERIFY(!details(Room, 0).contains(QStringLiteral("c 2")));
        // At a start after another month, nothing is left.
        clock += 31 * Day;
        EventLogStore reopened;
        reopened.setClock([&clock] { return clock; });
        QVERIFY(reopened.open(db));
        QCOMPARE(reopened.rowCount(), 0);
        log.close();
        reopened.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("log-bound"));
}

void TestLessonTools::eventLogMarksLockedOfflineAndExports()
{
    QTemporaryDir dir;
    QVERIFY(seedRooms(dir));
    qint64 clock = LessonStart;
    RokVtxAdmin window(dir.path());
    start(window, clock);
    EventLogStore& log = window.core().tables().eventLog();
    window.tabWidget()->setCurrentIndex(tabIndexOf(window, Room));
    action(window, "action_op_lock")->trigger();

    // Off line by the registry's report, as the worker thread sends it.
    QSignalSpy tray(&window, &RokVtxAdmin::sg_tray_message);
    window.parts().overview->machinesWentOffline(
        { window.core().registry().findMachine(Room1Mac), window.core().registry().findMachine(Room2Mac) });
    QVERIFY(tray.wait(10000));
    QCOMPARE(tray.first().at(1).toString(), QStringLiteral("2 台机器离线：r1-a（锁定中断开）、r2-a"));
    // Back, and a newcomer, from the network thread.
    UdpServer back;
    UdpServer newcomer;
    QVERIFY(registerFrom(back, Room2Mac, QStringLiteral("r2-a"), room2Address()));
    QVERIFY(registerFrom(newcomer, 0x0A0000000301ULL, QStringLiteral("new")));
    QTRY_COMPARE(logged(log).size(), 5);
    QStringList events = logged(log);
    std::sort(events.begin(), events.begin() + 2); // the two datagrams race
    QCOMPARE(events,
        (QStringList { QStringLiteral("上线 二号机房 r2-a"), QStringLiteral("注册 未分组 new"),
            QStringLiteral("离线 二号机房 r2-a"), QStringLiteral("离线 一号机房 r1-a 锁定中断开（黑屏锁定）"),
            QStringLiteral("命令 一号机房 黑屏锁定") }));

    // The dock, filtered to one kind, exports what it shows.
    action(window, "action_view_event_log")->trigger();
    EventLogDock* dock = window.parts().lesson->eventLogDock();
    QAbstractItemModelTester tester(dock->model());
    dock->setFilter(QString(), EventLogStore::Offline);
    QCOMPARE(dock->model()->rowCount(), 2);
    QVERIFY(window.core().registry().saveAll()); // the rows it reads do not hold the database
    const QString path = dir.filePath(QStringLiteral("日志.csv"));
    FileDialog::setNextSaveFileName(path);
    dock->exportCsv();
    const QList<QByteArray> lines = fileBytes(path).split('\n');
    QCOMPARE(lines.size(), 4); // three lines and the empty rest
    QCOMPARE(lines.at(0), QByteArray("\xEF\xBB\xBF时间,类型,页面,机器,MAC地址,内容\r"));
    QCOMPARE(QString::fromUtf8(lines.at(2)).section(QLatin1Char(','), 1),
        QStringLiteral("离线,一号机房,r1-a,%1,锁定中断开（黑屏锁定）\r").arg(MacAddress::toDisplay(Room1Mac)));
}

void TestLessonTools::eventLogDockStaysOpenAcrossRestart()
{
    QTemporaryDir dir;
    QVERIFY(seedRooms(dir));
    QSettings().remove(QStringLiteral("view/eventLog"));
    {
        // Shown, as the window going away takes its docks down.
        RokVtxAdmin window(dir.path());
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        action(window, "action_view_event_log")->trigger();
    }
    RokVtxAdmin window(dir.path());
    QVERIFY(!window.parts().lesson->eventLogDock()->isHidden());
    window.parts().lesson->eventLogDock()->close();
}

void TestLessonTools::eventLogDockOpenedFromMenuShowsRows()
{
    QTemporaryDir dir;
    QVERIFY(seedRooms(dir));
    QSettings().remove(QStringLiteral("view/eventLog"));
    qint64 clock = LessonStart;
    RokVtxAdmin window(dir.path());
    start(window, clock);
    // A row under a name no tab has any more.
    window.core().tables().eventLog().add(EventLogStore::Command, QStringLiteral("旧机房"), 0, QString(), QStringLiteral("x"));
    window.core().tables().eventLog().flush();
    window.tabWidget()->setCurrentIndex(tabIndexOf(window, Room));
    action(window, "action_op_lock")->trigger();

    // As the menu opens it: the toggle alone, nothing after it reads again.
    action(window, "action_view_event_log")->trigger();
    QCOMPARE(window.parts().lesson->eventLogDock()->model()->index(0, 5).data().toString(), QStringLiteral("黑屏锁定"));
    // The page filter: every page, then the tabs in order, then former names.
    auto* filter = window.parts().lesson->eventLogDock()->findChild<QComboBox*>(QStringLiteral("event_log_page_filter"));
    QStringList offered;
    for (int i = 0; i < filter->count(); ++i)
        offered << filter->itemText(i);
    QCOMPARE(offered, (QStringList { "所有页面", "全部", Room, Room2, "未分组", "旧机房" }));
    window.parts().lesson->eventLogDock()->close();
}

void TestLessonTools::startArrivalsAreOneRowEvidenceStaysOwn()
{
    QTemporaryDir dir;
    qint64 clock = LessonStart;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("log-start"));
        db.setDatabaseName(dir.filePath(QStringLiteral("data.sqlite3")));
        QVERIFY(db.open());
        EventLogStore store;
        store.setClock([&clock] { return clock; });
        QVERIFY(store.open(db));
        QTabWidget tabs;
        PageDirectory pages(&tabs);
        EventLog log(store, pages, [] { return 0; }, nullptr);
        const auto machine = [](quint64 mac, const QString& name) {
            auto record = std::make_shared<CStuInfo>();
            record->ullmac = mac;
            record->hostname = name;
            record->group_name = Room;
            return record;
        };
        const CStuInfo_PTR a = machine(1, "a"), b = machine(2, "b"), c = machine(3, "c"), d = machine(4, "d");

        clock += 1000;
        log.online(a);
        log.online(b);
        log.offline(c);
        log.online(c); // back from off line: evidence of its own
        log.online(a); // heard again: its own row
        clock = LessonStart + EventLog::StartupMs - 1;
        log.online(d);
        QCOMPARE(logged(store),
            (QStringList { "上线 一号机房 a", "上线 一号机房 c", "离线 一号机房 c", "上线 全部 启动：3 台上线" }));
        clock = LessonStart + EventLog::StartupMs;
        log.online(b);
        QCOMPARE(logged(store).value(0), QStringLiteral("上线 一号机房 b"));
        QCOMPARE(logged(store).size(), 5);
    }
    QSqlDatabase::removeDatabase(QStringLiteral("log-start"));
}

// 二号机房 as an exam: started by hand, locked, one machine lost while locked
// and back 7 minutes later, ended; then the list, the page, PDF and CSV.
void TestLessonTools::recordOfAnExamSavedAsPdfAndCsv()
{
    QTemporaryDir dir;
    QVERIFY(seedRooms(dir));
    FileDialog::forgetFolder(LessonRecordPage::FolderKind);
    qint64 clock = LessonStart;
    RokVtxAdmin window(dir.path());
    window.core().tables().eventLog().setClock([&clock] { return clock; });
    start(window, clock);
    QAction* begin = action(window, "action_op_record_start");
    QAction* finish = action(window, "action_op_record_finish");
    emit window.findChild<QMenu*>(QStringLiteral("menu_A"))->aboutToShow();
    QVERIFY(!begin->isEnabled()); // not on "全部"
    window.tabWidget()->setCurrentIndex(tabIndexOf(window, Room2));
    QVERIFY(begin->isEnabled() && !finish->isEnabled());
    begin->trigger();
    QVERIFY(!begin->isEnabled() && finish->isEnabled());
    QCOMPARE(window.findChild<QLabel*>(QStringLiteral("recordStatus"))->text(), QStringLiteral("● 记录中：二号机房"));
    clock += Minute;
    action(window, "action_op_lock")->trigger();
    clock += 9 * Minute;
    window.parts().overview->machinesWentOffline({ window.core().registry().findMachine(Room2Mac) });
    QTRY_COMPARE(logged(window.core().tables().eventLog()).value(0), QStringLiteral("离线 二号机房 r2-a 锁定中断开（黑屏锁定）"));
    clock += 7 * Minute;
    UdpServer back;
    QVERIFY(registerFrom(back, Room2Mac, QStringLiteral("r2-a"), room2Address()));
    QTRY_COMPARE(logged(window.core().tables().eventLog()).value(0), QStringLiteral("上线 二号机房 r2-a"));
    // Another room's rows are not this record's.
    window.tabWidget()->setCurrentIndex(tabIndexOf(window, Room));
    action(window, "action_op_lock")->trigger();
    window.tabWidget()->setCurrentIndex(tabIndexOf(window, Room2));
    clock += 73 * Minute;
    finish->trigger();
    QVERIFY(begin->isEnabled() && !finish->isEnabled());

    action(window, "action_op_records")->trigger();
    auto* list = window.findChild<LessonRecordsDialog*>();
    QVERIFY(list && list->isVisible());
    QCOMPARE(list->table()->getRowCount(), 1);
    QCOMPARE(list->roomFilter()->count(), 2); // every room, and those with records
    list->roomFilter()->setCurrentText(Room2);
    list->dayFilterOn()->setChecked(true);
    list->dayFilter()->setDate(QDateTime::fromMSecsSinceEpoch(LessonStart).date().addDays(1));
    QCOMPARE(list->table()->getRowCount(), 0);
    list->dayFilterOn()->setChecked(true);
    list->dayFilter()->setDate(QDateTime::fromMSecsSinceEpoch(LessonStart).date());
    QCOMPARE(list->table()->getRowCount(), 1);
    QCOMPARE(list->table()->model()->index(0, 3).data().toString(), QStringLiteral("1小时30分00秒"));
    LessonRecordPage* page = list->openRow(0);
    QVERIFY(page);
    const QString text = page->browser()->toPlainText();
    for (const QString& part : { QStringLiteral("课堂记录：二号机房"), QStringLiteral("开始时在线 0 / 1 台，结束时在线 1 / 1 台"),
             QStringLiteral("离线 1 次，其中锁定中断开 1 次"), QStringLiteral("黑屏锁定（来源：教师）"),
             QStringLiteral("7分00秒") })
        QVERIFY2(text.contains(part), qPrintable(part));
    QVERIFY(!text.contains(QStringLiteral("r1-a")));

    // Into a folder of the teacher's choice, remembered for the next file.
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("exams")));
    const QString pdf = dir.filePath(QStringLiteral("exams/room2"));
    FileDialog::setNextSaveFileName(pdf);
    QCOMPARE(page->savePdf(), pdf + QStringLiteral(".pdf"));
    QVERIFY(fileBytes(pdf + QStringLiteral(".pdf")).startsWith("%PDF"));
    QCOMPARE(FileDialog::folderFor(LessonRecordPage::FolderKind), dir.filePath(QStringLiteral("exams")));
    const QString csv = dir.filePath(QStringLiteral("exams/room2.csv"));
    FileDialog::setNextSaveFileName(csv);
    QCOMPARE(page->saveCsv(), csv);
    const QStringList lines = QString::fromUtf8(fileBytes(csv)).split(QStringLiteral("\r\n"));
    QVERIFY(fileBytes(csv).startsWith("\xEF\xBB\xBF"));
    QCOMPARE(lines.at(0), QStringLiteral("类别,时间,机器,MAC地址,机位,详情"));
    const auto local = [](qint64 ms, const char* format) {
        return QDateTime::fromMSecsSinceEpoch(ms).toString(QString::fromLatin1(format));
    };
    const qint64 away = LessonStart + 10 * Minute;
    QVERIFY(lines.contains(QStringLiteral("离线记录,%1,r2-a,%2,,%3 离线，%4 回来，共 7分00秒（锁定中断开）")
                               .arg(local(away, "yyyy-MM-dd HH:mm:ss"), MacAddress::toDisplay(Room2Mac),
                                   local(away, "HH:mm:ss"), local(away + 7 * Minute, "HH:mm:ss"))));
    page->close();
    list->close();
}

void TestLessonTools::timetableRestartsMidLessonAndTeacherWins()
{
    QTemporaryDir dir;
    QVERIFY(seedRooms(dir));
    const QString quiet = LessonTools::lockName(Rok_Lock_State::BlackQuiet);
    const QString locked = LessonTools::lockName(Rok_Lock_State::BlackLock);
    // Monday 2026-12-07.
    QDateTime wall(QDate(2026, 12, 7), QTime(7, 0), Qt::UTC);
    qint64 elapsed = 0;
    QStringList modes;
    {
        RokVtxAdmin window(dir.path());
        Timetable week;
        week.lessons << lessonAt(1, QTime(8, 0), QTime(8, 45), quiet)
                     << lessonAt(1, QTime(9, 0), QTime(9, 45), locked, quiet);
        startWeek(window, wall, elapsed, modes)->runner()->setTimetable(Room, week);
        window.saveNow();
        // Saving the week applies nothing and logs no lesson.
        QVERIFY(modes.isEmpty());
        QVERIFY(logged(window.core().tables().eventLog()).filter(QStringLiteral("课表")).isEmpty());
    }
    // Back in the middle of the second lesson: its start, once, not the morning's changes.
    wall.setTime(QTime(9, 20));
    {
        RokVtxAdmin window(dir.path());
        LessonTimetable* week = startWeek(window, wall, elapsed, modes);
        QCOMPARE(modes, QStringList { QStringLiteral("一号机房 黑屏锁定 课表：周一 09:00–09:45") });
        QCOMPARE(page(window, Room)->lock_state->lock_type, int(Rok_Lock_State::BlackLock));
        QCOMPARE(logged(window.core().tables().eventLog()).value(0), QStringLiteral("课表 一号机房 课表：周一 09:00–09:45：黑屏锁定"));
        window.tabWidget()->setCurrentIndex(tabIndexOf(window, Room));
        QCOMPARE(week->nextChangeText(), QStringLiteral("下一节：周一 09:45 下课（黑屏安静）"));
        // Offered once the room's tab is in front (it followed the tab before the window knew it).
        QVERIFY(action(window, "action_op_timetable")->isEnabled());
        // The timetable's own changes hold nothing: a clock set back and forth takes what is due.
        for (const QTime& at : { QTime(8, 30), QTime(9, 20) }) {
            wall.setTime(at);
            elapsed += 1000;
            week->runner()->tick();
        }
        QCOMPARE(modes.mid(1), (QStringList { QStringLiteral("一号机房 黑屏安静 课表：周一 08:00–08:45"),
                                   QStringLiteral("一号机房 黑屏锁定 课表：周一 09:00–09:45") }));
        // The teacher's release stands through a clock set back into the first lesson...
        action(window, "action_op_lock")->trigger();
        QCOMPARE(page(window, Room)->lock_state->lock_type, int(Rok_Lock_State::None));
        wall.setTime(QTime(8, 30));
        elapsed += 1000;
        week->runner()->tick();
        QCOMPARE(page(window, Room)->lock_state->lock_type, int(Rok_Lock_State::None));
        // ...until the next change, which alone is applied.
        modes.clear();
        wall.setTime(QTime(9, 45));
        elapsed += 1000;
        week->runner()->tick();
        QCOMPARE(modes, QStringList { QStringLiteral("一号机房 黑屏安静 课表：周一 09:00–09:45") });
        QCOMPARE(page(window, Room)->lock_state->lock_type, int(Rok_Lock_State::BlackQuiet));
        // Each lesson applied had its record, the last one ended by its end.
        QVERIFY(!window.findChild<LessonRecords*>()->recorder()->isRecording(Room));
        const QList<LessonRecordStore::Summary> records = window.core().tables().lessonRecords().list(Room);
        QCOMPARE(records.size(), 3);
        QCOMPARE(records.first().title, QStringLiteral("课表：周一 09:00–09:45"));
        QVERIFY(records.first().end_ms != 0);
        window.saveNow();
    }
    // A restart applies nothing already applied.
    modes.clear();
    wall.setTime(QTime(9, 50));
    RokVtxAdmin window(dir.path());
    LessonTimetable* week = startWeek(window, wall, elapsed, modes);
    QVERIFY(modes.isEmpty());
    window.tabWidget()->setCurrentIndex(tabIndexOf(window, Room));
    QCOMPARE(week->nextChangeText(), QStringLiteral("下一节：下周一 08:00 黑屏安静"));
}

void TestLessonTools::timetableSavedOverTeachersLock()
{
    QTemporaryDir dir;
    QVERIFY(seedRooms(dir));
    // Tuesday 2026-12-08, two minutes before the lessons would start.
    QDateTime wall(QDate(2026, 12, 8), QTime(7, 58), Qt::UTC);
    qint64 elapsed = 0;
    QStringList modes;
    QStudentGroupWidget* room = nullptr;
    {
        RokVtxAdmin window(dir.path());
        LessonTimetable* week = startWeek(window, wall, elapsed, modes);
        room = page(window, Room);
        window.tabWidget()->setCurrentIndex(tabIndexOf(window, Room));
        action(window, "action_op_keep_quiet")->trigger();

        // Wednesday's lesson and a lock after each day's last one, saved with "确定".
        action(window, "action_op_timetable")->trigger();
        auto* editor = window.findChild<TimetableEditor*>();
        const QString locked = LessonTools::lockName(Rok_Lock_State::BlackLock);
        QVERIFY(editor->addLesson(lessonAt(3, QTime(8, 0), QTime(8, 45), locked)));
        editor->findChildren<QCheckBox*>().last()->setChecked(true);
        // The grid shows what the day's last lesson ends with.
        QCOMPARE(editor->grid()->item(0, 2)->text(), QStringLiteral("08:00–08:45\n黑屏锁定\n→ 黑屏锁定"));
        editor->accept();
        QCOMPARE(week->runner()->timetable(Room).day_end_lock, int(Rok_Lock_State::BlackLock));
        QCOMPARE(room->lock_state->lock_type, int(Rok_Lock_State::BlackQuiet));
        QVERIFY(modes.isEmpty());
        QCOMPARE(week->nextChangeText(), QStringLiteral("下一节：周三 08:00 黑屏锁定"));
        window.saveNow();
    }
    // Nor does a restart undo the teacher's lock; the lesson's start does.
    RokVtxAdmin window(dir.path());
    LessonTimetable* week = startWeek(window, wall, elapsed, modes);
    room = page(window, Room);
    QCOMPARE(room->lock_state->lock_type, int(Rok_Lock_State::BlackQuiet));
    QVERIFY(modes.isEmpty());
    wall = wall.addDays(1).addSecs(120);
    elapsed += Day + 2 * Minute;
    week->runner()->tick();
    QCOMPARE(room->lock_state->lock_type, int(Rok_Lock_State::BlackLock));
}

void TestLessonTools::timetableEndPutsBackWhatTheLessonChanged()
{
    QTemporaryDir dir;
    QVERIFY(seedRoomsWithLists(dir));
    QDateTime wall(QDate(2026, 12, 7), QTime(7, 50), Qt::UTC);
    qint64 elapsed = 0;
    QStringList modes;
    {
        // "考试模式": keyboard and mouse locked, no USB drives, "QQ" watched.
        RokVtxAdmin window(dir.path());
        LessonTimetable* week = startWeek(window, wall, elapsed, modes);
        QStudentGroupWidget* room = page(window, Room);
        window.tabWidget()->setCurrentIndex(tabIndexOf(window, Room));
        room->setLockType(Rok_Lock_State::KeyboardMouseLock);
        room->setAllowUsbDrv(false);
        QVERIFY(window.parts().lessonModes->saveCurrent(Exam).isEmpty());
        // Before the lesson: USB drives allowed, "QQ" switched off.
        room->setLockType(Rok_Lock_State::None);
        room->setAllowUsbDrv(true);
        switchEntry(room, 1, QStringLiteral("QQ"), false);
        Timetable lessons;
        const QString locked = LessonTools::lockName(Rok_Lock_State::BlackLock);
        // The second lesson follows the first at once: the first's end is never applied.
        lessons.lessons << lessonAt(1, QTime(8, 0), QTime(8, 45), Exam)
                        << lessonAt(1, QTime(8, 45), QTime(9, 30), locked)
                        << lessonAt(1, QTime(9, 40), QTime(9, 45), locked, Exam);
        week->runner()->setTimetable(Room, lessons);
        wall.setTime(QTime(8, 0));
        elapsed += 10 * Minute;
        week->runner()->tick();
        // The whole mode, not only its lock, logged as the timetable's.
        QVERIFY(!room->lock_state->allowusbdrv.load());
        QVERIFY(!room->policy_editor->disabledSet(1).contains(QStringLiteral("QQ")));
        QCOMPARE(logged(window.core().tables().eventLog()).value(0), QStringLiteral("课表 一号机房 课表：周一 08:00–08:45：考试模式"));
        window.saveNow();
    }
    // Back in the lesson after a restart; the lessons' end puts back what the first start changed.
    wall.setTime(QTime(8, 20));
    RokVtxAdmin window(dir.path());
    SendLog log;
    log.watchAll(window);
    LessonTimetable* week = startWeek(window, wall, elapsed, modes);
    QStudentGroupWidget* room = page(window, Room);
    for (const QTime& at : { QTime(8, 45), QTime(9, 30) }) {
        elapsed += wall.time().msecsTo(at);
        wall.setTime(at);
        week->runner()->tick();
    }
    QCOMPARE(room->lock_state->lock_type, int(Rok_Lock_State::None));
    QVERIFY(room->lock_state->allowusbdrv.load());
    QCOMPARE(sentLists(log, room).at(0), QStringList { QStringLiteral("游戏.*") });
    QCOMPARE(logged(window.core().tables().eventLog()).value(0),
        QStringLiteral("课表 一号机房 课表：周一 08:45–09:30 解除锁定，恢复课前设置"));
    // An end that names a saved mode applies it whole.
    for (const QTime& at : { QTime(9, 40), QTime(9, 45) }) {
        elapsed += wall.time().msecsTo(at);
        wall.setTime(at);
        week->runner()->tick();
    }
    QCOMPARE(room->lock_state->lock_type, int(Rok_Lock_State::KeyboardMouseLock));
    QVERIFY(!room->lock_state->allowusbdrv.load());
}

void TestLessonTools::timetableEditorAsksWhatTheTeacherMeant()
{
    QTemporaryDir dir;
    QVERIFY(seedRooms(dir));
    RokVtxAdmin window(dir.path());
    // Wednesday 2026-12-09.
    QDateTime wall(QDate(2026, 12, 9), QTime(7, 0), Qt::UTC);
    qint64 elapsed = 0;
    QStringList modes;
    LessonTimetable* week = startWeek(window, wall, elapsed, modes);
    QVERIFY(!action(window, "action_op_timetable")->isEnabled()); // "全部" has no week of its own
    window.tabWidget()->setCurrentIndex(tabIndexOf(window, Room));
    action(window, "action_op_timetable")->trigger();
    auto* editor = window.findChild<TimetableEditor*>();
    QVERIFY(editor);
    // A new lesson is today's.
    QString day;
    whenModal<QDialog>(editor, [&day](QDialog* dialog) {
        day = dialog->findChild<QComboBox*>()->currentText();
        dialog->reject();
    });
    for (QPushButton* button : editor->findChildren<QPushButton*>())
        if (button->text() == QStringLiteral("添加..."))
            button->click();
    QCOMPARE(day, QStringLiteral("周三"));

    const QString locked = LessonTools::lockName(Rok_Lock_State::BlackLock);
    QVERIFY(editor->addLesson(lessonAt(1, QTime(8, 0), QTime(8, 45), locked)));
    MessageBox::setNextAnswer(QMessageBox::Ok);
    QVERIFY(!editor->addLesson(lessonAt(1, QTime(8, 30), QTime(9, 15), QStringLiteral("黑屏安静"))));
    QVERIFY(MessageBox::lastText().startsWith(QStringLiteral("周一 08:30–09:15 与已有的 周一 08:00–08:45 时间重叠。")));
    // An end before the start is asked about, and kept only as the next day's.
    MessageBox::setNextAnswer(QMessageBox::No);
    QVERIFY(!editor->addLesson(lessonAt(2, QTime(21, 0), QTime(7, 45), locked)));
    QCOMPARE(MessageBox::lastTitle(), QStringLiteral("跨午夜？"));
    MessageBox::setNextAnswer(QMessageBox::Yes);
    QVERIFY(editor->addLesson(lessonAt(2, QTime(21, 0), QTime(7, 45), locked)));
    QCOMPARE(editor->grid()->item(0, 0)->text(), QStringLiteral("08:00–08:45\n黑屏锁定\n→ 解除锁定"));
    QCOMPARE(editor->grid()->item(1, 1)->text(), QStringLiteral("21:00–次日 07:45\n黑屏锁定\n→ 解除锁定"));

    // 取消 with changes asks: 取消 stays, 放弃 drops them.
    MessageBox::setNextAnswer(QMessageBox::Cancel);
    editor->reject();
    QVERIFY(editor->isVisible());
    MessageBox::setNextAnswer(QMessageBox::Discard);
    editor->reject();
    QTRY_VERIFY(!window.findChild<TimetableEditor*>());
    QVERIFY(week->runner()->timetable(Room).isEmpty());
    // 保存 keeps them.
    action(window, "action_op_timetable")->trigger();
    editor = window.findChild<TimetableEditor*>();
    QVERIFY(editor->addLesson(lessonAt(1, QTime(8, 0), QTime(8, 45), locked)));
    MessageBox::setNextAnswer(QMessageBox::Save);
    editor->reject();
    QCOMPARE(week->runner()->timetable(Room).lessons.size(), 1);
    QCOMPARE(week->nextChangeText(), QStringLiteral("下一节：下周一 08:00 黑屏锁定"));
}

void TestLessonTools::modeSavedFromOnePageAppliedToAnother()
{
    // What reaches the pages, the log and the timed locks: tst_features.
    // Here the menu, the check marks and config.conf.
    QTemporaryDir dir;
    QVERIFY(seedRoomsWithLists(dir));
    qint64 clock = LessonStart;
    RokVtxAdmin window(dir.path());
    start(window, clock);
    QStudentGroupWidget* room = page(window, Room);
    QStudentGroupWidget* room2 = page(window, Room2);

    window.tabWidget()->setCurrentIndex(tabIndexOf(window, Room));
    action(window, "action_op_lock_kbd_mouse")->trigger();
    action(window, "action_op_usbdisk")->trigger();
    switchEntry(room, 1, QStringLiteral("QQ"), false);
    switchEntry(room, 3, QStringLiteral("a.exe"), false);
    // An empty name is told and asked for again; the second answer is kept.
    InputDialog::setNextText(QStringLiteral("  "));
    InputDialog::thenText(QStringLiteral(" 考试模式 "));
    MessageBox::setNextAnswer(QMessageBox::Ok);
    action(window, "action_mode_save")->trigger();
    QCOMPARE(MessageBox::lastTitle(), QStringLiteral("课堂模式"));
    QCOMPARE(window.parts().lessonModes->modeNames(), QStringList { Exam });
    // "禁用U盘" unticked: the drives are allowed, and the mode says so.
    QCOMPARE(window.parts().lessonModes->describeMode(Exam), QStringLiteral("键盘鼠标全锁，自动IP，允许U盘，关闭 2 个条目"));

    // The other room is under a timed lock, which the mode ends.
    window.tabWidget()->setCurrentIndex(tabIndexOf(window, Room2));
    action(window, "action_op_lock_for_10")->trigger();
    switchEntry(room2, 2, QStringLiteral("svc"), false);
    applyFromMenu(window, Exam);
    QCOMPARE(room2->lock_state->lock_type, int(Rok_Lock_State::KeyboardMouseLock));
    QVERIFY(action(window, "action_op_lock_kbd_mouse")->isChecked());
    QVERIFY(!action(window, "action_op_usbdisk")->isChecked());
    QVERIFY(!window.core().timedLocks().has(Room2));
    window.saveNow();
    const GroupSettings stored = storedSettings(window.core().settings().path(), Room2);
    QCOMPARE(stored.lock_type, int(Rok_Lock_State::KeyboardMouseLock));
    QVERIFY(stored.allowusbdrv && !stored.allowmanualip);
    QCOMPARE(stored.titles, QStringList { QStringLiteral("QQ") });
    QVERIFY(stored.services.isEmpty());
    QCOMPARE(stored.programs, QStringList { QStringLiteral("a.exe") });
    // An entry switched off by hand reaches config.conf on its own.
    switchEntry(room2, 2, QStringLiteral("svc"), false);
    QTRY_COMPARE(storedSettings(window.core().settings().path(), Room2).services, QStringList { QStringLiteral("svc") });
}

void TestLessonTools::modeOnEveryPageAndAcrossRestart()
{
    QTemporaryDir dir;
    QVERIFY(seedRoomsWithLists(dir));
    qint64 clock = LessonStart;
    {
        RokVtxAdmin window(dir.path());
        start(window, clock);
        window.tabWidget()->setCurrentIndex(tabIndexOf(window, Room));
        action(window, "action_op_lock")->trigger();
        InputDialog::setNextText(Exam);
        action(window, "action_mode_save")->trigger();
        // Applied on "全部", the lock's mark follows.
        window.tabWidget()->setCurrentIndex(0);
        applyFromMenu(window, Exam);
        QVERIFY(action(window, "action_op_lock")->isChecked());
    }
    {
        // Kept in the database: renamed and deleted in the dialog.
        RokVtxAdmin window(dir.path());
        start(window, clock);
        QCOMPARE(window.parts().lessonModes->modeNames(), QStringList { Exam });
        QSignalSpy renamed(window.parts().lessonModes, &LessonModes::sg_renamed);
        whenModal<QDialog>(&window, [](QDialog* dialog) {
            InputDialog::setNextText(QStringLiteral("期末考试"));
            dialog->findChild<QPushButton*>(QStringLiteral("renameButton"))->click();
            dialog->accept();
        });
        action(window, "action_mode_manage")->trigger();
        QCOMPARE(renamed.size(), 1);
        QCOMPARE(window.parts().lessonModes->modeNames(), QStringList { QStringLiteral("期末考试") });
    }
    {
        RokVtxAdmin window(dir.path());
        start(window, clock);
        QCOMPARE(window.parts().lessonModes->modeNames(), QStringList { QStringLiteral("期末考试") });
        whenModal<QDialog>(&window, [](QDialog* dialog) {
            MessageBox::setNextAnswer(QMessageBox::Yes);
            dialog->findChild<QPushButton*>(QStringLiteral("deleteButton"))->click();
            dialog->accept();
        });
        action(window, "action_mode_manage")->trigger();
    }
    RokVtxAdmin window(dir.path());
    QVERIFY(window.parts().lessonModes->modeNames().isEmpty());
}

QTEST_MAIN(TestLessonTools)
#include "tst_lessontools.moc"
