#pragma once

#include "model/QtDoubleIntStringItem.h"

#include <QObject>
#include <QStringList>

class PageDirectory;
class QAppWatcherWidget;
class QStudentGroupWidget;
class QStudentManage;
class ConsoleCore;
class WindowParts;

// The three policy lists: read from the database (mended where no agent
// could take them), shown in the central editor, handed to every group's
// page, and stored again when the teacher saves the editor.
class PolicyCatalog final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(PolicyCatalog)

public:
    static void attach(ConsoleCore& core, WindowParts& parts);

    PolicyCatalog(QStudentManage& registry, PageDirectory& pages, QAppWatcherWidget* editor, QObject* parent);

    // At start, once the pages exist: the editor and every group's page get
    // the stored lists. What was mended, or cannot be checked, for the teacher.
    QStringList load();
    // A group's page made later gets the lists as stored; its switched-off
    // entries are settings from then on.
    void give(QStudentGroupWidget* page);
    void watch(QStudentGroupWidget* page);

signals:
    // A page's switched-off entries changed: config.conf keeps them.
    void sg_settings_changed();
    // Each saved list, whether it reached the database.
    void sg_stored(bool stored);

private:
    StringItemList stored(QStringList* notes = nullptr) const;
    // The editor's lists are saved: stored, and merged into every page.
    void save();

    QStudentManage& registry;
    PageDirectory& pages;
    QAppWatcherWidget* editor;
};
