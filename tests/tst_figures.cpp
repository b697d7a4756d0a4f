// The drawing choices made for figures: colour maps with a gamma, the picture's
// background, values at the top of the window, the automatic window. The raster path is held to the per-point path over them, and the maps
// to published entries; sessions keep the choices and read files without them.
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPainter>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTextStream>

#include <cmath>
#include <memory>
#include <utility>

#include "app/rendercommand.h"
#include "app/renderoptions.h"
#include "app/session.h"
#include "data/slicedata.h"
#include "data/slicedatas.h"
#include "imagecompare.h"
#include "render/bricks.h"
#include "render/colormap.h"
#include "render/mip.h"
#include "render/overlays.h"
#include "render/renderer.h"
#include "render/scene.h"
#include "render/windowchoice.h"

Q_DECLARE_METATYPE(ColorMap)
Q_DECLARE_METATYPE(Projection)

namespace {

enum class Kind { Grey, Grid, Grey16Rescaled, Floats };

// Blobs of several strengths with noise; value (x, y, z) of a set of sw x sh x ss.
double voxel(int x, int y, int z, int sw, int sh, int ss)
{
    const double cx = x - sw / 2.0, cy = y - sh / 2.0, cz = z - ss / 2.0;
    double v = 0;
    if (cx * cx / (0.16 * sw * sw) + cy * cy / (0.1 * sh * sh) + cz * cz / (0.2 * ss * ss + 1) < 1)
        v = 120;
    if ((cx - 2) * (cx - 2) + (cy + 1) * (cy + 1) + cz * cz < 0.02 * (sw * sw + sh * sh))
        v = 230;
    const quint32 h = (quint32(x) * 73856093u) ^ (quint32(y) * 19349663u) ^ (quint32(z) * 83492791u);
    return v + double(h % 23);
}

SliceData *makeSlice(Kind kind, int sw, int sh, int ss, int z)
{
    auto *s = new SliceData;
    s->width = sw;
    s->height = sh;
    if (kind == Kind::Grid) {
        s->isImage = false;
        s->values.assign(size_t(sh), std::vector<double>(size_t(sw)));
        for (int y = 0; y < sh; ++y)
            for (int x = 0; x < sw; ++x)
                s->values[size_t(y)][size_t(x)] = voxel(x, y, z, sw, sh, ss) * 0.37 - 5.0;
    } else if (kind == Kind::Floats) {
        s->isImage = false;
        s->floats.resize(size_t(sw) * size_t(sh));
        for (int y = 0; y < sh; ++y)
            for (int x = 0; x < sw; ++x)
                s->floats[size_t(y) * size_t(sw) + size_t(x)] = float(voxel(x, y, z, sw, sh, ss) * 0.013 - 1.1);
    } else {
        s->isImage = true;
        const bool words = kind == Kind::Grey16Rescaled;
        QImage img(sw, sh, words ? QImage::Format_Grayscale16 : QImage::Format_Grayscale8);
        for (int y = 0; y < sh; ++y)
            for (int x = 0; x < sw; ++x) {
                const double v = voxel(x, y, z, sw, sh, ss);
                if (words)
                    reinterpret_cast<quint16 *>(img.scanLine(y))[x] = quint16(v * 251.0 + x);
                else
                    img.scanLine(y)[x] = uchar(std::min(255.0, v));
            }
        if (words) {
            s->storedBias = 32768;
            s->rescaleSlope = 0.37;
            s->rescaleIntercept = -1024.0;
        }
        s->image = img;
    }
    s->minV = 1e300;
    s->maxV = -1e300;
    for (int y = 0; y < sh; ++y)
        for (int x = 0; x < sw; ++x) {
            s->minV = std::min(s->minV, s->value(x, y));
            s->maxV = std::max(s->maxV, s->value(x, y));
        }
    return s;
}

std::unique_ptr<SliceDatas> makeSet(Kind kind, int sw, int sh, int ss)
{
    auto set = std::make_unique<SliceDatas>();
    set->width = sw;
    set->height = sh;
    set->minV = 1e300;
    set->maxV = -1e300;
    for (int z = 0; z < ss; ++z) {
        SliceData *s = makeSlice(kind, sw, sh, ss, z);
        set->minV = std::min(set->minV, s->minV);
        set->maxV = std::max(set->maxV, s->maxV);
        set->slices.push_back(s);
    }
    set->loaded = true;
    return set;
}

// The scene drawn once on the raster path and once point by point.
QString comparePaths(render::Renderer &renderer, const Scene &sc)
{
    renderer.setRasterPathEnabled(true);
    const QImage fast = renderer.renderScene(sc);
    renderer.setRasterPathEnabled(false);
    const QImage reference = renderer.renderScene(sc);
    renderer.setRasterPathEnabled(true);
    QImage background(sc.width, sc.height, QImage::Format_ARGB32);
    background.fill(sc.background);
    if (fast == background)
        return QStringLiteral("nothing drawn");
    return fixtures::firstDifference(fast, reference);
}

}  // namespace

class TestFigures : public QObject
{
    Q_OBJECT
private slots:
    void publishedEntries_data();
    void publishedEntries();
    void fastPathMatchesReference_data();
    void fastPathMatchesReference();
    void knownRay_data();
    void knownRay();
    void linearBetweenVoxels_data();
    void linearBetweenVoxels();
    void topOfWindow_data();
    void topOfWindow();
    void autoWindow_data();
    void autoWindow();
    void axisTicks_data();
    void axisTicks();
    void sessionKeys_data();
    void sessionKeys();
    void scaleBarLength_data();
    void scaleBarLength();
    void directionLabels_data();
    void directionLabels();
    void overlaysInPictures();
    void sessionOverlays_data();
    void sessionOverlays();
    void renderCommandOptions_data();
    void renderCommandOptions();
    void renderCommandScale_data();
    void renderCommandScale();
};

void TestFigures::publishedEntries_data()
{
    QTest::addColumn<ColorMap>("map");
    QTest::addColumn<int>("index");
    QTest::addColumn<QString>("hex");
    QTest::newRow("viridis first") << ColorMap::Viridis << 0 << "#440154";
    QTest::newRow("viridis middle") << ColorMap::Viridis << 128 << "#21918c";
    QTest::newRow("viridis last") << ColorMap::Viridis << 255 << "#fde725";
    QTest::newRow("magma first") << ColorMap::Magma << 0 << "#000004";
    QTest::newRow("magma last") << ColorMap::Magma << 255 << "#fcfdbf";
    QTest::newRow("inferno last") << ColorMap::Inferno << 255 << "#fcffa4";
    QTest::newRow("cividis first") << ColorMap::Cividis << 0 << "#00224e";
    QTest::newRow("cividis last") << ColorMap::Cividis << 255 << "#fee838";
    QTest::newRow("hot first") << ColorMap::Hot << 0 << "#0b0000";
    QTest::newRow("hot red full at 0.365") << ColorMap::Hot << 94 << "#ff0200";
    QTest::newRow("hot last") << ColorMap::Hot << 255 << "#ffffff";
    QTest::newRow("grey middle") << ColorMap::Grey << 100 << "#646464";
    QTest::newRow("inverted grey middle") << ColorMap::InvertedGrey << 100 << "#9b9b9b";
}

void TestFigures::publishedEntries()
{
    QFETCH(ColorMap, map);
    QFETCH(int, index);
    QFETCH(QString, hex);
    QCOMPARE(QColor(render::colorMapEntry(map, index)).name(), hex);
    ColorMap back = ColorMap::WhiteRamp;
    QVERIFY(render::colorMapFromKey(render::colorMapKey(map).toUpper(), &back));
    QCOMPARE(back, map);
}

void TestFigures::fastPathMatchesReference_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("view");  // 0 along the stack, 1 oblique, 2 oblique zoomed and panned, 3 from the side,
        // 4 from behind
    QTest::addColumn<bool>("voxels");
    QTest::addColumn<bool>("cut");
    QTest::addColumn<bool>("spaced");  // spacing 0.8, 1, 2.5 instead of 1, 1, 1
    QTest::addColumn<ColorMap>("map");
    QTest::addColumn<double>("gamma");
    QTest::addColumn<bool>("black");
    QTest::addColumn<int>("alpha");
    QTest::addColumn<bool>("saturate");
    QTest::addColumn<Projection>("projection");
    QTest::addColumn<bool>("linear");

    const int grey = int(Kind::Grey), grid = int(Kind::Grid), words = int(Kind::Grey16Rescaled),
              floats = int(Kind::Floats);
    const ColorMap ramp = ColorMap::WhiteRamp;
    const Projection maxi = Projection::Maximum, mini = Projection::Minimum, mean = Projection::Mean,
                     comp = Projection::Composite;
    auto row = [](const char *name) { return &QTest::newRow(name); };
    *row("grey viridis along the stack") << grey << 0 << false << false << false << ColorMap::Viridis << 1.0 << false
                                         << 255 << false << maxi << false;
    *row("grey hot oblique cut on black")
        << grey << 1 << false << true << false << ColorMap::Hot << 1.0 << true << 255 << true << maxi << false;
    *row("grid magma gamma 0.5 zoomed") << grid << 2 << false << false << true << ColorMap::Magma << 0.5 << false << 200
                                        << true << maxi << false;
    *row("16-bit grey gamma 2.2 side voxels")
        << words << 3 << true << true << false << ColorMap::Grey << 2.2 << true << 255 << false << maxi << false;
    *row("floats inverted grey oblique spaced") << floats << 1 << false << true << true << ColorMap::InvertedGrey << 1.0
                                                << false << 128 << false << maxi << false;
    *row("grey ramp gamma 0.3 on black") << grey << 1 << false << false << false << ramp << 0.3 << true << 255 << false
                                         << maxi << false;
    *row("grid cividis side voxels translucent")
        << grid << 3 << true << false << true << ColorMap::Cividis << 1.7 << true << 90 << true << maxi << false;
    *row("16-bit ramp saturating along the stack")
        << words << 0 << false << false << false << ramp << 1.0 << false << 255 << true << maxi << false;
    *row("grid ramp saturating from the side, slices")
        << grid << 3 << false << true << false << ramp << 1.0 << false << 255 << true << maxi << false;
    *row("floats saturating voxels across rows")
        << floats << 2 << true << true << false << ColorMap::Viridis << 1.0 << false << 160 << true << maxi << false;
    *row("grey inferno zoomed cut") << grey << 2 << false << true << false << ColorMap::Inferno << 1.0 << false << 255
                                    << true << maxi << false;

    *row("minimum grey along the stack") << grey << 0 << false << false << false << ramp << 1.0 << false << 255 << false
                                         << mini << false;
    *row("minimum grey oblique cut") << grey << 1 << false << true << false << ColorMap::Grey << 1.0 << true << 255
                                     << false << mini << false;
    *row("minimum grid zoomed spaced") << grid << 2 << false << false << true << ramp << 1.0 << false << 128 << true
                                       << mini << false;
    *row("minimum 16-bit side voxels cut")
        << words << 3 << true << true << false << ColorMap::Viridis << 1.0 << false << 255 << false << mini << false;
    *row("minimum floats from behind") << floats << 4 << false << false << false << ramp << 0.6 << true << 255 << true
                                       << mini << false;
    *row("mean grey along the stack") << grey << 0 << false << false << false << ramp << 1.0 << false << 255 << false
                                      << mean << false;
    *row("mean grid oblique cut") << grid << 1 << false << true << false << ColorMap::Magma << 1.0 << true << 200
                                  << true << mean << false;
    *row("mean 16-bit zoomed spaced") << words << 2 << false << false << true << ramp << 1.0 << false << 255 << false
                                      << mean << false;
    *row("mean floats side voxels") << floats << 3 << true << true << false << ColorMap::Grey << 1.0 << false << 255
                                    << false << mean << false;
    *row("composite grey along the stack")
        << grey << 0 << false << false << false << ramp << 1.0 << false << 255 << false << comp << false;
    *row("composite grey oblique cut on black")
        << grey << 1 << false << true << false << ColorMap::Hot << 1.0 << true << 255 << true << comp << false;
    *row("composite grid from behind translucent")
        << grid << 4 << false << false << false << ColorMap::Viridis << 1.0 << false << 140 << false << comp << false;
    *row("composite 16-bit zoomed spaced")
        << words << 2 << false << true << true << ramp << 0.5 << false << 255 << true << comp << false;
    *row("composite floats side voxels") << floats << 3 << true << false << false << ColorMap::Inferno << 1.0 << true
                                         << 255 << false << comp << false;
    *row("composite grey side voxels from the other side")
        << grey << 5 << true << true << false << ramp << 1.0 << false << 255 << false << comp << false;

    *row("linear grey along the stack") << grey << 0 << false << false << false << ramp << 1.0 << false << 255 << false
                                        << maxi << true;
    *row("linear grey oblique cut") << grey << 1 << false << true << false << ColorMap::Viridis << 1.0 << false << 255
                                    << true << maxi << true;
    *row("linear grid zoomed spaced") << grid << 2 << false << false << true << ramp << 1.0 << true << 150 << false
                                      << maxi << true;
    *row("linear 16-bit side voxels cut")
        << words << 3 << true << true << false << ramp << 1.0 << false << 255 << false << maxi << true;
    *row("linear floats side voxels, other side")
        << floats << 5 << true << false << true << ColorMap::Grey << 1.0 << false << 255 << true << maxi << true;
    *row("linear grey voxels across rows")
        << grey << 6 << true << true << false << ramp << 1.0 << false << 255 << false << maxi << true;
    *row("linear minimum grey oblique") << grey << 1 << false << false << false << ramp << 1.0 << false << 255 << false
                                        << mini << true;
    *row("linear mean grid side voxels") << grid << 3 << true << true << false << ramp << 1.0 << false << 255 << false
                                         << mean << true;
    *row("linear composite grey from behind cut")
        << grey << 4 << false << true << false << ColorMap::Magma << 1.0 << true << 255 << false << comp << true;
    *row("linear composite 16-bit across rows")
        << words << 6 << true << false << true << ramp << 1.0 << false << 200 << true << comp << true;
}

void TestFigures::fastPathMatchesReference()
{
    QFETCH(int, kind);
    QFETCH(int, view);
    QFETCH(bool, voxels);
    QFETCH(bool, cut);
    QFETCH(bool, spaced);
    QFETCH(ColorMap, map);
    QFETCH(double, gamma);
    QFETCH(bool, black);
    QFETCH(int, alpha);
    QFETCH(bool, saturate);
    QFETCH(Projection, projection);
    QFETCH(bool, linear);

    const auto set = makeSet(Kind(kind), 37, 33, 35);
    Scene sc;
    sc.width = sc.frameWidth = 61;
    sc.height = sc.frameHeight = 53;
    sc.background = black ? QColor(0, 0, 0) : QColor(255, 255, 255);
    sc.view.sampling = voxels ? Sampling::Voxels : Sampling::Slices;
    if (view == 1 || view == 2) {
        sc.view = render::turned(sc.view, sc.view.ny, 0.5236);
        sc.view = render::turned(sc.view, sc.view.nx, 0.61);
    } else if (view == 3 || view == 5) {
        sc.view = render::turned(sc.view, sc.view.ny, view == 3 ? 1.3 : -1.9);
        sc.view = render::turned(sc.view, sc.view.nx, 0.2);
    } else if (view == 4) {
        sc.view = render::turned(sc.view, sc.view.ny, 2.6);
        sc.view = render::turned(sc.view, sc.view.nx, 0.35);
    } else if (view == 6) {
        sc.view = render::turned(sc.view, sc.view.ny, 0.2);
        sc.view = render::turned(sc.view, sc.view.nx, 1.25);
    }
    sc.view.scale = view == 2 ? 0.6 : 0.9;
    if (view == 2)
        sc.view.center = Vec3{2.5, -3.25, 1.0};
    SceneLayer layer;
    layer.set = set.get();
    layer.minTh = set->minV + 0.1 * (set->maxV - set->minV);
    layer.maxTh = set->minV + 0.9 * (set->maxV - set->minV);
    layer.cut = cut;
    layer.cutPos = -20;
    layer.csNz = sc.view.nz;
    layer.alpha = alpha;
    layer.colorMap = map;
    layer.gamma = gamma;
    layer.above = saturate ? AboveWindow::Saturate : AboveWindow::Vanish;
    layer.projection = projection;
    layer.interpolation = linear ? Interpolation::Linear : Interpolation::Nearest;
    layer.opacity.points = {0.0, 0.0, 0.3, 0.05, 0.6};  // blocks of low values are wholly transparent
    if (spaced)
        layer.spacing = Spacing{0.8, 1.0, 2.5};
    sc.layers.push_back(layer);
    render::Renderer renderer;
    const QString diff = comparePaths(renderer, sc);
    QVERIFY2(diff.isEmpty(), qPrintable(diff));
    // The background shows where no set is drawn.
    const QImage picture = renderer.renderScene(sc);
    QCOMPARE(QColor(picture.pixel(0, 0)), sc.background);
}

void TestFigures::knownRay_data()
{
    QTest::addColumn<Projection>("projection");
    QTest::addColumn<bool>("fromBehind");
    QTest::addColumn<double>("opacity");  // every point of the curve
    QTest::addColumn<double>("strength");  // expected, over the window 0 .. 100
    QTest::addColumn<int>("alpha");  // expected pen opacity
    // Three slices of 10, 50 and 30, seen along the stack: slice 2 (30) is in front.
    QTest::newRow("maximum") << Projection::Maximum << false << 0.0 << 128.0 << 255;
    QTest::newRow("minimum") << Projection::Minimum << false << 0.0 << 25.6 << 255;
    QTest::newRow("mean") << Projection::Mean << false << 0.0 << 76.8 << 255;
    QTest::newRow("composite, the opaque front hides the rest") << Projection::Composite << false << 1.0 << 76.5 << 255;
    QTest::newRow("composite from behind, slice 0 in front") << Projection::Composite << true << 1.0 << 25.5 << 255;
    QTest::newRow("composite, three translucent samples") << Projection::Composite << false << 0.5 << -1.0 << 223;
}

// The pixel each projection makes of one known ray, on both paths: the largest,
// smallest and mean value, and front-to-back blending that stops at an opaque sample.
void TestFigures::knownRay()
{
    QFETCH(Projection, projection);
    QFETCH(bool, fromBehind);
    QFETCH(double, opacity);
    QFETCH(double, strength);
    QFETCH(int, alpha);
    SliceDatas set;
    for (double v : {10.0, 50.0, 30.0}) {
        auto *s = new SliceData;
        s->isImage = false;
        s->width = s->height = 4;
        s->values.assign(4, std::vector<double>(4, v));
        set.slices.push_back(s);
    }
    set.width = set.height = 4;
    set.loaded = true;
    Scene sc;
    sc.width = sc.height = sc.frameWidth = sc.frameHeight = 4;
    if (fromBehind)
        sc.view = render::turned(sc.view, sc.view.ny, M_PI);
    SceneLayer layer;
    layer.set = &set;
    layer.minTh = 0;
    layer.maxTh = 100;
    layer.showFrame = false;
    layer.projection = projection;
    layer.opacity.points.fill(opacity);
    sc.layers.push_back(layer);
    mip::Params pr;
    pr.vColor = layer.vColor;
    QRgb expected;
    if (strength >= 0) {
        expected = mip::volumeRgb(pr, strength);
    } else {
        // Front to back with opacity 0.5 each: weights 0.5, 0.25, 0.125 of 30, 50, 10.
        const QRgb a = mip::volumeRgb(pr, 76.5), b = mip::volumeRgb(pr, 128.5), c = mip::volumeRgb(pr, 25.5);
        auto mix = [](int x, int y, int z) { return int((0.5 * x + 0.25 * y + 0.125 * z) / 0.875 + 0.5); };
        expected = qRgb(mix(qRed(a), qRed(b), qRed(c)), mix(qGreen(a), qGreen(b), qGreen(c)),
                        mix(qBlue(a), qBlue(b), qBlue(c)));
    }
    render::Renderer renderer;
    for (bool raster : {true, false}) {
        renderer.setRasterPathEnabled(raster);
        const QImage picture = renderer.renderScene(sc);
        // Over white: each component c at opacity alpha becomes about c a + 255 (1 - a).
        const QRgb got = picture.pixel(1, 2);
        for (int k = 0; k < 3; ++k) {
            const int shift = 16 - 8 * k;
            const double want = ((expected >> shift) & 0xff) * alpha / 255.0 + 255.0 * (1.0 - alpha / 255.0);
            QVERIFY2(std::fabs(((got >> shift) & 0xff) - want) <= 1.0,
                     qPrintable(QStringLiteral("%1: got #%2, expected #%3 at opacity %4")
                                    .arg(raster ? "raster" : "per point")
                                    .arg(got, 8, 16)
                                    .arg(expected, 8, 16)
                                    .arg(alpha)));
        }
    }
}

void TestFigures::linearBetweenVoxels_data()
{
    QTest::addColumn<int>("column");  // picture column; the sample lies at 1 + (column - 4) / 4 columns in
    QTest::addColumn<double>("strength");  // over the window 0 .. 100; 0: nothing drawn
    QTest::newRow("middle of the first voxel") << 2 << 0.0;
    QTest::newRow("a quarter of the way") << 3 << 64.0;
    QTest::newRow("between the two voxels") << 4 << 128.0;
    QTest::newRow("three quarters") << 5 << 192.0;
    QTest::newRow("middle of the second voxel vanishes") << 6 << 0.0;
    QTest::newRow("edge value repeats past the middle") << 7 << 0.0;
}

// Two voxels of 0 and 100 side by side, sampled every quarter column: linear
// samples blend them by where they lie between the voxels' middles, on both paths
// (nearest sampling would show 0 or nothing).
void TestFigures::linearBetweenVoxels()
{
    QFETCH(int, column);
    QFETCH(double, strength);
    SliceDatas set;
    auto *s = new SliceData;
    s->isImage = false;
    s->width = 2;
    s->height = 1;
    s->values = {{0.0, 100.0}};
    set.slices.push_back(s);
    set.width = 2;
    set.height = 1;
    set.loaded = true;
    Scene sc;
    sc.width = sc.frameWidth = 8;
    sc.height = sc.frameHeight = 1;
    sc.view.scale = 0.25;
    SceneLayer layer;
    layer.set = &set;
    layer.minTh = 0;
    layer.maxTh = 100;
    layer.showFrame = false;
    layer.interpolation = Interpolation::Linear;
    sc.layers.push_back(layer);
    mip::Params pr;
    pr.vColor = layer.vColor;
    const QRgb expected = strength > 0 ? mip::volumeRgb(pr, strength) : qRgb(255, 255, 255);
    render::Renderer renderer;
    for (bool raster : {true, false}) {
        renderer.setRasterPathEnabled(raster);
        QCOMPARE(QColor(renderer.renderScene(sc).pixel(column, 0)), QColor(expected));
    }
}

void TestFigures::topOfWindow_data()
{
    QTest::addColumn<double>("value");
    QTest::addColumn<double>("vanishQ");
    QTest::addColumn<double>("saturateQ");
    QTest::newRow("the top itself") << 20.0 << 0.0 << 255.0;
    QTest::newRow("within the top 1/256") << 19.97 << 0.0 << 255.0;
    QTest::newRow("far above") << 1e9 << 0.0 << 255.0;
    QTest::newRow("just below the top") << 19.96 << 254.976 << 254.976;
    QTest::newRow("the bottom") << 10.0 << 0.0 << 0.0;
    QTest::newRow("below") << -5.0 << 0.0 << 0.0;
}

// Values at the top of a window 10 .. 20 vanish or saturate; the rest map alike,
// and the blocks' bounds admit what saturating values give.
void TestFigures::topOfWindow()
{
    QFETCH(double, value);
    QFETCH(double, vanishQ);
    QFETCH(double, saturateQ);
    QVERIFY(std::fabs(mip::mapValue(value, 10.0, 20.0) - vanishQ) < 1e-9);
    QVERIFY(std::fabs(mip::mapValue(value, 10.0, 20.0, true) - saturateQ) < 1e-9);
    mip::ValueBricks b;
    b.nx = b.ny = b.nz = 1;
    b.lo = {float(value)};
    b.hi = {float(value)};
    for (bool saturate : {false, true}) {
        const std::vector<double> bound = mip::brickBounds(b, 10.0, 20.0, saturate);
        QVERIFY(bound.at(0) >= mip::mapValue(double(float(value)), 10.0, 20.0, saturate));
    }
}

void TestFigures::autoWindow_data()
{
    QTest::addColumn<int>("outliers");  // voxels set far above the rest
    QTest::addColumn<double>("low");
    QTest::addColumn<double>("high");
    // 0 .. 9999, each once: the 0.5th and 99.5th percentiles are 50 and 9950.
    QTest::newRow("even ramp") << 0 << 50.0 << 9950.0;
    // Ten voxels of 1e6 stretch the range a hundredfold; the window stays on the rest.
    QTest::newRow("a few bright outliers") << 10 << 50.0 << 9960.0;
}

void TestFigures::autoWindow()
{
    QFETCH(int, outliers);
    QFETCH(double, low);
    QFETCH(double, high);
    SliceDatas set;
    auto *s = new SliceData;
    s->isImage = false;
    s->width = s->height = 100;
    s->values.assign(100, std::vector<double>(100));
    for (int i = 0; i < 10000; ++i)
        s->values[size_t(i / 100)][size_t(i % 100)] = i < 10000 - outliers ? i : 1e6;
    set.slices.push_back(s);
    set.width = set.height = 100;
    set.minV = 0;
    set.maxV = outliers ? 1e6 : 9999;
    set.loaded = true;
    render::ValueWindow w;
    QVERIFY(render::autoWindow(set, &w));
    const double tolerance = set.maxV / 4096 + 1;
    QVERIFY2(std::fabs(w.low - low) <= tolerance, qPrintable(QString::number(w.low)));
    QVERIFY2(std::fabs(w.high - high) <= tolerance, qPrintable(QString::number(w.high)));
}

void TestFigures::axisTicks_data()
{
    QTest::addColumn<double>("low");
    QTest::addColumn<double>("high");
    QTest::addColumn<int>("most");
    QTest::addColumn<QList<double>>("ticks");
    QTest::newRow("percent") << 0.0 << 100.0 << 6 << QList<double>{0, 20, 40, 60, 80, 100};
    QTest::newRow("Hounsfield units") << -1024.0 << 3071.0 << 6 << QList<double>{-1000, 0, 1000, 2000, 3000};
    QTest::newRow("small values") << 0.013 << 0.027 << 4 << QList<double>{0.015, 0.02, 0.025};
    QTest::newRow("no span") << 5.0 << 5.0 << 6 << QList<double>{};
}

void TestFigures::axisTicks()
{
    QFETCH(double, low);
    QFETCH(double, high);
    QFETCH(int, most);
    QFETCH(QList<double>, ticks);
    const std::vector<double> got = render::axisTicks(low, high, most);
    QCOMPARE(int(got.size()), int(ticks.size()));
    for (size_t i = 0; i < got.size(); ++i)
        QVERIFY2(std::fabs(got[i] - ticks[int(i)]) < 1e-12, qPrintable(QString::number(got[i])));
}

void TestFigures::sessionKeys_data()
{
    QTest::addColumn<QByteArray>("drawing");  // the set's "drawing" object, or empty to leave it out
    QTest::addColumn<QByteArray>("background");  // the picture's background, or empty
    QTest::addColumn<QString>("error");  // empty: read
    QTest::addColumn<ColorMap>("map");
    QTest::addColumn<double>("gamma");
    QTest::addColumn<QString>("backgroundName");

    QTest::newRow("a file from before: defaults")
        << QByteArray() << QByteArray() << QString() << ColorMap::WhiteRamp << 1.0 << "#ffffff";
    QTest::newRow("saturating") << QByteArray(R"({"aboveWindow": "saturate"})") << QByteArray() << QString()
                                << ColorMap::WhiteRamp << 1.0 << "#ffffff";
    QTest::newRow("composite with a curve")
        << QByteArray(R"({"projection": "composite", "opacityCurve": [0, 0.1, 0.5, 0.9, 1]})") << QByteArray()
        << QString() << ColorMap::WhiteRamp << 1.0 << "#ffffff";
    QTest::newRow("curve too short") << QByteArray(R"({"opacityCurve": [0, 1]})") << QByteArray()
                                     << "sets[0].drawing.opacityCurve: not a list of the right length"
                                     << ColorMap::WhiteRamp << 1.0 << "";
    QTest::newRow("curve above 1") << QByteArray(R"({"opacityCurve": [0, 1, 2, 1, 0]})") << QByteArray()
                                   << "sets[0].drawing.opacityCurve: out of range" << ColorMap::WhiteRamp << 1.0 << "";
    QTest::newRow("linear") << QByteArray(R"({"interpolation": "linear"})") << QByteArray() << QString()
                            << ColorMap::WhiteRamp << 1.0 << "#ffffff";
    QTest::newRow("unknown interpolation")
        << QByteArray(R"({"interpolation": "cubic"})") << QByteArray()
        << "sets[0].drawing.interpolation: not \"nearest\" or \"linear\"" << ColorMap::WhiteRamp << 1.0 << "";
    QTest::newRow("unknown projection") << QByteArray(R"({"projection": "sum"})") << QByteArray()
                                        << "sets[0].drawing.projection: not a projection" << ColorMap::WhiteRamp << 1.0
                                        << "";
    QTest::newRow("unknown top rule") << QByteArray(R"({"aboveWindow": "clip"})") << QByteArray()
                                      << "sets[0].drawing.aboveWindow: not \"vanish\" or \"saturate\""
                                      << ColorMap::WhiteRamp << 1.0 << "";
    QTest::newRow("map and gamma on black")
        << QByteArray(R"({"colorMap": "viridis", "gamma": 0.45})") << QByteArray(R"("#000000")") << QString()
        << ColorMap::Viridis << 0.45 << "#000000";
    QTest::newRow("some keys only") << QByteArray(R"({"gamma": 2})") << QByteArray() << QString() << ColorMap::WhiteRamp
                                    << 2.0 << "#ffffff";
    QTest::newRow("unknown map") << QByteArray(R"({"colorMap": "jet"})") << QByteArray()
                                 << "sets[0].drawing.colorMap: not a colour map" << ColorMap::WhiteRamp << 1.0 << "";
    QTest::newRow("gamma out of range") << QByteArray(R"({"gamma": 0})") << QByteArray()
                                        << "sets[0].drawing.gamma: out of range" << ColorMap::WhiteRamp << 1.0 << "";
    QTest::newRow("unknown drawing key") << QByteArray(R"({"shade": 1})") << QByteArray()
                                         << "sets[0].drawing.shade: unknown key" << ColorMap::WhiteRamp << 1.0 << "";
    QTest::newRow("bad background") << QByteArray() << QByteArray(R"("black")")
                                    << "picture.background: not a colour of the form #rrggbb" << ColorMap::WhiteRamp
                                    << 1.0 << "";
}

// What a session keeps of the drawing choices: written and read back exactly; a file
// without them (written before they existed) reads the defaults; faults are named.
void TestFigures::sessionKeys()
{
    QFETCH(QByteArray, drawing);
    QFETCH(QByteArray, background);
    QFETCH(QString, error);
    QFETCH(ColorMap, map);
    QFETCH(double, gamma);
    QFETCH(QString, backgroundName);

    Session s;
    s.sets.resize(1);
    s.sets[0].files = {QStringLiteral("/data/a.png")};
    QJsonObject root = QJsonDocument::fromJson(sessionToJson(s, QDir("/data"))).object();
    QJsonObject set = root.value("sets").toArray().at(0).toObject();
    QJsonObject picture = root.value("picture").toObject();
    set.remove("drawing");
    picture.remove("background");
    if (!drawing.isEmpty())
        set.insert("drawing", QJsonDocument::fromJson(drawing).object());
    if (!background.isEmpty())
        picture.insert("background", QJsonDocument::fromJson("[" + background + "]").array().at(0));
    root.insert("sets", QJsonArray{set});
    root.insert("picture", picture);

    Session read;
    QString why;
    const bool ok = sessionFromJson(QJsonDocument(root).toJson(), QDir("/data"), read, &why);
    QCOMPARE(why, error);
    QCOMPARE(ok, error.isEmpty());
    if (!ok)
        return;
    QCOMPARE(read.sets.at(0).colorMap, map);
    QCOMPARE(read.sets.at(0).gamma, gamma);
    QCOMPARE(read.sets.at(0).above, drawing.contains("saturate") ? AboveWindow::Saturate : AboveWindow::Vanish);
    QCOMPARE(read.background.name(), backgroundName);
    // Written again, the choices come back the same.
    Session again;
    QVERIFY(sessionFromJson(sessionToJson(read, QDir("/data")), QDir("/data"), again, &why));
    QCOMPARE(again.sets.at(0).colorMap, map);
    QCOMPARE(again.sets.at(0).gamma, gamma);
    QCOMPARE(again.sets.at(0).above, read.sets.at(0).above);
    QCOMPARE(again.sets.at(0).projection, read.sets.at(0).projection);
    QCOMPARE(read.sets.at(0).interpolation,
             drawing.contains("linear") ? Interpolation::Linear : Interpolation::Nearest);
    QCOMPARE(again.sets.at(0).interpolation, read.sets.at(0).interpolation);
    QVERIFY(again.sets.at(0).opacity == read.sets.at(0).opacity);
    if (drawing.contains("composite")) {
        QCOMPARE(read.sets.at(0).projection, Projection::Composite);
        QCOMPARE(read.sets.at(0).opacity.points[2], 0.5);
    }
    QCOMPARE(again.background, read.background);
}

void TestFigures::scaleBarLength_data()
{
    QTest::addColumn<double>("unitsPerPixel");
    QTest::addColumn<int>("width");
    QTest::addColumn<double>("length");
    QTest::newRow("half a millimetre per pixel") << 0.5 << 256 << 20.0;
    QTest::newRow("one per pixel") << 1.0 << 256 << 50.0;
    QTest::newRow("fine") << 0.013 << 1000 << 2.0;
    QTest::newRow("coarse") << 3.7 << 100 << 50.0;
    QTest::newRow("exactly a fifth") << 1.0 << 500 << 100.0;
}

// The bar is the longest round length within a fifth of the picture, and drawn
// that long at the view's scale.
void TestFigures::scaleBarLength()
{
    QFETCH(double, unitsPerPixel);
    QFETCH(int, width);
    QFETCH(double, length);
    QCOMPARE(render::scaleBarLength(unitsPerPixel, width), length);
    render::OverlayInfo o;
    o.show.scaleBar = true;
    o.unitsPerPixel = unitsPerPixel;
    o.unit = QStringLiteral("mm");
    o.ink = QColor(0, 0, 0);
    QImage picture(width, 200, QImage::Format_ARGB32);
    picture.fill(Qt::white);
    QPainter p(&picture);
    render::drawOverlays(p, o, width, 200);
    p.end();
    // The bar's middle row: its black run is the length in pixels.
    int longest = 0;
    for (int y = 150; y < 200; ++y) {
        int run = 0;
        for (int x = 0; x < width; ++x)
            run += picture.pixel(x, y) == qRgb(0, 0, 0);
        longest = std::max(longest, run);
    }
    QVERIFY2(std::abs(longest - length / unitsPerPixel) <= 1.0, qPrintable(QString::number(longest)));
}

void TestFigures::directionLabels_data()
{
    QTest::addColumn<Vec3>("v");
    QTest::addColumn<bool>("patient");
    QTest::addColumn<QList<double>>("axes");  // column, row and stack directions of the patient
    QTest::addColumn<QString>("label");
    const QList<double> axial{1, 0, 0, 0, 1, 0, 0, 0, 1};
    const QList<double> coronal{1, 0, 0, 0, 0, -1, 0, 1, 0};
    QTest::newRow("axial, columns to the left") << Vec3{1, 0, 0} << true << axial << "L";
    QTest::newRow("axial, against the columns") << Vec3{-1, 0, 0} << true << axial << "R";
    QTest::newRow("axial, rows to the back") << Vec3{0, 1, 0} << true << axial << "P";
    QTest::newRow("axial, stack to the head") << Vec3{0, 0, -1} << true << axial << "I";
    QTest::newRow("axial, left and back") << Vec3{0.8, 0.6, 0} << true << axial << "LP";
    QTest::newRow("axial, mostly left") << Vec3{0.95, 0.2, 0.2} << true << axial << "L";
    QTest::newRow("coronal, rows to the feet") << Vec3{0, 1, 0} << true << coronal << "I";
    QTest::newRow("coronal, stack to the back") << Vec3{0, 0, 1} << true << coronal << "P";
    QTest::newRow("no patient axes") << Vec3{0.2, -0.9, 0.1} << false << axial << "-y";
}

void TestFigures::directionLabels()
{
    QFETCH(Vec3, v);
    QFETCH(bool, patient);
    QFETCH(QList<double>, axes);
    QFETCH(QString, label);
    PatientAxes a;
    a.known = patient;
    for (int i = 0; i < 3; ++i) {
        a.column[i] = axes[i];
        a.row[i] = axes[3 + i];
        a.stack[i] = axes[6 + i];
    }
    QCOMPARE(render::directionLabel(v, a), label);
}

// Overlays switched on reach the picture drawn and the saved raster picture; in an
// SVG they are vector text and shapes over a picture without them.
void TestFigures::overlaysInPictures()
{
    QTemporaryDir dir;
    const auto set = makeSet(Kind::Grey, 29, 25, 13);
    set->spacingUnit = QStringLiteral("mm");
    Scene sc;
    sc.width = sc.frameWidth = 320;
    sc.height = sc.frameHeight = 240;
    sc.view.scale = 0.25;
    SceneLayer layer;
    layer.set = set.get();
    layer.minTh = 10;
    layer.maxTh = 200;
    sc.layers.push_back(layer);
    render::Renderer renderer;
    const QImage plain = renderer.renderScene(sc);
    sc.overlays.scaleBar = sc.overlays.orientation = sc.overlays.colorBar = true;
    const QImage marked = renderer.renderScene(sc);
    QVERIFY(plain != marked);
    // The colour bar's top is the top of the set's colours, at the right.
    mip::Params pr;
    pr.vColor = layer.vColor;
    bool topColour = false;
    for (int x = 200; x < 320 && !topColour; ++x)
        for (int y = 40; y < 120 && !topColour; ++y)
            topColour = marked.pixel(x, y) == mip::volumeRgb(pr, 255.0);
    QVERIFY(topColour);
    QString why;
    QVERIFY2(renderer.writeScene(dir.filePath("f.svg"), sc, &why), qPrintable(why));
    QFile f(dir.filePath("f.svg"));
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QByteArray svg = f.readAll();
    QVERIFY(svg.contains("10 mm"));  // 320 / 5 * 0.25 = 16: a bar of 10
    QVERIFY(svg.contains(">+x<") && svg.contains(">-y<"));
    const QRegularExpression data(QStringLiteral("data:image/png;base64,([A-Za-z0-9+/=\\s]+)"));
    const QRegularExpressionMatch m = data.match(QString::fromLatin1(svg));
    QVERIFY(m.hasMatch());
    const QImage embedded = QImage::fromData(QByteArray::fromBase64(m.captured(1).toLatin1()), "PNG");
    QVERIFY(fixtures::firstDifference(embedded, plain).isEmpty());
}

void TestFigures::sessionOverlays_data()
{
    QTest::addColumn<QByteArray>("overlays");  // the session's "overlays", or empty to leave it out
    QTest::addColumn<QString>("error");
    QTest::addColumn<int>("shown");  // scale bar 1, directions 2, colour bar 4
    QTest::newRow("a file from before: none") << QByteArray() << QString() << 0;
    QTest::newRow("all three") << QByteArray(R"({"scaleBar": true, "orientation": true, "colorBar": true})")
                               << QString() << 7;
    QTest::newRow("the colour bar only") << QByteArray(R"({"colorBar": true})") << QString() << 4;
    QTest::newRow("unknown overlay") << QByteArray(R"({"grid": true})") << "overlays.grid: unknown key" << 0;
    QTest::newRow("not a switch") << QByteArray(R"({"scaleBar": 1})") << "overlays.scaleBar: not true or false" << 0;
}

void TestFigures::sessionOverlays()
{
    QFETCH(QByteArray, overlays);
    QFETCH(QString, error);
    QFETCH(int, shown);
    QJsonObject root = QJsonDocument::fromJson(sessionToJson(Session(), QDir("/data"))).object();
    root.remove("overlays");
    if (!overlays.isEmpty())
        root.insert("overlays", QJsonDocument::fromJson(overlays).object());
    Session read;
    QString why;
    QCOMPARE(sessionFromJson(QJsonDocument(root).toJson(), QDir("/data"), read, &why), error.isEmpty());
    QCOMPARE(why, error);
    if (!error.isEmpty())
        return;
    const int got = (read.overlays.scaleBar ? 1 : 0) | (read.overlays.orientation ? 2 : 0)
        | (read.overlays.colorBar ? 4 : 0);
    QCOMPARE(got, shown);
    Session again;
    QVERIFY(sessionFromJson(sessionToJson(read, QDir("/data")), QDir("/data"), again, &why));
    QCOMPARE(again.overlays.colorBar, read.overlays.colorBar);
    QCOMPARE(again.overlays.scaleBar, read.overlays.scaleBar);
}

void TestFigures::renderCommandOptions_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("said");  // part of the one line on a bad command line
    QTest::newRow("every choice, as a session holds them")
        << QStringList{"--projection", "composite", "--interpolation", "linear", "--colormap", "viridis", "--gamma",
                       "0.7", "--above", "saturate", "--background", "black", "--overlays", "scalebar,colorbar"}
        << 0 << "";
    QTest::newRow("minimum, hot, directions")
        << QStringList{"--projection", "minimum", "--colormap", "HOT", "--overlays", "orientation"} << 0 << "";
    QTest::newRow("the window in the set's units") << QStringList{"--window", "0,200"} << 0 << "";
    QTest::newRow("unknown projection") << QStringList{"--projection", "sum"} << 2 << "--projection takes";
    QTest::newRow("gamma 0") << QStringList{"--gamma", "0"} << 2 << "--gamma takes";
    QTest::newRow("one window end") << QStringList{"--window", "5"} << 2 << "--window takes";
    QTest::newRow("window upside down") << QStringList{"--window", "9,3"} << 2 << "--window takes";
    QTest::newRow("unknown background") << QStringList{"--background", "pink"} << 2 << "--background takes";
    QTest::newRow("unknown overlay") << QStringList{"--overlays", "scalebar,grid"} << 2 << "--overlays takes";
    QTest::newRow("unknown top rule") << QStringList{"--above", "clip"} << 2 << "--above takes";
    QTest::newRow("unknown map") << QStringList{"--colormap", "jet"} << 2 << "--colormap takes one of ramp";
}

// oxa-render's drawing options give the picture of a session holding the same
// choices for its set; --window sets the window in the set's units; bad values are
// refused with one line and status 2.
void TestFigures::renderCommandOptions()
{
    QFETCH(QStringList, options);
    QFETCH(int, status);
    QFETCH(QString, said);
    QTemporaryDir dir;
    QStringList files;
    for (int z = 0; z < 6; ++z) {
        QImage img(24, 20, QImage::Format_Grayscale8);
        for (int y = 0; y < 20; ++y)
            for (int x = 0; x < 24; ++x)
                img.scanLine(y)[x] = uchar(x == 5 && y == 5 ? 100 : std::min(255.0, voxel(x, y, z, 24, 20, 6)));
        files << dir.filePath(QStringLiteral("s%1.png").arg(z));
        QVERIFY(img.save(files.last()));
    }
    auto render = [&](const QStringList &args, QString *text) {
        QString out;
        QTextStream o(&out), e(text);
        return runRenderCommand(QStringList{"oxa-render"} + args, o, e);
    };
    QString message;
    const QString withOptions = dir.filePath("options.png");
    const int got = render(files + QStringList{"-o", withOptions, "--size", "24x20"} + options, &message);
    QCOMPARE(got, status);
    if (status != 0) {
        QVERIFY2(message.contains(said), qPrintable(message));
        QCOMPARE(message.count(QLatin1Char('\n')), 1);
        return;
    }
    const QImage picture(withOptions);
    if (options.contains("--window")) {
        // Voxel (5, 5) holds 100 in every slice: half way up the window 0 .. 200.
        mip::Params pr;
        pr.vColor = QColor(0, 127, 127);
        QCOMPARE(QColor(picture.pixel(5, 5)), QColor(mip::volumeRgb(pr, 128.0)));
        return;
    }
    // The same choices from a session of these files.
    Session s;
    s.width = 24;
    s.height = 20;
    s.view.nz = Vec3{0, 0, 1};
    SessionSet set;
    set.files = files;
    set.csNz = s.view.nz;
    QString why;
    {
        SliceDatas loaded;
        loaded.filesSelected(files);
        SliceDatas::ReadGuard guard(loaded);
        static_cast<LayerSettings &>(set) = settingsAfterLoad(set, loadOutcomeOf(loaded));
    }
    QCommandLineParser parser;
    DrawingOptions::addTo(parser);
    QVERIFY(parser.parse(QStringList{"oxa-render"} + options));
    DrawingOptions drawing;
    QVERIFY(drawing.readFrom(parser, &why));
    drawing.applyTo(set);
    Scene probe;
    drawing.applyTo(probe);
    s.background = probe.background;
    s.overlays = probe.overlays;
    s.sets = {set};
    QVERIFY(writeSessionFile(dir.filePath("s.oxa"), s, &why));
    const QString fromSession = dir.filePath("session.png");
    QCOMPARE(render({"--session", dir.filePath("s.oxa"), "-o", fromSession}, &message), 0);
    const QString diff = fixtures::firstDifference(picture, QImage(fromSession));
    QVERIFY2(diff.isEmpty(), qPrintable(diff));
    QCOMPARE(render(files + QStringList{"-o", dir.filePath("plain.png"), "--size", "24x20"}, &message), 0);
    QVERIFY(picture != QImage(dir.filePath("plain.png")));
}

void TestFigures::renderCommandScale_data()
{
    QTest::addColumn<QStringList>("view");
    QTest::addColumn<int>("times");
    QTest::newRow("fitted, twice") << QStringList{"--fit"} << 2;
    QTest::newRow("turned, three times") << QStringList{"--turn", "30,-20"} << 3;
}

// oxa-render --scale N draws the picture of N times the pixels that frames the
// same view: the set and its frame lie where they lie in the picture drawn without
// the option, N times larger, to within one of its pixels.
void TestFigures::renderCommandScale()
{
    QFETCH(QStringList, view);
    QFETCH(int, times);
    QTemporaryDir dir;
    QStringList files;
    for (int z = 0; z < 12; ++z) {
        QImage img(24, 20, QImage::Format_Grayscale8);
        for (int y = 0; y < 20; ++y)
            for (int x = 0; x < 24; ++x)
                img.scanLine(y)[x] = uchar(std::min(255.0, voxel(x, y, z, 24, 20, 12)));
        files << dir.filePath(QStringLiteral("s%1.png").arg(z, 2, 10, QLatin1Char('0')));
        QVERIFY(img.save(files.last()));
    }
    auto render = [&](const QString &name, const QStringList &more) {
        QString said;
        QTextStream out(&said), err(&said);
        const int status = runRenderCommand(
            QStringList{"oxa-render"} + files + QStringList{"-o", dir.filePath(name), "--size", "40x30"} + view + more,
            out, err);
        return status == 0 ? QImage(dir.filePath(name)) : QImage();
    };
    const QImage one = render("one.png", {});
    const QImage many = render("many.png", {"--scale", QString::number(times)});
    QCOMPARE(many.size(), one.size() * times);
    // The set and its frame fill the same part of both pictures.
    auto drawnBox = [](const QImage &img) {
        QRect box;
        for (int y = 0; y < img.height(); ++y)
            for (int x = 0; x < img.width(); ++x)
                if (img.pixel(x, y) != qRgb(255, 255, 255))
                    box |= QRect(x, y, 1, 1);
        return box;
    };
    const QRect small = drawnBox(one), large = drawnBox(many);
    QVERIFY(small.isValid() && small != one.rect());
    for (auto [a, b] : {std::pair{small.left() * times, large.left()}, std::pair{small.top() * times, large.top()},
                        std::pair{(small.right() + 1) * times, large.right() + 1},
                        std::pair{(small.bottom() + 1) * times, large.bottom() + 1}})
        QVERIFY2(std::abs(a - b) <= times, qPrintable(QStringLiteral("%1 against %2").arg(a).arg(b)));
    QString said;
    QTextStream out(&said), err(&said);
    QCOMPARE(runRenderCommand({"oxa-render", files.first(), "-o", dir.filePath("x.png"), "--scale", "0"}, out, err), 2);
}

QTEST_MAIN(TestFigures)
#include "tst_figures.moc"
