#include "widgets/dispa.h"

#include <QEnterEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>

DispA::DispA(QWidget *parent) : QFrame(parent)
{
    setFrameShape(QFrame::StyledPanel);
    setAttribute(Qt::WA_MouseTracking);
    // Linked before anyone else connects to the relay, so the mapper hears every event first.
    coord.setMouse(&mouse);
}

// Draws no frame of its own: the background, then the three layers on one painter.
void DispA::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), bgColor);
    coord.setPixRange(0, height() - 1, width() - 1, 0);
    emit drawImage0(&painter);
    emit drawImage1(&painter);
    emit drawImage2(&painter);
    painter.end();
}

// Once a move with Alt has been recorded, moves are ignored until a press,
// release or double click records modifiers without Alt.
void DispA::mouseMoveEvent(QMouseEvent *e)
{
    if (mouse.modifiers & Qt::AltModifier)
        return;
    mouse.recMove(e);
    update();
}

void DispA::mousePressEvent(QMouseEvent *e)
{
    mouse.recPress(e);
    update();
}

void DispA::mouseReleaseEvent(QMouseEvent *e)
{
    mouse.recRelease(e);
    update();
}

void DispA::mouseDoubleClickEvent(QMouseEvent *e)
{
    mouse.recDClick(e);
    update();
}

// Stays accepted, so the wheel does not reach the parent.
void DispA::wheelEvent(QWheelEvent *e)
{
    mouse.recWheel(e);
    update();
}

void DispA::enterEvent(QEnterEvent *)
{
    mouse.inside = true;
    emit mouse.mEntered();
    emit mouse.mEnterLeave(true);
    update();
}

void DispA::leaveEvent(QEvent *)
{
    mouse.inside = false;
    emit mouse.mLeaved();
    emit mouse.mEnterLeave(false);
    update();
}
