#include "seatplan/SeatPlanBar.h"

#include "seatplan/SeatPlanView.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QSignalBlocker>
#include <QSlider>
#include <QToolButton>

SeatPlanBar::SeatPlanBar(SeatPlanView* plan_, QWidget* parent)
    : QWidget(parent)
    , plan(plan_)
{
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 2, 0, 0);
    layout->setSpacing(2);

    policy_button = new QToolButton(this);
    policy_button->setObjectName(QStringLiteral("seat_plan_policy_list"));
    policy_button->setText(QStringLiteral("策略列表"));
    policy_button->setCheckable(true);
    policy_button->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    policy_button->setAutoRaise(true);
    layout->addWidget(policy_button);
    layout->addStretch(1);

    fit_button = new QToolButton(this);
    fit_button->setObjectName(QStringLiteral("seat_plan_fit"));
    fit_button->setText(QStringLiteral("适应宽度"));
    fit_button->setCheckable(true);
    fit_button->setAutoRaise(true);
    auto* smaller = new QToolButton(this);
    smaller->setText(QStringLiteral("−"));
    smaller->setToolTip(QStringLiteral("缩小"));
    smaller->setAutoRaise(true);
    auto* larger = new QToolButton(this);
    larger->setText(QStringLiteral("+"));
    larger->setToolTip(QStringLiteral("放大"));
    larger->setAutoRaise(true);
    slider = new QSlider(Qt::Horizontal, this);
    slider->setObjectName(QStringLiteral("seat_plan_zoom"));
    slider->setRange(SeatPlanView::MinZoom, SeatPlanView::MaxZoom);
    slider->setSingleStep(SeatPlanView::ZoomStep);
    slider->setPageStep(SeatPlanView::ZoomStep * 5);
    slider->setFixedWidth(120);
    slider->setToolTip(QStringLiteral("机位图大小（Ctrl + 滚轮）"));
    percent = new QLabel(this);
    percent->setMinimumWidth(percent->fontMetrics().horizontalAdvance(QStringLiteral("250 %")));
    percent->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    for (QWidget* part : std::initializer_list<QWidget*> { fit_button, smaller, slider, larger, percent })
        layout->addWidget(part);

    connect(policy_button, &QToolButton::toggled, this, [this](bool shown) {
        policy_button->setArrowType(shown ? Qt::DownArrow : Qt::UpArrow);
        emit sg_policy_list_toggled(shown);
    });
    connect(fit_button, &QToolButton::clicked, this,
        [this](bool fit) { plan->setZoom(fit ? SeatPlanView::FitZoom : plan->scalePercent()); });
    connect(
        smaller, &QToolButton::clicked, this, [this] { plan->setZoom(plan->scalePercent() - SeatPlanView::ZoomStep); });
    connect(
        larger, &QToolButton::clicked, this, [this] { plan->setZoom(plan->scalePercent() + SeatPlanView::ZoomStep); });
    connect(slider, &QSlider::valueChanged, this, [this](int value) { plan->setZoom(value); });
    connect(plan, &SeatPlanView::sg_zoom_changed, this, &SeatPlanBar::showZoom);
    connect(plan, &SeatPlanView::sg_scale_changed, this, &SeatPlanBar::showZoom);
    policy_button->setArrowType(Qt::UpArrow);
    showZoom();
}

void SeatPlanBar::setPolicyListButtonShown(bool shown)
{
    policy_button->setVisible(shown);
}

void SeatPlanBar::setPolicyListShown(bool shown)
{
    const QSignalBlocker quiet(policy_button);
    policy_button->setChecked(shown);
    policy_button->setArrowType(shown ? Qt::DownArrow : Qt::UpArrow);
}

void SeatPlanBar::showZoom()
{
    const QSignalBlocker quiet(slider);
    slider->setValue(plan->scalePercent());
    fit_button->setChecked(plan->zoom() == SeatPlanView::FitZoom);
    percent->setText(QStringLiteral("%1 %").arg(plan->scalePercent()));
}
