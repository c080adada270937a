#include "storage/SeatStore.h"

#include <QDebug>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

namespace {

const QString SeatPlanOption = QStringLiteral("seat_plan");

} // namespace

bool SeatStore::open(const QSqlDatabase& connection)
{
    connection_name = connection.connectionName();
    usable = false;
    QSqlDatabase db = database();
    if (!db.isValid() || !db.isOpen())
        return fail(QStringLiteral("seats"), QStringLiteral("db is invalid."));
    QSqlQuery query(db);
    if (!query.exec(QStringLiteral("CREATE TABLE IF NOT EXISTS tb_seats("
                                   "ullmac bigint primary key not null,x int not null,y int not null);")))
        return fail(QStringLiteral("create tb_seats"), query.lastError().text());
    if (!query.exec(QStringLiteral("CREATE TABLE IF NOT EXISTS tb_view_options("
                                   "name text primary key not null,value int not null);")))
        return fail(QStringLiteral("create tb_view_options"), query.lastError().text());
    usable = true;
    return true;
}

void SeatStore::close()
{
    usable = false;
    connection_name.clear();
}

QSqlDatabase SeatStore::database() const
{
    return QSqlDatabase::database(connection_name, false);
}

bool SeatStore::fail(const QString& what, const QString& why)
{
    last_error = QStringLiteral("%1.%2").arg(what, why);
    qDebug() << last_error;
    return false;
}

QHash<quint64, QPoint> SeatStore::loadSeats()
{
    QHash<quint64, QPoint> seats;
    if (!usable)
        return seats;
    QSqlDatabase db = database();
    QSqlQuery query(db);
    if (!query.exec(QStringLiteral("SELECT ullmac,x,y FROM tb_seats;"))) {
        fail(QStringLiteral("loadSeats"), query.lastError().text());
        return seats;
    }
    while (query.next()) {
        const int x = query.value(1).toInt();
        const int y = query.value(2).toInt();
        // A cell left of or above the room would be out of reach of the mouse.
        if (x >= 0 && y >= 0)
            seats.insert(query.value(0).toULongLong(), QPoint(x, y));
    }
    return seats;
}

bool SeatStore::saveSeats(const QHash<quint64, QPoint>& seats)
{
    if (!usable)
        return false;
    QSqlDatabase db = database();
    // All tiles of one drag land together or not at all.
    if (!db.transaction())
        return fail(QStringLiteral("saveSeats"), db.lastError().text());
    QSqlQuery query(db);
    if (!query.prepare(QStringLiteral("INSERT OR REPLACE INTO tb_seats (ullmac,x,y) values(?,?,?);"))) {
        db.rollback();
        return fail(QStringLiteral("saveSeats"), query.lastError().text());
    }
    for (auto it = seats.cbegin(); it != seats.cend(); ++it) {
        query.bindValue(0, QVariant::fromValue<qulonglong>(it.key()));
        query.bindValue(1, it.value().x());
        query.bindValue(2, it.value().y());
        if (!query.exec()) {
            const QString why = query.lastError().text();
            db.rollback();
            return fail(QStringLiteral("saveSeats"), why);
        }
    }
    if (!db.commit()) {
        const QString why = db.lastError().text();
        db.rollback();
        return fail(QStringLiteral("saveSeats"), why);
    }
    return true;
}

bool SeatStore::seatPlanShown()
{
    if (!usable)
        return false;
    QSqlDatabase db = database();
    QSqlQuery query(db);
    if (!query.prepare(QStringLiteral("SELECT value FROM tb_view_options WHERE name=?;"))) {
        fail(QStringLiteral("seatPlanShown"), query.lastError().text());
        return false;
    }
    query.bindValue(0, SeatPlanOption);
    if (!query.exec()) {
        fail(QStringLiteral("seatPlanShown"), query.lastError().text());
        return false;
    }
    return query.next() && query.value(0).toInt() == 1;
}

bool SeatStore::setSeatPlanShown(bool shown)
{
    if (!usable)
        return false;
    QSqlDatabase db = database();
    QSqlQuery query(db);
    if (!query.prepare(QStringLiteral("INSERT OR REPLACE INTO tb_view_options (name,value) values(?,?);")))
        return fail(QStringLiteral("setSeatPlanShown"), query.lastError().text());
    query.bindValue(0, SeatPlanOption);
    query.bindValue(1, shown ? 1 : 0);
    if (!query.exec())
        return fail(QStringLiteral("setSeatPlanShown"), query.lastError().text());
    return true;
}
