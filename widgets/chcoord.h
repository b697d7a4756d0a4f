#ifndef CHCOORD_H
#define CHCOORD_H

#include <QObject>

class MouseC;

// Maps widget pixels to a rectangle of values, each axis linearly. Once linked
// to a MouseC it pans (Shift + left drag), zooms to a right-dragged rectangle
// and zooms with the wheel. A member of its widget; GUI thread only.
class ChCoord : public QObject
{
    Q_OBJECT
public:
    explicit ChCoord(QObject *parent = nullptr);

    MouseC *mouse = nullptr;
    double pixX0 = 0.0, pixX1 = 1.0;
    double pixY0 = 0.0, pixY1 = 1.0;
    double valX0 = 0.0, valX1 = 1.0;
    double valY0 = 0.0, valY1 = 1.0;
    const double edgeFrac = 0.1;
    const int panCode = 1;

    // Note the argument order: both first ends, then both second ends.
    void setPixRange(double x0, double y0, double x1, double y1);
    void setRange(double x0, double y0, double x1, double y1);
    double pixToX(double px) const;
    double pixToY(double py) const;
    double xToPix(double x) const;
    // Links to a relay (null unlinks); the five connections are made by name.
    void setMouse(MouseC *m);

    // Button plus Shift/Control/Alt as one code: 0.. for left, 8.. for right, 16 otherwise.
    static int dragCode(int button, int modifiers);

signals:
    void updated();
    void nowPos(double x, double y);

public slots:
    void mMoved();
    void mPressed();
    void mReleased();
    void mDClicked();
    void wheelMoved(int step);
};

#endif
