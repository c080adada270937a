#include "MessageBox.h"
#include "QAppWatcherWidget.h"
#include "QtRokTableView.h"

#include <QBrush>
#include <QColor>
#include <QComboBox>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QTabWidget>
#include <QtTest>

namespace {

QtDoubleIntStringItem_PTR item(int type, const QString& text, int state = 1)
{
    auto entry = std::make_shared<QtDoubleIntStringItem>();
    entry->item_type = type;
    entry->item_state = state;
    entry->str_val = text;
    return entry;
}

// The state box of a row as the teacher would see it: the editor builds a
// table's boxes when the table is first shown or a box is asked for.
QComboBox* boxAt(QtRokTableView* table, int row)
{
    QWidget* widget = table;
    while (widget && !qobject_cast<QAppWatcherWidget*>(widget))
        widget = widget->parentWidget();
    auto* editor = qobject_cast<QAppWatcherWidget*>(widget);
    for (int type = 1; editor && type <= 3; ++type) {
        if (editor->tableOfType(type) == table)
            return editor->stateBox(type, row);
    }
    return nullptr;
}

QStringList texts(QtRokTableView* table, int column = 0)
{
    QStringList list;
    for (int row = 0; row < table->getRowCount(); ++row)
        list << table->getCellText(row, column);
    return list;
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

int rowOf(QtRokTableView* table, const QString& text)
{
    for (int row = 0; row < table->getRowCount(); ++row) {
        if (table->getCellText(row, 0) == text)
            return row;
    }
    return -1;
}

QPushButton* button(QAppWatcherWidget& editor, const QString& text)
{
    for (auto* candidate : editor.findChildren<QPushButton*>()) {
        if (candidate->text() == text)
            return candidate;
    }
    return nullptr;
}

const QString active = QStringLiteral("激活");
const QString inactive = QStringLiteral("停用");

} // namespace

class TestAppWatcher : public QObject
{
    Q_OBJECT

private slots:
    void init();

    void embeddedModeHidesButtonsAndLocksTexts();
    void addAndSaveButtons();
    void deleteAsksForTheSelectedRow_data();
    void deleteAsksForTheSelectedRow();

    void stateChangeOfNonCurrentRow();
    void stateChangeAfterSorting();
    void standaloneStateChangeEmitsNothing();
    void rewrittenRowDropsItsOldBox();
    void boxesAreBuiltWhenTheTableIsShown();

    void setItemsRefillsOnlyGivenTypes();

    void disabledSetRoundTrip();
    void disabledSetSurvivesRefillAndMerge();

    void mergeCountsRemovedAndAdded();
    void mergeSkipsEmptyTextsAndKeepsDuplicates();
};

void TestAppWatcher::init()
{
    MessageBox::setNextAnswer(QMessageBox::NoButton);
    MessageBox::clearLast();
}

void TestAppWatcher::embeddedModeHidesButtonsAndLocksTexts()
{
    QAppWatcherWidget editor;
    editor.show();
    QVERIFY(!editor.tableOfType(1)->itemDelegateForColumn(0));
    editor.setEmbedded(true);
    QVERIFY(!button(editor, QStringLiteral("添加"))->isVisible());
    for (int type = 1; type <= 3; ++type)
        QVERIFY(editor.tableOfType(type)->itemDelegateForColumn(0));
}

void TestAppWatcher::addAndSaveButtons()
{
    QAppWatcherWidget editor;
    QSignalSpy saved(&editor, &QAppWatcherWidget::sg_btn_save_clicked);
    editor.findChild<QTabWidget*>()->setCurrentIndex(1);
    button(editor, QStringLiteral("添加"))->click();

    // An empty, active row in the list in front.
    auto* table = editor.tableOfType(2);
    QCOMPARE(editor.tableOfType(1)->getRowCount(), 0);
    QCOMPARE(rows(table), QStringList { QStringLiteral("=") + active });
    const StringItemList items = editor.itemsOfType(2);
    QCOMPARE(items.size(), 1);
    QCOMPARE(items.at(0)->item_type, 2);
    QCOMPARE(items.at(0)->item_state, 1);

    button(editor, QStringLiteral("保存"))->click();
    QCOMPARE(saved.count(), 1);
}

void TestAppWatcher::deleteAsksForTheSelectedRow_data()
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

void TestAppWatcher::deleteAsksForTheSelectedRow()
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
    QCOMPARE(texts(table), left);
}

void TestAppWatcher::stateChangeOfNonCurrentRow()
{
    QAppWatcherWidget editor;
    editor.setEmbedded(true);
    editor.fillList(1, { item(1, QStringLiteral("a")), item(1, QStringLiteral("b"), 0), item(1, QStringLiteral("c")) });
    auto* table = editor.tableOfType(1);
    table->setCurrentIndex(table->model()->index(0, 0));
    QComboBox* on = boxAt(table, 0);
    QCOMPARE(on->itemText(0), active);
    QCOMPARE(on->itemText(1), inactive);
    QCOMPARE(on->itemData(0, Qt::ForegroundRole).value<QBrush>().color(), QColor(QStringLiteral("#055d13")));
    QCOMPARE(on->itemData(1, Qt::ForegroundRole).value<QBrush>().color(), QColor(QStringLiteral("#b11905")));
    QCOMPARE(rows(table), (QStringList { "a=" + active, "b=" + inactive, "c=" + active }));
    QSignalSpy spy(&editor, &QAppWatcherWidget::sg_item_state_changed);

    // The box's own row changes, in its cell and its colour, whichever row is current.
    boxAt(table, 2)->setCurrentIndex(1);
    boxAt(table, 1)->setCurrentIndex(0);
    QCOMPARE(texts(table, 1), (QStringList { "1", "1", "0" }));
    QCOMPARE(boxAt(table, 0)->styleSheet(), QStringLiteral("color:#055d13"));
    QCOMPARE(boxAt(table, 1)->styleSheet(), QStringLiteral("color:#055d13"));
    QCOMPARE(boxAt(table, 2)->styleSheet(), QStringLiteral("color:#b11905"));
    QCOMPARE(editor.disabledSet(1), QSet<QString> { QStringLiteral("c") });
    QCOMPARE(spy.count(), 2);
    QCOMPARE(spy.at(0).at(1).toString(), QStringLiteral("c"));
    QCOMPARE(spy.at(1).at(1).toString(), QStringLiteral("b"));
}

void TestAppWatcher::stateChangeAfterSorting()
{
    QAppWatcherWidget editor;
    editor.setEmbedded(true);
    editor.fillList(2, { item(2, QStringLiteral("b")), item(2, QStringLiteral("c")), item(2, QStringLiteral("a")) });
    auto* table = editor.tableOfType(2);
    QComboBox* boxOfC = boxAt(table, 1);
    table->sortByColumn(0, Qt::AscendingOrder);
    QCOMPARE(texts(table), (QStringList { QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c") }));
    // The box travelled with its row.
    QCOMPARE(boxAt(table, 2), boxOfC);

    table->setCurrentIndex(table->model()->index(0, 0));
    QSignalSpy spy(&editor, &QAppWatcherWidget::sg_item_state_changed);
    boxOfC->setCurrentIndex(1);
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.at(0).at(0).toInt(), 2);
    QCOMPARE(spy.at(0).at(1).toString(), QStringLiteral("c"));
    QCOMPARE(spy.at(0).at(2).toInt(), 0);
    QCOMPARE(table->getCellText(rowOf(table, QStringLiteral("c")), 1), QStringLiteral("0"));
    QCOMPARE(table->getCellText(rowOf(table, QStringLiteral("a")), 1), QStringLiteral("1"));

    table->sortByColumn(1, Qt::AscendingOrder);
    QCOMPARE(rowOf(table, QStringLiteral("c")), 0);
    QCOMPARE(boxAt(table, 0), boxOfC);
    QCOMPARE(editor.itemsOfType(2).at(0)->item_state, 0);
}

void TestAppWatcher::standaloneStateChangeEmitsNothing()
{
    QAppWatcherWidget editor;
    editor.fillList(3, { item(3, QStringLiteral("notepad.exe")) });
    auto* table = editor.tableOfType(3);
    QSignalSpy spy(&editor, &QAppWatcherWidget::sg_item_state_changed);
    boxAt(table, 0)->setCurrentIndex(1);
    QCOMPARE(spy.count(), 0);
    QCOMPARE(table->getCellText(0, 1), QStringLiteral("0"));
    QVERIFY(editor.disabledSet(3).isEmpty());
    QCOMPARE(editor.itemsOfType(3).at(0)->item_state, 0);
}

void TestAppWatcher::rewrittenRowDropsItsOldBox()
{
    QAppWatcherWidget editor;
    editor.setEmbedded(true);
    editor.fillList(3, { item(3, QStringLiteral("x")) });
    auto* table = editor.tableOfType(3);
    QPointer<QComboBox> oldBox = boxAt(table, 0);
    editor.disabledSet(3).insert(QStringLiteral("x"));
    editor.applyDisabledSets();
    QVERIFY(boxAt(table, 0) != oldBox);
    QTRY_VERIFY(oldBox.isNull());

    // Nor do removed rows leave their boxes behind.
    QPointer<QComboBox> removedBox = boxAt(table, 0);
    editor.fillList(3, {});
    QCOMPARE(table->getRowCount(), 0);
    QTRY_VERIFY(removedBox.isNull());
}

void TestAppWatcher::boxesAreBuiltWhenTheTableIsShown()
{
    QAppWatcherWidget editor;
    editor.setEmbedded(true);
    editor.disabledSet(1).insert(QStringLiteral("off"));
    editor.fillList(1, { item(1, QStringLiteral("on")), item(1, QStringLiteral("off")) });
    editor.fillList(2, { item(2, QStringLiteral("svc")) });
    auto* titles = editor.tableOfType(1);
    auto* services = editor.tableOfType(2);
    // Nothing on screen yet: the states are known without any box.
    QCOMPARE(titles->getCellWidget(0, 1), nullptr);
    QCOMPARE(editor.itemsOfType(1).at(1)->item_state, 0);

    editor.show();
    QVERIFY(QTest::qWaitForWindowExposed(&editor));
    auto* on = qobject_cast<QComboBox*>(titles->getCellWidget(0, 1));
    auto* off = qobject_cast<QComboBox*>(titles->getCellWidget(1, 1));
    QVERIFY(on && off);
    QCOMPARE(on->currentText(), active);
    QCOMPARE(off->currentText(), inactive);
    QCOMPARE(services->getCellWidget(0, 1), nullptr); // its tab is not open

    // A row added to a shown table gets its box at once, and its change counts.
    editor.fillList(1, { item(1, QStringLiteral("new")) });
    auto* box = qobject_cast<QComboBox*>(titles->getCellWidget(0, 1));
    QVERIFY(box);
    QSignalSpy changes(&editor, &QAppWatcherWidget::sg_item_state_changed);
    box->setCurrentIndex(1);
    QCOMPARE(changes.count(), 1);
    QCOMPARE(editor.itemsOfType(1).at(0)->item_state, 0);
}

void TestAppWatcher::setItemsRefillsOnlyGivenTypes()
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

void TestAppWatcher::disabledSetRoundTrip()
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

void TestAppWatcher::disabledSetSurvivesRefillAndMerge()
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

void TestAppWatcher::mergeCountsRemovedAndAdded()
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

void TestAppWatcher::mergeSkipsEmptyTextsAndKeepsDuplicates()
{
    QAppWatcherWidget editor;
    editor.setEmbedded(true);
    const StringItemList console { item(3, QString()), item(3, QStringLiteral("x")), item(3, QStringLiteral("x")),
        item(4, QStringLiteral("y")), nullptr };
    QCOMPARE(editor.mergeItems(console), 2);
    QCOMPARE(texts(editor.tableOfType(3)), (QStringList { QStringLiteral("x"), QStringLiteral("x") }));
    QCOMPARE(editor.mergeItems(console), 0);

    // The console-wide editor itself is never merged into.
    QAppWatcherWidget standalone;
    standalone.setItems({ item(1, QStringLiteral("a")) });
    QCOMPARE(standalone.mergeItems({ item(1, QStringLiteral("b")), item(2, QStringLiteral("c")) }), 0);
    QCOMPARE(texts(standalone.tableOfType(1)), QStringList { QStringLiteral("a") });
    QCOMPARE(standalone.tableOfType(2)->getRowCount(), 0);
}

QTEST_MAIN(TestAppWatcher)
#include "tst_appwatcher.moc"
