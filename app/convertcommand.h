#ifndef CONVERTCOMMAND_H
#define CONVERTCOMMAND_H

#include <QStringList>

class QTextStream;

// The converter: reads the slices of one set (picture, TIFF, DICOM and grid files in
// the order given, volume files, OME-Zarr images) file by file and writes them as an
// OME-Zarr pyramid (data/zarrwriter.h), never holding more than one input file and one
// slab of chunks per level. args are the whole command line, program name first.
// Returns the process exit status as the render command does: 0 on success, 1 when
// the work fails, 2 for a bad command line; every failure writes one line to err, and
// a progress line is kept on err while it runs. Needs a QCoreApplication.
int runConvertCommand(const QStringList &args, QTextStream &out, QTextStream &err);

#endif
