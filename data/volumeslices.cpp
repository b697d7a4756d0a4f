#include "data/volumeslices.h"

#include <QImage>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "data/slicefile.h"

namespace {

template <typename T> T sampleAt(const unsigned char *p)
{
    T v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

void swapInPlace(unsigned char *p, qint64 count, int bytes)
{
    if (bytes < 2)
        return;
    for (qint64 i = 0; i < count; ++i, p += bytes)
        std::reverse(p, p + bytes);
}

// Words of a 16-bit grey picture: the unsigned stored value, signed samples with
// the bias that makes them unsigned.
quint16 storedWord(SampleType t, const unsigned char *p)
{
    switch (t) {
    case SampleType::u8:
        return *p;
    case SampleType::s8:
        return quint16(int(qint8(*p)) + 128);
    case SampleType::s16:
        return quint16(int(sampleAt<qint16>(p)) + 32768);
    default:
        return sampleAt<quint16>(p);
    }
}

double sampleValue(SampleType t, const unsigned char *p)
{
    switch (t) {
    case SampleType::u32:
        return double(sampleAt<quint32>(p));
    case SampleType::s32:
        return double(sampleAt<qint32>(p));
    case SampleType::f32:
        return double(sampleAt<float>(p));
    default:
        return sampleAt<double>(p);
    }
}

bool keptAsPicture(const SampleLayout &l)
{
    return l.type == SampleType::u8 || l.type == SampleType::s8 || l.type == SampleType::u16
        || l.type == SampleType::s16;
}

}  // namespace

int sampleTypeBytes(SampleType t)
{
    switch (t) {
    case SampleType::u8:
    case SampleType::s8:
        return 1;
    case SampleType::u16:
    case SampleType::s16:
        return 2;
    case SampleType::u32:
    case SampleType::s32:
    case SampleType::f32:
        return 4;
    case SampleType::f64:
        return 8;
    }
    return 1;
}

QString sampleTypeName(SampleType t)
{
    switch (t) {
    case SampleType::u8:
        return QStringLiteral("uint8");
    case SampleType::s8:
        return QStringLiteral("int8");
    case SampleType::u16:
        return QStringLiteral("uint16");
    case SampleType::s16:
        return QStringLiteral("int16");
    case SampleType::u32:
        return QStringLiteral("uint32");
    case SampleType::s32:
        return QStringLiteral("int32");
    case SampleType::f32:
        return QStringLiteral("float32");
    case SampleType::f64:
        return QStringLiteral("float64");
    }
    return QString();
}

bool sampleTypeFromName(const QString &name, SampleType &t)
{
    const QString n = name.trimmed().toLower();
    for (SampleType candidate : allSampleTypes) {
        if (n == sampleTypeName(candidate)) {
            t = candidate;
            return true;
        }
    }
    if (n == QLatin1String("float")) {
        t = SampleType::f32;
        return true;
    }
    if (n == QLatin1String("double")) {
        t = SampleType::f64;
        return true;
    }
    return false;
}

qint64 keptSliceBytes(const SampleLayout &l, int w, int h)
{
    const qint64 points = qint64(w) * h;
    if (l.type == SampleType::u8 && !l.scaled())
        return qint64((w + 3) / 4 * 4) * h;  // QImage rows are padded to four bytes
    if (keptAsPicture(l))
        return qint64((2 * qint64(w) + 3) / 4 * 4) * h;
    if (l.type == SampleType::f32)
        return points * qint64(sizeof(float));
    return points * qint64(sizeof(double)) + qint64(h) * qint64(sizeof(std::vector<double>));
}

std::unique_ptr<SliceData> makeVolumeSlice(unsigned char *src, int w, int h, const SampleLayout &l)
{
    const int bytes = sampleTypeBytes(l.type);
    const std::size_t rowBytes = std::size_t(w) * std::size_t(bytes);
    if (l.swapBytes)
        swapInPlace(src, qint64(w) * h, bytes);
    auto s = std::make_unique<SliceData>();
    s->width = w;
    s->height = h;
    if (l.type == SampleType::u8 && !l.scaled()) {
        QImage img(w, h, QImage::Format_Grayscale8);
        if (img.isNull())
            return nullptr;
        for (int y = 0; y < h; ++y)
            std::memcpy(img.scanLine(y), src + std::size_t(y) * rowBytes, rowBytes);
        s->image = img;
        s->computeImageMinMax();
        return s;
    }
    if (keptAsPicture(l)) {
        QImage img(w, h, QImage::Format_Grayscale16);
        if (img.isNull())
            return nullptr;
        if (l.type == SampleType::s8)
            s->storedBias = 128;
        else if (l.type == SampleType::s16)
            s->storedBias = 32768;
        s->rescaleSlope = l.slope;
        s->rescaleIntercept = l.intercept;
        quint16 lo = 65535, hi = 0;
        for (int y = 0; y < h; ++y) {
            const unsigned char *from = src + std::size_t(y) * rowBytes;
            quint16 *line = reinterpret_cast<quint16 *>(img.scanLine(y));
            for (int x = 0; x < w; ++x) {
                const quint16 v = storedWord(l.type, from + std::size_t(x) * std::size_t(bytes));
                line[x] = v;
                lo = std::min(lo, v);
                hi = std::max(hi, v);
            }
        }
        // The range of the values is that of the stored words, through the one
        // formula every 16-bit slice reads with (a negative slope turns it round).
        s->image = img;
        s->isImage = true;
        const double a = s->rescaled(lo), b = s->rescaled(hi);
        s->minV = std::min(a, b);
        s->maxV = std::max(a, b);
        return s;
    }
    s->isImage = false;
    double lo = std::numeric_limits<double>::max();
    double hi = -lo;
    auto valueAt = [&l](const unsigned char *p) {
        double v = sampleValue(l.type, p);
        if (l.scaled())
            v = v * l.slope + l.intercept;
        return std::isfinite(v) ? v : 0.0;
    };
    if (l.type == SampleType::f32) {
        s->floats.resize(std::size_t(w) * std::size_t(h));
        for (std::size_t i = 0; i < s->floats.size(); ++i) {
            float v = float(valueAt(src + 4 * i));
            if (!std::isfinite(v))
                v = 0.0f;  // a finite double beyond the float range
            s->floats[i] = v;
            lo = std::min(lo, double(v));
            hi = std::max(hi, double(v));
        }
    } else {
        s->values.assign(std::size_t(h), std::vector<double>(std::size_t(w), 0.0));
        for (int y = 0; y < h; ++y) {
            const unsigned char *from = src + std::size_t(y) * rowBytes;
            std::vector<double> &row = s->values[std::size_t(y)];
            for (int x = 0; x < w; ++x) {
                const double v = valueAt(from + std::size_t(x) * std::size_t(bytes));
                row[std::size_t(x)] = v;
                lo = std::min(lo, v);
                hi = std::max(hi, v);
            }
        }
    }
    s->minV = lo;
    s->maxV = hi;
    return s;
}

double volumeSampleValue(const SampleLayout &l, const unsigned char *p)
{
    const int bytes = sampleTypeBytes(l.type);
    unsigned char native[8];
    for (int i = 0; i < bytes; ++i)
        native[i] = l.swapBytes ? p[bytes - 1 - i] : p[i];
    if (l.type == SampleType::u8 && !l.scaled())
        return double(native[0]);
    if (keptAsPicture(l)) {
        const double bias = l.type == SampleType::s8 ? 128.0 : l.type == SampleType::s16 ? 32768.0 : 0.0;
        return (double(storedWord(l.type, native)) - bias) * l.slope + l.intercept;
    }
    double v = sampleValue(l.type, native);
    if (l.scaled())
        v = v * l.slope + l.intercept;
    if (!std::isfinite(v))
        v = 0.0;
    if (l.type == SampleType::f32) {
        const float f = float(v);
        return std::isfinite(f) ? double(f) : 0.0;
    }
    return v;
}

const char *admitVolume(qint64 w, qint64 h, qint64 depth, const SampleLayout &l)
{
    if (w <= 0 || h <= 0 || depth <= 0)
        return skipReason::noVoxels;
    if (!sliceSizeAllowed(w, h) || depth > maxStackFilePoints || w * h > maxStackFilePoints / depth)
        return skipReason::tooManyVoxels;
    const qint64 kept = keptSliceBytes(l, int(w), int(h));
    const qint64 stored = w * h * sampleTypeBytes(l.type);
    if (kept > (std::numeric_limits<qint64>::max() - stored) / depth || !reserveSliceMemory(kept * depth + stored))
        return skipReason::noMemory;
    return nullptr;
}

const char *readSlicesInTurn(int w, int h, int depth, const SampleLayout &l,
                             const std::function<bool(unsigned char *, qint64)> &read,
                             std::vector<std::unique_ptr<SliceData>> &slices)
{
    const qint64 bytes = qint64(w) * h * sampleTypeBytes(l.type);
    std::vector<unsigned char> buffer(std::size_t(bytes), 0);
    const std::size_t first = slices.size();
    for (int k = 0; k < depth; ++k) {
        const char *why = nullptr;
        if (!read(buffer.data(), bytes))
            why = skipReason::dataShort;
        else if (std::unique_ptr<SliceData> s = makeVolumeSlice(buffer.data(), w, h, l))
            slices.push_back(std::move(s));
        else
            why = skipReason::noMemory;
        if (why) {
            slices.resize(first);
            return why;
        }
    }
    return nullptr;
}
