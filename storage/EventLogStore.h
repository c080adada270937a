#pragma once

#include "model/SecurityRowBudget.h"

#include <QHash>
#include <QList>
#include <QMap>
#include <QObject>
#include <QSet>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <QStringList>
#include <functional>

class QTimer;

// The console's event log in tb_event_log, beside the console's own tables:
// machines going off line and coming back, registrations, commands and group
// changes, and signs of someone else on the lab network. Events wait in memory and are written together shortly after, one
// transaction for a burst (a room going off line at once); each write drops
// what is older than the age bound, the ordinary rows beyond the newest
// maxRows and the "安全" rows beyond a bound of their own, each through an
// index, so that a write costs the same with a million rows. "安全" rows
// are held to SecurityRowBudget per page and minute, the rest counted in a
// summary row. Without a usable database nothing is kept.
class EventLogStore final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(EventLogStore)

public:
    // Timetable: what the weekly timetable did, kept like a command.
    // Notice: what start-up found (files it could not use, stored lists).
    enum Kind { Offline = 1, Online, Registered, Command, Group, Security, Timetable, Notice };
    static constexpr int LastKind = Notice;

    struct Event
    {
        qint64 at_ms = 0; // UTC, milliseconds since the epoch
        int kind = 0;
        QString page;
        quint64 mac = 0;
        QString machine;
        QString detail;
        qint64 handle = 0; // addCounted's, else 0
    };

    using Clock = std::function<qint64()>;
    static constexpr int DefaultMaxRows = 100000;
    static constexpr int DefaultMaxSecurityRows = 100000;
    static constexpr qint64 DefaultMaxAgeMs = 30LL * 24 * 60 * 60 * 1000;
    static constexpr int FlushDelayMs = 500;
    // Kept while the database cannot be written, then the oldest go.
    static constexpr int MaxPending = 10000;
    static constexpr int MaxRetryMs = 5 * 60 * 1000;

    explicit EventLogStore(QObject* parent = nullptr);

    void setClock(Clock clock);
    qint64 now() const;
    void setBounds(int maxRows, qint64 maxAgeMs, int maxSecurityRows = DefaultMaxSecurityRows);
    qint64 maxAgeMs() const { return max_age_ms; }
    // Creates the table and its index when missing and prunes; false leaves
    // the store unused.
    bool open(const QSqlDatabase& db);
    bool isOpen() const { return usable; }
    // Writes what waits and lets go of the connection.
    void close();

    static QString kindName(int kind);
    // Detail of an off-line row whose page was locked: evidence, like
    // commands and security rows, that pruning by count never removes.
    static const QString LockedOfflinePrefix;

    // Stamped with the clock; written at the next flush. A "安全" row over
    // its page's budget only counts in the minute's summary row.
    void add(int kind, const QString& page, quint64 mac, const QString& machine, const QString& detail);
    // The same, for a row whose detail will change later (a count of
    // repeats); the handle names it to updateDetail, 0 when nothing is kept,
    // Summarised when the row went into the summary (also without a
    // database, so that callers can hold back their alerts alike).
    static constexpr qint64 Summarised = -1;
    qint64 addCounted(int kind, const QString& page, quint64 mac, const QString& machine, const QString& detail,
        SecurityRowBudget::Source source = SecurityRowBudget::Source::New);
    // Rewrites the detail of a row added with addCounted, pending or written.
    void updateDetail(qint64 handle, const QString& detail);
    // Writes what waits and prunes; false keeps it waiting for the next try.
    bool flush();
    // Newest first; an empty page or kind 0 does not filter, and a page's
    // rows include the "安全" rows aimed at every page. The query is
    // active on success, inactive otherwise. Columns: at_utc, kind, page,
    // machine, ullmac, detail.
    QSqlQuery select(const QString& page, int kind, bool forwardOnly = false) const;
    QStringList pages() const;
    int rowCount() const;

signals:
    // A row taken for the next write, and a counted row's new detail: what
    // a lesson's record keeps beside the log, which may prune the rows.
    void sg_added(const EventLogStore::Event& event);
    void sg_detail_changed(qint64 handle, const QString& detail);
    void sg_written();
    void sg_closing();

private:
    bool prune(int securityAdded);
    bool admitSecurity(const QString& page, SecurityRowBudget::Source source);
    bool noteCountedIds();
    bool writeCountedUpdates();
    void enqueue(Event event);

    // "安全" rows over their bound pruned by one write at most.
    static constexpr qint64 MaxPrunedPerWrite = 200;
    // Rows whose detail may still change: handle to row id once written.
    static constexpr int MaxCounted = 4096;

    // A handle for the moment only: a kept copy would hold the connection
    // open past the registry's close.
    QSqlDatabase database() const;

    Clock clock;
    QString connection_name;
    bool usable = false;
    int max_rows = DefaultMaxRows;
    qint64 max_age_ms = DefaultMaxAgeMs;
    int max_security_rows = DefaultMaxSecurityRows;
    // "安全" rows as of the last write that went through (-1: not counted
    // yet), and as the write under way leaves them.
    qint64 security_rows = -1;
    qint64 next_security_rows = -1;
    SecurityRowBudget security_budget;
    // The summary row of each page's current minute.
    struct Summary
    {
        qint64 minute = -1;
        qint64 handle = 0;
    };
    QHash<QString, Summary> summaries;
    mutable bool pages_read = false;
    mutable QSet<QString> page_names;
    QList<Event> pending;
    QMap<qint64, qint64> counted_ids;
    QMap<qint64, QString> counted_updates;
    qint64 next_handle = 0;
    QTimer* flush_timer = nullptr;
    int retry_ms = 0;
};
