#ifndef DICOMSTACK_H
#define DICOMSTACK_H

#include <QString>
#include <QStringList>

#include <cstddef>
#include <memory>
#include <vector>

#include "data/slicefile.h"
#include "data/spacing.h"

// One accepted file of a load: how many slices it gave and what it says about
// spacing and placement.
struct AcceptedFile {
    std::size_t sliceCount = 0;
    bool hasSpacing = false;
    Spacing spacing;
    QString spacingUnit;
    bool isDicom = false;
    DicomPlacement dicom;
};

// When every accepted file is a single DICOM slice of one series with position and
// orientation, the slices are put in order of their position along the slice
// normal (ties keep list order) and the slice step is the mean distance between
// neighbours. The set's spacing is then the series' own; otherwise it is that of
// the first accepted file that gives one, else 1, 1, 1 without a unit. A series
// stacked by position gives its patient axes too (else they are not known).
void stackByPosition(std::vector<std::unique_ptr<SliceData>> &slices, QStringList &names,
                     const std::vector<AcceptedFile> &meta, Spacing &spacing, QString &unit,
                     PatientAxes *axes = nullptr);

#endif
