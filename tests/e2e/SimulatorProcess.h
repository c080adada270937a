#pragma once

#include <QByteArray>
#include <QHash>
#include <QJsonObject>
#include <QObject>
#include <QProcess>
#include <QSet>
#include <QStringList>

// rok-agentsim run as a child process, its JSON lines kept by host name.
class SimulatorProcess final : public QObject
{
    Q_OBJECT

public:
    explicit SimulatorProcess(QObject* parent = nullptr);
    ~SimulatorProcess() override;

    void start(const QStringList& arguments);
    QProcess& process() { return process_; }

    QJsonObject agent(const QString& host) const { return agents_.value(host); }
    // The last summary line, empty before the first.
    QJsonObject summary() const { return summary_; }
    bool wasSilent(const QString& host) const { return everSilent_.contains(host); }
    // Lines that were not JSON objects with a known "type".
    QStringList badLines() const { return badLines_; }

private:
    void readLines();

    QProcess process_;
    QByteArray pending_;
    QHash<QString, QJsonObject> agents_;
    QSet<QString> everSilent_;
    QJsonObject summary_;
    QStringList badLines_;
};
