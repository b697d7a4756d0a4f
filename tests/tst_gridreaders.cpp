#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <limits>

#include "data/slicedata.h"

// The two grid text readers: the documented samples point by point, the header
// and record rules, and hostile files that must fail cleanly without allocating.
class TestGridReaders : public QObject
{
    Q_OBJECT
private slots:
    void rangeSampleReadsBack();
    void xyvSampleReadsBack();
    void rangeGrid_data();
    void rangeGrid();
    void xyvGrid_data();
    void xyvGrid();
    void failedTagLeavesSliceUntouched_data();
    void failedTagLeavesSliceUntouched();
    void overLongLineFails_data();
    void overLongLineFails();
    void loadMarksGridSlices();

private:
    QString writeFile(const QByteArray &content);
    QTemporaryDir dir_;
    int fileCount_ = 0;
};

namespace {

const double largest = std::numeric_limits<double>::max();

// Points as "x,y,value" items separated by blanks; every other point must hold 0.0.
void compareGrid(const SliceData &s, int width, int height, const QString &points)
{
    QCOMPARE(s.width, width);
    QCOMPARE(s.height, height);
    QCOMPARE(qsizetype(s.cells.size()), qsizetype(height) * width);
    std::vector<std::vector<double>> expected(size_t(height), std::vector<double>(size_t(width), 0.0));
    for (const QString &p : points.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        const QStringList parts = p.split(QLatin1Char(','));
        QCOMPARE(parts.size(), 3);
        expected[size_t(parts[1].toInt())][size_t(parts[0].toInt())] = parts[2].toDouble();
    }
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            if (s.value(x, y) != expected[size_t(y)][size_t(x)])
                QFAIL(qPrintable(QStringLiteral("at (%1, %2): got %3, expected %4")
                                     .arg(x)
                                     .arg(y)
                                     .arg(s.value(x, y))
                                     .arg(expected[size_t(y)][size_t(x)])));
        }
    }
}

void addRow(const char *name, const QByteArray &content, bool ok, int width = 0, int height = 0, double minV = largest,
            double maxV = -largest, const QString &points = QString())
{
    QTest::newRow(name) << content << ok << width << height << minV << maxV << points;
}

void addColumns()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::addColumn<double>("minV");
    QTest::addColumn<double>("maxV");
    QTest::addColumn<QString>("points");
}

const QByteArray rangeHead = "#MOLK-VEDez\n# Range_X0 : 0\n# Range_Y0 : 0\n# Range_X1 : 3\n# Range_Y1 : 2\n";
const QByteArray xyvHead = "## 240301\n# X-NUM 3\n# Y-NUM 3\n";
const char garbage[] = "#MOLK-VEDez\n# Range_X1 : 1\n\x00\x01\xff\xfe\x80 1 2\n\x00\x00";

}  // namespace

QString TestGridReaders::writeFile(const QByteArray &content)
{
    const QString name = dir_.filePath(QStringLiteral("grid%1.dat").arg(++fileCount_));
    QFile f(name);
    if (!f.open(QIODevice::WriteOnly) || f.write(content) != content.size())
        qFatal("cannot write %s", qPrintable(name));
    return name;
}

void TestGridReaders::rangeSampleReadsBack()
{
    SliceData s;
    QVERIFY(s.readRangeGrid(QFINDTESTDATA("data/grid_range_sample.dat")));
    compareGrid(s, 4, 3, QStringLiteral("0,0,1.5 3,2,-0.25"));
    QCOMPARE(s.minV, -0.25);
    QCOMPARE(s.maxV, 1.5);
    QVERIFY(!s.isImage);
}

void TestGridReaders::xyvSampleReadsBack()
{
    SliceData s;
    QVERIFY(s.readXyvGrid(QFINDTESTDATA("data/grid_xyv_sample.dat")));
    compareGrid(s, 2, 2, QStringLiteral("0,0,0.5 1,0,0.75 0,1,1.0 1,1,2.0"));
    QCOMPARE(s.minV, 0.5);
    QCOMPARE(s.maxV, 2.0);
}

void TestGridReaders::rangeGrid_data()
{
    addColumns();
    addRow("CR LF line ends",
           "#MOLK-VEDez\r\n# Range_X0 : 0\r\n# Range_Y0 : 0\r\n# Range_X1 : 3\r\n# Range_Y1 : 2\r\n"
           "0 0 1.5\r\n3 2 -0.25\r\n",
           true, 4, 3, -0.25, 1.5, "0,0,1.5 3,2,-0.25");
    addRow("byte-order mark before the tag", "\xEF\xBB\xBF" + rangeHead + "1 1 2\n2 2 3", true, 4, 3, 2, 3,
           "1,1,2 2,2,3");
    addRow("tag followed by more text", "#MOLK-VEDez version 2\n# Range_X1 : 1\n# Range_Y1 : 1\n0 0 1\n1 1 2\n", true,
           2, 2, 1, 2, "0,0,1 1,1,2");
    addRow("tag cut short", "#MOLK-VEDe\n# Range_X1 : 1\n# Range_Y1 : 1\n0 0 1\n", false);
    addRow("tag in other case", "#molk-vedez\n# Range_X1 : 1\n# Range_Y1 : 1\n0 0 1\n", false);
    addRow("tag after a blank line", "\n#MOLK-VEDez\n# Range_X1 : 1\n# Range_Y1 : 1\n0 0 1\n", false);
    addRow("records before the ranges are lost", "#MOLK-VEDez\n1 1 9\n# Range_X1 : 1\n# Range_Y1 : 1\n0 0 1\n1 0 2\n",
           true, 2, 2, 1, 2, "0,0,1 1,0,2");
    addRow("last range at zero never makes the grid",
           "#MOLK-VEDez\n# Range_X0 : -3\n# Range_X1 : 0\n# Range_Y1 : 2\n0 0 1\n1 1 2\n", false);
    addRow("range start enters the size only",
           "#MOLK-VEDez\n# Range_X0 : 1\n# Range_X1 : 4\n# Range_Y1 : 1\n0 0 1\n3 1 2\n4 1 99\n", true, 4, 2, 1, 2,
           "0,0,1 3,1,2");
    addRow("range line without the unread item has no effect", "#MOLK-VEDez\n# Range_X1 3\n# Range_Y1 : 2\n0 0 1\n",
           false);
    addRow("unknown key and short comment lines have no effect",
           rangeHead + "# Range_Z1 : 9\n# Range_X1\n#\n# note\n0 0 1\n1 2 3\n", true, 4, 3, 1, 3, "0,0,1 1,2,3");
    addRow("key case matters", "#MOLK-VEDez\n# range_x1 : 3\n# Range_Y1 : 2\n0 0 1\n", false);
    addRow("later range line overrides", "#MOLK-VEDez\n# Range_X1 : 9\n# Range_Y1 : 1\n# Range_X1 : 1\n0 0 1\n1 1 2\n",
           true, 2, 2, 1, 2, "0,0,1 1,1,2");
    addRow("range lines after the grid change nothing", rangeHead + "0 0 1\n# Range_X1 : 9\n3 2 2\n5 0 4\n", true, 4, 3,
           1, 2, "0,0,1 3,2,2");
    addRow("glued hash word is a record line that is skipped", rangeHead + "2 2 5\n#comment without blank\n", true, 4,
           3, 5, 5, "2,2,5");
    addRow("comma separated record is one item", rangeHead + "1,1,7\n2 1 3\n", true, 4, 3, 3, 3, "2,1,3");
    addRow("empty lines before the ranges and among the records",
           "#MOLK-VEDez\n\n# Range_X1 : 1\n\n# Range_Y1 : 1\n# Range_X0 : 0\n0 0 4\n\n1 1 5\n\n", true, 2, 2, 4, 5,
           "0,0,4 1,1,5");
    addRow("grid made by an empty line stores nothing", rangeHead + "\n", true, 4, 3, largest, -largest, "");
    addRow("tabs and runs of blanks", rangeHead + "\t1 \t 2\t\t6.5   \n", true, 4, 3, 6.5, 6.5, "1,2,6.5");
    addRow("whole numbers with point or exponent are coordinates", rangeHead + "1.0 2 5\n3 1e0 6\n-0.0 +2.e0 7\n", true,
           4, 3, 5, 7, "1,2,5 3,1,6 0,2,7");
    addRow("coordinates that are not whole skip the record", rangeHead + "1.5 2 5\n3 abc 6\n0x1 0 8\n1 1 2\n", true, 4,
           3, 2, 2, "1,1,2");
    addRow("coordinate beyond 32 bits skips the record", rangeHead + "4294967297 1 5\n2 2 6\n1e10 0 9\n", true, 4, 3, 6,
           6, "2,2,6");
    addRow("signs and exponents", rangeHead + "+1 +2 +2.5e1\n2 0 -1E-1\n", true, 4, 3, -0.1, 25, "1,2,25 2,0,-0.1");
    addRow("items after the third are ignored", rangeHead + "1 1 2 9 9 9\n2 2 3 x\n", true, 4, 3, 2, 3, "1,1,2 2,2,3");
    addRow("short record lines store nothing", rangeHead + "1 1\n2\n2 2 3\n", true, 4, 3, 3, 3, "2,2,3");
    addRow("later record overwrites, both enter the range", rangeHead + "1 1 5\n1 1 -3\n", true, 4, 3, -3, 5, "1,1,-3");
    addRow("records outside the grid are neither stored nor counted",
           rangeHead + "4 0 100\n0 3 -100\n-1 0 50\n0 -1 -50\n2147483647 2 7\n1 1 2\n2 1 3\n", true, 4, 3, 2, 3,
           "1,1,2 2,1,3");
    addRow("non-finite and unreadable values read as zero",
           rangeHead + "0 0 nan\n1 0 inf\n2 0 -inf\n3 0 1e999\n0 1 abc\n1 1 1,5\n2 2 7\n", true, 4, 3, 0, 7, "2,2,7");
    addRow("one value everywhere listed", rangeHead + "0 0 2\n3 2 2\n", true, 4, 3, 2, 2, "0,0,2 3,2,2");
    addRow("wide but small grid", "#MOLK-VEDez\n# Range_X1 : 65535\n# Range_Y1 : 1\n65535 1 3\n0 0 1\n", true, 65536, 2,
           1, 3, "65535,1,3 0,0,1");

    // Hostile headers: the grid is never made and nothing is allocated for it.
    addRow("last column at the int limit", "#MOLK-VEDez\n# Range_X1 : 2147483647\n# Range_Y1 : 1\n0 0 1\n1 1 2\n",
           false);
    addRow("range spanning the whole int range",
           "#MOLK-VEDez\n# Range_X0 : -2147483648\n# Range_X1 : 2147483647\n# Range_Y1 : 1\n0 0 1\n1 1 2\n", false);
    addRow("width fits an int but the points are too many",
           "#MOLK-VEDez\n# Range_X0 : -2147483645\n# Range_X1 : 1\n# Range_Y1 : 1\n0 0 1\n", false);
    addRow("huge point count", "#MOLK-VEDez\n# Range_X1 : 100000\n# Range_Y1 : 100000\n0 0 1\n1 1 2\n", false);
    addRow("too many rows", "#MOLK-VEDez\n# Range_X1 : 1\n# Range_Y1 : 2000000\n0 0 1\n1 1 2\n", false);
    addRow("start above the end", "#MOLK-VEDez\n# Range_X0 : 10\n# Range_X1 : 3\n# Range_Y1 : 2\n0 0 1\n", false);
    addRow("range beyond 32 bits reads as zero", "#MOLK-VEDez\n# Range_X1 : 4294967299\n# Range_Y1 : 1\n0 0 1\n1 1 2\n",
           false);
    addRow("huge range fixed before a later record",
           "#MOLK-VEDez\n# Range_X1 : 2147483647\n# Range_Y1 : 2147483647\n0 0 9\n# Range_X1 : 1\n# Range_Y1 "
           ": 1\n"
           "0 0 1\n1 1 2\n",
           true, 2, 2, 1, 2, "0,0,1 1,1,2");
    addRow("empty file", "", false);
    addRow("tag only", "#MOLK-VEDez\n", false);
    addRow("binary garbage after the tag", QByteArray(garbage, sizeof garbage - 1), false);
}

void TestGridReaders::rangeGrid()
{
    QFETCH(QByteArray, content);
    QFETCH(bool, ok);
    SliceData s;
    QCOMPARE(s.readRangeGrid(writeFile(content)), ok);
    QVERIFY(!s.isImage);
    if (!ok) {
        QCOMPARE(s.width, 0);
        QCOMPARE(s.height, 0);
        QVERIFY(s.values.empty() && s.cells.empty());
        return;
    }
    QFETCH(int, width);
    QFETCH(int, height);
    QFETCH(double, minV);
    QFETCH(double, maxV);
    QFETCH(QString, points);
    compareGrid(s, width, height, points);
    QCOMPARE(s.minV, minV);
    QCOMPARE(s.maxV, maxV);
}

void TestGridReaders::xyvGrid_data()
{
    addColumns();
    const char *samplePoints = "0,0,0.5 1,0,0.75 0,1,1 1,1,2";
    addRow("blanks instead of commas",
           "## 240301\n# Format1 : XYV\n# Format2 : SPACE-Separated\n# X-NUM 3\n# Y-NUM 3\n"
           "10 20 0.5\n11 20 0.75\n10 21 1.0\n11 21 2.0\n",
           true, 2, 2, 0.5, 2, samplePoints);
    addRow("commas, tabs and blanks mixed", xyvHead + "10,20,0.5\n11\t20 ,0.75\n10 ,, 21\t1.0\n 11,21, 2.0,\n", true, 2,
           2, 0.5, 2, samplePoints);
    addRow("CR LF line ends and byte-order mark",
           "\xEF\xBB\xBF## 240301\r\n# X-NUM 3\r\n# Y-NUM 3\r\n10,20,0.5\r\n11 20 0.75\r\n10 21 1.0\r\n11 21 "
           "2.0\r\n",
           true, 2, 2, 0.5, 2, samplePoints);
    addRow("tag followed by another digit", "## 2403012\n# X-NUM 3\n# Y-NUM 3\n0 0 1\n1 1 2\n", true, 2, 2, 1, 2,
           "0,0,1 1,1,2");
    addRow("tag of eight characters", "## 24030\n# X-NUM 3\n# Y-NUM 3\n0 0 1\n1 1 2\n", false);
    addRow("range grid tag", "#MOLK-VEDez\n# X-NUM 3\n# Y-NUM 3\n0 0 1\n1 1 2\n", false);
    addRow("counts in either order, count minus one", "## 240301\n# Y-NUM 4\n#X X-NUM 513\n0 0 1\n510 2 2\n", true, 512,
           3, 1, 2, "0,0,1 510,2,2");
    addRow("hash glued to the key is no count line", "## 240301\n#X-NUM 3\n# Y-NUM 3\n0 0 1\n1 1 2\n", false);
    addRow("count line with an extra item has no effect", "## 240301\n# X-NUM : 3\n# Y-NUM 3\n0 0 1\n1 1 2\n", false);
    addRow("key case matters", "## 240301\n# x-num 3\n# Y-NUM 3\n0 0 1\n1 1 2\n", false);
    addRow("count of one fails", "## 240301\n# X-NUM 1\n# Y-NUM 3\n0 0 1\n1 1 2\n", false);
    addRow("decimal count reads as zero", "## 240301\n# X-NUM 3.0\n# Y-NUM 3\n0 0 1\n1 1 2\n", false);
    addRow("missing count", "## 240301\n# X-NUM 3\n0 0 1\n1 1 2\n", false);
    addRow("later count overrides before the grid", "## 240301\n# X-NUM 9\n# Y-NUM 3\n# X-NUM 3\n0 0 1\n1 1 2\n", true,
           2, 2, 1, 2, "0,0,1 1,1,2");
    addRow("records before the counts are lost", "## 240301\n5 5 9\n# X-NUM 3\n# Y-NUM 3\n0 0 1\n1 1 2\n", true, 2, 2,
           1, 2, "0,0,1 1,1,2");
    addRow("count line after the grid is ignored", xyvHead + "0 0 1\n# X-NUM 10\n# Y-NUM 10\n1 1 2\n5 5 7\n", true, 2,
           2, 1, 2, "0,0,1 1,1,2");
    addRow("one-item line before the first record is skipped", xyvHead + "\n7\n5 5 1\n6 6 2\n", true, 2, 2, 1, 2,
           "0,0,1 1,1,2");
    addRow("two-item line sets the origin", xyvHead + "5 5\n6 6 2\n5 6 3\n", true, 2, 2, 2, 3, "1,1,2 0,1,3");
    addRow("format lines and comments have no effect",
           "## 240301\n# Format1 : ABC\n# Format2 : TAB\n#\n# any text here\n# X-NUM 3\n# Y-NUM 3\n1 1 2\n2 "
           "2 4\n",
           true, 2, 2, 2, 4, "0,0,2 1,1,4");
    addRow("records beside the origin are outside",
           xyvHead + "10 20 1\n9 20 -5\n10 19 -6\n12 20 50\n10 22 60\n11 21 2\n", true, 2, 2, 1, 2, "0,0,1 1,1,2");
    addRow("whole numbers with point or exponent are coordinates", xyvHead + "10.0 2e1 1\n11 20.0 5\n1.1e1 21 6\n",
           true, 2, 2, 1, 6, "0,0,1 1,0,5 1,1,6");
    addRow("coordinates that are not whole skip the record", xyvHead + "0 0 1\nabc 1 5\n1 1.5 6\n1e10 0 7\n1 1 2\n",
           true, 2, 2, 1, 2, "0,0,1 1,1,2");
    addRow("a record that is not whole never gives the origin", xyvHead + "0.5 0 9\n5 5 1\n6 6 2\n", true, 2, 2, 1, 2,
           "0,0,1 1,1,2");
    addRow("non-finite and unreadable values read as zero",
           xyvHead + "0 0 nan\n1 0 -inf\n0 1 1e999\n1 1 x\n1 1 NaN\n0 0 3\n", true, 2, 2, 0, 3, "0,0,3");
    addRow("items after the third are ignored", xyvHead + "0 0 1 99 99\n1 1 2 x\n", true, 2, 2, 1, 2, "0,0,1 1,1,2");
    addRow("later record overwrites, both enter the range", xyvHead + "0 0 8\n0 0 -1\n1 1 2\n", true, 2, 2, -1, 8,
           "0,0,-1 1,1,2");
    addRow("extreme origin is computed without overflow",
           xyvHead + "2147483647 2147483647 1\n-2147483648 -2147483648 99\n-2147483648 2147483647 98\n", true, 2, 2, 1,
           1, "0,0,1");

    // Hostile counts: the grid is never made and nothing is allocated for it.
    addRow("negative count", "## 240301\n# X-NUM -5\n# Y-NUM 3\n0 0 1\n1 1 2\n", false);
    addRow("most negative count", "## 240301\n# X-NUM -2147483648\n# Y-NUM -2147483648\n0 0 1\n", false);
    addRow("both counts at the int limit", "## 240301\n# X-NUM 2147483647\n# Y-NUM 2147483647\n0 0 1\n1 1 2\n", false);
    addRow("count beyond 32 bits reads as zero", "## 240301\n# X-NUM 2147483648\n# Y-NUM 3\n0 0 1\n", false);
    addRow("huge point count", "## 240301\n# X-NUM 100000\n# Y-NUM 100000\n0 0 1\n1 1 2\n", false);
    addRow("too many rows", "## 240301\n# X-NUM 3\n# Y-NUM 3000000\n0 0 1\n1 1 2\n", false);
    addRow("huge counts fixed before the first record",
           "## 240301\n# X-NUM 2147483647\n# Y-NUM 2147483647\n9 9 9\n# X-NUM 3\n# Y-NUM 3\n0 0 1\n1 1 2\n", true, 2, 2,
           1, 2, "0,0,1 1,1,2");
    addRow("empty file", "", false);
    addRow("header only", xyvHead, false);
}

void TestGridReaders::xyvGrid()
{
    QFETCH(QByteArray, content);
    QFETCH(bool, ok);
    SliceData s;
    QCOMPARE(s.readXyvGrid(writeFile(content)), ok);
    if (!ok) {
        QCOMPARE(s.width, 0);
        QCOMPARE(s.height, 0);
        QVERIFY(s.values.empty() && s.cells.empty());
        return;
    }
    QFETCH(int, width);
    QFETCH(int, height);
    QFETCH(double, minV);
    QFETCH(double, maxV);
    QFETCH(QString, points);
    compareGrid(s, width, height, points);
    QCOMPARE(s.minV, minV);
    QCOMPARE(s.maxV, maxV);
}

void TestGridReaders::failedTagLeavesSliceUntouched_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("exists");
    QTest::newRow("missing file") << QByteArray() << false;
    QTest::newRow("other text") << QByteArray("hello\n1 2 3\n") << true;
    QTest::newRow("empty file") << QByteArray() << true;
}

void TestGridReaders::failedTagLeavesSliceUntouched()
{
    QFETCH(QByteArray, content);
    QFETCH(bool, exists);
    const QString name = exists ? writeFile(content) : dir_.filePath(QStringLiteral("missing.dat"));
    SliceData s;
    s.width = 7;
    s.height = 5;
    s.minV = -2.0;
    s.maxV = 3.0;
    s.values.assign(5, std::vector<double>(7, 1.0));
    QVERIFY(!s.readRangeGrid(name));
    QVERIFY(!s.readXyvGrid(name));
    QVERIFY(!s.readRangeGrid(dir_.path()));
    QVERIFY(!s.readXyvGrid(dir_.path()));
    // The other format's sample is a file with the wrong tag too.
    QVERIFY(!s.readRangeGrid(QFINDTESTDATA("data/grid_xyv_sample.dat")));
    QVERIFY(!s.readXyvGrid(QFINDTESTDATA("data/grid_range_sample.dat")));
    QCOMPARE(s.width, 7);
    QCOMPARE(s.height, 5);
    QCOMPARE(s.minV, -2.0);
    QCOMPARE(s.maxV, 3.0);
    QCOMPARE(s.values.size(), size_t(5));
}

void TestGridReaders::overLongLineFails_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("rangeFormat");
    const QByteArray longItem(SliceData::maxGridLineLength + 10, '7');
    const QByteArray longBlanks(SliceData::maxGridLineLength + 10, ' ');
    QTest::newRow("range grid, long record") << rangeHead + "0 0 1\n1 1 " + longItem + "\n2 2 3\n" << true;
    QTest::newRow("range grid, long first line") << "#MOLK-VEDez" + longBlanks
            + "\n# Range_X1 : 3\n# Range_Y1 : 2\n"
              "0 0 1\n1 1 2\n" << true;
    QTest::newRow("xyv grid, blanks without end") << xyvHead + "0 0 1\n1 1 2\n" + longBlanks << false;
    QTest::newRow("xyv grid, long count line") << "## 240301\n# X-NUM 3" + longBlanks + "\n# Y-NUM 3\n0 0 1\n1 1 2\n"
                                               << false;
}

void TestGridReaders::overLongLineFails()
{
    QFETCH(QByteArray, content);
    QFETCH(bool, rangeFormat);
    const QString name = writeFile(content);
    SliceData s;
    QVERIFY(!(rangeFormat ? s.readRangeGrid(name) : s.readXyvGrid(name)));
    QCOMPARE(s.width, 0);
    QVERIFY(s.values.empty() && s.cells.empty());
    // The same file with its lines at the limit reads fine.
    QByteArray fitting = content;
    fitting.replace(QByteArray(SliceData::maxGridLineLength + 10, '7'), "5");
    fitting.replace(QByteArray(SliceData::maxGridLineLength + 10, ' '), QByteArray(1000, ' '));
    if (fitting.endsWith(' '))
        fitting += '\n';
    QVERIFY(rangeFormat ? s.readRangeGrid(writeFile(fitting)) : s.readXyvGrid(writeFile(fitting)));
}

void TestGridReaders::loadMarksGridSlices()
{
    SliceData range;
    range.isImage = true;
    QVERIFY(range.load(QFINDTESTDATA("data/grid_range_sample.dat")));
    QVERIFY(!range.isImage);
    QCOMPARE(range.value(0, 0), 1.5);

    SliceData xyv;
    QVERIFY(xyv.load(QFINDTESTDATA("data/grid_xyv_sample.dat")));
    QVERIFY(!xyv.isImage);
    QCOMPARE(xyv.value(1, 1), 2.0);

    SliceData none;
    QVERIFY(!none.load(writeFile("neither a picture nor a grid\n")));
    QVERIFY(!none.load(dir_.filePath(QStringLiteral("missing.png"))));
}

QTEST_GUILESS_MAIN(TestGridReaders)
#include "tst_gridreaders.moc"
