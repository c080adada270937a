#include "policy/PolicyEditorStatus.h"

#include "ConsoleCore.h"
#include "WindowParts.h"
#include "ui_RokVtxAdmin.h"
#include "log/EventLog.h"

#include "policy/QAppWatcherWidget.h"
#include "storage/EventLogStore.h"

#include <QMainWindow>
#include <QStatusBar>

namespace {

const QString UnsavedMark = QStringLiteral(" *");
constexpr int StatusMessageMs = 5000;

} // namespace

PolicyEditorStatus::PolicyEditorStatus(QAppWatcherWidget* editor_, QMainWindow* window_, EventLogStore* log_)
    : QObject(window_)
    , editor(editor_)
    , window(window_)
    , log(log_)
{
    connect(editor, &QAppWatcherWidget::sg_modified_changed, this, &PolicyEditorStatus::showMark);
    // The window names its view anew on every switch, also to the editor it
    // already shows.
    connect(window, &QWidget::windowTitleChanged, this, &PolicyEditorStatus::showMark);
    connect(editor, &QAppWatcherWidget::sg_saved, this, &PolicyEditorStatus::onSaved);
}

void PolicyEditorStatus::showMark()
{
    QString title = window->windowTitle();
    const bool marked = title.endsWith(UnsavedMark);
    const bool wanted = editor->isModified();
    if (marked == wanted)
        return;
    if (wanted)
        title += UnsavedMark;
    else
        title.chop(UnsavedMark.size());
    window->setWindowTitle(title);
}

void PolicyEditorStatus::onSaved()
{
    const QString counts = editor->summary();
    window->statusBar()->showMessage(QStringLiteral("策略列表已保存（%1）").arg(counts), StatusMessageMs);
    // The lists reach every group, as a command on "全部" does.
    if (log)
        log->add(EventLogStore::Command, QStringLiteral("全部"), 0, QString(),
            QStringLiteral("保存策略列表（%1）").arg(counts));
}

void PolicyEditorStatus::attach(ConsoleCore& /*core*/, WindowParts& parts)
{
    new PolicyEditorStatus(parts.watchEditor, parts.window, &parts.log->store());
}
