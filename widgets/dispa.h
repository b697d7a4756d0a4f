#ifndef DISPA_H
#define DISPA_H

#include <QColor>
#include <QPainter>
#include <QFrame>

#include "widgets/chcoord.h"
#include "widgets/mousec.h"

class QEnterEvent;

// A frame that draws nothing itself: its paint event fills the background and
// hands the painter to three layer signals in turn. Its mouse goes to `mouse`,
// whose pan/zoom mapper `coord` is linked first. GUI thread only.
class DispA : public QFrame
{
    Q_OBJECT
public:
    explicit DispA(QWidget *parent = nullptr);

    ChCoord coord;
    MouseC mouse;
    QColor bgColor = QColor(255, 255, 255, 255);

signals:
    void drawImage0(QPainter *p);
    void drawImage1(QPainter *p);
    void drawImage2(QPainter *p);

private slots:
    void paintEvent(QPaintEvent *p) override;
    void mouseMoveEvent(QMouseEvent *e) override;
    void mousePressEvent(QMouseEvent *e) override;
    void mouseReleaseEvent(QMouseEvent *e) override;
    void mouseDoubleClickEvent(QMouseEvent *e) override;
    void wheelEvent(QWheelEvent *e) override;
    void enterEvent(QEnterEvent *e) override;
    void leaveEvent(QEvent *e) override;
};

#endif
