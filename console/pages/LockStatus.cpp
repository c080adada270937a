#include "pages/LockStatus.h"

#include "ConsoleCore.h"
#include "WindowParts.h"
#include "ui_RokVtxAdmin.h"

#include "lesson/LessonTools.h"
#include "model/Rok_Lock_State.h"
#include "pages/PageDirectory.h"
#include "pages/QStudentGroupWidget.h"
#include "seatplan/SeatPlans.h"

#include <QLabel>
#include <QStatusBar>
#include <QTabWidget>
#include <QTimer>

QString LockStatus::describe(const QList<Room>& rooms, bool all)
{
    const auto name = [](int lock) {
        return lock == Rok_Lock_State::None ? QStringLiteral("未锁定") : LessonTools::lockName(lock);
    };
    if (!all)
        return name(rooms.isEmpty() ? int(Rok_Lock_State::None) : rooms.first().lock);
    bool same = true;
    for (const Room& room : rooms)
        same = same && room.lock == rooms.first().lock;
    if (rooms.isEmpty() || same)
        return QStringLiteral("全部") + name(rooms.isEmpty() ? int(Rok_Lock_State::None) : rooms.first().lock);
    // The locked rooms by lock, in tab order; the rest in one word.
    QStringList parts;
    for (const int lock : { int(Rok_Lock_State::BlackLock), int(Rok_Lock_State::BlackQuiet),
             int(Rok_Lock_State::KeyboardMouseLock) }) {
        QStringList names;
        for (const Room& room : rooms)
            if (room.lock == lock)
                names << room.name;
        if (!names.isEmpty())
            parts << name(lock) + QStringLiteral("：") + names.join(QStringLiteral("、"));
    }
    parts << QStringLiteral("其余未锁定");
    return parts.join(QStringLiteral("；"));
}

LockStatus::LockStatus(const PageDirectory& pages, QTabWidget* tabs, QStatusBar* statusBar)
    : QObject(tabs)
    , pages(pages)
    , tabs(tabs)
{
    label = new QLabel(statusBar);
    label->setObjectName(QStringLiteral("lock_status"));
    label->setContentsMargins(6, 0, 6, 0);
    // First among the permanent entries, where the eye finds it.
    statusBar->insertPermanentWidget(0, label);
    refresh_timer = new QTimer(this);
    refresh_timer->setSingleShot(true);
    refresh_timer->setInterval(0);
    connect(refresh_timer, &QTimer::timeout, this, &LockStatus::refresh);
    connect(tabs, &QTabWidget::currentChanged, this, &LockStatus::schedule);
}

QString LockStatus::text() const
{
    return label->text();
}

void LockStatus::schedule()
{
    refresh_timer->start();
}

void LockStatus::refresh()
{
    refresh_timer->stop();
    const int current = tabs->currentIndex();
    QList<Room> rooms;
    bool all = current == 0;
    if (all) {
        for (int index = 1; index < tabs->count(); ++index)
            if (const QStudentGroupWidget* page = pages.pageAt(index))
                rooms << Room { pages.nameAt(index), page->lock_state->lock_type };
    } else if (const QStudentGroupWidget* page = pages.pageAt(current)) {
        rooms << Room { pages.nameAt(current), page->lock_state->lock_type };
    }
    bool locked = false;
    for (const Room& room : rooms)
        locked = locked || room.lock != Rok_Lock_State::None;
    label->setText(describe(rooms, all));
    label->setStyleSheet(locked ? QStringLiteral("QLabel { background: #c62828; color: white; font-weight: bold; }")
                                : QString());
}

void LockStatus::attach(ConsoleCore& core, WindowParts& parts)
{
    auto* status = new LockStatus(core.pages(), parts.tabs, parts.form.statusBar);
    connect(parts.seatPlans, &SeatPlans::sg_locks_changed, status, &LockStatus::schedule);
    connect(&parts, &WindowParts::sg_tab_shown, status, &LockStatus::schedule);
    connect(&parts, &WindowParts::sg_published, status, &LockStatus::schedule);
    connect(&parts, &WindowParts::sg_settings_applied, status, &LockStatus::schedule);
}
