#include "ui/histogramview.h"

#include <QLineF>
#include <QMouseEvent>
#include <QPainter>

#include <algorithm>
#include <cmath>

#include "render/windowchoice.h"
#include "ui/slicesctrl.h"

namespace {
constexpr int fineBins = 256;
}

HistogramView::HistogramView(SlicesCtrl *panel, QWidget *parent) : QWidget(parent), panel_(panel)
{
    setMinimumSize(320, 160);
    setToolTip(tr("Histogram of the set's values in its units; drag a red line to move a window end, and under "
                  "Composite a blue point to shape the opacity"));
    recount();
}

QSize HistogramView::sizeHint() const
{
    return QSize(640, 280);
}

void HistogramView::recount()
{
    SliceDatas::ReadGuard guard(panel_->sliceDatas);
    counts_ = render::valueHistogram(panel_->sliceDatas, fineBins);
    countedLow_ = panel_->sliceDatas.minV;
    countedHigh_ = panel_->sliceDatas.maxV;
    update();
}

QRect HistogramView::plotRect() const
{
    const int axis = fontMetrics().height() + 8;
    return rect().adjusted(8, 8, -8, -axis);
}

double HistogramView::valueAt(double x) const
{
    const QRect r = plotRect();
    const double lo = panel_->rMinV(), hi = panel_->rMaxV();
    return lo + (x - r.left()) / std::max(1, r.width()) * (hi - lo);
}

double HistogramView::columnOf(double value) const
{
    const QRect r = plotRect();
    const double lo = panel_->rMinV(), hi = panel_->rMaxV();
    return r.left() + (value - lo) / (hi - lo) * r.width();
}

void HistogramView::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.fillRect(rect(), Qt::white);
    const QRect r = plotRect();
    p.setPen(palette().color(QPalette::Mid));
    p.drawRect(r.adjusted(0, 0, -1, -1));
    const qint64 most = counts_.empty() ? 0 : *std::max_element(counts_.begin(), counts_.end());
    const bool log = panel_->logHist_ && panel_->logHist_->isChecked();
    if (most > 0 && countedHigh_ > countedLow_) {
        // Each bin where its values lie on the axis of the colour scale.
        const double binWidth = (countedHigh_ - countedLow_) / double(counts_.size());
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(0, 220, 160));
        for (size_t i = 0; i < counts_.size(); ++i) {
            const double share =
                log ? std::log1p(double(counts_[i])) / std::log1p(double(most)) : double(counts_[i]) / double(most);
            const double x0 = columnOf(countedLow_ + double(i) * binWidth);
            const double x1 = columnOf(countedLow_ + double(i + 1) * binWidth);
            const double top = r.bottom() - share * (r.height() - 1);
            p.drawRect(QRectF(x0, top, std::max(1.0, x1 - x0), r.bottom() - top));
        }
    }
    // The axis in the set's units.
    p.setPen(palette().color(QPalette::Text));
    const int labelWidth = fontMetrics().horizontalAdvance(QStringLiteral("-88888.8")) + 8;
    for (double t : render::axisTicks(panel_->rMinV(), panel_->rMaxV(), std::max(2, r.width() / labelWidth))) {
        const int x = int(columnOf(t));
        p.drawLine(x, r.bottom(), x, r.bottom() + 3);
        const QString text = QString::number(t, 'g', 6);
        const int w = fontMetrics().horizontalAdvance(text);
        p.drawText(std::clamp(x - w / 2, 0, width() - w), r.bottom() + 4 + fontMetrics().ascent(), text);
    }
    p.setPen(QPen(QColor(255, 0, 0)));
    for (double v : {panel_->minThV(), panel_->maxThV()}) {
        const double x = columnOf(v);
        if (std::fabs(x) < 1e9)
            p.drawLine(QPointF(x, r.top()), QPointF(x, r.bottom()));
    }
    if (panel_->projection() != Projection::Composite)
        return;
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(0, 0, 200), 1.5));
    p.setBrush(QColor(0, 0, 200));
    QPointF last;
    for (int i = 0; i < OpacityCurve::count; ++i) {
        const QPointF pt = curvePoint(i);
        if (std::fabs(pt.x()) > 1e9)
            return;
        if (i > 0)
            p.drawLine(last, pt);
        p.drawEllipse(pt, 3.5, 3.5);
        last = pt;
    }
}

QPointF HistogramView::curvePoint(int i) const
{
    const QRect r = plotRect();
    const double lo = panel_->minThV(), hi = panel_->maxThV();
    const double x = columnOf(lo + (hi - lo) * i / (OpacityCurve::count - 1));
    return QPointF(x, r.bottom() - panel_->opacityCurve().points[size_t(i)] * (r.height() - 1));
}

void HistogramView::mousePressEvent(QMouseEvent *e)
{
    if (e->button() != Qt::LeftButton)
        return;
    const double x = e->position().x();
    if (panel_->projection() == Projection::Composite) {
        for (int i = 0; i < OpacityCurve::count; ++i)
            if (QLineF(curvePoint(i), e->position()).length() <= 8.0) {
                dragPoint_ = i;
                return;
            }
    }
    dragLine_ = std::fabs(columnOf(panel_->maxThV()) - x) <= std::fabs(columnOf(panel_->minThV()) - x) ? 1 : 0;
    mouseMoveEvent(e);
}

void HistogramView::mouseMoveEvent(QMouseEvent *e)
{
    if (dragPoint_ >= 0 && (e->buttons() & Qt::LeftButton)) {
        const QRect r = plotRect();
        OpacityCurve c = panel_->opacityCurve();
        c.points[size_t(dragPoint_)] = std::clamp((r.bottom() - e->position().y()) / (r.height() - 1), 0.0, 1.0);
        panel_->setOpacityCurve(c);
        update();
        return;
    }
    if (dragLine_ < 0 || !(e->buttons() & Qt::LeftButton))
        return;
    const double v = valueAt(e->position().x());
    if (dragLine_ == 0)
        panel_->setMinThV(v, false);
    else
        panel_->setMaxThV(v, false);
    update();
}

void HistogramView::mouseReleaseEvent(QMouseEvent *)
{
    dragLine_ = -1;
    dragPoint_ = -1;
}
