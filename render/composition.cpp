#include "ui/ctview.h"

#include <QPainter>

void CtView::paintPImg() {}
void CtView::paintPImg0(QPainter &p, int pw, int ph) { Q_UNUSED(p); Q_UNUSED(pw); Q_UNUSED(ph); }
void CtView::draw(QPainter *p) { Q_UNUSED(p); }
void CtView::showSaveImageD() {}
void CtView::saveImage(QString fname) { Q_UNUSED(fname); }
