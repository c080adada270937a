#include "WindowParts.h"

WindowParts::WindowParts(QMainWindow* window, Ui::RokVtxAdminClass& form, QTabWidget* tabs,
    QAppWatcherWidget* watchEditor, UdpServer& endpoint, const QString& dataDir)
    : window(window)
    , form(form)
    , tabs(tabs)
    , watchEditor(watchEditor)
    , endpoint(endpoint)
    , dataDir(dataDir)
{
}
