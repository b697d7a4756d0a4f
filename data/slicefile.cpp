#include "data/slicefile.h"

#include <QFile>
#include <QFileInfo>
#include <QImageReader>

#include <algorithm>
#include <cmath>
#include <limits>

#if defined(Q_OS_UNIX)
#include <unistd.h>
#endif

#include "data/dicomseries.h"
#include "data/itkvolume.h"
#include "data/nativename.h"
#include "data/picturechecks.h"
#include "data/rawvolume.h"
#include "data/tiffstack.h"
#include "data/zarrvolume.h"

namespace {

// The budget of the read running in this thread, what it reserved so far, and
// whether a reservation was refused.
struct ReadAccount {
    SliceBudget *budget = nullptr;
    qint64 reserved = 0;
    bool refused = false;
};

thread_local ReadAccount *currentRead = nullptr;

// Sets the account of one read for this thread while it lives.
class ReadScope
{
public:
    explicit ReadScope(ReadAccount &account) : previous_(currentRead) { currentRead = &account; }
    ~ReadScope() { currentRead = previous_; }
    ReadScope(const ReadScope &) = delete;
    ReadScope &operator=(const ReadScope &) = delete;

private:
    ReadAccount *previous_;
};

}  // namespace

bool SliceBudget::reserve(qint64 bytes)
{
    if (bytes < 0)
        return false;
    qint64 used = used_.load();
    do {
        if (bytes > limit_ - used)
            return false;
    } while (!used_.compare_exchange_weak(used, used + bytes));
    return true;
}

void SliceBudget::release(qint64 bytes)
{
    if (bytes > 0)
        used_.fetch_sub(bytes);
}

qint64 sliceBytes(const SliceData &s)
{
    qint64 bytes = s.image.isNull() ? 0 : qint64(s.image.sizeInBytes());
    bytes += qint64(s.floats.size()) * qint64(sizeof(float));
    bytes += qint64(s.cells.size()) * qint64(sizeof(double));
    for (const std::vector<double> &row : s.values)
        bytes += qint64(row.size()) * qint64(sizeof(double)) + qint64(sizeof row);
    return bytes;
}

bool reserveSliceMemory(qint64 bytes)
{
    ReadAccount *read = currentRead;
    if (!read || !read->budget)
        return true;
    if (!read->budget->reserve(bytes)) {
        read->refused = true;
        return false;
    }
    read->reserved += bytes;
    return true;
}

bool reserveSliceMemoryIfFree(qint64 bytes)
{
    ReadAccount *read = currentRead;
    if (!read || !read->budget)
        return true;
    if (!read->budget->reserve(bytes))
        return false;
    read->reserved += bytes;
    return true;
}

qint64 sliceMemoryLeft()
{
    const ReadAccount *read = currentRead;
    return read && read->budget ? read->budget->left() : -1;
}

QString partName(const SliceFile &file, std::size_t index)
{
    const int page = index < file.pageOf.size() ? file.pageOf[index] : int(index) + 1;
    return QStringLiteral("page %1").arg(page);
}

void releaseSliceMemory(qint64 bytes)
{
    ReadAccount *read = currentRead;
    if (!read || !read->budget || bytes <= 0)
        return;
    bytes = std::min(bytes, read->reserved);
    read->budget->release(bytes);
    read->reserved -= bytes;
}

qint64 defaultSliceBudget()
{
#if defined(Q_OS_UNIX) && defined(_SC_PHYS_PAGES) && defined(_SC_PAGE_SIZE)
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long pageSize = sysconf(_SC_PAGE_SIZE);
    if (pages > 0 && pageSize > 0)
        return qint64(pages) / 2 * qint64(pageSize);
#endif
    return qint64(1) << 30;
}

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

namespace {

void readFile(const QString &name, SliceFile &out)
{
    // An address is read as an OME-Zarr image, whatever it turns out to hold.
    if (isZarrAddress(name) && readZarrVolume(name, out))
        return;
    // A name that is not valid UTF-8 is reached through its own bytes.
    const NativeFileAlias native(name);
    const QString &fname = native.path();
    QByteArray head;
    {
        QFile file(fname);
        // Regular files only: a pipe or a device would hold the loader (SliceData::load
        // refuses them for the same reason).
        const QFileInfo info(fname);
        if (!info.exists() && !info.isSymLink()) {
            out.reason = QString::fromLatin1(skipReason::notFound);
            return;
        }
        // An OME-Zarr image is a folder.
        if (info.isDir() && readZarrVolume(fname, out))
            return;
        if (!info.isFile() || !file.open(QIODevice::ReadOnly)) {
            out.reason = QString::fromLatin1(skipReason::unreadable);
            return;
        }
        head = file.read(132);
    }
    if (readRawFile(name, fname, out) || readItkVolume(fname, out) || readTiffStack(fname, head, out)
        || readDicomFile(fname, head, out))
        return;
    // A picture is decoded by Qt, which allocates by itself: the picture it declares
    // is reserved before (four bytes a pixel when its format is not known), and
    // trued up to what is kept after.
    {
        // Files the picture decoders must not see are not given to them for their size either.
        QFile file(fname);
        if (!file.open(QIODevice::ReadOnly) || !picturecheck::safeToDecode(file)) {
            out.reason = QString::fromLatin1(skipReason::notSlices);
            return;
        }
    }
    {
        QImageReader reader(fname);
        const QSize declared = reader.size();
        if (declared.isValid()) {
            const QImage::Format format = reader.imageFormat();
            const int bits = format == QImage::Format_Invalid ? 32 : QImage::toPixelFormat(format).bitsPerPixel();
            const qint64 line = (qint64(declared.width()) * std::max(bits, 1) + 31) / 32 * 4;
            if (!reserveSliceMemory(line * declared.height())) {
                out.reason = QString::fromLatin1(skipReason::noMemory);
                return;
            }
        }
    }
    auto slice = std::make_unique<SliceData>();
    if (slice->load(fname))
        out.slices.push_back(std::move(slice));
    else
        out.reason = QString::fromLatin1(skipReason::notSlices);
}

}  // namespace

SliceFile readSliceFile(const QString &fname, SliceBudget *budget) noexcept
{
    SliceFile out;
    ReadAccount account;
    account.budget = budget;
    try {
        ReadScope scope(account);
        readFile(fname, out);
    } catch (...) {
        out.slices.clear();
        out.reason = QString::fromLatin1(skipReason::unreadable);
    }
    // Values past the range of doubles (a huge rescale, say) would give a set without
    // a range: the file is refused.
    for (const auto &sl : out.slices) {
        if (!std::isfinite(sl->minV) || !std::isfinite(sl->maxV)) {
            out.slices.clear();
            out.skippedParts.clear();
            out.reason = QString::fromLatin1(skipReason::notFinite);
            break;
        }
    }
    if (!budget)
        return out;
    // The file then holds exactly what its slices take. A file that did not fit is
    // left out whole: part of a stack is not the volume.
    qint64 held = 0;
    for (const auto &sl : out.slices)
        held += sliceBytes(*sl);
    if (account.refused || (held > account.reserved && !budget->reserve(held - account.reserved))) {
        budget->release(account.reserved);
        out.slices.clear();
        out.reason = QString::fromLatin1(skipReason::noMemory);
        return out;
    }
    if (held < account.reserved)
        budget->release(account.reserved - held);
    return out;
}
