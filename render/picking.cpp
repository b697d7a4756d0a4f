#include "render/picking.h"

#include "data/slicedata.h"
#include "data/slicedatas.h"
#include "render/mipkernels.h"
#include "render/volumeparams.h"

namespace render {

namespace {

struct Hit {
    int plane = 0, column = 0, row = 0;
    double value = 0.0;
};

// castPixel's ray (see mipreference.cpp) with the sample that sets the colour kept:
// the same positions, tests and window, in the same order.
template <typename Value>
std::optional<Hit> pickRay(const mip::Params &pr, int ss, int c, int r, Value value)
{
    const double a = c - pr.pw / 2.0;
    const double b = r - pr.ph / 2.0;
    const double p0x = pr.center.x + pr.scale * (a * pr.nx.x + b * pr.ny.x);
    const double p0y = pr.center.y + pr.scale * (a * pr.nx.y + b * pr.ny.y);
    const double p0z = pr.center.z + pr.scale * (a * pr.nx.z + b * pr.ny.z);
    double u = 0.0;
    double s = 0.0;
    std::optional<Hit> best, face;
    for (int j = 0; j < ss; ++j) {
        if (pr.nz.z == 0.0)
            continue;
        const double t = (j - ss / 2.0 - p0z) / pr.nz.z;
        const double x = p0x + t * pr.nz.x;
        const double y = p0y + t * pr.nz.y;
        const double z = p0z + t * pr.nz.z;
        const double fx = pr.sw / 2.0 + x;
        const double fy = pr.sh / 2.0 + y;
        if (!mip::inPlane(pr, fx, fy))
            continue;
        const double v = value(j, int(fx), int(fy));
        const double d = x * pr.csNz.x + y * pr.csNz.y + z * pr.csNz.z;
        if (pr.cut && !(d < pr.B))
            continue;
        const double q = mip::mapValue(v, pr.minTh, pr.maxTh, pr.saturate);
        if (q > u) {
            u = q;
            best = Hit{j, int(fx), int(fy), v};
        }
        if (pr.B - 1.0 < d && d < pr.B + 1.0) {
            s = q;
            face = Hit{j, int(fx), int(fy), v};
        }
    }
    if (pr.cut && s > 0.0)
        return face;
    return u > 0.0 ? best : std::nullopt;
}

}  // namespace

std::optional<VoxelAt> pickVoxel(const SceneView &v, const SceneLayer &layer, int pw, int ph, int c, int r)
{
    if (layer.set == nullptr || !layer.showVolume)
        return std::nullopt;
    const SliceDatas &set = *layer.set;
    SliceDatas::ReadGuard guard(set);
    const int ss = int(set.slices.size()), sw = set.width, sh = set.height;
    if (ss == 0 || sw <= 0 || sh <= 0)
        return std::nullopt;
    const mip::Params pr = volumeParams(v, layer, sw, sh, ss, pw, ph);
    const std::vector<SliceData *> &slices = set.slices;
    std::optional<Hit> hit;
    VoxelAt out;
    if (pr.axis == 0) {
        hit = pickRay(mip::alongAxis(pr, ss), sw, c, r,
                      [&](int col, int j, int row) { return slices[size_t(j)]->value(col, row); });
        if (hit)
            out.column = hit->plane, out.slice = hit->column, out.row = hit->row;
    } else if (pr.axis == 1) {
        hit = pickRay(mip::alongAxis(pr, ss), sh, c, r,
                      [&](int row, int col, int j) { return slices[size_t(j)]->value(col, row); });
        if (hit)
            out.row = hit->plane, out.column = hit->column, out.slice = hit->row;
    } else {
        hit = pickRay(pr, ss, c, r, [&](int j, int col, int row) { return slices[size_t(j)]->value(col, row); });
        if (hit)
            out.slice = hit->plane, out.column = hit->column, out.row = hit->row;
    }
    if (!hit)
        return std::nullopt;
    const Spacing &sp = layer.spacing;
    out.value = hit->value;
    out.position = Vec3{(out.column + 0.5 - sw / 2.0) * sp.x, (out.row + 0.5 - sh / 2.0) * sp.y,
                        (out.slice + 0.5 - ss / 2.0) * sp.z};
    return out;
}

std::vector<std::optional<VoxelAt>> pickPixel(const Scene &s, int c, int r)
{
    std::vector<std::optional<VoxelAt>> out;
    for (const SceneLayer &layer : s.layers)
        out.push_back(pickVoxel(s.view, layer, s.width, s.height, c, r));
    return out;
}

}  // namespace render
