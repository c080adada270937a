#pragma once

#include <QList>
#include <QObject>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <QStringList>
#include <functional>

class QTimer;

// The console's event log in tb_event_log, beside the console's own tables:
// machines going off line and coming back, registrations, commands and group
// changes. Events wait in memory and are written together shortly after, one
// transaction for a burst (a room going off line at once); each write drops
// what is older than the age bound or beyond the newest maxRows rows. Without
// a usable database nothing is kept.
class EventLogStore final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(EventLogStore)

public:
    enum Kind { Offline = 1, Online, Registered, Command, Group };

    struct Event
    {
        qint64 at_ms = 0; // UTC, milliseconds since the epoch
        int kind = 0;
        QString page;
        quint64 mac = 0;
        QString machine;
        QString detail;
    };

    using Clock = std::function<qint64()>;
    static constexpr int DefaultMaxRows = 100000;
    static constexpr qint64 DefaultMaxAgeMs = 30LL * 24 * 60 * 60 * 1000;
    static constexpr int FlushDelayMs = 500;
    // Kept while the database cannot be written, then the oldest go.
    static constexpr int MaxPending = 10000;
    static constexpr int MaxRetryMs = 5 * 60 * 1000;

    explicit EventLogStore(QObject* parent = nullptr);

    void setClock(Clock clock);
    qint64 now() const;
    void setBounds(int maxRows, qint64 maxAgeMs);
    // Creates the table and its index when missing and prunes; false leaves
    // the store unused.
    bool open(const QSqlDatabase& db);
    bool isOpen() const { return usable; }
    // Writes what waits and lets go of the connection.
    void close();

    static QString kindName(int kind);

    // Stamped with the clock; written at the next flush.
    void add(int kind, const QString& page, quint64 mac, const QString& machine, const QString& detail);
    // Writes what waits and prunes; false keeps it waiting for the next try.
    bool flush();
    // Newest first; an empty page or kind 0 does not filter. The query is
    // active on success, inactive otherwise. Columns: at_utc, kind, page,
    // machine, ullmac, detail.
    QSqlQuery select(const QString& page, int kind, bool forwardOnly = false) const;
    QStringList pages() const;
    int rowCount() const;

signals:
    void sg_written();

private:
    bool prune();

    Clock clock;
    QSqlDatabase db;
    bool usable = false;
    int max_rows = DefaultMaxRows;
    qint64 max_age_ms = DefaultMaxAgeMs;
    QList<Event> pending;
    QTimer* flush_timer = nullptr;
    int retry_ms = 0;
};
