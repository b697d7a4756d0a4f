#ifndef TIFFSTACK_H
#define TIFFSTACK_H

#include <QByteArray>
#include <QString>

class QIODevice;

struct SliceFile;

// True when head (the first bytes of a file) starts like a TIFF or BigTIFF file.
bool looksLikeTiff(const QByteArray &head);

// Reads fname through libtiff when it is a TIFF stack: several pages, or samples
// that a picture reader would cut to 8 bits (16- and 32-bit integers, 32- and
// 64-bit floats). Each page becomes a slice, in page order; 16-bit pages keep
// their stored values at two bytes per point, 32-bit integers and 64-bit floats
// read as doubles, 32-bit floats as floats, non-finite samples as 0; pages of
// eight bits or less (grey, colour, palette) read as the blue component as
// pictures do. Spacing comes from the resolution tags (inch and centimetre
// units become millimetres) and from the unit and spacing that ImageJ-style stacks
// write in their description.
// False, with out untouched, for a file that is not TIFF and for a single-page
// TIFF of eight bits or less per sample, which is read as a picture. True when the
// file was taken: out then holds its slices, or none and the reason. Never throws;
// sizes are checked against the slice limits before anything is allocated.
bool readTiffStack(const QString &fname, const QByteArray &head, SliceFile &out) noexcept;

// The same from an open device (a QBuffer over bytes in memory, say), the TIFF starting
// at its position: what readTiffStack gives for a file of those bytes. False, with out
// untouched, also for a device that is not open for reading or not random access (a
// TIFF's directories may lie anywhere).
bool readTiffStack(QIODevice &device, SliceFile &out) noexcept;

// Turns off what libtiff prints on standard error by itself for every process-wide
// use (Qt's TIFF picture plugin has none of its own): a refused file is reported once,
// by its reader. The stack reader passes its own quiet handlers anyway.
void quietTiffLibrary();

#endif
