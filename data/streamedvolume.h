#ifndef STREAMEDVOLUME_H
#define STREAMEDVOLUME_H

#include <QtGlobal>

#include <functional>
#include <memory>
#include <vector>

#include "data/spacing.h"
#include "data/volumeslices.h"

// One level of a multi-resolution volume: its size in voxels (columns, rows, slices),
// the size of its chunks and its spacing.
struct StreamLevel {
    qint64 width = 0, height = 0, depth = 0;
    qint64 chunkWidth = 1, chunkHeight = 1, chunkDepth = 1;
    Spacing spacing;

    qint64 chunksX() const { return (width + chunkWidth - 1) / chunkWidth; }
    qint64 chunksY() const { return (height + chunkHeight - 1) / chunkHeight; }
    qint64 chunksZ() const { return (depth + chunkDepth - 1) / chunkDepth; }
};

// A volume kept on disk (or behind an address) as chunks of several levels, each half
// the one before along every axis, whose voxels are the largest of the eight they stand
// for. A set holds one level whole in memory (heldLevel); finer levels are read chunk by
// chunk as drawing needs them, within a memory limit. Every member may be called from
// any thread.
class StreamedVolume
{
public:
    // A chunk's stored samples: chunkWidth x chunkHeight x chunkDepth of them (the
    // whole chunk, also at the edges of the volume), column fastest, in the layout's
    // byte order.
    using Chunk = std::shared_ptr<const std::vector<unsigned char>>;

    virtual ~StreamedVolume() = default;

    // Levels from the finest.
    virtual const std::vector<StreamLevel> &levels() const = 0;
    // The level the set's slices hold.
    virtual int heldLevel() const = 0;
    // How stored samples become values, as in the set's slices.
    virtual SampleLayout layout() const = 0;

    // The chunk when it is in memory, else null.
    virtual Chunk find(int level, qint64 z, qint64 y, qint64 x) = 0;
    // Starts reading the chunk in the background unless it is in memory or on its way;
    // arrived() is called (on a worker thread) once it is in.
    virtual void request(int level, qint64 z, qint64 y, qint64 x, std::function<void()> arrived) = 0;
    // Reads the chunk in this thread unless it is in memory, and keeps it; null when it
    // cannot be read (it then draws as the coarser levels show it).
    virtual Chunk get(int level, qint64 z, qint64 y, qint64 x) = 0;

    // The bytes of chunks held and the most that may be.
    virtual qint64 bytesHeld() const = 0;
    virtual qint64 memoryLimit() const = 0;
};

#endif
