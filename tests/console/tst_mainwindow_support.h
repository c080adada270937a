#pragma once

// Shared by the main-window tests: a database seeded before the window opens,
// a reader of what reached the database, and a driver for the window's modal
// dialogs (the pages' datagrams: SendLog.h).

#include "core/Protocol.h"
#include "core/QStudentManage.h"
#include "core/UdpServer.h"
#include "dialogs/MessageBox.h"
#include "groups/MachineMenu.h"
#include "guard/LabGuard.h"
#include "lesson/LessonTools.h"
#include "overview/Overview.h"
#include "model/CStudentGroup.h"
#include "model/Machine.h"
#include "model/QtDoubleIntStringItem.h"
#include "pages/QStudentGroupWidget.h"
#include "RokResources.h"
#include "RokVtxAdmin.h"
#include "SendLog.h"
#include "storage/ConsoleTables.h"
#include "storage/QDataHelper.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QFile>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QSpinBox>
#include <QSqlDatabase>
#include <QTabWidget>
#include <QThread>
#include <QTimer>
#include <functional>
#include <memory>

#ifdef _WIN32
#include <windows.h>
#endif

namespace MainWindowTest {

// Under Wine a test's own sockets beside the console's watch on the agents'
// port hear nothing of the console's datagrams, nor the watch theirs; a
// sender outside Wine is seen (scripts/windows-e2e checks it).
inline bool underWine()
{
#ifdef _WIN32
    const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version");
#else
    return false;
#endif
}

struct SeedMachine
{
    quint64 mac = 0;
    QString host;
    QString ip;
    QString group; // empty: ungrouped
};

struct SeedGroup
{
    QString name;
    int order = 1;
};

inline QtDoubleIntStringItem_PTR item(int type, const QString& text, int state = 1)
{
    auto entry = std::make_shared<QtDoubleIntStringItem>();
    entry->item_type = type;
    entry->item_state = state;
    entry->str_val = text;
    return entry;
}

// Writes groups, machines and the policy catalog the way an earlier run of
// the console would have left them.
inline bool seedDatabase(const QString& path, const QList<SeedGroup>& groups, const QList<SeedMachine>& machines,
    const StringItemList& catalog = {})
{
    QStudentManage registry;
    if (!registry.openDatabase(path))
        return false;
    for (const SeedGroup& group : groups)
        registry.addGroup(group.name, group.order);
    for (const SeedMachine& machine : machines) {
        registry.updateMachine(machine.mac, machine.host, machine.ip, false);
        if (!machine.group.isEmpty())
            registry.moveMachineToGroup(machine.group, machine.mac);
    }
    for (int type = 1; type <= 3; ++type) {
        StringItemList ofType;
        for (const auto& entry : catalog)
            if (entry->item_type == type)
                ofType << entry;
        if (!ofType.isEmpty() && !registry.saveStringItems(ofType, type))
            return false;
    }
    return registry.saveAll();
}

// What the database holds right now, read over a connection of its own.
struct Stored
{
    bool ok = false;
    QMap<quint64, Machine_PTR> machines;
    QList<CStudentGroup_PTR> groups;

    CStudentGroup_PTR group(const QString& name) const
    {
        for (const auto& group : groups)
            if (group->group_name == name)
                return group;
        return nullptr;
    }
    QStringList groupNames() const
    {
        QStringList names;
        for (const auto& group : groups)
            names << group->group_name;
        return names;
    }
};

inline Stored readDatabase(const QString& path)
{
    static int connections = 0;
    const QString name = QStringLiteral("test-reader-%1").arg(++connections);
    Stored stored;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(path);
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
        if (db.open()) {
            QDataHelper helper;
            helper.setDatabase(db);
            bool machinesOk = false;
            bool groupsOk = false;
            stored.machines = helper.loadMachineList(&machinesOk);
            stored.groups = helper.loadGroupList(&groupsOk);
            stored.ok = machinesOk && groupsOk;
            helper.setDatabase(QSqlDatabase());
            db.close();
        }
    }
    QSqlDatabase::removeDatabase(name);
    return stored;
}

// A machine registering with the console from its own socket on 127.0.0.1.
inline bool registerFrom(UdpServer& agent, quint64 mac, const QString& hostName, const char* from = "127.0.0.1")
{
    if (agent.createsocket(0, from) <= 0 || agent.start() != 0)
        return false;
    const QByteArray registration = Protocol::buildRegister(mac, hostName);
    return agent.sendto(registration.constData(), registration.size(), Protocol::addressFromOctets(127, 0, 0, 1),
               Protocol::ConsolePort)
        >= 0;
}

inline QAction* action(const RokVtxAdmin& window, const char* name)
{
    return window.findChild<QAction*>(QString::fromLatin1(name));
}

inline QStringList tabTexts(const RokVtxAdmin& window)
{
    QStringList texts;
    for (int i = 0; i < window.tabWidget()->count(); ++i)
        texts << window.tabWidget()->tabText(i);
    return texts;
}

inline int tabIndexOf(const RokVtxAdmin& window, const QString& text)
{
    for (int i = 0; i < window.tabWidget()->count(); ++i)
        if (window.tabWidget()->tabText(i) == text)
            return i;
    return -1;
}

// What each tab shows of its page's lock: the tool tip beside its icon,
// empty for a tab without one.
inline QStringList tabLocks(const RokVtxAdmin& window)
{
    QStringList shown;
    for (int i = 0; i < window.tabWidget()->count(); ++i)
        shown << (window.tabWidget()->tabIcon(i).isNull() ? QString() : window.tabWidget()->tabToolTip(i));
    return shown;
}

inline QStudentGroupWidget* page(const RokVtxAdmin& window, const QString& text)
{
    return window.pageAt(tabIndexOf(window, text));
}

inline int rowOf(const QStudentGroupWidget* page, quint64 mac)
{
    return page ? const_cast<QStudentGroupWidget*>(page)->rowOfMachine(mac) : -1;
}

// Runs `step` on the next modal dialog of type T once the window's exec()
// has shown it. Gives up after about five seconds, so a dialog that never
// comes fails the test instead of hanging it.
template <typename T> void whenModal(QObject* context, std::function<void(T*)> step)
{
    auto* poll = new QTimer(context);
    poll->setInterval(10);
    auto tries = std::make_shared<int>(0);
    QObject::connect(poll, &QTimer::timeout, context, [poll, tries, step] {
        if (auto* dialog = qobject_cast<T*>(QApplication::activeModalWidget())) {
            poll->stop();
            poll->deleteLater();
            step(dialog);
        } else if (++*tries > 500) {
            poll->stop();
            poll->deleteLater();
        }
    });
    poll->start();
}

// Fills the add-group dialog and presses "确  定". A name the dialog refuses
// leaves it open; it is then cancelled.
inline void answerAddGroup(QObject* context, const QString& name, int order)
{
    whenModal<QDialog>(context, [name, order](QDialog* dialog) {
        dialog->findChild<QLineEdit*>(QStringLiteral("lineEdit"))->setText(name);
        dialog->findChild<QSpinBox*>(QStringLiteral("spinBox"))->setValue(order);
        MessageBox::setNextAnswer(QMessageBox::Ok);
        dialog->findChild<QPushButton*>(QStringLiteral("pushButton_ok"))->click();
        if (dialog->isVisible())
            dialog->findChild<QPushButton*>(QStringLiteral("pushButton_cancel"))->click();
        MessageBox::setNextAnswer(QMessageBox::NoButton);
    });
}

// Picks `group` in the move dialog and presses "确  定".
inline void answerMoveInto(QObject* context, const QString& group)
{
    whenModal<QDialog>(context, [group](QDialog* dialog) {
        auto* box = dialog->findChild<QComboBox*>(QStringLiteral("comboBox"));
        box->setCurrentIndex(box->findText(group));
        dialog->findChild<QPushButton*>(QStringLiteral("pushButton_ok"))->click();
        if (dialog->isVisible())
            dialog->findChild<QPushButton*>(QStringLiteral("pushButton_cancel"))->click();
    });
}

inline QByteArray fileBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

inline bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

} // namespace MainWindowTest
