#ifndef VOLUMEPARAMS_H
#define VOLUMEPARAMS_H

#include "data/spacing.h"
#include "render/mip.h"
#include "render/scene.h"

namespace render {

// A point (x, y, z) in a set's voxel grid: (x / sx, y / sy, z / sz).
Vec3 voxelVector(const Vec3 &pt, const Spacing &sp);

// The axis the samples of a set of this spacing step along in view v (see mip::Params::axis).
int samplingAxis(const SceneView &v, const Spacing &sp);

// The ray caster's parameters for one layer whose set has ss slices of sw x sh, in a
// pw x ph picture. The rays are followed in the set's own voxel grid, where a point
// (x, y, z) lies at (x / sx, y / sy, z / sz) and the cut is measured in slice steps;
// dividing by 1 changes no bit, so spacing 1, 1, 1 draws as without spacing.
mip::Params volumeParams(const SceneView &v, const SceneLayer &layer, int sw, int sh, int ss, int pw, int ph);

}  // namespace render

#endif
