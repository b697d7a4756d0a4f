#ifndef RAYCAST_H
#define RAYCAST_H

// The per-point reference ray, over any source of values: castPixel reads a set's
// slices through it, and the streamed drawing of volumes larger than memory reads
// chunks through it, so both take every sample with the same arithmetic.

#include <QColor>

#include <algorithm>
#include <cmath>
#include <type_traits>
#include <utility>

#include "render/mip.h"
#include "render/mipkernels.h"
#include "render/raysample.h"

namespace mip {

// Where the ray of pixel (c, r) starts: the picture point on the plane through the
// view's centre.
struct RayOrigin {
    double x, y, z;
};

inline RayOrigin rayOriginOf(const Params &pr, int c, int r)
{
    const double a = c - pr.pw / 2.0;
    const double b = r - pr.ph / 2.0;
    return RayOrigin{pr.center.x + pr.scale * (a * pr.nx.x + b * pr.ny.x),
                     pr.center.y + pr.scale * (a * pr.nx.y + b * pr.ny.y),
                     pr.center.z + pr.scale * (a * pr.nx.z + b * pr.ny.z)};
}

// A source of values that also gives each value already mapped through the window
// (mapValue of it), as a table of every stored sample can: such a source derives from
// this and has mapped(plane, column, row) beside operator().
struct MapsValues {
};

template <typename Value> constexpr bool mapsValues = std::is_base_of_v<MapsValues, std::decay_t<Value>>;

// Where a ray from p0 crosses plane j of a stack of ss planes of sw x sh values: the
// point (x, y, z) about the stack's centre and its column and row positions fx, fy.
struct RayPoint {
    double x, y, z, fx, fy;
};

inline RayPoint rayPoint(const Params &pr, int ss, int j, const RayOrigin &p0)
{
    const double t = (j + pr.planeOffset - ss / 2.0 - p0.z) / pr.nz.z;
    const double x = p0.x + t * pr.nz.x;
    const double y = p0.y + t * pr.nz.y;
    const double z = p0.z + t * pr.nz.z;
    return RayPoint{x, y, z, pr.sw / 2.0 + x, pr.sh / 2.0 + y};
}

// The planes [begin, end) of a stack of ss outside which the ray from p0 takes no
// sample: there its points lie off the columns or rows, or on the cut-away side. Worked
// out in real numbers and widened by two planes each way, far more than rounding can
// move a point along an axis the ray crosses at a slope of at least 1e-6 a plane (an
// axis it runs nearer parallel to bounds nothing, but for exactly parallel, whose one
// position is tested as raySampleAt tests it); the planes inside keep their own tests,
// so passing over the others changes no sample.
inline void rayPlanes(const Params &pr, int ss, const RayOrigin &p0, int &begin, int &end)
{
    begin = 0;
    end = ss;
    if (pr.nz.z == 0.0)
        return;
    const double c = pr.planeOffset - ss / 2.0 - p0.z;
    double lo = -HUGE_VAL, hi = HUGE_VAL;
    bool none = false;
    // Keeps the planes where q0 + (j + c) * n / nz.z lies between qlo and qhi.
    auto keep = [&](double q0, double n, double qlo, double qhi) {
        const double slope = n / pr.nz.z;
        if (!(std::fabs(slope) >= 1e-6))
            return;
        double a = (qlo - q0) / slope - c, b = (qhi - q0) / slope - c;
        if (a > b)
            std::swap(a, b);
        lo = std::max(lo, a);
        hi = std::min(hi, b);
    };
    if (pr.nz.x == 0.0)
        none = none || !(pr.sw / 2.0 + p0.x > pr.loX && pr.sw / 2.0 + p0.x < double(pr.sw));
    else
        keep(pr.sw / 2.0 + p0.x, pr.nz.x, pr.loX, double(pr.sw));
    if (pr.nz.y == 0.0)
        none = none || !(pr.sh / 2.0 + p0.y > pr.loY && pr.sh / 2.0 + p0.y < double(pr.sh));
    else
        keep(pr.sh / 2.0 + p0.y, pr.nz.y, pr.loY, double(pr.sh));
    if (pr.cut)
        keep(p0.x * pr.csNz.x + p0.y * pr.csNz.y + p0.z * pr.csNz.z,
             pr.nz.x * pr.csNz.x + pr.nz.y * pr.csNz.y + pr.nz.z * pr.csNz.z, -HUGE_VAL, pr.B);
    if (none || lo > hi) {
        end = 0;
        return;
    }
    if (lo - 2.0 > 0.0)
        begin = lo - 2.0 < double(ss) ? int(lo - 2.0) : ss;
    if (hi + 3.0 < double(ss))
        end = hi + 3.0 > 0.0 ? int(hi + 3.0) : 0;
}

// The sample a ray takes at point p of plane j, its values read through
// value(plane, column, row), gathered into st: castPixel's arithmetic.
template <Projection P, typename Value>
inline void raySampleAt(const Params &pr, int j, const RayPoint &p, RayState &st, Value &value)
{
    const double fx = p.fx, fy = p.fy;
    if (!inPlane(pr, fx, fy))
        return;
    // Whether the point lies on the kept side of the cut is known before its value, so
    // nothing is read for samples cut away; the value on the cut face (inSlab) counts
    // only with a cut.
    bool inSlab = false;
    if (pr.cut) {
        const double d = p.x * pr.csNz.x + p.y * pr.csNz.y + p.z * pr.csNz.z;
        if (!(d < pr.B))
            return;
        inSlab = pr.B - 1.0 < d && d < pr.B + 1.0;
    }
    if constexpr (P == Projection::Maximum && mapsValues<Value>) {
        // The nearest value, mapped as takeSample maps it.
        if (!pr.linear) {
            const double q = value.mapped(j, int(fx), int(fy));
            if (q > st.u)
                st.u = q;
            if (inSlab)
                st.s = q;
            return;
        }
    }
    const double v = planeValue(pr, fx, fy, pr.sw, pr.sh, [&value, j](int col, int row) { return value(j, col, row); });
    takeSample<P>(pr, v, inSlab, st.u, st.n, st.r, st.g, st.b, st.a, st.s);
}

// The samples of pixel (c, r) along a stack of ss planes of sw x sh values, read
// through value(plane, column, row): castPixel's arithmetic for every orientation.
// Composite takes the planes front first (nz points to the viewer), the others in
// stack order.
template <Projection P, typename Value> QColor castRayAs(const Params &pr, int ss, int c, int r, Value value)
{
    const RayOrigin p0 = rayOriginOf(pr, c, r);
    RayState st;
    st.u = rayStart(P);
    const bool frontLast = P == Projection::Composite && pr.nz.z > 0.0;
    for (int i = 0; i < ss; ++i) {
        const int j = frontLast ? ss - 1 - i : i;
        if (pr.nz.z == 0.0)
            continue;
        if (rayDone<P>(st.a))
            break;
        raySampleAt<P>(pr, j, rayPoint(pr, ss, j, p0), st, value);
    }
    return rayPen(pr, st);
}

// The rays of pixels (c0 + k, r), k < n (at most maxGroupRays), cast together plane
// by plane: each takes the samples castRayAs takes, in its order and with its
// arithmetic (a ray done stays done), while neighbouring rays read neighbouring
// values one after another. value(k, plane, column, row); pens[k] gets ray k's pen.
constexpr int maxGroupRays = 64;

// Ray k's values of a group's source value(k, plane, column, row).
template <typename Value, bool = mapsValues<Value>> struct RayOf {
    Value &value;
    int k;
    double operator()(int j, int col, int row) const { return value(k, j, col, row); }
};
template <typename Value> struct RayOf<Value, true> : MapsValues {
    Value &value;
    int k;
    RayOf(Value &v, int ray) : value(v), k(ray) { }
    double operator()(int j, int col, int row) const { return value(k, j, col, row); }
    double mapped(int j, int col, int row) const { return value.mapped(k, j, col, row); }
};

// A group's source read along axis 0 or 1 as alongAxis makes it a stack: plane a,
// column b and row c of that stack are, of the slices, for axis 0 slice b at (a, c),
// for axis 1 slice c at (b, a).
template <int Axis, typename Value, bool = mapsValues<Value>> struct AlongAxisOf {
    Value &value;
    double operator()(int k, int a, int b, int c) const { return Axis == 0 ? value(k, b, a, c) : value(k, c, b, a); }
};
template <int Axis, typename Value> struct AlongAxisOf<Axis, Value, true> : MapsValues {
    Value &value;
    explicit AlongAxisOf(Value &v) : value(v) { }
    double operator()(int k, int a, int b, int c) const { return Axis == 0 ? value(k, b, a, c) : value(k, c, b, a); }
    double mapped(int k, int a, int b, int c) const
    {
        return Axis == 0 ? value.mapped(k, b, a, c) : value.mapped(k, c, b, a);
    }
};

template <Projection P, typename Value>
void castRaysAs(const Params &pr, int ss, int c0, int n, int r, Value value, QColor *pens)
{
    RayOrigin p0[maxGroupRays];
    RayState st[maxGroupRays];
    for (int k = 0; k < n; ++k) {
        p0[k] = rayOriginOf(pr, c0 + k, r);
        st[k].u = rayStart(P);
    }
    const bool frontLast = P == Projection::Composite && pr.nz.z > 0.0;
    // Only the planes where some ray of the group may take a sample.
    int first = ss, last = 0;
    for (int k = 0; k < n; ++k) {
        int b = 0, e = 0;
        rayPlanes(pr, ss, p0[k], b, e);
        if (b < e) {
            first = std::min(first, b);
            last = std::max(last, e);
        }
    }
    const int iBegin = frontLast ? ss - last : first, iEnd = frontLast ? ss - first : last;
    RayPoint points[maxGroupRays];
    for (int i = iBegin; i < iEnd && pr.nz.z != 0.0; ++i) {
        const int j = frontLast ? ss - 1 - i : i;
        // The crossing points first, in a loop of arithmetic alone that the compiler
        // may do two or four rays at a time.
        for (int k = 0; k < n; ++k)
            points[k] = rayPoint(pr, ss, j, p0[k]);
        for (int k = 0; k < n; ++k) {
            if (rayDone<P>(st[k].a))
                continue;
            RayOf<Value> at{value, k};
            raySampleAt<P>(pr, j, points[k], st[k], at);
        }
    }
    for (int k = 0; k < n; ++k)
        pens[k] = rayPen(pr, st[k]);
}

template <typename Value> void castRays(const Params &pr, int ss, int c0, int n, int r, Value value, QColor *pens)
{
    switch (pr.projection) {
    case Projection::Minimum:
        return castRaysAs<Projection::Minimum>(pr, ss, c0, n, r, value, pens);
    case Projection::Mean:
        return castRaysAs<Projection::Mean>(pr, ss, c0, n, r, value, pens);
    case Projection::Composite:
        return castRaysAs<Projection::Composite>(pr, ss, c0, n, r, value, pens);
    case Projection::Maximum:
        break;
    }
    castRaysAs<Projection::Maximum>(pr, ss, c0, n, r, value, pens);
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

// The pixels (c0 + k, r), k < n (at most maxGroupRays), as castPixelWith gives each,
// read through value(k, slice, column, row).
template <typename Value> void castPixelsWith(const Params &pr, int ss, int c0, int n, int r, Value value, QColor *pens)
{
    if (ss <= 0) {
        for (int k = 0; k < n; ++k)
            pens[k] = QColor(255, 255, 255, 0);
        return;
    }
    if (pr.axis == 0)
        return castRays(alongAxis(pr, ss), pr.sw, c0, n, r, AlongAxisOf<0, Value>{value}, pens);
    if (pr.axis == 1)
        return castRays(alongAxis(pr, ss), pr.sh, c0, n, r, AlongAxisOf<1, Value>{value}, pens);
    castRays(pr, ss, c0, n, r, value, pens);
}

}  // namespace mip

#endif
