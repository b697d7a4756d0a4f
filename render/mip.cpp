#include "render/mip.h"

#include <QImage>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <cstdint>
#include <limits>
#include <thread>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define OXA_HAVE_X86 1
#endif

#include "data/slicedata.h"
#include "data/workpool.h"
#include "render/bricks.h"

namespace mip {

namespace {
bool rasterPathOn = true;
}

void setRasterPathEnabled(bool on)
{
    rasterPathOn = on;
}

bool rasterPathEnabled()
{
    return rasterPathOn;
}

QColor pixelColor(const Params &pr, double u, double s)
{
    const QColor *base = nullptr;
    double w = 0.0;
    if (pr.cut && s > 0.0) {
        base = &pr.sColor;
        w = s;
    } else if (u > 0.0) {
        base = &pr.vColor;
        w = u;
    } else {
        return QColor(255, 255, 255, 0);
    }
    return QColor(strengthComponent(base->red(), w), strengthComponent(base->green(), w),
                  strengthComponent(base->blue(), w), pr.alpha);
}

// Whether a sample lies in its plane: the column and row positions, before
// truncation toward zero, between the parameters' lower bounds (-1 but for the
// plane axis of a re-cut stack, see alongAxis) and the plane's width and height.
// NaN lies outside; testing the doubles first keeps the conversion defined.
static inline bool inPlane(const Params &pr, double fx, double fy)
{
    return fx > pr.loX && fx < double(pr.sw) && fy > pr.loY && fy < double(pr.sh);
}

namespace {

// The samples of pixel (c, r) along a stack of ss planes of sw x sh values, read
// through value(plane, column, row): castPixel's arithmetic for every orientation.
template <typename Value> QColor castRay(const Params &pr, int ss, int c, int r, Value value)
{
    const double a = c - pr.pw / 2.0;
    const double b = r - pr.ph / 2.0;
    const double p0x = pr.center.x + pr.scale * (a * pr.nx.x + b * pr.ny.x);
    const double p0y = pr.center.y + pr.scale * (a * pr.nx.y + b * pr.ny.y);
    const double p0z = pr.center.z + pr.scale * (a * pr.nx.z + b * pr.ny.z);
    double u = 0.0;
    double s = 0.0;
    for (int j = 0; j < ss; ++j) {
        if (pr.nz.z == 0.0)
            continue;
        const double t = (j - ss / 2.0 - p0z) / pr.nz.z;
        const double x = p0x + t * pr.nz.x;
        const double y = p0y + t * pr.nz.y;
        const double z = p0z + t * pr.nz.z;
        const double fx = pr.sw / 2.0 + x;
        const double fy = pr.sh / 2.0 + y;
        if (!inPlane(pr, fx, fy))
            continue;
        const double v = value(j, int(fx), int(fy));
        const double d = x * pr.csNz.x + y * pr.csNz.y + z * pr.csNz.z;
        if (pr.cut && !(d < pr.B))
            continue;
        const double q = mapValue(v, pr.minTh, pr.maxTh);
        if (q > u)
            u = q;
        if (pr.B - 1.0 < d && d < pr.B + 1.0)
            s = q;
    }
    return pixelColor(pr, u, s);
}

Vec3 permute(const Vec3 &v, int axis)
{
    return axis == 0 ? Vec3{v.z, v.y, v.x} : Vec3{v.x, v.z, v.y};
}

}  // namespace

Params alongAxis(const Params &pr, int ss)
{
    if (pr.axis == 2)
        return pr;
    Params q = pr;
    q.axis = 2;
    q.nx = permute(pr.nx, pr.axis);
    q.ny = permute(pr.ny, pr.axis);
    q.nz = permute(pr.nz, pr.axis);
    q.center = permute(pr.center, pr.axis);
    q.csNz = permute(pr.csNz, pr.axis);
    // Along the stack, a position up to one slice before the first counts as the
    // first slice (as it does for columns and rows); across it, that would make the
    // first slice one step thicker than the others, so the plane axis starts at 0.
    const double atZero = -std::numeric_limits<double>::denorm_min();
    if (pr.axis == 0) {
        q.sw = ss;
        q.loX = atZero;
    } else {
        q.sh = ss;
        q.loY = atZero;
    }
    return q;
}

int stepAxis(const Vec3 &nz)
{
    const double ax = std::fabs(nz.x), ay = std::fabs(nz.y), az = std::fabs(nz.z);
    if (az >= ax && az >= ay)
        return 2;
    return ax >= ay ? 0 : 1;
}

QColor castPixel(const Params &pr, const std::vector<SliceData *> &slices, int c, int r)
{
    const int ss = int(slices.size());
    if (ss <= 0)
        return QColor(255, 255, 255, 0);
    if (pr.axis == 0)
        return castRay(alongAxis(pr, ss), pr.sw, c, r,
                       [&](int col, int j, int row) { return slices[size_t(j)]->value(col, row); });
    if (pr.axis == 1)
        return castRay(alongAxis(pr, ss), pr.sh, c, r,
                       [&](int row, int col, int j) { return slices[size_t(j)]->value(col, row); });
    return castRay(pr, ss, c, r, [&](int j, int col, int row) { return slices[size_t(j)]->value(col, row); });
}

namespace {

// How the kernels read one slice's values.
enum class Mode {
    Byte,  // a byte per sample at bits + ri * bpl + ci * stride, mapped through qLut
    Grid,  // doubles through row pointers, mapped by the window formula
    Word16,  // a 16-bit word per sample at bits + ri * bpl + ci * 2, mapped through qLut
    Floats,  // floats at floats[ri * sw + ci], mapped by the window formula
    Generic,  // SliceData::value, for every other picture format
};

struct Source {
    Mode mode = Mode::Generic;
    const uchar *bits = nullptr;
    int bpl = 0;
    int stride = 1;
    const double *qLut = nullptr;  // 256 mapped values for Mode::Byte, 65536 for Mode::Word16
    const double *const *rows = nullptr;  // for Mode::Grid
    const float *floats = nullptr;  // for Mode::Floats
    const SliceData *slice = nullptr;
    bool madd16 = false;  // rows, columns, bpl and stride all fit 16-bit lanes
};

struct Shared {
    const Params *pr = nullptr;
    std::vector<Source> src;
    double hw = 0, hh = 0, halfSs = 0;
    double bLow = 0, bHigh = 0;
    double den = 1;
    bool alongZ = false;  // nz.x and nz.y are zeros: the rays run along the stack
    bool tightLow = false;  // a lower bound is not -1 (a re-cut stack's plane axis)
    // With value blocks: their layout and what each can give at most (brickBounds).
    const ValueBricks *bricks = nullptr;
    const double *bounds = nullptr;

    // The most the blocks of layer z0 / edge holding columns x0 .. x1 and rows
    // y0 .. y1 (all within the slices) can give.
    double blocksGive(int z0, int x0, int x1, int y0, int y1) const
    {
        constexpr int e = ValueBricks::edge;
        double most = 0.0;
        for (int by = y0 / e; by <= y1 / e; ++by) {
            const double *line = bounds + (size_t(z0 / e) * size_t(bricks->ny) + size_t(by)) * size_t(bricks->nx);
            for (int bx = x0 / e; bx <= x1 / e; ++bx)
                most = std::max(most, line[bx]);
        }
        return most;
    }
};

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

inline quint16 word16At(const Source &src, int ri, int ci)
{
    quint16 v;
    std::memcpy(&v, src.bits + qsizetype(ri) * src.bpl + qsizetype(ci) * 2, sizeof v);
    return v;
}

// Tiles of one picture row (measured fastest against 128 x 2, 64 x 4 and 32 x 8): for
// every slice a tile reads along one line of it.
constexpr int tileW = 256;
constexpr int tileH = 1;
constexpr int tileN = tileW * tileH;

struct Tile {
    int n = 0;
    alignas(64) double p0x[tileN];
    alignas(64) double p0y[tileN];
    alignas(64) double p0z[tileN];
    alignas(64) double u[tileN];
    alignas(64) double s[tileN];
};

// Scalar kernel over pixels k0 .. n - 1 of a tile for slice j; the arithmetic
// is castPixel's, sample by sample.
template <bool Cut> void kernelScalar(const Shared &sh, const Source &src, double zj, Tile &tl, int kb, int ke)
{
    const Params &pr = *sh.pr;
    const double nzz = pr.nz.z, nzx = pr.nz.x, nzy = pr.nz.y;
    for (int k = kb; k < ke; ++k) {
        const double p0z = tl.p0z[k];
        const double t = (zj - p0z) / nzz;
        const double x = tl.p0x[k] + t * nzx;
        const double y = tl.p0y[k] + t * nzy;
        const double fx = sh.hw + x;
        const double fy = sh.hh + y;
        if (!inPlane(pr, fx, fy))
            continue;
        double d = 0.0;
        if (Cut) {
            const double z = p0z + t * nzz;
            d = x * pr.csNz.x + y * pr.csNz.y + z * pr.csNz.z;
            if (!(d < pr.B))
                continue;
        }
        const int ci = int(fx), ri = int(fy);
        double q;
        switch (src.mode) {
        case Mode::Byte:
            q = src.qLut[src.bits[qsizetype(ri) * src.bpl + qsizetype(ci) * src.stride]];
            break;
        case Mode::Grid:
            q = mapValue(src.rows[ri][ci], pr.minTh, pr.maxTh);
            break;
        case Mode::Word16:
            q = src.qLut[word16At(src, ri, ci)];
            break;
        case Mode::Floats:
            q = mapValue(double(src.floats[qsizetype(ri) * pr.sw + ci]), pr.minTh, pr.maxTh);
            break;
        default:
            q = mapValue(src.slice->value(ci, ri), pr.minTh, pr.maxTh);
            break;
        }
        if (q > tl.u[k])
            tl.u[k] = q;
        if (Cut && sh.bLow < d && d < sh.bHigh)
            tl.s[k] = q;
    }
}

#ifdef OXA_HAVE_X86
// Four rays at a time, every operation the scalar kernel's lane by lane (no
// fused multiply-add: the target enables AVX2 alone). Samples are read with
// plain loads, which beat gather instructions on current cores.
template <bool Cut, Mode M>
__attribute__((target("avx2"))) void kernelAvx2(const Shared &sh, const Source &src, double zj, Tile &tl, int kb,
                                                int ke)
{
    const Params &pr = *sh.pr;
    const __m256d vzj = _mm256_set1_pd(zj);
    const __m256d vnzz = _mm256_set1_pd(pr.nz.z);
    const __m256d vnzx = _mm256_set1_pd(pr.nz.x);
    const __m256d vnzy = _mm256_set1_pd(pr.nz.y);
    const __m256d vhw = _mm256_set1_pd(sh.hw);
    const __m256d vhh = _mm256_set1_pd(sh.hh);
    const __m256d vsw = _mm256_set1_pd(double(pr.sw));
    const __m256d vsh = _mm256_set1_pd(double(pr.sh));
    const __m256d vloX = _mm256_set1_pd(pr.loX);
    const __m256d vloY = _mm256_set1_pd(pr.loY);
    const __m256d vcx = _mm256_set1_pd(pr.csNz.x);
    const __m256d vcy = _mm256_set1_pd(pr.csNz.y);
    const __m256d vcz = _mm256_set1_pd(pr.csNz.z);
    const __m256d vB = _mm256_set1_pd(pr.B);
    const __m256d vBlo = _mm256_set1_pd(sh.bLow);
    const __m256d vBhi = _mm256_set1_pd(sh.bHigh);
    const __m128i vbpl = _mm_set1_epi32(M == Mode::Byte ? src.bpl : 0);
    const __m128i vstride = _mm_set1_epi32(M == Mode::Byte ? src.stride : 0);

    const __m256d zero = _mm256_setzero_pd();
    const __m256d vMin = _mm256_set1_pd(pr.minTh);
    const __m256d vDen = _mm256_set1_pd(sh.den);
    const __m256d v256 = _mm256_set1_pd(256.0);
    const __m256d v255 = _mm256_set1_pd(255.0);
    const int n4 = kb + ((ke - kb) & ~3);
    for (int k = kb; k < n4; k += 4) {
        const __m256d pz = _mm256_loadu_pd(tl.p0z + k);
        const __m256d t = _mm256_div_pd(_mm256_sub_pd(vzj, pz), vnzz);
        const __m256d x = _mm256_add_pd(_mm256_loadu_pd(tl.p0x + k), _mm256_mul_pd(t, vnzx));
        const __m256d y = _mm256_add_pd(_mm256_loadu_pd(tl.p0y + k), _mm256_mul_pd(t, vnzy));
        __m256d fx = _mm256_add_pd(vhw, x);
        __m256d fy = _mm256_add_pd(vhh, y);
        __m256d in =
            _mm256_and_pd(_mm256_and_pd(_mm256_cmp_pd(fx, vloX, _CMP_GT_OQ), _mm256_cmp_pd(fx, vsw, _CMP_LT_OQ)),
                          _mm256_and_pd(_mm256_cmp_pd(fy, vloY, _CMP_GT_OQ), _mm256_cmp_pd(fy, vsh, _CMP_LT_OQ)));
        __m256d d = zero;
        if (Cut) {
            const __m256d z = _mm256_add_pd(pz, _mm256_mul_pd(t, vnzz));
            d = _mm256_add_pd(_mm256_add_pd(_mm256_mul_pd(x, vcx), _mm256_mul_pd(y, vcy)), _mm256_mul_pd(z, vcz));
            in = _mm256_and_pd(in, _mm256_cmp_pd(d, vB, _CMP_LT_OQ));
        }
        if (_mm256_movemask_pd(in) == 0)
            continue;
        // Lanes outside the slice read its first sample and contribute nothing.
        fx = _mm256_and_pd(fx, in);
        fy = _mm256_and_pd(fy, in);
        const __m128i ci = _mm256_cvttpd_epi32(fx);
        const __m128i ri = _mm256_cvttpd_epi32(fy);
        alignas(16) qint32 o[4];
        __m256d q;
        if (M == Mode::Byte) {
            _mm_store_si128(reinterpret_cast<__m128i *>(o),
                            _mm_add_epi32(_mm_mullo_epi32(ri, vbpl), _mm_mullo_epi32(ci, vstride)));
            const uchar *bits = src.bits;
            const double *lut = src.qLut;
            q = _mm256_set_pd(lut[bits[o[3]]], lut[bits[o[2]]], lut[bits[o[1]]], lut[bits[o[0]]]);
        } else {
            alignas(16) qint32 c[4];
            _mm_store_si128(reinterpret_cast<__m128i *>(o), ri);
            _mm_store_si128(reinterpret_cast<__m128i *>(c), ci);
            const double *const *rows = src.rows;
            const __m256d v = _mm256_set_pd(rows[o[3]][c[3]], rows[o[2]][c[2]], rows[o[1]][c[1]], rows[o[0]][c[0]]);
            q = _mm256_mul_pd(_mm256_div_pd(_mm256_sub_pd(v, vMin), vDen), v256);
            const __m256d out = _mm256_or_pd(_mm256_cmp_pd(q, v255, _CMP_GT_OQ), _mm256_cmp_pd(q, zero, _CMP_LT_OQ));
            q = _mm256_andnot_pd(out, q);
        }
        q = _mm256_and_pd(q, in);
        const __m256d u = _mm256_loadu_pd(tl.u + k);
        _mm256_storeu_pd(tl.u + k, _mm256_blendv_pd(u, q, _mm256_cmp_pd(q, u, _CMP_GT_OQ)));
        if (Cut) {
            const __m256d slab = _mm256_and_pd(
                in, _mm256_and_pd(_mm256_cmp_pd(d, vBlo, _CMP_GT_OQ), _mm256_cmp_pd(d, vBhi, _CMP_LT_OQ)));
            _mm256_storeu_pd(tl.s + k, _mm256_blendv_pd(_mm256_loadu_pd(tl.s + k), q, slab));
        }
    }
    kernelScalar<Cut>(sh, src, zj, tl, n4, ke);
}

// Eight rays at a time on cores with AVX-512: the same operations lane by
// lane. The bounds test runs on the truncated indices: an index lies in
// 0 .. n - 1 exactly when the double lay in (-1, n), and the conversion gives
// an out-of-range marker for NaN and for values beyond the int range.
template <bool Cut>
__attribute__((target("avx512f,avx512vl,avx512dq,avx512bw"))) void kernelAvx512Byte(const Shared &sh, const Source &src,
                                                                                    double zj, Tile &tl, int kb, int ke)
{
    const Params &pr = *sh.pr;
    const __m512d vzj = _mm512_set1_pd(zj);
    const __m512d vnzz = _mm512_set1_pd(pr.nz.z);
    const __m512d vnzx = _mm512_set1_pd(pr.nz.x);
    const __m512d vnzy = _mm512_set1_pd(pr.nz.y);
    const __m512d vhw = _mm512_set1_pd(sh.hw);
    const __m512d vhh = _mm512_set1_pd(sh.hh);
    const __m512d vcx = _mm512_set1_pd(pr.csNz.x);
    const __m512d vcy = _mm512_set1_pd(pr.csNz.y);
    const __m512d vcz = _mm512_set1_pd(pr.csNz.z);
    const __m512d vB = _mm512_set1_pd(pr.B);
    const __m512d vBlo = _mm512_set1_pd(sh.bLow);
    const __m512d vBhi = _mm512_set1_pd(sh.bHigh);
    const __m256i vsw = _mm256_set1_epi32(pr.sw);
    const __m256i vsh = _mm256_set1_epi32(pr.sh);
    const __m512d vloX = _mm512_set1_pd(pr.loX);
    const __m512d vloY = _mm512_set1_pd(pr.loY);
    // Offsets as one multiply-add of 16-bit pairs (row, column) . (bpl, stride);
    // sourceFor only picks the byte mode for pictures where all of them fit.
    const __m256i vmul = _mm256_set1_epi32(int((quint32(src.bpl) << 16) | quint32(src.stride)));
    const uchar *bits = src.bits;
    const double *lut = src.qLut;

    const int n8 = kb + ((ke - kb) & ~7);
    for (int k = kb; k < n8; k += 8) {
        const __m512d pz = _mm512_loadu_pd(tl.p0z + k);
        const __m512d t = _mm512_div_pd(_mm512_sub_pd(vzj, pz), vnzz);
        const __m512d x = _mm512_add_pd(_mm512_loadu_pd(tl.p0x + k), _mm512_mul_pd(t, vnzx));
        const __m512d y = _mm512_add_pd(_mm512_loadu_pd(tl.p0y + k), _mm512_mul_pd(t, vnzy));
        const __m512d fx = _mm512_add_pd(vhw, x);
        const __m512d fy = _mm512_add_pd(vhh, y);
        const __m256i ci = _mm512_maskz_cvttpd_epi32(0xff, fx);
        const __m256i ri = _mm512_maskz_cvttpd_epi32(0xff, fy);
        __mmask8 in = _mm256_cmplt_epu32_mask(ci, vsw) & _mm256_cmplt_epu32_mask(ri, vsh);
        // Truncation takes -1 .. 0 to 0; a plane axis with a lower bound of 0 refuses it.
        if (sh.tightLow)
            in &= _mm512_cmp_pd_mask(fx, vloX, _CMP_GT_OQ) & _mm512_cmp_pd_mask(fy, vloY, _CMP_GT_OQ);
        __m512d d = _mm512_setzero_pd();
        if (Cut) {
            const __m512d z = _mm512_add_pd(pz, _mm512_mul_pd(t, vnzz));
            d = _mm512_add_pd(_mm512_add_pd(_mm512_mul_pd(x, vcx), _mm512_mul_pd(y, vcy)), _mm512_mul_pd(z, vcz));
            in &= _mm512_cmp_pd_mask(d, vB, _CMP_LT_OQ);
        }
        if (in == 0)
            continue;
        const __m256i off = _mm256_maskz_madd_epi16(in, _mm256_or_si256(ci, _mm256_slli_epi32(ri, 16)), vmul);
        alignas(32) quint32 o[8];
        _mm256_store_si256(reinterpret_cast<__m256i *>(o), off);
        // Read the offsets back from memory: eight plain loads are cheaper than
        // the lane extractions the compiler would otherwise emit.
        asm volatile("" : : "r"(o) : "memory");
        const __m512d q =
            _mm512_maskz_mov_pd(in,
                                _mm512_set_pd(lut[bits[o[7]]], lut[bits[o[6]]], lut[bits[o[5]]], lut[bits[o[4]]],
                                              lut[bits[o[3]]], lut[bits[o[2]]], lut[bits[o[1]]], lut[bits[o[0]]]));
        const __m512d u = _mm512_loadu_pd(tl.u + k);
        _mm512_storeu_pd(tl.u + k, _mm512_mask_mov_pd(u, _mm512_cmp_pd_mask(q, u, _CMP_GT_OQ), q));
        if (Cut) {
            const __mmask8 slab =
                in & _mm512_cmp_pd_mask(d, vBlo, _CMP_GT_OQ) & _mm512_cmp_pd_mask(d, vBhi, _CMP_LT_OQ);
            _mm512_storeu_pd(tl.s + k, _mm512_mask_mov_pd(_mm512_loadu_pd(tl.s + k), slab, q));
        }
    }
    kernelScalar<Cut>(sh, src, zj, tl, n8, ke);
}

bool haveAvx512()
{
    static const bool yes = __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512vl")
        && __builtin_cpu_supports("avx512dq") && __builtin_cpu_supports("avx512bw");
    return yes;
}

bool haveAvx2()
{
    static const bool yes = __builtin_cpu_supports("avx2");
    return yes;
}
#endif

template <bool Cut> void runKernel(const Shared &sh, const Source &src, double zj, Tile &tl, int kb, int ke)
{
#ifdef OXA_HAVE_X86
    if (src.mode == Mode::Byte && src.madd16 && haveAvx512())
        return kernelAvx512Byte<Cut>(sh, src, zj, tl, kb, ke);
    if (haveAvx2()) {
        if (src.mode == Mode::Byte)
            return kernelAvx2<Cut, Mode::Byte>(sh, src, zj, tl, kb, ke);
        if (src.mode == Mode::Grid)
            return kernelAvx2<Cut, Mode::Grid>(sh, src, zj, tl, kb, ke);
    }
#endif
    kernelScalar<Cut>(sh, src, zj, tl, kb, ke);
}

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


void columnBytesScalar(const Source &src, const qint32 *ci, const quint32 *off, Tile &tl, int kb, int ke)
{
    for (int k = kb; k < ke; ++k) {
        if (ci[k] < 0)
            continue;
        const double q = src.qLut[src.bits[off[k]]];
        const double u = tl.u[k];
        tl.u[k] = u < q ? q : u;
    }
}

#ifdef OXA_HAVE_X86
__attribute__((target("avx512f,avx512vl"))) void columnBytesAvx512(const Source &src, const qint32 *ci,
                                                                   const quint32 *off, Tile &tl, int kb, int ke)
{
    const uchar *bits = src.bits;
    const double *lut = src.qLut;
    const int n8 = kb + ((ke - kb) & ~7);
    for (int k = kb; k < n8; k += 8) {
        const __mmask8 in = _mm256_cmpge_epi32_mask(_mm256_loadu_si256(reinterpret_cast<const __m256i *>(ci + k)),
                                                    _mm256_setzero_si256());
        if (in == 0)
            continue;
        const quint32 *o = off + k;
        const __m512d q =
            _mm512_maskz_mov_pd(in,
                                _mm512_set_pd(lut[bits[o[7]]], lut[bits[o[6]]], lut[bits[o[5]]], lut[bits[o[4]]],
                                              lut[bits[o[3]]], lut[bits[o[2]]], lut[bits[o[1]]], lut[bits[o[0]]]));
        const __m512d u = _mm512_loadu_pd(tl.u + k);
        _mm512_storeu_pd(tl.u + k, _mm512_mask_mov_pd(u, _mm512_cmp_pd_mask(q, u, _CMP_GT_OQ), q));
    }
    columnBytesScalar(src, ci, off, tl, n8, ke);
}
#endif

void columnBytes(const Source &src, const qint32 *ci, const quint32 *off, Tile &tl, int kb, int ke)
{
#ifdef OXA_HAVE_X86
    if (haveAvx512())
        return columnBytesAvx512(src, ci, off, tl, kb, ke);
#endif
    columnBytesScalar(src, ci, off, tl, kb, ke);
}

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
