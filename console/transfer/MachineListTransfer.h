#pragma once

#include "storage/MachineListCsv.h"

#include <QObject>
#include <QStringList>

#include <functional>

class GroupOperations;
class PageDirectory;
class QAction;
class QStatusBar;
class QStudentManage;
class QWidget;
class ConsoleCore;
class WindowParts;

// "导出机器列表" and "导入机器列表": the current tab's machines to a CSV file,
// and a room set up from one.
class MachineListTransfer final : public QObject
{
    Q_OBJECT

public:
    static void attach(ConsoleCore& core, WindowParts& parts);
    // Import and export start in the same folder.
    static const QString FolderKind;

    struct Attachment
    {
        QWidget* window = nullptr; // parent of the dialogs and message boxes
        QStatusBar* statusBar = nullptr;
        QAction* exportAction = nullptr;
        QAction* importAction = nullptr;
        std::function<int()> currentTab;
    };

    struct Outcome
    {
        int added = 0;
        int moved = 0;
        int kept = 0;
        int groupsAdded = 0;
        QStringList refused;
    };

    MachineListTransfer(const Attachment& attachment, QStudentManage& registry, PageDirectory& pages,
                        GroupOperations& groups);

    void exportCurrentTab();
    void importList();
    // Rooms made and machines placed as the list says; `source` names the
    // import in the log ("导入机器列表", "部署"). Machines already in another
    // group move only with `moveGrouped`.
    static void apply(const QList<MachineListCsv::Entry>& entries, bool moveGrouped, QStudentManage& registry,
                      GroupOperations& groups, const QString& source, Outcome& outcome);

private:

    // The file's bytes, or false after telling the teacher why not.
    bool readChosenFile(QByteArray* bytes);
    // Machines already in another group move only with the teacher's consent,
    // asked once for the whole list.
    bool consentToMove(const QList<MachineListCsv::Entry>& entries);
    void report(const Outcome& outcome);

    Attachment attachment;
    QStudentManage& registry;
    PageDirectory& pages;
    GroupOperations& groups;
};
