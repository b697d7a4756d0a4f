#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QSemaphore>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <functional>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "data/slicedata.h"
#include "data/slicedatas.h"
#include "loaderrig.h"
#include "slicefixtures.h"
#include "tools/pngbytes.h"
#include "ui/ctview.h"
#include "ui/slicesctrl.h"

// Files that go wrong under the loader: unreadable, not a file, gone, empty, cut
// short, damaged, or declaring a picture far too large to hold; and panels closed
// while their set loads. Each bad file is skipped without a word, the files after
// it still load, and (under LeakSanitizer, test.sh --sanitize) nothing leaks.

namespace {

bool writeBytes(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

QByteArray readBytes(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// A well-formed PNG that declares width x height 8-bit grey pixels but carries
// only a few hundred bytes of them: its header asks for the whole picture at once.
QByteArray declaredPng(quint32 width, quint32 height)
{
    return pngbytes::declared(width, height,
                              qCompress(QByteArray(4096, '\0')).mid(4));  // zlib stream without Qt's length
}

const QByteArray rangeGrid = "#MOLK-VEDez\n# Range_X0 : 0\n# Range_Y0 : 0\n# Range_X1 : 31\n# Range_Y1 : 31\n"
                             "0 0 1.5\n3 2 -0.25\n31 31 7\n";
const QByteArray xyvGrid = "## 240301\n# X-NUM 33\n# Y-NUM 33\n10,20,0.5\n11 20 0.75\n41 51 2.0\n";

}  // namespace

class TestLoaderFaults : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void faultyFileSkipped_data();
    void faultyFileSkipped();
    void gridCutInLaterRecord_data();
    void gridCutInLaterRecord();
    void fileChangesBeforeItsTurn_data();
    void fileChangesBeforeItsTurn();
    void fileWithoutReadPermission();
    void namedPipeSkipped();
    void endlessDeviceSkipped();
    void hugeDeclaredPictureRefusedByAllocationLimit_data();
    void hugeDeclaredPictureRefusedByAllocationLimit();
    void iconFileLengthsChecked_data();
    void iconFileLengthsChecked();
    void closePanelWhileLoading();
    void closePanelWithSelectionQueued();
    void closeWindowWhileLoading();

private:
    QTemporaryDir dir;
    QString goodA;
    QString goodB;
    QByteArray pngBytes;
};

void TestLoaderFaults::initTestCase()
{
    QVERIFY(dir.isValid());
    goodA = dir.filePath(QStringLiteral("goodA.png"));
    goodB = dir.filePath(QStringLiteral("goodB.png"));
    QVERIFY(fixtures::writeRampPng(goodA, 32, 32, 10, 200));
    QVERIFY(fixtures::writeRampPng(goodB, 32, 32, 0, 90));
    pngBytes = readBytes(goodA);
    QVERIFY(pngBytes.size() > 100);
}

// The faulty file stands first, in the middle and last of one selection; only the
// two good pictures are accepted, in order, and the set holds just them.
void TestLoaderFaults::faultyFileSkipped_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("directory chosen as a file") << "directory";
    QTest::newRow("missing file") << "missing";
    QTest::newRow("empty file") << "empty";
    QTest::newRow("png cut after its signature") << "png cut 8";
    QTest::newRow("png cut inside the header chunk") << "png cut 20";
    QTest::newRow("png cut inside the data") << "png cut half";
    QTest::newRow("png with damaged data") << "png damaged";
    QTest::newRow("png header of 100000 x 100000 pixels") << "png huge";
    QTest::newRow("png header of 2147483647 x 1 pixels") << "png wide";
    QTest::newRow("range grid cut in its header") << "range cut header";
    QTest::newRow("range grid cut in its first record") << "range cut first record";
    QTest::newRow("xyv grid cut in its header") << "xyv cut header";
    QTest::newRow("xyv grid cut in its first record") << "xyv cut first record";
    QTest::newRow("file the system refuses to read") << "refused";
}

void TestLoaderFaults::faultyFileSkipped()
{
    QFETCH(QString, kind);
    QTemporaryDir faults;
    QVERIFY(faults.isValid());
    QString bad = faults.filePath(QStringLiteral("bad.dat"));

    if (kind == QLatin1String("directory")) {
        QVERIFY(QDir().mkpath(bad));
    } else if (kind == QLatin1String("missing")) {
        // nothing is made
    } else if (kind == QLatin1String("empty")) {
        QVERIFY(writeBytes(bad, QByteArray()));
    } else if (kind.startsWith(QLatin1String("png cut "))) {
        const QString at = kind.mid(8);
        const qsizetype n = at == QLatin1String("half") ? pngBytes.size() / 2 : at.toInt();
        bad = faults.filePath(QStringLiteral("bad.png"));
        QVERIFY(writeBytes(bad, pngBytes.left(n)));
    } else if (kind == QLatin1String("png damaged")) {
        QByteArray damaged = pngBytes;
        for (qsizetype i = 50; i < damaged.size() - 20; i += 7)
            damaged[i] = char(damaged[i] ^ 0xa5);
        bad = faults.filePath(QStringLiteral("bad.png"));
        QVERIFY(writeBytes(bad, damaged));
    } else if (kind == QLatin1String("png huge")) {
        bad = faults.filePath(QStringLiteral("bad.png"));
        QVERIFY(writeBytes(bad, declaredPng(100000, 100000)));
    } else if (kind == QLatin1String("png wide")) {
        bad = faults.filePath(QStringLiteral("bad.png"));
        QVERIFY(writeBytes(bad, declaredPng(0x7fffffff, 1)));
    } else if (kind == QLatin1String("range cut header")) {
        QVERIFY(writeBytes(bad, rangeGrid.left(rangeGrid.indexOf("Range_Y1") + 5)));
    } else if (kind == QLatin1String("range cut first record")) {
        // "0 0" of "0 0 1.5": the grid is made but holds no value, so its range is empty
        // and the loader drops it.
        QVERIFY(writeBytes(bad, rangeGrid.left(rangeGrid.indexOf("0 0 1.5") + 3)));
    } else if (kind == QLatin1String("xyv cut header")) {
        QVERIFY(writeBytes(bad, xyvGrid.left(xyvGrid.indexOf("Y-NUM") + 3)));
    } else if (kind == QLatin1String("xyv cut first record")) {
        QVERIFY(writeBytes(bad, xyvGrid.left(xyvGrid.indexOf("10,20,0.5") + 6)));
    } else if (kind == QLatin1String("refused")) {
        // Opens, but every read fails with an input/output error (as root as well).
        bad = QStringLiteral("/proc/self/mem");
        if (!QFile::exists(bad))
            QSKIP("no /proc/self/mem here");
    } else {
        QFAIL("unknown kind");
    }

    LoaderRig rig;
    QVERIFY(rig.load({bad, goodA, bad, goodB, bad}));
    QCOMPARE(rig.rec.events, expectedEvents({goodA, goodB}));
    {
        SliceDatas::ReadGuard guard(rig.set);
        QCOMPARE(rig.set.slices.size(), std::size_t(2));
        QVERIFY(rig.set.loaded);
        QCOMPARE(rig.set.width, 32);
        QCOMPARE(rig.set.height, 32);
        QCOMPARE(rig.set.minV, 0.0);
        QCOMPARE(rig.set.maxV, 200.0);
    }

    // Alone, the same file leaves a failed set.
    QVERIFY(rig.load({bad}));
    QCOMPARE(rig.rec.events, expectedEvents({}));
    SliceDatas::ReadGuard guard(rig.set);
    QVERIFY(!rig.set.loaded);
    QVERIFY(rig.set.slices.empty());
}

// A grid cut in a record after complete ones is still a grid: it keeps the complete
// records, the cut record stores only what its items say, and the loader takes it
// between the pictures of its size.
void TestLoaderFaults::gridCutInLaterRecord_data()
{
    QTest::addColumn<int>("cutAt");
    QTest::addColumn<double>("lastValue");
    const int record = int(rangeGrid.indexOf("31 31 7"));
    QTest::newRow("after the x") << record + 2 << 0.0;
    QTest::newRow("inside the y") << record + 4 << 0.0;
    QTest::newRow("after the y and its blank") << record + 6 << 0.0;
    QTest::newRow("before the line end") << int(rangeGrid.size()) - 1 << 7.0;
}

void TestLoaderFaults::gridCutInLaterRecord()
{
    QFETCH(int, cutAt);
    QFETCH(double, lastValue);
    QTemporaryDir work;
    QVERIFY(work.isValid());
    const QString cut = work.filePath(QStringLiteral("cut.dat"));
    QVERIFY(writeBytes(cut, rangeGrid.left(cutAt)));

    LoaderRig rig;
    QVERIFY(rig.load({goodA, cut, goodB}));
    QCOMPARE(rig.rec.events, expectedEvents({goodA, cut, goodB}));
    SliceDatas::ReadGuard guard(rig.set);
    QCOMPARE(rig.set.slices.size(), std::size_t(3));
    const SliceData *grid = rig.set.slices[1];
    QVERIFY(!grid->isImage);
    QCOMPARE(grid->value(0, 0), 1.5);
    QCOMPARE(grid->value(3, 2), -0.25);
    QCOMPARE(grid->value(31, 31), lastValue);
    QCOMPARE(grid->minV, -0.25);
    QCOMPARE(grid->maxV, qMax(1.5, lastValue));
}

// The file is chosen while it is a good picture and changes before the loader gets
// to it: gone, turned into a directory, emptied or cut short. The selection waits
// behind a parked loader thread, so the change always comes first.
void TestLoaderFaults::fileChangesBeforeItsTurn_data()
{
    QTest::addColumn<QString>("change");
    QTest::newRow("deleted") << "deleted";
    QTest::newRow("replaced by a directory") << "directory";
    QTest::newRow("emptied") << "emptied";
    QTest::newRow("cut in half") << "cut";
}

void TestLoaderFaults::fileChangesBeforeItsTurn()
{
    QFETCH(QString, change);
    QTemporaryDir work;
    QVERIFY(work.isValid());
    const QString victim = work.filePath(QStringLiteral("victim.png"));
    QVERIFY(fixtures::writeRampPng(victim, 32, 32, 5, 250));

    LoaderRig rig;
    const bool finished = rig.load({goodA, victim, goodB}, [&] {
        if (change == QLatin1String("deleted")) {
            QVERIFY(QFile::remove(victim));
        } else if (change == QLatin1String("directory")) {
            QVERIFY(QFile::remove(victim));
            QVERIFY(QDir().mkpath(victim));
        } else if (change == QLatin1String("emptied")) {
            QVERIFY(writeBytes(victim, QByteArray()));
        } else {
            const QByteArray bytes = readBytes(victim);
            QVERIFY(writeBytes(victim, bytes.left(bytes.size() / 2)));
        }
    });
    QVERIFY(finished);
    QCOMPARE(rig.rec.events, expectedEvents({goodA, goodB}));
    SliceDatas::ReadGuard guard(rig.set);
    QCOMPARE(rig.set.slices.size(), std::size_t(2));
    QCOMPARE(rig.set.maxV, 200.0);
}

void TestLoaderFaults::fileWithoutReadPermission()
{
    if (geteuid() == 0)
        QSKIP("running as root: permission bits do not stop reading (see the refused-file row)");
    QTemporaryDir work;
    QVERIFY(work.isValid());
    const QString locked = work.filePath(QStringLiteral("locked.png"));
    QVERIFY(fixtures::writeRampPng(locked, 32, 32, 5, 250));
    QVERIFY(QFile::setPermissions(locked, QFileDevice::Permissions()));

    LoaderRig rig;
    QVERIFY(rig.load({locked, goodA, locked, goodB}));
    QCOMPARE(rig.rec.events, expectedEvents({goodA, goodB}));
    QVERIFY(QFile::setPermissions(locked, QFileDevice::ReadOwner | QFileDevice::WriteOwner));
}

// A named pipe chosen as a file: opening it for reading would wait for a writer for
// ever, holding the loader thread and with it the closing of the window. The loader
// reads regular files only. Should it hang all the same, a writer is opened and closed
// so that the test fails instead of hanging.
void TestLoaderFaults::namedPipeSkipped()
{
    QTemporaryDir work;
    QVERIFY(work.isValid());
    const QString pipe = work.filePath(QStringLiteral("pipe.png"));
    QVERIFY(mkfifo(QFile::encodeName(pipe).constData(), 0600) == 0);

    LoaderRig rig;
    bool finished = rig.load({goodA, pipe, goodB}, {}, 20000);
    for (int i = 0; !finished && i < 100; ++i) {
        const int fd = ::open(QFile::encodeName(pipe).constData(), O_WRONLY | O_NONBLOCK);
        if (fd >= 0)
            ::close(fd);
        finished = QTest::qWaitFor([&rig] { return rig.rec.events.endsWith(QStringLiteral("finished")); }, 100);
        QVERIFY2(!finished, "the loader waited on the pipe until a writer came");
    }
    QVERIFY(finished);
    QCOMPARE(rig.rec.events, expectedEvents({goodA, goodB}));
}

// A character device that never ends is no slice; it is skipped at once rather than
// read up to the readers' line limits.
void TestLoaderFaults::endlessDeviceSkipped()
{
    const QString zero = QStringLiteral("/dev/zero");
    if (!QFileInfo(zero).exists())
        QSKIP("no /dev/zero here");
    SliceData slice;
    QVERIFY(!slice.load(zero));
    LoaderRig rig;
    QVERIFY(rig.load({zero, goodA, zero, goodB}));
    QCOMPARE(rig.rec.events, expectedEvents({goodA, goodB}));
}

// The picture reader refuses a picture whose header asks for more than its
// allocation limit before it allocates anything; the loader relies on that limit
// (Qt's default, 128 MB) and must not lift it.
void TestLoaderFaults::hugeDeclaredPictureRefusedByAllocationLimit_data()
{
    QTest::addColumn<quint32>("width");
    QTest::addColumn<quint32>("height");
    QTest::newRow("100000 x 100000") << quint32(100000) << quint32(100000);
    QTest::newRow("20000 x 20000") << quint32(20000) << quint32(20000);
    QTest::newRow("just past the limit") << quint32(8192) << quint32(4097);
}

void TestLoaderFaults::hugeDeclaredPictureRefusedByAllocationLimit()
{
    QFETCH(quint32, width);
    QFETCH(quint32, height);
    const int limitMb = QImageReader::allocationLimit();
    QVERIFY2(limitMb > 0 && limitMb <= 1024, qPrintable(QStringLiteral("limit %1 MB").arg(limitMb)));

    QTemporaryDir work;
    QVERIFY(work.isValid());
    const QString path = work.filePath(QStringLiteral("huge.png"));
    QVERIFY(writeBytes(path, declaredPng(width, height)));

    QImageReader reader(path);
    QCOMPARE(reader.size(), QSize(int(width), int(height)));

    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("exceeds the current allocation limit")));
    SliceData slice;
    QVERIFY(!slice.load(path));
    QVERIFY(slice.image.isNull());
    QCOMPARE(slice.width, 0);
    QCOMPARE(slice.height, 0);
}

namespace {

// An Apple icon file: a table of contents listing one PNG block, then the block.
// Lengths count their own 8-byte headers.
QByteArray iconFile(const QByteArray &png, quint32 tocListed, quint32 blockLength, quint32 total)
{
    QByteArray toc("icp4", 4);
    pngbytes::appendBe32(toc, tocListed);
    QByteArray out("icns", 4);
    pngbytes::appendBe32(out, total);
    out += QByteArray("TOC ", 4);
    pngbytes::appendBe32(out, quint32(8 + toc.size()));
    out += toc;
    out += QByteArray("icp4", 4);
    pngbytes::appendBe32(out, blockLength);
    out += png;
    return out;
}

}  // namespace

// Qt's icon reader allocates whatever length the file declares before reading (a
// table entry of length 0 asks for 8 GiB): such a file is not decoded, while a
// well-formed one still is.
void TestLoaderFaults::iconFileLengthsChecked_data()
{
    QTest::addColumn<int>("fault");
    QTest::addColumn<bool>("loads");
    QTest::newRow("well formed") << 0 << true;
    QTest::newRow("table entry of length 0") << 1 << false;
    QTest::newRow("table entry past the file") << 2 << false;
    QTest::newRow("block past the file") << 3 << false;
    QTest::newRow("block shorter than its header") << 4 << false;
    QTest::newRow("total past the file") << 5 << false;
}

void TestLoaderFaults::iconFileLengthsChecked()
{
    QFETCH(int, fault);
    QFETCH(bool, loads);
    if (!QImageReader::supportedImageFormats().contains("icns"))
        QSKIP("no reader for icon files here");
    QByteArray png;
    QBuffer buffer(&png);
    QVERIFY(buffer.open(QIODevice::WriteOnly));
    QImage ramp(16, 16, QImage::Format_Grayscale8);
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x)
            ramp.scanLine(y)[x] = uchar(10 + x * 12 + y);
    QVERIFY(ramp.save(&buffer, "PNG"));

    const quint32 block = quint32(8 + png.size());
    const quint32 total = quint32(8 + 16 + block);
    const quint32 listed[] = {block, 0, 0x30201020u, block, block, block};
    const quint32 lengths[] = {block, block, block, block + 100, 4, block};
    const quint32 totals[] = {total, total, total, total, total, 0x7ffffff0u};
    QTemporaryDir work;
    QVERIFY(work.isValid());
    const QString path = work.filePath(QStringLiteral("slice.icns"));
    QVERIFY(writeBytes(path, iconFile(png, listed[fault], lengths[fault], totals[fault])));

    SliceData slice;
    QCOMPARE(slice.load(path), loads);
    if (loads) {
        QVERIFY(slice.isImage);
        QCOMPARE(slice.width, 16);
        QCOMPARE(slice.minV, 10.0);
        QCOMPARE(slice.maxV, 10.0 + 15 * 12 + 15);
    }
}

// A panel closed in the middle of a long load: its destructor returns once the
// loader thread has ended, and the set, its slices and the signals still queued to
// the panel go with it.
void TestLoaderFaults::closePanelWhileLoading()
{
    QStringList files;
    for (int i = 0; i < 60; ++i)
        files << (i % 2 ? goodA : goodB);

    auto *panel = new SlicesCtrl(dir.path());
    QAtomicInt accepted = 0;
    QObject ctx;
    connect(&panel->sliceDatas, &SliceDatas::loadedNewFile, &ctx, [&accepted] { accepted.ref(); });
    QMetaObject::invokeMethod(&panel->sliceDatas, "filesSelected", Qt::QueuedConnection, Q_ARG(QStringList, files));
    QTRY_VERIFY_WITH_TIMEOUT(accepted.loadAcquire() > 0, 60000);
    delete panel;
    QVERIFY(QApplication::topLevelWidgets().isEmpty());
    QCoreApplication::processEvents();  // nothing queued for the panel may arrive now
}

// Two selections queued behind a parked loader thread: the panel goes before
// either starts; their file lists are freed with the thread's queue.
void TestLoaderFaults::closePanelWithSelectionQueued()
{
    auto *panel = new SlicesCtrl(dir.path());
    ThreadParker parker;
    parker.parkIn(&panel->loaderThread);
    QMetaObject::invokeMethod(&panel->sliceDatas, "filesSelected", Qt::QueuedConnection,
                              Q_ARG(QStringList, QStringList({goodA, goodB})));
    QMetaObject::invokeMethod(&panel->sliceDatas, "filesSelected", Qt::QueuedConnection,
                              Q_ARG(QStringList, QStringList({goodB})));
    // Let the loader go as the panel's destructor asks its thread to stop.
    std::thread releaser([&parker] {
        QThread::msleep(20);
        parker.release();
    });
    delete panel;
    releaser.join();
    QCoreApplication::processEvents();
}

// The main window closed while each of its panels loads.
void TestLoaderFaults::closeWindowWhileLoading()
{
    auto *window = new CtView(dir.path(), nullptr);
    window->addSliceSet();
    QVERIFY(window->sCtrls.size() >= 2);
    QStringList files;
    for (int i = 0; i < 40; ++i)
        files << (i % 2 ? goodA : goodB);
    QAtomicInt accepted = 0;
    QObject ctx;
    for (SlicesCtrl *panel : window->sCtrls) {
        connect(&panel->sliceDatas, &SliceDatas::loadedNewFile, &ctx, [&accepted] { accepted.ref(); });
        QMetaObject::invokeMethod(&panel->sliceDatas, "filesSelected", Qt::QueuedConnection, Q_ARG(QStringList, files));
    }
    QTRY_VERIFY_WITH_TIMEOUT(accepted.loadAcquire() > 0, 60000);
    QSignalSpy finishing(window, &CtView::finishing);
    window->close();
    QCOMPARE(finishing.count(), 1);
    delete window;
    QCoreApplication::processEvents();
}

QTEST_MAIN(TestLoaderFaults)
#include "tst_loaderfaults.moc"
