#include "data/slicedata.h"

#include <QFile>
#include <QFileInfo>
#include <QIODevice>
#include <QImage>
#include <QImageReader>

#include <algorithm>
#include <cstring>
#include <limits>
#include <vector>

#include "data/nativename.h"
#include "data/picturechecks.h"

namespace {

const double largestDouble = std::numeric_limits<double>::max();

quint16 load16(const uchar *p)
{
    quint16 v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

quint32 load32(const uchar *p)
{
    quint32 v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

// 16-bit channel to 8 bits, rounded to nearest as QImage::pixel does.
uint div257(uint v)
{
    return (v + 128) / 257;
}

}  // namespace

void SliceData::rowValues(int y, double *dst) const
{
    const int n = width;
    if (!isImage) {
        if (!floats.empty()) {
            const float *row = floats.data() + std::size_t(y) * std::size_t(width);
            for (int x = 0; x < n; ++x)
                dst[x] = double(row[x]);
            return;
        }
        if (!cells.empty()) {
            const double *row = cells.data() + std::size_t(y) * std::size_t(width);
            std::copy(row, row + n, dst);
            return;
        }
        const std::vector<double> &row = values[std::size_t(y)];
        std::copy(row.begin(), row.begin() + n, dst);
        return;
    }
    const uchar *line = image.constScanLine(y);
    const QImage::Format format = image.format();
    switch (format) {
    case QImage::Format_Mono:
    case QImage::Format_MonoLSB:
    case QImage::Format_Indexed8: {
        // An index past the colour table reads as 0, as QImage::pixel gives.
        const QList<QRgb> table = image.colorTable();
        const qsizetype colours = table.size();
        auto blueOf = [&](int index) { return index < colours ? double(table.at(index) & 0xff) : 0.0; };
        if (format == QImage::Format_Indexed8) {
            for (int x = 0; x < n; ++x)
                dst[x] = blueOf(line[x]);
        } else if (format == QImage::Format_Mono) {
            for (int x = 0; x < n; ++x)
                dst[x] = blueOf((line[x >> 3] >> (~x & 7)) & 1);
        } else {
            for (int x = 0; x < n; ++x)
                dst[x] = blueOf((line[x >> 3] >> (x & 7)) & 1);
        }
        return;
    }
    case QImage::Format_RGB32:
    case QImage::Format_ARGB32:
    case QImage::Format_ARGB32_Premultiplied:
        // QRgb in native byte order; pixel() returns it as stored, premultiplied or not.
        for (int x = 0; x < n; ++x)
            dst[x] = double(load32(line + 4 * qsizetype(x)) & 0xff);
        return;
    case QImage::Format_RGBX8888:
    case QImage::Format_RGBA8888:
    case QImage::Format_RGBA8888_Premultiplied:
        for (int x = 0; x < n; ++x)
            dst[x] = double(line[4 * qsizetype(x) + 2]);
        return;
    case QImage::Format_RGB888:
        for (int x = 0; x < n; ++x)
            dst[x] = double(line[3 * qsizetype(x) + 2]);
        return;
    case QImage::Format_BGR888:
        for (int x = 0; x < n; ++x)
            dst[x] = double(line[3 * qsizetype(x)]);
        return;
    case QImage::Format_Grayscale8:
        for (int x = 0; x < n; ++x)
            dst[x] = double(line[x]);
        return;
    case QImage::Format_Grayscale16:
        for (int x = 0; x < n; ++x)
            dst[x] = rescaled(load16(line + 2 * qsizetype(x)));
        return;
    case QImage::Format_RGB16:
        for (int x = 0; x < n; ++x) {
            const uint blue5 = load16(line + 2 * qsizetype(x)) & 0x1f;
            dst[x] = double((blue5 << 3) | (blue5 >> 2));
        }
        return;
    case QImage::Format_RGBX64:
    case QImage::Format_RGBA64:
    case QImage::Format_RGBA64_Premultiplied:
        // Channels are 16-bit words in the order red, green, blue, alpha.
        for (int x = 0; x < n; ++x)
            dst[x] = double(div257(load16(line + 8 * qsizetype(x) + 4)));
        return;
    default:
        for (int x = 0; x < n; ++x)
            dst[x] = double(image.pixel(x, y) & 0xff);
        return;
    }
}

void SliceData::computeImageMinMax()
{
    isImage = true;
    width = image.width();
    height = image.height();
    minV = largestDouble;
    maxV = -largestDouble;
    if (image.format() == QImage::Format_Grayscale8) {
        // The grey byte is the value itself.
        if (width <= 0 || height <= 0)
            return;
        uchar lo = 255;
        uchar hi = 0;
        for (int y = 0; y < height; ++y) {
            const uchar *line = image.constScanLine(y);
            for (int x = 0; x < width; ++x) {
                lo = std::min(lo, line[x]);
                hi = std::max(hi, line[x]);
            }
        }
        minV = lo;
        maxV = hi;
        return;
    }
    // Only the blue component of a picture of more than eight bits per pixel is a
    // value: keep that byte alone, one per pixel, instead of the whole colour (a
    // colour picture shrinks to a quarter). Sixteen-bit grey keeps its words, and
    // pictures of eight bits or less (palette, black and white) are small already.
    const bool toBytes = image.format() != QImage::Format_Grayscale16 && image.depth() > 8 && width > 0 && height > 0;
    QImage bytes;
    if (toBytes)
        bytes = QImage(width, height, QImage::Format_Grayscale8);
    std::vector<double> row(static_cast<std::size_t>(std::max(width, 0)));
    for (int y = 0; y < height; ++y) {
        rowValues(y, row.data());
        uchar *line = bytes.isNull() ? nullptr : bytes.scanLine(y);
        for (int x = 0; x < width; ++x) {
            const double v = row[std::size_t(x)];
            if (line)
                line[x] = uchar(v);
            if (v > maxV)
                maxV = v;
            if (v < minV)
                minV = v;
        }
    }
    if (!bytes.isNull())
        image = bytes;
}

bool SliceData::load(const QString &name)
{
    try {
        // A name that is not valid UTF-8 is reached through its own bytes.
        const NativeFileAlias native(name);
        const QString &fname = native.path();
        // Regular files only (or links to them): opening a named pipe blocks until a writer
        // comes, which would hold the loader thread and the window's closing for ever, and
        // a device such as /dev/zero never ends.
        if (!QFileInfo(fname).isFile())
            return false;
        QFile file(fname);
        if (!file.open(QIODevice::ReadOnly))
            return false;
        return load(file);
    } catch (...) {
    }
    return false;
}

bool SliceData::load(QIODevice &device)
{
    if (!device.isReadable() || device.isSequential())
        return false;
    try {
        const qint64 start = device.pos();
        // As QImage::load does, a picture that fails to decode leaves a null image.
        if (picturecheck::safeToDecode(device) && device.seek(start)) {
            image = QImageReader(&device).read();
            if (!image.isNull()) {
                computeImageMinMax();
                return true;
            }
        }
        if ((device.seek(start) && readRangeGrid(device)) || (device.seek(start) && readXyvGrid(device))) {
            isImage = false;
            return true;
        }
    } catch (...) {
    }
    return false;
}
