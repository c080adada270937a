#pragma once

#include "model/Timetable.h"
#include "timetable/LessonActions.h"

#include <QDateTime>
#include <QMap>
#include <QObject>
#include <QString>

#include <functional>

class QTimer;
class TimetableStore;

// Runs the pages' weeks while the console runs: at each start and end the
// change is applied once, and after a pause (start-up, sleep, a clock set
// by hand) only what is due now, never the changes missed one by one. Which
// change wins is LockPrecedence's: the teacher's stands until the page's next
// scheduled change, and a week saved applies nothing. A lesson's end puts
// back what its start changed beyond the lock.
class TimetableRunner final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(TimetableRunner)

public:
    using Clock = std::function<QDateTime()>;
    // Milliseconds that pass as the wall clock should, whatever it is set to.
    using Monotonic = std::function<qint64()>;
    static constexpr int TickMs = 1000;
    // More between wall clock and elapsed time than this is a jump or a sleep.
    static constexpr qint64 JumpMs = 60 * 1000;

    explicit TimetableRunner(LessonActions actions, QObject* parent = nullptr);

    // Tests drive both clocks and call tick() themselves.
    void setClock(Clock wall, Monotonic monotonic);
    QDateTime now() const;
    void setActions(LessonActions actions_) { actions = std::move(actions_); }
    const LessonActions& lessonActions() const { return actions; }
    // Where the weeks are kept; without one (or unopened) they last this run.
    void setStore(TimetableStore* store);

    // Reads the weeks, applies what is due now and ticks from then on; once.
    void start();
    bool isStarted() const { return started; }

    Timetable timetable(const QString& page) const { return weeks.value(page); }
    // Keeps the page's new week and applies what it makes due now.
    void setTimetable(const QString& page, const Timetable& timetable);
    void renamePage(const QString& from, const QString& to);
    // The page's group was deleted: its week goes, here and in the store.
    void removePage(const QString& page);
    // The teacher changed the page; it stands until the page's next scheduled change.
    void noteManualChange(const QString& page);
    bool manualUntilNextChange(const QString& page) const;
    Timetable::Change nextChange(const QString& page) const;
    // What the starts changed beyond the lock on a page whose lesson has not ended.
    BeforeLesson beforeLesson(const QString& page) const { return befores.value(page); }

    // "课表：周一 08:00–08:45".
    static QString logKindText(const TimetableLesson& lesson);

public slots:
    void tick();

signals:
    // A change applied or a week replaced: the next change may differ.
    void sg_changed();
    // A lesson starts on the page (before what its start applies), or has
    // ended (after what its end applied).
    void sg_lesson(const QString& page, bool started, const QString& lessonText);

private:
    void apply(const QString& page, const Timetable::Change& change);
    void markApplied(const QString& page, const QDateTime& at);
    // What is due now, unless it is applied already or the teacher's own
    // change still stands.
    void catchUp(const QString& page, const QDateTime& at);
    void wakeIfDue(const QString& page, const QDateTime& at);

    LessonActions actions;
    Clock clock;
    Monotonic monotonic;
    TimetableStore* store = nullptr;
    QTimer* ticker = nullptr;
    bool started = false;
    QMap<QString, Timetable> weeks;
    // The instant of the change last applied, UTC ms; kept across restarts.
    QMap<QString, qint64> applied;
    // The page's next scheduled change when the teacher last changed it.
    QMap<QString, QDateTime> manual_until;
    QMap<QString, BeforeLesson> befores;
    QMap<QString, qint64> woken;
    QDateTime last_wall;
    qint64 last_monotonic = 0;
};
