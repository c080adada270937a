#include "dialogs/FileDialog.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>
#include <optional>
#include <utility>

namespace {

// The pending answer serves the next chooser of either kind.
std::optional<QString> nextSaveFileName;
QString lastStart;

QString folderKey(const QString& kind)
{
    return QStringLiteral("folders/") + kind;
}

// The folder of a chosen file is where this kind starts next time.
QString remembered(const QString& kind, const QString& path)
{
    if (!path.isEmpty())
        QSettings().setValue(folderKey(kind), QFileInfo(path).absolutePath());
    return path;
}

std::optional<QString> takeNextAnswer()
{
    return std::exchange(nextSaveFileName, std::nullopt);
}

} // namespace

QString FileDialog::folderFor(const QString& kind)
{
    const QString folder = QSettings().value(folderKey(kind)).toString();
    return !folder.isEmpty() && QFileInfo(folder).isDir()
        ? folder
        : QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
}

void FileDialog::forgetFolder(const QString& kind)
{
    QSettings().remove(folderKey(kind));
}

QString FileDialog::lastStartPath()
{
    return lastStart;
}

QString FileDialog::getSaveFileIn(
    QWidget* parent, const QString& caption, const QString& kind, const QString& fileName, const QString& filter)
{
    return remembered(kind, getSaveFileName(parent, caption, QDir(folderFor(kind)).filePath(fileName), filter));
}

QString FileDialog::getOpenFileIn(QWidget* parent, const QString& caption, const QString& kind, const QString& filter)
{
    // With the separator the chooser opens the folder and types no name.
    return remembered(kind, getOpenFileName(parent, caption, QDir(folderFor(kind)).path() + QLatin1Char('/'), filter));
}

QString FileDialog::getSaveFileName(QWidget* parent, const QString& caption, const QString& dir, const QString& filter)
{
    lastStart = dir;
    if (const std::optional<QString> answer = takeNextAnswer())
        return *answer;
    return QFileDialog::getSaveFileName(parent, caption, dir, filter);
}

QString FileDialog::getOpenFileName(QWidget* parent, const QString& caption, const QString& dir, const QString& filter)
{
    lastStart = dir;
    if (const std::optional<QString> answer = takeNextAnswer())
        return *answer;
    return QFileDialog::getOpenFileName(parent, caption, dir, filter);
}

void FileDialog::setNextSaveFileName(const QString& path)
{
    nextSaveFileName = path;
}

void FileDialog::clearNextAnswer()
{
    nextSaveFileName.reset();
}
