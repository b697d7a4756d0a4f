#ifndef VOLUMESLICES_H
#define VOLUMESLICES_H

#include <QString>
#include <QtGlobal>

#include <functional>
#include <memory>
#include <vector>

#include "data/slicedata.h"

// Why a volume file (ITK formats or a described raw file) was left out. English
// texts, translated by the panel in the context "SlicesCtrl" like the others.
namespace skipReason {
inline constexpr const char *noVoxels = QT_TRANSLATE_NOOP("SlicesCtrl", "declares no voxels (a size of zero or less)");
inline constexpr const char *tooManyVoxels =
    QT_TRANSLATE_NOOP("SlicesCtrl", "declares more voxels than a set may hold");
inline constexpr const char *badSpacing =
    QT_TRANSLATE_NOOP("SlicesCtrl", "its spacing is zero, below zero or not a number");
inline constexpr const char *badHeader = QT_TRANSLATE_NOOP("SlicesCtrl", "its header cannot be read");
inline constexpr const char *dataMissing = QT_TRANSLATE_NOOP("SlicesCtrl", "its data file is missing");
inline constexpr const char *dataShort =
    QT_TRANSLATE_NOOP("SlicesCtrl", "its data is shorter than the header declares, or damaged");
inline constexpr const char *dataOutside =
    QT_TRANSLATE_NOOP("SlicesCtrl", "its data file lies outside the header's folder");
inline constexpr const char *typeNotRead =
    QT_TRANSLATE_NOOP("SlicesCtrl", "a data type we do not read (colour, vectors, complex or 64-bit integers)");
}  // namespace skipReason

// The sample types a volume file may store.
enum class SampleType { u8, s8, u16, s16, u32, s32, f32, f64 };

int sampleTypeBytes(SampleType t);
// "uint8", "int8", "uint16", "int16", "uint32", "int32", "float32", "float64": the
// names of the raw description and the import dialog.
QString sampleTypeName(SampleType t);
// Those names in any letter case, and "float" and "double" for the two float types.
bool sampleTypeFromName(const QString &name, SampleType &t);
constexpr SampleType allSampleTypes[] = {SampleType::u8,  SampleType::s8,  SampleType::u16, SampleType::s16,
                                         SampleType::u32, SampleType::s32, SampleType::f32, SampleType::f64};

// How the stored samples of a volume become values: value = stored * slope +
// intercept, stored in the file's byte order.
struct SampleLayout {
    SampleType type = SampleType::u8;
    bool swapBytes = false;  // the other byte order than this machine's
    double slope = 1.0;
    double intercept = 0.0;
    bool scaled() const { return slope != 1.0 || intercept != 0.0; }
};

// The bytes a slice of w x h samples keeps once made, as sliceBytes counts them:
// unsigned bytes without scaling one byte a value in a grey picture; other 8- and
// 16-bit samples two bytes (a 16-bit grey picture with the scaling and the bias of
// signed samples beside it); 32-bit floats four; 32-bit integers and 64-bit floats
// eight, as doubles.
qint64 keptSliceBytes(const SampleLayout &l, int w, int h);

// One slice from w * h stored samples, row by row (swapped in place when the layout
// says so, so src is not const). Non-finite values read as 0. Null when its memory
// cannot be had.
std::unique_ptr<SliceData> makeVolumeSlice(unsigned char *src, int w, int h, const SampleLayout &l);

// The value of the stored sample at p (in the layout's byte order) exactly as the slice
// makeVolumeSlice makes of it reports it through SliceData::value.
double volumeSampleValue(const SampleLayout &l, const unsigned char *p);

// The checks every volume passes before anything is allocated: a positive size,
// slices within the slice limits and the whole within maxStackFilePoints, and its
// slices plus one slice of stored samples reserved in the load's memory budget
// (reserveSliceMemory). Null when admitted, else the reason.
const char *admitVolume(qint64 w, qint64 h, qint64 depth, const SampleLayout &l);

// Reads depth slices of w x h samples in turn: read(buffer, bytes) fills one
// slice's stored samples and returns false when the data ends early or fails.
// Appends the slices to slices; the reason when one could not be read (the slices
// made so far are then dropped), else null.
const char *readSlicesInTurn(int w, int h, int depth, const SampleLayout &l,
                             const std::function<bool(unsigned char *, qint64)> &read,
                             std::vector<std::unique_ptr<SliceData>> &slices);

#endif
