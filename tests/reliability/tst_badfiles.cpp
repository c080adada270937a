// The console against damaged, foreign, locked and unwritable data files: it
// starts, tells the teacher when the database cannot be used, and never
// writes over a file it could not read.

#include "../console/tst_mainwindow_support.h"
#include "../storage/TestConnection.h"
#include "app/StartupNotices.h"
#include "groups/GroupOperations.h"
#include "saving/SaveScheduler.h"
#include "storage/GroupSettingsFile.h"
#include "tableview/QtRokTableView.h"

#include <QDir>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QtTest>

#ifdef Q_OS_LINUX
#include <cerrno>
#include <cstring>
#include <sched.h>
#include <sys/mount.h>
#include <sys/statvfs.h>
#endif

using namespace MainWindowTest;

namespace {

const QString Ungrouped = QStringLiteral("未分组");

enum class Damage {
    OverwrittenSchema,
    Truncated,
    ForeignMachines,
    ExclusiveLock,
    ReservedLock,
    OtherTablesOnly,
    EmptyFile,
};

QString dbPath(const QTemporaryDir& dir)
{
    return dir.filePath(QStringLiteral("data.sqlite3"));
}

bool seedLab(const QTemporaryDir& dir, int machines)
{
    QList<SeedMachine> seeded;
    for (int i = 0; i < machines; ++i)
        seeded << SeedMachine { 0x5A0000000001ULL + quint64(i),
            QStringLiteral("PC-%1").arg(i + 1, 4, 10, QLatin1Char('0')),
            QStringLiteral("10.0.%1.%2").arg(i / 250).arg(i % 250 + 1), i % 2 ? QStringLiteral("A") : QString() };
    return seedDatabase(dbPath(dir), { { QStringLiteral("A"), 1 } }, seeded,
        { item(1, QStringLiteral("游戏")), item(2, QStringLiteral("Spooler")),
            item(3, QStringLiteral("C:\\Tools\\guard.exe")) });
}

#ifdef Q_OS_LINUX
// A read-only bind mount of `path` in a mount namespace of this process:
// root ignores permission bits, but not a read-only mount. Empty when done.
QString mountReadOnly(const QString& path)
{
    static bool ownNamespace = false;
    if (!ownNamespace) {
        if (::unshare(CLONE_NEWNS) != 0)
            return QStringLiteral("unshare: %1").arg(QString::fromLocal8Bit(std::strerror(errno)));
        if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
            return QStringLiteral("private /: %1").arg(QString::fromLocal8Bit(std::strerror(errno)));
        ownNamespace = true;
    }
    const QByteArray target = QFile::encodeName(path);
    struct statvfs fs = {};
    if (::statvfs(target.constData(), &fs) != 0)
        return QStringLiteral("statvfs: %1").arg(QString::fromLocal8Bit(std::strerror(errno)));
    if (::mount(target.constData(), target.constData(), nullptr, MS_BIND, nullptr) != 0)
        return QStringLiteral("bind: %1").arg(QString::fromLocal8Bit(std::strerror(errno)));
    // A user namespace may not drop the flags the outer mount has.
    unsigned long flags = MS_REMOUNT | MS_BIND | MS_RDONLY;
    const std::pair<unsigned long, unsigned long> kept[]
        = { { ST_NOSUID, MS_NOSUID }, { ST_NODEV, MS_NODEV }, { ST_NOEXEC, MS_NOEXEC }, { ST_NOATIME, MS_NOATIME },
              { ST_NODIRATIME, MS_NODIRATIME }, { ST_RELATIME, MS_RELATIME } };
    for (const auto& [has, keep] : kept)
        if (fs.f_flag & has)
            flags |= keep;
    if (::mount(nullptr, target.constData(), nullptr, flags, nullptr) != 0) {
        const QString error = QStringLiteral("remount: %1").arg(QString::fromLocal8Bit(std::strerror(errno)));
        ::umount2(target.constData(), MNT_DETACH);
        return error;
    }
    return QString();
}

void unmount(const QString& path)
{
    ::umount2(QFile::encodeName(path).constData(), MNT_DETACH);
}
#endif

} // namespace

class TestBadFiles : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void damagedDatabase_data();
    void damagedDatabase();
    void readOnlyDirectory();
    void unreadableConfig();
    void configNotReadKeepsGroupNames();
    void saveFailureToldOnce();

private:
    // Any box nobody pre-answered: recorded and closed, so a test fails
    // instead of waiting for a person.
    QStringList unexpected_boxes;
    QTimer box_watch;
};

void TestBadFiles::initTestCase()
{
    initRokResources();
    box_watch.setInterval(50);
    connect(&box_watch, &QTimer::timeout, this, [this] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            unexpected_boxes << box->text();
            box->done(QMessageBox::Ok);
        }
    });
}

void TestBadFiles::init()
{
    unexpected_boxes.clear();
    MessageBox::clearLast();
    box_watch.start();
}

void TestBadFiles::cleanup()
{
    box_watch.stop();
    MessageBox::setNextAnswer(QMessageBox::NoButton);
}

void TestBadFiles::damagedDatabase_data()
{
    QTest::addColumn<int>("damage");
    QTest::addColumn<bool>("told");

    QTest::newRow("schema page overwritten") << int(Damage::OverwrittenSchema) << true;
    QTest::newRow("truncated to two pages") << int(Damage::Truncated) << true;
    QTest::newRow("foreign tb_machines") << int(Damage::ForeignMachines) << true;
    QTest::newRow("held in BEGIN EXCLUSIVE") << int(Damage::ExclusiveLock) << true;
    QTest::newRow("held in BEGIN IMMEDIATE") << int(Damage::ReservedLock) << true;
    QTest::newRow("only other tables") << int(Damage::OtherTablesOnly) << false;
    QTest::newRow("empty file") << int(Damage::EmptyFile) << false;
}

void TestBadFiles::damagedDatabase()
{
    QFETCH(int, damage);
    QFETCH(bool, told);

    QTemporaryDir dir;
    const QString path = dbPath(dir);
    std::unique_ptr<TestConnection> holder;
    switch (Damage(damage)) {
    case Damage::OverwrittenSchema: {
        QVERIFY(seedLab(dir, 40));
        QByteArray bytes = fileBytes(path);
        bytes.replace(100, 1900, QByteArray(1900, '\xA5'));
        QVERIFY(writeFile(path, bytes));
        break;
    }
    case Damage::Truncated: {
        QVERIFY(seedLab(dir, 40));
        QVERIFY(QFile::resize(path, 8192));
        break;
    }
    case Damage::ForeignMachines: {
        TestConnection other(path);
        QCOMPARE(other.exec("CREATE TABLE tb_machines(id integer primary key, name text, blob blob);"), QString());
        QCOMPARE(other.exec("INSERT INTO tb_machines(name) VALUES('keep me'),('and me');"), QString());
        break;
    }
    case Damage::ExclusiveLock:
    case Damage::ReservedLock:
        QVERIFY(seedLab(dir, 40));
        holder = std::make_unique<TestConnection>(path);
        QCOMPARE(holder->exec(damage == int(Damage::ExclusiveLock) ? QStringLiteral("BEGIN EXCLUSIVE;")
                                                                   : QStringLiteral("BEGIN IMMEDIATE;")),
            QString());
        QCOMPARE(holder->exec(QStringLiteral("INSERT INTO tb_groups(group_name) VALUES('uncommitted');")), QString());
        break;
    case Damage::OtherTablesOnly: {
        TestConnection other(path);
        QCOMPARE(other.exec(QStringLiteral("CREATE TABLE notes(text);")), QString());
        QCOMPARE(other.exec(QStringLiteral("INSERT INTO notes VALUES('lesson plan');")), QString());
        break;
    }
    case Damage::EmptyFile:
        QVERIFY(writeFile(path, QByteArray()));
        break;
    }
    const QByteArray before = fileBytes(path);

    {
        MessageBox::setNextAnswer(QMessageBox::Ok);
        RokVtxAdmin window(dir.path());
        // Told once the lab is served, in a box that stops nothing.
        QTRY_VERIFY(window.findChild<StartupNotices*>()->isReleased());
        if (told) {
            QCOMPARE(MessageBox::lastTitle(), QStringLiteral("启动提示"));
            QVERIFY2(
                MessageBox::lastText().contains(QDir::toNativeSeparators(path)), qPrintable(MessageBox::lastText()));
        } else {
            QVERIFY2(MessageBox::lastText().isEmpty(), qPrintable(MessageBox::lastText()));
            MessageBox::setNextAnswer(QMessageBox::NoButton);
        }
        QVERIFY(window.tabWidget()->count() >= 2);
        // A file that was read but held for writing is written once the
        // other program lets go.
        if (damage == int(Damage::ReservedLock)) {
            QVERIFY(MessageBox::lastText().contains(QStringLiteral("修改会在该文件可以写入后保存")));
            holder.reset();
        }

        // What the teacher does next must not reach a file that was not read.
        window.core().registry().updateMachine(0xC0FFEEULL, QStringLiteral("new-pc"), QStringLiteral("10.9.9.9"), false);
        answerAddGroup(&window, QStringLiteral("新组"), 1);
        action(window, "action_op_add_group")->trigger();
        QVERIFY(tabTexts(window).contains(QStringLiteral("新组")));
        window.saveNow();
    }
    holder.reset(); // rolls the other program's transaction back

    QVERIFY2(unexpected_boxes.isEmpty(), qPrintable(unexpected_boxes.join(QLatin1Char('\n'))));
    if (told && damage != int(Damage::ReservedLock)) {
        QCOMPARE(fileBytes(path), before);
        QVERIFY(!QFile::exists(path + QStringLiteral("-journal")));
    } else {
        // Usable: the console made its tables, kept what else was there and saved.
        QTRY_VERIFY(readDatabase(path).machines.contains(0xC0FFEEULL));
        QVERIFY(readDatabase(path).group(QStringLiteral("新组")));
        if (damage == int(Damage::OtherTablesOnly))
            QCOMPARE(TestConnection(path).column(QStringLiteral("SELECT text FROM notes;")),
                QStringList { QStringLiteral("lesson plan") });
    }
    if (damage == int(Damage::ForeignMachines))
        QCOMPARE(TestConnection(path).column(QStringLiteral("SELECT name FROM tb_machines ORDER BY id;")),
            (QStringList { QStringLiteral("keep me"), QStringLiteral("and me") }));
}

void TestBadFiles::readOnlyDirectory()
{
#ifndef Q_OS_LINUX
    QSKIP("needs a read-only mount, made here with Linux mount namespaces");
#else
    QTemporaryDir dir;
    QVERIFY(seedLab(dir, 30));
    const QString config = dir.filePath(QStringLiteral("config.conf"));
    QVERIFY(writeFile(config, "groups=({ group-name=\"未分组\"; lock-type=2; });"));
    const QByteArray dbBefore = fileBytes(dbPath(dir));
    const QByteArray configBefore = fileBytes(config);

    const QString failure = mountReadOnly(dir.path());
    if (!failure.isEmpty())
        QSKIP(qPrintable(QStringLiteral("cannot make a read-only directory here (%1)").arg(failure)));

    {
        MessageBox::setNextAnswer(QMessageBox::Ok);
        RokVtxAdmin window(dir.path());
        QTRY_VERIFY2(
            MessageBox::lastText().contains(QDir::toNativeSeparators(dbPath(dir))), qPrintable(MessageBox::lastText()));
        // What could be read is still shown.
        QCOMPARE(window.allPage()->machine_table->getRowCount(), 30);
        QCOMPARE(tabTexts(window), (QStringList { "全部", "A", "未分组" }));
        window.loadConfigFile();
        QCOMPARE(page(window, Ungrouped)->lock_state->lock_type, 2);

        window.tabWidget()->setCurrentIndex(0);
        action(window, "action_op_lock_kbd_mouse")->trigger();
        window.core().registry().updateMachine(0xC0FFEEULL, QStringLiteral("new-pc"), QStringLiteral("10.9.9.9"), false);
        window.saveNow();
    }
    unmount(dir.path());

    QVERIFY2(unexpected_boxes.isEmpty(), qPrintable(unexpected_boxes.join(QLatin1Char('\n'))));
    QCOMPARE(fileBytes(dbPath(dir)), dbBefore);
    QCOMPARE(fileBytes(config), configBefore);
#endif
}

void TestBadFiles::saveFailureToldOnce()
{
#ifndef Q_OS_LINUX
    QSKIP("needs a read-only mount, made here with Linux mount namespaces");
#else
    QTemporaryDir dir;
    QVERIFY(seedLab(dir, 3));
    RokVtxAdmin window(dir.path());
    const QString failure = mountReadOnly(dir.path());
    if (!failure.isEmpty())
        QSKIP(qPrintable(QStringLiteral("cannot make a read-only directory here (%1)").arg(failure)));

    window.core().registry().updateMachine(0xC0FFEEULL, QStringLiteral("new-pc"), QStringLiteral("10.9.9.9"), false);
    MessageBox::setNextAnswer(QMessageBox::Ok);
    window.parts().saves->saveDatabase();
    QVERIFY2(MessageBox::lastText().startsWith(QStringLiteral("无法写入数据库文件“%1”").arg(dbPath(dir))),
        qPrintable(MessageBox::lastText()));
    MessageBox::clearLast();
    window.parts().saves->saveDatabase(); // told already: no second box
    unmount(dir.path());
    window.parts().saves->saveDatabase();
    QVERIFY(window.statusBar()->currentMessage().contains(QStringLiteral("又可以写入")));
    QVERIFY(readDatabase(dbPath(dir)).machines.contains(0xC0FFEEULL));
    QVERIFY2(unexpected_boxes.isEmpty(), qPrintable(unexpected_boxes.join(QLatin1Char('\n'))));
    QCOMPARE(MessageBox::lastText(), QString());
#endif
}

void TestBadFiles::unreadableConfig()
{
    // What each damaged file reads as is checked on the file alone; here,
    // what the window does with one it cannot read.
    const QByteArray text("groups=(\n\t{\n\t\tgroup-name=\"未分组\";\n\t\tlock-type=2;");
    QTemporaryDir dir;
    QVERIFY(seedLab(dir, 4));
    const QString config = dir.filePath(QStringLiteral("config.conf"));
    QVERIFY(writeFile(config, text));
    {
        MessageBox::setNextAnswer(QMessageBox::Ok);
        RokVtxAdmin window(dir.path());
        window.loadConfigFile();
        QTRY_VERIFY(window.findChild<StartupNotices*>()->isReleased());
        QCOMPARE(page(window, Ungrouped)->lock_state->lock_type, 0);
        // The commands still act; only the file is left alone.
        window.tabWidget()->setCurrentIndex(0);
        action(window, "action_op_lock")->trigger();
        QCOMPARE(page(window, Ungrouped)->lock_state->lock_type, 2);
        window.saveNow();
    }
    QVERIFY2(unexpected_boxes.isEmpty(), qPrintable(unexpected_boxes.join(QLatin1Char('\n'))));
    // Told once, kept beside under its own name, and written afresh from the pages.
    const QString told = MessageBox::lastText();
    const QStringList kept = QDir(dir.path()).entryList({ QStringLiteral("config.conf.bad-*") });
    QCOMPARE(kept.size(), 1);
    QVERIFY2(told.contains(QStringLiteral("config.conf")) && told.contains(kept.first()), qPrintable(told));
    QCOMPARE(fileBytes(dir.filePath(kept.first())), text);
    QList<GroupSettings> back;
    QString error;
    QVERIFY2(GroupSettingsFile::read(config, back, &error), qPrintable(error));
    int written = -1;
    for (const GroupSettings& entry : back)
        if (entry.group_name == Ungrouped)
            written = entry.lock_type;
    QCOMPARE(written, 2);
}

void TestBadFiles::configNotReadKeepsGroupNames()
{
    // A file that cannot be read at all is never written in that run: a
    // group renamed then would come back under its new name without its
    // settings, a locked room unlocked.
    QTemporaryDir dir;
    QVERIFY(seedLab(dir, 4));
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("config.conf")));
    RokVtxAdmin window(dir.path());
    MessageBox::setNextAnswer(QMessageBox::Ok);
    window.loadConfigFile();
    QTRY_VERIFY(MessageBox::lastText().contains(QStringLiteral("本次运行不会改写该文件")));
    QVERIFY(!window.findChild<GroupOperations*>()->renameGroup(QStringLiteral("A"), QStringLiteral("B")));
    QCOMPARE(window.core().registry().groupNames(), QStringList { QStringLiteral("A") });
    // The teacher is told why, before any name is asked for.
    window.tabWidget()->setCurrentIndex(tabIndexOf(window, QStringLiteral("A")));
    MessageBox::setNextAnswer(QMessageBox::Ok);
    action(window, "action_op_rename_group")->trigger();
    QCOMPARE(MessageBox::lastTitle(), QStringLiteral("无法重命名"));
    QVERIFY2(unexpected_boxes.isEmpty(), qPrintable(unexpected_boxes.join(QLatin1Char('\n'))));
}

QTEST_MAIN(TestBadFiles)
#include "tst_badfiles.moc"
