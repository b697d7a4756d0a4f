#include "widgets/dispa.h"

#include <QMouseEvent>
#include <QPainter>

DispA::DispA(QWidget *parent) : QFrame(parent)
{
    setFrameShape(QFrame::StyledPanel);
    setAttribute(Qt::WA_MouseTracking);
    coord.setMouse(&mouse);
}

void DispA::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.fillRect(rect(), bgColor);
    coord.setPixRange(0, height() - 1, width() - 1, 0);
    emit drawImage0(&p);
    emit drawImage1(&p);
    emit drawImage2(&p);
    p.end();
}
void DispA::mouseMoveEvent(QMouseEvent *e) { mouse.recMove(e); update(); }
void DispA::mousePressEvent(QMouseEvent *e) { mouse.recPress(e); update(); }
void DispA::mouseReleaseEvent(QMouseEvent *e) { mouse.recRelease(e); update(); }
void DispA::mouseDoubleClickEvent(QMouseEvent *e) { mouse.recDClick(e); update(); }
void DispA::wheelEvent(QWheelEvent *e) { mouse.recWheel(e); update(); }
void DispA::enterEvent(QEnterEvent *) { mouse.inside = true; update(); }
void DispA::leaveEvent(QEvent *) { mouse.inside = false; update(); }
