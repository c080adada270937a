#include "log/EventLogDock.h"

#include "dialogs/FileDialog.h"
#include "dialogs/MessageBox.h"
#include "model/MacAddress.h"
#include "storage/EventLogStore.h"
#include "storage/MachineListCsv.h"

#include <QAction>
#include <QCloseEvent>
#include <QComboBox>
#include <QDateTime>
#include <QDir>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QPushButton>
#include <QScrollBar>
#include <QSqlQuery>
#include <QSqlQueryModel>
#include <QTableView>
#include <QVBoxLayout>

namespace {

enum Column { AtColumn, KindColumn, PageColumn, MachineColumn, MacColumn, DetailColumn };

QString timeText(qint64 atMs)
{
    return QDateTime::fromMSecsSinceEpoch(atMs).toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

// The rows as stored, with times, kinds and MACs in their display forms.
class LogModel final : public QSqlQueryModel
{
public:
    using QSqlQueryModel::QSqlQueryModel;

    QVariant data(const QModelIndex& index, int role) const override
    {
        const QVariant value = QSqlQueryModel::data(index, role);
        if (role != Qt::DisplayRole || !value.isValid())
            return value;
        switch (index.column()) {
        case AtColumn:
            return timeText(value.toLongLong());
        case KindColumn:
            return EventLogStore::kindName(value.toInt());
        case MacColumn:
            return value.toULongLong() == 0 ? QString() : MacAddress::toDisplay(value.toULongLong());
        default:
            return value;
        }
    }

    QVariant headerData(int section, Qt::Orientation orientation, int role) const override
    {
        static const QStringList titles = { QStringLiteral("时间"), QStringLiteral("类型"), QStringLiteral("页面"),
            QStringLiteral("机器"), QStringLiteral("MAC地址"), QStringLiteral("内容") };
        if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 && section < titles.size())
            return titles.at(section);
        return QSqlQueryModel::headerData(section, orientation, role);
    }
};

} // namespace

EventLogDock::EventLogDock(EventLogStore* store_, QWidget* parent)
    : QDockWidget(QStringLiteral("日志"), parent)
    , store(store_)
    , page_filter(new QComboBox(this))
    , kind_filter(new QComboBox(this))
    , table(new QTableView(this))
    , rows(new LogModel(this))
{
    setObjectName(QStringLiteral("event_log_dock"));
    page_filter->setObjectName(QStringLiteral("event_log_page_filter"));
    kind_filter->setObjectName(QStringLiteral("event_log_kind_filter"));
    page_filter->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    kind_filter->addItem(QStringLiteral("所有类型"), 0);
    for (int kind = EventLogStore::Offline; kind <= EventLogStore::LastKind; ++kind)
        kind_filter->addItem(EventLogStore::kindName(kind), kind);
    auto* exportButton = new QPushButton(QStringLiteral("导出(&E)..."), this);
    exportButton->setObjectName(QStringLiteral("event_log_export"));

    table->setModel(rows);
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->verticalHeader()->hide();
    table->verticalHeader()->setDefaultSectionSize(table->fontMetrics().height() + 6);
    table->horizontalHeader()->setStretchLastSection(true);
    table->setWordWrap(false);

    auto* body = new QWidget(this);
    auto* filters = new QHBoxLayout;
    filters->addWidget(page_filter);
    filters->addWidget(kind_filter);
    filters->addStretch(1);
    filters->addWidget(exportButton);
    auto* layout = new QVBoxLayout(body);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->addLayout(filters);
    layout->addWidget(table);
    setWidget(body);

    connect(page_filter, QOverload<int>::of(&QComboBox::currentIndexChanged), this, &EventLogDock::refresh);
    connect(kind_filter, QOverload<int>::of(&QComboBox::currentIndexChanged), this, &EventLogDock::refresh);
    connect(exportButton, &QPushButton::clicked, this, &EventLogDock::exportCsv);
    // New rows reset the view to the top; a teacher reading further down
    // gets them once back at the top.
    connect(store, &EventLogStore::sg_written, this, [this] {
        stale = true;
        if (table->verticalScrollBar()->value() == 0)
            refresh();
    });
    connect(table->verticalScrollBar(), &QScrollBar::valueChanged, this, [this](int value) {
        if (value == 0 && stale)
            refresh();
    });
    connect(store, &EventLogStore::sg_closing, this, &EventLogDock::detach);
    connect(toggleViewAction(), &QAction::triggered, this, &EventLogDock::sg_opened);
    // Opened, it reads the newest rows; closed, it holds none.
    connect(toggleViewAction(), &QAction::toggled, this, [this](bool open) {
        if (open && store)
            store->flush();
        refresh();
    });
}

void EventLogDock::closeEvent(QCloseEvent* event)
{
    QDockWidget::closeEvent(event);
    if (event->isAccepted())
        emit sg_opened(false);
}

QAbstractItemModel* EventLogDock::model() const
{
    return rows;
}

void EventLogDock::setFilter(const QString& page, int kind)
{
    refreshPages();
    const int pageAt = page_filter->findData(page);
    page_filter->setCurrentIndex(pageAt >= 0 ? pageAt : 0);
    const int kindAt = kind_filter->findData(kind);
    kind_filter->setCurrentIndex(kindAt >= 0 ? kindAt : 0);
    refresh();
}

void EventLogDock::followRename(const QString& from, const QString& to)
{
    if (pageFilter() != from)
        return;
    {
        const QSignalBlocker quiet(page_filter);
        // The new name may have no row written yet.
        if (page_filter->findData(to) < 0)
            page_filter->addItem(to, to);
        page_filter->setCurrentIndex(page_filter->findData(to));
    }
    refresh();
}

void EventLogDock::detach()
{
    // Not clear(): that leaves a fresh result of the store's driver in the
    // model, which a later clear() reaches after the connection is gone.
    rows->setQuery(QSqlQuery());
}

QString EventLogDock::pageFilter() const
{
    return page_filter->currentData().toString();
}

int EventLogDock::kindFilter() const
{
    return kind_filter->currentData().toInt();
}

void EventLogDock::refreshPages()
{
    const QString chosen = pageFilter();
    const QSignalBlocker quiet(page_filter);
    page_filter->clear();
    page_filter->addItem(QStringLiteral("所有页面"), QString());
    QStringList names = current_pages ? current_pages() : QStringList();
    for (const QString& page : store ? store->pages() : QStringList())
        if (!names.contains(page))
            names << page;
    for (const QString& page : names)
        if (!page.isEmpty())
            page_filter->addItem(page, page);
    const int at = page_filter->findData(chosen);
    if (at >= 0) {
        page_filter->setCurrentIndex(at);
    } else if (!chosen.isEmpty()) {
        // A page whose events have all been pruned stays chosen.
        page_filter->addItem(chosen, chosen);
        page_filter->setCurrentIndex(page_filter->count() - 1);
    }
}

void EventLogDock::refresh()
{
    stale = false;
    // Open is what its toggle says: the menu checks it before the dock is
    // shown, a hidden dock unchecks it.
    if (!toggleViewAction()->isChecked() || !store) {
        detach();
        return;
    }
    refreshPages();
    rows->setQuery(store->select(pageFilter(), kindFilter()));
    table->resizeColumnsToContents();
}

void EventLogDock::exportCsv()
{
    if (!store)
        return;
    store->flush();
    const QString path = FileDialog::getSaveFileIn(this, QStringLiteral("导出日志"), QStringLiteral("event-log"),
        QStringLiteral("日志-%1.csv").arg(QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmm"))),
        QStringLiteral("CSV 文件 (*.csv)"));
    if (path.isEmpty())
        return;
    QList<QStringList> lines;
    QSqlQuery query = store->select(pageFilter(), kindFilter(), true);
    while (query.next()) {
        const quint64 mac = query.value(4).toULongLong();
        lines << QStringList { timeText(query.value(0).toLongLong()), EventLogStore::kindName(query.value(1).toInt()),
            query.value(2).toString(), query.value(3).toString(), mac == 0 ? QString() : MacAddress::toDisplay(mac),
            query.value(5).toString() };
    }
    const QByteArray csv
        = MachineListCsv::encodeTable({ QStringLiteral("时间"), QStringLiteral("类型"), QStringLiteral("页面"),
                                          QStringLiteral("机器"), QStringLiteral("MAC地址"), QStringLiteral("内容") },
            lines);
    QString error;
    if (!MachineListCsv::writeBytes(path, csv, &error)) {
        MessageBox::critical(this, QStringLiteral("错误"),
            QStringLiteral("无法导出日志到“%1”：%2").arg(QDir::toNativeSeparators(path), error), QMessageBox::Ok);
        return;
    }
    emit sg_message(QStringLiteral("已导出 %1 条日志到“%2”").arg(lines.size()).arg(QDir::toNativeSeparators(path)));
}
