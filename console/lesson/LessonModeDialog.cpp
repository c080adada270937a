#include "lesson/LessonModeDialog.h"

#include "dialogs/InputDialog.h"
#include "dialogs/MessageBox.h"
#include "lesson/LessonModes.h"
#include "model/LessonMode.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

const QString Title = QStringLiteral("管理课堂模式");

} // namespace

LessonModeDialog::LessonModeDialog(LessonModes& modes, QWidget* parent)
    : QDialog(parent)
    , modes(modes)
{
    setWindowTitle(Title);
    setObjectName(QStringLiteral("LessonModeDialog"));
    list = new QListWidget(this);
    list->setObjectName(QStringLiteral("modeList"));
    summary = new QLabel(this);
    summary->setWordWrap(true);
    rename_button = new QPushButton(QStringLiteral("重命名..."), this);
    rename_button->setObjectName(QStringLiteral("renameButton"));
    delete_button = new QPushButton(QStringLiteral("删除"), this);
    delete_button->setObjectName(QStringLiteral("deleteButton"));
    auto* close = new QPushButton(QStringLiteral("关闭"), this);

    auto* buttons = new QVBoxLayout;
    buttons->addWidget(rename_button);
    buttons->addWidget(delete_button);
    buttons->addStretch();
    buttons->addWidget(close);
    auto* row = new QHBoxLayout;
    row->addWidget(list, 1);
    row->addLayout(buttons);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(row, 1);
    layout->addWidget(summary);

    connect(list, &QListWidget::currentRowChanged, this, &LessonModeDialog::showSelected);
    connect(list, &QListWidget::itemDoubleClicked, this, &LessonModeDialog::renameSelected);
    connect(rename_button, &QPushButton::clicked, this, &LessonModeDialog::renameSelected);
    connect(delete_button, &QPushButton::clicked, this, &LessonModeDialog::deleteSelected);
    connect(close, &QPushButton::clicked, this, &QDialog::accept);
    reload(QString());
    resize(420, 280);
}

void LessonModeDialog::reload(const QString& select)
{
    list->clear();
    list->addItems(modes.modeNames());
    const QList<QListWidgetItem*> found = list->findItems(select, Qt::MatchExactly);
    list->setCurrentRow(found.isEmpty() ? (list->count() > 0 ? 0 : -1) : list->row(found.first()));
    showSelected();
}

void LessonModeDialog::showSelected()
{
    const bool any = list->currentItem() != nullptr;
    rename_button->setEnabled(any);
    delete_button->setEnabled(any);
    summary->setText(any ? QString() : QStringLiteral("尚未保存课堂模式。"));
    if (!any)
        return;
    summary->setText(modes.describeMode(list->currentItem()->text()));
}

void LessonModeDialog::renameSelected()
{
    if (!list->currentItem())
        return;
    const QString from = list->currentItem()->text();
    bool ok = false;
    const QString to = InputDialog::getText(this, Title, QStringLiteral("新名称："), from, &ok);
    if (!ok)
        return;
    const QString problem = modes.renameMode(from, to);
    if (!problem.isEmpty()) {
        MessageBox::warning(this, Title, problem, QMessageBox::Ok);
        return;
    }
    reload(LessonMode::normalisedName(to));
}

void LessonModeDialog::deleteSelected()
{
    if (!list->currentItem())
        return;
    const QString name = list->currentItem()->text();
    if (MessageBox::question(
            this, Title, QStringLiteral("确实要删除课堂模式“%1”？").arg(name), QMessageBox::Yes | QMessageBox::No)
        != QMessageBox::Yes)
        return;
    const QString problem = modes.removeMode(name);
    if (!problem.isEmpty())
        MessageBox::warning(this, Title, problem, QMessageBox::Ok);
    reload(QString());
}
