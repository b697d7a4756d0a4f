#ifndef OXA_FUZZ_ZARRHARNESS_H
#define OXA_FUZZ_ZARRHARNESS_H

// The OME-Zarr target's input, shared by fuzz_zarr and tests/tst_fuzzcorpus.cpp: parts
// split at the byte 0x1e, in turn the image's .zattrs (empty: a bare array), the
// array's .zarray, and the stored bytes of its first two chunks along the columns.
// Each part goes to the metadata parsers and the chunk decoder directly, and then the
// folder they make is read as a set.

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
    ZarrArrayMeta array;
    if (parseZarrArray(meta, array) == nullptr) {
        OXA_FUZZ_CHECK(array.dims >= 2 && array.dims <= ZarrArrayMeta::maxDims);
        for (int i = 0; i < array.dims; ++i)
            OXA_FUZZ_CHECK(array.shape[i] >= 1 && array.chunks[i] >= 1);
        OXA_FUZZ_CHECK(array.chunkVoxels() <= maxZarrChunkVoxels);
        OXA_FUZZ_CHECK(array.fillBytes().size() == sampleTypeBytes(array.type));
        // A chunk that decodes has exactly the chunk's bytes, and encoding them again
        // gives a chunk that decodes to the same bytes.
        std::vector<unsigned char> samples, again;
        if (decodeZarrChunk(array, first, samples) == nullptr) {
            OXA_FUZZ_CHECK(qint64(samples.size()) == array.chunkBytes());
            const QByteArray encoded = encodeZarrChunk(array, samples.data());
            OXA_FUZZ_CHECK(!encoded.isEmpty());
            OXA_FUZZ_CHECK(decodeZarrChunk(array, encoded, again) == nullptr && again == samples);
        }
    }

    QDir("z.zarr").removeRecursively();
    const QString arrayDir = attrs.isEmpty() ? QStringLiteral("z.zarr") : QStringLiteral("z.zarr/0");
    OXA_FUZZ_CHECK(QDir().mkpath(arrayDir + QStringLiteral("/0/0")));
    if (!attrs.isEmpty())
        OXA_FUZZ_CHECK(writeFile("z.zarr/.zattrs", attrs.constData(), std::size_t(attrs.size())));
    const auto put = [&arrayDir](const char *name, const QByteArray &bytes) {
        const QByteArray path = (arrayDir + QLatin1Char('/') + QLatin1String(name)).toLocal8Bit();
        OXA_FUZZ_CHECK(writeFile(path.constData(), bytes.constData(), std::size_t(bytes.size())));
    };
    put(".zarray", meta);
    put("0.0.0", first);
    put("0/0/0", first);
    if (parts.size() > 3) {
        put("0.0.1", second);
        put("0/0/1", second);
    }
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
