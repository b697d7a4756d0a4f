#include "data/folderscan.h"

#include <QCollator>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcfilefo.h>
#include <dcmtk/oflog/oflog.h>

#include <algorithm>
#include <mutex>

#include "data/zarrmeta.h"

namespace {

// Elements longer than this stay on disk: the headers are all that is read.
constexpr Uint32 headerElementLimit = 1024;

bool looksLikeDicomFile(const QString &fname)
{
    QFile f(fname);
    if (!f.open(QIODevice::ReadOnly))
        return false;
    const QByteArray head = f.read(132);
    return head.size() == 132 && head.mid(128, 4) == "DICM";
}

QString text(DcmDataset &ds, const DcmTagKey &tag)
{
    OFString value;
    if (ds.findAndGetOFString(tag, value).good())
        return QString::fromLatin1(value.c_str()).trimmed();
    return QString();
}

}  // namespace

QStringList filesInFolder(const QString &dir, int limit)
{
    QStringList files;
    // An OME-Zarr image is one set, read from the folder itself.
    if (isZarrFolder(dir))
        return QStringList{QFileInfo(dir).absoluteFilePath()};
    const QFileInfoList entries = QDir(dir).entryInfoList(QDir::Files | QDir::NoDotAndDotDot, QDir::NoSort);
    for (const QFileInfo &fi : entries) {
        if (files.size() >= limit)
            break;
        if (fi.isFile())
            files.append(fi.absoluteFilePath());
    }
    QCollator natural;
    natural.setNumericMode(true);
    std::stable_sort(files.begin(), files.end(),
                     [&natural](const QString &a, const QString &b) { return natural.compare(a, b) < 0; });
    return files;
}

QList<DicomSeriesEntry> dicomSeriesAmong(const QStringList &files)
{
    static std::once_flag quiet;
    std::call_once(quiet, [] { OFLog::configure(OFLogger::OFF_LOG_LEVEL); });
    QList<DicomSeriesEntry> series;
    for (const QString &f : files) {
        if (!looksLikeDicomFile(f))
            continue;
        DcmFileFormat ff;
        const QByteArray native = QFile::encodeName(f);
        if (ff.loadFile(OFFilename(native.constData()), EXS_Unknown, EGL_noChange, headerElementLimit, ERM_autoDetect)
                .bad())
            continue;
        DcmDataset *ds = ff.getDataset();
        if (ds == nullptr)
            continue;
        const QString uid = text(*ds, DCM_SeriesInstanceUID);
        if (uid.isEmpty())
            continue;
        auto it = std::find_if(series.begin(), series.end(), [&uid](const DicomSeriesEntry &e) { return e.uid == uid; });
        if (it == series.end()) {
            DicomSeriesEntry e;
            e.uid = uid;
            e.description = text(*ds, DCM_SeriesDescription);
            if (e.description.isEmpty())
                e.description = (text(*ds, DCM_Modality) + QLatin1Char(' ') + text(*ds, DCM_SeriesNumber)).trimmed();
            series.append(e);
            it = series.end() - 1;
        }
        it->files.append(f);
    }
    return series;
}
