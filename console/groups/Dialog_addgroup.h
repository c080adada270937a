#pragma once

#include <QDialog>
#include <QStringList>

#include <memory>

namespace Ui {
class Dialog_addgroupClass;
}

// Asks for the name and tab order of a new group, or for the new name of
// one (the same rules for the name).
class Dialog_addgroup final : public QDialog
{
    Q_OBJECT

public:
    explicit Dialog_addgroup(QWidget* parent = nullptr);
    ~Dialog_addgroup() override;

    QString group_name_input;
    int group_order_input = 1;

    // Names of the groups that exist; the dialog refuses them as it does
    // the reserved ones, so the teacher can choose again.
    void setTakenNames(const QStringList& names);
    // The order offered.
    void setOrder(int order);
    // Asks for group `current`'s new name instead; the order is not asked.
    void setRenaming(const QString& current);

private:
    void onNameEdited(const QString& text);
    void onOkClicked();

    std::unique_ptr<Ui::Dialog_addgroupClass> ui;
    QStringList taken_names;
};
