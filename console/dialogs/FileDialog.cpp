#include "dialogs/FileDialog.h"

#include <QFileDialog>
#include <optional>
#include <utility>

namespace {

// The pending answer serves the next chooser of either kind.
std::optional<QString> nextSaveFileName;

std::optional<QString> takeNextAnswer()
{
    return std::exchange(nextSaveFileName, std::nullopt);
}

} // namespace

QString FileDialog::getSaveFileName(QWidget* parent, const QString& caption, const QString& dir, const QString& filter)
{
    if (const std::optional<QString> answer = takeNextAnswer())
        return *answer;
    return QFileDialog::getSaveFileName(parent, caption, dir, filter);
}

QString FileDialog::getOpenFileName(QWidget* parent, const QString& caption, const QString& dir, const QString& filter)
{
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
