#include "groups/Dialog_moveinto_grp.h"

#include "ui_Dialog_moveinto_grp.h"

Dialog_moveinto_grp::Dialog_moveinto_grp(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowCloseButtonHint)
    , ui(std::make_unique<Ui::Dialog_moveinto_grpClass>())
{
    ui->setupUi(this);
    setFixedSize(size());
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);

    connect(ui->comboBox, &QComboBox::currentTextChanged, this, [this](const QString& text) { chosen_group = text; });
    connect(ui->pushButton_ok, &QPushButton::clicked, this, [this] {
        if (!chosen_group.isEmpty())
            accept();
    });
    connect(ui->pushButton_cancel, &QPushButton::clicked, this, &QDialog::reject);
}

Dialog_moveinto_grp::~Dialog_moveinto_grp() = default;

void Dialog_moveinto_grp::setGroupNames(const QStringList& names)
{
    ui->comboBox->clear();
    ui->comboBox->addItems(names);
    chosen_group = ui->comboBox->currentText();
}
