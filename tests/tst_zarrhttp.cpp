// OME-Zarr images by address: an image served over HTTP reads as the same set as its
// folder, streamed chunks included; a chunk the server does not have reads as the fill
// value; metadata it does not have, garbage, an oversized answer, a server that never
// answers and one that keeps failing each end with their one-line reason; a server
// that fails a few times is tried again; and a cache waiting on a silent server lets
// go at once when it goes.

#include <QDir>
#include <QFile>
#include <QHash>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <atomic>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>

#include "data/chunkcache.h"
#include "data/slicedatas.h"
#include "data/streamedvolume.h"
#include "data/zarrhttp.h"
#include "data/zarrvolume.h"
#include "data/zarrwriter.h"
#include "zarrserver.h"

namespace {

// The image's values: varied, and 0 (the fill value, so the writer leaves the chunk
// out) in the first 16 x 16 x 16 block.
double valueAt(int x, int y, int z)
{
    if (x < 16 && y < 16 && z < 16)
        return 0.0;
    return double((x * 7 + y * 13 + z * 29) % 251 + 1);
}

QString writeImage(const QString &dir)
{
    ZarrPyramidWriter::Options o;
    o.chunk = o.chunkDepth = 16;
    o.type = SampleType::u16;
    o.compressor = ZarrCompressor::zstd;
    o.spacing = Spacing{0.5, 0.5, 2.0};
    o.unit = QStringLiteral("mm");
    ZarrPyramidWriter writer;
    QString why = writer.start(dir, 64, 64, o);
    std::vector<quint16> slice(64 * 64);
    for (int z = 0; z < 64 && why.isEmpty(); ++z) {
        for (int y = 0; y < 64; ++y)
            for (int x = 0; x < 64; ++x)
                slice[std::size_t(y * 64 + x)] = quint16(valueAt(x, y, z));
        why = writer.addSlice(reinterpret_cast<const unsigned char *>(slice.data()));
    }
    return why.isEmpty() ? writer.finish() : why;
}

std::unique_ptr<SliceDatas> loadSet(const QString &name, qint64 budget = 0)
{
    auto set = std::make_unique<SliceDatas>();
    set->setLoadWorkers(1);
    set->setMemoryBudget(budget);
    set->filesSelected(QStringList{name});
    return set;
}

QString reasonOf(const SliceDatas &set)
{
    SliceDatas::ReadGuard guard(set);
    return set.skipped.isEmpty() ? QString() : set.skipped.first().reason;
}

// The first voxel where two sets differ, or empty.
QString firstDifference(const SliceDatas &a, const SliceDatas &b)
{
    SliceDatas::ReadGuard ga(a), gb(b);
    if (!a.loaded || !b.loaded || a.width != b.width || a.height != b.height || a.slices.size() != b.slices.size())
        return QStringLiteral("the sets differ in size or one is empty");
    for (std::size_t z = 0; z < a.slices.size(); ++z)
        for (int y = 0; y < a.height; ++y)
            for (int x = 0; x < a.width; ++x)
                if (a.slices[z]->value(x, y) != b.slices[z]->value(x, y))
                    return QStringLiteral("voxel %1,%2,%3").arg(x).arg(y).arg(z);
    return QString();
}

// Quick settings for the tests: short pauses between tries, and a short stall limit.
struct QuickNetwork {
    zarrhttp::Settings before = zarrhttp::settings();
    explicit QuickNetwork(int attempts = 4, int timeoutMs = 30000)
    {
        zarrhttp::Settings s = before;
        s.attempts = attempts;
        s.timeoutMs = timeoutMs;
        s.firstPauseMs = 10;
        zarrhttp::setSettings(s);
    }
    ~QuickNetwork() { zarrhttp::setSettings(before); }
};

}  // namespace

class TestZarrHttp : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void sameAsFolder_data();
    void sameAsFolder();
    void refused_data();
    void refused();
    void retriesThenReads();
    void cacheLetsGoOfSilentServer();
    void names_data();
    void names();

private:
    QTemporaryDir tmp_;
    QString image_;
};

void TestZarrHttp::initTestCase()
{
    QVERIFY(tmp_.isValid());
    image_ = tmp_.filePath("served/image.zarr");
    QVERIFY(QDir().mkpath(tmp_.filePath("served")));
    QCOMPARE(writeImage(image_), QString());
    // A chunk the server lacks that is not all fill: it reads as fill all the same.
    QVERIFY(QFile::remove(image_ + "/0/1/1/1"));
    QVERIFY(!QFile::exists(image_ + "/0/0/0/0"));
    // A chunk that is not what its compressor makes.
    const QString damaged = tmp_.filePath("served/damaged.zarr");
    QCOMPARE(writeImage(damaged), QString());
    QFile chunk(damaged + "/0/2/2/2");
    QVERIFY(chunk.open(QIODevice::WriteOnly));
    chunk.write("not a zstd frame");
    chunk.close();
    // Metadata that is not JSON.
    QVERIFY(QDir().mkpath(tmp_.filePath("served/garbage.zarr")));
    QFile g(tmp_.filePath("served/garbage.zarr/.zattrs"));
    QVERIFY(g.open(QIODevice::WriteOnly));
    g.write("{\"multiscales\": [");
}

void TestZarrHttp::sameAsFolder_data()
{
    QTest::addColumn<bool>("python");
    QTest::addColumn<qint64>("budget");
    QTest::newRow("python's server, whole") << true << qint64(0);
    QTest::newRow("python's server, streamed") << true << qint64(40 << 10);
    QTest::newRow("own server with ranges, whole") << false << qint64(0);
    QTest::newRow("own server with ranges, streamed") << false << qint64(40 << 10);
}

void TestZarrHttp::sameAsFolder()
{
    QFETCH(bool, python);
    QFETCH(qint64, budget);
    QuickNetwork quick;
    std::unique_ptr<PythonServer> py;
    std::unique_ptr<TestServer> own;
    QString address;
    if (python) {
        py = std::make_unique<PythonServer>(tmp_.filePath("served"));
        if (!py->up())
            QSKIP("no /usr/bin/python3 to serve files (or the race checker, which cannot follow its fork)");
        address = py->address("image.zarr");
    } else {
        own = std::make_unique<TestServer>(tmp_.filePath("served"), TestServer::Mode::files);
        address = own->address("image.zarr/");
    }
    const auto byAddress = loadSet(address, budget);
    const auto byFolder = loadSet(image_, budget);
    QCOMPARE(reasonOf(*byAddress), QString());
    QCOMPARE(firstDifference(*byAddress, *byFolder), QString());
    SliceDatas::ReadGuard ga(*byAddress), gf(*byFolder);
    QCOMPARE(byAddress->spacing.z, byFolder->spacing.z);
    QCOMPARE(byAddress->volume.levels, 3);
    if (budget == 0) {
        QVERIFY(!byAddress->stream);
        QCOMPARE(byAddress->slices[20]->value(20, 20), 0.0);  // the chunk the server lacks
        QCOMPARE(byAddress->slices[40]->value(20, 20), valueAt(20, 20, 40));
        return;
    }
    // Streamed: the finest level's chunks come by address as they come from the folder.
    QVERIFY(byAddress->stream && byFolder->stream);
    QCOMPARE(byAddress->stream->heldLevel(), byFolder->stream->heldLevel());
    QVERIFY(byAddress->stream->heldLevel() > 0);
    for (const ZarrChunkIndex at : {ZarrChunkIndex{0, 0, 0}, ZarrChunkIndex{1, 1, 1}, ZarrChunkIndex{3, 2, 1}}) {
        const StreamedVolume::Chunk a = byAddress->stream->get(0, at.z, at.y, at.x);
        const StreamedVolume::Chunk f = byFolder->stream->get(0, at.z, at.y, at.x);
        QVERIFY(a && f);
        QVERIFY(*a == *f);
    }
    std::atomic<int> arrived{0};
    byAddress->stream->request(0, 2, 3, 0, [&arrived] { ++arrived; });
    QTRY_VERIFY(byAddress->stream->find(0, 2, 3, 0));
    QCOMPARE(*byAddress->stream->find(0, 2, 3, 0), *byFolder->stream->get(0, 2, 3, 0));
}

void TestZarrHttp::refused_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("failFirst");
    QTest::addColumn<QString>("reason");
    using M = TestServer::Mode;
    QTest::newRow("no metadata (404)") << int(M::notFound) << "image.zarr" << 0 << skipReason::zarrNoMetadata;
    QTest::newRow("garbage metadata") << int(M::files) << "garbage.zarr" << 0 << skipReason::zarrNotJson;
    QTest::newRow("a damaged chunk") << int(M::files) << "damaged.zarr" << 0 << skipReason::zarrChunkDamaged;
    QTest::newRow("never answers") << int(M::silent) << "image.zarr" << 0 << skipReason::httpTimeout;
    QTest::newRow("huge Content-Length") << int(M::hugeLength) << "image.zarr" << 0 << skipReason::httpTooLarge;
    QTest::newRow("fails more often than tried")
        << int(M::files) << "image.zarr" << 1000 << skipReason::httpServerError;
    QTest::newRow("nothing listening") << -1 << "image.zarr" << 0 << skipReason::httpUnreachable;
}

void TestZarrHttp::refused()
{
    QFETCH(int, mode);
    QFETCH(QString, path);
    QFETCH(int, failFirst);
    QFETCH(QString, reason);
    QuickNetwork quick(3, 300);
    QString address;
    std::unique_ptr<TestServer> server;
    if (mode >= 0) {
        server = std::make_unique<TestServer>(tmp_.filePath("served"), TestServer::Mode(mode), failFirst);
        address = server->address(path);
    } else {
        QTcpServer closed;  // a port nobody listens on once it is closed again
        QVERIFY(closed.listen(QHostAddress::LocalHost, 0));
        address = QStringLiteral("http://127.0.0.1:%1/%2").arg(closed.serverPort()).arg(path);
    }
    const auto set = loadSet(address);
    SliceDatas::ReadGuard guard(*set);
    QVERIFY(!set->loaded);
    QCOMPARE(set->skipped.size(), 1);
    QCOMPARE(set->skipped.first().reason, reason);
    if (failFirst > 0)
        QCOMPARE(server->requests(), 3);  // every try, and no more
}

void TestZarrHttp::retriesThenReads()
{
    // The first three requests fail; four tries are enough for each.
    QuickNetwork quick(4);
    TestServer server(tmp_.filePath("served"), TestServer::Mode::files, 3);
    const auto set = loadSet(server.address("image.zarr"));
    const auto folder = loadSet(image_);
    QCOMPARE(reasonOf(*set), QString());
    QCOMPARE(firstDifference(*set, *folder), QString());
    QVERIFY(server.requests() > 3);
}

void TestZarrHttp::cacheLetsGoOfSilentServer()
{
    // Loads waiting on a server that never answers (within a long stall limit) end
    // as soon as the cache goes, rather than when the server answers.
    QuickNetwork quick(4, 600000);
    TestServer server(tmp_.filePath("served"), TestServer::Mode::silent);
    ZarrImage image;
    QCOMPARE(readZarrImage(image_, image), nullptr);
    auto cache = std::make_unique<ChunkCache>(openZarrStore(server.address("image.zarr")),
                                              std::vector<QString>{QStringLiteral("0")},
                                              std::vector<ZarrArrayMeta>{image.levels[0].array}, qint64(1) << 20);
    for (qint64 z = 0; z < 4; ++z)
        cache->request(ChunkCache::Key{0, ZarrChunkIndex{z, 0, 0}});
    QTRY_VERIFY(server.requests() > 0);
    cache.reset();
}

void TestZarrHttp::names_data()
{
    QTest::addColumn<QString>("location");
    QTest::addColumn<QString>("relative");
    QTest::addColumn<QString>("joined");
    QTest::addColumn<QString>("name");
    QTest::newRow("address") << "https://example.org/data/image.zarr"
                             << "0"
                             << "https://example.org/data/image.zarr/0"
                             << "image.zarr";
    QTest::newRow("address with a slash") << "http://example.org:8080/a%20b.zarr/"
                                          << "s1"
                                          << "http://example.org:8080/a%20b.zarr/s1"
                                          << "a b.zarr";
    QTest::newRow("folder") << "/tmp/x/image.zarr"
                            << "."
                            << "/tmp/x/image.zarr"
                            << "image.zarr";
}

void TestZarrHttp::names()
{
    QFETCH(QString, location);
    QFETCH(QString, relative);
    QFETCH(QString, joined);
    QFETCH(QString, name);
    QCOMPARE(zarrLocation(location, relative), joined);
    QCOMPARE(zarrLocationName(location), name);
    QCOMPARE(isZarrAddress(location), location.startsWith(QLatin1String("http")));
}

QTEST_GUILESS_MAIN(TestZarrHttp)

#include "tst_zarrhttp.moc"
