#ifndef BRICKS_H
#define BRICKS_H

#include <vector>

class SliceData;

namespace mip {

// The lowest and highest value of a stack over blocks of edge x edge x edge
// voxels (columns, rows, slices; the last block along each axis may be short).
// A ray keeps the largest mapped value it meets, so a group of rays whose values
// so far all reach what a block can give at most has nothing to gain from it:
// the raster path passes over such blocks without reading them. Made once per
// stack; the window only decides, per drawing, what each block can give.
struct ValueBricks {
    static constexpr int edge = 16;
    int nx = 0, ny = 0, nz = 0;  // blocks along columns, rows and slices
    // Per block (index (bz * ny + by) * nx + bx): the bounds as floats rounded
    // outward; lo > hi when the block holds no number (every value NaN).
    std::vector<float> lo, hi;

    bool empty() const { return lo.empty(); }
};

// The blocks of slices (each at least sw x sh); uses up to `threads` threads of the
// process's pool. Empty when the stack is empty or a slice is smaller than sw x sh.
ValueBricks valueBricks(const std::vector<SliceData *> &slices, int sw, int sh, int threads);

// What each block can give at most under the window [minTh, maxTh] and the rule
// for values at its top: an upper bound of mapValue over its values (0 when every
// value maps to 0), or an empty vector when the window admits no such bound
// (degenerate, reversed or not finite), and then no block is passed over.
std::vector<double> brickBounds(const ValueBricks &b, double minTh, double maxTh, bool saturate = false);

}  // namespace mip

#endif
