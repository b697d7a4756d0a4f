#include "render/volumeparams.h"

#include "render/colormap.h"

namespace render {

Vec3 voxelVector(const Vec3 &pt, const Spacing &sp)
{
    return Vec3{pt.x / sp.x, pt.y / sp.y, pt.z / sp.z};
}

int samplingAxis(const SceneView &v, const Spacing &sp)
{
    return v.sampling == Sampling::Voxels ? mip::stepAxis(voxelVector(v.nz, sp)) : 2;
}

mip::Params volumeParams(const SceneView &v, const SceneLayer &layer, int sw, int sh, int ss, int pw, int ph)
{
    mip::Params pr;
    pr.minTh = layer.minTh;
    pr.maxTh = layer.maxTh;
    pr.saturate = layer.above == AboveWindow::Saturate;
    pr.vColor = layer.vColor;
    pr.sColor = layer.sColor;
    pr.alpha = layer.alpha;
    pr.colorMap = layer.colorMap;
    pr.gamma = render::gammaOrOne(layer.gamma);
    pr.cut = layer.cut;
    pr.scale = v.scale;
    pr.sw = sw;
    pr.sh = sh;
    pr.pw = pw;
    pr.ph = ph;
    const Spacing &sp = layer.spacing;
    pr.nx = voxelVector(v.nx, sp);
    pr.ny = voxelVector(v.ny, sp);
    pr.nz = voxelVector(v.nz, sp);
    pr.center = voxelVector(v.center, sp);
    pr.csNz = Vec3{layer.csNz.x * sp.x / sp.z, layer.csNz.y * sp.y / sp.z, layer.csNz.z};
    pr.axis = samplingAxis(v, sp);
    pr.projection = layer.projection;
    pr.linear = layer.interpolation == Interpolation::Linear;
    pr.B = layer.cutPos / 100.0 * double(ss);
    return pr;
}

}  // namespace render
