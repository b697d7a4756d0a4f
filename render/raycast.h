#ifndef RAYCAST_H
#define RAYCAST_H

// The per-point reference ray, over any source of values: castPixel reads a set's
// slices through it, and the streamed drawing of volumes larger than memory reads
// chunks through it, so both take every sample with the same arithmetic.

#include <QColor>

#include "render/mip.h"
#include "render/mipkernels.h"
#include "render/raysample.h"

namespace mip {

// The samples of pixel (c, r) along a stack of ss planes of sw x sh values, read
// through value(plane, column, row): castPixel's arithmetic for every orientation.
// Composite takes the planes front first (nz points to the viewer), the others in
// stack order.
template <Projection P, typename Value> QColor castRayAs(const Params &pr, int ss, int c, int r, Value value)
{
    const double a = c - pr.pw / 2.0;
    const double b = r - pr.ph / 2.0;
    const double p0x = pr.center.x + pr.scale * (a * pr.nx.x + b * pr.ny.x);
    const double p0y = pr.center.y + pr.scale * (a * pr.nx.y + b * pr.ny.y);
    const double p0z = pr.center.z + pr.scale * (a * pr.nx.z + b * pr.ny.z);
    RayState st;
    st.u = rayStart(P);
    const bool frontLast = P == Projection::Composite && pr.nz.z > 0.0;
    for (int i = 0; i < ss; ++i) {
        const int j = frontLast ? ss - 1 - i : i;
        if (pr.nz.z == 0.0)
            continue;
        if (rayDone<P>(st.a))
            break;
        const double t = (j + pr.planeOffset - ss / 2.0 - p0z) / pr.nz.z;
        const double x = p0x + t * pr.nz.x;
        const double y = p0y + t * pr.nz.y;
        const double z = p0z + t * pr.nz.z;
        const double fx = pr.sw / 2.0 + x;
        const double fy = pr.sh / 2.0 + y;
        if (!inPlane(pr, fx, fy))
            continue;
        const double v =
            planeValue(pr, fx, fy, pr.sw, pr.sh, [&value, j](int col, int row) { return value(j, col, row); });
        const double d = x * pr.csNz.x + y * pr.csNz.y + z * pr.csNz.z;
        if (pr.cut && !(d < pr.B))
            continue;
        takeSample<P>(pr, v, pr.B - 1.0 < d && d < pr.B + 1.0, st.u, st.n, st.r, st.g, st.b, st.a, st.s);
    }
    return rayPen(pr, st);
}

template <typename Value> QColor castRay(const Params &pr, int ss, int c, int r, Value value)
{
    switch (pr.projection) {
    case Projection::Minimum:
        return castRayAs<Projection::Minimum>(pr, ss, c, r, value);
    case Projection::Mean:
        return castRayAs<Projection::Mean>(pr, ss, c, r, value);
    case Projection::Composite:
        return castRayAs<Projection::Composite>(pr, ss, c, r, value);
    case Projection::Maximum:
        break;
    }
    return castRayAs<Projection::Maximum>(pr, ss, c, r, value);
}

// The ray of pixel (c, r) through a stack of ss slices of pr.sw x pr.sh values read
// through value(slice, column, row), sampled along pr.axis as castPixel samples.
template <typename Value> QColor castPixelWith(const Params &pr, int ss, int c, int r, Value value)
{
    if (ss <= 0)
        return QColor(255, 255, 255, 0);
    if (pr.axis == 0)
        return castRay(alongAxis(pr, ss), pr.sw, c, r, [&](int col, int j, int row) { return value(j, col, row); });
    if (pr.axis == 1)
        return castRay(alongAxis(pr, ss), pr.sh, c, r, [&](int row, int col, int j) { return value(j, col, row); });
    return castRay(pr, ss, c, r, value);
}

}  // namespace mip

#endif
