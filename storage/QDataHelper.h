#pragma once

#include "model/CStudentGroup.h"
#include "model/Machine.h"
#include "model/QtDoubleIntStringItem.h"

#include <QList>
#include <QMap>
#include <QObject>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QVariantList>
#include <QString>
#include <QStringList>

// Machines, groups and process-watch lists in one SQLite file. The registry
// opens the connection and hands the store a copy; the store never closes it.
// Failures give a false (or empty) result and leave a text in lastError().
// Used from one thread only: the one that opened the connection.
class QDataHelper final : public QObject
{
    Q_OBJECT

public:
    explicit QDataHelper(QObject* parent = nullptr);

    void setDatabase(const QSqlDatabase& db);
    QSqlDatabase database() const;

    // Creates tb_machines, tb_groups and tb_string_items where missing.
    bool initTables();
    // False (and a lastError()) when the file holds a table of one of those
    // names without the console's columns, or cannot be read: such a file
    // is best left exactly as it is, without the missing tables added.
    bool checkTables();
    bool createTable(const QStringList& columns, const QString& table);

    // Each save replaces the whole table (for string items, one type) in
    // one transaction: on any failure the previous rows stay.
    bool saveMachineList(const QList<Machine_PTR>& machines);
    bool saveGroupList(const QList<CStudentGroup_PTR>& groups);
    bool _saveIntStringItems(int itemType, const StringItemList& items);

    // A failing read gives an empty result and a lastError(); `ok` (when
    // given) tells it apart from an empty table.
    QMap<quint64, Machine_PTR> loadMachineList(bool* ok = nullptr);
    // Ascending display_order.
    QList<CStudentGroup_PTR> loadGroupList(bool* ok = nullptr);
    // -1: types 1, 2, 3 in that order; 1..3: that list; anything else: empty.
    StringItemList loadStringItems(int itemType, bool* ok = nullptr);

    // Makes a change in a transaction and rolls it back. False (and a
    // lastError()) when every save would fail: a read-only file or directory,
    // or a lock another program holds past the busy timeout.
    bool checkWritable();

    // True also when no row had that name.
    bool removeGroup(const QString& name);

    void setLastError(const QString& text);
    QString lastError() const;

private:
    // Prepares `statement` and runs it once per row of the bound columns.
    static bool execBatch(QSqlQuery& insert, const QString& statement, const QList<QVariantList>& columns);
    bool rollbackAndFail();

    QSqlDatabase db;
    QString last_error;
};
