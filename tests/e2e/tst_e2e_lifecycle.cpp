#include "ConsoleProcess.h"
#include "DatagramCatcher.h"
#include "Protocol.h"
#include "SimulatorProcess.h"
#include "SqliteFile.h"

#include <QFile>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTextCodec>
#include <QtTest>

namespace {

constexpr int Patience = 15000;
constexpr int Agents = 3;

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Asks with a datagram without identity until the console answers.
bool answers(DatagramCatcher& probe)
{
    probe.sendToConsole(Protocol::buildHeartbeat(0));
    return probe.countOf(Protocol::MSG_ADMIN_REREGISTER) > 0;
}

} // namespace

class TestE2eLifecycle : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void sigtermSavesMachinesAndSettings();
    void secondInstanceRefused();
};

void TestE2eLifecycle::initTestCase()
{
    QVERIFY2(qEnvironmentVariableIsSet("ROK_NETNS_ISOLATED"),
        "opens the console's UDP ports: run it through ctest or scripts/netns");
    QTextCodec::setCodecForLocale(QTextCodec::codecForName("UTF-8"));
}

void TestE2eLifecycle::sigtermSavesMachinesAndSettings()
{
#ifndef Q_OS_UNIX
    QSKIP("SIGTERM is a Unix signal");
#endif
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    ConsoleProcess console(dir.filePath(QStringLiteral("console")), dir.filePath(QStringLiteral("tmp")));
    QVERIFY(console.install());
    console.start();
    QVERIFY2(console.process().waitForStarted(Patience), qPrintable(console.process().errorString()));

    // The agents find the console by its beacon.
    SimulatorProcess simulator;
    simulator.start({ QStringLiteral("--agents"), QString::number(Agents), QStringLiteral("--heartbeat-ms"),
        QStringLiteral("200"), QStringLiteral("--report-ms"), QStringLiteral("100") });
    QVERIFY2(simulator.process().waitForStarted(Patience), qPrintable(simulator.process().errorString()));
    QTRY_COMPARE_WITH_TIMEOUT(simulator.summary().value(QStringLiteral("registered")).toInt(), Agents, Patience);
    // Every agent is in "未分组", the only page with an address, and holds
    // its default lock state (manual IP settings not allowed).
    for (int i = 1; i <= Agents; ++i) {
        const QString host = QStringLiteral("PC-%1").arg(i, 4, 10, QLatin1Char('0'));
        QTRY_COMPARE_WITH_TIMEOUT(
            simulator.agent(host).value(QStringLiteral("lock")).toString(), QStringLiteral("0xF0000100"), Patience);
        QCOMPARE(simulator.agent(host).value(QStringLiteral("group")).toString(), QStringLiteral("239.74.8.27"));
    }

    const QString configPath = console.dataFile(QStringLiteral("config.conf"));
    const QString databasePath = console.dataFile(QStringLiteral("data.sqlite3"));
    QVERIFY2(!QFile::exists(configPath), "config.conf is written at exit, not before");

    console.terminate();
    QVERIFY(console.waitForFinished(Patience));
    QCOMPARE(console.process().exitStatus(), QProcess::NormalExit);
    QCOMPARE(console.process().exitCode(), 0);

    QVERIFY(QFile::exists(databasePath));
    QString error;
    const QList<QStringList> machines = SqliteFile::rows(
        databasePath, QStringLiteral("SELECT ullmac,ip,hostname FROM tb_machines ORDER BY ullmac;"), &error);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QCOMPARE(machines.size(), Agents);
    for (int i = 0; i < Agents; ++i) {
        const QStringList expected { QString::number(Q_UINT64_C(0x5A0000000001) + quint64(i)),
            QStringLiteral("127.0.1.%1").arg(i + 1), QStringLiteral("PC-%1").arg(i + 1, 4, 10, QLatin1Char('0')) };
        QCOMPARE(machines.at(i), expected);
    }

    const QByteArray expected = QStringLiteral("groups=(\n"
                                               "\t{\n"
                                               "\t\tgroup-name=\"未分组\";\n"
                                               "\t\tlock-type=0;\n"
                                               "\t\tallowmanualip=0;\n"
                                               "\t\tallowusbdrv=0;\n"
                                               "\t\ttype-1=[\n\n\t\t];\n"
                                               "\t\ttype-2=[\n\n\t\t];\n"
                                               "\t\ttype-3=[\n\n\t\t];\n"
                                               "\t},\n"
                                               ");")
                                    .toUtf8();
    QCOMPARE(readFile(configPath), expected);
}

void TestE2eLifecycle::secondInstanceRefused()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString programDir = dir.filePath(QStringLiteral("console"));
    const QString lockDir = dir.filePath(QStringLiteral("tmp"));
    ConsoleProcess first(programDir, lockDir);
    QVERIFY(first.install());
    first.start();
    QVERIFY2(first.process().waitForStarted(Patience), qPrintable(first.process().errorString()));
    DatagramCatcher probe;
    QVERIFY(probe.bind(QHostAddress(QStringLiteral("127.0.0.2")), 0));
    QTRY_VERIFY_WITH_TIMEOUT(answers(probe), Patience);

    // The same program, the same lock: it says so and ends at once.
    ConsoleProcess second(programDir, lockDir);
    second.start();
    QVERIFY(second.process().waitForStarted(Patience));
    QVERIFY2(second.waitForFinished(5000), "the refused console did not end");
    QCOMPARE(second.process().exitStatus(), QProcess::NormalExit);
    QCOMPARE(second.process().exitCode(), 0);
    QVERIFY2(second.standardError().contains("already running"), second.standardError().constData());
    QVERIFY(!QFile::exists(first.dataFile(QStringLiteral("config.conf"))));

    // The first one goes on serving.
    QCOMPARE(first.process().state(), QProcess::Running);
    probe.clear();
    QTRY_VERIFY_WITH_TIMEOUT(answers(probe), Patience);
    first.terminate();
    QVERIFY(first.waitForFinished(Patience));
    QCOMPARE(first.process().exitCode(), 0);
}

QTEST_GUILESS_MAIN(TestE2eLifecycle)
#include "tst_e2e_lifecycle.moc"
