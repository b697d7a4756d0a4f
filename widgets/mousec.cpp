#include "widgets/mousec.h"

#include <QMouseEvent>
#include <QWheelEvent>

MouseC::MouseC(QObject *parent) : QObject(parent) {}
void MouseC::recMove(QMouseEvent *e) { Q_UNUSED(e); emit mMoved(); }
void MouseC::recPress(QMouseEvent *e) { Q_UNUSED(e); emit mPressed(); }
void MouseC::recRelease(QMouseEvent *e) { Q_UNUSED(e); emit mReleased(); }
void MouseC::recDClick(QMouseEvent *e) { Q_UNUSED(e); emit mDClicked(); }
void MouseC::recWheel(QWheelEvent *e) { Q_UNUSED(e); emit wMoved(0); }
