#include "widgets/exlabel.h"

#include <QEnterEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>

ExLabel::ExLabel(QWidget *parent) : QLabel(parent)
{
    setAttribute(Qt::WA_MouseTracking);
}

void ExLabel::setText(QString txt)
{
    QLabel::setText(txt);
}

// The label's own text or pixmap first, then whatever `draw` paints over it.
void ExLabel::paintEvent(QPaintEvent *p)
{
    QLabel::paintEvent(p);
    QPainter painter(this);
    coord.setPixRange(0, height(), width(), 0);
    emit draw(&painter);
    painter.end();
}

void ExLabel::mouseMoveEvent(QMouseEvent *e)
{
    mouse.recMove(e);
    update();
    QLabel::mouseMoveEvent(e);
}

void ExLabel::mousePressEvent(QMouseEvent *e)
{
    mouse.recPress(e);
    update();
    QLabel::mousePressEvent(e);
}

void ExLabel::mouseReleaseEvent(QMouseEvent *e)
{
    mouse.recRelease(e);
    update();
    QLabel::mouseReleaseEvent(e);
}

// The base handler calls mousePressEvent, so a double click is relayed once
// more as a press.
void ExLabel::mouseDoubleClickEvent(QMouseEvent *e)
{
    mouse.recDClick(e);
    update();
    QWidget::mouseDoubleClickEvent(e);
}

// The base handler ignores the event, so the wheel also reaches the parent.
void ExLabel::wheelEvent(QWheelEvent *e)
{
    mouse.recWheel(e);
    update();
    QWidget::wheelEvent(e);
}

void ExLabel::enterEvent(QEnterEvent *e)
{
    mouse.inside = true;
    emit mouse.mEntered();
    emit mouse.mEnterLeave(true);
    update();
    QWidget::enterEvent(e);
}

void ExLabel::leaveEvent(QEvent *e)
{
    mouse.inside = false;
    emit mouse.mLeaved();
    emit mouse.mEnterLeave(false);
    update();
    QWidget::leaveEvent(e);
}
