// Renderer benchmark: a phantom of 256 slices of 256 x 256 pixels drawn as the
// window draws its picture (a renderer's scene of the set as loaded into a panel),
// with the initial and an oblique view, at 256 x 256
// and 1024 x 1024 pixels, on the raster path and the per-point path; and the
// phantom turned and zoomed to fill the picture, at 256 and at 1024 slices of
// 1024 x 1024 pixels (1 GiB, BM_FilledBig, left out unless a filter names it),
// each beside a plain single-precision brute-force kernel on the same view; and
// the same views of volumes whose values rise along the rays, where no block of
// values can be passed over, and of the phantom with noise, as reconstructions are.
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QThreadPool>

#include <benchmark/benchmark.h>
#include <immintrin.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "data/slicedata.h"
#include "data/slicedatas.h"
#include "render/bricks.h"
#include "render/coarse.h"
#include "render/drawmodes.h"
#include "render/overlays.h"
#include "render/layersettings.h"
#include "render/mip.h"
#include "render/picking.h"
#include "render/renderer.h"
#include "render/sliceview.h"
#include "render/scene.h"

namespace {

constexpr int volSide = 256;

// Ellipsoids of several intensities, after the usual head phantom layout:
// centre, half axes and the value each adds.
struct E {
    double cx, cy, cz, a, b, c;
    int v;
};
const E es[] = {
    {0, 0, 0, 0.69, 0.92, 0.81, 100},          {0, -0.0184, 0, 0.6624, 0.874, 0.78, -60},
    {0.22, 0, 0, 0.11, 0.31, 0.22, -20},       {-0.22, 0, 0, 0.16, 0.41, 0.28, -20},
    {0, 0.35, -0.15, 0.21, 0.25, 0.41, 30},    {0, 0.1, 0.25, 0.046, 0.046, 0.05, 60},
    {0, -0.1, 0.25, 0.046, 0.046, 0.05, 60},   {-0.08, -0.605, 0, 0.046, 0.023, 0.05, 80},
    {0.06, -0.605, 0, 0.023, 0.046, 0.02, 80},
};

double phantom(double x, double y, double z)
{
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

// The set as a panel holds it after a load, and the window's renderer and scene.
struct Fixture {
    SliceDatas set;
    render::Renderer renderer;
    Scene scene;
    explicit Fixture(bool grid)
    {
        for (int z = 0; z < volSide; ++z)
            set.slices.push_back(phantomSlice(z, grid));
        set.width = set.height = volSide;
        set.minV = 0;
        set.maxV = grid ? 130 : 255;
        set.loaded = true;
        LayerSettings settings;
        settings.rangeMax = set.maxV;
        scene.layers.push_back(sceneLayer(settings, &set));
    }
    void setView(bool oblique)
    {
        SceneView &view = scene.view;
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
        scene.layers.front().csNz = view.nz;
    }
    // One frame as the window draws it: a new picture of the size, filled and drawn.
    QImage frame(int size)
    {
        scene.width = scene.height = scene.frameWidth = scene.frameHeight = size;
        QImage picture(size, size, QImage::Format_ARGB32);
        QPainter p(&picture);
        renderer.prepareVolumes(scene);
        renderer.drawScene(p, scene, size, size);
        p.end();
        return picture;
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
    f.renderer.setRasterPathEnabled(raster);
    for (auto _ : state) {
        const QImage picture = f.frame(size);
        benchmark::DoNotOptimize(picture.constBits());
    }
    f.renderer.setRasterPathEnabled(true);
    state.counters["samples/s"] =
        benchmark::Counter(double(size) * size * volSide * state.iterations(), benchmark::Counter::kIsRate);
    state.SetLabel(std::string(grid ? "grid" : "picture") + (oblique ? " oblique " : " initial ")
                   + (raster ? "raster" : "per-point"));
}

// A set of n slices of n x n grey pictures, slice z drawn by fill(z, picture).
template <typename Fill> SliceDatas *greySet(int n, Fill fill)
{
    auto *set = new SliceDatas;
    for (int z = 0; z < n; ++z) {
        auto *s = new SliceData;
        QImage img(n, n, QImage::Format_Grayscale8);
        fill(z, img);
        s->image = img;
        s->computeImageMinMax();
        set->slices.push_back(s);
    }
    set->width = set->height = n;
    set->minV = 0;
    set->maxV = 255;
    set->loaded = true;
    return set;
}

// The phantom, row by row: each ellipsoid covers one run of every row it crosses,
// so even 1 GiB is made in seconds.
SliceDatas *phantomSet(int n)
{
    std::vector<int> row(size_t(n), 0);
    return greySet(n, [&](int z, QImage &img) {
        const double pz = 2.0 * z / n - 1;
        for (int y = 0; y < n; ++y) {
            const double py = 2.0 * y / n - 1;
            std::fill(row.begin(), row.end(), 0);
            for (const E &e : es) {
                const double dy = (py - e.cy) / e.b, dz = (pz - e.cz) / e.c;
                const double r = 1.0 - dy * dy - dz * dz;
                if (r < 0)
                    continue;
                const double half = e.a * std::sqrt(r);
                const int x0 = std::max(0, int(std::ceil((e.cx - half + 1) * n / 2.0)));
                const int x1 = std::min(n - 1, int(std::floor((e.cx + half + 1) * n / 2.0)));
                for (int x = x0; x <= x1; ++x)
                    row[size_t(x)] += e.v;
            }
            uchar *line = img.scanLine(y);
            for (int x = 0; x < n; ++x)
                line[x] = uchar(std::clamp(row[size_t(x)] * 2, 0, 255));
        }
    });
}

// The ceiling: every ray in single precision, with no care for exactness, cut or
// opacity. Bands of 4096 rays are shared out on every core; each band visits the
// slices in turn and, for each, every one of its rays (so a slice's rows are read
// while they are in cache), keeps the largest byte, then colours it through a table.
// Sixteen rays at a time with AVX-512 where the processor has it.
void ceilingSlice(const uchar *slice, qsizetype bpl, float j, float fsw, float fsh, float nzx, float nzy, float invz,
                  const float *ox, const float *oy, const float *oz, int *best, int m)
{
    for (int i = 0; i < m; ++i) {
        const float t = (j - oz[i]) * invz;
        const float fx = ox[i] + t * nzx;
        const float fy = oy[i] + t * nzy;
        if (fx > -1.0f && fx < fsw && fy > -1.0f && fy < fsh)
            best[i] = std::max(best[i], int(slice[qsizetype(fy) * bpl + qsizetype(fx)]));
    }
}

#pragma GCC diagnostic push
// GCC 12 warns about the intrinsics' own undefined start values.
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
// The same, sixteen rays at a time: each byte comes from the aligned word that holds
// it (never past the end of a picture, whose size is a multiple of four bytes).
__attribute__((target("avx512f"))) void ceilingSliceAvx512(const uchar *slice, qsizetype bpl, float j, float fsw,
                                                           float fsh, float nzx, float nzy, float invz, const float *ox,
                                                           const float *oy, const float *oz, int *best, int m)
{
    const __m512 vj = _mm512_set1_ps(j), vinvz = _mm512_set1_ps(invz), vnzx = _mm512_set1_ps(nzx),
                 vnzy = _mm512_set1_ps(nzy), vlow = _mm512_set1_ps(-1.0f), vsw = _mm512_set1_ps(fsw),
                 vsh = _mm512_set1_ps(fsh);
    const __m512i vbpl = _mm512_set1_epi32(int(bpl)), three = _mm512_set1_epi32(3), bytes = _mm512_set1_epi32(0xff);
    for (int i = 0; i < m; i += 16) {
        const __mmask16 lanes = m - i >= 16 ? __mmask16(0xffff) : __mmask16((1u << (m - i)) - 1);
        const __m512 t = _mm512_mul_ps(_mm512_sub_ps(vj, _mm512_maskz_loadu_ps(lanes, oz + i)), vinvz);
        const __m512 fx = _mm512_add_ps(_mm512_maskz_loadu_ps(lanes, ox + i), _mm512_mul_ps(t, vnzx));
        const __m512 fy = _mm512_add_ps(_mm512_maskz_loadu_ps(lanes, oy + i), _mm512_mul_ps(t, vnzy));
        __mmask16 in = _mm512_mask_cmp_ps_mask(lanes, fx, vlow, _CMP_GT_OQ);
        in = _mm512_mask_cmp_ps_mask(in, fx, vsw, _CMP_LT_OQ);
        in = _mm512_mask_cmp_ps_mask(in, fy, vlow, _CMP_GT_OQ);
        in = _mm512_mask_cmp_ps_mask(in, fy, vsh, _CMP_LT_OQ);
        const __m512i idx =
            _mm512_add_epi32(_mm512_mullo_epi32(_mm512_cvttps_epi32(fy), vbpl), _mm512_cvttps_epi32(fx));
        const __m512i word =
            _mm512_mask_i32gather_epi32(_mm512_setzero_si512(), in, _mm512_andnot_si512(three, idx), slice, 1);
        const __m512i v =
            _mm512_and_si512(_mm512_srlv_epi32(word, _mm512_slli_epi32(_mm512_and_si512(idx, three), 3)), bytes);
        _mm512_mask_storeu_epi32(best + i, lanes, _mm512_max_epi32(_mm512_maskz_loadu_epi32(lanes, best + i), v));
    }
}
#pragma GCC diagnostic pop

void ceilingRender(const SliceDatas &set, const SceneView &v, QImage &out)
{
    const int pw = out.width(), ph = out.height();
    const int sw = set.width, sh = set.height, ss = int(set.slices.size());
    std::vector<const uchar *> bits(static_cast<size_t>(ss));
    for (int j = 0; j < ss; ++j)
        bits[size_t(j)] = set.slices[size_t(j)]->image.constBits();
    const qsizetype bpl = set.slices.front()->image.bytesPerLine();
    QRgb lut[256];
    for (int i = 0; i < 256; ++i)
        lut[i] = qRgb(255 - i, 255 - i / 2, 255 - i / 2);
    const float cx = float(v.center.x), cy = float(v.center.y), cz = float(v.center.z), sc = float(v.scale);
    const float nxx = float(v.nx.x), nxy = float(v.nx.y), nxz = float(v.nx.z);
    const float nyx = float(v.ny.x), nyy = float(v.ny.y), nyz = float(v.ny.z);
    const float nzx = float(v.nz.x), nzy = float(v.nz.y), invz = float(1.0 / v.nz.z);
    const float hw = sw / 2.0f, hh = sh / 2.0f, hs = ss / 2.0f;
    const float fsw = float(sw), fsh = float(sh);
    const int rowsPerBand = std::max(1, 4096 / pw);
    const bool avx512 = __builtin_cpu_supports("avx512f");
    std::atomic<int> nextRow{0};
    auto work = [&] {
        const size_t n = size_t(rowsPerBand) * size_t(pw);
        std::vector<float> ox(n), oy(n), oz(n);
        std::vector<int> best(n);
        for (int r0 = nextRow.fetch_add(rowsPerBand); r0 < ph; r0 = nextRow.fetch_add(rowsPerBand)) {
            const int rows = std::min(ph - r0, rowsPerBand);
            const int m = rows * pw;
            for (int i = 0; i < m; ++i) {
                const float a = i % pw - pw / 2.0f, b = r0 + i / pw - ph / 2.0f;
                ox[size_t(i)] = hw + cx + sc * (a * nxx + b * nyx);
                oy[size_t(i)] = hh + cy + sc * (a * nxy + b * nyy);
                oz[size_t(i)] = hs + cz + sc * (a * nxz + b * nyz);
                best[size_t(i)] = 0;
            }
            for (int j = 0; j < ss; ++j)
                (avx512 ? ceilingSliceAvx512 : ceilingSlice)(bits[size_t(j)], bpl, float(j), fsw, fsh, nzx, nzy, invz,
                                                             ox.data(), oy.data(), oz.data(), best.data(), m);
            for (int i = 0; i < m; ++i)
                reinterpret_cast<QRgb *>(out.scanLine(r0 + i / pw))[i % pw] = lut[best[size_t(i)]];
        }
    };
    std::vector<std::thread> pool;
    for (unsigned i = 1; i < std::max(1u, std::thread::hardware_concurrency()); ++i)
        pool.emplace_back(work);
    work();
    for (std::thread &t : pool)
        t.join();
}

// n slices of n x n grey pictures, slice j all of value j * 255 / (n - 1): seen
// from the front every block can raise every ray that reaches it, so nothing is
// passed over, the case the kernels alone decide.
SliceDatas *risingSet(int n)
{
    return greySet(n, [n](int z, QImage &img) { img.fill(uint(z * 255 / std::max(1, n - 1))); });
}

// The phantom with noise, as reconstructions have it: each voxel gets the sum of four
// uniform draws (bell-shaped, standard deviation 5 grey levels, 2 % of the range; bounded
// at 3.5 deviations) from a fixed-seed generator per slice, rounded and clamped to 8 bits.
// Like real reconstructions it compresses about twofold (gzip: 1.94 at 256 slices), and
// no block of values is empty: a ray has to read every block until it meets the skull.
SliceDatas *noisySet(int n)
{
    SliceDatas *set = phantomSet(n);
    for (int z = 0; z < n; ++z) {
        quint64 state = 0x9e3779b97f4a7c15ull * quint64(z + 1) ^ 0x2545f4914f6cdd1dull;
        QImage &img = set->slices[size_t(z)]->image;
        for (int y = 0; y < n; ++y) {
            uchar *line = img.scanLine(y);
            for (int x = 0; x < n; ++x) {
                state ^= state >> 12;
                state ^= state << 25;
                state ^= state >> 27;
                const quint64 r = state * 0x2545f4914f6cdd1dull;
                const double sum = double(r & 0xffff) + double((r >> 16) & 0xffff) + double((r >> 32) & 0xffff)
                    + double(r >> 48) - 131070.0;  // mean 0, deviation 37837
                const double v = line[x] + sum * (5.0 / 37837.0);
                line[x] = uchar(std::clamp(int(std::lround(v)), 0, 255));
            }
        }
        set->slices[size_t(z)]->computeImageMinMax();
    }
    return set;
}

// The volumes the filled cases draw.
enum class Volume { Phantom, Rising, Noisy };

const char *volumeName(Volume kind)
{
    return kind == Volume::Rising ? "rising" : kind == Volume::Noisy ? "noisy" : "phantom";
}

SliceDatas &filledSet(int n, Volume kind)
{
    static SliceDatas *sets[2][3] = {};
    SliceDatas *&s = sets[n > volSide][int(kind)];
    if (!s)
        s = kind == Volume::Rising ? risingSet(n) : kind == Volume::Noisy ? noisySet(n) : phantomSet(n);
    return *s;
}

// The volume filling a size x size picture, turned 30 degrees about y, then about
// x (as the oblique view above), through render::drawVolume on the raster path;
// `ceiling ms` and `x ceiling` set the brute-force kernel beside it (best of three).
// With a second argument of 1, the volume is drawn from the coarse copy a drag uses.
void filledCase(benchmark::State &state, int n)
{
    const int size = int(state.range(0));
    const bool coarse = state.range(1) != 0;
    const Volume kind = Volume(state.range(2));
    SliceDatas &set = filledSet(n, kind);
    Scene sc;
    const double c = std::cos(M_PI / 6), s = std::sin(M_PI / 6);
    auto ry = [&](Vec3 v) { return Vec3{c * v.x - s * v.z, v.y, s * v.x + c * v.z}; };
    auto rx = [&](Vec3 v) { return Vec3{v.x, c * v.y + s * v.z, -s * v.y + c * v.z}; };
    sc.view.nx = rx(ry(sc.view.nx));
    sc.view.ny = rx(ry(sc.view.ny));
    sc.view.nz = rx(ry(sc.view.nz));
    SceneLayer layer;
    layer.set = &set;
    layer.minTh = 0;
    layer.maxTh = 255;
    layer.showFrame = false;
    sc.layers.push_back(layer);
    const SceneView v = render::fitted(sc, size, size);
    render::CoarseCopies copies;
    if (coarse) {
        const auto b0 = std::chrono::steady_clock::now();
        copies.get(set);
        copies.waitForBuilds();
        state.counters["copy ms"] =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - b0).count();
        layer.coarse = copies.get(set);
        if (!layer.coarse) {
            state.SkipWithError("no coarse copy");
            return;
        }
    }

    QImage ceiling(size, size, QImage::Format_ARGB32);
    double ceilingMs = 1e300;
    for (int i = 0; i < (coarse ? 0 : 3); ++i) {
        const auto t0 = std::chrono::steady_clock::now();
        ceilingRender(set, v, ceiling);
        ceilingMs = std::min(ceilingMs,
                             std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count());
    }
    benchmark::DoNotOptimize(ceiling.constBits());

    QImage picture(size, size, QImage::Format_ARGB32);
    render::Renderer renderer;
    // What the renderer keeps of the set (value blocks) is made once, outside the timing.
    picture.fill(Qt::white);
    {
        QPainter p(&picture);
        renderer.drawVolume(p, v, layer, n, n, size, size);
    }
    double ms = 0;
    for (auto _ : state) {
        picture.fill(Qt::white);
        const auto t0 = std::chrono::steady_clock::now();
        QPainter p(&picture);
        renderer.drawVolume(p, v, layer, n, n, size, size);
        p.end();
        ms += std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
        benchmark::DoNotOptimize(picture.constBits());
    }
    if (!coarse) {
        // The drawing from the slices and from their slab copy, in turns (best of three
        // each), and the time the copy takes to make.
        double slicesMs = 1e300, slabsMs = 1e300;
        for (int i = 0; i < 3; ++i) {
            for (const auto use : {render::Renderer::SlabCopies::Never, render::Renderer::SlabCopies::Always}) {
                renderer.setSlabCopies(use);
                picture.fill(Qt::white);
                const auto t0 = std::chrono::steady_clock::now();
                QPainter p(&picture);
                renderer.drawVolume(p, v, layer, n, n, size, size);
                p.end();
                const double t =
                    std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
                // The first drawing from the copy makes it.
                if (i > 0 || use == render::Renderer::SlabCopies::Never)
                    (use == render::Renderer::SlabCopies::Never ? slicesMs : slabsMs) =
                        std::min(use == render::Renderer::SlabCopies::Never ? slicesMs : slabsMs, t);
            }
        }
        renderer.setSlabCopies(render::Renderer::SlabCopies::Auto);
        state.counters["slices ms"] = slicesMs;
        state.counters["slabs ms"] = slabsMs;
        state.counters["x slices"] = slabsMs / slicesMs;
        const auto b0 = std::chrono::steady_clock::now();
        const mip::SlabBytes copy =
            mip::slabBytes(set.slices, n, n, std::max(1, QThreadPool::globalInstance()->maxThreadCount()));
        benchmark::DoNotOptimize(copy.bytes.get());
        state.counters["slab copy ms"] =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - b0).count();
    }
    const double samples = double(size) * size * double(coarse ? layer.coarse->slices.size() : size_t(n));
    state.counters["samples/s"] = benchmark::Counter(samples * double(state.iterations()), benchmark::Counter::kIsRate);
    if (!coarse) {
        state.counters["ceiling ms"] = ceilingMs;
        state.counters["ceiling samples/s"] = samples / (ceilingMs / 1000.0);
        if (state.iterations() > 0)
            state.counters["x ceiling"] = ms / double(state.iterations()) / ceilingMs;
    }
    state.SetLabel(std::to_string(n) + " slices of " + std::to_string(n) + "^2 " + volumeName(kind)
                   + ", volume filling the picture" + (coarse ? ", coarse copy" : ""));
}

// The projections other than the largest value, and linear sampling, on the
// 256-slice volume filling a 1024 x 1024 picture, turned as above: each case times
// its own mode and, in the same run, the largest value with nearest sampling (best
// of three), and reports `x maximum`, its time over that one's.
void BM_Projection(benchmark::State &state)
{
    const Projection projection = Projection(state.range(0));
    const bool rising = state.range(1) != 0;
    const bool linear = state.range(2) != 0;
    const int size = 1024;
    SliceDatas &set = filledSet(volSide, rising ? Volume::Rising : Volume::Phantom);
    Scene sc;
    const double c = std::cos(M_PI / 6), s = std::sin(M_PI / 6);
    auto ry = [&](Vec3 v) { return Vec3{c * v.x - s * v.z, v.y, s * v.x + c * v.z}; };
    auto rx = [&](Vec3 v) { return Vec3{v.x, c * v.y + s * v.z, -s * v.y + c * v.z}; };
    sc.view.nx = rx(ry(sc.view.nx));
    sc.view.ny = rx(ry(sc.view.ny));
    sc.view.nz = rx(ry(sc.view.nz));
    SceneLayer layer;
    layer.set = &set;
    layer.minTh = 0;
    layer.maxTh = 255;
    layer.showFrame = false;
    sc.layers.push_back(layer);
    const SceneView v = render::fitted(sc, size, size);
    QImage picture(size, size, QImage::Format_ARGB32);
    render::Renderer renderer;
    auto draw = [&](const SceneLayer &l) {
        picture.fill(Qt::white);
        const auto t0 = std::chrono::steady_clock::now();
        QPainter p(&picture);
        renderer.drawVolume(p, v, l, volSide, volSide, size, size);
        p.end();
        return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
    };
    SceneLayer mode = layer;
    mode.projection = projection;
    mode.interpolation = linear ? Interpolation::Linear : Interpolation::Nearest;
    draw(mode);  // value blocks and blend tables made once, outside the timing
    double maximumMs = 1e300;
    for (int i = 0; i < 3; ++i)
        maximumMs = std::min(maximumMs, draw(layer));
    double ms = 0;
    for (auto _ : state) {
        ms += draw(mode);
        benchmark::DoNotOptimize(picture.constBits());
    }
    state.counters["maximum ms"] = maximumMs;
    if (state.iterations() > 0)
        state.counters["x maximum"] = ms / double(state.iterations()) / maximumMs;
    state.SetLabel(render::projectionKey(projection).toStdString() + (linear ? " linear" : "")
                   + (rising ? ", rising" : ", phantom"));
}

// The three overlays drawn over a 1024 x 1024 picture: scale bar, directions and
// one colour bar.
void BM_Overlays(benchmark::State &state)
{
    render::OverlayInfo o;
    o.show.scaleBar = o.show.orientation = o.show.colorBar = true;
    o.unitsPerPixel = 0.25;
    o.unit = QStringLiteral("mm");
    o.ink = QColor(0, 0, 0);
    o.bars.push_back({ColorMap::Viridis, 1.0, QColor(0, 127, 127), -160.0, 240.0});
    QImage picture(1024, 1024, QImage::Format_ARGB32);
    picture.fill(Qt::white);
    for (auto _ : state) {
        QPainter p(&picture);
        render::drawOverlays(p, o, 1024, 1024);
        p.end();
        benchmark::DoNotOptimize(picture.constBits());
    }
}
BENCHMARK(BM_Overlays)->Unit(benchmark::kMillisecond)->UseRealTime();

// Making the value blocks of the phantom (once per load, on the first drawing).
void BM_Bricks(benchmark::State &state)
{
    const int n = int(state.range(0));
    SliceDatas &set = filledSet(n, Volume::Phantom);
    for (auto _ : state) {
        const mip::ValueBricks b =
            mip::valueBricks(set.slices, n, n, std::max(1, QThreadPool::globalInstance()->maxThreadCount()));
        benchmark::DoNotOptimize(b.hi.data());
    }
    state.SetLabel(std::to_string(n) + " slices of " + std::to_string(n) + "^2");
}

void BM_Filled(benchmark::State &state)
{
    filledCase(state, volSide);
}
void BM_FilledBig(benchmark::State &state)
{
    filledCase(state, 1024);
}

}  // namespace

// Args: oblique, picture size, raster path, grid slices.
BENCHMARK(BM_Render)
    ->Args({0, 256, 1, 0})
    ->Args({1, 256, 1, 0})
    ->Args({0, 1024, 1, 0})
    ->Args({1, 1024, 1, 0})
    ->Args({1, 256, 1, 1})
    ->Args({1, 1024, 1, 1})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_Render)
    ->Args({0, 256, 0, 0})
    ->Args({1, 256, 0, 0})
    ->Args({1, 1024, 0, 0})
    ->Args({1, 256, 0, 1})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
// Args: picture size, coarse copy, volume (0 the phantom, 1 rising values: nothing to pass
// over, 2 the phantom with noise).
BENCHMARK(BM_Filled)
    ->Args({256, 0, 0})
    ->Args({1024, 0, 0})
    ->Args({256, 0, 1})
    ->Args({1024, 0, 1})
    ->Args({256, 0, 2})
    ->Args({1024, 0, 2})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_FilledBig)
    ->Args({256, 0, 0})
    ->Args({1024, 0, 0})
    ->Args({256, 1, 0})
    ->Args({1024, 1, 0})
    ->Args({256, 0, 1})
    ->Args({1024, 0, 1})
    ->Args({256, 0, 2})
    ->Args({1024, 0, 2})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
// A slice view of the 256-slice phantom along the stack, across columns and across
// rows, fitted to a size x size picture: what each step of a slice redraws.
void BM_SliceView(benchmark::State &state)
{
    const int size = int(state.range(0));
    const SliceAxis axis = static_cast<SliceAxis>(state.range(1));
    const int n = volSide;
    SliceDatas &set = filledSet(n, Volume::Phantom);
    SceneLayer layer;
    layer.set = &set;
    layer.minTh = 0;
    layer.maxTh = 256;
    const std::vector<SceneLayer> layers{layer};
    const SliceViewState v = fittedSliceView(layers, axis, planeCentre(layer, axis, n / 3), size, size);
    for (auto _ : state) {
        const QImage picture = drawSliceView(layers, v, size, size);
        benchmark::DoNotOptimize(picture.constBits());
    }
    state.SetLabel(axis == SliceAxis::Stack ? "along the stack" : axis == SliceAxis::Columns ? "across columns" : "across rows");
}
BENCHMARK(BM_SliceView)
    ->Args({512, 0})
    ->Args({512, 1})
    ->Args({512, 2})
    ->Args({2048, 0})
    ->Args({2048, 1})
    ->Args({2048, 2})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// Picking the voxel behind one picture pixel of the oblique 256-slice phantom.
void BM_Pick(benchmark::State &state)
{
    Fixture &f = fixture(false);
    f.setView(true);
    f.scene.width = f.scene.height = 512;
    int k = 0;
    for (auto _ : state) {
        const auto picked = render::pickPixel(f.scene, 200 + k % 100, 256);
        benchmark::DoNotOptimize(picked.data());
        ++k;
    }
}
BENCHMARK(BM_Pick)->Unit(benchmark::kMicrosecond);

// Args: projection (0 maximum, 1 minimum, 2 mean, 3 composite), rising values instead
// of the phantom, linear sampling.
BENCHMARK(BM_Projection)
    ->Args({1, 0, 0})
    ->Args({2, 0, 0})
    ->Args({3, 0, 0})
    ->Args({0, 0, 1})
    ->Args({1, 1, 0})
    ->Args({2, 1, 0})
    ->Args({3, 1, 0})
    ->Args({0, 1, 1})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_Bricks)->Arg(256)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Bricks)->Name("BM_BricksBig")->Arg(1024)->Unit(benchmark::kMillisecond)->UseRealTime();

int main(int argc, char **argv)
{
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QGuiApplication app(argc, argv);
    // The 1 GiB case runs only when a filter is given (--benchmark_filter=Big, say).
    std::vector<char *> args(argv, argv + argc);
    bool filtered = false;
    for (int i = 1; i < argc; ++i)
        filtered = filtered || std::strncmp(argv[i], "--benchmark_filter", 18) == 0;
    static char skipBig[] = "--benchmark_filter=-Big";
    if (!filtered)
        args.push_back(skipBig);
    int count = int(args.size());
    args.push_back(nullptr);
    benchmark::Initialize(&count, args.data());
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
