#pragma once

#include <QDialog>
#include <functional>

class LessonRecordStore;
class QCheckBox;
class QComboBox;
class QDateEdit;
class QtRokTableView;

// "课堂记录...": the past records by room and date, newest first; a
// double-click or "打开" shows one as a readable page.
class LessonRecordsDialog final : public QDialog
{
    Q_OBJECT
    Q_DISABLE_COPY(LessonRecordsDialog)

public:
    LessonRecordsDialog(LessonRecordStore& store, std::function<qint64()> now, QWidget* parent);

    QtRokTableView* table() const { return list; }
    QComboBox* roomFilter() const { return rooms; }
    QCheckBox* dayFilterOn() const { return by_day; }
    QDateEdit* dayFilter() const { return day; }
    // Reads the list again with the filters.
    void reload();
    // The page of the record on `row`, opened beside the list; null when none.
    class LessonRecordPage* openRow(int row);

private:
    LessonRecordStore& store;
    std::function<qint64()> now;
    QComboBox* rooms = nullptr;
    QCheckBox* by_day = nullptr;
    QDateEdit* day = nullptr;
    QtRokTableView* list = nullptr;
};
