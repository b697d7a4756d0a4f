#ifndef MIP_H
#define MIP_H

#include <QColor>
#include <QRgb>

#include <algorithm>
#include <cmath>
#include <vector>

#include "render/colormap.h"
#include "render/drawmodes.h"
#include "render/vec3.h"

class SliceData;

// The maximum-intensity projection of one slice set as a pure computation:
// view, window, cut and colours in, one colour per picture pixel out. Both the
// per-point painter path and the parallel raster path of CtView::paintADataSet
// are built on these definitions, so they agree bit for bit.
namespace mip {

struct ValueBricks;
struct SlabBytes;

// What "Composite" blends, by the integer part of a sample's mapped value (0 .. 255):
// the opacity it adds and its colour components (0 .. 255) under the set's map.
struct CompositeTables {
    double opacity[256];
    double red[256], green[256], blue[256];
};
// A ray takes no more samples once its opacity reaches this.
constexpr double opaqueLimit = 1.0 - 1.0 / 512.0;

struct Params {
    Vec3 nx, ny, nz, center;
    double scale = 1.0;
    int sw = 0, sh = 0;  // slice width and height
    int pw = 0, ph = 0;  // picture width and height
    double minTh = 0.0, maxTh = 1.0;
    bool saturate = false;  // values at the top of the window are drawn in the top colour
    bool cut = false;
    double B = 0.0;  // cut plane distance from the volume centre along csNz
    Vec3 csNz;
    QColor vColor, sColor;
    int alpha = 255;
    // The volume's colours: the map over strengths 0 .. 255 and the gamma that
    // bends strengths before the map (1: straight). The cut face keeps the ramp to
    // sColor.
    ColorMap colorMap = ColorMap::WhiteRamp;
    double gamma = 1.0;
    Projection projection = Projection::Maximum;
    const CompositeTables *composite = nullptr;  // for Projection::Composite
    // Linear: a sample's value is trilinear between the voxels around it. Samples
    // lie on planes of the stack (slices, or columns or rows re-cut), so only the
    // two axes of the plane are weighed: with the values of a column or row at its
    // middle (offset 0.5) and those of a slice at its plane (offset 0). The planes
    // themselves are sampled planeOffset past their start: 0 for slices, the
    // middle (0.5) for columns and rows.
    bool linear = false;
    double offX = 0.5, offY = 0.5;
    double planeOffset = 0.0;
    // The axis the samples step along: 2, one sample where the ray crosses each
    // slice plane; 0 or 1, one at each column or row plane (the voxel steps of a
    // ray that runs more along x or y than along the stack).
    int axis = 2;
    // Exclusive lower bounds of a sample's column and row positions: -1, as a
    // position between -1 and 0 counts as column or row 0.
    double loX = -1.0;
    double loY = -1.0;
};

// The axis a ray along nz steps along when it samples every voxel: the one nz
// runs most along, the stack first, then x, on a tie.
int stepAxis(const Vec3 &nz);

// The same sampling as a stack along the stepping axis: columns (axis 0) or rows
// (axis 1) become the planes, with the vectors' components and the slice size
// permuted to match; the plane count is ss slices. The result has axis 2. Plane k
// of that stack holds, at (column, row), the value of: axis 0, slice `column` at
// (k, row); axis 1, slice `row` at (column, k).
Params alongAxis(const Params &pr, int ss);

// The value at column position fx and row position fy (as inPlane takes them) of a
// plane of w x h values read through value(column, row): the value of the voxel
// they fall in, or with pr.linear the bilinear blend of the four around the point
// (offX and offY place the values; the edges repeat).
template <typename Value> inline double planeValue(const Params &pr, double fx, double fy, int w, int h, Value value)
{
    if (!pr.linear)
        return value(int(fx), int(fy));
    const double ux = fx - pr.offX, uy = fy - pr.offY;
    const double flx = std::floor(ux), fly = std::floor(uy);
    const double wx = ux - flx, wy = uy - fly;
    const int x0 = std::clamp(int(flx), 0, w - 1), x1 = std::clamp(int(flx) + 1, 0, w - 1);
    const int y0 = std::clamp(int(fly), 0, h - 1), y1 = std::clamp(int(fly) + 1, 0, h - 1);
    const double v00 = value(x0, y0), v10 = value(x1, y0), v01 = value(x0, y1), v11 = value(x1, y1);
    const double top = v00 + wx * (v10 - v00);
    const double bottom = v01 + wx * (v11 - v01);
    return top + wy * (bottom - top);
}

// The window mapping: q in (0, 255], 0 for values below the window, and for
// values at its top (q above 255) 0, or 255 when they saturate; NaN when the
// window is degenerate.
inline double mapValue(double v, double minTh, double maxTh, bool saturate = false)
{
    double q = (v - minTh) / (maxTh - minTh) * 256.0;
    if (q > 255.0)
        q = saturate ? 255.0 : 0.0;
    if (q < 0.0)
        q = 0.0;
    return q;
}

// One colour component at strength w: white near 0, the base component k at 255.
inline int strengthComponent(int k, double w)
{
    return int(255.0 + w * (k / 255.0 - 1.0));
}

// The colour (opaque RGB) of the volume at strength w in (0, 255] under the
// parameters' colour map and gamma; with the ramp and gamma 1, each component is
// strengthComponent of the volume colour's.
QRgb volumeRgb(const Params &pr, double w);

// The pen colour of a pixel from its ray's largest mapped value u and its
// cut-face value s.
QColor pixelColor(const Params &pr, double u, double s);

// The tables of "Composite" for these parameters' map and gamma and this curve.
CompositeTables compositeTables(const Params &pr, const OpacityCurve &curve);

// Casts the ray of pixel (c, r) through slices and returns its pen colour:
// the reference, sample by sample in order along pr.axis.
QColor castPixel(const Params &pr, const std::vector<SliceData *> &slices, int c, int r);

// The raster engine's blend of a solid point of opacity alpha (1 .. 254) over an
// opaque pixel, one 8-bit channel at a time: premul[c] + byteMul(d, 255 - alpha).
inline quint32 byteMul(quint32 x, quint32 a)
{
    quint32 t = (x & 0xff00ff) * a;
    t = (t + ((t >> 8) & 0xff00ff) + 0x800080) >> 8;
    t &= 0xff00ff;
    x = ((x >> 8) & 0xff00ff) * a;
    x = (x + ((x >> 8) & 0xff00ff) + 0x800080);
    x &= 0xff00ff00;
    return x | t;
}

// Parallel raster path: draws every pixel's pen colour over the opaque ARGB32
// picture `dest` (pw * ph pixels, bytesPerLine `bpl`) exactly as the raster
// engine blends a point, given premul[a][c], the engine's premultiplied value of
// component c at opacity a: needed for a = pr.alpha (1 .. 255), and under
// Composite for every a from 1 to pr.alpha. Transparent pixels are left
// alone. Uses up to `threads` threads. With `bricks`, the value bounds of these
// slices (valueBricks), groups of rays pass over the blocks that cannot change
// them; with `slabs`, a slab copy of these slices (slabBytes), the views readsSlabs
// names read their samples from it. The picture is the same with or without either.
void renderOnto(const Params &pr, const std::vector<SliceData *> &slices, const quint8 *const *premul, uchar *dest,
                qsizetype bpl, int threads, const ValueBricks *bricks = nullptr, const SlabBytes *slabs = nullptr);

// Whether renderOnto reads these parameters' samples from a slab copy of ss slices
// when it is given one: the largest value with nearest sampling, along the stack,
// but for views straight along it without a cut (which read each ray's one column
// and row of every slice).
bool readsSlabs(const Params &pr, int ss);

}  // namespace mip

#endif
