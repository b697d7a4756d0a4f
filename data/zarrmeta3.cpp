// Zarr version 3 metadata (zarr.json), and the JSON pieces both versions share.
#include <QJsonArray>
#include <QJsonDocument>

#include <cmath>
#include <cstring>
#include <limits>

#include "data/zarrmeta.h"
#include "data/zarrparse.h"

bool zarrparse::objectOf(const QByteArray &json, QJsonObject &out)
{
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject())
        return false;
    out = doc.object();
    return true;
}

bool zarrparse::positiveCount(const QJsonValue &v, qint64 limit, qint64 &out)
{
    if (!v.isDouble())
        return false;
    const double d = v.toDouble();
    if (!(d >= 1.0) || d > double(limit) || std::floor(d) != d)
        return false;
    out = qint64(d);
    return true;
}

bool zarrparse::fillFrom(const QJsonValue &v, SampleType type, double &fill)
{
    if (v.isNull() || v.isUndefined()) {
        fill = 0.0;
        return true;
    }
    if (v.isDouble()) {
        fill = v.toDouble();
        return true;
    }
    if (!v.isString())
        return false;
    const QString s = v.toString();
    if (s == QLatin1String("NaN")) {
        fill = std::numeric_limits<double>::quiet_NaN();
    } else if (s == QLatin1String("Infinity")) {
        fill = std::numeric_limits<double>::infinity();
    } else if (s == QLatin1String("-Infinity")) {
        fill = -std::numeric_limits<double>::infinity();
    } else if (s.startsWith(QLatin1String("0x")) && (type == SampleType::f32 || type == SampleType::f64)) {
        bool ok = false;
        const quint64 bits = s.mid(2).toULongLong(&ok, 16);
        if (!ok || s.size() != (type == SampleType::f32 ? 10 : 18))
            return false;
        if (type == SampleType::f32) {
            const quint32 b = quint32(bits);
            float f = 0;
            std::memcpy(&f, &b, sizeof f);
            fill = f;
        } else {
            std::memcpy(&fill, &bits, sizeof fill);
        }
    } else {
        return false;
    }
    return true;
}

namespace {

using zarrparse::objectOf;
using zarrparse::positiveCount;

bool typeFromName(const QString &name, SampleType &t)
{
    static const struct {
        const char *name;
        SampleType type;
    } known[] = {{"uint8", SampleType::u8},    {"int8", SampleType::s8},    {"uint16", SampleType::u16},
                 {"int16", SampleType::s16},   {"uint32", SampleType::u32}, {"int32", SampleType::s32},
                 {"float32", SampleType::f32}, {"float64", SampleType::f64}};
    for (const auto &k : known)
        if (name == QLatin1String(k.name)) {
            t = k.type;
            return true;
        }
    return false;
}

QString nameOf(const QJsonValue &codec)
{
    return codec.isString() ? codec.toString() : codec.toObject().value(QLatin1String("name")).toString();
}

QJsonObject configOf(const QJsonValue &codec)
{
    return codec.toObject().value(QLatin1String("configuration")).toObject();
}

// The "bytes" codec's byte order: false for little-endian (or none given, as for
// single bytes), true for big-endian.
bool endianOf(const QJsonValue &codec, bool &bigEndian)
{
    const QString e = configOf(codec).value(QLatin1String("endian")).toString(QStringLiteral("little"));
    if (e != QLatin1String("little") && e != QLatin1String("big"))
        return false;
    bigEndian = e == QLatin1String("big");
    return true;
}

// A chain of codecs without sharding: "bytes", then at most one of blosc, zstd and
// gzip, then optionally crc32c.
const char *plainChain(const QJsonArray &codecs, ZarrArrayMeta &out)
{
    int i = 0;
    if (codecs.size() < 1 || nameOf(codecs.at(0)) != QLatin1String("bytes") || !endianOf(codecs.at(0), out.bigEndian))
        return skipReason::zarrCompressor;
    ++i;
    out.compressor = ZarrCompressor::none;
    if (i < codecs.size()) {
        const QString name = nameOf(codecs.at(i));
        if (name == QLatin1String("blosc"))
            out.compressor = ZarrCompressor::blosc;
        else if (name == QLatin1String("zstd"))
            out.compressor = ZarrCompressor::zstd;
        else if (name == QLatin1String("gzip"))
            out.compressor = ZarrCompressor::gzip;
        if (out.compressor != ZarrCompressor::none)
            ++i;
    }
    out.crc32c = i < codecs.size() && nameOf(codecs.at(i)) == QLatin1String("crc32c");
    if (out.crc32c)
        ++i;
    return i == codecs.size() ? nullptr : skipReason::zarrCompressor;
}

const char *shardingOf(const QJsonValue &codec, ZarrArrayMeta &out)
{
    const QJsonObject c = configOf(codec);
    const QJsonArray inner = c.value(QLatin1String("chunk_shape")).toArray();
    if (inner.size() != out.dims)
        return skipReason::zarrShards;
    qint64 voxels = 1, perShard = 1;
    for (int i = 0; i < out.dims; ++i) {
        out.shard[i] = out.chunks[i];
        if (!positiveCount(inner.at(i), maxZarrChunkVoxels, out.chunks[i])
            || out.chunks[i] > maxZarrChunkVoxels / voxels)
            return skipReason::zarrChunks;
        voxels *= out.chunks[i];
        const qint64 n = out.shard[i] / out.chunks[i];
        if (out.shard[i] % out.chunks[i] != 0 || n > maxChunksPerShard / perShard)
            return skipReason::zarrShards;
        perShard *= n;
    }
    out.sharded = true;
    if (const char *why = plainChain(c.value(QLatin1String("codecs")).toArray(), out))
        return why;
    const QJsonArray index = c.value(QLatin1String("index_codecs")).toArray();
    if (index.isEmpty() || nameOf(index.at(0)) != QLatin1String("bytes") || !endianOf(index.at(0), out.indexBigEndian)
        || index.size() > 2 || (index.size() == 2 && nameOf(index.at(1)) != QLatin1String("crc32c")))
        return skipReason::zarrCompressor;
    out.indexCrc32c = index.size() == 2;
    const QString where = c.value(QLatin1String("index_location")).toString(QStringLiteral("end"));
    if (where != QLatin1String("end") && where != QLatin1String("start"))
        return skipReason::zarrNotJson;
    out.indexAtStart = where == QLatin1String("start");
    return nullptr;
}

}  // namespace

const char *parseZarrJsonArray(const QByteArray &json, ZarrArrayMeta &out)
{
    QJsonObject o;
    if (!objectOf(json, o))
        return skipReason::zarrNotJson;
    if (o.value(QLatin1String("zarr_format")).toInt(0) != 3)
        return skipReason::zarrVersion;
    if (o.value(QLatin1String("node_type")).toString() != QLatin1String("array"))
        return skipReason::zarrNotJson;
    out.format = 3;
    const QJsonArray shape = o.value(QLatin1String("shape")).toArray();
    const QJsonObject grid = o.value(QLatin1String("chunk_grid")).toObject();
    if (grid.value(QLatin1String("name")).toString() != QLatin1String("regular"))
        return skipReason::zarrChunks;
    const QJsonArray chunks = configOf(grid).value(QLatin1String("chunk_shape")).toArray();
    if (shape.size() < 2 || shape.size() > ZarrArrayMeta::maxDims || chunks.size() != shape.size())
        return skipReason::zarrAxes;
    out.dims = int(shape.size());
    const QJsonArray codecs = o.value(QLatin1String("codecs")).toArray();
    const bool sharded = codecs.size() == 1 && nameOf(codecs.at(0)) == QLatin1String("sharding_indexed");
    qint64 voxels = 1;
    for (int i = 0; i < out.dims; ++i) {
        if (!positiveCount(shape.at(i), std::numeric_limits<int>::max(), out.shape[i]))
            return skipReason::noVoxels;
        // A shard may be larger than a chunk may: only its inner chunks are decoded.
        const qint64 limit = sharded ? std::numeric_limits<int>::max() : maxZarrChunkVoxels;
        if (!positiveCount(chunks.at(i), limit, out.chunks[i]) || (!sharded && out.chunks[i] > limit / voxels))
            return skipReason::zarrChunks;
        voxels *= sharded ? 1 : out.chunks[i];
    }
    if (!typeFromName(o.value(QLatin1String("data_type")).toString(), out.type))
        return skipReason::zarrDtype;
    const QJsonValue transformers = o.value(QLatin1String("storage_transformers"));
    if (!transformers.isUndefined() && !(transformers.isArray() && transformers.toArray().isEmpty()))
        return skipReason::zarrCompressor;
    if (const char *why = sharded ? shardingOf(codecs.at(0), out) : plainChain(codecs, out))
        return why;
    const QJsonObject keys = o.value(QLatin1String("chunk_key_encoding")).toObject();
    const QString encoding = keys.value(QLatin1String("name")).toString();
    if (encoding != QLatin1String("default") && encoding != QLatin1String("v2"))
        return skipReason::zarrNotJson;
    out.keysStartWithC = encoding == QLatin1String("default");
    const QString separator = configOf(keys)
                                  .value(QLatin1String("separator"))
                                  .toString(out.keysStartWithC ? QStringLiteral("/") : QStringLiteral("."));
    if (separator != QLatin1String(".") && separator != QLatin1String("/"))
        return skipReason::zarrNotJson;
    out.nestedKeys = separator == QLatin1String("/");
    const QJsonValue fill = o.value(QLatin1String("fill_value"));
    if (fill.isUndefined() || !zarrparse::fillFrom(fill, out.type, out.fill))
        return skipReason::zarrNotJson;
    return nullptr;
}

const char *parseZarrJsonGroup(const QByteArray &json, ZarrImage &out)
{
    QJsonObject o;
    if (!objectOf(json, o))
        return skipReason::zarrNotJson;
    if (o.value(QLatin1String("zarr_format")).toInt(0) != 3)
        return skipReason::zarrVersion;
    if (o.value(QLatin1String("node_type")).toString() != QLatin1String("group"))
        return skipReason::zarrNotJson;
    const QJsonObject attributes = o.value(QLatin1String("attributes")).toObject();
    const QJsonValue ome = attributes.value(QLatin1String("ome"));
    const QJsonObject holder = ome.isObject() ? ome.toObject() : attributes;
    return parseMultiscales(QJsonDocument(holder).toJson(QJsonDocument::Compact), out);
}
