#include "ui/ctview.h"

#include <QPainter>

void CtView::paintADataFrame(QPainter &p, int ss, int sw, int sh, bool temae, QColor color)
{
    Q_UNUSED(p); Q_UNUSED(ss); Q_UNUSED(sw); Q_UNUSED(sh); Q_UNUSED(temae); Q_UNUSED(color);
}
