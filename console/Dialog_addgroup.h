#pragma once

#include <QDialog>

#include <memory>

namespace Ui {
class Dialog_addgroupClass;
}

// Asks for the name and tab order of a new group.
class Dialog_addgroup final : public QDialog
{
    Q_OBJECT

public:
    explicit Dialog_addgroup(QWidget* parent = nullptr);
    ~Dialog_addgroup() override;

    QString group_name_input;
    int group_order_input = 1;

    // Names the console keeps for its own pages.
    static bool isReservedName(const QString& name);
    // A typed or imported group name as it is kept: no quote marks, no
    // surrounding blanks.
    static QString normalisedName(QString text);

private:
    void onNameEdited(const QString& text);
    void onOkClicked();

    std::unique_ptr<Ui::Dialog_addgroupClass> ui;
};
