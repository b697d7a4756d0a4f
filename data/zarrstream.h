#ifndef ZARRSTREAM_H
#define ZARRSTREAM_H

#include <memory>

#include "data/chunkcache.h"
#include "data/streamedvolume.h"
#include "data/zarrmeta.h"

// The levels of an OME-Zarr image read from its chunks (files or addresses) on demand, for a set that
// holds a coarser level in its slices: a ChunkCache over every level's array, within
// the given byte limit (least recently used chunks dropped first, loaded on the decode
// pool). Made by the reader on the loader's thread, then shared by the set and the
// renderers; every member may be called from any thread.
class ZarrStream : public StreamedVolume
{
public:
    // store: the image's folder or address; heldLevel: the level the set's slices hold.
    ZarrStream(std::shared_ptr<ZarrStore> store, const ZarrImage &image, int heldLevel, qint64 limitBytes);

    const std::vector<StreamLevel> &levels() const override { return levels_; }
    int heldLevel() const override { return held_; }
    SampleLayout layout() const override { return layout_; }
    Chunk find(int level, qint64 z, qint64 y, qint64 x) override;
    void request(int level, qint64 z, qint64 y, qint64 x, std::function<void()> arrived) override;
    Chunk get(int level, qint64 z, qint64 y, qint64 x) override;
    qint64 bytesHeld() const override;
    qint64 memoryLimit() const override { return limit_; }

private:
    std::vector<StreamLevel> levels_;
    int held_ = 0;
    SampleLayout layout_;
    qint64 limit_ = 0;
    std::unique_ptr<ChunkCache> cache_;
};

#endif
