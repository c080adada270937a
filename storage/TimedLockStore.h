#pragma once

#include <QList>
#include <QSqlDatabase>
#include <QString>

// The end times of the timed locks running on the pages, so that a restart
// during a lesson keeps them. One row per page (a page holds one lock at a
// time) in tb_timed_locks, beside the console's own tables. Without a usable
// database every call does nothing and the locks last this run only.
class TimedLockStore final
{
public:
    struct Entry
    {
        QString page;
        int kind = 0; // the lock type to release
        qint64 end_ms = 0; // UTC, milliseconds since the epoch
    };

    // Creates the table when missing; false leaves the store unused.
    bool open(const QSqlDatabase& db);
    QList<Entry> load() const;
    bool put(const Entry& entry);
    bool remove(const QString& page);
    // The row of `from` becomes `to`'s, replacing any row `to` had.
    bool rename(const QString& from, const QString& to);
    bool isOpen() const { return usable; }
    void close();

private:
    QSqlDatabase database() const;

    QString connection_name;
    bool usable = false;
};
