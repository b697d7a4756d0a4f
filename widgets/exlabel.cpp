#include "widgets/exlabel.h"

#include <QMouseEvent>
#include <QPainter>

ExLabel::ExLabel(QWidget *parent) : QLabel(parent) { setAttribute(Qt::WA_MouseTracking); }
void ExLabel::setText(QString txt) { QLabel::setText(txt); }
void ExLabel::paintEvent(QPaintEvent *p)
{
    QLabel::paintEvent(p);
    QPainter painter(this);
    coord.setPixRange(0, height(), width(), 0);
    emit draw(&painter);
    painter.end();
}
void ExLabel::mouseMoveEvent(QMouseEvent *e) { mouse.recMove(e); update(); QLabel::mouseMoveEvent(e); }
void ExLabel::mousePressEvent(QMouseEvent *e) { mouse.recPress(e); update(); QLabel::mousePressEvent(e); }
void ExLabel::mouseReleaseEvent(QMouseEvent *e) { mouse.recRelease(e); update(); QLabel::mouseReleaseEvent(e); }
void ExLabel::mouseDoubleClickEvent(QMouseEvent *e) { mouse.recDClick(e); update(); QWidget::mouseDoubleClickEvent(e); }
void ExLabel::wheelEvent(QWheelEvent *e) { mouse.recWheel(e); update(); QWidget::wheelEvent(e); }
void ExLabel::enterEvent(QEnterEvent *e) { mouse.inside = true; update(); QWidget::enterEvent(e); }
void ExLabel::leaveEvent(QEvent *e) { mouse.inside = false; update(); QWidget::leaveEvent(e); }
