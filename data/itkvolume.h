#ifndef ITKVOLUME_H
#define ITKVOLUME_H

#include <QString>

#include "data/volumeslices.h"

struct SliceFile;

// The volume formats of research pipelines, told by their names (any letter case):
// NIfTI-1 and NIfTI-2 (.nii, .nii.gz), NRRD (.nrrd attached, .nhdr detached) and MetaImage (.mha
// attached, .mhd detached).
enum class VolumeFormat { none, nifti, nrrd, meta };
VolumeFormat volumeFormatOf(const QString &name);

// Reads a file of those formats through ITK's image IO (the factory of
// itk::ImageIOBase): one file gives the slices of one volume, in the file's own
// order (x along the slice columns, y along the rows). 8-, 16- and 32-bit integer
// and 32- and 64-bit float samples, in the file's units (NIfTI's scl_slope and
// scl_inter applied); the spacing from the file, in millimetres where the file gives
// a unit; the direction of the axes (patient coordinates, as ITK gives them) and, for
// a 4-D file, the number of volumes, of which the first is loaded, in out.volume.
// Memory: the slices and one slice of stored samples more (NIfTI is streamed slice
// by slice through ITK's NIfTI library, as ITK's reader would hold the whole file a
// second time; the other formats are read into pages given back as they are turned
// into slices). Headers are checked before anything is allocated.
// False, with out untouched, when path is not of those formats by name; true
// otherwise, with the slices, or none and the reason. Never throws.
bool readItkVolume(const QString &path, SliceFile &out) noexcept;

#endif
