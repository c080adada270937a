#include "groups/Dialog_addgroup.h"

#include "dialogs/MessageBox.h"
#include "model/CStudentGroup.h"
#include "ui_Dialog_addgroup.h"

Dialog_addgroup::Dialog_addgroup(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowCloseButtonHint)
    , ui(std::make_unique<Ui::Dialog_addgroupClass>())
{
    ui->setupUi(this);
    setFixedSize(size());
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    group_order_input = ui->spinBox->value();

    connect(ui->lineEdit, &QLineEdit::textChanged, this, &Dialog_addgroup::onNameEdited);
    connect(ui->spinBox, QOverload<int>::of(&QSpinBox::valueChanged), this,
            [this](int value) { group_order_input = value; });
    connect(ui->pushButton_ok, &QPushButton::clicked, this, &Dialog_addgroup::onOkClicked);
    connect(ui->pushButton_cancel, &QPushButton::clicked, this, &QDialog::reject);
}

Dialog_addgroup::~Dialog_addgroup() = default;

void Dialog_addgroup::setTakenNames(const QStringList& names)
{
    taken_names = names;
}

void Dialog_addgroup::setOrder(int order)
{
    ui->spinBox->setValue(order);
}

void Dialog_addgroup::setRenaming(const QString& current)
{
    const QString title = QStringLiteral("重命名分组");
    setWindowTitle(title);
    ui->label_3->setText(title);
    ui->label_2->hide();
    ui->spinBox->hide();
    ui->lineEdit->setText(current);
    ui->lineEdit->selectAll();
}

void Dialog_addgroup::onNameEdited(const QString& text)
{
    group_name_input = CStudentGroup::normalisedName(text);
}

void Dialog_addgroup::onOkClicked()
{
    QString problem;
    if (group_name_input.isEmpty())
        problem = QStringLiteral("请输入分组名称！");
    else if (CStudentGroup::isReservedName(group_name_input))
        problem = QStringLiteral("“%1”是系统保留的名称，请换一个分组名称！").arg(group_name_input);
    else if (taken_names.contains(group_name_input))
        problem = QStringLiteral("分组“%1”已经存在，请换一个分组名称！").arg(group_name_input);

    if (problem.isEmpty()) {
        accept();
        return;
    }
    MessageBox::critical(this, QStringLiteral("错误"), problem, QMessageBox::Ok);
    ui->lineEdit->setFocus();
}
