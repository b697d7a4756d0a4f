// Drags on big sets: frames drawn from a coarse copy while a button is held, the
// exact picture on release, and never a coarse frame for a small set.
#include <QImage>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTest>

#include "imagecompare.h"
#include "data/slicedata.h"
#include "data/slicedatas.h"
#include "render/coarse.h"
#include "render/scene.h"
#include "render/renderer.h"
#include "ui/ctview.h"
#include "ui/slicesctrl.h"

struct CtViewTestAccess {
    static void paint(CtView &v) { v.paintPImg(); }
    // A button held and the view turned a little, as a drag does.
    static void dragStep(CtView &v)
    {
        v.dragMode = 0;
        v.updateNvs(Vec3{0.6, 0.8, 0.0}, 0.05);
    }
    static void release(CtView &v) { v.mouseReleasedOnDataDisp(); }
    static void save(CtView &v, const QString &file) { v.saveImage(file); }
    static bool coarseShown(const CtView &v) { return v.coarseShown_; }
    static void waitForCopies(CtView &v) { v.renderer_->waitForCoarseCopies(); }
    static QImage exact(CtView &v, int pw, int ph) { return v.renderer_->renderScene(v.scene(pw, ph)); }
    static void setCoarse(CtView &v, bool on, qint64 minVoxels, double frameMs)
    {
        v.coarseDrag_ = on;
        v.coarseMinVoxels_ = minVoxels;
        v.coarseFrameMs_ = frameMs;
    }
};

namespace {

// Fills a panel's set with ss slices of sw x sh grey values: a bright ball in a
// dimmer box, and a value pattern that changes from voxel to voxel.
void fillSet(SlicesCtrl *panel, int sw, int sh, int ss)
{
    SliceDatas &set = panel->sliceDatas;
    for (int z = 0; z < ss; ++z) {
        auto *s = new SliceData;
        QImage img(sw, sh, QImage::Format_Grayscale8);
        for (int y = 0; y < sh; ++y) {
            uchar *line = img.scanLine(y);
            for (int x = 0; x < sw; ++x) {
                const double dx = x - sw / 2.0, dy = y - sh / 2.0, dz = z - ss / 2.0;
                const bool ball = dx * dx + dy * dy + dz * dz < sw * sw / 9.0;
                line[x] = uchar(ball ? 200 + (x + y + z) % 50 : 40 + (x * 7 + y * 3 + z) % 60);
            }
        }
        s->image = img;
        s->computeImageMinMax();
        set.slices.push_back(s);
    }
    set.width = sw;
    set.height = sh;
    set.minV = 0;
    set.maxV = 255;
    set.loaded = true;
    ++set.generation;
    panel->rMinV_->setText("0");
    panel->rMaxV_->setText("255");
}

int nonWhite(const QImage &img)
{
    int n = 0;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x)
            n += img.pixel(x, y) != qRgb(255, 255, 255);
    return n;
}

}  // namespace

class TestCoarseDrag : public QObject
{
    Q_OBJECT
private slots:
    void dragThenRelease_data();
    void dragThenRelease();
    void setGoesWhileItsCopyIsBuilt();
    void copyHoldsTheLargestOfEight_data();
    void copyHoldsTheLargestOfEight();
};

void TestCoarseDrag::dragThenRelease_data()
{
    QTest::addColumn<int>("side");
    QTest::addColumn<int>("slices");
    QTest::addColumn<bool>("on");
    QTest::addColumn<qint64>("minVoxels");
    QTest::addColumn<double>("frameMs");
    QTest::addColumn<bool>("coarse");

    // A negative frame time makes every frame count as slow.
    const qint64 normal = qint64(1) << 26;
    QTest::newRow("256 cubed, slow frames: exact") << 256 << 256 << true << normal << -1.0 << false;
    QTest::newRow("big set, slow frames: coarse") << 45 << 37 << true << qint64(1000) << -1.0 << true;
    QTest::newRow("big set, quick frames: exact") << 45 << 37 << true << qint64(1000) << 1e9 << false;
    QTest::newRow("big set, turned off: exact") << 45 << 37 << false << qint64(1000) << -1.0 << false;
}

void TestCoarseDrag::dragThenRelease()
{
    QFETCH(int, side);
    QFETCH(int, slices);
    QFETCH(bool, on);
    QFETCH(qint64, minVoxels);
    QFETCH(double, frameMs);
    QFETCH(bool, coarse);

    CtView w;
    CtViewTestAccess::setCoarse(w, on, minVoxels, frameMs);
    fillSet(w.sCtrls.first(), side, side - 2, slices);
    w.imgPixWidth_->setText("72");
    w.imgPixHeight_->setText("64");
    w.fitView();
    CtViewTestAccess::paint(w);
    // The first slow drag frame starts the copy and is drawn exactly; later ones use it.
    CtViewTestAccess::dragStep(w);
    QVERIFY(!CtViewTestAccess::coarseShown(w));
    CtViewTestAccess::waitForCopies(w);
    CtViewTestAccess::dragStep(w);
    QCOMPARE(CtViewTestAccess::coarseShown(w), coarse);
    const QImage during = w.pImg;
    const QImage exactDuring = CtViewTestAccess::exact(w, 72, 64);
    if (coarse) {
        // Coarse, but the same volume in the same place.
        QVERIFY(during != exactDuring);
        QVERIFY(std::abs(nonWhite(during) - nonWhite(exactDuring)) < nonWhite(exactDuring) / 10);
        // Saved during the drag, the picture is the exact one.
        QTemporaryDir dir;
        const QString file = dir.filePath("drag.png");
        CtViewTestAccess::save(w, file);
        const QString saved = fixtures::firstDifference(QImage(file), exactDuring);
        QVERIFY2(saved.isEmpty(), qPrintable(saved));
    } else {
        const QString diff = fixtures::firstDifference(during, exactDuring);
        QVERIFY2(diff.isEmpty(), qPrintable(diff));
    }

    CtViewTestAccess::dragStep(w);
    CtViewTestAccess::release(w);
    QVERIFY(!CtViewTestAccess::coarseShown(w));
    const QString diff = fixtures::firstDifference(w.pImg, CtViewTestAccess::exact(w, 72, 64));
    QVERIFY2(diff.isEmpty(), qPrintable(diff));
}

// A panel removed, or its set emptied for a reload, while the coarse copy is being
// built: the build stops, and a later drag draws exactly until a new copy is ready.
void TestCoarseDrag::setGoesWhileItsCopyIsBuilt()
{
    CtView w;
    CtViewTestAccess::setCoarse(w, true, 1000, -1.0);
    w.addSliceSet();
    fillSet(w.sCtrls.first(), 64, 64, 64);
    fillSet(w.sCtrls.last(), 96, 80, 90);
    w.imgPixWidth_->setText("48");
    w.imgPixHeight_->setText("48");
    CtViewTestAccess::dragStep(w);  // starts both builds
    w.removeSliceSet(w.sCtrls.last());
    w.sCtrls.first()->sliceDatas.clear();
    fillSet(w.sCtrls.first(), 40, 40, 40);
    CtViewTestAccess::dragStep(w);  // the old copy is never used for the new slices
    QVERIFY(!CtViewTestAccess::coarseShown(w));
    QString diff = fixtures::firstDifference(w.pImg, CtViewTestAccess::exact(w, 48, 48));
    QVERIFY2(diff.isEmpty(), qPrintable(diff));
    CtViewTestAccess::waitForCopies(w);
    CtViewTestAccess::dragStep(w);
    QVERIFY(CtViewTestAccess::coarseShown(w));
    CtViewTestAccess::release(w);
    diff = fixtures::firstDifference(w.pImg, CtViewTestAccess::exact(w, 48, 48));
    QVERIFY2(diff.isEmpty(), qPrintable(diff));
}

void TestCoarseDrag::copyHoldsTheLargestOfEight_data()
{
    QTest::addColumn<int>("sw");
    QTest::addColumn<int>("sh");
    QTest::addColumn<int>("ss");
    QTest::addColumn<int>("gridSlice");  // a slice of doubles in the set, or -1
    QTest::newRow("8-bit, even sizes") << 24 << 16 << 10 << -1;
    QTest::newRow("8-bit, odd sizes") << 23 << 17 << 9 << -1;
    QTest::newRow("a grid slice among pictures") << 23 << 17 << 9 << 4;
}

// Each value of the coarse copy is the largest of the (up to) eight it stands for,
// whether made straight from 8-bit pictures or through values.
void TestCoarseDrag::copyHoldsTheLargestOfEight()
{
    QFETCH(int, sw);
    QFETCH(int, sh);
    QFETCH(int, ss);
    QFETCH(int, gridSlice);
    CtView w;
    SlicesCtrl *panel = w.sCtrls.first();
    fillSet(panel, sw, sh, ss);
    SliceDatas &set = panel->sliceDatas;
    if (gridSlice >= 0) {
        SliceData *s = set.slices[size_t(gridSlice)];
        s->values.assign(size_t(sh), std::vector<double>(size_t(sw)));
        for (int y = 0; y < sh; ++y)
            for (int x = 0; x < sw; ++x)
                s->values[size_t(y)][size_t(x)] = s->value(x, y) + 0.5;
        s->image = QImage();
        s->isImage = false;
        ++set.generation;
    }
    render::CoarseCopies copies;
    copies.get(set);
    copies.waitForBuilds();
    const std::shared_ptr<const render::CoarseSet> c = copies.get(set);
    QVERIFY(c);
    QCOMPARE(int(c->slices.size()), (ss + 1) / 2);
    QCOMPARE(c->width, (sw + 1) / 2);
    QCOMPARE(c->height, (sh + 1) / 2);
    for (int k = 0; k < (ss + 1) / 2; ++k)
        for (int y = 0; y < c->height; ++y)
            for (int x = 0; x < c->width; ++x) {
                double most = -HUGE_VAL;
                for (int j = 2 * k; j < std::min(ss, 2 * k + 2); ++j)
                    for (int yy = 2 * y; yy < std::min(sh, 2 * y + 2); ++yy)
                        for (int xx = 2 * x; xx < std::min(sw, 2 * x + 2); ++xx)
                            most = std::max(most, set.slices[size_t(j)]->value(xx, yy));
                if (c->slices[size_t(k)]->value(x, y) != most)
                    QFAIL(qPrintable(QStringLiteral("(%1, %2) of coarse slice %3: %4, not %5")
                                         .arg(x)
                                         .arg(y)
                                         .arg(k)
                                         .arg(c->slices[size_t(k)]->value(x, y))
                                         .arg(most)));
            }
}

QTEST_MAIN(TestCoarseDrag)
#include "tst_coarsedrag.moc"
