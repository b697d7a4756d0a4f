#ifndef BRICKS_H
#define BRICKS_H

#include <QtGlobal>

#include <memory>
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

// The values of a stack of 8-bit slices (every picture format but 16-bit grey, whose
// values are whole numbers 0 .. 255) copied one byte per value into slabs of `depth`
// slices whose rows are interleaved: row y of slice j lies at
// plane(j) + y * rowStride, rows of the slices of one slab a pitch apart. A ray's
// samples in successive slices then lie a pitch apart instead of a whole slice, so
// views that take few samples of each slice (the picture smaller than the stack)
// read far fewer pages and lines. The pitch is the slice width rounded up so that a
// row of a slab is an odd number of cache lines, which keeps the rows of a slab from
// falling into the same cache sets. Slices past the stack's end are 0 and never read.
// Made once per stack, immutable afterwards.
struct SlabBytes {
    static constexpr int depth = 8;
    int sw = 0, sh = 0, ss = 0;  // the stack's size in voxels
    qint64 pitch = 0, rowStride = 0, slabStride = 0;
    std::unique_ptr<uchar[]> bytes;

    bool empty() const { return !bytes; }
    // Where column 0 of row 0 of slice j lies.
    const uchar *plane(int j) const { return bytes.get() + qint64(j / depth) * slabStride + (j % depth) * pitch; }
};

// The bytes a slab copy of sw x sh x slices.size() voxels takes, or -1 when the stack
// cannot be copied so: a slice that is no 8-bit picture of at least sw x sh (16-bit
// grey, values, floats), or a slab of 2^31 bytes or more.
qint64 slabBytesSize(const std::vector<SliceData *> &slices, int sw, int sh);

// The copy; uses up to `threads` threads of the process's pool. Empty when
// slabBytesSize refuses the stack or the memory cannot be had.
SlabBytes slabBytes(const std::vector<SliceData *> &slices, int sw, int sh, int threads);

}  // namespace mip

#endif
