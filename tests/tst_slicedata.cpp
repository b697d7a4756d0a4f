#include <QBuffer>
#include <QMetaEnum>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>
#include <limits>

#include "data/slicedata.h"
#include "data/slicedatas.h"

// SliceData values of every picture format, picture import, and the slice set's
// own state: initial values, clear() and the histogram.
class TestSliceData : public QObject
{
    Q_OBJECT
private slots:
    void freshSlice();
    void valueMatchesPixel_data();
    void valueMatchesPixel();
    void indexPastColourTableReadsZero();
    void gridRowValues();
    void loadPicture_data();
    void loadPicture();
    void vectorDrawingIsNoSlice_data();
    void vectorDrawingIsNoSlice();
    void freshSet();
    void histogram();
    void histogramEnds_data();
    void histogramEnds();
    void histogramOddValues_data();
    void histogramOddValues();
    void histogramOfEmptySet();
    void clearKeepsHistogram();
};

namespace {

const double largest = std::numeric_limits<double>::max();

quint32 nextRandom(quint32 &state)
{
    state = state * 1664525u + 1013904223u;
    return state >> 8;
}

// Every colour and alpha level turns up somewhere, fully transparent and opaque included.
QImage randomArgbPicture(int width, int height, quint32 seed)
{
    QImage img(width, height, QImage::Format_ARGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            img.setPixel(x, y, nextRandom(seed) | ((x + y) % 5 == 0 ? 0xff000000u : 0u));
    return img;
}

// A picture of the given format whose bytes are all random, colour table included.
QImage randomBytesPicture(QImage::Format format, int width, int height, quint32 seed)
{
    QImage img(width, height, format);
    for (int y = 0; y < height; ++y) {
        uchar *line = img.scanLine(y);
        for (qsizetype i = 0; i < img.bytesPerLine(); ++i)
            line[i] = uchar(nextRandom(seed));
    }
    const int colours = format == QImage::Format_Indexed8 ? 256 : format <= QImage::Format_MonoLSB ? 2 : 0;
    if (colours) {
        QList<QRgb> table;
        for (int i = 0; i < colours; ++i)
            table.append(nextRandom(seed) | (nextRandom(seed) << 24));
        img.setColorTable(table);
    }
    return img;
}

// Each pixel's 16-bit words all hold the pixel's index, so that 256 x 256 pixels run
// through every word: the rounding of 16-bit channels is checked at every level.
QImage everyWordPicture(QImage::Format format)
{
    QImage img(256, 256, format);
    const int words = img.depth() / 16;
    for (int y = 0; y < 256; ++y) {
        auto *line = reinterpret_cast<quint16 *>(img.scanLine(y));
        for (int x = 0; x < 256; ++x)
            for (int w = 0; w < words; ++w)
                line[x * words + w] = quint16(y * 256 + x);
    }
    return img;
}

bool isFloatFormat(QImage::Format f)
{
    return f >= QImage::Format_RGBX16FPx4 && f <= QImage::Format_RGBA32FPx4_Premultiplied;
}

// The value a picture's pixel stands for: the stored word of a 16-bit grey picture,
// the blue byte of QImage::pixel for every other format.
double pictureValue(const QImage &img, int x, int y)
{
    if (img.format() == QImage::Format_Grayscale16)
        return double(reinterpret_cast<const quint16 *>(img.constScanLine(y))[x]);
    return double(img.pixel(x, y) & 0xff);
}

// Compares every value of the slice, read one by one and row by row, with the
// picture's value (above), and reports the first pixel that differs.
void compareWithPixel(const SliceData &s, const QImage &img)
{
    std::vector<double> row(size_t(img.width()) + 1, -1.0);
    for (int y = 0; y < img.height(); ++y) {
        s.rowValues(y, row.data());
        if (row.back() != -1.0)
            QFAIL("rowValues wrote past the row");
        for (int x = 0; x < img.width(); ++x) {
            const double expected = pictureValue(img, x, y);
            if (s.value(x, y) != expected || row[size_t(x)] != expected)
                QFAIL(qPrintable(QStringLiteral("at (%1, %2) value gives %3, rowValues %4, pixel %5 (0x%6)")
                                     .arg(x)
                                     .arg(y)
                                     .arg(s.value(x, y))
                                     .arg(row[size_t(x)])
                                     .arg(expected)
                                     .arg(img.pixel(x, y), 8, 16, QLatin1Char('0'))));
        }
    }
}

SliceData *gridSlice(const std::vector<std::vector<double>> &rows)
{
    auto *s = new SliceData;
    s->values = rows;
    s->height = int(rows.size());
    s->width = int(rows.at(0).size());
    s->minV = largest;
    s->maxV = -largest;
    for (const auto &row : rows) {
        for (double v : row) {
            s->minV = std::fmin(s->minV, v);
            s->maxV = std::fmax(s->maxV, v);
        }
    }
    return s;
}

int histSum(const SliceDatas &set)
{
    int sum = 0;
    for (int c : set.hist)
        sum += c;
    return sum;
}

// Bar i covers rows top..histHeight-1 of column i in the bar colour; the rest is white.
int barTop(const SliceDatas &set, int bin)
{
    const QRgb bar = qRgb(0, 220, 160);
    const QRgb white = qRgb(255, 255, 255);
    int top = set.histHeight;
    for (int y = set.histHeight - 1; y >= 0 && set.histImage.pixel(bin, y) == bar; --y)
        top = y;
    for (int y = 0; y < top; ++y) {
        if (set.histImage.pixel(bin, y) != white)
            return -1;
    }
    return top;
}

}  // namespace

void TestSliceData::freshSlice()
{
    const SliceData s;
    QCOMPARE(s.width, 0);
    QCOMPARE(s.height, 0);
    QVERIFY(!s.isImage);
    QVERIFY(s.image.isNull());
    QCOMPARE(s.minV, 0.0);
    QCOMPARE(s.maxV, 1.0);
    QVERIFY(s.values.empty());
}

void TestSliceData::valueMatchesPixel_data()
{
    QTest::addColumn<QImage>("image");
    const QMetaEnum formats = QMetaEnum::fromType<QImage::Format>();
    // 37 columns: mono rows end in a part byte, and 3-byte pixels cross word boundaries.
    const QImage source = randomArgbPicture(37, 9, 7);
    for (int f = QImage::Format_Mono; f < QImage::NImageFormats; ++f) {
        const auto format = QImage::Format(f);
        const QByteArray name = formats.valueToKey(f);
        QTest::newRow(name + " converted") << source.convertToFormat(format);
        if (!isFloatFormat(format))
            QTest::newRow(name + " random bytes") << randomBytesPicture(format, 37, 9, quint32(f) * 31u);
        const int depth = QImage(1, 1, format).depth();
        if (!isFloatFormat(format) && (depth == 16 || depth == 64))
            QTest::newRow(name + " every 16-bit word") << everyWordPicture(format);
    }
}

void TestSliceData::valueMatchesPixel()
{
    QFETCH(QImage, image);
    QVERIFY(!image.isNull());
    SliceData s;
    s.image = image;
    s.computeImageMinMax();
    QVERIFY(s.isImage);
    QCOMPARE(s.width, image.width());
    QCOMPARE(s.height, image.height());
    compareWithPixel(s, image);
    // Only the blue byte is kept of a picture of more than eight bits per pixel.
    if (image.depth() > 8 && image.format() != QImage::Format_Grayscale16)
        QCOMPARE(s.image.format(), QImage::Format_Grayscale8);
    else
        QCOMPARE(s.image.format(), image.format());

    double lo = 65535, hi = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            lo = std::min(lo, pictureValue(image, x, y));
            hi = std::max(hi, pictureValue(image, x, y));
        }
    }
    QCOMPARE(s.minV, lo);
    QCOMPARE(s.maxV, hi);
}

void TestSliceData::indexPastColourTableReadsZero()
{
    QImage indexed(4, 1, QImage::Format_Indexed8);
    indexed.setColorTable({qRgb(1, 2, 3), qRgb(4, 5, 6)});
    const uchar indices[] = {0, 1, 2, 255};
    std::copy(std::begin(indices), std::end(indices), indexed.scanLine(0));
    SliceData s;
    s.image = indexed;
    s.computeImageMinMax();
    double row[4];
    s.rowValues(0, row);
    QCOMPARE(row[0], 3.0);
    QCOMPARE(row[1], 6.0);
    QCOMPARE(row[2], 0.0);
    QCOMPARE(row[3], 0.0);
    QCOMPARE(s.minV, 0.0);
    QCOMPARE(s.maxV, 6.0);
    QTest::ignoreMessage(QtWarningMsg, "QImage::pixel: color table index 255 out of range.");
    QCOMPARE(s.value(3, 0), 0.0);

    QImage mono(9, 1, QImage::Format_Mono);
    mono.setColorTable({qRgb(9, 9, 40)});
    mono.fill(0);
    mono.setPixel(8, 0, 1);
    s.image = mono;
    s.computeImageMinMax();
    double monoRow[9];
    s.rowValues(0, monoRow);
    QCOMPARE(monoRow[0], 40.0);
    QCOMPARE(monoRow[7], 40.0);
    QCOMPARE(monoRow[8], 0.0);
}

void TestSliceData::gridRowValues()
{
    SliceData s;
    s.values = {{1, 2, 3}, {4, 5, 6}};
    s.width = 3;
    s.height = 2;
    double row[4] = {-1, -1, -1, -1};
    s.rowValues(1, row);
    QCOMPARE(row[0], 4.0);
    QCOMPARE(row[2], 6.0);
    QCOMPARE(row[3], -1.0);
    QCOMPARE(s.value(2, 0), 3.0);
}

void TestSliceData::loadPicture_data()
{
    QTest::addColumn<QImage>("picture");
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<QByteArray>("format");
    QTest::addColumn<double>("minV");
    QTest::addColumn<double>("maxV");

    // 16 x 8, so that a swap of rows and columns shows.
    QImage grey(16, 8, QImage::Format_Grayscale8);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 16; ++x)
            grey.scanLine(y)[x] = uchar(10 + (y * 16 + x) * 190 / 127);
    QTest::newRow("8-bit grey 10 to 200") << grey << "grey.png" << QByteArray("PNG") << 10.0 << 200.0;

    QImage grey16(16, 8, QImage::Format_Grayscale16);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 16; ++x)
            reinterpret_cast<quint16 *>(grey16.scanLine(y))[x] = quint16(300 + (y * 16 + x) * 500);
    // Stored values 300 .. 63800 kept whole, not cut to their high byte.
    QTest::newRow("16-bit grey") << grey16 << "grey16.png" << QByteArray("PNG") << 300.0 << 63800.0;

    QImage colour(16, 8, QImage::Format_RGB32);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 16; ++x)
            colour.setPixel(x, y, qRgb(255 - x * 10, y * 30, x * 8 + y));
    QTest::newRow("colour, blue varies") << colour << "colour.png" << QByteArray("PNG") << 0.0 << 127.0;
    QTest::newRow("colour as BMP") << colour << "colour.bmp" << QByteArray("BMP") << 0.0 << 127.0;

    QImage red(16, 8, QImage::Format_RGB32);
    red.fill(qRgb(255, 0, 0));
    QTest::newRow("pure red") << red << "red.png" << QByteArray("PNG") << 0.0 << 0.0;

    QImage redGreen(16, 8, QImage::Format_RGB32);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 16; ++x)
            redGreen.setPixel(x, y, qRgb(x * 16, y * 32, 77));
    QTest::newRow("red and green vary, blue constant") << redGreen << "rg.png" << QByteArray("PNG") << 77.0 << 77.0;

    QImage indexed(16, 8, QImage::Format_Indexed8);
    indexed.setColorTable({qRgb(200, 0, 5), qRgb(0, 0, 250), qRgb(9, 9, 100)});
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 16; ++x)
            indexed.scanLine(y)[x] = uchar((x + 2 * y) % 3);
    QTest::newRow("colour table") << indexed << "indexed.png" << QByteArray("PNG") << 5.0 << 250.0;

    QImage alpha(16, 8, QImage::Format_ARGB32);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 16; ++x)
            alpha.setPixel(x, y, qRgba(x, y, 20 + x * 10 + y, 255 - x * 8));
    QTest::newRow("translucent picture") << alpha << "alpha.png" << QByteArray("PNG") << 20.0 << 177.0;

    QImage mono(16, 8, QImage::Format_Mono);
    mono.setColorTable({qRgb(0, 0, 0), qRgb(255, 255, 255)});
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 16; ++x)
            mono.setPixel(x, y, uint((x * y) & 1));
    QTest::newRow("black and white") << mono << "mono.png" << QByteArray("PNG") << 0.0 << 255.0;

    QImage onePixel(1, 1, QImage::Format_RGB32);
    onePixel.fill(qRgb(1, 2, 3));
    QTest::newRow("one pixel") << onePixel << "one.png" << QByteArray("PNG") << 3.0 << 3.0;

    QTest::newRow("picture in a file named .dat") << grey << "slice.dat" << QByteArray("PNG") << 10.0 << 200.0;
}

void TestSliceData::loadPicture()
{
    QFETCH(QImage, picture);
    QFETCH(QString, fileName);
    QFETCH(QByteArray, format);
    QFETCH(double, minV);
    QFETCH(double, maxV);
    QTemporaryDir dir;
    const QString path = dir.filePath(fileName);
    QVERIFY(picture.save(path, format.constData()));

    SliceData s;
    QVERIFY(s.load(path));
    QVERIFY(s.isImage);
    QCOMPARE(s.width, picture.width());
    QCOMPARE(s.height, picture.height());
    QVERIFY(s.values.empty());
    QCOMPARE(s.minV, minV);
    QCOMPARE(s.maxV, maxV);
    // Lossless formats: every value is the blue byte of the picture as it was made,
    // row 0 at the top.
    compareWithPixel(s, picture);
}

namespace {

quint32 crc32(const QByteArray &bytes)
{
    quint32 crc = 0xffffffffu;
    for (char c : bytes) {
        crc ^= uchar(c);
        for (int k = 0; k < 8; ++k)
            crc = (crc >> 1) ^ (0xedb88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

// bytes in the gzip format, as a compressed drawing (.svgz) is stored.
QByteArray gzipped(const QByteArray &bytes)
{
    const QByteArray z = qCompress(bytes, 9);  // 4 bytes of size, then a zlib stream
    QByteArray out("\x1f\x8b\x08\x00\x00\x00\x00\x00\x00\x03", 10);
    out += z.mid(6, z.size() - 10);  // the raw deflate data between zlib's header and checksum
    auto le32 = [&out](quint32 v) {
        for (int i = 0; i < 4; ++i)
            out += char((v >> (8 * i)) & 0xff);
    };
    le32(crc32(bytes));
    le32(quint32(bytes.size()));
    return out;
}

const QByteArray svgDrawing = "<?xml version=\"1.0\"?>\n<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"64\" "
                              "height=\"32\"><rect x=\"1\" y=\"1\" width=\"30\" height=\"20\" "
                              "fill=\"#0000c0\" opacity=\"0.5\"/></svg>\n";

}  // namespace

// Vector drawings are not measurement pictures, and rendering one can take minutes:
// they are refused by what the content is, whatever the file is called, while a
// picture in a file named like a drawing still loads.
void TestSliceData::vectorDrawingIsNoSlice_data()
{
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("loads");
    QTest::addColumn<bool>("qtReads");  // whether Qt's image reader alone would decode it
    QTest::newRow("SVG") << "d.svg" << svgDrawing << false << true;
    QTest::newRow("SVG named .png") << "d.png" << svgDrawing << false << true;
    QTest::newRow("SVG without XML line named .dat") << "d.dat" << svgDrawing.mid(22) << false << true;
    QTest::newRow("compressed SVG") << "d.svgz" << gzipped(svgDrawing) << false << true;
    QTest::newRow("compressed SVG named .png") << "d.png" << gzipped(svgDrawing) << false << false;
    QTest::newRow("PDF") << "d.pdf" << QByteArray("%PDF-1.4\n1 0 obj<<>>endobj\ntrailer<<>>\n%%EOF\n") << false
                         << false;
    QByteArray png;
    QBuffer buffer(&png);
    QImage ramp(8, 4, QImage::Format_Grayscale8);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 8; ++x)
            ramp.scanLine(y)[x] = uchar(x * 30 + y);
    QVERIFY(buffer.open(QIODevice::WriteOnly) && ramp.save(&buffer, "PNG"));
    QTest::newRow("PNG named .svg") << "p.svg" << png << true << true;
}

void TestSliceData::vectorDrawingIsNoSlice()
{
    QFETCH(QString, fileName);
    QFETCH(QByteArray, content);
    QFETCH(bool, loads);
    QFETCH(bool, qtReads);
    QTemporaryDir dir;
    const QString path = dir.filePath(fileName);
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly) && f.write(content) == content.size());
    f.close();
    // Qt's own reader does take most of the drawings: the refusal is the loader's.
    QCOMPARE(!QImage(path).isNull(), qtReads);
    SliceData s;
    QCOMPARE(s.load(path), loads);
    QCOMPARE(s.isImage, loads);
}

void TestSliceData::freshSet()
{
    SliceDatas set;
    QVERIFY(set.slices.empty());
    QVERIFY(!set.loaded);
    QCOMPARE(set.width, 0);
    QCOMPARE(set.height, 0);
    QCOMPARE(set.minV, 0.0);
    QCOMPARE(set.maxV, 1.0);
    QCOMPARE(set.minTh, 0.0);
    QCOMPARE(set.maxTh, 1.0);
    QVERIFY(!set.histReady);
    QCOMPARE(set.histBins, 50);
    QCOMPARE(set.histHeight, 100);
    QVERIFY(set.hist.isEmpty());
    QCOMPARE(set.binWidth, 1.0);
    QCOMPARE(set.histMaxCount, 0.0);
    QVERIFY(set.histImage.isNull());
}

void TestSliceData::histogram()
{
    // Range 0..49 gives bins of width 1 centred on the integers.
    SliceDatas set;
    set.slices.push_back(gridSlice({{0, 4.9, 49}, {1, 0.5, 10}}));
    set.slices.push_back(gridSlice({{49, 48.4, 48.6}, {24.5, 0.49, 0.51}}));
    set.width = 3;
    set.height = 2;
    set.minV = 0;
    set.maxV = 49;
    set.makeHist();

    QVERIFY(set.histReady);
    QCOMPARE(set.binWidth, 1.0);
    QCOMPARE(set.hist.size(), 50);
    QCOMPARE(histSum(set), 12);
    QList<int> expected(50, 0);
    expected[0] = 2;  // 0, 0.49
    expected[1] = 3;  // 0.5, 0.51, 1
    expected[5] = 1;  // 4.9
    expected[10] = 1;  // 10
    expected[25] = 1;  // 24.5
    expected[48] = 1;  // 48.4
    expected[49] = 3;  // 48.6, 49, 49
    QCOMPARE(set.hist, expected);
    QCOMPARE(set.histMaxCount, 3.0);

    QCOMPARE(set.histImage.size(), QSize(50, 100));
    QCOMPARE(set.histImage.format(), QImage::Format_RGB32);
    for (int i = 0; i < 50; ++i) {
        const int top = barTop(set, i);
        QVERIFY2(top >= 0, qPrintable(QStringLiteral("column %1 is not one bar on white").arg(i)));
        const double exactTop = 99 - expected[i] / 3.0 * 99;
        QVERIFY2(top <= exactTop + 1e-9 && top > exactTop - 1, qPrintable(QString::number(i)));
    }
    QCOMPARE(barTop(set, 1), 0);  // the fullest bin reaches row 0
    QCOMPARE(barTop(set, 2), 99);  // an empty bin keeps its bottom pixel
}

void TestSliceData::histogramEnds_data()
{
    QTest::addColumn<double>("minV");
    QTest::addColumn<double>("maxV");
    QTest::newRow("unit range") << 0.0 << 1.0;
    QTest::newRow("negative to positive") << -3.7 << 12.9;
    QTest::newRow("picture range") << 10.0 << 200.0;
    QTest::newRow("tiny range") << 1.0 << 1.0 + 1e-12;
    QTest::newRow("huge range") << -1e300 << 1e300;
}

void TestSliceData::histogramEnds()
{
    QFETCH(double, minV);
    QFETCH(double, maxV);
    SliceDatas set;
    const double justBelowMax = std::nextafter(maxV, minV);
    const double justAboveMin = std::nextafter(minV, maxV);
    set.slices.push_back(gridSlice({{minV, maxV, justBelowMax, justAboveMin}}));
    set.width = 4;
    set.height = 1;
    set.minV = minV;
    set.maxV = maxV;
    set.makeHist();
    QCOMPARE(histSum(set), 4);
    QCOMPARE(set.hist.at(0), 2);
    QCOMPARE(set.hist.at(49), 2);
}

void TestSliceData::histogramOddValues_data()
{
    QTest::addColumn<double>("minV");
    QTest::addColumn<double>("maxV");
    QTest::newRow("ordinary range") << 0.0 << 1.0;
    QTest::newRow("zero range") << 5.0 << 5.0;
    QTest::newRow("range beyond the double range") << -largest << largest;
    QTest::newRow("range of a failed load") << largest << -largest;
}

void TestSliceData::histogramOddValues()
{
    QFETCH(double, minV);
    QFETCH(double, maxV);
    // Values that no reader makes but a hand-filled set may hold: every one is counted
    // once and none addresses a bin outside the list.
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    SliceDatas set;
    set.slices.push_back(gridSlice({{nan, inf, -inf, 1e308}, {-1e308, 5.0, 0.0, 1.0}}));
    set.width = 4;
    set.height = 2;
    set.minV = minV;
    set.maxV = maxV;
    set.makeHist();
    QVERIFY(set.histReady);
    QCOMPARE(set.hist.size(), 50);
    QCOMPARE(histSum(set), 8);
    QVERIFY(set.histMaxCount > 0);
    QVERIFY(!set.histImage.isNull());
}

void TestSliceData::histogramOfEmptySet()
{
    SliceDatas set;
    set.makeHist();
    QVERIFY(set.histReady);
    QCOMPARE(set.hist, QList<int>(50, 0));
    QCOMPARE(set.histMaxCount, 0.0);
    for (int i = 0; i < 50; ++i)
        QCOMPARE(barTop(set, i), 99);
}

void TestSliceData::clearKeepsHistogram()
{
    SliceDatas set;
    set.slices.push_back(gridSlice({{1, 2, 3}, {4, 5, 6}}));
    set.width = 3;
    set.height = 2;
    set.minV = 1;
    set.maxV = 6;
    set.minTh = 2;
    set.maxTh = 5;
    set.loaded = true;
    set.makeHist();
    const QList<int> hist = set.hist;
    const QImage histImage = set.histImage;
    const double binWidth = set.binWidth;

    QSignalSpy cleared(&set, &SliceDatas::cleared);
    set.clear();
    QCOMPARE(cleared.count(), 1);
    QVERIFY(set.slices.empty());
    QVERIFY(!set.loaded);
    QCOMPARE(set.width, 0);
    QCOMPARE(set.height, 0);
    QCOMPARE(set.minV, 0.0);
    QCOMPARE(set.maxV, 1.0);
    QCOMPARE(set.minTh, 0.0);
    QCOMPARE(set.maxTh, 1.0);
    QVERIFY(set.histReady);
    QCOMPARE(set.hist, hist);
    QCOMPARE(set.histImage, histImage);
    QCOMPARE(set.binWidth, binWidth);
}

QTEST_GUILESS_MAIN(TestSliceData)
#include "tst_slicedata.moc"
