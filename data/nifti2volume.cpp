#include "data/nifti2volume.h"

// Debian's NIfTI library under prefixed names (the build joins it into one object), so
// that it does not meet the NIfTI-1 library inside ITK, whose functions are named alike.
// Its znz layer is the one it was built with, zlib included.
#include "nifti2_prefixed.h"
#define HAVE_ZLIB 1
#include <nifti/znzlib.h>
#include <nifti/nifti2_io.h>

#include <cmath>
#include <cstdlib>
#include <memory>
#include <mutex>

#include "data/direction.h"
#include "data/slicefile.h"

namespace {

// The library keeps options of its own (its messages' detail among them).
std::mutex &niftiMutex()
{
    static std::mutex m;
    return m;
}

void quietLibrary()
{
    static std::once_flag once;
    std::call_once(once, [] { nifti_set_debug_level(0); });
}

bool positiveFinite(double v)
{
    return std::isfinite(v) && v > 0.0;
}

// Larger numbers in a header's geometry (millimetres) are damage, not a scanner's.
constexpr double maxGeometryValue = 1e12;

// The header as written, before the library makes an image of it: the library turns
// a spacing of zero into 1 and takes sizes it cannot hold.
const char *checkHeader(const nifti_2_header &h, qint64 &volumes)
{
    const qint64 dims = h.dim[0];
    if (dims < 1 || dims > 7)
        return skipReason::badHeader;
    qint64 points = 1;
    volumes = 1;
    for (int i = 1; i <= dims; ++i) {
        if (h.dim[i] <= 0)
            return skipReason::noVoxels;
        if (h.dim[i] > maxStackFilePoints)
            return skipReason::tooManyVoxels;
        qint64 &product = i <= 3 ? points : volumes;
        if (h.dim[i] > maxStackFilePoints / product)
            return skipReason::tooManyVoxels;
        product *= h.dim[i];
    }
    for (int i = 1; i <= dims && i <= 3; ++i)
        if (!positiveFinite(h.pixdim[i]) || h.pixdim[i] > maxGeometryValue)
            return skipReason::badSpacing;
    SampleType type;
    if (!niftiSampleType(h.datatype, type))
        return skipReason::typeNotRead;
    auto sane = [](double v) { return std::isfinite(v) && std::fabs(v) <= maxGeometryValue; };
    bool orientationOk = sane(h.pixdim[0]);
    if (h.sform_code > 0)
        for (int i = 0; i < 4; ++i)
            orientationOk = orientationOk && sane(h.srow_x[i]) && sane(h.srow_y[i]) && sane(h.srow_z[i]);
    if (h.qform_code > 0)
        for (double v : {h.quatern_b, h.quatern_c, h.quatern_d, h.qoffset_x, h.qoffset_y, h.qoffset_z})
            orientationOk = orientationOk && sane(v);
    if (!orientationOk || !sane(h.scl_slope) || !sane(h.scl_inter))
        return skipReason::badHeader;
    return nullptr;
}

// A transform's 3 x 3 part with each column made a unit vector; false when an axis has
// no length.
bool unitColumns(const nifti_dmat44 &t, Direction &d)
{
    for (int j = 0; j < 3; ++j) {
        const double length = std::sqrt(t.m[0][j] * t.m[0][j] + t.m[1][j] * t.m[1][j] + t.m[2][j] * t.m[2][j]);
        if (!(length > 0.0) || !std::isfinite(length))
            return false;
        for (int i = 0; i < 3; ++i)
            d.m[i][j] = t.m[i][j] / length;
    }
    return true;
}

bool orthogonal(const Direction &d)
{
    for (int a = 0; a < 3; ++a)
        for (int b = a + 1; b < 3; ++b)
            if (std::fabs(d.m[0][a] * d.m[0][b] + d.m[1][a] * d.m[1][b] + d.m[2][a] * d.m[2][b]) > 1e-4)
                return false;
    return true;
}

// The direction of the axes from the image's transform to the file's space (x to the
// right, y to the front, z to the head), as ITK takes NIfTI-1's: the sform where the
// file sets one whose axes are at right angles, else the qform, else a sheared sform;
// x and y then turned to point left and back. Without a transform, the identity.
Direction directionOf(const nifti_image &nim)
{
    Direction sform, qform;
    const bool hasSform = nim.sform_code > 0 && unitColumns(nim.sto_xyz, sform);
    const bool hasQform = nim.qform_code > 0 && unitColumns(nim.qto_xyz, qform);
    Direction d;
    if (hasSform && (orthogonal(sform) || !hasQform))
        d = sform;
    else if (hasQform)
        d = qform;
    else
        return Direction();
    for (int j = 0; j < 3; ++j)
        for (int i = 0; i < 2; ++i)
            d.m[i][j] = -d.m[i][j];
    return d;
}

// Millimetres per unit of the spacing a file names, or 0 when it names no length.
double millimetresPerUnit(int xyzUnits)
{
    switch (xyzUnits & 7) {
    case NIFTI_UNITS_METER:
        return 1000.0;
    case NIFTI_UNITS_MM:
        return 1.0;
    case NIFTI_UNITS_MICRON:
        return 0.001;
    default:
        return 0.0;
    }
}

const char *readVolume(const QByteArray &native, SliceFile &out)
{
    quietLibrary();
    qint64 volumes = 1;
    {
        int swapped = 0;
        std::lock_guard<std::mutex> lock(niftiMutex());
        nifti_2_header *h = nifti_read_n2_hdr(native.constData(), &swapped, 0);
        if (!h)
            return skipReason::badHeader;
        const std::unique_ptr<nifti_2_header, decltype(&std::free)> owner(h, &std::free);
        if (const char *why = checkHeader(*h, volumes))
            return why;
    }
    nifti_image *nim = nullptr;
    znzFile fp = nullptr;
    {
        std::lock_guard<std::mutex> lock(niftiMutex());
        fp = nifti_image_open(native.constData(), const_cast<char *>("rb"), &nim);
    }
    const std::unique_ptr<nifti_image, decltype(&nifti_image_free)> image(nim, &nifti_image_free);
    if (znz_isnull(fp))
        return nim ? skipReason::dataMissing : skipReason::badHeader;
    struct Closer {
        znzFile &f;
        ~Closer() { znzclose(f); }
    } closer{fp};
    const qint64 w = nim->nx, h = nim->ny, depth = std::max<qint64>(nim->nz, 1);
    if (w <= 0 || h <= 0 || w > maxStackFilePoints || h > maxStackFilePoints || depth > maxStackFilePoints)
        return skipReason::badHeader;
    SampleLayout layout;
    if (!niftiLayout(nim->datatype, nim->scl_slope, nim->scl_inter, layout))
        return skipReason::typeNotRead;
    if (const char *why = admitVolume(w, h, depth, layout))
        return why;
    if (znzseek(fp, nim->iname_offset, SEEK_SET) < 0)
        return skipReason::dataShort;
    if (const char *why = readSlicesInTurn(
            int(w), int(h), int(depth), layout,
            [fp, nim](unsigned char *to, qint64 bytes) {
                // Swapped to this machine's byte order by the library.
                return nifti_read_buffer(fp, to, bytes, nim) == bytes;
            },
            out.slices))
        return why;
    const double mm = millimetresPerUnit(nim->xyz_units);
    const double scale = mm > 0.0 ? mm : 1.0;
    const double steps[3] = {nim->dx, nim->dy, nim->dz};
    double spacing[3] = {1.0, 1.0, 1.0};
    for (int i = 0; i < 3 && i < nim->ndim; ++i)
        spacing[i] = steps[i] * scale;
    out.hasSpacing = true;
    out.spacing = Spacing{spacing[0], spacing[1], spacing[2]};
    out.spacingUnit = mm > 0.0 ? QStringLiteral("mm") : QString();
    out.volume.hasDirection = true;
    out.volume.direction = directionOf(*nim);
    out.volume.volumes = volumes;
    return nullptr;
}

}  // namespace

bool niftiSampleType(int datatype, SampleType &t)
{
    switch (datatype) {
    case NIFTI_TYPE_UINT8:
        t = SampleType::u8;
        return true;
    case NIFTI_TYPE_INT8:
        t = SampleType::s8;
        return true;
    case NIFTI_TYPE_UINT16:
        t = SampleType::u16;
        return true;
    case NIFTI_TYPE_INT16:
        t = SampleType::s16;
        return true;
    case NIFTI_TYPE_UINT32:
        t = SampleType::u32;
        return true;
    case NIFTI_TYPE_INT32:
        t = SampleType::s32;
        return true;
    case NIFTI_TYPE_FLOAT32:
        t = SampleType::f32;
        return true;
    case NIFTI_TYPE_FLOAT64:
        t = SampleType::f64;
        return true;
    default:
        return false;
    }
}

bool niftiLayout(int datatype, double slope, double intercept, SampleLayout &out)
{
    SampleLayout l;
    if (!niftiSampleType(datatype, l.type))
        return false;
    if (std::isfinite(slope) && slope != 0.0) {
        l.slope = slope;
        l.intercept = std::isfinite(intercept) ? intercept : 0.0;
    }
    out = l;
    return true;
}

bool looksLikeNifti2(const QByteArray &native)
{
    const bool gz = native.toLower().endsWith(".gz");
    znzFile f = znzopen(native.constData(), "rb", gz ? 1 : 0);
    if (znz_isnull(f))
        return false;
    unsigned char b[4] = {0, 0, 0, 0};
    const bool got = znzread(b, 1, 4, f) == 4;
    znzclose(f);
    const quint32 le = quint32(b[0]) | quint32(b[1]) << 8 | quint32(b[2]) << 16 | quint32(b[3]) << 24;
    const quint32 be = quint32(b[3]) | quint32(b[2]) << 8 | quint32(b[1]) << 16 | quint32(b[0]) << 24;
    return got && (le == 540 || be == 540);
}

const char *readNifti2Volume(const QByteArray &nativePath, SliceFile &out) noexcept
{
    try {
        const char *why = readVolume(nativePath, out);
        if (why)
            out.slices.clear();
        return why;
    } catch (...) {
        out.slices.clear();
        return skipReason::unreadable;
    }
}
