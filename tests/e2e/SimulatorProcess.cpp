#include "SimulatorProcess.h"

#include <QJsonDocument>
#include <QProcessEnvironment>

SimulatorProcess::SimulatorProcess(QObject* parent)
    : QObject(parent)
{
    connect(&process_, &QProcess::readyReadStandardOutput, this, &SimulatorProcess::readLines);
}

SimulatorProcess::~SimulatorProcess()
{
    if (process_.state() != QProcess::NotRunning) {
        process_.terminate();
        if (!process_.waitForFinished(5000))
            process_.kill();
        process_.waitForFinished(5000);
    }
}

void SimulatorProcess::start(const QStringList& arguments)
{
    // Wire text is in the local 8-bit encoding; both ends must agree on it.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
    process_.setProcessEnvironment(environment);
    // Its complaints belong in the test's log.
    process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process_.setProgram(QStringLiteral(ROK_AGENTSIM_PATH));
    process_.setArguments(arguments);
    process_.start();
}

void SimulatorProcess::readLines()
{
    pending_ += process_.readAllStandardOutput();
    int end = 0;
    while ((end = pending_.indexOf('\n')) >= 0) {
        const QByteArray line = pending_.left(end);
        pending_.remove(0, end + 1);
        const QJsonObject object = QJsonDocument::fromJson(line).object();
        const QString type = object.value(QStringLiteral("type")).toString();
        if (type == QLatin1String("agent")) {
            const QString host = object.value(QStringLiteral("host")).toString();
            agents_.insert(host, object);
            if (object.value(QStringLiteral("silent")).toBool())
                everSilent_.insert(host);
        } else if (type == QLatin1String("summary")) {
            summary_ = object;
        } else {
            badLines_.append(QString::fromUtf8(line));
        }
    }
}
