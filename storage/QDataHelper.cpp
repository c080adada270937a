#include "storage/QDataHelper.h"

#include <QDebug>
#include <QPair>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>
#include <QVariantList>

#include <exception>

namespace {

// SQLite leaves most statement failures on the query, not on the connection;
// fall back to the query's text so the reason is not lost.
QString connectionError(const QSqlDatabase& db, const QSqlQuery& query)
{
    const QString text = db.lastError().text();
    return text.isEmpty() ? query.lastError().text() : text;
}

QStringList machineColumns()
{
    return { QStringLiteral("ullmac bigint primary key not null"), QStringLiteral("ip text"),
        QStringLiteral("hostname text") };
}

QStringList groupColumns()
{
    return { QStringLiteral("group_name text primary key not null"),
        QStringLiteral("display_order int not null default 1"), QStringLiteral("ullmac_list text"),
        QStringLiteral("is_global int default 0") };
}

QStringList stringItemColumns()
{
    return { QStringLiteral("str_val text not null"), QStringLiteral("item_type int not null"),
        QStringLiteral("item_state int not null default 1") };
}

} // namespace

QDataHelper::QDataHelper(QObject* parent)
    : QObject(parent)
{
}

void QDataHelper::setDatabase(const QSqlDatabase& db_)
{
    db = db_;
}

QSqlDatabase QDataHelper::database() const
{
    return db;
}

bool QDataHelper::initTables()
{
    last_error.clear();
    if (!db.isValid()) {
        setLastError(QStringLiteral("db is invalid."));
        return false;
    }
    if (!db.isOpen())
        db.open();
    if (!db.isOpen()) {
        setLastError(QStringLiteral("db open failed.%1").arg(db.lastError().text()));
        return false;
    }
    return createTable(machineColumns(), QStringLiteral("tb_machines"))
        && createTable(groupColumns(), QStringLiteral("tb_groups"))
        && createTable(stringItemColumns(), QStringLiteral("tb_string_items"));
}

bool QDataHelper::createTable(const QStringList& columns, const QString& table)
{
    if (columns.isEmpty() || table.isEmpty()) {
        setLastError(QStringLiteral("field list is empty or tablename is empty."));
        return false;
    }
    QSqlQuery query(db);
    if (!query.exec(QStringLiteral("CREATE TABLE IF NOT EXISTS %1(%2);").arg(table, columns.join(QLatin1Char(','))))) {
        setLastError(QStringLiteral("create table failed.%1").arg(query.lastError().text()));
        return false;
    }
    return true;
}

bool QDataHelper::checkTables()
{
    QStringList existing;
    QSqlQuery names(db);
    if (!names.exec(QStringLiteral("SELECT name FROM sqlite_master WHERE type IN ('table','view');"))) {
        setLastError(QStringLiteral("checkTables.%1").arg(names.lastError().text()));
        return false;
    }
    while (names.next())
        existing << names.value(0).toString();

    const QList<QPair<QStringList, QString>> tables { { machineColumns(), QStringLiteral("tb_machines") },
        { groupColumns(), QStringLiteral("tb_groups") }, { stringItemColumns(), QStringLiteral("tb_string_items") } };
    for (const auto& table : tables) {
        if (!existing.contains(table.second, Qt::CaseInsensitive))
            continue;
        QStringList columns;
        for (const QString& column : table.first)
            columns << column.section(QLatin1Char(' '), 0, 0);
        QSqlQuery probe(db);
        if (!probe.exec(QStringLiteral("SELECT %1 FROM %2 LIMIT 0;").arg(columns.join(QLatin1Char(',')), table.second))) {
            setLastError(QStringLiteral("checkTables.%1").arg(probe.lastError().text()));
            return false;
        }
    }
    return true;
}
bool QDataHelper::saveMachineList(const QList<Machine_PTR>& machines)
{
    const QString failed = QStringLiteral("saveMachineList.%1");
    if (!db.transaction()) {
        setLastError(failed.arg(db.lastError().text()));
        return false;
    }
    {
        QSqlQuery remove(db);
        if (!remove.exec(QStringLiteral("DELETE FROM tb_machines;"))) {
            setLastError(failed.arg(connectionError(db, remove)));
            return rollbackAndFail();
        }
    }
    if (!machines.isEmpty()) {
        QVariantList macs;
        QVariantList ips;
        QVariantList hostnames;
        macs.reserve(machines.size());
        ips.reserve(machines.size());
        hostnames.reserve(machines.size());
        for (const Machine_PTR& machine : machines) {
            // Stored as the signed 64-bit pattern: SQLite has no unsigned integers,
            // and a key at or above 2^63 bound unsigned would be kept as a
            // lossy REAL, letting two machines collide on the primary key.
            macs << QVariant(static_cast<qlonglong>(machine->ullmac));
            ips << machine->ip;
            hostnames << machine->hostname;
        }
        QSqlQuery insert(db);
        const bool ok = execBatch(insert, QStringLiteral("INSERT INTO tb_machines (ullmac,ip,hostname) values(?,?,?);"),
            { macs, ips, hostnames });
        if (!ok) {
            setLastError(QStringLiteral("INSERT INTO tb_machines failed.%1").arg(insert.lastError().text()));
            qDebug().noquote() << last_error;
            insert.finish();
            return rollbackAndFail();
        }
    }
    if (!db.commit()) {
        setLastError(failed.arg(db.lastError().text()));
        return rollbackAndFail();
    }
    return true;
}

QMap<quint64, Machine_PTR> QDataHelper::loadMachineList(bool* ok)
{
    QMap<quint64, Machine_PTR> machines;
    QSqlQuery query(db);
    const bool read = query.exec(QStringLiteral("SELECT ullmac,ip,hostname FROM tb_machines;"));
    if (ok)
        *ok = read;
    if (!read) {
        setLastError(QStringLiteral("loadMachineList.%1").arg(query.lastError().text()));
        return machines;
    }
    while (query.next()) {
        auto machine = std::make_shared<Machine>();
        machine->ullmac = static_cast<quint64>(query.value(QStringLiteral("ullmac")).toLongLong());
        machine->ip = query.value(QStringLiteral("ip")).toString();
        machine->hostname = query.value(QStringLiteral("hostname")).toString();
        machines.insert(machine->ullmac, machine);
    }
    return machines;
}

bool QDataHelper::saveGroupList(const QList<CStudentGroup_PTR>& groups)
{
    const QString deleteFailed = QStringLiteral("saveGroupList .%1");
    if (!db.transaction()) {
        setLastError(deleteFailed.arg(db.lastError().text()));
        qDebug().noquote() << last_error;
        return false;
    }
    {
        QSqlQuery remove(db);
        if (!remove.exec(QStringLiteral("DELETE FROM tb_groups;"))) {
            setLastError(deleteFailed.arg(remove.lastError().text()));
            qDebug().noquote() << last_error;
            return rollbackAndFail();
        }
    }
    if (!groups.isEmpty()) {
        QVariantList names;
        QVariantList orders;
        QVariantList members;
        QVariantList globals;
        for (const CStudentGroup_PTR& group : groups) {
            names << group->group_name;
            orders << group->display_order;
            // An empty set must be stored as "", not as NULL.
            const QString text = group->ullmacListText();
            members << (text.isNull() ? QStringLiteral("") : text);
            globals << (group->is_global ? 1 : 0);
        }
        QSqlQuery insert(db);
        const bool ok = execBatch(insert,
            QStringLiteral("INSERT INTO tb_groups (group_name,display_order,ullmac_list,is_global) values(?,?,?,?);"),
            { names, orders, members, globals });
        if (!ok) {
            setLastError(QStringLiteral("saveGroupList.%1").arg(insert.lastError().text()));
            qDebug().noquote() << last_error;
            insert.finish();
            return rollbackAndFail();
        }
    }
    if (!db.commit()) {
        setLastError(deleteFailed.arg(db.lastError().text()));
        qDebug().noquote() << last_error;
        return rollbackAndFail();
    }
    return true;
}

QList<CStudentGroup_PTR> QDataHelper::loadGroupList(bool* ok)
{
    QList<CStudentGroup_PTR> groups;
    QSqlQuery query(db);
    const bool read = query.exec(
        QStringLiteral("SELECT group_name,display_order,ullmac_list,is_global FROM tb_groups ORDER BY display_order;"));
    if (ok)
        *ok = read;
    if (!read) {
        setLastError(QStringLiteral("loadGroupList.%1").arg(query.lastError().text()));
        return groups;
    }
    while (query.next()) {
        auto group = std::make_shared<CStudentGroup>();
        group->group_name = query.value(QStringLiteral("group_name")).toString();
        group->display_order = query.value(QStringLiteral("display_order")).toInt();
        group->setUllmacListText(query.value(QStringLiteral("ullmac_list")).toString());
        group->is_global = query.value(QStringLiteral("is_global")).toInt() == 1;
        groups.append(group);
    }
    return groups;
}

bool QDataHelper::removeGroup(const QString& name)
{
    QSqlQuery query(db);
    bool ok = false;
    try {
        ok = query.prepare(QStringLiteral("DELETE FROM tb_groups WHERE group_name=?;"));
        if (ok) {
            query.addBindValue(name);
            ok = query.exec();
        }
    } catch (const std::exception&) {
        ok = false;
    }
    if (!ok) {
        setLastError(QStringLiteral("removeGroup.%1").arg(query.lastError().text()));
        qDebug().noquote() << last_error;
        return false;
    }
    return true;
}

bool QDataHelper::_saveIntStringItems(int itemType, const StringItemList& items)
{
    const QString failed = QStringLiteral("_saveIntStringItems.%1");
    if (!db.transaction()) {
        setLastError(failed.arg(db.lastError().text()));
        return false;
    }
    {
        QSqlQuery remove(db);
        if (!remove.exec(QStringLiteral("DELETE FROM tb_string_items WHERE item_type=%1;").arg(itemType))) {
            setLastError(failed.arg(remove.lastError().text()));
            return rollbackAndFail();
        }
    }
    if (!items.isEmpty()) {
        QVariantList texts;
        QVariantList states;
        for (const QtDoubleIntStringItem_PTR& item : items) {
            // An empty entry is a valid (if useless) entry; NOT NULL must not
            // make the whole list unsavable.
            texts << (item->str_val.isNull() ? QStringLiteral("") : item->str_val);
            states << item->item_state;
        }
        QSqlQuery insert(db);
        const bool ok = execBatch(insert,
            QStringLiteral("INSERT INTO tb_string_items (str_val,item_type,item_state) values(?,%1,?);").arg(itemType),
            { texts, states });
        if (!ok) {
            setLastError(failed.arg(insert.lastError().text()));
            insert.finish();
            return rollbackAndFail();
        }
    }
    if (!db.commit()) {
        setLastError(failed.arg(db.lastError().text()));
        return rollbackAndFail();
    }
    return true;
}

StringItemList QDataHelper::loadStringItems(int itemType, bool* ok)
{
    if (ok)
        *ok = true;
    if (itemType == -1) {
        bool read[3] = { true, true, true };
        const StringItemList items = loadStringItems(QtDoubleIntStringItem::ForbiddenTitles, &read[0])
            + loadStringItems(QtDoubleIntStringItem::ProtectedServices, &read[1])
            + loadStringItems(QtDoubleIntStringItem::ProtectedPrograms, &read[2]);
        if (ok)
            *ok = read[0] && read[1] && read[2];
        return items;
    }

    StringItemList items;
    if (itemType < QtDoubleIntStringItem::ForbiddenTitles || itemType > QtDoubleIntStringItem::ProtectedPrograms)
        return items;
    QSqlQuery query(db);
    if (!query.exec(QStringLiteral("SELECT str_val,item_state FROM tb_string_items WHERE item_type=%1;").arg(itemType))) {
        setLastError(QStringLiteral("loadStringItems.%1").arg(query.lastError().text()));
        if (ok)
            *ok = false;
        return items;
    }
    while (query.next()) {
        auto item = std::make_shared<QtDoubleIntStringItem>();
        item->item_type = itemType;
        // Only 1 switches an entry on; anything else another program or an
        // older file left there reads, shows, sends and saves as off.
        item->item_state = query.value(QStringLiteral("item_state")).toInt() == QtDoubleIntStringItem::Active
            ? QtDoubleIntStringItem::Active
            : QtDoubleIntStringItem::Inactive;
        item->str_val = query.value(QStringLiteral("str_val")).toString();
        items.append(item);
    }
    return items;
}

bool QDataHelper::checkWritable()
{
    const QString failed = QStringLiteral("checkWritable.%1");
    if (!db.transaction()) {
        setLastError(failed.arg(db.lastError().text()));
        return false;
    }
    // A schema change always takes the write lock and needs the rollback
    // journal beside the file, as every save does.
    QSqlQuery probe(db);
    const bool ok = probe.exec(QStringLiteral("CREATE TABLE rok_write_probe(x);"));
    if (!ok)
        setLastError(failed.arg(probe.lastError().text()));
    probe.finish();
    db.rollback();
    return ok;
}

void QDataHelper::setLastError(const QString& text)
{
    last_error = text;
}

QString QDataHelper::lastError() const
{
    return last_error;
}

bool QDataHelper::execBatch(QSqlQuery& insert, const QString& statement, const QList<QVariantList>& columns)
{
    if (!insert.prepare(statement))
        return false;
    for (const QVariantList& column : columns)
        insert.addBindValue(column);
    return insert.execBatch();
}

bool QDataHelper::rollbackAndFail()
{
    db.rollback();
    return false;
}
