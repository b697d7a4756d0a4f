#include "data/zarrmeta.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "data/zarrparse.h"
#include "data/zarrstore.h"

namespace {

using zarrparse::objectOf;
using zarrparse::positiveCount;

bool dtypeFromName(const QString &name, SampleType &t, bool &bigEndian)
{
    if (name.size() != 3)
        return false;
    const QChar order = name.at(0);
    const QString kind = name.mid(1);
    static const struct {
        const char *kind;
        SampleType type;
    } known[] = {{"u1", SampleType::u8},  {"i1", SampleType::s8},  {"u2", SampleType::u16}, {"i2", SampleType::s16},
                 {"u4", SampleType::u32}, {"i4", SampleType::s32}, {"f4", SampleType::f32}, {"f8", SampleType::f64}};
    for (const auto &k : known) {
        if (kind != QLatin1String(k.kind))
            continue;
        const bool single = sampleTypeBytes(k.type) == 1;
        if (order == u'|' ? !single : (order != u'<' && order != u'>'))
            return false;
        t = k.type;
        bigEndian = order == u'>';
        return true;
    }
    return false;
}

const char *compressorFrom(const QJsonValue &v, ZarrCompressor &c)
{
    if (v.isNull()) {
        c = ZarrCompressor::none;
        return nullptr;
    }
    if (!v.isObject())
        return skipReason::zarrNotJson;
    const QString id = v.toObject().value(QLatin1String("id")).toString();
    if (id == QLatin1String("blosc"))
        c = ZarrCompressor::blosc;
    else if (id == QLatin1String("zstd"))
        c = ZarrCompressor::zstd;
    else if (id == QLatin1String("zlib"))
        c = ZarrCompressor::zlib;
    else if (id == QLatin1String("gzip"))
        c = ZarrCompressor::gzip;
    else
        return skipReason::zarrCompressor;
    return nullptr;
}

// Millimetres in one of the units of length OME-Zarr names; 0 for any other word.
double millimetresPer(const QString &unit)
{
    static const struct {
        const char *name;
        double mm;
    } units[] = {{"angstrom", 1e-7},   {"nanometer", 1e-6},  {"micrometer", 1e-3}, {"millimeter", 1.0},
                 {"centimeter", 10.0}, {"decimeter", 100.0}, {"meter", 1000.0},    {"picometer", 1e-9}};
    for (const auto &u : units)
        if (unit == QLatin1String(u.name))
            return u.mm;
    return 0.0;
}

bool scaleOf(const QJsonValue &transforms, int dims, double *scale)
{
    if (transforms.isUndefined())
        return true;
    if (!transforms.isArray())
        return false;
    for (const QJsonValue &t : transforms.toArray()) {
        const QJsonObject o = t.toObject();
        if (o.value(QLatin1String("type")).toString() != QLatin1String("scale"))
            continue;
        const QJsonArray s = o.value(QLatin1String("scale")).toArray();
        if (s.size() != dims)
            return false;
        for (int i = 0; i < dims; ++i) {
            const double v = s.at(i).toDouble(-1.0);
            if (!(v > 0.0) || !std::isfinite(v))
                return false;
            scale[i] *= v;
        }
    }
    return true;
}

// Half of a, rounded either way, or a itself.
bool halvesOrKeeps(qint64 a, qint64 b)
{
    return b == a || b == (a + 1) / 2 || b == a / 2;
}

}  // namespace

qint64 ZarrArrayMeta::chunkVoxels() const
{
    qint64 n = 1;
    for (int i = 0; i < dims; ++i)
        n *= chunks[i];  // each at most maxZarrChunkVoxels, checked on parsing
    return n;
}

qint64 ZarrArrayMeta::chunksPerShard() const
{
    if (!sharded)
        return 1;
    qint64 n = 1;
    for (int i = 0; i < dims; ++i)
        n *= shard[i] / chunks[i];  // at most maxChunksPerShard, checked on parsing
    return n;
}

QByteArray ZarrArrayMeta::fillBytes() const
{
    const int n = sampleTypeBytes(type);
    QByteArray b(n, '\0');
    const double f = fill;
    auto put = [&b](auto v) { std::memcpy(b.data(), &v, sizeof v); };
    auto whole = [f](double lo, double hi) { return std::isfinite(f) ? std::clamp(std::trunc(f), lo, hi) : 0.0; };
    switch (type) {
    case SampleType::u8:
        put(quint8(whole(0, 255)));
        break;
    case SampleType::s8:
        put(qint8(whole(-128, 127)));
        break;
    case SampleType::u16:
        put(quint16(whole(0, 65535)));
        break;
    case SampleType::s16:
        put(qint16(whole(-32768, 32767)));
        break;
    case SampleType::u32:
        put(quint32(whole(0, 4294967295.0)));
        break;
    case SampleType::s32:
        put(qint32(whole(-2147483648.0, 2147483647.0)));
        break;
    case SampleType::f32:
        put(float(f));
        break;
    case SampleType::f64:
        put(f);
        break;
    }
    if (bigEndian != (Q_BYTE_ORDER == Q_BIG_ENDIAN))
        std::reverse(b.begin(), b.end());
    return b;
}

SampleLayout ZarrArrayMeta::layout() const
{
    SampleLayout l;
    l.type = type;
    l.swapBytes = bigEndian != (Q_BYTE_ORDER == Q_BIG_ENDIAN);
    return l;
}

const char *parseZarrArray(const QByteArray &json, ZarrArrayMeta &out)
{
    QJsonObject o;
    if (!objectOf(json, o))
        return skipReason::zarrNotJson;
    if (o.value(QLatin1String("zarr_format")).toInt(0) != 2)
        return skipReason::zarrVersion;
    const QJsonArray shape = o.value(QLatin1String("shape")).toArray();
    const QJsonArray chunks = o.value(QLatin1String("chunks")).toArray();
    if (shape.size() < 2 || shape.size() > ZarrArrayMeta::maxDims || chunks.size() != shape.size())
        return skipReason::zarrAxes;
    out.dims = int(shape.size());
    qint64 voxels = 1;
    for (int i = 0; i < out.dims; ++i) {
        if (!positiveCount(shape.at(i), std::numeric_limits<int>::max(), out.shape[i]))
            return skipReason::noVoxels;
        if (!positiveCount(chunks.at(i), maxZarrChunkVoxels, out.chunks[i])
            || out.chunks[i] > maxZarrChunkVoxels / voxels)
            return skipReason::zarrChunks;
        voxels *= out.chunks[i];
    }
    if (!dtypeFromName(o.value(QLatin1String("dtype")).toString(), out.type, out.bigEndian))
        return skipReason::zarrDtype;
    if (o.value(QLatin1String("order")).toString() != QLatin1String("C"))
        return skipReason::zarrOrder;
    const QJsonValue filters = o.value(QLatin1String("filters"));
    if (!filters.isNull() && !filters.isUndefined() && !(filters.isArray() && filters.toArray().isEmpty()))
        return skipReason::zarrCompressor;
    if (const char *why = compressorFrom(o.value(QLatin1String("compressor")), out.compressor))
        return why;
    const QString separator = o.value(QLatin1String("dimension_separator")).toString(QStringLiteral("."));
    if (separator != QLatin1String(".") && separator != QLatin1String("/"))
        return skipReason::zarrNotJson;
    out.nestedKeys = separator == QLatin1String("/");
    if (!zarrparse::fillFrom(o.value(QLatin1String("fill_value")), out.type, out.fill))
        return skipReason::zarrNotJson;
    return nullptr;
}

QString zarrDtypeName(SampleType t, bool bigEndian)
{
    static const char *kinds[] = {"u1", "i1", "u2", "i2", "u4", "i4", "f4", "f8"};
    const QChar order = sampleTypeBytes(t) == 1 ? u'|' : (bigEndian ? u'>' : u'<');
    return order + QLatin1String(kinds[int(t)]);
}

const char *parseMultiscales(const QByteArray &json, ZarrImage &out)
{
    QJsonObject o;
    if (!objectOf(json, o))
        return skipReason::zarrNotJson;
    const QJsonArray all = o.value(QLatin1String("multiscales")).toArray();
    if (all.isEmpty() || !all.at(0).isObject())
        return skipReason::zarrNotJson;
    const QJsonObject ms = all.at(0).toObject();
    // Axes: any time and channel axes first, then two or three of space. Version 0.3
    // names them as plain strings; older files leave them out (then z, y, x).
    const QJsonArray axes = ms.value(QLatin1String("axes")).toArray();
    int dims = int(axes.size());
    QString unit;
    bool unitShared = true;
    int spaceAxes = 0;
    for (int i = 0; i < dims; ++i) {
        const QJsonValue a = axes.at(i);
        const QString name = a.isString() ? a.toString() : a.toObject().value(QLatin1String("name")).toString();
        QString type = a.toObject().value(QLatin1String("type")).toString();
        if (type.isEmpty())
            type = name == QLatin1String("t") ? QStringLiteral("time")
                : name == QLatin1String("c")  ? QStringLiteral("channel")
                                              : QStringLiteral("space");
        if (type == QLatin1String("space")) {
            const QString u = a.toObject().value(QLatin1String("unit")).toString();
            if (spaceAxes == 0)
                unit = u;
            else if (u != unit)
                unitShared = false;
            ++spaceAxes;
        } else if (spaceAxes > 0) {
            return skipReason::zarrAxes;
        }
    }
    if (dims > 0 && (spaceAxes < 2 || spaceAxes > 3 || dims > ZarrArrayMeta::maxDims || (spaceAxes == 2 && dims != 2)))
        return skipReason::zarrAxes;
    const QJsonArray datasets = ms.value(QLatin1String("datasets")).toArray();
    if (datasets.isEmpty() || datasets.size() > 64)
        return skipReason::zarrNotJson;
    double shared[ZarrArrayMeta::maxDims] = {1, 1, 1, 1, 1};
    if (dims > 0 && !scaleOf(ms.value(QLatin1String("coordinateTransformations")), dims, shared))
        return skipReason::badSpacing;
    const double mm = unitShared ? millimetresPer(unit) : 0.0;
    out.unit = mm > 0.0 ? QStringLiteral("mm") : (unitShared ? unit : QString());
    out.levels.clear();
    for (const QJsonValue &d : datasets) {
        ZarrLevel level;
        level.path = d.toObject().value(QLatin1String("path")).toString();
        if (level.path.isEmpty() || level.path.contains(QLatin1String("..")) || level.path.startsWith(u'/'))
            return skipReason::zarrNotJson;
        double scale[ZarrArrayMeta::maxDims] = {1, 1, 1, 1, 1};
        for (int i = 0; i < dims; ++i)
            scale[i] = shared[i];
        if (dims > 0 && !scaleOf(d.toObject().value(QLatin1String("coordinateTransformations")), dims, scale))
            return skipReason::badSpacing;
        const double factor = mm > 0.0 ? mm : 1.0;
        if (dims > 0) {
            level.spacing.x = scale[dims - 1] * factor;
            level.spacing.y = scale[dims - 2] * factor;
            level.spacing.z = spaceAxes == 3 ? scale[dims - 3] * factor : 1.0;
        }
        if (!(level.spacing.x > 0 && level.spacing.y > 0 && level.spacing.z > 0) || !std::isfinite(level.spacing.x)
            || !std::isfinite(level.spacing.y) || !std::isfinite(level.spacing.z))
            return skipReason::badSpacing;
        level.array.dims = dims;  // checked against the array's own count later
        out.levels.push_back(level);
    }
    return nullptr;
}

bool isZarrFolder(const QString &dir)
{
    const QDir d(dir);
    for (const char *name : {".zarray", ".zattrs", ".zgroup", "zarr.json"})
        if (QFileInfo::exists(d.filePath(QLatin1String(name))))
            return true;
    return false;
}

namespace {

// Reads one metadata key: null with its bytes, or the reason. A key the store does not
// have gives `missing` as the reason and sets *absent.
const char *metadata(const ZarrStore &store, const QString &key, QByteArray &bytes, bool *absent = nullptr,
                     const char *missing = skipReason::zarrNotJson)
{
    const char *why = nullptr;
    switch (store.read(key, maxZarrMetadataBytes, bytes, &why)) {
    case ZarrRead::data:
        return nullptr;
    case ZarrRead::missing:
        if (absent)
            *absent = true;
        return missing;
    case ZarrRead::fault:
        break;
    }
    return why ? why : skipReason::zarrNotJson;
}

// The levels of a version 3 image or array from its zarr.json.
// Each level's array description, read from the file `name` in its folder and parsed
// by `parse`; the number of axes the multiscales named, if any, must match it.
const char *readLevelArrays(const ZarrStore &store, const QString &name,
                            const char *(*parse)(const QByteArray &, ZarrArrayMeta &), ZarrImage &out)
{
    QByteArray bytes;
    for (ZarrLevel &level : out.levels) {
        const int axes = level.array.dims;
        if (const char *why = metadata(store, zarrKey(level.path, name), bytes))
            return why;
        if (const char *why = parse(bytes, level.array))
            return why;
        if (axes > 0 && axes != level.array.dims)
            return skipReason::zarrAxes;
    }
    return nullptr;
}

const char *readVersion3(const ZarrStore &store, const QByteArray &root, ZarrImage &out)
{
    QJsonObject o;
    if (!objectOf(root, o))
        return skipReason::zarrNotJson;
    if (o.value(QLatin1String("node_type")).toString() == QLatin1String("array")) {
        ZarrLevel level;
        level.path = QStringLiteral(".");
        if (const char *why = parseZarrJsonArray(root, level.array))
            return why;
        out.levels.assign(1, level);
        out.unit.clear();
        return nullptr;
    }
    if (const char *why = parseZarrJsonGroup(root, out))
        return why;
    return readLevelArrays(store, QStringLiteral("zarr.json"), parseZarrJsonArray, out);
}

const char *readVersion2(const ZarrStore &store, ZarrImage &out)
{
    QByteArray bytes;
    bool absent = false;
    const char *why = metadata(store, QStringLiteral(".zarray"), bytes, &absent);
    if (!why) {
        ZarrLevel level;
        level.path = QStringLiteral(".");
        if (const char *bad = parseZarrArray(bytes, level.array))
            return bad;
        out.levels.assign(1, level);
        out.unit.clear();
        return nullptr;
    }
    // A .zarray that is there but cannot be read is no reason to look for an image.
    if (!absent && why != skipReason::zarrNotJson)
        return why;
    if (const char *bad = metadata(store, QStringLiteral(".zattrs"), bytes, nullptr,
                                   absent ? skipReason::zarrNoMetadata : skipReason::zarrNotJson))
        return bad;
    if (const char *bad = parseMultiscales(bytes, out))
        return bad;
    return readLevelArrays(store, QStringLiteral(".zarray"), parseZarrArray, out);
}

}  // namespace

const char *readZarrImage(const QString &location, ZarrImage &out)
{
    return readZarrImage(*openZarrStore(location), out);
}

const char *readZarrImage(const ZarrStore &store, ZarrImage &out)
{
    QByteArray bytes;
    bool absent = false;
    if (const char *why = metadata(store, QStringLiteral("zarr.json"), bytes, &absent); why && !absent)
        return why;
    if (const char *why = absent ? readVersion2(store, out) : readVersion3(store, bytes, out))
        return why;
    const ZarrArrayMeta &first = out.levels.front().array;
    out.volumes = 1;
    for (int i = 0; i + 3 < first.dims + (first.dims == 2 ? 1 : 0); ++i)
        out.volumes *= first.shape[i];
    for (std::size_t k = 1; k < out.levels.size(); ++k) {
        const ZarrArrayMeta &a = out.levels[k - 1].array;
        const ZarrArrayMeta &b = out.levels[k].array;
        if (a.dims != b.dims || a.type != b.type)
            return skipReason::zarrLevels;
        for (int i = 0; i < a.dims; ++i) {
            const bool spatial = i >= a.dims - 3;
            if (spatial ? !halvesOrKeeps(a.shape[i], b.shape[i]) : a.shape[i] != b.shape[i])
                return skipReason::zarrLevels;
        }
    }
    return nullptr;
}
