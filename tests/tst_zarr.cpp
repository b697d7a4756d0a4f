// OME-Zarr images: what the pyramid writer and the converter write reads back with the
// same values and spacing whatever the type, compressor and chunking; each coarser level
// keeps the largest of the voxels it stands for; a missing chunk reads as the fill
// value; the level that fits the memory budget is the one loaded; bad metadata and
// chunks are refused with their reason; and another implementation (Python's zarr)
// reads what we write and writes what we read.

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTextStream>

#include <tiffio.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <functional>
#include <memory>

#include "app/convertcommand.h"
#include "app/rendercommand.h"
#include "data/chunkcache.h"
#include "data/slicedata.h"
#include "data/slicedatas.h"
#include "data/slicefile.h"
#include "data/zarrchunks.h"
#include "data/zarrvolume.h"
#include "data/zarrwriter.h"
#include "data/streamedvolume.h"
#include "render/renderer.h"
#include "render/scene.h"
#include "tools/volumewriters.h"

Q_DECLARE_METATYPE(SampleType)
Q_DECLARE_METATYPE(ZarrCompressor)

namespace {

// The test volume's value at (x, y, z) for a sample type: varied, exact in every type
// (a quarter step for floats, negative values for signed types), and 0 (the fill
// value) in the first 16 x 16 x 16 block, so that chunk is left out.
double valueAt(SampleType t, int x, int y, int z)
{
    if (x < 16 && y < 16 && z < 16)
        return 0.0;
    double v = (x * 7 + y * 13 + z * 29) % (t == SampleType::s8 ? 248 : 251);
    if (t == SampleType::s8 || t == SampleType::s16 || t == SampleType::s32)
        v -= 120;
    if (t == SampleType::u32 || t == SampleType::s32)
        v *= 65537;
    if (t == SampleType::f32 || t == SampleType::f64)
        v = v / 4.0 - 30.0;
    return v;
}

template <typename T> void putSample(unsigned char *p, double v)
{
    const T s = T(v);
    std::memcpy(p, &s, sizeof s);
}

void putValue(SampleType t, unsigned char *p, double v)
{
    switch (t) {
    case SampleType::u8:
        putSample<quint8>(p, v);
        break;
    case SampleType::s8:
        putSample<qint8>(p, v);
        break;
    case SampleType::u16:
        putSample<quint16>(p, v);
        break;
    case SampleType::s16:
        putSample<qint16>(p, v);
        break;
    case SampleType::u32:
        putSample<quint32>(p, v);
        break;
    case SampleType::s32:
        putSample<qint32>(p, v);
        break;
    case SampleType::f32:
        putSample<float>(p, v);
        break;
    case SampleType::f64:
        putSample<double>(p, v);
        break;
    }
}

// Loads files as a panel's loader does (in this thread), with a budget in bytes.
std::unique_ptr<SliceDatas> loadSet(const QStringList &files, qint64 budget = 0)
{
    auto set = std::make_unique<SliceDatas>();
    set->setLoadWorkers(1);
    set->setMemoryBudget(budget);
    set->filesSelected(files);
    return set;
}

// The first voxel where the set differs from f, or empty.
QString firstDifference(const SliceDatas &set, int w, int h, int d, const std::function<double(int, int, int)> &f)
{
    if (set.width != w || set.height != h || int(set.slices.size()) != d)
        return QStringLiteral("size %1 x %2 x %3, expected %4 x %5 x %6")
            .arg(set.width)
            .arg(set.height)
            .arg(set.slices.size())
            .arg(w)
            .arg(h)
            .arg(d);
    for (int z = 0; z < d; ++z)
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                if (set.slices[std::size_t(z)]->value(x, y) != f(x, y, z))
                    return QStringLiteral("voxel %1,%2,%3 is %4, expected %5")
                        .arg(x)
                        .arg(y)
                        .arg(z)
                        .arg(set.slices[std::size_t(z)]->value(x, y))
                        .arg(f(x, y, z));
    return QString();
}

QString writePyramid(const QString &dir, int w, int h, int d, const ZarrPyramidWriter::Options &o,
                     const std::function<double(int, int, int)> &f)
{
    ZarrPyramidWriter writer;
    QString why = writer.start(dir, w, h, o);
    std::vector<unsigned char> slice(std::size_t(w) * std::size_t(h) * std::size_t(sampleTypeBytes(o.type)));
    for (int z = 0; z < d && why.isEmpty(); ++z) {
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                putValue(o.type,
                         slice.data()
                             + (std::size_t(y) * std::size_t(w) + std::size_t(x))
                                 * std::size_t(sampleTypeBytes(o.type)),
                         f(x, y, z));
        why = writer.addSlice(slice.data());
    }
    return why.isEmpty() ? writer.finish() : why;
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    QCOMPARE(f.write(bytes), bytes.size());
}

QByteArray zarray(const QString &dtype, const QString &shape, const QString &chunks, const QString &extra = QString())
{
    return QStringLiteral("{\"zarr_format\": 2, \"shape\": %1, \"chunks\": %2, \"dtype\": \"%3\", \"compressor\": "
                          "null, \"fill_value\": 7, \"filters\": null, \"order\": \"C\"%4}")
        .arg(shape, chunks, dtype, extra)
        .toUtf8();
}

int runCommand(int (*command)(const QStringList &, QTextStream &, QTextStream &), const QStringList &args,
               QString *outText = nullptr, QString *errText = nullptr)
{
    QString o, e;
    QTextStream out(&o), err(&e);
    const int status = command(QStringList{QStringLiteral("oxa")} + args, out, err);
    if (outText)
        *outText = o;
    if (errText)
        *errText = e;
    return status;
}

// A Python with zarr and its codecs, or empty: Debian's own first, as a Python of the
// user's may lack the package.
QString pythonWithZarr()
{
    QStringList candidates{QStringLiteral("/usr/bin/python3"), QStandardPaths::findExecutable("python3")};
    for (const QString &p : candidates) {
        if (p.isEmpty() || !QFileInfo(p).isExecutable())
            continue;
        QProcess proc;
        proc.start(p, {"-c", "import zarr, numcodecs"});
        if (proc.waitForFinished(60000) && proc.exitStatus() == QProcess::NormalExit && proc.exitCode() == 0)
            return p;
    }
    return QString();
}

// The Python twin of valueAt, for the scripts.
const char pythonValues[] = R"(
import numpy as np
def values(kind, shape):
    z, y, x = np.indices(shape, dtype=np.int64)
    v = ((x * 7 + y * 13 + z * 29) % (248 if kind == 'i1' else 251)).astype(np.float64)
    if kind in ('i1', 'i2', 'i4'): v -= 120
    if kind in ('u4', 'i4'): v *= 65537
    if kind in ('f4', 'f8'): v = v / 4.0 - 30.0
    v[:16, :16, :16] = 0
    return v
)";

SampleType typeOfKind(const QString &kind)
{
    static const QStringList kinds{"u1", "i1", "u2", "i2", "u4", "i4", "f4", "f8"};
    return SampleType(kinds.indexOf(kind));
}

}  // namespace

class TestZarr : public QObject
{
    Q_OBJECT

private slots:
    void roundTrip_data();
    void roundTrip();
    void pyramidKeepsMaxima();
    void handWritten_data();
    void handWritten();
    void refused_data();
    void refused();
    void levelFitsBudget();
    void chunkCache();
    void finerLevelsFromChunks();
    void convertCommand_data();
    void convertCommand();
    void renderInfoAndMemory();
    void bigTiff();
    void pythonReadsOurs_data();
    void pythonReadsOurs();
    void weReadPythons_data();
    void weReadPythons();
};

void TestZarr::roundTrip_data()
{
    QTest::addColumn<SampleType>("type");
    QTest::addColumn<ZarrCompressor>("compressor");
    QTest::addColumn<int>("chunk");
    QTest::newRow("u1 blosc, odd shape over 16-voxel chunks") << SampleType::u8 << ZarrCompressor::blosc << 16;
    QTest::newRow("i1 zstd") << SampleType::s8 << ZarrCompressor::zstd << 16;
    QTest::newRow("u2 zlib") << SampleType::u16 << ZarrCompressor::zlib << 16;
    QTest::newRow("i2 gzip") << SampleType::s16 << ZarrCompressor::gzip << 16;
    QTest::newRow("u4 uncompressed") << SampleType::u32 << ZarrCompressor::none << 16;
    QTest::newRow("i4 blosc") << SampleType::s32 << ZarrCompressor::blosc << 16;
    QTest::newRow("f4 blosc, one chunk larger than the volume") << SampleType::f32 << ZarrCompressor::blosc << 64;
    QTest::newRow("f8 zstd, 8-voxel chunks") << SampleType::f64 << ZarrCompressor::zstd << 8;
}

void TestZarr::roundTrip()
{
    QFETCH(SampleType, type);
    QFETCH(ZarrCompressor, compressor);
    QFETCH(int, chunk);
    QTemporaryDir tmp;
    const QString dir = tmp.filePath("v.zarr");
    ZarrPyramidWriter::Options o;
    o.chunk = o.chunkDepth = chunk;
    o.type = type;
    o.compressor = compressor;
    o.spacing = Spacing{0.5, 0.25, 2.0};
    o.unit = QStringLiteral("mm");
    const int w = 37, h = 21, d = 19;
    const auto f = [type](int x, int y, int z) { return valueAt(type, x, y, z); };
    QCOMPARE(writePyramid(dir, w, h, d, o, f), QString());
    if (chunk == 16)
        QVERIFY2(!QFile::exists(dir + "/0/0/0/0"), "a chunk all of fill values is left out");
    const auto set = loadSet({dir});
    SliceDatas::ReadGuard guard(*set);
    QVERIFY2(set->loaded, set->skipped.isEmpty() ? "" : qPrintable(set->skipped.first().reason));
    QCOMPARE(firstDifference(*set, w, h, d, f), QString());
    QCOMPARE(set->spacing.x, 0.5);
    QCOMPARE(set->spacing.y, 0.25);
    QCOMPARE(set->spacing.z, 2.0);
    QCOMPARE(set->spacingUnit, QStringLiteral("mm"));
    QCOMPARE(set->volume.level, 0);
    QCOMPARE(set->volume.levels, chunk == 64 ? 1 : chunk == 16 ? 3 : 4);
    QCOMPARE(set->volume.finestSize[0], qint64(w));
    QCOMPARE(set->volume.finestSize[2], qint64(d));
}

void TestZarr::pyramidKeepsMaxima()
{
    // Level k + 1's voxel (i, j, l) is the largest of level k's voxels 2i .. 2i + 1 (and
    // so on) that exist: checked against a plain recount from the finest level.
    QTemporaryDir tmp;
    const QString dir = tmp.filePath("p.zarr");
    const int w = 13, h = 7, d = 11;
    const auto f = [](int x, int y, int z) { return double((x * 31 + y * 17 + z * 57 + x * y * z) % 199); };
    ZarrPyramidWriter::Options o;
    o.chunk = o.chunkDepth = 4;
    o.type = SampleType::u8;
    o.spacing = Spacing{1.0, 2.0, 3.0};
    QCOMPARE(writePyramid(dir, w, h, d, o, f), QString());
    ZarrImage image;
    QCOMPARE(readZarrImage(dir, image), nullptr);
    QCOMPARE(int(image.levels.size()), 3);  // 13 x 7 x 11, 7 x 4 x 6, 4 x 2 x 3: one chunk
    for (std::size_t k = 0; k < image.levels.size(); ++k) {
        const int s = 1 << k;
        const int lw = (w + s - 1) / s, lh = (h + s - 1) / s, ld = (d + s - 1) / s;
        const auto coarse = [&](int x, int y, int z) {
            double m = 0;
            for (int zz = z * s; zz < std::min(d, (z + 1) * s); ++zz)
                for (int yy = y * s; yy < std::min(h, (y + 1) * s); ++yy)
                    for (int xx = x * s; xx < std::min(w, (x + 1) * s); ++xx)
                        m = std::max(m, f(xx, yy, zz));
            return m;
        };
        const auto set = loadSet({zarrLevelDir(dir, image, k)});
        SliceDatas::ReadGuard guard(*set);
        QCOMPARE(firstDifference(*set, lw, lh, ld, coarse), QString());
        QCOMPARE(image.levels[k].spacing.x, 1.0 * s);
        QCOMPARE(image.levels[k].spacing.z, 3.0 * s);
    }
}

void TestZarr::handWritten_data()
{
    QTest::addColumn<QByteArray>("meta");
    QTest::addColumn<QStringList>("chunkNames");
    QTest::addColumn<QByteArray>("chunkBytes");
    QTest::addColumn<QList<double>>("values");  // the 4 x 2 x 2 volume, x fastest
    const QByteArray be = QByteArray::fromHex("0001000200030004");  // big-endian words 1 2 3 4
    QTest::newRow("big-endian words, missing chunks read 7")
        << zarray(">u2", "[2, 2, 4]", "[1, 2, 2]") << QStringList{"0.0.0", "1.0.1"} << be
        << QList<double>{1, 2, 7, 7, 3, 4, 7, 7, 7, 7, 1, 2, 7, 7, 3, 4};
    QTest::newRow("nested keys") << zarray(">u2", "[2, 2, 4]", "[1, 2, 2]", ", \"dimension_separator\": \"/\"")
                                 << QStringList{"0/0/0", "1/0/1"} << be
                                 << QList<double>{1, 2, 7, 7, 3, 4, 7, 7, 7, 7, 1, 2, 7, 7, 3, 4};
    QTest::newRow("a time axis: the first point only")
        << zarray(">u2", "[3, 2, 2, 4]", "[1, 1, 2, 2]") << QStringList{"0.0.0.0", "1.1.0.1", "0.1.0.1"} << be
        << QList<double>{1, 2, 7, 7, 3, 4, 7, 7, 7, 7, 1, 2, 7, 7, 3, 4};
}

void TestZarr::handWritten()
{
    QFETCH(QByteArray, meta);
    QFETCH(QStringList, chunkNames);
    QFETCH(QByteArray, chunkBytes);
    QFETCH(QList<double>, values);
    QTemporaryDir tmp;
    const QString dir = tmp.filePath("a.zarr");
    writeFile(dir + "/.zarray", meta);
    for (const QString &name : chunkNames)
        writeFile(dir + "/" + name, chunkBytes);
    const auto set = loadSet({dir});
    SliceDatas::ReadGuard guard(*set);
    QVERIFY2(set->loaded, set->skipped.isEmpty() ? "" : qPrintable(set->skipped.first().reason));
    QCOMPARE(firstDifference(*set, 4, 2, 2, [&](int x, int y, int z) { return values[(z * 2 + y) * 4 + x]; }),
             QString());
}

void TestZarr::refused_data()
{
    QTest::addColumn<QByteArray>("attrs");
    QTest::addColumn<QByteArray>("meta");
    QTest::addColumn<QByteArray>("chunk");
    QTest::addColumn<QString>("reason");
    const QByteArray four = QByteArray(8, '\1');
    const QByteArray ms = R"({"multiscales": [{"version": "0.4", "datasets": [{"path": "0"}, {"path": "1"}]}]})";
    QTest::newRow("metadata not JSON") << QByteArray() << QByteArray("{\"zarr_format\": 2, \"shape\": [") << four
                                       << skipReason::zarrNotJson;
    QTest::newRow("multiscales not JSON")
        << QByteArray("{\"multiscales\": [") << QByteArray() << four << skipReason::zarrNotJson;
    QTest::newRow("Fortran order") << QByteArray() << zarray("<u2", "[1, 2, 2]", "[1, 2, 2]").replace("\"C\"", "\"F\"")
                                   << four << skipReason::zarrOrder;
    QTest::newRow("complex samples") << QByteArray() << zarray("<c8", "[1, 2, 2]", "[1, 2, 2]") << four
                                     << skipReason::zarrDtype;
    QTest::newRow("a filter")
        << QByteArray()
        << zarray("<u2", "[1, 2, 2]", "[1, 2, 2]").replace("\"filters\": null", "\"filters\": [{\"id\": \"delta\"}]")
        << four << skipReason::zarrCompressor;
    QTest::newRow("chunk of zero") << QByteArray() << zarray("<u2", "[1, 2, 2]", "[1, 0, 2]") << four
                                   << skipReason::zarrChunks;
    QTest::newRow("chunk past 2^31 voxels")
        << QByteArray() << zarray("|u1", "[1, 2, 2]", "[2048, 2048, 1024]") << four << skipReason::zarrChunks;
    QTest::newRow("Zarr version 3") << QByteArray() << QByteArray("{\"zarr_format\": 3}") << four
                                    << skipReason::zarrVersion;
    QTest::newRow("raw chunk too short") << QByteArray() << zarray("<u2", "[1, 2, 2]", "[1, 2, 2]")
                                         << QByteArray(7, '\1') << skipReason::zarrChunkDamaged;
    QTest::newRow("blosc chunk that is not blosc")
        << QByteArray()
        << zarray("<u2", "[1, 2, 2]", "[1, 2, 2]", ", \"compressor\": {\"id\": \"blosc\"}")
               .replace("\"compressor\": null, ", "")
        << QByteArray(40, '\x55') << skipReason::zarrChunkDamaged;
    QTest::newRow("zstd chunk of the wrong size")
        << QByteArray()
        << zarray("<u2", "[1, 2, 2]", "[1, 2, 2]", ", \"compressor\": {\"id\": \"zstd\"}")
               .replace("\"compressor\": null, ", "")
        << QByteArray("zstd") << skipReason::zarrChunkDamaged;
    QTest::newRow("levels that do not halve")
        << ms << zarray("<u2", "[4, 4, 4]", "[2, 2, 2]") << four << skipReason::zarrLevels;
}

void TestZarr::refused()
{
    QFETCH(QByteArray, attrs);
    QFETCH(QByteArray, meta);
    QFETCH(QByteArray, chunk);
    QFETCH(QString, reason);
    QTemporaryDir tmp;
    const QString dir = tmp.filePath("bad.zarr");
    if (attrs.isEmpty()) {
        writeFile(dir + "/.zarray", meta);
        writeFile(dir + "/0.0.0", chunk);
    } else {
        writeFile(dir + "/.zattrs", attrs);
        writeFile(dir + "/0/.zarray", meta);
        // Level 1 three rows high where level 0 has four: neither half nor the same.
        writeFile(dir + "/1/.zarray", QByteArray(meta).replace("[4, 4, 4]", "[4, 3, 4]"));
    }
    const auto set = loadSet({dir});
    SliceDatas::ReadGuard guard(*set);
    QVERIFY(!set->loaded);
    QCOMPARE(set->skipped.size(), 1);
    QCOMPARE(set->skipped.first().reason, reason);
}

void TestZarr::levelFitsBudget()
{
    // 64 x 64 x 64 bytes (256 KiB) and its levels: a budget of 100 KiB takes level 1
    // (32 KiB and a slab), one of 1 KiB none at all.
    QTemporaryDir tmp;
    const QString dir = tmp.filePath("b.zarr");
    ZarrPyramidWriter::Options o;
    o.chunk = o.chunkDepth = 16;
    o.type = SampleType::u8;
    const auto f = [](int x, int y, int z) { return double((x + 2 * y + 3 * z) % 256); };
    QCOMPARE(writePyramid(dir, 64, 64, 64, o, f), QString());
    {
        const auto set = loadSet({dir}, 100 << 10);
        SliceDatas::ReadGuard guard(*set);
        QVERIFY(set->loaded);
        QCOMPARE(set->volume.level, 1);
        QCOMPARE(set->volume.levels, 3);
        QCOMPARE(set->width, 32);
        QCOMPARE(set->spacing.x, 2.0);
    }
    const auto set = loadSet({dir}, 1 << 10);
    SliceDatas::ReadGuard guard(*set);
    QVERIFY(!set->loaded);
    QCOMPARE(set->skipped.first().reason, QString::fromLatin1(skipReason::noMemory));
}

void TestZarr::chunkCache()
{
    // 64^3 bytes in 16^3 chunks of 4 KiB, within a limit of three chunks.
    QTemporaryDir tmp;
    const QString dir = tmp.filePath("c.zarr");
    ZarrPyramidWriter::Options o;
    o.chunk = o.chunkDepth = 16;
    o.type = SampleType::u8;
    const auto f = [](int x, int y, int z) { return x < 16 && y < 16 && z < 16 ? 0.0 : double((x + y + z) % 200 + 1); };
    QCOMPARE(writePyramid(dir, 64, 64, 64, o, f), QString());
    ZarrImage image;
    QCOMPARE(readZarrImage(dir, image), nullptr);
    std::vector<QString> dirs;
    std::vector<ZarrArrayMeta> metas;
    for (std::size_t k = 0; k < image.levels.size(); ++k) {
        dirs.push_back(zarrLevelDir(dir, image, k));
        metas.push_back(image.levels[k].array);
    }
    ChunkCache cache(dirs, metas, 3 * 4096);
    const auto key = [](qint64 z, qint64 y, qint64 x) { return ChunkCache::Key{0, ZarrChunkIndex{z, y, x}}; };
    const ChunkCache::Chunk first = cache.get(key(0, 0, 0));
    QVERIFY(first);
    QVERIFY2(std::all_of(first->begin(), first->end(), [](unsigned char b) { return b == 0; }),
             "a chunk left out reads as the fill value");
    const ChunkCache::Chunk b = cache.get(key(1, 2, 3));
    QVERIFY(b);
    QCOMPARE(int((*b)[std::size_t((5 * 16 + 6) * 16 + 7)]), int(f(3 * 16 + 7, 2 * 16 + 6, 16 + 5)));
    QVERIFY(cache.get(key(0, 0, 1)));
    QCOMPARE(cache.bytesHeld(), qint64(3 * 4096));
    QVERIFY(cache.find(key(0, 0, 0)));  // now the most recently used
    QVERIFY(cache.get(key(3, 3, 3)));
    QVERIFY2(!cache.find(key(1, 2, 3)), "the least recently used chunk is dropped");
    QVERIFY(cache.find(key(0, 0, 0)) && cache.find(key(0, 0, 1)));
    QCOMPARE(int((*b)[0]), int(f(48, 32, 16)));  // a reader keeps what it holds

    std::atomic<int> loaded{0};
    cache.request(key(2, 2, 2), [&loaded](const ChunkCache::Key &) { ++loaded; });
    cache.request(key(2, 2, 2), [&loaded](const ChunkCache::Key &) { ++loaded; });
    cache.waitForLoads();
    QCOMPARE(loaded.load(), 1);
    QVERIFY(cache.find(key(2, 2, 2)));
    QCOMPARE(cache.bytesHeld(), qint64(3 * 4096));

    // Outside the grid, and a damaged chunk: nothing, counted once each.
    QVERIFY(!cache.get(key(4, 0, 0)));
    writeFile(dirs[0] + "/1/1/1", "damaged");
    QVERIFY(!cache.get(key(1, 1, 1)));
    QVERIFY(!cache.get(key(1, 1, 1)));
    QCOMPARE(cache.faults(), 2);
}

void TestZarr::finerLevelsFromChunks()
{
    // Within a budget that holds level 2 only, the set reads levels 0 and 1 from the
    // files chunk by chunk; drawn at level 0 with every chunk read, the picture is the
    // one of level 0 loaded whole, pixel for pixel.
    QTemporaryDir tmp;
    const QString dir = tmp.filePath("s.zarr");
    ZarrPyramidWriter::Options o;
    o.chunk = o.chunkDepth = 8;
    o.type = SampleType::u16;
    const auto f = [](int x, int y, int z) {
        const double dx = x - 18.5, dy = y - 10.5, dz = z - 9.5;
        return double((dx * dx + dy * dy + 2 * dz * dz < 150 ? 900 : 100) + (x * 7 + y * 13 + z * 5) % 31);
    };
    QCOMPARE(writePyramid(dir, 37, 21, 19, o, f), QString());
    const auto streamed = loadSet({dir}, 6 << 10);
    const auto whole = loadSet({dir});
    SliceDatas::ReadGuard g1(*streamed), g2(*whole);
    QCOMPARE(streamed->volume.level, 2);
    QVERIFY(streamed->stream);
    QVERIFY(!whole->stream);
    QCOMPARE(streamed->stream->heldLevel(), 2);
    QCOMPARE(streamed->stream->levels().size(), std::size_t(4));
    QCOMPARE(streamed->stream->levels()[0].width, qint64(37));
    QCOMPARE(streamed->stream->levels()[1].spacing.x, 2.0);
    const StreamedVolume::Chunk c = streamed->stream->get(0, 1, 1, 2);
    QVERIFY(c);
    QCOMPARE(volumeSampleValue(streamed->stream->layout(), c->data() + ((3 * 8 + 4) * 8 + 5) * 2), f(21, 12, 11));

    const auto sceneOf = [](const SliceDatas &set, FinerLevels finer) {
        Scene s;
        s.width = s.frameWidth = 72;
        s.height = s.frameHeight = 60;
        s.view = render::turned(SceneView(), Vec3{0, 1, 0}, 0.5);
        s.view.scale = 0.6;
        SceneLayer l;
        l.set = &set;
        l.minTh = 100;
        l.maxTh = 1000;
        l.showFrame = false;
        l.csNz = s.view.nz;
        l.alpha = 200;
        l.finerLevels = finer;
        l.spacing = set.spacing;
        s.layers.push_back(l);
        return s;
    };
    render::Renderer renderer;
    const QImage fromChunks = renderer.renderScene(sceneOf(*streamed, FinerLevels::read));
    QCOMPARE(renderer.lastStreamedFrame().level, 0);
    QCOMPARE(renderer.lastStreamedFrame().missing, qint64(0));
    const QImage inMemory = renderer.renderScene(sceneOf(*whole, FinerLevels::off));
    QCOMPARE(fromChunks.size(), inMemory.size());
    int differ = 0;
    for (int y = 0; y < inMemory.height(); ++y)
        for (int x = 0; x < inMemory.width(); ++x)
            differ += fromChunks.pixel(x, y) != inMemory.pixel(x, y);
    QCOMPARE(differ, 0);
    QVERIFY(renderer.renderScene(sceneOf(*streamed, FinerLevels::off)) != inMemory);
}

void TestZarr::convertCommand_data()
{
    QTest::addColumn<int>("type");  // volumewriters::Type
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QString>("dtype");
    QTest::newRow("uint16 NRRD, 16-voxel chunks")
        << int(volumewriters::Type::u16) << QStringList{"--chunk", "16"} << "u2";
    QTest::newRow("uint8 NRRD") << int(volumewriters::Type::u8) << QStringList{} << "u1";
    QTest::newRow("int16 NRRD, zstd") << int(volumewriters::Type::s16) << QStringList{"--compressor", "zstd"} << "i2";
    QTest::newRow("float32 NRRD, gzip") << int(volumewriters::Type::f32) << QStringList{"--compressor", "gzip"} << "f4";
    QTest::newRow("int32 NRRD, no compressor")
        << int(volumewriters::Type::s32) << QStringList{"--compressor", "none"} << "i4";
}

void TestZarr::convertCommand()
{
    QFETCH(int, type);
    QFETCH(QStringList, options);
    QFETCH(QString, dtype);
    const auto t = volumewriters::Type(type);
    const SampleType st = typeOfKind(dtype);
    QTemporaryDir tmp;
    volumewriters::Volume v;
    v.size[0] = 37, v.size[1] = 21, v.size[2] = 19;
    v.spacing[0] = 0.5, v.spacing[1] = 0.25, v.spacing[2] = 2.0;
    v.type = t;
    v.samples.resize(37 * 21 * 19 * volumewriters::typeBytes(t));
    for (int z = 0, i = 0; z < 19; ++z)
        for (int y = 0; y < 21; ++y)
            for (int x = 0; x < 37; ++x, ++i)
                putValue(st, reinterpret_cast<unsigned char *>(v.samples.data()) + i * volumewriters::typeBytes(t),
                         valueAt(st, x, y, z));
    const QString in = tmp.filePath("in.nrrd"), out = tmp.filePath("out.zarr");
    QVERIFY(volumewriters::write(in, v));
    QString said, errors;
    QCOMPARE(runCommand(runConvertCommand, QStringList{in, "-o", out} + options, &said, &errors), 0);
    QVERIFY2(said.contains(" " + dtype + ","), qPrintable(said));
    const auto set = loadSet({out});
    SliceDatas::ReadGuard guard(*set);
    QCOMPARE(firstDifference(*set, 37, 21, 19, [st](int x, int y, int z) { return valueAt(st, x, y, z); }), QString());
    QCOMPARE(set->spacing.x, 0.5);
    QCOMPARE(set->spacing.z, 2.0);
    QCOMPARE(set->spacingUnit, QStringLiteral("mm"));

    // Refusals: the output exists, a bad chunk edge, nothing readable.
    QCOMPARE(runCommand(runConvertCommand, {in, "-o", out}, nullptr, &errors), 2);
    QVERIFY2(errors.contains("not an empty folder"), qPrintable(errors));
    QCOMPARE(runCommand(runConvertCommand, {in, "-o", tmp.filePath("b.zarr"), "--chunk", "3"}), 2);
    writeFile(tmp.filePath("junk.png"), "not a picture");
    QCOMPARE(runCommand(runConvertCommand, {tmp.filePath("junk.png"), "-o", tmp.filePath("c.zarr")}, nullptr, &errors),
             1);
    QVERIFY2(errors.contains("no readable slice"), qPrintable(errors));
    QVERIFY(!QFile::exists(tmp.filePath("c.zarr")));
}

void TestZarr::renderInfoAndMemory()
{
    QTemporaryDir tmp;
    const QString dir = tmp.filePath("r.zarr");
    ZarrPyramidWriter::Options o;
    o.chunk = o.chunkDepth = 64;
    o.type = SampleType::u16;
    QCOMPARE(writePyramid(dir, 256, 256, 64, o, [](int x, int y, int z) { return double(x + y + z); }), QString());
    // 8 MiB at full size: a budget of 8 MiB holds level 1 (1 MiB, a slab and chunks).
    QString said;
    QCOMPARE(runCommand(runRenderCommand, {dir, "--info", "--memory", "8"}, &said), 0);
    const QJsonObject set = QJsonDocument::fromJson(said.toUtf8()).array().first().toObject();
    QCOMPARE(set.value("width").toInt(), 128);
    const QJsonArray levels = set.value("levels").toArray();
    QCOMPARE(levels.size(), 3);
    const QJsonArray size = levels.at(0).toObject().value("size").toArray();
    QCOMPARE(size.at(0).toInt(), 256);
    QCOMPARE(size.at(2).toInt(), 64);
    QVERIFY(levels.at(1).toObject().value("loaded").toBool());
    QCOMPARE(runCommand(runRenderCommand, {dir, "--info", "--memory", "0"}), 2);
}

void TestZarr::bigTiff()
{
    // A BigTIFF stack (64-bit offsets) of three 16-bit pages reads like a classic one.
    QTemporaryDir tmp;
    const QString path = tmp.filePath("big.tif");
    TIFF *tif = TIFFOpen(QFile::encodeName(path).constData(), "w8");
    QVERIFY(tif);
    for (int page = 0; page < 3; ++page) {
        TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, 5);
        TIFFSetField(tif, TIFFTAG_IMAGELENGTH, 4);
        TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 16);
        TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
        TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
        TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
        TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, 4);
        TIFFSetField(tif, TIFFTAG_SUBFILETYPE, FILETYPE_PAGE);
        for (int y = 0; y < 4; ++y) {
            quint16 row[5];
            for (int x = 0; x < 5; ++x)
                row[x] = quint16(1000 * page + 10 * y + x);
            QCOMPARE(TIFFWriteScanline(tif, row, uint32_t(y), 0), 1);
        }
        QVERIFY(TIFFWriteDirectory(tif));
    }
    TIFFClose(tif);
    const SliceFile file = readSliceFile(path);
    QVERIFY2(file.slices.size() == 3, qPrintable(file.reason));
    for (int page = 0; page < 3; ++page)
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 5; ++x)
                QCOMPARE(file.slices[std::size_t(page)]->value(x, y), double(1000 * page + 10 * y + x));
}

void TestZarr::pythonReadsOurs_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<ZarrCompressor>("compressor");
    QTest::newRow("u2 blosc-zstd") << "u2" << ZarrCompressor::blosc;
    QTest::newRow("i1 zlib") << "i1" << ZarrCompressor::zlib;
    QTest::newRow("f4 zstd") << "f4" << ZarrCompressor::zstd;
    QTest::newRow("i4 gzip") << "i4" << ZarrCompressor::gzip;
}

void TestZarr::pythonReadsOurs()
{
#if defined(__SANITIZE_THREAD__)
    // Python is started with fork; the race checker loses the order of the hand-overs
    // made before it and reports the pool's helpers afterwards. Both readers are
    // single-threaded here, so nothing is lost by leaving this to the other builds.
    QSKIP("runs Python through fork, which the race checker cannot follow");
#endif
    QFETCH(QString, kind);
    QFETCH(ZarrCompressor, compressor);
    const QString python = pythonWithZarr();
    if (python.isEmpty())
        QSKIP("no Python with zarr (tools/setup.sh installs python3-zarr)");
    QTemporaryDir tmp;
    const QString dir = tmp.filePath("ours.zarr");
    const SampleType t = typeOfKind(kind);
    ZarrPyramidWriter::Options o;
    o.chunk = o.chunkDepth = 16;
    o.type = t;
    o.compressor = compressor;
    o.spacing = Spacing{0.5, 0.25, 2.0};
    o.unit = QStringLiteral("mm");
    QCOMPARE(writePyramid(dir, 37, 21, 19, o, [t](int x, int y, int z) { return valueAt(t, x, y, z); }), QString());
    // Python reads every level and holds it against its own maximum over 2 x 2 x 2
    // blocks of the level before (edges padded with the lowest value).
    const QString script = QString::fromLatin1(pythonValues) + R"(
import sys, json, zarr
root = zarr.open_group(sys.argv[1], mode='r')
ms = json.load(open(sys.argv[1] + '/.zattrs'))['multiscales'][0]
assert [a['name'] for a in ms['axes']] == ['z', 'y', 'x'] and ms['axes'][2]['unit'] == 'millimeter'
level = values(sys.argv[2], (19, 21, 37))
for k, d in enumerate(ms['datasets']):
    a = root[d['path']]
    assert a.dtype.str[1:] == sys.argv[2], a.dtype
    assert d['coordinateTransformations'][0]['scale'] == [2.0 * 2**k, 0.25 * 2**k, 0.5 * 2**k]
    got = a[:]
    if not np.array_equal(got.astype(np.float64), level):
        bad = np.argwhere(got != level)[0]
        sys.exit('level %d differs at %s: %s, expected %s' % (k, bad, got[tuple(bad)], level[tuple(bad)]))
    p = [(0, s % 2) for s in level.shape]
    padded = np.pad(level, p, constant_values=-1e300)
    level = padded.reshape(padded.shape[0] // 2, 2, padded.shape[1] // 2, 2, padded.shape[2] // 2, 2).max(axis=(1, 3, 5))
print(len(ms['datasets']))
)";
    QProcess proc;
    proc.start(python, {"-c", script, dir, kind});
    QVERIFY(proc.waitForFinished(120000));
    QVERIFY2(proc.exitCode() == 0, proc.readAllStandardError().constData());
    QCOMPARE(proc.readAllStandardOutput().trimmed(), QByteArray("3"));
}

void TestZarr::weReadPythons_data()
{
    QTest::addColumn<QString>("dtype");
    QTest::addColumn<QString>("compressor");  // a numcodecs constructor
    QTest::addColumn<QString>("separator");
    QTest::newRow(">u2 blosc-zstd shuffle") << ">u2"
                                            << "Blosc(cname='zstd', clevel=5, shuffle=Blosc.SHUFFLE)"
                                            << ".";
    QTest::newRow("<i2 blosc-lz4 bit shuffle, nested") << "<i2"
                                                       << "Blosc(cname='lz4', shuffle=Blosc.BITSHUFFLE)"
                                                       << "/";
    QTest::newRow("|u1 zstd") << "|u1"
                              << "Zstd(level=3)"
                              << ".";
    QTest::newRow(">f4 zlib") << ">f4"
                              << "Zlib(level=1)"
                              << "/";
    QTest::newRow("<i4 gzip") << "<i4"
                              << "GZip(level=9)"
                              << ".";
    QTest::newRow(">u4 none") << ">u4"
                              << "None"
                              << ".";
}

void TestZarr::weReadPythons()
{
#if defined(__SANITIZE_THREAD__)
    // Python is started with fork; the race checker loses the order of the hand-overs
    // made before it and reports the pool's helpers afterwards. Both readers are
    // single-threaded here, so nothing is lost by leaving this to the other builds.
    QSKIP("runs Python through fork, which the race checker cannot follow");
#endif
    QFETCH(QString, dtype);
    QFETCH(QString, compressor);
    QFETCH(QString, separator);
    const QString python = pythonWithZarr();
    if (python.isEmpty())
        QSKIP("no Python with zarr (tools/setup.sh installs python3-zarr)");
    QTemporaryDir tmp;
    const QString dir = tmp.filePath("theirs.zarr");
    const QString script = QString::fromLatin1(pythonValues) + R"(
import sys, json, zarr
from numcodecs import Blosc, Zstd, Zlib, GZip
dtype, compressor, sep = sys.argv[2], eval(sys.argv[3]), sys.argv[4]
store = zarr.DirectoryStore(sys.argv[1], dimension_separator=sep)
root = zarr.group(store=store)
v = values(dtype[1:], (19, 21, 37))
for k in range(2):
    a = root.create_dataset(str(k), shape=v.shape, chunks=(16, 16, 16), dtype=dtype, compressor=compressor,
                            fill_value=0, write_empty_chunks=False)
    a[:] = v
    v = v[::2, ::2, ::2]
axes = [{'name': n, 'type': 'space', 'unit': 'micrometer'} for n in 'zyx']
sets = [{'path': str(k), 'coordinateTransformations': [{'type': 'scale', 'scale': [2.0 * 2**k, 0.5 * 2**k, 0.25 * 2**k]}]} for k in range(2)]
root.attrs['multiscales'] = [{'version': '0.4', 'axes': axes, 'datasets': sets}]
)";
    QProcess proc;
    proc.start(python, {"-c", script, dir, dtype, compressor, separator});
    QVERIFY(proc.waitForFinished(120000));
    QVERIFY2(proc.exitCode() == 0, proc.readAllStandardError().constData());
    QVERIFY2(!QFile::exists(dir + "/0/0" + separator + "0" + separator + "0"), "Python left out the chunk of zeros");
    const SampleType t = typeOfKind(dtype.mid(1));
    const auto set = loadSet({dir});
    SliceDatas::ReadGuard guard(*set);
    QVERIFY2(set->loaded, set->skipped.isEmpty() ? "" : qPrintable(set->skipped.first().reason));
    QCOMPARE(firstDifference(*set, 37, 21, 19, [t](int x, int y, int z) { return valueAt(t, x, y, z); }), QString());
    QCOMPARE(set->spacingUnit, QStringLiteral("mm"));
    QCOMPARE(set->spacing.x, 0.25e-3);
    QCOMPARE(set->spacing.y, 0.5e-3);
    QCOMPARE(set->spacing.z, 2.0e-3);
    QCOMPARE(set->volume.levels, 2);
}

QTEST_GUILESS_MAIN(TestZarr)

#include "tst_zarr.moc"
