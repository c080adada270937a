#pragma once

#include "storage/TimedLockStore.h"

#include <QMap>
#include <QObject>
#include <QString>
#include <QStringList>
#include <functional>

class QTimer;

// The timed locks of the pages, by page name: when each one ends, kept in
// the database so a restart keeps it. It only tells when a lock is due; the
// lock path releases it, if the page still holds the lock it set.
class TimedLockController final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(TimedLockController)

public:
    // UTC milliseconds since the epoch.
    using Clock = std::function<qint64()>;
    static constexpr int TickMs = 1000;

    explicit TimedLockController(QObject* parent = nullptr);

    // Tests drive the time and call tick() themselves.
    void setClock(Clock clock);
    qint64 now() const;

    // Where the ends are kept; without one (or unopened) they last this run only.
    void setStore(TimedLockStore* store);
    // What the previous run left; the caller adopts the ones still valid and
    // cancels the others.
    QList<TimedLockStore::Entry> stored() const;
    void adopt(const TimedLockStore::Entry& entry);

    void start(const QString& page, int kind, qint64 durationMs);
    void cancel(const QString& page);
    // A renamed page keeps its lock running, also in the store.
    void rename(const QString& from, const QString& to);
    bool has(const QString& page) const;
    int kindOf(const QString& page) const;
    // Milliseconds left, never below 0; -1 for a page without a timed lock.
    qint64 remainingMs(const QString& page) const;
    QStringList pages() const;

public slots:
    // Announces the locks that are due, then the tick.
    void tick();

signals:
    // While the timer still runs; it ends once told.
    void sg_expired(const QString& page, int kind);
    void sg_ticked();

private:
    void keepTicking();

    Clock clock;
    TimedLockStore* store = nullptr;
    QMap<QString, TimedLockStore::Entry> running;
    QTimer* ticker = nullptr;
};
