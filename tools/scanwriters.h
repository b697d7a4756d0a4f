#ifndef SCANWRITERS_H
#define SCANWRITERS_H

#include <QByteArray>
#include <QList>
#include <QString>

#include <vector>

// Writers of scan files through the same libraries the viewer reads them with:
// TIFF stacks through libtiff and DICOM slices through DCMTK. Used by the sample
// generator and by the tests, which make their files on the spot.
namespace scanwriters {

// One TIFF page of single-channel samples: width * height samples, row by row,
// in host byte order, each bits / 8 bytes wide.
struct TiffPage {
    int width = 0;
    int height = 0;
    int bits = 16;
    int sampleFormat = 1;  // 1 unsigned integer, 2 signed integer, 3 floating point
    QByteArray samples;
};

// Writes the pages as one file, page after page. description (when not empty) is
// the first page's description; xres and yres (when positive) its resolution in
// pixels per unit, resUnit the TIFF resolution unit (1 none, 2 inch, 3 cm).
bool writeTiff(const QString &path, const QList<TiffPage> &pages, const QByteArray &description = {}, double xres = 0.0,
               double yres = 0.0, int resUnit = 1, QString *error = nullptr);

// Transfer syntax of a written DICOM file: uncompressed little endian, or one of the
// lossless compressions, or the data set deflated, or uncompressed big endian.
enum class Compression { None, Rle, JpegLossless, JpegLs, Deflated, BigEndian };

// One grey DICOM image of one frame (or several: frames * width * height values).
struct DicomImage {
    int width = 0;
    int height = 0;
    int frames = 1;
    std::vector<qint64> stored;  // stored values, of bits bits (signed when isSigned)
    int bits = 16;  // 16 or 32
    bool isSigned = false;
    double slope = 1.0;
    double intercept = 0.0;
    bool hasGeometry = true;
    double position[3] = {0, 0, 0};
    double rowDir[3] = {1, 0, 0};
    double colDir[3] = {0, 1, 0};
    double rowSpacing = 1.0;  // PixelSpacing: between rows, then between columns
    double columnSpacing = 1.0;
    double thickness = 0.0;  // 0: not written
    QString seriesUid = QStringLiteral("2.25.1");
    QString instanceUid = QStringLiteral("2.25.2");
    int instanceNumber = 1;
    Compression compression = Compression::None;
};

bool writeDicom(const QString &path, const DicomImage &image, QString *error = nullptr);

// Appends sequences nested depth deep (sequence, item, sequence, ... each of undefined
// length, then their delimiters) to the end of a DICOM file in explicit little endian,
// as the last element of its data set: 36 bytes a level.
bool appendNestedSequences(const QString &path, int depth, QString *error = nullptr);

}  // namespace scanwriters

#endif
