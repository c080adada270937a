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

QRect WindowLayout::firstStartGeometry(const QRect& available, const QSize& minimum)
{
    // Room for the frame and the title bar the system adds around it.
    const QSize frame(16, 48);
    const QSize size = (available.size() - frame).expandedTo(minimum);
    QRect inside(QPoint(), size);
    inside.moveCenter(available.center() + QPoint(0, frame.height() / 2 - frame.width() / 2));
    return inside;
}

void WindowLayout::restore()
{
    const QSettings settings;
    if (!window->restoreGeometry(settings.value(GeometryKey).toByteArray())) {
        // The first start fills the screen, centred (a laptop's 1366 × 768 is
        // what the lab's front PC often has).
        if (const QScreen* screen = window->screen() ? window->screen() : QGuiApplication::primaryScreen())
            window->setGeometry(firstStartGeometry(screen->availableGeometry(), window->minimumSize()));
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
