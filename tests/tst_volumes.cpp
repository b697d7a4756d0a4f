// The research volume formats through ITK (NIfTI, NRRD, MetaImage) and described raw
// files: values, spacing, scaling and direction as the loader publishes them, the
// refusals of bad headers and data, the raw description's size check, and the rule
// that sets whose axes point other ways are not drawn together.

#include <QDir>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

#include <zlib.h>

#include <nifti/nifti1.h>
#include <nifti/nifti2.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <memory>

#include "data/itkvolume.h"
#include "data/rawvolume.h"
#include "data/setspace.h"
#include "data/slicedata.h"
#include "data/slicedatas.h"
#include "data/slicefile.h"
#include "tools/phantom.h"
#include "tools/volumewriters.h"

using volumewriters::Type;
using volumewriters::Volume;
using ValueAt = std::function<double(int x, int y, int z)>;

Q_DECLARE_METATYPE(Volume)
Q_DECLARE_METATYPE(ValueAt)

namespace {

// A volume of w x h x d (x t) samples whose stored value at (x, y, z, t) is f.
template <typename T> Volume volumeOf(int w, int h, int d, int t, const std::function<double(int, int, int, int)> &f)
{
    Volume v;
    v.dims = t > 1 ? 4 : (d > 1 ? 3 : 2);
    v.size[0] = w, v.size[1] = h, v.size[2] = d, v.size[3] = t;
    v.samples.resize(qsizetype(w) * h * d * t * qsizetype(sizeof(T)));
    T *out = reinterpret_cast<T *>(v.samples.data());
    for (int l = 0; l < t; ++l)
        for (int z = 0; z < d; ++z)
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x)
                    *out++ = T(f(x, y, z, l));
    return v;
}

QByteArray gzipped(const QByteArray &bytes)
{
    QByteArray out(int(compressBound(uLong(bytes.size()))) + 32, '\0');
    z_stream z{};
    deflateInit2(&z, 6, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY);
    z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(bytes.constData()));
    z.avail_in = uInt(bytes.size());
    z.next_out = reinterpret_cast<Bytef *>(out.data());
    z.avail_out = uInt(out.size());
    deflate(&z, Z_FINISH);
    out.resize(qsizetype(z.total_out));
    deflateEnd(&z);
    return out;
}

bool writeBytes(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

// Bytes that do not compress, so that a cut gzip stream loses samples.
QByteArray noise(int n)
{
    QByteArray out(n, '\0');
    quint32 state = 12345;
    for (char &c : out) {
        state = state * 1664525u + 1013904223u;
        c = char(state >> 24);
    }
    return out;
}

// A NIfTI-1 file of 32 x 32 x 8 unsigned bytes, with header fields changed by patch.
QByteArray niftiBytes(const std::function<void(QByteArray &)> &patch)
{
    QTemporaryDir dir;
    const QByteArray samples = noise(32 * 32 * 8);
    Volume v = volumeOf<quint8>(32, 32, 8, 1,
                                [&](int x, int y, int z, int) { return quint8(samples[x + 32 * (y + 32 * z)]); });
    v.type = Type::u8;
    const QString path = dir.filePath("v.nii");
    if (!volumewriters::write(path, v))
        return {};
    QFile f(path);
    f.open(QIODevice::ReadOnly);
    QByteArray bytes = f.readAll();
    patch(bytes);
    return bytes;
}

template <typename T> void put(QByteArray &b, int offset, T v)
{
    std::memcpy(b.data() + offset, &v, sizeof v);
}

// Offsets in the NIfTI-1 header.
constexpr int niftiDim = 40;
constexpr int niftiPixdim = 76;
constexpr int niftiSrowX = 280;

// A NIfTI-1 file of 5 x 4 x 3 (x volumes) samples of the header's type, whose stored
// value at point i is i * 3 - 7 (wrapping in the type), and the same header written as
// NIfTI-2, field by field.
using NiftiPatch = std::function<void(nifti_1_header &)>;

nifti_1_header niftiOneHeader(const NiftiPatch &patch)
{
    nifti_1_header h{};
    h.sizeof_hdr = 348;
    std::memcpy(h.magic, "n+1", 4);
    h.dim[0] = 3;
    h.dim[1] = 5, h.dim[2] = 4, h.dim[3] = 3;
    for (int i = 4; i < 8; ++i)
        h.dim[i] = 1;
    h.datatype = NIFTI_TYPE_UINT8;
    h.bitpix = 8;
    for (float &p : h.pixdim)
        p = 1.0f;
    h.vox_offset = 352;
    h.xyzt_units = NIFTI_UNITS_MM;
    patch(h);
    return h;
}

QByteArray niftiSamples(const nifti_1_header &h)
{
    qint64 points = 1;
    for (int i = 1; i <= h.dim[0]; ++i)
        points *= h.dim[i];
    QByteArray out;
    for (qint64 i = 0; i < points; ++i) {
        const qint64 v = i * 3 - 7;
        switch (h.datatype) {
        case NIFTI_TYPE_INT16: {
            const qint16 s = qint16(v);
            out.append(reinterpret_cast<const char *>(&s), 2);
            break;
        }
        case NIFTI_TYPE_FLOAT32: {
            const float f = float(v) / 4.0f;
            out.append(reinterpret_cast<const char *>(&f), 4);
            break;
        }
        default:
            out.append(char(quint8(v)));
        }
    }
    return out;
}

QByteArray niftiTwoOf(const nifti_1_header &a, const QByteArray &samples)
{
    nifti_2_header h{};
    h.sizeof_hdr = 540;
    std::memcpy(h.magic, "n+2\0\r\n\032\n", 8);
    h.datatype = a.datatype;
    h.bitpix = a.bitpix;
    for (int i = 0; i < 8; ++i) {
        h.dim[i] = a.dim[i];
        h.pixdim[i] = a.pixdim[i];
    }
    h.vox_offset = 544;
    h.scl_slope = a.scl_slope;
    h.scl_inter = a.scl_inter;
    h.qform_code = a.qform_code;
    h.sform_code = a.sform_code;
    h.quatern_b = a.quatern_b, h.quatern_c = a.quatern_c, h.quatern_d = a.quatern_d;
    h.qoffset_x = a.qoffset_x, h.qoffset_y = a.qoffset_y, h.qoffset_z = a.qoffset_z;
    for (int i = 0; i < 4; ++i) {
        h.srow_x[i] = a.srow_x[i];
        h.srow_y[i] = a.srow_y[i];
        h.srow_z[i] = a.srow_z[i];
    }
    h.xyzt_units = a.xyzt_units;
    return QByteArray(reinterpret_cast<const char *>(&h), 540) + QByteArray(4, '\0') + samples;
}

SliceDatas *loaded(SliceDatas &set, const QStringList &files)
{
    set.setLoadWorkers(1);
    set.filesSelected(files);
    return &set;
}

}  // namespace

Q_DECLARE_METATYPE(NiftiPatch)

class TestVolumes : public QObject
{
    Q_OBJECT
private slots:
    void formats_data();
    void formats();
    void refusals_data();
    void refusals();
    void memoryBudget();
    void nifti2AsNifti1_data();
    void nifti2AsNifti1();
    void rawDescriptions_data();
    void rawDescriptions();
    void directionsOfSets();
};

void TestVolumes::formats_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<Volume>("volume");  // dims 0: the sample maker's file of that name
    QTest::addColumn<ValueAt>("value");
    QTest::addColumn<int>("slices");
    QTest::addColumn<double>("spacingZ");
    QTest::addColumn<QString>("unit");
    QTest::addColumn<qlonglong>("volumes");

    Volume sample;
    sample.dims = 0;
    QTest::newRow("sample head, NIfTI gzip, uint16 with scl_inter")
        << "head.nii.gz" << sample
        << ValueAt([](int x, int y, int z) { return phantom::niftiStored(z, x, y) + phantom::niftiIntercept; })
        << phantom::volumeSlices << phantom::niftiStepMm << "mm" << 1LL;
    QTest::newRow("sample head, NRRD gzip, float32")
        << "head.nrrd" << sample << ValueAt([](int x, int y, int z) { return double(phantom::nrrdValue(z, x, y)); })
        << phantom::volumeSlices << phantom::nrrdStepMm << "mm" << 1LL;

    // Odd widths, so that rows padded to four bytes would show.
    auto ramp = [](int x, int y, int z, int t) { return double(x * 7 - y * 3 + z * 11 - 20 + t * 100); };
    Volume s8 = volumeOf<qint8>(5, 3, 4, 1, ramp);
    s8.type = Type::s8;
    s8.slope = 0.5;
    s8.intercept = 3.0;
    s8.spacing[2] = 2.5;
    QTest::newRow("NIfTI int8 scaled") << "s8.nii" << s8
                                       << ValueAt([&](int x, int y, int z) { return ramp(x, y, z, 0) * 0.5 + 3.0; })
                                       << 4 << 2.5 << "mm" << 1LL;
    Volume u8 = volumeOf<quint8>(7, 5, 3, 1, [](int x, int y, int z, int) { return x * 30 + y + z; });
    u8.type = Type::u8;
    u8.spacing[0] = 0.25;
    u8.slope = 2.0;
    QTest::newRow("NIfTI uint8 with slope")
        << "u8.nii.gz" << u8 << ValueAt([](int x, int y, int z) { return 2.0 * (x * 30 + y + z); }) << 3 << 1.0 << "mm"
        << 1LL;
    Volume s16 = volumeOf<qint16>(9, 4, 3, 1, [](int x, int y, int z, int) { return -30000 + x * 5000 + y * 7 + z; });
    s16.type = Type::s16;
    s16.compress = false;
    QTest::newRow("MetaImage detached int16")
        << "s16.mhd" << s16 << ValueAt([](int x, int y, int z) { return -30000 + x * 5000 + y * 7 + z; }) << 3 << 1.0
        << "" << 1LL;
    Volume u32 =
        volumeOf<quint32>(3, 3, 2, 1, [](int x, int y, int z, int) { return 4000000000.0 - x - 3 * y - 9 * z; });
    u32.type = Type::u32;
    QTest::newRow("MetaImage attached uint32")
        << "u32.mha" << u32 << ValueAt([](int x, int y, int z) { return 4000000000.0 - x - 3 * y - 9 * z; }) << 2 << 1.0
        << "" << 1LL;
    Volume s32 = volumeOf<qint32>(3, 2, 3, 1, ramp);
    s32.type = Type::s32;
    s32.compress = false;
    s32.spacing[2] = 4.0;
    QTest::newRow("NRRD detached raw int32")
        << "s32.nhdr" << s32 << ValueAt([&](int x, int y, int z) { return ramp(x, y, z, 0); }) << 3 << 4.0 << "mm"
        << 1LL;
    Volume f64 = volumeOf<double>(3, 5, 2, 1, [](int x, int y, int z, int) { return 1e-3 * x - y + 0.125 * z; });
    f64.type = Type::f64;
    QTest::newRow("NRRD float64") << "f64.nrrd" << f64
                                  << ValueAt([](int x, int y, int z) { return 1e-3 * x - y + 0.125 * z; }) << 2 << 1.0
                                  << "mm" << 1LL;
    auto positive = [ramp](int x, int y, int z, int t) { return ramp(x, y, z, t) + 40.0; };
    Volume u16t = volumeOf<quint16>(3, 4, 2, 3, positive);
    u16t.type = Type::u16;
    u16t.spacing[2] = 1.5;
    QTest::newRow("NIfTI 4-D: the first volume")
        << "t.nii.gz" << u16t << ValueAt([&](int x, int y, int z) { return positive(x, y, z, 0); }) << 2 << 1.5 << "mm"
        << 3LL;
    Volume f32t = volumeOf<float>(3, 2, 2, 2, [](int x, int y, int z, int t) { return 0.5 * x + y - z + 7 * t; });
    f32t.type = Type::f32;
    QTest::newRow("NRRD 4-D: the first volume")
        << "t.nrrd" << f32t << ValueAt([](int x, int y, int z) { return 0.5 * x + y - z; }) << 2 << 1.0 << "" << 2LL;
    Volume flat2d = volumeOf<quint8>(6, 4, 1, 1, [](int x, int y, int, int) { return x * y; });
    flat2d.type = Type::u8;
    QTest::newRow("MetaImage 2-D: one slice")
        << "one.mha" << flat2d << ValueAt([](int x, int y, int) { return x * y; }) << 1 << 1.0 << "" << 1LL;
}

// Every value of the first volume, the spacing with its unit, the direction and the
// count of volumes, as a load publishes them.
void TestVolumes::formats()
{
    QFETCH(QString, name);
    QFETCH(Volume, volume);
    QFETCH(ValueAt, value);
    QFETCH(int, slices);
    QFETCH(double, spacingZ);
    QFETCH(QString, unit);
    QFETCH(qlonglong, volumes);
    QTemporaryDir dir;
    const QString path = dir.filePath(name);
    QString error;
    // An oblique direction: turned 30 degrees about the slice axis, kept as written.
    const double c = std::sqrt(3.0) / 2.0, s = 0.5;
    const double oblique[3][3] = {{c, -s, 0.0}, {s, c, 0.0}, {0.0, 0.0, 1.0}};
    if (volume.dims == 0) {
        QVERIFY2(name.endsWith(".nrrd") ? phantom::writeHeadNrrd(path, &error) : phantom::writeHeadNifti(path, &error),
                 qPrintable(error));
    } else {
        std::memcpy(volume.direction, oblique, sizeof oblique);
        QVERIFY2(volumewriters::write(path, volume, &error), qPrintable(error));
    }

    SliceDatas set;
    loaded(set, {path});
    QVERIFY2(set.skipped.isEmpty(), qPrintable(set.skipped.isEmpty() ? QString() : set.skipped.first().reason));
    QVERIFY(set.loaded);
    QCOMPARE(int(set.slices.size()), slices);
    QCOMPARE(set.volume.volumes, volumes);
    QVERIFY(set.volume.hasDirection);
    if (volume.dims == 0) {
        QVERIFY(set.volume.direction.sameAs(Direction(), 1e-6));
        const double pixel = name.endsWith(".nrrd") ? phantom::nrrdPixelMm : phantom::niftiPixelMm;
        QCOMPARE(set.spacing.x, pixel);
        QCOMPARE(set.spacing.y, pixel);
    } else {
        Direction expected;
        std::memcpy(expected.m, oblique, sizeof oblique);
        const Direction &got = set.volume.direction;
        QVERIFY2(got.sameAs(expected, 1e-5),
                 qPrintable(QStringLiteral("first axis %1 %2 %3, second %4 %5 %6")
                                .arg(got.at(0, 0))
                                .arg(got.at(1, 0))
                                .arg(got.at(2, 0))
                                .arg(got.at(0, 1))
                                .arg(got.at(1, 1))
                                .arg(got.at(2, 1))));
        QCOMPARE(set.spacing.x, volume.spacing[0]);
    }
    QCOMPARE(set.spacing.z, spacingZ);
    QCOMPARE(set.spacingUnit, unit);
    double lo = 1e300, hi = -1e300;
    for (int z = 0; z < slices; ++z) {
        const SliceData &sl = *set.slices[std::size_t(z)];
        QCOMPARE(sl.width, set.width);
        std::vector<double> row(std::size_t(sl.width));
        for (int y = 0; y < sl.height; ++y) {
            sl.rowValues(y, row.data());
            for (int x = 0; x < sl.width; ++x) {
                const double want = value(x, y, z);
                if (row[std::size_t(x)] != want || sl.value(x, y) != want)
                    QFAIL(qPrintable(QStringLiteral("(%1, %2, %3): %4, not %5")
                                         .arg(x)
                                         .arg(y)
                                         .arg(z)
                                         .arg(row[std::size_t(x)])
                                         .arg(want)));
                lo = std::min(lo, want);
                hi = std::max(hi, want);
            }
        }
    }
    QCOMPARE(set.minV, lo);
    QCOMPARE(set.maxV, hi);
}

void TestVolumes::refusals_data()
{
    QTest::addColumn<QStringList>("names");  // files written; the first is loaded
    QTest::addColumn<QList<QByteArray>>("contents");
    QTest::addColumn<QString>("reason");

    auto nrrdOf = [](const QByteArray &type, int dims, const QByteArray &encoding) {
        return "NRRD0004\ntype: " + type + "\ndimension: " + QByteArray::number(dims)
            + "\nendian: little\nencoding: " + encoding + "\n";
    };
    const QByteArray nrrd = nrrdOf("short", 3, "raw");
    const QByteArray samples(2 * 4 * 3 * 2, '\x01');
    const QByteArray meta = "ObjectType = Image\nNDims = 3\nElementType = MET_SHORT\n";
    auto row = [](const char *tag, const QStringList &names, const QList<QByteArray> &contents, const char *reason) {
        QTest::newRow(tag) << names << contents << QString::fromLatin1(reason);
    };
    row("NRRD size zero", {"a.nhdr", "a.raw"}, {nrrd + "sizes: 4 0 2\ndata file: a.raw\n", samples},
        skipReason::noVoxels);
    row("NRRD size below zero", {"a.nhdr", "a.raw"}, {nrrd + "sizes: 4 -3 2\ndata file: a.raw\n", samples},
        skipReason::noVoxels);
    row("MetaImage size below zero", {"a.mhd", "a.raw"},
        {meta + "DimSize = 4 -3 2\nElementDataFile = a.raw\n", samples}, skipReason::noVoxels);
    row("NIfTI size zero", {"a.nii"}, {niftiBytes([](QByteArray &b) { put<qint16>(b, niftiDim + 4, 0); })},
        skipReason::noVoxels);
    QByteArray huge = nrrd + "sizes: 65535 65535 65535\nspacings: 1 1 1\n\n";
    huge += QByteArray(300 - huge.size(), '\0');
    row("300 bytes declaring 65535^3 voxels", {"huge.nrrd"}, {huge}, skipReason::tooManyVoxels);
    // ITK's MetaImage reader copies a text field into 255 bytes without looking.
    row("MetaImage name longer than its reader takes", {"a.mha"},
        {"ObjectType = Image\nName = " + QByteArray(300, 'n')
         + "\nNDims = 3\nDimSize = 4 3 2\n"
           "ElementType = MET_SHORT\nElementDataFile = LOCAL\n"
         + samples},
        skipReason::badHeader);
    row("MetaImage huge", {"a.mha"}, {meta + "DimSize = 65535 65535 65535\nElementDataFile = LOCAL\n"},
        skipReason::tooManyVoxels);
    row("NRRD spacing not a number", {"a.nhdr", "a.raw"},
        {nrrd + "sizes: 4 3 2\nspacings: nan 1 1\ndata file: a.raw\n", samples}, skipReason::badSpacing);
    row("NRRD direction of length zero", {"a.nhdr", "a.raw"},
        {nrrd + "sizes: 4 3 2\nspace: LPS\nspace directions: (1,0,0) (0,0,0) (0,0,1)\ndata file: a.raw\n", samples},
        skipReason::badSpacing);
    row("NIfTI spacing zero", {"a.nii"}, {niftiBytes([](QByteArray &b) { put<float>(b, niftiPixdim + 4, 0.0f); })},
        skipReason::badSpacing);
    // ITK's direction from a NIfTI orientation never ends on a number that is not one.
    row("NIfTI orientation not a number", {"a.nii"},
        {niftiBytes([](QByteArray &b) { put<float>(b, niftiSrowX + 4, std::nanf("")); })}, skipReason::badHeader);
    row("NIfTI spacing not a number", {"a.nii"},
        {niftiBytes([](QByteArray &b) { put<float>(b, niftiPixdim + 8, std::nanf("")); })}, skipReason::badSpacing);
    row("MetaImage spacing zero", {"a.mhd", "a.raw"},
        {meta + "DimSize = 4 3 2\nElementSpacing = 1 0 1\nElementDataFile = a.raw\n", samples}, skipReason::badSpacing);
    row("NRRD data file missing", {"a.nhdr"}, {nrrd + "sizes: 4 3 2\ndata file: gone.raw\n"}, skipReason::dataMissing);
    row("MetaImage data file missing", {"a.mhd"}, {meta + "DimSize = 4 3 2\nElementDataFile = gone.raw\n"},
        skipReason::dataMissing);
    row("NRRD data file short", {"a.nhdr", "a.raw"}, {nrrd + "sizes: 4 3 2\ndata file: a.raw\n", samples.left(47)},
        skipReason::dataShort);
    row("MetaImage data file short", {"a.mhd", "a.raw"},
        {meta + "DimSize = 4 3 2\nElementDataFile = a.raw\n", samples.left(40)}, skipReason::dataShort);
    row("MetaImage attached data short", {"a.mha"},
        {meta + "DimSize = 4 3 2\nElementDataFile = LOCAL\n" + samples.left(9)}, skipReason::dataShort);
    row("NRRD data file up and out", {"a.nhdr"}, {nrrd + "sizes: 4 3 2\ndata file: ../a.raw\n"},
        skipReason::dataOutside);
    row("NRRD data file in a list, out", {"a.nhdr", "a.raw"},
        {nrrd + "sizes: 4 3 2\ndata file: LIST\na.raw\nsub/../../x.raw\n", samples}, skipReason::dataOutside);
    // ITK's MetaImage reader takes the first NDims it finds and reads that many numbers.
    row("MetaImage dimensions given twice", {"a.mha"},
        {"ObjectType = Image\nNDims = 2000000000 7\nNDims = 3\nDimSize = 4 3 2\nElementType = MET_SHORT\n"
         "ElementDataFile = LOCAL\n"
         + samples},
        skipReason::badHeader);
    // ITK's MetaImage reader divides by the step of a numbered pattern, whatever it is.
    row("MetaImage data file pattern without a step", {"a.mhd"},
        {meta + "DimSize = 4 3 2\nElementDataFile = s%03d.raw 1 2\n"}, skipReason::badHeader);
    row("MetaImage data file absolute", {"a.mhd"}, {meta + "DimSize = 4 3 2\nElementDataFile = /etc/passwd\n"},
        skipReason::dataOutside);
    const QByteArray whole = niftiBytes([](QByteArray &) {});
    row("NIfTI cut short", {"a.nii"}, {whole.chopped(100)}, skipReason::dataShort);
    row("NIfTI gzip cut short", {"a.nii.gz"}, {gzipped(whole).chopped(2000)}, skipReason::dataShort);
    {
        QTemporaryDir scratch;
        const QByteArray bytes = noise(32 * 32 * 8);
        Volume v = volumeOf<quint8>(32, 32, 8, 1,
                                    [&](int x, int y, int z, int) { return quint8(bytes[x + 32 * (y + 32 * z)]); });
        v.type = Type::u8;
        QFile mha(scratch.filePath("c.mha"));
        if (volumewriters::write(mha.fileName(), v) && mha.open(QIODevice::ReadOnly))
            row("MetaImage gzip cut short", {"a.mha"}, {mha.readAll().chopped(3000)}, skipReason::dataShort);
    }
    row("NRRD gzip cut short", {"a.nrrd"},
        {nrrdOf("short", 3, "gzip") + "sizes: 32 32 8\n\n" + gzipped(noise(32 * 32 * 8 * 2)).chopped(4000)},
        skipReason::dataShort);
    row("NRRD colour", {"a.nhdr", "a.raw"},
        {nrrdOf("short", 4, "raw") + "sizes: 3 4 3 2\nkinds: RGB-color domain domain domain\ndata file: a.raw\n",
         samples + samples + samples},
        skipReason::typeNotRead);
    row("NRRD 64-bit integers", {"a.nhdr", "a.raw"},
        {nrrdOf("long long", 3, "raw") + "sizes: 4 3 2\ndata file: a.raw\n", samples + samples + samples + samples},
        skipReason::typeNotRead);
    QByteArray nifti2(548, '\0');
    put<qint32>(nifti2, 0, 540);
    std::memcpy(nifti2.data() + 4, "n+2\0\r\n\032\n", 8);
    row("NIfTI-2 without dimensions", {"a.nii"}, {nifti2}, skipReason::badHeader);
    const nifti_1_header one = niftiOneHeader([](nifti_1_header &) {});
    QByteArray wide = niftiTwoOf(one, niftiSamples(one));
    put<qint64>(wide, 16 + 8, qint64(1) << 40);
    row("NIfTI-2 declaring 2^40 columns", {"a.nii"}, {wide}, skipReason::tooManyVoxels);
    QByteArray flat = niftiTwoOf(one, niftiSamples(one));
    put<double>(flat, 104 + 16, 0.0);
    row("NIfTI-2 spacing zero", {"a.nii"}, {flat}, skipReason::badSpacing);
    row("NIfTI-2 cut short", {"a.nii"}, {niftiTwoOf(one, niftiSamples(one)).chopped(7)}, skipReason::dataShort);
    row("raw file without a description", {"a.raw"}, {samples}, skipReason::rawUndescribed);
}

// A bad file is one skipped line with its reason; the good file beside it still loads.
void TestVolumes::refusals()
{
    QFETCH(QStringList, names);
    QFETCH(QList<QByteArray>, contents);
    QFETCH(QString, reason);
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkpath("sub"));
    for (qsizetype i = 0; i < names.size(); ++i)
        QVERIFY(writeBytes(dir.filePath(names[i]), contents[i]));
    QImage good(4, 3, QImage::Format_Grayscale8);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 4; ++x)
            good.scanLine(y)[x] = uchar(x + y);
    QVERIFY(good.save(dir.filePath("good.png")));

    const QString bad = dir.filePath(names.first());
    SliceFile file = readSliceFile(bad);
    QVERIFY(file.slices.empty());
    QCOMPARE(file.reason, reason);

    SliceDatas set;
    loaded(set, {bad, dir.filePath("good.png")});
    QCOMPARE(set.skipped.size(), 1);
    QCOMPARE(set.skipped.first().file, bad);
    QCOMPARE(set.skipped.first().reason, reason);
    QCOMPARE(set.acceptedFiles, QStringList{dir.filePath("good.png")});
    QCOMPARE(int(set.slices.size()), 1);
    QCOMPARE(set.width, 4);
}

// A volume fits a budget of its slices and one slice of stored samples, and not one
// byte less: it is refused whole before its slices are allocated.
void TestVolumes::memoryBudget()
{
    QTemporaryDir dir;
    Volume v = volumeOf<qint16>(33, 17, 9, 1, [](int x, int y, int z, int) { return x - y + z * 100; });
    v.type = Type::s16;
    const QString path = dir.filePath("v.nii.gz");
    QVERIFY(volumewriters::write(path, v));
    const qint64 slice = qint64((33 * 2 + 3) / 4 * 4) * 17;
    const qint64 need = slice * 9 + 33 * 17 * 2;
    for (qint64 budget : {need, need - 1}) {
        SliceDatas set;
        set.setMemoryBudget(budget);
        loaded(set, {path});
        QCOMPARE(set.loaded, budget == need);
        if (budget != need)
            QCOMPARE(set.skipped.first().reason, QString::fromLatin1(skipReason::noMemory));
    }
}

// A NIfTI-2 file reads as the NIfTI-1 file of the same header does through ITK:
// values, spacing and its unit, direction and volume count.
void TestVolumes::nifti2AsNifti1_data()
{
    QTest::addColumn<NiftiPatch>("patch");
    QTest::addColumn<bool>("gzip");

    QTest::newRow("bytes, no orientation") << NiftiPatch([](nifti_1_header &) {}) << false;
    QTest::newRow("16-bit scaled, turned qform, gzip") << NiftiPatch([](nifti_1_header &h) {
        h.datatype = NIFTI_TYPE_INT16, h.bitpix = 16;
        h.scl_slope = 0.5f, h.scl_inter = -1024.0f;
        h.pixdim[0] = -1.0f, h.pixdim[1] = 0.7f, h.pixdim[2] = 0.8f, h.pixdim[3] = 2.5f;
        h.qform_code = NIFTI_XFORM_SCANNER_ANAT;
        h.quatern_b = 0.1f, h.quatern_c = 0.2f, h.quatern_d = 0.3f;
        h.qoffset_x = 10.0f;
    }) << true;
    QTest::newRow("floats, sform only, microns") << NiftiPatch([](nifti_1_header &h) {
        h.datatype = NIFTI_TYPE_FLOAT32, h.bitpix = 32;
        h.pixdim[1] = 2.0f, h.pixdim[2] = 3.0f, h.pixdim[3] = 4.0f;
        h.xyzt_units = NIFTI_UNITS_MICRON;
        h.sform_code = NIFTI_XFORM_ALIGNED_ANAT;
        const float r[3][4] = {{0.0f, -3.0f, 0.0f, 5.0f}, {2.0f, 0.0f, 0.0f, 6.0f}, {0.0f, 0.0f, 4.0f, 7.0f}};
        std::memcpy(h.srow_x, r[0], sizeof h.srow_x);
        std::memcpy(h.srow_y, r[1], sizeof h.srow_y);
        std::memcpy(h.srow_z, r[2], sizeof h.srow_z);
    }) << false;
    QTest::newRow("qform and sform differ") << NiftiPatch([](nifti_1_header &h) {
        h.qform_code = NIFTI_XFORM_SCANNER_ANAT;
        h.quatern_d = 1.0f;
        h.sform_code = NIFTI_XFORM_SCANNER_ANAT;
        h.srow_x[0] = 1.0f, h.srow_y[1] = 1.0f, h.srow_z[2] = 1.0f;
    }) << false;
    QTest::newRow("sheared sform beside a qform") << NiftiPatch([](nifti_1_header &h) {
        h.qform_code = NIFTI_XFORM_SCANNER_ANAT;
        h.quatern_c = 1.0f;
        h.sform_code = NIFTI_XFORM_SCANNER_ANAT;
        h.srow_x[0] = 1.0f, h.srow_x[1] = 0.5f, h.srow_y[1] = 1.0f, h.srow_z[2] = 1.0f;
    }) << false;
    QTest::newRow("two volumes, no unit, gzip") << NiftiPatch([](nifti_1_header &h) {
        h.dim[0] = 4, h.dim[4] = 2;
        h.xyzt_units = 0;
        h.pixdim[3] = 1.5f;
    }) << true;
}

void TestVolumes::nifti2AsNifti1()
{
    QFETCH(NiftiPatch, patch);
    QFETCH(bool, gzip);
    const nifti_1_header h = niftiOneHeader(patch);
    const QByteArray samples = niftiSamples(h);
    const QByteArray one = QByteArray(reinterpret_cast<const char *>(&h), 348) + QByteArray(4, '\0') + samples;
    const QByteArray two = niftiTwoOf(h, samples);
    QTemporaryDir dir;
    const QString suffix = gzip ? ".nii.gz" : ".nii";
    QVERIFY(writeBytes(dir.filePath("one" + suffix), gzip ? gzipped(one) : one));
    QVERIFY(writeBytes(dir.filePath("two" + suffix), gzip ? gzipped(two) : two));

    const SliceFile a = readSliceFile(dir.filePath("one" + suffix));
    const SliceFile b = readSliceFile(dir.filePath("two" + suffix));
    QVERIFY2(!a.slices.empty(), qPrintable(a.reason));
    QVERIFY2(!b.slices.empty(), qPrintable(b.reason));
    QCOMPARE(b.slices.size(), a.slices.size());
    for (std::size_t k = 0; k < a.slices.size(); ++k)
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 5; ++x)
                QCOMPARE(b.slices[k]->value(x, y), a.slices[k]->value(x, y));
    QCOMPARE(b.spacingUnit, a.spacingUnit);
    // NIfTI-1 keeps its numbers as floats, NIfTI-2 as doubles.
    const double tolerance = 1e-6;
    QVERIFY(std::fabs(b.spacing.x - a.spacing.x) < tolerance * a.spacing.x);
    QVERIFY(std::fabs(b.spacing.y - a.spacing.y) < tolerance * a.spacing.y);
    QVERIFY(std::fabs(b.spacing.z - a.spacing.z) < tolerance * a.spacing.z);
    QCOMPARE(b.volume.hasDirection, a.volume.hasDirection);
    QVERIFY2(b.volume.direction.sameAs(a.volume.direction, tolerance),
             qPrintable(QStringLiteral("NIfTI-1 %1 %2 %3 / NIfTI-2 %4 %5 %6")
                            .arg(a.volume.direction.at(0, 0))
                            .arg(a.volume.direction.at(1, 1))
                            .arg(a.volume.direction.at(2, 2))
                            .arg(b.volume.direction.at(0, 0))
                            .arg(b.volume.direction.at(1, 1))
                            .arg(b.volume.direction.at(2, 2))));
    QCOMPARE(b.volume.volumes, a.volume.volumes);
}

void TestVolumes::rawDescriptions_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<qint64>("fileBytes");  // -1: the text is refused
    QTest::addColumn<int>("extraBytes");  // bytes beyond (or short of) the description in the file
    QTest::addColumn<bool>("loads");

    QTest::newRow("uint8, little, no offset") << "5,3,2,uint8,le" << 30LL << 0 << true;
    QTest::newRow("int16 big-endian after a 7-byte header") << "5,3,2,int16,be,7" << 67LL << 0 << true;
    QTest::newRow("float64 with spacing") << "2,2,3,float64,little,0,0.5,0.5,2" << 96LL << 0 << true;
    QTest::newRow("one byte short") << "5,3,2,uint16,le" << 60LL << -1 << false;
    QTest::newRow("one byte too many") << "5,3,2,uint16,le" << 60LL << 1 << false;
    QTest::newRow("offset past the samples") << "5,3,2,uint8,le,10" << 40LL << -10 << false;
    QTest::newRow("unknown type") << "5,3,2,uint12,le" << -1LL << 0 << false;
    QTest::newRow("no byte order") << "5,3,2,uint8" << -1LL << 0 << false;
    QTest::newRow("zero slices") << "5,3,0,uint8,le" << -1LL << 0 << false;
    QTest::newRow("negative offset") << "5,3,2,uint8,le,-1" << -1LL << 0 << false;
    QTest::newRow("spacing zero") << "5,3,2,uint8,le,0,1,0,1" << -1LL << 0 << false;
    QTest::newRow("larger than any file") << "2147483647,2147483647,2147483647,float64,le" << -1LL << 0 << false;
}

// The description, its size check against the file and the values read after it.
void TestVolumes::rawDescriptions()
{
    QFETCH(QString, text);
    QFETCH(qint64, fileBytes);
    QFETCH(int, extraBytes);
    QFETCH(bool, loads);
    RawDescription d;
    QString why;
    QCOMPARE(parseRawDescription(text, d, &why), fileBytes >= 0);
    if (fileBytes < 0) {
        QVERIFY(!why.isEmpty());
        return;
    }
    QCOMPARE(d.fileBytes(), fileBytes);
    RawDescription again;
    QVERIFY(parseRawDescription(rawDescriptionText(d), again));
    QVERIFY(again == d);

    // Samples numbered 0, 1, 2, ... as the type holds them, in the described order.
    const int n = d.width * d.height * d.depth;
    const int bytes = sampleTypeBytes(d.type);
    QByteArray content(qsizetype(d.headerBytes), 'H');
    for (int i = 0; i < n; ++i) {
        QByteArray one(bytes, '\0');
        if (d.type == SampleType::f64) {
            const double v = i * 0.5 - 1.0;
            std::memcpy(one.data(), &v, 8);
        } else {
            const qint64 v = d.type == SampleType::s16 ? -i : i;
            std::memcpy(one.data(), &v, std::size_t(bytes));
        }
        if (d.bigEndian != (QSysInfo::ByteOrder == QSysInfo::BigEndian))
            std::reverse(one.begin(), one.end());
        content += one;
    }
    content = extraBytes >= 0 ? content + QByteArray(extraBytes, 'x') : content.chopped(-extraBytes);
    QTemporaryDir dir;
    const QString path = dir.filePath("scan.bin");
    QVERIFY(writeBytes(path, content));
    rawimport::remember(path, d);
    SliceDatas set;
    loaded(set, {path});
    rawimport::forget(path);
    QCOMPARE(set.loaded, loads);
    if (!loads) {
        QCOMPARE(set.skipped.first().reason, QString::fromLatin1(skipReason::rawSize));
        return;
    }
    QCOMPARE(int(set.slices.size()), d.depth);
    QCOMPARE(set.spacing.z, d.spacing.z);
    for (int i = 0; i < n; ++i) {
        const int x = i % d.width, y = i / d.width % d.height, z = i / (d.width * d.height);
        const double want = d.type == SampleType::f64 ? i * 0.5 - 1.0 : (d.type == SampleType::s16 ? -i : i);
        QCOMPARE(set.slices[std::size_t(z)]->value(x, y), want);
    }
}

// Sets of one space must agree on the direction of their axes; pictures state none.
// Within a set, a later volume that points elsewhere than the first is left out.
void TestVolumes::directionsOfSets()
{
    QTemporaryDir dir;
    auto write = [&](const QString &name, bool turned) {
        Volume v = volumeOf<quint8>(4, 4, 2, 1, [](int x, int y, int z, int) { return x + y + z; });
        v.type = Type::u8;
        if (turned) {
            const double t[3][3] = {{0, -1, 0}, {1, 0, 0}, {0, 0, 1}};
            std::memcpy(v.direction, t, sizeof t);
        }
        const QString path = dir.filePath(name);
        return volumewriters::write(path, v) ? path : QString();
    };
    const QString straight = write("straight.nii", false);
    const QString turned = write("turned.nrrd", true);
    QImage picture(4, 4, QImage::Format_Grayscale8);
    picture.fill(0);
    picture.setPixel(1, 1, 9);
    const QString png = dir.filePath("p.png");
    QVERIFY(picture.save(png));

    auto space = std::make_shared<SetSpace>();
    SliceDatas a, b;
    a.setSpace(space);
    b.setSpace(space);
    const QString otherDirection = QString::fromLatin1(skipReason::otherDirection);

    QVERIFY(loaded(a, {straight})->loaded);
    loaded(b, {turned});
    QVERIFY(!b.loaded);
    QCOMPARE(b.skipped.first().reason, otherDirection);
    QVERIFY(loaded(b, {png})->loaded);  // a picture goes anywhere
    loaded(a, {png});  // a lets its direction go
    QVERIFY(loaded(b, {turned})->loaded);
    QVERIFY(!loaded(a, {straight})->loaded);

    SliceDatas alone;
    loaded(alone, {turned, straight, png});
    QCOMPARE(alone.acceptedFiles, QStringList({turned, png}));
    QCOMPARE(alone.skipped.first().reason, otherDirection);
    QCOMPARE(alone.volume.direction.at(1, 0), 1.0);
}

QTEST_GUILESS_MAIN(TestVolumes)
#include "tst_volumes.moc"
