#pragma once

#include <QDialog>
#include <QStringList>

#include <memory>

namespace Ui {
class Dialog_moveinto_grpClass;
}

// Lets the teacher pick the group a machine goes into.
class Dialog_moveinto_grp final : public QDialog
{
    Q_OBJECT

public:
    explicit Dialog_moveinto_grp(QWidget* parent = nullptr);
    ~Dialog_moveinto_grp() override;

    // Fills the choice; the first name is current.
    void setGroupNames(const QStringList& names);

    QString chosen_group;

private:
    std::unique_ptr<Ui::Dialog_moveinto_grpClass> ui;
};
