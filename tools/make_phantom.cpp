// Writes the sample slice sets: <folder>/head (the head phantom, grey PNG slices),
// <folder>/vessels (grid text files in both header variants), <folder>/ct (a DICOM
// CT series of the head, files named in shuffled order), <folder>/head16.tif
// (the head as a 16-bit TIFF stack), <folder>/head.nii.gz and <folder>/head.nrrd
// (the head as research volumes, through ITK). The sets are
// made in a folder beside the target and moved into place at the end, so an
// interrupted run never leaves a half-written sample folder behind.

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QTextStream>

#include <cstdio>

#include "tools/phantom.h"

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QTextStream err(stderr);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() != 2 || args.at(1).startsWith(QLatin1Char('-'))) {
        err << "usage: make_phantom <folder>\n"
               "writes <folder>/head/head_000.png ..., <folder>/vessels/vessels_00.dat ...,\n"
               "<folder>/ct/ct_00.dcm ..., <folder>/head16.tif, <folder>/head.nii.gz and <folder>/head.nrrd\n";
        return 2;
    }

    const QString target = QFileInfo(args.at(1)).absoluteFilePath();
    const QString partial = target + QStringLiteral(".partial");
    QDir(partial).removeRecursively();

    QString error;
    if (!phantom::writeHead(QDir(partial).filePath(QStringLiteral("head")), phantom::headSlices, phantom::headSize,
                            &error)
        || !phantom::writeVessels(QDir(partial).filePath(QStringLiteral("vessels")), &error)
        || !phantom::writeCtSeries(QDir(partial).filePath(QStringLiteral("ct")), &error)
        || !phantom::writeHeadTiff(QDir(partial).filePath(QStringLiteral("head16.tif")), &error)
        || !phantom::writeHeadNifti(QDir(partial).filePath(QStringLiteral("head.nii.gz")), &error)
        || !phantom::writeHeadNrrd(QDir(partial).filePath(QStringLiteral("head.nrrd")), &error)) {
        err << "make_phantom: " << error << "\n";
        QDir(partial).removeRecursively();
        return 1;
    }

    if (QFileInfo::exists(target) && !QDir(target).removeRecursively()) {
        err << "make_phantom: cannot replace " << target << "\n";
        return 1;
    }
    if (!QDir().rename(partial, target)) {
        err << "make_phantom: cannot move " << partial << " to " << target << "\n";
        return 1;
    }
    QTextStream(stdout) << "sample data written to " << target << "\n";
    return 0;
}
