#include "storage/LessonModeStore.h"

#include "storage/SqlExec.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QSqlQuery>
#include <QVariant>

bool LessonModeStore::open(const QSqlDatabase& connection)
{
    connection_name = connection.connectionName();
    usable = false;
    const QSqlDatabase db = database();
    if (!db.isValid() || !db.isOpen())
        return false;
    QSqlQuery create(db);
    usable = create.prepare(QStringLiteral(
                 "CREATE TABLE IF NOT EXISTS tb_lesson_modes(name text primary key not null,lock_type int not null,"
                 "allow_manual_ip int not null,allow_usb int not null,disabled_titles text not null,"
                 "disabled_services text not null,disabled_programs text not null);"))
        && execLogged(create, "tb_lesson_modes create");
    return usable;
}

void LessonModeStore::close()
{
    usable = false;
    connection_name.clear();
}

QList<LessonMode> LessonModeStore::load() const
{
    QList<LessonMode> modes;
    if (!usable)
        return modes;
    QSqlQuery query(database());
    if (!query.prepare(QStringLiteral("SELECT name,lock_type,allow_manual_ip,allow_usb,disabled_titles,"
                                      "disabled_services,disabled_programs FROM tb_lesson_modes ORDER BY name;"))
        || !execLogged(query, "tb_lesson_modes load"))
        return modes;
    while (query.next()) {
        LessonMode mode;
        mode.name = query.value(0).toString();
        mode.lock_type = query.value(1).toInt();
        mode.allowmanualip = query.value(2).toInt() != 0;
        mode.allowusbdrv = query.value(3).toInt() != 0;
        for (int type = 1; type <= 3; ++type)
            mode.setDisabled(type, entriesFromText(query.value(3 + type).toString()));
        modes << mode;
    }
    return modes;
}

bool LessonModeStore::put(const LessonMode& mode)
{
    if (!usable)
        return false;
    QSqlQuery query(database());
    if (!query.prepare(QStringLiteral("INSERT OR REPLACE INTO tb_lesson_modes (name,lock_type,allow_manual_ip,"
                                      "allow_usb,disabled_titles,disabled_services,disabled_programs) "
                                      "values(?,?,?,?,?,?,?);")))
        return false;
    query.addBindValue(mode.name);
    query.addBindValue(mode.lock_type);
    query.addBindValue(mode.allowmanualip ? 1 : 0);
    query.addBindValue(mode.allowusbdrv ? 1 : 0);
    for (int type = 1; type <= 3; ++type)
        query.addBindValue(entriesText(mode.disabled(type)));
    return execLogged(query, "tb_lesson_modes put");
}

bool LessonModeStore::rename(const QString& from, const QString& to)
{
    if (!usable)
        return false;
    // A plain UPDATE fails on the primary key rather than replace a mode.
    QSqlQuery query(database());
    if (!query.prepare(QStringLiteral("UPDATE tb_lesson_modes SET name=? WHERE name=?;")))
        return false;
    query.addBindValue(to);
    query.addBindValue(from);
    return execLogged(query, "tb_lesson_modes rename") && query.numRowsAffected() == 1;
}

bool LessonModeStore::remove(const QString& name)
{
    if (!usable)
        return false;
    QSqlQuery query(database());
    if (!query.prepare(QStringLiteral("DELETE FROM tb_lesson_modes WHERE name=?;")))
        return false;
    query.addBindValue(name);
    return execLogged(query, "tb_lesson_modes remove");
}

QString LessonModeStore::entriesText(const QStringList& entries)
{
    return QString::fromUtf8(QJsonDocument(QJsonArray::fromStringList(entries)).toJson(QJsonDocument::Compact));
}

QStringList LessonModeStore::entriesFromText(const QString& text)
{
    QStringList entries;
    const QJsonDocument document = QJsonDocument::fromJson(text.toUtf8());
    for (const QJsonValue& value : document.array())
        if (value.isString())
            entries << value.toString();
    return entries;
}

QSqlDatabase LessonModeStore::database() const
{
    return QSqlDatabase::database(connection_name, false);
}
