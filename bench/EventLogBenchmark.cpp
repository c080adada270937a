#include "EventLogBenchmark.h"

#include "Percentiles.h"
#include "ProcessUsage.h"
#include "storage/EventLogStore.h"

#include <QDateTime>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QVariantList>

#include <algorithm>
#include <functional>

namespace {

constexpr int Writes = 300;
constexpr int Pages = 50;
constexpr qint64 Day = 24LL * 60 * 60 * 1000;


QString pageName(int i)
{
    return QStringLiteral("机房%1").arg(i % Pages + 1, 2, 10, QLatin1Char('0'));
}

// `rows` rows of the kind `kindOf(i)` gives, oldest first over the last 29
// days, in one transaction.
bool seed(QSqlDatabase& db, int rows, const std::function<int(int)>& kindOf)
{
    constexpr int Chunk = 50000;
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    if (!db.transaction())
        return false;
    for (int first = 0; first < rows; first += Chunk) {
        QVariantList at, kind, page, mac, machine, detail;
        for (int i = first; i < std::min(rows, first + Chunk); ++i) {
            at << now - 29 * Day + qint64(i) * (29 * Day / std::max(rows, 1));
            kind << kindOf(i);
            page << pageName(i);
            mac << quint64(0x5A0000000000ULL + quint64(i % 5000));
            machine << QStringLiteral("PC-%1").arg(i % 5000);
            detail << QStringLiteral("发现其他教师端的锁定状态：来源 10.1.%1.%2（未核实，可能伪造）")
                          .arg(i / 256 % 256)
                          .arg(i % 256);
        }
        QSqlQuery insert(db);
        if (!insert.prepare(
                QStringLiteral("INSERT INTO tb_event_log (at_utc,kind,page,ullmac,machine,detail) values(?,?,?,?,?,?);")))
            return false;
        for (const QVariantList& column : { at, kind, page, mac, machine, detail })
            insert.addBindValue(column);
        if (!insert.execBatch())
            return false;
    }
    return db.commit();
}


int countRows(QSqlDatabase& db)
{
    QSqlQuery query(db);
    return query.exec(QStringLiteral("SELECT count(*) FROM tb_event_log;")) && query.next() ? query.value(0).toInt() : -1;
}

QJsonObject runTable(const QString& name, int rows, const std::function<int(int)>& kindOf, QString* error)
{
    QTemporaryDir dir;
    QJsonObject json;
    const QString connection = QStringLiteral("bench-") + name;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection);
        db.setDatabaseName(dir.filePath(QStringLiteral("data.sqlite3")));
        if (!db.open()) {
            *error = QStringLiteral("cannot open the database");
            return json;
        }
        {
            // The table as the store makes it, then filled behind its back.
            EventLogStore schema;
            schema.open(db);
            schema.close();
        }
        const int64_t seedStart = ProcessUsage::monotonicNs();
        if (!seed(db, rows, kindOf)) {
            *error = QStringLiteral("seeding failed");
            return json;
        }
        json.insert(QStringLiteral("seed_s"), ProcessUsage::msSince(seedStart) / 1000);
        json.insert(QStringLiteral("rows_seeded"), countRows(db));

        EventLogStore log;
        const int64_t openStart = ProcessUsage::monotonicNs();
        if (!log.open(db)) {
            *error = QStringLiteral("the store did not open");
            return json;
        }
        json.insert(QStringLiteral("open_ms"), ProcessUsage::msSince(openStart));
        json.insert(QStringLiteral("rows_after_open"), countRows(db));

        // Each write as a busy lesson makes them: a security row, a machine
        // back on line and a command, every bound pruning a row. Then the
        // same without the commit's syncs to disk, which cost a write the
        // same whatever the table holds: what is left is the table's part.
        Percentiles writes;
        Percentiles unsynced;
        Percentiles refreshes;
        for (int i = 0; i < 2 * Writes; ++i) {
            if (i == Writes)
                QSqlQuery(db).exec(QStringLiteral("PRAGMA synchronous=OFF;"));
            log.addCounted(EventLogStore::Security, pageName(i), 0, QString(), QStringLiteral("bench %1").arg(i));
            log.add(EventLogStore::Online, pageName(i), 0x5A0000000001ULL, QStringLiteral("PC-1"), QString());
            log.add(EventLogStore::Command, pageName(i), 0, QString(), QStringLiteral("黑屏锁定"));
            const int64_t start = ProcessUsage::monotonicNs();
            if (!log.flush()) {
                *error = QStringLiteral("a write failed");
                return json;
            }
            (i < Writes ? writes : unsynced).add(ProcessUsage::msSince(start));
            // What the open log dock then reads: its pages and the first
            // screen of one room's rows.
            if (i % 10 == 0) {
                const int64_t shown = ProcessUsage::monotonicNs();
                log.pages();
                QSqlQuery query = log.select(pageName(i), 0, true);
                for (int row = 0; row < 256 && query.next(); ++row) {
                }
                refreshes.add(ProcessUsage::msSince(shown));
            }
        }
        json.insert(QStringLiteral("writes"), Writes);
        json.insert(QStringLiteral("write"), writes.figures());
        json.insert(QStringLiteral("write_unsynced"), unsynced.figures());
        json.insert(QStringLiteral("dock_refresh"), refreshes.figures());
        json.insert(QStringLiteral("rows_after"), countRows(db));
        log.close();
    }
    QSqlDatabase::removeDatabase(connection);
    return json;
}

} // namespace

QJsonObject EventLogBenchmark::run(const BenchOptions& options)
{
    QJsonObject result;
    result.insert(QStringLiteral("bench"), QStringLiteral("eventlog"));
    const int rows = options.logRows;
    result.insert(QStringLiteral("rows"), rows);
    QString error;
    // What a write costs whatever the table holds (the commit's syncs).
    result.insert(QStringLiteral("empty"), runTable(QStringLiteral("empty"), 0, [](int) { return 0; }, &error));
    // At the bounds: the newest 100,000 ids ordinary rows, 100,000 "安全"
    // rows, the rest commands (kept by age only).
    result.insert(QStringLiteral("bounded"), runTable(QStringLiteral("bounded"), rows, [rows](int i) {
        const int ordinaryFrom = rows - std::min(rows, EventLogStore::DefaultMaxRows);
        if (i >= ordinaryFrom)
            return int(EventLogStore::Online);
        const int every = std::max(1, ordinaryFrom / EventLogStore::DefaultMaxSecurityRows);
        return i % every == 0 ? int(EventLogStore::Security) : int(EventLogStore::Command);
    }, &error));
    // Written before "安全" rows had a bound of their own.
    if (error.isEmpty())
        result.insert(QStringLiteral("unbounded_security"),
            runTable(QStringLiteral("security"), rows, [rows](int i) {
                return i >= rows - std::min(rows, EventLogStore::DefaultMaxRows) && i % 2 == 0
                    ? int(EventLogStore::Online)
                    : int(EventLogStore::Security);
            }, &error));
    if (!error.isEmpty())
        result.insert(QStringLiteral("error"), error);
    return result;
}
