#include "data/zarrwriter.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>

#include "data/workpool.h"
#include "data/zarrchunks.h"

namespace {

constexpr std::size_t mostLevels = 24;

template <typename T> void halveSlice(const T *src, qint64 w, qint64 h, T *dst)
{
    const qint64 hw = (w + 1) / 2, hh = (h + 1) / 2;
    for (qint64 y = 0; y < hh; ++y) {
        const T *r0 = src + 2 * y * w;
        const T *r1 = 2 * y + 1 < h ? r0 + w : r0;
        T *out = dst + y * hw;
        for (qint64 x = 0; x < hw; ++x) {
            const qint64 x0 = 2 * x, x1 = std::min(2 * x + 1, w - 1);
            out[x] = std::max(std::max(r0[x0], r0[x1]), std::max(r1[x0], r1[x1]));
        }
    }
}

template <typename T> void maxInto(T *a, const T *b, qint64 n)
{
    for (qint64 i = 0; i < n; ++i)
        a[i] = std::max(a[i], b[i]);
}

template <typename F> void byType(SampleType t, F &&f)
{
    switch (t) {
    case SampleType::u8:
        f(quint8());
        break;
    case SampleType::s8:
        f(qint8());
        break;
    case SampleType::u16:
        f(quint16());
        break;
    case SampleType::s16:
        f(qint16());
        break;
    case SampleType::u32:
        f(quint32());
        break;
    case SampleType::s32:
        f(qint32());
        break;
    case SampleType::f32:
        f(float());
        break;
    case SampleType::f64:
        f(double());
        break;
    }
}

QJsonValue compressorJson(ZarrCompressor c)
{
    switch (c) {
    case ZarrCompressor::none:
        return QJsonValue();
    case ZarrCompressor::blosc:
        return QJsonObject{{"id", "blosc"}, {"cname", "zstd"}, {"clevel", 1}, {"shuffle", 1}, {"blocksize", 0}};
    case ZarrCompressor::zstd:
        return QJsonObject{{"id", "zstd"}, {"level", 1}};
    case ZarrCompressor::zlib:
        return QJsonObject{{"id", "zlib"}, {"level", 1}};
    case ZarrCompressor::gzip:
        return QJsonObject{{"id", "gzip"}, {"level", 1}};
    }
    return QJsonValue();
}

}  // namespace

struct ZarrPyramidWriter::Level {
    qint64 w = 0, h = 0;
    ZarrArrayMeta meta;
    std::vector<unsigned char> slab;  // chunkDepth slices of w x h samples
    qint64 inSlab = 0;  // slices in slab
    qint64 slabIndex = 0;  // the slab's place in the chunk grid along slices
    qint64 depth = 0;  // slices received
    std::vector<unsigned char> pending;  // the halved even slice, waiting for its odd partner
    std::vector<unsigned char> halved;
    bool hasPending = false;
    QString path;
};

ZarrPyramidWriter::ZarrPyramidWriter() = default;
ZarrPyramidWriter::~ZarrPyramidWriter() = default;

qint64 ZarrPyramidWriter::slabBytes(qint64 w, qint64 h, const Options &o)
{
    qint64 total = 0;
    for (std::size_t k = 0; k < mostLevels; ++k) {
        // The slab, and the pending and halved slices for the next level.
        total += (o.chunkDepth * w * h + 2 * ((w + 1) / 2) * ((h + 1) / 2)) * sampleTypeBytes(o.type);
        if (w <= 1 && h <= 1)
            break;
        w = (w + 1) / 2;
        h = (h + 1) / 2;
    }
    return total;
}

QString ZarrPyramidWriter::start(const QString &dir, qint64 w, qint64 h, const Options &o)
{
    dir_ = dir;
    options_ = o;
    levels_.clear();
    added_ = written_ = 0;
    if (w <= 0 || h <= 0 || o.chunk <= 0 || o.chunkDepth <= 0)
        return QStringLiteral("no voxels to write");
    const QDir d(dir);
    if (d.exists() && !d.isEmpty())
        return QStringLiteral("%1 exists and is not empty").arg(dir);
    if (!QDir().mkpath(dir))
        return QStringLiteral("cannot make the folder %1").arg(dir);
    for (std::size_t k = 0; k < mostLevels; ++k) {
        auto level = std::make_unique<Level>();
        level->w = w;
        level->h = h;
        level->path = d.filePath(QString::number(k));
        ZarrArrayMeta &m = level->meta;
        m.dims = 3;
        m.shape[1] = h;
        m.shape[2] = w;
        m.chunks[0] = o.chunkDepth;
        m.chunks[1] = std::min(o.chunk, h);
        m.chunks[2] = std::min(o.chunk, w);
        m.type = o.type;
        m.bigEndian = Q_BYTE_ORDER == Q_BIG_ENDIAN;
        m.compressor = o.compressor;
        m.nestedKeys = true;
        const qint64 bytes = sampleTypeBytes(o.type);
        level->slab.assign(std::size_t(o.chunkDepth * w * h * bytes), 0);
        level->pending.resize(std::size_t((w + 1) / 2 * ((h + 1) / 2) * bytes));
        level->halved.resize(level->pending.size());
        if (!QDir().mkpath(level->path))
            return QStringLiteral("cannot make the folder %1").arg(level->path);
        levels_.push_back(std::move(level));
        if (w <= 1 && h <= 1)
            break;
        w = (w + 1) / 2;
        h = (h + 1) / 2;
    }
    return QString();
}

QString ZarrPyramidWriter::addSlice(const unsigned char *samples)
{
    if (levels_.empty())
        return QStringLiteral("the writer was not started");
    ++added_;
    return pushToLevel(0, samples);
}

QString ZarrPyramidWriter::pushToLevel(std::size_t k, const unsigned char *samples)
{
    Level &l = *levels_[k];
    const qint64 sliceBytes = l.w * l.h * sampleTypeBytes(options_.type);
    std::memcpy(l.slab.data() + l.inSlab * sliceBytes, samples, std::size_t(sliceBytes));
    ++l.inSlab;
    ++l.depth;
    if (k + 1 < levels_.size()) {
        const qint64 halvedCount = (l.w + 1) / 2 * ((l.h + 1) / 2);
        unsigned char *target = l.hasPending ? l.halved.data() : l.pending.data();
        byType(options_.type, [&](auto zero) {
            using T = decltype(zero);
            halveSlice(reinterpret_cast<const T *>(samples), l.w, l.h, reinterpret_cast<T *>(target));
            if (l.hasPending)
                maxInto(reinterpret_cast<T *>(l.pending.data()), reinterpret_cast<const T *>(target), halvedCount);
        });
        if (l.hasPending) {
            l.hasPending = false;
            if (QString why = pushToLevel(k + 1, l.pending.data()); !why.isEmpty())
                return why;
        } else {
            l.hasPending = true;
        }
    }
    if (l.inSlab == options_.chunkDepth)
        return writeSlab(k);
    return QString();
}

QString ZarrPyramidWriter::writeSlab(std::size_t k)
{
    Level &l = *levels_[k];
    const ZarrArrayMeta &m = l.meta;
    const qint64 bytes = sampleTypeBytes(m.type);
    const qint64 cd = m.chunks[0], ch = m.chunks[1], cw = m.chunks[2];
    const qint64 rows = (l.h + ch - 1) / ch, cols = (l.w + cw - 1) / cw;
    const QDir slabDir(QDir(l.path).filePath(QString::number(l.slabIndex)));
    for (qint64 cy = 0; cy < rows; ++cy)
        if (!QDir().mkpath(slabDir.filePath(QString::number(cy))))
            return QStringLiteral("cannot make the folder %1").arg(slabDir.filePath(QString::number(cy)));
    std::atomic<qint64> next{0};
    std::atomic<qint64> written{0};
    std::mutex failMutex;
    QString failure;
    workpool::run(workpool::threads() - 1, [&] {
        std::vector<unsigned char> chunk(std::size_t(cd * ch * cw * bytes));
        for (qint64 i = next++; i < rows * cols; i = next++) {
            const qint64 cy = i / cols, cx = i % cols;
            std::fill(chunk.begin(), chunk.end(), 0);
            const qint64 used = std::min(cw, l.w - cx * cw) * bytes;
            const qint64 lastRow = std::min(ch, l.h - cy * ch);
            bool empty = true;
            for (qint64 z = 0; z < l.inSlab; ++z) {
                for (qint64 r = 0; r < lastRow; ++r) {
                    const unsigned char *from = l.slab.data() + ((z * l.h + cy * ch + r) * l.w + cx * cw) * bytes;
                    std::memcpy(chunk.data() + ((z * ch + r) * cw) * bytes, from, std::size_t(used));
                    empty = empty && std::all_of(from, from + used, [](unsigned char b) { return b == 0; });
                }
            }
            if (empty)
                continue;
            const QByteArray encoded = encodeZarrChunk(m, chunk.data());
            QFile f(slabDir.filePath(QStringLiteral("%1/%2").arg(cy).arg(cx)));
            if (encoded.isEmpty() || !f.open(QIODevice::WriteOnly) || f.write(encoded) != encoded.size()) {
                std::lock_guard<std::mutex> lock(failMutex);
                failure = QStringLiteral("cannot write %1: %2").arg(f.fileName(), f.errorString());
                return;
            }
            written += encoded.size();
        }
    });
    written_ += written.load();
    std::fill(l.slab.begin(), l.slab.end(), 0);
    l.inSlab = 0;
    ++l.slabIndex;
    return failure;
}

QString ZarrPyramidWriter::writeJson(const QString &path, const QByteArray &json)
{
    QSaveFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(json) != json.size() || !f.commit())
        return QStringLiteral("cannot write %1: %2").arg(path, f.errorString());
    return QString();
}

QString ZarrPyramidWriter::finish()
{
    if (levels_.empty() || added_ == 0)
        return QStringLiteral("no slices to write");
    for (std::size_t k = 0; k < levels_.size(); ++k) {
        Level &l = *levels_[k];
        if (l.hasPending && k + 1 < levels_.size()) {
            l.hasPending = false;
            if (QString why = pushToLevel(k + 1, l.pending.data()); !why.isEmpty())
                return why;
        }
        if (l.inSlab > 0)
            if (QString why = writeSlab(k); !why.isEmpty())
                return why;
    }
    // The coarsest level kept is the first that fits in one chunk.
    std::size_t kept = levels_.size();
    for (std::size_t k = 0; k < levels_.size(); ++k) {
        const Level &l = *levels_[k];
        if (l.w <= options_.chunk && l.h <= options_.chunk && l.depth <= options_.chunkDepth) {
            kept = k + 1;
            break;
        }
    }
    for (std::size_t k = kept; k < levels_.size(); ++k)
        QDir(levels_[k]->path).removeRecursively();
    levels_.resize(kept);

    const bool mm = options_.unit == QLatin1String("mm");
    QJsonArray axes;
    for (const char *name : {"z", "y", "x"}) {
        QJsonObject axis{{"name", name}, {"type", "space"}};
        if (mm)
            axis.insert("unit", "millimeter");
        axes.append(axis);
    }
    QJsonArray datasets;
    for (std::size_t k = 0; k < levels_.size(); ++k) {
        Level &l = *levels_[k];
        l.meta.shape[0] = l.depth;
        const QJsonObject zarray{{"zarr_format", 2},
                                 {"shape", QJsonArray{l.depth, l.h, l.w}},
                                 {"chunks", QJsonArray{l.meta.chunks[0], l.meta.chunks[1], l.meta.chunks[2]}},
                                 {"dtype", zarrDtypeName(l.meta.type, l.meta.bigEndian)},
                                 {"compressor", compressorJson(l.meta.compressor)},
                                 {"fill_value", 0},
                                 {"filters", QJsonValue()},
                                 {"order", "C"},
                                 {"dimension_separator", "/"}};
        if (QString why = writeJson(QDir(l.path).filePath(QStringLiteral(".zarray")), QJsonDocument(zarray).toJson());
            !why.isEmpty())
            return why;
        const double f = double(qint64(1) << k);
        const QJsonArray scale{options_.spacing.z * f, options_.spacing.y * f, options_.spacing.x * f};
        datasets.append(
            QJsonObject{{"path", QString::number(k)},
                        {"coordinateTransformations", QJsonArray{QJsonObject{{"type", "scale"}, {"scale", scale}}}}});
    }
    const QJsonObject multiscale{{"version", "0.4"},
                                 {"name", options_.name},
                                 {"axes", axes},
                                 {"datasets", datasets},
                                 {"type", "max"},
                                 {"metadata",
                                  QJsonObject{{"description",
                                               "each voxel the largest of the 2 x 2 x 2 "
                                               "voxels it stands for, rounded up at odd "
                                               "edges"}}}};
    const QDir d(dir_);
    if (QString why =
            writeJson(d.filePath(QStringLiteral(".zgroup")), QJsonDocument(QJsonObject{{"zarr_format", 2}}).toJson());
        !why.isEmpty())
        return why;
    return writeJson(d.filePath(QStringLiteral(".zattrs")),
                     QJsonDocument(QJsonObject{{"multiscales", QJsonArray{multiscale}}}).toJson());
}

qint64 ZarrPyramidWriter::slicesAdded() const
{
    return added_;
}

int ZarrPyramidWriter::levelCount() const
{
    return int(levels_.size());
}

qint64 ZarrPyramidWriter::bytesWritten() const
{
    return written_;
}
