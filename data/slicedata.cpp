#include "data/slicedata.h"

double SliceData::value(int x, int y) const
{
    if (isImage)
        return double(image.pixel(x, y) & 0xff);
    return values[size_t(y)][size_t(x)];
}

bool SliceData::readRangeGrid(const QString &fname) { Q_UNUSED(fname); return false; }
bool SliceData::readXyvGrid(const QString &fname) { Q_UNUSED(fname); return false; }
void SliceData::computeImageMinMax() {}
bool SliceData::load(const QString &fname) { Q_UNUSED(fname); return false; }
