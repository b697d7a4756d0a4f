#ifndef MIPKERNELS_H
#define MIPKERNELS_H

// What the per-point reference (mipreference.cpp), the kernels of each instruction
// set (mipkernels.cpp) and the tile driver of the raster path (miptiles.cpp) share:
// the sampling bounds, how a slice's values are read, and a tile of rays. Private
// to those files.

#include <QtGlobal>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <vector>

#include "render/bricks.h"
#include "render/mip.h"

#include "data/slicedata.h"

namespace mip {

// Whether a sample lies in its plane: the column and row positions, before
// truncation toward zero, between the parameters' lower bounds (-1 but for the
// plane axis of a re-cut stack, see alongAxis) and the plane's width and height.
// NaN lies outside; testing the doubles first keeps the conversion defined.
inline bool inPlane(const Params &pr, double fx, double fy)
{
    return fx > pr.loX && fx < double(pr.sw) && fy > pr.loY && fy < double(pr.sh);
}

// How the kernels read one slice's values.
enum class Mode {
    Byte,  // a byte per sample at bits + ri * bpl + ci * stride, mapped through qLut
    Grid,  // doubles through row pointers, mapped by the window formula
    Word16,  // a 16-bit word per sample at bits + ri * bpl + ci * 2, mapped through qLut
    Floats,  // floats at floats[ri * sw + ci], mapped by the window formula
    Generic,  // SliceData::value, for every other picture format
};

struct Source {
    Mode mode = Mode::Generic;
    const uchar *bits = nullptr;
    int bpl = 0;
    int stride = 1;
    const double *qLut = nullptr;  // 256 mapped values for Mode::Byte, 65536 for Mode::Word16
    const double *vLut = nullptr;  // the values themselves, as qLut maps them
    bool byteIsValue = false;  // vLut[b] is b (grey and RGB pictures)
    const double *const *rows = nullptr;  // for Mode::Grid
    const float *floats = nullptr;  // for Mode::Floats
    const SliceData *slice = nullptr;
    bool madd16 = false;  // rows, columns, bpl and stride all fit 16-bit lanes
};

struct Shared {
    const Params *pr = nullptr;
    std::vector<Source> src;
    double hw = 0, hh = 0, halfSs = 0;
    double bLow = 0, bHigh = 0;
    double den = 1;
    bool alongZ = false;  // nz.x and nz.y are zeros: the rays run along the stack
    bool tightLow = false;  // a lower bound is not -1 (a re-cut stack's plane axis)
    // With value blocks: their layout and a bound per block: for Maximum the most
    // it can give (brickBounds), for Minimum its least value, for Composite the
    // most opacity a sample of it can add.
    const ValueBricks *bricks = nullptr;
    const double *bounds = nullptr;

    // The largest (or, with least, the smallest) bound of the blocks of layer
    // z0 / edge holding columns x0 .. x1 and rows y0 .. y1 (all within the slices).
    double blocksGive(int z0, int x0, int x1, int y0, int y1, bool least = false) const
    {
        constexpr int e = ValueBricks::edge;
        double most = least ? HUGE_VAL : 0.0;
        for (int by = y0 / e; by <= y1 / e; ++by) {
            const double *line = bounds + (size_t(z0 / e) * size_t(bricks->ny) + size_t(by)) * size_t(bricks->nx);
            for (int bx = x0 / e; bx <= x1 / e; ++bx)
                most = least ? std::min(most, line[bx]) : std::max(most, line[bx]);
        }
        return most;
    }
};

inline quint16 word16At(const Source &src, int ri, int ci)
{
    quint16 v;
    std::memcpy(&v, src.bits + qsizetype(ri) * src.bpl + qsizetype(ci) * 2, sizeof v);
    return v;
}

// Mapped values of all 65536 stored words under one rescale; the slices of a set
// share a few at most, so each is made once per drawing.
struct Word16Luts {
    struct Entry {
        double slope, intercept;
        int bias;
        std::vector<double> lut, values;
    };
    std::vector<Entry> entries;

    // The mapped values, and in values the values themselves.
    const double *lutFor(const SliceData &sd, const Params &pr, const double **values);
};

// How to read slice j of a slab copy of the slices (sd the slice itself): as an
// 8-bit grey picture whose lines are the copy's rows.
Source slabSource(const SlabBytes &b, int j, const SliceData *sd, const double *greyLut, const Params &pr);

// How to read slice `sd` fast; qLutStore receives any per-slice table.
Source sourceFor(const SliceData *sd, const Params &pr, const double *greyLut, std::vector<double> &qLutStore,
                 std::vector<const double *> &rowStore, Word16Luts &word16Luts);

// The bound per block the tile driver passes over blocks with (Shared::bounds),
// or none (Mean passes over no block).
std::vector<double> projectionBounds(const Params &pr, const ValueBricks &b);

// Tiles of one picture row (measured fastest against 128 x 2, 64 x 4 and 32 x 8): for
// every slice a tile reads along one line of it.
constexpr int tileW = 256;
constexpr int tileH = 1;
constexpr int tileN = tileW * tileH;

// A tile's rays and what each gathers (RayState, one array per member).
struct Tile {
    int n = 0;
    alignas(64) double p0x[tileN];
    alignas(64) double p0y[tileN];
    alignas(64) double p0z[tileN];
    alignas(64) double u[tileN];
    alignas(64) double s[tileN];
    alignas(64) double cn[tileN];
    alignas(64) double cr[tileN];
    alignas(64) double cg[tileN];
    alignas(64) double cb[tileN];
    alignas(64) double ca[tileN];
};

// Casts rays kb .. ke - 1 of a tile through slice j (at zj, the slice's depth from
// the stack's centre), with the fastest kernel this processor has for src's mode;
// the arithmetic is castPixel's, sample by sample.
template <bool Cut> void runKernel(const Shared &sh, const Source &src, double zj, Tile &tl, int kb, int ke);

// The same for the projections other than the largest value: the value of each
// sample (through vLut, the rows or the slice) taken as raysample.h says.
template <bool Cut> void runGenericKernel(const Shared &sh, const Source &src, double zj, Tile &tl, int kb, int ke);

// The value of column ci, row ri of a source, as SliceData::value gives it.
inline double sourceValue(const Source &src, int sw, int ci, int ri)
{
    switch (src.mode) {
    case Mode::Byte:
        return src.vLut[src.bits[qsizetype(ri) * src.bpl + qsizetype(ci) * src.stride]];
    case Mode::Grid:
        return src.rows[ri][ci];
    case Mode::Word16:
        return src.vLut[word16At(src, ri, ci)];
    case Mode::Floats:
        return double(src.floats[qsizetype(ri) * sw + ci]);
    default:
        break;
    }
    return src.slice->value(ci, ri);
}

// Looking straight along the stack: the byte samples at off[k] of the rays kb .. ke - 1
// that meet the slice (ci[k] >= 0) raise the rays' largest mapped value.
void columnBytes(const Source &src, const qint32 *ci, const quint32 *off, Tile &tl, int kb, int ke);

}  // namespace mip

#endif
