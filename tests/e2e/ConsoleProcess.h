#pragma once

#include <QByteArray>
#include <QObject>
#include <QProcess>
#include <QString>

// The real console program, copied into `dir`/console so that its data files
// (data.sqlite3, config.conf) live beside it, and run offscreen. Its
// single-instance lock lives in `dir`/tmp, its TMPDIR, so consoles of
// parallel test runs never refuse each other.
class ConsoleProcess final : public QObject
{
    Q_OBJECT

public:
    explicit ConsoleProcess(const QString& dir, QObject* parent = nullptr);
    // Kills a console that is still running.
    ~ConsoleProcess() override;

    // Copies the console in unless the copy is already there, and starts it.
    bool start();
    // SIGTERM, as the system sends at shutdown.
    void terminate() { process_.terminate(); }
    bool waitForFinished(int ms) { return process_.waitForFinished(ms); }

    QProcess& process() { return process_; }
    QString dataFile(const QString& name) const { return programDir_ + QLatin1Char('/') + name; }
    // Everything the console wrote on standard error so far.
    QByteArray standardError() { return stderr_ += process_.readAllStandardError(); }

private:
    QString dir_;
    QString programDir_;
    QProcess process_;
    QByteArray stderr_;
};
