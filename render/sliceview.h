#ifndef SLICEVIEW_H
#define SLICEVIEW_H

#include <QColor>
#include <QImage>
#include <QPointF>
#include <QString>

#include <optional>
#include <vector>

#include "render/scene.h"
#include "render/vec3.h"

class SliceDatas;

// Flat views through the loaded sets, in the one space the projection uses: a
// point is in the sets' unit (millimetres for most scans), the origin at the centre
// of every set's box, x along slice columns, y along slice rows, z along the stack.
// Voxel (column, row, slice) of a set of sw x sh x ss voxels of spacing (sx, sy, sz)
// covers x in [(column - sw / 2) sx, (column + 1 - sw / 2) sx), and alike for y and z.
// Pure functions over the scene's layers: they take each set's read lock.

enum class SliceAxis {
    Stack,    // the slices as stored: x to the right, y down, stepping along z
    Columns,  // across the stack at one column: z to the right, y down, stepping along x
    Rows,     // across the stack at one row: x to the right, z down, stepping along y
};

// What a window shows: the picture alone (the start), the picture with the three
// slice views, or one slice view alone. Sessions keep it.
enum class ViewsLayout { Picture, PictureAndSlices, Stack, Columns, Rows };

// The two in-plane coordinates (right, down) and the depth of a point seen along axis.
QPointF planePoint(SliceAxis axis, const Vec3 &p);
double planeDepth(SliceAxis axis, const Vec3 &p);
// The point of plane coordinates q at the given depth.
Vec3 spacePoint(SliceAxis axis, const QPointF &q, double depth);

// What a slice view shows: the plane through `depth` across `axis`, with the plane
// point `center` at the middle of the picture and `scale` units per picture pixel.
struct SliceViewState {
    SliceAxis axis = SliceAxis::Stack;
    double depth = 0.0;
    QPointF center;
    double scale = 1.0;
};

// The plane point under pixel (c, r) of a w x h picture (its centre).
QPointF pixelToPlane(const SliceViewState &v, int w, int h, double c, double r);
QPointF planeToPixel(const SliceViewState &v, int w, int h, const QPointF &q);

// One voxel of a set: its indices, the centre of the voxel as a point, and its value.
struct VoxelAt {
    int column = 0, row = 0, slice = 0;
    Vec3 position;
    double value = 0.0;
};

// The voxel of the layer's set that holds point p, if p lies in the set. The caller
// holds the set's read lock.
std::optional<VoxelAt> voxelAt(const SceneLayer &layer, const Vec3 &p);

// The index of the slice plane through `depth` in the layer's set along axis and how
// many there are (0 when the set has no slices); the caller holds the read lock.
int planeIndex(const SceneLayer &layer, SliceAxis axis, double depth, int *count = nullptr);
// The depth of the centre of plane `index` of the layer's set along axis.
double planeCentre(const SceneLayer &layer, SliceAxis axis, int index);

// The picture of a slice view, w x h pixels: the background, then every layer that
// shows its volume, in order, each voxel's value through the layer's window and
// colour ramp, blended by the layer's opacity; values outside the window leave
// what is below. A null picture for a refused size.
QImage drawSliceView(const std::vector<SceneLayer> &layers, const SliceViewState &v, int w, int h,
                     const QColor &background = Qt::white);

// The view that shows every layer's box whole in a w x h picture, at `depth`.
SliceViewState fittedSliceView(const std::vector<SceneLayer> &layers, SliceAxis axis, double depth, int w, int h);

#endif
