#include "lesson/LessonRecords.h"

#include "ConsoleCore.h"
#include "WindowParts.h"
#include "core/SeatLayout.h"
#include "lesson/LessonRecordsDialog.h"
#include "lesson/LessonTools.h"
#include "pages/LockPath.h"
#include "pages/QStudentGroupWidget.h"
#include "storage/LessonRecorder.h"
#include "timetable/LessonTimetable.h"
#include "timetable/TimetableRunner.h"
#include "ui_RokVtxAdmin.h"

#include <QDateTime>
#include <QLabel>
#include <QMenu>
#include <QStatusBar>

namespace {

constexpr int StatusMessageMs = 5000;

} // namespace

LessonRecords::LessonRecords(ConsoleCore& core_, const Attachment& attachment, QObject* parent)
    : QObject(parent)
    , core(core_)
    , host(attachment)
{
    EventLogStore& log = core.tables().eventLog();
    // The room's machines, on line or not, in the seats the plan shows them.
    const auto snapshot = [this](const QString& room) {
        QList<LessonRecord::Machine> out;
        QStudentGroupWidget* page = core.pages().pageNamed(room);
        if (!page)
            return out;
        const QList<CStuInfo_PTR> machines = page->machinesInRowOrder();
        QVector<SeatLayout::Machine> places;
        for (const CStuInfo_PTR& machine : machines)
            places.append({ machine->ullmac, machine->hostname });
        SeatLayout layout;
        layout.place(places, core.tables().seats().loadSeats());
        for (const CStuInfo_PTR& machine : machines)
            out << LessonRecord::Machine { machine->ullmac, machine->hostname, machine->ip,
                layout.cellOf(machine->ullmac), machine->online.load() };
        return out;
    };
    record_keeper = new LessonRecorder(core.tables().lessonRecords(), snapshot, this);
    record_keeper->setClock([&log] { return log.now(); });
    record_keeper->follow(log);
    // A record the console left open when it stopped goes on.
    record_keeper->resume();

    if (host.lockPath)
        connect(host.lockPath, &LockPath::sg_changed, this,
            [this](const QStringList& pages, int type, LockOrigin origin) {
                record_keeper->noteLock(pages, lockText(type, origin));
            });
    if (host.timetable)
        connect(host.timetable, &TimetableRunner::sg_lesson, this,
            [this](const QString& page, bool started, const QString& text) {
                // A lesson's end missed (back to back) closes its record first.
                record_keeper->finish(page, LessonRecord::Origin::Timetable);
                if (started)
                    record_keeper->start(page, LessonRecord::Origin::Timetable, text);
            });
    connect(&core.groups(), &GroupOperations::sg_changed, this, [this](const GroupChange& change) {
        if (!change.renamedFrom.isEmpty())
            record_keeper->renameRoom(change.renamedFrom, change.page);
        if (change.removed)
            record_keeper->removeRoom(change.page);
    });

    if (host.menu) {
        host.menu->addSeparator();
        start_action = host.menu->addAction(QStringLiteral("开始记录"));
        start_action->setObjectName(QStringLiteral("action_op_record_start"));
        finish_action = host.menu->addAction(QStringLiteral("结束记录"));
        finish_action->setObjectName(QStringLiteral("action_op_record_finish"));
        list_action = host.menu->addAction(QStringLiteral("课堂记录..."));
        list_action->setObjectName(QStringLiteral("action_op_records"));
        connect(host.menu, &QMenu::aboutToShow, this, &LessonRecords::updateActions);
        connect(start_action, &QAction::triggered, this, [this] {
            const QString room = currentRoom();
            if (record_keeper->start(room, LessonRecord::Origin::Teacher) && host.statusBar)
                host.statusBar->showMessage(QStringLiteral("开始记录：%1").arg(room), StatusMessageMs);
            updateActions();
        });
        connect(finish_action, &QAction::triggered, this, [this] {
            const QString room = currentRoom();
            if (record_keeper->finish(room, LessonRecord::Origin::Teacher) && host.statusBar)
                host.statusBar->showMessage(
                    QStringLiteral("课堂记录已保存：%1（操作 → 课堂记录...）").arg(room), StatusMessageMs);
            updateActions();
        });
        connect(list_action, &QAction::triggered, this, &LessonRecords::openList);
    }
    if (host.statusBar) {
        status_label = new QLabel(host.statusBar);
        status_label->setObjectName(QStringLiteral("recordStatus"));
        status_label->setStyleSheet(QStringLiteral("color:#b11905"));
        host.statusBar->addPermanentWidget(status_label);
    }
    connect(record_keeper, &LessonRecorder::sg_changed, this, &LessonRecords::updateActions);
    updateActions();
}

void LessonRecords::attach(ConsoleCore& core, WindowParts& parts)
{
    auto* records = new LessonRecords(core,
        { parts.window, parts.form.menu_A, parts.form.statusBar, &core.lockPath(),
            parts.timetable ? parts.timetable->runner() : nullptr },
        parts.window);
    connect(&parts, &WindowParts::sg_tab_shown, records, &LessonRecords::updateActions);
}

QString LessonRecords::lockText(int type, LockOrigin origin)
{
    QString who;
    switch (origin) {
    case LockOrigin::Teacher:
        who = QStringLiteral("教师");
        break;
    case LockOrigin::LessonMode:
        who = QStringLiteral("课堂模式");
        break;
    case LockOrigin::TimedLock:
        who = QStringLiteral("定时锁定结束");
        break;
    case LockOrigin::Timetable:
        who = QStringLiteral("课表");
        break;
    case LockOrigin::Guard:
        who = QStringLiteral("防护");
        break;
    }
    return QStringLiteral("%1（来源：%2）").arg(type == 0 ? QStringLiteral("解除锁定") : LessonTools::lockName(type), who);
}

QString LessonRecords::currentRoom() const
{
    const int tab = core.currentTab();
    return tab > 0 ? core.pages().nameAt(tab) : QString();
}

void LessonRecords::updateActions()
{
    const QString room = currentRoom();
    const bool recording = record_keeper->isRecording(room);
    if (start_action) {
        start_action->setEnabled(!room.isEmpty() && !recording && core.tables().lessonRecords().isOpen());
        finish_action->setEnabled(recording);
    }
    if (status_label) {
        const QStringList rooms = record_keeper->recordingRooms();
        status_label->setText(recording ? QStringLiteral("● 记录中：%1").arg(room)
                : rooms.isEmpty()      ? QString()
                                       : QStringLiteral("● 记录中：%1 个机房").arg(rooms.size()));
        status_label->setToolTip(rooms.join(QStringLiteral("、")));
    }
}

LessonRecordsDialog* LessonRecords::openList()
{
    if (!list_dialog) {
        EventLogStore& log = core.tables().eventLog();
        list_dialog = new LessonRecordsDialog(core.tables().lessonRecords(), [&log] { return log.now(); }, host.window);
        list_dialog->setAttribute(Qt::WA_DeleteOnClose);
    }
    list_dialog->reload();
    list_dialog->show();
    list_dialog->raise();
    return list_dialog;
}
