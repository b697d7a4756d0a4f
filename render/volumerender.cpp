#include "render/scene.h"

#include <QImage>
#include <QPaintEngine>
#include <QPainter>

#include <algorithm>
#include <cmath>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "data/slicedata.h"
#include "data/slicedatas.h"
#include "render/coarse.h"
#include "render/mip.h"

namespace {

// The premultiplied value the raster engine blends for each colour component
// of a pen of opacity `alpha`, read back from the engine itself (a point over
// opaque black comes out as exactly that value), or null when the engine does
// not blend points as mip::byteMul predicts. That is checked once per opacity
// for every component and every destination value, so the raster path can
// only ever take a blend the engine itself would make. The first call for an
// opacity writes its table: make it in one thread (prepareBlends) before drawing
// on another.
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

// A set's values re-cut into planes across another axis (mip::alongAxis says
// which value goes where), so the fast path can sample a ray that runs along x
// or y plane by plane, as it does along the stack.
struct Planes {
    const SliceDatas *set = nullptr;
    quint64 generation = 0;
    int axis = 2;
    std::vector<std::unique_ptr<SliceData>> owned;
    std::vector<SliceData *> planes;
};

// Values that are whole numbers 0 .. 255 are kept as 8-bit pictures, others as grids.
std::shared_ptr<const Planes> cutPlanes(const SliceDatas &set, int axis)
{
    const int ss = int(set.slices.size());
    const int sw = set.width, sh = set.height;
    const int count = axis == 0 ? sw : sh;
    const int pw = axis == 0 ? ss : sw;  // plane size
    const int ph = axis == 0 ? sh : ss;
    auto out = std::make_shared<Planes>();
    out->set = &set;
    out->generation = set.generation;
    out->axis = axis;

    std::vector<std::vector<double>> grid(size_t(count) * size_t(ph), std::vector<double>(size_t(pw)));
    std::vector<double> row(static_cast<size_t>(sw));
    bool bytes = true;
    for (int j = 0; j < ss; ++j) {
        for (int y = 0; y < sh; ++y) {
            set.slices[size_t(j)]->rowValues(y, row.data());
            for (int x = 0; x < sw; ++x) {
                const double v = row[size_t(x)];
                bytes = bytes && v >= 0.0 && v <= 255.0 && v == std::floor(v);
                if (axis == 0)
                    grid[size_t(x) * size_t(ph) + size_t(y)][size_t(j)] = v;
                else
                    grid[size_t(y) * size_t(ph) + size_t(j)][size_t(x)] = v;
            }
        }
    }
    for (int k = 0; k < count; ++k) {
        auto plane = std::make_unique<SliceData>();
        if (bytes) {
            QImage img(pw, ph, QImage::Format_Grayscale8);
            for (int y = 0; y < ph; ++y) {
                uchar *line = img.scanLine(y);
                const std::vector<double> &src = grid[size_t(k) * size_t(ph) + size_t(y)];
                for (int x = 0; x < pw; ++x)
                    line[x] = uchar(src[size_t(x)]);
            }
            plane->image = img;
            plane->computeImageMinMax();
        } else {
            plane->isImage = false;
            plane->width = pw;
            plane->height = ph;
            plane->values.assign(grid.begin() + qsizetype(k) * ph, grid.begin() + qsizetype(k + 1) * ph);
        }
        out->planes.push_back(plane.get());
        out->owned.push_back(std::move(plane));
    }
    return out;
}

// The last few re-cut sets, newest first; a set that changed since is cut anew.
// The caller holds the set's read lock.
std::shared_ptr<const Planes> planesAlong(const SliceDatas &set, int axis)
{
    static std::mutex mutex;
    static std::vector<std::shared_ptr<const Planes>> cache;
    constexpr std::size_t kept = 2;
    std::lock_guard<std::mutex> lock(mutex);
    for (std::size_t i = 0; i < cache.size(); ++i) {
        const auto &p = cache[i];
        if (p->set == &set && p->axis == axis && p->generation == set.generation) {
            std::rotate(cache.begin(), cache.begin() + qsizetype(i), cache.begin() + qsizetype(i) + 1);
            return cache.front();
        }
    }
    cache.insert(cache.begin(), cutPlanes(set, axis));
    if (cache.size() > kept)
        cache.resize(kept);
    return cache.front();
}

}  // namespace

namespace render {

void prepareBlends(const Scene &s)
{
    for (const SceneLayer &layer : s.layers)
        if (layer.alpha > 0 && layer.alpha <= 255)
            engineBlend(layer.alpha);
}

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
    // Spacing: the rays are followed in the set's own voxel grid, where a physical
    // point (x, y, z) lies at (x / sx, y / sy, z / sz) and the cut is measured in
    // slice steps. Dividing by 1 changes no bit, so spacing 1, 1, 1 draws as before.
    const Vec3 &sp = layer.spacing;
    auto toVoxels = [&sp](const Vec3 &p) { return Vec3{p.x / sp.x, p.y / sp.y, p.z / sp.z}; };
    pr.nx = toVoxels(v.nx);
    pr.ny = toVoxels(v.ny);
    pr.nz = toVoxels(v.nz);
    pr.center = toVoxels(v.center);
    pr.csNz = Vec3{layer.csNz.x * sp.x / sp.z, layer.csNz.y * sp.y / sp.z, layer.csNz.z};
    pr.axis = v.sampling == Sampling::Voxels ? mip::stepAxis(pr.nz) : 2;

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
                const render::CoarseSet *coarse = layer.coarse.get();
                if (coarse != nullptr && pr.axis == 2 && coarse->generation == set.generation
                    && !coarse->slices.empty()) {
                    // The coarse volume in its own units: every length halved.
                    mip::Params cp = pr;
                    cp.center = Vec3{pr.center.x / 2.0, pr.center.y / 2.0, pr.center.z / 2.0};
                    cp.scale = pr.scale / 2.0;
                    cp.sw = coarse->width;
                    cp.sh = coarse->height;
                    cp.B = layer.cutPos / 100.0 * double(coarse->slices.size());
                    mip::renderOnto(cp, coarse->slices, premul, target->bits(), target->bytesPerLine(), threads);
                } else if (pr.axis == 2 || slices.empty()) {
                    mip::renderOnto(pr, slices, premul, target->bits(), target->bytesPerLine(), threads);
                } else {
                    const std::shared_ptr<const Planes> planes = planesAlong(set, pr.axis);
                    mip::renderOnto(mip::alongAxis(pr, int(slices.size())), planes->planes, premul, target->bits(),
                                    target->bytesPerLine(), threads);
                }
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
