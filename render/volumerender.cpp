#include "render/scene.h"

#include <QImage>
#include <QPaintEngine>
#include <QPainter>

#include <thread>
#include <vector>

#include "data/slicedata.h"
#include "data/slicedatas.h"
#include "render/mip.h"

namespace {

// The premultiplied value the raster engine blends for each colour component
// of a pen of opacity `alpha`, read back from the engine itself (a point over
// opaque black comes out as exactly that value), or null when the engine does
// not blend points as mip::byteMul predicts. That is checked once per opacity
// for every component and every destination value, so the raster path can
// only ever take a blend the engine itself would make. GUI thread only.
const quint8 *engineBlend(int alpha)
{
    static quint8 table[256][256];
    static signed char state[256] = {};  // 0 unknown, 1 checked, -1 differs
    if (state[alpha] == 0) {
        // Row c: destination grey d at column d, one point of grey c at every column.
        QImage probe(256, 256, QImage::Format_ARGB32);
        for (int y = 0; y < 256; ++y) {
            QRgb *line = reinterpret_cast<QRgb *>(probe.scanLine(y));
            for (int d = 0; d < 256; ++d)
                line[d] = qRgba(d, d, d, 255);
        }
        QPainter p(&probe);
        QPoint row[256];
        for (int c = 0; c < 256; ++c) {
            for (int d = 0; d < 256; ++d)
                row[d] = QPoint(d, c);
            p.setPen(QColor(c, c, c, alpha));
            p.drawPoints(row, 256);
        }
        p.end();
        bool same = true;
        const quint32 keep = 255u - quint32(alpha);
        for (int c = 0; c < 256 && same; ++c) {
            const QRgb *line = reinterpret_cast<const QRgb *>(probe.constScanLine(c));
            table[alpha][c] = quint8(qRed(line[0]));
            const quint32 src = quint32(alpha) << 24 | quint32(table[alpha][c]) * 0x010101u;
            for (int d = 0; d < 256 && same; ++d)
                same = line[d] == src + mip::byteMul(0xff000000u | quint32(d) * 0x010101u, keep);
        }
        state[alpha] = same ? 1 : -1;
    }
    return state[alpha] > 0 ? table[alpha] : nullptr;
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

// The raster path writes the blended pixels straight into the picture the
// painter draws on. That equals drawing every pixel's point only on a plain
// ARGB32 picture of the same size, not shared, with the default composition,
// no transform (world, window or viewport), clip or antialiasing, and opaque
// pixels (the engine would store a translucent pixel back through a lossy
// conversion).
QImage *rasterTarget(QPainter &p, int pw, int ph, int alpha)
{
    QPaintDevice *dev = p.device();
    if (!mip::rasterPathEnabled() || dev == nullptr || dev->devType() != QInternal::Image
        || p.paintEngine() == nullptr || p.paintEngine()->type() != QPaintEngine::Raster)
        return nullptr;
    QImage *img = static_cast<QImage *>(dev);
    if (img->format() != QImage::Format_ARGB32 || img->width() != pw || img->height() != ph || !img->isDetached())
        return nullptr;
    if (p.compositionMode() != QPainter::CompositionMode_SourceOver || p.hasClipping()
        || !p.combinedTransform().isIdentity() || p.opacity() != 1.0
        || (p.renderHints() & QPainter::Antialiasing) || alpha < 0 || alpha > 255)
        return nullptr;
    if (!allOpaque(*img))
        return nullptr;
    return img;
}

}  // namespace

namespace render {

void drawVolume(QPainter &p, const SceneView &v, const SceneLayer &layer, int sw, int sh, int pw, int ph)
{
    if (layer.set == nullptr)
        return;
    const SliceDatas &set = *layer.set;
    mip::Params pr;
    pr.minTh = layer.minTh;
    pr.maxTh = layer.maxTh;
    pr.vColor = layer.vColor;
    pr.sColor = layer.sColor;
    pr.alpha = layer.alpha;
    pr.cut = layer.cut;
    pr.csNz = layer.csNz;
    pr.nx = v.nx;
    pr.ny = v.ny;
    pr.nz = v.nz;
    pr.center = v.center;
    pr.scale = v.scale;
    pr.sw = sw;
    pr.sh = sh;
    pr.pw = pw;
    pr.ph = ph;

    SliceDatas::ReadGuard guard(set);
    const std::vector<SliceData *> &slices = set.slices;
    pr.B = layer.cutPos / 100.0 * double(slices.size());
    if (ph <= 0)
        return;
    // Sampling trusts sw and sh: a set that no longer has that size (a load
    // began since the caller looked) is not drawn.
    if (!slices.empty() && (set.width != sw || set.height != sh))
        return;

    if (QImage *target = rasterTarget(p, pw, ph, pr.alpha)) {
        // Fully transparent points change nothing on the picture.
        const quint8 *premul = pr.alpha > 0 ? engineBlend(pr.alpha) : nullptr;
        if (pr.alpha == 0 || premul) {
            if (premul) {
                const int threads = int(std::max(1u, std::thread::hardware_concurrency()));
                mip::renderOnto(pr, slices, premul, target->bits(), target->bytesPerLine(), threads);
            }
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

}  // namespace render
