#ifndef PHANTOM_H
#define PHANTOM_H

#include <QImage>
#include <QString>
#include <QStringList>

#include <array>

// The sample slice sets: a three-dimensional head phantom as grey PNG slices,
// and a small set of blood vessels as grid text files in both header variants.
// Everything here is deterministic: the same call writes the same bytes on every
// run. Shared by the make_phantom tool and the tests that need a real volume.
namespace phantom {

// One ellipsoid of the head: intensity added inside it, semi-axes, centre (all in
// the unit cube [-1, 1]^3) and its orientation as Euler angles in degrees
// (phi about z, then theta about the new x, then psi about the new z).
struct Ellipsoid {
    double intensity;
    double a, b, c;
    double x0, y0, z0;
    double phiDeg, thetaDeg, psiDeg;
};

// The ten ellipsoids of the three-dimensional Shepp-Logan head phantom with the
// contrast-improved ("modified") intensities: skull 1.0, brain 0.2, ventricles 0.0,
// the smaller structures 0.3 and more where they overlap.
const std::array<Ellipsoid, 10> &headEllipsoids();

// The head's density at (x, y, z) of the unit cube, y pointing to the top of the
// head and z along the stack: the sum of the intensities of the ellipsoids that
// hold the point (0 outside the head).
double headDensity(double x, double y, double z);

constexpr int headSlices = 128;
constexpr int headSize = 256;
// The stack covers z from -0.8 to 0.8, so that even its first and last slices cut
// the skull: a slice of one grey level only would be left out by the loader.
constexpr double headStackHalfDepth = 0.8;
// Densities from 0 to this are spread over the grey levels 0 to 255, and higher
// ones (the skull) are 255, as a brain window shows them: brain 102, the small
// structures 153, their overlaps 204.
constexpr double headGreyWindow = 0.5;

// Slice k of a stack of `slices` square pictures of `size` pixels, as 8-bit grey,
// each pixel the head's density at its centre through the grey window. Row 0 is
// the top of the head. A null image for k outside 0 .. slices - 1 or a size below 1.
QImage headSlice(int k, int slices = headSlices, int size = headSize);

// File names in stack order: "head_000.png" ... and "vessels_00.dat" ...
QString headFileName(int k);
QString vesselsFileName(int k);

constexpr int vesselsWidth = 96;
constexpr int vesselsHeight = 96;
constexpr int vesselsSlices = 48;

// Flow speed (cm/s, 0 outside the vessels) at column x, row y of slice z of the
// vessel box: a straight vessel along the stack axis with two thinner ones winding
// once around it. Every slice holds values above 0.
double vesselValue(int x, int y, int z);

// The text of vessel slice k: even slices in the range grid format ("#MOLK-VEDez",
// coordinates from 0), odd slices in the XYV format ("## 240301", comma-separated
// records whose coordinates start at (100, 200)). Empty for k out of range.
QByteArray vesselSliceText(int k);

// The CT sample: a few slices of the head in Hounsfield-like units (air -1000,
// brain 40, the small structures 60 and 80, skull 1000), stored as unsigned 16-bit
// values with RescaleIntercept -1024, 0.5 x 0.5 mm pixels, slices 2 mm apart along
// the patient's z axis. The files are named in a shuffled order ("ct_05.dcm" is
// not the sixth slice), so only their positions give the stack order.
constexpr int ctSlices = 24;
constexpr int ctSize = 128;
constexpr double ctPixelMm = 0.5;
constexpr double ctStepMm = 2.0;
constexpr int ctIntercept = -1024;
int headHounsfield(double density);
// Slice k's value (Hounsfield units) at column c, row r, as the series stores it.
int ctValue(int k, int c, int r);
// The file name that holds slice k of the series.
QString ctFileName(int k);
bool writeCtSeries(const QString &dir, QString *error = nullptr);

// The 16-bit TIFF sample: the head as one multi-page file, values 20000 per unit
// of density (brain 4000, skull 20000), with the unit (mm) and a slice step of
// 1.5 mm in an ImageJ-style description and 0.75 mm pixels in its resolution tags.
constexpr int tiffSlices = 64;
constexpr int tiffSize = 128;
int tiffValue(int k, int c, int r);
bool writeHeadTiff(const QString &path, QString *error = nullptr);

// The research volume samples: the head as one NIfTI file (head.nii.gz) and one
// NRRD file (head.nrrd), both 128 x 128 pixels and 48 slices with anisotropic
// spacing, through ITK. The NIfTI file holds Hounsfield units as the CT sample does,
// stored as unsigned 16-bit values with scl_inter -1024; 1.5 x 1.5 mm pixels, slices
// 3 mm apart. The NRRD file holds the density itself as 32-bit floats, gzip
// compressed, in a left-posterior-superior space: 1 x 1 mm pixels, slices 2.5 mm
// apart. Both with the axes of the patient (the identity direction).
constexpr int volumeSize = 128;
constexpr int volumeSlices = 48;
constexpr double niftiPixelMm = 1.5;
constexpr double niftiStepMm = 3.0;
constexpr int niftiIntercept = -1024;
constexpr double nrrdPixelMm = 1.0;
constexpr double nrrdStepMm = 2.5;
// Slice k's stored NIfTI sample and NRRD value (the density to four decimals) at
// column c, row r.
int niftiStored(int k, int c, int r);
float nrrdValue(int k, int c, int r);
bool writeHeadNifti(const QString &path, QString *error = nullptr);
bool writeHeadNrrd(const QString &path, QString *error = nullptr);

// Write the set into dir (created when missing). False, with a message in *error
// when given, as soon as a file cannot be written.
bool writeHead(const QString &dir, int slices = headSlices, int size = headSize, QString *error = nullptr);
bool writeVessels(const QString &dir, QString *error = nullptr);

// The absolute paths of the files writeHead / writeVessels write into dir, in stack order.
QStringList headFiles(const QString &dir, int slices = headSlices);
QStringList vesselsFiles(const QString &dir);

}  // namespace phantom

#endif
