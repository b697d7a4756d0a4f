#include "render/renderer.h"

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
#include "data/workpool.h"
#include "render/bricks.h"
#include "render/coarse.h"
#include "render/mip.h"
#include "render/scene.h"
#include "render/streamdraw.h"
#include "render/volumeparams.h"

namespace {

// The premultiplied value the raster engine blends for each colour component
// of a pen of opacity `alpha`, read back from the engine itself (a point over
// opaque black comes out as exactly that value), or null when the engine does
// not blend points as mip::byteMul predicts. That is checked once per opacity
// for every component and every destination value, so the raster path can
// only ever take a blend the engine itself would make. Composite draws its pixels
// at every opacity up to the set's: those opacities are checked for every
// component over sixteen destination values spread over the range (the ends and
// the middle among them), which keeps the first such picture quick.
class BlendTables
{
public:
    // all: every destination value is checked, else the sixteen.
    const quint8 *get(int alpha, bool all = true)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (state_[alpha] == 0 || (all && state_[alpha] == 2)) {
            const bool same = probe(alpha, table_[alpha], all);
            state_[alpha] = !same ? -1 : all ? 1 : 2;
        }
        return state_[alpha] > 0 ? table_[alpha] : nullptr;
    }

private:
    static bool probe(int alpha, quint8 *table, bool all)
    {
        // Row c: destination grey d at column k, one point of grey c at every column.
        static const int some[16] = {0, 1, 2, 17, 34, 63, 64, 100, 127, 128, 129, 170, 200, 253, 254, 255};
        const int n = all ? 256 : 16;
        auto destination = [all](int k) { return all ? k : some[k]; };
        QImage probe(n, 256, QImage::Format_ARGB32);
        for (int y = 0; y < 256; ++y) {
            QRgb *line = reinterpret_cast<QRgb *>(probe.scanLine(y));
            for (int k = 0; k < n; ++k)
                line[k] = qRgba(destination(k), destination(k), destination(k), 255);
        }
        QPainter p(&probe);
        QPoint row[256];
        for (int c = 0; c < 256; ++c) {
            for (int k = 0; k < n; ++k)
                row[k] = QPoint(k, c);
            p.setPen(QColor(c, c, c, alpha));
            p.drawPoints(row, n);
        }
        p.end();
        const quint32 keep = 255u - quint32(alpha);
        for (int c = 0; c < 256; ++c) {
            const QRgb *line = reinterpret_cast<const QRgb *>(probe.constScanLine(c));
            table[c] = quint8(qRed(line[0]));
            const quint32 src = quint32(alpha) << 24 | quint32(table[c]) * 0x010101u;
            for (int k = 0; k < n; ++k)
                if (line[k] != src + mip::byteMul(0xff000000u | quint32(destination(k)) * 0x010101u, keep))
                    return false;
        }
        return true;
    }

    std::mutex mutex_;
    quint8 table_[256][256] = {};
    signed char state_[256] = {};  // 0 unknown, 1 checked, 2 checked on sixteen destinations, -1 differs
};

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
    if (dev == nullptr || dev->devType() != QInternal::Image || p.paintEngine() == nullptr
        || p.paintEngine()->type() != QPaintEngine::Raster)
        return nullptr;
    QImage *img = static_cast<QImage *>(dev);
    if (img->format() != QImage::Format_ARGB32 || img->width() != pw || img->height() != ph || !img->isDetached())
        return nullptr;
    if (p.compositionMode() != QPainter::CompositionMode_SourceOver || p.hasClipping()
        || !p.combinedTransform().isIdentity() || p.opacity() != 1.0 || (p.renderHints() & QPainter::Antialiasing)
        || alpha < 0 || alpha > 255)
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
    mip::ValueBricks bricks;  // of the planes
};

// The planes keep the values in the kind of storage the slices have: 16-bit
// pictures with their rescale stay 16-bit, floats stay floats, values that are
// whole numbers 0 .. 255 become 8-bit pictures; only grids of doubles stay
// doubles. So the copy takes about as much memory as the set itself.
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

    enum class Kind { Bytes, Words, Floats, Doubles };
    const SliceData &first = *set.slices.front();
    bool words = true, floats = true, bytes = true;
    for (const SliceData *sd : set.slices) {
        words = words && sd->isImage && sd->image.format() == QImage::Format_Grayscale16
            && sd->storedBias == first.storedBias && sd->rescaleSlope == first.rescaleSlope
            && sd->rescaleIntercept == first.rescaleIntercept;
        floats = floats && !sd->isImage && !sd->floats.empty();
        bytes = bytes && sd->isImage && sd->image.format() != QImage::Format_Grayscale16;
    }
    std::vector<double> row(static_cast<size_t>(sw));
    if (!words && !floats && !bytes) {
        // Whole numbers 0 .. 255 in any storage still fit a byte.
        bytes = true;
        for (int j = 0; j < ss && bytes; ++j)
            for (int y = 0; y < sh && bytes; ++y) {
                set.slices[size_t(j)]->rowValues(y, row.data());
                for (double v : row)
                    bytes = bytes && v >= 0.0 && v <= 255.0 && v == std::floor(v);
            }
    }
    const Kind kind = words ? Kind::Words : floats ? Kind::Floats : bytes ? Kind::Bytes : Kind::Doubles;

    for (int k = 0; k < count; ++k) {
        auto plane = std::make_unique<SliceData>();
        plane->width = pw;
        plane->height = ph;
        if (kind == Kind::Words || kind == Kind::Bytes) {
            plane->image = QImage(pw, ph, kind == Kind::Words ? QImage::Format_Grayscale16 : QImage::Format_Grayscale8);
            plane->storedBias = first.storedBias;
            plane->rescaleSlope = first.rescaleSlope;
            plane->rescaleIntercept = first.rescaleIntercept;
        } else if (kind == Kind::Floats) {
            plane->floats.resize(size_t(pw) * size_t(ph));
        } else {
            plane->values.assign(size_t(ph), std::vector<double>(size_t(pw)));
        }
        out->planes.push_back(plane.get());
        out->owned.push_back(std::move(plane));
    }
    // Value (x, y) of slice j goes to plane x at (j, y) along columns, plane y at (x, j) along rows.
    for (int j = 0; j < ss; ++j) {
        const SliceData &sd = *set.slices[size_t(j)];
        for (int y = 0; y < sh; ++y) {
            if (kind == Kind::Doubles || kind == Kind::Bytes)
                sd.rowValues(y, row.data());
            for (int x = 0; x < sw; ++x) {
                SliceData &pl = *out->owned[size_t(axis == 0 ? x : y)];
                const int px = axis == 0 ? j : x;
                const int py = axis == 0 ? y : j;
                switch (kind) {
                case Kind::Words:
                    reinterpret_cast<quint16 *>(pl.image.scanLine(py))[px] =
                        reinterpret_cast<const quint16 *>(sd.image.constScanLine(y))[x];
                    break;
                case Kind::Floats:
                    pl.floats[size_t(py) * size_t(pw) + size_t(px)] = sd.floats[size_t(y) * size_t(sw) + size_t(x)];
                    break;
                case Kind::Bytes:
                    pl.image.scanLine(py)[px] = uchar(row[size_t(x)]);
                    break;
                case Kind::Doubles:
                    pl.values[size_t(py)][size_t(px)] = row[size_t(x)];
                    break;
                }
            }
        }
    }
    for (auto &plane : out->owned) {
        if (plane->image.isNull()) {
            plane->isImage = false;
            plane->minV = 0.0;
            plane->maxV = 1.0;
        } else {
            plane->computeImageMinMax();
        }
    }
    out->bricks = mip::valueBricks(out->planes, pw, ph, workpool::threads());
    return out;
}

// The value blocks of a set's own slices, as they were at `generation`.
struct SetBricks {
    const SliceDatas *set = nullptr;
    quint64 generation = 0;
    int axis = 2;
    mip::ValueBricks bricks;
};

// A set's 8-bit slices copied into slabs, as they were at `generation`; empty when
// the set cannot be copied so or the copy would not fit its memory budget.
struct SetSlabs {
    const SliceDatas *set = nullptr;
    quint64 generation = 0;
    int axis = 2;
    mip::SlabBytes slabs;
};

// The slab copy of the set, when it and the slices together fit the set's memory
// budget. The caller holds the set's read lock.
std::shared_ptr<SetSlabs> slabCopy(const SliceDatas &set)
{
    auto out = std::make_shared<SetSlabs>();
    out->set = &set;
    out->generation = set.generation;
    const qint64 size = mip::slabBytesSize(set.slices, set.width, set.height);
    if (size < 0)
        return out;
    qint64 held = 0;
    for (const SliceData *sd : set.slices)
        held += sd->image.sizeInBytes();
    if (held + size > set.memoryBudget())
        return out;
    out->slabs = mip::slabBytes(set.slices, set.width, set.height, workpool::threads());
    return out;
}

// What the drawing derives from a set and keeps between drawings (re-cut planes,
// value blocks, slab copies): the last few, newest first, each for the set as it was at its
// generation. Entries of a set's earlier generations are dropped when the set is
// next looked up, and never handed out.
template <typename T> class SetCache
{
public:
    explicit SetCache(std::size_t kept) : kept_(kept) { }

    // Drops every entry of one set.
    void drop(const SliceDatas *set)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        dropIf([set](const T &p) { return p.set == set; });
    }

    // The entries of one set that hold something (held(entry)).
    template <typename Held = bool (*)(const T &)>
    int count(
        const SliceDatas *set, Held held = [](const T &) { return true; })
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return int(std::count_if(items_.begin(), items_.end(),
                                 [set, &held](const auto &p) { return p->set == set && held(*p); }));
    }

    // The entry for set and axis, made by make() when there is none. The caller holds
    // the set's read lock.
    template <typename Make> std::shared_ptr<const T> get(const SliceDatas &set, int axis, Make make)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        dropIf([&set](const T &p) { return p.set == &set && p.generation != set.generation; });
        for (std::size_t i = 0; i < items_.size(); ++i) {
            const auto &p = items_[i];
            if (p->set == &set && p->axis == axis && p->generation == set.generation) {
                std::rotate(items_.begin(), items_.begin() + qsizetype(i), items_.begin() + qsizetype(i) + 1);
                return items_.front();
            }
        }
        items_.insert(items_.begin(), make());
        if (items_.size() > kept_)
            items_.resize(kept_);
        return items_.front();
    }

private:
    template <typename Pred> void dropIf(Pred pred)
    {
        items_.erase(std::remove_if(items_.begin(), items_.end(), [&pred](const auto &p) { return pred(*p); }),
                     items_.end());
    }

    std::size_t kept_;
    std::mutex mutex_;
    std::vector<std::shared_ptr<const T>> items_;
};

}  // namespace

namespace render {

// What a renderer keeps of the sets it draws. Re-cut copies take about the memory
// of their set: two at most; slab copies as much: one.
struct VolumeCaches {
    SetCache<Planes> planes{2};
    SetCache<SetBricks> bricks{8};
    SetCache<SetSlabs> slabs{1};
    BlendTables blends;

    // The caller holds the set's read lock.
    std::shared_ptr<const SetSlabs> slabsOf(const SliceDatas &set)
    {
        return slabs.get(set, 2, [&] { return slabCopy(set); });
    }

    // The caller holds the set's read lock.
    std::shared_ptr<const Planes> planesAlong(const SliceDatas &set, int axis)
    {
        return planes.get(set, axis, [&] { return cutPlanes(set, axis); });
    }

    // The caller holds the set's read lock.
    std::shared_ptr<const SetBricks> bricksOf(const SliceDatas &set)
    {
        return bricks.get(set, 2, [&] {
            auto b = std::make_shared<SetBricks>();
            b->set = &set;
            b->generation = set.generation;
            b->bricks = mip::valueBricks(set.slices, set.width, set.height, workpool::threads());
            return b;
        });
    }
};

// How chunks that come in on worker threads reach the renderer: the link outlives it
// (a load may end after it is gone) and is cut in its destructor.
struct Renderer::ArrivalLink {
    std::mutex mutex;
    Renderer *renderer = nullptr;
    bool pending = false;

    void notify()
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (renderer == nullptr || pending)
            return;
        pending = true;
        Renderer *r = renderer;
        // Runs in the renderer's thread, and not at all once the renderer is gone.
        QMetaObject::invokeMethod(
            r,
            [r] {
                {
                    std::lock_guard<std::mutex> heard(r->arrival_->mutex);
                    r->arrival_->pending = false;
                }
                emit r->chunksArrived();
            },
            Qt::QueuedConnection);
    }
};

Renderer::Renderer(QObject *parent) : QObject(parent), caches_(std::make_unique<VolumeCaches>()),
    coarse_(std::make_unique<CoarseCopies>()), arrival_(std::make_shared<ArrivalLink>())
{
    arrival_->renderer = this;
}

Renderer::~Renderer()
{
    std::lock_guard<std::mutex> lock(arrival_->mutex);
    arrival_->renderer = nullptr;
}

std::function<void()> Renderer::arrivalNotice() const
{
    return [link = arrival_] { link->notify(); };
}

Renderer::StreamedFrame Renderer::lastStreamedFrame() const
{
    std::lock_guard<std::mutex> lock(streamedMutex_);
    return streamed_;
}

void Renderer::setRasterPathEnabled(bool on)
{
    rasterPath_ = on;
}

void Renderer::setSlabCopies(SlabCopies use)
{
    slabs_ = use;
}

bool Renderer::readSlabs(const mip::Params &pr, int ss) const
{
    if (!mip::readsSlabs(pr, ss))
        return false;
    switch (slabs_.load()) {
    case SlabCopies::Always:
        return true;
    case SlabCopies::Never:
        return false;
    case SlabCopies::Auto:
        break;
    }
    // Measured (bench_render, the filled cases): on a 1 GiB set, about 0.78 of the time
    // with rays 7 voxels apart and 0.9 with rays 1.7 voxels apart; on a set of 16 MiB
    // (held by the last-level cache) no gain. Closer rays were not measured.
    return qint64(pr.sw) * pr.sh * ss >= (qint64(1) << 29) && pr.scale >= 1.5;
}

const quint8 *Renderer::engineBlend(int alpha, bool everyDestination)
{
    return caches_->blends.get(alpha, everyDestination);
}

void Renderer::watch(const SliceDatas &set)
{
    std::lock_guard<std::mutex> lock(watchMutex_);
    if (!watched_.insert(&set).second)
        return;
    const SliceDatas *key = &set;
    // Destruction is heard in the destroying thread, before the slices go, so a coarse
    // copy being made of them stops first; a reload's clear is heard in this thread.
    connect(&set, &SliceDatas::aboutToBeDestroyed, this, [this, key] {
        forget(key);
        std::lock_guard<std::mutex> watching(watchMutex_);
        watched_.erase(key);
    }, Qt::DirectConnection);
    connect(&set, &SliceDatas::cleared, this, [this, key] { forget(key); });
}

void Renderer::forget(const SliceDatas *set)
{
    coarse_->forget(set);
    caches_->planes.drop(set);
    caches_->bricks.drop(set);
    caches_->slabs.drop(set);
}

std::shared_ptr<const CoarseSet> Renderer::coarseCopy(const SliceDatas &set)
{
    watch(set);
    return coarse_->get(set);
}

void Renderer::waitForCoarseCopies()
{
    coarse_->waitForBuilds();
}

int Renderer::keptCopies(const SliceDatas *set)
{
    return caches_->planes.count(set) + caches_->bricks.count(set)
        + caches_->slabs.count(set, [](const SetSlabs &c) { return !c.slabs.empty(); }) + (coarse_->has(set) ? 1 : 0);
}

void Renderer::prepareVolumes(const Scene &s)
{
    for (const SceneLayer &layer : s.layers) {
        if (layer.set == nullptr || !layer.showVolume)
            continue;
        const SliceDatas &set = *layer.set;
        watch(set);
        SliceDatas::ReadGuard guard(set);
        if (set.slices.empty() || set.width <= 0 || set.height <= 0)
            continue;
        const int axis = render::samplingAxis(s.view, layer.spacing);
        if (axis == 2)
            caches_->bricksOf(set);
        else
            caches_->planesAlong(set, axis);
    }
}

void Renderer::drawVolume(QPainter &p, const SceneView &v, const SceneLayer &layer, int sw, int sh, int pw, int ph)
{
    if (layer.set == nullptr)
        return;
    const SliceDatas &set = *layer.set;
    watch(set);
    SliceDatas::ReadGuard guard(set);
    const std::vector<SliceData *> &slices = set.slices;
    mip::Params pr = volumeParams(v, layer, sw, sh, int(slices.size()), pw, ph);
    mip::CompositeTables composite;
    if (pr.projection == Projection::Composite) {
        composite = mip::compositeTables(pr, layer.opacity);
        pr.composite = &composite;
    }
    if (ph <= 0)
        return;
    // Sampling trusts sw and sh: a set that no longer has that size (a load
    // began since the caller looked) is not drawn.
    if (!slices.empty() && (set.width != sw || set.height != sh))
        return;

    if (QImage *target = rasterPath_ ? rasterTarget(p, pw, ph, pr.alpha) : nullptr) {
        // Fully transparent points change nothing on the picture. Composite draws
        // each pixel at its own opacity, up to the set's.
        const quint8 *premul[256] = {};
        bool blends = pr.alpha > 0;
        for (int a = pr.projection == Projection::Composite ? 1 : pr.alpha; a <= pr.alpha && blends; ++a) {
            premul[a] = engineBlend(a, a == pr.alpha);
            blends = premul[a] != nullptr;
        }
        if (pr.alpha == 0 || blends) {
            if (blends && layer.finerLevels != FinerLevels::off && set.stream) {
                const StreamedResult streamed = drawStreamed(v, layer, set, premul, target->bits(),
                                                             target->bytesPerLine(), pw, ph, arrivalNotice());
                if (streamed.drawn) {
                    std::lock_guard<std::mutex> lock(streamedMutex_);
                    streamed_ = StreamedFrame{streamed.level, streamed.missing};
                    return;
                }
            }
            if (blends) {
                const int threads = workpool::threads();
                const render::CoarseSet *coarse = layer.coarse.get();
                if (coarse != nullptr && pr.axis == 2 && pr.projection == Projection::Maximum && !pr.linear
                    && coarse->generation == set.generation
                    && !coarse->slices.empty()) {
                    // The coarse volume in its own units: every length halved.
                    mip::Params cp = pr;
                    cp.center = Vec3{pr.center.x / 2.0, pr.center.y / 2.0, pr.center.z / 2.0};
                    cp.scale = pr.scale / 2.0;
                    cp.sw = coarse->width;
                    cp.sh = coarse->height;
                    cp.B = layer.cutPos / 100.0 * double(coarse->slices.size());
                    mip::renderOnto(cp, coarse->slices, premul, target->bits(), target->bytesPerLine(), threads,
                                    &coarse->bricks);
                } else if (pr.axis == 2 || slices.empty()) {
                    const std::shared_ptr<const SetBricks> bricks = caches_->bricksOf(set);
                    std::shared_ptr<const SetSlabs> slabs;
                    if (readSlabs(pr, int(slices.size())))
                        slabs = caches_->slabsOf(set);
                    mip::renderOnto(pr, slices, premul, target->bits(), target->bytesPerLine(), threads,
                                    &bricks->bricks, slabs ? &slabs->slabs : nullptr);
                } else {
                    const std::shared_ptr<const Planes> planes = caches_->planesAlong(set, pr.axis);
                    mip::renderOnto(mip::alongAxis(pr, int(slices.size())), planes->planes, premul, target->bits(),
                                    target->bytesPerLine(), threads, &planes->bricks);
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
