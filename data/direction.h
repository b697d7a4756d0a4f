#ifndef DIRECTION_H
#define DIRECTION_H

#include <QtGlobal>

#include <cmath>

// Where the axes of a set point in the space of the scanner or patient: column j is
// the unit vector of axis j (0 along the slice columns, 1 along the rows, 2 along the
// stack) in patient coordinates, x to the patient's left, y to the back, z to the
// head (the convention of DICOM and of ITK, whatever convention the file itself
// uses). The identity means the axes are the patient's own.
struct Direction {
    double m[3][3] = {{1.0, 0.0, 0.0}, {0.0, 1.0, 0.0}, {0.0, 0.0, 1.0}};

    // Axis j's vector, component i.
    double at(int i, int j) const { return m[i][j]; }

    // True when every component differs from other's by at most tolerance, so that
    // the same orientation written with a little rounding counts as the same.
    bool sameAs(const Direction &other, double tolerance = 1e-4) const
    {
        for (int i = 0; i < 3; ++i)
            for (int j = 0; j < 3; ++j)
                if (!(std::fabs(m[i][j] - other.m[i][j]) <= tolerance))
                    return false;
        return true;
    }
};

// What a volume file says about a set beyond its slices and spacing: the direction
// of its axes (only files that state one have it) and how many volumes it holds, of
// which only the first is loaded (a 4-D series: more than 1).
struct VolumeInfo {
    bool hasDirection = false;
    Direction direction;
    qint64 volumes = 1;
    // For a multi-resolution volume: which level was loaded (0 the finest) of how many,
    // and the finest level's columns, rows and slices.
    int level = 0;
    int levels = 1;
    qint64 finestSize[3] = {0, 0, 0};
};

#endif
