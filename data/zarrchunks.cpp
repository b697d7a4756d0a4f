#include "data/zarrchunks.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <blosc.h>
#include <zlib.h>
#include <zstd.h>

#include <cstring>
#include <limits>

#include "data/slicefile.h"

namespace {

// The fastest level of each compressor: blosc's level 1 is zstd's level 1 inside, which
// on noisy 16-bit scans gives nine tenths of level 5's saving at ten times its speed.
constexpr int compressionLevel = 1;

const char *inflateExactly(const QByteArray &stored, bool gzip, std::vector<unsigned char> &out)
{
    z_stream s{};
    if (inflateInit2(&s, gzip ? 16 + MAX_WBITS : MAX_WBITS) != Z_OK)
        return skipReason::noMemory;
    s.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(stored.constData()));
    s.avail_in = uInt(stored.size());
    s.next_out = out.data();
    s.avail_out = uInt(out.size());
    int rc = Z_OK;
    while (rc == Z_OK) {
        const uLong before = s.total_out + s.total_in;
        rc = inflate(&s, Z_NO_FLUSH);
        if (rc == Z_OK && s.total_out + s.total_in == before)
            break;  // no progress: the input ended early, or the output is full
    }
    const bool whole = rc == Z_STREAM_END && s.total_out == out.size();
    inflateEnd(&s);
    return whole ? nullptr : skipReason::zarrChunkDamaged;
}

QByteArray deflated(const unsigned char *samples, qint64 bytes, bool gzip)
{
    z_stream s{};
    if (deflateInit2(&s, compressionLevel, Z_DEFLATED, gzip ? 16 + MAX_WBITS : MAX_WBITS, 8, Z_DEFAULT_STRATEGY)
        != Z_OK)
        return QByteArray();
    QByteArray out;
    out.resize(qsizetype(deflateBound(&s, uLong(bytes))) + 32);
    s.next_in = const_cast<Bytef *>(samples);
    s.avail_in = uInt(bytes);
    s.next_out = reinterpret_cast<Bytef *>(out.data());
    s.avail_out = uInt(out.size());
    const int rc = deflate(&s, Z_FINISH);
    const uLong written = s.total_out;
    deflateEnd(&s);
    if (rc != Z_STREAM_END)
        return QByteArray();
    out.resize(qsizetype(written));
    return out;
}

}  // namespace

QString zarrChunkKey(const ZarrArrayMeta &meta, const ZarrChunkIndex &at)
{
    const QChar sep = meta.nestedKeys ? u'/' : u'.';
    QString key;
    for (int i = 0; i < meta.dims; ++i) {
        const int fromEnd = meta.dims - i;
        const qint64 index = fromEnd == 1 ? at.x : fromEnd == 2 ? at.y : fromEnd == 3 ? at.z : 0;
        if (i > 0)
            key += sep;
        key += QString::number(index);
    }
    return key;
}

ZarrChunkIndex zarrChunkGrid(const ZarrArrayMeta &meta)
{
    ZarrChunkIndex n;
    n.z = (meta.depth() + meta.chunkDepth() - 1) / meta.chunkDepth();
    n.y = (meta.height() + meta.chunkHeight() - 1) / meta.chunkHeight();
    n.x = (meta.width() + meta.chunkWidth() - 1) / meta.chunkWidth();
    return n;
}

const char *decodeZarrChunk(const ZarrArrayMeta &meta, const QByteArray &stored, std::vector<unsigned char> &out)
{
    const qint64 bytes = meta.chunkBytes();
    if (bytes <= 0 || bytes > qint64(std::numeric_limits<uInt>::max()))
        return skipReason::zarrChunks;
    out.resize(std::size_t(bytes));
    switch (meta.compressor) {
    case ZarrCompressor::none:
        if (stored.size() != bytes)
            return skipReason::zarrChunkDamaged;
        std::memcpy(out.data(), stored.constData(), std::size_t(bytes));
        return nullptr;
    case ZarrCompressor::blosc: {
        size_t nbytes = 0;
        if (stored.size() < BLOSC_MIN_HEADER_LENGTH
            || blosc_cbuffer_validate(stored.constData(), size_t(stored.size()), &nbytes) < 0
            || nbytes != size_t(bytes))
            return skipReason::zarrChunkDamaged;
        const int got = blosc_decompress_ctx(stored.constData(), out.data(), size_t(bytes), 1);
        return got == bytes ? nullptr : skipReason::zarrChunkDamaged;
    }
    case ZarrCompressor::zstd: {
        const unsigned long long declared = ZSTD_getFrameContentSize(stored.constData(), size_t(stored.size()));
        if (declared == ZSTD_CONTENTSIZE_ERROR
            || (declared != ZSTD_CONTENTSIZE_UNKNOWN && declared != (unsigned long long)bytes))
            return skipReason::zarrChunkDamaged;
        const size_t got = ZSTD_decompress(out.data(), size_t(bytes), stored.constData(), size_t(stored.size()));
        return !ZSTD_isError(got) && got == size_t(bytes) ? nullptr : skipReason::zarrChunkDamaged;
    }
    case ZarrCompressor::zlib:
        return inflateExactly(stored, false, out);
    case ZarrCompressor::gzip:
        return inflateExactly(stored, true, out);
    }
    return skipReason::zarrCompressor;
}

QByteArray encodeZarrChunk(const ZarrArrayMeta &meta, const unsigned char *samples)
{
    const qint64 bytes = meta.chunkBytes();
    switch (meta.compressor) {
    case ZarrCompressor::none:
        return QByteArray(reinterpret_cast<const char *>(samples), qsizetype(bytes));
    case ZarrCompressor::blosc: {
        QByteArray out;
        out.resize(qsizetype(bytes) + BLOSC_MAX_OVERHEAD);
        const int n = blosc_compress_ctx(compressionLevel, BLOSC_SHUFFLE, size_t(sampleTypeBytes(meta.type)),
                                         size_t(bytes), samples, out.data(), size_t(out.size()), "zstd", 0, 1);
        if (n <= 0)
            return QByteArray();
        out.resize(n);
        return out;
    }
    case ZarrCompressor::zstd: {
        QByteArray out;
        out.resize(qsizetype(ZSTD_compressBound(size_t(bytes))));
        const size_t n = ZSTD_compress(out.data(), size_t(out.size()), samples, size_t(bytes), compressionLevel);
        if (ZSTD_isError(n))
            return QByteArray();
        out.resize(qsizetype(n));
        return out;
    }
    case ZarrCompressor::zlib:
        return deflated(samples, bytes, false);
    case ZarrCompressor::gzip:
        return deflated(samples, bytes, true);
    }
    return QByteArray();
}

ZarrChunkState readZarrChunk(const QString &arrayDir, const ZarrArrayMeta &meta, const ZarrChunkIndex &at,
                             std::vector<unsigned char> &out, const char **why)
{
    const QString path = QDir(arrayDir).filePath(zarrChunkKey(meta, at));
    const QFileInfo info(path);
    const qint64 bytes = meta.chunkBytes();
    if (!info.exists()) {
        const QByteArray fill = meta.fillBytes();
        out.resize(std::size_t(bytes));
        const std::size_t n = std::size_t(fill.size());
        for (std::size_t i = 0; i + n <= out.size(); i += n)
            std::memcpy(out.data() + i, fill.constData(), n);
        return ZarrChunkState::fill;
    }
    // No compressor makes a chunk much larger than its samples; a longer file is not
    // read at all.
    const qint64 largest = bytes + bytes / 64 + 65536;
    QFile f(path);
    if (!info.isFile() || info.size() > largest || !f.open(QIODevice::ReadOnly)) {
        *why = skipReason::zarrChunkDamaged;
        return ZarrChunkState::fault;
    }
    const QByteArray stored = f.read(largest);
    if (const char *bad = decodeZarrChunk(meta, stored, out)) {
        *why = bad;
        return ZarrChunkState::fault;
    }
    return ZarrChunkState::data;
}
