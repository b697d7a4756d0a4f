#ifndef EXLABEL_H
#define EXLABEL_H

#include <QLabel>
#include <QPainter>
#include <QString>

#include "widgets/chcoord.h"
#include "widgets/mousec.h"

class QEnterEvent;

// A label that paints as a label and then hands its painter to `draw`; every
// mouse event is relayed through `mouse` and then passed on to QLabel.
// GUI thread only.
class ExLabel : public QLabel
{
    Q_OBJECT
public:
    explicit ExLabel(QWidget *parent = nullptr);

    MouseC mouse;
    ChCoord coord;

signals:
    void draw(QPainter *p);

public slots:
    void setText(QString txt);

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
