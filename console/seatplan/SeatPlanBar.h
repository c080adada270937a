#pragma once

#include <QWidget>

class QLabel;
class QSlider;
class QToolButton;
class SeatPlanView;

// The strip under a page's seat plan: the button that brings the policy
// list back while the plan is shown, and the plan's zoom (fit the width,
// smaller, a slider, larger).
class SeatPlanBar final : public QWidget
{
    Q_OBJECT

public:
    explicit SeatPlanBar(SeatPlanView* plan, QWidget* parent = nullptr);

    // "全部" has no policy list.
    void setPolicyListButtonShown(bool shown);
    void setPolicyListShown(bool shown);
    QToolButton* policyListButton() const { return policy_button; }

signals:
    void sg_policy_list_toggled(bool shown);

private:
    void showZoom();

    SeatPlanView* plan;
    QToolButton* policy_button = nullptr;
    QToolButton* fit_button = nullptr;
    QSlider* slider = nullptr;
    QLabel* percent = nullptr;
};
