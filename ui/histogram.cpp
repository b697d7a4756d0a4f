#include "ui/slicesctrl.h"

#include <QPainter>

void SlicesCtrl::drawHist(QPainter *p) { Q_UNUSED(p); }
void SlicesCtrl::mousePressedOnDispH() {}
void SlicesCtrl::mouseMovedOnDispH() {}
void SlicesCtrl::mouseReleasedOnDispH() { dragLine = -1; }
