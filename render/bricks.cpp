#include "render/bricks.h"

#include <QImage>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <limits>
#include <new>

#include "data/slicedata.h"
#include "data/workpool.h"
#include "render/mip.h"

namespace mip {

namespace {

constexpr int edge = ValueBricks::edge;

float floatBelow(double v)
{
    float f = float(v);
    if (double(f) > v)
        f = std::nextafter(f, -std::numeric_limits<float>::infinity());
    return f;
}

float floatAbove(double v)
{
    float f = float(v);
    if (double(f) < v)
        f = std::nextafter(f, std::numeric_limits<float>::infinity());
    return f;
}

// Widens lo[b] and hi[b] of the blocks a row crosses by the row's values, read
// through value(x) for x = 0 .. sw - 1 (NaN widens nothing).
template <typename Value> void widenRow(int sw, double *lo, double *hi, Value value)
{
    for (int x0 = 0, b = 0; x0 < sw; x0 += edge, ++b) {
        const int x1 = std::min(sw, x0 + edge);
        double l = lo[b], h = hi[b];
        for (int x = x0; x < x1; ++x) {
            const double v = value(x);
            l = v < l ? v : l;
            h = v > h ? v : h;
        }
        lo[b] = l;
        hi[b] = h;
    }
}

// Folds a grey picture of T into the bounds of its layer's blocks (nbx per block
// row): per block row, the lowest and highest stored value of each column over the
// rows first (which vectorises), then across each block's columns, each end taken
// to a value by toValue (monotonic, increasing or decreasing).
template <typename T, typename ToValue>
void widenPicture(const QImage &img, int sw, int sh, double *lo, double *hi, ToValue toValue)
{
    const int nbx = (sw + edge - 1) / edge;
    std::vector<T> cl(static_cast<size_t>(sw)), ch(static_cast<size_t>(sw));
    for (int y0 = 0; y0 < sh; y0 += edge) {
        const T *first = reinterpret_cast<const T *>(img.constScanLine(y0));
        std::copy(first, first + sw, cl.begin());
        std::copy(first, first + sw, ch.begin());
        for (int y = y0 + 1; y < std::min(sh, y0 + edge); ++y) {
            const T *line = reinterpret_cast<const T *>(img.constScanLine(y));
            T *l = cl.data(), *h = ch.data();
            for (int x = 0; x < sw; ++x) {
                l[x] = line[x] < l[x] ? line[x] : l[x];
                h[x] = line[x] > h[x] ? line[x] : h[x];
            }
        }
        double *l = lo + size_t(y0 / edge) * size_t(nbx), *h = hi + size_t(y0 / edge) * size_t(nbx);
        for (int x0 = 0, b = 0; x0 < sw; x0 += edge, ++b) {
            const int x1 = std::min(sw, x0 + edge);
            const double va = toValue(*std::min_element(cl.begin() + x0, cl.begin() + x1));
            const double vc = toValue(*std::max_element(ch.begin() + x0, ch.begin() + x1));
            l[b] = std::min(l[b], std::min(va, vc));
            h[b] = std::max(h[b], std::max(va, vc));
        }
    }
}

// Folds one slice into the bounds of the blocks of its layer (nbx x nby doubles).
void widenSlice(const SliceData &sd, int sw, int sh, double *lo, double *hi, std::vector<double> &row)
{
    const int nbx = (sw + edge - 1) / edge;
    if (sd.isImage && sd.image.format() == QImage::Format_Grayscale8)
        return widenPicture<uchar>(sd.image, sw, sh, lo, hi, [](uchar v) { return double(v); });
    // Stored words, rescaled at the ends (the rescale is linear).
    if (sd.isImage && sd.image.format() == QImage::Format_Grayscale16)
        return widenPicture<quint16>(sd.image, sw, sh, lo, hi, [&sd](quint16 v) { return sd.rescaled(v); });
    for (int y = 0; y < sh; ++y) {
        double *l = lo + size_t(y / edge) * size_t(nbx), *h = hi + size_t(y / edge) * size_t(nbx);
        if (!sd.isImage && !sd.floats.empty()) {
            const float *line = sd.floats.data() + size_t(y) * size_t(sd.width);
            widenRow(sw, l, h, [line](int x) { return double(line[x]); });
        } else if (!sd.isImage && !sd.cells.empty()) {
            const double *line = sd.cells.data() + size_t(y) * size_t(sd.width);
            widenRow(sw, l, h, [line](int x) { return line[x]; });
        } else if (!sd.isImage) {
            const double *line = sd.values[size_t(y)].data();
            widenRow(sw, l, h, [line](int x) { return line[x]; });
        } else {
            row.resize(std::max(row.size(), size_t(sd.width)));
            sd.rowValues(y, row.data());
            widenRow(sw, l, h, [&row](int x) { return row[size_t(x)]; });
        }
    }
}

bool sliceFits(const SliceData &sd, int sw, int sh)
{
    if (sd.width < sw || sd.height < sh)
        return false;
    if (sd.isImage)
        return sd.image.width() >= sw && sd.image.height() >= sh;
    if (!sd.floats.empty())
        return sd.floats.size() >= size_t(sd.width) * size_t(sh);
    if (!sd.cells.empty())
        return sd.cells.size() >= size_t(sd.width) * size_t(sh);
    if (sd.values.size() < size_t(sh))
        return false;
    return std::all_of(sd.values.begin(), sd.values.begin() + sh,
                       [sw](const std::vector<double> &r) { return r.size() >= size_t(sw); });
}

}  // namespace

ValueBricks valueBricks(const std::vector<SliceData *> &slices, int sw, int sh, int threads)
{
    ValueBricks out;
    const int ss = int(slices.size());
    if (ss <= 0 || sw <= 0 || sh <= 0)
        return out;
    for (const SliceData *sd : slices)
        if (sd == nullptr || !sliceFits(*sd, sw, sh))
            return out;
    out.nx = (sw + edge - 1) / edge;
    out.ny = (sh + edge - 1) / edge;
    out.nz = (ss + edge - 1) / edge;
    const size_t layer = size_t(out.nx) * size_t(out.ny);
    out.lo.resize(layer * size_t(out.nz));
    out.hi.resize(layer * size_t(out.nz));

    std::atomic<int> next{0};
    auto work = [&] {
        std::vector<double> lo(layer), hi(layer), row(static_cast<size_t>(sw));
        for (int bz = next.fetch_add(1); bz < out.nz; bz = next.fetch_add(1)) {
            std::fill(lo.begin(), lo.end(), HUGE_VAL);
            std::fill(hi.begin(), hi.end(), -HUGE_VAL);
            for (int j = bz * edge; j < std::min(ss, (bz + 1) * edge); ++j)
                widenSlice(*slices[size_t(j)], sw, sh, lo.data(), hi.data(), row);
            for (size_t b = 0; b < layer; ++b) {
                out.lo[size_t(bz) * layer + b] = floatBelow(lo[b]);
                out.hi[size_t(bz) * layer + b] = floatAbove(hi[b]);
            }
        }
    };
    workpool::run(std::min(threads, out.nz) - 1, work);
    return out;
}

namespace {

// The pitch of a slab copy of slices sw wide: a multiple of 8 bytes whose rows of a
// slab (SlabBytes::depth pitches) are an odd number of 64-byte lines.
qint64 slabPitch(int sw)
{
    const qint64 pitch = (qint64(sw) + 7) / 8 * 8;
    return pitch / 8 % 2 == 1 ? pitch : pitch + 8;
}

}  // namespace

qint64 slabBytesSize(const std::vector<SliceData *> &slices, int sw, int sh)
{
    if (slices.empty() || sw <= 0 || sh <= 0)
        return -1;
    for (const SliceData *sd : slices) {
        // rowValues reads sd->width values from each line of the picture.
        if (sd == nullptr || !sd->isImage || sd->image.format() == QImage::Format_Grayscale16
            || sd->image.format() == QImage::Format_Invalid || sd->width < sw || sd->height < sh
            || sd->image.width() < sd->width || sd->image.height() < sh)
            return -1;
    }
    constexpr int d = SlabBytes::depth;
    const qint64 slab = qint64(sh) * d * slabPitch(sw);
    if (slab >= (qint64(1) << 31))
        return -1;
    return slab * ((qint64(slices.size()) + d - 1) / d);
}

SlabBytes slabBytes(const std::vector<SliceData *> &slices, int sw, int sh, int threads)
{
    SlabBytes out;
    const qint64 size = slabBytesSize(slices, sw, sh);
    if (size < 0)
        return out;
    constexpr int d = SlabBytes::depth;
    out.bytes.reset(new (std::nothrow) uchar[size_t(size)]);
    if (!out.bytes)
        return out;
    out.sw = sw;
    out.sh = sh;
    out.ss = int(slices.size());
    out.pitch = slabPitch(sw);
    out.rowStride = d * out.pitch;
    out.slabStride = sh * out.rowStride;

    // Rows of slabs in turn, each written in order: 8-bit grey copied as it is, any
    // other picture through its values; the padding and slices past the end as 0.
    const int slabs = (out.ss + d - 1) / d;
    const int items = slabs * sh;
    std::atomic<int> next{0};
    auto work = [&] {
        std::vector<double> values;
        for (int item = next.fetch_add(1); item < items; item = next.fetch_add(1)) {
            const int slab = item / sh, y = item % sh;
            uchar *row = out.bytes.get() + qint64(slab) * out.slabStride + qint64(y) * out.rowStride;
            std::fill(row, row + out.rowStride, uchar(0));
            for (int z = 0; z < d && slab * d + z < out.ss; ++z) {
                const SliceData &sd = *slices[size_t(slab * d + z)];
                uchar *own = row + z * out.pitch;
                if (sd.image.format() == QImage::Format_Grayscale8) {
                    std::memcpy(own, sd.image.constScanLine(y), size_t(sw));
                    continue;
                }
                values.resize(size_t(sd.width));
                sd.rowValues(y, values.data());
                for (int x = 0; x < sw; ++x)
                    own[x] = uchar(values[size_t(x)]);
            }
        }
    };
    workpool::run(std::min(threads, items) - 1, work);
    return out;
}

std::vector<double> brickBounds(const ValueBricks &b, double minTh, double maxTh, bool saturate)
{
    const double den = maxTh - minTh;
    if (b.empty() || !(den > 0.0) || !std::isfinite(den) || !std::isfinite(minTh))
        return {};
    // mapValue's arithmetic is monotonic in the value for a positive finite
    // width, so the mapped ends bound every mapped value between them; values
    // past either end of the window map to 0.
    std::vector<double> out(b.lo.size());
    for (size_t i = 0; i < out.size(); ++i) {
        const double lo = b.lo[i], hi = b.hi[i];
        if (lo > hi)
            continue;
        const double qLo = (lo - minTh) / den * 256.0, qHi = (hi - minTh) / den * 256.0;
        if (qHi < 0.0)
            out[i] = 0.0;
        else if (qLo > 255.0)
            out[i] = saturate ? 255.0 : 0.0;
        else
            out[i] = std::min(qHi, 255.0);
    }
    return out;
}

}  // namespace mip
