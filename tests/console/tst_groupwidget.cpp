#include "MetaTypes.h"
#include "Protocol.h"
#include "QAppWatcherWidget.h"
#include "QStudentGroupWidget.h"
#include "QtRokTableView.h"

#include <QBrush>
#include <QDir>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QMetaMethod>
#include <QPointer>
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

QStringList columnTexts(const QStudentGroupWidget& page, int column)
{
    QStringList texts;
    for (int row = 0; row < page.machine_table->getRowCount(); ++row)
        texts << page.machine_table->getCellText(row, column);
    return texts;
}

int rowWithText(const QStudentGroupWidget& page, int column, const QString& text)
{
    for (int row = 0; row < page.machine_table->getRowCount(); ++row) {
        if (page.machine_table->getCellText(row, column) == text)
            return row;
    }
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

// Records every datagram on the test's thread: emissions from the UI thread
// arrive directly, those of the page's resend thread arrive queued.
class Recorder : public QObject
{
    Q_OBJECT

public:
    struct Sent
    {
        uint32_t address = 0;
        QByteArray datagram;
        qint64 atMs = 0;
    };

    explicit Recorder(QStudentGroupWidget& page)
    {
        clock.start();
        connect(&page, &QStudentGroupWidget::sg_need_send_msg, this, &Recorder::record);
    }

    QList<Sent> ofId(uint32_t id) const
    {
        QList<Sent> matching;
        for (const Sent& one : sent) {
            if (Protocol::consoleMessageId(one.datagram) == id)
                matching << one;
        }
        return matching;
    }

    QList<Sent> sent;
    QElapsedTimer clock;

public slots:
    void record(uint32_t address, const QByteArray& datagram) { sent << Sent { address, datagram, clock.elapsed() }; }
};

} // namespace

class TestGroupWidget : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void groupAndAllPages();
    void signalsKeepTheirIndices();

    void settersSendLockAtOnce();
    void policyDatagramHoldsActiveEntriesInRowOrder();
    void allPageSendsAndLoadsNothing();
    void resendAlternatesLockFirst();
    void pageWithoutAddressNeverSends();

    void mergeRebuildsPolicyOnlyOnChange();
    void loadAndExportGroupConfig();

    void newRowsFollowSortIndicator_data();
    void newRowsFollowSortIndicator();
    void setMachinesReconcilesRows();
    void updateMachineRowWritesOnlyMaskedColumns();
    void updateOfUnknownMachineAppendsOnce();
    void addMachineSendsJoinWhenOnline_data();
    void addMachineSendsJoinWhenOnline();
    void addMachineFromWorkerThread();
    void lookupFollowsHeaderSort();
    void refreshFollowsRecords();
    void contextMenuForwardedOnlyOverRows();
    void manyMachines();

    void destructionIsQuick();
    void screenshot();
};

void TestGroupWidget::initTestCase()
{
    registerRokMetaTypes();
}

void TestGroupWidget::groupAndAllPages()
{
    QCOMPARE(QStudentGroupWidget(nullptr, QString()).page_name, QStringLiteral("未命名"));

    // New rows are ordered by address until the teacher sorts otherwise.
    QStudentGroupWidget group(nullptr, QStringLiteral("A"));
    group.setShowAll(false);
    QtRokTableView* table = group.machine_table;
    QCOMPARE(table->getColumnCount(), 5);
    QVERIFY(!table->getColumnSortable(4));
    QCOMPARE(table->horizontalHeader()->sortIndicatorSection(), 1);
    QCOMPARE(table->horizontalHeader()->sortIndicatorOrder(), Qt::AscendingOrder);
    QVERIFY(group.policy_editor && group.policy_editor->isEmbedded());

    // "全部" shows each machine's group and has no policy of its own.
    QStudentGroupWidget all(nullptr, QStringLiteral("全部"));
    QPointer<QAppWatcherWidget> editor = all.policy_editor;
    all.setShowAll(true);
    QVERIFY(!all.policy_editor);
    QTRY_VERIFY(editor.isNull());
    QCOMPARE(all.machine_table->getColumnCount(), 6);
    QVERIFY(all.machine_table->getColumnSortable(4));
    QVERIFY(!all.machine_table->getColumnSortable(5));
}

void TestGroupWidget::signalsKeepTheirIndices()
{
    // Signals 0 to 4 are part of the page's contract; new ones go after them.
    const QMetaObject& meta = QStudentGroupWidget::staticMetaObject;
    const QList<QByteArray> expected { "sg_customContextMenuRequested(QPoint)", "sg_group_item_changed()",
        "sg_group_lockstate_changed()", "sg_update_machines()", "sg_need_send_msg(uint32_t,QByteArray)" };
    for (int i = 0; i < expected.size(); ++i) {
        const QMetaMethod method = meta.method(meta.methodOffset() + i);
        QCOMPARE(method.methodType(), QMetaMethod::Signal);
        QCOMPARE(method.methodSignature(), expected.at(i));
    }
}

void TestGroupWidget::settersSendLockAtOnce()
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

void TestGroupWidget::policyDatagramHoldsActiveEntriesInRowOrder()
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

void TestGroupWidget::allPageSendsAndLoadsNothing()
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

void TestGroupWidget::resendAlternatesLockFirst()
{
    QStudentGroupWidget page(nullptr, QStringLiteral("A"));
    page.setPolicyItems({ item(1, "ab") });
    Recorder recorder(page);
    page.setGroupAddress(GroupAddress);

    // Five sends take about 1.5 s.
    QTRY_VERIFY_WITH_TIMEOUT(recorder.sent.size() >= 5, 4000);
    QVERIFY2(recorder.sent.first().atMs < 1000, "the first repetition comes within one period");
    const QByteArray lock = page.lockDatagramCopy();
    const QByteArray policy = page.policyDatagramCopy();
    for (int i = 0; i < recorder.sent.size(); ++i) {
        const Recorder::Sent& one = recorder.sent.at(i);
        QCOMPARE(one.address, GroupAddress);
        QCOMPARE(one.datagram, i % 2 == 0 ? lock : policy);
        if (i > 0) {
            const qint64 gap = one.atMs - recorder.sent.at(i - 1).atMs;
            QVERIFY2(gap > 100 && gap < 1000, qPrintable(QStringLiteral("gap %1 ms").arg(gap)));
        }
    }
}

void TestGroupWidget::pageWithoutAddressNeverSends()
{
    QStudentGroupWidget page(nullptr, QStringLiteral("A"));
    QSignalSpy spy(&page, &QStudentGroupWidget::sg_need_send_msg);

    page.setLockType(2);
    page.setAllowUsbDrv(true);
    page.setPolicyItems({ item(1, "ab") });
    page.mergePolicyItems({ item(1, "cd") });
    auto lock = std::make_shared<Rok_Lock_State>();
    lock->lock_type = 3;
    page.loadGroupConfig(lock, { "cd" }, {}, {});
    page.buildLockDatagram();
    page.buildPolicyDatagram();
    QVERIFY(!page.resendPolicyIfNewer(0));
    QCOMPARE(spy.count(), 0);
    // Longer than two resend periods.
    QVERIFY(!spy.wait(800));
    // The datagrams are built all the same.
    QCOMPARE(page.lockDatagramCopy(),
        hex("03000030"
            "030100f0"));
}

void TestGroupWidget::mergeRebuildsPolicyOnlyOnChange()
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

void TestGroupWidget::loadAndExportGroupConfig()
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

void TestGroupWidget::newRowsFollowSortIndicator_data()
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

void TestGroupWidget::newRowsFollowSortIndicator()
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

void TestGroupWidget::setMachinesReconcilesRows()
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

void TestGroupWidget::updateMachineRowWritesOnlyMaskedColumns()
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

void TestGroupWidget::updateOfUnknownMachineAppendsOnce()
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

void TestGroupWidget::addMachineSendsJoinWhenOnline_data()
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

void TestGroupWidget::addMachineSendsJoinWhenOnline()
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

void TestGroupWidget::addMachineFromWorkerThread()
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

void TestGroupWidget::lookupFollowsHeaderSort()
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

    // "echo" is machine 3.
    machines.at(2)->online = false;
    page.updateMachineRow(machines.at(2), 0x04);
    for (int row = 0; row < page.machine_table->getRowCount(); ++row) {
        const bool isEcho = page.machine_table->getCellText(row, 0) == QLatin1String("echo");
        QCOMPARE(page.machine_table->getCellText(row, 2), isEcho ? Offline : Online);
    }

    page.removeMachine(4); // "charlie"
    QCOMPARE(page.machine_table->getRowCount(), 4);
    QCOMPARE(rowWithText(page, 0, "charlie"), -1);
    QVERIFY(rowWithText(page, 0, "echo") >= 0);

    // A second click reverses; lookups still land on the right rows.
    QTest::mouseClick(header->viewport(), Qt::LeftButton, Qt::NoModifier, nameSection);
    for (const CStuInfo_PTR& record : machines) {
        if (record->ullmac != 4)
            QCOMPARE(page.machine_table->getCellText(page.rowOfMachine(record->ullmac), 0), record->hostname);
    }
    // Appended rows go to the end, whatever the shown order.
    page.addMachine(machine(9, "aaa", "10.0.0.9", false));
    QCOMPARE(page.machine_table->getCellText(page.machine_table->getRowCount() - 1, 0), QStringLiteral("aaa"));
}

void TestGroupWidget::refreshFollowsRecords()
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

void TestGroupWidget::contextMenuForwardedOnlyOverRows()
{
    QStudentGroupWidget page(nullptr, QStringLiteral("P"));
    page.resize(900, 600);
    page.show();
    QVERIFY(QTest::qWaitForWindowExposed(&page));
    page.setMachines({ machine(1, "pc-a", "10.0.0.1", true) });
    QSignalSpy spy(&page, &QStudentGroupWidget::sg_customContextMenuRequested);

    const QPoint onRow = page.machine_table->visualRect(page.machine_table->model()->index(0, 1)).center();
    emit page.machine_table->customContextMenuRequested(onRow);
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.first().at(0).toPoint(), onRow);

    const QPoint belowRows(onRow.x(), page.machine_table->viewport()->height() - 2);
    emit page.machine_table->customContextMenuRequested(belowRows);
    QCOMPARE(spy.count(), 1);
}

void TestGroupWidget::manyMachines()
{
    // A lab far larger than usual: every operation stays correct, and the
    // whole test stays quick because no row look-up scans the table.
    QStudentGroupWidget page(nullptr, QStringLiteral("P"));
    QList<CStuInfo_PTR> machines;
    for (int i = 0; i < 5000; ++i)
        machines << machine(quint64(i + 1), QStringLiteral("pc-%1").arg(i, 4, 10, QLatin1Char('0')),
            QStringLiteral("10.%1.%2.%3").arg(i / 65536).arg((i / 256) % 256).arg(i % 256), i % 3 != 0);
    page.machine_table->sortByColumn(0, Qt::AscendingOrder);
    page.setMachines(machines);
    QCOMPARE(page.machine_table->getRowCount(), 5000);

    QList<CStuInfo_PTR> half;
    for (int i = 4999; i >= 0; i -= 2)
        half << machines.at(i);
    page.setMachines(half);
    QCOMPARE(page.machine_table->getRowCount(), 2500);
    // Rows that stay keep their order; only the gaps close.
    const QStringList names = columnTexts(page, 0);
    QVERIFY(std::is_sorted(names.begin(), names.end()));
    for (int i = 1; i < 5000; i += 2)
        QCOMPARE(page.machine_table->getCellText(page.rowOfMachine(quint64(i + 1)), 0), machines.at(i)->hostname);
    QCOMPARE(page.rowOfMachine(1), -1);

    for (const CStuInfo_PTR& record : half)
        record->online = !record->online;
    page.refreshAllRows();
    for (const CStuInfo_PTR& record : half)
        page.updateMachineRow(record, 0x04);
    const int row = page.rowOfMachine(5000);
    QCOMPARE(page.machine_table->getCellText(row, 2), machines.at(4999)->online ? Online : Offline);
}

void TestGroupWidget::destructionIsQuick()
{
    auto* page = new QStudentGroupWidget(nullptr, QStringLiteral("P"));
    page->group_addr = GroupAddress;
    page->refresh_enabled = true;
    page->setMachines({ machine(1, "pc-a", "10.0.0.1", true) });
    QTest::qWait(50); // let both threads get into their loops

    QElapsedTimer clock;
    clock.start();
    delete page;
    QVERIFY2(clock.elapsed() < 200, qPrintable(QStringLiteral("%1 ms").arg(clock.elapsed())));
}

void TestGroupWidget::screenshot()
{
    const QString dir = qEnvironmentVariable("ROK_SCREENSHOT_DIR");
    if (dir.isEmpty())
        QSKIP("set ROK_SCREENSHOT_DIR to save a screenshot of a filled page");

    QTabWidget tabs;
    auto* all = new QStudentGroupWidget(&tabs, QStringLiteral("全部"));
    all->setShowAll(true);
    auto* page = new QStudentGroupWidget(&tabs, QStringLiteral("一号机房"));
    tabs.addTab(all, all->page_name);
    tabs.addTab(page, page->page_name);
    tabs.addTab(new QWidget(&tabs), QStringLiteral("未分组"));
    tabs.setCurrentWidget(page);

    QList<CStuInfo_PTR> machines;
    const QList<bool> online { true, true, false, true, true, false, true, true };
    for (int i = 0; i < online.size(); ++i) {
        // Shown as 00:0C:29:A1:B2:0n.
        machines << machine((quint64(i + 1) << 40) | Q_UINT64_C(0xB2A1290C00),
            QStringLiteral("STU-PC%1").arg(i + 1, 2, 10, QLatin1Char('0')),
            QStringLiteral("192.168.10.%1").arg(101 + i), online.at(i), QStringLiteral("一号机房"));
    }
    page->setMachines(machines);
    page->setPolicyItems(
        { item(1, QStringLiteral(".*游戏.*")), item(1, QStringLiteral("^QQ$")), item(1, QStringLiteral("迅雷.*")),
            item(2, QStringLiteral("RokVtxAgent")), item(3, QStringLiteral("C:\\Program Files\\RokVtx\\agent.exe")),
            item(3, QStringLiteral("C:\\Windows\\System32\\notepad.exe")) });
    page->loadGroupConfig(nullptr, { QStringLiteral("^QQ$") }, {}, {});

    tabs.resize(900, 600);
    tabs.show();
    QVERIFY(QTest::qWaitForWindowExposed(&tabs));
    QTest::qWait(100);
    QVERIFY(QDir().mkpath(dir));
    const QString path = QDir(dir).filePath(QStringLiteral("page.png"));
    QVERIFY(tabs.grab().save(path));
    qInfo("saved %s", qPrintable(path));
}

QTEST_MAIN(TestGroupWidget)
#include "tst_groupwidget.moc"
