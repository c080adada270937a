#pragma once

#include <QObject>

#include <functional>

class GroupOperations;
class LockPath;
class QStatusBar;
class QStudentManage;
class QTimer;
class QWidget;
class ConsoleCore;
class WindowParts;

// When the teacher's changes reach the disk: machines and groups within a
// second of a change, config.conf within half a second, a burst (a room
// registering at once) costing one write. And what the teacher is told when
// the database cannot be written, and when it can again.
class SaveScheduler final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(SaveScheduler)

public:
    static void attach(ConsoleCore& core, WindowParts& parts);

    static constexpr int DatabaseSaveDelayMs = 1000;
    static constexpr int ConfigSaveDelayMs = 500;

    // `saveConfig` writes config.conf (it decides whether it may).
    SaveScheduler(QStudentManage& registry, std::function<void()> saveConfig, QWidget* window,
                  QStatusBar* statusBar);

    // Opens the database at `path`. Returns, on failure, why and what becomes
    // of this run's changes, for the teacher once the lab is served.
    QString openDatabase(const QString& path);

    void scheduleDatabaseSave();
    void scheduleConfigSave();
    // Writes machines and groups now (the coalesced save after a change);
    // whether they reached the file.
    bool saveDatabase();
    // Writes everything now (session end, tests); pending saves are dropped.
    void saveNow();
    // After the last save of the run: nothing is scheduled any more.
    void stop();
    // Group changes reach the database, and config.conf when pages came or
    // went; a renamed group reaches both at once, together.
    void follow(const GroupOperations& operations);
    // A page's lock is a setting config.conf keeps.
    void follow(const LockPath& lockPath);
    // Tells the teacher when saves start failing and when they work again.
    void noteDatabaseSave(bool saved);

signals:
    // The database can be written (again): tables that need the write lock
    // to be made may be opened now.
    void sg_database_writable();

private:
    QStudentManage& registry;
    std::function<void()> save_config;
    QWidget* window;
    QStatusBar* status_bar;
    QTimer* db_save_timer = nullptr;
    QTimer* config_save_timer = nullptr;
    bool stopped = false;
    // The last database save failed (or the file could not be written at start).
    bool db_save_failing = false;
};
