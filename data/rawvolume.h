#ifndef RAWVOLUME_H
#define RAWVOLUME_H

#include <QList>
#include <QPair>
#include <QString>
#include <QtGlobal>

#include "data/spacing.h"
#include "data/volumeslices.h"

struct SliceFile;

namespace skipReason {
inline constexpr const char *rawSize = QT_TRANSLATE_NOOP("SlicesCtrl", "its size does not match its raw description");
inline constexpr const char *rawUndescribed =
    QT_TRANSLATE_NOOP("SlicesCtrl", "a raw file without a description (use Import Raw)");
}  // namespace skipReason

// What a raw file of samples is, as its user describes it: width x height x depth
// samples of one type and byte order, slice after slice, row after row, after a
// header of headerBytes that is skipped; and the voxel spacing (no unit).
struct RawDescription {
    int width = 0;
    int height = 0;
    int depth = 0;
    SampleType type = SampleType::u8;
    bool bigEndian = false;
    qint64 headerBytes = 0;
    Spacing spacing;

    // The bytes a file of this description holds: header and samples; -1 when the
    // numbers are not positive or overflow.
    qint64 fileBytes() const;
    bool operator==(const RawDescription &o) const;
};

// The description as text: "W,H,D,TYPE,ORDER[,OFFSET[,SX,SY,SZ]]", TYPE one of the
// sampleTypeName names, ORDER "le" or "be" ("little" and "big" too). Sizes from 1 to
// 2^31 - 1, the offset 0 or more, spacings positive and finite. False, with a
// one-line English reason in *why when given, for anything else.
bool parseRawDescription(const QString &text, RawDescription &out, QString *why = nullptr);
// The full form that parseRawDescription reads back to the same description.
QString rawDescriptionText(const RawDescription &d);

// The descriptions given in this process (by the import dialog, restored from the
// remembered settings, or by oxa-render --raw), by absolute file name. The loader
// reads a file that has one as a raw volume. Thread-safe.
namespace rawimport {
void remember(const QString &file, const RawDescription &d);
bool recall(const QString &file, RawDescription &d);
void forget(const QString &file);
// Every remembered description, oldest first.
QList<QPair<QString, RawDescription>> remembered();
}  // namespace rawimport

// The loader's hook for raw files. name is the file as listed, path the name it is
// opened by. True when name has a description: out then holds its slices (the size
// is checked against the description before anything is read), or none and the
// reason; and true for a file named *.raw without one, whose reason says so. False,
// with out untouched, for other files. Never throws.
bool readRawFile(const QString &name, const QString &path, SliceFile &out) noexcept;

#endif
