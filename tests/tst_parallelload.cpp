#include <QDir>
#include <QFile>
#include <QImage>
#include <QSemaphore>
#include <QSet>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QThreadPool>

#include <atomic>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <random>

#include <sys/inotify.h>
#include <unistd.h>

#include "data/slicedata.h"
#include "data/slicedatas.h"
#include "data/workpool.h"
#include "loaderrig.h"

// The loader with several decoding workers against the loader with one: the same
// signals in the same order from the loader's own thread, the same set down to every
// value and the histogram, for selections with failures, flat and odd-sized files;
// interruption; the bound on how far the workers read ahead; and loads while the
// pools' threads are all held by other work.

namespace {

QImage colourPicture(int width, int height, int seed)
{
    QImage img(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            img.setPixel(x, y, qRgb((x * 7 + seed) % 256, (y * 11) % 256, (seed * 13 + x + y * 3) % 256));
    return img;
}

QImage indexedPicture(int width, int height, int seed)
{
    QImage img(width, height, QImage::Format_Indexed8);
    QList<QRgb> table;
    for (int i = 0; i < 16; ++i)
        table << qRgb(i * 16, 255 - i * 8, (i * 29 + seed) % 256);
    img.setColorTable(table);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            img.setPixel(x, y, uint((x + y * 3 + seed) % 16));
    return img;
}

QString save(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

QString save(const QString &path, const QImage &img)
{
    if (!img.save(path, "PNG"))
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

QByteArray rangeGrid(int width, int height, double seed)
{
    QByteArray text = "#MOLK-VEDez\n# Range_X1 : " + QByteArray::number(width - 1)
        + "\n# Range_Y1 : " + QByteArray::number(height - 1) + "\n";
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            text += QByteArray::number(x) + ' ' + QByteArray::number(y) + ' '
                + QByteArray::number(seed + x * 0.25 - y * 1.5, 'g', 17) + '\n';
    return text;
}

QByteArray xyvGrid(int width, int height, double seed)
{
    QByteArray text =
        "## 240301\n# X-NUM " + QByteArray::number(width + 1) + "\n# Y-NUM " + QByteArray::number(height + 1) + "\n";
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            text += QByteArray::number(x + 5) + ',' + QByteArray::number(y - 3) + ','
                + QByteArray::number(seed - x * 0.125 + y * y, 'g', 17) + '\n';
    return text;
}

// Everything a reader of the set can see, as text, so that two sets compare in one step
// and a difference is readable. Values are given bit for bit.
QStringList describe(const SliceDatas &set)
{
    QStringList out;
    auto bits = [](double v) {
        quint64 b;
        std::memcpy(&b, &v, sizeof b);
        return QString::number(b, 16);
    };
    out << QStringLiteral("loaded %1 size %2 x %3 range %4 %5 window %6 %7")
               .arg(set.loaded)
               .arg(set.width)
               .arg(set.height)
               .arg(bits(set.minV), bits(set.maxV), bits(set.minTh), bits(set.maxTh));
    out << QStringLiteral("histogram ready %1 bin %2 max %3")
               .arg(set.histReady)
               .arg(bits(set.binWidth), bits(set.histMaxCount));
    QStringList counts;
    for (int c : set.hist)
        counts << QString::number(c);
    out << QStringLiteral("counts ") + counts.join(QLatin1Char(' '));
    out << QStringLiteral("histogram picture %1")
               .arg(set.histImage.isNull() ? 0
                                           : qHashBits(set.histImage.constBits(), size_t(set.histImage.sizeInBytes())));
    for (const SliceData *s : set.slices) {
        QString line = QStringLiteral("slice image %1 %2 x %3 range %4 %5 values")
                           .arg(s->isImage)
                           .arg(s->width)
                           .arg(s->height)
                           .arg(bits(s->minV), bits(s->maxV));
        std::vector<double> row(std::size_t(s->width));
        quint64 sum = 0;
        for (int y = 0; y < s->height; ++y) {
            s->rowValues(y, row.data());
            for (double v : row) {
                quint64 b;
                std::memcpy(&b, &v, sizeof b);
                sum = sum * 1000003u + b;
            }
        }
        out << line + QLatin1Char(' ') + QString::number(sum, 16);
    }
    return out;
}

// The histogram as the data model defines it, counted with value(x, y).
QList<int> expectedHistogram(const SliceDatas &set)
{
    QList<int> hist(set.histBins, 0);
    const double binWidth = (set.maxV - set.minV) / (set.histBins - 1);
    const double lower = set.minV - binWidth * 0.5;
    for (const SliceData *s : set.slices)
        for (int y = 0; y < set.height; ++y)
            for (int x = 0; x < set.width; ++x) {
                const int bin = int((s->value(x, y) - lower) / binWidth);
                ++hist[qBound(0, bin, set.histBins - 1)];
            }
    return hist;
}

// Threads of a pool held by tasks that wait until let go, as other loads or frames
// would hold them. Static, so the tasks find it without anything handed over.
std::mutex holdMutex;
std::condition_variable holdChanged;
int threadsHeld = 0;
bool holdOpen = false;

// Returns once count more threads of pool are held.
void holdThreads(QThreadPool *pool, int count)
{
    int target = 0;
    {
        std::lock_guard<std::mutex> lock(holdMutex);
        holdOpen = false;
        target = threadsHeld + count;
    }
    for (int i = 0; i < count; ++i)
        pool->start([] {
            std::unique_lock<std::mutex> lock(holdMutex);
            ++threadsHeld;
            holdChanged.notify_all();
            holdChanged.wait(lock, [] { return holdOpen; });
            --threadsHeld;
            holdChanged.notify_all();
        });
    std::unique_lock<std::mutex> lock(holdMutex);
    holdChanged.wait(lock, [target] { return threadsHeld == target; });
}

// Lets every held thread go and waits until they are.
void letThreadsGo()
{
    std::unique_lock<std::mutex> lock(holdMutex);
    holdOpen = true;
    holdChanged.notify_all();
    holdChanged.wait(lock, [] { return threadsHeld == 0; });
}

// The files of a folder opened and closed, as inotify told since the last call.
struct FileAccess {
    QSet<QString> opened;
    QSet<QString> closed;
};

FileAccess readAccess(int fd)
{
    FileAccess access;
    alignas(inotify_event) char buffer[8192];
    for (;;) {
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n <= 0)
            break;
        for (ssize_t i = 0; i < n;) {
            const auto *ev = reinterpret_cast<const inotify_event *>(buffer + i);
            if (ev->len > 0) {
                const QString name = QString::fromLocal8Bit(ev->name);
                if (ev->mask & IN_OPEN)
                    access.opened.insert(name);
                if (ev->mask & (IN_CLOSE_NOWRITE | IN_CLOSE_WRITE))
                    access.closed.insert(name);
            }
            i += ssize_t(sizeof(inotify_event) + ev->len);
        }
    }
    return access;
}

}  // namespace

class TestParallelLoad : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void workerSetting();
    void sameAsOneWorker_data();
    void sameAsOneWorker();
    void randomSelections();
    void histogramCountsEveryValue_data();
    void histogramCountsEveryValue();
    void interruptedWithWorkers_data();
    void interruptedWithWorkers();
    void interruptedBeforeStart();
    void readAheadIsBounded_data();
    void readAheadIsBounded();
    void busyPools_data();
    void busyPools();

private:
    QTemporaryDir dir_;
    QStringList pool_;  // good files of 24 x 16 of every kind
    QString flat_, small_, garbage_, missing_, emptyGrid_;
};

void TestParallelLoad::initTestCase()
{
    QVERIFY(dir_.isValid());
    auto path = [this](const QString &name) { return dir_.filePath(name); };
    for (int i = 0; i < 6; ++i) {
        pool_ << save(path(QStringLiteral("grey%1.png").arg(i)), greyPicture(24, 16, i));
        pool_ << save(path(QStringLiteral("range%1.dat").arg(i)), rangeGrid(24, 16, 100.0 * i - 250.0));
    }
    for (int i = 0; i < 3; ++i) {
        pool_ << save(path(QStringLiteral("colour%1.png").arg(i)), colourPicture(24, 16, i));
        pool_ << save(path(QStringLiteral("indexed%1.png").arg(i)), indexedPicture(24, 16, i));
        pool_ << save(path(QStringLiteral("xyv%1.dat").arg(i)), xyvGrid(24, 16, -3.5 * i));
    }
    QImage flatImg(24, 16, QImage::Format_Grayscale8);
    flatImg.fill(77);
    flat_ = save(path(QStringLiteral("flat.png")), flatImg);
    small_ = save(path(QStringLiteral("small.png")), greyPicture(8, 8, 1));
    garbage_ = save(path(QStringLiteral("garbage.dat")), QByteArray("neither a picture nor a grid\n"));
    missing_ = path(QStringLiteral("missing.png"));
    emptyGrid_ = save(path(QStringLiteral("emptygrid.dat")), QByteArray("#MOLK-VEDez\n# Range_X1 : 23\n"));
}

void TestParallelLoad::workerSetting()
{
    SliceDatas set;
    QCOMPARE(set.loadWorkers(), 0);
    set.setLoadWorkers(3);
    QCOMPARE(set.loadWorkers(), 3);
    set.setLoadWorkers(-2);
    QCOMPARE(set.loadWorkers(), 0);
}

void TestParallelLoad::sameAsOneWorker_data()
{
    QTest::addColumn<QStringList>("files");
    const QStringList &p = pool_;
    QTest::newRow("pictures and grids") << p;
    QTest::newRow("backwards") << QStringList(p.rbegin(), p.rend());
    QTest::newRow("failures among them") << QStringList{garbage_, p[0], missing_, p[1], emptyGrid_, p[2], garbage_};
    QTest::newRow("flat first file fixes the size") << QStringList{flat_, p[0], p[1]};
    QTest::newRow("small first file fixes the size") << QStringList{small_, p[0], small_, p[3]};
    QTest::newRow("failed first file does not fix it") << QStringList{garbage_, missing_, small_, p[0], small_};
    QTest::newRow("other sizes and flat ones dropped") << QStringList{p[4], small_, flat_, p[5], small_, flat_, p[6]};
    QTest::newRow("all fail") << QStringList{garbage_, missing_, emptyGrid_, garbage_};
    QTest::newRow("one file") << QStringList{p[2]};
    QTest::newRow("no file") << QStringList();
    QStringList same;
    for (int i = 0; i < 20; ++i)
        same << p[i % 3];
    QTest::newRow("the same files again and again") << same;
}

void TestParallelLoad::sameAsOneWorker()
{
    QFETCH(QStringList, files);
    LoaderRig one(1);
    QVERIFY(one.load(files));
    QStringList expected;
    {
        SliceDatas::ReadGuard guard(one.set);
        expected = describe(one.set);
    }
    QCOMPARE(one.foreignEmits.load(), 0);
    for (int workers : {2, 3, 8}) {
        LoaderRig many(workers);
        // Twice: the second run starts from a loaded set.
        for (int run = 0; run < 2; ++run) {
            QVERIFY(many.load(files));
            QCOMPARE(many.rec.events, one.rec.events);
            SliceDatas::ReadGuard guard(many.set);
            QCOMPARE(describe(many.set), expected);
        }
        QCOMPARE(many.foreignEmits.load(), 0);
    }
}

void TestParallelLoad::randomSelections()
{
    QStringList all = pool_;
    all << flat_ << small_ << garbage_ << missing_ << emptyGrid_;
    std::mt19937 rng(4711);
    LoaderRig one(1);
    LoaderRig many(4);
    for (int round = 0; round < 40; ++round) {
        QStringList files;
        const int n = int(rng() % 30);
        for (int i = 0; i < n; ++i)
            files << all[int(rng() % std::uint32_t(all.size()))];
        many.set.setLoadWorkers(1 + int(rng() % 6));
        QVERIFY(one.load(files));
        QVERIFY(many.load(files));
        QCOMPARE(many.rec.events, one.rec.events);
        SliceDatas::ReadGuard guardOne(one.set);
        SliceDatas::ReadGuard guardMany(many.set);
        QCOMPARE(describe(many.set), describe(one.set));
    }
    QCOMPARE(many.foreignEmits.load(), 0);
}

void TestParallelLoad::histogramCountsEveryValue_data()
{
    QTest::addColumn<QStringList>("files");
    QTest::addColumn<int>("workers");
    const QStringList grey{pool_[0], pool_[2], pool_[4], pool_[6]};
    QStringList mixed = pool_;
    for (int workers : {1, 2, 5}) {
        QTest::addRow("grey pictures, %d workers", workers) << grey << workers;
        QTest::addRow("every kind, %d workers", workers) << mixed << workers;
    }
}

void TestParallelLoad::histogramCountsEveryValue()
{
    QFETCH(QStringList, files);
    QFETCH(int, workers);
    LoaderRig rig(workers);
    QVERIFY(rig.load(files));
    SliceDatas::ReadGuard guard(rig.set);
    QVERIFY(rig.set.loaded);
    QCOMPARE(rig.set.slices.size(), std::size_t(files.size()));
    QCOMPARE(rig.set.hist, expectedHistogram(rig.set));
}

void TestParallelLoad::interruptedWithWorkers_data()
{
    QTest::addColumn<int>("workers");
    QTest::addColumn<int>("stopAfter");
    QTest::newRow("two workers, stop after the first") << 2 << 1;
    QTest::newRow("four workers, stop after the third") << 4 << 3;
    QTest::newRow("eight workers, stop after the tenth") << 8 << 10;
}

void TestParallelLoad::interruptedWithWorkers()
{
    QFETCH(int, workers);
    QFETCH(int, stopAfter);
    QStringList files;
    for (int i = 0; i < 40; ++i)
        files << pool_[i % pool_.size()];
    LoaderRig rig(workers);
    std::atomic<int> accepted{0};
    QObject::connect(
        &rig.set, &SliceDatas::loadedNewFile, &rig.set,
        [&accepted, stopAfter] {
            if (++accepted == stopAfter)
                QThread::currentThread()->requestInterruption();
        },
        Qt::DirectConnection);
    QVERIFY(rig.load(files));
    QStringList expected{QStringLiteral("cleared")};
    for (int i = 0; i < stopAfter; ++i)
        expected << QStringLiteral("file ") + files[i];
    expected << QStringLiteral("finished");
    QCOMPARE(rig.rec.events, expected);
    SliceDatas::ReadGuard guard(rig.set);
    QCOMPARE(rig.set.slices.size(), std::size_t(stopAfter));
    QVERIFY(rig.set.loaded);
    QCOMPARE(rig.set.hist, expectedHistogram(rig.set));
}

void TestParallelLoad::interruptedBeforeStart()
{
    LoaderRig rig(4);
    rig.thread.requestInterruption();
    QVERIFY(rig.load(pool_));
    QCOMPARE(rig.rec.events, (QStringList{QStringLiteral("cleared"), QStringLiteral("finished")}));
    SliceDatas::ReadGuard guard(rig.set);
    QVERIFY(rig.set.slices.empty());
}

void TestParallelLoad::readAheadIsBounded_data()
{
    QTest::addColumn<int>("workers");
    QTest::newRow("one worker") << 1;
    QTest::newRow("two workers") << 2;
    QTest::newRow("three workers") << 3;
}

void TestParallelLoad::readAheadIsBounded()
{
    QFETCH(int, workers);
    // The loader is held inside its first loadedNewFile; meanwhile the workers may
    // decode ahead, but never more than two files each beyond the one accepted. Which
    // files were opened is seen through inotify.
    QDir sub(dir_.filePath(QStringLiteral("ahead%1").arg(workers)));
    QVERIFY(sub.mkpath(QStringLiteral(".")));
    QStringList files;
    for (int i = 0; i < 30; ++i)
        files << save(sub.filePath(QStringLiteral("p%1.png").arg(i)), greyPicture(16, 16, i));

    const int fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    QVERIFY(fd >= 0);
    QVERIFY(inotify_add_watch(fd, QFile::encodeName(sub.path()).constData(), IN_OPEN) >= 0);

    LoaderRig rig(workers);
    QSemaphore entered;
    QSemaphore resume;
    QObject::connect(
        &rig.set, &SliceDatas::loadedNewFile, &rig.set,
        [&](const QString &name) {
            if (name == files[0]) {
                entered.release();
                resume.tryAcquire(1, 60000);
            }
        },
        Qt::DirectConnection);
    QSignalSpy done(&rig.rec, &LoadRecorder::finished);
    emit rig.rec.select(files);
    QVERIFY(entered.tryAcquire(1, 60000));
    QThread::msleep(300);  // room for the workers to run ahead as far as they may

    const QSet<QString> opened = readAccess(fd).opened;
    close(fd);
    resume.release();
    QVERIFY(done.wait(60000));
    QVERIFY(opened.contains(QStringLiteral("p0.png")));
    const int bound = workers == 1 ? 1 : 1 + 2 * workers;
    QVERIFY2(opened.size() <= bound,
             qPrintable(QStringLiteral("%1 files opened, at most %2 allowed").arg(opened.size()).arg(bound)));
    QCOMPARE(rig.rec.events.size(), 32);
}

void TestParallelLoad::busyPools_data()
{
    QTest::addColumn<int>("workers");
    QTest::addColumn<int>("loads");
    QTest::addColumn<bool>("holdDecodePool");
    QTest::addColumn<bool>("holdSharedPool");
    QTest::addColumn<int>("cancelAfter");  // 0: runs to the end
    QTest::newRow("two workers, every decode thread held") << 2 << 1 << true << false << 0;
    QTest::newRow("eight workers, every decode thread held") << 8 << 1 << true << false << 0;
    QTest::newRow("two loads at once, every decode thread held") << 3 << 2 << true << false << 0;
    QTest::newRow("two loads at once, both pools held") << 8 << 2 << true << true << 0;
    QTest::newRow("two loads at once, pools free") << 8 << 2 << false << false << 0;
    QTest::newRow("cancelled, every decode thread held") << 4 << 1 << true << false << 3;
    QTest::newRow("cancelled, pools free") << 8 << 1 << false << false << 3;
    QTest::newRow("two loads cancelled, pools free") << 8 << 2 << false << false << 5;
}

void TestParallelLoad::busyPools()
{
    QFETCH(int, workers);
    QFETCH(int, loads);
    QFETCH(bool, holdDecodePool);
    QFETCH(bool, holdSharedPool);
    QFETCH(int, cancelAfter);
    // Each load its own files (pictures, grids, a failure among them), so that inotify
    // tells them apart; the one-worker load of the same files is what each must give.
    static int folders = 0;
    QDir sub(dir_.filePath(QStringLiteral("busy%1").arg(++folders)));
    QVERIFY(sub.mkpath(QStringLiteral(".")));
    std::vector<QStringList> files(static_cast<std::size_t>(loads));
    std::vector<QStringList> expectedEvents(static_cast<std::size_t>(loads));
    std::vector<QStringList> expectedSet(static_cast<std::size_t>(loads));
    for (int l = 0; l < loads; ++l) {
        QStringList &f = files[std::size_t(l)];
        for (int i = 0; i < 24; ++i) {
            const QString name = QStringLiteral("%1-%2").arg(l).arg(i);
            if (i == 7)
                f << save(sub.filePath(name + QStringLiteral(".dat")), QByteArray("no grid\n"));
            else if (i % 3 == 1)
                f << save(sub.filePath(name + QStringLiteral(".dat")), rangeGrid(24, 16, i - 30.0 * l));
            else
                f << save(sub.filePath(name + QStringLiteral(".png")), greyPicture(24, 16, i + 50 * l));
        }
        // A cancelled load gives what the files it accepted give (none of them fails).
        LoaderRig one(1);
        QVERIFY(one.load(cancelAfter > 0 ? f.mid(0, cancelAfter) : f));
        expectedEvents[std::size_t(l)] = one.rec.events;
        SliceDatas::ReadGuard guard(one.set);
        expectedSet[std::size_t(l)] = describe(one.set);
    }

    const int fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    QVERIFY(fd >= 0);
    QVERIFY(inotify_add_watch(fd, QFile::encodeName(sub.path()).constData(), IN_OPEN | IN_CLOSE) >= 0);

    // Two decode threads, both held: no task of a load can start until they are let go.
    QThreadPool *decodePool = workpool::decodePool();
    const int decodeThreads = decodePool->maxThreadCount();
    if (holdDecodePool) {
        decodePool->setMaxThreadCount(2);
        holdThreads(decodePool, 2);
    }
    if (holdSharedPool)
        holdThreads(QThreadPool::globalInstance(), workpool::threads());

    std::vector<std::unique_ptr<LoaderRig>> rigs;
    std::vector<std::unique_ptr<QSignalSpy>> finished;
    std::atomic<int> accepted[2] = {};
    for (int l = 0; l < loads; ++l) {
        rigs.push_back(std::make_unique<LoaderRig>(workers));
        LoaderRig &rig = *rigs.back();
        if (cancelAfter > 0) {
            QObject::connect(
                &rig.set, &SliceDatas::loadedNewFile, &rig.set,
                [&rig, &count = accepted[l], cancelAfter] {
                    if (++count == cancelAfter)
                        rig.set.cancelLoad();
                },
                Qt::DirectConnection);
        }
        finished.push_back(std::make_unique<QSignalSpy>(&rig.rec, &LoadRecorder::finished));
    }
    for (int l = 0; l < loads; ++l)
        emit rigs[std::size_t(l)]->rec.select(files[std::size_t(l)]);
    bool allFinished = true;
    for (auto &spy : finished)
        allFinished = (spy->count() > 0 || spy->wait(120000)) && allFinished;
    // Every decode started has ended by the time its load finished.
    const FileAccess atFinish = readAccess(fd);

    letThreadsGo();
    const bool poolDone = decodePool->waitForDone(60000);
    decodePool->setMaxThreadCount(decodeThreads);
    const FileAccess afterwards = readAccess(fd);
    close(fd);

    QVERIFY(allFinished);
    QVERIFY(poolDone);
    QCOMPARE(atFinish.closed, atFinish.opened);
    // Nothing was left on the pool to open a file once the loads had finished.
    QCOMPARE(afterwards.opened, QSet<QString>());
    for (int l = 0; l < loads; ++l) {
        const LoaderRig &rig = *rigs[std::size_t(l)];
        QCOMPARE(rig.rec.events, expectedEvents[std::size_t(l)]);
        SliceDatas::ReadGuard guard(rig.set);
        QCOMPARE(describe(rig.set), expectedSet[std::size_t(l)]);
        QCOMPARE(rig.foreignEmits.load(), 0);
    }
}

QTEST_GUILESS_MAIN(TestParallelLoad)
#include "tst_parallelload.moc"
