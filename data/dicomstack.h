#ifndef DICOMSTACK_H
#define DICOMSTACK_H

#include <QString>
#include <QList>
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

namespace stackNote {
inline constexpr const char *split =
    QT_TRANSLATE_NOOP("SlicesCtrl", "series split: kept %1 of %2 files, one series in one orientation");
inline constexpr const char *listOrder = QT_TRANSLATE_NOOP("SlicesCtrl", "list order: %1 of %2 files give no position");
}  // namespace stackNote

// When every accepted file is a single DICOM slice, the slices are stacked by position.
// Files of several series, or of one series in several orientations, are split: the
// largest group (the first of equal ones) is kept and the rest moved to skipped with the
// reason. When every kept file has a position and orientation, the slices are put in
// order of their position along the slice normal (ties keep list order), a slice at the
// place of an earlier one is moved to skipped, and the slice step is the mean distance
// between neighbours; else list order stays, and note says so. The set's spacing is the
// series' own, else that of the first accepted file that gives one, else 1, 1, 1 without
// a unit. Other sets keep list order and their first spacing. A series stacked by position
// gives its patient axes too (else they are not known).
void stackByPosition(std::vector<std::unique_ptr<SliceData>> &slices, QStringList &names,
                     std::vector<AcceptedFile> &meta, Spacing &spacing, QString &unit, QList<SkippedFile> &skipped,
                     StackingNote &note, PatientAxes *axes = nullptr);

#endif
