#include "render/scene.h"

#include <QLine>
#include <QPainter>
#include <QPen>

#include <cmath>
#include <limits>

namespace {

// Truncation toward zero, saturating where the int range ends (NaN gives 0),
// so a far-off corner cannot make the conversion undefined.
int truncToInt(double v)
{
    if (!(v == v))
        return 0;
    if (v >= double(std::numeric_limits<int>::max()))
        return std::numeric_limits<int>::max();
    if (v <= double(std::numeric_limits<int>::min()))
        return std::numeric_limits<int>::min();
    return int(v);
}

}  // namespace

namespace render {

void drawFrame(QPainter &p, const SceneView &v, int frameW, int frameH, int ss, int sw, int sh, bool temae,
               const QColor &color, const Spacing &spacing)
{
    const Vec3 &nx = v.nx, &ny = v.ny, &nz = v.nz, &center = v.center;
    const double scale = v.scale;
    p.setPen(QPen(color));
    const double hx = sw / 2.0 * spacing.x, hy = sh / 2.0 * spacing.y, hz = ss / 2.0 * spacing.z;
    // Corners A..H by the signs of (x, y, z).
    const Vec3 corner[8] = {
        {-hx, -hy, -hz}, {+hx, -hy, -hz}, {-hx, +hy, -hz}, {+hx, +hy, -hz},
        {-hx, -hy, +hz}, {+hx, -hy, +hz}, {-hx, +hy, +hz}, {+hx, +hy, +hz},
    };
    enum { A, B, C, D, E, F, G, H };
    struct Face {
        double facing;
        int edges[4][2];
    };
    const Face faces[6] = {
        {-hz * nz.z, {{A, B}, {A, C}, {D, B}, {D, C}}}, {-hy * nz.y, {{A, B}, {A, E}, {F, B}, {F, E}}},
        {-hx * nz.x, {{A, C}, {A, E}, {G, C}, {G, E}}}, {+hx * nz.x, {{H, D}, {H, F}, {B, D}, {B, F}}},
        {+hy * nz.y, {{H, G}, {H, D}, {C, G}, {C, D}}}, {+hz * nz.z, {{H, G}, {H, F}, {E, G}, {E, F}}},
    };
    const int halfW = frameW / 2;
    const int halfH = frameH / 2;
    auto place = [&](const Vec3 &pt) {
        const double dx = pt.x - center.x, dy = pt.y - center.y, dz = pt.z - center.z;
        const double col = halfW + (dx * nx.x + dy * nx.y + dz * nx.z) / scale;
        const double row = halfH + (dx * ny.x + dy * ny.y + dz * ny.z) / scale;
        return QPoint(truncToInt(col), truncToInt(row));
    };
    for (const Face &f : faces) {
        if (temae ? !(f.facing > 0.0) : !(f.facing < 0.0))
            continue;
        for (const auto &e : f.edges) {
            const QLine line(place(corner[e[0]]), place(corner[e[1]]));
            p.drawLines(&line, 1);
        }
    }
}

}  // namespace render
