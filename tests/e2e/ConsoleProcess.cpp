#include "ConsoleProcess.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcessEnvironment>

ConsoleProcess::ConsoleProcess(const QString& programDir, const QString& lockDir, QObject* parent)
    : QObject(parent)
    , programDir_(programDir)
    , lockDir_(lockDir)
{
    process_.setProcessChannelMode(QProcess::SeparateChannels);
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

QString ConsoleProcess::programPath() const
{
    return QDir(programDir_).absoluteFilePath(QFileInfo(QStringLiteral(ROK_CONSOLE_PATH)).fileName());
}

QString ConsoleProcess::dataFile(const QString& name) const
{
    return QDir(programDir_).absoluteFilePath(name);
}

bool ConsoleProcess::install()
{
    if (QFileInfo::exists(programPath()))
        return true;
    return QDir().mkpath(programDir_) && QFile::copy(QStringLiteral(ROK_CONSOLE_PATH), programPath());
}

void ConsoleProcess::start()
{
    QDir().mkpath(lockDir_);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("TMPDIR"), lockDir_);
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    // Wire text is local 8-bit; the tests and the simulator speak UTF-8.
    environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
    process_.setProcessEnvironment(environment);
    process_.setWorkingDirectory(programDir_);
    process_.start(programPath(), QStringList());
}

void ConsoleProcess::terminate()
{
    process_.terminate();
}

QByteArray ConsoleProcess::standardError()
{
    stderr_ += process_.readAllStandardError();
    return stderr_;
}
