#include "ui/ctview.h"

#include <QPainter>

#include "ui/slicesctrl.h"

void CtView::paintADataSet(QPainter &p, SlicesCtrl *sCtrl, int sw, int sh, int pw, int ph)
{
    Q_UNUSED(p); Q_UNUSED(sCtrl); Q_UNUSED(sw); Q_UNUSED(sh); Q_UNUSED(pw); Q_UNUSED(ph);
}
