#include "timetable/TimetableEditor.h"

#include "dialogs/MessageBox.h"
#include "lesson/LessonTools.h"
#include "model/Rok_Lock_State.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>
#include <QTimeEdit>
#include <QVBoxLayout>
#include <algorithm>

namespace {

const QString Release = QStringLiteral("解除锁定");
constexpr int LessonRole = Qt::UserRole + 1;

} // namespace

TimetableEditor::TimetableEditor(const QString& page, const Timetable& timetable, const QStringList& modeNames,
                                 QWidget* parent)
    : QDialog(parent)
    , page_name(page)
    , original(timetable)
    , week(timetable)
    , modes(modeNames)
{
    setObjectName(QStringLiteral("timetable_editor"));
    setWindowTitle(QStringLiteral("课表 - %1").arg(page));
    auto* layout = new QVBoxLayout(this);

    table = new QTableWidget(0, 7, this);
    table->setObjectName(QStringLiteral("timetable_grid"));
    QStringList days;
    for (int day = 1; day <= 7; ++day)
        days << Timetable::weekdayName(day).right(1);
    table->setHorizontalHeaderLabels(days);
    table->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    // Three lines a lesson: its times, its start and its end.
    table->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    table->verticalHeader()->setDefaultSectionSize(table->fontMetrics().lineSpacing() * 4 + 4);
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->setSelectionMode(QAbstractItemView::SingleSelection);
    table->setWordWrap(true);
    layout->addWidget(table, 1);
    connect(table, &QTableWidget::cellDoubleClicked, this, [this](int, int column) {
        if (currentLesson() >= 0)
            editInteractive();
        else
            addInteractive(column + 1);
    });

    auto* buttons = new QHBoxLayout;
    auto* add = new QPushButton(QStringLiteral("添加..."), this);
    auto* edit = new QPushButton(QStringLiteral("编辑..."), this);
    auto* remove = new QPushButton(QStringLiteral("删除"), this);
    connect(add, &QPushButton::clicked, this, [this] { addInteractive(today); });
    connect(edit, &QPushButton::clicked, this, &TimetableEditor::editInteractive);
    connect(remove, &QPushButton::clicked, this, [this] { removeLesson(currentLesson()); });
    buttons->addWidget(add);
    buttons->addWidget(edit);
    buttons->addWidget(remove);
    buttons->addStretch();
    layout->addLayout(buttons);

    auto* wakeRow = new QHBoxLayout;
    wake_box = new QCheckBox(QStringLiteral("每天第一节课前唤醒本组计算机，提前"), this);
    wake_minutes = new QSpinBox(this);
    wake_minutes->setRange(1, 120);
    wake_minutes->setSuffix(QStringLiteral(" 分钟"));
    wake_box->setChecked(week.wake_minutes > 0);
    wake_minutes->setValue(week.wake_minutes > 0 ? week.wake_minutes : 10);
    wakeRow->addWidget(wake_box);
    wakeRow->addWidget(wake_minutes);
    wakeRow->addStretch();
    layout->addLayout(wakeRow);

    auto* lockRow = new QHBoxLayout;
    lock_box = new QCheckBox(QStringLiteral("每天最后一节课结束后"), this);
    lock_kind = new QComboBox(this);
    for (int kind : { Rok_Lock_State::BlackLock, Rok_Lock_State::KeyboardMouseLock, Rok_Lock_State::BlackQuiet })
        lock_kind->addItem(LessonTools::lockName(kind), kind);
    lock_box->setChecked(week.day_end_lock != 0);
    if (week.day_end_lock != 0)
        lock_kind->setCurrentIndex(std::max(0, lock_kind->findData(week.day_end_lock)));
    lockRow->addWidget(lock_box);
    lockRow->addWidget(lock_kind);
    // The grid shows what each day's last lesson ends with.
    connect(lock_box, &QCheckBox::toggled, this, &TimetableEditor::rebuildGrid);
    connect(lock_kind, QOverload<int>::of(&QComboBox::currentIndexChanged), this, &TimetableEditor::rebuildGrid);
    lockRow->addStretch();
    layout->addLayout(lockRow);

    auto* box = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(box, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(box, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(box);
    // Wide enough for a lesson that ends the next day, "21:00–次日 07:45".
    resize(900, 480);
    rebuildGrid();
}

Timetable TimetableEditor::timetable() const
{
    Timetable edited = week;
    edited.wake_minutes = wake_box->isChecked() ? wake_minutes->value() : 0;
    edited.day_end_lock = lock_box->isChecked() ? lock_kind->currentData().toInt() : 0;
    return edited;
}

QString TimetableEditor::endText(const TimetableLesson& lesson)
{
    return lesson.end_mode.isEmpty() ? Release : lesson.end_mode;
}

bool TimetableEditor::addLesson(const TimetableLesson& lesson)
{
    return replaceLesson(-1, lesson);
}

bool TimetableEditor::replaceLesson(int index, const TimetableLesson& lesson)
{
    const QString title = QStringLiteral("课表");
    if (lesson.start == lesson.end) {
        MessageBox::warning(this, title, QStringLiteral("一节课的开始和结束不能是同一时间。"));
        return false;
    }
    if (lesson.end < lesson.start
        && MessageBox::question(this, QStringLiteral("跨午夜？"),
               QStringLiteral("%1 %2–%3：结束早于开始。\n这节课要跨过午夜，到次日 %3 才结束吗？")
                   .arg(Timetable::weekdayName(lesson.weekday), lesson.start.toString(QStringLiteral("HH:mm")),
                       lesson.end.toString(QStringLiteral("HH:mm"))),
               QMessageBox::Yes | QMessageBox::No)
            != QMessageBox::Yes)
        return false;
    const QString overlap = week.overlapOf(lesson, index);
    if (!overlap.isEmpty()) {
        MessageBox::warning(this, title, overlap + QStringLiteral("\n同一分组的课不能重叠。"));
        return false;
    }
    if (index >= 0 && index < week.lessons.size())
        week.lessons[index] = lesson;
    else
        week.lessons << lesson;
    rebuildGrid();
    return true;
}

void TimetableEditor::removeLesson(int index)
{
    if (index < 0 || index >= week.lessons.size())
        return;
    week.lessons.removeAt(index);
    rebuildGrid();
}

int TimetableEditor::currentLesson() const
{
    const QTableWidgetItem* item = table->currentItem();
    return item ? item->data(LessonRole).toInt() : -1;
}

void TimetableEditor::rebuildGrid()
{
    // A row per start time of the week: the periods of a school day.
    QList<QTime> starts;
    for (const TimetableLesson& lesson : week.lessons)
        if (!starts.contains(lesson.start))
            starts << lesson.start;
    std::sort(starts.begin(), starts.end());
    table->clearContents();
    table->setRowCount(starts.size());
    QStringList rows;
    for (const QTime& start : starts)
        rows << start.toString(QStringLiteral("HH:mm"));
    table->setVerticalHeaderLabels(rows);
    const Timetable edited = timetable();
    for (int i = 0; i < week.lessons.size(); ++i) {
        const TimetableLesson& lesson = week.lessons.at(i);
        const QString end = edited.day_end_lock != 0 && edited.lastOfDay(lesson.weekday) == i
            ? LessonTools::lockName(edited.day_end_lock)
            : endText(lesson);
        auto* item = new QTableWidgetItem(QStringLiteral("%1–%2\n%3\n→ %4")
                                              .arg(lesson.start.toString(QStringLiteral("HH:mm")),
                                                   Timetable::endTime(lesson), lesson.start_mode, end));
        item->setData(LessonRole, i);
        item->setToolTip(Timetable::describe(lesson));
        table->setItem(starts.indexOf(lesson.start), lesson.weekday - 1, item);
    }
}

bool TimetableEditor::askLesson(TimetableLesson& lesson, const QString& title)
{
    if (modes.isEmpty()) {
        MessageBox::information(this, QStringLiteral("课表"), QStringLiteral("还没有课堂模式：请先保存一个课堂模式。"));
        return false;
    }
    QDialog dialog(this);
    dialog.setWindowTitle(title);
    auto* form = new QFormLayout(&dialog);
    auto* day = new QComboBox(&dialog);
    for (int d = 1; d <= 7; ++d)
        day->addItem(Timetable::weekdayName(d), d);
    day->setCurrentIndex(lesson.weekday - 1);
    auto* start = new QTimeEdit(lesson.start, &dialog);
    auto* end = new QTimeEdit(lesson.end, &dialog);
    start->setDisplayFormat(QStringLiteral("HH:mm"));
    end->setDisplayFormat(QStringLiteral("HH:mm"));
    auto* startMode = new QComboBox(&dialog);
    startMode->addItems(modes);
    startMode->setCurrentText(lesson.start_mode);
    auto* endMode = new QComboBox(&dialog);
    endMode->addItem(Release);
    endMode->addItems(modes);
    endMode->setCurrentText(endText(lesson));
    form->addRow(QStringLiteral("星期："), day);
    form->addRow(QStringLiteral("开始："), start);
    form->addRow(QStringLiteral("结束："), end);
    form->addRow(QStringLiteral("上课时："), startMode);
    form->addRow(QStringLiteral("下课时："), endMode);
    auto* box = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    connect(box, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    connect(box, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    form->addRow(box);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    lesson.weekday = day->currentData().toInt();
    lesson.start = start->time();
    lesson.end = end->time();
    lesson.start_mode = startMode->currentText();
    lesson.end_mode = endMode->currentIndex() == 0 ? QString() : endMode->currentText();
    return true;
}

void TimetableEditor::reject()
{
    if (timetable() == original) {
        QDialog::reject();
        return;
    }
    switch (MessageBox::ask(this, QStringLiteral("课表"), QStringLiteral("课表有未保存的修改，是否保存？"),
        { { QMessageBox::Save, QStringLiteral("保存") }, { QMessageBox::Discard, QStringLiteral("放弃") },
            { QMessageBox::Cancel, QStringLiteral("取消") } },
        QMessageBox::Save)) {
    case QMessageBox::Save:
        accept();
        break;
    case QMessageBox::Discard:
        QDialog::reject();
        break;
    default:
        break;
    }
}

void TimetableEditor::addInteractive(int weekday)
{
    TimetableLesson lesson;
    lesson.weekday = weekday >= 1 && weekday <= 7 ? weekday : 1;
    lesson.start = QTime(8, 0);
    lesson.end = QTime(8, 45);
    lesson.start_mode = modes.value(0);
    while (askLesson(lesson, QStringLiteral("添加一节课")) && !addLesson(lesson)) {
    }
}

void TimetableEditor::editInteractive()
{
    const int index = currentLesson();
    if (index < 0)
        return;
    TimetableLesson lesson = week.lessons.at(index);
    while (askLesson(lesson, QStringLiteral("编辑一节课")) && !replaceLesson(index, lesson)) {
    }
}
