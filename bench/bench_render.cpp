// Renderer benchmark: a phantom of 256 slices of 256 x 256 pixels drawn
// through CtView::paintPImg with the initial and an oblique view, at 256 x 256
// and 1024 x 1024 pixels, on the raster path and the per-point path.
#include <QApplication>
#include <QImage>

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdlib>

#include "data/slicedata.h"
#include "data/slicedatas.h"
#include "render/mip.h"
#include "ui/ctview.h"
#include "ui/slicesctrl.h"

struct CtViewTestAccess {
    static void paintPImg(CtView &v) { v.paintPImg(); }
};

namespace {

constexpr int volSide = 256;

// Ellipsoids of several intensities, after the usual head phantom layout.
double phantom(double x, double y, double z)
{
    struct E { double cx, cy, cz, a, b, c, v; };
    static const E es[] = {
        {0, 0, 0, 0.69, 0.92, 0.81, 100},   {0, -0.0184, 0, 0.6624, 0.874, 0.78, -60},
        {0.22, 0, 0, 0.11, 0.31, 0.22, -20}, {-0.22, 0, 0, 0.16, 0.41, 0.28, -20},
        {0, 0.35, -0.15, 0.21, 0.25, 0.41, 30}, {0, 0.1, 0.25, 0.046, 0.046, 0.05, 60},
        {0, -0.1, 0.25, 0.046, 0.046, 0.05, 60}, {-0.08, -0.605, 0, 0.046, 0.023, 0.05, 80},
        {0.06, -0.605, 0, 0.023, 0.046, 0.02, 80},
    };
    double v = 0;
    for (const E &e : es) {
        const double dx = (x - e.cx) / e.a, dy = (y - e.cy) / e.b, dz = (z - e.cz) / e.c;
        if (dx * dx + dy * dy + dz * dz <= 1)
            v += e.v;
    }
    return v;
}

SliceData *phantomSlice(int z, bool grid)
{
    auto *s = new SliceData;
    s->width = s->height = volSide;
    QImage img(volSide, volSide, QImage::Format_Grayscale8);
    if (grid)
        s->values.assign(volSide, std::vector<double>(volSide, 0.0));
    for (int y = 0; y < volSide; ++y)
        for (int x = 0; x < volSide; ++x) {
            const double v = phantom(2.0 * x / volSide - 1, 2.0 * y / volSide - 1, 2.0 * z / volSide - 1);
            const int g = std::min(255, std::max(0, int(v * 2.0)));
            img.scanLine(y)[x] = uchar(g);
            if (grid)
                s->values[size_t(y)][size_t(x)] = v * 0.5 + 0.001 * x;
        }
    s->isImage = !grid;
    if (!grid)
        s->image = img;
    s->minV = 0;
    s->maxV = grid ? 130 : 255;
    return s;
}

struct Fixture {
    CtView view;
    explicit Fixture(bool grid)
    {
        SlicesCtrl *c = view.sCtrls.first();
        SliceDatas &set = c->sliceDatas;
        for (int z = 0; z < volSide; ++z)
            set.slices.push_back(phantomSlice(z, grid));
        set.width = set.height = volSide;
        set.minV = 0;
        set.maxV = grid ? 130 : 255;
        set.loaded = true;
        c->rMinV_->setText("0");
        c->rMaxV_->setText(grid ? "130" : "255");
        c->showFrame_->setChecked(true);
    }
    void setView(bool oblique)
    {
        view.nx = Vec3{1, 0, 0};
        view.ny = Vec3{0, 1, 0};
        view.nz = Vec3{0, 0, 1};
        if (oblique) {
            // 30 degrees about y, then 30 degrees about x.
            const double c = std::cos(M_PI / 6), s = std::sin(M_PI / 6);
            auto ry = [&](Vec3 v) { return Vec3{c * v.x - s * v.z, v.y, s * v.x + c * v.z}; };
            auto rx = [&](Vec3 v) { return Vec3{v.x, c * v.y + s * v.z, -s * v.y + c * v.z}; };
            view.nx = rx(ry(view.nx));
            view.ny = rx(ry(view.ny));
            view.nz = rx(ry(view.nz));
        }
        view.sCtrls.first()->csNz = view.nz;
    }
};

Fixture &fixture(bool grid)
{
    static Fixture *img = nullptr, *grd = nullptr;
    Fixture *&f = grid ? grd : img;
    if (!f)
        f = new Fixture(grid);
    return *f;
}

void BM_Render(benchmark::State &state)
{
    const bool oblique = state.range(0) != 0;
    const int size = int(state.range(1));
    const bool raster = state.range(2) != 0;
    const bool grid = state.range(3) != 0;
    Fixture &f = fixture(grid);
    f.setView(oblique);
    f.view.imgPixWidth_->setText(QString::number(size));
    f.view.imgPixHeight_->setText(QString::number(size));
    mip::setRasterPathEnabled(raster);
    for (auto _ : state) {
        CtViewTestAccess::paintPImg(f.view);
        benchmark::DoNotOptimize(f.view.pImg.constBits());
    }
    mip::setRasterPathEnabled(true);
    state.counters["samples/s"] = benchmark::Counter(double(size) * size * volSide * state.iterations(),
                                                     benchmark::Counter::kIsRate);
    state.SetLabel(std::string(grid ? "grid" : "picture") + (oblique ? " oblique " : " initial ")
                   + (raster ? "raster" : "per-point"));
}

}  // namespace

// Args: oblique, picture size, raster path, grid slices.
BENCHMARK(BM_Render)->Args({0, 256, 1, 0})->Args({1, 256, 1, 0})->Args({0, 1024, 1, 0})->Args({1, 1024, 1, 0})
    ->Args({1, 256, 1, 1})->Args({1, 1024, 1, 1})->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Render)->Args({0, 256, 0, 0})->Args({1, 256, 0, 0})->Args({1, 1024, 0, 0})->Args({1, 256, 0, 1})
    ->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

int main(int argc, char **argv)
{
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
