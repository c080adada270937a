#include "SimulatorRun.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QJsonDocument>

SimulatorRun::SimulatorRun(QObject* parent)
    : QObject(parent)
{
    connect(&process_, &QProcess::readyReadStandardOutput, this, &SimulatorRun::readLines);
    connect(&process_, &QProcess::readyReadStandardError, this,
        [this] { errors_ += QString::fromLocal8Bit(process_.readAllStandardError()); });
}

SimulatorRun::~SimulatorRun()
{
    if (isRunning()) {
        process_.kill();
        process_.waitForFinished(5000);
    }
}

QString SimulatorRun::program()
{
    return QDir(QCoreApplication::applicationDirPath()).absoluteFilePath(QStringLiteral("rok-agentsim"));
}

void SimulatorRun::start(const QStringList& arguments)
{
    process_.start(program(), arguments);
    process_.waitForStarted(10000);
}

void SimulatorRun::stop(int timeoutMs)
{
    if (!isRunning())
        return;
    process_.terminate();
    QElapsedTimer waited;
    waited.start();
    while (isRunning() && waited.elapsed() < timeoutMs) {
        process_.waitForFinished(50);
        QCoreApplication::processEvents();
    }
    if (isRunning())
        process_.kill();
    readLines();
}

void SimulatorRun::readLines()
{
    pending_ += process_.readAllStandardOutput();
    int newline;
    while ((newline = pending_.indexOf('\n')) >= 0) {
        const QByteArray line = pending_.left(newline);
        pending_.remove(0, newline + 1);
        const QJsonObject object = QJsonDocument::fromJson(line).object();
        const QString type = object.value(QStringLiteral("type")).toString();
        if (type == QLatin1String("summary")) {
            summary_ = object;
            emit summaryRead();
        } else if (type == QLatin1String("agent")) {
            unlockedMs_.insert(object.value(QStringLiteral("mac")).toString().toULongLong(),
                qint64(object.value(QStringLiteral("unlockedMs")).toDouble()));
        } else if (type == QLatin1String("silence")) {
            const quint64 mac = object.value(QStringLiteral("mac")).toString().toULongLong();
            const QJsonValue last = object.value(QStringLiteral("last_sent_us"));
            if (!last.isNull())
                lastSent_.insert(mac, int64_t(last.toDouble()));
            const int64_t at = int64_t(object.value(QStringLiteral("at_us")).toDouble());
            if (silencedAt_ == 0)
                silencedAt_ = at;
        } else if (type == QLatin1String("late")) {
            late_.insert(object.value(QStringLiteral("mac")).toString().toULongLong());
        } else if (type == QLatin1String("return")) {
            if (returnedAt_ == 0)
                returnedAt_ = int64_t(object.value(QStringLiteral("at_us")).toDouble());
        }
    }
}
