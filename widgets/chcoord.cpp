#include "widgets/chcoord.h"

#include <algorithm>
#include <cmath>

#include "widgets/mousec.h"

ChCoord::ChCoord(QObject *parent) : QObject(parent) { }

void ChCoord::setPixRange(double x0, double y0, double x1, double y1)
{
    pixX0 = x0;
    pixY0 = y0;
    pixX1 = x1;
    pixY1 = y1;
}

void ChCoord::setRange(double x0, double y0, double x1, double y1)
{
    valX0 = x0;
    valY0 = y0;
    valX1 = x1;
    valY1 = y1;
}

double ChCoord::pixToX(double px) const
{
    return valX0 + (valX1 - valX0) / (pixX1 - pixX0) * (px - pixX0);
}

double ChCoord::pixToY(double py) const
{
    return valY0 + (valY1 - valY0) / (pixY1 - pixY0) * (py - pixY0);
}

double ChCoord::xToPix(double x) const
{
    return pixX0 + (pixX1 - pixX0) / (valX1 - valX0) * (x - valX0);
}

void ChCoord::setMouse(MouseC *m)
{
    if (mouse) {
        disconnect(mouse, "2mMoved()", this, "1mMoved()");
        disconnect(mouse, "2mPressed()", this, "1mPressed()");
        disconnect(mouse, "2mReleased()", this, "1mReleased()");
        disconnect(mouse, "2mDClicked()", this, "1mDClicked()");
        disconnect(mouse, "2wMoved( int )", this, "1wheelMoved( int )");
        mouse = nullptr;
    }
    if (!m)
        return;
    mouse = m;
    // The one link made by names; QObject normalises the signatures.
    connect(mouse, "2mMoved()", this, "1mMoved()");
    connect(mouse, "2mPressed()", this, "1mPressed()");
    connect(mouse, "2mReleased()", this, "1mReleased()");
    connect(mouse, "2mDClicked()", this, "1mDClicked()");
    connect(mouse, "2wMoved( int )", this, "1wheelMoved( int )");
}

int ChCoord::dragCode(int button, int modifiers)
{
    int base;
    if (button == Qt::LeftButton)
        base = 0;
    else if (button == Qt::RightButton)
        base = 8;
    else
        return 16;

    const bool shift = (modifiers & Qt::ShiftModifier) != 0;
    const bool ctrl = (modifiers & Qt::ControlModifier) != 0;
    const bool alt = (modifiers & Qt::AltModifier) != 0;
    int keys = 0;
    if (shift && ctrl && alt)
        keys = 7;
    else if (ctrl && alt)
        keys = 6;
    else if (shift && alt)
        keys = 5;
    else if (shift && ctrl)
        keys = 4;
    else if (alt)
        keys = 3;
    else if (ctrl)
        keys = 2;
    else if (shift)
        keys = 1;
    return base + keys;
}

void ChCoord::mMoved()
{
    if (!mouse)
        return;
    const double x = pixToX(mouse->pos.x());
    const double y = pixToY(mouse->pos.y());
    emit nowPos(x, y);

    if (mouse->pressed && dragCode(mouse->pressButton, mouse->pressModifiers) == panCode) {
        // Shift the range so that the value under the previous position is under the pointer again.
        const double px = pixToX(mouse->prevPos.x());
        const double py = pixToY(mouse->prevPos.y());
        valX0 += px - x;
        valX1 += px - x;
        valY0 += py - y;
        valY1 += py - y;
        emit updated();
    }
}

void ChCoord::mPressed()
{
    if (!mouse)
        return;
    emit updated();
}

void ChCoord::mReleased()
{
    if (!mouse)
        return;
    const int keyMask = Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier;
    if (mouse->pressButton == Qt::RightButton && (mouse->pressModifiers & keyMask) == 0) {
        const QPoint press = mouse->pressPos;
        const QPoint release = mouse->releasePos;
        const QPoint rightCorner = release.x() >= press.x() ? release : press;
        const QPoint leftCorner = release.x() >= press.x() ? press : release;
        // Every end from the ranges as they were before the release.
        const double x0 = pixToX(std::min(press.x(), release.x()));
        const double x1 = pixToX(std::max(press.x(), release.x()));
        const double y0 = pixToY(rightCorner.y());
        const double y1 = pixToY(leftCorner.y());
        setRange(x0, y0, x1, y1);
    }
    emit updated();
}

void ChCoord::mDClicked()
{
    if (!mouse)
        return;
    emit updated();
}

void ChCoord::wheelMoved(int step)
{
    if (!mouse)
        return;
    const double factor = step >= 0 ? 1.0 / 1.1 : 1.1;
    const double px = mouse->pos.x();
    const double py = mouse->pos.y();

    const double bandX = edgeFrac * std::fabs(pixX1 - pixX0);
    const bool inXBand = px < std::min(pixX0, pixX1) + bandX || px > std::max(pixX0, pixX1) - bandX;
    const double bandY = edgeFrac * std::fabs(pixY1 - pixY0);
    const bool inYBand = py < std::min(pixY0, pixY1) + bandY || py > std::max(pixY0, pixY1) - bandY;

    // At a left or right edge only the y axis zooms, at a top or bottom edge only x.
    const bool zoomX = !inXBand || inYBand;
    const bool zoomY = !inYBand || inXBand;
    if (zoomX) {
        const double c = pixToX(px);
        valX0 = (valX0 - c) * factor + c;
        valX1 = (valX1 - c) * factor + c;
    }
    if (zoomY) {
        const double c = pixToY(py);
        valY0 = (valY0 - c) * factor + c;
        valY1 = (valY1 - c) * factor + c;
    }
    emit updated();
}
