// The console's features on their own, on the registry and bare pages
// without a window: which page is which (also to the network thread), the
// overview's rows, counts and off-line alerts, waking machines, the machine
// list's import and export, and lesson modes applied through the lock path.

#include "../storage/TestConnection.h"
#include "BarePages.h"
#include "LabNames.h"
#include "SendLog.h"
#include "core/Protocol.h"
#include "core/WakeOnLan.h"
#include "dialogs/FileDialog.h"
#include "dialogs/MessageBox.h"
#include "lesson/LessonModes.h"
#include "lesson/TimedLockController.h"
#include "model/QtDoubleIntStringItem.h"
#include "model/Rok_Lock_State.h"
#include "overview/Overview.h"
#include "pages/LockPath.h"
#include "policy/QAppWatcherWidget.h"
#include "power/PowerControl.h"
#include "storage/EventLogStore.h"
#include "storage/LessonModeStore.h"
#include "transfer/MachineListTransfer.h"

#include <QAction>
#include <QComboBox>
#include <QFile>
#include <QMenu>
#include <QSettings>
#include <QSignalSpy>
#include <QSqlQuery>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QUdpSocket>
#include <QtTest>

#include <array>
#include <memory>

Q_DECLARE_METATYPE(LockOrigin)

using namespace MainWindowTest;
using namespace MainWindowTest::Lab;

namespace {

// Three machines in 一号机房, two in 二号机房 (host names a spreadsheet could
// misread), one in none; all off line. A gap in the orders, as a deleted
// room leaves.
void seedLab(BarePages& lab)
{
    lab.ops->addGroup(Room1, 1, QString());
    lab.ops->addGroup(Room2, 3, QString());
    lab.place(R1a, QStringLiteral("r1-a"), QStringLiteral("10.0.1.1"), Room1);
    lab.place(R1b, QStringLiteral("r1-b"), QStringLiteral("10.0.1.2"), Room1);
    lab.place(R1c, QStringLiteral("r1-c"), QStringLiteral("10.0.1.3"), Room1);
    lab.place(R2a, QStringLiteral("机房,\"二\""), QStringLiteral("10.0.2.1"), Room2);
    lab.place(R2b, QStringLiteral("@1+2"), QStringLiteral("10.0.2.2"), Room2);
    lab.place(Free, QStringLiteral("free"), QStringLiteral("10.0.3.1"));
}

QString stateText(QStudentGroupWidget* page, quint64 mac)
{
    const int row = page->rowOfMachine(mac);
    return row < 0 ? QString() : page->machine_table->getCellText(row, MachineRows::StateColumn);
}

QByteArray fileBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QtDoubleIntStringItem_PTR entry(int type, const QString& text)
{
    auto item = std::make_shared<QtDoubleIntStringItem>();
    item->item_type = type;
    item->item_state = QtDoubleIntStringItem::Active;
    item->str_val = text;
    return item;
}

// The rooms with central lists.
void giveLists(BarePages& lab)
{
    for (QStudentGroupWidget* page : lab.directory.groupPages())
        page->setPolicyItems({ entry(1, QStringLiteral("QQ")), entry(1, QStringLiteral("游戏.*")),
            entry(2, QStringLiteral("svc")), entry(3, QStringLiteral("a.exe")), entry(3, QStringLiteral("b.exe")) });
}

void switchOff(QStudentGroupWidget* page, int type, const QString& text)
{
    const StringItemList items = page->policy_editor->itemsOfType(type);
    for (int row = 0; row < items.size(); ++row)
        if (items.at(row)->str_val == text)
            page->policy_editor->stateBox(type, row)->setCurrentIndex(1);
}

// "kind page detail" of every stored event, newest first.
QStringList logged(EventLogStore& log)
{
    log.flush();
    QStringList events;
    QSqlQuery query = log.select(QString(), 0, true);
    while (query.next())
        events << QStringLiteral("%1 %2 %3")
                      .arg(EventLogStore::kindName(query.value(1).toInt()), query.value(2).toString(),
                          query.value(5).toString());
    return events;
}

// The lists of the page's last policy datagram.
std::array<QStringList, 3> sentLists(const SendLog& log, QStudentGroupWidget* page)
{
    Protocol::PolicyContent content;
    const QList<SendLog::Sent> sent = log.ofId(Protocol::MSG_ADMIN_POLICY, page);
    if (!sent.isEmpty())
        Protocol::parsePolicy(sent.last().datagram, content);
    return content.lists;
}

// The transfer's hooks, without a window: actions, a status bar and a tab.
struct TransferHost
{
    QWidget parent;
    QStatusBar statusBar;
    QAction exportAction { nullptr };
    QAction importAction { nullptr };
    int tab = 0;
    MachineListTransfer::Attachment attachment()
    {
        return { &parent, &statusBar, &exportAction, &importAction, [this] { return tab; } };
    }
};

} // namespace

class TestFeatures : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void pagesByNameAndForTheNetworkThread();
    void offlineRowsAndCounts();
    void offlineBurstIsOneAlert();
    void wakeReachesOfflineMachines_data();
    void wakeReachesOfflineMachines();
    void exportWritesTheTabAndComesBack();
    void importMakesGroupsAndRefusesBadRows_data();
    void importMakesGroupsAndRefusesBadRows();
    void modeAppliedWithItsOrigin_data();
    void modeAppliedWithItsOrigin();
    void modeOnEveryPageAndEntriesGone();

private:
    std::unique_ptr<BarePages> lab;
};

void TestFeatures::initTestCase()
{
    QCoreApplication::setOrganizationName(QStringLiteral("rokvtx-tests"));
    QCoreApplication::setApplicationName(QStringLiteral("tst_features"));
    qRegisterMetaType<LockOrigin>();
}

void TestFeatures::init()
{
    lab = std::make_unique<BarePages>();
}

void TestFeatures::cleanup()
{
    lab.reset();
    MessageBox::setNextAnswer(QMessageBox::NoButton);
}

void TestFeatures::pagesByNameAndForTheNetworkThread()
{
    seedLab(*lab);
    PageDirectory& pages = lab->directory;
    QStudentGroupWidget* room1 = lab->page(Room1);
    QStudentGroupWidget* room2 = lab->page(Room2);
    QStudentGroupWidget* ungrouped = pages.ungrouped();
    QVERIFY(room1 && room2 && ungrouped && room1 != room2);
    QCOMPARE(pages.nameOf(lab->all()), QString());
    QCOMPARE(pages.nameOf(room2), Room2);
    // No group may be called "未分组": the name finds only that page.
    QVERIFY(!pages.groupPage(PageDirectory::UngroupedName));
    QCOMPARE(pages.pageOf(lab->registry.findMachine(R1a)), room1);
    QCOMPARE(pages.pageOf(lab->registry.findMachine(Free)), ungrouped);
    QCOMPARE(pages.commandTargets(0), (QList<QStudentGroupWidget*> { room1, room2, ungrouped }));
    QCOMPARE(pages.commandTargets(2), QList<QStudentGroupWidget*> { room2 });
    QVERIFY(pages.commandTargets(-1).isEmpty());

    // What the network thread sees is the copy last published.
    const PageDirectory::Addresses addresses = pages.publish();
    QCOMPARE(QSet<QString>(addresses.groups.keyBegin(), addresses.groups.keyEnd()), (QSet<QString> { Room1, Room2 }));
    QCOMPARE(addresses.groups.value(Room2), room2->group_addr.load());
    QCOMPARE(addresses.ungrouped, ungrouped->group_addr.load());
    QCOMPARE(addresses.all.size(), 3);
    auto* late = new QStudentGroupWidget(nullptr, QStringLiteral("三号机房"));
    late->page_order = 4;
    late->group_addr = 0;
    lab->tabs->insertTab(3, late, QStringLiteral("三号机房"));
    QVERIFY(!pages.guarded().groupPage(QStringLiteral("三号机房")));
    // A page that sends nowhere has no address to be found by.
    QCOMPARE(pages.publish().groups.size(), 2);
    {
        const PageDirectory::Guarded guarded = pages.guarded();
        QCOMPARE(guarded.groupPage(QStringLiteral("三号机房")), late);
        QCOMPARE(guarded.ungrouped(), ungrouped);
        QCOMPARE(guarded.pagesAt(room2->group_addr), QList<QStudentGroupWidget*> { room2 });
        QCOMPARE(guarded.pagesAt(0), (QList<QStudentGroupWidget*> { room1, room2, ungrouped }));
    }

    // A rename the registry refuses changes nothing; one it takes is seen by
    // the network thread under the new name only.
    QVERIFY(!pages.renamePage(room1, QStringLiteral("甲"), [] { return false; }));
    QCOMPARE(pages.nameOf(room1), Room1);
    QCOMPARE(pages.guarded().groupPage(Room1), room1);
    QVERIFY(pages.renamePage(room1, QStringLiteral("甲"), [] { return true; }));
    QCOMPARE(pages.nameOf(room1), QStringLiteral("甲"));
    QCOMPARE(room1->page_name, QStringLiteral("甲"));
    QCOMPARE(pages.guarded().groupPage(QStringLiteral("甲")), room1);
    QVERIFY(!pages.guarded().groupPage(Room1));
    // "全部" and "未分组" keep their names; the registry is not asked.
    bool asked = false;
    const auto ask = [&asked] { return asked = true; };
    QVERIFY(!pages.renamePage(lab->all(), QStringLiteral("乙"), ask));
    QVERIFY(!pages.renamePage(ungrouped, QStringLiteral("乙"), ask));
    QVERIFY(!asked);
    QCOMPARE(pages.guarded().ungrouped(), ungrouped);
}

void TestFeatures::offlineRowsAndCounts()
{
    seedLab(*lab);
    QSettings().remove(QStringLiteral("view/onlineOnly"));
    QWidget window;
    QStatusBar statusBar;
    QAction onlineOnly(nullptr);
    onlineOnly.setCheckable(true);
    Overview overview(lab->registry, &window, &statusBar);
    overview.attach(&lab->directory, lab->tabs.get(), &onlineOnly);
    QSignalSpy offline(&overview, &Overview::sg_offline);
    QStudentGroupWidget* room1 = lab->page(Room1);

    for (quint64 mac : { R1a, R1b, R2a })
        lab->registry.findMachine(mac)->markAlive();
    for (QStudentGroupWidget* page : lab->directory.pages())
        page->refreshAllRows();
    overview.updateCounts();
    QCOMPARE(overview.countsText(), QStringLiteral("在线 3 / 共 6"));
    lab->tabs->setCurrentWidget(room1);
    overview.updateCounts();
    QCOMPARE(overview.countsText(), QStringLiteral("在线 2 / 共 3"));

    // A machine of a group without a page shows on "全部" only; a report
    // without a machine, or of one deleted meanwhile, changes no row.
    const quint64 ghostMac = 0x0000D4D4D4D4D4D4ULL;
    const CStuInfo_PTR ghost
        = lab->registry.updateMachine(ghostMac, QStringLiteral("ghost"), QStringLiteral("10.0.0.40"), true);
    ghost->group_name = QStringLiteral("Ghost");
    lab->all()->addMachine(ghost);
    const CStuInfo_PTR gone = lab->registry.findMachine(R2a);
    lab->ops->deleteMachines({ R2a });
    overview.machinesWentOffline({ ghost, nullptr, lab->registry.findMachine(R1a), gone });
    QCOMPARE(offline.count(), 2);
    QCOMPARE(stateText(lab->all(), ghostMac), QStringLiteral("断开"));
    QCOMPARE(stateText(lab->all(), R1a), QStringLiteral("断开"));
    QCOMPARE(stateText(room1, R1a), QStringLiteral("断开"));
    QCOMPARE(stateText(room1, R1b), QStringLiteral("在线"));
    for (QStudentGroupWidget* page : lab->directory.pages()) {
        QCOMPARE(BarePages::rows(page, R2a), 0);
        QCOMPARE(BarePages::rows(page, ghostMac), page == lab->all() ? 1 : 0);
    }
    overview.updateCounts();
    QCOMPARE(overview.countsText(), QStringLiteral("在线 1 / 共 3"));

    // The filter reaches every page and is remembered by the program.
    onlineOnly.trigger();
    QVERIFY(overview.onlineOnly());
    for (QStudentGroupWidget* page : lab->directory.pages())
        QVERIFY(page->onlineOnly());
    QVERIFY(QSettings().value(QStringLiteral("view/onlineOnly")).toBool());
    QAction again(nullptr);
    again.setCheckable(true);
    Overview next(lab->registry, &window, &statusBar);
    next.attach(&lab->directory, lab->tabs.get(), &again);
    QVERIFY(next.onlineOnly() && again.isChecked());
    QSettings().remove(QStringLiteral("view/onlineOnly"));
}

void TestFeatures::offlineBurstIsOneAlert()
{
    seedLab(*lab);
    QWidget window; // hidden, as in the tray
    QStatusBar statusBar;
    QAction onlineOnly(nullptr);
    Overview overview(lab->registry, &window, &statusBar);
    overview.attach(&lab->directory, lab->tabs.get(), &onlineOnly);
    QSignalSpy messages(&overview, &Overview::sg_offline_burst);
    const auto report = [this, &overview](const QList<quint64>& macs) {
        overview.machinesWentOffline(lab->registry.machinesByMac(macs));
    };

    // Two reports of the registry within one burst make one message; the
    // machines of a locked page are marked.
    lab->page(Room1)->setLockType(Rok_Lock_State::BlackLock);
    report({ R1b, R1a });
    report({ Free });
    QVERIFY(messages.wait(10000));
    QCOMPARE(messages.count(), 1);
    QCOMPARE(messages.at(0).at(0).toString(), QStringLiteral("机器离线"));
    QCOMPARE(messages.at(0).at(1).toString(), QStringLiteral("3 台机器离线：free、r1-a（锁定中断开）、r1-b（锁定中断开）"));

    // Five are named, more are counted, the locked ones too.
    messages.clear();
    lab->page(Room1)->setLockType(Rok_Lock_State::None);
    report({ R1a, R1b, R1c, R2a, Free });
    QVERIFY(messages.wait(10000));
    QCOMPARE(messages.at(0).at(1).toString(), QStringLiteral("5 台机器离线：free、r1-a、r1-b、r1-c、机房,\"二\""));
    messages.clear();
    lab->page(Room2)->setLockType(Rok_Lock_State::KeyboardMouseLock);
    report({ R1a, R1b, R1c, R2a, R2b, Free });
    QVERIFY(messages.wait(10000));
    QCOMPARE(messages.at(0).at(1).toString(), QStringLiteral("6 台机器离线，其中 2 台锁定中断开"));

    // While the teacher looks at the window the tables tell it; a later burst
    // names only its own machines, and not one back on line already.
    messages.clear();
    window.show();
    report({ R1a });
    window.hide();
    report({ R2a, R1c });
    lab->registry.findMachine(R1c)->markAlive();
    QVERIFY(messages.wait(10000));
    QCOMPARE(messages.count(), 1);
    QCOMPARE(messages.at(0).at(1).toString(), QStringLiteral("1 台机器离线：机房,\"二\"（锁定中断开）"));
}

void TestFeatures::wakeReachesOfflineMachines_data()
{
    QTest::addColumn<int>("tab");
    QTest::addColumn<QList<quint64>>("macs"); // to wake by MAC; the tab when empty
    QTest::addColumn<QList<quint64>>("woken");

    QTest::newRow("a room") << 1 << QList<quint64> {} << QList<quint64> { R1a, R1c };
    QTest::newRow("全部: every known machine") << 0 << QList<quint64> {} << QList<quint64> { R1a, R1c, R2a, R2b, Free };
    QTest::newRow("on line, unknown and twice") << -1 << QList<quint64> { R1b, R2a, 0x0BAD, R2a }
                                                << QList<quint64> { R2a };
    QTest::newRow("nothing off line") << -1 << QList<quint64> { R1b } << QList<quint64> {};
}

void TestFeatures::wakeReachesOfflineMachines()
{
    QFETCH(int, tab);
    QFETCH(QList<quint64>, macs);
    QFETCH(QList<quint64>, woken);
    if (qgetenv("ROK_NETNS_ISOLATED") != "1")
        QSKIP("broadcasts only inside the isolated network namespace");
    QUdpSocket listener;
    QVERIFY(listener.bind(QHostAddress::AnyIPv4, WakeOnLan::DefaultPort, QUdpSocket::ShareAddress));
    QList<QByteArray> received;
    connect(&listener, &QUdpSocket::readyRead, this, [&] {
        while (listener.hasPendingDatagrams()) {
            QByteArray data(int(listener.pendingDatagramSize()), '\0');
            listener.readDatagram(data.data(), data.size());
            received << data;
        }
    });

    seedLab(*lab);
    // Known, off line, in no room: sent after the rest, so once its packets
    // are in, the others are too.
    const quint64 marker = 0x00000A00000004FFULL;
    lab->registry.updateMachine(marker, QStringLiteral("marker"), QStringLiteral("10.0.4.1"), true);
    lab->registry.findMachine(R1b)->markAlive();
    QStatusBar statusBar;
    QStringList commands;
    PowerControl power(lab->registry, lab->directory, &statusBar,
        [&commands](const QString& text) { commands << text; }, nullptr);
    QMenu menu;
    QList<quint64> selected = macs;
    power.attachMachineMenu(&menu, [&selected] { return selected; });
    QAction* wakeEntry = menu.actions().last();
    QCOMPARE(wakeEntry->text(), QStringLiteral("唤醒本机(&W)"));

    if (macs.isEmpty()) {
        power.wakeTab(tab);
    } else {
        // Offered while a target is off line.
        emit menu.aboutToShow();
        QCOMPARE(wakeEntry->isEnabled(), !woken.isEmpty());
        if (wakeEntry->isEnabled())
            wakeEntry->trigger();
        else
            power.wakeMacs(selected);
    }
    if (woken.isEmpty()) {
        QVERIFY(commands.isEmpty());
        QCOMPARE(statusBar.currentMessage(), QStringLiteral("没有需要唤醒的离线机器"));
    } else {
        QCOMPARE(commands, QStringList { QStringLiteral("唤醒 %1 台离线机器").arg(woken.size()) });
        QCOMPARE(statusBar.currentMessage(), QStringLiteral("已排队唤醒 %1 台离线机器").arg(woken.size()));
    }
    lab->registry.findMachine(marker)->markDead();
    power.wakeMacs({ marker });
    const QByteArray markerPacket = WakeOnLan::magicPacket(marker);
    QTRY_VERIFY(received.contains(markerPacket));
    QSet<QByteArray> expected;
    for (quint64 mac : woken)
        expected << WakeOnLan::magicPacket(mac);
    const QList<QByteArray> before = received.mid(0, received.indexOf(markerPacket));
    QCOMPARE(QSet<QByteArray>(before.begin(), before.end()), expected);
    // Each machine once to every broadcast address.
    QCOMPARE(before.size(), woken.size() * WakeOnLan::broadcastAddresses().size());

    // No tab: nothing queued, nothing said.
    statusBar.clearMessage();
    commands.clear();
    power.wakeTab(-1);
    QVERIFY(commands.isEmpty() && statusBar.currentMessage().isEmpty());
}

void TestFeatures::exportWritesTheTabAndComesBack()
{
    seedLab(*lab);
    lab->registry.findMachine(R2b)->markAlive();
    lab->page(Room2)->refreshAllRows();
    TransferHost host;
    MachineListTransfer transfer(host.attachment(), lab->registry, lab->directory, *lab->ops);
    QTemporaryDir dir;
    host.tab = lab->tabs->indexOf(lab->page(Room2));

    const QString path = dir.filePath(QStringLiteral("列表.csv"));
    FileDialog::setNextSaveFileName(path);
    host.exportAction.trigger();
    QCOMPARE(fileBytes(path),
        QByteArray("\xEF\xBB\xBF"
                   "机器名,IP地址,MAC地址,分组,状态\r\n"
                   "\"机房,\"\"二\"\"\",10.0.2.1,01:02:00:00:00:0A,二号机房,断开\r\n"
                   "'@1+2,10.0.2.2,02:02:00:00:00:0A,二号机房,在线\r\n"));
    QVERIFY(host.statusBar.currentMessage().contains(QStringLiteral("已导出 2 台机器")));

    // A cancelled chooser writes nothing.
    QVERIFY(QFile::remove(path));
    FileDialog::setNextSaveFileName(QString());
    host.exportAction.trigger();
    QVERIFY(!QFile::exists(path));

    // The whole lab through a file into an empty console: the same rooms, the
    // same machines on their pages, names as they were (no formula guard).
    host.tab = 0;
    const QString whole = dir.filePath(QStringLiteral("全部.csv"));
    FileDialog::setNextSaveFileName(whole);
    host.exportAction.trigger();
    BarePages other;
    TransferHost otherHost;
    MachineListTransfer into(otherHost.attachment(), other.registry, other.directory, *other.ops);
    FileDialog::setNextOpenFileName(whole);
    MessageBox::setNextAnswer(QMessageBox::Ok);
    otherHost.importAction.trigger();
    QCOMPARE(MessageBox::lastText(), QStringLiteral("新增 6 台机器，移动 0 台，拒绝 0 行。\n新建分组 2 个。"));
    QCOMPARE(other.tabTexts(), lab->tabTexts());
    for (const CStuInfo_PTR& machine : lab->registry.allMachines()) {
        const CStuInfo_PTR copy = other.registry.findMachine(machine->ullmac);
        QVERIFY(copy);
        QCOMPARE(QStringList({ copy->hostname, copy->ip, copy->group_name }),
            QStringList({ machine->hostname, machine->ip, machine->group_name }));
        QCOMPARE(BarePages::rows(other.directory.pageOf(copy), copy->ullmac), 1);
    }

    // A file that cannot be written is told, not reported as exported.
    host.statusBar.clearMessage();
    const QString missing = dir.filePath(QStringLiteral("missing/list.csv"));
    FileDialog::setNextSaveFileName(missing);
    MessageBox::setNextAnswer(QMessageBox::Ok);
    host.exportAction.trigger();
    QCOMPARE(MessageBox::lastTitle(), QStringLiteral("错误"));
    QVERIFY2(MessageBox::lastText().contains(QDir::toNativeSeparators(missing)), qPrintable(MessageBox::lastText()));
    QVERIFY(host.statusBar.currentMessage().isEmpty());
    QVERIFY(!QFile::exists(missing));
}

void TestFeatures::importMakesGroupsAndRefusesBadRows_data()
{
    QTest::addColumn<bool>("move");
    QTest::addColumn<QString>("groupOfR1a");
    QTest::newRow("moved") << true << Room2;
    QTest::newRow("kept") << false << Room1;
}

void TestFeatures::importMakesGroupsAndRefusesBadRows()
{
    QFETCH(bool, move);
    QFETCH(QString, groupOfR1a);
    seedLab(*lab);
    TransferHost host;
    MachineListTransfer transfer(host.attachment(), lab->registry, lab->directory, *lab->ops);
    // As a spreadsheet program saves it: no byte order mark, LF, no state.
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("机房.csv"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("\xe6\x9c\xba\xe5\x99\xa8\xe5\x90\x8d,IP,MAC,G\n" // 机器名
               "new-1,10.0.9.1,aa-bb-cc-dd-ee-01,\xe4\xb8\x89\n" // 三
               "r1-a,10.0.9.9,01:01:00:00:00:0A,\xe4\xba\x8c\xe5\x8f\xb7\xe6\x9c\xba\xe6\x88\xbf\n" // 二号机房
               "r1-b,10.0.1.2,02:01:00:00:00:0A,\xe4\xba\x8c\xe5\x8f\xb7\xe6\x9c\xba\xe6\x88\xbf\n"
               "free,10.0.3.1,01:03:00:00:00:0A,'=g\n"
               "\"q,\"\"1\"\"\nx\",10.0.9.4,aabbccddee04\n"
               "renamed,10.0.9.8,03:01:00:00:00:0A,\xe4\xb8\x80\xe5\x8f\xb7\xe6\x9c\xba\xe6\x88\xbf\n" // 一号机房
               "bad-mac,10.0.9.2,aa:bb:cc:dd:ee\n"
               "bad-ip,999.0.0.1,aa:bb:cc:dd:ee:02\n"
               "zero,,00:00:00:00:00:00\n"
               "all,,aa:bb:cc:dd:ee:03,\xe5\x85\xa8\xe9\x83\xa8\n" // 全部
               "again,10.0.9.5,AA:BB:CC:DD:EE:01\n"
               "short,10.0.9.6\n");
    file.close();

    FileDialog::setNextOpenFileName(path);
    MessageBox::setNextAnswers({ move ? QMessageBox::Yes : QMessageBox::No, QMessageBox::Ok });
    host.importAction.trigger();
    // Asked once, for r1-a and r1-b; "free" is in no group and needs no consent.
    QVERIFY2(MessageBox::lastText().startsWith(QStringLiteral("新增 2 台机器，移动 %1 台，拒绝 6 行。\n新建分组 2 个。")
                                                   .arg(move ? 3 : 1)),
        qPrintable(MessageBox::lastText()));
    QCOMPARE(MessageBox::lastText().contains(QStringLiteral("2 台机器留在原分组")), !move);
    for (const char* line : { "第 9 行", "第 10 行", "第 11 行", "第 12 行", "第 13 行", "第 14 行" })
        QVERIFY2(MessageBox::lastText().contains(QString::fromUtf8(line)), line);

    QStudentManage& registry = lab->registry;
    QCOMPARE(registry.groupNames(), (QStringList { Room1, Room2, QStringLiteral("三"), QStringLiteral("=g") }));
    QCOMPARE(lab->tabTexts().mid(3), (QStringList { "三", "=g", "未分组" }));
    const CStuInfo_PTR fresh = registry.findMachine(0x01EEDDCCBBAAULL);
    QCOMPARE(fresh->group_name, QStringLiteral("三"));
    QCOMPARE(BarePages::rows(lab->page(QStringLiteral("三")), fresh->ullmac), 1);
    QCOMPARE(BarePages::rows(lab->all(), fresh->ullmac), 1);
    QCOMPARE(registry.findMachine(0x04EEDDCCBBAAULL)->hostname, QStringLiteral("q,\"1\"\nx"));
    QCOMPARE(registry.findMachine(0x04EEDDCCBBAAULL)->group_name, QString());
    QCOMPARE(BarePages::rows(lab->directory.ungrouped(), 0x04EEDDCCBBAAULL), 1);
    QCOMPARE(registry.findMachine(R1a)->group_name, groupOfR1a);
    QCOMPARE(BarePages::rows(lab->page(groupOfR1a), R1a), 1);
    QCOMPARE(BarePages::rows(lab->page(move ? Room1 : Room2), R1a), 0);
    // A machine known already keeps what it last reported itself.
    QCOMPARE(registry.findMachine(R1a)->ip, QStringLiteral("10.0.1.1"));
    QCOMPARE(registry.findMachine(R1c)->hostname, QStringLiteral("r1-c"));
    QCOMPARE(registry.findMachine(Free)->group_name, QStringLiteral("=g"));
    QCOMPARE(BarePages::rows(lab->directory.ungrouped(), Free), 0);
    QCOMPARE(registry.allMachines().size(), 8);
}

void TestFeatures::modeAppliedWithItsOrigin_data()
{
    QTest::addColumn<LockOrigin>("origin");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("row");

    QTest::newRow("the teacher's") << LockOrigin::LessonMode << QStringLiteral("课堂模式")
                                   << QStringLiteral("命令 二号机房 课堂模式：考试模式");
    QTest::newRow("the timetable's") << LockOrigin::Timetable << QStringLiteral("课表")
                                     << QStringLiteral("课表 二号机房 课表：考试模式");
}

namespace {

// Lesson modes on the bare pages: their store and the event log in a
// database of their own, a lock path with its timed locks, a menu to sit in.
struct ModesHost
{
    explicit ModesHost(BarePages& lab)
        : connection(dir.filePath(QStringLiteral("data.sqlite3")))
        , path(lab.directory, timed)
    {
        store.open(connection.db);
        log.open(connection.db);
        timed.setClock([this] { return clock; });
        after = menu.addAction(QStringLiteral("全部解锁"));
        LessonModes::Attachment attachment;
        attachment.pages = &lab.directory;
        attachment.menu = &menu;
        attachment.after = after;
        attachment.statusBar = &statusBar;
        attachment.eventLog = &log;
        attachment.currentTab = [this] { return tab; };
        attachment.lockPath = &path;
        modes = std::make_unique<LessonModes>(store, attachment, &parent);
    }

    QTemporaryDir dir;
    TestConnection connection;
    LessonModeStore store;
    EventLogStore log;
    qint64 clock = 1796634000000LL;
    TimedLockController timed;
    LockPath path;
    QWidget parent;
    QMenu menu;
    QAction* after = nullptr;
    QStatusBar statusBar;
    int tab = 0;
    std::unique_ptr<LessonModes> modes;
};

const QString Exam = QStringLiteral("考试模式");

} // namespace

void TestFeatures::modeAppliedWithItsOrigin()
{
    QFETCH(LockOrigin, origin);
    QFETCH(QString, text);
    QFETCH(QString, row);
    seedLab(*lab);
    giveLists(*lab);
    ModesHost host(*lab);
    QStudentGroupWidget* room1 = lab->page(Room1);
    QStudentGroupWidget* room2 = lab->page(Room2);

    // Saved from one room: its lock, switches and entries.
    room1->setLockType(Rok_Lock_State::KeyboardMouseLock);
    room1->setAllowUsbDrv(true);
    switchOff(room1, 1, QStringLiteral("QQ"));
    switchOff(room1, 3, QStringLiteral("a.exe"));
    host.tab = lab->tabs->indexOf(room1);
    QCOMPARE(host.modes->saveCurrent(QStringLiteral(" 考试模式 ")), QString());
    QCOMPARE(host.modes->describeMode(Exam), QStringLiteral("键盘鼠标全锁，自动IP，允许U盘，关闭 2 个条目"));

    // The other room is under a timed lock and has another entry off, which
    // the mode switches back on.
    room2->setLockType(Rok_Lock_State::BlackLock);
    host.timed.start(Room2, Rok_Lock_State::BlackLock, 10 * 60 * 1000);
    switchOff(room2, 2, QStringLiteral("svc"));
    SendLog sent;
    sent.watch(room1);
    sent.watch(room2);
    QSignalSpy locks(&host.path, &LockPath::sg_changed);
    QCOMPARE(host.modes->apply(Exam, { room2, nullptr, room2 }, text, origin), QStringList());

    const QList<SendLog::Sent> words = sent.ofId(Protocol::MSG_ADMIN_LOCK_STATE);
    QCOMPARE(sent.ofId(Protocol::MSG_ADMIN_LOCK_STATE, room2).size(), words.size());
    QCOMPARE(lockWord(words.last().datagram), Protocol::lockStateWord(*room1->lock_state));
    QCOMPARE(sentLists(sent, room2),
        (std::array<QStringList, 3> { QStringList { QStringLiteral("游戏.*") }, QStringList { QStringLiteral("svc") },
            QStringList { QStringLiteral("b.exe") } }));
    QVERIFY(!host.timed.has(Room2));
    QCOMPARE(locks.count(), 1);
    QCOMPARE(locks.at(0).at(0).toStringList(), QStringList { Room2 });
    QCOMPARE(locks.at(0).at(1).toInt(), int(Rok_Lock_State::KeyboardMouseLock));
    QCOMPARE(locks.at(0).at(2).value<LockOrigin>(), origin);
    QCOMPARE(logged(host.log), QStringList { row });
}

void TestFeatures::modeOnEveryPageAndEntriesGone()
{
    seedLab(*lab);
    giveLists(*lab);
    ModesHost host(*lab);
    QStudentGroupWidget* room1 = lab->page(Room1);
    QStudentGroupWidget* room2 = lab->page(Room2);
    switchOff(room1, 1, QStringLiteral("QQ"));
    switchOff(room1, 3, QStringLiteral("a.exe"));

    // "全部" is one mode only where every page has the same set-up.
    host.tab = 0;
    QVERIFY(host.modes->saveCurrent(Exam).contains(QStringLiteral("各分组的设置不同")));
    QVERIFY(host.modes->modeNames().isEmpty());
    host.tab = lab->tabs->indexOf(room1);
    room1->setLockType(Rok_Lock_State::BlackLock);
    QCOMPARE(host.modes->saveCurrent(Exam), QString());

    // "a.exe" leaves the central list of 二号机房: the rest is applied, and
    // the teacher is told which entries are gone.
    room2->setPolicyItems({ entry(1, QStringLiteral("QQ")), entry(1, QStringLiteral("游戏.*")),
        entry(3, QStringLiteral("b.exe")) });
    SendLog sent;
    sent.watch(room2);
    host.tab = 0;
    MessageBox::clearLast();
    MessageBox::setNextAnswer(QMessageBox::Ok);
    host.modes->applyToCurrent(Exam);
    QVERIFY(MessageBox::lastText().contains(QStringLiteral("a.exe")));
    QVERIFY(!MessageBox::lastText().contains(QStringLiteral("QQ")));
    QCOMPARE(sentLists(sent, room2).at(0), QStringList { QStringLiteral("游戏.*") });
    for (QStudentGroupWidget* page : lab->directory.groupPages())
        QCOMPARE(page->lock_state->lock_type, int(Rok_Lock_State::BlackLock));
    QCOMPARE(logged(host.log), QStringList { QStringLiteral("命令 全部 课堂模式：考试模式") });

    // Two rooms of three are named; a mode that is gone changes nothing.
    QCOMPARE(host.modes->apply(Exam, { room1, room2 }, QStringLiteral("课表")), QStringList { QStringLiteral("a.exe") });
    QCOMPARE(logged(host.log).first(), QStringLiteral("命令 一号机房、二号机房 课表：考试模式"));
    QCOMPARE(host.modes->renameMode(Exam, QStringLiteral("期末")), QString());
    QVERIFY(host.modes->apply(Exam, { room1 }, QStringLiteral("课表")).isEmpty());
    QCOMPARE(logged(host.log).size(), 2);
    QVERIFY(!host.modes->removeMode(Exam).isEmpty());
    QCOMPARE(host.modes->removeMode(QStringLiteral("期末")), QString());
    QVERIFY(host.modes->modeNames().isEmpty());
}

QTEST_MAIN(TestFeatures)
#include "tst_features.moc"
