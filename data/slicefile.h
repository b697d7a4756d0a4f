#ifndef SLICEFILE_H
#define SLICEFILE_H

#include <QString>
#include <QtGlobal>

#include <atomic>
#include <memory>
#include <vector>

#include "data/direction.h"
#include "data/slicedata.h"
#include "data/slicedatas.h"

// Why a file was left out of a set. English texts, translated by the panel in the
// context "SlicesCtrl" (the translation file lists them there).
namespace skipReason {
inline constexpr const char *otherSize = QT_TRANSLATE_NOOP("SlicesCtrl", "other size than the first");
inline constexpr const char *flat = QT_TRANSLATE_NOOP("SlicesCtrl", "all values equal");
inline constexpr const char *notSlices = QT_TRANSLATE_NOOP("SlicesCtrl", "not a slice file we can read");
inline constexpr const char *unreadable = QT_TRANSLATE_NOOP("SlicesCtrl", "unreadable");
inline constexpr const char *notFound = QT_TRANSLATE_NOOP("SlicesCtrl", "not found");
inline constexpr const char *noMemory = QT_TRANSLATE_NOOP("SlicesCtrl", "not enough memory for this slice");
inline constexpr const char *tooDeep = QT_TRANSLATE_NOOP("SlicesCtrl", "sequences nested too deeply");
inline constexpr const char *tooLarge = QT_TRANSLATE_NOOP("SlicesCtrl", "more points than one file may hold");
inline constexpr const char *notFinite = QT_TRANSLATE_NOOP("SlicesCtrl", "values beyond the range of numbers");
inline constexpr const char *badPixelSpacing = QT_TRANSLATE_NOOP("SlicesCtrl", "pixel spacing out of range");
inline constexpr const char *otherSeries = QT_TRANSLATE_NOOP("SlicesCtrl", "another series than the set's");
inline constexpr const char *otherOrientation =
    QT_TRANSLATE_NOOP("SlicesCtrl", "slices in another orientation than the set's");
inline constexpr const char *samePosition = QT_TRANSLATE_NOOP("SlicesCtrl", "same position as another slice");
}  // namespace skipReason

// The memory one load may give its slices, shared by the threads that decode its
// files: every slice is reserved before it is allocated, and a reservation that
// would pass the limit is refused. Thread-safe.
class SliceBudget
{
public:
    explicit SliceBudget(qint64 limitBytes) : limit_(limitBytes) { }
    bool reserve(qint64 bytes);
    void release(qint64 bytes);
    qint64 left() const { return limit_ - used_.load(); }

private:
    std::atomic<qint64> used_{0};
    const qint64 limit_;
};

// The memory a slice holds: its picture, floats or grid rows.
qint64 sliceBytes(const SliceData &s);

// Reserves bytes for a slice about to be allocated by a reader running inside
// readSliceFile; true when they fit the budget of that read (always without one).
// A refusal is remembered, so that a file that gives nothing for it is skipped as
// "not enough memory for this slice".
bool reserveSliceMemory(qint64 bytes);
// The same, for a reader that has a smaller choice when bytes do not fit (a coarser
// level of a multi-resolution volume): a refusal is not remembered.
bool reserveSliceMemoryIfFree(qint64 bytes);
// What is left of the budget of the read running in this thread; -1 without one.
qint64 sliceMemoryLeft();

// Gives back bytes reserved by reserveSliceMemory for memory a reader has freed again
// (a decoding buffer), so that the file ends up holding what its slices take.
void releaseSliceMemory(qint64 bytes);

// Where a DICOM slice lies, for stacking a series by position.
struct DicomPlacement {
    QString seriesUid;
    bool hasGeometry = false;  // position and orientation both given
    double position[3] = {0, 0, 0};
    double rowDir[3] = {0, 0, 0};
    double colDir[3] = {0, 0, 0};
    double sliceGap = 0.0;  // spacing between slices or slice thickness, 0 when not given
};

// What one file gives a load: its slices in file order (several for a multi-page
// TIFF or a multi-frame DICOM file), the spacing where the file says it, and for
// a file that gives nothing the reason.
class StreamedVolume;

struct SliceFile {
    std::vector<std::unique_ptr<SliceData>> slices;
    bool hasSpacing = false;
    Spacing spacing;
    QString spacingUnit;
    QString reason;
    bool isDicom = false;
    DicomPlacement dicom;
    VolumeInfo volume;
    // A volume larger than its slices: the finer levels its chunks hold (OME-Zarr).
    std::shared_ptr<StreamedVolume> stream;
    // Pages (or frames) of the file that were left out while others were kept, each
    // named "page 3" and the like, with the reason.
    QList<SkippedFile> skippedParts;
    // The page number (from 1) of each slice, when pages were left out.
    std::vector<int> pageOf;
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
// else a picture or grid file as SliceData::load reads it. With a budget, every
// slice is reserved in it before it is allocated, and on return the file holds
// exactly the sliceBytes of its slices there (nothing when it gives none); a file
// that does not fit gives no slices and the reason "not enough memory for this
// slice". Never throws.
SliceFile readSliceFile(const QString &fname, SliceBudget *budget = nullptr) noexcept;

// The name of slice index of file among the file's parts: "page 3" (by pageOf when
// pages were left out, else by its place).
QString partName(const SliceFile &file, std::size_t index);

// The default budget of a load: half of the physical memory (1 GiB when unknown).
qint64 defaultSliceBudget();

#endif
