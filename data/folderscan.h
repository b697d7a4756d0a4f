#ifndef FOLDERSCAN_H
#define FOLDERSCAN_H

#include <QList>
#include <QString>
#include <QStringList>

// What "Open Folder…" loads: the files of one folder that may hold slices.

// The regular, visible files of a folder (not its subfolders), in natural order
// (slice_2 before slice_10); at most `limit` of them, the rest left out. A folder
// holding an OME-Zarr image gives itself alone.
QStringList filesInFolder(const QString &dir, int limit = 100000);

// One DICOM series among a folder's files.
struct DicomSeriesEntry {
    QString uid;
    QString description;  // the series description, else the modality and number
    QStringList files;    // in the folder's order
};

// The DICOM series the files belong to, in the order they are first met; files that
// are not DICOM (or have no series) are left out. Reads only the files' headers.
QList<DicomSeriesEntry> dicomSeriesAmong(const QStringList &files);

#endif
