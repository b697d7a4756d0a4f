#include "tools/phantom.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>

#include <algorithm>
#include <cmath>

#include "tools/scanwriters.h"
#include "tools/volumewriters.h"

namespace phantom {

namespace {

constexpr double pi = 3.141592653589793;

// An ellipsoid made ready for point tests: the rotation that takes an offset from
// the centre into the ellipsoid's own axes, and a bounding radius for a quick reject.
struct PreparedEllipsoid {
    Ellipsoid e;
    double rot[3][3];
    double radius2;
};

std::array<PreparedEllipsoid, 10> prepare()
{
    std::array<PreparedEllipsoid, 10> out{};
    const auto &list = headEllipsoids();
    for (std::size_t i = 0; i < list.size(); ++i) {
        const Ellipsoid &e = list[i];
        const double phi = e.phiDeg * pi / 180.0;
        const double theta = e.thetaDeg * pi / 180.0;
        const double psi = e.psiDeg * pi / 180.0;
        const double cphi = std::cos(phi), sphi = std::sin(phi);
        const double cth = std::cos(theta), sth = std::sin(theta);
        const double cpsi = std::cos(psi), spsi = std::sin(psi);
        PreparedEllipsoid &p = out[i];
        p.e = e;
        // Z-X-Z Euler rotation, world offset to ellipsoid axes.
        p.rot[0][0] = cpsi * cphi - cth * sphi * spsi;
        p.rot[0][1] = cpsi * sphi + cth * cphi * spsi;
        p.rot[0][2] = spsi * sth;
        p.rot[1][0] = -spsi * cphi - cth * sphi * cpsi;
        p.rot[1][1] = -spsi * sphi + cth * cphi * cpsi;
        p.rot[1][2] = cpsi * sth;
        p.rot[2][0] = sth * sphi;
        p.rot[2][1] = -sth * cphi;
        p.rot[2][2] = cth;
        const double r = std::max({e.a, e.b, e.c});
        p.radius2 = r * r;
    }
    return out;
}

const std::array<PreparedEllipsoid, 10> &prepared()
{
    static const std::array<PreparedEllipsoid, 10> list = prepare();
    return list;
}

bool writeFile(const QString &path, const QByteArray &bytes, QString *error)
{
    QSaveFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size() || !f.commit()) {
        if (error)
            *error = QStringLiteral("cannot write %1: %2").arg(path, f.errorString());
        return false;
    }
    return true;
}

bool makeDir(const QString &dir, QString *error)
{
    if (QDir().mkpath(dir))
        return true;
    if (error)
        *error = QStringLiteral("cannot create the folder %1").arg(dir);
    return false;
}

// Distance of (x, y) from (cx, cy), squared.
double dist2(double x, double y, double cx, double cy)
{
    return (x - cx) * (x - cx) + (y - cy) * (y - cy);
}

// Laminar flow profile: peak on the axis, 0 at the wall and outside.
double flow(double d2, double radius, double peak)
{
    const double r2 = radius * radius;
    return d2 < r2 ? peak * (1.0 - d2 / r2) : 0.0;
}

}  // namespace

const std::array<Ellipsoid, 10> &headEllipsoids()
{
    //                                  A     a       b      c      x0     y0      z0    phi theta psi
    static const std::array<Ellipsoid, 10> list{{
        {1.0, 0.6900, 0.920, 0.810, 0.00, 0.0000, 0.00, 0.0, 0.0, 0.0},  // skull
        {-0.8, 0.6624, 0.874, 0.780, 0.00, -0.0184, 0.00, 0.0, 0.0, 0.0},  // brain
        {-0.2, 0.1100, 0.310, 0.220, 0.22, 0.0000, 0.00, -18.0, 0.0, 10.0},  // right ventricle
        {-0.2, 0.1600, 0.410, 0.280, -0.22, 0.0000, 0.00, 18.0, 0.0, 10.0},  // left ventricle
        {0.1, 0.2100, 0.250, 0.410, 0.00, 0.3500, -0.15, 0.0, 0.0, 0.0},
        {0.1, 0.0460, 0.046, 0.050, 0.00, 0.1000, 0.25, 0.0, 0.0, 0.0},
        {0.1, 0.0460, 0.046, 0.050, 0.00, -0.1000, 0.25, 0.0, 0.0, 0.0},
        {0.1, 0.0460, 0.023, 0.050, -0.08, -0.6050, 0.00, 0.0, 0.0, 0.0},
        {0.1, 0.0230, 0.023, 0.020, 0.00, -0.6060, 0.00, 0.0, 0.0, 0.0},
        {0.1, 0.0230, 0.046, 0.020, 0.06, -0.6050, 0.00, 0.0, 0.0, 0.0},
    }};
    return list;
}

double headDensity(double x, double y, double z)
{
    double sum = 0.0;
    for (const PreparedEllipsoid &p : prepared()) {
        const double dx = x - p.e.x0;
        const double dy = y - p.e.y0;
        const double dz = z - p.e.z0;
        if (dx * dx + dy * dy + dz * dz > p.radius2)
            continue;
        const double u = (p.rot[0][0] * dx + p.rot[0][1] * dy + p.rot[0][2] * dz) / p.e.a;
        const double v = (p.rot[1][0] * dx + p.rot[1][1] * dy + p.rot[1][2] * dz) / p.e.b;
        const double w = (p.rot[2][0] * dx + p.rot[2][1] * dy + p.rot[2][2] * dz) / p.e.c;
        if (u * u + v * v + w * w <= 1.0)
            sum += p.e.intensity;
    }
    return sum;
}

QImage headSlice(int k, int slices, int size)
{
    if (slices < 1 || size < 1 || k < 0 || k >= slices)
        return QImage();
    QImage img(size, size, QImage::Format_Grayscale8);
    const double z = headStackHalfDepth * ((2.0 * k + 1.0) / slices - 1.0);
    for (int r = 0; r < size; ++r) {
        uchar *line = img.scanLine(r);
        const double y = 1.0 - (2.0 * r + 1.0) / size;
        for (int c = 0; c < size; ++c) {
            const double x = (2.0 * c + 1.0) / size - 1.0;
            const double grey = std::round(headDensity(x, y, z) / headGreyWindow * 255.0);
            line[c] = uchar(std::clamp(grey, 0.0, 255.0));
        }
    }
    return img;
}

QString headFileName(int k)
{
    return QStringLiteral("head_%1.png").arg(k, 3, 10, QLatin1Char('0'));
}

QString vesselsFileName(int k)
{
    return QStringLiteral("vessels_%1.dat").arg(k, 2, 10, QLatin1Char('0'));
}

double vesselValue(int x, int y, int z)
{
    if (x < 0 || x >= vesselsWidth || y < 0 || y >= vesselsHeight || z < 0 || z >= vesselsSlices)
        return 0.0;
    const double cx = (vesselsWidth - 1) / 2.0;
    const double cy = (vesselsHeight - 1) / 2.0;
    double v = flow(dist2(x, y, cx, cy), 8.0, 80.0);
    // Two vessels winding once around the middle one over the height of the box.
    const double turn = 2.0 * pi * z / vesselsSlices;
    for (int i = 0; i < 2; ++i) {
        const double a = turn + i * pi;
        const double hx = cx + 30.0 * std::cos(a);
        const double hy = cy + 30.0 * std::sin(a);
        v = std::max(v, flow(dist2(x, y, hx, hy), 5.0, 45.0 + 5.0 * i));
    }
    // Two decimals, as the files hold them.
    return std::round(v * 100.0) / 100.0;
}

QByteArray vesselSliceText(int k)
{
    if (k < 0 || k >= vesselsSlices)
        return QByteArray();
    QByteArray out;
    out.reserve(vesselsWidth * vesselsHeight * 16 + 128);
    const bool rangeGrid = k % 2 == 0;
    int x0 = 0, y0 = 0;
    if (rangeGrid) {
        out += "#MOLK-VEDez\n";
        out += "# Range_X0 : 0\n";
        out += "# Range_Y0 : 0\n";
        out += "# Range_X1 : " + QByteArray::number(vesselsWidth - 1) + "\n";
        out += "# Range_Y1 : " + QByteArray::number(vesselsHeight - 1) + "\n";
    } else {
        // The counts are one more than the number of columns and rows.
        x0 = 100;
        y0 = 200;
        out += "## 240301\n";
        out += "# Format1 : XYV\n";
        out += "# Format2 : SPACE-Separated\n";
        out += "# X-NUM " + QByteArray::number(vesselsWidth + 1) + "\n";
        out += "# Y-NUM " + QByteArray::number(vesselsHeight + 1) + "\n";
    }
    for (int y = 0; y < vesselsHeight; ++y)
        for (int x = 0; x < vesselsWidth; ++x) {
            out += QByteArray::number(x0 + x);
            out += ' ';
            out += QByteArray::number(y0 + y);
            out += ' ';
            out += QByteArray::number(vesselValue(x, y, k), 'f', 2);
            out += '\n';
        }
    return out;
}

bool writeHead(const QString &dir, int slices, int size, QString *error)
{
    if (!makeDir(dir, error))
        return false;
    const QStringList files = headFiles(dir, slices);
    for (int k = 0; k < slices; ++k) {
        const QImage img = headSlice(k, slices, size);
        if (img.isNull() || !img.save(files.at(k), "PNG")) {
            if (error)
                *error = QStringLiteral("cannot write %1").arg(files.at(k));
            return false;
        }
    }
    return true;
}

int headHounsfield(double density)
{
    if (density <= 0.0)
        return -1000;
    if (density >= 0.9)
        return 1000;
    return int(std::lround(density * 200.0));
}

namespace {
// The head's density at the centre of pixel (c, r) of slice k of a stack of
// `slices` square pictures of `size` pixels, as headSlice samples it.
double densityAt(int k, int slices, int size, int c, int r)
{
    const double z = headStackHalfDepth * ((2.0 * k + 1.0) / slices - 1.0);
    const double y = 1.0 - (2.0 * r + 1.0) / size;
    const double x = (2.0 * c + 1.0) / size - 1.0;
    return headDensity(x, y, z);
}
}  // namespace

int ctValue(int k, int c, int r)
{
    return headHounsfield(densityAt(k, ctSlices, ctSize, c, r));
}

QString ctFileName(int k)
{
    // 7 and 24 share no factor, so this is a shuffle of 0 .. 23.
    return QStringLiteral("ct_%1.dcm").arg((k * 7 + 5) % ctSlices, 2, 10, QLatin1Char('0'));
}

bool writeCtSeries(const QString &dir, QString *error)
{
    if (!makeDir(dir, error))
        return false;
    for (int k = 0; k < ctSlices; ++k) {
        scanwriters::DicomImage img;
        img.width = img.height = ctSize;
        img.stored.resize(std::size_t(ctSize) * ctSize);
        for (int r = 0; r < ctSize; ++r)
            for (int c = 0; c < ctSize; ++c)
                img.stored[std::size_t(r) * ctSize + std::size_t(c)] = ctValue(k, c, r) - ctIntercept;
        img.intercept = ctIntercept;
        img.position[0] = -ctSize * ctPixelMm / 2;
        img.position[1] = -ctSize * ctPixelMm / 2;
        img.position[2] = k * ctStepMm;
        img.rowSpacing = img.columnSpacing = ctPixelMm;
        img.thickness = ctStepMm;
        img.seriesUid = QStringLiteral("2.25.271828182845904523536028747135");
        img.instanceUid = QStringLiteral("2.25.271828182845904523536028747135.%1").arg(k + 1);
        img.instanceNumber = k + 1;
        if (!scanwriters::writeDicom(QDir(dir).filePath(ctFileName(k)), img, error))
            return false;
    }
    return true;
}

int tiffValue(int k, int c, int r)
{
    const double v = std::round(densityAt(k, tiffSlices, tiffSize, c, r) * 20000.0);
    return int(std::clamp(v, 0.0, 65535.0));
}

bool writeHeadTiff(const QString &path, QString *error)
{
    QList<scanwriters::TiffPage> pages;
    for (int k = 0; k < tiffSlices; ++k) {
        scanwriters::TiffPage page;
        page.width = page.height = tiffSize;
        page.bits = 16;
        page.samples.resize(qsizetype(tiffSize) * tiffSize * 2);
        quint16 *out = reinterpret_cast<quint16 *>(page.samples.data());
        for (int r = 0; r < tiffSize; ++r)
            for (int c = 0; c < tiffSize; ++c)
                out[r * tiffSize + c] = quint16(tiffValue(k, c, r));
        pages.append(page);
    }
    const QByteArray description = "ImageJ=1.54f\nimages=" + QByteArray::number(tiffSlices)
        + "\nslices=" + QByteArray::number(tiffSlices) + "\nunit=mm\nspacing=1.5\n";
    return scanwriters::writeTiff(path, pages, description, 1.0 / 0.75, 1.0 / 0.75, 1, error);
}

int niftiStored(int k, int c, int r)
{
    return headHounsfield(densityAt(k, volumeSlices, volumeSize, c, r)) - niftiIntercept;
}

float nrrdValue(int k, int c, int r)
{
    // To four decimals, as a density is written: the sums of the ellipsoids' densities
    // leave traces of rounding (-5.6e-17 for 1.0 - 0.8 - 0.2).
    return float(std::round(densityAt(k, volumeSlices, volumeSize, c, r) * 1e4) / 1e4);
}

namespace {
volumewriters::Volume headVolume(volumewriters::Type type, double pixel, double step)
{
    volumewriters::Volume v;
    v.size[0] = v.size[1] = volumeSize;
    v.size[2] = volumeSlices;
    v.spacing[0] = v.spacing[1] = pixel;
    v.spacing[2] = step;
    v.type = type;
    v.samples.resize(qsizetype(volumeSize) * volumeSize * volumeSlices * volumewriters::typeBytes(type));
    return v;
}
}  // namespace

bool writeHeadNifti(const QString &path, QString *error)
{
    volumewriters::Volume v = headVolume(volumewriters::Type::u16, niftiPixelMm, niftiStepMm);
    quint16 *out = reinterpret_cast<quint16 *>(v.samples.data());
    for (int k = 0; k < volumeSlices; ++k)
        for (int r = 0; r < volumeSize; ++r)
            for (int c = 0; c < volumeSize; ++c)
                *out++ = quint16(niftiStored(k, c, r));
    v.intercept = niftiIntercept;
    return volumewriters::write(path, v, error);
}

bool writeHeadNrrd(const QString &path, QString *error)
{
    volumewriters::Volume v = headVolume(volumewriters::Type::f32, nrrdPixelMm, nrrdStepMm);
    float *out = reinterpret_cast<float *>(v.samples.data());
    for (int k = 0; k < volumeSlices; ++k)
        for (int r = 0; r < volumeSize; ++r)
            for (int c = 0; c < volumeSize; ++c)
                *out++ = nrrdValue(k, c, r);
    return volumewriters::write(path, v, error);
}

bool writeVessels(const QString &dir, QString *error)
{
    if (!makeDir(dir, error))
        return false;
    const QStringList files = vesselsFiles(dir);
    for (int k = 0; k < vesselsSlices; ++k)
        if (!writeFile(files.at(k), vesselSliceText(k), error))
            return false;
    return true;
}

QStringList headFiles(const QString &dir, int slices)
{
    QStringList out;
    const QDir d(dir);
    for (int k = 0; k < slices; ++k)
        out.append(d.absoluteFilePath(headFileName(k)));
    return out;
}

QStringList vesselsFiles(const QString &dir)
{
    QStringList out;
    const QDir d(dir);
    for (int k = 0; k < vesselsSlices; ++k)
        out.append(d.absoluteFilePath(vesselsFileName(k)));
    return out;
}

}  // namespace phantom
