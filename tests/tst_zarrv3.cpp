// Zarr version 3 images (zarr.json, OME-Zarr 0.5): plain and sharded arrays, written
// here by hand since Debian's Python zarr writes version 2 only, read with the same
// values whatever the codecs, chunk keys and index place; an inner chunk or a shard
// left out reads as the fill value; a shard read by address takes byte ranges; and
// damaged indexes, checksums and metadata are refused with their reason.

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>

#include <cstring>
#include <memory>

#include "data/slicedatas.h"
#include "data/zarrchunks.h"
#include "data/zarrhttp.h"
#include "data/zarrmeta.h"
#include "zarrserver.h"

Q_DECLARE_METATYPE(ZarrCompressor)

namespace {

constexpr int W = 22, H = 20, D = 12;  // columns, rows, slices
constexpr double fill = 7;

double valueAt(int x, int y, int z)
{
    return double((x * 7 + y * 13 + z * 29) % 251 + 100);
}

struct Layout {
    ZarrCompressor compressor = ZarrCompressor::none;
    bool bigEndian = false;
    bool crc = false;  // inner chunks end with a checksum
    bool sharded = true;
    bool indexAtStart = false;
    QString keys = QStringLiteral("default");
    QString separator = QStringLiteral("/");
    bool bareArray = false;
};

const qint64 inner[3] = {4, 5, 6};  // slices, rows, columns
const qint64 shard[3] = {8, 10, 12};

QJsonObject named(const char *name, const QJsonObject &config = QJsonObject())
{
    QJsonObject o{{"name", name}};
    if (!config.isEmpty())
        o.insert("configuration", config);
    return o;
}

QJsonArray chain(const Layout &l)
{
    QJsonArray codecs{named("bytes", {{"endian", l.bigEndian ? "big" : "little"}})};
    if (l.compressor == ZarrCompressor::zstd)
        codecs.append(named("zstd", {{"level", 1}, {"checksum", false}}));
    else if (l.compressor == ZarrCompressor::gzip)
        codecs.append(named("gzip", {{"level", 1}}));
    else if (l.compressor == ZarrCompressor::blosc)
        codecs.append(named("blosc", {{"cname", "zstd"}, {"clevel", 1}, {"shuffle", "shuffle"}, {"typesize", 2}}));
    if (l.crc)
        codecs.append(named("crc32c"));
    return codecs;
}

QByteArray arrayJson(const Layout &l)
{
    const QJsonArray shape{D, H, W};
    const QJsonArray chunkShape =
        l.sharded ? QJsonArray{shard[0], shard[1], shard[2]} : QJsonArray{inner[0], inner[1], inner[2]};
    QJsonArray codecs = chain(l);
    if (l.sharded)
        codecs =
            QJsonArray{named("sharding_indexed",
                             {{"chunk_shape", QJsonArray{inner[0], inner[1], inner[2]}},
                              {"codecs", codecs},
                              {"index_codecs", QJsonArray{named("bytes", {{"endian", "little"}}), named("crc32c")}},
                              {"index_location", l.indexAtStart ? "start" : "end"}})};
    const QJsonObject o{{"zarr_format", 3},
                        {"node_type", "array"},
                        {"shape", shape},
                        {"data_type", "uint16"},
                        {"chunk_grid", named("regular", {{"chunk_shape", chunkShape}})},
                        {"chunk_key_encoding", named(qPrintable(l.keys), {{"separator", l.separator}})},
                        {"fill_value", fill},
                        {"codecs", codecs},
                        {"dimension_names", QJsonArray{"z", "y", "x"}}};
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

QByteArray groupJson()
{
    QJsonArray axes;
    for (const char *n : {"z", "y", "x"})
        axes.append(QJsonObject{{"name", n}, {"type", "space"}, {"unit", "micrometer"}});
    const QJsonObject dataset{{"path", "s0"},
                              {"coordinateTransformations",
                               QJsonArray{QJsonObject{{"type", "scale"}, {"scale", QJsonArray{3.0, 1.0, 0.5}}}}}};
    const QJsonObject ms{{"version", "0.5"}, {"axes", axes}, {"datasets", QJsonArray{dataset}}};
    const QJsonObject o{
        {"zarr_format", 3},
        {"node_type", "group"},
        {"attributes", QJsonObject{{"ome", QJsonObject{{"version", "0.5"}, {"multiscales", QJsonArray{ms}}}}}}};
    return QJsonDocument(o).toJson();
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    QCOMPARE(f.write(bytes), bytes.size());
}

QString key(const Layout &l, qint64 z, qint64 y, qint64 x)
{
    const QString sep = l.separator;
    const QString k = QString::number(z) + sep + QString::number(y) + sep + QString::number(x);
    return l.keys == QLatin1String("default") ? QStringLiteral("c") + sep + k : k;
}

// One inner chunk's stored bytes, or empty for one left out: the first, and any
// wholly outside the array.
QByteArray innerChunk(const Layout &l, qint64 cz, qint64 cy, qint64 cx)
{
    if ((cz == 0 && cy == 0 && cx == 0) || cz * inner[0] >= D || cy * inner[1] >= H || cx * inner[2] >= W)
        return QByteArray();
    ZarrArrayMeta m;
    m.dims = 3;
    for (int i = 0; i < 3; ++i)
        m.chunks[i] = inner[i];
    m.type = SampleType::u16;
    m.compressor = l.compressor;
    m.crc32c = l.crc;
    std::vector<unsigned char> samples(std::size_t(m.chunkBytes()));
    for (qint64 z = 0; z < inner[0]; ++z)
        for (qint64 y = 0; y < inner[1]; ++y)
            for (qint64 x = 0; x < inner[2]; ++x) {
                const qint64 gx = cx * inner[2] + x, gy = cy * inner[1] + y, gz = cz * inner[0] + z;
                const quint16 v = gx < W && gy < H && gz < D ? quint16(valueAt(int(gx), int(gy), int(gz))) : 0;
                unsigned char *p = samples.data() + ((z * inner[1] + y) * inner[2] + x) * 2;
                p[l.bigEndian ? 1 : 0] = uchar(v & 0xFF);
                p[l.bigEndian ? 0 : 1] = uchar(v >> 8);
            }
    return encodeZarrChunk(m, samples.data());
}

void appendLittle(QByteArray &b, quint64 v, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        b.append(char(v >> (8 * i)));
}

// Writes the array (and, unless bare, the group around it) into dir.
void writeArray(const QString &dir, const Layout &l)
{
    const QString arrayDir = l.bareArray ? dir : dir + "/s0";
    if (!l.bareArray)
        writeFile(dir + "/zarr.json", groupJson());
    writeFile(arrayDir + "/zarr.json", arrayJson(l));
    if (!l.sharded) {
        for (qint64 z = 0; z * inner[0] < D; ++z)
            for (qint64 y = 0; y * inner[1] < H; ++y)
                for (qint64 x = 0; x * inner[2] < W; ++x)
                    if (const QByteArray c = innerChunk(l, z, y, x); !c.isEmpty())
                        writeFile(arrayDir + "/" + key(l, z, y, x), c);
        return;
    }
    const qint64 per[3] = {shard[0] / inner[0], shard[1] / inner[1], shard[2] / inner[2]};
    const qint64 entries = per[0] * per[1] * per[2];
    for (qint64 sz = 0; sz * shard[0] < D; ++sz)
        for (qint64 sy = 0; sy * shard[1] < H; ++sy)
            for (qint64 sx = 0; sx * shard[2] < W; ++sx) {
                if (sz == 1 && sy == 1 && sx == 1)
                    continue;  // a shard left out
                QByteArray data, index;
                const qint64 start = l.indexAtStart ? entries * 16 + 4 : 0;
                for (qint64 i = 0; i < entries; ++i) {
                    const QByteArray c = innerChunk(l, sz * per[0] + i / (per[1] * per[2]),
                                                    sy * per[1] + i / per[2] % per[1], sx * per[2] + i % per[2]);
                    appendLittle(index, c.isEmpty() ? ~quint64(0) : quint64(start + data.size()), 8);
                    appendLittle(index, c.isEmpty() ? ~quint64(0) : quint64(c.size()), 8);
                    data += c;
                }
                appendLittle(index, zarrCrc32c(index.constData(), index.size()), 4);
                writeFile(arrayDir + "/" + key(l, sz, sy, sx), l.indexAtStart ? index + data : data + index);
            }
}

std::unique_ptr<SliceDatas> loadSet(const QString &name)
{
    auto set = std::make_unique<SliceDatas>();
    set->setLoadWorkers(1);
    set->filesSelected(QStringList{name});
    return set;
}

// The expected value: the fill value in the inner chunk and the shard left out.
double expected(const Layout &l, int x, int y, int z)
{
    if (x < inner[2] && y < inner[1] && z < inner[0])
        return fill;
    if (l.sharded && x >= shard[2] && y >= shard[1] && z >= shard[0])
        return fill;
    return valueAt(x, y, z);
}

QString firstDifference(const SliceDatas &set, const Layout &l)
{
    SliceDatas::ReadGuard guard(set);
    if (!set.loaded)
        return set.skipped.isEmpty() ? QStringLiteral("not loaded") : set.skipped.first().reason;
    if (set.width != W || set.height != H || int(set.slices.size()) != D)
        return QStringLiteral("size %1 x %2 x %3").arg(set.width).arg(set.height).arg(set.slices.size());
    for (int z = 0; z < D; ++z)
        for (int y = 0; y < H; ++y)
            for (int x = 0; x < W; ++x)
                if (set.slices[std::size_t(z)]->value(x, y) != expected(l, x, y, z))
                    return QStringLiteral("voxel %1,%2,%3 is %4, expected %5")
                        .arg(x)
                        .arg(y)
                        .arg(z)
                        .arg(set.slices[std::size_t(z)]->value(x, y))
                        .arg(expected(l, x, y, z));
    return QString();
}

}  // namespace

Q_DECLARE_METATYPE(Layout)

class TestZarrV3 : public QObject
{
    Q_OBJECT

private slots:
    void checksum();
    void reads_data();
    void reads();
    void shardsByAddress_data();
    void shardsByAddress();
    void refused_data();
    void refused();
};

void TestZarrV3::checksum()
{
    // The check value of CRC-32C.
    QCOMPARE(zarrCrc32c("123456789", 9), quint32(0xE3069283));
}

void TestZarrV3::reads_data()
{
    QTest::addColumn<Layout>("layout");
    Layout l;
    QTest::newRow("sharded, raw, index at the end") << l;
    l.indexAtStart = true;
    l.compressor = ZarrCompressor::zstd;
    QTest::newRow("sharded, zstd, index at the start") << l;
    l.indexAtStart = false;
    l.compressor = ZarrCompressor::blosc;
    l.crc = true;
    l.separator = QStringLiteral(".");
    QTest::newRow("sharded, blosc and checksums, dotted keys") << l;
    l.compressor = ZarrCompressor::gzip;
    l.crc = false;
    l.bigEndian = true;
    l.keys = QStringLiteral("v2");
    QTest::newRow("sharded, gzip, big-endian, v2 keys") << l;
    l = Layout();
    l.sharded = false;
    l.compressor = ZarrCompressor::gzip;
    l.crc = true;
    l.bigEndian = true;
    QTest::newRow("plain chunks, big-endian gzip with checksums") << l;
    l = Layout();
    l.bareArray = true;
    l.compressor = ZarrCompressor::zstd;
    QTest::newRow("a bare sharded array") << l;
}

void TestZarrV3::reads()
{
    QFETCH(Layout, layout);
    QTemporaryDir tmp;
    const QString dir = tmp.filePath("v3.zarr");
    writeArray(dir, layout);
    const auto set = loadSet(dir);
    QCOMPARE(firstDifference(*set, layout), QString());
    SliceDatas::ReadGuard guard(*set);
    if (!layout.bareArray) {
        QCOMPARE(set->spacingUnit, QStringLiteral("mm"));
        QCOMPARE(set->spacing.z, 3e-3);
        QCOMPARE(set->spacing.x, 0.5e-3);
    }
}

void TestZarrV3::shardsByAddress_data()
{
    QTest::addColumn<bool>("python");
    // Our own server answers ranges: each inner chunk comes as its bytes after its
    // shard's index. Python's ignores them: each shard comes whole, once.
    QTest::newRow("a server with ranges") << false;
    QTest::newRow("python's server, without ranges") << true;
}

void TestZarrV3::shardsByAddress()
{
    QFETCH(bool, python);
    QTemporaryDir tmp;
    Layout l;
    l.compressor = ZarrCompressor::zstd;
    l.crc = true;
    writeArray(tmp.filePath("v3.zarr"), l);
    std::unique_ptr<TestServer> own;
    std::unique_ptr<PythonServer> py;
    QString address;
    if (python) {
        py = std::make_unique<PythonServer>(tmp.path());
        if (!py->up())
            QSKIP("no /usr/bin/python3 to serve files (or the race checker, which cannot follow its fork)");
        address = py->address("v3.zarr");
    } else {
        own = std::make_unique<TestServer>(tmp.path(), TestServer::Mode::files);
        address = own->address("v3.zarr");
    }
    const auto set = loadSet(address);
    QCOMPARE(firstDifference(*set, l), QString());
    // 43 inner chunks are stored in 7 shards: read with their index each time they
    // would take 93 requests, with each shard's index kept 56 (and a few more where
    // threads ask for a new shard's index at once).
    if (own)
        QVERIFY2(own->requests() < 80, qPrintable(QString::number(own->requests())));
}

void TestZarrV3::refused_data()
{
    QTest::addColumn<QString>("file");  // relative to the array
    QTest::addColumn<QByteArray>("from");  // replaced in it
    QTest::addColumn<QByteArray>("to");
    QTest::addColumn<QString>("reason");
    QTest::newRow("a shard's index checksum")
        << "c/0/0/1" << QByteArray() << QByteArray("\x01", 1) << skipReason::zarrChunkDamaged;
    QTest::newRow("inner chunks that do not divide the shard")
        << "zarr.json" << QByteArray("\"chunk_shape\":[4,5,6]") << QByteArray("\"chunk_shape\":[3,5,6]")
        << skipReason::zarrShards;
    QTest::newRow("an array-to-array codec") << "zarr.json" << QByteArray("\"name\":\"sharding_indexed\"")
                                             << QByteArray("\"name\":\"transpose\"") << skipReason::zarrCompressor;
    QTest::newRow("64-bit samples") << "zarr.json" << QByteArray("\"uint16\"") << QByteArray("\"uint64\"")
                                    << skipReason::zarrDtype;
    QTest::newRow("unknown key encoding")
        << "zarr.json" << QByteArray("\"default\"") << QByteArray("\"other\"") << skipReason::zarrNotJson;
    QTest::newRow("not JSON") << "zarr.json" << QByteArray("{") << QByteArray("[") << skipReason::zarrNotJson;
}

void TestZarrV3::refused()
{
    QFETCH(QString, file);
    QFETCH(QByteArray, from);
    QFETCH(QByteArray, to);
    QFETCH(QString, reason);
    QTemporaryDir tmp;
    const QString dir = tmp.filePath("v3.zarr");
    Layout l;
    writeArray(dir, l);
    QFile f(dir + "/s0/" + file);
    QVERIFY(f.open(QIODevice::ReadWrite));
    QByteArray bytes = f.readAll();
    if (from.isEmpty()) {
        bytes[bytes.size() - 1] = char(bytes[bytes.size() - 1] ^ to[0]);  // the last byte flipped
    } else {
        QVERIFY2(bytes.contains(from), bytes.constData());
        bytes.replace(from, to);
    }
    f.resize(0);
    f.write(bytes);
    f.close();
    const auto set = loadSet(dir);
    SliceDatas::ReadGuard guard(*set);
    QVERIFY(!set->loaded);
    QCOMPARE(set->skipped.size(), 1);
    QCOMPARE(set->skipped.first().reason, reason);
}

QTEST_GUILESS_MAIN(TestZarrV3)

#include "tst_zarrv3.moc"
