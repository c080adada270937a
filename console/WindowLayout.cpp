#include "WindowLayout.h"

#include "ConsoleCore.h"
#include "WindowParts.h"
#include "ui_RokVtxAdmin.h"

#include "pages/PageDirectory.h"
#include "pages/QStudentGroupWidget.h"

#include <QCoreApplication>
#include <QEvent>
#include <QGuiApplication>
#include <QMainWindow>
#include <QScreen>
#include <QSettings>
#include <QTabWidget>

namespace {

const QString GeometryKey = QStringLiteral("window/geometry");
const QString StateKey = QStringLiteral("window/state");
const QString PolicyListKey = QStringLiteral("window/policyListHeight");

} // namespace

WindowLayout::WindowLayout(QMainWindow* window_, QTabWidget* tabs_, const PageDirectory& pages_)
    : QObject(window_)
    , window(window_)
    , tabs(tabs_)
    , pages(pages_)
{
    restore();
    window->installEventFilter(this);
    connect(tabs, &QTabWidget::currentChanged, this, &WindowLayout::follow);
    // The program ends through QCoreApplication::exit with the window often
    // hidden; the session's end may not let it get that far.
    connect(qApp, &QCoreApplication::aboutToQuit, this, &WindowLayout::save);
    connect(qApp, &QGuiApplication::commitDataRequest, this, &WindowLayout::save);
    follow(tabs->currentIndex());
}

void WindowLayout::restore()
{
    const QSettings settings;
    if (!window->restoreGeometry(settings.value(GeometryKey).toByteArray())) {
        // The first start: no larger than the screen (a laptop's 1366 × 768
        // leaves less than the designed height).
        if (const QScreen* screen = window->screen() ? window->screen() : QGuiApplication::primaryScreen()) {
            const QSize room = screen->availableGeometry().size() - QSize(16, 48);
            window->resize(window->size().boundedTo(room).expandedTo(window->minimumSize()));
        }
    }
    window->restoreState(settings.value(StateKey).toByteArray());
    policy_height = settings.value(PolicyListKey, 0).toInt();
}

void WindowLayout::save() const
{
    QSettings settings;
    settings.setValue(GeometryKey, window->saveGeometry());
    settings.setValue(StateKey, window->saveState());
    if (policy_height > 0)
        settings.setValue(PolicyListKey, policy_height);
}

bool WindowLayout::eventFilter(QObject* watched, QEvent* event)
{
    // Before the window's own handler hides it.
    if (watched == window && event->type() == QEvent::Close)
        save();
    return QObject::eventFilter(watched, event);
}

void WindowLayout::follow(int index)
{
    QStudentGroupWidget* page = pages.pageAt(index);
    if (!page)
        return;
    connect(page, &QStudentGroupWidget::sg_policy_list_resized, this, &WindowLayout::onPolicyListResized,
        Qt::UniqueConnection);
    if (policy_height > 0)
        page->setPolicyListHeight(policy_height);
}

void WindowLayout::onPolicyListResized(int height)
{
    policy_height = height;
}

void WindowLayout::attach(ConsoleCore& core, WindowParts& parts)
{
    new WindowLayout(parts.window, parts.tabs, core.pages());
}
