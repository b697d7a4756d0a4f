#include "data/tiffstack.h"

#include <QFile>
#include <QIODevice>
#include <QImage>
#include <QStringList>

#include <tiffio.h>

#include <cmath>
#include <cstdarg>
#include <algorithm>
#include <cstring>
#include <limits>
#include <memory>
#include <vector>

#include "data/slicefile.h"

namespace {

// libtiff reads through a QIODevice (a QFile, so any file name Qt can open works, or
// bytes in memory), where the TIFF starts at `start`; its messages are dropped: a
// file it refuses is simply skipped.
struct TiffSource {
    QIODevice *device;
    qint64 start;
};

tmsize_t readProc(thandle_t h, void *buf, tmsize_t size)
{
    return tmsize_t(static_cast<TiffSource *>(h)->device->read(static_cast<char *>(buf), qint64(size)));
}

tmsize_t writeProc(thandle_t, void *, tmsize_t)
{
    return 0;
}

toff_t seekProc(thandle_t h, toff_t off, int whence)
{
    const TiffSource *src = static_cast<TiffSource *>(h);
    QIODevice *f = src->device;
    qint64 base = src->start;
    if (whence == SEEK_CUR)
        base = f->pos();
    else if (whence == SEEK_END)
        base = f->size();
    if (off > toff_t(std::numeric_limits<qint64>::max() - base))
        return toff_t(-1);
    const qint64 to = base + qint64(off);
    return f->seek(to) ? toff_t(to - src->start) : toff_t(-1);
}

int closeProc(thandle_t)
{
    return 0;
}

toff_t sizeProc(thandle_t h)
{
    const TiffSource *src = static_cast<TiffSource *>(h);
    return toff_t(src->device->size() - src->start);
}

int mapProc(thandle_t, void **, toff_t *)
{
    return 0;
}

void unmapProc(thandle_t, void *, toff_t) { }

int quietHandler(TIFF *, void *, const char *, const char *, va_list)
{
    return 1;
}

// The largest single block libtiff may allocate for one file (a strip, a tile,
// a directory's arrays); a slice itself is allocated by us after the size checks.
#ifndef FUZZING_BUILD_MODE_UNSAFE_FOR_PRODUCTION
constexpr tmsize_t maxTiffAlloc = tmsize_t(256) << 20;
#else
constexpr tmsize_t maxTiffAlloc = tmsize_t(4) << 20;
#endif

struct TiffCloser {
    void operator()(TIFF *t) const { TIFFClose(t); }
};
using TiffPtr = std::unique_ptr<TIFF, TiffCloser>;

TiffPtr openTiff(TiffSource &source)
{
    TIFFOpenOptions *opts = TIFFOpenOptionsAlloc();
    if (!opts)
        return nullptr;
    TIFFOpenOptionsSetMaxSingleMemAlloc(opts, maxTiffAlloc);
    TIFFOpenOptionsSetErrorHandlerExtR(opts, quietHandler, nullptr);
    TIFFOpenOptionsSetWarningHandlerExtR(opts, quietHandler, nullptr);
    // "h": no memory mapping (the procedures above refuse it anyway); "c" is not
    // given, so strips and tiles are checked against the file's size.
    TIFF *t = TIFFClientOpenExt("slice", "rm", &source, readProc, writeProc, seekProc, closeProc, sizeProc, mapProc,
                                unmapProc, opts);
    TIFFOpenOptionsFree(opts);
    return TiffPtr(t);
}

enum class SampleKind { unsupported, rgba8, u8, s8, u16, s16, u32, s32, f32, f64 };

struct PageInfo {
    uint32_t width = 0;
    uint32_t height = 0;
    uint16_t bits = 1;
    uint16_t samples = 1;
    uint16_t format = SAMPLEFORMAT_UINT;
    uint16_t photometric = PHOTOMETRIC_MINISBLACK;
    bool reduced = false;
};

PageInfo pageInfo(TIFF *t)
{
    PageInfo p;
    TIFFGetField(t, TIFFTAG_IMAGEWIDTH, &p.width);
    TIFFGetField(t, TIFFTAG_IMAGELENGTH, &p.height);
    TIFFGetFieldDefaulted(t, TIFFTAG_BITSPERSAMPLE, &p.bits);
    TIFFGetFieldDefaulted(t, TIFFTAG_SAMPLESPERPIXEL, &p.samples);
    TIFFGetFieldDefaulted(t, TIFFTAG_SAMPLEFORMAT, &p.format);
    if (!TIFFGetField(t, TIFFTAG_PHOTOMETRIC, &p.photometric))
        p.photometric = PHOTOMETRIC_MINISBLACK;
    uint32_t subfile = 0;
    if (TIFFGetField(t, TIFFTAG_SUBFILETYPE, &subfile))
        p.reduced = (subfile & FILETYPE_REDUCEDIMAGE) != 0;
    return p;
}

// Single-channel grey samples are read as stored; everything of eight bits or
// less besides goes through libtiff's RGBA conversion (palette, colour, bilevel).
SampleKind sampleKind(const PageInfo &p)
{
    const bool grey =
        p.samples == 1 && (p.photometric == PHOTOMETRIC_MINISBLACK || p.photometric == PHOTOMETRIC_MINISWHITE);
    if (grey) {
        if (p.format == SAMPLEFORMAT_IEEEFP) {
            if (p.bits == 32)
                return SampleKind::f32;
            if (p.bits == 64)
                return SampleKind::f64;
            return SampleKind::unsupported;
        }
        const bool isSigned = p.format == SAMPLEFORMAT_INT;
        if (p.format != SAMPLEFORMAT_UINT && !isSigned && p.format != SAMPLEFORMAT_VOID)
            return SampleKind::unsupported;
        switch (p.bits) {
        case 8:
            if (isSigned)
                return SampleKind::s8;
            return p.photometric == PHOTOMETRIC_MINISBLACK ? SampleKind::u8 : SampleKind::rgba8;
        case 16:
            return isSigned ? SampleKind::s16 : SampleKind::u16;
        case 32:
            return isSigned ? SampleKind::s32 : SampleKind::u32;
        default:
            break;
        }
    }
    if (p.bits <= 8 && (p.format == SAMPLEFORMAT_UINT || p.format == SAMPLEFORMAT_VOID))
        return SampleKind::rgba8;
    return SampleKind::unsupported;
}

int sampleBytes(SampleKind k)
{
    switch (k) {
    case SampleKind::u8:
    case SampleKind::s8:
        return 1;
    case SampleKind::u16:
    case SampleKind::s16:
        return 2;
    case SampleKind::u32:
    case SampleKind::s32:
    case SampleKind::f32:
        return 4;
    case SampleKind::f64:
        return 8;
    default:
        return 0;
    }
}

// The samples of the current page, row by row without padding (width * bytes per row).
bool readRawPage(TIFF *t, const PageInfo &p, int bytes, std::vector<unsigned char> &data)
{
    const std::size_t rowBytes = std::size_t(p.width) * std::size_t(bytes);
    data.assign(rowBytes * p.height, 0);
    if (TIFFIsTiled(t)) {
        uint32_t tw = 0, th = 0;
        TIFFGetField(t, TIFFTAG_TILEWIDTH, &tw);
        TIFFGetField(t, TIFFTAG_TILELENGTH, &th);
        const tmsize_t tileSize = TIFFTileSize(t);
        if (tw == 0 || th == 0 || tw > uint32_t(maxTiffAlloc) || th > uint32_t(maxTiffAlloc) || tileSize <= 0
            || tileSize > maxTiffAlloc || tmsize_t(tw) * tmsize_t(th) * bytes > tileSize)
            return false;
        std::vector<unsigned char> tile(std::size_t(tileSize), 0);
        for (uint32_t y0 = 0; y0 < p.height; y0 += th) {
            for (uint32_t x0 = 0; x0 < p.width; x0 += tw) {
                if (TIFFReadTile(t, tile.data(), x0, y0, 0, 0) < 0)
                    return false;
                const uint32_t cols = std::min(tw, p.width - x0);
                const uint32_t rows = std::min(th, p.height - y0);
                for (uint32_t r = 0; r < rows; ++r)
                    std::memcpy(data.data() + std::size_t(y0 + r) * rowBytes + std::size_t(x0) * bytes,
                                tile.data() + std::size_t(r) * tw * bytes, std::size_t(cols) * bytes);
            }
        }
        return true;
    }
    const tmsize_t lineSize = TIFFScanlineSize(t);
    if (lineSize <= 0 || std::size_t(lineSize) < rowBytes)
        return false;
    std::vector<unsigned char> line(std::size_t(lineSize), 0);
    for (uint32_t y = 0; y < p.height; ++y) {
        if (TIFFReadScanline(t, line.data(), y, 0) < 0)
            return false;
        std::memcpy(data.data() + std::size_t(y) * rowBytes, line.data(), rowBytes);
    }
    return true;
}

template <typename T> T sampleAt(const unsigned char *p)
{
    T v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

double finiteOrZero(double v)
{
    return std::isfinite(v) ? v : 0.0;
}

// The bytes the slice of a page keeps.
qint64 pageKeeps(const PageInfo &p)
{
    const SampleKind kind = sampleKind(p);
    const qint64 points = qint64(p.width) * p.height;
    if (kind == SampleKind::rgba8 || kind == SampleKind::u8)
        return points;
    if (kind == SampleKind::s8 || kind == SampleKind::u16 || kind == SampleKind::s16)
        return points * 2;
    if (kind == SampleKind::f32)
        return points * 4;
    return points * qint64(sizeof(double)) + qint64(p.height) * qint64(sizeof(std::vector<double>));
}

// The slice of the current page, null when it cannot be read. Its memory (and that of
// the page's decoding buffers) was reserved for the whole file before.
std::unique_ptr<SliceData> readPage(TIFF *t, const PageInfo &p)
{
    const SampleKind kind = sampleKind(p);
    if (kind == SampleKind::unsupported)
        return nullptr;
    auto s = std::make_unique<SliceData>();
    const int w = int(p.width), h = int(p.height);
    if (kind == SampleKind::rgba8) {
        std::vector<uint32_t> raster(std::size_t(w) * std::size_t(h), 0);
        if (!TIFFReadRGBAImageOriented(t, p.width, p.height, raster.data(), ORIENTATION_TOPLEFT, 0))
            return nullptr;
        // Only the blue component is a value: one byte per point is enough.
        QImage img(w, h, QImage::Format_Grayscale8);
        if (img.isNull())
            return nullptr;
        for (int y = 0; y < h; ++y) {
            uchar *line = img.scanLine(y);
            const uint32_t *src = raster.data() + std::size_t(y) * std::size_t(w);
            for (int x = 0; x < w; ++x)
                line[x] = uchar(TIFFGetB(src[x]));
        }
        s->image = img;
        s->computeImageMinMax();
        return s;
    }
    const int bytes = sampleBytes(kind);
    std::vector<unsigned char> data;
    if (!readRawPage(t, p, bytes, data))
        return nullptr;
    const std::size_t rowBytes = std::size_t(w) * std::size_t(bytes);
    switch (kind) {
    case SampleKind::u8:
    case SampleKind::s8:
    case SampleKind::u16:
    case SampleKind::s16: {
        // Kept at two bytes per point (one for unsigned bytes); signed samples with a bias.
        const bool byte = kind == SampleKind::u8;
        QImage img(w, h, byte ? QImage::Format_Grayscale8 : QImage::Format_Grayscale16);
        if (img.isNull())
            return nullptr;
        if (kind == SampleKind::s8)
            s->storedBias = 128;
        else if (kind == SampleKind::s16)
            s->storedBias = 32768;
        for (int y = 0; y < h; ++y) {
            const unsigned char *src = data.data() + std::size_t(y) * rowBytes;
            if (byte) {
                std::memcpy(img.scanLine(y), src, rowBytes);
                continue;
            }
            quint16 *line = reinterpret_cast<quint16 *>(img.scanLine(y));
            for (int x = 0; x < w; ++x) {
                if (kind == SampleKind::s8)
                    line[x] = quint16(int(sampleAt<qint8>(src + x)) + 128);
                else if (kind == SampleKind::s16)
                    line[x] = quint16(int(sampleAt<qint16>(src + 2 * x)) + 32768);
                else
                    line[x] = sampleAt<quint16>(src + 2 * x);
            }
        }
        s->image = img;
        s->computeImageMinMax();
        return s;
    }
    case SampleKind::f32: {
        s->floats.resize(std::size_t(w) * std::size_t(h));
        for (std::size_t i = 0; i < s->floats.size(); ++i) {
            const float v = sampleAt<float>(data.data() + 4 * i);
            s->floats[i] = std::isfinite(v) ? v : 0.0f;
        }
        break;
    }
    default: {
        s->values.assign(std::size_t(h), std::vector<double>(std::size_t(w), 0.0));
        for (int y = 0; y < h; ++y) {
            const unsigned char *src = data.data() + std::size_t(y) * rowBytes;
            std::vector<double> &row = s->values[std::size_t(y)];
            for (int x = 0; x < w; ++x) {
                if (kind == SampleKind::u32)
                    row[std::size_t(x)] = double(sampleAt<quint32>(src + 4 * x));
                else if (kind == SampleKind::s32)
                    row[std::size_t(x)] = double(sampleAt<qint32>(src + 4 * x));
                else
                    row[std::size_t(x)] = finiteOrZero(sampleAt<double>(src + 8 * x));
            }
        }
        break;
    }
    }
    s->width = w;
    s->height = h;
    computeValueMinMax(*s);
    return s;
}

// Millimetres per unit of an ImageJ unit name, 0 when unknown.
double millimetresPer(const QString &unit)
{
    const QString u = unit.trimmed().toLower();
    if (u == QLatin1String("mm") || u == QLatin1String("millimeter") || u == QLatin1String("millimetre"))
        return 1.0;
    if (u == QLatin1String("cm") || u == QLatin1String("centimeter") || u == QLatin1String("centimetre"))
        return 10.0;
    if (u == QLatin1String("m") || u == QLatin1String("meter") || u == QLatin1String("metre"))
        return 1000.0;
    if (u == QLatin1String("inch") || u == QLatin1String("in"))
        return 25.4;
    if (u == QLatin1String("micron") || u == QLatin1String("um") || u == QStringLiteral("\u00b5m")
        || u == QLatin1String("\\u00b5m") || u == QLatin1String("microns"))
        return 1e-3;
    if (u == QLatin1String("nm") || u == QLatin1String("nanometer"))
        return 1e-6;
    return 0.0;
}

bool positiveFinite(double v)
{
    return std::isfinite(v) && v > 0.0;
}

// The spacing that the first page's tags say, if any.
void readSpacing(TIFF *t, SliceFile &out)
{
    float xres = 0.0f, yres = 0.0f;
    const bool hasX = TIFFGetField(t, TIFFTAG_XRESOLUTION, &xres) == 1 && positiveFinite(xres);
    const bool hasY = TIFFGetField(t, TIFFTAG_YRESOLUTION, &yres) == 1 && positiveFinite(yres);
    uint16_t resUnit = RESUNIT_NONE;
    const bool hasUnit = TIFFGetField(t, TIFFTAG_RESOLUTIONUNIT, &resUnit) == 1;

    QString unit;
    double zStep = 0.0;
    char *desc = nullptr;
    if (TIFFGetField(t, TIFFTAG_IMAGEDESCRIPTION, &desc) == 1 && desc && std::strncmp(desc, "ImageJ=", 7) == 0) {
        const QStringList lines = QString::fromUtf8(desc, qsizetype(strnlen(desc, 1 << 16))).split(QLatin1Char('\n'));
        for (const QString &line : lines) {
            const qsizetype eq = line.indexOf(QLatin1Char('='));
            if (eq <= 0)
                continue;
            const QString key = line.left(eq).trimmed();
            const QString value = line.mid(eq + 1).trimmed();
            if (key == QLatin1String("unit"))
                unit = value;
            else if (key == QLatin1String("spacing"))
                zStep = value.toDouble();
        }
    }

    double perUnit = 0.0;  // millimetres per unit of the resolution, 0 when unitless
    if (!unit.isEmpty())
        perUnit = millimetresPer(unit);
    else if (hasUnit && resUnit == RESUNIT_INCH)
        perUnit = 25.4;
    else if (hasUnit && resUnit == RESUNIT_CENTIMETER)
        perUnit = 10.0;
    const double scale = perUnit > 0.0 ? perUnit : 1.0;
    bool any = false;
    if (hasX && positiveFinite(scale / xres)) {
        out.spacing.x = scale / double(xres);
        any = true;
    }
    if (hasY && positiveFinite(scale / yres)) {
        out.spacing.y = scale / double(yres);
        any = true;
    }
    if (positiveFinite(zStep) && positiveFinite(zStep * scale)) {
        out.spacing.z = zStep * scale;
        any = true;
    }
    out.hasSpacing = any;
    if (any && perUnit > 0.0)
        out.spacingUnit = QStringLiteral("mm");
}

}  // namespace

bool looksLikeTiff(const QByteArray &head)
{
    if (head.size() < 4)
        return false;
    return head.startsWith(QByteArrayLiteral("II*\0")) || head.startsWith(QByteArrayLiteral("MM\0*"))
        || head.startsWith(QByteArrayLiteral("II+\0")) || head.startsWith(QByteArrayLiteral("MM\0+"));
}

bool readTiffStack(const QString &fname, const QByteArray &head, SliceFile &out) noexcept
{
    if (!looksLikeTiff(head))
        return false;
    try {
        QFile file(fname);
        if (!file.open(QIODevice::ReadOnly))
            return false;
        return readTiffStack(file, out);
    } catch (...) {
        out.slices.clear();
        out.reason = QString::fromLatin1(skipReason::unreadable);
    }
    return true;
}

bool readTiffStack(QIODevice &device, SliceFile &out) noexcept
{
    try {
        if (!device.isReadable() || device.isSequential() || !looksLikeTiff(device.peek(4)))
            return false;
        TiffSource source{&device, device.pos()};
        TiffPtr t = openTiff(source);
        if (!t)
            return false;  // not a TIFF that libtiff takes: the picture readers may try
        const tdir_t pages = TIFFNumberOfDirectories(t.get());
        if (!TIFFSetDirectory(t.get(), 0))
            return false;
        const PageInfo first = pageInfo(t.get());
        if (pages <= 1 && first.bits <= 8 && first.format != SAMPLEFORMAT_INT && first.format != SAMPLEFORMAT_IEEEFP)
            return false;  // an ordinary picture, read as pictures are
        readSpacing(t.get(), out);
        // Every page is looked at before any is decoded: the file's slices and the
        // largest page's decoding buffers are reserved at once, and a file past the
        // points one file may hold is refused whole (part of a stack is not the volume).
        struct Page {
            tdir_t dir;
            PageInfo info;
            int number;  // from 1, thumbnails not counted
        };
        std::vector<Page> list;
        long long points = 0;
        qint64 keeps = 0, buffer = 0;
        int number = 0;
        auto leaveOut = [&out](int page, const char *reason) {
            out.skippedParts.append(SkippedFile{QStringLiteral("page %1").arg(page), QString::fromLatin1(reason)});
        };
        for (tdir_t d = 0; d < pages; ++d) {
            if (d > 0 && !TIFFReadDirectory(t.get())) {
                leaveOut(number + 1, skipReason::unreadable);
                break;
            }
            const PageInfo p = pageInfo(t.get());
            if (p.reduced)
                continue;  // a thumbnail beside the real pages
            ++number;
            const SampleKind kind = sampleKind(p);
            if (!sliceSizeAllowed(p.width, p.height)) {
                leaveOut(number, skipReason::tooLarge);
                continue;
            }
            if (kind == SampleKind::unsupported) {
                leaveOut(number, skipReason::notSlices);
                continue;
            }
            points += qint64(p.width) * qint64(p.height);
            if (points > maxStackFilePoints) {
                out.skippedParts.clear();
                out.reason = QString::fromLatin1(skipReason::tooLarge);
                return true;
            }
            keeps += pageKeeps(p);
            const qint64 samples = qint64(p.width) * p.height * (kind == SampleKind::rgba8 ? 4 : sampleBytes(kind));
            const tmsize_t block = TIFFIsTiled(t.get()) ? TIFFTileSize(t.get()) : TIFFScanlineSize(t.get());
            buffer = std::max(buffer, samples + std::clamp<qint64>(qint64(block), 0, qint64(maxTiffAlloc)));
            list.push_back(Page{d, p, number});
        }
        if (!reserveSliceMemory(keeps) || !reserveSliceMemory(buffer))
            return true;
        for (const Page &page : list) {
            std::unique_ptr<SliceData> s;
            if (TIFFSetDirectory(t.get(), page.dir))
                s = readPage(t.get(), page.info);
            if (!s) {
                leaveOut(page.number, skipReason::unreadable);
                continue;
            }
            out.slices.push_back(std::move(s));
            out.pageOf.push_back(page.number);
        }
        releaseSliceMemory(buffer);
        if (out.slices.empty()) {
            // The file's reason is its first page's.
            out.reason = out.skippedParts.isEmpty() ? QString::fromLatin1(skipReason::unreadable)
                                                    : out.skippedParts.first().reason;
            out.skippedParts.clear();
        }
    } catch (...) {
        out.slices.clear();
        out.reason = QString::fromLatin1(skipReason::unreadable);
    }
    return true;
}

void quietTiffLibrary()
{
    TIFFSetErrorHandler(nullptr);
    TIFFSetWarningHandler(nullptr);
}
