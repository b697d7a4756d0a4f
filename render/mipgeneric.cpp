// The kernels of the projections other than the largest value: Minimum, Mean and
// Composite, sample by sample as the per-point reference takes them.
#include "render/mipkernels.h"
#include "render/raysample.h"

namespace mip {

namespace {

template <Projection P, bool Cut>
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
        const double v = sourceValue(src, pr.sw, int(fx), int(fy));
        takeSample<P>(pr, v, Cut && sh.bLow < d && d < sh.bHigh, tl.u[k], tl.cn[k], tl.cr[k], tl.cg[k], tl.cb[k],
                      tl.ca[k], tl.s[k]);
    }
}

}  // namespace

template <bool Cut> void runGenericKernel(const Shared &sh, const Source &src, double zj, Tile &tl, int kb, int ke)
{
    switch (sh.pr->projection) {
    case Projection::Minimum:
        return kernelGeneric<Projection::Minimum, Cut>(sh, src, zj, tl, kb, ke);
    case Projection::Mean:
        return kernelGeneric<Projection::Mean, Cut>(sh, src, zj, tl, kb, ke);
    case Projection::Composite:
        return kernelGeneric<Projection::Composite, Cut>(sh, src, zj, tl, kb, ke);
    case Projection::Maximum:
        return kernelGeneric<Projection::Maximum, Cut>(sh, src, zj, tl, kb, ke);
    }
}

template void runGenericKernel<true>(const Shared &, const Source &, double, Tile &, int, int);
template void runGenericKernel<false>(const Shared &, const Source &, double, Tile &, int, int);

}  // namespace mip
