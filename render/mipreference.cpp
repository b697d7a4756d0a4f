#include "render/mip.h"

#include <cmath>
#include <limits>

#include "data/slicedata.h"
#include "render/mipkernels.h"

namespace mip {

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

}  // namespace mip
