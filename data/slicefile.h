#ifndef SLICEFILE_H
#define SLICEFILE_H

#include <QString>
#include <QtGlobal>

#include <memory>
#include <vector>

#include "data/slicedata.h"
#include "data/slicedatas.h"

// Why a file was left out of a set. English texts, translated by the panel in the
// context "SlicesCtrl" (the translation file lists them there).
namespace skipReason {
inline constexpr const char *otherSize = QT_TRANSLATE_NOOP("SlicesCtrl", "other size than the first");
inline constexpr const char *flat = QT_TRANSLATE_NOOP("SlicesCtrl", "all values equal");
inline constexpr const char *notSlices = QT_TRANSLATE_NOOP("SlicesCtrl", "not a slice file we can read");
inline constexpr const char *unreadable = QT_TRANSLATE_NOOP("SlicesCtrl", "unreadable");
} // namespace skipReason

// Where a DICOM slice lies, for stacking a series by position.
struct DicomPlacement
{
    QString seriesUid;
    bool hasGeometry = false; // position and orientation both given
    double position[3] = {0, 0, 0};
    double rowDir[3] = {0, 0, 0};
    double colDir[3] = {0, 0, 0};
    double sliceGap = 0.0;    // spacing between slices or slice thickness, 0 when not given
};

// What one file gives a load: its slices in file order (several for a multi-page
// TIFF or a multi-frame DICOM file), the spacing where the file says it, and for
// a file that gives nothing the reason.
struct SliceFile
{
    std::vector<std::unique_ptr<SliceData>> slices;
    bool hasSpacing = false;
    Spacing spacing;
    QString spacingUnit;
    QString reason;
    bool isDicom = false;
    DicomPlacement dicom;
};

// Limits on a stack file besides the per-slice ones of the grids (a slice has at
// most SliceData::maxGridPoints points): all slices of one file together hold at
// most this many points, checked before each slice is allocated.
#ifndef FUZZING_BUILD_MODE_UNSAFE_FOR_PRODUCTION
inline constexpr long long maxStackFilePoints = 1LL << 30;
#else
inline constexpr long long maxStackFilePoints = 1LL << 18;
#endif

// True when a slice of w x h points is allowed (both positive, at most
// SliceData::maxGridPoints, at most SliceData::maxGridRows rows).
bool sliceSizeAllowed(qint64 w, qint64 h);

// For a slice filled with values or floats (width and height set): marks it as
// not a picture and fills minV and maxV from its values.
void computeValueMinMax(SliceData &s);

// Reads one file of a set: a TIFF stack or a DICOM file through their libraries,
// else a picture or grid file as SliceData::load reads it. Never throws.
SliceFile readSliceFile(const QString &fname) noexcept;

#endif
