#ifndef SLICEDATA_H
#define SLICEDATA_H

#include <QImage>
#include <QString>

#include <cstddef>
#include <vector>

#include "data/zeropages.h"

class QIODevice;

// One slice: a decoded picture (values are the blue channel of each pixel, or
// the stored value of a 16-bit grey picture), a grid of doubles read from a grid
// text file or a stack file, or a plane of floats. Owned by the
// SliceDatas set that accepted it; filled in the loader thread and read-only
// afterwards, so several threads may call value() at the same time.
class SliceData
{
public:
    int width = 0;
    int height = 0;
    bool isImage = false;
    QImage image;
    double minV = 0.0;
    double maxV = 1.0;
    // Slices of doubles made by hand or by a reader of stacks: values[y][x].
    std::vector<std::vector<double>> values;
    // Float slices (not isImage, values empty): width * height samples, row by row.
    std::vector<float> floats;
    // Grid files' slices (not isImage, values and floats empty): width * height values,
    // row by row, in pages the system gives zeroed, so that points no record names
    // cost no memory. Filled once by a grid reader: only newly allocated elements read 0.
    std::vector<double, ZeroPageAllocator<double>> cells;
    // 16-bit grey pictures only: value = (stored - storedBias) * rescaleSlope +
    // rescaleIntercept, so that scans keep their real units at two bytes per voxel
    // (a signed stored value is kept with the bias 32768 added).
    double rescaleSlope = 1.0;
    double rescaleIntercept = 0.0;
    int storedBias = 0;

    // Limits on a grid read from a file, checked before anything is allocated:
    // at most 2^26 points (512 MiB of doubles) and at most 2^20 rows (each row
    // carries its own bookkeeping, so a tall thin grid costs far more than its points).
    // A grid file line longer than maxGridLineLength characters makes the file fail.
#ifndef FUZZING_BUILD_MODE_UNSAFE_FOR_PRODUCTION
    static constexpr long long maxGridPoints = 1LL << 26;
    static constexpr long long maxGridRows = 1LL << 20;
    static constexpr long long maxGridLineLength = 1LL << 20;
#else
    // Fuzz builds (fuzz/CMakeLists.txt): the same rules at sizes that a fuzzer reaches
    // with inputs of a few kilobytes and runs in microseconds, not seconds.
    static constexpr long long maxGridPoints = 1LL << 16;
    static constexpr long long maxGridRows = 1LL << 10;
    static constexpr long long maxGridLineLength = 1LL << 10;
#endif

    // The value at column x, row y; no bounds test (0 <= x < width, 0 <= y < height).
    // Image slices give QImage::pixel(x, y) & 0xff for every pixel format but
    // Format_Grayscale16, whose stored value is rescaled as above.
    double value(int x, int y) const;

    // A 16-bit stored value in this slice's units; the one formula every reader uses.
    double rescaled(quint16 stored) const
    {
        return (double(stored) - storedBias) * rescaleSlope + rescaleIntercept;
    }

    // Writes value(x, y) for x = 0 .. width - 1 of row y (0 <= y < height) to dst, which
    // holds width doubles. Image slices read the scan line directly for the common
    // pixel formats, with the same result as value(); use it wherever a whole row is
    // needed, as one QImage call per value costs far more than the read itself.
    void rowValues(int y, double *dst) const;

    // Grid readers: true when a grid of positive size was made. A file that cannot
    // be opened or whose first line lacks the format tag leaves the slice untouched.
    // A failed read after the tag leaves width = height = 0 and no rows. Items that
    // are not finite numbers read as 0.0; records outside the grid are neither
    // stored nor counted in minV and maxV. Never throws.
    // They parse plain ASCII lines straight from the bytes, read in large blocks; any
    // other line (and any other file: another encoding, a pipe) goes through the
    // reference path, so the result is always exactly that of the reference readers.
    bool readRangeGrid(const QString &fname);
    bool readXyvGrid(const QString &fname);
    // The same from an open device (a QBuffer over bytes in memory, say), from its
    // position to its end, with the same results and limits; the file-name readers open
    // the file and call these. A device not open for reading counts as a file that
    // cannot be opened; a sequential one goes through the reference path; a read that
    // fails (or a device that ends before its size) fails the grid as an over-long
    // line does.
    bool readRangeGrid(QIODevice &device);
    bool readXyvGrid(QIODevice &device);

    // The straightforward readers: line by line through QTextStream (UTF-8, byte-order
    // mark skipped, CR removed), QString::simplified and split, QString::toInt and
    // toDouble. The reference for the readers above, and several times slower.
    bool readRangeGridReference(const QString &fname);
    bool readXyvGridReference(const QString &fname);
    bool readRangeGridReference(QIODevice &device);
    bool readXyvGridReference(QIODevice &device);

    // Fills isImage, width, height, minV and maxV from image. A picture of more than
    // eight bits per pixel (other than 16-bit grey) is then kept as one byte per pixel,
    // its blue component, so value() and rowValues() give what they gave before.
    void computeImageMinMax();

    // Decodes fname as a picture, else as a range grid, else as an XYV grid. A name
    // that is not valid UTF-8 (its bad bytes shown as U+FFFD) is opened through its
    // bytes (NativeFileAlias). Never throws.
    bool load(const QString &fname);
    // The same from an open random-access device, from its position on (the position
    // is left anywhere); false for a sequential device. A QFile's name still hints at
    // the picture format, as the file name does; bytes are recognised by their content.
    bool load(QIODevice &device);
};

inline double SliceData::value(int x, int y) const
{
    if (!isImage) {
        if (!floats.empty())
            return double(floats[std::size_t(y) * std::size_t(width) + std::size_t(x)]);
        if (!cells.empty())
            return cells[std::size_t(y) * std::size_t(width) + std::size_t(x)];
        return values[std::size_t(y)][std::size_t(x)];
    }
    if (image.format() == QImage::Format_Grayscale16)
        return rescaled(reinterpret_cast<const quint16 *>(image.constScanLine(y))[x]);
    return double(image.pixel(x, y) & 0xff);
}

#endif
