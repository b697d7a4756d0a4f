#include "render/mip.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "data/slicedata.h"
#include "render/mipkernels.h"
#include "render/raycast.h"
#include "render/raysample.h"

namespace mip {

QRgb volumeRgb(const Params &pr, double w)
{
    // A gamma bends the strength over its whole span, so 255 stays 255.
    if (pr.gamma != 1.0)
        w = 255.0 * std::pow(w / 255.0, pr.gamma);
    if (pr.colorMap == ColorMap::WhiteRamp)
        return qRgb(strengthComponent(pr.vColor.red(), w), strengthComponent(pr.vColor.green(), w),
                    strengthComponent(pr.vColor.blue(), w));
    return render::colorMapEntry(pr.colorMap, int(w + 0.5));
}

QColor pixelColor(const Params &pr, double u, double s)
{
    QRgb rgb;
    if (pr.cut && s > 0.0)
        rgb = qRgb(strengthComponent(pr.sColor.red(), s), strengthComponent(pr.sColor.green(), s),
                   strengthComponent(pr.sColor.blue(), s));
    else if (u > 0.0)
        rgb = volumeRgb(pr, u);
    else
        return QColor(255, 255, 255, 0);
    return QColor(qRed(rgb), qGreen(rgb), qBlue(rgb), pr.alpha);
}

CompositeTables compositeTables(const Params &pr, const OpacityCurve &curve)
{
    CompositeTables t;
    for (int i = 0; i < 256; ++i) {
        t.opacity[i] = std::clamp(curve.at(i / 255.0), 0.0, 1.0);
        const QRgb c = volumeRgb(pr, std::min(255.0, i + 0.5));
        t.red[i] = qRed(c);
        t.green[i] = qGreen(c);
        t.blue[i] = qBlue(c);
    }
    return t;
}

namespace {

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
        q.offX = 0.0;
    } else {
        q.sh = ss;
        q.loY = atZero;
        q.offY = 0.0;
    }
    if (pr.linear)
        q.planeOffset = 0.5;
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
    return castPixelWith(pr, int(slices.size()), c, r,
                         [&](int j, int col, int row) { return slices[size_t(j)]->value(col, row); });
}

}  // namespace mip
