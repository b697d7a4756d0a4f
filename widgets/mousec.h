#ifndef MOUSEC_H
#define MOUSEC_H

#include <QObject>
#include <QPoint>

class QMouseEvent;
class QWheelEvent;

// Relays the mouse events of one widget as argument-less signals plus a record
// of the latest events, which receivers read back. A member of its widget
// (DispA, ExLabel); GUI thread only.
class MouseC : public QObject
{
    Q_OBJECT
public:
    explicit MouseC(QObject *parent = nullptr);

    QPoint prevPos;
    QPoint pos;
    QPoint pressPos;
    QPoint releasePos;
    QPoint dClickPos;
    bool pressed = false;
    bool pressLeft = false;
    bool pressRight = false;
    bool pressShift = false;
    bool pressCtrl = false;
    bool pressAlt = false;
    bool moveShift = false;
    bool moveCtrl = false;
    bool moveAlt = false;
    int button = 0;
    int pressButton = 0;
    int releaseButton = 0;
    int dClickButton = 0;
    int modifiers = 0;
    int pressModifiers = 0;
    int releaseModifiers = 0;
    int dClickModifiers = 0;
    bool inside = false;

    // Each records the event, then emits its signal. Positions are truncated
    // toward zero; the wheel step is angleDelta().y() * 0.125 / 15, truncated.
    void recMove(QMouseEvent *e);
    void recPress(QMouseEvent *e);
    void recRelease(QMouseEvent *e);
    void recDClick(QMouseEvent *e);
    void recWheel(QWheelEvent *e);

signals:
    void mMoved();
    void mPressed();
    void mReleased();
    void mDClicked();
    void wMoved(int step);
    void mEntered();
    void mLeaved();
    void mEnterLeave(bool f);
};

#endif
