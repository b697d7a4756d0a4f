// The kernels of the projections other than the largest value: Minimum, Mean and
// Composite, sample by sample as the per-point reference takes them.
#include "render/mipkernels.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define OXA_HAVE_X86 1
#endif

#include "render/raysample.h"

namespace mip {

namespace {

template <Projection P, bool Cut, bool Linear>
void kernelGeneric(const Shared &sh, const Source &src, double zj, Tile &tl, int kb, int ke)
{
    const Params &pr = *sh.pr;
    const double nzz = pr.nz.z, nzx = pr.nz.x, nzy = pr.nz.y;
    for (int k = kb; k < ke; ++k) {
        if (rayDone<P>(tl.ca[k]))
            continue;
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
        const double v = Linear
            ? planeValue(pr, fx, fy, pr.sw, pr.sh,
                         [&src, &pr](int col, int row) { return sourceValue(src, pr.sw, col, row); })
            : sourceValue(src, pr.sw, int(fx), int(fy));
        takeSample<P>(pr, v, Cut && sh.bLow < d && d < sh.bHigh, tl.u[k], tl.cn[k], tl.cr[k], tl.cg[k], tl.cb[k],
                      tl.ca[k], tl.s[k]);
    }
}

#ifdef OXA_HAVE_X86
// The values at byte offsets off of four lanes of a byte source.
__attribute__((target("avx2"))) inline __m256d byteValuesAt(const Source &src, __m128i off)
{
    alignas(16) qint32 o[4];
    _mm_store_si128(reinterpret_cast<__m128i *>(o), off);
    const uchar *bits = src.bits;
    if (src.byteIsValue)
        return _mm256_cvtepi32_pd(_mm_setr_epi32(bits[o[0]], bits[o[1]], bits[o[2]], bits[o[3]]));
    const double *lut = src.vLut;
    return _mm256_set_pd(lut[bits[o[3]]], lut[bits[o[2]]], lut[bits[o[1]]], lut[bits[o[0]]]);
}

// The byte offsets of columns ci and rows ri.
__attribute__((target("avx2"))) inline __m128i byteOffsets(const Source &src, __m128i ci, __m128i ri)
{
    return _mm_add_epi32(_mm_mullo_epi32(ri, _mm_set1_epi32(src.bpl)), _mm_mullo_epi32(ci, _mm_set1_epi32(src.stride)));
}

// acc[k .. k + 3] += w * table[i] in the lanes of take.
__attribute__((target("avx2"))) inline void blendInto(double *acc, const double *table, __m128i i, __m256d w,
                                                      __m256d take)
{
    const __m256d c = _mm256_loadu_pd(acc);
    const __m256d add =
        _mm256_add_pd(c, _mm256_mul_pd(w, _mm256_mask_i32gather_pd(_mm256_setzero_pd(), table, i, take, 8)));
    _mm256_storeu_pd(acc, _mm256_blendv_pd(c, add, take));
}

// Four rays at a time over byte slices, every operation the scalar kernel's lane
// by lane (AVX2 alone: no fused multiply-add); the bytes are read with plain loads.
template <Projection P, bool Cut, bool Linear>
__attribute__((target("avx2"))) void kernelAvx2Byte(const Shared &sh, const Source &src, double zj, Tile &tl, int kb,
                                                    int ke)
{
    const Params &pr = *sh.pr;
    const __m256d vzj = _mm256_set1_pd(zj), vnzz = _mm256_set1_pd(pr.nz.z), vnzx = _mm256_set1_pd(pr.nz.x),
                  vnzy = _mm256_set1_pd(pr.nz.y), vhw = _mm256_set1_pd(sh.hw), vhh = _mm256_set1_pd(sh.hh),
                  vsw = _mm256_set1_pd(double(pr.sw)), vsh = _mm256_set1_pd(double(pr.sh)),
                  vloX = _mm256_set1_pd(pr.loX), vloY = _mm256_set1_pd(pr.loY), vcx = _mm256_set1_pd(pr.csNz.x),
                  vcy = _mm256_set1_pd(pr.csNz.y), vcz = _mm256_set1_pd(pr.csNz.z), vB = _mm256_set1_pd(pr.B),
                  vBlo = _mm256_set1_pd(sh.bLow), vBhi = _mm256_set1_pd(sh.bHigh), zero = _mm256_setzero_pd(),
                  one = _mm256_set1_pd(1.0), vMin = _mm256_set1_pd(pr.minTh), vDen = _mm256_set1_pd(sh.den),
                  v256 = _mm256_set1_pd(256.0), v255 = _mm256_set1_pd(255.0), vOffX = _mm256_set1_pd(pr.offX),
                  vOffY = _mm256_set1_pd(pr.offY), vLimit = _mm256_set1_pd(opaqueLimit);
    const __m128i izero = _mm_setzero_si128(), ione = _mm_set1_epi32(1), wLast = _mm_set1_epi32(pr.sw - 1),
                  hLast = _mm_set1_epi32(pr.sh - 1);
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
        if (P == Projection::Composite)
            in = _mm256_and_pd(in, _mm256_cmp_pd(_mm256_loadu_pd(tl.ca + k), vLimit, _CMP_LT_OQ));
        if (_mm256_movemask_pd(in) == 0)
            continue;
        // Lanes outside the slice read its first samples and take nothing.
        fx = _mm256_and_pd(fx, in);
        fy = _mm256_and_pd(fy, in);
        __m256d v;
        if (!Linear) {
            v = byteValuesAt(src, byteOffsets(src, _mm256_cvttpd_epi32(fx), _mm256_cvttpd_epi32(fy)));
        } else {
            const __m256d ux = _mm256_sub_pd(fx, vOffX), uy = _mm256_sub_pd(fy, vOffY);
            const __m256d flx = _mm256_floor_pd(ux), fly = _mm256_floor_pd(uy);
            const __m256d wx = _mm256_sub_pd(ux, flx), wy = _mm256_sub_pd(uy, fly);
            const __m128i ix = _mm256_cvttpd_epi32(flx), iy = _mm256_cvttpd_epi32(fly);
            const __m128i x0 = _mm_min_epi32(_mm_max_epi32(ix, izero), wLast);
            const __m128i x1 = _mm_min_epi32(_mm_max_epi32(_mm_add_epi32(ix, ione), izero), wLast);
            const __m128i y0 = _mm_min_epi32(_mm_max_epi32(iy, izero), hLast);
            const __m128i y1 = _mm_min_epi32(_mm_max_epi32(_mm_add_epi32(iy, ione), izero), hLast);
            // Neighbours one column and one row on, where the edge does not repeat.
            const __m128i o00 = byteOffsets(src, x0, y0);
            const __m128i dx = _mm_and_si128(_mm_cmpgt_epi32(x1, x0), _mm_set1_epi32(src.stride));
            const __m128i dy = _mm_and_si128(_mm_cmpgt_epi32(y1, y0), _mm_set1_epi32(src.bpl));
            const __m256d v00 = byteValuesAt(src, o00), v10 = byteValuesAt(src, _mm_add_epi32(o00, dx)),
                          v01 = byteValuesAt(src, _mm_add_epi32(o00, dy)),
                          v11 = byteValuesAt(src, _mm_add_epi32(_mm_add_epi32(o00, dx), dy));
            const __m256d top = _mm256_add_pd(v00, _mm256_mul_pd(wx, _mm256_sub_pd(v10, v00)));
            const __m256d bottom = _mm256_add_pd(v01, _mm256_mul_pd(wx, _mm256_sub_pd(v11, v01)));
            v = _mm256_add_pd(top, _mm256_mul_pd(wy, _mm256_sub_pd(bottom, top)));
        }
        // The mapped value, as mapValue gives it.
        __m256d q = zero;
        if (P == Projection::Maximum || P == Projection::Composite || Cut) {
            q = _mm256_mul_pd(_mm256_div_pd(_mm256_sub_pd(v, vMin), vDen), v256);
            const __m256d above = _mm256_cmp_pd(q, v255, _CMP_GT_OQ);
            q = pr.saturate ? _mm256_blendv_pd(q, v255, above) : _mm256_andnot_pd(above, q);
            q = _mm256_andnot_pd(_mm256_cmp_pd(q, zero, _CMP_LT_OQ), q);
        }
        const __m256d u = _mm256_loadu_pd(tl.u + k);
        if (P == Projection::Minimum) {
            _mm256_storeu_pd(tl.u + k, _mm256_blendv_pd(u, v, _mm256_and_pd(in, _mm256_cmp_pd(v, u, _CMP_LT_OQ))));
        } else if (P == Projection::Mean) {
            _mm256_storeu_pd(tl.u + k, _mm256_blendv_pd(u, _mm256_add_pd(u, v), in));
            const __m256d n = _mm256_loadu_pd(tl.cn + k);
            _mm256_storeu_pd(tl.cn + k, _mm256_blendv_pd(n, _mm256_add_pd(n, one), in));
        } else if (P == Projection::Maximum) {
            _mm256_storeu_pd(tl.u + k, _mm256_blendv_pd(u, q, _mm256_and_pd(in, _mm256_cmp_pd(q, u, _CMP_GT_OQ))));
        } else {
            __m256d take = _mm256_and_pd(in, _mm256_cmp_pd(q, zero, _CMP_GT_OQ));
            if (_mm256_movemask_pd(take) != 0) {
                const __m128i i = _mm256_cvttpd_epi32(_mm256_and_pd(q, take));
                const CompositeTables &tab = *pr.composite;
                const __m256d opacity = _mm256_mask_i32gather_pd(zero, tab.opacity, i, take, 8);
                take = _mm256_and_pd(take, _mm256_cmp_pd(opacity, zero, _CMP_GT_OQ));
                const __m256d a = _mm256_loadu_pd(tl.ca + k);
                const __m256d w = _mm256_mul_pd(_mm256_sub_pd(one, a), opacity);
                blendInto(tl.cr + k, tab.red, i, w, take);
                blendInto(tl.cg + k, tab.green, i, w, take);
                blendInto(tl.cb + k, tab.blue, i, w, take);
                _mm256_storeu_pd(tl.ca + k, _mm256_blendv_pd(a, _mm256_add_pd(a, w), take));
            }
        }
        if (Cut) {
            const __m256d slab = _mm256_and_pd(
                in, _mm256_and_pd(_mm256_cmp_pd(d, vBlo, _CMP_GT_OQ), _mm256_cmp_pd(d, vBhi, _CMP_LT_OQ)));
            _mm256_storeu_pd(tl.s + k, _mm256_blendv_pd(_mm256_loadu_pd(tl.s + k), q, slab));
        }
    }
    kernelGeneric<P, Cut, Linear>(sh, src, zj, tl, n4, ke);
}

bool haveAvx2()
{
    static const bool yes = __builtin_cpu_supports("avx2");
    return yes;
}
#endif

template <Projection P, bool Cut> void runFor(const Shared &sh, const Source &src, double zj, Tile &tl, int kb, int ke)
{
    const bool linear = sh.pr->linear;
#ifdef OXA_HAVE_X86
    if (src.mode == Mode::Byte && haveAvx2())
        return linear ? kernelAvx2Byte<P, Cut, true>(sh, src, zj, tl, kb, ke)
                      : kernelAvx2Byte<P, Cut, false>(sh, src, zj, tl, kb, ke);
#endif
    linear ? kernelGeneric<P, Cut, true>(sh, src, zj, tl, kb, ke)
           : kernelGeneric<P, Cut, false>(sh, src, zj, tl, kb, ke);
}

}  // namespace

template <bool Cut> void runGenericKernel(const Shared &sh, const Source &src, double zj, Tile &tl, int kb, int ke)
{
    switch (sh.pr->projection) {
    case Projection::Minimum:
        return runFor<Projection::Minimum, Cut>(sh, src, zj, tl, kb, ke);
    case Projection::Mean:
        return runFor<Projection::Mean, Cut>(sh, src, zj, tl, kb, ke);
    case Projection::Composite:
        return runFor<Projection::Composite, Cut>(sh, src, zj, tl, kb, ke);
    case Projection::Maximum:
        return runFor<Projection::Maximum, Cut>(sh, src, zj, tl, kb, ke);
    }
}

template void runGenericKernel<true>(const Shared &, const Source &, double, Tile &, int, int);
template void runGenericKernel<false>(const Shared &, const Source &, double, Tile &, int, int);

}  // namespace mip
