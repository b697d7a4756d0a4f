#include "ui/ctview.h"

#include <QDebug>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QPainter>
#include <QSvgGenerator>

#include "data/slicedatas.h"
#include "ui/slicesctrl.h"

namespace {

// Pictures beyond these sizes are refused: a raster picture of more pixels
// could not be held (or would be drawn for minutes), and an SVG holds one
// element per pixel and set.
constexpr qint64 maxRasterPixels = qint64(1) << 28;
constexpr int maxRasterSide = 32767;
constexpr qint64 maxSvgPixels = qint64(8192) * 8192;

bool rasterSizeOk(int w, int h)
{
    return w > 0 && h > 0 && w <= maxRasterSide && h <= maxRasterSide && qint64(w) * h <= maxRasterPixels;
}

}  // namespace

void CtView::paintPImg()
{
    const int w = imgPixWidth();
    const int h = imgPixHeight();
    pImg = rasterSizeOk(w, h) ? QImage(w, h, QImage::Format_ARGB32) : QImage();
    if (pImg.isNull()) {
        // Nothing can be painted into a null picture; the display shows nothing of it.
        dispA_->update();
        return;
    }
    QPainter p(&pImg);
    paintPImg0(p, pImg.width(), pImg.height());
}

void CtView::paintPImg0(QPainter &p, int pw, int ph)
{
    p.fillRect(QRect(0, 0, pw, ph), QColor(255, 255, 255, 255));
    for (SlicesCtrl *s : std::as_const(sCtrls)) {
        int sw, sh, ss;
        {
            SliceDatas::ReadGuard guard(s->sliceDatas);
            sw = s->sliceDatas.width;
            sh = s->sliceDatas.height;
            ss = int(s->sliceDatas.slices.size());
        }
        if (sw <= 0 || sh <= 0)
            continue;
        if (s->showFrame_->isChecked())
            paintADataFrame(p, ss, sw, sh, false, s->vColor);
        if (s->showVolume_->isChecked())
            paintADataSet(p, s, sw, sh, pw, ph);
        if (s->showFrame_->isChecked())
            paintADataFrame(p, ss, sw, sh, true, s->vColor);
    }
    p.end();
    dispA_->update();
}

void CtView::draw(QPainter *p)
{
    bool any = false;
    for (SlicesCtrl *s : std::as_const(sCtrls)) {
        SliceDatas::ReadGuard guard(s->sliceDatas);
        if (s->sliceDatas.loaded) {
            any = true;
            break;
        }
    }
    if (!any || pImg.isNull())
        return;
    p->drawImage(QRect(0, 0, dispA_->width(), dispA_->height()), pImg,
                 QRect(0, 0, pImg.width(), pImg.height()));
}

void CtView::showSaveImageD()
{
    delete saveDialog;
    saveDialog = new QFileDialog(nullptr, QString(), QString(), QString());
    saveDialog->setDirectory(saveDir);
    saveDialog->setAcceptMode(QFileDialog::AcceptSave);
    saveDialog->setNameFilters(QStringList{QStringLiteral("Any (* *.*)")});
    if (!nativeDialog)
        saveDialog->setOptions(QFileDialog::DontUseNativeDialog);
    connect(saveDialog, &QFileDialog::fileSelected, this, &CtView::saveImage);
    saveDialog->show();
}

void CtView::saveImage(QString fname)
{
    if (saveDialog)
        saveDir = saveDialog->directory().absolutePath();
    const QString suffix = QFileInfo(fname).suffix().toLower();
    if (imgFormats.contains(suffix)) {
        qDebug() << "saving" << fname;
        pImg.save(fname, suffix.toUtf8().constData());
    } else if (suffix == QLatin1String("svg")) {
        const int w = imgPixWidth();
        const int h = imgPixHeight();
        if (qint64(w) * h > maxSvgPixels)
            return;
        QSvgGenerator gen;
        gen.setFileName(fname);
        gen.setSize(QSize(w, h));
        gen.setViewBox(QRect(0, 0, w, h));
        QPainter p(&gen);
        paintPImg0(p, w, h);
    }
}
