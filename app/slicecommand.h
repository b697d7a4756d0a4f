#ifndef SLICECOMMAND_H
#define SLICECOMMAND_H

#include <QByteArray>
#include <QImage>
#include <QString>

#include "render/measure.h"
#include "render/scene.h"
#include "render/sliceview.h"

// What `oxa-render --slice` and `--pick` make of a scene.

// "stack:12", "columns:0", "rows:40" (also z, x, y for the axes): the axis and the
// plane's index counted from 0; false for anything else.
bool parseSliceOption(const QString &text, SliceAxis &axis, int &index);

// The slice view of the scene's sets through plane `index` of the first set with
// slices along axis, every set whole in a w x h picture, with the measurements that
// lie in that plane drawn on it; a null picture when the index lies outside that set
// (with the reason in *error).
QImage slicePicture(const Scene &s, SliceAxis axis, int index, int w, int h, const std::vector<Measurement> &ms,
                    QString *error);

// The picked voxels of picture pixel (x, y) as JSON, one entry per set in order:
// {"set": i, "voxel": [column, row, slice], "position": [x, y, z], "value": v}, or
// null for a set whose ray shows nothing there.
QByteArray pickJson(const Scene &s, int x, int y);

#endif
