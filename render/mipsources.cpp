// How the tile driver reads each slice: the fastest way per slice kind, with the
// tables of mapped values and of values, and the bound per block it passes over
// blocks with.
#include "render/mipkernels.h"

#include <QImage>

#include <cmath>
#include <cstdint>

namespace mip {

namespace {

// The bytes' values as the grey kinds read them.
const double *byteValues()
{
    static const struct Table {
        double v[256];
        Table()
        {
            for (int i = 0; i < 256; ++i)
                v[i] = i;
        }
    } table;
    return table.v;
}

}  // namespace

const double *Word16Luts::lutFor(const SliceData &sd, const Params &pr, const double **values)
{
    for (const Entry &e : entries) {
        if (e.slope == sd.rescaleSlope && e.intercept == sd.rescaleIntercept && e.bias == sd.storedBias) {
            *values = e.values.data();
            return e.lut.data();
        }
    }
    Entry e{sd.rescaleSlope, sd.rescaleIntercept, sd.storedBias, std::vector<double>(65536),
            std::vector<double>(65536)};
    for (int w = 0; w < 65536; ++w) {
        e.values[size_t(w)] = sd.rescaled(quint16(w));
        e.lut[size_t(w)] = mapValue(e.values[size_t(w)], pr.minTh, pr.maxTh, pr.saturate);
    }
    entries.push_back(std::move(e));
    *values = entries.back().values.data();
    return entries.back().lut.data();
}

std::vector<double> projectionBounds(const Params &pr, const ValueBricks &given)
{
    // A linear sample lies between the four values it blends, up to rounding far
    // below a float's step: the blocks' ends are widened by one step each way.
    ValueBricks widened;
    if (pr.linear) {
        widened = given;
        for (size_t i = 0; i < widened.lo.size(); ++i) {
            widened.lo[i] = std::nextafter(widened.lo[i], -HUGE_VALF);
            widened.hi[i] = std::nextafter(widened.hi[i], HUGE_VALF);
        }
    }
    const ValueBricks &b = pr.linear ? widened : given;
    switch (pr.projection) {
    case Projection::Maximum:
        return brickBounds(b, pr.minTh, pr.maxTh, pr.saturate);
    case Projection::Minimum: {
        std::vector<double> out(b.lo.size());
        for (size_t i = 0; i < out.size(); ++i)
            out[i] = b.lo[i] > b.hi[i] ? HUGE_VAL : double(b.lo[i]);
        return out;
    }
    case Projection::Composite: {
        const double den = pr.maxTh - pr.minTh;
        if (!(den > 0.0) || !std::isfinite(den) || !std::isfinite(pr.minTh))
            return {};
        // The block's values map to q between its ends' (mapValue is monotonic in
        // the value); every index they can truncate to, one more on each side.
        std::vector<double> out(b.lo.size(), 0.0);
        for (size_t i = 0; i < out.size(); ++i) {
            if (b.lo[i] > b.hi[i])
                continue;
            const double qLo = (b.lo[i] - pr.minTh) / den * 256.0, qHi = (b.hi[i] - pr.minTh) / den * 256.0;
            if (qHi < 0.0 || (qLo > 255.0 && !pr.saturate))
                continue;
            const int first = std::max(0, int(std::min(255.0, std::max(qLo, 0.0))) - 1);
            const int last = std::min(255, int(std::min(qHi, 255.0)) + 1);
            double most = 0.0;
            for (int k = first; k <= last; ++k)
                most = std::max(most, pr.composite->opacity[k]);
            out[i] = most;
        }
        return out;
    }
    case Projection::Mean:
        break;
    }
    return {};
}

Source slabSource(const SlabBytes &b, int j, const SliceData *sd, const double *greyLut, const Params &pr)
{
    Source s;
    s.mode = Mode::Byte;
    s.slice = sd;
    s.bits = b.plane(j);
    s.bpl = int(b.rowStride);
    s.stride = 1;
    s.qLut = greyLut;
    s.vLut = byteValues();
    s.byteIsValue = true;
    s.madd16 = pr.sw <= 32767 && pr.sh <= 32767 && s.bpl <= 32767;
    return s;
}

Source sourceFor(const SliceData *sd, const Params &pr, const double *greyLut, std::vector<double> &qLutStore,
                 std::vector<const double *> &rowStore, Word16Luts &word16Luts)
{
    Source s;
    s.slice = sd;
    if (!sd->isImage) {
        if (!sd->floats.empty()) {
            if (sd->width != pr.sw || sd->floats.size() < size_t(pr.sw) * size_t(pr.sh))
                return s;
            s.mode = Mode::Floats;
            s.floats = sd->floats.data();
            return s;
        }
        if (!sd->cells.empty()) {
            if (sd->width < pr.sw || sd->cells.size() < size_t(sd->width) * size_t(pr.sh))
                return s;
            rowStore.resize(size_t(pr.sh));
            for (int y = 0; y < pr.sh; ++y)
                rowStore[size_t(y)] = sd->cells.data() + size_t(y) * size_t(sd->width);
            s.mode = Mode::Grid;
            s.rows = rowStore.data();
            return s;
        }
        if (sd->values.size() < size_t(pr.sh))
            return s;
        rowStore.resize(size_t(pr.sh));
        for (int y = 0; y < pr.sh; ++y) {
            if (sd->values[size_t(y)].size() < size_t(pr.sw))
                return s;
            rowStore[size_t(y)] = sd->values[size_t(y)].data();
        }
        s.mode = Mode::Grid;
        s.rows = rowStore.data();
        return s;
    }
    const QImage &img = sd->image;
    if (img.width() < pr.sw || img.height() < pr.sh)
        return s;
    const uchar *bits = img.constBits();
    const qint64 bytes = qint64(img.bytesPerLine()) * img.height();
    if (bits == nullptr || (reinterpret_cast<std::uintptr_t>(bits) & 3) != 0 || bytes >= (qint64(1) << 31))
        return s;
    if (img.format() == QImage::Format_Grayscale16) {
        s.mode = Mode::Word16;
        s.bits = bits;
        s.bpl = int(img.bytesPerLine());
        s.qLut = word16Luts.lutFor(*sd, pr, &s.vLut);
        return s;
    }
    switch (img.format()) {
    case QImage::Format_Grayscale8:
        s.stride = 1;
        s.qLut = greyLut;
        s.vLut = byteValues();
        s.byteIsValue = true;
        break;
    case QImage::Format_RGB32:
    case QImage::Format_ARGB32:
    case QImage::Format_ARGB32_Premultiplied:
        // pixel() hands back the stored word (premultiplied as stored); its low byte is blue.
        s.stride = 4;
        s.qLut = greyLut;
        s.vLut = byteValues();
        s.byteIsValue = true;
        break;
    case QImage::Format_Indexed8: {
        const QList<QRgb> table = img.colorTable();
        qLutStore.resize(512);
        for (int i = 0; i < 256; ++i) {
            // pixel() gives 0 for an index beyond the colour table.
            const double v = i < table.size() ? double(table[i] & 0xff) : 0.0;
            qLutStore[size_t(i)] = mapValue(v, pr.minTh, pr.maxTh, pr.saturate);
            qLutStore[size_t(256 + i)] = v;
        }
        s.stride = 1;
        s.qLut = qLutStore.data();
        s.vLut = qLutStore.data() + 256;
        break;
    }
    default:
        return s;
    }
    s.mode = Mode::Byte;
    s.bits = bits;
    s.bpl = int(img.bytesPerLine());
    s.madd16 = pr.sw <= 32767 && pr.sh <= 32767 && s.bpl <= 32767;
    return s;
}

}  // namespace mip
