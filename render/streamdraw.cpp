#include "render/streamdraw.h"

#include <QColor>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <vector>

#include "data/slicedata.h"
#include "data/slicedatas.h"
#include "data/streamedvolume.h"
#include "data/workpool.h"
#include "render/raycast.h"
#include "render/volumeparams.h"

namespace render {

namespace {

// One axis of levelSpacing. The file's own spacing gives the level's own, bit for bit
// what loading that level would give (a product before the quotient may round away
// from it and move samples across voxel edges); a typed one is scaled by the ratio.
double levelStep(double layer, double level, double held)
{
    return layer == held ? level : layer * (level / held);
}

// The layer's spacing for level k: the set's spacing (as the layer has it, typed or
// from the file) scaled by how much coarser or finer level k is than the held one.
Spacing levelSpacing(const SceneLayer &layer, const StreamedVolume &s, int k)
{
    const StreamLevel &held = s.levels()[std::size_t(s.heldLevel())];
    const StreamLevel &level = s.levels()[std::size_t(k)];
    return Spacing{levelStep(layer.spacing.x, level.spacing.x, held.spacing.x),
                   levelStep(layer.spacing.y, level.spacing.y, held.spacing.y),
                   levelStep(layer.spacing.z, level.spacing.z, held.spacing.z)};
}

// What the rays of one frame know of the chunks of one level: 0 not looked at yet,
// 1 in memory when looked at, 2 missing (asked for, or unreadable).
struct LevelChunks {
    const StreamLevel *level = nullptr;
    qint64 gx = 0, gy = 0, gz = 0;
    // How many times each axis was halved from the drawn level to this one.
    int sx = 0, sy = 0, sz = 0;
    std::unique_ptr<std::atomic<quint8>[]> state;
};

// How many times an axis of `from` voxels was halved (rounded up or down) to `to`;
// -1 when it was not halved or kept at each step.
int halvings(const std::vector<StreamLevel> &levels, int a, int b, qint64 StreamLevel::*axis)
{
    int n = 0;
    for (int m = a; m < b; ++m) {
        const qint64 from = levels[std::size_t(m)].*axis, to = levels[std::size_t(m + 1)].*axis;
        if (to == from && to != (from + 1) / 2)
            continue;
        if (to != (from + 1) / 2 && to != from / 2)
            return -1;
        ++n;
    }
    return n;
}

// One ray's view of a level: the chunk it last read from (its samples, null when it
// is not in) and that chunk's box.
struct RayChunk {
    StreamedVolume::Chunk chunk;
    const unsigned char *data = nullptr;
    qint64 x0 = 1, x1 = 0, y0 = 1, y1 = 0, z0 = 1, z1 = 0;

    bool holds(qint64 x, qint64 y, qint64 z) const
    {
        return x >= x0 && x < x1 && y >= y0 && y < y1 && z >= z0 && z < z1;
    }
};

// The value of stored sample `at` of a chunk, exactly as volumeSampleValue gives it,
// and that value mapped through the window as the rays map it (mip::mapValue): 8- and
// 16-bit samples through tables of every stored word, made once a frame (as the
// raster path maps picture words; the mapped one only for the maximum of nearest
// values, the one projection that maps every sample it takes), others through the
// layout.
template <typename Word> class TableSamples
{
public:
    TableSamples(const SampleLayout &l, const mip::Params &pr) : values_(std::size_t(1) << (8 * sizeof(Word)))
    {
        for (std::size_t i = 0; i < values_.size(); ++i) {
            const Word w = Word(i);
            unsigned char bytes[sizeof(Word)];
            std::memcpy(bytes, &w, sizeof(Word));
            values_[i] = volumeSampleValue(l, bytes);
        }
        if (pr.projection == Projection::Maximum && !pr.linear) {
            mapped_.resize(values_.size());
            for (std::size_t i = 0; i < values_.size(); ++i)
                mapped_[i] = mip::mapValue(values_[i], pr.minTh, pr.maxTh, pr.saturate);
        }
    }
    Q_ALWAYS_INLINE double operator()(const unsigned char *data, qint64 at) const { return values_[word(data, at)]; }
    Q_ALWAYS_INLINE double mapped(const unsigned char *data, qint64 at) const { return mapped_[word(data, at)]; }

private:
    static Word word(const unsigned char *data, qint64 at)
    {
        Word w;
        std::memcpy(&w, data + at * qint64(sizeof(Word)), sizeof(Word));
        return w;
    }
    std::vector<double> values_, mapped_;
};

class LayoutSamples
{
public:
    LayoutSamples(const SampleLayout &l, const mip::Params &pr)
        : layout_(l), bytes_(sampleTypeBytes(l.type)), minTh_(pr.minTh), maxTh_(pr.maxTh), saturate_(pr.saturate)
    {
    }
    double operator()(const unsigned char *data, qint64 at) const
    {
        return volumeSampleValue(layout_, data + at * bytes_);
    }
    double mapped(const unsigned char *data, qint64 at) const
    {
        return mip::mapValue((*this)(data, at), minTh_, maxTh_, saturate_);
    }

private:
    const SampleLayout layout_;
    const qint64 bytes_;
    const double minTh_, maxTh_;
    const bool saturate_;
};

class FrameChunks
{
public:
    FrameChunks(StreamedVolume &s, const SliceDatas &set, int level, FinerLevels wait)
        : s_(s), set_(set), level_(level), held_(s.heldLevel()), wait_(wait), layout_(s.layout()),
          bytes_(sampleTypeBytes(layout_.type))
    {
        const std::vector<StreamLevel> &all = s.levels();
        for (int m = level; m < held_; ++m) {
            LevelChunks t;
            t.level = &all[std::size_t(m)];
            t.sx = halvings(all, level, m, &StreamLevel::width);
            t.sy = halvings(all, level, m, &StreamLevel::height);
            t.sz = halvings(all, level, m, &StreamLevel::depth);
            t.gx = t.level->chunksX();
            t.gy = t.level->chunksY();
            t.gz = t.level->chunksZ();
            const qint64 n = t.gx * t.gy * t.gz;
            t.state.reset(new std::atomic<quint8>[std::size_t(n)]);
            for (qint64 i = 0; i < n; ++i)
                t.state[std::size_t(i)].store(0, std::memory_order_relaxed);
            levels_.push_back(std::move(t));
        }
        heldX_ = halvings(all, level, held_, &StreamLevel::width);
        heldY_ = halvings(all, level, held_, &StreamLevel::height);
        heldZ_ = halvings(all, level, held_, &StreamLevel::depth);
    }

    int levelsStreamed() const { return int(levels_.size()); }
    // The level drawn (the first streamed one).
    const StreamLevel &drawn() const { return *levels_.front().level; }

    // The value at (j, col, row) of the drawn level: from its chunk when in, else from
    // the finest coarser level that has it, down to the set's slices. read(samples, i)
    // gives the value of a chunk's stored sample i.
    template <typename Read>
    Q_NEVER_INLINE double value(RayChunk *ray, qint64 j, qint64 col, qint64 row, const Read &read)
    {
        for (int m = 0; m < int(levels_.size()); ++m) {
            const LevelChunks &t = levels_[std::size_t(m)];
            // A level halved rounding down lacks the last voxel of an odd axis: its
            // neighbour stands for it.
            const qint64 z = std::min(j >> t.sz, t.level->depth - 1);
            const qint64 y = std::min(row >> t.sy, t.level->height - 1);
            const qint64 x = std::min(col >> t.sx, t.level->width - 1);
            RayChunk &rc = ray[m];
            if (!rc.holds(x, y, z))
                enter(m, x, y, z, rc);
            if (!rc.data)
                continue;
            const StreamLevel &L = *t.level;
            return read(rc.data, ((z - rc.z0) * L.chunkHeight + (y - rc.y0)) * L.chunkWidth + (x - rc.x0));
        }
        const qint64 z = std::min<qint64>(j >> heldZ_, qint64(set_.slices.size()) - 1);
        return set_.slices[std::size_t(z)]->value(int(std::min<qint64>(col >> heldX_, set_.width - 1)),
                                                  int(std::min<qint64>(row >> heldY_, set_.height - 1)));
    }

    // The chunks of the drawn level found missing, in chunk order.
    std::vector<qint64> missing() const
    {
        std::vector<qint64> out;
        if (levels_.empty())
            return out;
        const LevelChunks &t = levels_.front();
        const qint64 n = t.gx * t.gy * t.gz;
        for (qint64 i = 0; i < n; ++i)
            if (t.state[std::size_t(i)].load(std::memory_order_relaxed) == 2)
                out.push_back(i);
        return out;
    }

    void ask(const std::vector<qint64> &chunks, const std::function<void()> &arrived)
    {
        if (levels_.empty())
            return;
        const LevelChunks &t = levels_.front();
        for (qint64 i : chunks)
            s_.request(level_, i / (t.gx * t.gy), i / t.gx % t.gy, i % t.gx, arrived);
    }

private:
    // Points the ray at the chunk holding (x, y, z) of streamed level m; the box is set
    // even for a missing chunk, so the ray does not look again until it leaves it.
    void enter(int m, qint64 x, qint64 y, qint64 z, RayChunk &rc)
    {
        LevelChunks &t = levels_[std::size_t(m)];
        const StreamLevel &L = *t.level;
        const qint64 cx = x / L.chunkWidth, cy = y / L.chunkHeight, cz = z / L.chunkDepth;
        rc.x0 = cx * L.chunkWidth, rc.x1 = rc.x0 + L.chunkWidth;
        rc.y0 = cy * L.chunkHeight, rc.y1 = rc.y0 + L.chunkHeight;
        rc.z0 = cz * L.chunkDepth, rc.z1 = rc.z0 + L.chunkDepth;
        rc.chunk.reset();
        rc.data = nullptr;
        std::atomic<quint8> &state = t.state[std::size_t((cz * t.gy + cy) * t.gx + cx)];
        if (state.load(std::memory_order_relaxed) == 2)
            return;
        const int level = level_ + m;
        rc.chunk = s_.find(level, cz, cy, cx);
        // Only the drawn level is read or asked for; the coarser ones serve as they are.
        if (!rc.chunk && m == 0 && wait_ == FinerLevels::read)
            rc.chunk = s_.get(level, cz, cy, cx);
        if (rc.chunk && rc.chunk->size() < std::size_t(L.chunkWidth * L.chunkHeight * L.chunkDepth * bytes_))
            rc.chunk.reset();
        if (rc.chunk)
            rc.data = rc.chunk->data();
        state.store(rc.chunk ? 1 : 2, std::memory_order_relaxed);
    }

    StreamedVolume &s_;
    const SliceDatas &set_;
    const int level_, held_;
    const FinerLevels wait_;
    const SampleLayout layout_;
    const int bytes_;
    std::vector<LevelChunks> levels_;
    int heldX_ = 0, heldY_ = 0, heldZ_ = 0;
};

// The value ray k of a group reads at (j, col, row): from the chunk it is in, straight,
// when that is in memory (kept inline, as it is most of the work), else through the
// frame's chunks.
template <typename Read> struct ChunkValue : mip::MapsValues {
    ChunkValue(FrameChunks &f, const Read &r, const mip::Params &p, RayChunk *rs, int ls)
        : chunks(f), read(r), pr(p), rays(rs), levels(ls), cw(f.drawn().chunkWidth), ch(f.drawn().chunkHeight)
    {
    }
    FrameChunks &chunks;
    const Read &read;
    const mip::Params &pr;
    RayChunk *rays;
    int levels;
    qint64 cw, ch;

    Q_ALWAYS_INLINE double operator()(int k, int j, int col, int row) const
    {
        RayChunk *ray = rays + std::ptrdiff_t(k) * levels;
        if (ray->data && ray->holds(col, row, j))
            return read(ray->data, ((j - ray->z0) * ch + (row - ray->y0)) * cw + (col - ray->x0));
        return chunks.value(ray, j, col, row, read);
    }
    // The same value mapped through the window.
    Q_ALWAYS_INLINE double mapped(int k, int j, int col, int row) const
    {
        RayChunk *ray = rays + std::ptrdiff_t(k) * levels;
        if (ray->data && ray->holds(col, row, j))
            return read.mapped(ray->data, ((j - ray->z0) * ch + (row - ray->y0)) * cw + (col - ray->x0));
        return mip::mapValue(chunks.value(ray, j, col, row, read), pr.minTh, pr.maxTh, pr.saturate);
    }
};

// Casts the rays of the picture on the pool, a group of neighbouring rays of a row at a
// time, and blends their pens into dest. Each sample goes through the reference's
// arithmetic (castPixelsWith); its value comes straight from the chunk the ray is in
// while that is in memory, the box and samples of which the ray keeps until it leaves.
template <typename Read>
void castRows(const mip::Params &pr, int ss, FrameChunks &chunks, const Read &read, const quint8 *const *premul,
              uchar *dest, qsizetype bpl, int pw, int ph)
{
    const int levels = chunks.levelsStreamed();
    const int groups = (pw + mip::maxGroupRays - 1) / mip::maxGroupRays;
    std::atomic<int> next{0};
    auto work = [&]() {
        std::vector<RayChunk> rays(std::size_t(mip::maxGroupRays) * std::size_t(levels));
        QColor pens[mip::maxGroupRays];
        ChunkValue<Read> value(chunks, read, pr, rays.data(), levels);
        for (int g = next.fetch_add(1); g < groups * ph; g = next.fetch_add(1)) {
            const int r = g / groups, c0 = g % groups * mip::maxGroupRays;
            const int n = std::min(mip::maxGroupRays, pw - c0);
            mip::castPixelsWith(pr, ss, c0, n, r, value, pens);
            quint32 *line = reinterpret_cast<quint32 *>(dest + qsizetype(r) * bpl);
            for (int k = 0; k < n; ++k) {
                const QColor &pen = pens[k];
                const int a = pen.alpha();
                if (a <= 0 || premul[a] == nullptr)
                    continue;
                const quint8 *blend = premul[a];
                quint32 &px = line[c0 + k];
                px = (quint32(a) << 24 | quint32(blend[pen.red()]) << 16 | quint32(blend[pen.green()]) << 8
                      | quint32(blend[pen.blue()]))
                    + mip::byteMul(px, 255u - quint32(a));
            }
        }
    };
    workpool::run(std::max(1, std::min(workpool::threads(), groups * ph)) - 1, work);
}

}  // namespace

int streamLevelFor(const SceneView &v, const SceneLayer &layer, const StreamedVolume &s)
{
    const int n = int(s.levels().size());
    for (int k = 0; k < n; ++k) {
        const Spacing sp = levelSpacing(layer, s, k);
        if (std::min({sp.x, sp.y, sp.z}) >= v.scale)
            return k;
    }
    return std::max(n - 1, 0);
}

StreamedResult drawStreamed(const SceneView &v, const SceneLayer &layer, const SliceDatas &set,
                            const quint8 *const *premul, uchar *dest, qsizetype bpl, int pw, int ph,
                            const std::function<void()> &arrived)
{
    StreamedResult result;
    const FinerLevels wait = layer.finerLevels;
    if (wait == FinerLevels::off)
        return result;
    const std::shared_ptr<StreamedVolume> stream = set.stream;
    if (!stream || stream->levels().empty() || set.slices.empty())
        return result;
    const int held = stream->heldLevel();
    const std::vector<StreamLevel> &levels = stream->levels();
    if (held < 0 || held >= int(levels.size()))
        return result;
    const StreamLevel &heldLevel = levels[std::size_t(held)];
    if (heldLevel.width != set.width || heldLevel.height != set.height || heldLevel.depth != qint64(set.slices.size()))
        return result;
    const int k = streamLevelFor(v, layer, *stream);
    if (k >= held)
        return result;
    const StreamLevel &L = levels[std::size_t(k)];
    // Each level halves each axis of the one before (rounded either way) or keeps it:
    // a coarser voxel is found by halving the drawn level's place along those axes.
    for (qint64 StreamLevel::*axis : {&StreamLevel::width, &StreamLevel::height, &StreamLevel::depth})
        if (halvings(levels, k, held, axis) < 0)
            return result;
    if (L.width > std::numeric_limits<int>::max() || L.height > std::numeric_limits<int>::max()
        || L.depth > std::numeric_limits<int>::max())
        return result;

    SceneLayer at = layer;
    at.spacing = levelSpacing(layer, *stream, k);
    mip::Params pr = volumeParams(v, at, int(L.width), int(L.height), int(L.depth), pw, ph);
    mip::CompositeTables composite;
    if (pr.projection == Projection::Composite) {
        composite = mip::compositeTables(pr, layer.opacity);
        pr.composite = &composite;
    }
    FrameChunks chunks(*stream, set, k, wait);
    const int ss = int(L.depth);
    const SampleLayout layout = stream->layout();
    switch (sampleTypeBytes(layout.type)) {
    case 1:
        castRows(pr, ss, chunks, TableSamples<quint8>(layout, pr), premul, dest, bpl, pw, ph);
        break;
    case 2:
        castRows(pr, ss, chunks, TableSamples<quint16>(layout, pr), premul, dest, bpl, pw, ph);
        break;
    default:
        castRows(pr, ss, chunks, LayoutSamples(layout, pr), premul, dest, bpl, pw, ph);
        break;
    }

    result.drawn = true;
    result.level = k;
    const std::vector<qint64> missing = chunks.missing();
    result.missing = qint64(missing.size());
    if (wait == FinerLevels::ask)
        chunks.ask(missing, arrived);
    return result;
}

}  // namespace render
