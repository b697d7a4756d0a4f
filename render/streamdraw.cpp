#include "render/streamdraw.h"

#include <QColor>

#include <algorithm>
#include <atomic>
#include <cmath>
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

// The layer's spacing for level k: the set's spacing (as the layer has it, typed or
// from the file) scaled by how much coarser or finer level k is than the held one.
Spacing levelSpacing(const SceneLayer &layer, const StreamedVolume &s, int k)
{
    const StreamLevel &held = s.levels()[std::size_t(s.heldLevel())];
    const StreamLevel &level = s.levels()[std::size_t(k)];
    return Spacing{layer.spacing.x * level.spacing.x / held.spacing.x,
                   layer.spacing.y * level.spacing.y / held.spacing.y,
                   layer.spacing.z * level.spacing.z / held.spacing.z};
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

// One ray's view of a level: the chunk it last read from and that chunk's box.
struct RayChunk {
    StreamedVolume::Chunk chunk;
    qint64 x0 = 1, x1 = 0, y0 = 1, y1 = 0, z0 = 1, z1 = 0;
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

    // The value at (j, col, row) of the drawn level: from its chunk when in, else from
    // the finest coarser level that has it, down to the set's slices.
    double value(std::vector<RayChunk> &ray, qint64 j, qint64 col, qint64 row)
    {
        for (int m = 0; m < int(levels_.size()); ++m) {
            const LevelChunks &t = levels_[std::size_t(m)];
            // A level halved rounding down lacks the last voxel of an odd axis: its
            // neighbour stands for it.
            const qint64 z = std::min(j >> t.sz, t.level->depth - 1);
            const qint64 y = std::min(row >> t.sy, t.level->height - 1);
            const qint64 x = std::min(col >> t.sx, t.level->width - 1);
            RayChunk &rc = ray[std::size_t(m)];
            if (!(x >= rc.x0 && x < rc.x1 && y >= rc.y0 && y < rc.y1 && z >= rc.z0 && z < rc.z1))
                enter(m, x, y, z, rc);
            if (!rc.chunk)
                continue;
            const StreamLevel &L = *levels_[std::size_t(m)].level;
            const qint64 at = ((z - rc.z0) * L.chunkHeight + (y - rc.y0)) * L.chunkWidth + (x - rc.x0);
            return volumeSampleValue(layout_, rc.chunk->data() + std::size_t(at) * std::size_t(bytes_));
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
    if (heldLevel.width != set.width || heldLevel.height != set.height
        || heldLevel.depth != qint64(set.slices.size()))
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
    std::atomic<int> nextRow{0};
    auto work = [&]() {
        std::vector<RayChunk> ray(std::size_t(chunks.levelsStreamed()));
        for (int r = nextRow.fetch_add(1); r < ph; r = nextRow.fetch_add(1)) {
            quint32 *line = reinterpret_cast<quint32 *>(dest + qsizetype(r) * bpl);
            for (int c = 0; c < pw; ++c) {
                const QColor pen = mip::castPixelWith(pr, ss, c, r, [&](int j, int col, int row) {
                    return chunks.value(ray, j, col, row);
                });
                const int a = pen.alpha();
                if (a <= 0 || premul[a] == nullptr)
                    continue;
                const quint8 *blend = premul[a];
                line[c] = (quint32(a) << 24 | quint32(blend[pen.red()]) << 16 | quint32(blend[pen.green()]) << 8
                           | quint32(blend[pen.blue()]))
                    + mip::byteMul(line[c], 255u - quint32(a));
            }
        }
    };
    workpool::run(std::max(1, std::min(workpool::threads(), ph)) - 1, work);

    result.drawn = true;
    result.level = k;
    const std::vector<qint64> missing = chunks.missing();
    result.missing = qint64(missing.size());
    if (wait == FinerLevels::ask)
        chunks.ask(missing, arrived);
    return result;
}

}  // namespace render
