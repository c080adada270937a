// rok-crashcheck: seeds a console's data directory for scripts/crash-test and,
// after each kill, checks what the killed console left behind against the
// last state that passed. See usage() for the commands.

#include "core/QStudentManage.h"
#include "SimulatorOptions.h"
#include "storage/GroupSettingsFile.h"
#include "storage/QDataHelper.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSet>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QStringList>
#include <QVariant>
#include <cstdio>

namespace {

const QString Ungrouped = QStringLiteral("未分组");

void usage()
{
    std::fputs("usage: rok-crashcheck seed DIR STATE MACHINES GROUPS ITEMS\n"
               "       rok-crashcheck verify DIR STATE MACHINES HOST-PREFIX [LOCK-LOG]\n"
               "seed writes data.sqlite3 and config.conf into DIR and copies them to STATE.\n"
               "verify checks DIR against STATE: the database opens and is intact, every\n"
               "table holds a complete set (machines named as in STATE or HOST-PREFIX<n>,\n"
               "the same groups with the same grouped machines, the same lists), and\n"
               "config.conf parses and is STATE's text or the text after one of the lock\n"
               "types in LOCK-LOG (lines \"lock T\"). On success STATE takes DIR's files.\n"
               "Prints one line: ok ... or FAIL: reason; exit status 0 or 1.\n",
        stderr);
}

struct Snapshot
{
    QString error;
    QString integrity;
    QMap<quint64, Machine_PTR> machines;
    QList<CStudentGroup_PTR> groups;
    StringItemList items;
};

Snapshot readDatabase(const QString& path, bool readOnly)
{
    static int connections = 0;
    const QString name = QStringLiteral("crashcheck-%1").arg(++connections);
    Snapshot snapshot;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(path);
        if (readOnly)
            db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
        if (!db.open()) {
            snapshot.error = QStringLiteral("cannot open %1").arg(path);
        } else {
            {
                QSqlQuery check(db);
                if (check.exec(QStringLiteral("PRAGMA integrity_check;")) && check.next())
                    snapshot.integrity = check.value(0).toString();
            }
            QDataHelper store;
            store.setDatabase(db);
            bool machinesRead = false;
            bool groupsRead = false;
            bool itemsRead = false;
            snapshot.machines = store.loadMachineList(&machinesRead);
            snapshot.groups = store.loadGroupList(&groupsRead);
            snapshot.items = store.loadStringItems(-1, &itemsRead);
            if (!machinesRead || !groupsRead || !itemsRead)
                snapshot.error = QStringLiteral("cannot read the tables: %1").arg(store.lastError());
            store.setDatabase(QSqlDatabase());
            db.close();
        }
    }
    QSqlDatabase::removeDatabase(name);
    return snapshot;
}

QByteArray fileBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool copyOver(const QString& from, const QString& to)
{
    QFile::remove(to);
    return QFile::copy(from, to);
}

SimulatorOptions lab(int machines, const QString& prefix)
{
    SimulatorOptions options;
    options.agents = machines;
    options.hostPrefix = prefix;
    return options;
}

int seed(const QString& dir, const QString& state, int machines, int groups, int items)
{
    const QString dbPath = QDir(dir).filePath(QStringLiteral("data.sqlite3"));
    const SimulatorOptions options = lab(machines, QStringLiteral("S-"));
    QList<GroupSettings> settings;
    StringItemList catalog;
    {
        QStudentManage registry;
        if (!registry.openDatabase(dbPath)) {
            std::fprintf(stderr, "rok-crashcheck: %s\n", qPrintable(registry.databaseError()));
            return 1;
        }
        for (int g = 0; g < groups; ++g)
            registry.addGroup(QStringLiteral("班级%1").arg(g + 1, 2, 10, QLatin1Char('0')), g + 1);
        const QStringList names = registry.groupNames();
        // The first half of the lab sits in groups, the rest in none.
        for (int i = 0; i < machines; ++i) {
            registry.updateMachine(options.agentMac(i), options.agentHostName(i),
                SimulatorOptions::addressText(options.agentAddress(i)), false);
            if (!names.isEmpty() && i < machines / 2)
                registry.moveMachineToGroup(names.at(i % names.size()), options.agentMac(i));
        }
        const QStringList patterns { QStringLiteral("^窗口标题 %1 .*$"), QStringLiteral("Service%1"),
            QStringLiteral("C:\\Programs\\app%1.exe") };
        for (int type = 1; type <= 3; ++type) {
            StringItemList ofType;
            for (int k = 0; k < items; ++k) {
                auto entry = std::make_shared<QtDoubleIntStringItem>();
                entry->item_type = type;
                entry->item_state = 1;
                entry->str_val = patterns.at(type - 1).arg(k);
                ofType << entry;
            }
            registry.saveStringItems(ofType, type);
            catalog << ofType;
        }
        if (!registry.saveAll()) {
            std::fprintf(stderr, "rok-crashcheck: cannot save %s\n", qPrintable(dbPath));
            return 1;
        }

        // Every page switches a different third of each list off.
        QStringList pages = names;
        pages << Ungrouped;
        for (int p = 0; p < pages.size(); ++p) {
            GroupSettings entry;
            entry.group_name = pages.at(p);
            entry.allowmanualip = p % 2 == 0;
            entry.allowusbdrv = p % 3 == 0;
            for (int k = 0; k < catalog.size(); ++k) {
                const QtDoubleIntStringItem_PTR& item = catalog.at(k);
                if ((k + p) % 3 != 0)
                    continue;
                QStringList& list = item->item_type == 1 ? entry.titles
                    : item->item_type == 2               ? entry.services
                                                         : entry.programs;
                list << item->str_val;
            }
            settings << entry;
        }
    }
    const QString configPath = QDir(dir).filePath(QStringLiteral("config.conf"));
    QString error;
    if (!GroupSettingsFile::write(configPath, settings, &error)) {
        std::fprintf(stderr, "rok-crashcheck: %s\n", qPrintable(error));
        return 1;
    }
    QDir().mkpath(state);
    if (!copyOver(dbPath, QDir(state).filePath(QStringLiteral("data.sqlite3")))
        || !copyOver(configPath, QDir(state).filePath(QStringLiteral("config.conf")))) {
        std::fprintf(stderr, "rok-crashcheck: cannot copy to %s\n", qPrintable(state));
        return 1;
    }
    std::printf("seeded %d machines, %d groups, %d items per list\n", machines, groups, items);
    return 0;
}

QMap<quint64, QString> membership(const QList<CStudentGroup_PTR>& groups, QString* overlap)
{
    QMap<quint64, QString> groupOf;
    for (const CStudentGroup_PTR& group : groups) {
        for (quint64 mac : group->ullmac_list) {
            if (groupOf.contains(mac) && overlap)
                *overlap
                    = QStringLiteral("machine %1 in %2 and %3").arg(mac).arg(groupOf.value(mac), group->group_name);
            groupOf.insert(mac, group->group_name);
        }
    }
    return groupOf;
}

QString describe(const CStudentGroup_PTR& group)
{
    return QStringLiteral("%1/%2").arg(group->group_name).arg(group->display_order);
}

int fail(const QString& reason)
{
    std::printf("FAIL: %s\n", qPrintable(reason));
    return 1;
}

int verify(const QString& dir, const QString& state, int machines, const QString& prefix, const QString& lockLog)
{
    const QDir data(dir);
    const QString dbPath = data.filePath(QStringLiteral("data.sqlite3"));
    const QString configPath = data.filePath(QStringLiteral("config.conf"));
    const bool hotJournal = QFile::exists(dbPath + QStringLiteral("-journal"));

    // Left by a config.conf write the kill interrupted; the file itself is
    // replaced only by a complete one.
    const QStringList leftovers = data.entryList({ QStringLiteral("config.conf.*") }, QDir::Files | QDir::Hidden);
    for (const QString& name : leftovers)
        QFile::remove(data.filePath(name));

    const Snapshot now = readDatabase(dbPath, false);
    const Snapshot before = readDatabase(QDir(state).filePath(QStringLiteral("data.sqlite3")), true);
    if (!before.error.isEmpty())
        return fail(QStringLiteral("state: %1").arg(before.error));
    if (!now.error.isEmpty())
        return fail(now.error);
    if (now.integrity != QLatin1String("ok"))
        return fail(QStringLiteral("integrity_check: %1").arg(now.integrity));

    // Machines: the same set, each named as before or as this run's agents.
    if (now.machines.keys() != before.machines.keys())
        return fail(QStringLiteral("tb_machines holds %1 machines, %2 before")
                        .arg(now.machines.size())
                        .arg(before.machines.size()));
    const SimulatorOptions options = lab(machines, prefix);
    int renamed = 0;
    for (auto it = now.machines.cbegin(); it != now.machines.cend(); ++it) {
        const Machine_PTR& old = before.machines.value(it.key());
        const qint64 index = qint64(it.key() - options.macBase);
        const QString fresh = index >= 0 && index < machines ? options.agentHostName(int(index)) : QString();
        if (it.value()->ip != old->ip)
            return fail(QStringLiteral("machine %1 has address %2, not %3").arg(it.key()).arg(it.value()->ip, old->ip));
        if (it.value()->hostname == fresh && fresh != old->hostname)
            ++renamed;
        else if (it.value()->hostname != old->hostname)
            return fail(QStringLiteral("machine %1 is named %2").arg(it.key()).arg(it.value()->hostname));
    }

    // Groups: the same groups, and the same machines in groups, each in one.
    QStringList groupsNow;
    QStringList groupsBefore;
    for (const CStudentGroup_PTR& group : now.groups)
        groupsNow << describe(group);
    for (const CStudentGroup_PTR& group : before.groups)
        groupsBefore << describe(group);
    groupsNow.sort();
    groupsBefore.sort();
    if (groupsNow != groupsBefore)
        return fail(QStringLiteral("tb_groups holds %1, not %2").arg(groupsNow.join(','), groupsBefore.join(',')));
    QString overlap;
    const QMap<quint64, QString> groupOfNow = membership(now.groups, &overlap);
    const QMap<quint64, QString> groupOfBefore = membership(before.groups, nullptr);
    if (!overlap.isEmpty())
        return fail(overlap);
    if (groupOfNow.keys() != groupOfBefore.keys())
        return fail(
            QStringLiteral("%1 machines in groups, %2 before").arg(groupOfNow.size()).arg(groupOfBefore.size()));
    int moved = 0;
    for (auto it = groupOfNow.cbegin(); it != groupOfNow.cend(); ++it)
        moved += it.value() != groupOfBefore.value(it.key()) ? 1 : 0;

    if (now.items.size() != before.items.size())
        return fail(QStringLiteral("%1 list entries, %2 before").arg(now.items.size()).arg(before.items.size()));
    for (int i = 0; i < now.items.size(); ++i) {
        const auto& a = now.items.at(i);
        const auto& b = before.items.at(i);
        if (a->item_type != b->item_type || a->item_state != b->item_state || a->str_val != b->str_val)
            return fail(QStringLiteral("list entry %1 is %2, was %3").arg(i).arg(a->str_val, b->str_val));
    }

    // config.conf: the old text, or the old entries under one commanded lock type.
    const QByteArray text = fileBytes(configPath);
    const QByteArray oldText = fileBytes(QDir(state).filePath(QStringLiteral("config.conf")));
    QList<GroupSettings> entries;
    QString error;
    if (!GroupSettingsFile::parse(text, entries, &error) || text.isEmpty())
        return fail(QStringLiteral("config.conf does not parse (%1 bytes): %2").arg(text.size()).arg(error));
    QString configState = QStringLiteral("old");
    if (text != oldText) {
        QList<GroupSettings> oldEntries;
        GroupSettingsFile::parse(oldText, oldEntries);
        QSet<int> commanded;
        QFile log(lockLog);
        if (!lockLog.isEmpty() && log.open(QIODevice::ReadOnly)) {
            for (const QByteArray& line : log.readAll().split('\n'))
                if (line.startsWith("lock "))
                    commanded << line.mid(5).trimmed().toInt();
        }
        bool matched = false;
        for (int type : commanded) {
            QList<GroupSettings> expected = oldEntries;
            for (GroupSettings& entry : expected)
                entry.lock_type = type;
            if (GroupSettingsFile::toText(expected, GroupSettingsFile::NativeLineEnd) == text) {
                matched = true;
                configState = QStringLiteral("lock%1").arg(type);
            }
        }
        if (!matched)
            return fail(QStringLiteral("config.conf is neither the old text nor a commanded one (%1 entries)")
                            .arg(entries.size()));
    }

    const QString dbState = renamed == 0 ? QStringLiteral("old")
        : renamed == machines            ? QStringLiteral("new")
                                         : QStringLiteral("part%1").arg(renamed);
    if (!copyOver(dbPath, QDir(state).filePath(QStringLiteral("data.sqlite3")))
        || !copyOver(configPath, QDir(state).filePath(QStringLiteral("config.conf"))))
        return fail(QStringLiteral("cannot copy to %1").arg(state));
    std::printf("ok db=%s moved=%d journal=%d config=%s leftovers=%d\n", qPrintable(dbState), moved, hotJournal ? 1 : 0,
        qPrintable(configState), int(leftovers.size()));
    return 0;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() >= 7 && args.at(1) == QLatin1String("seed"))
        return seed(args.at(2), args.at(3), args.at(4).toInt(), args.at(5).toInt(), args.at(6).toInt());
    if (args.size() >= 6 && args.at(1) == QLatin1String("verify"))
        return verify(args.at(2), args.at(3), args.at(4).toInt(), args.at(5), args.value(6));
    usage();
    return 2;
}
