#ifndef ZARRMETA_H
#define ZARRMETA_H

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <vector>

#include "data/spacing.h"
#include "data/volumeslices.h"

// Why an OME-Zarr image folder was left out. English texts, translated by the panel in
// the context "SlicesCtrl" like the other reasons.
namespace skipReason {
inline constexpr const char *zarrNotJson =
    QT_TRANSLATE_NOOP("SlicesCtrl", "its Zarr metadata is not JSON or lacks a field it needs");
inline constexpr const char *zarrDtype =
    QT_TRANSLATE_NOOP("SlicesCtrl", "a Zarr data type we do not read (we read u1, i1, u2, i2, u4, i4, f4, f8)");
inline constexpr const char *zarrCompressor = QT_TRANSLATE_NOOP(
    "SlicesCtrl",
    "a Zarr compressor, filter or codec we do not read (we read blosc, zstd, zlib, gzip, crc32c, sharding)");
inline constexpr const char *zarrOrder =
    QT_TRANSLATE_NOOP("SlicesCtrl", "its Zarr array is in Fortran order (we read C order only)");
inline constexpr const char *zarrChunks =
    QT_TRANSLATE_NOOP("SlicesCtrl", "its Zarr chunks are empty or larger than 2^31 voxels");
inline constexpr const char *zarrLevels =
    QT_TRANSLATE_NOOP("SlicesCtrl", "its resolution levels do not halve, or differ in type or axes");
inline constexpr const char *zarrAxes =
    QT_TRANSLATE_NOOP("SlicesCtrl", "its axes are not z, y, x (after time or channels)");
inline constexpr const char *zarrChunkDamaged =
    QT_TRANSLATE_NOOP("SlicesCtrl", "a chunk of it is damaged or decompresses to the wrong size");
inline constexpr const char *zarrVersion =
    QT_TRANSLATE_NOOP("SlicesCtrl", "a Zarr version we do not read (we read versions 2 and 3)");
inline constexpr const char *zarrNoMetadata =
    QT_TRANSLATE_NOOP("SlicesCtrl", "no Zarr image or array there (no .zattrs, .zarray or zarr.json)");
inline constexpr const char *zarrShards =
    QT_TRANSLATE_NOOP("SlicesCtrl", "its Zarr shards do not divide into its inner chunks, or hold too many");
}  // namespace skipReason

enum class ZarrCompressor { none, blosc, zstd, zlib, gzip };

// One Zarr array as its .zarray (version 2) or zarr.json (version 3) describes it.
// Arrays of 2 to 5 dimensions: the last two are rows and columns, a third from the end
// slices, and any before are time or channels, of which only index 0 is read. In a
// sharded array (version 3), chunks is the shape of the inner chunks, the unit every
// reader works in; shard is the shape of the stored objects that hold them, each with
// an index of where its inner chunks lie.
struct ZarrArrayMeta {
    static constexpr int maxDims = 5;
    int dims = 0;
    qint64 shape[maxDims] = {0, 0, 0, 0, 0};
    qint64 chunks[maxDims] = {0, 0, 0, 0, 0};
    SampleType type = SampleType::u8;
    bool bigEndian = false;
    ZarrCompressor compressor = ZarrCompressor::none;
    bool nestedKeys = false;  // dimension_separator "/"
    double fill = 0.0;  // null reads as 0
    int format = 2;
    bool keysStartWithC = false;  // version 3's default chunk keys: "c/0/1/2"
    bool crc32c = false;  // each stored chunk ends with the CRC-32C of what comes before
    bool sharded = false;
    qint64 shard[maxDims] = {0, 0, 0, 0, 0};
    bool indexAtStart = false;
    bool indexBigEndian = false;
    bool indexCrc32c = false;

    // The spatial sizes (slices, rows, columns), 1 for an axis the array lacks.
    qint64 depth() const { return dims >= 3 ? shape[dims - 3] : 1; }
    qint64 height() const { return shape[dims - 2]; }
    qint64 width() const { return shape[dims - 1]; }
    qint64 chunkDepth() const { return dims >= 3 ? chunks[dims - 3] : 1; }
    qint64 chunkHeight() const { return chunks[dims - 2]; }
    qint64 chunkWidth() const { return chunks[dims - 1]; }
    // Voxels and bytes of one whole chunk (every dimension, as stored).
    qint64 chunkVoxels() const;
    qint64 chunkBytes() const { return chunkVoxels() * sampleTypeBytes(type); }
    // The stored bytes of one sample equal to the fill value, in the array's byte order.
    QByteArray fillBytes() const;
    // The layout makeVolumeSlice reads the stored samples with.
    SampleLayout layout() const;
    // Inner chunks per shard, and the stored size of a shard's index.
    qint64 chunksPerShard() const;
    qint64 indexBytes() const { return chunksPerShard() * 16 + (indexCrc32c ? 4 : 0); }
};

// Shards hold at most this many inner chunks (their index 16 bytes each).
inline constexpr qint64 maxChunksPerShard = qint64(1) << 20;

// Chunks hold at most this many voxels (zero or more is refused too).
#ifndef FUZZING_BUILD_MODE_UNSAFE_FOR_PRODUCTION
inline constexpr qint64 maxZarrChunkVoxels = qint64(1) << 31;
#else
inline constexpr qint64 maxZarrChunkVoxels = qint64(1) << 16;
#endif

// Parses a .zarray document. Null when it is one we read, else the reason (out is
// then partly filled). Never allocates more than the text's own size.
const char *parseZarrArray(const QByteArray &json, ZarrArrayMeta &out);

// Parses the zarr.json of an array (Zarr version 3): its data type, regular chunk grid,
// chunk keys, fill value and codecs (bytes, then blosc, zstd or gzip, then crc32c; or
// sharding_indexed holding such a chain). Null when it is one we read, else the reason.
const char *parseZarrJsonArray(const QByteArray &json, ZarrArrayMeta &out);

// "|u1", "<u2", ">f4", ... for a sample type and byte order; the inverse of what
// parseZarrArray accepts.
QString zarrDtypeName(SampleType t, bool bigEndian);

// One level of a multi-resolution image: the array's folder (relative to the
// image's) and the voxel spacing its scale transform gives (in the image's unit).
struct ZarrLevel {
    QString path;
    Spacing spacing;
    ZarrArrayMeta array;
};

// An OME-Zarr image: its levels from the finest, the unit of the spacing ("mm" when
// the file's unit of length was converted, else the file's own word or empty).
struct ZarrImage {
    std::vector<ZarrLevel> levels;
    QString unit;
    qint64 volumes = 1;  // time points times channels, of which the first is read
};

// Parses the zarr.json of a group (Zarr version 3) as an OME-Zarr image: the
// multiscales under attributes/ome (version 0.5) or under attributes.
const char *parseZarrJsonGroup(const QByteArray &json, ZarrImage &out);

// Parses the multiscales of an image's .zattrs into levels (paths and spacings; the
// arrays are left for readZarrImage). Null on success, else the reason.
const char *parseMultiscales(const QByteArray &json, ZarrImage &out);

// True when dir is a Zarr folder (it holds .zarray, .zattrs, .zgroup or zarr.json): an
// OME-Zarr image, a single array, or a group that readZarrImage then refuses with its
// reason. Reads no file.
bool isZarrFolder(const QString &dir);

class ZarrStore;

// Reads the metadata of the image or array in a store (or at a folder or address), checks that every level's array
// is one we read and that each level halves the one before (rounded up or down)
// with the same type and dimensions. A bare array is one level with spacing 1. Null on
// success, else the reason.
const char *readZarrImage(const ZarrStore &store, ZarrImage &out);
const char *readZarrImage(const QString &location, ZarrImage &out);

// Metadata files are small; anything longer is not metadata we read.
inline constexpr qint64 maxZarrMetadataBytes = qint64(4) << 20;

#endif
