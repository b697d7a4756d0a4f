#include "data/itkvolume.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <itkImageIOBase.h>
#include <itkImageIOFactory.h>
#include <itkMetaDataObject.h>
#include <itkMetaImageIOFactory.h>
#include <itkNiftiImageIOFactory.h>
#include <itkNrrdImageIOFactory.h>
#include <nifti1_io.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <mutex>
#include <string>

#if defined(Q_OS_UNIX)
#include <sys/mman.h>
#include <unistd.h>
#endif

#include "data/direction.h"
#include "data/nifti2volume.h"
#include "data/slicefile.h"
#include "data/volumeheader.h"

namespace {

// A text header longer than this is not looked at further (real ones take a few
// hundred bytes; an attached file's samples follow the header).
constexpr qint64 maxHeaderBytes = qint64(1) << 20;

// ITK's image IO objects and the libraries under them keep some state of their own
// (NRRD's error messages among it): header reads and whole-file reads take turns.
// A NIfTI file's samples are streamed outside it.
std::mutex &itkMutex()
{
    static std::mutex m;
    return m;
}

// The three readers are registered once, explicitly: this library is static, so
// ITK's automatic registration of the modules a program links does not reach it.
// ITK's warnings and NIfTI's notes are silenced: a file that cannot be read is skipped
// with its reason. (Some damaged headers still make ITK's NIfTI and MetaImage readers
// print a line on standard error themselves; most are refused before they get there.)
void registerReaders()
{
    static std::once_flag once;
    std::call_once(once, [] {
        itk::NiftiImageIOFactory::RegisterOneFactory();
        itk::NrrdImageIOFactory::RegisterOneFactory();
        itk::MetaImageIOFactory::RegisterOneFactory();
        itk::Object::GlobalWarningDisplayOff();
        nifti_set_debug_level(0);
    });
}

bool positiveFinite(double v)
{
    return std::isfinite(v) && v > 0.0;
}

// Larger numbers in a header's geometry (millimetres) are damage, not a scanner's.
constexpr double maxGeometryValue = 1e12;

// NIfTI's own library turns a spacing of zero or not a number into 1 and refuses a
// size of zero with nothing more than "not NIfTI": the header as written is looked
// at first.
const char *checkNiftiHeader(const QByteArray &native)
{
    int swapped = 0;
    nifti_1_header *h = nifti_read_header(native.constData(), &swapped, 0);
    if (!h)
        return skipReason::badHeader;
    const std::unique_ptr<nifti_1_header, decltype(&std::free)> owner(h, &std::free);
    const int dims = h->dim[0];
    if (dims < 1 || dims > 7)
        return skipReason::badHeader;
    qint64 points = 1;
    for (int i = 1; i <= dims; ++i) {
        if (h->dim[i] <= 0)
            return skipReason::noVoxels;
        if (i <= 3)
            points *= h->dim[i];
    }
    if (points > maxStackFilePoints)
        return skipReason::tooManyVoxels;
    for (int i = 1; i <= dims && i <= 3; ++i)
        if (!positiveFinite(h->pixdim[i]))
            return skipReason::badSpacing;
    SampleType type;
    if (!niftiSampleType(h->datatype, type))
        return skipReason::typeNotRead;
    // ITK turns the orientation the header uses into a direction through a singular
    // value decomposition, which never ends on a number that is not one.
    auto sane = [](double v) { return std::isfinite(v) && std::fabs(v) <= maxGeometryValue; };
    bool orientationOk = sane(h->pixdim[0]);
    if (h->sform_code > 0)
        for (int i = 0; i < 4; ++i)
            orientationOk = orientationOk && sane(h->srow_x[i]) && sane(h->srow_y[i]) && sane(h->srow_z[i]);
    if (h->qform_code > 0)
        for (double v : {h->quatern_b, h->quatern_c, h->quatern_d, h->qoffset_x, h->qoffset_y, h->qoffset_z})
            orientationOk = orientationOk && sane(v);
    if (!orientationOk)
        return skipReason::badHeader;
    return nullptr;
}

bool itkSampleType(itk::IOComponentEnum c, SampleType &t)
{
    using C = itk::IOComponentEnum;
    switch (c) {
    case C::UCHAR:
        t = SampleType::u8;
        return true;
    case C::CHAR:
        t = SampleType::s8;
        return true;
    case C::USHORT:
        t = SampleType::u16;
        return true;
    case C::SHORT:
        t = SampleType::s16;
        return true;
    case C::UINT:
        t = SampleType::u32;
        return true;
    case C::INT:
        t = SampleType::s32;
        return true;
    case C::FLOAT:
        t = SampleType::f32;
        return true;
    case C::DOUBLE:
        t = SampleType::f64;
        return true;
    default:
        return false;
    }
}

// What ITK's header read gives: the size of the first volume, the number of volumes,
// the spacing, the direction and the unit.
struct VolumeHeader {
    qint64 width = 1, height = 1, depth = 1, volumes = 1;
    Spacing spacing;
    Direction direction;
    QString unit;
    SampleType type = SampleType::u8;
};

const char *readHeader(itk::ImageIOBase &io, VolumeFormat format, VolumeHeader &v)
{
    if (io.GetPixelType() != itk::IOPixelEnum::SCALAR || io.GetNumberOfComponents() != 1
        || !itkSampleType(io.GetComponentType(), v.type))
        return skipReason::typeNotRead;
    const unsigned dims = io.GetNumberOfDimensions();
    if (dims < 1)
        return skipReason::noVoxels;
    qint64 *sizes[] = {&v.width, &v.height, &v.depth};
    double *steps[] = {&v.spacing.x, &v.spacing.y, &v.spacing.z};
    for (unsigned i = 0; i < dims; ++i) {
        const auto n = io.GetDimensions(i);
        if (n == 0)
            return skipReason::noVoxels;
        if (n > std::size_t(maxStackFilePoints))
            return skipReason::tooManyVoxels;
        if (i < 3) {
            *sizes[i] = qint64(n);
            *steps[i] = io.GetSpacing(i);
            if (!positiveFinite(*steps[i]))
                return skipReason::badSpacing;
        } else if (qint64(n) > maxStackFilePoints / v.volumes) {
            return skipReason::tooManyVoxels;
        } else {
            v.volumes *= qint64(n);
        }
    }
    for (unsigned j = 0; j < dims && j < 3; ++j) {
        const std::vector<double> axis = io.GetDirection(j);
        for (unsigned i = 0; i < dims && i < 3 && i < axis.size(); ++i)
            v.direction.m[i][j] = std::isfinite(axis[i]) ? axis[i] : 0.0;
    }
    if (format == VolumeFormat::nifti) {
        // ITK gives NIfTI spacings in millimetres when the file names a unit of length.
        std::string units;
        if (itk::ExposeMetaData<std::string>(io.GetMetaDataDictionary(), "xyzt_units", units)) {
            const int space = std::atoi(units.c_str()) & 7;
            if (space == NIFTI_UNITS_METER || space == NIFTI_UNITS_MM || space == NIFTI_UNITS_MICRON)
                v.unit = QStringLiteral("mm");
        }
    }
    return nullptr;
}

// NIfTI's samples, slice after slice through ITK's NIfTI library: ITK's reader would
// hold the whole file once more while it copies it out.
const char *readNiftiSamples(const QByteArray &native, const VolumeHeader &v, SliceFile &out)
{
    nifti_image *nim = nullptr;
    znzFile fp = nullptr;
    {
        std::lock_guard<std::mutex> lock(itkMutex());
        fp = nifti_image_open(native.constData(), "rb", &nim);
    }
    const std::unique_ptr<nifti_image, decltype(&nifti_image_free)> image(nim, &nifti_image_free);
    if (znz_isnull(fp))
        return nim ? skipReason::dataMissing : skipReason::badHeader;
    struct Closer {
        znzFile &f;
        ~Closer() { znzclose(f); }
    } closer{fp};
    if (!nim || nim->nx != v.width || nim->ny != v.height || qMax(nim->nz, 1) != v.depth)
        return skipReason::badHeader;
    SampleLayout layout;
    if (!niftiLayout(nim->datatype, nim->scl_slope, nim->scl_inter, layout))
        return skipReason::typeNotRead;
    if (const char *why = admitVolume(v.width, v.height, v.depth, layout))
        return why;
    if (znzseek(fp, nim->iname_offset, SEEK_SET) < 0)
        return skipReason::dataShort;
    return readSlicesInTurn(
        int(v.width), int(v.height), int(v.depth), layout,
        [fp, nim](unsigned char *to, qint64 bytes) {
            // Swapped to this machine's byte order by the library.
            return nifti_read_buffer(fp, to, std::size_t(bytes), nim) == std::size_t(bytes);
        },
        out.slices);
}

// The whole of a file's samples, as ITK's readers of NRRD and MetaImage write them
// (straight into the memory they are given); the pages are given back to the system
// as the slices are made from them, so a load holds about the set and one slice.
class StagingBuffer
{
public:
    explicit StagingBuffer(std::size_t bytes)
    {
#if defined(Q_OS_UNIX)
        void *p = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (p != MAP_FAILED) {
            data_ = static_cast<unsigned char *>(p);
            size_ = bytes;
        }
#else
        data_ = static_cast<unsigned char *>(std::malloc(bytes));
        size_ = data_ ? bytes : 0;
#endif
    }
    ~StagingBuffer()
    {
#if defined(Q_OS_UNIX)
        if (data_)
            munmap(data_, size_);
#else
        std::free(data_);
#endif
    }
    StagingBuffer(const StagingBuffer &) = delete;
    StagingBuffer &operator=(const StagingBuffer &) = delete;

    unsigned char *data() const
    {
        return data_;
    }

    // Gives back the whole pages below offset; they are not read again.
    void releaseBelow(std::size_t offset)
    {
#if defined(Q_OS_UNIX) && defined(MADV_DONTNEED)
        static const std::size_t page = std::size_t(std::max(sysconf(_SC_PAGESIZE), 1L));
        const std::size_t end = std::min(offset, size_) / page * page;
        if (data_ && end > released_) {
            madvise(data_ + released_, end - released_, MADV_DONTNEED);
            released_ = end;
        }
#else
        Q_UNUSED(offset);
#endif
    }

private:
    unsigned char *data_ = nullptr;
    std::size_t size_ = 0;
    std::size_t released_ = 0;
};

const char *readWholeSamples(itk::ImageIOBase &io, const HeaderFacts &facts, const QString &path, const VolumeHeader &v,
                             SliceFile &out)
{
    SampleLayout layout;
    layout.type = v.type;  // ITK hands the samples over in this machine's byte order
    const qint64 sliceSamples = v.width * v.height;
    const qint64 samples = sliceSamples * v.depth * v.volumes;
    if (v.volumes > maxStackFilePoints / (sliceSamples * v.depth))
        return skipReason::tooManyVoxels;
    const qint64 sampleBytes = sampleTypeBytes(layout.type);
    const qint64 bytes = samples * sampleBytes;
    // The length of the data in a file of its own, or after the header: all the samples
    // when uncompressed, the compressed length MetaImage declares (its reader would
    // hand back what it could inflate of a cut stream as if it were whole).
    const qint64 stored = facts.rawData ? bytes : facts.compressedBytes;
    if (stored > 0 && facts.dataOffset >= 0 && !facts.dataPattern && facts.dataFiles.size() <= 1) {
        const QString data =
            facts.dataFiles.isEmpty() ? path : QFileInfo(path).absoluteDir().absoluteFilePath(facts.dataFiles.first());
        if (QFileInfo(data).size() - facts.dataOffset < stored)
            return skipReason::dataShort;
    }
    if (const char *why = admitVolume(v.width, v.height, v.depth, layout))
        return why;
    // The other volumes of a 4-D file, and stored samples beyond what the slices keep.
    const qint64 kept = keptSliceBytes(layout, int(v.width), int(v.height)) * v.depth;
    if (bytes > kept && !reserveSliceMemory(bytes - kept))
        return skipReason::noMemory;
    StagingBuffer buffer{std::size_t(bytes)};
    if (!buffer.data())
        return skipReason::noMemory;
    try {
        std::lock_guard<std::mutex> lock(itkMutex());
        itk::ImageIORegion region(io.GetNumberOfDimensions());
        for (unsigned i = 0; i < io.GetNumberOfDimensions(); ++i) {
            region.SetIndex(i, 0);
            region.SetSize(i, io.GetDimensions(i));
        }
        io.SetIORegion(region);
        io.Read(buffer.data());
    } catch (const std::exception &) {
        return skipReason::dataShort;
    }
    const std::size_t sliceBytes = std::size_t(sliceSamples * sampleBytes);
    for (qint64 k = 0; k < v.depth; ++k) {
        std::unique_ptr<SliceData> s =
            makeVolumeSlice(buffer.data() + std::size_t(k) * sliceBytes, int(v.width), int(v.height), layout);
        if (!s)
            return skipReason::noMemory;
        out.slices.push_back(std::move(s));
        buffer.releaseBelow(std::size_t(k + 1) * sliceBytes);
    }
    return nullptr;
}

const char *readVolume(const QString &path, VolumeFormat format, SliceFile &out)
{
    const QByteArray native = QFile::encodeName(path);
    HeaderFacts facts;
    // ITK's NIfTI library reads NIfTI-1 only; Debian's own library reads NIfTI-2.
    if (format == VolumeFormat::nifti && looksLikeNifti2(native))
        return readNifti2Volume(native, out);
    if (format == VolumeFormat::nifti) {
        if (const char *why = checkNiftiHeader(native))
            return why;
    } else {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            return skipReason::unreadable;
        const QByteArray text = file.read(maxHeaderBytes);
        facts = format == VolumeFormat::nrrd ? scanNrrdHeader(text) : scanMetaHeader(text);
        if (!facts.scanned)
            return skipReason::badHeader;
        if (const char *why = checkHeaderFacts(facts, path))
            return why;
    }
    VolumeHeader v;
    itk::ImageIOBase::Pointer io;
    {
        std::lock_guard<std::mutex> lock(itkMutex());
        io = itk::ImageIOFactory::CreateImageIO(native.constData(), itk::ImageIOFactory::IOFileModeEnum::ReadMode);
        if (!io)
            return skipReason::badHeader;
        io->SetFileName(native.constData());
        try {
            io->ReadImageInformation();
        } catch (const std::exception &) {
            return skipReason::badHeader;
        }
        if (const char *why = readHeader(*io, format, v))
            return why;
        if (format != VolumeFormat::nifti)
            v.unit = facts.unit;
    }
    const char *why =
        format == VolumeFormat::nifti ? readNiftiSamples(native, v, out) : readWholeSamples(*io, facts, path, v, out);
    if (why)
        return why;
    out.hasSpacing = true;
    out.spacing = v.spacing;
    out.spacingUnit = v.unit;
    out.volume.hasDirection = true;
    out.volume.direction = v.direction;
    out.volume.volumes = v.volumes;
    return nullptr;
}

}  // namespace

VolumeFormat volumeFormatOf(const QString &name)
{
    const QString n = name.toLower();
    if (n.endsWith(QLatin1String(".nii")) || n.endsWith(QLatin1String(".nii.gz")))
        return VolumeFormat::nifti;
    if (n.endsWith(QLatin1String(".nrrd")) || n.endsWith(QLatin1String(".nhdr")))
        return VolumeFormat::nrrd;
    if (n.endsWith(QLatin1String(".mha")) || n.endsWith(QLatin1String(".mhd")))
        return VolumeFormat::meta;
    return VolumeFormat::none;
}

bool readItkVolume(const QString &path, SliceFile &out) noexcept
{
    const VolumeFormat format = volumeFormatOf(path);
    if (format == VolumeFormat::none)
        return false;
    try {
        registerReaders();
        if (const char *why = readVolume(path, format, out)) {
            out.slices.clear();
            out.reason = QString::fromLatin1(why);
        }
    } catch (...) {
        out.slices.clear();
        out.reason = QString::fromLatin1(skipReason::unreadable);
    }
    return true;
}
