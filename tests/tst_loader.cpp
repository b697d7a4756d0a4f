#include <QFile>
#include <QImage>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <atomic>
#include <limits>
#include <thread>

#include "data/slicedata.h"
#include "data/slicedatas.h"
#include "loaderrig.h"

// The slice-set loader in its own thread, as a panel runs it: signal order, the
// accept and drop rules, interruption, and readers that must never see a
// half-loaded set.

namespace {

const double largest = std::numeric_limits<double>::max();

QString savePicture(const QTemporaryDir &dir, const QString &name, const QImage &img)
{
    const QString path = dir.filePath(name);
    if (!img.save(path, "PNG"))
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

// A range grid file whose value at (x, y) is seed + x / 4 - y.
QString saveGrid(const QTemporaryDir &dir, const QString &name, int width, int height, int seed)
{
    QByteArray text = "#MOLK-VEDez\n# Range_X0 : 0\n# Range_Y0 : 0\n";
    text += "# Range_X1 : " + QByteArray::number(width - 1) + "\n# Range_Y1 : " + QByteArray::number(height - 1) + "\n";
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            text += QByteArray::number(x) + ' ' + QByteArray::number(y) + ' ' + QByteArray::number(seed + x / 4.0 - y)
                + '\n';
    const QString path = dir.filePath(name);
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(text) != text.size())
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

QString saveText(const QTemporaryDir &dir, const QString &name, const QByteArray &text)
{
    const QString path = dir.filePath(name);
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(text) != text.size())
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

int histSum(const SliceDatas &set)
{
    int sum = 0;
    for (int c : set.hist)
        sum += c;
    return sum;
}

// What a reader may see at any moment: the empty set, a failed set, or a finished
// one whose every part belongs to the same slices. Returns what is wrong, or nothing.
QString setProblem(const SliceDatas &set)
{
    if (set.slices.empty()) {
        if (set.loaded)
            return QStringLiteral("loaded without slices");
        return QString();
    }
    if (!set.loaded)
        return QStringLiteral("%1 slices but not loaded").arg(set.slices.size());
    if (set.width <= 0 || set.height <= 0)
        return QStringLiteral("slices in a set of size %1 x %2").arg(set.width).arg(set.height);
    if (!(set.minV < set.maxV) || set.minTh != set.minV || set.maxTh != set.maxV)
        return QStringLiteral("range %1..%2, window %3..%4").arg(set.minV).arg(set.maxV).arg(set.minTh).arg(set.maxTh);
    for (const SliceData *s : set.slices) {
        if (s->width != set.width || s->height != set.height)
            return QStringLiteral("slice %1 x %2 in a set of %3 x %4")
                .arg(s->width)
                .arg(s->height)
                .arg(set.width)
                .arg(set.height);
        for (const auto &[x, y] : {std::pair{0, 0}, std::pair{set.width - 1, set.height - 1}}) {
            const double v = s->value(x, y);
            if (v < set.minV || v > set.maxV)
                return QStringLiteral("value %1 outside %2..%3").arg(v).arg(set.minV).arg(set.maxV);
        }
    }
    if (!set.histReady || set.hist.size() != set.histBins)
        return QStringLiteral("no histogram");
    if (histSum(set) != set.width * set.height * int(set.slices.size()))
        return QStringLiteral("histogram of %1 values for %2 slices of %3 x %4")
            .arg(histSum(set))
            .arg(set.slices.size())
            .arg(set.width)
            .arg(set.height);
    return QString();
}

}  // namespace

class TestLoader : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void sizeOfFirstSliceRules();
    void allFail();
    void flatFirstFileFixesSize();
    void orderFollowsList();
    void secondLoadEmptiesSet();
    void interruptedBeforeStart();
    void interruptedDuringLoad();
    void readersNeverSeeHalfLoadedSet();

private:
    QTemporaryDir dir_;
};

void TestLoader::initTestCase()
{
    QVERIFY(dir_.isValid());
}

void TestLoader::sizeOfFirstSliceRules()
{
    const QImage first = greyPicture(64, 64, 1);
    const QImage third = greyPicture(64, 64, 2);
    const QString a = savePicture(dir_, QStringLiteral("a64.png"), first);
    const QString b = saveGrid(dir_, QStringLiteral("b32.dat"), 32, 32, 5);
    const QString c = savePicture(dir_, QStringLiteral("c64.png"), third);

    LoaderRig rig;
    QVERIFY(rig.load({a, b, c}));
    QCOMPARE(rig.rec.events, expectedEvents({a, c}));

    SliceDatas::ReadGuard guard(rig.set);
    const SliceDatas &set = rig.set;
    QCOMPARE(set.slices.size(), size_t(2));
    QCOMPARE(set.width, 64);
    QCOMPARE(set.height, 64);
    QVERIFY(set.loaded);
    QVERIFY(set.slices[0]->isImage && set.slices[1]->isImage);
    QCOMPARE(set.minV, std::min(set.slices[0]->minV, set.slices[1]->minV));
    QCOMPARE(set.maxV, std::max(set.slices[0]->maxV, set.slices[1]->maxV));
    QCOMPARE(set.minTh, set.minV);
    QCOMPARE(set.maxTh, set.maxV);
    QVERIFY(set.histReady);
    QCOMPARE(histSum(set), 64 * 64 * 2);
    for (int y = 0; y < 64; y += 7) {
        for (int x = 0; x < 64; x += 5) {
            QCOMPARE(set.slices[0]->value(x, y), double(first.pixel(x, y) & 0xff));
            QCOMPARE(set.slices[1]->value(x, y), double(third.pixel(x, y) & 0xff));
        }
    }
}

void TestLoader::allFail()
{
    const QString missing = dir_.filePath(QStringLiteral("missing.png"));
    const QString empty = saveText(dir_, QStringLiteral("empty.dat"), QByteArray());
    const QString text = saveText(dir_, QStringLiteral("notes.dat"), "neither a picture nor a grid\n");
    const QString hostile = saveText(dir_, QStringLiteral("hostile.dat"),
                                     "## 240301\n# X-NUM 2147483647\n# Y-NUM 2147483647\n0 0 1\n1 1 2\n");

    LoaderRig rig;
    QVERIFY(rig.load({missing, empty, text, hostile}));
    QCOMPARE(rig.rec.events, expectedEvents({}));
    {
        SliceDatas::ReadGuard guard(rig.set);
        QVERIFY(rig.set.slices.empty());
        QVERIFY(!rig.set.loaded);
        QCOMPARE(rig.set.width, 0);
        QCOMPARE(rig.set.height, 0);
        QCOMPARE(rig.set.minV, largest);
        QCOMPARE(rig.set.maxV, -largest);
        QVERIFY(!rig.set.histReady);
    }

    // An empty list is a run too.
    QVERIFY(rig.load(QStringList()));
    QCOMPARE(rig.rec.events, expectedEvents({}));
}

void TestLoader::flatFirstFileFixesSize()
{
    QImage flatImg(10, 10, QImage::Format_Grayscale8);
    flatImg.fill(90);
    const QString flat = savePicture(dir_, QStringLiteral("flat10.png"), flatImg);
    const QString big1 = savePicture(dir_, QStringLiteral("big1.png"), greyPicture(20, 20, 3));
    const QString big2 = saveGrid(dir_, QStringLiteral("big2.dat"), 20, 20, 4);

    LoaderRig rig;
    QVERIFY(rig.load({flat, big1, big2}));
    QCOMPARE(rig.rec.events, expectedEvents({}));
    SliceDatas::ReadGuard guard(rig.set);
    QVERIFY(rig.set.slices.empty());
    QVERIFY(!rig.set.loaded);
    QCOMPARE(rig.set.width, 10);
    QCOMPARE(rig.set.height, 10);
    QCOMPARE(rig.set.minV, largest);
    QCOMPARE(rig.set.maxV, -largest);
}

void TestLoader::orderFollowsList()
{
    // Pictures and grids of one size mix; the stack follows the list, not the names.
    const QString c = savePicture(dir_, QStringLiteral("c.png"), greyPicture(12, 8, 30));
    const QString a = saveGrid(dir_, QStringLiteral("a.dat"), 12, 8, 1000);
    const QString b = dir_.path() + QStringLiteral("/./b.png");
    QVERIFY(greyPicture(12, 8, 20).save(b, "PNG"));
    QImage flatImg(12, 8, QImage::Format_RGB32);
    flatImg.fill(qRgb(10, 20, 30));
    const QString flat = savePicture(dir_, QStringLiteral("flat.png"), flatImg);

    LoaderRig rig;
    QVERIFY(rig.load({c, flat, a, b}));
    QCOMPARE(rig.rec.events, expectedEvents({c, a, b}));
    SliceDatas::ReadGuard guard(rig.set);
    QCOMPARE(rig.set.slices.size(), size_t(3));
    QVERIFY(rig.set.slices[0]->isImage);
    QVERIFY(!rig.set.slices[1]->isImage);
    QVERIFY(rig.set.slices[2]->isImage);
    QCOMPARE(rig.set.slices[0]->value(0, 0), double(30 * 37 % 251));
    QCOMPARE(rig.set.slices[1]->value(0, 0), 1000.0);
    QCOMPARE(rig.set.slices[2]->value(0, 0), double(20 * 37 % 251));
    QCOMPARE(rig.set.maxV, 1000.0 + 11 / 4.0);
    QCOMPARE(histSum(rig.set), 12 * 8 * 3);
}

void TestLoader::secondLoadEmptiesSet()
{
    const QString p1 = savePicture(dir_, QStringLiteral("s1.png"), greyPicture(16, 16, 7));
    const QString p2 = savePicture(dir_, QStringLiteral("s2.png"), greyPicture(16, 16, 8));

    LoaderRig rig;
    QVERIFY(rig.load({p1, p2}));
    QList<int> hist;
    QImage histImage;
    {
        SliceDatas::ReadGuard guard(rig.set);
        QVERIFY(rig.set.loaded);
        QCOMPARE(rig.set.slices.size(), size_t(2));
        hist = rig.set.hist;
        histImage = rig.set.histImage;
    }

    QVERIFY(rig.load({dir_.filePath(QStringLiteral("gone.png"))}));
    QCOMPARE(rig.rec.events, expectedEvents({}));
    {
        SliceDatas::ReadGuard guard(rig.set);
        QVERIFY(rig.set.slices.empty());
        QVERIFY(!rig.set.loaded);
        QCOMPARE(rig.set.width, 0);
        QCOMPARE(rig.set.minV, largest);
        // The failed run keeps the earlier histogram.
        QVERIFY(rig.set.histReady);
        QCOMPARE(rig.set.hist, hist);
        QCOMPARE(rig.set.histImage, histImage);
    }

    // A later good run replaces everything.
    QVERIFY(rig.load({p2}));
    QCOMPARE(rig.rec.events, expectedEvents({p2}));
    SliceDatas::ReadGuard guard(rig.set);
    QCOMPARE(rig.set.slices.size(), size_t(1));
    QCOMPARE(histSum(rig.set), 16 * 16);
}

void TestLoader::interruptedBeforeStart()
{
    const QString p1 = savePicture(dir_, QStringLiteral("i1.png"), greyPicture(16, 16, 1));
    LoaderRig rig;
    rig.thread.requestInterruption();
    QVERIFY(rig.load({p1, p1}));
    QCOMPARE(rig.rec.events, expectedEvents({}));
    SliceDatas::ReadGuard guard(rig.set);
    QVERIFY(rig.set.slices.empty());
    QVERIFY(!rig.set.loaded);
}

void TestLoader::interruptedDuringLoad()
{
    QStringList files;
    for (int i = 0; i < 20; ++i)
        files << savePicture(dir_, QStringLiteral("long%1.png").arg(i), greyPicture(16, 16, i));

    LoaderRig rig;
    // Asked to stop as the second file is accepted, as a closing panel would ask.
    std::atomic<int> accepted{0};
    QObject::connect(
        &rig.set, &SliceDatas::loadedNewFile, &rig.set,
        [&accepted] {
            if (++accepted == 2)
                QThread::currentThread()->requestInterruption();
        },
        Qt::DirectConnection);
    QVERIFY(rig.load(files));
    QCOMPARE(rig.rec.events, expectedEvents(files.mid(0, 2)));
    SliceDatas::ReadGuard guard(rig.set);
    QCOMPARE(rig.set.slices.size(), size_t(2));
    QVERIFY(rig.set.loaded);
    QCOMPARE(setProblem(rig.set), QString());
}

void TestLoader::readersNeverSeeHalfLoadedSet()
{
    QStringList good;
    for (int i = 0; i < 4; ++i)
        good << savePicture(dir_, QStringLiteral("g%1.png").arg(i), greyPicture(24, 24, i));
    good << saveGrid(dir_, QStringLiteral("g.dat"), 24, 24, 300);
    const QString small = saveGrid(dir_, QStringLiteral("small.dat"), 8, 8, 1);
    QImage flatImg(24, 24, QImage::Format_Grayscale8);
    flatImg.fill(3);
    const QString flat = savePicture(dir_, QStringLiteral("flat24.png"), flatImg);
    const QString bad = saveText(dir_, QStringLiteral("bad.dat"), "nothing\n");
    const QList<QStringList> runs{
        good, {bad, small, good[0], good[1]}, {flat, good[2]}, {bad}, {good[4], good[3], small, good[1]}, {small},
    };

    LoaderRig rig;
    std::atomic<bool> stop{false};
    std::atomic<int> checks{0};
    QString problem;
    std::thread reader([&] {
        while (!stop.load() && problem.isEmpty()) {
            {
                SliceDatas::ReadGuard guard(rig.set);
                problem = setProblem(rig.set);
            }
            ++checks;
            std::this_thread::yield();
        }
    });
    for (int round = 0; round < 8; ++round) {
        for (const QStringList &files : runs) {
            if (!rig.load(files))
                break;
        }
    }
    stop = true;
    reader.join();
    QCOMPARE(problem, QString());
    QVERIFY(checks.load() > 0);
    SliceDatas::ReadGuard guard(rig.set);
    QCOMPARE(rig.set.width, 8);
    QCOMPARE(rig.set.slices.size(), size_t(1));
}

QTEST_GUILESS_MAIN(TestLoader)
#include "tst_loader.moc"
