#pragma once

#include "model/LessonRecord.h"

#include <QDialog>

class QTextBrowser;

// One record as a readable page, with "保存为PDF..." and "保存为CSV...";
// both choosers start in the folder the teacher last saved a record to.
class LessonRecordPage final : public QDialog
{
    Q_OBJECT
    Q_DISABLE_COPY(LessonRecordPage)

public:
    // QSettings key of that folder.
    static const QString FolderKind;

    LessonRecordPage(const LessonRecord& record, qint64 nowMs, QWidget* parent);

    QTextBrowser* browser() const { return text; }
    // Through the file chooser; the path written, empty when cancelled or failed.
    QString savePdf();
    QString saveCsv();

protected:
    void showEvent(QShowEvent* event) override;

private:
    QString chooseFile(const QString& caption, const QString& suffix, const QString& filter);

    LessonRecord record;
    qint64 now_ms = 0;
    QTextBrowser* text = nullptr;
    class QTextDocument* page = nullptr;
};
