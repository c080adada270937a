#pragma once

#include <QString>

class QWidget;

// The console's file choosers. Same arguments as QFileDialog's static
// functions; tests pre-answer the next one so no dialog is ever shown.
class FileDialog final
{
public:
    FileDialog() = delete;

    static QString getSaveFileName(QWidget* parent, const QString& caption, const QString& dir, const QString& filter);
    static QString getOpenFileName(QWidget* parent, const QString& caption, const QString& dir, const QString& filter);
    // Each kind of file (machine lists, policy lists, the log...) starts in
    // the folder last chosen for it, Documents at first. A save offers
    // `fileName` there; an open offers no name.
    static QString getSaveFileIn(
        QWidget* parent, const QString& caption, const QString& kind, const QString& fileName, const QString& filter);
    static QString getOpenFileIn(QWidget* parent, const QString& caption, const QString& kind, const QString& filter);
    static QString folderFor(const QString& kind);
    // Back to Documents for `kind`.
    static void forgetFolder(const QString& kind);
    // Where the last chooser started, shown or pre-answered.
    static QString lastStartPath();

    // The next chooser returns `path` at once instead of being shown; an
    // empty path answers as a teacher who cancelled.
    static void setNextSaveFileName(const QString& path);
    static void setNextOpenFileName(const QString& path) { setNextSaveFileName(path); }
    // Withdraws a pending answer.
    static void clearNextAnswer();
};
