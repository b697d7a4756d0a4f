#include "tools/scanwriters.h"

#include <QFile>

#include <tiffio.h>

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcfilefo.h>
#include <dcmtk/dcmdata/dcrleerg.h>
#include <dcmtk/dcmdata/dcuid.h>
#include <dcmtk/dcmjpeg/djencode.h>
#include <dcmtk/dcmjpeg/djrplol.h>
#include <dcmtk/dcmjpls/djencode.h>
#include <dcmtk/dcmjpls/djrparam.h>
#include <dcmtk/oflog/oflog.h>

#include <mutex>

namespace scanwriters {

namespace {

bool fail(QString *error, const QString &message)
{
    if (error)
        *error = message;
    return false;
}

QByteArray numbers(std::initializer_list<double> values)
{
    QByteArray out;
    for (double v : values) {
        if (!out.isEmpty())
            out += '\\';
        out += QByteArray::number(v, 'g', 10);
    }
    return out;
}

}  // namespace

bool writeTiff(const QString &path, const QList<TiffPage> &pages, const QByteArray &description, double xres,
               double yres, int resUnit, QString *error)
{
    TIFF *t = TIFFOpen(QFile::encodeName(path).constData(), "w");
    if (!t)
        return fail(error, QStringLiteral("cannot write %1").arg(path));
    bool ok = true;
    for (qsizetype p = 0; p < pages.size() && ok; ++p) {
        const TiffPage &page = pages.at(p);
        const int bytes = page.bits / 8;
        TIFFSetField(t, TIFFTAG_IMAGEWIDTH, uint32_t(page.width));
        TIFFSetField(t, TIFFTAG_IMAGELENGTH, uint32_t(page.height));
        TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, uint16_t(page.bits));
        TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, uint16_t(1));
        TIFFSetField(t, TIFFTAG_SAMPLEFORMAT, uint16_t(page.sampleFormat));
        TIFFSetField(t, TIFFTAG_PHOTOMETRIC, uint16_t(PHOTOMETRIC_MINISBLACK));
        TIFFSetField(t, TIFFTAG_PLANARCONFIG, uint16_t(PLANARCONFIG_CONTIG));
        TIFFSetField(t, TIFFTAG_COMPRESSION, uint16_t(COMPRESSION_NONE));
        TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, uint32_t(page.height));
        if (pages.size() > 1) {
            TIFFSetField(t, TIFFTAG_SUBFILETYPE, uint32_t(FILETYPE_PAGE));
            TIFFSetField(t, TIFFTAG_PAGENUMBER, uint16_t(p), uint16_t(pages.size()));
        }
        if (p == 0 && !description.isEmpty())
            TIFFSetField(t, TIFFTAG_IMAGEDESCRIPTION, description.constData());
        if (xres > 0.0 && yres > 0.0) {
            TIFFSetField(t, TIFFTAG_XRESOLUTION, float(xres));
            TIFFSetField(t, TIFFTAG_YRESOLUTION, float(yres));
            TIFFSetField(t, TIFFTAG_RESOLUTIONUNIT, uint16_t(resUnit));
        }
        const qsizetype rowBytes = qsizetype(page.width) * bytes;
        if (page.samples.size() < rowBytes * page.height) {
            ok = fail(error, QStringLiteral("page %1 has too few samples").arg(p));
            break;
        }
        QByteArray row(rowBytes, '\0');
        for (int y = 0; y < page.height && ok; ++y) {
            std::copy_n(page.samples.constData() + y * rowBytes, rowBytes, row.data());
            ok = TIFFWriteScanline(t, row.data(), uint32_t(y), 0) == 1;
        }
        ok = ok && TIFFWriteDirectory(t) == 1;
        if (!ok && error && error->isEmpty())
            *error = QStringLiteral("cannot write %1").arg(path);
    }
    TIFFClose(t);
    return ok;
}

bool writeDicom(const QString &path, const DicomImage &image, QString *error)
{
    static std::once_flag once;
    std::call_once(once, [] {
        OFLog::configure(OFLogger::OFF_LOG_LEVEL);
        DcmRLEEncoderRegistration::registerCodecs();
        DJEncoderRegistration::registerCodecs();
        DJLSEncoderRegistration::registerCodecs();
    });
    const std::size_t count = std::size_t(image.width) * std::size_t(image.height) * std::size_t(image.frames);
    if (image.stored.size() < count)
        return fail(error, QStringLiteral("too few values for %1").arg(path));
    DcmFileFormat ff;
    DcmDataset *ds = ff.getDataset();
    const QByteArray series = image.seriesUid.toLatin1();
    const QByteArray instance = image.instanceUid.toLatin1();
    ds->putAndInsertString(DCM_SOPClassUID, UID_CTImageStorage);
    ds->putAndInsertString(DCM_SOPInstanceUID, instance.constData());
    ds->putAndInsertString(DCM_StudyInstanceUID, "2.25.314159265358979323846");
    ds->putAndInsertString(DCM_SeriesInstanceUID, series.constData());
    ds->putAndInsertString(DCM_Modality, "CT");
    ds->putAndInsertString(DCM_PatientName, "Phantom^Head");
    ds->putAndInsertString(DCM_PatientID, "PHANTOM");
    ds->putAndInsertString(DCM_InstanceNumber, QByteArray::number(image.instanceNumber).constData());
    if (image.hasGeometry) {
        ds->putAndInsertString(DCM_ImagePositionPatient,
                               numbers({image.position[0], image.position[1], image.position[2]}).constData());
        ds->putAndInsertString(DCM_ImageOrientationPatient,
                               numbers({image.rowDir[0], image.rowDir[1], image.rowDir[2], image.colDir[0],
                                        image.colDir[1], image.colDir[2]})
                                   .constData());
    }
    ds->putAndInsertString(DCM_PixelSpacing, numbers({image.rowSpacing, image.columnSpacing}).constData());
    if (image.thickness > 0.0)
        ds->putAndInsertString(DCM_SliceThickness, numbers({image.thickness}).constData());
    ds->putAndInsertString(DCM_RescaleSlope, numbers({image.slope}).constData());
    ds->putAndInsertString(DCM_RescaleIntercept, numbers({image.intercept}).constData());
    ds->putAndInsertString(DCM_PhotometricInterpretation, "MONOCHROME2");
    ds->putAndInsertUint16(DCM_SamplesPerPixel, 1);
    ds->putAndInsertUint16(DCM_Rows, Uint16(image.height));
    ds->putAndInsertUint16(DCM_Columns, Uint16(image.width));
    const bool wide = image.bits == 32;
    ds->putAndInsertUint16(DCM_BitsAllocated, wide ? 32 : 16);
    ds->putAndInsertUint16(DCM_BitsStored, wide ? 32 : 16);
    ds->putAndInsertUint16(DCM_HighBit, wide ? 31 : 15);
    ds->putAndInsertUint16(DCM_PixelRepresentation, image.isSigned ? 1 : 0);
    if (image.frames > 1)
        ds->putAndInsertString(DCM_NumberOfFrames, QByteArray::number(image.frames).constData());
    // 32-bit samples as pairs of words, high word first in a big-endian file: DCMTK
    // writes pixel data word by word, so the file then holds each sample's bytes in order.
    std::vector<Uint16> words(wide ? 2 * count : count);
    for (std::size_t i = 0; i < count; ++i) {
        const quint64 v = quint64(image.stored[i]);
        if (!wide) {
            words[i] = Uint16(v & 0xffff);
            continue;
        }
        const bool highFirst = image.compression == Compression::BigEndian;
        words[2 * i] = Uint16(highFirst ? (v >> 16) & 0xffff : v & 0xffff);
        words[2 * i + 1] = Uint16(highFirst ? v & 0xffff : (v >> 16) & 0xffff);
    }
    ds->putAndInsertUint16Array(DCM_PixelData, words.data(), static_cast<unsigned long>(words.size()));
    E_TransferSyntax xfer = EXS_LittleEndianExplicit;
    DJ_RPLossless jpegParams;
    DJLSRepresentationParameter jpegLsParams;
    const DcmRepresentationParameter *params = nullptr;
    switch (image.compression) {
    case Compression::None:
        break;
    case Compression::Rle:
        xfer = EXS_RLELossless;
        break;
    case Compression::JpegLossless:
        xfer = EXS_JPEGProcess14SV1;
        params = &jpegParams;
        break;
    case Compression::JpegLs:
        xfer = EXS_JPEGLSLossless;
        params = &jpegLsParams;
        break;
    case Compression::Deflated:
        xfer = EXS_DeflatedLittleEndianExplicit;
        break;
    case Compression::BigEndian:
        xfer = EXS_BigEndianExplicit;
        break;
    }
    const bool native =
        xfer == EXS_LittleEndianExplicit || xfer == EXS_DeflatedLittleEndianExplicit || xfer == EXS_BigEndianExplicit;
    if (!native && (ds->chooseRepresentation(xfer, params).bad() || !ds->canWriteXfer(xfer)))
        return fail(error, QStringLiteral("cannot compress %1").arg(path));
    if (ff.saveFile(QFile::encodeName(path).constData(), xfer).bad())
        return fail(error, QStringLiteral("cannot write %1").arg(path));
    return true;
}

bool appendNestedSequences(const QString &path, int depth, QString *error)
{
    // (FFFA,FFFA), the digital signatures sequence, sorts after the pixel data.
    static const char open[] = "\xfa\xff\xfa\xffSQ\0\0\xff\xff\xff\xff"  // sequence, undefined length
                               "\xfe\xff\x00\xe0\xff\xff\xff\xff";  // item, undefined length
    static const char close[] = "\xfe\xff\x0d\xe0\0\0\0\0"  // item delimiter
                                "\xfe\xff\xdd\xe0\0\0\0\0";  // sequence delimiter
    QFile f(path);
    if (!f.open(QIODevice::Append))
        return fail(error, QStringLiteral("cannot open %1").arg(path));
    QByteArray bytes;
    for (int i = 0; i < depth; ++i)
        bytes.append(open, 20);
    for (int i = 0; i < depth; ++i)
        bytes.append(close, 16);
    if (f.write(bytes) != bytes.size() || !f.flush())
        return fail(error, QStringLiteral("cannot write %1").arg(path));
    return true;
}

}  // namespace scanwriters
