// rok-crashconsole DIR [SEED]: the console as RokVtxAdmin runs it, with its
// data files in DIR, plus a teacher who keeps working: every 300 to 900 ms a
// lock command for all pages or a grouped machine moved to another group. Each
// lock command is printed as "lock T" (T the resulting lock type) before it
// is given, so scripts/crash-test knows every config.conf it may find.

#include "app/ShutdownSignals.h"
#include "dialogs/MessageBox.h"
#include "groups/MachineMenu.h"
#include "pages/QStudentGroupWidget.h"
#include "RokResources.h"
#include "RokVtxAdmin.h"

#include <QAction>
#include <QApplication>
#include <QRandomGenerator>
#include <QTabWidget>
#include <QTimer>
#include <cstdio>

namespace {

class Teacher final : public QObject
{
public:
    Teacher(RokVtxAdmin& window, quint32 seed)
        : window(window)
        , random(seed)
    {
        timer.setSingleShot(true);
        connect(&timer, &QTimer::timeout, this, &Teacher::act);
        schedule();
    }

private:
    void schedule() { timer.start(300 + int(random.bounded(600))); }

    void act()
    {
        if (random.bounded(2) == 0)
            lock();
        else
            move();
        schedule();
    }

    void lock()
    {
        static const char* const actions[] = { "action_op_keep_quiet", "action_op_lock", "action_op_lock_kbd_mouse" };
        const int pick = int(random.bounded(3));
        QAction* action = window.findChild<QAction*>(QString::fromLatin1(actions[pick]));
        QStudentGroupWidget* first = window.pageAt(1);
        if (!action || !first)
            return;
        window.tabWidget()->setCurrentIndex(0);
        // The command on "全部" sets every page; the same command again releases it.
        const int type = first->lock_state->lock_type == pick + 1 ? 0 : pick + 1;
        std::printf("lock %d\n", type);
        std::fflush(stdout);
        action->trigger();
    }

    void move()
    {
        QStudentManage& registry = window.core().registry();
        const QStringList names = registry.groupNames();
        if (names.size() < 2)
            return;
        QList<quint64> grouped;
        for (const CStuInfo_PTR& machine : registry.allMachines())
            if (!machine->group_name.isEmpty())
                grouped << machine->ullmac;
        if (grouped.isEmpty())
            return;
        const quint64 mac = grouped.at(int(random.bounded(grouped.size())));
        QString target = names.at(int(random.bounded(names.size())));
        if (target == registry.findMachine(mac)->group_name)
            target = names.at((names.indexOf(target) + 1) % names.size());
        window.parts().machineMenu->setSelectedMac(mac);
        window.parts().machineMenu->moveTo(target);
    }

    RokVtxAdmin& window;
    QRandomGenerator random;
    QTimer timer;
};

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling, true);
    QApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() < 2) {
        std::fputs("usage: rok-crashconsole DIR [SEED]\n", stderr);
        return 2;
    }
    initRokResources();
    QApplication::setQuitOnLastWindowClosed(false);
    ShutdownSignals::install();
    // A box nobody can answer would stop the run; the crash test wants it running.
    MessageBox::setNextAnswer(QMessageBox::Ok);

    auto window = std::make_unique<RokVtxAdmin>(args.at(1));
    window->show();
    Teacher teacher(*window, args.size() > 2 ? args.at(2).toUInt() : 1u);
    const int result = app.exec();
    window.reset();
    return result;
}
