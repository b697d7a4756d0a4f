#ifndef DICOMSERIES_H
#define DICOMSERIES_H

#include <QByteArray>
#include <QString>

class QIODevice;

struct SliceFile;

// True when head (the first bytes of a file) carries the DICOM file marker "DICM"
// after its 128-byte preamble.
bool looksLikeDicom(const QByteArray &head);

// Reads a DICOM file through DCMTK: a grey (MONOCHROME1 or 2) image of one or
// more frames, each frame a slice in frame order, in real units (stored value
// times RescaleSlope plus RescaleIntercept). Compressed transfer syntaxes that
// DCMTK decodes (JPEG, JPEG-LS, RLE) are decoded. 8- and 16-bit stored values
// keep two bytes per point with the rescale beside them; 32-bit ones read as
// doubles, float pixel data as floats. The spacing is PixelSpacing (column step,
// row step) in millimetres and the slice step given by the file; the position,
// orientation and series of a slice go to out.dicom for stacking a series.
// False, with out untouched, when head is not DICOM; true otherwise, with the
// slices, or none and the reason. Declared sizes are checked against the slice
// limits and the file's length before anything is decoded. Never throws.
bool readDicomFile(const QString &fname, const QByteArray &head, SliceFile &out) noexcept;

// The same from an open device (a QBuffer over bytes in memory, say), the file starting
// at its position: what readDicomFile gives for a file of those bytes, with the same
// limits. The device must stay open and unchanged during the call; a sequential one is
// refused as unreadable. False, with out untouched, when the bytes there are not DICOM
// or the device is not open for reading.
bool readDicomFile(QIODevice &device, SliceFile &out) noexcept;

#endif
