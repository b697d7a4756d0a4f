#include "ui/ctview.h"

#include <QDebug>
#include <QDir>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QFileInfo>
#include <QFutureWatcher>
#include <QMessageBox>
#include <QtConcurrent/QtConcurrentRun>
#include <QPainter>

#include "app/messagenames.h"
#include "data/slicedatas.h"
#include "render/coarse.h"
#include "render/renderer.h"
#include "ui/slicesctrl.h"

SceneView CtView::view() const
{
    SceneView v;
    v.nx = nx;
    v.ny = ny;
    v.nz = nz;
    v.center = center;
    v.scale = scale;
    v.sampling = sampling_->currentIndex() == 1 ? Sampling::Voxels : Sampling::Slices;
    return v;
}

SceneLayer CtView::layerOf(const SlicesCtrl *s) const
{
    return sceneLayer(s->settings(), &s->sliceDatas);
}

Scene CtView::scene(int pw, int ph) const
{
    Scene sc;
    sc.view = view();
    sc.width = pw;
    sc.height = ph;
    // The frame is centred on the picture as last drawn (see saveImage).
    sc.frameWidth = pImg.width();
    sc.frameHeight = pImg.height();
    sc.background = backgroundColor();
    sc.overlays = overlays();
    for (const SlicesCtrl *s : sCtrls)
        sc.layers.push_back(layerOf(s));
    return sc;
}

Scene CtView::scaledScene(int w, int h, int n) const
{
    Scene sc = scene(w * n, h * n);
    sc.view.scale = scale / n;
    // A picture for a file: the finer levels of a streamed set read first, at whatever cost.
    for (SceneLayer &layer : sc.layers)
        layer.finerLevels = FinerLevels::read;
    sc.frameWidth = pImg.width() * n;
    sc.frameHeight = pImg.height() * n;
    return sc;
}

// A set with slices keeps the window it was last drawn with (the histogram shows
// it). Returns how many values the set holds.
static qint64 noteWindow(SliceDatas &set, const SceneLayer &layer)
{
    SliceDatas::ReadGuard guard(set);
    if (set.width <= 0 || set.height <= 0)
        return 0;
    set.minTh = layer.minTh;
    set.maxTh = layer.maxTh;
    return qint64(set.width) * set.height * qint64(set.slices.size());
}

void CtView::paintADataSet(QPainter &p, SlicesCtrl *sCtrl, int sw, int sh, int pw, int ph)
{
    const SceneLayer layer = layerOf(sCtrl);
    noteWindow(sCtrl->sliceDatas, layer);
    renderer_->drawVolume(p, view(), layer, sw, sh, pw, ph);
}

void CtView::paintADataFrame(QPainter &p, int ss, int sw, int sh, bool temae, QColor color)
{
    render::drawFrame(p, view(), pImg.width(), pImg.height(), ss, sw, sh, temae, color);
}

void CtView::paintPImg()
{
    const int w = imgPixWidth();
    const int h = imgPixHeight();
    pImg = render::pictureSizeOk(w, h) ? QImage(w, h, QImage::Format_ARGB32) : QImage();
    if (pImg.isNull()) {
        // Nothing can be painted into a null picture; the display shows nothing of it.
        dispA_->update();
        emit pictureDrawn();
        return;
    }
    QPainter p(&pImg);
    paintPImg0(p, pImg.width(), pImg.height());
    emit pictureDrawn();
}

bool CtView::coarseWanted(int pw, int ph) const
{
    if (!coarseDrag_ || dragMode == 2 || exactPixels_ <= 0)
        return false;
    return exactMs_ * (double(pw) * ph / double(exactPixels_)) > coarseFrameMs_;
}

void CtView::paintPImg0(QPainter &p, int pw, int ph)
{
    Scene sc = scene(pw, ph);
    const bool wantCoarse = coarseWanted(pw, ph);
    bool anyCoarse = false;
    for (std::size_t i = 0; i < sc.layers.size(); ++i) {
        SceneLayer &layer = sc.layers[i];
        if (!layer.showVolume)
            continue;
        const qint64 voxels = noteWindow(sCtrls[qsizetype(i)]->sliceDatas, layer);
        // A big set's coarse copy is built in the background on the first drag whose
        // exact frames are too slow; sets drawn quickly never take its memory.
        if (wantCoarse && voxels > coarseMinVoxels_) {
            if (std::shared_ptr<const render::CoarseSet> c = renderer_->coarseCopy(*layer.set)) {
                layer.coarse = std::move(c);
                anyCoarse = true;
            }
        }
    }
    renderer_->prepareVolumes(sc);
    QElapsedTimer clock;
    clock.start();
    renderer_->drawScene(p, sc, pw, ph);
    if (!anyCoarse) {
        exactMs_ = double(clock.nsecsElapsed()) / 1e6;
        exactPixels_ = qint64(pw) * ph;
    }
    coarseShown_ = anyCoarse;
    p.end();
    dispA_->update();
    updateSliceViews();
    showDrawnLevels(false);
    scheduleRefinement();
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
    p->drawImage(QRect(0, 0, dispA_->width(), dispA_->height()), pImg, QRect(0, 0, pImg.width(), pImg.height()));
    drawCrosshairMarker(p);
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

// A raster file gets the picture as it was last drawn; an SVG is a fresh drawing
// at the size the fields hold now. At 2 or 4 times the pixels either is drawn
// afresh with the zoom scaled, so it frames the picture shown. Pictures of up to a million pixels are written
// at once; bigger ones are encoded and written on a worker thread, so the window
// goes on. Either way imageSaved() follows, and a failure is shown and logged.
void CtView::saveImage(QString fname)
{
    if (saveDialog)
        saveDir = saveDialog->directory().absolutePath();
    const QString suffix = QFileInfo(fname).suffix().toLower();
    const int n = saveScale();
    QImage picture;
    Scene svgScene;
    const bool svg = suffix == QLatin1String("svg");
    if (imgFormats.contains(suffix)) {
        qDebug() << "saving" << fname;
        // A picture drawn from coarse copies (a save during a drag) is saved exact.
        if (n > 1)
            picture = renderer_->renderScene(scaledScene(pImg.width(), pImg.height(), n));
        else
            picture = coarseShown_ ? renderer_->renderScene(scene(pImg.width(), pImg.height())) : pImg;
        if (picture.isNull() && !pImg.isNull()) {
            reportSave(fname, tr("A picture of %1 × %2 pixels cannot be made.").arg(pImg.width() * n).arg(pImg.height() * n));
            return;
        }
    } else if (svg) {
        svgScene = scaledScene(imgPixWidth(), imgPixHeight(), n);
        if (!render::svgSizeOk(svgScene.width, svgScene.height)) {
            reportSave(fname, tr("An SVG picture can be at most 8192 × 8192 pixels."));
            return;
        }
    } else {
        reportSave(fname, tr("The file name must end in a picture format's suffix, such as .png or .svg."));
        return;
    }
    // The SVG's picture is drawn where it is written; the sets stay until every
    // save is done (finishSaves).
    auto write = [fname, picture, svg, svgScene, renderer = renderer_.get()]() {
        QString why;
        const bool ok = svg ? renderer->writeScene(fname, svgScene, &why)
                            : render::writePicture(fname, picture, render::SvgOverlay(), &why);
        return ok ? QString() : why;
    };
    const qint64 pixels = svg ? qint64(svgScene.width) * svgScene.height : qint64(picture.width()) * picture.height();
    if (pixels <= (qint64(1) << 20)) {
        reportSave(fname, write());
        return;
    }
    auto *watcher = new QFutureWatcher<QString>(this);
    connect(watcher, &QFutureWatcher<QString>::finished, this, [this, watcher, fname]() {
        pendingSaves.removeOne(watcher);
        reportSave(fname, watcher->result());
        watcher->deleteLater();
    });
    pendingSaves.append(watcher);
    watcher->setFuture(QtConcurrent::run(write));
}

void CtView::finishSaves()
{
    for (QFutureWatcher<QString> *w : std::as_const(pendingSaves))
        w->waitForFinished();
}

void CtView::reportSave(const QString &fname, const QString &why)
{
    if (!why.isEmpty()) {
        qWarning() << "not saved:" << fname << why;
        delete saveMessage;
        saveMessage =
            new QMessageBox(QMessageBox::Warning, tr("Save Image"),
                            tr("The picture could not be saved to %1:\n%2").arg(messagenames::shown(fname), why),
                            QMessageBox::Ok, this);
        saveMessage->setModal(false);
        saveMessage->show();
    }
    emit imageSaved(fname, why.isEmpty(), why);
}
