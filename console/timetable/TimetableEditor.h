#pragma once

#include "Timetable.h"

#include <QDialog>
#include <QStringList>

class QCheckBox;
class QComboBox;
class QSpinBox;
class QTableWidget;

// "课表": one page's week as a grid (rows: start times, columns: 一..日),
// its lessons added, edited and deleted, and the page's two options. An
// overlapping lesson is refused with a message naming both.
class TimetableEditor final : public QDialog
{
    Q_OBJECT

public:
    TimetableEditor(const QString& page, const Timetable& timetable, const QStringList& modeNames,
                    QWidget* parent = nullptr);

    QString page() const { return page_name; }
    // The week as edited, options included.
    Timetable timetable() const;

    // False, with the teacher told why, when it overlaps another lesson.
    bool addLesson(const TimetableLesson& lesson);
    bool replaceLesson(int index, const TimetableLesson& lesson);
    void removeLesson(int index);
    // The lesson in the grid's current cell; -1 for an empty cell.
    int currentLesson() const;
    QTableWidget* grid() const { return table; }

    static QString endText(const TimetableLesson& lesson);

private:
    void rebuildGrid();
    // The lesson dialog; false when cancelled.
    bool askLesson(TimetableLesson& lesson, const QString& title);
    void addInteractive();
    void editInteractive();

    QString page_name;
    Timetable week;
    QStringList modes;
    QTableWidget* table = nullptr;
    QCheckBox* wake_box = nullptr;
    QSpinBox* wake_minutes = nullptr;
    QCheckBox* lock_box = nullptr;
    QComboBox* lock_kind = nullptr;
};
