#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>

#include "data/slicedata.h"
#include "data/slicedatas.h"
#include "tools/phantom.h"

// The sample data generator: the head's geometry and orientation, and that both
// sample sets load completely, in stack order, through the program's own loader.

class TestPhantom : public QObject
{
    Q_OBJECT
private slots:
    void headDensityAt_data();
    void headDensityAt();
    void headSliceOrientation_data();
    void headSliceOrientation();
    void headLoadsWhole();
    void vesselsLoadWholeInBothFormats();
    void vesselHeaders_data();
    void vesselHeaders();
    void namesSortInStackOrder();
    void toolWritesBothSets();
};

void TestPhantom::headDensityAt_data()
{
    const double pi = 3.141592653589793;
    QTest::addColumn<double>("x");
    QTest::addColumn<double>("y");
    QTest::addColumn<double>("z");
    QTest::addColumn<double>("density");

    QTest::newRow("middle of the brain") << 0.0 << 0.0 << 0.0 << 0.2;
    QTest::newRow("skull above the brain") << 0.0 << 0.9 << 0.0 << 1.0;
    QTest::newRow("skull below the brain") << 0.0 << -0.9 << 0.0 << 1.0;
    QTest::newRow("outside the head") << 0.95 << 0.0 << 0.0 << 0.0;
    QTest::newRow("beyond the top of the stack axis") << 0.0 << 0.0 << 0.82 << 0.0;
    QTest::newRow("right ventricle") << 0.22 << 0.0 << 0.0 << 0.0;
    QTest::newRow("left ventricle") << -0.22 << 0.0 << 0.0 << 0.0;
    // The left ventricle is turned by 28 degrees about z (phi 18 plus psi 10): a point
    // 0.35 along its turned long axis is inside it, the same distance straight up is not.
    QTest::newRow("along the turned long axis")
        << -0.22 - 0.35 * std::sin(28.0 * pi / 180.0) << 0.35 * std::cos(28.0 * pi / 180.0) << 0.0 << 0.0;
    QTest::newRow("straight up from the ventricle") << -0.22 << 0.35 << 0.0 << 0.2;
    QTest::newRow("upper structure") << 0.0 << 0.35 << -0.15 << 0.3;
    QTest::newRow("small structure behind the middle") << 0.0 << -0.1 << 0.25 << 0.3;
    QTest::newRow("lowest small structure") << 0.0 << -0.606 << 0.0 << 0.3;
}

void TestPhantom::headDensityAt()
{
    QFETCH(double, x);
    QFETCH(double, y);
    QFETCH(double, z);
    QFETCH(double, density);
    QVERIFY2(std::abs(phantom::headDensity(x, y, z) - density) < 1e-9,
             qPrintable(QString::number(phantom::headDensity(x, y, z))));
}

void TestPhantom::headSliceOrientation_data()
{
    QTest::addColumn<int>("slice");
    QTest::addColumn<int>("column");
    QTest::addColumn<int>("row");
    QTest::addColumn<int>("grey");

    // Column c is at x = (2c + 1) / 256 - 1, row r at y = 1 - (2r + 1) / 256, slice k
    // at z = 0.8 ((2k + 1) / 128 - 1).
    QTest::newRow("brain in the middle slice") << 64 << 128 << 128 << 102;
    QTest::newRow("upper structure is above the middle") << 52 << 128 << 83 << 153;
    QTest::newRow("mirrored below the middle is brain") << 52 << 128 << 173 << 102;
    QTest::newRow("skull at the top row of the head") << 64 << 128 << 10 << 255;
    QTest::newRow("corner is air") << 64 << 0 << 0 << 0;
    QTest::newRow("bigger ventricle on the left") << 64 << 100 << 128 << 0;
    QTest::newRow("first slice cuts the skull cap") << 0 << 128 << 128 << 255;
    QTest::newRow("last slice cuts the skull cap") << 127 << 128 << 128 << 255;
}

void TestPhantom::headSliceOrientation()
{
    QFETCH(int, slice);
    QFETCH(int, column);
    QFETCH(int, row);
    QFETCH(int, grey);
    const QImage img = phantom::headSlice(slice);
    QCOMPARE(img.size(), QSize(256, 256));
    QCOMPARE(img.format(), QImage::Format_Grayscale8);
    QCOMPARE(qBlue(img.pixel(column, row)), grey);
}

void TestPhantom::headLoadsWhole()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QString error;
    QVERIFY2(phantom::writeHead(dir.path(), phantom::headSlices, phantom::headSize, &error), qPrintable(error));

    // Every slice must survive the loader: none may be flat or of another size.
    SliceDatas set;
    QStringList accepted;
    connect(&set, &SliceDatas::loadedNewFile, this, [&accepted](const QString &f) { accepted << f; });
    const QStringList files = phantom::headFiles(dir.path());
    set.filesSelected(files);
    QCOMPARE(accepted, files);
    QCOMPARE(int(set.slices.size()), 128);
    QCOMPARE(set.width, 256);
    QCOMPARE(set.height, 256);
    QCOMPARE(set.minV, 0.0);
    QCOMPARE(set.maxV, 255.0);
    QVERIFY(set.loaded);
}

void TestPhantom::vesselsLoadWholeInBothFormats()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QString error;
    QVERIFY2(phantom::writeVessels(dir.path(), &error), qPrintable(error));

    SliceDatas set;
    QStringList accepted;
    connect(&set, &SliceDatas::loadedNewFile, this, [&accepted](const QString &f) { accepted << f; });
    const QStringList files = phantom::vesselsFiles(dir.path());
    set.filesSelected(files);
    QCOMPARE(accepted, files);
    QCOMPARE(int(set.slices.size()), phantom::vesselsSlices);
    QCOMPARE(set.width, phantom::vesselsWidth);
    QCOMPARE(set.height, phantom::vesselsHeight);

    // Both formats must give the same grid: same size, no shift, every value read back.
    for (int k = 0; k < phantom::vesselsSlices; ++k) {
        const SliceData *s = set.slices.at(std::size_t(k));
        QVERIFY(!s->isImage);
        QVERIFY2(s->maxV > s->minV, qPrintable(QStringLiteral("slice %1 is flat").arg(k)));
        for (int y = 0; y < phantom::vesselsHeight; ++y)
            for (int x = 0; x < phantom::vesselsWidth; ++x)
                if (s->value(x, y) != phantom::vesselValue(x, y, k))
                    QFAIL(qPrintable(QStringLiteral("slice %1 at (%2, %3): read %4, made %5")
                                         .arg(k)
                                         .arg(x)
                                         .arg(y)
                                         .arg(s->value(x, y))
                                         .arg(phantom::vesselValue(x, y, k))));
    }
}

void TestPhantom::vesselHeaders_data()
{
    QTest::addColumn<int>("slice");
    QTest::addColumn<QByteArray>("header");

    QTest::newRow("first slice, range grid")
        << 0 << QByteArray("#MOLK-VEDez\n# Range_X0 : 0\n# Range_Y0 : 0\n# Range_X1 : 95\n# Range_Y1 : 95\n0 0 ");
    QTest::newRow("second slice, XYV grid with counts one above the size")
        << 1 << QByteArray("## 240301\n# Format1 : XYV\n# Format2 : SPACE-Separated\n# X-NUM 97\n# Y-NUM 97\n100 200 ");
    QTest::newRow("last slice, XYV grid") << 47 << QByteArray("## 240301\n");
}

void TestPhantom::vesselHeaders()
{
    QFETCH(int, slice);
    QFETCH(QByteArray, header);
    const QByteArray text = phantom::vesselSliceText(slice);
    QVERIFY2(text.startsWith(header), text.left(200).constData());
}

void TestPhantom::namesSortInStackOrder()
{
    QStringList head = phantom::headFiles(QStringLiteral("/s/head"));
    QStringList sortedHead = head;
    sortedHead.sort();
    QCOMPARE(sortedHead, head);
    QCOMPARE(head.first(), QStringLiteral("/s/head/head_000.png"));
    QCOMPARE(head.last(), QStringLiteral("/s/head/head_127.png"));

    QStringList vessels = phantom::vesselsFiles(QStringLiteral("/s/vessels"));
    QStringList sortedVessels = vessels;
    sortedVessels.sort();
    QCOMPARE(sortedVessels, vessels);
    QCOMPARE(vessels.size(), 48);
}

void TestPhantom::toolWritesBothSets()
{
    const QString tool = QStringLiteral(OXA_BINARY_DIR "/make_phantom");
    if (!QFileInfo::exists(tool))
        QSKIP("make_phantom is not built");
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString target = dir.filePath(QStringLiteral("samples"));

    QProcess p;
    p.start(tool, {target});
    QVERIFY(p.waitForFinished(120000));
    QCOMPARE(p.exitStatus(), QProcess::NormalExit);
    QVERIFY2(p.exitCode() == 0, p.readAllStandardError().constData());

    QCOMPARE(QDir(target + "/head").entryList(QDir::Files).size(), 128);
    QCOMPARE(QDir(target + "/vessels").entryList(QDir::Files).size(), 48);
    QVERIFY(!QFileInfo::exists(target + ".partial"));
    // Byte for byte what the library makes.
    QFile f(target + "/vessels/vessels_07.dat");
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), phantom::vesselSliceText(7));
    QImage slice(target + "/head/head_064.png");
    QCOMPARE(slice.convertToFormat(QImage::Format_Grayscale8), phantom::headSlice(64));

    // Running it again replaces the sets; a call without a folder is refused.
    p.start(tool, {target});
    QVERIFY(p.waitForFinished(120000));
    QCOMPARE(p.exitCode(), 0);
    p.start(tool, QStringList());
    QVERIFY(p.waitForFinished(10000));
    QCOMPARE(p.exitCode(), 2);
}

QTEST_GUILESS_MAIN(TestPhantom)
#include "tst_phantom.moc"
