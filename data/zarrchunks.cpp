#include "data/zarrchunks.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <blosc.h>
#include <zlib.h>
#include <zstd.h>

#include <array>
#include <cstring>
#include <limits>

#include "data/slicefile.h"
#include "data/zarrstore.h"

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

void fillChunk(const ZarrArrayMeta &meta, std::vector<unsigned char> &out)
{
    const QByteArray fill = meta.fillBytes();
    out.resize(std::size_t(meta.chunkBytes()));
    const std::size_t n = std::size_t(fill.size());
    for (std::size_t i = 0; i + n <= out.size(); i += n)
        std::memcpy(out.data() + i, fill.constData(), n);
}

// No compressor makes a chunk much larger than its samples; a longer one is not read.
qint64 largestStoredChunk(const ZarrArrayMeta &meta)
{
    const qint64 bytes = meta.chunkBytes();
    return bytes + bytes / 64 + 65536 + (meta.crc32c ? 4 : 0);
}

quint64 littleOrBig(const unsigned char *p, bool bigEndian)
{
    quint64 v = 0;
    for (int i = 0; i < 8; ++i)
        v |= quint64(p[bigEndian ? 7 - i : i]) << (8 * i);
    return v;
}

// The place of inner chunk `at` in its shard's index (C order of the shard's inner chunks).
qint64 placeInShard(const ZarrArrayMeta &meta, const ZarrChunkIndex &at)
{
    qint64 place = 0;
    for (int i = 0; i < meta.dims; ++i) {
        const int fromEnd = meta.dims - i;
        const qint64 index = fromEnd == 1 ? at.x : fromEnd == 2 ? at.y : fromEnd == 3 ? at.z : 0;
        const qint64 perShard = meta.shard[i] / meta.chunks[i];
        place = place * perShard + index % perShard;
    }
    return place;
}

// Reads the stored bytes of an inner chunk from its shard: the shard's index first,
// then the chunk's own range.
ZarrChunkState readFromShard(const ZarrStore &store, const QString &key, const ZarrArrayMeta &meta,
                             const ZarrChunkIndex &at, QByteArray &stored, const char **why)
{
    const qint64 indexBytes = meta.indexBytes();
    const qint64 largest = largestStoredChunk(meta);
    // A store that cannot read a range gives the whole shard, which is never larger than this.
    const qint64 wholeLimit = std::min<qint64>(meta.chunksPerShard() * largest + indexBytes, qint64(1) << 28);
    QByteArray index;
    const char *bad = nullptr;
    switch (store.readRange(key, meta.indexAtStart ? 0 : -indexBytes, indexBytes, wholeLimit, index, &bad)) {
    case ZarrRead::missing:
        return ZarrChunkState::fill;
    case ZarrRead::fault:
        *why = bad ? bad : skipReason::zarrChunkDamaged;
        return ZarrChunkState::fault;
    case ZarrRead::data:
        break;
    }
    *why = skipReason::zarrChunkDamaged;
    if (index.size() != indexBytes)
        return ZarrChunkState::fault;
    if (meta.indexCrc32c) {
        const auto *p = reinterpret_cast<const unsigned char *>(index.constData()) + indexBytes - 4;
        const quint32 declared = quint32(p[0]) | quint32(p[1]) << 8 | quint32(p[2]) << 16 | quint32(p[3]) << 24;
        if (zarrCrc32c(index.constData(), indexBytes - 4) != declared)
            return ZarrChunkState::fault;
    }
    const auto *entry = reinterpret_cast<const unsigned char *>(index.constData()) + placeInShard(meta, at) * 16;
    const quint64 offset = littleOrBig(entry, meta.indexBigEndian);
    const quint64 size = littleOrBig(entry + 8, meta.indexBigEndian);
    if (offset == ~quint64(0) && size == ~quint64(0))
        return ZarrChunkState::fill;
    if (size > quint64(largest) || offset > quint64(std::numeric_limits<qint64>::max() / 2))
        return ZarrChunkState::fault;
    switch (store.readRange(key, qint64(offset), qint64(size), wholeLimit, stored, &bad)) {
    case ZarrRead::missing:
        return ZarrChunkState::fault;  // the shard went away meanwhile
    case ZarrRead::fault:
        *why = bad ? bad : skipReason::zarrChunkDamaged;
        return ZarrChunkState::fault;
    case ZarrRead::data:
        break;
    }
    if (stored.size() != qint64(size))
        return ZarrChunkState::fault;
    *why = nullptr;
    return ZarrChunkState::data;
}

}  // namespace

quint32 zarrCrc32c(const char *data, qint64 size)
{
    static const auto table = [] {
        std::array<quint32, 256> t{};
        for (quint32 i = 0; i < 256; ++i) {
            quint32 c = i;
            for (int k = 0; k < 8; ++k)
                c = c & 1 ? (c >> 1) ^ 0x82F63B78u : c >> 1;
            t[i] = c;
        }
        return t;
    }();
    quint32 crc = ~0u;
    for (qint64 i = 0; i < size; ++i)
        crc = table[(crc ^ quint8(data[i])) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

QString zarrChunkKey(const ZarrArrayMeta &meta, const ZarrChunkIndex &at)
{
    const QChar sep = meta.nestedKeys ? u'/' : u'.';
    QString key = meta.keysStartWithC ? QStringLiteral("c") : QString();
    for (int i = 0; i < meta.dims; ++i) {
        const int fromEnd = meta.dims - i;
        qint64 index = fromEnd == 1 ? at.x : fromEnd == 2 ? at.y : fromEnd == 3 ? at.z : 0;
        if (meta.sharded)
            index /= meta.shard[i] / meta.chunks[i];
        if (i > 0 || meta.keysStartWithC)
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

const char *decodeZarrChunk(const ZarrArrayMeta &meta, const QByteArray &checked, std::vector<unsigned char> &out)
{
    const qint64 bytes = meta.chunkBytes();
    QByteArray stored = checked;
    if (meta.crc32c) {
        if (checked.size() < 4)
            return skipReason::zarrChunkDamaged;
        const auto *p = reinterpret_cast<const unsigned char *>(checked.constData()) + checked.size() - 4;
        const quint32 declared = quint32(p[0]) | quint32(p[1]) << 8 | quint32(p[2]) << 16 | quint32(p[3]) << 24;
        if (zarrCrc32c(checked.constData(), checked.size() - 4) != declared)
            return skipReason::zarrChunkDamaged;
        stored.truncate(checked.size() - 4);
    }
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
    if (meta.crc32c) {
        ZarrArrayMeta plain = meta;
        plain.crc32c = false;
        QByteArray out = encodeZarrChunk(plain, samples);
        if (out.isEmpty())
            return out;
        const quint32 crc = zarrCrc32c(out.constData(), out.size());
        for (int i = 0; i < 4; ++i)
            out.append(char(crc >> (8 * i)));
        return out;
    }
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

ZarrChunkState readZarrChunk(const ZarrStore &store, const QString &arrayKey, const ZarrArrayMeta &meta,
                             const ZarrChunkIndex &at, std::vector<unsigned char> &out, const char **why)
{
    const QString key = zarrKey(arrayKey, zarrChunkKey(meta, at));
    QByteArray stored;
    if (meta.sharded) {
        const ZarrChunkState state = readFromShard(store, key, meta, at, stored, why);
        if (state == ZarrChunkState::fill)
            fillChunk(meta, out);
        if (state != ZarrChunkState::data)
            return state;
    } else {
        const char *bad = nullptr;
        switch (store.read(key, largestStoredChunk(meta), stored, &bad)) {
        case ZarrRead::missing:
            fillChunk(meta, out);
            return ZarrChunkState::fill;
        case ZarrRead::fault:
            *why = bad ? bad : skipReason::zarrChunkDamaged;
            return ZarrChunkState::fault;
        case ZarrRead::data:
            break;
        }
    }
    if (const char *bad = decodeZarrChunk(meta, stored, out)) {
        *why = bad;
        return ZarrChunkState::fault;
    }
    return ZarrChunkState::data;
}
