#pragma once

#include "MachineListCsv.h"

#include <QObject>
#include <QStringList>

#include <functional>

class GroupOperations;
class PageDirectory;
class QAction;
class QStatusBar;
class QStudentManage;
class QWidget;

// "导出机器列表" and "导入机器列表": the current tab's machines to a CSV file,
// and a room set up from one.
class MachineListTransfer final : public QObject
{
    Q_OBJECT

public:
    struct Attachment
    {
        QWidget* window = nullptr; // parent of the dialogs and message boxes
        QStatusBar* statusBar = nullptr;
        QAction* exportAction = nullptr;
        QAction* importAction = nullptr;
        std::function<int()> currentTab;
    };

    MachineListTransfer(const Attachment& attachment, QStudentManage& registry, PageDirectory& pages,
                        GroupOperations& groups);

    void exportCurrentTab();
    void importList();

private:
    struct Outcome
    {
        int added = 0;
        int moved = 0;
        int kept = 0;
        int groupsAdded = 0;
        QStringList refused;
    };

    // The file's bytes, or false after telling the teacher why not.
    bool readChosenFile(QByteArray* bytes);
    // Machines already in another group move only with the teacher's consent,
    // asked once for the whole list.
    bool consentToMove(const QList<MachineListCsv::Entry>& entries);
    void apply(const QList<MachineListCsv::Entry>& entries, bool moveGrouped, Outcome& outcome);
    void report(const Outcome& outcome);

    Attachment attachment;
    QStudentManage& registry;
    PageDirectory& pages;
    GroupOperations& groups;
};
