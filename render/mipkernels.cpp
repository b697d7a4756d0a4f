#include "render/mipkernels.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define OXA_HAVE_X86 1
#endif

#include "data/slicedata.h"

namespace mip {

namespace {

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
            q = mapValue(src.rows[ri][ci], pr.minTh, pr.maxTh, pr.saturate);
            break;
        case Mode::Word16:
            q = src.qLut[word16At(src, ri, ci)];
            break;
        case Mode::Floats:
            q = mapValue(double(src.floats[qsizetype(ri) * pr.sw + ci]), pr.minTh, pr.maxTh, pr.saturate);
            break;
        default:
            q = mapValue(src.slice->value(ci, ri), pr.minTh, pr.maxTh, pr.saturate);
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
            const __m256d above = _mm256_cmp_pd(q, v255, _CMP_GT_OQ);
            q = pr.saturate ? _mm256_blendv_pd(q, v255, above) : _mm256_andnot_pd(above, q);
            q = _mm256_andnot_pd(_mm256_cmp_pd(q, zero, _CMP_LT_OQ), q);
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

}  // namespace

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

template void runKernel<true>(const Shared &, const Source &, double, Tile &, int, int);
template void runKernel<false>(const Shared &, const Source &, double, Tile &, int, int);

void columnBytes(const Source &src, const qint32 *ci, const quint32 *off, Tile &tl, int kb, int ke)
{
#ifdef OXA_HAVE_X86
    if (haveAvx512())
        return columnBytesAvx512(src, ci, off, tl, kb, ke);
#endif
    columnBytesScalar(src, ci, off, tl, kb, ke);
}

}  // namespace mip
