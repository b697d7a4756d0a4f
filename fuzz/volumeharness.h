#ifndef OXA_FUZZ_VOLUMEHARNESS_H
#define OXA_FUZZ_VOLUMEHARNESS_H

// The volume target's input, shared by fuzz_volume and tests/tst_fuzzcorpus.cpp: the
// first byte picks the format, the rest is the file. Detached headers and raw files
// carry a second part after the byte 0x1e: the data file "v.raw" the header may name,
// or the samples of a raw file whose description is the first part.
//   0 v.nii   1 v.nii.gz (as given)   2 v.nii.gz (the rest gzipped here)   3 v.nrrd
//   4 v.nhdr + v.raw   5 v.mha   6 v.mhd + v.raw   7 a raw description + v.bin

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QStringList>

#include <zlib.h>

#include <cmath>
#include <cstddef>
#include <cstdint>

#include "data/rawvolume.h"
#include "data/slicedatas.h"
#include "data/slicefile.h"
#include "fuzz/harness.h"

namespace oxafuzz {

inline const char *const volumeNames[] = {"v.nii",  "v.nii.gz", "v.nii.gz", "v.nrrd",
                                          "v.nhdr", "v.mha",    "v.mhd",    "v.bin"};

inline QByteArray gzipOf(const QByteArray &bytes)
{
    QByteArray out(qsizetype(compressBound(uLong(bytes.size())) + 64), '\0');
    z_stream z{};
    if (deflateInit2(&z, 1, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        return {};
    z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(bytes.constData()));
    z.avail_in = uInt(bytes.size());
    z.next_out = reinterpret_cast<Bytef *>(out.data());
    z.avail_out = uInt(out.size());
    deflate(&z, Z_FINISH);
    out.resize(qsizetype(z.total_out));
    deflateEnd(&z);
    return out;
}

// The reader's promises about one volume file, then a load of it with a budget.
inline int runVolume(const std::uint8_t *data, std::size_t size)
{
    if (size == 0)
        return 0;
    const int kind = data[0] % 8;
    QByteArray body(reinterpret_cast<const char *>(data + 1), qsizetype(size - 1));
    QByteArray second;
    if (kind == 4 || kind == 6 || kind == 7) {
        const qsizetype cut = body.indexOf(fileSeparator);
        if (cut >= 0) {
            second = body.mid(cut + 1);
            body.truncate(cut);
        }
    }
    for (const char *old : volumeNames)
        QFile::remove(QString::fromLatin1(old));
    QFile::remove(QStringLiteral("v.raw"));
    if (kind == 2)
        body = gzipOf(body);
    const QString name = QString::fromLatin1(volumeNames[kind]);
    if (kind == 7) {
        RawDescription d;
        if (!parseRawDescription(QString::fromLatin1(body), d))
            return 0;
        rawimport::remember(name, d);
        OXA_FUZZ_CHECK(writeFile("v.bin", second.constData(), std::size_t(second.size())));
    } else {
        OXA_FUZZ_CHECK(writeFile(volumeNames[kind], body.constData(), std::size_t(body.size())));
        if (kind == 4 || kind == 6)
            OXA_FUZZ_CHECK(writeFile("v.raw", second.constData(), std::size_t(second.size())));
    }

    SliceBudget budget(qint64(256) << 20);
    const SliceFile file = readSliceFile(name, &budget);
    checkStackFile(file);
    OXA_FUZZ_CHECK(file.volume.volumes >= 1);
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            OXA_FUZZ_CHECK(std::isfinite(file.volume.direction.at(i, j)));

    SliceDatas set;
    set.setLoadWorkers(1);
    set.setMemoryBudget(qint64(256) << 20);
    set.filesSelected(QStringList{name});
    OXA_FUZZ_CHECK(set.acceptedFiles.size() + set.skipped.size() == 1);
    // The load reads what the reader read: it keeps nothing the reader refused.
    OXA_FUZZ_CHECK(!set.loaded || !file.slices.empty());
    if (set.loaded)
        OXA_FUZZ_CHECK(set.minV < set.maxV && set.volume.volumes >= 1);
    if (kind == 7)
        rawimport::forget(name);
    return 0;
}

}  // namespace oxafuzz

#endif
