#ifndef ZARRCHUNKS_H
#define ZARRCHUNKS_H

#include <QByteArray>
#include <QString>

#include <vector>

#include "data/zarrmeta.h"

// The chunks of one Zarr array on disk: where each lies, how it is decoded and
// encoded. Stateless apart from the array's folder and description, so any number of
// threads may read chunks of one array at once (a cache over it holds what they give).

// A chunk's place in the chunk grid, spatial only: slices, rows and columns of chunks.
// Any time or channel index is 0.
struct ZarrChunkIndex {
    qint64 z = 0, y = 0, x = 0;
    bool operator==(const ZarrChunkIndex &o) const { return z == o.z && y == o.y && x == o.x; }
};

// How a chunk read went: its samples, the fill value (the chunk file is missing, as
// the format allows), or a fault with its reason.
enum class ZarrChunkState { data, fill, fault };

class ZarrStore;

// The key of the stored object that holds a chunk, relative to the array ("0.3.1",
// "0/3/1", "c/0/3/1"; in a sharded array, the shard's).
QString zarrChunkKey(const ZarrArrayMeta &meta, const ZarrChunkIndex &at);

// Decodes one stored chunk into out, which then holds exactly meta.chunkBytes()
// bytes of samples in the file's byte order. Null on success, else the reason
// (out's content is then unspecified). Never allocates more than chunkBytes plus
// what the decoder needs to tell a wrong size. An array with crc32c checks it first.
const char *decodeZarrChunk(const ZarrArrayMeta &meta, const QByteArray &stored, std::vector<unsigned char> &out);

// Encodes meta.chunkBytes() bytes of samples (in the array's byte order) with the
// array's compressor: blosc with zstd and byte shuffling, zstd, zlib or gzip at
// level 1, or as they are. Empty only when the compressor fails.
QByteArray encodeZarrChunk(const ZarrArrayMeta &meta, const unsigned char *samples);

// Reads chunk `at` of the array under arrayKey in store into out (chunkBytes bytes;
// filled with the fill value when the chunk, or in a sharded array its shard or its
// place in the shard's index, is missing). A fault leaves why set. Never reads more
// than the chunk's bytes plus what its compressor may add (and a shard's index).
ZarrChunkState readZarrChunk(const ZarrStore &store, const QString &arrayKey, const ZarrArrayMeta &meta,
                             const ZarrChunkIndex &at, std::vector<unsigned char> &out, const char **why);

// The CRC-32C (Castagnoli) of size bytes, as Zarr's crc32c codec stores it.
quint32 zarrCrc32c(const char *data, qint64 size);

// The number of chunks along slices, rows and columns.
ZarrChunkIndex zarrChunkGrid(const ZarrArrayMeta &meta);

#endif
