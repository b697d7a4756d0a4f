#ifndef PICKING_H
#define PICKING_H

#include <optional>
#include <vector>

#include "render/scene.h"
#include "render/sliceview.h"

namespace render {

// The voxel that gives a picture pixel its colour for one layer: the first sample
// along the ray with the largest value through the window, or, where the pixel shows
// the cut face, the face's sample; sampled exactly as the per-point reference casts
// the ray. Nothing where the layer shows nothing at that pixel (no sample inside the
// window, or no set). Takes the set's read lock.
std::optional<VoxelAt> pickVoxel(const SceneView &v, const SceneLayer &layer, int pw, int ph, int c, int r);

// The same for every layer of the scene, in order (one entry per layer).
std::vector<std::optional<VoxelAt>> pickPixel(const Scene &s, int c, int r);

}  // namespace render

#endif
