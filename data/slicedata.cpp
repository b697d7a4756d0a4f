#include "data/slicedata.h"

#include <QFile>
#include <QStringList>
#include <QTextStream>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <exception>
#include <limits>

namespace {

const double largestDouble = std::numeric_limits<double>::max();

// The lines of a grid file, each at most maxGridLineLength characters; a longer
// line ends the reading and marks the file as bad, so that a file of garbage
// without line ends never grows one huge string.
class GridLineReader
{
public:
    explicit GridLineReader(QFile &file) : in_(&file) { in_.setEncoding(QStringConverter::Utf8); }

    bool next(QString &line)
    {
        if (tooLong_ || !in_.readLineInto(&line, SliceData::maxGridLineLength + 1))
            return false;
        if (line.size() > SliceData::maxGridLineLength) {
            tooLong_ = true;
            line.clear();
            return false;
        }
        return true;
    }
    bool tooLong() const { return tooLong_; }

private:
    QTextStream in_;
    bool tooLong_ = false;
};

// Decimal integer with optional sign within the 32-bit range, else 0.
int readInt(const QString &item)
{
    bool ok = false;
    const int v = item.toInt(&ok, 10);
    return ok ? v : 0;
}

// C-locale number; text, overflow, "nan" and "inf" read as 0.0, so that ranges
// and histograms built from the values stay finite.
double readValue(const QString &item)
{
    bool ok = false;
    const double v = item.toDouble(&ok);
    return ok && std::isfinite(v) ? v : 0.0;
}

// Sizes come from the file as 64-bit numbers; the grid is made only when both
// fit an int and the limits hold. No product is formed, so nothing can overflow.
bool gridSizeAllowed(qint64 w, qint64 h)
{
    if (w <= 0 || h <= 0 || w > INT_MAX || h > INT_MAX)
        return false;
    if (h > SliceData::maxGridRows)
        return false;
    return w <= SliceData::maxGridPoints / h;
}

// The state of a grid reader just past the tag line, and of a failed read.
void resetGrid(SliceData &s)
{
    s.width = s.height = 0;
    s.minV = largestDouble;
    s.maxV = -largestDouble;
    std::vector<std::vector<double>>().swap(s.values);
}

// Stores one record of a made grid. A record outside the grid is neither stored
// nor counted in the range, so minV and maxV describe the values the grid holds.
void storeRecord(SliceData &s, qint64 column, qint64 row, const QString &valueItem)
{
    if (column < 0 || row < 0 || column >= s.width || row >= s.height)
        return;
    const double v = readValue(valueItem);
    s.values[std::size_t(row)][std::size_t(column)] = v;
    if (v > s.maxV)
        s.maxV = v;
    if (v < s.minV)
        s.minV = v;
}

QStringList splitItems(const QString &line)
{
    return line.simplified().split(QLatin1Char(' '));
}

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

} // namespace

void SliceData::rowValues(int y, double *dst) const
{
    const int n = width;
    if (!isImage) {
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
            dst[x] = double(div257(load16(line + 2 * qsizetype(x))));
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

bool SliceData::readRangeGrid(const QString &fname)
{
    QFile file(fname);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return false;
    try {
        GridLineReader in(file);
        QString line;
        in.next(line); // an over-long first line comes back empty and fails the tag test
        if (line.left(11) != QLatin1String("#MOLK-VEDez"))
            return false;

        resetGrid(*this);
        qint64 x0 = 0, y0 = 0, x1 = 0, y1 = 0;
        bool made = false;
        while (!in.tooLong() && in.next(line)) {
            const QStringList items = splitItems(line);
            if (items.at(0) == QLatin1String("#")) {
                if (items.size() >= 4) {
                    const QString &key = items.at(1);
                    if (key == QLatin1String("Range_X0"))
                        x0 = readInt(items.at(3));
                    else if (key == QLatin1String("Range_Y0"))
                        y0 = readInt(items.at(3));
                    else if (key == QLatin1String("Range_X1"))
                        x1 = readInt(items.at(3));
                    else if (key == QLatin1String("Range_Y1"))
                        y1 = readInt(items.at(3));
                }
                continue;
            }
            if (!made) {
                // Ranges are fixed by the first record line that can make the grid; earlier
                // record lines are lost. Range lines after that change nothing.
                const qint64 w = x1 - x0 + 1;
                const qint64 h = y1 - y0 + 1;
                if (x1 <= 0 || y1 <= 0 || !gridSizeAllowed(w, h))
                    continue;
                values.assign(std::size_t(h), std::vector<double>(std::size_t(w), 0.0));
                width = int(w);
                height = int(h);
                made = true;
            }
            if (items.size() >= 3)
                storeRecord(*this, readInt(items.at(0)), readInt(items.at(1)), items.at(2));
        }
        if (made && !in.tooLong())
            return true;
    } catch (const std::exception &) {
        // Out of memory: the file fails like any other bad grid.
    }
    resetGrid(*this);
    return false;
}

bool SliceData::readXyvGrid(const QString &fname)
{
    QFile file(fname);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return false;
    try {
        GridLineReader in(file);
        QString line;
        in.next(line);
        if (line.left(9) != QLatin1String("## 240301"))
            return false;

        resetGrid(*this);
        qint64 w = 0, h = 0;
        qint64 originX = 0, originY = 0;
        bool made = false;
        while (!in.tooLong() && in.next(line)) {
            line.replace(QLatin1Char(','), QLatin1Char(' '));
            const QStringList items = splitItems(line);
            if (items.at(0).startsWith(QLatin1Char('#'))) {
                // Count lines after the grid is made are ignored: the grid keeps the size
                // that holds its values.
                if (!made && items.size() == 3) {
                    if (items.at(1) == QLatin1String("X-NUM"))
                        w = qint64(readInt(items.at(2))) - 1;
                    else if (items.at(1) == QLatin1String("Y-NUM"))
                        h = qint64(readInt(items.at(2))) - 1;
                }
                continue;
            }
            if (!made) {
                // Missing, too small or too large counts skip the line; so does a line of one
                // item, which cannot give both origin coordinates.
                if (!gridSizeAllowed(w, h) || items.size() < 2)
                    continue;
                values.assign(std::size_t(h), std::vector<double>(std::size_t(w), 0.0));
                width = int(w);
                height = int(h);
                originX = readInt(items.at(0));
                originY = readInt(items.at(1));
                made = true;
            }
            if (items.size() >= 3)
                storeRecord(*this, readInt(items.at(0)) - originX, readInt(items.at(1)) - originY,
                            items.at(2));
        }
        if (made && !in.tooLong())
            return true;
    } catch (const std::exception &) {
        // Out of memory: the file fails like any other bad grid.
    }
    resetGrid(*this);
    return false;
}

void SliceData::computeImageMinMax()
{
    isImage = true;
    width = image.width();
    height = image.height();
    minV = largestDouble;
    maxV = -largestDouble;
    std::vector<double> row(static_cast<std::size_t>(width));
    for (int y = 0; y < height; ++y) {
        rowValues(y, row.data());
        for (double v : row) {
            if (v > maxV)
                maxV = v;
            if (v < minV)
                minV = v;
        }
    }
}

bool SliceData::load(const QString &fname)
{
    try {
        if (image.load(fname)) {
            computeImageMinMax();
            return true;
        }
        if (readRangeGrid(fname) || readXyvGrid(fname)) {
            isImage = false;
            return true;
        }
    } catch (...) {
    }
    return false;
}
