// The seat plan: tiles in their seats, kept across a restart; machines
// without a seat in free cells; state colour and on-line filter as on the
// table; selected tiles dragged onto a tab join that group, and the machine
// menu acts on all selected tiles.

#include "lesson/TimedLockController.h"
#include "policy/QAppWatcherWidget.h"
#include "seatplan/SeatPlanBar.h"
#include "seatplan/SeatPlans.h"
#include "seatplan/SeatPlanView.h"
#include "tableview/QtRokTableView.h"
#include "tst_mainwindow_support.h"

#include <QBrush>
#include <QContextMenuEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QScrollArea>
#include <QScrollBar>
#include <QSettings>
#include <QStandardItemModel>
#include <QTabBar>
#include <QTemporaryDir>
#include <QToolButton>
#include <QWheelEvent>
#include <QtTest>

using namespace MainWindowTest;

namespace {

const QString Room1 = QStringLiteral("一号机房");
const QString Room2 = QStringLiteral("二号机房");
const QString Ungrouped = QStringLiteral("未分组");

constexpr quint64 R1a = 0x00000A0000000101ULL;
constexpr quint64 R1b = 0x00000A0000000102ULL;
constexpr quint64 R1c = 0x00000A0000000103ULL;
constexpr quint64 R2a = 0x00000A0000000201ULL;
constexpr quint64 FreeA = 0x00000A0000000301ULL;
constexpr quint64 FreeB = 0x00000A0000000302ULL;

bool seedLab(const QTemporaryDir& dir)
{
    return seedDatabase(dir.filePath(QStringLiteral("data.sqlite3")), { { Room1, 1 }, { Room2, 2 } },
        { { R1a, QStringLiteral("r1-a"), QStringLiteral("10.0.1.1"), Room1 },
            { R1b, QStringLiteral("r1-b"), QStringLiteral("10.0.1.2"), Room1 },
            { R1c, QStringLiteral("r1-c"), QStringLiteral("10.0.1.3"), Room1 },
            { R2a, QStringLiteral("r2-a"), QStringLiteral("10.0.2.1"), Room2 },
            { FreeA, QStringLiteral("free-a"), QStringLiteral("10.0.3.1"), QString() },
            { FreeB, QStringLiteral("free-b"), QStringLiteral("10.0.3.2"), QString() } });
}

CStuInfo_PTR machine(quint64 mac, const QString& ip, bool online = false)
{
    auto record = std::make_shared<CStuInfo>();
    record->ullmac = mac;
    record->ip = ip;
    record->hostname = QStringLiteral("pc-%1").arg(mac);
    if (online)
        record->markAlive();
    return record;
}

void mouse(QWidget* target, QEvent::Type type, const QPoint& pos, Qt::MouseButtons buttons,
    Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    QMouseEvent event(type, pos, target->mapToGlobal(pos), Qt::LeftButton, buttons, modifiers);
    QApplication::sendEvent(target, &event);
}

// Press on a tile, move in steps, let go at `to` (view coordinates).
void drag(SeatPlanView* view, quint64 mac, const QPoint& to)
{
    const QPoint from = view->tileRect(mac).center();
    mouse(view, QEvent::MouseButtonPress, from, Qt::LeftButton);
    mouse(view, QEvent::MouseMove, from + (to - from) / 2, Qt::LeftButton);
    mouse(view, QEvent::MouseMove, to, Qt::LeftButton);
    mouse(view, QEvent::MouseButtonRelease, to, Qt::NoButton);
}

// The parts of a widget repainted since the last clear.
class PaintWatch final : public QObject
{
public:
    explicit PaintWatch(QWidget* widget) { widget->installEventFilter(this); }
    QRegion painted;

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint)
            painted += static_cast<QPaintEvent*>(event)->region();
        return false;
    }
};

SeatPlanView* shownPlan(RokVtxAdmin& window, const QString& tab)
{
    window.tabWidget()->setCurrentIndex(tabIndexOf(window, tab));
    SeatPlanView* view = page(window, tab)->seatPlan();
    view->sync();
    return view;
}

} // namespace

class TestSeatPlan : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void seatsAndChoiceSurviveRestart();
    void unseatedMachinesTakeFreeCells();
    void tileFollowsStateAndFilter();
    void selectedTilesMoveBetweenGroups();
    void allTilesFollowEveryLock();
    void allLaysOutRoomByRoom();
    void planGetsTheRoom();

private:
    QTemporaryDir settings_dir;
};

void TestSeatPlan::initTestCase()
{
    initRokResources();
    registerRokMetaTypes();
    QVERIFY(settings_dir.isValid());
    QCoreApplication::setOrganizationName(QStringLiteral("RokTests"));
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settings_dir.path());
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settings_dir.path());
}

void TestSeatPlan::seatsAndChoiceSurviveRestart()
{
    QTemporaryDir dir;
    QVERIFY(seedLab(dir));
    QMap<quint64, QPoint> before;
    {
        RokVtxAdmin window(dir.path());
        QAction* seatPlan = action(window, "action_view_seatplan");
        QVERIFY(seatPlan && seatPlan->isCheckable() && !seatPlan->isChecked());
        QVERIFY(!window.allPage()->seatPlanShown()); // the table is the default
        seatPlan->trigger();
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        SeatPlanView* view = shownPlan(window, Room1);
        QVERIFY(page(window, Room1)->seatPlanShown() && !page(window, Room1)->machine_table->isVisible());

        // Let go off the grid: the tile snaps to the nearest cell.
        const QSize cell = view->cellSize();
        const QPoint target = view->tileRect(R1a).center() + QPoint(3 * cell.width() + 20, 2 * cell.height() - 15);
        drag(view, R1a, target);
        QCOMPARE(view->cellOf(R1a), view->cellOf(R1c) + QPoint(1, 2)); // R1c is at (2, 0)
        for (quint64 mac : { R1a, R1b, R1c })
            before.insert(mac, view->cellOf(mac));
        // The other pages follow at once.
        SeatPlanView* all = shownPlan(window, QStringLiteral("全部"));
        QCOMPARE(all->cellOf(R1a), before.value(R1a));
    }
    RokVtxAdmin window(dir.path());
    QVERIFY(action(window, "action_view_seatplan")->isChecked());
    QVERIFY(page(window, Room1)->seatPlanShown());
    SeatPlanView* view = shownPlan(window, Room1);
    for (quint64 mac : { R1a, R1b, R1c })
        QCOMPARE(view->cellOf(mac), before.value(mac));
}

void TestSeatPlan::unseatedMachinesTakeFreeCells()
{
    // The rules are SeatLayout's (tst_seatlayout); here the page's rows and
    // the shared seats reach them, and the view grows with the room.
    QStudentGroupWidget page(nullptr, QStringLiteral("A"));
    page.setMachines({ machine(2, QStringLiteral("10.0.0.1")), machine(1, QStringLiteral("10.0.0.2")),
        machine(3, QStringLiteral("10.0.0.3")), machine(4, QStringLiteral("10.0.0.4")) });
    auto seats = std::make_shared<SeatPlanView::SeatMap>();
    seats->insert(3, QPoint(0, 0));
    seats->insert(4, QPoint(30, 7));
    SeatPlanView* view = page.seatPlan();
    view->setSeatMap(seats);
    view->sync();

    QCOMPARE(view->tileCount(), 4);
    QCOMPARE(view->cellOf(3), QPoint(0, 0));
    QCOMPARE(view->cellOf(1), QPoint(1, 0)); // pc-1 before pc-2, the row order notwithstanding
    QCOMPARE(view->cellOf(2), QPoint(2, 0));
    QCOMPARE(view->cellOf(4), QPoint(30, 7));
    QVERIFY(view->sizeHint().width() > view->tileRect(4).right());
    QCOMPARE(view->macAt(view->tileRect(1).center()), quint64(1));

    // A move is stored in the shared map and announced.
    QSignalSpy moved(view, &SeatPlanView::sg_seats_moved);
    QVERIFY(view->moveTiles({ 1 }, QPoint(0, 1)));
    QCOMPARE(seats->value(1), QPoint(1, 1));
    QCOMPARE(moved.size(), 1);
    QCOMPARE(view->macAt(view->tileRect(1).center()), quint64(1));
}

void TestSeatPlan::tileFollowsStateAndFilter()
{
    QStudentGroupWidget page(nullptr, QStringLiteral("A"));
    const CStuInfo_PTR on = machine(1, QStringLiteral("10.0.0.1"), true);
    const CStuInfo_PTR off = machine(2, QStringLiteral("10.0.0.2"));
    page.setMachines({ on, off });
    SeatPlanView* view = page.seatPlan();
    view->sync();
    const auto tableColour = [&page](quint64 mac) {
        const int row = page.rowOfMachine(mac);
        return page.machine_table->model()->index(row, MachineRows::StateColumn).data(Qt::ForegroundRole).value<QBrush>().color();
    };
    QCOMPARE(view->stateColor(1), tableColour(1));
    QCOMPARE(view->stateColor(2), tableColour(2));
    QVERIFY(view->stateColor(1) != view->stateColor(2));

    const QColor onColour = view->stateColor(1);
    off->markAlive();
    page.updateMachineRow(off, QStudentGroupWidget::ColumnState);
    on->markDead();
    page.updateMachineRow(on, QStudentGroupWidget::ColumnState);
    view->sync();
    QCOMPARE(view->stateColor(2), onColour);
    QCOMPARE(view->stateColor(1), tableColour(1));
    QVERIFY(view->stateColor(1) != onColour);

    page.setOnlineOnly(true);
    view->sync();
    QVERIFY(view->tileShown(2));
    QVERIFY(!view->tileShown(1));
    QCOMPARE(view->macAt(view->tileRect(1).center()), quint64(0));
    QCOMPARE(view->macAt(view->tileRect(2).center()), quint64(2));
    // Coming back on line shows the tile again, in its cell.
    const QPoint cell = view->cellOf(1);
    on->markAlive();
    page.updateMachineRow(on, QStudentGroupWidget::ColumnState);
    view->sync();
    QVERIFY(view->tileShown(1));
    QCOMPARE(view->cellOf(1), cell);

    // The 2 s refresh writes every row at once: tiles, filter and the
    // window's counts follow it as they follow one row.
    QSignalSpy counted(&page, &QStudentGroupWidget::sg_rows_changed);
    off->markDead();
    page.refreshAllRows();
    view->sync();
    QCOMPARE(view->stateColor(2), tableColour(2));
    QVERIFY(view->stateColor(2) != onColour);
    QVERIFY(!view->tileShown(2));
    QCOMPARE(counted.size(), 1);
    QCOMPARE(page.counts().online, 1);
}

void TestSeatPlan::selectedTilesMoveBetweenGroups()
{
    QTemporaryDir dir;
    QVERIFY(seedLab(dir));
    const QString database = dir.filePath(QStringLiteral("data.sqlite3"));
    RokVtxAdmin window(dir.path());
    window.setSeatPlanShown(true);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    SeatPlanView* view = shownPlan(window, Ungrouped);

    // Click one tile, Ctrl-click the other, drag both onto the tab of 二号机房.
    mouse(view, QEvent::MouseButtonPress, view->tileRect(FreeA).center(), Qt::LeftButton);
    mouse(view, QEvent::MouseButtonRelease, view->tileRect(FreeA).center(), Qt::NoButton);
    mouse(view, QEvent::MouseButtonPress, view->tileRect(FreeB).center(), Qt::LeftButton, Qt::ControlModifier);
    mouse(view, QEvent::MouseButtonRelease, view->tileRect(FreeB).center(), Qt::NoButton, Qt::ControlModifier);
    QCOMPARE(view->selectedMacs(), (QList<quint64> { FreeA, FreeB }));
    QTabBar* bar = window.tabWidget()->tabBar();
    const QPoint overTab = view->mapFromGlobal(bar->mapToGlobal(bar->tabRect(tabIndexOf(window, Room2)).center()));
    drag(view, FreeB, overTab);

    QCOMPARE(window.core().registry().groupNameOfMachine(FreeA), Room2);
    QCOMPARE(window.core().registry().groupNameOfMachine(FreeB), Room2);
    QTRY_COMPARE(page(window, Room2)->machinesInRowOrder().size(), 3);
    QTRY_COMPARE(page(window, Ungrouped)->machinesInRowOrder().size(), 0);
    window.saveNow();
    Stored stored = readDatabase(database);
    QVERIFY(stored.ok);
    QCOMPARE(stored.group(Room2)->ullmac_list, (QSet<quint64> { R2a, FreeA, FreeB }));

    // The machine menu on one of two selected tiles: "移出组(&O)" takes both.
    view = shownPlan(window, Room2);
    view->setSelectedMacs({ R2a, FreeB });
    QTimer::singleShot(0, &window, [] {
        QMenu* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        QVERIFY(menu);
        for (QAction* entry : menu->actions())
            if (entry->text() == QStringLiteral("移出组(&O)") && entry->isEnabled())
                entry->trigger();
        menu->close();
    });
    QContextMenuEvent menuEvent(
        QContextMenuEvent::Mouse, view->tileRect(FreeB).center(), view->mapToGlobal(view->tileRect(FreeB).center()));
    QApplication::sendEvent(view, &menuEvent);
    QCOMPARE(window.core().registry().groupNameOfMachine(R2a), QString());
    QCOMPARE(window.core().registry().groupNameOfMachine(FreeB), QString());
    QCOMPARE(window.core().registry().groupNameOfMachine(FreeA), Room2);
    window.saveNow();
    stored = readDatabase(database);
    QCOMPARE(stored.group(Room2)->ullmac_list, (QSet<quint64> { FreeA }));
}

void TestSeatPlan::allTilesFollowEveryLock()
{
    // The "全部" tiles badge each machine with its room's lock, so a lock
    // change of any room repaints them, without a tab switch or a hover.
    QTemporaryDir dir;
    QVERIFY(seedLab(dir));
    RokVtxAdmin window(dir.path());
    qint64 clock = 1000000;
    window.core().timedLocks().setClock([&clock] { return clock; });
    window.setSeatPlanShown(true);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    SeatPlanView* all = shownPlan(window, QStringLiteral("全部"));
    PaintWatch watch(all);
    const auto repainted = [&](quint64 mac) { return watch.painted.contains(all->tileRect(mac)); };

    QCoreApplication::processEvents(); // what was due before
    watch.painted = QRegion();
    action(window, "action_op_lock")->trigger(); // every room at once
    QTRY_VERIFY(repainted(R1a) && repainted(R2a) && repainted(FreeA));
    watch.painted = QRegion();
    action(window, "action_op_lock")->trigger(); // and released
    QTRY_VERIFY(repainted(R1a) && repainted(R2a) && repainted(FreeA));

    // A timed lock of one room ends while "全部" is shown; its table's lock
    // column reads each row's room.
    shownPlan(window, Room1);
    window.parts().lesson->startTimedLock(Rok_Lock_State::BlackLock, 5);
    shownPlan(window, QStringLiteral("全部"));
    const MachineRows& allRows = page(window, QStringLiteral("全部"))->machineRows();
    QCOMPARE(allRows.lockAt(allRows.rowOf(R1a)), int(Rok_Lock_State::BlackLock));
    QCOMPARE(allRows.lockAt(allRows.rowOf(R2a)), int(Rok_Lock_State::None));
    QCoreApplication::processEvents(); // what was due before
    watch.painted = QRegion();
    clock += 5 * 60 * 1000;
    window.core().timedLocks().tick();
    QCOMPARE(page(window, Room1)->lock_state->lock_type, int(Rok_Lock_State::None));
    QTRY_VERIFY(repainted(R1a));
    QCOMPARE(allRows.lockAt(allRows.rowOf(R1a)), int(Rok_Lock_State::None));
}

void TestSeatPlan::allLaysOutRoomByRoom()
{
    // "全部" shows the rooms one under the other, in tab order, each under its
    // name and lock and in its own seats: r1-a and r2-a hold the same cell of
    // their rooms and neither pushes the other aside.
    QTemporaryDir dir;
    QVERIFY(seedLab(dir));
    RokVtxAdmin window(dir.path());
    window.setSeatPlanShown(true);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    SeatPlanView* all = shownPlan(window, QStringLiteral("全部"));
    const auto headings = [&] {
        all->sync();
        QStringList shown;
        for (const SeatPlanView::Heading& heading : all->headings())
            shown << QStringLiteral("%1:%2").arg(heading.name).arg(heading.lock);
        return shown;
    };
    QCOMPARE(headings(), (QStringList { Room1 + ":0", Room2 + ":0", Ungrouped + ":0" }));
    QCOMPARE(all->cellOf(R1a), QPoint(0, 0));
    QCOMPARE(all->cellOf(R2a), QPoint(0, 0));
    QCOMPARE(all->cellOf(FreeA), QPoint(0, 0));
    const QList<SeatPlanView::Heading> shown = all->headings();
    QVERIFY(shown.at(0).rect.bottom() < all->tileRect(R1a).top());
    QVERIFY(all->tileRect(R1c).bottom() < shown.at(1).rect.top());
    QVERIFY(shown.at(1).rect.bottom() < all->tileRect(R2a).top());
    QVERIFY(all->tileRect(R2a).bottom() < shown.at(2).rect.top());
    QCOMPARE(all->macAt(all->tileRect(R2a).center()), R2a);
    QCOMPARE(all->macAt(shown.at(1).rect.center()), quint64(0));

    // A heading reads its room's lock.
    window.tabWidget()->setCurrentIndex(tabIndexOf(window, Room2));
    action(window, "action_op_lock")->trigger();
    window.tabWidget()->setCurrentIndex(0);
    QCOMPARE(headings(), (QStringList { Room1 + ":0", Room2 + ":2", Ungrouped + ":0" }));

    // A move on "全部" stays in the machine's room and is its seat there.
    QVERIFY(all->moveTiles({ R2a }, QPoint(2, 1)));
    QCOMPARE(all->cellOf(R2a), QPoint(2, 1));
    QCOMPARE(all->cellOf(R1a), QPoint(0, 0));
    QCOMPARE(shownPlan(window, Room2)->cellOf(R2a), QPoint(2, 1));

    // A machine that changes group moves to its new room; a renamed group
    // keeps its place under its new name (its rows say so).
    window.core().groups().moveMachines({ FreeA }, Room1);
    all = shownPlan(window, QStringLiteral("全部"));
    QTRY_COMPARE(headings(), (QStringList { Room1 + ":0", Room2 + ":2", Ungrouped + ":0" }));
    QTRY_VERIFY(all->tileRect(FreeA).bottom() < all->headings().at(1).rect.top());
    QVERIFY(window.core().groups().renameGroup(Room1, QStringLiteral("三号机房")));
    QTRY_COMPARE(headings(), (QStringList { QStringLiteral("三号机房:0"), Room2 + ":2", Ungrouped + ":0" }));
    // The rooms follow the tabs when the teacher drags one.
    window.tabWidget()->tabBar()->moveTab(1, 2);
    QTRY_COMPARE(headings(), (QStringList { Room2 + ":2", QStringLiteral("三号机房:0"), Ungrouped + ":0" }));
}

void TestSeatPlan::planGetsTheRoom()
{
    QTemporaryDir dir;
    QVERIFY(seedLab(dir));
    int zoomed = 0;
    {
        RokVtxAdmin window(dir.path());
        window.resize(640, 440);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QStudentGroupWidget* room = page(window, Room1);
        SeatPlanView* view = shownPlan(window, Room1);
        QVERIFY(room->policy_editor->isVisible());

        // The policy list gives way to the plan; one click brings it back.
        window.setSeatPlanShown(true);
        QVERIFY(!room->policy_editor->isVisible());
        QToolButton* policyList = room->seatPlanBar()->policyListButton();
        policyList->click();
        QVERIFY(room->policy_editor->isVisible() && view->isVisible());
        policyList->click();
        QVERIFY(!room->policy_editor->isVisible());

        // The tiles fit the width: a wider window, larger tiles, and never
        // a scroll bar sideways.
        auto* area = qobject_cast<QScrollArea*>(view->parentWidget()->parentWidget());
        const int narrow = view->cellSize().width();
        window.resize(790, 440);
        QTRY_VERIFY(view->cellSize().width() > narrow);
        QVERIFY(!area->horizontalScrollBar()->isVisible());

        // Ctrl + wheel: larger tiles on every page, kept for the next start.
        const int fitted = view->scalePercent();
        QWheelEvent wheel(QPointF(view->tileRect(R1a).center()),
            QPointF(view->mapToGlobal(view->tileRect(R1a).center())), QPoint(), QPoint(0, 120), Qt::NoButton,
            Qt::ControlModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(view, &wheel);
        zoomed = view->scalePercent();
        QCOMPARE(zoomed, fitted + SeatPlanView::ZoomStep);
        QCOMPARE(page(window, Room2)->seatPlan()->zoom(), zoomed);
    }
    RokVtxAdmin window(dir.path());
    QCOMPARE(page(window, Room1)->seatPlan()->zoom(), zoomed);
    QSettings().remove(QStringLiteral("view/seatPlanZoom"));
}

QTEST_MAIN(TestSeatPlan)
#include "tst_seatplan.moc"
