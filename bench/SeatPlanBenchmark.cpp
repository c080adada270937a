#include "SeatPlanBenchmark.h"

#include "model/Rok_Lock_State.h"
#include "pages/QStudentGroupWidget.h"
#include "tableview/QtRokTableView.h"
#include "Percentiles.h"
#include "ProcessUsage.h"
#include "seatplan/SeatPlanView.h"

#include <QApplication>
#include <QItemSelection>
#include <QItemSelectionModel>
#include <QScrollArea>
#include <memory>

namespace {

constexpr int Repeats = 15;

// Paints what the scroll area shows of the tiles, into a pixmap: the same
// paint events as on screen, whether or not the platform exposes the window.
void paintShown(QScrollArea* area, SeatPlanView* view)
{
    const QRect shown(view->mapFrom(area->viewport(), QPoint(0, 0)), area->viewport()->size());
    view->grab(shown);
}



// The table as the teacher sees it while selecting: every other row
// selected (Ctrl-clicks, the most ranges a selection holds), the lock column
// filled (every other room locked), then every machine changes state.
void tableUpdates(const QList<CStuInfo_PTR>& records, bool showAll, Percentiles& update, Percentiles& refreshOnly)
{
    for (int round = 0; round < Repeats; ++round) {
        auto page = std::make_unique<QStudentGroupWidget>(nullptr, QStringLiteral("bench"));
        page->setShowAll(showAll);
        page->resize(880, 620);
        QHash<quint64, int> locks;
        for (int i = 0; i < records.size(); ++i)
            locks.insert(records.at(i)->ullmac, (i / 100) % 2 ? int(Rok_Lock_State::BlackLock) : 0);
        page->setLockSource([locks](quint64 mac) { return locks.value(mac); });
        page->setMachines(records);
        page->show();
        QApplication::processEvents();

        QtRokTableView* table = page->machine_table;
        QItemSelection selection;
        const int columns = table->model()->columnCount();
        for (int row = 0; row < table->model()->rowCount(); row += 2)
            selection.select(table->model()->index(row, 0), table->model()->index(row, columns - 1));
        table->selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect);
        QApplication::processEvents();

        for (const CStuInfo_PTR& record : records) {
            if (record->online.load())
                record->markDead();
            else
                record->markAlive();
        }
        const int64_t start = ProcessUsage::monotonicNs();
        page->refreshAllRows();
        refreshOnly.add(ProcessUsage::msSince(start));
        table->viewport()->grab();
        update.add(ProcessUsage::msSince(start));
    }
}

QJsonObject runFor(int machines)
{
    QList<CStuInfo_PTR> records;
    for (int i = 0; i < machines; ++i) {
        auto record = std::make_shared<CStuInfo>();
        record->ullmac = 0x5A0000000001ULL + quint64(i);
        record->hostname = QStringLiteral("PC-%1").arg(i + 1, 4, 10, QLatin1Char('0'));
        record->ip = QStringLiteral("10.%1.%2.%3").arg(i / 65536).arg(i / 256 % 256).arg(i % 256);
        record->group_name = QStringLiteral("机房%1").arg(i / 100 + 1, 2, 10, QLatin1Char('0'));
        records << record;
    }

    Percentiles build;
    Percentiles update;
    Percentiles tilesOnly;
    Percentiles repaint;
    int tiles = 0;
    for (int round = 0; round < Repeats; ++round) {
        // A page of the window's size, as the console shows it.
        auto page = std::make_unique<QStudentGroupWidget>(nullptr, QStringLiteral("bench"));
        page->setShowAll(machines > 200);
        page->resize(880, 620);
        page->setMachines(records);
        page->show();
        QApplication::processEvents();

        SeatPlanView* view = page->seatPlan();
        auto* area = qobject_cast<QScrollArea*>(view->parentWidget()->parentWidget());
        int64_t start = ProcessUsage::monotonicNs();
        page->setSeatPlanShown(true);
        // The layout gives the scroll area its size.
        QApplication::sendPostedEvents();
        view->sync();
        paintShown(area, view);
        build.add(ProcessUsage::msSince(start));
        tiles = view->tileCount();

        // Every machine on line (or off again) at once, as after a network
        // outage; the table's refresh writes the state cells.
        for (const CStuInfo_PTR& record : qAsConst(records)) {
            if (round % 2 == 0)
                record->markAlive();
            else
                record->markDead();
        }
        start = ProcessUsage::monotonicNs();
        page->refreshAllRows();
        const int64_t tilesStart = ProcessUsage::monotonicNs();
        view->sync();
        paintShown(area, view);
        tilesOnly.add(ProcessUsage::msSince(tilesStart));
        update.add(ProcessUsage::msSince(start));

        start = ProcessUsage::monotonicNs();
        paintShown(area, view);
        repaint.add(ProcessUsage::msSince(start));
    }

    QJsonObject json;
    json.insert(QStringLiteral("machines"), machines);
    json.insert(QStringLiteral("tiles"), tiles);
    json.insert(QStringLiteral("build"), build.figures());
    json.insert(QStringLiteral("state_update"), update.figures());
    json.insert(QStringLiteral("state_update_tiles"), tilesOnly.figures());
    json.insert(QStringLiteral("repaint"), repaint.figures());
    Percentiles tableUpdate;
    Percentiles tableRefresh;
    tableUpdates(records, machines > 200, tableUpdate, tableRefresh);
    json.insert(QStringLiteral("table_update"), tableUpdate.figures());
    json.insert(QStringLiteral("table_update_rows"), tableRefresh.figures());
    return json;
}

} // namespace

QJsonObject SeatPlanBenchmark::run(const BenchOptions& options)
{
    QJsonObject result;
    result.insert(QStringLiteral("bench"), QStringLiteral("seatplan"));
    result.insert(QStringLiteral("room"), runFor(200));
    result.insert(QStringLiteral("all"), runFor(options.agents));
    return result;
}
