#ifndef HISTOGRAMVIEW_H
#define HISTOGRAMVIEW_H

#include <QWidget>

#include <vector>

class SlicesCtrl;

// The larger histogram of one panel's set, shown on demand in a window of its own:
// fine bins over the set's value range, an axis in the set's units, and the
// display window as two red lines that can be dragged, as on the panel's
// histogram; under Composite also the opacity curve over the window, whose points
// are dragged up and down. Owned by its dialog, which the panel owns; GUI thread.
class HistogramView : public QWidget
{
    Q_OBJECT
public:
    explicit HistogramView(SlicesCtrl *panel, QWidget *parent = nullptr);

    // Counts the set's values again (after a load).
    void recount();
    QSize sizeHint() const override;

    // The plot's value at pixel column x and back, over the range of the panel's
    // colour scale.
    double valueAt(double x) const;
    double columnOf(double value) const;

protected:
    void paintEvent(QPaintEvent *e) override;
    void mousePressEvent(QMouseEvent *e) override;
    void mouseMoveEvent(QMouseEvent *e) override;
    void mouseReleaseEvent(QMouseEvent *e) override;

private:
    QRect plotRect() const;
    // Point i of the opacity curve on the plot, over the window.
    QPointF curvePoint(int i) const;

    SlicesCtrl *panel_;
    std::vector<qint64> counts_;
    double countedLow_ = 0.0, countedHigh_ = 0.0;  // the range the counts cover
    int dragLine_ = -1;  // 0 lower, 1 upper window end
    int dragPoint_ = -1;  // a point of the opacity curve
};

#endif
