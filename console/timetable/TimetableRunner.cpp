#include "timetable/TimetableRunner.h"

#include "model/LockPrecedence.h"
#include "storage/TimetableStore.h"

#include <QElapsedTimer>
#include <QTimer>
#include <memory>
#include <utility>

TimetableRunner::TimetableRunner(LessonActions actions_, QObject* parent)
    : QObject(parent)
    , actions(std::move(actions_))
    , clock([] { return QDateTime::currentDateTime(); })
    , ticker(new QTimer(this))
{
    auto elapsed = std::make_shared<QElapsedTimer>();
    elapsed->start();
    monotonic = [elapsed] { return elapsed->elapsed(); };
    ticker->setInterval(TickMs);
    connect(ticker, &QTimer::timeout, this, &TimetableRunner::tick);
}

void TimetableRunner::setClock(Clock wall, Monotonic monotonic_)
{
    clock = std::move(wall);
    monotonic = std::move(monotonic_);
}

QDateTime TimetableRunner::now() const
{
    return clock();
}

void TimetableRunner::setStore(TimetableStore* store_)
{
    store = store_;
}

QString TimetableRunner::logKindText(const TimetableLesson& lesson)
{
    return QStringLiteral("课表：%1").arg(Timetable::describe(lesson));
}

void TimetableRunner::start()
{
    if (started)
        return;
    started = true;
    if (store) {
        // Edits made before the start are kept over what the store held.
        QMap<QString, Timetable> stored = store->load();
        for (auto it = weeks.cbegin(); it != weeks.cend(); ++it)
            stored.insert(it.key(), it.value());
        weeks = stored;
        applied = store->applied();
        befores = store->befores();
    }
    last_wall = now();
    last_monotonic = monotonic();
    for (const QString& page : weeks.keys()) {
        catchUp(page, last_wall);
        wakeIfDue(page, last_wall);
    }
    ticker->start();
    emit sg_changed();
}

void TimetableRunner::tick()
{
    if (!started)
        return;
    const QDateTime at = now();
    const qint64 elapsed = monotonic();
    const qint64 wallMs = last_wall.msecsTo(at);
    const bool jumped = qAbs(wallMs - (elapsed - last_monotonic)) > JumpMs;
    for (const QString& page : weeks.keys()) {
        const QList<Timetable::Change> changes = weeks.value(page).changesBetween(last_wall, at);
        const Timetable::Change* latest = nullptr;
        bool wakePassed = false;
        for (const Timetable::Change& change : changes) {
            if (change.kind == Timetable::Wake)
                wakePassed = true;
            else
                latest = &change;
        }
        // Several passed at once (a sleep, a blocked loop): only the last counts.
        if (latest && LockPrecedence::timetableStep(LockPrecedence::Occasion::Scheduled, latest->at,
                          applied.value(page), manualUntilNextChange(page))
                == LockPrecedence::Step::Apply)
            apply(page, *latest);
        else if (jumped)
            catchUp(page, at);
        if (wakePassed || jumped)
            wakeIfDue(page, at);
    }
    last_wall = at;
    last_monotonic = elapsed;
}

void TimetableRunner::setTimetable(const QString& page, const Timetable& timetable)
{
    if (timetable.isEmpty())
        weeks.remove(page);
    else
        weeks.insert(page, timetable);
    if (store)
        store->put(page, timetable);
    const QDateTime at = now();
    // The teacher's command now stands until the new week's next change.
    if (manual_until.contains(page))
        manual_until.insert(page, timetable.nextChange(at).at);
    const Timetable::Change due = timetable.due(at);
    if (started
        && LockPrecedence::timetableStep(LockPrecedence::Occasion::WeekEdited, due.at, applied.value(page),
               manualUntilNextChange(page))
            == LockPrecedence::Step::TakeAsApplied)
        markApplied(page, due.at);
    emit sg_changed();
}

void TimetableRunner::renamePage(const QString& from, const QString& to)
{
    if (store)
        store->rename(from, to);
    if (befores.contains(from))
        befores.insert(to, befores.take(from));
    else
        befores.remove(to);
    for (auto* map : { &applied, &woken }) {
        map->remove(to);
        if (map->contains(from))
            map->insert(to, map->take(from));
    }
    weeks.remove(to);
    if (weeks.contains(from))
        weeks.insert(to, weeks.take(from));
    manual_until.remove(to);
    if (manual_until.contains(from))
        manual_until.insert(to, manual_until.take(from));
    emit sg_changed();
}

void TimetableRunner::removePage(const QString& page)
{
    if (store)
        store->remove(page);
    weeks.remove(page);
    applied.remove(page);
    woken.remove(page);
    manual_until.remove(page);
    befores.remove(page);
    emit sg_changed();
}

void TimetableRunner::noteManualChange(const QString& page)
{
    manual_until.insert(page, weeks.value(page).nextChange(now()).at);
}

bool TimetableRunner::manualUntilNextChange(const QString& page) const
{
    const auto it = manual_until.constFind(page);
    return it != manual_until.cend() && LockPrecedence::teacherHolds(*it, now());
}

Timetable::Change TimetableRunner::nextChange(const QString& page) const
{
    return weeks.value(page).nextChange(now());
}

void TimetableRunner::catchUp(const QString& page, const QDateTime& at)
{
    const Timetable::Change due = weeks.value(page).due(at);
    if (LockPrecedence::timetableStep(
            LockPrecedence::Occasion::CatchUp, due.at, applied.value(page), manualUntilNextChange(page))
        == LockPrecedence::Step::Apply)
        apply(page, due);
}

void TimetableRunner::wakeIfDue(const QString& page, const QDateTime& at)
{
    const Timetable::Change wake = weeks.value(page).wakeDue(at);
    if (!wake.isValid() || woken.value(page) == wake.at.toMSecsSinceEpoch())
        return;
    woken.insert(page, wake.at.toMSecsSinceEpoch());
    if (actions.wake)
        actions.wake(page);
    if (actions.log)
        actions.log(page, QStringLiteral("%1 课前唤醒").arg(logKindText(weeks.value(page).lessons.at(wake.lesson))));
}

void TimetableRunner::markApplied(const QString& page, const QDateTime& at)
{
    applied.insert(page, at.toMSecsSinceEpoch());
    if (store)
        store->setApplied(page, at.toMSecsSinceEpoch());
}

void TimetableRunner::apply(const QString& page, const Timetable::Change& change)
{
    manual_until.remove(page);
    markApplied(page, change.at);
    const QString text = logKindText(weeks.value(page).lessons.value(change.lesson));
    if (change.kind == Timetable::Start) {
        emit sg_lesson(page, true, text);
        BeforeLesson before = actions.start ? actions.start(page, change.mode, text) : BeforeLesson();
        // Back to back, or an end missed: after the last lesson the page is
        // as it was before the first.
        before.keepEarlier(befores.value(page));
        if (before.isEmpty())
            befores.remove(page);
        else
            befores.insert(page, before);
        if (store)
            store->setBefore(page, before);
    } else {
        const BeforeLesson before = befores.take(page);
        if (store)
            store->setBefore(page, BeforeLesson());
        if (actions.end)
            actions.end(page, change.mode, change.lock, before, text);
        emit sg_lesson(page, false, text);
    }
    emit sg_changed();
}
