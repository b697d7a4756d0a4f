// Real scan files: 16-bit pictures, TIFF stacks, DICOM series, the set's spacing,
// the skipped-files report, progress with Cancel, and every reader from memory.

#include <QAtomicInt>
#include <QBuffer>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QtEndian>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSemaphore>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "data/dicomseries.h"
#include "data/slicedata.h"
#include "data/slicefile.h"
#include "data/streamedvolume.h"
#include "data/tiffstack.h"
#include "data/zarrwriter.h"
#include "loaderrig.h"
#include "panelfixtures.h"
#include "tools/phantom.h"
#include "tools/scanwriters.h"
#include "ui/slicesctrl.h"

Q_DECLARE_METATYPE(scanwriters::TiffPage)
Q_DECLARE_METATYPE(scanwriters::Compression)

using scanwriters::DicomImage;
using scanwriters::TiffPage;

enum class Reader { Picture, RangeGrid, RangeGridReference, XyvGrid, XyvGridReference, Tiff, Dicom };
Q_DECLARE_METATYPE(Reader)

namespace {

// Samples of one kind as bytes: value i of each page is f(page, i).
template <typename T, typename F> TiffPage tiffPage(int w, int h, int sampleFormat, F f, int page)
{
    TiffPage p;
    p.width = w;
    p.height = h;
    p.bits = int(sizeof(T)) * 8;
    p.sampleFormat = sampleFormat;
    p.samples.resize(qsizetype(w) * h * qsizetype(sizeof(T)));
    for (int i = 0; i < w * h; ++i) {
        const T v = T(f(page, i));
        std::memcpy(p.samples.data() + qsizetype(i) * qsizetype(sizeof(T)), &v, sizeof v);
    }
    return p;
}

// The value of every point of a set, slice after slice.
QList<double> allValues(const SliceDatas &set)
{
    QList<double> out;
    for (const SliceData *s : set.slices)
        for (int y = 0; y < s->height; ++y)
            for (int x = 0; x < s->width; ++x)
                out << s->value(x, y);
    return out;
}

DicomImage ctSlice(int w, int h, int k, double z)
{
    DicomImage d;
    d.width = w;
    d.height = h;
    d.isSigned = true;
    d.slope = 2.0;
    d.intercept = -1000.0;
    d.stored.resize(std::size_t(w) * h);
    for (int i = 0; i < w * h; ++i)
        d.stored[std::size_t(i)] = -300 + k * 10 + i;  // several negative stored values
    d.position[0] = -5.0;
    d.position[1] = 7.0;
    d.position[2] = z;
    d.rowSpacing = 0.6;
    d.columnSpacing = 0.7;
    d.thickness = 2.5;
    d.instanceUid = QStringLiteral("2.25.77.%1").arg(k);
    return d;
}

// Reader r on the file at path, or on device when there is one: its answer, then what it
// filled, slice by slice (kind, size, range, every value), with the file's spacing,
// placement and reason, as text that shows the first difference.
QStringList readWith(Reader r, const QString &path, QIODevice *device)
{
    bool ok = false;
    SliceFile file;
    if (r == Reader::Tiff || r == Reader::Dicom) {
        QFile f(path);
        const QByteArray head = !device && f.open(QIODevice::ReadOnly) ? f.read(132) : QByteArray();
        if (r == Reader::Tiff)
            ok = device ? readTiffStack(*device, file) : readTiffStack(path, head, file);
        else
            ok = device ? readDicomFile(*device, file) : readDicomFile(path, head, file);
    } else {
        auto slice = std::make_unique<SliceData>();
        SliceData &s = *slice;
        if (r == Reader::Picture)
            ok = device ? s.load(*device) : s.load(path);
        else if (r == Reader::RangeGrid)
            ok = device ? s.readRangeGrid(*device) : s.readRangeGrid(path);
        else if (r == Reader::RangeGridReference)
            ok = device ? s.readRangeGridReference(*device) : s.readRangeGridReference(path);
        else if (r == Reader::XyvGrid)
            ok = device ? s.readXyvGrid(*device) : s.readXyvGrid(path);
        else
            ok = device ? s.readXyvGridReference(*device) : s.readXyvGridReference(path);
        file.slices.push_back(std::move(slice));  // kept when refused too, to show what it left
    }
    auto number = [](double v) { return QString::number(v, 'g', 17); };
    QStringList out{ok ? "ok" : "refused"};
    for (const auto &s : file.slices) {
        out << QStringLiteral("slice %1x%2 %3 %4..%5, values")
                   .arg(s->width)
                   .arg(s->height)
                   .arg(s->isImage ? "picture" : "values", number(s->minV), number(s->maxV));
        std::vector<double> row(std::size_t(std::max(s->width, 0)));
        for (int y = 0; y < s->height; ++y) {
            s->rowValues(y, row.data());
            for (double v : row)
                out.last() += u' ' + number(v);
        }
        if (!s->values.empty())
            out << "rows left";
    }
    out << "spacing " + number(file.spacing.x) + ' ' + number(file.spacing.y) + ' ' + number(file.spacing.z) + ' '
            + file.spacingUnit + (file.hasSpacing ? " given" : "")
        << "reason " + file.reason << "series " + file.dicom.seriesUid + " at " + number(file.dicom.position[2]);
    return out;
}

// A refusal: no slice given (a stack reader that took the file says why), and a slice
// reader's slice left without size or grid rows.
void verifyRefused(Reader r, const QStringList &got)
{
    const QString all = got.join(u'\n');
    if (r == Reader::Tiff || r == Reader::Dicom) {
        QVERIFY2(got.size() == 4 && (got.first() == "refused" || got.at(2) != "reason "), qPrintable(all));
        return;
    }
    QVERIFY2(got.size() == 5 && got.first() == "refused" && got.at(1).startsWith("slice 0x0 "), qPrintable(all));
}

// A random-access device over bytes whose reads fail from failAt on, as a disk or a
// network share may fail in the middle of a file.
class FailingDevice : public QIODevice
{
public:
    FailingDevice(const QByteArray &bytes, qint64 failAt) : bytes_(bytes), failAt_(failAt) { }
    qint64 size() const override { return bytes_.size(); }

protected:
    qint64 readData(char *data, qint64 maxSize) override
    {
        const qint64 at = pos();
        if (at >= failAt_)
            return -1;
        const qint64 n = std::min({maxSize, failAt_ - at, qint64(bytes_.size()) - at});
        std::memcpy(data, bytes_.constData() + at, std::size_t(n));
        return n;
    }
    qint64 writeData(const char *, qint64) override { return -1; }

private:
    const QByteArray bytes_;
    const qint64 failAt_;
};

QByteArray fileBytes(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

}  // namespace

class TestScanFiles : public QObject
{
    Q_OBJECT
private slots:
    void sixteenBitEndToEnd_data();
    void sixteenBitEndToEnd();
    void tiffStack_data();
    void tiffStack();
    void dicomSeriesStackedByPosition_data();
    void dicomSeriesStackedByPosition();
    void mixedListKeepsOrder();
    void hugeDeclaredSizesRefused_data();
    void hugeDeclaredSizesRefused();
    void memoryBudget_data();
    void memoryBudget();
    void skippedFilesLine();
    void cancelKeepsAccepted();
    void samplesLoad();
    void zarrFolderOpensAsOneSet();
    void readersFromMemory_data();
    void readersFromMemory();
    void hostileDicomSets_data();
    void hostileDicomSets();
    void dicomEncodings_data();
    void dicomEncodings();
    void buffersReservedBeforeDecoding_data();
    void buffersReservedBeforeDecoding();
    void tiffPagesLeftOut_data();
    void tiffPagesLeftOut();
};

void TestScanFiles::sixteenBitEndToEnd_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("16-bit grey PNG") << "png";
    QTest::newRow("16-bit TIFF, one page") << "tiff";
}

// A CT slice stored as 16-bit values 128 .. 2191 keeps them: in the slice, in the
// set's range and in the panel's range fields (once cut to 0 .. 9).
void TestScanFiles::sixteenBitEndToEnd()
{
    QFETCH(QString, kind);
    QTemporaryDir dir;
    const int w = 40, h = 30;
    auto valueAt = [](int i) { return 128 + (i * 1747) % 2064; };  // 128 .. 2191, first pixel 128
    QString path;
    if (kind == "png") {
        QImage img(w, h, QImage::Format_Grayscale16);
        for (int i = 0; i < w * h; ++i)
            reinterpret_cast<quint16 *>(img.scanLine(i / w))[i % w] = quint16(valueAt(i));
        reinterpret_cast<quint16 *>(img.scanLine(h - 1))[w - 1] = 2191;
        path = dir.filePath("ct16.png");
        QVERIFY(img.save(path, "PNG"));
    } else {
        TiffPage p = tiffPage<quint16>(
            w, h, 1, [&](int, int i) { return i == w * h - 1 ? 2191 : valueAt(i); }, 0);
        path = dir.filePath("ct16.tif");
        QVERIFY(scanwriters::writeTiff(path, {p}));
    }
    SliceFile file = readSliceFile(path);
    QCOMPARE(int(file.slices.size()), 1);
    const SliceData &s = *file.slices.front();
    QCOMPARE(s.minV, 128.0);
    QCOMPARE(s.maxV, 2191.0);
    QCOMPARE(s.image.format(), QImage::Format_Grayscale16);
    QCOMPARE(s.image.bytesPerLine(), qsizetype(2 * w));
    std::vector<double> row(static_cast<std::size_t>(w));
    for (int y = 0; y < h; ++y) {
        s.rowValues(y, row.data());
        for (int x = 0; x < w; ++x) {
            const double expected = (y == h - 1 && x == w - 1) ? 2191.0 : double(valueAt(y * w + x));
            QCOMPARE(s.value(x, y), expected);
            QCOMPARE(row[std::size_t(x)], expected);
        }
    }

    SlicesCtrl panel;
    QVERIFY(fixtures::loadThroughDialog(panel, {path}));
    QCOMPARE(panel.rMinV_->text(), QStringLiteral("128"));
    QCOMPARE(panel.rMaxV_->text(), QStringLiteral("2191"));
}

void TestScanFiles::tiffStack_data()
{
    QTest::addColumn<QList<TiffPage>>("pages");
    QTest::addColumn<QList<double>>("expected");  // every value of the set, slice after slice
    QTest::addColumn<QByteArray>("description");
    QTest::addColumn<double>("xres");
    QTest::addColumn<int>("resUnit");
    QTest::addColumn<double>("spacingX");
    QTest::addColumn<double>("spacingZ");
    QTest::addColumn<QString>("unit");

    const int w = 5, h = 3;
    auto rows = [&](auto sample, int fmt, auto value) {
        using T = decltype(sample);
        QList<TiffPage> pages;
        QList<double> expected;
        for (int k = 0; k < 3; ++k) {
            pages << tiffPage<T>(w, h, fmt, value, k);
            for (int i = 0; i < w * h; ++i)
                expected << double(T(value(k, i)));
        }
        return std::make_pair(pages, expected);
    };
    const QByteArray imagej = "ImageJ=1.54f\nimages=3\nslices=3\nunit=micron\nspacing=4\n";
    {
        auto [p, e] = rows(quint8(), 1, [](int k, int i) { return k * 40 + i * 7; });
        QTest::newRow("8-bit pages") << p << e << QByteArray() << 0.0 << 1 << 1.0 << 1.0 << QString();
    }
    {
        auto [p, e] = rows(qint8(), 2, [](int k, int i) { return -100 + k * 30 + i * 9; });
        QTest::newRow("8-bit signed") << p << e << QByteArray() << 0.0 << 1 << 1.0 << 1.0 << QString();
    }
    {
        auto [p, e] = rows(quint16(), 1, [](int k, int i) { return 60000 - k * 9000 - i * 1000; });
        QTest::newRow("16-bit, ImageJ spacing in microns")
            << p << e << imagej << 2.0 << 1 << 0.0005 << 0.004 << QString("mm");
    }
    {
        auto [p, e] = rows(qint16(), 2, [](int k, int i) { return -32768 + k * 20000 + i * 777; });
        QTest::newRow("16-bit signed, centimetre resolution")
            << p << e << QByteArray() << 4.0 << 3 << 2.5 << 1.0 << QString("mm");
    }
    {
        auto [p, e] = rows(quint32(), 1, [](int k, int i) { return 4000000000.0 - k * 1e9 - i; });
        QTest::newRow("32-bit unsigned") << p << e << QByteArray() << 0.0 << 1 << 1.0 << 1.0 << QString();
    }
    {
        auto [p, e] = rows(qint32(), 2, [](int k, int i) { return -2000000000 + k * 1000000000 + i; });
        QTest::newRow("32-bit signed, unitless resolution")
            << p << e << QByteArray() << 8.0 << 1 << 0.125 << 1.0 << QString();
    }
    {
        auto value = [](int k, int i) {
            if (i == 3)
                return std::numeric_limits<float>::quiet_NaN();
            if (i == 4)
                return -std::numeric_limits<float>::infinity();
            return float(k * 0.25 - i * 1.5e-3);
        };
        auto [p, e] = rows(float(), 3, value);
        for (int k = 0; k < 3; ++k)
            e[k * w * h + 3] = e[k * w * h + 4] = 0.0;  // non-finite samples read as 0
        QTest::newRow("32-bit float, non-finite as 0") << p << e << QByteArray() << 0.0 << 1 << 1.0 << 1.0 << QString();
    }
    {
        auto [p, e] = rows(double(), 3, [](int k, int i) { return 1e6 + k * 0.125 + i; });
        QTest::newRow("64-bit float") << p << e << QByteArray() << 0.0 << 1 << 1.0 << 1.0 << QString();
    }
}

void TestScanFiles::tiffStack()
{
    QFETCH(QList<TiffPage>, pages);
    QFETCH(QList<double>, expected);
    QFETCH(QByteArray, description);
    QFETCH(double, xres);
    QFETCH(int, resUnit);
    QFETCH(double, spacingX);
    QFETCH(double, spacingZ);
    QFETCH(QString, unit);
    QTemporaryDir dir;
    const QString path = dir.filePath("stack.tif");
    QVERIFY(scanwriters::writeTiff(path, pages, description, xres, xres, resUnit));

    LoaderRig rig(1);
    QVERIFY(rig.load({path}));
    QCOMPARE(rig.rec.events, expectedEvents({path}));
    QCOMPARE(int(rig.set.slices.size()), int(pages.size()));
    QCOMPARE(allValues(rig.set), expected);
    QCOMPARE(rig.set.acceptedFiles, QStringList{path});
    QVERIFY(qAbs(rig.set.spacing.x - spacingX) < 1e-6 * spacingX);
    QVERIFY(qAbs(rig.set.spacing.y - spacingX) < 1e-6 * spacingX);
    QVERIFY(qAbs(rig.set.spacing.z - spacingZ) < 1e-9);
    QCOMPARE(rig.set.spacingUnit, unit);
    // Both readings of every slice agree, so the renderer's paths read the same values.
    for (const SliceData *s : rig.set.slices) {
        std::vector<double> row(static_cast<std::size_t>(s->width));
        for (int y = 0; y < s->height; ++y) {
            s->rowValues(y, row.data());
            for (int x = 0; x < s->width; ++x)
                QCOMPARE(row[std::size_t(x)], s->value(x, y));
        }
    }
}

void TestScanFiles::dicomSeriesStackedByPosition_data()
{
    QTest::addColumn<scanwriters::Compression>("compression");
    QTest::addColumn<bool>("tilted");
    using C = scanwriters::Compression;
    QTest::newRow("uncompressed, axial") << C::None << false;
    QTest::newRow("RLE, axial") << C::Rle << false;
    QTest::newRow("JPEG lossless, axial") << C::JpegLossless << false;
    QTest::newRow("JPEG-LS lossless, axial") << C::JpegLs << false;
    QTest::newRow("uncompressed, sagittal") << C::None << true;
}

// Five slices chosen in shuffled order stack by position along the normal; values
// are stored * slope + intercept; spacing from PixelSpacing and the positions.
void TestScanFiles::dicomSeriesStackedByPosition()
{
    QFETCH(scanwriters::Compression, compression);
    QFETCH(bool, tilted);
    QTemporaryDir dir;
    const int w = 6, h = 4;
    const int order[] = {3, 0, 4, 1, 2};  // list position -> slice index
    QStringList files;
    QStringList stacked(5);
    for (int n = 0; n < 5; ++n) {
        const int k = order[n];
        DicomImage d = ctSlice(w, h, k, 0.0);
        d.compression = compression;
        const double along = 10.0 + 2.5 * k;
        if (tilted) {
            // Rows along y, columns along -z: the normal is -x.
            d.rowDir[0] = 0, d.rowDir[1] = 1, d.rowDir[2] = 0;
            d.colDir[0] = 0, d.colDir[1] = 0, d.colDir[2] = -1;
            d.position[0] = -along;
        } else {
            d.position[2] = along;
        }
        const QString path = dir.filePath(QStringLiteral("img%1.dcm").arg(n));
        QString error;
        QVERIFY2(scanwriters::writeDicom(path, d, &error), qPrintable(error));
        files << path;
        stacked[k] = path;
    }
    LoaderRig rig;
    QVERIFY(rig.load(files));
    QCOMPARE(rig.rec.events, expectedEvents(files));  // signals in list order
    QCOMPARE(rig.set.acceptedFiles, stacked);
    QCOMPARE(int(rig.set.slices.size()), 5);
    for (int k = 0; k < 5; ++k) {
        const SliceData *s = rig.set.slices[std::size_t(k)];
        QCOMPARE(s->image.format(), QImage::Format_Grayscale16);  // two bytes per point
        for (int i = 0; i < w * h; ++i)
            QCOMPARE(s->value(i % w, i / w), (-300 + k * 10 + i) * 2.0 - 1000.0);
    }
    QCOMPARE(rig.set.minV, -1600.0);
    QCOMPARE(rig.set.spacing.x, 0.7);
    QCOMPARE(rig.set.spacing.y, 0.6);
    QCOMPARE(rig.set.spacing.z, 2.5);
    QCOMPARE(rig.set.spacingUnit, QStringLiteral("mm"));
}

// Pictures, a TIFF stack, a grid file and a DICOM slice: list order, the stack's
// pages at its place; no reordering, as not every file is DICOM.
void TestScanFiles::mixedListKeepsOrder()
{
    QTemporaryDir dir;
    const int w = 6, h = 4;
    const QString png = dir.filePath("a.png");
    QVERIFY(greyPicture(w, h, 1).save(png, "PNG"));
    const QString tif = dir.filePath("b.tif");
    QList<TiffPage> pages;
    for (int k = 0; k < 3; ++k)
        pages << tiffPage<quint16>(
            w, h, 1, [](int p, int i) { return 1000 * (p + 1) + i; }, k);
    QVERIFY(scanwriters::writeTiff(tif, pages));
    const QString grid = dir.filePath("c.dat");
    {
        QFile f(grid);
        QVERIFY(f.open(QIODevice::WriteOnly));
        QByteArray text = "#MOLK-VEDez\n# Range_X0 = 0\n# Range_Y0 = 0\n# Range_X1 = 5\n# Range_Y1 = 3\n";
        for (int i = 0; i < w * h; ++i)
            text +=
                QByteArray::number(i % w) + " " + QByteArray::number(i / w) + " " + QByteArray::number(-7 - i) + "\n";
        f.write(text);
    }
    const QString dcm = dir.filePath("d.dcm");
    QVERIFY(scanwriters::writeDicom(dcm, ctSlice(w, h, 0, 1.0)));
    const QStringList files{dcm, png, tif, grid};

    LoaderRig rig;
    QVERIFY(rig.load(files));
    QCOMPARE(rig.rec.events, expectedEvents(files));
    QCOMPARE(rig.set.acceptedFiles, files);
    QCOMPARE(int(rig.set.slices.size()), 6);
    QCOMPARE(rig.set.slices[0]->value(0, 0), -1600.0);
    QCOMPARE(rig.set.slices[1]->value(0, 0), double(greyPicture(w, h, 1).pixel(0, 0) & 0xff));
    for (int k = 0; k < 3; ++k)
        QCOMPARE(rig.set.slices[std::size_t(2 + k)]->value(1, 0), 1000.0 * (k + 1) + 1);
    QCOMPARE(rig.set.slices[5]->value(0, 0), -7.0);
    QCOMPARE(rig.set.minV, -1600.0);
    QCOMPARE(rig.set.maxV, 3023.0);
    // The first file that gives a spacing sets it: the DICOM slice.
    QCOMPARE(rig.set.spacing.x, 0.7);
    QCOMPARE(rig.set.spacing.z, 2.5);
}

void TestScanFiles::hugeDeclaredSizesRefused_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("TIFF declaring 100000 x 100000") << "tiff";
    QTest::newRow("DICOM declaring 65535 x 65535 x 1000 frames") << "dicom";
}

// A small file declaring a huge picture is refused before anything is allocated.
void TestScanFiles::hugeDeclaredSizesRefused()
{
    QFETCH(QString, kind);
    QTemporaryDir dir;
    QString path;
    if (kind == "tiff") {
        path = dir.filePath("huge.tif");
        TiffPage p = tiffPage<quint16>(
            4, 4, 1, [](int, int i) { return i; }, 0);
        QVERIFY(scanwriters::writeTiff(path, {p, p}));
        // Both pages' widths and heights patched to 100000 (tags 256 and 257, type LONG or SHORT).
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadWrite));
        QByteArray bytes = f.readAll();
        QVERIFY(bytes.size() > 64);
        uchar *d = reinterpret_cast<uchar *>(bytes.data());
        int patched = 0;
        for (qsizetype at = 8; at + 12 <= bytes.size(); at += 2) {
            const quint16 tag = qFromLittleEndian<quint16>(d + at);
            const quint16 type = qFromLittleEndian<quint16>(d + at + 2);
            const quint32 count = qFromLittleEndian<quint32>(d + at + 4);
            if ((tag == 256 || tag == 257) && count == 1 && (type == 3 || type == 4)) {
                qToLittleEndian<quint16>(4, d + at + 2);
                qToLittleEndian<quint32>(100000, d + at + 8);
                ++patched;
            }
        }
        QVERIFY(patched >= 4);
        f.seek(0);
        f.write(bytes);
    } else {
        path = dir.filePath("huge.dcm");
        DicomImage d = ctSlice(4, 4, 0, 0.0);
        QVERIFY(scanwriters::writeDicom(path, d));
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadWrite));
        QByteArray bytes = f.readAll();
        // Rows and Columns (0028,0010), (0028,0011), explicit VR "US", length 2.
        for (const char *tag : {"\x28\x00\x10\x00US\x02\x00", "\x28\x00\x11\x00US\x02\x00"}) {
            const qsizetype at = bytes.indexOf(QByteArray(tag, 8));
            QVERIFY(at > 0);
            bytes[at + 8] = char(0xff);
            bytes[at + 9] = char(0xff);
        }
        f.seek(0);
        f.write(bytes);
    }
    SliceFile file = readSliceFile(path);
    QVERIFY(file.slices.empty());
    QVERIFY(!file.reason.isEmpty());
}

void TestScanFiles::memoryBudget_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<qint64>("budget");
    QTest::addColumn<int>("accepted");  // of five files, in list order
    // A 40 x 30 grey picture holds 1200 bytes, a grid of 40 x 30 doubles 9600; a 16-bit
    // page 2400, and while a stack decodes, one page's samples and scan line beside (2480).
    QTest::newRow("pictures, room for three") << "png" << qint64(3 * 1200 + 100) << 3;
    QTest::newRow("pictures, room for all") << "png" << qint64(5 * 1200) << 5;
    QTest::newRow("grids, room for two") << "grid" << qint64(2 * 9600 + 5000) << 2;
    QTest::newRow("stacks of three pages, room for one") << "tiff" << qint64(3 * 2400 + 2480 + 2000) << 1;
    QTest::newRow("declared 8192 x 8192 grids") << "huge grid" << qint64(100) << 0;
}

// Files whose slices would pass the load's memory budget are skipped before their
// slices are allocated; those before them are kept.
void TestScanFiles::memoryBudget()
{
    QFETCH(QString, kind);
    QFETCH(qint64, budget);
    QFETCH(int, accepted);
    QTemporaryDir dir;
    QStringList files;
    for (int i = 0; i < 5; ++i) {
        const QString path = dir.filePath(QStringLiteral("f%1").arg(i));
        if (kind == "png") {
            QVERIFY(greyPicture(40, 30, i).save(path, "PNG"));
        } else if (kind == "tiff") {
            QList<TiffPage> pages;
            for (int k = 0; k < 3; ++k)
                pages << tiffPage<quint16>(
                    40, 30, 1, [i](int p, int n) { return i * 100 + p + n; }, k);
            QVERIFY(scanwriters::writeTiff(path, pages));
        } else {
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly));
            const QByteArray last = kind == "grid" ? "39" : "8191";
            const QByteArray lastRow = kind == "grid" ? "29" : "8191";
            f.write("#MOLK-VEDez\n# Range_X0 = 0\n# Range_Y0 = 0\n# Range_X1 = " + last + "\n# Range_Y1 = " + lastRow
                    + "\n0 0 1\n1 0 " + QByteArray::number(2 + i) + "\n");
        }
        files << path;
    }
    LoaderRig rig(1);
    rig.set.setMemoryBudget(budget);
    QVERIFY(rig.load(files));
    QCOMPARE(rig.set.acceptedFiles, files.mid(0, accepted));
    QCOMPARE(int(rig.set.skipped.size()), 5 - accepted);
    for (const SkippedFile &f : std::as_const(rig.set.skipped))
        QCOMPARE(f.reason, QStringLiteral("not enough memory for this slice"));
    qint64 held = 0;
    for (const SliceData *s : rig.set.slices)
        held += sliceBytes(*s);
    QVERIFY(held <= budget);
}

// The set's line, the count of skipped files and a tool tip naming each with its reason.
void TestScanFiles::skippedFilesLine()
{
    QTemporaryDir dir;
    const QString good = dir.filePath("good.png");
    const QString small = dir.filePath("small.png");
    const QString flat = dir.filePath("flat.png");
    const QString garbage = dir.filePath("notes.txt");
    const QString missing = dir.filePath("missing.png");
    QVERIFY(greyPicture(16, 8, 1).save(good, "PNG"));
    QVERIFY(greyPicture(8, 8, 2).save(small, "PNG"));
    QImage f(16, 8, QImage::Format_Grayscale8);
    f.fill(9);
    QVERIFY(f.save(flat, "PNG"));
    QVERIFY(fixtures::writeGarbage(garbage));

    SlicesCtrl panel;
    QVERIFY(panel.skippedInfo_->isHidden());
    QVERIFY(fixtures::loadThroughDialog(panel, {good, small, flat, garbage, missing}));
    QCOMPARE(panel.setInfo_->text(), QStringLiteral("1 slice · 16 × 8 · 1 × 1 × 1"));
    QVERIFY(!panel.skippedInfo_->isHidden());
    QCOMPARE(panel.skippedInfo_->text(), QStringLiteral("4 files skipped"));
    const QString tip = panel.skippedInfo_->toolTip();
    const QStringList expected{QDir::toNativeSeparators(small) + ": other size than the first",
                               QDir::toNativeSeparators(flat) + ": all values equal",
                               QDir::toNativeSeparators(garbage) + ": not a slice file we can read",
                               QDir::toNativeSeparators(missing) + ": not found"};
    qsizetype at = 0;
    for (const QString &line : expected) {
        const qsizetype found = tip.indexOf(line.toHtmlEscaped(), at);
        QVERIFY2(found >= at, qPrintable(line + " in " + tip));
        at = found + 1;
    }

    // A typed spacing shows in the line; a clean load hides the skipped line.
    fixtures::typeInto(panel.spacingZ_, "2.5");
    QCOMPARE(panel.setInfo_->text(), QStringLiteral("1 slice · 16 × 8 · 1 × 1 × 2.5"));
    QCOMPARE(panel.spacing().z, 2.5);
    QVERIFY(fixtures::loadThroughDialog(panel, {good, good}));
    QVERIFY(panel.skippedInfo_->isHidden());
    QCOMPARE(panel.setInfo_->text(), QStringLiteral("2 slices · 16 × 8 · 1 × 1 × 1"));
}

// Cancel while the second of four files is being accepted: the progress bar and
// Cancel show while the load runs, two files are kept and published, the bar goes.
void TestScanFiles::cancelKeepsAccepted()
{
    QTemporaryDir dir;
    QStringList files;
    for (int i = 0; i < 4; ++i) {
        files << dir.filePath(QStringLiteral("s%1.png").arg(i));
        QVERIFY(greyPicture(8, 8, i).save(files.last(), "PNG"));
    }
    SlicesCtrl panel;
    panel.sliceDatas.setLoadWorkers(1);
    QSemaphore inSecond, goOn;
    QAtomicInt held = 0;
    QObject ctx;
    connect(
        &panel.sliceDatas, &SliceDatas::loadedNewFile, &ctx,
        [&](const QString &f) {
            if (f == files.at(1) && held.testAndSetOrdered(0, 1)) {
                inSecond.release();
                goOn.acquire();
            }
        },
        Qt::DirectConnection);
    // Counted in this thread, after the panel's own slot (connected first) has run.
    int finished = 0;
    connect(&panel.sliceDatas, &SliceDatas::loadFilesFinished, &ctx, [&finished] { ++finished; });
    QTest::mouseClick(panel.selectB_, Qt::LeftButton);
    emit panel.fileDialog->filesSelected(files);
    QVERIFY(QTest::qWaitFor([&] { return inSecond.tryAcquire(); }, 20000));
    QTRY_VERIFY(panel.loadProgress_->isVisibleTo(&panel));
    QVERIFY(panel.cancelLoad_->isVisibleTo(&panel));
    QCOMPARE(panel.loadProgress_->maximum(), 4);
    QCOMPARE(panel.loadProgress_->value(), 2);
    QTest::mouseClick(panel.cancelLoad_, Qt::LeftButton);
    goOn.release();
    QTRY_COMPARE_WITH_TIMEOUT(finished, 1, 20000);
    QTRY_COMPARE(panel.nameList_->count(), 2);
    QVERIFY(!panel.loadProgress_->isVisibleTo(&panel));
    QVERIFY(!panel.cancelLoad_->isVisibleTo(&panel));
    {
        SliceDatas::ReadGuard g(panel.sliceDatas);
        QVERIFY(panel.sliceDatas.loaded);
        QCOMPARE(int(panel.sliceDatas.slices.size()), 2);
        QCOMPARE(panel.sliceDatas.acceptedFiles, files.mid(0, 2));
    }
    QCOMPARE(panel.setInfo_->text(), QStringLiteral("2 slices · 8 × 8 · 1 × 1 × 1"));

    // The next load is not cancelled by the earlier press.
    QVERIFY(fixtures::loadThroughDialog(panel, files));
    QCOMPARE(panel.nameList_->count(), 4);
}

// The samples the generator writes load as the guide says: the CT series in
// Hounsfield units stacked by position, the 16-bit stack with its spacing.
void TestScanFiles::samplesLoad()
{
    QTemporaryDir dir;
    QString error;
    QVERIFY2(phantom::writeCtSeries(dir.filePath("ct"), &error), qPrintable(error));
    QVERIFY2(phantom::writeHeadTiff(dir.filePath("head16.tif"), &error), qPrintable(error));

    QStringList ct = QDir(dir.filePath("ct")).entryList(QDir::Files, QDir::Name);
    for (QString &f : ct)
        f = dir.filePath("ct/" + f);
    SlicesCtrl panel;
    QVERIFY(fixtures::loadThroughDialog(panel, ct));
    QCOMPARE(panel.setInfo_->text(), QStringLiteral("24 slices · 128 × 128 · 0.5 × 0.5 × 2 mm"));
    QCOMPARE(panel.rMinV_->text(), QStringLiteral("-1000"));
    QCOMPARE(panel.rMaxV_->text(), QStringLiteral("1000"));
    QCOMPARE(panel.nameList_->itemText(0), dir.filePath("ct/" + phantom::ctFileName(0)));
    {
        SliceDatas::ReadGuard g(panel.sliceDatas);
        for (int k : {0, 11, 23})
            QCOMPARE(panel.sliceDatas.slices[std::size_t(k)]->value(64, 40), double(phantom::ctValue(k, 64, 40)));
    }

    QVERIFY(fixtures::loadThroughDialog(panel, {dir.filePath("head16.tif")}));
    QCOMPARE(panel.setInfo_->text(), QStringLiteral("64 slices · 128 × 128 · 0.75 × 0.75 × 1.5 mm"));
    QCOMPARE(panel.spacing().z, 1.5);
    {
        SliceDatas::ReadGuard g(panel.sliceDatas);
        QCOMPARE(panel.sliceDatas.slices[30]->value(64, 64), double(phantom::tiffValue(30, 64, 64)));
        QCOMPARE(panel.sliceDatas.minV, 0.0);
        QVERIFY(panel.sliceDatas.maxV >= 20000.0);  // the skull, far above the 8-bit range
    }
}


void TestScanFiles::readersFromMemory_data()
{
    QTest::addColumn<Reader>("reader");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("suffix");
    QTest::addColumn<int>("shortLength");  // a prefix that must be refused
    QTest::addColumn<int>("failAt");  // reads fail from here on

    QByteArray png;
    QBuffer out(&png);
    QVERIFY(out.open(QIODevice::WriteOnly) && greyPicture(40, 30, 3).save(&out, "PNG"));
    QTest::newRow("PNG picture") << Reader::Picture << png << ".png" << int(png.size() / 2) << int(png.size() / 2);
    // Grids: cut before the first record, reads failing after it.
    const QByteArray range = "#MOLK-VEDez\r\n# Range_X1 : 3\n# Range_Y1 : 2\n0 0 1.5\n3 2 -0.25\n1 1 7e2\n";
    const int rangeAt = int(range.indexOf("0 0")), rangeNext = int(range.indexOf("3 2"));
    QTest::newRow("range grid") << Reader::RangeGrid << range << ".dat" << rangeAt << rangeNext;
    QTest::newRow("range grid, reference") << Reader::RangeGridReference << range << ".dat" << rangeAt << rangeNext;
    // A line the fast reader cannot hold: it hands the whole device to the reference reader.
    const QByteArray crs = range.left(rangeAt) + QByteArray(5 << 20, '\r') + "\n" + range.mid(rangeAt);
    QTest::newRow("range grid, a line too long to hold")
        << Reader::RangeGrid << crs << ".dat" << rangeAt << rangeAt + (1 << 20);
    const QByteArray xyv = "\xef\xbb\xbf## 240301\n# X-NUM 3\n# Y-NUM 3\n10,20,0.5\n11 20 0.75\n10 21 1.0\n";
    const int xyvAt = int(xyv.indexOf("10,20")), xyvNext = int(xyv.indexOf("11 20"));
    QTest::newRow("XYV grid") << Reader::XyvGrid << xyv << ".dat" << xyvAt << xyvNext;
    QTest::newRow("XYV grid, reference") << Reader::XyvGridReference << xyv << ".dat" << xyvAt << xyvNext;

    QTemporaryDir dir;
    auto value = [](int k, int i) { return 60000 - k * 9000 - i * 100; };
    QVERIFY(scanwriters::writeTiff(dir.filePath("a.tif"),
                                   {tiffPage<quint16>(7, 5, 1, value, 0), tiffPage<quint16>(7, 5, 1, value, 1)},
                                   "ImageJ=1.54f\nimages=2\nunit=mm\nspacing=2.5\n", 4.0, 4.0, 1));
    const QByteArray tif = fileBytes(dir.filePath("a.tif"));
    // Cut where the first directory starts: no page can be read.
    const int directory = int(qFromLittleEndian<quint32>(tif.constData() + 4));
    QTest::newRow("TIFF stack with spacing") << Reader::Tiff << tif << ".tif" << directory << directory;
    // Pixel data longer than the header's read limit (4 KiB): read when first used,
    // through a stream over the device.
    for (const auto compression : {scanwriters::Compression::None, scanwriters::Compression::Rle}) {
        DicomImage d = ctSlice(64, 48, 1, 12.5);
        d.frames = 2;
        d.stored.resize(std::size_t(2 * 64 * 48));
        for (std::size_t i = 0; i < d.stored.size(); ++i)
            d.stored[i] = int((i * 7919) % 4001) - 2000;
        d.compression = compression;
        QVERIFY(scanwriters::writeDicom(dir.filePath("a.dcm"), d));
        const QByteArray dcm = fileBytes(dir.filePath("a.dcm"));
        QTest::newRow(compression == scanwriters::Compression::Rle ? "DICOM, RLE frames" : "DICOM, plain frames")
            << Reader::Dicom << dcm << ".dcm" << int(dcm.size() / 2) << int(dcm.size() / 2);
    }
}

// Every reader gives from bytes what it gives for a file of those bytes (also where
// they start further into the device), and refuses the bytes cut short, a device
// whose reads fail and a device not open.
void TestScanFiles::readersFromMemory()
{
    QFETCH(Reader, reader);
    QFETCH(QByteArray, bytes);
    QFETCH(QString, suffix);
    QFETCH(int, shortLength);
    QFETCH(int, failAt);
    QTemporaryDir dir;
    const QString path = dir.filePath("slice" + suffix);
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
    file.close();
    const QStringList byName = readWith(reader, path, nullptr);
    QVERIFY2(byName.first() == "ok" && byName.at(1).startsWith("slice"), qPrintable(byName.join(u'\n')));

    QBuffer whole(&bytes);
    QVERIFY(whole.open(QIODevice::ReadOnly));
    QCOMPARE(readWith(reader, {}, &whole), byName);
    QByteArray after = QByteArray(17, '\x01') + bytes;
    QBuffer later(&after);
    QVERIFY(later.open(QIODevice::ReadOnly) && later.seek(17));
    QCOMPARE(readWith(reader, {}, &later), byName);

    QByteArray cut = bytes.left(shortLength);
    QBuffer shortDevice(&cut);
    QVERIFY(shortDevice.open(QIODevice::ReadOnly));
    verifyRefused(reader, readWith(reader, {}, &shortDevice));
    FailingDevice failing(bytes, failAt);
    QVERIFY(failing.open(QIODevice::ReadOnly | QIODevice::Unbuffered));
    verifyRefused(reader, readWith(reader, {}, &failing));
    QBuffer closed(&bytes);
    verifyRefused(reader, readWith(reader, {}, &closed));
}

// "Open Folder…" reaches the panel's private slot through this door.
struct SlicesCtrlTestAccess {
    static void folderSelected(SlicesCtrl &panel, const QString &dir) { panel.folderSelected(dir); }
};

void TestScanFiles::zarrFolderOpensAsOneSet()
{
    // An OME-Zarr folder chosen with "Open Folder…" is one set; with a budget below its
    // finest level (128 x 64 x 32 words, 512 KiB) the next level is loaded, and the
    // set's line says which.
    QTemporaryDir dir;
    const QString zarr = dir.filePath("scan.zarr");
    ZarrPyramidWriter writer;
    ZarrPyramidWriter::Options o;
    o.chunk = o.chunkDepth = 16;
    o.type = SampleType::u16;
    o.spacing = Spacing{0.5, 0.5, 2.0};
    o.unit = QStringLiteral("mm");
    QCOMPARE(writer.start(zarr, 128, 64, o), QString());
    std::vector<quint16> slice(128 * 64);
    for (int z = 0; z < 32; ++z) {
        for (std::size_t i = 0; i < slice.size(); ++i)
            slice[i] = quint16(i % 1000 + z);
        QCOMPARE(writer.addSlice(reinterpret_cast<const unsigned char *>(slice.data())), QString());
    }
    QCOMPARE(writer.finish(), QString());
    SlicesCtrl panel;
    panel.sliceDatas.setMemoryBudget(300 << 10);
    // The set is loaded in the panel's loader thread; its line is written once the load
    // is done.
    SlicesCtrlTestAccess::folderSelected(panel, zarr);
    // In memory: the held slices (16 of 64 x 32 words) and no chunk yet, of the finest
    // level's 512 KiB.
    QTRY_COMPARE_WITH_TIMEOUT(
        panel.setInfo_->text(),
        QStringLiteral("16 slices · 64 × 32 · 1 × 1 × 4 mm · 128 × 64 × 32 · level 1 of 4 · 64 KiB of 512 KiB in memory"),
        20000);
    // A picture drawn from the finest level's chunks, two of them read.
    panel.sliceDatas.stream->get(0, 0, 0, 0);
    panel.sliceDatas.stream->get(0, 1, 3, 7);
    panel.showDrawnLevel(0);
    QCOMPARE(panel.setInfo_->text(),
             QStringLiteral("16 slices · 64 × 32 · 1 × 1 × 4 mm · 128 × 64 × 32 · level 0 of 4 · 80 KiB of 512 KiB in memory"));
}

// Hostile DICOM sets: each gets its refusal, its skipped entries or the right order,
// and the set's line says when a series was split or left in list order.
void TestScanFiles::hostileDicomSets_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<int>("accepted");  // slices kept
    QTest::addColumn<QStringList>("skipped");  // "file: reason", file by its list position
    QTest::addColumn<QString>("stacking");
    const QString tooDeep = QStringLiteral("sequences nested too deeply");
    QTest::newRow("nested 10000 deep between good slices")
        << "deep 10000" << 2 << QStringList{"1: " + tooDeep} << QString();
    QTest::newRow("nested as deep as allowed") << "deep 32" << 3 << QStringList() << QString();
    QTest::newRow("nested one level deeper") << "deep 33" << 2 << QStringList{"1: " + tooDeep} << QString();
    QTest::newRow("rescale slope 1e308") << "slope" << 2 << QStringList{"1: values beyond the range of numbers"}
                                         << QString();
    QTest::newRow("pixel spacing 1e308") << "spacing" << 2 << QStringList{"1: pixel spacing out of range"} << QString();
    QTest::newRow("axial and sagittal slices of one series")
        << "sagittal" << 3
        << QStringList{"3: slices in another orientation than the set's",
                       "4: slices in another orientation than the set's"}
        << "series split: kept 3 of 5 files, one series in one orientation";
    QTest::newRow("two interleaved series")
        << "interleaved" << 3 << QStringList{"1: another series than the set's", "3: another series than the set's"}
        << "series split: kept 3 of 5 files, one series in one orientation";
    QTest::newRow("duplicate positions") << "duplicate" << 2 << QStringList{"2: same position as another slice"}
                                         << QString();
    QTest::newRow("a zero orientation vector")
        << "zero orientation" << 3 << QStringList() << "list order: 1 of 3 files give no position";
    QTest::newRow("a file without a position")
        << "no position" << 3 << QStringList() << "list order: 1 of 3 files give no position";
}

void TestScanFiles::hostileDicomSets()
{
    QFETCH(QString, kind);
    QFETCH(int, accepted);
    QFETCH(QStringList, skipped);
    QFETCH(QString, stacking);
    QTemporaryDir dir;
    const int count = kind == "sagittal" || kind == "interleaved" ? 5 : 3;
    QStringList files;
    for (int n = 0; n < count; ++n) {
        // Written in reverse order of position, so that stacking by position shows.
        DicomImage d = ctSlice(6, 4, n, 10.0 - 2.5 * n);
        if (n == 1 && kind == "slope")
            d.slope = 1e308;
        if (n == 1 && kind == "spacing")
            d.rowSpacing = d.columnSpacing = 1e308;
        if (n >= 3 && kind == "sagittal") {
            d.rowDir[0] = 0, d.rowDir[1] = 1, d.rowDir[2] = 0;
            d.colDir[0] = 0, d.colDir[1] = 0, d.colDir[2] = -1;
        }
        if (n % 2 == 1 && kind == "interleaved") {
            d.seriesUid = QStringLiteral("2.25.99");
            d.position[2] = 0.5 + n;  // its own places
        }
        if (n == 2 && kind == "duplicate")
            d.position[2] = 10.0 - 2.5;
        if (n == 1 && kind == "zero orientation")
            d.rowDir[0] = 0;
        if (n == 1 && kind == "no position")
            d.hasGeometry = false;
        const QString path = dir.filePath(QStringLiteral("s%1.dcm").arg(n));
        QString error;
        QVERIFY2(scanwriters::writeDicom(path, d, &error), qPrintable(error));
        if (n == 1 && kind.startsWith("deep"))
            QVERIFY2(scanwriters::appendNestedSequences(path, kind.mid(5).toInt(), &error), qPrintable(error));
        files << path;
    }
    LoaderRig rig;
    QVERIFY(rig.load(files));
    QCOMPARE(int(rig.set.slices.size()), accepted);
    QStringList got;
    for (const SkippedFile &f : std::as_const(rig.set.skipped))
        got << QStringLiteral("%1: %2").arg(files.indexOf(f.file)).arg(f.reason);
    QCOMPARE(got, skipped);
    QCOMPARE(rig.set.stacking.english(), stacking);
    QVERIFY(std::isfinite(rig.set.minV) && std::isfinite(rig.set.maxV));
    // Stacked by position (ascending), unless list order was said.
    QStringList order = rig.set.acceptedFiles;
    if (stacking.startsWith("list order"))
        QCOMPARE(order, files);
    else if (kind != "interleaved")
        QVERIFY2(std::is_sorted(order.rbegin(), order.rend()), qPrintable(order.join(' ')));
    if (kind == "duplicate")
        QCOMPARE(rig.set.spacing.z, 2.5);
}

void TestScanFiles::dicomEncodings_data()
{
    QTest::addColumn<scanwriters::Compression>("compression");
    QTest::addColumn<int>("bits");
    QTest::addColumn<bool>("fromMemory");
    using C = scanwriters::Compression;
    QTest::newRow("32-bit, little endian") << C::None << 32 << false;
    QTest::newRow("32-bit, big endian") << C::BigEndian << 32 << false;
    QTest::newRow("16-bit, big endian") << C::BigEndian << 16 << false;
    QTest::newRow("deflated data set") << C::Deflated << 16 << false;
    QTest::newRow("deflated data set, from memory") << C::Deflated << 16 << true;
}

// Every encoding gives the stored values times the slope plus the intercept.
void TestScanFiles::dicomEncodings()
{
    QFETCH(scanwriters::Compression, compression);
    QFETCH(int, bits);
    QFETCH(bool, fromMemory);
    QTemporaryDir dir;
    DicomImage d = ctSlice(64, 48, 0, 0.0);
    d.compression = compression;
    d.bits = bits;
    for (std::size_t i = 0; i < d.stored.size(); ++i)
        d.stored[i] = bits == 32 ? qint64(i) * 70001 - 100000000 : qint64(i % 4001) - 2000;
    const QString path = dir.filePath("ct.dcm");
    QString error;
    QVERIFY2(scanwriters::writeDicom(path, d, &error), qPrintable(error));
    SliceFile file;
    if (fromMemory) {
        QByteArray bytes = fileBytes(path);
        QBuffer buffer(&bytes);
        QVERIFY(buffer.open(QIODevice::ReadOnly));
        QVERIFY(readDicomFile(buffer, file));
    } else {
        file = readSliceFile(path);
    }
    QVERIFY2(file.slices.size() == 1, qPrintable(file.reason));
    const SliceData &s = *file.slices.front();
    for (int i = 0; i < 64 * 48; ++i)
        QCOMPARE(s.value(i % 64, i / 64), double(d.stored[std::size_t(i)]) * 2.0 - 1000.0);
}

void TestScanFiles::buffersReservedBeforeDecoding_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("reason");
    const QString noMemory = QStringLiteral("not enough memory for this slice");
    QTest::newRow("JPEG-LS declaring 8 frames of 8192 x 8192") << "jpegls" << noMemory;
    QTest::newRow("RLE declaring 8 frames of 8192 x 8192") << "rle" << noMemory;
    QTest::newRow("deflated data set of 80 MiB") << "deflated" << noMemory;
    QTest::newRow("TIFF of 17 pages of 8192 x 8192") << "tiff"
                                                     << "more points than one file may hold";
}

// Small files declaring big frames are refused by the budget (64 MiB) before a frame
// is decoded: a decoder given the patched sizes would fail only after allocating them.
void TestScanFiles::buffersReservedBeforeDecoding()
{
    QFETCH(QString, kind);
    QFETCH(QString, reason);
    QTemporaryDir dir;
    const QString path = dir.filePath("bomb");
    if (kind == "tiff") {
        QList<TiffPage> pages;
        for (int k = 0; k < 17; ++k)
            pages << tiffPage<quint16>(
                4, 4, 1, [](int p, int i) { return p + i; }, k);
        QVERIFY(scanwriters::writeTiff(path, pages));
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadWrite));
        QByteArray bytes = f.readAll();
        uchar *b = reinterpret_cast<uchar *>(bytes.data());
        int patched = 0;
        for (qsizetype at = 8; at + 12 <= bytes.size(); at += 2) {
            const quint16 tag = qFromLittleEndian<quint16>(b + at);
            const quint16 type = qFromLittleEndian<quint16>(b + at + 2);
            if ((tag == 256 || tag == 257) && qFromLittleEndian<quint32>(b + at + 4) == 1 && (type == 3 || type == 4)
                && qFromLittleEndian<quint16>(b + at + 8) == 4) {
                qToLittleEndian<quint16>(4, b + at + 2);
                qToLittleEndian<quint32>(8192, b + at + 8);
                ++patched;
            }
        }
        QCOMPARE(patched, 34);
        f.seek(0);
        f.write(bytes);
    } else {
        DicomImage d = ctSlice(16, 16, 0, 0.0);
        d.frames = kind == "deflated" ? 160 : 8;
        d.width = d.height = kind == "deflated" ? 512 : 16;
        d.stored.assign(std::size_t(d.width) * d.height * d.frames, 0);
        using C = scanwriters::Compression;
        d.compression = kind == "jpegls" ? C::JpegLs : kind == "rle" ? C::Rle : C::Deflated;
        QString error;
        QVERIFY2(scanwriters::writeDicom(path, d, &error), qPrintable(error));
        if (kind != "deflated") {
            QFile f(path);
            QVERIFY(f.open(QIODevice::ReadWrite));
            QByteArray bytes = f.readAll();
            for (const char *tag : {"\x28\x00\x10\x00US\x02\x00", "\x28\x00\x11\x00US\x02\x00"}) {
                const qsizetype at = bytes.indexOf(QByteArray(tag, 8));
                QVERIFY(at > 0);
                qToLittleEndian<quint16>(8192, bytes.data() + at + 8);
            }
            f.seek(0);
            f.write(bytes);
        }
        QVERIFY(QFileInfo(path).size() < 1 << 20);
    }
    SliceBudget budget(qint64(64) << 20);
    const SliceFile file = readSliceFile(path, &budget);
    QVERIFY(file.slices.empty());
    QCOMPARE(file.reason, reason);
    // Everything reserved was given back.
    QVERIFY(budget.reserve(qint64(64) << 20));
}

void TestScanFiles::tiffPagesLeftOut_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<int>("slices");
    QTest::addColumn<QStringList>("skipped");
    QTest::newRow("a page of another size") << "size" << 2 << QStringList{"page 2: other size than the first"};
    QTest::newRow("a page of a type not read") << "type" << 2 << QStringList{"page 2: not a slice file we can read"};
    QTest::newRow("a page whose samples lie past the end") << "cut" << 2 << QStringList{"page 2: unreadable"};
    QTest::newRow("pages each of one value, all different") << "flat" << 3 << QStringList();
}

// A stack missing some of its pages says which and why; pages each flat but different
// from one another are a volume.
void TestScanFiles::tiffPagesLeftOut()
{
    QFETCH(QString, kind);
    QFETCH(int, slices);
    QFETCH(QStringList, skipped);
    QTemporaryDir dir;
    const QString path = dir.filePath("stack.tif");
    QList<TiffPage> pages;
    for (int k = 0; k < 3; ++k) {
        const bool odd = k == 1;
        if (odd && kind == "type")
            pages << tiffPage<quint64>(
                8, 8, 1, [](int, int i) { return i; }, k);
        else
            pages << tiffPage<quint16>(
                odd && kind == "size" ? 4 : 8, 8, 1, [&kind](int p, int i) { return kind == "flat" ? 100 * p : p + i; },
                k);
    }
    QVERIFY(scanwriters::writeTiff(path, pages));
    if (kind == "cut") {
        // The second page's strip offset (tag 273) moved past the end of the file.
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadWrite));
        QByteArray bytes = f.readAll();
        uchar *b = reinterpret_cast<uchar *>(bytes.data());
        int seen = 0;
        for (qsizetype at = 8; at + 12 <= bytes.size(); at += 2) {
            if (qFromLittleEndian<quint16>(b + at) == 273 && qFromLittleEndian<quint32>(b + at + 4) == 1
                && ++seen == 2) {
                qToLittleEndian<quint32>(0x7ffffff0, b + at + 8);
                break;
            }
        }
        QCOMPARE(seen, 2);
        f.seek(0);
        f.write(bytes);
    }
    LoaderRig rig;
    QVERIFY(rig.load({path}));
    QCOMPARE(int(rig.set.slices.size()), slices);
    QStringList got;
    for (const SkippedFile &f : std::as_const(rig.set.skipped))
        got << QStringLiteral("%1: %2").arg(f.file.mid(path.size() + 2), f.reason);
    QCOMPARE(got, skipped);
}

QTEST_MAIN(TestScanFiles)
#include "tst_scanfiles.moc"
