#ifndef GRIDREADERS_H
#define GRIDREADERS_H

// What the two kinds of grid readers share: the line-by-line reference readers
// (gridreference.cpp) and the byte-level readers (gridfast.cpp), which hand every
// line they do not parse themselves to the reference's handling of one line. The
// grid being made, the state carried from one line to the next. Private to those files.

#include <QString>
#include <QtGlobal>

#include <cstddef>
#include <vector>

#include "data/slicedata.h"

namespace grid {

// The state of a grid reader just past the tag line, and of a failed read.
void resetGrid(SliceData &s);

// A record outside the grid is neither stored nor counted in the range, so minV
// and maxV describe the values the grid holds.
inline bool inGrid(const SliceData &s, qint64 column, qint64 row)
{
    return column >= 0 && row >= 0 && column < s.width && row < s.height;
}

inline void storeValue(SliceData &s, qint64 column, qint64 row, double v)
{
    s.cells[std::size_t(row) * std::size_t(s.width) + std::size_t(column)] = v;
    if (v > s.maxV)
        s.maxV = v;
    if (v < s.minV)
        s.minV = v;
}

// Makes the grid of w x h zeros when that size is allowed; may throw std::bad_alloc.
bool makeGrid(SliceData &s, qint64 w, qint64 h);

// What a grid reader carries from one line to the next.
struct RangeGridState {
    qint64 x0 = 0, y0 = 0, x1 = 0, y1 = 0;
    bool made = false;
};

struct XyvGridState {
    qint64 w = 0, h = 0;
    qint64 originX = 0, originY = 0;
    bool made = false;
};

// One line after the tag line of a range grid file.
void rangeGridLine(SliceData &s, RangeGridState &st, const QString &line);

// One line after the tag line of an XYV grid file; line has its commas turned into blanks.
void xyvGridLine(SliceData &s, XyvGridState &st, QString &line);

}  // namespace grid

#endif
