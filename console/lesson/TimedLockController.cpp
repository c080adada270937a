#include "lesson/TimedLockController.h"

#include <QDateTime>
#include <QTimer>
#include <algorithm>
#include <utility>

TimedLockController::TimedLockController(QObject* parent)
    : QObject(parent)
    , clock([] { return QDateTime::currentMSecsSinceEpoch(); })
    , ticker(new QTimer(this))
{
    ticker->setInterval(TickMs);
    connect(ticker, &QTimer::timeout, this, &TimedLockController::tick);
}

void TimedLockController::setClock(Clock clock_)
{
    clock = std::move(clock_);
}

qint64 TimedLockController::now() const
{
    return clock();
}

void TimedLockController::setStore(TimedLockStore* store_)
{
    store = store_;
}

QList<TimedLockStore::Entry> TimedLockController::stored() const
{
    return store ? store->load() : QList<TimedLockStore::Entry>();
}

void TimedLockController::adopt(const TimedLockStore::Entry& entry)
{
    running.insert(entry.page, entry);
    keepTicking();
}

void TimedLockController::start(const QString& page, int kind, qint64 durationMs)
{
    const TimedLockStore::Entry entry { page, kind, now() + durationMs };
    running.insert(page, entry);
    if (store)
        store->put(entry);
    keepTicking();
}

void TimedLockController::cancel(const QString& page)
{
    // Also a row left from an earlier run that was never adopted.
    running.remove(page);
    if (store)
        store->remove(page);
    keepTicking();
}

void TimedLockController::rename(const QString& from, const QString& to)
{
    const auto it = running.find(from);
    if (it != running.end()) {
        TimedLockStore::Entry entry = it.value();
        running.erase(it);
        entry.page = to;
        running.insert(to, entry);
    }
    // Also a row not adopted yet.
    if (store)
        store->rename(from, to);
}

bool TimedLockController::has(const QString& page) const
{
    return running.contains(page);
}

int TimedLockController::kindOf(const QString& page) const
{
    return running.value(page).kind;
}

qint64 TimedLockController::remainingMs(const QString& page) const
{
    const auto it = running.constFind(page);
    return it == running.cend() ? -1 : std::max<qint64>(0, it->end_ms - now());
}

QStringList TimedLockController::pages() const
{
    return running.keys();
}

void TimedLockController::tick()
{
    const qint64 at = now();
    QList<TimedLockStore::Entry> due;
    for (const TimedLockStore::Entry& entry : std::as_const(running))
        if (entry.end_ms <= at)
            due << entry;
    // Told while it still runs: its release goes the lock path, which knows
    // by the timer what it set and ends it. One nobody ended goes now.
    for (const TimedLockStore::Entry& entry : due)
        emit sg_expired(entry.page, entry.kind);
    for (const TimedLockStore::Entry& entry : due)
        if (running.contains(entry.page) && running.value(entry.page).end_ms == entry.end_ms)
            cancel(entry.page);
    emit sg_ticked();
}

void TimedLockController::keepTicking()
{
    if (running.isEmpty())
        ticker->stop();
    else if (!ticker->isActive())
        ticker->start();
}
