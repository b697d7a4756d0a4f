#include "data/chunkcache.h"

#include <QRunnable>
#include <QThreadPool>

#include <exception>
#include <utility>

#include "data/workpool.h"

std::size_t ChunkCache::KeyHash::operator()(const Key &k) const
{
    std::size_t h = std::hash<int>()(k.level);
    for (qint64 v : {k.at.z, k.at.y, k.at.x})
        h = h * 1000003u ^ std::hash<qint64>()(v);
    return h;
}

ChunkCache::ChunkCache(std::shared_ptr<ZarrStore> store, std::vector<QString> levelKeys,
                       std::vector<ZarrArrayMeta> levels, qint64 limitBytes)
    : stores_(levelKeys.size(), std::move(store)), keys_(std::move(levelKeys)), levels_(std::move(levels)),
      limit_(limitBytes)
{
}

ChunkCache::ChunkCache(const std::vector<QString> &levelDirs, std::vector<ZarrArrayMeta> levels, qint64 limitBytes)
    : keys_(levelDirs.size()), levels_(std::move(levels)), limit_(limitBytes)
{
    for (const QString &dir : levelDirs)
        stores_.push_back(openZarrStore(dir));
}

ChunkCache::~ChunkCache()
{
    // Loads that wait for an address end at once rather than when it answers.
    for (const auto &store : stores_)
        store->cancel();
    waitForLoads();
}

ChunkCache::Chunk ChunkCache::find(const Key &key)
{
    std::lock_guard<std::mutex> lock(mutex_);
    const auto it = held_.find(key);
    if (it == held_.end())
        return nullptr;
    uses_.splice(uses_.begin(), uses_, it->second.use);
    return it->second.chunk;
}

ChunkCache::Chunk ChunkCache::load(const Key &key)
{
    if (key.level < 0 || std::size_t(key.level) >= levels_.size() || std::size_t(key.level) >= stores_.size())
        return nullptr;
    const ZarrArrayMeta &meta = levels_[std::size_t(key.level)];
    const ZarrChunkIndex grid = zarrChunkGrid(meta);
    if (key.at.z < 0 || key.at.y < 0 || key.at.x < 0 || key.at.z >= grid.z || key.at.y >= grid.y || key.at.x >= grid.x
        || meta.chunkBytes() > limit_)
        return nullptr;
    try {
        auto samples = std::make_shared<std::vector<unsigned char>>();
        const char *why = nullptr;
        if (readZarrChunk(*stores_[std::size_t(key.level)], keys_[std::size_t(key.level)], meta, key.at, *samples, &why)
            == ZarrChunkState::fault)
            return nullptr;
        return samples;
    } catch (const std::exception &) {
        return nullptr;
    }
}

void ChunkCache::hold(const Key &key, const Chunk &chunk)
{
    // The caller holds the lock.
    if (held_.count(key))
        return;
    const qint64 bytes = qint64(chunk->size());
    while (bytes_ + bytes > limit_ && !uses_.empty()) {
        const auto oldest = held_.find(uses_.back());
        bytes_ -= qint64(oldest->second.chunk->size());
        held_.erase(oldest);
        uses_.pop_back();
    }
    uses_.push_front(key);
    held_.emplace(key, Entry{chunk, uses_.begin()});
    bytes_ += bytes;
}

void ChunkCache::request(const Key &key, std::function<void(const Key &)> loaded)
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (held_.count(key) || pending_.count(key))
            return;
        pending_[key] = true;
        ++running_;
    }
    workpool::decodePool()->start([this, key, loaded = std::move(loaded)] {
        const Chunk chunk = load(key);
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (chunk) {
                hold(key, chunk);
                pending_.erase(key);
            } else {
                pending_[key] = false;
                ++faults_;
            }
        }
        if (chunk && loaded)
            loaded(key);
        std::lock_guard<std::mutex> lock(mutex_);
        if (--running_ == 0)
            idle_.notify_all();
    });
}

ChunkCache::Chunk ChunkCache::get(const Key &key)
{
    if (Chunk c = find(key))
        return c;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        const auto p = pending_.find(key);
        if (p != pending_.end() && !p->second)
            return nullptr;  // failed before
    }
    const Chunk chunk = load(key);
    std::lock_guard<std::mutex> lock(mutex_);
    if (!chunk) {
        if (pending_.emplace(key, false).second)
            ++faults_;
        return nullptr;
    }
    hold(key, chunk);
    return chunk;
}

qint64 ChunkCache::bytesHeld() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return bytes_;
}

int ChunkCache::faults() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return faults_;
}

void ChunkCache::waitForLoads()
{
    std::unique_lock<std::mutex> lock(mutex_);
    idle_.wait(lock, [this] { return running_ == 0; });
}
