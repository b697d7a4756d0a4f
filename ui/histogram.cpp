#include "ui/slicesctrl.h"

#include <QCheckBox>
#include <QPainter>
#include <QPen>
#include <QRectF>

#include <cmath>

#include "widgets/chcoord.h"
#include "widgets/exlabel.h"
#include "widgets/mousec.h"

// The horizontal axis of the histogram display is the percentage of the
// panel's range, 0 at the left edge and 101 at the right edge of the label.
namespace {
void setPercentAxis(ChCoord *coord)
{
    coord->setRange(0, 0, 101, 1);
}

// A vertical line at pixel column x, truncated toward zero. A percentage that is
// not finite (a typed "inf", equal range fields) or far outside the label has no
// column: its line lies outside the label and is not drawn.
void drawThresholdLine(QPainter *p, double x, int h)
{
    if (!(std::fabs(x) < 1e9))
        return;
    const int column = static_cast<int>(x);
    p->drawLine(column, 0, column, h);
}
}  // namespace

// Paints the set's histogram picture stretched over dispH_ and the two red
// threshold lines; before the first successful load the label stays white.
void SlicesCtrl::drawHist(QPainter *p)
{
    const int w = dispH_->width();
    const int h = dispH_->height();
    p->fillRect(QRect(0, 0, w, h), QColor(255, 255, 255, 255));

    bool ready = false;
    QImage histPicture;
    int bins = 0;
    int picHeight = 0;
    QList<int> counts;
    double maxCount = 0.0;
    {
        SliceDatas::ReadGuard g(sliceDatas);
        ready = sliceDatas.histReady;
        if (ready) {
            histPicture = sliceDatas.histImage;  // shared copy, drawn after the lock is gone
            bins = sliceDatas.histBins;
            picHeight = sliceDatas.histHeight;
            counts = sliceDatas.hist;
            maxCount = sliceDatas.histMaxCount;
        }
    }
    if (!ready)
        return;
    if (logHist_ && logHist_->isChecked() && !histPicture.isNull() && counts.size() == bins && maxCount > 0.0) {
        // The same bars with log(1 + count) as their height, in the bars' own colour.
        const QRgb bar = histPicture.pixel(0, picHeight - 1);
        histPicture = QImage(bins, picHeight, QImage::Format_RGB32);
        histPicture.fill(qRgb(255, 255, 255));
        const int bottom = picHeight - 1;
        for (int i = 0; i < bins; ++i) {
            const int top = int(bottom - std::log1p(counts[i]) / std::log1p(maxCount) * bottom);
            for (int y = top; y <= bottom; ++y)
                histPicture.setPixel(i, y, bar);
        }
    }

    setPercentAxis(histCoord);
    p->drawImage(QRectF(0, 0, w, h), histPicture, QRectF(0, 0, bins - 1, picHeight - 1));

    p->setPen(QPen(QColor(255, 0, 0)));
    drawThresholdLine(p, histCoord->xToPix(minThPC()), h);
    drawThresholdLine(p, histCoord->xToPix(maxThPC()), h);
}

// A plain left press picks the nearer line; a press exactly between them, or
// on both at once, picks the upper one. Other buttons and Shift, Control or
// Alt leave dragLine as it is.
void SlicesCtrl::mousePressedOnDispH()
{
    setPercentAxis(histCoord);
    const double q = histCoord->pixToX(histMouse->pos.x());
    if (histMouse->pressButton != Qt::LeftButton)
        return;
    if (histMouse->pressModifiers & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier))
        return;
    dragLine = std::fabs(maxThPC() - q) <= std::fabs(minThPC() - q) ? 1 : 0;
}

// While the left button is held: the chosen line follows the pointer, unclamped,
// and the picture is redrawn (three paintPImg per move with a line, one without).
void SlicesCtrl::mouseMovedOnDispH()
{
    setPercentAxis(histCoord);
    const double q = histCoord->pixToX(histMouse->pos.x());
    if (!histMouse->pressLeft)
        return;
    if (dragLine == 0)
        setMinThPC(q, false);
    else if (dragLine == 1)
        setMaxThPC(q, false);
    emit paintPImg();
}

void SlicesCtrl::mouseReleasedOnDispH()
{
    dragLine = -1;
}
