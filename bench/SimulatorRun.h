#pragma once

#include <QHash>
#include <QJsonObject>
#include <QObject>
#include <QProcess>
#include <QSet>
#include <QStringList>

#include <cstdint>

// rok-agentsim as a child process: its summary lines and its silence
// events, read as they come.
class SimulatorRun final : public QObject
{
    Q_OBJECT

public:
    explicit SimulatorRun(QObject* parent = nullptr);
    ~SimulatorRun() override;

    static QString program();

    void start(const QStringList& arguments);
    // SIGTERM, then wait for the final summary.
    void stop(int timeoutMs = 10000);
    bool isRunning() const { return process_.state() != QProcess::NotRunning; }

    QJsonObject summary() const { return summary_; }
    // Monotonic microseconds of each silenced agent's last datagram.
    const QHash<quint64, int64_t>& lastSentUs() const { return lastSent_; }
    // Agents the simulator itself let go 1.4 s or longer without a datagram.
    const QSet<quint64>& lateAgents() const { return late_; }
    // Each agent's unlockedMs as of the latest report (runs without
    // --summary-only).
    const QHash<quint64, qint64>& unlockedMs() const { return unlockedMs_; }
    int64_t silencedAtUs() const { return silencedAt_; }
    int64_t returnedAtUs() const { return returnedAt_; }
    QString errors() const { return errors_; }

signals:
    void summaryRead();

private:
    void readLines();

    QProcess process_;
    QByteArray pending_;
    QJsonObject summary_;
    QHash<quint64, int64_t> lastSent_;
    QHash<quint64, qint64> unlockedMs_;
    QSet<quint64> late_;
    int64_t silencedAt_ = 0;
    int64_t returnedAt_ = 0;
    QString errors_;
};
