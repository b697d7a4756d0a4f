#include "data/zarrvolume.h"

#include <QDir>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <exception>
#include <limits>
#include <vector>

#include "data/slicefile.h"
#include "data/workpool.h"
#include "data/zarrchunks.h"
#include "data/zarrstream.h"

namespace {

constexpr qint64 maxChunksRead = qint64(1) << 22;
// When level 0 is not held, a coarser level is held only if its stored samples are at
// most this (read in well under a second), so the first picture comes quickly; the
// finer levels are streamed. The coarsest level is held whatever its size.
constexpr qint64 maxHeldCoarseBytes = qint64(128) << 20;

// Threads that decode the chunks of a level, each with a chunk of its own: no more
// than a row of chunks holds.
int decodeThreads(const ZarrArrayMeta &a)
{
    const ZarrChunkIndex grid = zarrChunkGrid(a);
    return int(std::clamp<qint64>(grid.y * grid.x, 1, std::min(workpool::threads(), 8)));
}

// The memory one level needs while it is read: its slices, a slab of stored samples
// one chunk deep, and one chunk. -1 when the level may not be held at all.
qint64 levelNeeds(const ZarrArrayMeta &a)
{
    const qint64 w = a.width(), h = a.height(), d = a.depth();
    if (!sliceSizeAllowed(w, h) || d > maxStackFilePoints || w * h > maxStackFilePoints / d)
        return -1;
    // Every chunk is looked for, so a level of tiny chunks would take long to read
    // even when their files are missing.
    const ZarrChunkIndex grid = zarrChunkGrid(a);
    if (grid.z * grid.y * grid.x > maxChunksRead)
        return -1;
    const SampleLayout l = a.layout();
    const qint64 kept = keptSliceBytes(l, int(w), int(h));
    const qint64 slab = std::min(a.chunkDepth(), d) * w * h * sampleTypeBytes(l.type);
    const qint64 chunk = a.chunkBytes() * decodeThreads(a);
    const qint64 limit = std::numeric_limits<qint64>::max() / 4;
    if (kept > limit / d || chunk > limit)
        return -1;
    return kept * d + slab + chunk;
}

}  // namespace

QString zarrLevelDir(const QString &dir, const ZarrImage &image, std::size_t k)
{
    return zarrLocation(dir, image.levels[k].path);
}

const char *readZarrSlab(const QString &arrayDir, const ZarrArrayMeta &meta, qint64 z0, qint64 z1, unsigned char *dest,
                         int threads)
{
    return readZarrSlab(*openZarrStore(arrayDir), QString(), meta, z0, z1, dest, threads);
}

const char *readZarrSlab(const ZarrStore &store, const QString &arrayKey, const ZarrArrayMeta &meta, qint64 z0,
                         qint64 z1, unsigned char *dest, int threads)
{
    const qint64 w = meta.width(), h = meta.height();
    const qint64 cd = meta.chunkDepth(), ch = meta.chunkHeight(), cw = meta.chunkWidth();
    const int bytes = sampleTypeBytes(meta.type);
    const ZarrChunkIndex grid = zarrChunkGrid(meta);
    const qint64 firstRow = z0 / cd, rows = (z1 + cd - 1) / cd - firstRow;
    const qint64 count = rows * grid.y * grid.x;
    // Each thread decodes the chunks it takes into its own buffer and copies them to
    // their own places in dest.
    std::atomic<qint64> next{0};
    std::atomic<const char *> failure{nullptr};
    workpool::run(std::max(threads, 1) - 1, [&] {
        std::vector<unsigned char> chunk;
        for (qint64 i = next++; i < count && !failure.load(); i = next++) {
            const qint64 cz = firstRow + i / (grid.y * grid.x), cy = i / grid.x % grid.y, cx = i % grid.x;
            const char *why = nullptr;
            if (readZarrChunk(store, arrayKey, meta, ZarrChunkIndex{cz, cy, cx}, chunk, &why)
                == ZarrChunkState::fault) {
                failure.store(why);
                return;
            }
            // Only the part of the chunk inside the array and the slab is copied; the
            // chunk's own rows are cw samples long whatever the array's edge.
            const qint64 zFrom = std::max(z0, cz * cd), zTo = std::min(z1, (cz + 1) * cd);
            const qint64 chunkRows = std::min(ch, h - cy * ch), cols = std::min(cw, w - cx * cw);
            for (qint64 z = zFrom; z < zTo; ++z) {
                for (qint64 r = 0; r < chunkRows; ++r) {
                    const unsigned char *from = chunk.data() + (((z - cz * cd) * ch + r) * cw) * bytes;
                    unsigned char *to = dest + (((z - z0) * h + cy * ch + r) * w + cx * cw) * bytes;
                    std::memcpy(to, from, std::size_t(cols * bytes));
                }
            }
        }
    });
    return failure.load();
}

bool readZarrVolume(const QString &dir, SliceFile &out) noexcept
{
    try {
        if (!isZarrAddress(dir) && !isZarrFolder(dir))
            return false;
        const std::shared_ptr<ZarrStore> store = openZarrStore(dir);
        ZarrImage image;
        if (const char *why = readZarrImage(*store, image)) {
            out.reason = QString::fromLatin1(why);
            return true;
        }
        // The finest level that may be held and fits what is left of the budget.
        std::size_t chosen = image.levels.size();
        const char *why = skipReason::tooManyVoxels;
        for (std::size_t k = 0; k < image.levels.size() && chosen == image.levels.size(); ++k) {
            const ZarrArrayMeta &a = image.levels[k].array;
            const qint64 needs = levelNeeds(a);
            if (needs < 0)
                continue;
            if (k > 0 && k + 1 < image.levels.size()
                && a.width() * a.height() * a.depth() * sampleTypeBytes(a.type) > maxHeldCoarseBytes)
                continue;
            if (reserveSliceMemoryIfFree(needs))
                chosen = k;
            else
                why = skipReason::noMemory;
        }
        if (chosen == image.levels.size()) {
            out.reason = QString::fromLatin1(why);
            return true;
        }
        const ZarrLevel &level = image.levels[chosen];
        const ZarrArrayMeta &a = level.array;
        const qint64 w = a.width(), h = a.height(), d = a.depth();
        const SampleLayout layout = a.layout();
        const qint64 sliceSamples = w * h * sampleTypeBytes(layout.type);
        std::vector<unsigned char> slab(std::size_t(std::min(a.chunkDepth(), d) * sliceSamples));
        const QString arrayKey = image.levels[chosen].path;
        for (qint64 z0 = 0; z0 < d; z0 += a.chunkDepth()) {
            const qint64 z1 = std::min(d, z0 + a.chunkDepth());
            if (const char *bad = readZarrSlab(*store, arrayKey, a, z0, z1, slab.data(), decodeThreads(a))) {
                out.slices.clear();
                out.reason = QString::fromLatin1(bad);
                return true;
            }
            for (qint64 z = z0; z < z1; ++z) {
                std::unique_ptr<SliceData> s =
                    makeVolumeSlice(slab.data() + (z - z0) * sliceSamples, int(w), int(h), layout);
                if (!s) {
                    out.slices.clear();
                    out.reason = QString::fromLatin1(skipReason::noMemory);
                    return true;
                }
                out.slices.push_back(std::move(s));
            }
        }
        // The finer levels stay on disk, read chunk by chunk as drawing asks, in what the
        // budget has left (at least a few of their chunks).
        if (chosen > 0) {
            qint64 largestChunk = 0;
            for (std::size_t k = 0; k < chosen; ++k)
                largestChunk = std::max(largestChunk, image.levels[k].array.chunkBytes());
            const qint64 left = sliceMemoryLeft();
            const qint64 limit = std::max(left < 0 ? defaultSliceBudget() / 4 : left, 8 * largestChunk);
            out.stream = std::make_shared<ZarrStream>(store, image, int(chosen), limit);
        }
        out.hasSpacing = true;
        out.spacing = level.spacing;
        out.spacingUnit = image.unit;
        out.volume.volumes = image.volumes;
        out.volume.level = int(chosen);
        out.volume.levels = int(image.levels.size());
        const ZarrArrayMeta &finest = image.levels.front().array;
        out.volume.finestSize[0] = finest.width();
        out.volume.finestSize[1] = finest.height();
        out.volume.finestSize[2] = finest.depth();
        return true;
    } catch (const std::exception &) {
        out.slices.clear();
        out.reason = QString::fromLatin1(skipReason::noMemory);
        return true;
    }
}
