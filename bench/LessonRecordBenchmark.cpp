#include "LessonRecordBenchmark.h"

#include "Percentiles.h"
#include "ProcessUsage.h"
#include "lesson/LessonRecordPage.h"
#include "lesson/LessonRecordReport.h"
#include "storage/EventLogStore.h"
#include "storage/LessonRecordStore.h"

#include <QApplication>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QTemporaryDir>
#include <QTextBrowser>
#include <QTextDocument>

namespace {

constexpr int Machines = 200;
constexpr int Events = 2000;
constexpr qint64 Minute = 60 * 1000;



// 200 machines in 10 rows of 20 seats; 2,000 events over 90 minutes: each a
// machine off line (while locked every other time) and back, with a command,
// a lock change and a "安全" row every 50.
qint64 seed(LessonRecordStore& store, qint64 start)
{
    QList<LessonRecord::Machine> machines;
    for (int i = 0; i < Machines; ++i)
        machines << LessonRecord::Machine { quint64(0x5A0000000000ULL + quint64(i)), QStringLiteral("考场-%1").arg(i + 1, 3, 10, QLatin1Char('0')),
            QStringLiteral("10.2.%1.%2").arg(i / 250).arg(i % 250 + 1), QPoint(i % 20, i / 20), true };
    const qint64 id = store.begin(QStringLiteral("二号机房"), LessonRecord::Origin::Timetable,
        QStringLiteral("课表：周二 09:00–10:30"), start, machines);
    for (int i = 0; i < Events; ++i) {
        const qint64 at = start + qint64(i) * 90 * Minute / Events;
        const int m = i / 2 % Machines;
        LessonRecord::Event event { at, 0, machines.at(m).mac, machines.at(m).name, QString() };
        if (i % 50 == 49) {
            event = { at, EventLogStore::Security, 0, QString(),
                QStringLiteral("发现其他教师端（发往二号机房）：来源 10.2.9.%1（未核实，可能伪造）").arg(i % 250) };
        } else if (i % 50 == 24) {
            event = { at, LessonRecord::LockChange, 0, QString(), QStringLiteral("黑屏锁定（来源：教师）") };
        } else if (i % 2 == 0) {
            event.kind = EventLogStore::Offline;
            event.detail = i % 4 == 0 ? QStringLiteral("锁定中断开（黑屏锁定）") : QString();
        } else {
            event.kind = EventLogStore::Online;
        }
        store.addEvent(id, event);
    }
    machines[7].online = false;
    store.finish(id, start + 90 * Minute, machines);
    return id;
}

} // namespace

QJsonObject LessonRecordBenchmark::run(const BenchOptions& options)
{
    QJsonObject result;
    result.insert(QStringLiteral("bench"), QStringLiteral("lessonrecord"));
    QTemporaryDir dir;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("bench-records"));
        db.setDatabaseName(dir.filePath(QStringLiteral("data.sqlite3")));
        LessonRecordStore store;
        if (!db.open() || !store.open(db)) {
            result.insert(QStringLiteral("error"), QStringLiteral("cannot open the database"));
            return result;
        }
        const qint64 start = QDateTime::currentMSecsSinceEpoch() - 2 * 60 * Minute;
        const qint64 id = seed(store, start);
        const int rounds = std::max(options.repeats, 5);
        Percentiles pdf, page, load, fill, layout;
        qint64 pdfBytes = 0;
        for (int round = 0; round < rounds; ++round) {
            const int64_t pdfStart = ProcessUsage::monotonicNs();
            const LessonRecord record = store.load(id);
            QString error;
            const QString path = dir.filePath(QStringLiteral("record.pdf"));
            if (!LessonRecordReport::writePdf(record, start + 90 * Minute, path, &error)) {
                result.insert(QStringLiteral("error"), error);
                return result;
            }
            pdf.add(ProcessUsage::msSince(pdfStart));
            pdfBytes = QFileInfo(path).size();

            // From the list's double-click to the page on screen.
            const int64_t openStart = ProcessUsage::monotonicNs();
            const LessonRecord again = store.load(id);
            load.add(ProcessUsage::msSince(openStart));
            auto* shown = new LessonRecordPage(again, start + 90 * Minute, nullptr);
            shown->show();
            // What the teacher sees first: the page laid out as far as the
            // window shows it, and painted; the rest follows as it scrolls.
            QApplication::processEvents();
            shown->grab();
            page.add(ProcessUsage::msSince(openStart));
            delete shown;
            // Where the time goes: the document built, then laid out whole.
            const int64_t fillStart = ProcessUsage::monotonicNs();
            QTextDocument document;
            LessonRecordReport::fill(document, again, start + 90 * Minute);
            fill.add(ProcessUsage::msSince(fillStart));
            const int64_t layoutStart = ProcessUsage::monotonicNs();
            document.setTextWidth(800);
            document.size();
            layout.add(ProcessUsage::msSince(layoutStart));
            QApplication::processEvents();
        }
        // ROK_BENCH_RECORD_PDF=FILE keeps the PDF to look at.
        const QString keep = qEnvironmentVariable("ROK_BENCH_RECORD_PDF");
        if (!keep.isEmpty()) {
            QFile::remove(keep);
            QFile::copy(dir.filePath(QStringLiteral("record.pdf")), keep);
        }
        result.insert(QStringLiteral("machines"), Machines);
        result.insert(QStringLiteral("events"), store.load(id).events.size());
        result.insert(QStringLiteral("rounds"), rounds);
        result.insert(QStringLiteral("pdf"), pdf.figures());
        result.insert(QStringLiteral("pdf_bytes"), pdfBytes);
        result.insert(QStringLiteral("page_open"), page.figures());
        result.insert(QStringLiteral("load"), load.figures());
        result.insert(QStringLiteral("fill"), fill.figures());
        result.insert(QStringLiteral("layout"), layout.figures());
        store.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("bench-records"));
    return result;
}
