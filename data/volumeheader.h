#ifndef VOLUMEHEADER_H
#define VOLUMEHEADER_H

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <vector>

// What a NRRD or MetaImage header says that ITK's readers take on trust, looked at
// before ITK is given the file: NRRD turns a spacing that is not a number into 1,
// MetaImage allocates whatever a negative size makes of itself and hands back a
// short data file as if it were whole, and both follow a detached header to a data
// file wherever its name points. ITK still reads the file; this only looks at the
// few fields those refusals need.
struct HeaderFacts {
    bool scanned = false;  // a header of the format was found
    std::vector<qint64> sizes;  // per axis as written (zero or below possible)
    // Per axis, where the header gives one (from the spacings, or the length of the
    // axis' direction vector); NaN stands for "not a number" in the file.
    std::vector<double> spacings;
    QStringList dataFiles;  // detached data files as named, relative to the header's folder
    bool dataPattern = false;  // named by a numbered pattern, so only its folder is known
    bool rawData = false;  // stored uncompressed, so the data's length can be checked
    qint64 compressedBytes = -1;  // MetaImage's CompressedDataSize, -1 when not given
    qint64 dataOffset = -1;  // where the samples start in the data, -1 when unknown
    QString unit;  // "mm" when every spatial axis is said to be in millimetres
};

// The header at the start of text (a .nrrd or .nhdr file; for an attached file,
// the first bytes, header included). A file that does not start with "NRRD00" gives
// scanned = false.
HeaderFacts scanNrrdHeader(const QByteArray &text);
// The same for a MetaImage header (.mha, .mhd): scanned needs NDims (1 to 10), as
// many DimSize numbers, lines of at most 250 bytes before the ElementDataFile line
// that ends the header, and that line.
HeaderFacts scanMetaHeader(const QByteArray &text);

// The refusals the facts call for, in this order: sizes of zero or less, more voxels
// than a set may hold, a spacing of zero, below zero or not a number, a data file
// outside the header's folder (headerPath's; absolute names elsewhere count too), a
// data file that does not exist. Null when there is none, else the reason.
const char *checkHeaderFacts(const HeaderFacts &facts, const QString &headerPath);

#endif
