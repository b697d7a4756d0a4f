#ifndef ZARRWRITER_H
#define ZARRWRITER_H

#include <QString>

#include <memory>
#include <vector>

#include "data/zarrmeta.h"

// Writes an OME-Zarr image (NGFF 0.4 over Zarr version 2) slice by slice, as a
// pyramid: each level half the one above along every axis (rounded up), each of its
// voxels the largest of the (up to) eight it stands for, so a coarse maximum
// projection never hides what a finer one shows. Slices arrive one at a time; each
// level keeps one slab a chunk deep and one pending slice, written out as chunks
// when the slab is full, so memory does not grow with the number of slices
// (slabBytes says how much). Chunks equal to the fill value (0) everywhere are left
// out, as the format allows. The metadata is written last, once the depth is known.
// Owned by one thread; it encodes a slab's chunks on the process's pool.
class ZarrPyramidWriter
{
public:
    struct Options {
        qint64 chunk = 128;  // chunk edge along rows and columns
        qint64 chunkDepth = 128;  // chunk edge along slices
        ZarrCompressor compressor = ZarrCompressor::blosc;
        SampleType type = SampleType::u16;
        Spacing spacing;  // of the finest level
        QString unit;  // "mm" is written as millimeter; anything else leaves the unit out
        QString name;  // the image's name in its metadata
    };

    ZarrPyramidWriter();
    ~ZarrPyramidWriter();
    ZarrPyramidWriter(const ZarrPyramidWriter &) = delete;
    ZarrPyramidWriter &operator=(const ZarrPyramidWriter &) = delete;

    // The memory the slabs of every level take for slices of w x h samples.
    static qint64 slabBytes(qint64 w, qint64 h, const Options &o);

    // Makes the folder dir (which must not exist, or be empty) for slices of w x h.
    // An empty string on success, else what went wrong.
    QString start(const QString &dir, qint64 w, qint64 h, const Options &o);
    // The next slice: w * h samples of the options' type, in this machine's byte order.
    QString addSlice(const unsigned char *samples);
    // Writes what is left and the metadata of every level. Levels past the first whose
    // every axis fits in one chunk are not written.
    QString finish();

    qint64 slicesAdded() const;
    int levelCount() const;
    qint64 bytesWritten() const;

private:
    struct Level;
    QString pushToLevel(std::size_t k, const unsigned char *samples);
    QString writeSlab(std::size_t k);
    QString writeJson(const QString &path, const QByteArray &json);

    QString dir_;
    Options options_;
    std::vector<std::unique_ptr<Level>> levels_;
    qint64 added_ = 0;
    qint64 written_ = 0;
};

#endif
