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
                const double zj = (jj == 0 ? 0 : ss - 1) - sh.halfSs;
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
        // The columns and rows the samples can truncate to.
        const int size[2] = {pr.sw, pr.sh};
        int cLo[2], cHi[2];
        for (int i = 0; i < 2; ++i) {
            cLo[i] = vl[i] <= 0.0 ? 0 : int(std::min(vl[i], double(size[i] - 1)));
            cHi[i] = vh[i] >= size[i] - 1 ? size[i] - 1 : int(std::max(vh[i], 0.0));
        }
        return anyBelow(tl.u, k0 + ca, k0 + cb, sh.blocksGive(z0, cLo[0], cHi[0], cLo[1], cHi[1]));
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
                q = mapValue(v, pr.minTh, pr.maxTh);
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

void renderTile(const Shared &sh, const quint8 *premul, uchar *dest, qsizetype bpl, int tx, int ty)
{
    const Params &pr = *sh.pr;
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
            tl.u[k] = 0.0;
            tl.s[k] = 0.0;
        }
    }
    const int ss = int(sh.src.size());
    if (pr.nz.z != 0.0 && !pr.cut && sh.alongZ && columnKernel(sh, tl))
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
            if (pr.cut)
                runKernel<true>(sh, src, j - sh.halfSs, tl, kb, ke);
            else
                runKernel<false>(sh, src, j - sh.halfSs, tl, kb, ke);
        };
        if (sh.bounds == nullptr) {
            for (int j = 0; j < ss; ++j)
                for (int dy = 0; dy < chh; ++dy)
                    cast(j, dy, 0, tl.n);
        } else {
            // A layer of blocks at a time: first which runs of rays it can change,
            // then its slices for those runs only.
            constexpr int e = ValueBricks::edge;
            constexpr int chunk = 16;
            for (int z0 = 0; z0 < ss; z0 += e) {
                const int z1 = std::min(ss, z0 + e) - 1;
                Runs<tileW / chunk> runs[tileH];
                for (int dy = 0; dy < chh; ++dy)
                    for (int ca = 0; ca < cw; ca += chunk) {
                        const int cb = std::min(cw, ca + chunk);
                        if (rows[dy].mayRaise(sh, tl, ca, cb, z0, z1))
                            runs[dy].add(dy * cw + ca, dy * cw + cb);
                    }
                for (int j = z0; j <= z1; ++j)
                    for (int dy = 0; dy < chh; ++dy)
                        for (int r = 0; r < runs[dy].n; ++r)
                            cast(j, dy, runs[dy].a[r], runs[dy].b[r]);
            }
        }
    }
    const quint32 alpha = quint32(pr.alpha) << 24;
    const quint32 keep = 255u - quint32(pr.alpha);
    for (int dy = 0; dy < chh; ++dy) {
        quint32 *line = reinterpret_cast<quint32 *>(dest + qsizetype(r0 + dy) * bpl) + c0;
        for (int dx = 0; dx < cw; ++dx) {
            const int k = dy * cw + dx;
            const QColor *base;
            double w;
            if (pr.cut && tl.s[k] > 0.0) {
                base = &pr.sColor;
                w = tl.s[k];
            } else if (tl.u[k] > 0.0) {
                base = &pr.vColor;
                w = tl.u[k];
            } else {
                continue;  // transparent white: the engine draws nothing
            }
            const quint32 src = alpha | quint32(premul[strengthComponent(base->red(), w)]) << 16
                | quint32(premul[strengthComponent(base->green(), w)]) << 8
                | quint32(premul[strengthComponent(base->blue(), w)]);
            line[dx] = src + byteMul(line[dx], keep);
        }
    }
}

// Mapped values of all 65536 stored words under one rescale; the slices of a set
// share a few at most, so each is made once per drawing.
struct Word16Luts {
    struct Entry {
        double slope, intercept;
        int bias;
        std::vector<double> lut;
    };
    std::vector<Entry> entries;

    const double *lutFor(const SliceData &sd, const Params &pr)
    {
        for (const Entry &e : entries) {
            if (e.slope == sd.rescaleSlope && e.intercept == sd.rescaleIntercept && e.bias == sd.storedBias)
                return e.lut.data();
        }
        Entry e{sd.rescaleSlope, sd.rescaleIntercept, sd.storedBias, std::vector<double>(65536)};
        for (int w = 0; w < 65536; ++w)
            e.lut[size_t(w)] = mapValue(sd.rescaled(quint16(w)), pr.minTh, pr.maxTh);
        entries.push_back(std::move(e));
        return entries.back().lut.data();
    }
};

// How to read slice `sd` fast; qLutStore receives any per-slice table.
Source sourceFor(const SliceData *sd, const Params &pr, const double *greyLut, std::vector<double> &qLutStore,
                 std::vector<const double *> &rowStore, Word16Luts &word16Luts)
{
    Source s;
    s.slice = sd;
    if (!sd->isImage) {
        if (!sd->floats.empty()) {
            if (sd->width != pr.sw || sd->floats.size() < size_t(pr.sw) * size_t(pr.sh))
                return s;
            s.mode = Mode::Floats;
            s.floats = sd->floats.data();
            return s;
        }
        if (sd->values.size() < size_t(pr.sh))
            return s;
        rowStore.resize(size_t(pr.sh));
        for (int y = 0; y < pr.sh; ++y) {
            if (sd->values[size_t(y)].size() < size_t(pr.sw))
                return s;
            rowStore[size_t(y)] = sd->values[size_t(y)].data();
        }
        s.mode = Mode::Grid;
        s.rows = rowStore.data();
        return s;
    }
    const QImage &img = sd->image;
    if (img.width() < pr.sw || img.height() < pr.sh)
        return s;
    const uchar *bits = img.constBits();
    const qint64 bytes = qint64(img.bytesPerLine()) * img.height();
    if (bits == nullptr || (reinterpret_cast<std::uintptr_t>(bits) & 3) != 0 || bytes >= (qint64(1) << 31))
        return s;
    if (img.format() == QImage::Format_Grayscale16) {
        s.mode = Mode::Word16;
        s.bits = bits;
        s.bpl = int(img.bytesPerLine());
        s.qLut = word16Luts.lutFor(*sd, pr);
        return s;
    }
    switch (img.format()) {
    case QImage::Format_Grayscale8:
        s.stride = 1;
        s.qLut = greyLut;
        break;
    case QImage::Format_RGB32:
    case QImage::Format_ARGB32:
    case QImage::Format_ARGB32_Premultiplied:
        // pixel() hands back the stored word (premultiplied as stored); its low byte is blue.
        s.stride = 4;
        s.qLut = greyLut;
        break;
    case QImage::Format_Indexed8: {
        const QList<QRgb> table = img.colorTable();
        qLutStore.resize(256);
        for (int i = 0; i < 256; ++i) {
            // pixel() gives 0 for an index beyond the colour table.
            const double v = i < table.size() ? double(table[i] & 0xff) : 0.0;
            qLutStore[size_t(i)] = mapValue(v, pr.minTh, pr.maxTh);
        }
        s.stride = 1;
        s.qLut = qLutStore.data();
        break;
    }
    default:
        return s;
    }
    s.mode = Mode::Byte;
    s.bits = bits;
    s.bpl = int(img.bytesPerLine());
    s.madd16 = pr.sw <= 32767 && pr.sh <= 32767 && s.bpl <= 32767;
    return s;
}

}  // namespace

void renderOnto(const Params &pr, const std::vector<SliceData *> &slices, const quint8 *premul, uchar *dest,
                qsizetype bpl, int threads, const ValueBricks *bricks)
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
        greyLut[v] = mapValue(double(v), pr.minTh, pr.maxTh);
    std::vector<std::vector<double>> qLuts(slices.size());
    std::vector<std::vector<const double *>> rows(slices.size());
    Word16Luts word16Luts;
    sh.src.reserve(slices.size());
    for (size_t j = 0; j < slices.size(); ++j)
        sh.src.push_back(sourceFor(slices[j], pr, greyLut, qLuts[j], rows[j], word16Luts));

    std::vector<double> bounds;
    const int ss = int(slices.size());
    if (bricks != nullptr && bricks->nx == (pr.sw + ValueBricks::edge - 1) / ValueBricks::edge
        && bricks->ny == (pr.sh + ValueBricks::edge - 1) / ValueBricks::edge
        && bricks->nz == (ss + ValueBricks::edge - 1) / ValueBricks::edge) {
        bounds = brickBounds(*bricks, pr.minTh, pr.maxTh);
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
