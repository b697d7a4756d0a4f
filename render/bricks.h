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
// values are whole numbers 0 .. 255) copied into bricks of edge x edge x edge voxels,
// one byte per value: a ray's samples in eight successive slices then lie in one brick,
// and each slice's 8 x 8 voxels of a brick in one cache line. Brick (bx, by, bz) starts
// at ((bz * ny + by) * nx + bx) * brickBytes; inside it, voxel (x, y, z) is at
// (z % 8) * 64 + (y % 8) * 8 + x % 8. Voxels past the stack's ends are 0 and never read.
// Made once per stack, immutable afterwards.
struct BrickedBytes {
    static constexpr int edge = 8;
    static constexpr int brickBytes = edge * edge * edge;
    int sw = 0, sh = 0, ss = 0;  // the stack's size in voxels
    int nx = 0, ny = 0, nz = 0;  // bricks along columns, rows and slices
    std::unique_ptr<uchar[]> bytes;

    bool empty() const { return !bytes; }
    qint64 size() const { return qint64(nx) * ny * nz * brickBytes; }
    // The bytes of one row of bricks.
    qint64 rowStride() const { return qint64(nx) * brickBytes; }
    // Where slice j's voxel (0, 0) lies; voxel (x, y) of the slice is
    // bricksOffset(x, y) further on.
    const uchar *plane(int j) const
    {
        return bytes.get() + qint64(j / edge) * ny * rowStride() + (j % edge) * edge * edge;
    }
};

// The bytes a bricked copy of sw x sh x slices.size() voxels takes, or -1 when the stack
// cannot be copied so: a slice that is no 8-bit picture of at least sw x sh (16-bit
// grey, values, floats), or a layer of bricks of 2^31 bytes or more.
qint64 brickedBytesSize(const std::vector<SliceData *> &slices, int sw, int sh);

// The copy; uses up to `threads` threads of the process's pool. Empty when
// brickedBytesSize refuses the stack or the memory cannot be had.
BrickedBytes brickedBytes(const std::vector<SliceData *> &slices, int sw, int sh, int threads);

}  // namespace mip

#endif
