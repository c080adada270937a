#include "CStudentGroup.h"
#include "MacAddress.h"
#include "Machine.h"
#include "MetaTypes.h"
#include "Rok_Lock_State.h"

#include <QtTest>

class TestModel : public QObject
{
    Q_OBJECT

private slots:
    void macForms_data();
    void macForms();
    void macListParsing_data();
    void macListParsing();
    void macListTextRoundTrip();
    void loadedMachineStartsOfflineUngrouped();
    void lockStateCopiesAllThreeFields();
    void metaTypesCarryRecordsThroughVariants();
};

void TestModel::macForms_data()
{
    QTest::addColumn<quint64>("mac");
    QTest::addColumn<QString>("display");
    QTest::addColumn<QString>("compact");

    QTest::newRow("low byte first") << Q_UINT64_C(0x554433221100) << "00:11:22:33:44:55" << "001122334455";
    QTest::newRow("upper case") << Q_UINT64_C(0xA1B2C3D4E5F6) << "F6:E5:D4:C3:B2:A1" << "F6E5D4C3B2A1";
    QTest::newRow("zero padded") << Q_UINT64_C(1) << "01:00:00:00:00:00" << "010000000000";
    QTest::newRow("upper 16 bits hidden") << Q_UINT64_C(0xFFFF000000000002) << "02:00:00:00:00:00"
                                          << "020000000000";
}

void TestModel::macForms()
{
    QFETCH(quint64, mac);
    QFETCH(QString, display);
    QFETCH(QString, compact);
    QCOMPARE(MacAddress::toDisplay(mac), display);
    QCOMPARE(MacAddress::toCompact(mac), compact);
}

void TestModel::macListParsing_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QList<quint64>>("expected");

    QTest::newRow("empty") << "" << QList<quint64>{};
    QTest::newRow("lone comma") << "," << QList<quint64>{};
    QTest::newRow("empty part dropped") << "12,,34" << QList<quint64>{12, 34};
    QTest::newRow("junk reads as zero") << "12,x" << QList<quint64>{0, 12};
    QTest::newRow("full 64 bits") << "18446744073709551615" << QList<quint64>{Q_UINT64_C(18446744073709551615)};
    QTest::newRow("duplicates collapse") << "5,5,5" << QList<quint64>{5};
}

void TestModel::macListParsing()
{
    QFETCH(QString, text);
    QFETCH(QList<quint64>, expected);

    CStudentGroup group;
    group.ullmac_list = {99}; // parsing starts from a cleared set
    group.setUllmacListText(text);
    QList<quint64> got = group.ullmac_list.values();
    std::sort(got.begin(), got.end());
    QCOMPARE(got, expected);
}

void TestModel::macListTextRoundTrip()
{
    CStudentGroup group;
    QCOMPARE(group.ullmacListText(), QString());

    group.ullmac_list = {1, Q_UINT64_C(0xA1B2C3D4E5F6), 42};
    const QString text = group.ullmacListText();
    QVERIFY(!text.contains(' '));
    QVERIFY(!text.endsWith(','));
    QCOMPARE(text.split(',').size(), 3);

    CStudentGroup back;
    back.setUllmacListText(text);
    QCOMPARE(back.ullmac_list, group.ullmac_list);
}

void TestModel::loadedMachineStartsOfflineUngrouped()
{
    CStuInfo live;
    live.ullmac = 7;
    live.ip = "10.0.0.7";
    live.hostname = "PC-07";
    live.group_name = "A";
    live.markAlive();

    const auto stored = Machine::fromStuInfo(live);
    const CStuInfo_PTR loaded = stored->toStuInfo();
    QCOMPARE(loaded->ullmac, quint64(7));
    QCOMPARE(loaded->ip, QString("10.0.0.7"));
    QCOMPARE(loaded->hostname, QString("PC-07"));
    QVERIFY(loaded->group_name.isEmpty());
    QVERIFY(!loaded->online);
    QCOMPARE(loaded->missed_ticks.load(), 0u);
}

void TestModel::lockStateCopiesAllThreeFields()
{
    Rok_Lock_State a;
    a.lock_type = Rok_Lock_State::BlackLock;
    a.allowmanualip = true;
    a.allowusbdrv = true;

    Rok_Lock_State b(a);
    QCOMPARE(b.lock_type, 2);
    QVERIFY(b.allowmanualip);
    QVERIFY(b.allowusbdrv);

    Rok_Lock_State c;
    c = Rok_Lock_State();
    QCOMPARE(c.lock_type, 0);
    QVERIFY(!c.allowmanualip);
    QVERIFY(!c.allowusbdrv);
}

void TestModel::metaTypesCarryRecordsThroughVariants()
{
    registerRokMetaTypes();
    QVERIFY(QMetaType::type("CStuInfo_PTR") != QMetaType::UnknownType);
    QVERIFY(QMetaType::type("QList<CStuInfo_PTR>") != QMetaType::UnknownType);
    QVERIFY(QMetaType::type("unordered_map<uint64_t, CStuInfo_PTR>") != QMetaType::UnknownType);
    QCOMPARE(QMetaType::type("uint32_t"), int(QMetaType::UInt));

    auto info = std::make_shared<CStuInfo>();
    info->ullmac = 3;
    const QVariant v = QVariant::fromValue(QList<CStuInfo_PTR>{info});
    QCOMPARE(v.value<QList<CStuInfo_PTR>>().first().get(), info.get());
}

QTEST_GUILESS_MAIN(TestModel)
#include "tst_model.moc"
