#pragma once

#include <QHeaderView>
#include <QSet>

// Horizontal header that lets only the columns in sortableColumns react to
// clicks, so a click on any other column neither sorts nor moves the sort
// indicator.
class QRokColumnHeaderView final : public QHeaderView
{
    Q_OBJECT

public:
    explicit QRokColumnHeaderView(Qt::Orientation orientation, QWidget* parent = nullptr);
    ~QRokColumnHeaderView() override;

    QSet<int> sortableColumns;

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void blockClicksUnlessSortable(const QMouseEvent* event);
};
