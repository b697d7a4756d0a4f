#include <QTest>

#include <cmath>
#include <memory>

#include "data/slicedata.h"
#include "data/slicedatas.h"
#include "render/measure.h"
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
    void regionFigures_data();
    void regionFigures();
    void csvColumns();
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

// A region's figures against the voxels of its plane counted here one by one: those
// whose centres lie in the rectangle, or in the ellipse inscribed in it.
void TestSliceView::regionFigures_data()
{
    QTest::addColumn<SliceAxis>("axis");
    QTest::addColumn<bool>("ellipse");
    QTest::addColumn<Spacing>("spacing");
    QTest::addColumn<QPointF>("a");
    QTest::addColumn<QPointF>("b");
    QTest::newRow("rectangle along the stack") << SliceAxis::Stack << false << Spacing() << QPointF(-4.2, -3) << QPointF(5, 6.5);
    QTest::newRow("ellipse along the stack, anisotropic")
        << SliceAxis::Stack << true << Spacing{0.5, 2.0, 1.0} << QPointF(3, 9) << QPointF(-2.5, -7.1);
    QTest::newRow("rectangle across columns, anisotropic")
        << SliceAxis::Columns << false << Spacing{1.0, 0.75, 2.5} << QPointF(-9, -5) << QPointF(8, 2);
    QTest::newRow("ellipse across rows") << SliceAxis::Rows << true << Spacing() << QPointF(-11, -4) << QPointF(3, 4);
    QTest::newRow("region past the set's edge") << SliceAxis::Stack << false << Spacing() << QPointF(5, 5) << QPointF(40, 30);
    QTest::newRow("region outside the set") << SliceAxis::Rows << false << Spacing() << QPointF(50, 50) << QPointF(60, 70);
}

void TestSliceView::regionFigures()
{
    QFETCH(SliceAxis, axis);
    QFETCH(bool, ellipse);
    QFETCH(Spacing, spacing);
    QFETCH(QPointF, a);
    QFETCH(QPointF, b);
    const int sw = 23, sh = 19, ss = 9;
    const auto set = makeSet(sw, sh, ss);
    const SceneLayer layer = layerOf(set.get(), spacing);
    Measurement m;
    m.kind = ellipse ? MeasureKind::Ellipse : MeasureKind::Rectangle;
    m.axis = axis;
    m.depth = planeCentre(layer, axis, axis == SliceAxis::Stack ? 3 : axis == SliceAxis::Columns ? 7 : 12);
    m.a = a;
    m.b = b;
    qint64 count = 0;
    double sum = 0, sum2 = 0, lo = 1e300, hi = -1e300;
    for (int z = 0; z < ss; ++z)
        for (int y = 0; y < sh; ++y)
            for (int x = 0; x < sw; ++x) {
                const double px = (x + 0.5 - sw / 2.0) * spacing.x, py = (y + 0.5 - sh / 2.0) * spacing.y,
                             pz = (z + 0.5 - ss / 2.0) * spacing.z;
                const double depth = axis == SliceAxis::Stack ? pz : axis == SliceAxis::Columns ? px : py;
                if (std::abs(depth - m.depth) > 1e-9)
                    continue;
                const double u = axis == SliceAxis::Columns ? pz : px;
                const double v = axis == SliceAxis::Rows ? pz : py;
                const double u0 = std::min(a.x(), b.x()), u1 = std::max(a.x(), b.x());
                const double v0 = std::min(a.y(), b.y()), v1 = std::max(a.y(), b.y());
                bool in = u >= u0 && u <= u1 && v >= v0 && v <= v1;
                if (ellipse) {
                    const double du = (u - (u0 + u1) / 2) / ((u1 - u0) / 2), dv = (v - (v0 + v1) / 2) / ((v1 - v0) / 2);
                    in = du * du + dv * dv <= 1.0;
                }
                if (!in)
                    continue;
                const double val = set->slices[size_t(z)]->value(x, y);
                ++count;
                sum += val;
                sum2 += val * val;
                lo = std::min(lo, val);
                hi = std::max(hi, val);
            }
    const RegionFigures f = measureRegion(m, layer);
    QCOMPARE(f.count, count);
    const double su = axis == SliceAxis::Columns ? spacing.z : spacing.x;
    const double sv = axis == SliceAxis::Rows ? spacing.z : spacing.y;
    QCOMPARE(f.area, double(count) * su * sv);
    if (count == 0) {
        QVERIFY(std::isnan(f.mean) && std::isnan(f.min));
        return;
    }
    const double mean = sum / double(count);
    QVERIFY(std::abs(f.mean - mean) < 1e-9 * std::max(1.0, std::abs(mean)));
    QVERIFY(std::abs(f.stdDev - std::sqrt(sum2 / double(count) - mean * mean)) < 1e-6);
    QCOMPARE(f.min, lo);
    QCOMPARE(f.max, hi);
}

// The CSV has its header, one line per measurement and set (one for a ruler), the
// ruler's length, and quotes a name with a comma.
void TestSliceView::csvColumns()
{
    const auto set = makeSet(23, 19, 9);
    const SceneLayer layer = layerOf(set.get(), Spacing{0.5, 0.5, 2.0});
    std::vector<Measurement> ms(2);
    ms[0].name = QStringLiteral("tumour, left");
    ms[0].kind = MeasureKind::Ruler;
    ms[0].a = QPointF(-3, 0);
    ms[0].b = QPointF(0, 4);
    ms[1].name = QStringLiteral("r2");
    ms[1].kind = MeasureKind::Rectangle;
    ms[1].a = QPointF(-2, -2);
    ms[1].b = QPointF(2, 2);
    const QList<QByteArray> lines = measurementsCsv(ms, {layer, layer}).trimmed().split('\n');
    QCOMPARE(lines.size(), 4);
    QCOMPARE(lines[0], QByteArray("name,kind,axis,depth,x1,y1,z1,x2,y2,z2,length,set,count,area,mean,sd,min,max"));
    QVERIFY(lines[1].startsWith("\"tumour, left\",ruler,stack,0,-3,0,0,0,4,0,5,"));
    for (int i = 1; i < 4; ++i)
        QCOMPARE(lines[i].count(',') - (i == 1 ? 1 : 0), 17);
    QVERIFY(lines[2].startsWith("r2,rectangle,stack,"));
    const QList<QByteArray> cells = lines[3].split(',');
    QCOMPARE(cells[11], QByteArray("2"));
    QCOMPARE(cells[12].toLongLong(), measureRegion(ms[1], layer).count);
}

QTEST_MAIN(TestSliceView)
#include "tst_sliceview.moc"
