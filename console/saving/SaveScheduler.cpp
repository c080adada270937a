#include "saving/SaveScheduler.h"

#include "ConsoleCore.h"
#include "WindowParts.h"
#include "ui_RokVtxAdmin.h"
#include "app/StartupNotices.h"

#include "core/QStudentManage.h"
#include "dialogs/MessageBox.h"
#include "groups/GroupOperations.h"
#include "pages/LockPath.h"

#include <QStatusBar>
#include <QTimer>

#include <utility>

namespace {

const QString SavedWhenWritable = QStringLiteral("修改会在该文件可以写入后保存。");

} // namespace

SaveScheduler::SaveScheduler(QStudentManage& registry, std::function<void()> saveConfig, QWidget* window,
                             QStatusBar* statusBar)
    : QObject(window)
    , registry(registry)
    , save_config(std::move(saveConfig))
    , window(window)
    , status_bar(statusBar)
    , db_save_timer(new QTimer(this))
    , config_save_timer(new QTimer(this))
{
    db_save_timer->setSingleShot(true);
    db_save_timer->setInterval(DatabaseSaveDelayMs);
    connect(db_save_timer, &QTimer::timeout, this, &SaveScheduler::saveDatabase);
    config_save_timer->setSingleShot(true);
    config_save_timer->setInterval(ConfigSaveDelayMs);
    connect(config_save_timer, &QTimer::timeout, this, [this] { save_config(); });
}

QString SaveScheduler::openDatabase(const QString& path)
{
    if (registry.openDatabase(path))
        return QString();
    // The registry's reason names the file; the second line says what
    // becomes of this run's changes.
    db_save_failing = registry.databaseReadable();
    return registry.databaseError() + QLatin1Char('\n')
        + (db_save_failing ? SavedWhenWritable : QStringLiteral("本次运行不会写入该文件。"));
}

// The first unsaved change starts the timer and later ones leave it alone:
// a machine renaming itself every half second must not put off the
// teacher's changes for ever.
void SaveScheduler::scheduleDatabaseSave()
{
    if (!stopped && !db_save_timer->isActive())
        db_save_timer->start();
}

void SaveScheduler::scheduleConfigSave()
{
    if (!stopped && !config_save_timer->isActive())
        config_save_timer->start();
}

bool SaveScheduler::saveDatabase()
{
    db_save_timer->stop();
    const bool saved = registry.saveAll();
    noteDatabaseSave(saved);
    return saved;
}

void SaveScheduler::saveNow()
{
    db_save_timer->stop();
    config_save_timer->stop();
    save_config();
    registry.saveAll();
}

void SaveScheduler::follow(const GroupOperations& operations)
{
    connect(&operations, &GroupOperations::sg_changed, this, [this](const GroupChange& change) {
        if (change.pagesChanged)
            scheduleConfigSave();
        scheduleDatabaseSave();
        if (!change.renamedFrom.isEmpty())
            saveNow();
    });
}

void SaveScheduler::follow(const LockPath& lockPath)
{
    connect(&lockPath, &LockPath::sg_changed, this, [this] { scheduleConfigSave(); });
}

void SaveScheduler::stop()
{
    stopped = true;
    db_save_timer->stop();
    config_save_timer->stop();
}

void SaveScheduler::noteDatabaseSave(bool saved)
{
    // A file that could not be read is never written, as the start told.
    // Otherwise the teacher hears once when saving stops and once when it
    // works again, not at every save in between.
    if (!registry.databaseReadable() || saved != db_save_failing)
        return;
    db_save_failing = !saved;
    if (saved) {
        emit sg_database_writable();
        status_bar->showMessage(QStringLiteral("数据库文件又可以写入了，修改均已保存。"), 15000);
        return;
    }
    MessageBox::critical(window, QStringLiteral("错误"), registry.databaseError() + QLatin1Char('\n') + SavedWhenWritable,
                         QMessageBox::Ok);
}

void SaveScheduler::attach(ConsoleCore& core, WindowParts& parts)
{
    auto* saves = new SaveScheduler(core.registry(), [&core] { core.saveSettings(); }, parts.window,
        parts.form.statusBar);
    parts.saves = saves;
    parts.notices->add(QStringLiteral("数据库"), saves->openDatabase(core.databasePath()));
    // Creating their tables takes the write lock; a file held elsewhere gets
    // them once a save works again.
    if (core.registry().databaseOk())
        core.tables().open(core.registry().store().database());
    connect(saves, &SaveScheduler::sg_database_writable, saves,
        [&core] { core.tables().open(core.registry().store().database()); });
    saves->follow(core.lockPath());
    saves->follow(core.groups());
}
