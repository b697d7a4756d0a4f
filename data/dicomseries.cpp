#include "data/dicomseries.h"

#include <QFile>
#include <QIODevice>
#include <QImage>

// DCMTK's configuration header comes before any other of its headers.
#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcerror.h>
#include <dcmtk/dcmdata/dcfilefo.h>
#include <dcmtk/dcmdata/dcistrmf.h>
#include <dcmtk/dcmdata/dcpixel.h>
#include <dcmtk/dcmdata/dcrledrg.h>
#include <dcmtk/dcmdata/dcstack.h>
#include <dcmtk/dcmdata/dcxfer.h>
#include <dcmtk/dcmjpeg/djdecode.h>
#include <dcmtk/dcmjpls/djdecode.h>
#include <dcmtk/oflog/oflog.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>

#include "data/dicomprecheck.h"
#include "data/slicefile.h"

namespace {

// Elements up to this length are read with the rest of the header; longer ones
// (the pixel data) are read from the file when needed, after their declared
// lengths have been checked against the file's.
constexpr Uint32 maxHeaderElement = 4096;

// The decoders of the compressed transfer syntaxes, and DCMTK's log silenced:
// a file it refuses is skipped with its reason, not reported on the console.
void setUpDcmtk()
{
    static std::once_flag once;
    std::call_once(once, [] {
        OFLog::configure(OFLogger::OFF_LOG_LEVEL);
        DcmRLEDecoderRegistration::registerCodecs();
        DJDecoderRegistration::registerCodecs();
        DJLSDecoderRegistration::registerCodecs();
    });
}

// DCMTK reads a file through an input stream, and a value longer than
// maxHeaderElement only when first used, through a factory that makes a new stream at
// the value's offset. These read a random-access QIODevice instead of a named file, so
// a file in memory is parsed exactly as one on disk, its long values skipped and their
// declared lengths checked against the device's before any is loaded.

// Bytes from an offset to the end of the device. Several streams may read one device
// (the data set's and those of values read later): each seeks to its own place first.
class DeviceProducer : public DcmProducer
{
public:
    DeviceProducer(QIODevice &device, qint64 offset) : device_(device), pos_(offset), size_(device.size())
    {
        if (!device.isReadable() || offset < 0 || offset > size_)
            status_ = EC_InvalidStream;
    }

    OFBool good() const override { return status_.good(); }
    OFCondition status() const override { return status_; }
    OFBool eos() override { return pos_ >= size_; }
    offile_off_t avail() override { return offile_off_t(std::max<qint64>(size_ - pos_, 0)); }

    // A read that gives less than the device should hold makes the stream bad.
    offile_off_t read(void *buf, offile_off_t buflen) override
    {
        const qint64 wanted = std::min<qint64>(qint64(buflen), size_ - pos_);
        if (!status_.good() || !buf || wanted <= 0)
            return 0;
        if ((device_.pos() != pos_ && !device_.seek(pos_))
            || device_.read(static_cast<char *>(buf), wanted) != wanted) {
            status_ = EC_InvalidStream;
            return 0;
        }
        pos_ += wanted;
        return offile_off_t(wanted);
    }

    offile_off_t skip(offile_off_t skiplen) override
    {
        const qint64 skipped = std::min<qint64>(qint64(skiplen), size_ - pos_);
        if (!status_.good() || skipped <= 0)
            return 0;
        pos_ += skipped;
        return offile_off_t(skipped);
    }

    void putback(offile_off_t num) override
    {
        if (!status_.good() || num <= 0)
            return;
        if (qint64(num) <= pos_)
            pos_ -= qint64(num);
        else
            status_ = EC_PutbackFailed;
    }

private:
    QIODevice &device_;
    qint64 pos_;
    const qint64 size_;
    OFCondition status_ = EC_Normal;
};

class DeviceInputStream : public DcmInputStream
{
public:
    // DcmInputStream only keeps the producer's address, so it may come first.
    DeviceInputStream(QIODevice &device, qint64 offset)
        : DcmInputStream(&producer_), producer_(device, offset), device_(device), offset_(offset)
    {
    }

    DcmInputStreamFactory *newFactory() const override;

private:
    DeviceProducer producer_;
    QIODevice &device_;
    const qint64 offset_;
};

// Makes streams over the device from one offset. A file stream factory in kind (with
// an empty name), as DCMTK has no other kind for streams it may reopen.
class DeviceStreamFactory : public DcmInputFileStreamFactory
{
public:
    DeviceStreamFactory(QIODevice &device, qint64 offset)
        : DcmInputFileStreamFactory(OFFilename(), offile_off_t(offset)), device_(&device), offset_(offset)
    {
    }

    DcmInputStream *create() const override { return new DeviceInputStream(*device_, offset_); }
    DcmInputStreamFactory *clone() const override { return new DeviceStreamFactory(*this); }

private:
    QIODevice *device_;
    qint64 offset_;
};

DcmInputStreamFactory *DeviceInputStream::newFactory() const
{
    // Behind a decompression filter (a deflated data set) values are read at once, as
    // DCMTK does for files.
    if (currentProducer() != &producer_)
        return nullptr;
    return new DeviceStreamFactory(device_, offset_ + qint64(tell()));
}

// What DcmFileFormat::loadFile does for a named file, for the device from its position.
OFCondition loadFromDevice(DcmFileFormat &ff, QIODevice &device)
{
    DeviceInputStream stream(device, device.pos());
    OFCondition result = stream.status();
    if (result.good())
        result = ff.clear();
    if (result.good()) {
        const E_FileReadMode oldMode = ff.getReadMode();
        ff.setReadMode(ERM_autoDetect);
        ff.transferInit();
        result = ff.read(stream, EXS_Unknown, EGL_noChange, maxHeaderElement);
        ff.transferEnd();
        ff.setReadMode(oldMode);
    }
    return result;
}

// False when an element of the data set declares more bytes than the file holds.
bool lengthsFitFile(DcmDataset &ds, qint64 fileSize)
{
    DcmStack stack;
    while (ds.nextObject(stack, OFTrue).good()) {
        DcmObject *obj = stack.top();
        if (obj && obj->isLeaf() && qint64(obj->getLength()) > fileSize)
            return false;
    }
    return true;
}

double numberOr(DcmDataset &ds, const DcmTagKey &key, unsigned long pos, double fallback, bool *found = nullptr)
{
    Float64 v = 0.0;
    const bool ok = ds.findAndGetFloat64(key, v, pos).good() && std::isfinite(v);
    if (found)
        *found = ok;
    return ok ? v : fallback;
}

struct PixelLayout {
    int rows = 0;
    int columns = 0;
    int frames = 1;
    int bitsAllocated = 0;
    int bitsStored = 0;
    int highBit = 0;
    bool isSigned = false;
    bool isFloat = false;
};

// Stored value of one sample: the BitsStored bits ending at HighBit, sign-extended
// for signed data.
qint64 storedValue(quint32 word, const PixelLayout &l)
{
    const int shift = l.highBit + 1 - l.bitsStored;
    const quint64 mask = (quint64(1) << l.bitsStored) - 1;
    quint64 v = (quint64(word) >> shift) & mask;
    if (l.isSigned && (v >> (l.bitsStored - 1)) & 1)
        return qint64(v) - (qint64(1) << l.bitsStored);
    return qint64(v);
}

bool readLayout(DcmDataset &ds, PixelLayout &l, QString &reason)
{
    Uint16 rows = 0, columns = 0, allocated = 0, stored = 0, high = 0, representation = 0, samples = 1;
    OFString photometric;
    ds.findAndGetUint16(DCM_Rows, rows);
    ds.findAndGetUint16(DCM_Columns, columns);
    ds.findAndGetUint16(DCM_BitsAllocated, allocated);
    if (ds.findAndGetUint16(DCM_BitsStored, stored).bad())
        stored = allocated;
    if (ds.findAndGetUint16(DCM_HighBit, high).bad())
        high = Uint16(stored - 1);
    ds.findAndGetUint16(DCM_PixelRepresentation, representation);
    ds.findAndGetUint16(DCM_SamplesPerPixel, samples);
    ds.findAndGetOFString(DCM_PhotometricInterpretation, photometric);
    Sint32 frames = 1;
    if (ds.findAndGetSint32(DCM_NumberOfFrames, frames).bad() || frames < 1)
        frames = 1;
    l.rows = rows;
    l.columns = columns;
    l.frames = int(frames);
    l.bitsAllocated = allocated;
    l.bitsStored = stored;
    l.highBit = high;
    l.isSigned = representation == 1;
    l.isFloat = ds.tagExists(DCM_FloatPixelData) && !ds.tagExists(DCM_PixelData);
    reason = QString::fromLatin1(skipReason::notSlices);
    if (!ds.tagExists(DCM_PixelData) && !l.isFloat)
        return false;  // a report, a structured document: no picture
    const bool grey =
        photometric == "MONOCHROME1" || photometric == "MONOCHROME2" || (photometric.empty() && samples == 1);
    if (!grey || samples != 1)
        return false;
    if (l.isFloat) {
        l.bitsAllocated = l.bitsStored = 32;
        l.highBit = 31;
    } else if (l.bitsAllocated != 8 && l.bitsAllocated != 16 && l.bitsAllocated != 32) {
        return false;
    }
    if (l.bitsStored < 1 || l.bitsStored > l.bitsAllocated || l.highBit < l.bitsStored - 1
        || l.highBit >= l.bitsAllocated)
        return false;
    reason = QString::fromLatin1(skipReason::unreadable);
    if (!sliceSizeAllowed(l.columns, l.rows))
        return false;
    return qint64(l.columns) * l.rows * l.frames <= maxStackFilePoints;
}

// Distances in millimetres beyond which a position or step is no measurement (a
// kilometre); steps below a nanometre likewise.
constexpr double maxPlausibleMm = 1e6;

bool plausibleStep(double mm)
{
    return std::isfinite(mm) && mm >= 1e-6 && mm <= maxPlausibleMm;
}

// False when PixelSpacing is given but no plausible distance (the file is refused).
bool readPlacement(DcmDataset &ds, SliceFile &out)
{
    OFString uid;
    if (ds.findAndGetOFString(DCM_SeriesInstanceUID, uid).good())
        out.dicom.seriesUid = QString::fromLatin1(uid.c_str());
    bool all = true;
    for (unsigned long i = 0; i < 3; ++i) {
        bool ok = false;
        out.dicom.position[i] = numberOr(ds, DCM_ImagePositionPatient, i, 0.0, &ok);
        all = all && ok;
    }
    for (unsigned long i = 0; i < 6; ++i) {
        bool ok = false;
        const double v = numberOr(ds, DCM_ImageOrientationPatient, i, 0.0, &ok);
        (i < 3 ? out.dicom.rowDir[i] : out.dicom.colDir[i - 3]) = v;
        all = all && ok;
    }
    // Geometry only when the directions are of unit length and at right angles and the
    // position is a place in a scanner: a zero vector gives no slice normal.
    const double *r = out.dicom.rowDir, *c = out.dicom.colDir;
    const double rowLength = std::sqrt(r[0] * r[0] + r[1] * r[1] + r[2] * r[2]);
    const double columnLength = std::sqrt(c[0] * c[0] + c[1] * c[1] + c[2] * c[2]);
    const double dot = r[0] * c[0] + r[1] * c[1] + r[2] * c[2];
    bool placed = std::fabs(rowLength - 1.0) < 0.01 && std::fabs(columnLength - 1.0) < 0.01 && std::fabs(dot) < 0.01;
    for (double p : out.dicom.position)
        placed = placed && std::fabs(p) < maxPlausibleMm;
    out.dicom.hasGeometry = all && placed;
    bool found = false;
    double gap = numberOr(ds, DCM_SpacingBetweenSlices, 0, 0.0, &found);
    if (!found || !plausibleStep(gap))
        gap = numberOr(ds, DCM_SliceThickness, 0, 0.0, &found);
    out.dicom.sliceGap = plausibleStep(gap) ? gap : 0.0;

    bool hasRow = false, hasColumn = false;
    const double rowStep = numberOr(ds, DCM_PixelSpacing, 0, 0.0, &hasRow);
    const double columnStep = numberOr(ds, DCM_PixelSpacing, 1, 0.0, &hasColumn);
    if (hasRow && hasColumn && (rowStep > 0.0 || columnStep > 0.0)
        && (!plausibleStep(rowStep) || !plausibleStep(columnStep)))
        return false;
    if (hasRow && hasColumn && rowStep > 0.0 && columnStep > 0.0) {
        out.spacing.x = columnStep;
        out.spacing.y = rowStep;
        out.hasSpacing = true;
        out.spacingUnit = QStringLiteral("mm");
    }
    if (out.dicom.sliceGap > 0.0) {
        out.spacing.z = out.dicom.sliceGap;
        out.hasSpacing = true;
    }
    return true;
}

// The frames of the (decoded) pixel data as slices.
bool readFrames(DcmDataset &ds, const PixelLayout &l, bool bigEndian, SliceFile &out)
{
    const qint64 perFrame = qint64(l.rows) * l.columns;
    const qint64 bytesPerSample = l.bitsAllocated / 8;
    const qint64 needed = perFrame * l.frames * bytesPerSample;
    double slope = numberOr(ds, DCM_RescaleSlope, 0, 1.0);
    double intercept = numberOr(ds, DCM_RescaleIntercept, 0, 0.0);
    if (l.isFloat) {
        const Float32 *floats = nullptr;
        unsigned long count = 0;
        if (ds.findAndGetFloat32Array(DCM_FloatPixelData, floats, &count).bad() || !floats
            || qint64(count) < perFrame * l.frames)
            return false;
        for (int f = 0; f < l.frames; ++f) {
            if (!reserveSliceMemory(perFrame * qint64(sizeof(float))))
                return false;
            auto s = std::make_unique<SliceData>();
            s->width = l.columns;
            s->height = l.rows;
            s->floats.assign(floats + perFrame * f, floats + perFrame * (f + 1));
            for (float &v : s->floats) {
                if (!std::isfinite(v))
                    v = 0.0f;
            }
            computeValueMinMax(*s);
            out.slices.push_back(std::move(s));
        }
        return true;
    }
    DcmElement *pixels = nullptr;
    if (ds.findAndGetElement(DCM_PixelData, pixels).bad() || !pixels)
        return false;
    const unsigned char *bytes = nullptr;
    if (l.bitsAllocated == 8) {
        Uint8 *b = nullptr;
        if (pixels->getUint8Array(b).good())
            bytes = b;
    }
    if (!bytes) {
        Uint16 *w = nullptr;
        if (pixels->getUint16Array(w).good())
            bytes = reinterpret_cast<const unsigned char *>(w);
    }
    if (!bytes || qint64(pixels->getLength()) < needed)
        return false;
    for (int f = 0; f < l.frames; ++f) {
        const qint64 keeps = l.bitsStored <= 16
            ? perFrame * 2
            : perFrame * qint64(sizeof(double)) + qint64(l.rows) * qint64(sizeof(std::vector<double>));
        if (!reserveSliceMemory(keeps))
            return false;
        auto s = std::make_unique<SliceData>();
        const unsigned char *frame = bytes + perFrame * bytesPerSample * f;
        auto wordAt = [&](qint64 i) -> quint32 {
            if (l.bitsAllocated == 8)
                return frame[i];
            if (l.bitsAllocated == 16) {
                quint16 v;
                std::memcpy(&v, frame + 2 * i, 2);
                return v;
            }
            quint32 v;
            std::memcpy(&v, frame + 4 * i, 4);
            // DCMTK swaps pixel data of a big-endian file word by word (as 16-bit
            // words): the two halves of a 32-bit value are then still in file order.
            if (bigEndian)
                v = (v << 16) | (v >> 16);
            return v;
        };
        if (l.bitsStored <= 16) {
            // Two bytes per point: the stored value, biased when signed, and the rescale.
            QImage img(l.columns, l.rows, QImage::Format_Grayscale16);
            if (img.isNull())
                return false;
            s->storedBias = l.isSigned ? 32768 : 0;
            s->rescaleSlope = slope;
            s->rescaleIntercept = intercept;
            for (int y = 0; y < l.rows; ++y) {
                quint16 *line = reinterpret_cast<quint16 *>(img.scanLine(y));
                for (int x = 0; x < l.columns; ++x)
                    line[x] = quint16(storedValue(wordAt(qint64(y) * l.columns + x), l) + s->storedBias);
            }
            s->image = img;
            s->computeImageMinMax();
        } else {
            s->width = l.columns;
            s->height = l.rows;
            s->values.assign(std::size_t(l.rows), std::vector<double>(std::size_t(l.columns), 0.0));
            for (int y = 0; y < l.rows; ++y) {
                for (int x = 0; x < l.columns; ++x)
                    s->values[std::size_t(y)][std::size_t(x)] =
                        double(storedValue(wordAt(qint64(y) * l.columns + x), l)) * slope + intercept;
            }
            computeValueMinMax(*s);
        }
        out.slices.push_back(std::move(s));
    }
    return true;
}

}  // namespace

bool looksLikeDicom(const QByteArray &head)
{
    return head.size() >= 132 && std::memcmp(head.constData() + 128, "DICM", 4) == 0;
}

bool readDicomFile(const QString &fname, const QByteArray &head, SliceFile &out) noexcept
{
    if (!looksLikeDicom(head))
        return false;
    try {
        QFile file(fname);
        if (file.open(QIODevice::ReadOnly) && readDicomFile(file, out))
            return true;
    } catch (...) {
        out.slices.clear();
    }
    out.isDicom = true;
    out.reason = QString::fromLatin1(skipReason::unreadable);
    return true;
}

bool readDicomFile(QIODevice &device, SliceFile &out) noexcept
{
    try {
        if (!device.isReadable() || !looksLikeDicom(device.peek(132)))
            return false;
    } catch (...) {
        return false;
    }
    out.isDicom = true;
    // Buffers that live only while the file is decoded (a deflated data set, the
    // decompressed frames) are reserved in the budget before they are made and given
    // back when they are freed, here on the way out.
    qint64 buffers = 0;
    struct Buffers {
        qint64 &bytes;
        ~Buffers() { releaseSliceMemory(bytes); }
    } giveBack{buffers};
    auto reserveBuffer = [&buffers](qint64 bytes) {
        if (!reserveSliceMemory(bytes))
            return false;
        buffers += bytes;
        return true;
    };
    try {
        setUpDcmtk();
        // Values are read when first used, from their place in the device.
        if (device.isSequential()) {
            out.reason = QString::fromLatin1(skipReason::unreadable);
            return true;
        }
        const qint64 start = device.pos();
        const qint64 fileSize = device.size() - start;
        // DCMTK reads nested sequences by recursion and inflates a deflated data set
        // whole: both are looked at first.
        qint64 inflated = 0;
        const std::function<bool(qint64)> grow = [&](qint64 total) {
            if (!reserveBuffer(total - inflated))
                return false;
            inflated = total;
            return true;
        };
        const DicomPrecheck pre = precheckDicom(device, grow);
        if (!device.seek(start) || (pre.deflated && pre.cut)) {
            out.reason = QString::fromLatin1(skipReason::unreadable);
            return true;
        }
        if (pre.tooDeep) {
            out.reason = QString::fromLatin1(skipReason::tooDeep);
            return true;
        }
        DcmFileFormat ff;
        if (loadFromDevice(ff, device).bad()) {
            out.reason = QString::fromLatin1(skipReason::unreadable);
            return true;
        }
        DcmDataset *ds = ff.getDataset();
        PixelLayout layout;
        const qint64 valuesSize = pre.deflated ? std::max(fileSize, pre.datasetBytes) : fileSize;
        if (!ds || !lengthsFitFile(*ds, valuesSize) || !readLayout(*ds, layout, out.reason))
            return true;
        out.reason = QString::fromLatin1(skipReason::unreadable);
        // The frames as DCMTK holds them once read or decompressed, before any is:
        // the compressed fragments (at most the file) beside them when encapsulated.
        // A deflated data set is in memory already, reserved as it was inflated.
        const bool encapsulated = DcmXfer(ds->getOriginalXfer()).isEncapsulated();
        qint64 frameBytes = qint64(layout.rows) * layout.columns * layout.frames * (layout.bitsAllocated / 8);
        if (encapsulated)
            frameBytes += fileSize;
        if (!pre.deflated && !reserveBuffer(frameBytes))
            return true;
        if (encapsulated) {
            if (ds->chooseRepresentation(EXS_LittleEndianExplicit, nullptr).bad()
                || !ds->canWriteXfer(EXS_LittleEndianExplicit))
                return true;
        }
        if (!readPlacement(*ds, out)) {
            out.reason = QString::fromLatin1(skipReason::badPixelSpacing);
            return true;
        }
        const bool bigEndian = DcmXfer(ds->getOriginalXfer()).getByteOrder() == EBO_BigEndian;
        if (!readFrames(*ds, layout, bigEndian, out))
            out.slices.clear();
        if (!out.slices.empty())
            out.reason.clear();
    } catch (...) {
        out.slices.clear();
        out.reason = QString::fromLatin1(skipReason::unreadable);
    }
    return true;
}
