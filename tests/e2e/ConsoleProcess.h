#pragma once

#include <QByteArray>
#include <QObject>
#include <QProcess>
#include <QString>

// The real console program, copied into a directory of its own so that its
// data files (data.sqlite3, config.conf) live beside it, and run offscreen.
// Its single-instance lock lives in the temporary directory it is given, so
// consoles of parallel test runs never refuse each other.
class ConsoleProcess final : public QObject
{
    Q_OBJECT

public:
    // `programDir`: where the copy and its data files live; `lockDir`: the
    // console's TMPDIR.
    ConsoleProcess(const QString& programDir, const QString& lockDir, QObject* parent = nullptr);
    // Kills a console that is still running.
    ~ConsoleProcess() override;

    // Copies the console into programDir unless the copy is already there.
    bool install();
    // Starts the copy; its standard error is kept for standardError().
    void start();
    // SIGTERM, as the system sends at shutdown.
    void terminate();
    bool waitForFinished(int ms) { return process_.waitForFinished(ms); }

    QProcess& process() { return process_; }
    QString programPath() const;
    QString dataFile(const QString& name) const;
    // Everything the console wrote on standard error so far.
    QByteArray standardError();

private:
    QString programDir_;
    QString lockDir_;
    QProcess process_;
    QByteArray stderr_;
};
