#include <QAtomicInt>
#include <QColorDialog>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileDialog>
#include <QPointer>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>
#include <cstdio>
#include <utility>

#include "app/cfgstore.h"
#include "panelfixtures.h"
#include "render/layersettings.h"
#include "slicefixtures.h"
#include "ui/slicesctrl.h"

namespace {

using fixtures::loadThroughDialog;
using fixtures::typeInto;

// The colour at the centre of a label's pixmap.
QColor swatchColor(const QLabel *label)
{
    const QPixmap pm = label->pixmap();
    if (pm.isNull())
        return QColor();
    return pm.toImage().pixelColor(pm.width() / 2, pm.height() / 2);
}

QStringList fieldTexts(const SlicesCtrl &p)
{
    return {p.rMinV_->text(),   p.minTh_->text(), p.minThPC_->text(),
            p.maxThPC_->text(), p.maxTh_->text(), p.rMaxV_->text()};
}

}  // namespace

class TestSlicesCtrl : public QObject
{
    Q_OBJECT
private slots:
    void init() { cfg.set("native_dialog", "0", "", ""); }

    void newPanelState();
    void nativeDialogSetting_data();
    void nativeDialogSetting();
    void derivePercentToValue_data();
    void derivePercentToValue();
    void deriveValueToPercent_data();
    void deriveValueToPercent();
    void setterFormatsAndSignals();
    void opacityFixup_data();
    void opacityFixup();
    void setAlphaClamps();
    void folding();
    void showSwitchesRedraw();
    void sliderAndFixDirSignal();
    void fixDirKeepsNormal();
    void colorDialog_data();
    void colorDialog();
    void fileDialogSettings();
    void fileDialogKeepsDirectory();
    void realLoadFillsPanel();
    void secondLoadKeepsPercent();
    void failedLoadKeepsFields();
    void failedLoadOnNewPanel();
    void destroyDuringLoadInterrupts();
    void exactRangeBehindFields_data();
    void exactRangeBehindFields();
    void nonFinitePercentStartsOver_data();
    void nonFinitePercentStartsOver();
    void loadFollowsSettingsRule_data();
    void loadFollowsSettingsRule();
    void opacityReadClamped_data();
    void opacityReadClamped();
    void oddFileNames_data();
    void oddFileNames();
};

void TestSlicesCtrl::newPanelState()
{
    SlicesCtrl p("/some/root");
    QCOMPARE(fieldTexts(p), QStringList({"0.0", "0.0", "0.0", "100.0", "0.0", "0.0"}));
    QCOMPARE(p.alpha_->text(), QStringLiteral("255"));
    QCOMPARE(p.alpha(), 255);
    QCOMPARE(p.dataRoot, QStringLiteral("/some/root"));
    QCOMPARE(p.vColor, QColor(0, 127, 127));
    QCOMPARE(p.sColor, QColor(127, 0, 0));
    QCOMPARE(p.dispVColor_->pixmap().size(), QSize(15, 27));
    QCOMPARE(p.dispSColor_->pixmap().size(), QSize(15, 27));
    QCOMPARE(swatchColor(p.dispVColor_), QColor(0, 127, 127));
    QCOMPARE(swatchColor(p.dispSColor_), QColor(127, 0, 0));
    QCOMPARE(p.csNz.x, 0.0);
    QCOMPARE(p.csNz.y, 0.0);
    QCOMPARE(p.csNz.z, 0.0);
    QCOMPARE(p.dragLine, -1);
    QVERIFY(!p.fileDialog);
    QVERIFY(!p.vColorDialog);
    QVERIFY(!p.sColorDialog);
    QVERIFY(!p.nativeDialog);
    QCOMPARE(p.histMouse, &p.dispH_->mouse);
    QCOMPARE(p.histCoord, &p.dispH_->coord);
    QVERIFY(p.loaderThread.isRunning());
    QCOMPARE(p.sliceDatas.thread(), &p.loaderThread);
    QVERIFY(p.showB_->isChecked());
    QVERIFY(p.showB2_->isChecked());
    QVERIFY(p.showB_->isHidden());
    QVERIFY(!p.slicesCtrlFrame_->isHidden());
    QVERIFY(p.showVolume_->isChecked());
    QVERIFY(!p.showCSection_->isChecked());
    QVERIFY(p.showFrame_->isChecked());
    QVERIFY(!p.csFixDir_->isChecked());
    QCOMPARE(p.cSlider_->minimum(), -100);
    QCOMPARE(p.cSlider_->maximum(), 100);
    QCOMPARE(p.cSlider_->value(), 0);
    QCOMPARE(p.nameList_->count(), 0);
    QCOMPARE(p.windowTitle(), QStringLiteral("Load Slices"));
}

void TestSlicesCtrl::nativeDialogSetting_data()
{
    QTest::addColumn<QString>("value");
    QTest::addColumn<bool>("native");
    QTest::newRow("one") << "1" << true;
    QTest::newRow("leading zero") << "01" << true;
    QTest::newRow("zero") << "0" << false;
    QTest::newRow("two") << "2" << false;
    QTest::newRow("word") << "yes" << false;
    QTest::newRow("hex is not base 10") << "0x1" << false;
}

void TestSlicesCtrl::nativeDialogSetting()
{
    QFETCH(QString, value);
    QFETCH(bool, native);
    cfg.set("NATIVE_DIALOG", value, "", "");
    SlicesCtrl p;
    QCOMPARE(p.nativeDialog, native);
}

void TestSlicesCtrl::derivePercentToValue_data()
{
    QTest::addColumn<QString>("rMin");
    QTest::addColumn<QString>("rMax");
    QTest::addColumn<QString>("percent");
    QTest::addColumn<QString>("value");
    QTest::newRow("quarter of 0..200") << "0"
                                       << "200"
                                       << "25"
                                       << "50";
    QTest::newRow("offset range") << "10"
                                  << "200"
                                  << "25"
                                  << "57.5";
    QTest::newRow("negative range") << "-1"
                                    << "1"
                                    << "75"
                                    << "0.5";
    QTest::newRow("six digits") << "0"
                                << "1"
                                << "33.33333333"
                                << "0.333333";
    QTest::newRow("large values in exponent form") << "0"
                                                   << "1e7"
                                                   << "12.3456789"
                                                   << "1.23457e+06";
    QTest::newRow("beyond 100 is not clamped") << "0"
                                               << "10"
                                               << "150"
                                               << "15";
    QTest::newRow("text reads as 0") << "5"
                                     << "15"
                                     << "abc"
                                     << "5";
}

void TestSlicesCtrl::derivePercentToValue()
{
    QFETCH(QString, rMin);
    QFETCH(QString, rMax);
    QFETCH(QString, percent);
    QFETCH(QString, value);
    SlicesCtrl p;
    p.rMinV_->setText(rMin);
    p.rMaxV_->setText(rMax);
    QSignalSpy paints(&p, &SlicesCtrl::paintPImg);

    typeInto(p.minThPC_, percent);
    QCOMPARE(p.minTh_->text(), value);
    QCOMPARE(p.minThPC_->text(), percent);  // the edited field itself is left as typed
    QCOMPARE(paints.count(), 1);

    typeInto(p.maxThPC_, percent);
    QCOMPARE(p.maxTh_->text(), value);
    QCOMPARE(paints.count(), 2);
}

void TestSlicesCtrl::deriveValueToPercent_data()
{
    QTest::addColumn<QString>("rMin");
    QTest::addColumn<QString>("rMax");
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("percent");
    QTest::newRow("quarter of 0..200") << "0"
                                       << "200"
                                       << "50"
                                       << "25";
    QTest::newRow("offset range") << "10"
                                  << "200"
                                  << "57.5"
                                  << "25";
    QTest::newRow("thirds to six digits") << "0"
                                          << "3"
                                          << "1"
                                          << "33.3333";
    QTest::newRow("below the range") << "0"
                                     << "10"
                                     << "-5"
                                     << "-50";
    QTest::newRow("equal range fields") << "4"
                                        << "4"
                                        << "5"
                                        << "inf";
}

void TestSlicesCtrl::deriveValueToPercent()
{
    QFETCH(QString, rMin);
    QFETCH(QString, rMax);
    QFETCH(QString, value);
    QFETCH(QString, percent);
    SlicesCtrl p;
    p.rMinV_->setText(rMin);
    p.rMaxV_->setText(rMax);
    QSignalSpy paints(&p, &SlicesCtrl::paintPImg);

    typeInto(p.minTh_, value);
    QCOMPARE(p.minThPC_->text(), percent);
    QCOMPARE(paints.count(), 1);
    typeInto(p.maxTh_, value);
    QCOMPARE(p.maxThPC_->text(), percent);
    QCOMPARE(paints.count(), 2);
}

void TestSlicesCtrl::setterFormatsAndSignals()
{
    SlicesCtrl p;
    p.setRMinV(0);
    p.setRMaxV(3);
    QCOMPARE(p.rMaxV_->text(), QStringLiteral("3"));
    QSignalSpy paints(&p, &SlicesCtrl::paintPImg);

    // Not quiet: both fields change and each setter call redraws once.
    p.setMinThV(1, false);
    QCOMPARE(p.minTh_->text(), QStringLiteral("1"));
    QCOMPARE(p.minThPC_->text(), QStringLiteral("33.3333"));
    QCOMPARE(p.minThPC_->cursorPosition(), 0);
    QCOMPARE(p.minTh_->cursorPosition(), 0);
    QCOMPARE(paints.count(), 2);

    // The derivation reads the number behind the rounded text: 33.3333 % of 3 is 1.
    p.setMaxThPC(100.0 / 3.0, false);
    QCOMPARE(p.maxThPC_->text(), QStringLiteral("33.3333"));
    QCOMPARE(p.maxTh_->text(), QStringLiteral("1"));
    QCOMPARE(paints.count(), 4);

    // Quiet: only the field itself.
    p.setMaxThV(123456789.0, true);
    QCOMPARE(p.maxTh_->text(), QStringLiteral("1.23457e+08"));
    QCOMPARE(p.maxThPC_->text(), QStringLiteral("33.3333"));
    QCOMPARE(paints.count(), 5);

    // Range setters emit nothing.
    p.setRMinV(0.1234567);
    QCOMPARE(p.rMinV_->text(), QStringLiteral("0.123457"));
    QCOMPARE(paints.count(), 5);

    // Editing a range field emits nothing either.
    typeInto(p.rMaxV_, "7");
    QCOMPARE(paints.count(), 5);
}

void TestSlicesCtrl::opacityFixup_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<int>("alpha");
    QTest::newRow("negative") << "-5"
                              << "0" << 0;
    QTest::newRow("too large") << "300"
                               << "255" << 255;
    QTest::newRow("just too large") << "256"
                                    << "255" << 255;
    QTest::newRow("top") << "255"
                         << "255" << 255;
    QTest::newRow("zero") << "0"
                          << "0" << 0;
    QTest::newRow("middle") << "128"
                            << "128" << 128;
    QTest::newRow("letters stay") << "abc"
                                  << "abc" << 0;
    QTest::newRow("beyond int stays") << "99999999999"
                                      << "99999999999" << 0;
    QTest::newRow("decimal stays") << "12.5"
                                   << "12.5" << 0;
}

void TestSlicesCtrl::opacityFixup()
{
    QFETCH(QString, typed);
    QFETCH(QString, shown);
    QFETCH(int, alpha);
    SlicesCtrl p;
    QStringList seenAtRedraw;
    connect(&p, &SlicesCtrl::paintPImg, this, [&] { seenAtRedraw << p.alpha_->text(); });

    typeInto(p.alpha_, typed);
    QCOMPARE(p.alpha_->text(), shown);
    QCOMPARE(p.alpha(), alpha);
    // One redraw, after the fix-up.
    QCOMPARE(seenAtRedraw, QStringList{shown});
}

void TestSlicesCtrl::setAlphaClamps()
{
    SlicesCtrl p;
    QSignalSpy paints(&p, &SlicesCtrl::paintPImg);
    p.setAlpha(128);
    QCOMPARE(p.alpha_->text(), QStringLiteral("128"));
    p.setAlpha(-5);
    QCOMPARE(p.alpha_->text(), QStringLiteral("0"));
    p.setAlpha(1000);
    QCOMPARE(p.alpha_->text(), QStringLiteral("255"));
    QCOMPARE(paints.count(), 0);
}

void TestSlicesCtrl::folding()
{
    SlicesCtrl p;
    p.setSetupNo(3);
    QCOMPARE(p.showB_->text(), QStringLiteral("Show Setup 3"));
    QCOMPARE(p.showB2_->text(), QStringLiteral("Show Setup 3"));
    p.show();
    QVERIFY(QTest::qWaitForWindowExposed(&p));
    QSignalSpy paints(&p, &SlicesCtrl::paintPImg);

    QTest::mouseClick(p.showB2_, Qt::LeftButton, {}, QPoint(5, p.showB2_->height() / 2));
    QVERIFY(!p.showB2_->isChecked());
    QVERIFY(!p.showB_->isChecked());
    QVERIFY(p.showB_->isVisible());
    QVERIFY(!p.slicesCtrlFrame_->isVisible());
    QCOMPARE(p.showB_->text(), QStringLiteral("Show Setup 3"));

    QTest::mouseClick(p.showB_, Qt::LeftButton, {}, QPoint(5, p.showB_->height() / 2));
    QVERIFY(p.showB_->isChecked());
    QVERIFY(p.showB2_->isChecked());
    QVERIFY(!p.showB_->isVisible());
    QVERIFY(p.slicesCtrlFrame_->isVisible());
    QCOMPARE(paints.count(), 0);
}

void TestSlicesCtrl::showSwitchesRedraw()
{
    SlicesCtrl p;
    QSignalSpy paints(&p, &SlicesCtrl::paintPImg);
    QSignalSpy links(&p, &SlicesCtrl::changedSliderStat);
    p.showVolume_->toggle();
    QCOMPARE(paints.count(), 1);
    p.showCSection_->toggle();
    QCOMPARE(paints.count(), 2);
    p.showFrame_->toggle();
    QCOMPARE(paints.count(), 3);
    QCOMPARE(links.count(), 0);
}

void TestSlicesCtrl::sliderAndFixDirSignal()
{
    SlicesCtrl p;
    QSignalSpy paints(&p, &SlicesCtrl::paintPImg);
    QSignalSpy links(&p, &SlicesCtrl::changedSliderStat);
    p.cSlider_->setValue(40);
    QCOMPARE(links.count(), 1);
    p.cSlider_->setValue(40);
    QCOMPARE(links.count(), 1);
    p.csFixDir_->setChecked(true);
    QCOMPARE(links.count(), 2);
    QCOMPARE(paints.count(), 0);
}

void TestSlicesCtrl::fixDirKeepsNormal()
{
    SlicesCtrl p;
    p.initNz(Vec3{0, 0, 1});
    QCOMPARE(p.csNz.z, 1.0);
    p.csFixDir_->setChecked(true);
    p.newNz(Vec3{1, 0, 0});
    QCOMPARE(p.csNz.x, 0.0);
    QCOMPARE(p.csNz.z, 1.0);
    p.csFixDir_->setChecked(false);
    QCOMPARE(p.csNz.z, 1.0);  // unchecking alone changes nothing
    p.newNz(Vec3{0, 1, 0});
    QCOMPARE(p.csNz.x, 0.0);
    QCOMPARE(p.csNz.y, 1.0);
    QCOMPARE(p.csNz.z, 0.0);
}

void TestSlicesCtrl::colorDialog_data()
{
    QTest::addColumn<bool>("volume");
    QTest::newRow("volume colour") << true;
    QTest::newRow("section colour") << false;
}

void TestSlicesCtrl::colorDialog()
{
    QFETCH(bool, volume);
    SlicesCtrl p;
    QPushButton *button = volume ? p.selVColor_ : p.selSColor_;
    QLabel *swatch = volume ? p.dispVColor_ : p.dispSColor_;
    QColorDialog *SlicesCtrl::*dialogOf = volume ? &SlicesCtrl::vColorDialog : &SlicesCtrl::sColorDialog;
    QColor SlicesCtrl::*colorOf = volume ? &SlicesCtrl::vColor : &SlicesCtrl::sColor;
    const QColor start = p.*colorOf;
    QSignalSpy paints(&p, &SlicesCtrl::paintPImg);

    QTest::mouseClick(button, Qt::LeftButton);
    QPointer<QColorDialog> first = p.*dialogOf;
    QVERIFY(first);
    QCOMPARE(first->parent(), &p);
    QCOMPARE(first->currentColor(), start);
    QCOMPARE(first->windowTitle(),
             volume ? QStringLiteral("Select Volume Color") : QStringLiteral("Select Section Color"));
    QVERIFY(first->isVisible());
    QVERIFY(!first->isModal());

    // Closing without choosing changes nothing.
    first->setCurrentColor(QColor(1, 2, 3));
    first->reject();
    QCOMPARE(p.*colorOf, start);
    QCOMPARE(paints.count(), 0);

    // A second request replaces the dialog and starts at the current colour.
    QTest::mouseClick(button, Qt::LeftButton);
    QPointer<QColorDialog> second = p.*dialogOf;
    QVERIFY(second && second != first);
    QTRY_VERIFY(first.isNull());
    QCOMPARE(second->currentColor(), start);

    second->setCurrentColor(QColor(200, 10, 30));
    second->accept();
    QCOMPARE(p.*colorOf, QColor(200, 10, 30));
    QCOMPARE(swatchColor(swatch), QColor(200, 10, 30));
    QCOMPARE(swatch->pixmap().size(), QSize(15, 27));
    QCOMPARE(paints.count(), 1);
    // The other colour is untouched.
    QCOMPARE(volume ? p.sColor : p.vColor, volume ? QColor(127, 0, 0) : QColor(0, 127, 127));
}

void TestSlicesCtrl::fileDialogSettings()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    SlicesCtrl p(dir.path());
    QTest::mouseClick(p.selectB_, Qt::LeftButton);
    QFileDialog *d = p.fileDialog;
    QVERIFY(d);
    QCOMPARE(d->parent(), &p);
    QCOMPARE(d->directory().absolutePath(), QDir(dir.path()).absolutePath());
    // Every kind of slice file the program reads first; DICOM and TIFF are not hidden.
    QCOMPARE(d->nameFilters(), SlicesCtrl::sliceFileFilters());
    QCOMPARE(d->nameFilters().mid(1), QStringList({"Data Files (*.dat *.png)",
                                                   "Volumes (*.nii *.nii.gz *.nrrd *.nhdr *.mha *.mhd)", "Any Files (* *.*)"}));
    for (const char *pattern : {"*.dat", "*.png", "*.dcm", "*.tif", "*.tiff", "*.nii.gz", "*.nrrd", "*.mha"})
        QVERIFY2(d->nameFilters().first().contains(QLatin1String(pattern)), pattern);
    QCOMPARE(d->windowTitle(), QStringLiteral("Select Data Files"));
    QCOMPARE(d->fileMode(), QFileDialog::ExistingFiles);
    QCOMPARE(d->acceptMode(), QFileDialog::AcceptOpen);
    QVERIFY(d->testOption(QFileDialog::DontUseNativeDialog));
    QVERIFY(d->isVisible());
    QVERIFY(!d->isModal());
}

void TestSlicesCtrl::fileDialogKeepsDirectory()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QVERIFY(QDir(dir.path()).mkpath("a/b"));
    const QString sub = QDir(dir.path()).absoluteFilePath("a/b");
    SlicesCtrl p(dir.path());
    QTest::mouseClick(p.selectB_, Qt::LeftButton);
    QPointer<QFileDialog> first = p.fileDialog;
    first->setDirectory(sub);
    first->reject();  // cancelled, yet its directory is carried over

    QTest::mouseClick(p.selectB_, Qt::LeftButton);
    QVERIFY(p.fileDialog && p.fileDialog != first);
    QCOMPARE(p.dataRoot, sub);
    QCOMPARE(p.fileDialog->directory().absolutePath(), sub);
    QTRY_VERIFY(first.isNull());
}

void TestSlicesCtrl::realLoadFillsPanel()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    // Listed in an order that is not the alphabetical one.
    const QStringList files = {dir.filePath("c.png"), dir.filePath("a.png"), dir.filePath("b.png")};
    QVERIFY(fixtures::writeRampPng(files[0], 32, 16, 20, 120));
    QVERIFY(fixtures::writeRampPng(files[1], 32, 16, 10, 90));
    QVERIFY(fixtures::writeRampPng(files[2], 32, 16, 30, 200));

    SlicesCtrl p(dir.path());
    QSignalSpy paints(&p, &SlicesCtrl::paintPImg);
    QVERIFY(loadThroughDialog(p, files));

    QCOMPARE(p.nameList_->count(), 3);
    for (int i = 0; i < 3; ++i)
        QCOMPARE(p.nameList_->itemText(i), files[i]);
    QCOMPARE(fieldTexts(p), QStringList({"10", "10", "0", "100", "200", "200"}));
    QCOMPARE(paints.count(), 5);
    {
        SliceDatas::ReadGuard g(p.sliceDatas);
        QVERIFY(p.sliceDatas.loaded);
        QVERIFY(p.sliceDatas.histReady);
    }
}

void TestSlicesCtrl::secondLoadKeepsPercent()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QVERIFY(fixtures::writeRampPng(dir.filePath("one.png"), 16, 16, 10, 210));
    QVERIFY(fixtures::writeRampPng(dir.filePath("two.png"), 16, 16, 0, 100));
    SlicesCtrl p(dir.path());
    QVERIFY(loadThroughDialog(p, {dir.filePath("one.png")}));
    QCOMPARE(fieldTexts(p), QStringList({"10", "10", "0", "100", "210", "210"}));

    typeInto(p.minThPC_, "25");
    QCOMPARE(p.minTh_->text(), QStringLiteral("60"));
    typeInto(p.maxTh_, "160");
    QCOMPARE(p.maxThPC_->text(), QStringLiteral("75"));

    QSignalSpy paints(&p, &SlicesCtrl::paintPImg);
    QVERIFY(loadThroughDialog(p, {dir.filePath("two.png")}));
    QCOMPARE(p.nameList_->count(), 1);
    QCOMPARE(p.nameList_->itemText(0), dir.filePath("two.png"));
    QCOMPARE(fieldTexts(p), QStringList({"0", "25", "25", "75", "75", "100"}));
    QCOMPARE(paints.count(), 5);
}

void TestSlicesCtrl::failedLoadKeepsFields()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QVERIFY(fixtures::writeRampPng(dir.filePath("good.png"), 16, 16, 10, 210));
    QVERIFY(fixtures::writeRampPng(dir.filePath("good2.png"), 16, 16, 0, 50));
    QVERIFY(fixtures::writeGarbage(dir.filePath("bad.dat")));
    SlicesCtrl p(dir.path());
    p.dispH_->setFixedSize(202, 60);
    p.show();
    QVERIFY(QTest::qWaitForWindowExposed(&p));

    QVERIFY(loadThroughDialog(p, {dir.filePath("good.png")}));
    typeInto(p.minThPC_, "20");
    const QStringList before = fieldTexts(p);
    QCOMPARE(before, QStringList({"10", "50", "20", "100", "210", "210"}));
    const QImage histBefore = p.dispH_->grab().toImage();

    QSignalSpy paints(&p, &SlicesCtrl::paintPImg);
    QVERIFY(loadThroughDialog(p, {dir.filePath("bad.dat"), dir.filePath("missing.png")}));
    QCOMPARE(p.nameList_->count(), 0);
    QCOMPARE(fieldTexts(p), before);
    QCOMPARE(paints.count(), 1);
    // The set keeps its previous histogram, and so does the display.
    QCOMPARE(p.dispH_->grab().toImage(), histBefore);

    // The panel is still usable: the next good load re-derives from the kept percentages.
    QVERIFY(loadThroughDialog(p, {dir.filePath("good2.png")}));
    QCOMPARE(fieldTexts(p), QStringList({"0", "10", "20", "100", "50", "50"}));
}

void TestSlicesCtrl::failedLoadOnNewPanel()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QVERIFY(fixtures::writeGarbage(dir.filePath("bad.dat")));
    SlicesCtrl p(dir.path());
    p.dispH_->setFixedSize(202, 60);
    p.show();
    QVERIFY(QTest::qWaitForWindowExposed(&p));
    QSignalSpy paints(&p, &SlicesCtrl::paintPImg);
    QVERIFY(loadThroughDialog(p, {dir.filePath("bad.dat")}));
    QCOMPARE(fieldTexts(p), QStringList({"0.0", "0.0", "0.0", "100.0", "0.0", "0.0"}));
    QCOMPARE(paints.count(), 1);
    const QImage hist = p.dispH_->grab().toImage().convertToFormat(QImage::Format_RGB32);
    for (int y = 0; y < hist.height(); ++y)
        for (int x = 0; x < hist.width(); ++x)
            QCOMPARE(hist.pixel(x, y), qRgb(255, 255, 255));
}

// The panel's destructor stops a long load after the file in progress instead
// of running through the whole list.
void TestSlicesCtrl::destroyDuringLoadInterrupts()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QStringList files;
    for (int i = 0; i < 40; ++i) {
        files << dir.filePath(QStringLiteral("s%1.png").arg(i, 3, 10, QLatin1Char('0')));
        QVERIFY(fixtures::writeRampPng(files.last(), 16, 16, 0, 100 + i));
    }

    auto *p = new SlicesCtrl(dir.path());
    QAtomicInt accepted = 0;
    QAtomicInt sawInterruption = 0;
    // Runs in the loader thread: hold the load after its first file until the
    // owner has asked the thread to stop.
    connect(
        &p->sliceDatas, &SliceDatas::loadedNewFile, &p->sliceDatas,
        [&](const QString &) {
            if (accepted.fetchAndAddOrdered(1) == 0) {
                QDeadlineTimer deadline(30000);
                while (!QThread::currentThread()->isInterruptionRequested() && !deadline.hasExpired())
                    QThread::msleep(1);
                sawInterruption = QThread::currentThread()->isInterruptionRequested() ? 1 : 0;
            }
        },
        Qt::DirectConnection);

    QTest::mouseClick(p->selectB_, Qt::LeftButton);
    emit p->fileDialog->filesSelected(files);
    QTRY_COMPARE(p->nameList_->count(), 1);
    delete p;  // returns once the loader thread has ended

    QCOMPARE(sawInterruption.loadAcquire(), 1);
    QVERIFY2(accepted.loadAcquire() < files.size(),
             qPrintable(QStringLiteral("%1 files loaded").arg(accepted.loadAcquire())));
}

namespace {
// A 2 x 2 range grid holding lo and hi (and both again), as text with 17 digits.
bool writeTwoValueGrid(const QString &path, double lo, double hi)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly))
        return false;
    const QByteArray l = QByteArray::number(lo, 'g', 17);
    const QByteArray h = QByteArray::number(hi, 'g', 17);
    const QByteArray text =
        "#MOLK-VEDez\n# Range_X1 : 1\n# Range_Y1 : 1\n0 0 " + l + "\n1 0 " + h + "\n0 1 " + l + "\n1 1 " + h + "\n";
    return f.write(text) == text.size();
}
}  // namespace

// Six digits cannot tell the ends of these ranges apart (or overflow the span); the
// thresholds are derived from the exact range all the same, and a later load of an
// ordinary set still works from finite percentages.
void TestSlicesCtrl::exactRangeBehindFields_data()
{
    QTest::addColumn<double>("lo");
    QTest::addColumn<double>("hi");
    QTest::addColumn<QStringList>("texts");
    QTest::newRow("a million and a quarter to three quarters")
        << 1e6 + 0.25 << 1e6 + 0.75 << QStringList({"1e+06", "1e+06", "0", "100", "1e+06", "1e+06"});
    QTest::newRow("nearly the whole double range")
        << -1e308 << 1e308 << QStringList({"-1e+308", "-1e+308", "0", "100", "1e+308", "1e+308"});
    QTest::newRow("ordinary range") << 0.5 << 2.0 << QStringList({"0.5", "0.5", "0", "100", "2", "2"});
}

void TestSlicesCtrl::exactRangeBehindFields()
{
    QFETCH(double, lo);
    QFETCH(double, hi);
    QFETCH(QStringList, texts);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QVERIFY(writeTwoValueGrid(dir.filePath("g.dat"), lo, hi));
    QVERIFY(fixtures::writeRampPng(dir.filePath("r.png"), 16, 16, 10, 210));
    SlicesCtrl p(dir.path());

    QVERIFY(loadThroughDialog(p, {dir.filePath("g.dat")}));
    QCOMPARE(fieldTexts(p), texts);
    QCOMPARE(p.rMinV(), lo);
    QCOMPARE(p.rMaxV(), hi);
    QCOMPARE(p.minThV(), lo);
    QCOMPARE(p.maxThV(), hi);
    QCOMPARE(p.minThPC(), 0.0);
    QCOMPARE(p.maxThPC(), 100.0);

    // The histogram drag and typed percentages derive from the exact range too.
    typeInto(p.maxThPC_, "50");
    QCOMPARE(p.maxThV(), lo / 2 + hi / 2);
    QCOMPARE(p.maxThPC(), 50.0);

    QVERIFY(loadThroughDialog(p, {dir.filePath("r.png")}));
    QCOMPARE(fieldTexts(p), QStringList({"10", "10", "0", "50", "110", "210"}));

    // A range typed over the written one is taken as typed, even in the same words.
    QVERIFY(loadThroughDialog(p, {dir.filePath("g.dat")}));
    typeInto(p.rMinV_, texts.at(0));
    QCOMPARE(p.rMinV(), texts.at(0).toDouble());
    QCOMPARE(p.rMaxV(), hi);
}

void TestSlicesCtrl::nonFinitePercentStartsOver_data()
{
    QTest::addColumn<bool>("high");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QStringList>("texts");
    QTest::newRow("low percent nan") << false << "nan" << QStringList({"10", "10", "0", "100", "210", "210"});
    QTest::newRow("high percent inf") << true << "inf" << QStringList({"10", "10", "0", "100", "210", "210"});
    QTest::newRow("finite percent is kept") << false << "25" << QStringList({"10", "60", "25", "100", "210", "210"});
}

void TestSlicesCtrl::nonFinitePercentStartsOver()
{
    QFETCH(bool, high);
    QFETCH(QString, typed);
    QFETCH(QStringList, texts);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QVERIFY(fixtures::writeRampPng(dir.filePath("r.png"), 16, 16, 10, 210));
    SlicesCtrl p(dir.path());
    typeInto(high ? p.maxThPC_ : p.minThPC_, typed);
    QSignalSpy paints(&p, &SlicesCtrl::paintPImg);
    QVERIFY(loadThroughDialog(p, {dir.filePath("r.png")}));
    QCOMPARE(fieldTexts(p), texts);
    QCOMPARE(paints.count(), 5);
}

// The panel and the command-line renderer reset a set's settings on a load by one
// rule: what the panel shows after a load is exactly settingsAfterLoad of what it
// showed before (the rule is written once, so oxa-render draws what the window does).
void TestSlicesCtrl::loadFollowsSettingsRule_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("typed");
    QTest::newRow("picture after a typed window") << "r.png" << "maxThPC_" << "80";
    QTest::newRow("picture after a typed lower value") << "r.png" << "minTh_" << "37.5";
    QTest::newRow("not-a-number percentage") << "r.png" << "minThPC_" << "nan";
    QTest::newRow("infinite percentage") << "r.png" << "maxThPC_" << "inf";
    QTest::newRow("typed spacing is replaced by the files'") << "r.png" << "spacingZ_" << "3";
    QTest::newRow("range overflowing the span") << "wide.dat" << "minThPC_" << "30";
    QTest::newRow("range that six digits cannot tell apart") << "near.dat" << "maxThPC_" << "75";
    QTest::newRow("nothing accepted keeps everything") << "bad.txt" << "maxThPC_" << "60";
}

void TestSlicesCtrl::loadFollowsSettingsRule()
{
    QFETCH(QString, file);
    QFETCH(QString, field);
    QFETCH(QString, typed);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QVERIFY(fixtures::writeRampPng(dir.filePath("r.png"), 16, 16, 10, 210));
    QVERIFY(writeTwoValueGrid(dir.filePath("wide.dat"), -1e308, 1e308));
    QVERIFY(writeTwoValueGrid(dir.filePath("near.dat"), 1e6 + 0.25, 1e6 + 0.75));
    QVERIFY(fixtures::writeGarbage(dir.filePath("bad.txt")));
    SlicesCtrl p(dir.path());
    QVERIFY(loadThroughDialog(p, {dir.filePath("r.png")}));
    auto *edit = p.findChild<QLineEdit *>(field);
    QVERIFY(edit);
    typeInto(edit, typed);
    const LayerSettings before = p.settings();

    QVERIFY(loadThroughDialog(p, {dir.filePath(file)}));
    LoadOutcome outcome;
    {
        SliceDatas::ReadGuard guard(p.sliceDatas);
        outcome = loadOutcomeOf(p.sliceDatas);
    }
    const LayerSettings want = settingsAfterLoad(before, outcome);
    const LayerSettings got = p.settings();
    const QList<std::pair<const char *, std::pair<double, double>>> numbers = {
        {"rangeMin", {got.rangeMin, want.rangeMin}}, {"rangeMax", {got.rangeMax, want.rangeMax}},
        {"minTh", {got.minTh, want.minTh}},          {"maxTh", {got.maxTh, want.maxTh}},
        {"minPC", {got.minPC, want.minPC}},          {"maxPC", {got.maxPC, want.maxPC}},
        {"spacing.x", {got.spacing.x, want.spacing.x}}, {"spacing.y", {got.spacing.y, want.spacing.y}},
        {"spacing.z", {got.spacing.z, want.spacing.z}}};
    for (const auto &[name, pair] : numbers) {
        // NaN only where both are NaN: a not-a-number typed field kept by a failed load.
        const bool same = pair.first == pair.second || (std::isnan(pair.first) && std::isnan(pair.second));
        QVERIFY2(same, qPrintable(QStringLiteral("%1: panel %2, rule %3")
                                      .arg(QLatin1String(name))
                                      .arg(pair.first, 0, 'g', 17)
                                      .arg(pair.second, 0, 'g', 17)));
    }
    QCOMPARE(got.alpha, want.alpha);
    QCOMPARE(got.vColor, want.vColor);
    QCOMPARE(got.showVolume, want.showVolume);
}

// The renderer reads alpha() whenever it draws, also while a value is typed but not
// yet entered.
void TestSlicesCtrl::opacityReadClamped_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<int>("alpha");
    QTest::newRow("too large") << "300" << 255;
    QTest::newRow("negative") << "-7" << 0;
    QTest::newRow("in range") << "77" << 77;
    QTest::newRow("letters") << "x" << 0;
}

void TestSlicesCtrl::opacityReadClamped()
{
    QFETCH(QString, typed);
    QFETCH(int, alpha);
    SlicesCtrl p;
    p.alpha_->selectAll();
    QTest::keyClicks(p.alpha_, typed);
    QCOMPARE(p.alpha_->text(), typed);
    QCOMPARE(p.alpha(), alpha);
}

// Names as the file system holds them (bytes); the list shows each on one line with
// its odd bytes escaped, and a name that is not UTF-8 still loads.
void TestSlicesCtrl::oddFileNames_data()
{
    QTest::addColumn<QByteArrayList>("names");
    QTest::addColumn<QStringList>("shown");
    QTest::newRow("newline in the name") << QByteArrayList{"two\nlines.png"} << QStringList{"two\\nlines.png"};
    QTest::newRow("tab and escape character") << QByteArrayList{"a\tb\x1b.png"} << QStringList{"a\\tb\\x1b.png"};
    QTest::newRow("byte that is not UTF-8") << QByteArrayList{"bad\xff.png"} << QStringList{"bad\\xff.png"};
    QTest::newRow("cut sequence, then Japanese")
        << QByteArrayList{"\xe6\x97\xa5\xe6\x9c.png"} << QStringList{"\u65e5\\xe6\\x9c.png"};
    QTest::newRow("replacement character spelled out")
        << QByteArrayList{"ok\xef\xbf\xbd.png"} << QStringList{"ok\ufffd.png"};
    // Two names that Qt shows alike cannot be told apart: neither is loaded.
    QTest::newRow("two names alike but for their bad bytes")
        << QByteArrayList{"x\xfe.png", "x\xff.png"} << QStringList{};
}

void TestSlicesCtrl::oddFileNames()
{
    QFETCH(QByteArrayList, names);
    QFETCH(QStringList, shown);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString ramp = dir.filePath("ramp.png");
    QVERIFY(fixtures::writeRampPng(ramp, 16, 16, 10, 210));
    QFile rampFile(ramp);
    QVERIFY(rampFile.open(QIODevice::ReadOnly));
    const QByteArray png = rampFile.readAll();
    QStringList files;
    for (const QByteArray &name : names) {
        const QByteArray path = QFile::encodeName(dir.path()) + '/' + name;
        FILE *f = std::fopen(path.constData(), "wb");
        QVERIFY(f);
        QCOMPARE(std::fwrite(png.constData(), 1, std::size_t(png.size()), f), std::size_t(png.size()));
        std::fclose(f);
        // As the file dialog and the command line hand it over.
        files << QFile::decodeName(path);
    }
    SlicesCtrl p(dir.path());
    QVERIFY(loadThroughDialog(p, files));
    QStringList listed;
    for (int i = 0; i < p.nameList_->count(); ++i) {
        listed << p.nameList_->itemText(i).mid(dir.path().size() + 1);
        QCOMPARE(p.nameList_->itemData(i).toString(), files.at(i));
    }
    QCOMPARE(listed, shown);
    SliceDatas::ReadGuard g(p.sliceDatas);
    QCOMPARE(p.sliceDatas.loaded, !shown.isEmpty());
}

QTEST_MAIN(TestSlicesCtrl)
#include "tst_slicesctrl.moc"
