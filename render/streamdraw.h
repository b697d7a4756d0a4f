#ifndef STREAMDRAW_H
#define STREAMDRAW_H

#include <QtGlobal>

#include <functional>

#include "render/scene.h"

class SliceDatas;
class StreamedVolume;

namespace render {

// The level a view draws a streamed set at: the finest whose voxels are no smaller than
// a picture pixel (each of its spacings at least the view's scale, the set's spacing as
// the layer gives it standing for the level its slices hold); the coarsest when none is.
int streamLevelFor(const SceneView &v, const SceneLayer &layer, const StreamedVolume &s);

struct StreamedResult {
    bool drawn = false;  // false: the set is drawn from its slices as usual
    int level = 0;
    qint64 missing = 0;  // chunks of the level not yet in, asked for
};

// Draws the layer's volume from its set's chunks at the level the view calls for, when
// that level is finer than the one the set's slices hold and layer.finerLevels is not
// off, into the opaque ARGB32 pixels
// at dest as the raster path does (premul[a]: the engine's blend at opacity a). Every
// sample is taken as the per-point reference takes it, so where every chunk the rays
// meet is in, the picture equals that of the level's slices in memory. The caller holds
// the set's read lock. arrived() is passed to each chunk asked for.
StreamedResult drawStreamed(const SceneView &v, const SceneLayer &layer, const SliceDatas &set,
                            const quint8 *const *premul, uchar *dest, qsizetype bpl, int pw, int ph,
                            const std::function<void()> &arrived);

}  // namespace render

#endif
