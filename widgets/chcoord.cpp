#include "widgets/chcoord.h"

#include "widgets/mousec.h"

ChCoord::ChCoord(QObject *parent) : QObject(parent) {}
void ChCoord::setPixRange(double x0, double y0, double x1, double y1) { pixX0 = x0; pixY0 = y0; pixX1 = x1; pixY1 = y1; }
void ChCoord::setRange(double x0, double y0, double x1, double y1) { valX0 = x0; valY0 = y0; valX1 = x1; valY1 = y1; }
double ChCoord::pixToX(double px) const { return valX0 + (valX1 - valX0) / (pixX1 - pixX0) * (px - pixX0); }
double ChCoord::pixToY(double py) const { return valY0 + (valY1 - valY0) / (pixY1 - pixY0) * (py - pixY0); }
double ChCoord::xToPix(double x) const { return pixX0 + (pixX1 - pixX0) / (valX1 - valX0) * (x - valX0); }
void ChCoord::setMouse(MouseC *m) { mouse = m; }
int ChCoord::dragCode(int button, int modifiers) { Q_UNUSED(button); Q_UNUSED(modifiers); return 16; }
void ChCoord::mMoved() {}
void ChCoord::mPressed() {}
void ChCoord::mReleased() {}
void ChCoord::mDClicked() {}
void ChCoord::wheelMoved(int step) { Q_UNUSED(step); }
