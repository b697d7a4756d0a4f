#include "data/slicefile.h"

#include <QFile>
#include <QFileInfo>

#include <limits>

#include "data/dicomseries.h"
#include "data/tiffstack.h"

bool sliceSizeAllowed(qint64 w, qint64 h)
{
    if (w <= 0 || h <= 0 || w > std::numeric_limits<int>::max() || h > std::numeric_limits<int>::max())
        return false;
    if (h > SliceData::maxGridRows)
        return false;
    return w <= SliceData::maxGridPoints / h;
}

void computeValueMinMax(SliceData &s)
{
    s.isImage = false;
    s.minV = std::numeric_limits<double>::max();
    s.maxV = -std::numeric_limits<double>::max();
    std::vector<double> row(std::size_t(std::max(s.width, 0)));
    for (int y = 0; y < s.height; ++y) {
        s.rowValues(y, row.data());
        for (double v : row) {
            if (v > s.maxV)
                s.maxV = v;
            if (v < s.minV)
                s.minV = v;
        }
    }
}

SliceFile readSliceFile(const QString &fname) noexcept
{
    SliceFile out;
    try {
        QByteArray head;
        {
            QFile file(fname);
            // Regular files only: a pipe or a device would hold the loader (SliceData::load
            // refuses them for the same reason).
            if (!QFileInfo(fname).isFile() || !file.open(QIODevice::ReadOnly)) {
                out.reason = QString::fromLatin1(skipReason::unreadable);
                return out;
            }
            head = file.read(132);
        }
        if (readTiffStack(fname, head, out) || readDicomFile(fname, head, out))
            return out;
        auto slice = std::make_unique<SliceData>();
        if (slice->load(fname))
            out.slices.push_back(std::move(slice));
        else
            out.reason = QString::fromLatin1(skipReason::notSlices);
    } catch (...) {
        out.slices.clear();
        out.reason = QString::fromLatin1(skipReason::unreadable);
    }
    return out;
}
