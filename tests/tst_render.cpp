#include <QPainter>
#include <QRandomGenerator>
#include <QTest>

#include <cmath>
#include <memory>

#include "data/slicedata.h"
#include "data/slicedatas.h"
#include "render/mip.h"
#include "render/renderer.h"
#include "render/scene.h"
#include "ui/ctview.h"
#include "ui/slicesctrl.h"

struct CtViewTestAccess {
    static void paintADataSet(CtView &v, QPainter &p, SlicesCtrl *s, int sw, int sh, int pw, int ph)
    {
        v.paintADataSet(p, s, sw, sh, pw, ph);
    }
    static void paintPImg(CtView &v) { v.paintPImg(); }
    static void paintPImg0(CtView &v, QPainter &p, int pw, int ph) { v.paintPImg0(p, pw, ph); }
    static void frame(CtView &v, QPainter &p, int ss, int sw, int sh, bool temae, QColor c)
    {
        v.paintADataFrame(p, ss, sw, sh, temae, c);
    }
    static void setRasterPath(CtView &v, bool on) { v.renderer_->setRasterPathEnabled(on); }
    static render::Renderer &renderer(CtView &v) { return *v.renderer_; }
};

namespace {

enum class Kind { Grey, Grid, Indexed, Rgb32, Rgb888, Argb32Pm, Grey16, Grey16Rescaled, Floats };

// A deterministic volume: blobs of several strengths plus noise.
double voxel(int x, int y, int z, int sw, int sh, int ss, quint32 seed)
{
    const double cx = x - sw / 2.0, cy = y - sh / 2.0, cz = z - ss / 2.0;
    double v = 0;
    if (cx * cx / (0.16 * sw * sw) + cy * cy / (0.1 * sh * sh) + cz * cz / (0.2 * ss * ss + 1) < 1)
        v = 120;
    if ((cx - 2) * (cx - 2) + (cy + 1) * (cy + 1) + cz * cz < 0.02 * (sw * sw + sh * sh))
        v = 230;
    const quint32 h = (quint32(x) * 73856093u) ^ (quint32(y) * 19349663u) ^ (quint32(z) * 83492791u) ^ seed;
    return v + double(h % 23);
}

// Sparse bright dots over a dim ramp that falls along the stack: a drawing passes
// over many blocks of values, but must never pass over a dot or the cut face.
double dots(int x, int y, int z, int, int, int ss, quint32 seed)
{
    const quint32 h =
        ((quint32(x) * 73856093u) ^ (quint32(y) * 19349663u) ^ (quint32(z) * 83492791u) ^ seed) * 2654435761u;
    return 20 + ss - z + ((h >> 7) % 1009 == 0 ? 90.0 + (h >> 16) % 140 : 0.0);
}

using VoxelFn = double (*)(int, int, int, int, int, int, quint32);

SliceData *makeSlice(Kind kind, int sw, int sh, int ss, int z, quint32 seed, VoxelFn voxel = ::voxel)
{
    auto *s = new SliceData;
    s->width = sw;
    s->height = sh;
    s->minV = 1e300;
    s->maxV = -1e300;
    if (kind == Kind::Grey16 || kind == Kind::Grey16Rescaled) {
        // Stored values over the whole 16-bit range; the rescaled kind as a signed
        // CT slice with a slope that is not a power of two.
        s->isImage = true;
        QImage img(sw, sh, QImage::Format_Grayscale16);
        for (int y = 0; y < sh; ++y)
            for (int x = 0; x < sw; ++x)
                reinterpret_cast<quint16 *>(img.scanLine(y))[x] =
                    quint16(std::min(65535.0, voxel(x, y, z, sw, sh, ss, seed) * 251.0 + x));
        if (kind == Kind::Grey16Rescaled) {
            s->storedBias = 32768;
            s->rescaleSlope = 0.37;
            s->rescaleIntercept = -1024.0;
        }
        s->image = img;
    } else if (kind == Kind::Floats) {
        s->isImage = false;
        s->floats.resize(size_t(sw) * size_t(sh));
        for (int y = 0; y < sh; ++y)
            for (int x = 0; x < sw; ++x)
                s->floats[size_t(y) * size_t(sw) + size_t(x)] = float(voxel(x, y, z, sw, sh, ss, seed) * 0.013 - 1.1);
    } else if (kind == Kind::Grid) {
        s->isImage = false;
        s->values.assign(size_t(sh), std::vector<double>(size_t(sw), 0.0));
        for (int y = 0; y < sh; ++y)
            for (int x = 0; x < sw; ++x)
                s->values[size_t(y)][size_t(x)] = voxel(x, y, z, sw, sh, ss, seed) * 0.37 - 5.0;
    } else {
        s->isImage = true;
        QImage img(sw, sh, QImage::Format_Grayscale8);
        for (int y = 0; y < sh; ++y)
            for (int x = 0; x < sw; ++x)
                img.scanLine(y)[x] = uchar(std::min(255.0, voxel(x, y, z, sw, sh, ss, seed)));
        if (kind == Kind::Indexed) {
            QList<QRgb> table;
            for (int i = 0; i < 256; ++i)
                table.append(qRgb(255 - i, i / 2, i));
            img = img.convertToFormat(QImage::Format_Indexed8, table);
        } else if (kind == Kind::Rgb32) {
            img = img.convertToFormat(QImage::Format_RGB32);
        } else if (kind == Kind::Argb32Pm) {
            // Translucent pixels: the value is the blue byte as stored.
            QImage c(sw, sh, QImage::Format_ARGB32_Premultiplied);
            for (int y = 0; y < sh; ++y)
                for (int x = 0; x < sw; ++x) {
                    const int g = img.scanLine(y)[x], a = 128 + (x * 7 + y * 3 + z) % 128;
                    c.setPixel(x, y, qRgba(g * a / 255, (x * 5) % 256 * a / 255, g * a / 255, a));
                }
            img = c;
        } else if (kind == Kind::Rgb888) {
            img = img.convertToFormat(QImage::Format_RGB888);
        }
        s->image = img;
    }
    for (int y = 0; y < sh; ++y)
        for (int x = 0; x < sw; ++x) {
            s->minV = std::min(s->minV, s->value(x, y));
            s->maxV = std::max(s->maxV, s->value(x, y));
        }
    return s;
}

// Slice z of kind kinds[z % kinds.size()].
void fillSet(SlicesCtrl *c, const QList<int> &kinds, int sw, int sh, int ss, quint32 seed, VoxelFn voxel = ::voxel)
{
    SliceDatas &set = c->sliceDatas;
    set.width = sw;
    set.height = sh;
    set.minV = 1e300;
    set.maxV = -1e300;
    for (int z = 0; z < ss; ++z) {
        SliceData *s = makeSlice(Kind(kinds[z % kinds.size()]), sw, sh, ss, z, seed, voxel);
        set.minV = std::min(set.minV, s->minV);
        set.maxV = std::max(set.maxV, s->maxV);
        set.slices.push_back(s);
    }
    set.loaded = true;
    c->rMinV_->setText(QString::number(set.minV, 'g', 6));
    c->rMaxV_->setText(QString::number(set.maxV, 'g', 6));
}

void fillSet(SlicesCtrl *c, Kind kind, int sw, int sh, int ss, quint32 seed)
{
    fillSet(c, QList<int>{int(kind)}, sw, sh, ss, seed);
}

Vec3 rotate(const Vec3 &v, const Vec3 &axis, double th)
{
    const double c = std::cos(th), s = std::sin(th), a = axis.x, b = axis.y, k = axis.z;
    return Vec3{v.x * (c + a * a * (1 - c)) + v.y * (a * b * (1 - c) + k * s) + v.z * (a * k * (1 - c) - b * s),
                v.x * (a * b * (1 - c) - k * s) + v.y * (c + b * b * (1 - c)) + v.z * (b * k * (1 - c) + a * s),
                v.x * (a * k * (1 - c) + b * s) + v.y * (b * k * (1 - c) - a * s) + v.z * (c + k * k * (1 - c))};
}

void turn(CtView &w, const Vec3 &axis, double th)
{
    w.nx = rotate(w.nx, axis, th);
    w.ny = rotate(w.ny, axis, th);
    w.nz = rotate(w.nz, axis, th);
}

QString firstDifference(const QImage &a, const QImage &b)
{
    if (a.size() != b.size() || a.format() != b.format())
        return QStringLiteral("size or format differs");
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x)
            if (a.pixel(x, y) != b.pixel(x, y))
                return QStringLiteral("pixel (%1, %2): raster %3, reference %4")
                    .arg(x)
                    .arg(y)
                    .arg(a.pixel(x, y), 8, 16, QLatin1Char('0'))
                    .arg(b.pixel(x, y), 8, 16, QLatin1Char('0'));
    return QString();
}

// Draws the whole picture twice, with and without the raster path.
QString comparePaths(CtView &w, int pw, int ph, QColor *penFast = nullptr, QColor *penRef = nullptr)
{
    w.imgPixWidth_->setText(QString::number(pw));
    w.imgPixHeight_->setText(QString::number(ph));
    CtViewTestAccess::setRasterPath(w, true);
    CtViewTestAccess::paintPImg(w);
    const QImage fast = w.pImg;
    CtViewTestAccess::setRasterPath(w, false);
    CtViewTestAccess::paintPImg(w);
    const QImage ref = w.pImg;
    CtViewTestAccess::setRasterPath(w, true);
    if (penFast && penRef) {
        QImage a(pw, ph, QImage::Format_ARGB32), b(pw, ph, QImage::Format_ARGB32);
        a.fill(Qt::white);
        b.fill(Qt::white);
        QPainter pa(&a), pb(&b);
        SlicesCtrl *s = w.sCtrls.last();
        CtViewTestAccess::paintADataSet(w, pa, s, s->sliceDatas.width, s->sliceDatas.height, pw, ph);
        *penFast = pa.pen().color();
        CtViewTestAccess::setRasterPath(w, false);
        CtViewTestAccess::paintADataSet(w, pb, s, s->sliceDatas.width, s->sliceDatas.height, pw, ph);
        CtViewTestAccess::setRasterPath(w, true);
        *penRef = pb.pen().color();
    }
    return firstDifference(fast, ref);
}

}  // namespace

class TestRender : public QObject
{
    Q_OBJECT
private slots:
    void rasterMatchesReference_data();
    void rasterMatchesReference();
    void twoSetsWithFrames();
    void everyOpacityAndStrength();
    void initialViewSamplesColumnAndRow();
    void edgeOnPaintsNothing();
    void mappedPainterMatchesReference_data();
    void mappedPainterMatchesReference();
    void windowEnds_data();
    void windowEnds();
    void framePasses();
    void nullAndHugePictures_data();
    void nullAndHugePictures();
    void voxelSampling_data();
    void voxelSampling();
    void voxelsSeeSliceEdgeOn();
    void spacingStretchesLikeRepeatedVoxels_data();
    void spacingStretchesLikeRepeatedVoxels();
    void blocksPassedOver_data();
    void blocksPassedOver();
    void rendererLetsSetsGo_data();
    void rendererLetsSetsGo();
    void slabCopyMatchesReference_data();
    void slabCopyMatchesReference();
};

void TestRender::rasterMatchesReference_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("sw");
    QTest::addColumn<int>("sh");
    QTest::addColumn<int>("ss");
    QTest::addColumn<int>("pw");
    QTest::addColumn<int>("ph");
    QTest::addColumn<int>("view");  // 0 initial, 1 oblique, 2 edge-on, 3 oblique zoomed and panned
    QTest::addColumn<bool>("cut");
    QTest::addColumn<int>("slider");
    QTest::addColumn<int>("alpha");
    QTest::addColumn<double>("minPc");
    QTest::addColumn<double>("maxPc");

    const int grey = int(Kind::Grey), grid = int(Kind::Grid);
    QTest::newRow("grey initial even") << grey << 32 << 32 << 16 << 40 << 36 << 0 << false << 0 << 255 << 0.0 << 100.0;
    QTest::newRow("grey oblique odd") << grey << 31 << 27 << 13 << 45 << 39 << 1 << false << 0 << 255 << 0.0 << 100.0;
    QTest::newRow("grey oblique cut 0") << grey << 32 << 30 << 20 << 48 << 40 << 1 << true << 0 << 255 << 0.0 << 100.0;
    QTest::newRow("grey oblique cut -30 a128")
        << grey << 33 << 30 << 21 << 48 << 41 << 1 << true << -30 << 128 << 0.0 << 100.0;
    QTest::newRow("grey oblique cut 100")
        << grey << 24 << 24 << 12 << 37 << 33 << 1 << true << 100 << 128 << 10.0 << 90.0;
    QTest::newRow("grey oblique cut -100")
        << grey << 24 << 24 << 12 << 37 << 33 << 1 << true << -100 << 255 << 0.0 << 100.0;
    QTest::newRow("grey alpha 0") << grey << 24 << 24 << 12 << 30 << 30 << 1 << false << 0 << 0 << 0.0 << 100.0;
    QTest::newRow("grey edge-on") << grey << 24 << 24 << 12 << 30 << 30 << 2 << true << 20 << 255 << 0.0 << 100.0;
    QTest::newRow("grey zoomed panned") << grey << 40 << 40 << 18 << 50 << 44 << 3 << true << 50 << 200 << 20.0 << 70.0;
    QTest::newRow("grey all vanish") << grey << 24 << 24 << 12 << 30 << 30 << 1 << false << 0 << 255 << 200.0 << 300.0;
    QTest::newRow("grey degenerate window")
        << grey << 24 << 24 << 12 << 30 << 30 << 1 << true << 10 << 255 << 50.0 << 50.0;
    QTest::newRow("grey reversed window")
        << grey << 24 << 24 << 12 << 30 << 30 << 1 << true << 10 << 255 << 80.0 << 20.0;
    QTest::newRow("grid initial") << grid << 30 << 26 << 10 << 33 << 29 << 0 << false << 0 << 255 << 0.0 << 100.0;
    QTest::newRow("grid oblique cut") << grid << 29 << 26 << 11 << 35 << 31 << 1 << true << 15 << 128 << 5.0 << 95.0;
    QTest::newRow("grid zoomed") << grid << 29 << 26 << 11 << 35 << 31 << 3 << false << 0 << 77 << 0.0 << 100.0;
    QTest::newRow("indexed oblique cut") << int(Kind::Indexed) << 28 << 28 << 14 << 33 << 33 << 1 << true << -10 << 255
                                         << 0.0 << 100.0;
    QTest::newRow("rgb32 oblique") << int(Kind::Rgb32) << 28 << 28 << 14 << 33 << 33 << 1 << false << 0 << 180 << 0.0
                                   << 100.0;
    QTest::newRow("argb32 premultiplied oblique cut")
        << int(Kind::Argb32Pm) << 28 << 28 << 14 << 33 << 33 << 1 << true << 20 << 255 << 0.0 << 100.0;
    const int g16 = int(Kind::Grey16), g16r = int(Kind::Grey16Rescaled), fl = int(Kind::Floats);
    QTest::newRow("16-bit initial") << g16 << 32 << 30 << 16 << 40 << 36 << 0 << false << 0 << 255 << 0.0 << 100.0;
    QTest::newRow("16-bit oblique cut") << g16 << 31 << 27 << 13 << 45 << 39 << 1 << true << -30 << 128 << 10.0 << 90.0;
    QTest::newRow("16-bit rescaled initial")
        << g16r << 30 << 26 << 10 << 33 << 29 << 0 << false << 0 << 255 << 0.0 << 100.0;
    QTest::newRow("16-bit rescaled zoomed cut")
        << g16r << 29 << 26 << 11 << 35 << 31 << 3 << true << 40 << 200 << 20.0 << 70.0;
    QTest::newRow("floats initial") << fl << 30 << 26 << 10 << 33 << 29 << 0 << false << 0 << 255 << 0.0 << 100.0;
    QTest::newRow("floats oblique cut") << fl << 29 << 26 << 11 << 35 << 31 << 1 << true << 15 << 128 << 5.0 << 95.0;
    QTest::newRow("rgb888 oblique cut") << int(Kind::Rgb888) << 28 << 28 << 14 << 33 << 33 << 3 << true << 40 << 255
                                        << 0.0 << 100.0;
}

void TestRender::rasterMatchesReference()
{
    QFETCH(int, kind);
    QFETCH(int, sw);
    QFETCH(int, sh);
    QFETCH(int, ss);
    QFETCH(int, pw);
    QFETCH(int, ph);
    QFETCH(int, view);
    QFETCH(bool, cut);
    QFETCH(int, slider);
    QFETCH(int, alpha);
    QFETCH(double, minPc);
    QFETCH(double, maxPc);

    CtView w;
    SlicesCtrl *c = w.sCtrls.first();
    fillSet(c, Kind(kind), sw, sh, ss, 7u);
    c->minThPC_->setText(QString::number(minPc));
    c->maxThPC_->setText(QString::number(maxPc));
    c->alpha_->setText(QString::number(alpha));
    c->showCSection_->setChecked(cut);
    c->cSlider_->setValue(slider);
    if (view == 1 || view == 3) {
        turn(w, Vec3{0, 1, 0}, 0.5236);
        turn(w, Vec3{1, 0, 0}, 0.61);
    } else if (view == 2) {
        turn(w, Vec3{1, 0, 0}, M_PI / 2);
        w.nz.z = 0.0;
    }
    if (view == 3) {
        w.scale = 0.73;
        w.center = Vec3{2.5, -3.25, 1.0};
    }
    c->csNz = w.nz;
    QColor penFast, penRef;
    const QString diff = comparePaths(w, pw, ph, &penFast, &penRef);
    QVERIFY2(diff.isEmpty(), qPrintable(diff));
    QCOMPARE(penFast, penRef);
}

void TestRender::twoSetsWithFrames()
{
    CtView w;
    w.addSliceSet();
    fillSet(w.sCtrls[0], Kind::Grey, 30, 28, 14, 3u);
    fillSet(w.sCtrls[1], Kind::Grid, 22, 20, 9, 11u);
    w.sCtrls[1]->showCSection_->setChecked(true);
    w.sCtrls[1]->cSlider_->setValue(-20);
    turn(w, Vec3{0, 0, 1}, 0.3);
    turn(w, Vec3{1, 0, 0}, 0.8);
    for (SlicesCtrl *c : w.sCtrls)
        c->csNz = w.nz;
    const QString diff = comparePaths(w, 47, 43);
    QVERIFY2(diff.isEmpty(), qPrintable(diff));
}

void TestRender::everyOpacityAndStrength()
{
    // One slice holding every grey level, drawn over a picture that already
    // has colour in it, at every opacity: the raster path must blend exactly
    // like the per-point path for every strength and alpha.
    CtView w;
    w.addSliceSet();
    fillSet(w.sCtrls[0], Kind::Grid, 18, 18, 3, 2u);
    SlicesCtrl *c = w.sCtrls[1];
    SliceDatas &set = c->sliceDatas;
    auto *s = new SliceData;
    QImage img(16, 16, QImage::Format_Grayscale8);
    for (int i = 0; i < 256; ++i)
        img.scanLine(i / 16)[i % 16] = uchar(i);
    s->image = img;
    s->isImage = true;
    s->width = s->height = 16;
    s->minV = 0;
    s->maxV = 255;
    set.slices.push_back(s);
    set.width = set.height = 16;
    set.loaded = true;
    c->rMinV_->setText("-1");
    c->rMaxV_->setText("255");
    c->setVColor(QColor(13, 200, 77));
    for (int a = 0; a < 256; ++a) {
        c->alpha_->setText(QString::number(a));
        const QString diff = comparePaths(w, 16, 16);
        QVERIFY2(diff.isEmpty(), qPrintable(QStringLiteral("alpha %1: %2").arg(a).arg(diff)));
    }
}

void TestRender::initialViewSamplesColumnAndRow()
{
    // With the initial view and the picture the size of a slice, pixel (c, r)
    // shows the strongest value of column c, row r over the stack.
    CtView w;
    SlicesCtrl *c = w.sCtrls.first();
    fillSet(c, Kind::Grid, 12, 10, 5, 5u);
    const SliceDatas &set = c->sliceDatas;
    w.imgPixWidth_->setText("12");
    w.imgPixHeight_->setText("10");
    c->showFrame_->setChecked(false);
    for (bool raster : {true, false}) {
        CtViewTestAccess::setRasterPath(w, raster);
        CtViewTestAccess::paintPImg(w);
        const double lo = set.minTh, hi = set.maxTh;
        for (int r = 0; r < 10; ++r)
            for (int col = 0; col < 12; ++col) {
                double u = 0;
                for (const SliceData *s : set.slices)
                    u = std::max(u, mip::mapValue(s->value(col, r), lo, hi));
                const int g = u > 0 ? mip::strengthComponent(127, u) : 255;
                const int red = u > 0 ? mip::strengthComponent(0, u) : 255;
                QCOMPARE(qRed(w.pImg.pixel(col, r)), red);
                QCOMPARE(qGreen(w.pImg.pixel(col, r)), g);
            }
    }
    CtViewTestAccess::setRasterPath(w, true);
}

void TestRender::edgeOnPaintsNothing()
{
    CtView w;
    SlicesCtrl *c = w.sCtrls.first();
    fillSet(c, Kind::Grey, 16, 16, 8, 1u);
    c->showFrame_->setChecked(false);
    w.nx = Vec3{1, 0, 0};
    w.ny = Vec3{0, 0, 1};
    w.nz = Vec3{0, -1, 0};
    w.imgPixWidth_->setText("20");
    w.imgPixHeight_->setText("20");
    CtViewTestAccess::paintPImg(w);
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 20; ++x)
            QCOMPARE(w.pImg.pixel(x, y), qRgba(255, 255, 255, 255));
}

// A painter with a world, window or viewport mapping must get the same pixels
// whether or not the raster path is allowed: the mapping moves and scales every
// point, which only the paint engine does.
void TestRender::mappedPainterMatchesReference_data()
{
    QTest::addColumn<int>("mapping");
    QTest::newRow("world transform") << 0;
    QTest::newRow("window") << 1;
    QTest::newRow("viewport") << 2;
}

void TestRender::mappedPainterMatchesReference()
{
    QFETCH(int, mapping);
    CtView w;
    SlicesCtrl *c = w.sCtrls.first();
    fillSet(c, Kind::Grey, 16, 16, 8, 5u);
    turn(w, Vec3{0, 1, 0}, 0.4);
    const int pw = 24, ph = 20;
    QImage drawn[2];
    for (int raster = 0; raster < 2; ++raster) {
        drawn[raster] = QImage(pw, ph, QImage::Format_ARGB32);
        drawn[raster].fill(Qt::white);
        QPainter p(&drawn[raster]);
        if (mapping == 0)
            p.translate(3, 2);
        else if (mapping == 1)
            p.setWindow(0, 0, pw / 2, ph / 2);
        else
            p.setViewport(4, 3, pw, ph);
        CtViewTestAccess::setRasterPath(w, raster == 1);
        CtViewTestAccess::paintADataSet(w, p, c, c->sliceDatas.width, c->sliceDatas.height, pw, ph);
    }
    CtViewTestAccess::setRasterPath(w, true);
    QVERIFY(drawn[0] != QImage(pw, ph, QImage::Format_ARGB32));
    const QString diff = firstDifference(drawn[1], drawn[0]);
    QVERIFY2(diff.isEmpty(), qPrintable(diff));
}

void TestRender::windowEnds_data()
{
    QTest::addColumn<double>("value");
    QTest::addColumn<double>("expectedQ");
    QTest::newRow("minTh maps to nothing") << 10.0 << 0.0;
    QTest::newRow("maxTh vanishes") << 20.0 << 0.0;
    QTest::newRow("just below the top") << 19.96 << 254.976;
    QTest::newRow("top 1/256 vanishes") << 19.97 << 0.0;
    QTest::newRow("middle") << 15.0 << 128.0;
    QTest::newRow("below the window") << 5.0 << 0.0;
}

void TestRender::windowEnds()
{
    QFETCH(double, value);
    QFETCH(double, expectedQ);
    QVERIFY(std::fabs(mip::mapValue(value, 10.0, 20.0) - expectedQ) < 1e-9);
}

void TestRender::framePasses()
{
    // Initial view: the far pass draws the z = -ss/2 face, the near pass the
    // z = +ss/2 face, both the same rectangle centred on the picture.
    CtView w;
    w.pImg = QImage(41, 30, QImage::Format_ARGB32);
    for (bool temae : {false, true}) {
        w.pImg.fill(Qt::white);
        QPainter p(&w.pImg);
        CtViewTestAccess::frame(w, p, 4, 10, 6, temae, QColor(0, 0, 255));
        p.end();
        // W/2 = 20 (truncated), H/2 = 15: corners at columns 15 and 25, rows 12 and 18.
        QCOMPARE(w.pImg.pixel(15, 12), qRgb(0, 0, 255));
        QCOMPARE(w.pImg.pixel(25, 18), qRgb(0, 0, 255));
        QCOMPARE(w.pImg.pixel(20, 12), qRgb(0, 0, 255));
        QCOMPARE(w.pImg.pixel(20, 15), qRgb(255, 255, 255));
        QCOMPARE(w.pImg.pixel(14, 12), qRgb(255, 255, 255));
    }
    // Turned so nz has three non-zero components: three faces per pass.
    turn(w, Vec3{0, 1, 0}, 0.4);
    turn(w, Vec3{1, 0, 0}, 0.3);
    QImage far(41, 30, QImage::Format_ARGB32), near(41, 30, QImage::Format_ARGB32);
    far.fill(Qt::white);
    near.fill(Qt::white);
    QPainter pf(&far), pn(&near);
    CtViewTestAccess::frame(w, pf, 4, 10, 6, false, Qt::black);
    CtViewTestAccess::frame(w, pn, 4, 10, 6, true, Qt::black);
    pf.end();
    pn.end();
    QVERIFY(far != near);
}

void TestRender::nullAndHugePictures_data()
{
    QTest::addColumn<QString>("width");
    QTest::addColumn<QString>("height");
    QTest::newRow("zero") << "0"
                          << "256";
    QTest::newRow("negative") << "-5"
                              << "256";
    QTest::newRow("not a number") << "abc"
                                  << "256";
    QTest::newRow("too large") << "100000"
                               << "100000";
}

void TestRender::nullAndHugePictures()
{
    QFETCH(QString, width);
    QFETCH(QString, height);
    CtView w;
    fillSet(w.sCtrls.first(), Kind::Grey, 16, 16, 4, 1u);
    w.imgPixWidth_->setText(width);
    w.imgPixHeight_->setText(height);
    CtViewTestAccess::paintPImg(w);
    QVERIFY(w.pImg.isNull());
}

void TestRender::voxelSampling_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<double>("yaw");  // turn about the picture's vertical axis
    QTest::addColumn<double>("pitch");  // then about its horizontal axis
    QTest::addColumn<bool>("cut");
    QTest::addColumn<int>("alpha");

    const int grey = int(Kind::Grey), grid = int(Kind::Grid);
    QTest::newRow("grey along the stack, as slices") << grey << 0.3 << 0.2 << true << 255;
    QTest::newRow("grey steps along columns") << grey << 1.2 << 0.3 << false << 255;
    QTest::newRow("grey exactly from the side") << grey << M_PI / 2 << 0.0 << true << 200;
    QTest::newRow("grey steps along rows, cut") << grey << 0.2 << 1.25 << true << 128;
    QTest::newRow("grid steps along columns, cut") << grid << -1.3 << 0.4 << true << 255;
    QTest::newRow("grid steps along rows") << grid << 0.1 << -1.4 << false << 90;
    QTest::newRow("rgb888 steps along rows") << int(Kind::Rgb888) << 0.5 << 1.1 << true << 255;
}

// "Voxels": the raster path (the set re-cut into column or row planes) and the
// per-point path give the same pixels for every stepping axis and slice kind.
void TestRender::voxelSampling()
{
    QFETCH(int, kind);
    QFETCH(double, yaw);
    QFETCH(double, pitch);
    QFETCH(bool, cut);
    QFETCH(int, alpha);
    CtView w;
    w.addSliceSet();
    SlicesCtrl *c = w.sCtrls[1];
    fillSet(w.sCtrls[0], Kind::Grey, 20, 18, 9, 5u);
    fillSet(c, Kind(kind), 29, 23, 13, 9u);
    w.sampling_->setCurrentIndex(1);
    c->alpha_->setText(QString::number(alpha));
    c->showCSection_->setChecked(cut);
    c->cSlider_->setValue(-15);
    turn(w, w.ny, yaw);
    turn(w, w.nx, pitch);
    c->csNz = w.nz;
    w.scale = 0.8;
    QColor penFast, penRef;
    const QString diff = comparePaths(w, 41, 37, &penFast, &penRef);
    QVERIFY2(diff.isEmpty(), qPrintable(diff));
    QCOMPARE(penFast, penRef);
    // A second drawing takes the re-cut set from the cache and must not differ.
    QVERIFY(comparePaths(w, 41, 37).isEmpty());
}

// One bright slice seen exactly from the side: "Slices" samples nothing at all,
// "Voxels" shows the slice as a line across the picture.
void TestRender::voxelsSeeSliceEdgeOn()
{
    CtView w;
    SlicesCtrl *c = w.sCtrls.first();
    fillSet(c, Kind::Grey, 24, 24, 12, 1u);
    for (int z = 0; z < 12; ++z) {
        QImage &img = c->sliceDatas.slices[size_t(z)]->image;
        img.fill(z == 5 ? 200 : 10);
    }
    c->rMinV_->setText("10");
    c->rMaxV_->setText("255");
    c->showFrame_->setChecked(false);
    w.imgPixWidth_->setText("40");
    w.imgPixHeight_->setText("40");
    auto colouredRows = [&w](int sampling) {
        w.sampling_->setCurrentIndex(sampling);
        w.lookAlong(1);
        int rows = 0;
        for (int y = 0; y < w.pImg.height(); ++y) {
            int n = 0;
            for (int x = 0; x < w.pImg.width(); ++x)
                n += w.pImg.pixel(x, y) != qRgb(255, 255, 255);
            rows += n > w.pImg.width() / 2;
        }
        return rows;
    };
    QCOMPARE(colouredRows(0), 0);
    const int voxelRows = colouredRows(1);
    QVERIFY2(voxelRows >= 1 && voxelRows <= 4, qPrintable(QString::number(voxelRows)));
}

void TestRender::spacingStretchesLikeRepeatedVoxels_data()
{
    QTest::addColumn<int>("stretched");  // 0 columns, 2 slices
    QTest::addColumn<bool>("voxels");
    QTest::addColumn<double>("yaw");
    QTest::addColumn<double>("pitch");
    QTest::newRow("slices twice as thick, along the stack") << 2 << false << 0.0 << 0.0;
    QTest::newRow("slices twice as thick, from the side") << 2 << true << 1.3 << 0.2;
    QTest::newRow("slices twice as thick, from above") << 2 << true << 0.15 << 1.35;
    QTest::newRow("columns twice as wide, oblique") << 0 << false << 0.4 << 0.3;
}

// A set drawn with spacing 2 along one axis gives the picture of the same set with
// every voxel along that axis repeated: from the side, the first slice is no deeper
// than the others. (Its first column is empty in the row that stretches columns: a
// sample up to one column before the volume still counts, and that column is twice
// as wide.)
void TestRender::spacingStretchesLikeRepeatedVoxels()
{
    QFETCH(int, stretched);
    QFETCH(bool, voxels);
    QFETCH(double, yaw);
    QFETCH(double, pitch);
    const int sw = 21, sh = 17, ss = 9;
    SliceDatas thin, repeated;
    for (int z = 0; z < ss; ++z) {
        SliceData *s = makeSlice(Kind::Grey, sw, sh, ss, z, 3u);
        for (int y = 0; y < sh; ++y)
            for (int x = 0; x < sw; ++x)
                if (stretched == 0 && x == 0)
                    s->image.setPixel(x, y, 0);
        thin.slices.push_back(s);
        if (stretched == 2) {
            repeated.slices.push_back(new SliceData(*s));
            repeated.slices.push_back(new SliceData(*s));
        } else {
            auto *wide = new SliceData;
            wide->image = QImage(2 * sw, sh, QImage::Format_Grayscale8);
            for (int y = 0; y < sh; ++y)
                for (int x = 0; x < 2 * sw; ++x)
                    wide->image.scanLine(y)[x] = s->image.constScanLine(y)[x / 2];
            wide->computeImageMinMax();
            repeated.slices.push_back(wide);
        }
    }
    thin.width = sw;
    thin.height = sh;
    repeated.width = stretched == 0 ? 2 * sw : sw;
    repeated.height = sh;
    thin.loaded = repeated.loaded = true;

    Scene a;
    a.width = a.frameWidth = 61;
    a.height = a.frameHeight = 53;
    a.view.sampling = voxels ? Sampling::Voxels : Sampling::Slices;
    a.view.scale = 0.9;
    a.view = render::turned(a.view, a.view.ny, yaw);
    a.view = render::turned(a.view, a.view.nx, pitch);
    SceneLayer layer;
    layer.minTh = 10;
    layer.maxTh = 260;
    Scene b = a;
    layer.set = &thin;
    layer.spacing = stretched == 2 ? Spacing{1, 1, 2} : Spacing{2, 1, 1};
    a.layers.push_back(layer);
    layer.set = &repeated;
    layer.spacing = Spacing();
    b.layers.push_back(layer);
    render::Renderer renderer;
    const QString diff = firstDifference(renderer.renderScene(a), renderer.renderScene(b));
    QVERIFY2(diff.isEmpty(), qPrintable(diff));
}

// A renderer keeps value blocks, re-cut planes and a coarse copy of each set it draws;
// a reload or the set's end lets them go through the set's own signals, with no call
// anyone must remember, also while the coarse copy is still being made.
void TestRender::rendererLetsSetsGo_data()
{
    QTest::addColumn<bool>("destroyed");
    QTest::addColumn<bool>("waitForCopy");
    QTest::newRow("reload") << false << true;
    QTest::newRow("set destroyed") << true << true;
    QTest::newRow("set destroyed while its coarse copy is made") << true << false;
}

void TestRender::rendererLetsSetsGo()
{
    QFETCH(bool, destroyed);
    QFETCH(bool, waitForCopy);
    const int sw = 40, sh = 36, ss = 33;
    auto set = std::make_unique<SliceDatas>();
    auto fill = [&] {
        for (int z = 0; z < ss; ++z)
            set->slices.push_back(makeSlice(Kind::Grey, sw, sh, ss, z, 5u));
        set->width = sw;
        set->height = sh;
        set->loaded = true;
    };
    fill();
    render::Renderer renderer;
    Scene sc;
    sc.width = sc.height = sc.frameWidth = sc.frameHeight = 48;
    SceneLayer layer;
    layer.set = set.get();
    layer.minTh = 0;
    layer.maxTh = 300;
    sc.layers.push_back(layer);
    const QImage first = renderer.renderScene(sc);  // value blocks of the slices
    sc.view = render::turned(sc.view, sc.view.ny, 1.4);
    sc.view.sampling = Sampling::Voxels;
    renderer.renderScene(sc);  // planes re-cut across the columns, with their blocks
    renderer.coarseCopy(*set);
    if (waitForCopy)
        renderer.waitForCoarseCopies();
    const SliceDatas *address = set.get();
    QCOMPARE(renderer.keptCopies(address), 3);

    if (destroyed) {
        set.reset();
    } else {
        set->clear();
        QCoreApplication::processEvents();
    }
    QCOMPARE(renderer.keptCopies(address), 0);
    if (destroyed)
        return;
    // Loaded again, the set is drawn as before and its copies are made anew.
    fill();
    sc.view = SceneView();
    const QString diff = firstDifference(renderer.renderScene(sc), first);
    QVERIFY2(diff.isEmpty(), qPrintable(diff));
    QCOMPARE(renderer.keptCopies(address), 1);
}

void TestRender::slabCopyMatchesReference_data()
{
    QTest::addColumn<QList<int>>("kinds");
    QTest::addColumn<int>("view");  // 0 oblique, 1 from behind, 2 across the stack, 3 along it, 4 zoomed out and panned
    QTest::addColumn<bool>("cut");
    QTest::addColumn<double>("maxPc");
    QTest::addColumn<qint64>("budget");  // the set's memory budget in bytes, 0 for the default
    QTest::addColumn<bool>("copied");

    const QList<int> grey{int(Kind::Grey)};
    const QList<int> pictures{int(Kind::Indexed), int(Kind::Rgb32), int(Kind::Argb32Pm), int(Kind::Rgb888),
                              int(Kind::Grey)};
    QTest::newRow("grey oblique") << grey << 0 << false << 100.0 << qint64(0) << true;
    QTest::newRow("grey from behind, cut, top of the window off") << grey << 1 << true << 70.0 << qint64(0) << true;
    QTest::newRow("grey across the stack, cut") << grey << 2 << true << 100.0 << qint64(0) << true;
    QTest::newRow("grey along the stack, cut") << grey << 3 << true << 100.0 << qint64(0) << true;
    QTest::newRow("8-bit kinds zoomed out, panned, cut") << pictures << 4 << true << 100.0 << qint64(0) << true;
    QTest::newRow("8-bit kinds from behind") << pictures << 1 << false << 100.0 << qint64(0) << true;
    QTest::newRow("with a 16-bit slice: no copy")
        << QList<int>{int(Kind::Grey), int(Kind::Grey16)} << 0 << false << 100.0 << qint64(0) << false;
    QTest::newRow("over the memory budget: no copy") << grey << 0 << true << 100.0 << qint64(100000) << false;
}

// Oblique views read large 8-bit sets from a copy in slabs of eight slices: over a
// stack whose sizes are no whole slabs (the last one short), every 8-bit picture kind,
// cuts, views from behind, across and along the stack, and rays that miss it, the
// picture is the per-point path's; a set that cannot be copied, or whose copy would
// not fit its memory budget, is drawn from its slices.
void TestRender::slabCopyMatchesReference()
{
    QFETCH(QList<int>, kinds);
    QFETCH(int, view);
    QFETCH(bool, cut);
    QFETCH(double, maxPc);
    QFETCH(qint64, budget);
    QFETCH(bool, copied);
    CtView w;
    SlicesCtrl *c = w.sCtrls.first();
    fillSet(c, kinds, 45, 39, 37, 11u);
    c->sliceDatas.setMemoryBudget(budget);
    c->maxThPC_->setText(QString::number(maxPc));
    c->showCSection_->setChecked(cut);
    c->cSlider_->setValue(-15);
    if (view == 1) {
        turn(w, w.ny, 2.6);
        turn(w, w.nx, 0.35);
    } else if (view == 2) {
        turn(w, w.ny, 1.35);
        turn(w, w.nx, 0.2);
    } else if (view != 3) {
        turn(w, w.ny, 0.5236);
        turn(w, w.nx, 0.61);
    }
    c->csNz = w.nz;
    w.scale = view == 4 ? 1.6 : 0.4;
    if (view == 4)
        w.center = Vec3{7.5, -5.25, 3.0};
    render::Renderer &renderer = CtViewTestAccess::renderer(w);
    renderer.setSlabCopies(render::Renderer::SlabCopies::Always);
    const QString diff = comparePaths(w, 131, 97);
    QVERIFY2(diff.isEmpty(), qPrintable(diff));
    // The value blocks, and the copy where there is one.
    QCOMPARE(renderer.keptCopies(&c->sliceDatas), copied ? 2 : 1);
}

QTEST_MAIN(TestRender)
#include "tst_render.moc"

void TestRender::blocksPassedOver_data()
{
    QTest::addColumn<QList<int>>("kinds");
    QTest::addColumn<int>("view");  // 0 oblique, 1 zoomed in, 2 from behind, 3 zoomed out and panned, 4 from the front
    QTest::addColumn<int>("sampling");
    QTest::addColumn<bool>("cut");
    QTest::addColumn<double>("minPc");
    QTest::addColumn<double>("maxPc");

    const QList<int> grey{int(Kind::Grey)};
    QTest::newRow("grey oblique") << grey << 0 << 0 << false << 0.0 << 100.0;
    QTest::newRow("grey zoomed in, top of the window off") << grey << 1 << 0 << false << 0.0 << 60.0;
    QTest::newRow("grey from behind, bottom off") << grey << 2 << 0 << false << 30.0 << 100.0;
    QTest::newRow("grey oblique cut") << grey << 0 << 0 << true << 0.0 << 100.0;
    QTest::newRow("grid zoomed out, cut") << QList<int>{int(Kind::Grid)} << 3 << 0 << true << 10.0 << 90.0;
    QTest::newRow("16-bit rescaled from behind")
        << QList<int>{int(Kind::Grey16Rescaled)} << 2 << 0 << false << 0.0 << 100.0;
    QTest::newRow("indexed zoomed in") << QList<int>{int(Kind::Indexed)} << 1 << 0 << false << 0.0 << 100.0;
    QTest::newRow("mixed formats oblique cut")
        << QList<int>{int(Kind::Grey), int(Kind::Grid), int(Kind::Grey16Rescaled), int(Kind::Floats),
                      int(Kind::Indexed)}
        << 0 << 0 << true << 0.0 << 100.0;
    QTest::newRow("grey from the front") << grey << 4 << 0 << false << 0.0 << 100.0;
    QTest::newRow("16-bit from the front, top off") << QList<int>{int(Kind::Grey16)} << 4 << 0 << false << 0.0 << 70.0;
    QTest::newRow("grey voxels across columns") << grey << 1 << 1 << false << 0.0 << 100.0;
    QTest::newRow("floats voxels across rows, cut") << QList<int>{int(Kind::Floats)} << 3 << 1 << true << 0.0 << 100.0;
}

// Groups of rays pass over blocks of values that cannot raise them: over sizes
// that are not whole blocks or tiles, every slice kind and a set mixing them, cuts,
// windows that map the brightest values to nothing, and both samplings, the
// picture is the per-point path's.
void TestRender::blocksPassedOver()
{
    QFETCH(QList<int>, kinds);
    QFETCH(int, view);
    QFETCH(int, sampling);
    QFETCH(bool, cut);
    QFETCH(double, minPc);
    QFETCH(double, maxPc);
    CtView w;
    SlicesCtrl *c = w.sCtrls.first();
    fillSet(c, kinds, 45, 39, 37, 3u, dots);
    c->minThPC_->setText(QString::number(minPc));
    c->maxThPC_->setText(QString::number(maxPc));
    c->showCSection_->setChecked(cut);
    c->cSlider_->setValue(-20);
    w.sampling_->setCurrentIndex(sampling);
    if (view == 2) {
        turn(w, w.ny, 2.6);
        turn(w, w.nx, 0.35);
    } else if (view != 4) {
        turn(w, w.ny, sampling ? 1.2 : 0.5236);
        turn(w, w.nx, sampling && view == 3 ? 1.3 : 0.61);
    }
    c->csNz = w.nz;
    w.scale = view == 1 ? 0.3 : view == 3 ? 1.4 : 0.45;
    if (view == 3)
        w.center = Vec3{6.5, -4.25, 2.0};
    const QString diff = comparePaths(w, 300, 97);
    QVERIFY2(diff.isEmpty(), qPrintable(diff));
}
