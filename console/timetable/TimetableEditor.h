#pragma once

#include "model/Timetable.h"

#include <QDialog>
#include <QStringList>

class QCheckBox;
class QComboBox;
class QSpinBox;
class QTableWidget;

// "课表": one page's week as a grid (rows: start times, columns: 一..日),
// its lessons added, edited and deleted, and the page's two options. An
// overlapping lesson is refused with a message naming both; one that ends
// before it starts is asked about and shows its end as the next day's.
// Cancelled with changes, it asks whether to keep them.
class TimetableEditor final : public QDialog
{
    Q_OBJECT

public:
    TimetableEditor(const QString& page, const Timetable& timetable, const QStringList& modeNames,
                    QWidget* parent = nullptr);

    QString page() const { return page_name; }
    // The week as edited, options included.
    Timetable timetable() const;

    // A new lesson's weekday when no day's cell is chosen.
    void setToday(int weekday) { today = weekday; }
    // False, with the teacher told why, when it overlaps another lesson or
    // starts as it ends; false too when its end lies before its start and
    // the teacher does not mean the next day.
    bool addLesson(const TimetableLesson& lesson);
    bool replaceLesson(int index, const TimetableLesson& lesson);
    void removeLesson(int index);
    // The lesson in the grid's current cell; -1 for an empty cell.
    int currentLesson() const;
    QTableWidget* grid() const { return table; }

    static QString endText(const TimetableLesson& lesson);

public slots:
    // With changes: 保存 keeps them, 放弃 drops them, 取消 stays.
    void reject() override;

private:
    void rebuildGrid();
    // The lesson dialog; false when cancelled.
    bool askLesson(TimetableLesson& lesson, const QString& title);
    void addInteractive(int weekday);
    void editInteractive();

    QString page_name;
    const Timetable original;
    Timetable week;
    int today = 1;
    QStringList modes;
    QTableWidget* table = nullptr;
    QCheckBox* wake_box = nullptr;
    QSpinBox* wake_minutes = nullptr;
    QCheckBox* lock_box = nullptr;
    QComboBox* lock_kind = nullptr;
};
