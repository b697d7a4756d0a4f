#include "app/convertcommand.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTextStream>

#include <cmath>
#include <cstring>
#include <exception>
#include <limits>
#include <memory>
#include <vector>

#include "data/folderscan.h"
#include "data/slicedata.h"
#include "data/slicefile.h"
#include "data/zarrvolume.h"
#include "data/zarrwriter.h"

namespace {

// What the converter may hold: the slabs of the pyramid, and one input file (or one
// slab of an OME-Zarr input) at a time. Together under 2 GiB.
constexpr qint64 slabLimit = qint64(1) << 30;
constexpr qint64 inputLimit = qint64(768) << 20;

struct Failure {
    QString message;
    int status = 1;
};

bool exactFloat(double v)
{
    return std::fabs(v) <= double(std::numeric_limits<float>::max()) && double(float(v)) == v;
}

// The smallest integer type that holds lo .. hi, f64 beyond 32 bits.
SampleType integerTypeFor(double lo, double hi)
{
    if (lo >= 0) {
        if (hi <= 255)
            return SampleType::u8;
        if (hi <= 65535)
            return SampleType::u16;
        if (hi <= 4294967295.0)
            return SampleType::u32;
    } else {
        if (lo >= -128 && hi <= 127)
            return SampleType::s8;
        if (lo >= -32768 && hi <= 32767)
            return SampleType::s16;
        if (lo >= -2147483648.0 && hi <= 2147483647.0)
            return SampleType::s32;
    }
    return SampleType::f64;
}

// The stored type of the output, from what the first slice is: pictures keep their
// bytes and words (signed ones their sign); rescaled words, floats and grids the
// smallest type that keeps every value they can hold exactly (a grid, every value
// of the first slice).
SampleType typeFor(const SliceData &s)
{
    if (s.isImage && s.image.format() != QImage::Format_Grayscale16)
        return SampleType::u8;
    if (s.isImage) {
        if (s.rescaleSlope == 1.0 && s.rescaleIntercept == 0.0)
            return s.storedBias == 128 ? SampleType::s8 : s.storedBias == 32768 ? SampleType::s16 : SampleType::u16;
        double lo = std::numeric_limits<double>::max(), hi = -lo;
        bool whole = true, floats = true;
        for (int w = 0; w < 65536; ++w) {
            const double v = s.rescaled(quint16(w));
            lo = std::min(lo, v);
            hi = std::max(hi, v);
            whole = whole && std::trunc(v) == v;
            floats = floats && exactFloat(v);
        }
        return whole ? integerTypeFor(lo, hi) : floats ? SampleType::f32 : SampleType::f64;
    }
    if (!s.floats.empty())
        return SampleType::f32;
    bool whole = true, floats = true;
    std::vector<double> row(std::size_t(s.width));
    for (int y = 0; y < s.height; ++y) {
        s.rowValues(y, row.data());
        for (double v : row) {
            whole = whole && std::trunc(v) == v;
            floats = floats && exactFloat(v);
        }
    }
    if (whole) {
        const SampleType t = integerTypeFor(s.minV, s.maxV);
        // Grids are numbers of any size: keep 32 bits so later slices have room.
        if (t == SampleType::u8 || t == SampleType::u16)
            return SampleType::u32;
        if (t == SampleType::s8 || t == SampleType::s16)
            return SampleType::s32;
        return t;
    }
    return floats ? SampleType::f32 : SampleType::f64;
}

template <typename T> bool storeRow(const double *v, int n, unsigned char *dst)
{
    T *out = reinterpret_cast<T *>(dst);
    for (int i = 0; i < n; ++i) {
        if constexpr (std::is_integral_v<T>) {
            if (!(v[i] >= double(std::numeric_limits<T>::lowest()) && v[i] <= double(std::numeric_limits<T>::max())))
                return false;
        } else if (std::is_same_v<T, float> && !exactFloat(v[i])) {
            return false;
        }
        out[i] = T(v[i]);
        if (double(out[i]) != v[i])
            return false;
    }
    return true;
}

// The common slices whose stored form is already the samples: rows copied as they are
// (16-bit signed words less their bias). False for any other slice.
bool copiedAsStored(const SliceData &s, SampleType t, unsigned char *dst)
{
    const std::size_t w = std::size_t(s.width);
    const QImage::Format f = s.image.format();
    const bool plain = s.rescaleSlope == 1.0 && s.rescaleIntercept == 0.0;
    if (!s.isImage && !s.floats.empty() && t == SampleType::f32) {
        std::memcpy(dst, s.floats.data(), s.floats.size() * sizeof(float));
        return true;
    }
    if (!s.isImage || !plain)
        return false;
    if (f == QImage::Format_Grayscale8 && t == SampleType::u8) {
        for (int y = 0; y < s.height; ++y)
            std::memcpy(dst + std::size_t(y) * w, s.image.constScanLine(y), w);
        return true;
    }
    if (f != QImage::Format_Grayscale16
        || !((t == SampleType::u16 && s.storedBias == 0) || (t == SampleType::s16 && s.storedBias == 32768)))
        return false;
    for (int y = 0; y < s.height; ++y) {
        const quint16 *from = reinterpret_cast<const quint16 *>(s.image.constScanLine(y));
        quint16 *to = reinterpret_cast<quint16 *>(dst) + std::size_t(y) * w;
        // Less the bias of 32768 is the top bit flipped: the two's complement word.
        const quint16 flip = s.storedBias == 32768 ? 0x8000 : 0;
        for (std::size_t x = 0; x < w; ++x)
            to[x] = quint16(from[x] ^ flip);
    }
    return true;
}

// The slice's values as samples of type t; false when one cannot be kept exactly.
bool samplesOf(const SliceData &s, SampleType t, std::vector<unsigned char> &dst)
{
    const int bytes = sampleTypeBytes(t);
    dst.resize(std::size_t(s.width) * std::size_t(s.height) * std::size_t(bytes));
    if (copiedAsStored(s, t, dst.data()))
        return true;
    std::vector<double> row(std::size_t(s.width));
    for (int y = 0; y < s.height; ++y) {
        s.rowValues(y, row.data());
        unsigned char *to = dst.data() + std::size_t(y) * std::size_t(s.width) * std::size_t(bytes);
        bool ok = false;
        switch (t) {
        case SampleType::u8:
            ok = storeRow<quint8>(row.data(), s.width, to);
            break;
        case SampleType::s8:
            ok = storeRow<qint8>(row.data(), s.width, to);
            break;
        case SampleType::u16:
            ok = storeRow<quint16>(row.data(), s.width, to);
            break;
        case SampleType::s16:
            ok = storeRow<qint16>(row.data(), s.width, to);
            break;
        case SampleType::u32:
            ok = storeRow<quint32>(row.data(), s.width, to);
            break;
        case SampleType::s32:
            ok = storeRow<qint32>(row.data(), s.width, to);
            break;
        case SampleType::f32:
            ok = storeRow<float>(row.data(), s.width, to);
            break;
        case SampleType::f64:
            ok = storeRow<double>(row.data(), s.width, to);
            break;
        }
        if (!ok)
            return false;
    }
    return true;
}

// Feeds the slices of the inputs to the writer, starting it at the first slice.
class Conversion
{
public:
    Conversion(QString output, ZarrPyramidWriter::Options options, QTextStream &err)
        : output_(std::move(output)), options_(options), err_(err)
    {
        clock_.start();
    }

    void setSpacing(const Spacing &s, const QString &unit)
    {
        if (spacingSet_)
            return;
        spacingSet_ = true;
        options_.spacing = s;
        options_.unit = unit;
    }

    void add(const SliceData &s)
    {
        if (writer_.slicesAdded() == 0 && !started_)
            start(s);
        if (s.width != width_ || s.height != height_)
            throw Failure{QStringLiteral("slice %1 is %2 x %3, the first %4 x %5: a set's slices share one size")
                              .arg(writer_.slicesAdded() + 1)
                              .arg(s.width)
                              .arg(s.height)
                              .arg(width_)
                              .arg(height_)};
        if (!samplesOf(s, options_.type, samples_))
            throw Failure{QStringLiteral("slice %1 holds a value that %2 (chosen from the first slice) cannot keep "
                                         "exactly")
                              .arg(writer_.slicesAdded() + 1)
                              .arg(zarrDtypeName(options_.type, false).mid(1))};
        if (QString why = writer_.addSlice(samples_.data()); !why.isEmpty())
            throw Failure{why};
        if (clock_.elapsed() - shown_ >= 1000) {
            shown_ = clock_.elapsed();
            err_ << "\rconverting: " << writer_.slicesAdded() << " slices, "
                 << QString::number(double(inputBytes()) / 1e6 / (double(shown_) / 1000.0), 'f', 0) << " MB/s"
                 << Qt::flush;
            progressShown_ = true;
        }
    }

    void finish(QTextStream &out)
    {
        if (!started_)
            throw Failure{QStringLiteral("no readable slice among the files")};
        if (QString why = writer_.finish(); !why.isEmpty())
            throw Failure{why};
        endProgressLine();
        out << "wrote " << output_ << ": " << width_ << " x " << height_ << " x " << writer_.slicesAdded() << " "
            << zarrDtypeName(options_.type, false).mid(1) << ", " << writer_.levelCount() << " levels, chunks "
            << options_.chunk << " x " << options_.chunk << " x " << options_.chunkDepth << ", "
            << QString::number(double(writer_.bytesWritten()) / 1e6, 'f', 1) << " MB\n"
            << Qt::flush;
    }

    bool started() const { return started_; }
    void endProgressLine()
    {
        if (progressShown_)
            err_ << "\n" << Qt::flush;
        progressShown_ = false;
    }

private:
    void start(const SliceData &s)
    {
        started_ = true;
        width_ = s.width;
        height_ = s.height;
        options_.type = typeFor(s);
        // Thin chunks along the slices when full ones would not fit the memory.
        while (ZarrPyramidWriter::slabBytes(width_, height_, options_) > slabLimit && options_.chunkDepth > 1)
            options_.chunkDepth /= 2;
        if (ZarrPyramidWriter::slabBytes(width_, height_, options_) > slabLimit)
            throw Failure{QStringLiteral("slices of %1 x %2 are too large to convert within %3 MiB")
                              .arg(width_)
                              .arg(height_)
                              .arg(slabLimit >> 20)};
        if (options_.chunkDepth < options_.chunk)
            err_ << "oxa-convert: slices of " << width_ << " x " << height_ << " take chunks " << options_.chunkDepth
                 << " slices deep, to stay within memory\n"
                 << Qt::flush;
        if (QString why = writer_.start(output_, width_, height_, options_); !why.isEmpty())
            throw Failure{why};
    }

    qint64 inputBytes() const
    {
        return writer_.slicesAdded() * qint64(width_) * height_ * sampleTypeBytes(options_.type);
    }

    QString output_;
    ZarrPyramidWriter::Options options_;
    QTextStream &err_;
    ZarrPyramidWriter writer_;
    std::vector<unsigned char> samples_;
    bool started_ = false;
    bool spacingSet_ = false;
    int width_ = 0, height_ = 0;
    QElapsedTimer clock_;
    qint64 shown_ = 0;
    bool progressShown_ = false;
};

// An OME-Zarr input, read slab by slab from its finest level.
void convertZarr(const QString &dir, Conversion &c)
{
    ZarrImage image;
    if (const char *why = readZarrImage(dir, image))
        throw Failure{QStringLiteral("%1: %2").arg(dir, QString::fromLatin1(why))};
    const ZarrArrayMeta &a = image.levels.front().array;
    const qint64 w = a.width(), h = a.height(), d = a.depth();
    if (!sliceSizeAllowed(w, h))
        throw Failure{QStringLiteral("%1: %2").arg(dir, QString::fromLatin1(skipReason::tooManyVoxels))};
    const qint64 sliceBytes = w * h * sampleTypeBytes(a.type);
    // A slab as deep as a chunk when it fits, else slice by slice (each chunk is then
    // decoded once per slice it holds).
    const qint64 step = std::max<qint64>(1, std::min(a.chunkDepth(), inputLimit / 2 / sliceBytes));
    if (sliceBytes > inputLimit / 2 || a.chunkBytes() > inputLimit / 4)
        throw Failure{QStringLiteral("%1: its slices or chunks are too large to convert").arg(dir)};
    c.setSpacing(image.levels.front().spacing, image.unit);
    std::vector<unsigned char> slab(std::size_t(step * sliceBytes));
    const QString arrayDir = zarrLevelDir(dir, image, 0);
    for (qint64 z0 = 0; z0 < d; z0 += step) {
        const qint64 z1 = std::min(d, z0 + step);
        if (const char *why = readZarrSlab(arrayDir, a, z0, z1, slab.data(), 2))
            throw Failure{QStringLiteral("%1: %2").arg(dir, QString::fromLatin1(why))};
        for (qint64 z = z0; z < z1; ++z) {
            std::unique_ptr<SliceData> s =
                makeVolumeSlice(slab.data() + (z - z0) * sliceBytes, int(w), int(h), a.layout());
            if (!s)
                throw Failure{QStringLiteral("%1: %2").arg(dir, QString::fromLatin1(skipReason::noMemory))};
            c.add(*s);
        }
    }
}

int run(const QStringList &args, QTextStream &out, QTextStream &err)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Writes the slices of one set (files in stack order, a volume file or an OME-Zarr image) as an OME-Zarr "
        "pyramid: each level half the one above, each voxel the largest of the eight it stands for."));
    const QCommandLineOption outputOpt({"o", "output"}, "The OME-Zarr folder to write (must not exist, or be empty).",
                                       "OUT.zarr");
    const QCommandLineOption chunkOpt("chunk", "Chunk edge in voxels, 8 to 1024 (default 128).", "N");
    const QCommandLineOption compressorOpt("compressor", "blosc (zstd inside, the default), zstd, zlib, gzip or none.",
                                           "NAME");
    const QCommandLineOption helpOpt({"h", "help"}, "Show this help.");
    const QCommandLineOption versionOpt("version", "Show the version.");
    parser.addOptions({outputOpt, chunkOpt, compressorOpt, helpOpt, versionOpt});
    parser.addPositionalArgument("IN",
                                 "Slice files of one set in stack order, a folder of them, or an OME-Zarr "
                                 "image (a folder or an http:// or https:// address).",
                                 "IN...");
    if (!parser.parse(args))
        throw Failure{parser.errorText(), 2};
    if (parser.isSet(helpOpt)) {
        out << parser.helpText() << Qt::flush;
        return 0;
    }
    if (parser.isSet(versionOpt)) {
        out << "oxa-convert " << QCoreApplication::applicationVersion() << "\n" << Qt::flush;
        return 0;
    }
    const QStringList inputs = parser.positionalArguments();
    if (inputs.isEmpty())
        throw Failure{QStringLiteral("no input given (see --help)"), 2};
    const QString output = parser.value(outputOpt);
    if (output.isEmpty())
        throw Failure{QStringLiteral("no output folder given (-o OUT.zarr)"), 2};
    const QFileInfo outInfo(output);
    if (outInfo.exists() && !(outInfo.isDir() && QDir(output).isEmpty()))
        throw Failure{QStringLiteral("%1 exists and is not an empty folder").arg(output), 2};
    ZarrPyramidWriter::Options options;
    if (parser.isSet(chunkOpt)) {
        bool ok = false;
        const int n = parser.value(chunkOpt).toInt(&ok);
        if (!ok || n < 8 || n > 1024)
            throw Failure{QStringLiteral("--chunk takes a chunk edge from 8 to 1024"), 2};
        options.chunk = options.chunkDepth = n;
    }
    if (parser.isSet(compressorOpt)) {
        static const struct {
            const char *name;
            ZarrCompressor c;
        } known[] = {{"blosc", ZarrCompressor::blosc},
                     {"zstd", ZarrCompressor::zstd},
                     {"zlib", ZarrCompressor::zlib},
                     {"gzip", ZarrCompressor::gzip},
                     {"none", ZarrCompressor::none}};
        const QString name = parser.value(compressorOpt);
        bool found = false;
        for (const auto &k : known)
            if (name == QLatin1String(k.name)) {
                options.compressor = k.c;
                found = true;
            }
        if (!found)
            throw Failure{QStringLiteral("--compressor takes blosc, zstd, zlib, gzip or none"), 2};
    }
    options.name = QFileInfo(output).completeBaseName();

    const bool madeHere = !outInfo.exists();
    Conversion conversion(output, options, err);
    try {
        for (const QString &in : inputs) {
            const QFileInfo info(in);
            if (isZarrAddress(in) || (info.isDir() && isZarrFolder(in))) {
                convertZarr(in, conversion);
                continue;
            }
            const QStringList files = info.isDir() ? filesInFolder(in) : QStringList{in};
            for (const QString &f : files) {
                SliceBudget budget(inputLimit);
                const SliceFile file = readSliceFile(f, &budget);
                bool varies = false;
                for (const auto &s : file.slices)
                    varies = varies || s->maxV > s->minV;
                if (file.slices.empty() || !varies) {
                    const QString why = file.slices.empty() ? file.reason : QString::fromLatin1(skipReason::flat);
                    err << "oxa-convert: " << f
                        << " left out: " << (why.isEmpty() ? QString::fromLatin1(skipReason::notSlices) : why) << "\n"
                        << Qt::flush;
                    continue;
                }
                if (file.hasSpacing)
                    conversion.setSpacing(file.spacing, file.spacingUnit);
                for (const auto &s : file.slices)
                    conversion.add(*s);
            }
        }
        conversion.finish(out);
    } catch (...) {
        conversion.endProgressLine();
        // A conversion that fails leaves nothing of its own behind.
        if (conversion.started()) {
            QDir dir(output);
            if (madeHere) {
                dir.removeRecursively();
            } else {
                for (const QFileInfo &entry :
                     dir.entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot)) {
                    if (entry.isDir() && !entry.isSymLink())
                        QDir(entry.filePath()).removeRecursively();
                    else
                        QFile::remove(entry.filePath());
                }
            }
        }
        throw;
    }
    return 0;
}

}  // namespace

int runConvertCommand(const QStringList &args, QTextStream &out, QTextStream &err)
{
    try {
        return run(args, out, err);
    } catch (const Failure &f) {
        err << "oxa-convert: " << f.message << "\n" << Qt::flush;
        return f.status;
    } catch (const std::exception &e) {
        err << "oxa-convert: " << e.what() << "\n" << Qt::flush;
        return 1;
    }
}
