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

// The file name of a chunk relative to the array's folder ("0.3.1" or "0/3/1").
QString zarrChunkKey(const ZarrArrayMeta &meta, const ZarrChunkIndex &at);

// Decodes one stored chunk into out, which then holds exactly meta.chunkBytes()
// bytes of samples in the file's byte order. Null on success, else the reason
// (out's content is then unspecified). Never allocates more than chunkBytes plus
// what the decoder needs to tell a wrong size.
const char *decodeZarrChunk(const ZarrArrayMeta &meta, const QByteArray &stored, std::vector<unsigned char> &out);

// Encodes meta.chunkBytes() bytes of samples (in the array's byte order) with the
// array's compressor: blosc with zstd and byte shuffling, zstd, zlib or gzip at
// level 1, or as they are. Empty only when the compressor fails.
QByteArray encodeZarrChunk(const ZarrArrayMeta &meta, const unsigned char *samples);

// Reads chunk `at` of the array in arrayDir into out (chunkBytes bytes; filled with
// the fill value when the chunk file is missing). A fault leaves why set.
ZarrChunkState readZarrChunk(const QString &arrayDir, const ZarrArrayMeta &meta, const ZarrChunkIndex &at,
                             std::vector<unsigned char> &out, const char **why);

// The number of chunks along slices, rows and columns.
ZarrChunkIndex zarrChunkGrid(const ZarrArrayMeta &meta);

#endif
