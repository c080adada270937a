#pragma once

#include "ConsoleCore.h"
#include "WindowParts.h"
#include "core/Protocol.h"
#include "core/SocketChannel.h"
#include "core/UdpServer.h"
#include "model/CStuInfo.h"
#include "pages/PageDirectory.h"

#include <QMainWindow>
#include <QString>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>

class Beacon;
class QAction;
class QActionGroup;
class QAppWatcherWidget;
class QStudentGroupWidget;
class QTabWidget;
class StartupNotices;

namespace Ui {
class RokVtxAdminClass;
}

// The console's one main window, a shell: the form, one tab page per group,
// the central process-watch editor and the UDP endpoint. The features attach
// once each, in one list, to the core and the window's parts; what the
// console is without its window is the core.
class RokVtxAdmin final : public QMainWindow
{
    Q_OBJECT

public:
    explicit RokVtxAdmin(QWidget* parent = nullptr);
    // Keeps data.sqlite3 and config.conf in `dataDir` rather than beside
    // the executable; the tests run many consoles from one build.
    explicit RokVtxAdmin(const QString& dataDir, QWidget* parent = nullptr);
    ~RokVtxAdmin() override;

    QStudentGroupWidget* createGroupPage(const QString& name, bool isAll, int position);

    // Writes the database, config.conf and the log now (session end, tests).
    void saveNow();

    // For the tests and the tools that drive a console in-process.
    QTabWidget* tabWidget() const { return tab_widget; }
    ConsoleCore& core() { return core_; }
    // The features as they attached.
    const WindowParts& parts() const { return *parts_; }
    QAppWatcherWidget* watchEditor() const { return watch_editor; }
    QStudentGroupWidget* allPage() const { return all_page; }
    QStudentGroupWidget* ungroupedPage() const { return ungrouped_page; }
    QStudentGroupWidget* pageAt(int index) const { return core_.pages().pageAt(index); }
    bool networkReady() const { return bind_fd > 0; }

signals:
    void sg_special_message(uint32_t value);
    void sg_heartbeat();
    // Every message the tray icon is asked to show, also where there is no
    // tray to show it.
    void sg_tray_message(const QString& title, const QString& text);

public slots:
    void onTabChanged(int index);
    void onSpecialMessage(uint32_t value);
    void sendToAgent(uint32_t address, const QByteArray& datagram);
    void refreshCommandStates(int index);
    void loadConfigFile();
    void setSeatPlanShown(bool shown);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void initialise(const QString& dataDir);
    void wireViews();
    void openEndpoint();
    void switchView(QAction* action);
    void publishPages();
    // Pages made and taken away here, for the group operations.
    void attachGroupOperations();
    void shutdown();

    void notifyBody();

    // Endpoint.
    UdpServer udp_server;
    int bind_fd = 0;
    std::mutex send_mutex;
    uint32_t next_group_addr = 0;
    std::atomic_int busy_threads{0};
    std::unique_ptr<std::thread> notify_thread;
    std::unique_ptr<Beacon> beacon;

    std::unique_ptr<Ui::RokVtxAdminClass> ui;
    QTabWidget* tab_widget = nullptr;
    QAppWatcherWidget* watch_editor = nullptr;
    QString base_title;
    QActionGroup* view_group = nullptr;
    QAction* current_view_action = nullptr;
    QStudentGroupWidget* all_page = nullptr;
    QStudentGroupWidget* ungrouped_page = nullptr;
    StartupNotices* notices = nullptr;
    std::unique_ptr<WindowParts> parts_;
    bool shut_down = false;

    // Declared late so it is destroyed early: the registry's worker stops and
    // its final save runs while the pages still exist.
    ConsoleCore core_;
};
