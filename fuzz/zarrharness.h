#ifndef OXA_FUZZ_ZARRHARNESS_H
#define OXA_FUZZ_ZARRHARNESS_H

// The OME-Zarr target's input, shared by fuzz_zarr and tests/tst_fuzzcorpus.cpp: parts
// split at the byte 0x1e, in turn the image's .zattrs (empty: a bare array), the
// array's .zarray, and the stored bytes of its first two chunks (or shards) along the
// columns. Metadata that names a node_type is Zarr version 3 and goes to zarr.json
// instead (the group's and the array's). Each part goes to the metadata parsers and
// the chunk decoder directly, and then the folder they make is read as a set.

#include <QByteArray>
#include <QDir>
#include <QList>
#include <QString>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "data/slicefile.h"
#include "data/zarrchunks.h"
#include "data/zarrmeta.h"
#include "fuzz/harness.h"

namespace oxafuzz {

inline int runZarr(const std::uint8_t *data, std::size_t size)
{
    const QList<QByteArray> parts =
        QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size)).split(fileSeparator);
    const QByteArray attrs = parts.value(0), meta = parts.value(1), first = parts.value(2), second = parts.value(3);

    ZarrImage image;
    if (!attrs.isEmpty() && parseMultiscales(attrs, image) == nullptr) {
        OXA_FUZZ_CHECK(!image.levels.empty());
        for (const ZarrLevel &l : image.levels)
            OXA_FUZZ_CHECK(l.spacing.x > 0 && l.spacing.y > 0 && l.spacing.z > 0 && std::isfinite(l.spacing.x)
                           && std::isfinite(l.spacing.y) && std::isfinite(l.spacing.z));
    }
    const bool version3 = meta.contains("node_type");
    if (!attrs.isEmpty() && attrs.contains("node_type") && parseZarrJsonGroup(attrs, image) == nullptr)
        OXA_FUZZ_CHECK(!image.levels.empty());
    ZarrArrayMeta array;
    if ((version3 ? parseZarrJsonArray(meta, array) : parseZarrArray(meta, array)) == nullptr) {
        OXA_FUZZ_CHECK(array.dims >= 2 && array.dims <= ZarrArrayMeta::maxDims);
        for (int i = 0; i < array.dims; ++i)
            OXA_FUZZ_CHECK(array.shape[i] >= 1 && array.chunks[i] >= 1);
        OXA_FUZZ_CHECK(array.chunkVoxels() <= maxZarrChunkVoxels);
        OXA_FUZZ_CHECK(array.fillBytes().size() == sampleTypeBytes(array.type));
        if (array.sharded)
            OXA_FUZZ_CHECK(array.chunksPerShard() >= 1 && array.chunksPerShard() <= maxChunksPerShard);
        // A chunk that decodes has exactly the chunk's bytes, and encoding them again
        // gives a chunk that decodes to the same bytes.
        std::vector<unsigned char> samples, again;
        if (!array.sharded && decodeZarrChunk(array, first, samples) == nullptr) {
            OXA_FUZZ_CHECK(qint64(samples.size()) == array.chunkBytes());
            const QByteArray encoded = encodeZarrChunk(array, samples.data());
            OXA_FUZZ_CHECK(!encoded.isEmpty());
            OXA_FUZZ_CHECK(decodeZarrChunk(array, encoded, again) == nullptr && again == samples);
        }
    }

    QDir("z.zarr").removeRecursively();
    const QString arrayDir = attrs.isEmpty() ? QStringLiteral("z.zarr") : QStringLiteral("z.zarr/0");
    OXA_FUZZ_CHECK(QDir().mkpath(arrayDir + QStringLiteral("/0/0")));
    OXA_FUZZ_CHECK(QDir().mkpath(arrayDir + QStringLiteral("/c/0/0")));
    if (!attrs.isEmpty())
        OXA_FUZZ_CHECK(writeFile(attrs.contains("node_type") ? "z.zarr/zarr.json" : "z.zarr/.zattrs", attrs.constData(),
                                 std::size_t(attrs.size())));
    const auto put = [&arrayDir](const char *name, const QByteArray &bytes) {
        const QByteArray path = (arrayDir + QLatin1Char('/') + QLatin1String(name)).toLocal8Bit();
        OXA_FUZZ_CHECK(writeFile(path.constData(), bytes.constData(), std::size_t(bytes.size())));
    };
    put(version3 ? "zarr.json" : ".zarray", meta);
    for (const char *key : {"0.0.0", "0/0/0", "c/0/0/0", "c.0.0.0"})
        put(key, first);
    if (parts.size() > 3)
        for (const char *key : {"0.0.1", "0/0/1", "c/0/0/1", "c.0.0.1"})
            put(key, second);
    SliceBudget budget(qint64(64) << 20);
    const SliceFile file = readSliceFile(QStringLiteral("z.zarr"), &budget);
    checkStackFile(file);
    OXA_FUZZ_CHECK(file.volume.volumes >= 1);
    if (!file.slices.empty())
        OXA_FUZZ_CHECK(file.volume.level >= 0 && file.volume.level < file.volume.levels);
    return 0;
}

}  // namespace oxafuzz

#endif
