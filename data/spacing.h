#ifndef SPACING_H
#define SPACING_H

// Voxel spacing of a set: column step, row step and slice step, in the set's unit;
// all three positive.
struct Spacing {
    double x = 1.0, y = 1.0, z = 1.0;
};

// The patient directions of a set's axes, where a DICOM series says them: unit
// vectors in the patient's axes (x to the left, y to the back, z to the head) of
// increasing column, row and slice.
struct PatientAxes {
    bool known = false;
    double column[3] = {1, 0, 0};
    double row[3] = {0, 1, 0};
    double stack[3] = {0, 0, 1};
};

#endif
