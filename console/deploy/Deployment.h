#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>

class GroupOperations;
class QAction;
class QAppWatcherWidget;
class QMenu;
class QStatusBar;
class QStudentManage;
class QWidget;
class ConsoleCore;
class WindowParts;

// What a school's IT staff use to set up many labs alike. In the 文件 menu,
// the policy lists to and from one text file ("导出策略列表…", "导入策略列表…").
// And the prepared school an installer leaves beside the console: a machine
// list in the console's own CSV form and a policy-list file under fixed
// names, taken in once at the console's first start on the PC, as the
// imports do: rooms made, machines placed, lists stored.
class Deployment final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(Deployment)

public:
    static void attach(ConsoleCore& core, WindowParts& parts);

    static const QString MachinesFile; // "deploy-machines.csv"
    static const QString PoliciesFile; // "deploy-policies.txt"
    static const QString ReportFile;   // "deploy-report.txt"

    struct Attachment
    {
        QWidget* window = nullptr; // parent of the dialogs and message boxes
        QStatusBar* statusBar = nullptr;
        QMenu* fileMenu = nullptr;
        QAction* before = nullptr; // the menu items go above it
        QString dataDir;           // where data.sqlite3 and the prepared files are
        QAppWatcherWidget* policyEditor = nullptr; // the console-wide lists, saved through it
        std::function<void(const QString&)> log;
        // Writes machines and groups now; whether they reached the file.
        std::function<bool()> saveDatabase;
    };

    // Whether this start is the PC's first is judged here, before any agent
    // is heard: the database holds no machine, no group and no list entry.
    Deployment(const Attachment& attachment, QStudentManage& registry, GroupOperations& groups);

    // Judged again once the stored lists are in the editor.
    void judgeFirstStart();
    // Once the lab is served: takes in the prepared files at the first
    // start, or sets them aside unread when the PC has its own data. Either
    // way they are renamed, so that this happens once; the log row, the
    // status bar and deploy-report.txt tell what was done.
    void applyPreparedSchool();
    void exportPolicies();
    void importPolicies();

private:
    struct PolicyOutcome
    {
        int added = 0;
        int kept = 0; // texts the lists already had: they keep their state
        QStringList refused;
        QStringList noted; // imported titles the console cannot check itself
    };

    // New entries of the file appended to the console-wide lists and saved;
    // nothing is stored when the lists would not go out.
    PolicyOutcome takeInPolicies(const QByteArray& bytes);
    QString machinesLine(const QString& path, QStringList& report);
    QString policiesLine(const QString& path, QStringList& report);
    void tell(const QStringList& lines, const QStringList& report);

    Attachment attachment;
    QStudentManage& registry;
    GroupOperations& groups;
    bool first_start = false;
    bool database_usable = false;
    bool prepared_done = false;
};
