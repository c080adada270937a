#include "MessageBox.h"
#include "QAppWatcherWidget.h"
#include "QtRokTableView.h"

#include <QBrush>
#include <QColor>
#include <QComboBox>
#include <QFrame>
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

QStringList texts(QtRokTableView* table)
{
    QStringList list;
    for (int row = 0; row < table->getRowCount(); ++row)
        list << table->getCellText(row, 0);
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

    void layoutAndTabs();
    void embeddedModeHidesButtonsAndLocksTexts();
    void saveButtonEmitsSignal();

    void addGivesEmptyActiveRow();
    void deleteAsksForTheSelectedRow_data();
    void deleteAsksForTheSelectedRow();
    void deleteWithoutCurrentCellAsksNothing();

    void stateBoxLooks();
    void stateChangeOfNonCurrentRow();
    void stateChangeAfterSorting();
    void standaloneStateChangeEmitsNothing();
    void rewrittenRowDropsItsOldBox();
    void boxesAreBuiltWhenTheTableIsShown();

    void setItemsRefillsOnlyGivenTypes();
    void fillListIgnoresUnknownTypes();
    void itemsOfTypeAndAllItems();

    void disabledSetRoundTrip();
    void disabledSetSurvivesRefillAndMerge();
    void disabledSetOfUnknownTypeIsScratch();

    void mergeCountsRemovedAndAdded();
    void mergeEmptiesListLeftEmptyByConsole();
    void mergeSkipsEmptyTextsAndKeepsDuplicates();
    void mergeOnStandaloneChangesNothing();
};

void TestAppWatcher::init()
{
    MessageBox::setNextAnswer(QMessageBox::NoButton);
    MessageBox::clearLast();
}

void TestAppWatcher::layoutAndTabs()
{
    QAppWatcherWidget editor;
    auto* tabs = editor.findChild<QTabWidget*>();
    QVERIFY(tabs);
    QCOMPARE(tabs->count(), 3);
    const QStringList titles { QStringLiteral("禁止的窗口标题"), QStringLiteral("守护的服务"),
        QStringLiteral("守护的程序") };
    const QStringList headers { QStringLiteral("禁止的窗口标题(正则表达式)"), QStringLiteral("服务名称（非显示名称）"),
        QStringLiteral("程序全路径") };
    for (int i = 0; i < 3; ++i) {
        QCOMPARE(tabs->tabText(i), titles.at(i));
        auto* table = qobject_cast<QtRokTableView*>(tabs->widget(i));
        QVERIFY(table);
        QCOMPARE(table->property("__TYPE__").toInt(), i + 1);
        QCOMPARE(editor.tableOfType(i + 1), table);
        QCOMPARE(table->getColumnCount(), 2);
        QCOMPARE(table->getColumnHeaderText(0), headers.at(i));
        QCOMPARE(table->getColumnHeaderText(1), QStringLiteral("状态"));
        QCOMPARE(table->columnWidth(1), 60);
        QCOMPARE(table->horizontalHeader()->sectionResizeMode(0), QHeaderView::Stretch);
        QVERIFY(table->getColumnSortable(0));
        QVERIFY(table->getColumnSortable(1));
        QVERIFY(table->isSortingEnabled());
        QVERIFY(table->alternatingRowColors());
        QCOMPARE(table->getRowDefaultHeight(), 20);
        QCOMPARE(table->font().families(),
            (QStringList { QStringLiteral("Monospace"), QStringLiteral("Times New Roman"), QStringLiteral("Arial"),
                QStringLiteral("Calibri"), QStringLiteral("宋体") }));
        QCOMPARE(table->font().pointSize(), 9);
        QVERIFY(!table->itemDelegateForColumn(0));
    }
    QVERIFY(!editor.tableOfType(4));
    QVERIFY(!editor.isEmbedded());
    QVERIFY(button(editor, QStringLiteral("添加")));
    QVERIFY(button(editor, QStringLiteral("删除")));
    QVERIFY(button(editor, QStringLiteral("保存")));
    // The pane's sheet is applied when the editor is first shown.
    editor.show();
    QCOMPARE(editor.styleSheet(),
        QStringLiteral("QTabWidget:pane{ border: 0px solid black;padding:9px;background-color:white; }"));
}

void TestAppWatcher::embeddedModeHidesButtonsAndLocksTexts()
{
    QAppWatcherWidget editor;
    editor.show();
    editor.setEmbedded(true);
    QVERIFY(editor.isEmbedded());
    QVERIFY(!button(editor, QStringLiteral("添加"))->isVisible());
    QCOMPARE(editor.styleSheet(), QStringLiteral("QTabWidget:pane{ border: 0px solid black; }"));
    for (int type = 1; type <= 3; ++type)
        QVERIFY(editor.tableOfType(type)->itemDelegateForColumn(0));
}

void TestAppWatcher::saveButtonEmitsSignal()
{
    QAppWatcherWidget editor;
    QSignalSpy spy(&editor, &QAppWatcherWidget::sg_btn_save_clicked);
    button(editor, QStringLiteral("保存"))->click();
    QCOMPARE(spy.count(), 1);
}

void TestAppWatcher::addGivesEmptyActiveRow()
{
    QAppWatcherWidget editor;
    editor.findChild<QTabWidget*>()->setCurrentIndex(1);
    button(editor, QStringLiteral("添加"))->click();

    auto* table = editor.tableOfType(2);
    QCOMPARE(table->getRowCount(), 1);
    QCOMPARE(editor.tableOfType(1)->getRowCount(), 0);
    QCOMPARE(table->getCellText(0, 0), QString());
    QCOMPARE(table->getCellText(0, 1), QStringLiteral("1"));
    QComboBox* box = boxAt(table, 0);
    QVERIFY(box);
    QCOMPARE(box->currentIndex(), 0);
    QCOMPARE(box->styleSheet(), QStringLiteral("color:#055d13"));

    const StringItemList items = editor.itemsOfType(2);
    QCOMPARE(items.size(), 1);
    QCOMPARE(items.at(0)->item_type, 2);
    QCOMPARE(items.at(0)->item_state, 1);
    QCOMPARE(items.at(0)->str_val, QString());
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
    table->setCurrentIndex(table->model()->index(row, 0));

    MessageBox::setNextAnswer(static_cast<QMessageBox::StandardButton>(answer));
    button(editor, QStringLiteral("删除"))->click();

    QCOMPARE(MessageBox::lastTitle(), QStringLiteral("删除确认"));
    QCOMPARE(MessageBox::lastText(),
        QStringLiteral("删除不可恢复！\n确认需要删除选中行(第【") + number + QStringLiteral("】行)？"));
    QCOMPARE(texts(table), left);
}

void TestAppWatcher::deleteWithoutCurrentCellAsksNothing()
{
    QAppWatcherWidget editor;
    editor.fillList(1, { item(1, QStringLiteral("a")) });
    auto* table = editor.tableOfType(1);
    table->setCurrentIndex(QModelIndex());
    MessageBox::setNextAnswer(QMessageBox::Yes);
    button(editor, QStringLiteral("删除"))->click();
    QCOMPARE(MessageBox::lastText(), QString());
    QCOMPARE(table->getRowCount(), 1);
    MessageBox::setNextAnswer(QMessageBox::NoButton);
}

void TestAppWatcher::stateBoxLooks()
{
    QAppWatcherWidget editor;
    editor.fillList(3, { item(3, QStringLiteral("on"), 1), item(3, QStringLiteral("off"), 0) });
    auto* table = editor.tableOfType(3);
    QComboBox* on = boxAt(table, 0);
    QComboBox* off = boxAt(table, 1);
    QCOMPARE(on->count(), 2);
    QCOMPARE(on->itemText(0), active);
    QCOMPARE(on->itemText(1), inactive);
    QCOMPARE(on->itemData(0, Qt::ForegroundRole).value<QBrush>().color(), QColor(QStringLiteral("#055d13")));
    QCOMPARE(on->itemData(1, Qt::ForegroundRole).value<QBrush>().color(), QColor(QStringLiteral("#b11905")));
    QCOMPARE(on->currentText(), active);
    QCOMPARE(on->styleSheet(), QStringLiteral("color:#055d13"));
    QCOMPARE(table->getCellText(0, 1), QStringLiteral("1"));
    QCOMPARE(off->currentText(), inactive);
    QCOMPARE(off->styleSheet(), QStringLiteral("color:#b11905"));
    QCOMPARE(table->getCellText(1, 1), QStringLiteral("0"));

    off->setCurrentIndex(0);
    QCOMPARE(off->styleSheet(), QStringLiteral("color:#055d13"));
    QCOMPARE(table->getCellText(1, 1), QStringLiteral("1"));
}

void TestAppWatcher::stateChangeOfNonCurrentRow()
{
    QAppWatcherWidget editor;
    editor.setEmbedded(true);
    editor.fillList(1, { item(1, QStringLiteral("a")), item(1, QStringLiteral("b")), item(1, QStringLiteral("c")) });
    auto* table = editor.tableOfType(1);
    table->setCurrentIndex(table->model()->index(0, 0));
    QSignalSpy spy(&editor, &QAppWatcherWidget::sg_item_state_changed);

    boxAt(table, 2)->setCurrentIndex(1);

    QCOMPARE(table->getCellText(0, 1), QStringLiteral("1"));
    QCOMPARE(table->getCellText(2, 1), QStringLiteral("0"));
    QCOMPARE(boxAt(table, 0)->styleSheet(), QStringLiteral("color:#055d13"));
    QCOMPARE(boxAt(table, 2)->styleSheet(), QStringLiteral("color:#b11905"));
    QCOMPARE(editor.disabledSet(1), QSet<QString> { QStringLiteral("c") });
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.at(0).at(1).toString(), QStringLiteral("c"));
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

    editor.setItems({ item(2, QStringLiteral("svc1")), item(4, QStringLiteral("reserved")),
        item(2, QStringLiteral("svc2"), 0), nullptr });

    QCOMPARE(rows(editor.tableOfType(1)), QStringList { QStringLiteral("title=") + active });
    QCOMPARE(rows(editor.tableOfType(2)),
        (QStringList { QStringLiteral("svc1=") + active, QStringLiteral("svc2=") + inactive }));
    QCOMPARE(rows(editor.tableOfType(3)), QStringList { QStringLiteral("prog.exe=") + inactive });
}

void TestAppWatcher::fillListIgnoresUnknownTypes()
{
    QAppWatcherWidget editor;
    editor.fillList(4, { item(4, QStringLiteral("x")) });
    editor.fillList(0, { item(1, QStringLiteral("x")) });
    for (int type = 1; type <= 3; ++type)
        QCOMPARE(editor.tableOfType(type)->getRowCount(), 0);
    QVERIFY(editor.itemsOfType(4).isEmpty());
}

void TestAppWatcher::itemsOfTypeAndAllItems()
{
    QAppWatcherWidget editor;
    editor.setItems({ item(3, QStringLiteral("p"), 0), item(1, QStringLiteral("t1")), item(2, QStringLiteral("s")),
        item(1, QStringLiteral("t2"), 0) });
    const StringItemList all = editor.allItems();
    QStringList seen;
    for (const auto& entry : all)
        seen << QStringLiteral("%1:%2:%3").arg(entry->item_type).arg(entry->str_val).arg(entry->item_state);
    QCOMPARE(seen,
        (QStringList { QStringLiteral("1:t1:1"), QStringLiteral("1:t2:0"), QStringLiteral("2:s:1"),
            QStringLiteral("3:p:0") }));
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

void TestAppWatcher::disabledSetOfUnknownTypeIsScratch()
{
    QAppWatcherWidget editor;
    editor.disabledSet(7).insert(QStringLiteral("x"));
    QVERIFY(editor.disabledSet(7).isEmpty());
    QVERIFY(editor.disabledSet(1).isEmpty());
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
}

void TestAppWatcher::mergeEmptiesListLeftEmptyByConsole()
{
    QAppWatcherWidget editor;
    editor.setEmbedded(true);
    editor.setItems({ item(1, QStringLiteral("t")), item(2, QStringLiteral("s1")), item(2, QStringLiteral("s2")) });
    // The console's service list was emptied and saved.
    QCOMPARE(editor.mergeItems({ item(1, QStringLiteral("t")) }), 2);
    QCOMPARE(editor.tableOfType(2)->getRowCount(), 0);
    QCOMPARE(editor.tableOfType(1)->getRowCount(), 1);
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
}

void TestAppWatcher::mergeOnStandaloneChangesNothing()
{
    QAppWatcherWidget editor;
    editor.setItems({ item(1, QStringLiteral("a")) });
    QCOMPARE(editor.mergeItems({ item(1, QStringLiteral("b")), item(2, QStringLiteral("c")) }), 0);
    QCOMPARE(texts(editor.tableOfType(1)), QStringList { QStringLiteral("a") });
    QCOMPARE(editor.tableOfType(2)->getRowCount(), 0);
}

QTEST_MAIN(TestAppWatcher)
#include "tst_appwatcher.moc"
