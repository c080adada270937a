#include "lesson/LessonRecordPage.h"

#include "dialogs/FileDialog.h"
#include "dialogs/MessageBox.h"
#include "lesson/LessonRecordReport.h"
#include "storage/MachineListCsv.h"

#include <QDialogButtonBox>
#include <QDir>
#include <QFileInfo>
#include <QPushButton>
#include <QTextBrowser>
#include <QTextDocument>
#include <QVBoxLayout>

const QString LessonRecordPage::FolderKind = QStringLiteral("lesson-record");

LessonRecordPage::LessonRecordPage(const LessonRecord& record_, qint64 nowMs, QWidget* parent)
    : QDialog(parent)
    , record(record_)
    , now_ms(nowMs)
    , text(new QTextBrowser(this))
{
    setObjectName(QStringLiteral("lessonRecordPage"));
    setWindowTitle(QStringLiteral("课堂记录：%1").arg(record.room));
    text->setObjectName(QStringLiteral("lessonRecordText"));
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    QPushButton* pdf = buttons->addButton(QStringLiteral("保存为PDF..."), QDialogButtonBox::ActionRole);
    pdf->setObjectName(QStringLiteral("savePdf"));
    QPushButton* csv = buttons->addButton(QStringLiteral("保存为CSV..."), QDialogButtonBox::ActionRole);
    csv->setObjectName(QStringLiteral("saveCsv"));
    connect(pdf, &QPushButton::clicked, this, &LessonRecordPage::savePdf);
    connect(csv, &QPushButton::clicked, this, &LessonRecordPage::saveCsv);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(text);
    layout->addWidget(buttons);
    resize(900, 640);
    // Built apart and handed over whole once the browser has its width, so
    // that it is laid out once, as wide as it is shown.
    page = new QTextDocument(this);
    LessonRecordReport::fill(*page, record, now_ms);
}

void LessonRecordPage::showEvent(QShowEvent* event)
{
    if (page && text->document() != page) {
        page->setParent(text);
        text->setDocument(page);
    }
    QDialog::showEvent(event);
}

QString LessonRecordPage::chooseFile(const QString& caption, const QString& suffix, const QString& filter)
{
    QString path = FileDialog::getSaveFileIn(
        this, caption, FolderKind, LessonRecordReport::fileBaseName(record) + suffix, filter);
    if (!path.isEmpty() && QFileInfo(path).suffix().isEmpty())
        path += suffix;
    return path;
}

QString LessonRecordPage::savePdf()
{
    const QString path = chooseFile(QStringLiteral("保存为PDF"), QStringLiteral(".pdf"), QStringLiteral("PDF 文件 (*.pdf)"));
    QString error;
    if (path.isEmpty())
        return path;
    if (!LessonRecordReport::writePdf(record, now_ms, path, &error)) {
        MessageBox::critical(this, QStringLiteral("错误"),
            QStringLiteral("无法保存“%1”：%2").arg(QDir::toNativeSeparators(path), error), QMessageBox::Ok);
        return QString();
    }
    return path;
}

QString LessonRecordPage::saveCsv()
{
    const QString path = chooseFile(QStringLiteral("保存为CSV"), QStringLiteral(".csv"), QStringLiteral("CSV 文件 (*.csv)"));
    QString error;
    if (path.isEmpty())
        return path;
    if (!MachineListCsv::writeBytes(path, LessonRecordReport::csv(record, now_ms), &error)) {
        MessageBox::critical(this, QStringLiteral("错误"),
            QStringLiteral("无法保存“%1”：%2").arg(QDir::toNativeSeparators(path), error), QMessageBox::Ok);
        return QString();
    }
    return path;
}
