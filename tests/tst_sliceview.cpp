#include <QTest>

#include <cmath>
#include <memory>

#include "data/slicedata.h"
#include "data/slicedatas.h"
#include "render/mip.h"
#include "render/picking.h"
#include "render/sliceview.h"
#include "render/volumeparams.h"

Q_DECLARE_METATYPE(Spacing)
Q_DECLARE_METATYPE(SliceAxis)

namespace {

// A set whose voxel (x, y, z) holds a value that tells every index apart, with a
// few bright voxels so rays have a clear largest sample.
std::unique_ptr<SliceDatas> makeSet(int sw, int sh, int ss)
{
    auto set = std::make_unique<SliceDatas>();
    for (int z = 0; z < ss; ++z) {
        auto *s = new SliceData;
        s->isImage = false;
        s->width = sw;
        s->height = sh;
        s->values.assign(size_t(sh), std::vector<double>(size_t(sw)));
        for (int y = 0; y < sh; ++y)
            for (int x = 0; x < sw; ++x) {
                const quint32 h = (quint32(x) * 73856093u) ^ (quint32(y) * 19349663u) ^ (quint32(z) * 83492791u);
                s->values[size_t(y)][size_t(x)] = x + 2.0 * y + 3.0 * z + (h % 97 == 0 ? 150.0 : 0.0);
            }
        s->minV = 0;
        s->maxV = 400;
        set->slices.push_back(s);
    }
    set->width = sw;
    set->height = sh;
    set->loaded = true;
    return set;
}

SceneLayer layerOf(const SliceDatas *set, const Spacing &sp)
{
    SceneLayer layer;
    layer.set = set;
    layer.minTh = 5;
    layer.maxTh = 300;
    layer.vColor = QColor(0, 127, 127);
    layer.sColor = QColor(127, 0, 0);
    layer.spacing = sp;
    return layer;
}

}  // namespace

class TestSliceView : public QObject
{
    Q_OBJECT
private slots:
    void pickingMatchesReference_data();
    void pickingMatchesReference();
    void sliceViewShowsVoxels_data();
    void sliceViewShowsVoxels();
};

// Over turned views, cuts, both samplings and anisotropic spacing, the picked voxel of
// every pixel is the one whose value the reference caster colours that pixel with, and
// its position lies in that same voxel.
void TestSliceView::pickingMatchesReference_data()
{
    QTest::addColumn<double>("yaw");
    QTest::addColumn<double>("pitch");
    QTest::addColumn<bool>("voxels");
    QTest::addColumn<bool>("cut");
    QTest::addColumn<Spacing>("spacing");
    QTest::newRow("front") << 0.0 << 0.0 << false << false << Spacing();
    QTest::newRow("askew") << 0.5 << 0.3 << false << false << Spacing();
    QTest::newRow("askew, cut") << 0.5 << -0.4 << false << true << Spacing();
    QTest::newRow("side, voxels") << 1.45 << 0.1 << true << false << Spacing();
    QTest::newRow("from above, voxels, cut") << 0.1 << 1.4 << true << true << Spacing();
    QTest::newRow("askew, stretched stack") << 0.6 << 0.5 << false << false << Spacing{0.5, 0.75, 2.5};
    QTest::newRow("side, voxels, stretched, cut") << 1.3 << 0.2 << true << true << Spacing{1.5, 0.5, 1.25};
}

void TestSliceView::pickingMatchesReference()
{
    QFETCH(double, yaw);
    QFETCH(double, pitch);
    QFETCH(bool, voxels);
    QFETCH(bool, cut);
    QFETCH(Spacing, spacing);
    const int sw = 23, sh = 19, ss = 17, pw = 41, ph = 37;
    const auto set = makeSet(sw, sh, ss);
    SceneView view;
    view.sampling = voxels ? Sampling::Voxels : Sampling::Slices;
    view.scale = 0.9;
    view = render::turned(view, view.ny, yaw);
    view = render::turned(view, view.nx, pitch);
    SceneLayer layer = layerOf(set.get(), spacing);
    layer.cut = cut;
    layer.cutPos = 10;
    layer.csNz = view.nz;
    const mip::Params pr = render::volumeParams(view, layer, sw, sh, ss, pw, ph);
    int picked = 0;
    for (int r = 0; r < ph; ++r)
        for (int c = 0; c < pw; ++c) {
            const QColor want = mip::castPixel(pr, set->slices, c, r);
            const std::optional<VoxelAt> got = render::pickVoxel(view, layer, pw, ph, c, r);
            const QString where = QStringLiteral("pixel (%1, %2)").arg(c).arg(r);
            QVERIFY2(got.has_value() == (want.alpha() != 0), qPrintable(where));
            if (!got)
                continue;
            ++picked;
            QCOMPARE(got->value, set->slices[size_t(got->slice)]->value(got->column, got->row));
            const double q = mip::mapValue(got->value, layer.minTh, layer.maxTh);
            const QColor asVolume = mip::pixelColor(pr, q, 0.0);
            const QColor asFace = mip::pixelColor(pr, 0.0, q);
            QVERIFY2(want == asVolume || (cut && want == asFace), qPrintable(where));
            const std::optional<VoxelAt> back = voxelAt(layer, got->position);
            QVERIFY2(back && back->column == got->column && back->row == got->row && back->slice == got->slice,
                     qPrintable(where));
        }
    QVERIFY(picked > pw * ph / 8);
}

// Every voxel of the plane through the view's depth is drawn, at its own place, in the
// colour its value takes through the window; outside the set the background stays.
void TestSliceView::sliceViewShowsVoxels_data()
{
    QTest::addColumn<SliceAxis>("axis");
    QTest::addColumn<Spacing>("spacing");
    QTest::addColumn<int>("index");
    QTest::newRow("along the stack") << SliceAxis::Stack << Spacing() << 4;
    QTest::newRow("across columns") << SliceAxis::Columns << Spacing() << 11;
    QTest::newRow("across rows") << SliceAxis::Rows << Spacing() << 0;
    QTest::newRow("along the stack, anisotropic") << SliceAxis::Stack << Spacing{0.5, 1.5, 3.0} << 8;
    QTest::newRow("across columns, anisotropic") << SliceAxis::Columns << Spacing{0.5, 1.5, 3.0} << 22;
    QTest::newRow("across rows, anisotropic") << SliceAxis::Rows << Spacing{2.0, 0.75, 0.5} << 18;
}

void TestSliceView::sliceViewShowsVoxels()
{
    QFETCH(SliceAxis, axis);
    QFETCH(Spacing, spacing);
    QFETCH(int, index);
    const int sw = 23, sh = 19, ss = 9;
    const auto set = makeSet(sw, sh, ss);
    const SceneLayer layer = layerOf(set.get(), spacing);
    const std::vector<SceneLayer> layers{layer};
    const int w = 160, h = 150;
    SliceViewState v = fittedSliceView(layers, axis, planeCentre(layer, axis, index), w, h);
    QCOMPARE(planeIndex(layer, axis, v.depth), index);
    const QImage img = drawSliceView(layers, v, w, h);
    QVERIFY(!img.isNull());
    mip::Params pr;
    pr.vColor = layer.vColor;
    int checked = 0;
    for (int z = 0; z < ss; ++z)
        for (int y = 0; y < sh; ++y)
            for (int x = 0; x < sw; ++x) {
                const bool inPlane = axis == SliceAxis::Stack ? z == index : axis == SliceAxis::Columns ? x == index : y == index;
                if (!inPlane)
                    continue;
                const Vec3 centre{(x + 0.5 - sw / 2.0) * spacing.x, (y + 0.5 - sh / 2.0) * spacing.y,
                                  (z + 0.5 - ss / 2.0) * spacing.z};
                const QPointF px = planeToPixel(v, w, h, planePoint(axis, centre));
                const double q = mip::mapValue(set->slices[size_t(z)]->value(x, y), layer.minTh, layer.maxTh);
                const QRgb want = q > 0.0 ? mip::pixelColor(pr, q, 0.0).rgb() : qRgb(255, 255, 255);
                const QRgb got = img.pixel(int(std::floor(px.x())), int(std::floor(px.y())));
                QVERIFY2(got == want, qPrintable(QStringLiteral("voxel (%1, %2, %3): drawn %4, wanted %5")
                                                     .arg(x)
                                                     .arg(y)
                                                     .arg(z)
                                                     .arg(got, 8, 16)
                                                     .arg(want, 8, 16)));
                ++checked;
            }
    QVERIFY(checked > 0);
    QCOMPARE(img.pixel(0, 0), qRgb(255, 255, 255));
}

QTEST_MAIN(TestSliceView)
#include "tst_sliceview.moc"
