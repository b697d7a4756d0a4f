#ifndef SLICEDATA_H
#define SLICEDATA_H

#include <QImage>
#include <QString>

#include <vector>

// One slice: either a decoded picture (values are the blue channel of each
// pixel) or a grid of doubles read from a grid text file. Owned by the
// SliceDatas set that accepted it; filled in the loader thread and read-only
// afterwards.
class SliceData
{
public:
    int width = 0;
    int height = 0;
    bool isImage = false;
    QImage image;
    double minV = 0.0;
    double maxV = 1.0;
    // Grid slices only: values[y][x].
    std::vector<std::vector<double>> values;

    // The value at column x, row y; no bounds test (0 <= x < width, 0 <= y < height).
    // Image slices give QImage::pixel(x, y) & 0xff for every pixel format.
    double value(int x, int y) const;

    // Grid readers: true when a grid of positive size was made. A file that cannot
    // be opened or whose first line lacks the format tag leaves the slice untouched.
    bool readRangeGrid(const QString &fname);
    bool readXyvGrid(const QString &fname);

    // Fills isImage, width, height, minV and maxV from image.
    void computeImageMinMax();

    // Decodes fname as a picture, else as a range grid, else as an XYV grid.
    bool load(const QString &fname);
};

#endif
