#include "storage/TimetableStore.h"

#include "storage/SqlExec.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QSqlQuery>
#include <QVariant>

namespace {

int minuteOf(const QTime& time)
{
    return time.hour() * 60 + time.minute();
}

QTime timeOf(int minute)
{
    return QTime(minute / 60 % 24, minute % 60);
}

// The three lists as one JSON array of arrays of texts.
QString listsText(const std::array<QStringList, 3>& lists)
{
    QJsonArray all;
    for (const QStringList& list : lists)
        all.append(QJsonArray::fromStringList(list));
    return QString::fromUtf8(QJsonDocument(all).toJson(QJsonDocument::Compact));
}

std::array<QStringList, 3> listsFromText(const QString& text)
{
    std::array<QStringList, 3> lists;
    const QJsonArray all = QJsonDocument::fromJson(text.toUtf8()).array();
    for (int i = 0; i < 3 && i < all.size(); ++i)
        for (const QJsonValue& entry : all.at(i).toArray())
            if (entry.isString())
                lists[size_t(i)] << entry.toString();
    return lists;
}

const char* const PageTables[] = { "tb_timetable_lessons", "tb_timetable_options", "tb_timetable_applied",
    "tb_timetable_before" };

} // namespace

bool TimetableStore::open(const QSqlDatabase& connection)
{
    connection_name = connection.connectionName();
    usable = false;
    const QSqlDatabase db = database();
    if (!db.isValid() || !db.isOpen())
        return false;
    const char* const statements[] = {
        "CREATE TABLE IF NOT EXISTS tb_timetable_lessons(group_name text not null,weekday int not null,"
        "start_minute int not null,end_minute int not null,start_mode text,end_mode text);",
        "CREATE TABLE IF NOT EXISTS tb_timetable_options(group_name text primary key not null,"
        "wake_minutes int not null,day_end_lock int not null);",
        "CREATE TABLE IF NOT EXISTS tb_timetable_applied(group_name text primary key not null,"
        "at_utc bigint not null);",
        "CREATE TABLE IF NOT EXISTS tb_timetable_before(group_name text primary key not null,"
        "allowmanualip int not null,allowusbdrv int not null,switched_off text,switched_on text);",
    };
    for (const char* statement : statements) {
        QSqlQuery create(db);
        if (!create.prepare(QString::fromLatin1(statement)) || !execLogged(create, "tb_timetable create"))
            return false;
    }
    usable = true;
    return true;
}

void TimetableStore::close()
{
    usable = false;
    connection_name.clear();
}

QSqlDatabase TimetableStore::database() const
{
    return QSqlDatabase::database(connection_name, false);
}

QMap<QString, Timetable> TimetableStore::load() const
{
    QMap<QString, Timetable> weeks;
    if (!usable)
        return weeks;
    QSqlQuery lessons(database());
    if (lessons.prepare(QStringLiteral("SELECT group_name,weekday,start_minute,end_minute,start_mode,end_mode FROM "
                                       "tb_timetable_lessons ORDER BY weekday,start_minute;"))
        && execLogged(lessons, "tb_timetable_lessons load"))
        while (lessons.next()) {
            TimetableLesson lesson;
            lesson.weekday = lessons.value(1).toInt();
            lesson.start = timeOf(lessons.value(2).toInt());
            lesson.end = timeOf(lessons.value(3).toInt());
            lesson.start_mode = lessons.value(4).toString();
            lesson.end_mode = lessons.value(5).toString();
            if (lesson.weekday >= 1 && lesson.weekday <= 7)
                weeks[lessons.value(0).toString()].lessons << lesson;
        }
    QSqlQuery options(database());
    if (options.prepare(QStringLiteral("SELECT group_name,wake_minutes,day_end_lock FROM tb_timetable_options;"))
        && execLogged(options, "tb_timetable_options load"))
        while (options.next()) {
            const auto it = weeks.find(options.value(0).toString());
            if (it == weeks.end())
                continue;
            it->wake_minutes = options.value(1).toInt();
            it->day_end_lock = options.value(2).toInt();
        }
    return weeks;
}

bool TimetableStore::removeRows(QSqlDatabase& db, const QString& page, bool withApplied)
{
    // The week alone, or everything kept for the page.
    QStringList tables;
    for (const char* table : PageTables)
        tables << QString::fromLatin1(table);
    if (!withApplied)
        tables = tables.mid(0, 2);
    for (const QString& table : tables) {
        QSqlQuery query(db);
        if (!query.prepare(QStringLiteral("DELETE FROM %1 WHERE group_name=?;").arg(table)))
            return false;
        query.addBindValue(page);
        if (!execLogged(query, "tb_timetable remove"))
            return false;
    }
    return true;
}

bool TimetableStore::put(const QString& page, const Timetable& timetable)
{
    if (!usable)
        return false;
    QSqlDatabase db = database();
    // The whole week or none of it.
    db.transaction();
    bool ok = removeRows(db, page, false);
    for (const TimetableLesson& lesson : timetable.lessons) {
        if (!ok)
            break;
        QSqlQuery query(db);
        ok = query.prepare(QStringLiteral("INSERT INTO tb_timetable_lessons (group_name,weekday,start_minute,"
                                          "end_minute,start_mode,end_mode) values(?,?,?,?,?,?);"));
        query.addBindValue(page);
        query.addBindValue(lesson.weekday);
        query.addBindValue(minuteOf(lesson.start));
        query.addBindValue(minuteOf(lesson.end));
        query.addBindValue(lesson.start_mode);
        query.addBindValue(lesson.end_mode);
        ok = ok && execLogged(query, "tb_timetable_lessons put");
    }
    if (ok && !timetable.isEmpty()) {
        QSqlQuery query(db);
        ok = query.prepare(QStringLiteral(
            "INSERT INTO tb_timetable_options (group_name,wake_minutes,day_end_lock) values(?,?,?);"));
        query.addBindValue(page);
        query.addBindValue(timetable.wake_minutes);
        query.addBindValue(timetable.day_end_lock);
        ok = ok && execLogged(query, "tb_timetable_options put");
    }
    if (ok)
        return db.commit();
    db.rollback();
    return false;
}

bool TimetableStore::remove(const QString& page)
{
    if (!usable)
        return false;
    QSqlDatabase db = database();
    return removeRows(db, page, true);
}

bool TimetableStore::rename(const QString& from, const QString& to)
{
    if (!usable)
        return false;
    QSqlDatabase db = database();
    db.transaction();
    bool ok = removeRows(db, to, true);
    for (const char* table : PageTables) {
        if (!ok)
            break;
        QSqlQuery query(db);
        ok = query.prepare(QStringLiteral("UPDATE %1 SET group_name=? WHERE group_name=?;").arg(QLatin1String(table)));
        query.addBindValue(to);
        query.addBindValue(from);
        ok = ok && execLogged(query, "tb_timetable rename");
    }
    if (ok)
        return db.commit();
    db.rollback();
    return false;
}

QMap<QString, qint64> TimetableStore::applied() const
{
    QMap<QString, qint64> instants;
    if (!usable)
        return instants;
    QSqlQuery query(database());
    if (query.prepare(QStringLiteral("SELECT group_name,at_utc FROM tb_timetable_applied;"))
        && execLogged(query, "tb_timetable_applied load"))
        while (query.next())
            instants.insert(query.value(0).toString(), query.value(1).toLongLong());
    return instants;
}

bool TimetableStore::setApplied(const QString& page, qint64 atMs)
{
    if (!usable)
        return false;
    QSqlQuery query(database());
    if (!query.prepare(QStringLiteral("INSERT OR REPLACE INTO tb_timetable_applied (group_name,at_utc) values(?,?);")))
        return false;
    query.addBindValue(page);
    query.addBindValue(atMs);
    return execLogged(query, "tb_timetable_applied put");
}

QMap<QString, BeforeLesson> TimetableStore::befores() const
{
    QMap<QString, BeforeLesson> kept;
    if (!usable)
        return kept;
    QSqlQuery query(database());
    if (query.prepare(QStringLiteral(
            "SELECT group_name,allowmanualip,allowusbdrv,switched_off,switched_on FROM tb_timetable_before;"))
        && execLogged(query, "tb_timetable_before load"))
        while (query.next()) {
            BeforeLesson before;
            before.allowmanualip = qBound(-1, query.value(1).toInt(), 1);
            before.allowusbdrv = qBound(-1, query.value(2).toInt(), 1);
            before.switched_off = listsFromText(query.value(3).toString());
            before.switched_on = listsFromText(query.value(4).toString());
            if (!before.isEmpty())
                kept.insert(query.value(0).toString(), before);
        }
    return kept;
}

bool TimetableStore::setBefore(const QString& page, const BeforeLesson& before)
{
    if (!usable)
        return false;
    QSqlQuery query(database());
    if (before.isEmpty()) {
        if (!query.prepare(QStringLiteral("DELETE FROM tb_timetable_before WHERE group_name=?;")))
            return false;
        query.addBindValue(page);
        return execLogged(query, "tb_timetable_before remove");
    }
    if (!query.prepare(QStringLiteral("INSERT OR REPLACE INTO tb_timetable_before (group_name,allowmanualip,"
                                      "allowusbdrv,switched_off,switched_on) values(?,?,?,?,?);")))
        return false;
    query.addBindValue(page);
    query.addBindValue(before.allowmanualip);
    query.addBindValue(before.allowusbdrv);
    query.addBindValue(listsText(before.switched_off));
    query.addBindValue(listsText(before.switched_on));
    return execLogged(query, "tb_timetable_before put");
}
