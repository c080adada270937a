#include "ConsoleProcess.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcessEnvironment>

ConsoleProcess::ConsoleProcess(const QString& dir, QObject* parent)
    : QObject(parent)
    , dir_(dir)
    , programDir_(dir + QStringLiteral("/console"))
{
    QDir().mkpath(programDir_);
    // Stdout is unused; stderr is collected so a full pipe never stalls the console.
    process_.setStandardOutputFile(QProcess::nullDevice());
    connect(&process_, &QProcess::readyReadStandardError, this, [this] { stderr_ += process_.readAllStandardError(); });
}

ConsoleProcess::~ConsoleProcess()
{
    if (process_.state() != QProcess::NotRunning) {
        process_.kill();
        process_.waitForFinished(5000);
    }
}

bool ConsoleProcess::start()
{
    const QString program = dataFile(QFileInfo(QStringLiteral(ROK_CONSOLE_PATH)).fileName());
    if (!QFileInfo::exists(program) && !QFile::copy(QStringLiteral(ROK_CONSOLE_PATH), program))
        return false;
    const QString lockDir = dir_ + QStringLiteral("/tmp");
    QDir().mkpath(lockDir);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("TMPDIR"), lockDir);
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    // Wire text is local 8-bit; the tests and the simulator speak UTF-8.
    environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
    process_.setProcessEnvironment(environment);
    process_.setWorkingDirectory(programDir_);
    process_.start(program, QStringList());
    return process_.waitForStarted(15000);
}
