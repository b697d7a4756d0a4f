#ifndef NIFTI2VOLUME_H
#define NIFTI2VOLUME_H

#include <QByteArray>

#include "data/volumeslices.h"

struct SliceFile;

// NIfTI's codes of the sample types we read (the same in NIfTI-1 and NIfTI-2); false
// for colour, complex, 64-bit integer and other codes.
bool niftiSampleType(int datatype, SampleType &t);

// The layout of a NIfTI file's samples from its type code and its scl_slope and
// scl_inter (a slope of 0 or not a number: the samples are the values); false for a
// type we do not read. Both NIfTI readers take their samples through it.
bool niftiLayout(int datatype, double slope, double intercept, SampleLayout &out);

// True when the file (gzip or not) begins with NIfTI-2's header length, 540, in either
// byte order.
bool looksLikeNifti2(const QByteArray &nativePath);

// Reads a NIfTI-2 file (.nii or .nii.gz, one file) through Debian's NIfTI library, as
// the NIfTI-1 reader does through ITK's: the first volume's slices, streamed slice by
// slice, in the file's units (scl_slope and scl_inter applied); the spacing, in
// millimetres where the file names a unit of length; the direction of the axes in
// patient coordinates as ITK gives NIfTI-1's (the sform where the file sets one at
// right angles, else the qform, turned from the file's right-anterior-superior axes to left-
// posterior-superior) and the number of volumes in out.volume. The header is checked
// before anything is allocated. Null when read, else the reason (out's slices empty).
const char *readNifti2Volume(const QByteArray &nativePath, SliceFile &out) noexcept;

#endif
