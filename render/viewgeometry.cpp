#include "render/scene.h"

#include <algorithm>
#include <cmath>

#include "data/slicedatas.h"

namespace render {

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
