#pragma once

#include <functional>

#include <QDockWidget>
#include <QPointer>

class EventLogStore;
class QAbstractItemModel;
class QComboBox;
class QSqlQueryModel;
class QTableView;

// The event log as the teacher reads it: newest first, filtered by page and
// by kind, exported to CSV. It reads the store only while it is open.
class EventLogDock final : public QDockWidget
{
    Q_OBJECT
    Q_DISABLE_COPY(EventLogDock)

public:
    explicit EventLogDock(EventLogStore* store, QWidget* parent = nullptr);

    QAbstractItemModel* model() const;
    // An empty page or kind 0: all.
    void setFilter(const QString& page, int kind);
    // A page renamed: chosen in the filter, it stays chosen under its new
    // name (its older rows keep the old one).
    void followRename(const QString& from, const QString& to);
    // The pages as the tabs show them: the filter offers them first, in this
    // order, then the names the log holds from before.
    void setCurrentPages(std::function<QStringList()> names) { current_pages = std::move(names); }

public slots:
    void refresh();
    void exportCsv();

signals:
    // A line for the status bar.
    void sg_message(const QString& text);
    // The teacher opened or closed it (not the window going away).
    void sg_opened(bool open);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void refreshPages();
    std::function<QStringList()> current_pages;
    // Lets go of the rows read, and with them the store's connection.
    void detach();
    QString pageFilter() const;
    int kindFilter() const;

    // Gone before the dock when the window closes.
    QPointer<EventLogStore> store;
    QComboBox* page_filter = nullptr;
    QComboBox* kind_filter = nullptr;
    QTableView* table = nullptr;
    QSqlQueryModel* rows = nullptr;
    // Rows were written since the view last read them.
    bool stale = false;
};
