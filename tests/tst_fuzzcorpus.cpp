#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include "fuzz/harness.h"
#include "fuzz/volumeharness.h"
#include "fuzz/zarrharness.h"

// Replays every input kept under fuzz/corpus/<target>/ (the regression inputs of
// findings, and hand-made hard cases) and the grid samples of tests/data through
// the same checks the fuzz targets make, so that the normal and sanitizer test runs
// catch a reader that breaks on any of them again, without clang or libFuzzer.

namespace {

QString corpusRoot()
{
    return QStringLiteral(OXA_TEST_DATA_DIR "/../../fuzz/corpus");
}

QByteArray readAll(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        qFatal("cannot read %s", qPrintable(path));
    return f.readAll();
}

void addInputs(const QString &target, bool withGridSamples)
{
    QTest::addColumn<QString>("path");
    QStringList paths;
    QDirIterator it(corpusRoot() + u'/' + target, QDir::Files);
    while (it.hasNext())
        paths << it.next();
    if (withGridSamples) {
        QDirIterator samples(QStringLiteral(OXA_TEST_DATA_DIR), {QStringLiteral("*.dat")}, QDir::Files);
        while (samples.hasNext())
            paths << samples.next();
    }
    paths.sort();
    for (const QString &p : std::as_const(paths))
        QTest::newRow(qPrintable(QFileInfo(p).fileName())) << p;
}

// Runs f with a fresh scratch folder as the current directory (the harness writes
// the input there, and the configuration reader resolves INCLUDE names against it).
template <typename F> void inScratch(F f)
{
    QTemporaryDir scratch;
    QVERIFY(scratch.isValid());
    oxafuzz::checkContext() = QByteArray("(input ") + QTest::currentDataTag() + ')';
    const QString here = QDir::currentPath();
    QVERIFY(QDir::setCurrent(scratch.path()));
    f();
    QVERIFY(QDir::setCurrent(here));
}

}  // namespace

class TestFuzzCorpus : public QObject
{
    Q_OBJECT

private slots:
    void config_data() { addInputs(QStringLiteral("config"), false); }
    void config();
    void rangeGrid_data() { addInputs(QStringLiteral("rangegrid"), true); }
    void rangeGrid();
    void xyvGrid_data() { addInputs(QStringLiteral("xyvgrid"), true); }
    void xyvGrid();
    void load_data() { addInputs(QStringLiteral("load"), true); }
    void load();
    void session_data() { addInputs(QStringLiteral("session"), false); }
    void session();
    void tiff_data() { addInputs(QStringLiteral("tiff"), false); }
    void tiff();
    void dicom_data() { addInputs(QStringLiteral("dicom"), false); }
    void dicom();
    void volume_data() { addInputs(QStringLiteral("volume"), false); }
    void volume();
    void zarr_data() { addInputs(QStringLiteral("zarr"), false); }
    void zarr();
};

void TestFuzzCorpus::config()
{
    QFETCH(QString, path);
    const QByteArray input = readAll(path);
    inScratch([&] {
        oxafuzz::runConfig(reinterpret_cast<const std::uint8_t *>(input.constData()), std::size_t(input.size()));
    });
}

void TestFuzzCorpus::rangeGrid()
{
    QFETCH(QString, path);
    const QByteArray input = readAll(path);
    inScratch([&] {
        oxafuzz::runGrid(oxafuzz::Grid::Range, reinterpret_cast<const std::uint8_t *>(input.constData()),
                         std::size_t(input.size()));
    });
}

void TestFuzzCorpus::xyvGrid()
{
    QFETCH(QString, path);
    const QByteArray input = readAll(path);
    inScratch([&] {
        oxafuzz::runGrid(oxafuzz::Grid::Xyv, reinterpret_cast<const std::uint8_t *>(input.constData()),
                         std::size_t(input.size()));
    });
}

void TestFuzzCorpus::load()
{
    QFETCH(QString, path);
    const QByteArray input = readAll(path);
    inScratch([&] {
        oxafuzz::runLoad(reinterpret_cast<const std::uint8_t *>(input.constData()), std::size_t(input.size()));
    });
}

void TestFuzzCorpus::session()
{
    QFETCH(QString, path);
    const QByteArray input = readAll(path);
    oxafuzz::runSession(reinterpret_cast<const std::uint8_t *>(input.constData()), std::size_t(input.size()));
}

void TestFuzzCorpus::tiff()
{
    QFETCH(QString, path);
    const QByteArray input = readAll(path);
    inScratch([&] {
        oxafuzz::runTiff(reinterpret_cast<const std::uint8_t *>(input.constData()), std::size_t(input.size()));
    });
}

void TestFuzzCorpus::dicom()
{
    QFETCH(QString, path);
    const QByteArray input = readAll(path);
    inScratch([&] {
        oxafuzz::runDicom(reinterpret_cast<const std::uint8_t *>(input.constData()), std::size_t(input.size()));
    });
}

void TestFuzzCorpus::volume()
{
    QFETCH(QString, path);
    const QByteArray input = readAll(path);
    inScratch([&] {
        oxafuzz::runVolume(reinterpret_cast<const std::uint8_t *>(input.constData()), std::size_t(input.size()));
    });
}

void TestFuzzCorpus::zarr()
{
    QFETCH(QString, path);
    const QByteArray input = readAll(path);
    inScratch([&] {
        oxafuzz::runZarr(reinterpret_cast<const std::uint8_t *>(input.constData()), std::size_t(input.size()));
    });
}

QTEST_MAIN(TestFuzzCorpus)
#include "tst_fuzzcorpus.moc"
