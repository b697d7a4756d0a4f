#include "ui/ctview.h"

void CtView::updateNvs(Vec3 rax, double th) { Q_UNUSED(rax); Q_UNUSED(th); }
void CtView::mousePressedOnDataDisp() {}
void CtView::mouseMovedOnDataDisp() {}
void CtView::mouseReleasedOnDataDisp() { dragMode = 2; }
void CtView::wheelMovedOnDataDisp(int step) { Q_UNUSED(step); }
