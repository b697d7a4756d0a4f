#ifndef WINDOWCHOICE_H
#define WINDOWCHOICE_H

#include <QString>
#include <QtGlobal>

#include <vector>

class SliceDatas;

namespace render {

// A display window in data units.
struct ValueWindow {
    double low = 0.0;
    double high = 0.0;
};

// The usual windows for CT sets in Hounsfield units, by their centre and width.
enum class WindowPreset { Brain, SoftTissue, Bone, Lung };
const std::vector<WindowPreset> &windowPresets();
ValueWindow presetWindow(WindowPreset p);

// Counts of the set's values (NaN and values outside minV .. maxV left out) in
// `bins` equal bins over minV .. maxV, the last bin closed. Large sets are counted
// on evenly chosen rows, at least 2^24 values. Empty when the set has no finite
// range, no slices or bins < 1. The caller holds the set's read lock.
std::vector<qint64> valueHistogram(const SliceDatas &set, int bins);

// Round values for an axis from low to high (both included when round): steps of
// 1, 2 or 5 times a power of ten, at most maxTicks of them; empty for an empty or
// infinite span.
std::vector<double> axisTicks(double low, double high, int maxTicks);

// The window from the 0.5th to the 99.5th percentile of the set's values (NaN
// left out), counted on a fine histogram over the set's range: each end lies
// within a 4096th of the range of the exact percentile. Large sets are counted
// on evenly chosen rows, at least 2^24 values. False when the set has no finite
// range or no finite value. The caller holds the set's read lock.
bool autoWindow(const SliceDatas &set, ValueWindow *out, double lowShare = 0.005, double highShare = 0.995);

}  // namespace render

#endif
