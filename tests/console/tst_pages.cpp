// A group page and its policy lists on their own: rows and their states,
// the datagrams a page hands out, the embedded editor's boxes and merges.

#include "core/MetaTypes.h"
#include "core/Protocol.h"
#include "dialogs/MessageBox.h"
#include "pages/QStudentGroupWidget.h"
#include "policy/QAppWatcherWidget.h"
#include "tableview/QtRokTableView.h"

#include <QApplication>
#include <QBrush>
#include <QComboBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QMetaMethod>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QTabWidget>
#include <QThread>
#include <QtTest>

#include <thread>

namespace {

CStuInfo_PTR machine(quint64 mac, const QString& host, const QString& ip, bool online, const QString& group = QString())
{
    auto record = std::make_shared<CStuInfo>();
    record->ullmac = mac;
    record->hostname = host;
    record->ip = ip;
    record->group_name = group;
    record->online.store(online);
    return record;
}

QtDoubleIntStringItem_PTR item(int type, const QString& text, int state = 1)
{
    auto entry = std::make_shared<QtDoubleIntStringItem>();
    entry->item_type = type;
    entry->item_state = state;
    entry->str_val = text;
    return entry;
}

QStringList columnTexts(const QtRokTableView* table, int column = 0)
{
    QStringList texts;
    for (int row = 0; row < table->getRowCount(); ++row)
        texts << table->getCellText(row, column);
    return texts;
}

QStringList columnTexts(const QStudentGroupWidget& page, int column)
{
    return columnTexts(page.machine_table, column);
}

int rowWithText(const QtRokTableView* table, int column, const QString& text)
{
    for (int row = 0; row < table->getRowCount(); ++row)
        if (table->getCellText(row, column) == text)
            return row;
    return -1;
}

QColor foregroundAt(const QStudentGroupWidget& page, int row, int column)
{
    const QModelIndex index = page.machine_table->model()->index(row, column);
    return index.data(Qt::ForegroundRole).value<QBrush>().color();
}

QByteArray hex(const char* text)
{
    return QByteArray::fromHex(text);
}

QByteArray addressBytes(uint32_t address)
{
    return QByteArray(reinterpret_cast<const char*>(&address), sizeof address);
}

const uint32_t GroupAddress = Protocol::addressFromOctets(239, 74, 8, 27);
const QString Online = QStringLiteral("在线");
const QString Offline = QStringLiteral("断开");
const QString active = QStringLiteral("激活");
const QString inactive = QStringLiteral("停用");

// Every datagram of a page on the test's thread: emissions from the UI
// thread arrive directly, those of the page's resend thread queued.
class Recorder : public QObject
{
public:
    struct Sent
    {
        uint32_t address = 0;
        QByteArray datagram;
    };

    explicit Recorder(QStudentGroupWidget& page)
    {
        connect(&page, &QStudentGroupWidget::sg_need_send_msg, this,
            [this](uint32_t address, const QByteArray& datagram) { sent << Sent { address, datagram }; });
    }

    QList<Sent> ofId(uint32_t id) const
    {
        QList<Sent> matching;
        for (const Sent& one : sent)
            if (Protocol::consoleMessageId(one.datagram) == id)
                matching << one;
        return matching;
    }

    QList<Sent> sent;
};

// The state box of a row as the teacher would see it: the editor builds a
// table's boxes when the table is first shown or a box is asked for.
QComboBox* boxAt(QtRokTableView* table, int row)
{
    QWidget* widget = table;
    while (widget && !qobject_cast<QAppWatcherWidget*>(widget))
        widget = widget->parentWidget();
    auto* editor = qobject_cast<QAppWatcherWidget*>(widget);
    for (int type = 1; editor && type <= 3; ++type)
        if (editor->tableOfType(type) == table)
            return editor->stateBox(type, row);
    return nullptr;
}

// "text=state" per row, the state as the box shows it.
QStringList rows(QtRokTableView* table)
{
    QStringList list;
    for (int row = 0; row < table->getRowCount(); ++row) {
        const QComboBox* box = boxAt(table, row);
        list << table->getCellText(row, 0) + QLatin1Char('=') + (box ? box->currentText() : QStringLiteral("-"));
    }
    return list;
}

QPushButton* button(QAppWatcherWidget& editor, const QString& text)
{
    for (auto* candidate : editor.findChildren<QPushButton*>())
        if (candidate->text() == text)
            return candidate;
    return nullptr;
}

} // namespace

class TestPages : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void groupAndAllPages();
    void settersSendLockAtOnce();
    void policyDatagramHoldsActiveEntriesInRowOrder();
    void allPageSendsAndLoadsNothing();
    void mergeRebuildsPolicyOnlyOnChange();
    void loadAndExportGroupConfig();
    void newRowsFollowSortIndicator_data();
    void newRowsFollowSortIndicator();
    void setMachinesReconcilesRows();
    void updateMachineRowWritesOnlyMaskedColumns();
    void updateOfUnknownMachineAppendsOnce();
    void lockColumnShowsEachRowsLock();
    void addMachineSendsJoinWhenOnline_data();
    void addMachineSendsJoinWhenOnline();
    void addMachineFromWorkerThread();
    void lookupFollowsHeaderSort();
    void refreshFollowsRecords();
    void selectionOfSeveralRowsSurvivesRefreshAndSort();
    void deleteAsksForTheSelectedRow_data();
    void deleteAsksForTheSelectedRow();
    void editorRefusesWhatAgentsReject_data();
    void editorRefusesWhatAgentsReject();
    void editorKeepsTitlesItCannotCheck();
    void stateChangeFollowsItsBox();
    void setItemsRefillsOnlyGivenTypes();
    void disabledSetRoundTrip();
    void disabledSetSurvivesRefillAndMerge();
    void mergeCountsRemovedAndAdded();
    void mergeSkipsEmptyTextsAndKeepsDuplicates();
    void addedRowIsTypedAtOnce();
    void unsavedListsUntilSavedOrDropped();
};

void TestPages::initTestCase()
{
    registerRokMetaTypes();
}

void TestPages::init()
{
    MessageBox::setNextAnswer(QMessageBox::NoButton);
    MessageBox::clearLast();
}

void TestPages::groupAndAllPages()
{
    QCOMPARE(QStudentGroupWidget(nullptr, QString()).page_name, QStringLiteral("未命名"));

    // New rows are ordered by address until the teacher sorts otherwise.
    QStudentGroupWidget group(nullptr, QStringLiteral("A"));
    group.setShowAll(false);
    QtRokTableView* table = group.machine_table;
    QCOMPARE(table->getColumnCount(), 6);
    QCOMPARE(table->model()->headerData(4, Qt::Horizontal).toString(), QStringLiteral("锁定"));
    QVERIFY(!table->getColumnSortable(4) && !table->getColumnSortable(5));
    QCOMPARE(table->horizontalHeader()->sortIndicatorSection(), 1);
    QCOMPARE(table->horizontalHeader()->sortIndicatorOrder(), Qt::AscendingOrder);
    QVERIFY(group.policy_editor && group.policy_editor->isEmbedded());

    // "全部" shows each machine's group and has no policy of its own.
    QStudentGroupWidget all(nullptr, QStringLiteral("全部"));
    QPointer<QAppWatcherWidget> editor = all.policy_editor;
    all.setShowAll(true);
    QVERIFY(!all.policy_editor);
    QTRY_VERIFY(editor.isNull());
    QCOMPARE(all.machine_table->getColumnCount(), 7);
    QCOMPARE(all.machine_table->model()->headerData(4, Qt::Horizontal).toString(), QStringLiteral("分组"));
    QCOMPARE(all.machineRows().lockColumn(), 5);
    QVERIFY(all.machine_table->getColumnSortable(4));
    QVERIFY(!all.machine_table->getColumnSortable(5) && !all.machine_table->getColumnSortable(6));
}

void TestPages::settersSendLockAtOnce()
{
    QStudentGroupWidget page(nullptr, QStringLiteral("A"));
    page.group_addr = GroupAddress;
    Recorder recorder(page);

    // Each setter rebuilds and sends at once, on the caller's thread; only
    // the low 8 bits of the type go out.
    page.setLockType(0x102);
    page.setAllowManualIp(true);
    page.setAllowUsbDrv(true);
    QCOMPARE(recorder.sent.size(), 3);
    QCOMPARE(recorder.sent.last().address, GroupAddress);
    QCOMPARE(recorder.sent.last().datagram,
        hex("03000030"
            "020200f0"));
    QCOMPARE(page.lockDatagramCopy(), recorder.sent.last().datagram);
}

void TestPages::policyDatagramHoldsActiveEntriesInRowOrder()
{
    QStudentGroupWidget page(nullptr, QStringLiteral("A"));
    page.group_addr = GroupAddress;
    Recorder recorder(page);

    page.setPolicyItems(
        { item(1, "ab"), item(1, "x", 0), item(1, "c"), item(3, "d"), item(3, "e", 0), item(4, "ignored") });

    const QList<Recorder::Sent> policies = recorder.ofId(Protocol::MSG_ADMIN_POLICY);
    QCOMPARE(policies.size(), 1);
    QCOMPARE(policies.first().address, GroupAddress);
    QCOMPARE(policies.first().datagram, page.policyDatagramCopy());
    Protocol::PolicyContent content;
    QVERIFY(Protocol::parsePolicy(policies.first().datagram, content));
    QCOMPARE(content.version, page.policy_version.load());
    QCOMPARE(content.lists[0], (QStringList { "ab", "c" }));
    QVERIFY(content.lists[1].isEmpty());
    QCOMPARE(content.lists[2], QStringList { "d" });
}

void TestPages::allPageSendsAndLoadsNothing()
{
    QStudentGroupWidget all(nullptr, QStringLiteral("全部"));
    all.setShowAll(true);
    QSignalSpy spy(&all, &QStudentGroupWidget::sg_need_send_msg);
    all.setPolicyItems({ item(1, "ab") });
    all.buildPolicyDatagram();
    auto lock = std::make_shared<Rok_Lock_State>();
    lock->lock_type = 3;
    all.loadGroupConfig(lock, { "a" }, {}, {});
    QCOMPARE(spy.count(), 0);

    Protocol::PolicyContent content;
    QVERIFY(Protocol::parsePolicy(all.policyDatagramCopy(), content));
    for (const QStringList& list : content.lists)
        QVERIFY(list.isEmpty());
    QCOMPARE(all.lock_state->lock_type, 0);
    QCOMPARE(all.lockDatagramCopy(),
        hex("03000030"
            "000100f0"));
}

void TestPages::mergeRebuildsPolicyOnlyOnChange()
{
    QStudentGroupWidget page(nullptr, QStringLiteral("A"));
    page.group_addr = GroupAddress;
    const StringItemList catalog { item(1, "a"), item(2, "b") };
    page.setPolicyItems(catalog);
    Recorder recorder(page);

    page.mergePolicyItems(catalog);
    QCOMPARE(recorder.ofId(Protocol::MSG_ADMIN_POLICY).size(), 0);

    page.mergePolicyItems({ item(1, "a"), item(2, "c") });
    QCOMPARE(recorder.ofId(Protocol::MSG_ADMIN_POLICY).size(), 1);
    Protocol::PolicyContent content;
    QVERIFY(Protocol::parsePolicy(recorder.sent.last().datagram, content));
    QCOMPARE(content.lists[1], QStringList { "c" });
}

void TestPages::loadAndExportGroupConfig()
{
    QStudentGroupWidget page(nullptr, QStringLiteral("A"));
    page.group_addr = GroupAddress;
    page.setPolicyItems({ item(1, "a"), item(1, "b"), item(2, "s1"), item(3, "p1") });
    Recorder recorder(page);

    auto lock = std::make_shared<Rok_Lock_State>();
    lock->lock_type = 1;
    lock->allowmanualip = true;
    lock->allowusbdrv = true;
    page.loadGroupConfig(lock, { "b", "not-listed" }, { "s1" }, {});

    // The restored lock state goes out at once, with the policy that leaves
    // out the switched-off entries.
    const QList<Recorder::Sent> locks = recorder.ofId(Protocol::MSG_ADMIN_LOCK_STATE);
    QCOMPARE(locks.size(), 1);
    QCOMPARE(locks.first().datagram,
        hex("03000030"
            "010200f0"));
    const QList<Recorder::Sent> policies = recorder.ofId(Protocol::MSG_ADMIN_POLICY);
    QCOMPARE(policies.size(), 1);
    Protocol::PolicyContent content;
    QVERIFY(Protocol::parsePolicy(policies.first().datagram, content));
    QCOMPARE(content.lists[0], QStringList { "a" });
    QVERIFY(content.lists[1].isEmpty());
    QCOMPARE(content.lists[2], QStringList { "p1" });

    std::shared_ptr<Rok_Lock_State> lockOut;
    QStringList titles { "stale" }, services { "stale" }, programs { "stale" };
    page.exportGroupConfig(lockOut, titles, services, programs);
    QVERIFY(lockOut);
    QVERIFY(lockOut != page.lock_state);
    QCOMPARE(lockOut->lock_type, 1);
    QVERIFY(lockOut->allowmanualip.load());
    QVERIFY(lockOut->allowusbdrv.load());
    QCOMPARE(titles, QStringList { "b" });
    QCOMPARE(services, QStringList { "s1" });
    QVERIFY(programs.isEmpty());

    // Without a lock state only the lists are applied.
    page.loadGroupConfig(nullptr, {}, {}, { "p1" });
    QCOMPARE(page.lock_state->lock_type, 1);
    page.exportGroupConfig(lockOut, titles, services, programs);
    QCOMPARE(programs, QStringList { "p1" });
}

void TestPages::newRowsFollowSortIndicator_data()
{
    QTest::addColumn<bool>("showAll");
    QTest::addColumn<int>("section");
    QTest::addColumn<int>("order");
    QTest::addColumn<int>("column");
    QTest::addColumn<QStringList>("expected");

    const int up = Qt::AscendingOrder;
    const int down = Qt::DescendingOrder;
    QTest::newRow("ip as text, ascending")
        << false << 1 << up << 1 << QStringList { "10.0.0.10", "10.0.0.2", "10.0.0.9" };
    QTest::newRow("ip as text, descending")
        << false << 1 << down << 1 << QStringList { "10.0.0.9", "10.0.0.2", "10.0.0.10" };
    QTest::newRow("name ascending") << false << 0 << up << 0 << QStringList { "pc-a", "pc-b", "pc-c" };
    QTest::newRow("offline first") << false << 2 << up << 2 << QStringList { Offline, Online, Online };
    QTest::newRow("online first") << false << 2 << down << 2 << QStringList { Online, Online, Offline };
    QTest::newRow("mac ascending") << false << 3 << up << 3
                                   << QStringList { "00:03:00:00:00:00", "01:00:00:00:00:00", "0A:00:00:00:00:00" };
    QTest::newRow("group ascending") << true << 4 << up << 4 << QStringList { "A", "B", "C" };
    QTest::newRow("no indicator keeps the given order")
        << false << -1 << up << 0 << QStringList { "pc-b", "pc-c", "pc-a" };
    QTest::newRow("section past the group keeps the given order")
        << true << 5 << up << 0 << QStringList { "pc-b", "pc-c", "pc-a" };
}

void TestPages::newRowsFollowSortIndicator()
{
    QFETCH(bool, showAll);
    QFETCH(int, section);
    QFETCH(int, order);
    QFETCH(int, column);
    QFETCH(QStringList, expected);

    QStudentGroupWidget page(nullptr, QStringLiteral("P"));
    page.setShowAll(showAll);
    page.machine_table->sortByColumn(section, Qt::SortOrder(order));
    QCOMPARE(page.machine_table->horizontalHeader()->sortIndicatorSection(), section);

    page.setMachines({ machine(0x0A, "pc-b", "10.0.0.9", true, "B"), machine(0x01, "pc-c", "10.0.0.10", false, "A"),
        machine(0x0300, "pc-a", "10.0.0.2", true, "C") });
    QCOMPARE(columnTexts(page, column), expected);
}

void TestPages::setMachinesReconcilesRows()
{
    QStudentGroupWidget page(nullptr, QStringLiteral("P"));
    auto a = machine(1, "pc-a", "10.0.0.1", true);
    auto b = machine(2, "pc-b", "10.0.0.2", true);
    auto c = machine(3, "pc-c", "10.0.0.3", false);
    page.setMachines({ a, b, c });
    QCOMPARE(columnTexts(page, 0), (QStringList { "pc-a", "pc-b", "pc-c" }));
    QCOMPARE(page.machine_table->getCellUserData(1, 0, 5).toULongLong(), quint64(2));
    QCOMPARE(page.machine_table->getCellUserData(1, 3, 5).toULongLong(), quint64(2));
    QCOMPARE(page.machine_table->getCellText(1, 3), QStringLiteral("02:00:00:00:00:00"));
    QCOMPARE(page.machine_table->getCellText(2, 2), Offline);
    QCOMPARE(foregroundAt(page, 2, 2), QColor("#b11905"));
    QCOMPARE(foregroundAt(page, 0, 2), QColor("#055d13"));

    // b drops out; a and c keep their rows and are rewritten.
    a->hostname = "pc-a2";
    page.setMachines({ c, a });
    QCOMPARE(columnTexts(page, 0), (QStringList { "pc-a2", "pc-c" }));
    QCOMPARE(page.rowOfMachine(2), -1);
    QCOMPARE(page.rowOfMachine(3), 1);

    // Removing a machine the page does not show changes nothing.
    page.removeMachine(0);
    page.removeMachine(2);
    QCOMPARE(page.machine_table->getRowCount(), 2);

    // A machine listed twice gets two rows.
    page.setMachines({ c, c });
    QCOMPARE(columnTexts(page, 0), (QStringList { "pc-c", "pc-c" }));
    // Removal takes the first of them.
    page.removeMachine(3);
    QCOMPARE(page.machine_table->getRowCount(), 1);

    page.setMachines({});
    QCOMPARE(page.machine_table->getRowCount(), 0);
    QCOMPARE(page.rowOfMachine(3), -1);
}

void TestPages::updateMachineRowWritesOnlyMaskedColumns()
{
    QStudentGroupWidget page(nullptr, QStringLiteral("P"));
    auto a = machine(0x11, "pc-a", "10.0.0.1", true);
    page.setMachines({ a });

    a->hostname = "renamed";
    a->ip = "10.9.9.9";
    a->online = false;
    page.updateMachineRow(a, 0x04);
    QCOMPARE(page.machine_table->getCellText(0, 2), Offline);
    QCOMPARE(foregroundAt(page, 0, 2), QColor("#b11905"));
    QCOMPARE(page.machine_table->getCellText(0, 0), QStringLiteral("pc-a"));
    QCOMPARE(page.machine_table->getCellText(0, 1), QStringLiteral("10.0.0.1"));

    a->online = true;
    page.updateMachineRow(a, 0xFFFF);
    QCOMPARE(page.machine_table->getCellText(0, 2), Offline);
    QCOMPARE(foregroundAt(page, 0, 2), QColor("#b11905"));

    page.updateMachineRow(a, 0x01 | 0x02);
    QCOMPARE(page.machine_table->getCellText(0, 0), QStringLiteral("renamed"));
    QCOMPARE(page.machine_table->getCellText(0, 1), QStringLiteral("10.9.9.9"));
    QCOMPARE(page.machine_table->getCellText(0, 2), Offline);

    // The group column exists only on "全部".
    a->group_name = "G";
    page.updateMachineRow(a, 0x10);
    QCOMPARE(page.machine_table->getCellText(0, 4), QString());
    QStudentGroupWidget all(nullptr, QStringLiteral("全部"));
    all.setShowAll(true);
    all.setMachines({ a });
    a->group_name = "H";
    all.updateMachineRow(a, 0x10);
    QCOMPARE(all.machine_table->getCellText(0, 4), QStringLiteral("H"));

    page.updateMachineRow(nullptr, 0x1F);
    QCOMPARE(page.machine_table->getRowCount(), 1);
}

void TestPages::lockColumnShowsEachRowsLock()
{
    // A room's rows show the room's lock; "全部"'s rows the lock of each
    // machine's group, also after the machine changed group.
    const auto lockText = [](const QStudentGroupWidget& page, int row) {
        return page.machine_table->getCellText(row, page.machineRows().lockColumn());
    };
    const CStuInfo_PTR a = machine(0xA1, QStringLiteral("pc-a"), QStringLiteral("10.0.0.1"), true, QStringLiteral("A"));
    const CStuInfo_PTR b = machine(0xB1, QStringLiteral("pc-b"), QStringLiteral("10.0.0.2"), true, QStringLiteral("B"));
    QStudentGroupWidget room(nullptr, QStringLiteral("A"));
    room.setShowAll(false);
    room.setMachines({ a });
    QCOMPARE(lockText(room, 0), QString());
    room.setLockType(Rok_Lock_State::BlackLock);
    QCOMPARE(lockText(room, 0), QStringLiteral("黑屏锁定"));
    QCOMPARE(room.machineRows().lockAt(0), int(Rok_Lock_State::BlackLock));
    room.addMachine(b); // a new row takes the lock at once
    QCOMPARE(lockText(room, room.rowOfMachine(0xB1)), QStringLiteral("黑屏锁定"));
    room.refreshAllRows(); // the refresh leaves the lock as it is
    QCOMPARE(room.machineRows().lockAt(room.rowOfMachine(0xB1)), int(Rok_Lock_State::BlackLock));

    QStudentGroupWidget all(nullptr, QStringLiteral("全部"));
    all.setShowAll(true);
    QHash<QString, int> locks { { QStringLiteral("A"), Rok_Lock_State::KeyboardMouseLock } };
    QHash<quint64, CStuInfo_PTR> records { { 0xA1, a }, { 0xB1, b } };
    all.setLockSource([&](quint64 mac) { return locks.value(records.value(mac)->group_name); });
    all.setMachines({ a, b });
    QCOMPARE(lockText(all, all.rowOfMachine(0xA1)), QStringLiteral("键盘鼠标全锁"));
    QCOMPARE(lockText(all, all.rowOfMachine(0xB1)), QString());
    b->group_name = QStringLiteral("A");
    all.updateMachineRow(b, QStudentGroupWidget::ColumnGroup);
    QCOMPARE(lockText(all, all.rowOfMachine(0xB1)), QStringLiteral("键盘鼠标全锁"));
    locks.clear();
    all.refreshLocks();
    QCOMPARE(lockText(all, all.rowOfMachine(0xA1)), QString());
    QCOMPARE(all.machineRows().lockAt(all.rowOfMachine(0xB1)), int(Rok_Lock_State::None));
}

void TestPages::updateOfUnknownMachineAppendsOnce()
{
    QStudentGroupWidget page(nullptr, QStringLiteral("P"));
    page.setMachines({ machine(1, "pc-a", "10.0.0.1", true) });
    auto stranger = machine(0x22, "pc-x", "10.0.0.22", false);

    page.updateMachineRow(stranger, 0xFFFF);
    QCOMPARE(page.machine_table->getRowCount(), 1);

    page.updateMachineRow(stranger, 0x04);
    QCOMPARE(page.machine_table->getRowCount(), 2);
    QCOMPARE(page.machine_table->getCellText(1, 2), Offline);
    QCOMPARE(page.machine_table->getCellText(1, 0), QStringLiteral("pc-x"));
    QCOMPARE(page.machine_table->getCellUserData(1, 0, 5).toULongLong(), quint64(0x22));

    // Found again: no second row.
    stranger->online = true;
    page.updateMachineRow(stranger, 0x04);
    QCOMPARE(page.machine_table->getRowCount(), 2);
    QCOMPARE(page.machine_table->getCellText(1, 2), Online);

    // Not among the page's machines, so removal leaves the row alone.
    page.removeMachine(0x22);
    QCOMPARE(page.machine_table->getRowCount(), 2);
}

void TestPages::addMachineSendsJoinWhenOnline_data()
{
    QTest::addColumn<QString>("ip");
    QTest::addColumn<bool>("online");
    QTest::addColumn<bool>("sends");
    QTest::addColumn<QByteArray>("address");

    QTest::newRow("online, dotted address") << "192.168.1.20" << true << true << hex("c0a80114");
    QTest::newRow("online, host name instead of address") << "pc-01.lab" << true << true << hex("00000000");
    QTest::newRow("online, no address") << "" << true << true << hex("00000000");
    QTest::newRow("offline") << "192.168.1.20" << false << false << QByteArray();
}

void TestPages::addMachineSendsJoinWhenOnline()
{
    QFETCH(QString, ip);
    QFETCH(bool, online);
    QFETCH(bool, sends);
    QFETCH(QByteArray, address);

    // No group address: nothing else is ever sent, so the spy sees only joins.
    QStudentGroupWidget page(nullptr, QStringLiteral("P"));
    QSignalSpy spy(&page, &QStudentGroupWidget::sg_need_send_msg);
    page.addMachine(machine(0x42, "pc", ip, online));
    QCOMPARE(page.machine_table->getRowCount(), 1);
    QCOMPARE(spy.count(), sends ? 1 : 0);
    if (sends) {
        QCOMPARE(addressBytes(spy.first().at(0).value<uint32_t>()), address);
        QCOMPARE(spy.first().at(1).toByteArray(),
            hex("02000030"
                "00000000"));
    }

    page.group_addr = GroupAddress;
    page.addMachine(machine(0x43, "pc2", "10.1.2.3", true));
    QCOMPARE(page.machine_table->getRowCount(), 2);
    QCOMPARE(spy.last().at(1).toByteArray(),
        hex("02000030"
            "ef4a081b"));

    page.addMachine(nullptr);
    QCOMPARE(page.machine_table->getRowCount(), 2);
}

void TestPages::addMachineFromWorkerThread()
{
    QStudentGroupWidget page(nullptr, QStringLiteral("未分组"));
    QThread* emittedOn = nullptr;
    connect(
        &page, &QStudentGroupWidget::sg_need_send_msg, this,
        [&emittedOn](uint32_t, const QByteArray&) { emittedOn = QThread::currentThread(); }, Qt::DirectConnection);

    auto record = machine(0x77, "pc-net", "10.0.0.77", true);
    std::thread network([&page, record] { page.addMachine(record); });
    network.join();
    // Nothing was touched on the calling thread.
    QCOMPARE(page.machine_table->getRowCount(), 0);

    QTRY_COMPARE(page.machine_table->getRowCount(), 1);
    QCOMPARE(page.machine_table->getCellText(0, 0), QStringLiteral("pc-net"));
    QCOMPARE(page.rowOfMachine(0x77), 0);
    QCOMPARE(emittedOn, QThread::currentThread());

    std::thread remover([&page] { page.removeMachine(0x77); });
    remover.join();
    QTRY_COMPARE(page.machine_table->getRowCount(), 0);
}

void TestPages::lookupFollowsHeaderSort()
{
    QStudentGroupWidget page(nullptr, QStringLiteral("P"));
    page.resize(900, 600);
    page.show();
    QVERIFY(QTest::qWaitForWindowExposed(&page));

    QList<CStuInfo_PTR> machines;
    const QStringList names { "delta", "alpha", "echo", "charlie", "bravo" };
    for (int i = 0; i < names.size(); ++i)
        machines << machine(quint64(i + 1), names.at(i), QStringLiteral("10.0.0.%1").arg(i + 1), true);
    page.setMachines(machines);
    QCOMPARE(columnTexts(page, 0), names); // by IP, as given

    QHeaderView* header = page.machine_table->horizontalHeader();
    const QPoint nameSection(header->sectionViewportPosition(0) + header->sectionSize(0) / 2, header->height() / 2);
    QTest::mouseClick(header->viewport(), Qt::LeftButton, Qt::NoModifier, nameSection);
    QCOMPARE(header->sortIndicatorSection(), 0);
    QStringList sorted = names;
    std::sort(sorted.begin(), sorted.end());
    if (header->sortIndicatorOrder() == Qt::DescendingOrder)
        std::reverse(sorted.begin(), sorted.end());
    QCOMPARE(columnTexts(page, 0), sorted);

    for (const CStuInfo_PTR& record : machines)
        QCOMPARE(page.machine_table->getCellText(page.rowOfMachine(record->ullmac), 0), record->hostname);

    page.removeMachine(4); // "charlie"
    QCOMPARE(page.machine_table->getRowCount(), 4);
    QCOMPARE(rowWithText(page.machine_table, 0, "charlie"), -1);
    QVERIFY(rowWithText(page.machine_table, 0, "echo") >= 0);

    // Appended rows go to the end, whatever the shown order.
    page.addMachine(machine(9, "aaa", "10.0.0.9", false));
    QCOMPARE(page.machine_table->getCellText(page.machine_table->getRowCount() - 1, 0), QStringLiteral("aaa"));
}

void TestPages::selectionOfSeveralRowsSurvivesRefreshAndSort()
{
    QStudentGroupWidget page(nullptr, QStringLiteral("P"));
    page.resize(900, 600);
    page.show();
    QVERIFY(QTest::qWaitForWindowExposed(&page));
    QList<CStuInfo_PTR> machines;
    for (int i = 0; i < 5; ++i)
        machines << machine(quint64(i + 1), QStringLiteral("pc%1").arg(i), QStringLiteral("10.0.0.%1").arg(i + 1), i != 2);
    page.setMachines(machines);

    // Ctrl+click picks a second row; Ctrl+A takes them all.
    QtRokTableView* table = page.machine_table;
    const auto click = [table](int row, Qt::KeyboardModifiers modifiers) {
        QTest::mouseClick(table->viewport(), Qt::LeftButton, modifiers,
            table->visualRect(table->model()->index(row, 0)).center());
    };
    click(page.rowOfMachine(2), Qt::NoModifier);
    click(page.rowOfMachine(4), Qt::ControlModifier);
    QCOMPARE(page.selectedMacs(), (QList<quint64> { 2, 4 }));

    machines.at(1)->online.store(false);
    page.refreshAllRows();
    table->sortByColumn(0, Qt::DescendingOrder);
    QList<quint64> kept = page.selectedMacs();
    std::sort(kept.begin(), kept.end());
    QCOMPARE(kept, (QList<quint64> { 2, 4 }));

    // A row the filter hides is not acted on.
    page.setOnlineOnly(true);
    QCOMPARE(page.selectedMacs(), QList<quint64> { 4 });
    page.setOnlineOnly(false);
    QTest::keyClick(table, Qt::Key_A, Qt::ControlModifier);
    QCOMPARE(page.selectedMacs().size(), 5);

    QSignalSpy dragged(&page, &QStudentGroupWidget::sg_table_dragged);
    const QPoint from = table->visualRect(table->model()->index(0, 0)).center();
    QTest::mousePress(table->viewport(), Qt::LeftButton, Qt::NoModifier, from);
    QMouseEvent move(QEvent::MouseMove, from + QPoint(0, 40), Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(table->viewport(), &move);
    QTest::mouseRelease(table->viewport(), Qt::LeftButton, Qt::NoModifier, from + QPoint(0, 40));
    QCOMPARE(dragged.count(), 1);
}

void TestPages::refreshFollowsRecords()
{
    QStudentGroupWidget page(nullptr, QStringLiteral("P"));
    auto a = machine(1, "pc-a", "10.0.0.1", true);
    page.setMachines({ a });
    auto stray = machine(2, "pc-stray", "10.0.0.2", true);
    page.updateMachineRow(stray, 0x1F); // shown, but not one of the page's machines

    a->hostname = "pc-a-new";
    a->online = false;
    stray->hostname = "pc-stray-new";
    page.refresh_enabled = true;
    QTRY_COMPARE(page.machine_table->getCellText(0, 0), QStringLiteral("pc-a-new"));
    QCOMPARE(page.machine_table->getCellText(0, 2), Offline);
    QCOMPARE(page.machine_table->getCellText(1, 0), QStringLiteral("pc-stray"));

    page.refresh_enabled = false;
    QSignalSpy spy(&page, &QStudentGroupWidget::sg_update_machines);
    QVERIFY(!spy.wait(2500));
}

void TestPages::deleteAsksForTheSelectedRow_data()
{
    QTest::addColumn<int>("row");
    QTest::addColumn<int>("answer");
    QTest::addColumn<QString>("number");
    QTest::addColumn<QStringList>("left");

    const QStringList all { QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c") };
    QTest::newRow("third row, yes") << 2 << int(QMessageBox::Yes) << QStringLiteral("3")
                                    << QStringList { QStringLiteral("a"), QStringLiteral("b") };
    QTest::newRow("first row, yes") << 0 << int(QMessageBox::Yes) << QStringLiteral("1")
                                    << QStringList { QStringLiteral("b"), QStringLiteral("c") };
    QTest::newRow("first row, no") << 0 << int(QMessageBox::No) << QStringLiteral("1") << all;
    QTest::newRow("no current row, not asked") << -1 << int(QMessageBox::Yes) << QString() << all;
}

void TestPages::deleteAsksForTheSelectedRow()
{
    QFETCH(int, row);
    QFETCH(int, answer);
    QFETCH(QString, number);
    QFETCH(QStringList, left);

    QAppWatcherWidget editor;
    editor.fillList(1, { item(1, QStringLiteral("a")), item(1, QStringLiteral("b")), item(1, QStringLiteral("c")) });
    auto* table = editor.tableOfType(1);
    table->setCurrentIndex(row < 0 ? QModelIndex() : table->model()->index(row, 0));

    MessageBox::setNextAnswer(static_cast<QMessageBox::StandardButton>(answer));
    button(editor, QStringLiteral("删除"))->click();

    if (number.isEmpty()) {
        QCOMPARE(MessageBox::lastText(), QString());
    } else {
        QCOMPARE(MessageBox::lastTitle(), QStringLiteral("删除确认"));
        QCOMPARE(MessageBox::lastText(),
            QStringLiteral("删除不可恢复！\n确认需要删除选中行(第【") + number + QStringLiteral("】行)？"));
    }
    QCOMPARE(columnTexts(table), left);
}

void TestPages::editorRefusesWhatAgentsReject_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QStringList>("before"); // rows above the one typed in, in its state
    QTest::addColumn<int>("state");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("fault"); // empty: taken

    QTest::newRow("line break") << 2 << QStringList() << 1 << QStringLiteral("a\nb")
                                << QStringLiteral("“守护的服务”第 1 行“a\\nb”含有换行符或空字符（一个条目只能占一行）");
    QTest::newRow("carriage return, switched off")
        << 3 << QStringList { QStringLiteral("C:\\b.exe") } << 0 << QStringLiteral("C:\\a\r.exe")
        << QStringLiteral("“守护的程序”第 2 行“C:\\a\\r.exe”含有换行符或空字符（一个条目只能占一行）");
    QTest::newRow("NUL") << 2 << QStringList() << 1 << QString::fromUtf8("a\0b", 3)
                         << QStringLiteral("“守护的服务”第 1 行“a\\0b”含有换行符或空字符（一个条目只能占一行）");
    QTest::newRow("title that compiles") << 1 << QStringList() << 1 << QStringLiteral("游戏.*") << QString();
    // 12 head bytes, 8 per list, 6 around the text, one "\n" between entries.
    QTest::newRow("one byte over the datagram")
        << 3 << QStringList { QString(32733, QLatin1Char('x')) } << 1 << QString(32732, QLatin1Char('y'))
        << QStringLiteral("激活的条目使策略数据报达到 65508 字节，比上限 65507 字节多 1 字节，学生机将收不到策略");
    QTest::newRow("the whole datagram")
        << 3 << QStringList { QString(32733, QLatin1Char('x')) } << 1 << QString(32731, QLatin1Char('y')) << QString();
    QTest::newRow("switched off entries are not sent")
        << 3 << QStringList { QString(32733, QLatin1Char('x')) } << 0 << QString(32732, QLatin1Char('y')) << QString();
}

void TestPages::editorRefusesWhatAgentsReject()
{
    QFETCH(int, type);
    QFETCH(QStringList, before);
    QFETCH(int, state);
    QFETCH(QString, text);
    QFETCH(QString, fault);
    auto fill = [&](QAppWatcherWidget& editor, const QString& last) {
        StringItemList items;
        for (const QString& entry : before + QStringList { last })
            items << item(type, entry, state);
        editor.fillList(type, items);
    };
    MessageBox::setNextAnswers({ QMessageBox::Ok, QMessageBox::Ok });

    // Typed (or pasted) into the entry's cell.
    QAppWatcherWidget editor;
    fill(editor, QStringLiteral("old"));
    auto* table = editor.tableOfType(type);
    const QModelIndex cell = table->model()->index(before.size(), 0);
    table->setCurrentIndex(cell);
    table->edit(cell);
    auto* line = table->findChild<QLineEdit*>();
    QVERIFY(line);
    line->setText(text);
    QTest::keyClick(line, Qt::Key_Return);
    if (fault.isEmpty()) {
        QTRY_COMPARE(table->getCellText(before.size(), 0), text);
    } else {
        QTRY_COMPARE(MessageBox::lastText(), QStringLiteral("条目未修改：\n") + fault);
        QCOMPARE(MessageBox::lastTitle(), QStringLiteral("错误"));
        QCOMPARE(table->getCellText(before.size(), 0), QStringLiteral("old"));
    }

    // Saved as the store or an earlier version left it.
    MessageBox::clearLast();
    fill(editor, text);
    QSignalSpy saved(&editor, &QAppWatcherWidget::sg_btn_save_clicked);
    button(editor, QStringLiteral("保存"))->click();
    QCOMPARE(saved.count(), fault.isEmpty() ? 1 : 0);
    QCOMPARE(MessageBox::lastTitle(), fault.isEmpty() ? QString() : QStringLiteral("错误"));
    QCOMPARE(MessageBox::lastText(), fault.isEmpty() ? QString() : QStringLiteral("策略列表未保存：\n") + fault);
}

void TestPages::editorKeepsTitlesItCannotCheck()
{
    // Agents match titles with engines of their own: an entry Qt rejects
    // is marked, not refused, and stored ones save as they stand.
    QAppWatcherWidget editor;
    editor.fillList(1, { item(1, QStringLiteral("x\\y")), item(1, QStringLiteral("old")) });
    auto* table = editor.tableOfType(1);
    const auto toolTip = [table](int row) { return table->model()->index(row, 0).data(Qt::ToolTipRole).toString(); };
    QVERIFY(toolTip(0).startsWith(QStringLiteral("教师端无法检查此正则表达式（")));
    QCOMPARE(toolTip(1), QString());
    QVERIFY(editor.save());

    // A new one is asked about; 取消 leaves the entry, 仍然保存 keeps the new text.
    const auto type = [table](const QString& text) {
        QLineEdit line(text);
        table->itemDelegateForColumn(0)->setModelData(&line, table->model(), table->model()->index(1, 0));
    };
    MessageBox::setNextAnswer(QMessageBox::Cancel);
    type(QStringLiteral("游戏("));
    QTRY_COMPARE(MessageBox::lastText(),
        QStringLiteral(
            "“禁止的窗口标题”第 2 行“游戏(”教师端无法检查此正则表达式（missing closing parenthesis，位置 3）。\n"
            "学生端用自己的引擎匹配窗口标题，它在学生端可能有效。"));
    QCOMPARE(table->getCellText(1, 0), QStringLiteral("old"));
    QVERIFY(!editor.isModified());
    MessageBox::clearLast();
    MessageBox::setNextAnswer(QMessageBox::Save);
    type(QStringLiteral("游戏("));
    QTRY_COMPARE(table->getCellText(1, 0), QStringLiteral("游戏("));
    QVERIFY(editor.isModified());
    QVERIFY(!toolTip(1).isEmpty());
    QVERIFY(editor.save());
    // Mended in its cell, the mark goes.
    table->edit(table->model()->index(1, 0));
    auto* line = table->findChild<QLineEdit*>();
    QVERIFY(line);
    line->setText(QStringLiteral("游戏\\("));
    QTest::keyClick(line, Qt::Key_Return);
    QTRY_COMPARE(table->getCellText(1, 0), QStringLiteral("游戏\\("));
    QCOMPARE(toolTip(1), QString());
}

void TestPages::stateChangeFollowsItsBox()
{
    QAppWatcherWidget editor;
    editor.setEmbedded(true);
    editor.fillList(1, { item(1, QStringLiteral("b")), item(1, QStringLiteral("c"), 0), item(1, QStringLiteral("a")) });
    auto* table = editor.tableOfType(1);
    QComboBox* boxOfB = boxAt(table, 0);
    QCOMPARE(boxOfB->itemText(0), active);
    QCOMPARE(boxOfB->itemText(1), inactive);
    QCOMPARE(boxOfB->itemData(0, Qt::ForegroundRole).value<QBrush>().color(), QColor(QStringLiteral("#055d13")));
    QCOMPARE(boxOfB->itemData(1, Qt::ForegroundRole).value<QBrush>().color(), QColor(QStringLiteral("#b11905")));
    table->sortByColumn(0, Qt::AscendingOrder);
    QCOMPARE(rows(table), (QStringList { "a=" + active, "b=" + active, "c=" + inactive }));
    // The box travelled with its row, and changes that row whichever is current.
    QCOMPARE(boxAt(table, 1), boxOfB);
    table->setCurrentIndex(table->model()->index(0, 0));
    QSignalSpy spy(&editor, &QAppWatcherWidget::sg_item_state_changed);
    boxOfB->setCurrentIndex(1);
    boxAt(table, 2)->setCurrentIndex(0);
    QCOMPARE(columnTexts(table, 1), (QStringList { "1", "0", "1" }));
    QCOMPARE(boxAt(table, 0)->styleSheet(), QStringLiteral("color:#055d13"));
    QCOMPARE(boxOfB->styleSheet(), QStringLiteral("color:#b11905"));
    QCOMPARE(editor.disabledSet(1), QSet<QString> { QStringLiteral("b") });
    QCOMPARE(spy.count(), 2);
    QCOMPARE(spy.at(0), (QList<QVariant> { 1, QStringLiteral("b"), 0 }));
    QCOMPARE(spy.at(1).at(1).toString(), QStringLiteral("c"));

    table->sortByColumn(1, Qt::AscendingOrder);
    QCOMPARE(boxAt(table, 0), boxOfB);
    QCOMPARE(editor.itemsOfType(1).at(0)->item_state, 0);
}

void TestPages::setItemsRefillsOnlyGivenTypes()
{
    QAppWatcherWidget editor;
    editor.fillList(1, { item(1, QStringLiteral("title")) });
    editor.fillList(2, { item(2, QStringLiteral("old service")) });
    editor.fillList(3, { item(3, QStringLiteral("prog.exe"), 0) });
    // Unknown types are nobody's list.
    editor.fillList(4, { item(4, QStringLiteral("x")) });
    editor.fillList(0, { item(1, QStringLiteral("x")) });
    QVERIFY(!editor.tableOfType(4));
    QVERIFY(editor.itemsOfType(4).isEmpty());

    editor.setItems({ item(2, QStringLiteral("svc1")), item(4, QStringLiteral("reserved")),
        item(2, QStringLiteral("svc2"), 0), nullptr });

    QCOMPARE(rows(editor.tableOfType(1)), QStringList { QStringLiteral("title=") + active });
    QCOMPARE(rows(editor.tableOfType(2)),
        (QStringList { QStringLiteral("svc1=") + active, QStringLiteral("svc2=") + inactive }));
    QCOMPARE(rows(editor.tableOfType(3)), QStringList { QStringLiteral("prog.exe=") + inactive });
    QStringList all;
    for (const auto& entry : editor.allItems())
        all << QStringLiteral("%1:%2:%3").arg(entry->item_type).arg(entry->str_val).arg(entry->item_state);
    QCOMPARE(all, (QStringList { "1:title:1", "2:svc1:1", "2:svc2:0", "3:prog.exe:0" }));
}

void TestPages::disabledSetRoundTrip()
{
    QAppWatcherWidget editor;
    editor.setEmbedded(true);
    editor.setItems({ item(3, QStringLiteral("notepad.exe")), item(3, QStringLiteral("calc.exe")) });
    auto* table = editor.tableOfType(3);

    // As a group page does when it reads its settings.
    editor.disabledSet(3).insert(QStringLiteral("notepad.exe"));
    editor.applyDisabledSets();
    QCOMPARE(rows(table),
        (QStringList { QStringLiteral("notepad.exe=") + inactive, QStringLiteral("calc.exe=") + active }));
    QCOMPARE(table->getCellText(0, 1), QStringLiteral("0"));

    QSignalSpy spy(&editor, &QAppWatcherWidget::sg_item_state_changed);
    bool setUpdatedFirst = false;
    connect(&editor, &QAppWatcherWidget::sg_item_state_changed, this,
        [&] { setUpdatedFirst = !editor.disabledSet(3).contains(QStringLiteral("notepad.exe")); });
    boxAt(table, 0)->setCurrentText(active);
    QVERIFY(!editor.disabledSet(3).contains(QStringLiteral("notepad.exe")));
    QVERIFY(setUpdatedFirst);
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.at(0), (QList<QVariant> { 3, QStringLiteral("notepad.exe"), 1 }));

    QCOMPARE(editor.mergeItems({ item(3, QStringLiteral("notepad.exe"), 1), item(3, QStringLiteral("calc.exe")) }), 0);
    QCOMPARE(rows(table).at(0), QStringLiteral("notepad.exe=") + active);

    boxAt(table, 0)->setCurrentText(inactive);
    QVERIFY(editor.disabledSet(3).contains(QStringLiteral("notepad.exe")));
    QCOMPARE(spy.count(), 2);
    QCOMPARE(spy.at(1), (QList<QVariant> { 3, QStringLiteral("notepad.exe"), 0 }));

    // Other types have only a scratch set.
    editor.disabledSet(7).insert(QStringLiteral("x"));
    QVERIFY(editor.disabledSet(7).isEmpty());
}

void TestPages::disabledSetSurvivesRefillAndMerge()
{
    QAppWatcherWidget editor;
    editor.setEmbedded(true);
    editor.disabledSet(1).insert(QStringLiteral("game.*"));
    editor.disabledSet(2).insert(QStringLiteral("spooler"));

    editor.fillList(1, { item(1, QStringLiteral("game.*")), item(1, QStringLiteral("chat")) });
    QCOMPARE(rows(editor.tableOfType(1)),
        (QStringList { QStringLiteral("game.*=") + inactive, QStringLiteral("chat=") + active }));

    editor.setItems({ item(2, QStringLiteral("spooler")), item(1, QStringLiteral("game.*")) });
    QCOMPARE(rows(editor.tableOfType(1)), QStringList { QStringLiteral("game.*=") + inactive });
    QCOMPARE(rows(editor.tableOfType(2)), QStringList { QStringLiteral("spooler=") + inactive });

    // A merge that brings the text back as a new row switches it off again.
    editor.mergeItems({ item(1, QStringLiteral("other")) });
    QCOMPARE(editor.mergeItems({ item(1, QStringLiteral("game.*")), item(2, QStringLiteral("spooler")) }), 3);
    QCOMPARE(rows(editor.tableOfType(1)), QStringList { QStringLiteral("game.*=") + inactive });
    QCOMPARE(rows(editor.tableOfType(2)), QStringList { QStringLiteral("spooler=") + inactive });
    QCOMPARE(editor.disabledSet(1), QSet<QString> { QStringLiteral("game.*") });
}

void TestPages::mergeCountsRemovedAndAdded()
{
    QAppWatcherWidget editor;
    editor.setEmbedded(true);
    editor.setItems({ item(1, QStringLiteral("a")), item(1, QStringLiteral("b")), item(1, QStringLiteral("c")),
        item(2, QStringLiteral("s")) });
    auto* table = editor.tableOfType(1);
    boxAt(table, 0)->setCurrentIndex(1); // the group switched "a" off
    editor.disabledSet(1).remove(QStringLiteral("a"));

    const StringItemList console { item(1, QStringLiteral("a")), item(1, QStringLiteral("c")),
        item(1, QStringLiteral("d"), 0), item(1, QStringLiteral("e")), item(2, QStringLiteral("s")) };
    QCOMPARE(editor.mergeItems(console), 3); // "b" removed, "d" and "e" added
    QCOMPARE(rows(table),
        (QStringList { QStringLiteral("a=") + inactive, QStringLiteral("c=") + active,
            QStringLiteral("d=") + inactive, QStringLiteral("e=") + active }));
    QCOMPARE(rows(editor.tableOfType(2)), QStringList { QStringLiteral("s=") + active });

    QCOMPARE(editor.mergeItems(console), 0);
    QCOMPARE(table->getRowCount(), 4);

    // The console's service list was emptied and saved.
    QCOMPARE(editor.mergeItems(console.mid(0, 4)), 1);
    QCOMPARE(editor.tableOfType(2)->getRowCount(), 0);
    QCOMPARE(table->getRowCount(), 4);
}

void TestPages::mergeSkipsEmptyTextsAndKeepsDuplicates()
{
    QAppWatcherWidget editor;
    editor.setEmbedded(true);
    const StringItemList console { item(3, QString()), item(3, QStringLiteral("x")), item(3, QStringLiteral("x")),
        item(4, QStringLiteral("y")), nullptr };
    QCOMPARE(editor.mergeItems(console), 2);
    QCOMPARE(columnTexts(editor.tableOfType(3)), (QStringList { QStringLiteral("x"), QStringLiteral("x") }));
    QCOMPARE(editor.mergeItems(console), 0);

    // The console-wide editor itself is never merged into.
    QAppWatcherWidget standalone;
    standalone.setItems({ item(1, QStringLiteral("a")) });
    QCOMPARE(standalone.mergeItems({ item(1, QStringLiteral("b")), item(2, QStringLiteral("c")) }), 0);
    QCOMPARE(columnTexts(standalone.tableOfType(1)), QStringList { QStringLiteral("a") });
    QCOMPARE(standalone.tableOfType(2)->getRowCount(), 0);
}

void TestPages::addedRowIsTypedAtOnce()
{
    QAppWatcherWidget editor;
    editor.fillList(2, { item(2, QStringLiteral("Spooler")) });
    editor.show();
    QVERIFY(QTest::qWaitForWindowActive(&editor));
    editor.findChild<QTabWidget*>()->setCurrentIndex(1);
    button(editor, QStringLiteral("添加"))->click();
    auto* line = qobject_cast<QLineEdit*>(QApplication::focusWidget());
    QVERIFY(line);
    QTest::keyClicks(line, QStringLiteral("WinDefend"));

    // Left while still typing (the menu takes no focus): the text counts.
    MessageBox::setNextAnswer(QMessageBox::Save);
    QSignalSpy saved(&editor, &QAppWatcherWidget::sg_saved);
    QVERIFY(editor.askToLeave());
    QCOMPARE(saved.count(), 1);
    QCOMPARE(columnTexts(editor.tableOfType(2)),
        (QStringList { QStringLiteral("Spooler"), QStringLiteral("WinDefend") }));
    QVERIFY(!editor.isModified());
}

void TestPages::unsavedListsUntilSavedOrDropped()
{
    QAppWatcherWidget editor;
    editor.fillList(1, { item(1, QStringLiteral("a")), item(1, QStringLiteral("b")) });
    auto* table = editor.tableOfType(1);
    const auto type = [table](int row, const QString& text) {
        QLineEdit line(text);
        table->itemDelegateForColumn(0)->setModelData(&line, table->model(), table->model()->index(row, 0));
    };
    QSignalSpy marks(&editor, &QAppWatcherWidget::sg_modified_changed);

    // Its own text again is no change.
    type(0, QStringLiteral("a"));
    QVERIFY(!editor.isModified());
    type(0, QStringLiteral("a2"));
    MessageBox::setNextAnswer(QMessageBox::Discard);
    QVERIFY(editor.askToLeave());
    QCOMPARE(columnTexts(table), (QStringList { QStringLiteral("a"), QStringLiteral("b") }));

    // A state switched and saved is what a later drop goes back to.
    boxAt(table, 1)->setCurrentIndex(1);
    button(editor, QStringLiteral("保存"))->click();
    MessageBox::setNextAnswer(QMessageBox::Yes);
    table->setCurrentIndex(table->model()->index(0, 0));
    button(editor, QStringLiteral("删除"))->click();
    QVERIFY(editor.isModified());
    editor.revert();
    QCOMPARE(rows(table), (QStringList { QStringLiteral("a=") + active, QStringLiteral("b=") + inactive }));
    QCOMPARE(marks.count(), 6);
}

QTEST_MAIN(TestPages)
#include "tst_pages.moc"
