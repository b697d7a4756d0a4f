#include "render/mip.h"

#include <QImage>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <vector>

#include "data/slicedata.h"
#include "data/workpool.h"
#include "render/bricks.h"
#include "render/mipkernels.h"
#include "render/raysample.h"

namespace mip {

namespace {

// Whether any of rays k0 .. k1 - 1 holds less than `most` so far.
inline bool anyBelow(const double *u, int k0, int k1, double most)
{
    for (int k = k0; k < k1; ++k)
        if (u[k] < most)
            return true;
    return false;
}

// Runs of rays of a tile, as [a, b) pairs; a run starting where the last one
// ends extends it.
template <int N> struct Runs {
    int a[N], b[N];
    int n = 0;
    void add(int ka, int kb)
    {
        if (n > 0 && b[n - 1] == ka) {
            b[n - 1] = kb;
        } else {
            a[n] = ka;
            b[n++] = kb;
        }
    }
};

// Which pixels of one tile row (pixels k0 .. k0 + cw - 1) can sample slice j.
// The crossing points and the cut distance are affine, up to rounding, along
// the row and in j, so they follow from the two end pixels at the first and
// the last slice; the interval is widened by a pixel on each side and by a
// relative margin far above any rounding, so no sampling ray is ever left out.
struct RowSpan {
    int k0 = 0, cw = 0;
    bool all = false;  // the bounds could not be worked out: every pixel
    double f0[3] = {}, fj[3] = {}, slope[3] = {}, inv[3] = {};  // fx, fy, d
    double lo[3] = {}, hi[3] = {};
    double margin = 0.0;
    int constraints = 2;

    void init(const Shared &sh, const Tile &tl, int firstK, int width, int ss)
    {
        const Params &pr = *sh.pr;
        k0 = firstK;
        cw = width;
        constraints = pr.cut ? 3 : 2;
        double f[2][2][3];  // [end][slice first/last][quantity]
        double mag = 0.0;
        for (int e = 0; e < 2; ++e) {
            const int k = e == 0 ? k0 : k0 + cw - 1;
            for (int jj = 0; jj < 2; ++jj) {
                const double zj = ((jj == 0 ? 0 : ss - 1) + pr.planeOffset) - sh.halfSs;
                const double t = (zj - tl.p0z[k]) / pr.nz.z;
                const double x = tl.p0x[k] + t * pr.nz.x;
                const double y = tl.p0y[k] + t * pr.nz.y;
                const double z = tl.p0z[k] + t * pr.nz.z;
                f[e][jj][0] = sh.hw + x;
                f[e][jj][1] = sh.hh + y;
                f[e][jj][2] = x * pr.csNz.x + y * pr.csNz.y + z * pr.csNz.z;
                mag = std::max(mag,
                               (std::fabs(tl.p0x[k]) + std::fabs(tl.p0y[k]) + std::fabs(tl.p0z[k]) + sh.hw + sh.hh
                                + std::fabs(t) * (std::fabs(pr.nz.x) + std::fabs(pr.nz.y) + std::fabs(pr.nz.z)))
                                   * (1.0 + std::fabs(pr.csNz.x) + std::fabs(pr.csNz.y) + std::fabs(pr.csNz.z)));
            }
        }
        const double m = 1e-7 * (1.0 + mag);
        margin = m;
        all = !std::isfinite(m);
        const double steps = ss > 1 ? ss - 1 : 1;
        for (int i = 0; i < 3; ++i) {
            f0[i] = f[0][0][i];
            fj[i] = (f[0][1][i] - f[0][0][i]) / steps;
            slope[i] = f[1][0][i] - f[0][0][i];
            inv[i] = slope[i] != 0.0 ? 1.0 / slope[i] : 0.0;
            all = all || !std::isfinite(f0[i]) || !std::isfinite(fj[i]) || !std::isfinite(slope[i])
                || !std::isfinite(inv[i]);
        }
        lo[0] = pr.loX - m;
        hi[0] = pr.sw + m;
        lo[1] = pr.loY - m;
        hi[1] = pr.sh + m;
        lo[2] = -HUGE_VAL;
        hi[2] = pr.B + m;
    }

    bool span(int j, int &kb, int &ke) const
    {
        if (all) {
            kb = k0;
            ke = k0 + cw;
            return true;
        }
        double sLo = 0.0, sHi = 1.0;
        for (int i = 0; i < constraints; ++i) {
            const double v = f0[i] + fj[i] * j;
            if (slope[i] == 0.0) {
                if (!(v > lo[i] && v < hi[i]))
                    return false;
                continue;
            }
            const double a = (lo[i] - v) * inv[i], b = (hi[i] - v) * inv[i];
            sLo = std::max(sLo, std::min(a, b));
            sHi = std::min(sHi, std::max(a, b));
        }
        if (!(sLo <= sHi))
            return false;
        const double last = cw - 1;
        const int cLo = std::max(0, int(std::floor(sLo * last)) - 1);
        const int cHi = std::min(cw - 1, int(std::ceil(sHi * last)) + 1);
        if (cLo > cHi)
            return false;
        kb = k0 + cLo;
        ke = k0 + cHi + 1;
        return true;
    }

    // Whether slices z0 .. z1 (one layer of value blocks) can change any ray of
    // pixels k0 + ca .. k0 + cb - 1: not when none of their samples lies in a plane
    // or before the cut, nor, when none can lie on the cut face, when every block
    // their samples can fall in gives at most what each ray holds already.
    bool mayRaise(const Shared &sh, const Tile &tl, int ca, int cb, int z0, int z1) const
    {
        if (all)
            return true;
        const Params &pr = *sh.pr;
        const double last = cw > 1 ? cw - 1 : 1;
        const double sA = ca / last, sB = (cb - 1) / last;
        double vl[3], vh[3];
        for (int i = 0; i < constraints; ++i) {
            const double a = f0[i] + fj[i] * z0, b = f0[i] + fj[i] * z1;
            const double e0 = slope[i] * sA, e1 = slope[i] * sB;
            vl[i] = std::min(a, b) + std::min(e0, e1) - margin;
            vh[i] = std::max(a, b) + std::max(e0, e1) + margin;
            if (!(vl[i] <= vh[i]))
                return true;  // not a number after all
        }
        if (vh[0] <= pr.loX || vl[0] >= pr.sw || vh[1] <= pr.loY || vl[1] >= pr.sh)
            return false;
        if (pr.cut) {
            if (vl[2] >= pr.B)
                return false;
            if (vh[2] > sh.bLow)
                return true;
        }
        // The columns and rows the samples can truncate to, and with linear
        // sampling their neighbours on either side.
        const int size[2] = {pr.sw, pr.sh};
        const int reach = pr.linear ? 1 : 0;
        int cLo[2], cHi[2];
        for (int i = 0; i < 2; ++i) {
            cLo[i] = vl[i] <= 0.0 ? 0 : int(std::min(vl[i], double(size[i] - 1)));
            cHi[i] = vh[i] >= size[i] - 1 ? size[i] - 1 : int(std::max(vh[i], 0.0));
            cLo[i] = std::max(0, cLo[i] - reach);
            cHi[i] = std::min(size[i] - 1, cHi[i] + reach);
        }
        const int ka = k0 + ca, kz = k0 + cb;
        switch (pr.projection) {
        case Projection::Minimum: {
            // A block can lower a ray only with a value below the ray's least so far.
            const double least = sh.blocksGive(z0, cLo[0], cHi[0], cLo[1], cHi[1], true);
            for (int k = ka; k < kz; ++k)
                if (tl.u[k] > least)
                    return true;
            return false;
        }
        case Projection::Composite:
            // Wholly transparent blocks, and rays already opaque, change nothing.
            if (!(sh.blocksGive(z0, cLo[0], cHi[0], cLo[1], cHi[1]) > 0.0))
                return false;
            for (int k = ka; k < kz; ++k)
                if (!rayDone<Projection::Composite>(tl.ca[k]))
                    return true;
            return false;
        case Projection::Mean:
            return true;
        case Projection::Maximum:
            break;
        }
        return anyBelow(tl.u, ka, kz, sh.blocksGive(z0, cLo[0], cHi[0], cLo[1], cHi[1]));
    }
};

// Looking straight along the stack without a cut, x + t * nz.x is x exactly
// (t is finite and nz.x a zero), so every ray samples one column and row of
// all slices: the indices are worked out once per ray. False when the tile's
// rays are too far out for t to be finite; the general kernels then run.
bool columnKernel(const Shared &sh, Tile &tl)
{
    const Params &pr = *sh.pr;
    alignas(64) qint32 ci[tileN];
    alignas(64) qint32 ri[tileN];
    bool any = false;
    for (int k = 0; k < tl.n; ++k) {
        if (!(std::fabs(tl.p0z[k]) < 1e300) || !std::isfinite(tl.p0x[k]) || !std::isfinite(tl.p0y[k]))
            return false;
        const double fx = sh.hw + tl.p0x[k];
        const double fy = sh.hh + tl.p0y[k];
        const bool in = inPlane(pr, fx, fy);
        ci[k] = in ? int(fx) : -1;
        ri[k] = in ? int(fy) : -1;
        any |= in;
    }
    if (!any)
        return true;
    // Byte offsets for the bytes-per-line and stride of the slice last seen
    // (in practice one pair for the whole set); 0 where a ray misses.
    alignas(64) quint32 off[tileN];
    qsizetype offBpl = -1, offStride = -1;
    // Rays kb .. ke - 1 through slice j.
    auto cast = [&](size_t j, int kb, int ke) {
        const Source &src = sh.src[j];
        if (src.mode == Mode::Byte) {
            if (src.bpl != offBpl || src.stride != offStride) {
                offBpl = src.bpl;
                offStride = src.stride;
                for (int k = 0; k < tl.n; ++k)
                    off[k] = ci[k] < 0 ? 0u : quint32(ri[k] * offBpl + ci[k] * offStride);
            }
            columnBytes(src, ci, off, tl, kb, ke);
            return;
        }
        for (int k = kb; k < ke; ++k) {
            if (ci[k] < 0)
                continue;
            double q;
            if (src.mode == Mode::Word16) {
                q = src.qLut[word16At(src, ri[k], ci[k])];
            } else {
                const double v = src.mode == Mode::Grid ? src.rows[ri[k]][ci[k]]
                    : src.mode == Mode::Floats          ? double(src.floats[qsizetype(ri[k]) * pr.sw + ci[k]])
                                                        : src.slice->value(ci[k], ri[k]);
                q = mapValue(v, pr.minTh, pr.maxTh, pr.saturate);
            }
            const double u = tl.u[k];
            tl.u[k] = u < q ? q : u;
        }
    };
    const int ss = int(sh.src.size());
    if (sh.bounds == nullptr) {
        for (int j = 0; j < ss; ++j)
            cast(size_t(j), 0, tl.n);
        return true;
    }
    // A layer of value blocks at a time: the runs of rays whose blocks can raise
    // them (each ray's column and row are known exactly), then the layer's slices.
    constexpr int e = ValueBricks::edge;
    constexpr int chunk = 16;
    for (int z0 = 0; z0 < ss; z0 += e) {
        Runs<tileN / chunk> runs;
        for (int ka = 0; ka < tl.n; ka += chunk) {
            const int kz = std::min(tl.n, ka + chunk);
            int xl = pr.sw, xh = -1, yl = pr.sh, yh = -1;
            double least = HUGE_VAL;
            for (int k = ka; k < kz; ++k) {
                if (ci[k] < 0)
                    continue;
                xl = std::min(xl, ci[k]);
                xh = std::max(xh, ci[k]);
                yl = std::min(yl, ri[k]);
                yh = std::max(yh, ri[k]);
                least = std::min(least, tl.u[k]);
            }
            if (xh >= 0 && least < sh.blocksGive(z0, xl, xh, yl, yh))
                runs.add(ka, kz);
        }
        for (int j = z0; j < std::min(ss, z0 + e); ++j)
            for (int r = 0; r < runs.n; ++r)
                cast(size_t(j), runs.a[r], runs.b[r]);
    }
    return true;
}

// Draws one tile: premul[a] is the engine's blend table at opacity a (the
// parameters' opacity for every projection but Composite, which draws each pixel
// at its own).
void renderTile(const Shared &sh, const quint8 *const *premulBy, uchar *dest, qsizetype bpl, int tx, int ty)
{
    const Params &pr = *sh.pr;
    const bool maximum = pr.projection == Projection::Maximum;
    // The kernels of the largest value sample the nearest voxel; every other
    // choice takes the generic kernels.
    const bool fastMaximum = maximum && !pr.linear;
    const double start = rayStart(pr.projection);
    Tile tl;
    const int c0 = tx * tileW, r0 = ty * tileH;
    const int cw = std::min(tileW, pr.pw - c0), chh = std::min(tileH, pr.ph - r0);
    tl.n = cw * chh;
    for (int dy = 0; dy < chh; ++dy) {
        const double b = (r0 + dy) - pr.ph / 2.0;
        for (int dx = 0; dx < cw; ++dx) {
            const int k = dy * cw + dx;
            const double a = (c0 + dx) - pr.pw / 2.0;
            tl.p0x[k] = pr.center.x + pr.scale * (a * pr.nx.x + b * pr.ny.x);
            tl.p0y[k] = pr.center.y + pr.scale * (a * pr.nx.y + b * pr.ny.y);
            tl.p0z[k] = pr.center.z + pr.scale * (a * pr.nx.z + b * pr.ny.z);
            tl.u[k] = start;
            tl.s[k] = 0.0;
            tl.cn[k] = tl.cr[k] = tl.cg[k] = tl.cb[k] = tl.ca[k] = 0.0;
        }
    }
    const int ss = int(sh.src.size());
    if (fastMaximum && pr.nz.z != 0.0 && !pr.cut && sh.alongZ && columnKernel(sh, tl))
        ;
    else if (pr.nz.z != 0.0) {
        RowSpan rows[tileH];
        for (int dy = 0; dy < chh; ++dy)
            rows[dy].init(sh, tl, dy * cw, cw, ss);
        // Rays ra .. rb - 1 of row dy, as far as they meet slice j.
        auto cast = [&](int j, int dy, int ra, int rb) {
            int kb, ke;
            if (!rows[dy].span(j, kb, ke))
                return;
            kb = std::max(kb, ra);
            ke = std::min(ke, rb);
            if (kb >= ke)
                return;
            // Whole groups of eight, aligned: a ray cast for a slice twice,
            // or outside its row's span, gives the same result.
            kb &= ~7;
            ke = std::min(tl.n, (ke + 7) & ~7);
            const Source &src = sh.src[size_t(j)];
            const double zj = (j + pr.planeOffset) - sh.halfSs;
            if (!fastMaximum)
                pr.cut ? runGenericKernel<true>(sh, src, zj, tl, kb, ke)
                       : runGenericKernel<false>(sh, src, zj, tl, kb, ke);
            else if (pr.cut)
                runKernel<true>(sh, src, zj, tl, kb, ke);
            else
                runKernel<false>(sh, src, zj, tl, kb, ke);
        };
        // Composite takes the slices front first, as the reference does.
        const bool frontLast = pr.projection == Projection::Composite && pr.nz.z > 0.0;
        if (sh.bounds == nullptr) {
            for (int i = 0; i < ss; ++i)
                for (int dy = 0; dy < chh; ++dy)
                    cast(frontLast ? ss - 1 - i : i, dy, 0, tl.n);
        } else {
            // A layer of blocks at a time: first which runs of rays it can change,
            // then its slices for those runs only.
            constexpr int e = ValueBricks::edge;
            constexpr int chunk = 16;
            const int layers = (ss + e - 1) / e;
            for (int li = 0; li < layers; ++li) {
                const int z0 = (frontLast ? layers - 1 - li : li) * e;
                const int z1 = std::min(ss, z0 + e) - 1;
                Runs<tileW / chunk> runs[tileH];
                for (int dy = 0; dy < chh; ++dy)
                    for (int ca = 0; ca < cw; ca += chunk) {
                        const int cb = std::min(cw, ca + chunk);
                        if (rows[dy].mayRaise(sh, tl, ca, cb, z0, z1))
                            runs[dy].add(dy * cw + ca, dy * cw + cb);
                    }
                for (int i = z0; i <= z1; ++i)
                    for (int dy = 0; dy < chh; ++dy)
                        for (int r = 0; r < runs[dy].n; ++r)
                            cast(frontLast ? z0 + z1 - i : i, dy, runs[dy].a[r], runs[dy].b[r]);
            }
        }
    }
    if (!maximum) {
        for (int dy = 0; dy < chh; ++dy) {
            quint32 *line = reinterpret_cast<quint32 *>(dest + qsizetype(r0 + dy) * bpl) + c0;
            for (int dx = 0; dx < cw; ++dx) {
                const int k = dy * cw + dx;
                const RayState st{tl.u[k], tl.cn[k], tl.cr[k], tl.cg[k], tl.cb[k], tl.ca[k], tl.s[k]};
                QRgb rgb;
                int a;
                if (!rayRgba(pr, st, &rgb, &a) || a == 0)
                    continue;
                const quint8 *premul = premulBy[a];
                line[dx] = (quint32(a) << 24 | quint32(premul[qRed(rgb)]) << 16 | quint32(premul[qGreen(rgb)]) << 8
                            | quint32(premul[qBlue(rgb)]))
                    + byteMul(line[dx], 255u - quint32(a));
            }
        }
        return;
    }
    const quint8 *premul = premulBy[pr.alpha];
    const quint32 alpha = quint32(pr.alpha) << 24;
    const quint32 keep = 255u - quint32(pr.alpha);
    for (int dy = 0; dy < chh; ++dy) {
        quint32 *line = reinterpret_cast<quint32 *>(dest + qsizetype(r0 + dy) * bpl) + c0;
        for (int dx = 0; dx < cw; ++dx) {
            const int k = dy * cw + dx;
            QRgb rgb;
            if (pr.cut && tl.s[k] > 0.0) {
                const double w = tl.s[k];
                rgb = qRgb(strengthComponent(pr.sColor.red(), w), strengthComponent(pr.sColor.green(), w),
                           strengthComponent(pr.sColor.blue(), w));
            } else if (tl.u[k] > 0.0) {
                rgb = volumeRgb(pr, tl.u[k]);
            } else {
                continue;  // transparent white: the engine draws nothing
            }
            const quint32 src = alpha | quint32(premul[qRed(rgb)]) << 16 | quint32(premul[qGreen(rgb)]) << 8
                | quint32(premul[qBlue(rgb)]);
            line[dx] = src + byteMul(line[dx], keep);
        }
    }
}

}  // namespace

bool readsSlabs(const Params &pr, int ss)
{
    const bool columns = pr.nz.x == 0.0 && pr.nz.y == 0.0 && std::fabs(pr.nz.z) >= 1e-300 && !pr.cut;
    return pr.projection == Projection::Maximum && !pr.linear && pr.axis == 2 && pr.nz.z != 0.0 && !columns && ss > 0
        && pr.sw > 0 && pr.sh > 0;
}

void renderOnto(const Params &pr, const std::vector<SliceData *> &slices, const quint8 *const *premul, uchar *dest,
                qsizetype bpl, int threads, const ValueBricks *bricks, const SlabBytes *slabs)
{
    if (pr.pw <= 0 || pr.ph <= 0)
        return;
    Shared sh;
    sh.pr = &pr;
    sh.hw = pr.sw / 2.0;
    sh.hh = pr.sh / 2.0;
    sh.halfSs = slices.size() / 2.0;
    sh.bLow = pr.B - 1.0;
    sh.bHigh = pr.B + 1.0;
    sh.den = pr.maxTh - pr.minTh;
    sh.alongZ = pr.nz.x == 0.0 && pr.nz.y == 0.0 && std::fabs(pr.nz.z) >= 1e-300;
    sh.tightLow = pr.loX != -1.0 || pr.loY != -1.0;

    double greyLut[256];
    for (int v = 0; v < 256; ++v)
        greyLut[v] = mapValue(double(v), pr.minTh, pr.maxTh, pr.saturate);
    std::vector<std::vector<double>> qLuts(slices.size());
    std::vector<std::vector<const double *>> rows(slices.size());
    Word16Luts word16Luts;
    sh.src.reserve(slices.size());
    const bool fromCopy = slabs != nullptr && !slabs->empty() && slabs->sw == pr.sw && slabs->sh == pr.sh
        && slabs->ss == int(slices.size()) && readsSlabs(pr, int(slices.size()));
    for (size_t j = 0; j < slices.size(); ++j)
        sh.src.push_back(fromCopy ? slabSource(*slabs, int(j), slices[j], greyLut, pr)
                                  : sourceFor(slices[j], pr, greyLut, qLuts[j], rows[j], word16Luts));

    std::vector<double> bounds;
    const int ss = int(slices.size());
    if (bricks != nullptr && bricks->nx == (pr.sw + ValueBricks::edge - 1) / ValueBricks::edge
        && bricks->ny == (pr.sh + ValueBricks::edge - 1) / ValueBricks::edge
        && bricks->nz == (ss + ValueBricks::edge - 1) / ValueBricks::edge) {
        bounds = projectionBounds(pr, *bricks);
        if (!bounds.empty()) {
            sh.bricks = bricks;
            sh.bounds = bounds.data();
        }
    }

    const int tilesX = (pr.pw + tileW - 1) / tileW;
    const int tilesY = (pr.ph + tileH - 1) / tileH;
    const int tiles = tilesX * tilesY;
    std::atomic<int> next{0};
    auto work = [&]() {
        for (int i = next.fetch_add(1); i < tiles; i = next.fetch_add(1))
            renderTile(sh, premul, dest, bpl, i % tilesX, i / tilesX);
    };
    const int n = std::max(1, std::min(threads, tiles));
    workpool::run(n - 1, work);
}

}  // namespace mip
