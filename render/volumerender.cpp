#include "ui/ctview.h"

#include <QPaintEngine>
#include <QPainter>

#include <thread>
#include <vector>

#include "data/slicedata.h"
#include "data/slicedatas.h"
#include "render/mip.h"
#include "ui/slicesctrl.h"

namespace {

// The premultiplied value the raster engine blends for each colour component
// of a pen with opacity `alpha`, read back from the engine itself: points drawn
// over opaque black come out as exactly that value. GUI thread only.
const quint8 *premultipliedComponents(int alpha)
{
    static quint8 table[256][256];
    static bool made[256] = {};
    if (!made[alpha]) {
        QImage probe(256, 1, QImage::Format_ARGB32);
        probe.fill(0xff000000);
        QPainter p(&probe);
        for (int c = 0; c < 256; ++c) {
            p.setPen(QColor(c, c, c, alpha));
            p.drawPoint(c, 0);
        }
        p.end();
        for (int c = 0; c < 256; ++c)
            table[alpha][c] = quint8(qRed(probe.pixel(c, 0)));
        made[alpha] = true;
    }
    return table[alpha];
}

bool allOpaque(const QImage &img)
{
    for (int y = 0; y < img.height(); ++y) {
        const QRgb *line = reinterpret_cast<const QRgb *>(img.constScanLine(y));
        for (int x = 0; x < img.width(); ++x)
            if (qAlpha(line[x]) != 255)
                return false;
    }
    return true;
}

// The raster path composites a whole layer in one drawImage; that equals
// drawing every pixel's point only on a plain ARGB32 picture of the same size,
// with the default composition, no transform, clip or antialiasing, and an
// opaque destination (the engine skips transparent points but would store a
// non-opaque pixel back through a lossy conversion).
const QImage *rasterTarget(QPainter &p, int pw, int ph, int alpha)
{
    QPaintDevice *dev = p.device();
    if (!mip::rasterPathEnabled() || dev == nullptr || dev->devType() != QInternal::Image || p.paintEngine() == nullptr
        || p.paintEngine()->type() != QPaintEngine::Raster)
        return nullptr;
    const QImage *img = static_cast<const QImage *>(dev);
    if (img->format() != QImage::Format_ARGB32 || img->width() != pw || img->height() != ph)
        return nullptr;
    if (p.compositionMode() != QPainter::CompositionMode_SourceOver || p.hasClipping()
        || !p.worldTransform().isIdentity() || p.opacity() != 1.0
        || (p.renderHints() & QPainter::Antialiasing) || alpha < 0 || alpha > 255)
        return nullptr;
    if (!allOpaque(*img))
        return nullptr;
    return img;
}

}  // namespace

void CtView::paintADataSet(QPainter &p, SlicesCtrl *sCtrl, int sw, int sh, int pw, int ph)
{
    SliceDatas &set = sCtrl->sliceDatas;
    mip::Params pr;
    const double rMin = sCtrl->rMinV();
    const double rMax = sCtrl->rMaxV();
    pr.minTh = rMin + sCtrl->minThPC() * (rMax - rMin) / 100.0;
    pr.maxTh = rMin + sCtrl->maxThPC() * (rMax - rMin) / 100.0;
    pr.vColor = sCtrl->vColor;
    pr.sColor = sCtrl->sColor;
    pr.alpha = sCtrl->alpha();
    pr.cut = sCtrl->showCSection_->isChecked();
    pr.csNz = sCtrl->csNz;
    pr.nx = nx;
    pr.ny = ny;
    pr.nz = nz;
    pr.center = center;
    pr.scale = scale;
    pr.sw = sw;
    pr.sh = sh;
    pr.pw = pw;
    pr.ph = ph;

    SliceDatas::ReadGuard guard(set);
    set.minTh = pr.minTh;
    set.maxTh = pr.maxTh;
    const std::vector<SliceData *> &slices = set.slices;
    pr.B = sCtrl->cSlider_->value() / 100.0 * double(slices.size());
    if (ph <= 0)
        return;
    // Sampling trusts sw and sh: a set that no longer has that size (a load
    // began since the caller looked) is not drawn.
    if (!slices.empty() && (set.width != sw || set.height != sh))
        return;

    if (const QImage *target = rasterTarget(p, pw, ph, pr.alpha)) {
        Q_UNUSED(target);
        if (pr.alpha > 0) {
            QImage layer(pw, ph, QImage::Format_ARGB32_Premultiplied);
            if (!layer.isNull()) {
                const int threads = int(std::max(1u, std::thread::hardware_concurrency()));
                mip::renderLayer(pr, slices, premultipliedComponents(pr.alpha),
                                 reinterpret_cast<quint32 *>(layer.bits()), threads);
                p.drawImage(0, 0, layer);
                if (pw > 0)
                    p.setPen(mip::castPixel(pr, slices, pw - 1, ph - 1));
                return;
            }
        } else {
            // Fully transparent points change nothing on the picture.
            if (pw > 0)
                p.setPen(mip::castPixel(pr, slices, pw - 1, ph - 1));
            return;
        }
    }

    // The reference: one pen change and one point per pixel, for any device.
    for (int r = 0; r < ph; ++r) {
        for (int c = 0; c < pw; ++c) {
            p.setPen(mip::castPixel(pr, slices, c, r));
            const QPoint pt(c, r);
            p.drawPoints(&pt, 1);
        }
    }
}
