#ifndef CHUNKCACHE_H
#define CHUNKCACHE_H

#include <QString>

#include <condition_variable>
#include <cstddef>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "data/zarrchunks.h"
#include "data/zarrstore.h"

// Decoded chunks of the levels of one multi-resolution image, held within a byte
// limit: when a new chunk would pass it, the least recently used ones are dropped
// first (a chunk still held by a reader stays alive until that reader lets go; it only
// stops counting here). Chunks are loaded on the decode pool (workpool::decodePool),
// each at most once at a time. Owned by whoever draws the image; every member may be
// called from any thread. The destructor stops the reads its loads wait for (an address
// that is slow to answer) and waits for the loads it started.
class ChunkCache
{
public:
    struct Key {
        int level = 0;
        ZarrChunkIndex at;
        bool operator==(const Key &o) const { return level == o.level && at == o.at; }
    };
    // A chunk's samples (chunkBytes of its level, in the file's byte order), shared
    // with the readers that hold it.
    using Chunk = std::shared_ptr<const std::vector<unsigned char>>;

    // levelKeys and levels: each level's array under the store and its description,
    // finest first.
    ChunkCache(std::shared_ptr<ZarrStore> store, std::vector<QString> levelKeys, std::vector<ZarrArrayMeta> levels,
               qint64 limitBytes);
    // The same with each level's array at a folder or address of its own.
    ChunkCache(const std::vector<QString> &levelDirs, std::vector<ZarrArrayMeta> levels, qint64 limitBytes);
    ~ChunkCache();
    ChunkCache(const ChunkCache &) = delete;
    ChunkCache &operator=(const ChunkCache &) = delete;

    // The chunk when it is held (it becomes the most recently used), else null.
    Chunk find(const Key &key);
    // Starts loading the chunk on the decode pool unless it is held or already on its
    // way; loaded() runs on the pool thread once it is in (not for a chunk that failed
    // or that is larger than the whole limit). A fault is remembered: the chunk is not
    // tried again, and faults() counts it.
    void request(const Key &key, std::function<void(const Key &)> loaded = {});
    // Reads the chunk in this thread when it is not held (the same rules), and holds it.
    Chunk get(const Key &key);

    qint64 bytesHeld() const;
    int faults() const;
    // Waits until no load started by request() is running.
    void waitForLoads();

private:
    struct KeyHash {
        std::size_t operator()(const Key &k) const;
    };
    struct Entry {
        Chunk chunk;
        std::list<Key>::iterator use;
    };
    Chunk load(const Key &key);
    void hold(const Key &key, const Chunk &chunk);

    std::vector<std::shared_ptr<ZarrStore>> stores_;
    std::vector<QString> keys_;
    const std::vector<ZarrArrayMeta> levels_;
    const qint64 limit_;
    mutable std::mutex mutex_;
    std::condition_variable idle_;
    std::unordered_map<Key, Entry, KeyHash> held_;
    std::list<Key> uses_;  // most recently used first
    std::unordered_map<Key, bool, KeyHash> pending_;  // loading (true) or failed (false)
    qint64 bytes_ = 0;
    int running_ = 0;
    int faults_ = 0;
};

#endif
