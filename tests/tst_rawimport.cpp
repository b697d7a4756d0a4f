// The panel's side of the volume formats: "Import Raw…" with its size check, the
// descriptions remembered between runs, and the set's line of a 4-D file.

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include "data/rawvolume.h"
#include "panelfixtures.h"
#include "tools/volumewriters.h"
#include "ui/ctview.h"
#include "ui/rawimport.h"
#include "ui/slicesctrl.h"

namespace {

QPushButton *importButton(RawImportDialog &d)
{
    for (QPushButton *b : d.findChildren<QPushButton *>())
        if (b->text() == QLatin1String("Import"))
            return b;
    return nullptr;
}

void setField(RawImportDialog &d, const char *name, const QString &text)
{
    d.findChild<QLineEdit *>(QLatin1String(name))->setText(text);
}

}  // namespace

class TestRawImport : public QObject
{
    Q_OBJECT
private slots:
    void sizeCheck_data();
    void sizeCheck();
    void importLoadsAndIsRemembered();
    void fourDimensionalSetLine();
};

void TestRawImport::sizeCheck_data()
{
    QTest::addColumn<QStringList>("fields");  // width, height, slices, header bytes
    QTest::addColumn<int>("typeIndex");  // uint8, int8, uint16, ...
    QTest::addColumn<int>("fileBytes");
    QTest::addColumn<bool>("fits");
    QTest::addColumn<QString>("said");

    QTest::newRow("uint16 matches") << QStringList{"4", "3", "2", "0"} << 2 << 48 << true
                                    << "4 × 3 × 2 samples of 2 bytes after 0 header bytes: 48 bytes. The file has 48 "
                                       "bytes: they match.";
    QTest::newRow("header makes it match") << QStringList{"4", "3", "2", "16"} << 0 << 40 << true
                                           << "4 × 3 × 2 samples of 1 bytes after 16 header bytes: 40 bytes. The file "
                                              "has 40 bytes: they match.";
    QTest::newRow("float32 one slice too many")
        << QStringList{"4", "3", "3", "0"} << 6 << 96 << false
        << "4 × 3 × 3 samples of 4 bytes after 0 header bytes: 144 bytes. The file has 96 bytes: they do not match.";
    QTest::newRow("width not a number") << QStringList{"four", "3", "2", "0"} << 0 << 24 << false
                                        << "Width, height and slices are whole numbers from 1, the header bytes from "
                                           "0, and the spacing positive numbers.";
}

// What the numbers imply is said as they are typed; Import is offered only when the
// file has exactly that size.
void TestRawImport::sizeCheck()
{
    QFETCH(QStringList, fields);
    QFETCH(int, typeIndex);
    QFETCH(int, fileBytes);
    QFETCH(bool, fits);
    QFETCH(QString, said);
    QTemporaryDir dir;
    const QString path = dir.filePath("scan.img");
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(QByteArray(fileBytes, '\1'));
    f.close();

    RawImportDialog d(dir.path());
    d.setFile(path);
    setField(d, "rawWidth_", fields[0]);
    setField(d, "rawHeight_", fields[1]);
    setField(d, "rawSlices_", fields[2]);
    setField(d, "rawHeader_", fields[3]);
    d.findChild<QComboBox *>(QStringLiteral("rawType_"))->setCurrentIndex(typeIndex);
    QCOMPARE(d.fits(), fits);
    QCOMPARE(d.verdict(), said);
    QVERIFY(importButton(d));
    QCOMPARE(importButton(d)->isEnabled(), fits);
}

// Import remembers the description, loads the file into the panel, and the window
// keeps the description in its settings for the next run.
void TestRawImport::importLoadsAndIsRemembered()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("scan.raw");
    QByteArray samples;
    for (int i = 0; i < 5 * 2 * 3; ++i)
        samples += char(i * 3);
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(QByteArray(10, 'h') + samples);
    f.close();
    rawimport::forget(path);

    CtView w(dir.path());
    SlicesCtrl *panel = w.sCtrls.first();
    QTest::mouseClick(panel->importRaw_, Qt::LeftButton);
    RawImportDialog *d = panel->rawDialog;
    QVERIFY(d && d->isVisible() && !d->isModal());
    d->setFile(path);
    RawDescription desc;
    QVERIFY(parseRawDescription("5,2,3,uint8,le,10,0.5,0.5,4", desc));
    d->setDescription(desc);
    QVERIFY2(d->fits(), qPrintable(d->verdict()));
    QVERIFY(importButton(*d)->isEnabled());
    // Counted in this thread: the signal comes from the loader's thread, queued here.
    int finished = 0;
    QObject here;
    connect(&panel->sliceDatas, &SliceDatas::loadFilesFinished, &here, [&finished] { ++finished; });
    importButton(*d)->click();
    // The load may end before a wait would start counting.
    QTRY_COMPARE_WITH_TIMEOUT(finished, 1, 20000);
    QTRY_COMPARE(panel->setInfo_->text(), QStringLiteral("3 slices · 5 × 2 · 0.5 × 0.5 × 4"));
    RawDescription recalled;
    QVERIFY(rawimport::recall(path, recalled));
    QVERIFY(recalled == desc);

    const QString ini = dir.filePath("settings.ini");
    {
        QSettings s(ini, QSettings::IniFormat);
        w.storeSettings(s);
    }
    rawimport::forget(path);
    QVERIFY(!rawimport::recall(path, recalled));
    {
        const QSettings s(ini, QSettings::IniFormat);
        w.restoreSettings(s, false);
    }
    QVERIFY(rawimport::recall(path, recalled));
    QVERIFY(recalled == desc);
    // The dialog shows the remembered description for the file.
    RawImportDialog again(dir.path());
    again.setFile(path);
    QVERIFY(again.fits());
    rawimport::forget(path);
}

void TestRawImport::fourDimensionalSetLine()
{
    QTemporaryDir dir;
    volumewriters::Volume v;
    v.dims = 4;
    v.size[0] = 3, v.size[1] = 4, v.size[2] = 2, v.size[3] = 3;
    v.spacing[2] = 1.5;
    v.type = volumewriters::Type::u8;
    v.samples.resize(3 * 4 * 2 * 3);
    for (int i = 0; i < v.samples.size(); ++i)
        v.samples[i] = char(i);
    const QString path = dir.filePath("series.nii.gz");
    QVERIFY(volumewriters::write(path, v));
    SlicesCtrl panel;
    QVERIFY(fixtures::loadThroughDialog(panel, {path}));
    QCOMPARE(panel.setInfo_->text(), QStringLiteral("2 slices · 3 × 4 · 1 × 1 × 1.5 mm · 4-D: first of 3 volumes"));
}

QTEST_MAIN(TestRawImport)
#include "tst_rawimport.moc"
