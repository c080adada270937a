#include "app/QtTranslation.h"
#include "app/ShutdownSignals.h"
#include "app/SingleInstanceGuard.h"
#include "dialogs/MessageBox.h"
#include "RokResources.h"
#include "RokVtxAdmin.h"

#include <QApplication>

#include <cstdio>
#include <memory>

int main(int argc, char* argv[])
{
    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling, true);
    QApplication app(argc, argv);
    // Where QSettings keeps the teacher's view preferences.
    QCoreApplication::setOrganizationName(QStringLiteral("Rok"));
    QCoreApplication::setApplicationName(QStringLiteral("RokVtxAdmin"));
    initRokResources();
    // Before any box: standard buttons and the file dialog speak Chinese too.
    QtTranslation::install();

    SingleInstanceGuard guard(QStringLiteral("Vtx--Admin"));
    if (!guard.acquire()) {
        std::fprintf(stderr, "warnning: already running\n");
        // Without a screen (offscreen, minimal) nobody could ever close the
        // box, and the refused start would hang instead of ending.
        const QString platform = QGuiApplication::platformName();
        if (platform != QLatin1String("offscreen") && platform != QLatin1String("minimal"))
            MessageBox::warning(
                nullptr, QStringLiteral("warnning"), QStringLiteral("already running"), QMessageBox::Ok);
        return 0;
    }
    // The window closes to the tray; only "退出(&X)" or the signals below end the run.
    QApplication::setQuitOnLastWindowClosed(false);
    ShutdownSignals::install();

    auto window = std::make_unique<RokVtxAdmin>();
    QObject::connect(&app, &QGuiApplication::commitDataRequest, window.get(), [w = window.get()] { w->saveNow(); });
    window->show();
    const int result = app.exec();
    window.reset(); // saves config.conf and the database
    return result;
}
