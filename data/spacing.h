#ifndef SPACING_H
#define SPACING_H

// Voxel spacing of a set: column step, row step and slice step, in the set's unit;
// all three positive.
struct Spacing {
    double x = 1.0, y = 1.0, z = 1.0;
};

#endif
