#ifndef DICOMPRECHECK_H
#define DICOMPRECHECK_H

#include <QtGlobal>

#include <functional>

class QIODevice;

// What a walk over the bytes of a DICOM file finds before DCMTK is given it. DCMTK
// reads nested sequences by recursion, so a file nested thousands of levels deep
// would overflow the stack of the thread reading it; and a deflated data set is
// inflated whole as DCMTK parses it, so its inflated size must be known first.
struct DicomPrecheck {
    bool tooDeep = false;  // sequences and items nest deeper than maxDicomNesting
    bool cut = false;  // an element runs past the end of what holds it (or of a deflated stream)
    bool deflated = false;  // the data set is stored deflated
    bool bigEndian = false;  // explicit VR big endian
    qint64 datasetBytes = 0;  // the data set's bytes (inflated, for a deflated one)
    int depth = 0;  // deepest nesting met, sequences and items counted alike
};

// Sequences and items open at once that a file may have (32 levels of sequences);
// files in use nest a handful.
inline constexpr int maxDicomNesting = 64;

// Walks the file on device from its position (which is left anywhere): the meta
// header, then the data set element by element, skipping values, following
// sequences and items by their lengths and delimiters. Where the structure cannot
// be followed, every item tag in the rest of the bytes counts as one more level, so
// the depth found is never less than what a parser could reach. A deflated data set
// is inflated on the way, and grow(bytes inflated so far) is called every few
// megabytes; when it returns false the walk stops with cut set. Never throws.
DicomPrecheck precheckDicom(QIODevice &device, const std::function<bool(qint64)> &grow) noexcept;

#endif
