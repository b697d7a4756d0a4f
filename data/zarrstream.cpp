#include "data/zarrstream.h"

#include <utility>


ZarrStream::ZarrStream(std::shared_ptr<ZarrStore> store, const ZarrImage &image, int heldLevel, qint64 limitBytes)
    : held_(heldLevel), layout_(image.levels.front().array.layout()), limit_(limitBytes)
{
    std::vector<QString> keys;
    std::vector<ZarrArrayMeta> arrays;
    for (std::size_t k = 0; k < image.levels.size(); ++k) {
        const ZarrLevel &l = image.levels[k];
        const ZarrArrayMeta &a = l.array;
        levels_.push_back(
            StreamLevel{a.width(), a.height(), a.depth(), a.chunkWidth(), a.chunkHeight(), a.chunkDepth(), l.spacing});
        keys.push_back(l.path);
        arrays.push_back(a);
    }
    cache_ = std::make_unique<ChunkCache>(std::move(store), std::move(keys), std::move(arrays), limitBytes);
}

StreamedVolume::Chunk ZarrStream::find(int level, qint64 z, qint64 y, qint64 x)
{
    return cache_->find(ChunkCache::Key{level, ZarrChunkIndex{z, y, x}});
}

void ZarrStream::request(int level, qint64 z, qint64 y, qint64 x, std::function<void()> arrived)
{
    cache_->request(ChunkCache::Key{level, ZarrChunkIndex{z, y, x}},
                    [arrived = std::move(arrived)](const ChunkCache::Key &) {
                        if (arrived)
                            arrived();
                    });
}

StreamedVolume::Chunk ZarrStream::get(int level, qint64 z, qint64 y, qint64 x)
{
    return cache_->get(ChunkCache::Key{level, ZarrChunkIndex{z, y, x}});
}

qint64 ZarrStream::bytesHeld() const
{
    return cache_->bytesHeld();
}
