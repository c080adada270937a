#include "policy/QAppWatcherWidget.h"

#include "core/PolicyRules.h"
#include "dialogs/MessageBox.h"
#include "model/QtIntStringItem.h"
#include "policy/PolicyEntryDelegate.h"
#include "tableview/QtRokTableView.h"

#include <QApplication>
#include <QBrush>
#include <QColor>
#include <QComboBox>
#include <QEvent>
#include <QFont>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPersistentModelIndex>
#include <QPointer>
#include <QPushButton>
#include <QSpacerItem>
#include <QStyle>
#include <QTabWidget>
#include <QVBoxLayout>

#include <array>

namespace {

const char* const typeProperty = "__TYPE__";
// Set on a list table once its state boxes exist. A group page embeds an
// editor whose boxes nobody sees until the page is opened; building them for
// every page at start-up cost seconds with a few dozen groups.
const char* const boxesProperty = "__STATE_BOXES__";
const std::array<int, 3> listTypes = { 1, 2, 3 };

const QString activeColor = QStringLiteral("#055d13");
const QString inactiveColor = QStringLiteral("#b11905");
const QString activeStyle = QStringLiteral("color:#055d13");
const QString inactiveStyle = QStringLiteral("color:#b11905");
const QString inactiveText = QStringLiteral("停用");
// An entry the console cannot check but still sends.
const QString uncheckedColor = QStringLiteral("#a05a00");

constexpr int textColumn = 0;
constexpr int stateColumn = 1;
constexpr int rowHeight = 20;

QComboBox* newStateBox()
{
    auto* box = new QComboBox;
    box->addItem(QStringLiteral("激活"));
    box->addItem(inactiveText);
    box->setItemData(0, QBrush(QColor(activeColor)), Qt::ForegroundRole);
    box->setItemData(1, QBrush(QColor(inactiveColor)), Qt::ForegroundRole);
    return box;
}

// The row whose state cell holds `box`. Index widgets move with their rows
// when the table is sorted, so the box's own row is found, not the current one.
int rowOfBox(const QtRokTableView* table, const QWidget* box)
{
    for (int row = 0, rows = table->getRowCount(); row < rows; ++row) {
        if (table->getCellWidget(row, stateColumn) == box)
            return row;
    }
    return -1;
}

// Items of the three list types, in their order; other types are dropped.
std::array<StringItemList, 3> splitByType(const StringItemList& items)
{
    std::array<StringItemList, 3> lists;
    for (const auto& item : items) {
        if (item && item->item_type >= 1 && item->item_type <= 3)
            lists[static_cast<size_t>(item->item_type - 1)].append(item);
    }
    return lists;
}

} // namespace

QAppWatcherWidget::QAppWatcherWidget(QWidget* parent)
    : QWidget(parent)
{
    main_layout = new QVBoxLayout(this);
    main_layout->setContentsMargins(0, 0, 0, 0);
    main_layout->setSpacing(6);
    tab_widget = new QTabWidget(this);
    main_layout->addWidget(tab_widget, 1);

    button_bar = new QFrame(this);
    auto* barLayout = new QHBoxLayout(button_bar);
    barLayout->setContentsMargins(0, 0, 0, 0);
    barLayout->addItem(new QSpacerItem(0, 20, QSizePolicy::Expanding, QSizePolicy::Minimum));
    info_label = new QLabel(button_bar);
    barLayout->addWidget(info_label);
    barLayout->addItem(new QSpacerItem(0, 20, QSizePolicy::Expanding, QSizePolicy::Minimum));
    add_button = new QPushButton(QStringLiteral("添加"), button_bar);
    delete_button = new QPushButton(QStringLiteral("删除"), button_bar);
    save_button = new QPushButton(QStringLiteral("保存"), button_bar);
    barLayout->addWidget(add_button);
    barLayout->addWidget(delete_button);
    barLayout->addWidget(save_button);
    barLayout->addItem(new QSpacerItem(10, 20, QSizePolicy::Minimum, QSizePolicy::Minimum));
    main_layout->addWidget(button_bar);

    addListTab(QStringLiteral("禁止的窗口标题"), 1, QStringLiteral("禁止的窗口标题(正则表达式)"));
    addListTab(QStringLiteral("守护的服务"), 2, QStringLiteral("服务名称（非显示名称）"));
    addListTab(QStringLiteral("守护的程序"), 3, QStringLiteral("程序全路径"));

    connect(add_button, &QPushButton::clicked, this, &QAppWatcherWidget::onAddClicked);
    connect(delete_button, &QPushButton::clicked, this, &QAppWatcherWidget::onDeleteClicked);
    connect(save_button, &QPushButton::clicked, this, &QAppWatcherWidget::onSaveClicked);

    setPaneStyle(QStringLiteral("QTabWidget:pane{ border: 0px solid black;padding:9px;background-color:white; }"));
}

QAppWatcherWidget::~QAppWatcherWidget() = default;

void QAppWatcherWidget::addListTab(const QString& title, int type, const QString& header)
{
    auto* table = new QtRokTableView(tab_widget);
    table->setProperty(typeProperty, type);
    table->installEventFilter(this);
    tab_widget->addTab(table, title);

    table->setAlternatingRowColors(true);
    QFont font = table->font();
    font.setFamilies({ QStringLiteral("Monospace"), QStringLiteral("Times New Roman"), QStringLiteral("Arial"),
        QStringLiteral("Calibri"), QStringLiteral("宋体") });
    font.setPointSize(9);
    font.setWeight(50);
    table->setFont(font);
    // Qt clamps the default row height to the header's style-derived minimum,
    // which some styles put above 20.
    if (table->verticalHeader()->minimumSectionSize() > rowHeight)
        table->verticalHeader()->setMinimumSectionSize(rowHeight);
    table->setRowDefaultHeight(rowHeight);

    table->setColumnHeaderTextList({ header, QStringLiteral("状态") });
    table->setColumnFixedWidth(stateColumn, 60);
    table->setColumnResizeMode(textColumn, QHeaderView::Stretch);
    table->setColumnAlignment(stateColumn, Qt::AlignHCenter | Qt::AlignVCenter);
    table->setSortingEnabled(true);
    table->setColumnSortable(textColumn, true);
    table->setColumnSortable(stateColumn, true);
    for (int column = 0, columns = table->getColumnCount(); column < columns; ++column) {
        if (table->getColumnHeaderText(column).length() > 1)
            table->setColumnSortable(column, true);
    }
    if (embedded)
        table->setColumnReadonly(textColumn);
    else
        table->setItemDelegateForColumn(textColumn,
            new PolicyEntryDelegate(
                [this, table](int row, const QString& text) { return acceptEdit(table, row, text); }, table));
}

void QAppWatcherWidget::setEmbedded(bool on)
{
    embedded = on;
    if (!on)
        return;
    for (int type : listTypes) {
        if (auto* table = tableOfType(type))
            table->setColumnReadonly(textColumn);
    }
    button_bar->hide();
    setPaneStyle(QStringLiteral("QTabWidget:pane{ border: 0px solid black; }"));
}

void QAppWatcherWidget::setPaneStyle(const QString& style)
{
    pane_style = style;
    // A style sheet makes Qt re-style every widget below it, also each time
    // the editor is moved into a page or a tab; an editor nobody has seen
    // yet gets its sheet when it is first shown.
    if (isVisible() || !styleSheet().isEmpty())
        setStyleSheet(pane_style);
}

void QAppWatcherWidget::showEvent(QShowEvent* event)
{
    if (styleSheet() != pane_style)
        setStyleSheet(pane_style);
    QWidget::showEvent(event);
}

QtRokTableView* QAppWatcherWidget::tableOfType(int type) const
{
    for (int i = 0, tabs = tab_widget->count(); i < tabs; ++i) {
        auto* table = qobject_cast<QtRokTableView*>(tab_widget->widget(i));
        if (table && table->property(typeProperty).toInt() == type)
            return table;
    }
    return nullptr;
}

QtRokTableView* QAppWatcherWidget::currentTable() const
{
    if (tab_widget->count() < 1)
        return nullptr;
    return qobject_cast<QtRokTableView*>(tab_widget->currentWidget());
}

void QAppWatcherWidget::setRow(QtRokTableView* table, int row, const QString& text, int state)
{
    if (!table || row < 0)
        return;
    table->setCellValue(row, textColumn, text);
    markEntry(table, row, text);
    table->setCellValue(row, stateColumn, state);
    // The state cell's value is what the lists are read from; its box is only
    // the control, built once the table is on screen (see showStateBoxes).
    if (table->property(boxesProperty).toBool())
        setStateBox(table, row, state);
    else
        removeStateBox(table, row);
}

void QAppWatcherWidget::setStateBox(QtRokTableView* table, int row, int state)
{
    auto* box = newStateBox();
    box->setCurrentIndex(state == 1 ? 0 : 1);
    removeStateBox(table, row);
    table->setCellWidget(row, stateColumn, box);
    box->setStyleSheet(state == 1 ? activeStyle : inactiveStyle);
    // Connected last, so building the row never counts as a user's change.
    connect(box, &QComboBox::currentTextChanged, this,
        [this, table, box](const QString& text) { onStateChanged(table, box, text); });
}

void QAppWatcherWidget::removeStateBox(QtRokTableView* table, int row)
{
    // Whether the view deletes a replaced index widget differs between Qt
    // releases; make sure the old box goes either way.
    QPointer<QWidget> oldBox = table->getCellWidget(row, stateColumn);
    if (!oldBox)
        return;
    table->setCellWidget(row, stateColumn, nullptr);
    if (oldBox) {
        oldBox->disconnect(this);
        oldBox->hide();
        oldBox->deleteLater();
    }
}

void QAppWatcherWidget::showStateBoxes(QtRokTableView* table)
{
    if (!table || table->property(boxesProperty).toBool())
        return;
    table->setProperty(boxesProperty, true);
    for (int row = 0, rows = table->getRowCount(); row < rows; ++row)
        setStateBox(table, row, stateOfRow(table, row));
}

int QAppWatcherWidget::stateOfRow(const QtRokTableView* table, int row)
{
    return table->getCellText(row, stateColumn) == QLatin1String("1") ? 1 : 0;
}

QComboBox* QAppWatcherWidget::stateBox(int type, int row)
{
    auto* table = tableOfType(type);
    if (!table || row < 0 || row >= table->getRowCount())
        return nullptr;
    showStateBoxes(table);
    return qobject_cast<QComboBox*>(table->getCellWidget(row, stateColumn));
}

bool QAppWatcherWidget::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::Show)
        showStateBoxes(qobject_cast<QtRokTableView*>(watched));
    return QWidget::eventFilter(watched, event);
}

void QAppWatcherWidget::onAddClicked()
{
    auto* table = currentTable();
    if (!table)
        return;
    const int row = table->getRowCount();
    setRow(table, row, QString(), 1);
    setModified(true);
    // An empty entry is of no use: it is typed at once.
    const QModelIndex index = table->model()->index(row, textColumn);
    table->setCurrentIndex(index);
    table->scrollTo(index);
    table->edit(index);
}

void QAppWatcherWidget::onDeleteClicked()
{
    auto* table = currentTable();
    if (!table)
        return;
    const QModelIndex index = table->currentIndex();
    if (index.row() < 0 || index.column() < 0 || !index.model())
        return;
    const int row = index.row();
    const auto answer = MessageBox::question(this, QStringLiteral("删除确认"),
        QStringLiteral("删除不可恢复！\n确认需要删除选中行(第【%1】行)？").arg(row + 1),
        QMessageBox::Yes | QMessageBox::No, QMessageBox::NoButton);
    if (answer == QMessageBox::Yes) {
        table->removeRow(row);
        setModified(true);
    }
}

void QAppWatcherWidget::onSaveClicked()
{
    save();
}

bool QAppWatcherWidget::save()
{
    // Lists an agent would reject, or that no datagram can carry, never
    // reach the store or the groups.
    const QStringList faults = PolicyRules::faults(allItems());
    if (!faults.isEmpty()) {
        MessageBox::critical(this, QStringLiteral("错误"),
            QStringLiteral("策略列表未保存：\n") + PolicyRules::listed(faults), QMessageBox::Ok);
        return false;
    }
    emit sg_btn_save_clicked();
    for (int type : listTypes)
        saved_lists[static_cast<size_t>(type - 1)] = itemsOfType(type);
    setModified(false);
    emit sg_saved();
    return true;
}

void QAppWatcherWidget::revert()
{
    for (int type : listTypes)
        fillTable(type, saved_lists[static_cast<size_t>(type - 1)]);
    setModified(false);
}

bool QAppWatcherWidget::askToLeave()
{
    // A text still being typed is part of the lists: its editor commits as
    // it loses the focus.
    QWidget* focus = QApplication::focusWidget();
    if (focus && isAncestorOf(focus))
        focus->clearFocus();
    if (!modified)
        return true;
    const auto answer = MessageBox::ask(this, QStringLiteral("配置进程监控"),
        QStringLiteral("策略列表有未保存的修改，是否保存？"),
        { { QMessageBox::Save, QStringLiteral("保存") }, { QMessageBox::Discard, QStringLiteral("放弃") },
            { QMessageBox::Cancel, QStringLiteral("取消") } },
        QMessageBox::Save);
    switch (answer) {
    case QMessageBox::Save:
        return save();
    case QMessageBox::Discard:
        revert();
        return true;
    default:
        return false;
    }
}

QString QAppWatcherWidget::summary() const
{
    return QStringLiteral("禁止标题 %1 条，保护服务 %2 条，保护程序 %3 条")
        .arg(itemsOfType(1).size())
        .arg(itemsOfType(2).size())
        .arg(itemsOfType(3).size());
}

void QAppWatcherWidget::setModified(bool on)
{
    if (embedded || on == modified)
        return;
    modified = on;
    emit sg_modified_changed(on);
}

bool QAppWatcherWidget::acceptEdit(QtRokTableView* table, int row, const QString& text)
{
    const int type = table->property(typeProperty).toInt();
    QString fault = PolicyRules::entryFault(type, row, text);
    if (fault.isEmpty() && stateOfRow(table, row) == 1) {
        StringItemList items;
        for (int other : listTypes)
            if (other != type)
                items += itemsOfType(other);
        StringItemList ofType = itemsOfType(type);
        if (row < ofType.size()) {
            const int before = PolicyRules::policyBytes(items + ofType);
            ofType.at(row)->str_val = text;
            const int after = PolicyRules::policyBytes(items + ofType);
            // Lists already too large can still be shortened.
            if (after > before)
                fault = PolicyRules::sizeFault(after);
        }
    }
    if (!fault.isEmpty()) {
        // Told once the view has finished with its editor: a modal box inside
        // the commit would take the editor's focus while it is being closed.
        QMetaObject::invokeMethod(
            this,
            [this, fault] {
                MessageBox::critical(
                    this, QStringLiteral("错误"), QStringLiteral("条目未修改：\n") + fault, QMessageBox::Ok);
            },
            Qt::QueuedConnection);
        return false;
    }
    if (text == table->getCellText(row, textColumn))
        return true;
    const QString note = PolicyRules::entryNote(type, row, text);
    if (!note.isEmpty()) {
        // Asked once the editor is closed, as above; the entry changes only
        // on the teacher's word.
        const QPersistentModelIndex cell(table->model()->index(row, textColumn));
        QMetaObject::invokeMethod(
            this, [this, table, cell, note, text] { keepIfAsked(table, cell, note, text); }, Qt::QueuedConnection);
        return false;
    }
    markEntry(table, row, text);
    setModified(true);
    return true;
}

void QAppWatcherWidget::keepIfAsked(
    QtRokTableView* table, const QPersistentModelIndex& cell, const QString& note, const QString& text)
{
    const auto answer = MessageBox::ask(this, QStringLiteral("配置进程监控"),
        note + QStringLiteral("。\n学生端用自己的引擎匹配窗口标题，它在学生端可能有效。"),
        { { QMessageBox::Save, QStringLiteral("仍然保存") }, { QMessageBox::Cancel, QStringLiteral("取消") } },
        QMessageBox::Cancel);
    if (answer != QMessageBox::Save || !cell.isValid())
        return;
    table->setCellValue(cell.row(), textColumn, text);
    markEntry(table, cell.row(), text);
    setModified(true);
}

void QAppWatcherWidget::markEntry(QtRokTableView* table, int row, const QString& text)
{
    // Only the console-wide editor, where entries are written: the pages
    // show the same lists read-only.
    if (embedded || table->property(typeProperty).toInt() != QtDoubleIntStringItem::ForbiddenTitles)
        return;
    const QString note = PolicyRules::titleNote(text);
    QAbstractItemModel* model = table->model();
    const QModelIndex cell = model->index(row, textColumn);
    if (note.isEmpty()) {
        if (!cell.data(Qt::ToolTipRole).isNull())
            for (int role : { Qt::ToolTipRole, Qt::ForegroundRole, Qt::DecorationRole })
                model->setData(cell, QVariant(), role);
        return;
    }
    model->setData(cell, note + QStringLiteral("；学生端用自己的引擎匹配，照常发送。"), Qt::ToolTipRole);
    model->setData(cell, QBrush(QColor(uncheckedColor)), Qt::ForegroundRole);
    model->setData(cell, style()->standardIcon(QStyle::SP_MessageBoxWarning), Qt::DecorationRole);
}

void QAppWatcherWidget::onStateChanged(QtRokTableView* table, QComboBox* box, const QString& text)
{
    const int row = rowOfBox(table, box);
    if (row < 0)
        return;
    int state = 1;
    if (text == inactiveText) {
        box->setStyleSheet(inactiveStyle);
        state = 0;
    } else {
        box->setStyleSheet(activeStyle);
    }
    table->setCellValue(row, stateColumn, state);

    if (!embedded) {
        setModified(true);
        return;
    }
    const int type = table->property(typeProperty).toInt();
    const QString entry = table->getCellText(row, textColumn);
    if (type >= 1 && type <= 3) {
        QSet<QString>& set = disabledSet(type);
        if (state == 0)
            set.insert(entry);
        else
            set.remove(entry);
    }
    emit sg_item_state_changed(type, entry, state);
}

void QAppWatcherWidget::fillTable(int type, const StringItemList& items)
{
    auto* table = tableOfType(type);
    if (!table)
        return;
    table->clearRows();
    int row = 0;
    for (const auto& item : items) {
        if (item)
            setRow(table, row++, item->str_val, item->item_state);
    }
}

void QAppWatcherWidget::fillList(int type, const StringItemList& items)
{
    fillTable(type, items);
    if (embedded)
        applyDisabledSets();
    else if (type >= 1 && type <= 3)
        saved_lists[static_cast<size_t>(type - 1)] = itemsOfType(type);
}

void QAppWatcherWidget::setItems(const StringItemList& items)
{
    const auto lists = splitByType(items);
    for (int type : listTypes) {
        const auto& list = lists[static_cast<size_t>(type - 1)];
        if (!list.isEmpty())
            fillTable(type, list);
    }
    if (embedded)
        applyDisabledSets();
}

int QAppWatcherWidget::mergeItems(const StringItemList& items)
{
    if (!embedded)
        return 0;
    // Every list is merged, also one without items: the caller hands over the
    // complete console-wide lists, so a list emptied there is emptied here.
    const auto lists = splitByType(items);
    int changed = 0;
    for (int type : listTypes)
        changed += mergeTable(type, lists[static_cast<size_t>(type - 1)]);
    applyDisabledSets();
    return changed;
}

int QAppWatcherWidget::mergeTable(int type, const StringItemList& items)
{
    auto* table = tableOfType(type);
    if (!table)
        return 0;

    QSet<QString> wanted;
    for (const auto& item : items)
        wanted.insert(item->str_val);

    int changed = 0;
    QSet<QString> kept;
    for (int row = table->getRowCount() - 1; row >= 0; --row) {
        const QString text = table->getCellText(row, textColumn);
        if (wanted.contains(text)) {
            kept.insert(text);
        } else {
            table->removeRow(row);
            ++changed;
        }
    }

    // Only rows already in the table are compared, so a text listed twice is
    // appended twice, as the console-wide list holds it.
    QList<QtIntStringItem> toAppend;
    for (const auto& item : items) {
        if (item->str_val.isEmpty() || kept.contains(item->str_val))
            continue;
        toAppend.append(QtIntStringItem { item->item_state, item->str_val });
    }
    for (const auto& entry : toAppend)
        setRow(table, table->getRowCount(), entry.text, entry.value);
    return changed + toAppend.size();
}

void QAppWatcherWidget::applyDisabledSets()
{
    for (int type : listTypes) {
        auto* table = tableOfType(type);
        const QSet<QString>& set = disabledSet(type);
        if (!table || set.isEmpty())
            continue;
        for (int row = 0, rows = table->getRowCount(); row < rows; ++row) {
            const QString text = table->getCellText(row, textColumn);
            if (set.contains(text))
                setRow(table, row, text, 0);
        }
    }
}

StringItemList QAppWatcherWidget::itemsOfType(int type) const
{
    StringItemList items;
    const auto* table = tableOfType(type);
    if (!table)
        return items;
    for (int row = 0, rows = table->getRowCount(); row < rows; ++row) {
        auto item = std::make_shared<QtDoubleIntStringItem>();
        item->item_type = type;
        item->str_val = table->getCellText(row, textColumn);
        item->item_state = stateOfRow(table, row);
        items.append(item);
    }
    return items;
}

StringItemList QAppWatcherWidget::allItems() const
{
    StringItemList items;
    for (int type : listTypes)
        items += itemsOfType(type);
    return items;
}

QSet<QString>& QAppWatcherWidget::disabledSet(int type)
{
    switch (type) {
    case 1:
        return disabled_titles;
    case 2:
        return disabled_services;
    case 3:
        return disabled_programs;
    default:
        no_such_set.clear();
        return no_such_set;
    }
}

const QSet<QString>& QAppWatcherWidget::disabledSet(int type) const
{
    return const_cast<QAppWatcherWidget*>(this)->disabledSet(type);
}
