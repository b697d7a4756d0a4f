#include "widgets/mousec.h"

#include <QMouseEvent>
#include <QWheelEvent>

namespace {

// The event point in widget pixels, each coordinate truncated toward zero
// (a position of -0.5 gives 0, not -1).
QPoint truncatedPos(const QMouseEvent *e)
{
    const QPointF p = e->position();
    return QPoint(static_cast<int>(p.x()), static_cast<int>(p.y()));
}

}  // namespace

MouseC::MouseC(QObject *parent) : QObject(parent) { }

void MouseC::recMove(QMouseEvent *e)
{
    prevPos = pos;
    pos = truncatedPos(e);
    button = static_cast<int>(e->button());
    modifiers = static_cast<int>(e->modifiers());
    moveShift = modifiers == Qt::ShiftModifier;
    moveCtrl = modifiers == Qt::ControlModifier;
    moveAlt = modifiers == Qt::AltModifier;
    emit mMoved();
}

void MouseC::recPress(QMouseEvent *e)
{
    prevPos = pos;
    pos = pressPos = truncatedPos(e);
    button = pressButton = static_cast<int>(e->button());
    modifiers = pressModifiers = static_cast<int>(e->modifiers());
    pressed = true;
    pressLeft = pressButton == Qt::LeftButton;
    pressRight = pressButton == Qt::RightButton;
    pressShift = pressModifiers == Qt::ShiftModifier;
    pressCtrl = pressModifiers == Qt::ControlModifier;
    pressAlt = pressModifiers == Qt::AltModifier;
    emit mPressed();
}

void MouseC::recRelease(QMouseEvent *e)
{
    prevPos = pos;
    pos = releasePos = truncatedPos(e);
    pressed = pressLeft = pressRight = false;
    button = releaseButton = static_cast<int>(e->button());
    modifiers = releaseModifiers = static_cast<int>(e->modifiers());
    emit mReleased();
}

void MouseC::recDClick(QMouseEvent *e)
{
    dClickPos = truncatedPos(e);
    button = dClickButton = static_cast<int>(e->button());
    modifiers = dClickModifiers = static_cast<int>(e->modifiers());
    emit mDClicked();
}

void MouseC::recWheel(QWheelEvent *e)
{
    // Eighths of a degree, 15 degrees a notch; a partial notch gives 0.
    const int step = static_cast<int>(e->angleDelta().y() * 0.125 / 15);
    emit wMoved(step);
}
