#include "FileDialog.h"

#include <QFileDialog>
#include <optional>

namespace {

std::optional<QString> nextSaveFileName;

} // namespace

QString FileDialog::getSaveFileName(QWidget* parent, const QString& caption, const QString& dir, const QString& filter)
{
    if (nextSaveFileName) {
        const QString answer = *nextSaveFileName;
        nextSaveFileName.reset();
        return answer;
    }
    return QFileDialog::getSaveFileName(parent, caption, dir, filter);
}

void FileDialog::setNextSaveFileName(const QString& path)
{
    nextSaveFileName = path;
}

void FileDialog::clearNextAnswer()
{
    nextSaveFileName.reset();
}
