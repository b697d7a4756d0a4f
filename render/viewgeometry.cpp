#include "render/scene.h"

#include <algorithm>
#include <cmath>

#include "data/slicedatas.h"

namespace {

double drift(const SceneView &v)
{
    const double lengths = std::max({std::fabs(render::dot(v.nx, v.nx) - 1.0), std::fabs(render::dot(v.ny, v.ny) - 1.0),
                                     std::fabs(render::dot(v.nz, v.nz) - 1.0)});
    const double angles = std::max(
        {std::fabs(render::dot(v.nx, v.ny)), std::fabs(render::dot(v.nx, v.nz)), std::fabs(render::dot(v.ny, v.nz))});
    return std::max(lengths, angles);
}

bool squareEnough(const SceneView &v)
{
    return drift(v) <= render::viewAxisTolerance / 1000.0;
}

Vec3 normalised(const Vec3 &v)
{
    const double n = std::sqrt(render::dot(v, v));
    return Vec3{v.x / n, v.y / n, v.z / n};
}

Vec3 minusPart(const Vec3 &v, const Vec3 &unit)
{
    const double d = render::dot(v, unit);
    return Vec3{v.x - d * unit.x, v.y - d * unit.y, v.z - d * unit.z};
}

// Gram-Schmidt from the line of sight: nz keeps its direction, nx and ny move least
// in that order, and a mirrored view stays mirrored.
void squareUp(SceneView &v)
{
    v.nz = normalised(v.nz);
    v.nx = normalised(minusPart(v.nx, v.nz));
    v.ny = normalised(minusPart(minusPart(v.ny, v.nz), v.nx));
}

}  // namespace

namespace render {

bool unitLength(const Vec3 &v)
{
    return std::fabs(std::sqrt(dot(v, v)) - 1.0) <= viewAxisTolerance;
}

double dot(const Vec3 &a, const Vec3 &b)
{
    return a.x * b.x + a.y * b.y + a.z * b.z;
}

double thresholdFromPercent(double rMin, double rMax, double pc)
{
    const double span = rMax - rMin;
    if (std::isfinite(span) || !std::isfinite(rMin) || !std::isfinite(rMax) || !std::isfinite(pc))
        return rMin + pc * span / 100.0;
    const double halfStep = pc * (rMax / 2 - rMin / 2) / 100.0;
    return rMin + halfStep + halfStep;
}

// Near the ends of the double range (values such as -1e308 and 1e308) the span or
// its product with the percentage overflows; the sum is then worked in halves, so
// that 0 % and 100 % still give the range's ends and no infinity turns into a NaN.
double valueFromPercent(double low, double high, double pc)
{
    const double scaled = (high - low) * pc;
    if (std::isfinite(scaled) || !std::isfinite(low) || !std::isfinite(high) || !std::isfinite(pc))
        return scaled / 100 + low;
    const double halfStep = (high / 2 - low / 2) * (pc / 100);
    return low + halfStep + halfStep;
}

double percentFromValue(double low, double high, double v)
{
    const double offset = v - low;
    const double span = high - low;
    if ((std::isfinite(offset) && std::isfinite(span)) || !std::isfinite(low) || !std::isfinite(high)
        || !std::isfinite(v))
        return offset / span * 100;
    return (v / 2 - low / 2) / (high / 2 - low / 2) * 100;
}

SceneView turned(const SceneView &v, const Vec3 &rax, double th)
{
    const double c = std::cos(th);
    const double s = std::sin(th);
    const double a = rax.x;
    const double b = rax.y;
    const double k = rax.z;

    const double m00 = c + a * a * (1 - c);
    const double m01 = a * b * (1 - c) + k * s;
    const double m02 = a * k * (1 - c) - b * s;
    const double m10 = a * b * (1 - c) - k * s;
    const double m11 = c + b * b * (1 - c);
    const double m12 = b * k * (1 - c) + a * s;
    const double m20 = a * k * (1 - c) + b * s;
    const double m21 = b * k * (1 - c) - a * s;
    const double m22 = c + k * k * (1 - c);

    auto rotate = [&](const Vec3 &w) {
        Vec3 r;
        r.x = w.x * m00 + w.y * m01 + w.z * m02;
        r.y = w.x * m10 + w.y * m11 + w.z * m12;
        r.z = w.x * m20 + w.y * m21 + w.z * m22;
        return r;
    };
    SceneView out = v;
    out.nx = rotate(v.nx);
    out.ny = rotate(v.ny);
    out.nz = rotate(v.nz);
    if (!squareEnough(out))
        squareUp(out);
    return out;
}

SceneView fitted(const Scene &s, int w, int h)
{
    // Every set's box is centred on the volume origin; the picture is filled to
    // this share of its smaller fitting side.
    constexpr double fill = 0.95;
    double extentX = 0.0, extentY = 0.0;
    for (const SceneLayer &layer : s.layers) {
        if (layer.set == nullptr)
            continue;
        double hx, hy, hz;
        {
            SliceDatas::ReadGuard guard(*layer.set);
            if (layer.set->width <= 0 || layer.set->height <= 0 || layer.set->slices.empty())
                continue;
            hx = layer.set->width / 2.0 * layer.spacing.x;
            hy = layer.set->height / 2.0 * layer.spacing.y;
            hz = double(layer.set->slices.size()) / 2.0 * layer.spacing.z;
        }
        const SceneView &v = s.view;
        extentX = std::max(extentX, std::fabs(hx * v.nx.x) + std::fabs(hy * v.nx.y) + std::fabs(hz * v.nx.z));
        extentY = std::max(extentY, std::fabs(hx * v.ny.x) + std::fabs(hy * v.ny.y) + std::fabs(hz * v.ny.z));
    }
    SceneView out = s.view;
    if (extentX <= 0.0 && extentY <= 0.0)
        return out;
    if (w <= 0 || h <= 0)
        return out;
    const double scale = std::max(2.0 * extentX / (fill * w), 2.0 * extentY / (fill * h));
    if (!std::isnormal(scale))
        return out;
    out.scale = scale;
    out.center = Vec3{};
    return out;
}

}  // namespace render
