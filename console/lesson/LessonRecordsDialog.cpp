#include "lesson/LessonRecordsDialog.h"

#include "lesson/LessonRecordPage.h"
#include "storage/LessonRecordStore.h"
#include "tableview/QtRokTableView.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QDateTime>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

constexpr unsigned IdRole = 2;

QString stamp(qint64 ms, const QString& format)
{
    return QDateTime::fromMSecsSinceEpoch(ms).toString(format);
}

} // namespace

LessonRecordsDialog::LessonRecordsDialog(LessonRecordStore& store, std::function<qint64()> now, QWidget* parent)
    : QDialog(parent)
    , store(store)
    , now(std::move(now))
    , rooms(new QComboBox(this))
    , by_day(new QCheckBox(QStringLiteral("日期"), this))
    , day(new QDateEdit(this))
    , list(new QtRokTableView(this))
{
    setObjectName(QStringLiteral("lessonRecords"));
    setWindowTitle(QStringLiteral("课堂记录"));
    rooms->setObjectName(QStringLiteral("recordRoom"));
    rooms->addItem(QStringLiteral("全部机房"));
    rooms->addItems(store.rooms());
    day->setCalendarPopup(true);
    day->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
    day->setDate(QDateTime::fromMSecsSinceEpoch(this->now()).date());
    day->setEnabled(false);
    list->setObjectName(QStringLiteral("recordList"));
    list->setColumnHeaderTextList({ QStringLiteral("机房"), QStringLiteral("开始"), QStringLiteral("结束"),
        QStringLiteral("时长"), QStringLiteral("来源"), QStringLiteral("事件") });
    list->setEditable(false);
    list->setSelectionBehavior(QAbstractItemView::SelectRows);
    list->setSelectionMode(QAbstractItemView::SingleSelection);

    auto* filters = new QHBoxLayout;
    filters->addWidget(new QLabel(QStringLiteral("机房"), this));
    filters->addWidget(rooms);
    filters->addSpacing(12);
    filters->addWidget(by_day);
    filters->addWidget(day);
    filters->addStretch();
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    QPushButton* open = buttons->addButton(QStringLiteral("打开"), QDialogButtonBox::ActionRole);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(filters);
    layout->addWidget(list);
    layout->addWidget(buttons);
    resize(760, 480);

    connect(rooms, &QComboBox::currentTextChanged, this, &LessonRecordsDialog::reload);
    connect(by_day, &QCheckBox::toggled, day, &QDateEdit::setEnabled);
    connect(by_day, &QCheckBox::toggled, this, &LessonRecordsDialog::reload);
    connect(day, &QDateEdit::dateChanged, this, &LessonRecordsDialog::reload);
    connect(list, &QAbstractItemView::doubleClicked, this, [this](const QModelIndex& index) { openRow(index.row()); });
    connect(open, &QPushButton::clicked, this, [this] {
        if (list->currentIndex().isValid())
            openRow(list->currentIndex().row());
    });
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    reload();
}

void LessonRecordsDialog::reload()
{
    list->clearRows();
    const QString room = rooms->currentIndex() > 0 ? rooms->currentText() : QString();
    const QList<LessonRecordStore::Summary> records = store.list(room, by_day->isChecked() ? day->date() : QDate());
    const QString full = QStringLiteral("yyyy-MM-dd HH:mm");
    for (int row = 0; row < records.size(); ++row) {
        const LessonRecordStore::Summary& record = records.at(row);
        const bool open = record.end_ms == 0;
        list->setCellValue(row, 0, record.room);
        list->setCellUserData(row, 0, record.id, IdRole);
        list->setCellValue(row, 1, stamp(record.start_ms, full));
        list->setCellValue(row, 2, open ? QStringLiteral("记录中") : stamp(record.end_ms, QStringLiteral("HH:mm")));
        list->setCellValue(row, 3, LessonRecord::durationText((open ? now() : record.end_ms) - record.start_ms));
        list->setCellValue(row, 4,
            record.title.isEmpty() ? LessonRecord::originName(record.origin)
                                   : QStringLiteral("%1（%2）").arg(LessonRecord::originName(record.origin), record.title));
        list->setCellValue(row, 5, record.events);
    }
    list->resizeColumnsToContents();
}

LessonRecordPage* LessonRecordsDialog::openRow(int row)
{
    const QModelIndex index = list->model()->index(row, 0);
    const qint64 id = index.data(Qt::UserRole + IdRole).toLongLong();
    const LessonRecord record = store.load(id);
    if (record.id == 0)
        return nullptr;
    auto* page = new LessonRecordPage(record, now(), this);
    page->setAttribute(Qt::WA_DeleteOnClose);
    page->open();
    return page;
}
