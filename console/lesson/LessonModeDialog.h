#pragma once

#include <QDialog>

class LessonModes;
class QLabel;
class QListWidget;
class QPushButton;

// "管理课堂模式": the saved modes with what each sets, renamed or deleted.
class LessonModeDialog final : public QDialog
{
    Q_OBJECT

public:
    LessonModeDialog(LessonModes& modes, QWidget* parent);

    void renameSelected();
    void deleteSelected();

private:
    void reload(const QString& select);
    void showSelected();

    LessonModes& modes;
    QListWidget* list = nullptr;
    QLabel* summary = nullptr;
    QPushButton* rename_button = nullptr;
    QPushButton* delete_button = nullptr;
};
