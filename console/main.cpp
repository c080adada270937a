#include "MessageBox.h"
#include "RokResources.h"
#include "RokVtxAdmin.h"
#include "ShutdownSignals.h"
#include "SingleInstanceGuard.h"

#include <QApplication>

#include <memory>

int main(int argc, char* argv[])
{
    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling, true);
    QApplication app(argc, argv);
    initRokResources();

    SingleInstanceGuard guard(QStringLiteral("Vtx--Admin"));
    if (!guard.acquire()) {
        MessageBox::warning(nullptr, QStringLiteral("warnning"), QStringLiteral("already running"), QMessageBox::Ok);
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
