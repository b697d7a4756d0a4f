#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QLineEdit>
#include <QSlider>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>
#include <functional>
#include <memory>

#include "app/cfgstore.h"
#include "app/startup.h"
#include "imagecompare.h"
#include "tools/phantom.h"
#include "ui/ctview.h"
#include "ui/slicesctrl.h"

// The whole program on the head phantom: the window built as the entry point
// builds it, the slices handed to the first panel as the command line hands them,
// loaded by the panel's own loader thread, and the picture compared pixel by pixel
// with a reference. Any change that moves a pixel shows here.
//
// To accept a deliberate change, look at the new pictures and write them as the
// references with OXA_UPDATE_REFERENCE=1 in the environment.

struct CtViewTestAccess {
    static void updateNvs(CtView &w, Vec3 rax, double th) { w.updateNvs(rax, th); }
    static void wheel(CtView &w, int step) { w.wheelMovedOnDataDisp(step); }
};

using ViewChange = std::function<void(CtView &)>;
using fixtures::firstDifference;

Q_DECLARE_METATYPE(ViewChange)

class TestWholeProgram : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void picture_data();
    void picture();

private:
    std::unique_ptr<QTemporaryDir> samples;
    QStringList headFiles;
};

void TestWholeProgram::initTestCase()
{
    samples = std::make_unique<QTemporaryDir>();
    QVERIFY(samples->isValid());
    const QString dir = samples->filePath(QStringLiteral("head"));
    QString error;
    QVERIFY2(phantom::writeHead(dir, phantom::headSlices, phantom::headSize, &error), qPrintable(error));
    headFiles = phantom::headFiles(dir);
}

void TestWholeProgram::picture_data()
{
    QTest::addColumn<ViewChange>("change");
    QTest::addColumn<QString>("reference");

    // The 256 x 256 slices seen face-on through a 128 x 128 picture: the middle of the head.
    QTest::newRow("as loaded") << ViewChange([](CtView &) {}) << QStringLiteral("wholeprogram_loaded.png");

    // Cut parallel to the slices just above the middle (5 % of 128 slices), then turned:
    // the cut face is one whole slice in the section colour, over the rest of the volume.
    QTest::newRow("cut along a slice, turned") << ViewChange([](CtView &w) {
        SlicesCtrl *s = w.sCtrls.first();
        s->csFixDir_->click();
        s->cSlider_->setValue(5);
        s->showCSection_->click();
        CtViewTestAccess::updateNvs(w, Vec3{0.6, 0.8, 0.0}, 0.5);
    }) << QStringLiteral("wholeprogram_cut_turned.png");

    // Zoomed out until the whole head fits, turned about two axes, cut across the view,
    // frame in front: the oblique paths of the ray caster and the frame.
    QTest::newRow("zoomed out, turned, cut across the view") << ViewChange([](CtView &w) {
        for (int i = 0; i < 7; ++i)
            CtViewTestAccess::wheel(w, -1);
        CtViewTestAccess::updateNvs(w, Vec3{1.0, 0.0, 0.0}, 0.6);
        CtViewTestAccess::updateNvs(w, Vec3{0.0, 1.0, 0.0}, -0.4);
        w.sCtrls.first()->showCSection_->click();
    }) << QStringLiteral("wholeprogram_zoomed_turned_cut.png");
}

void TestWholeProgram::picture()
{
    QFETCH(ViewChange, change);
    QFETCH(QString, reference);

    // As the entry point does it, with the store as an empty configuration leaves it.
    CtView w(samples->path(), nullptr);
    QObject::connect(&w, &CtView::finishing, qApp, &QCoreApplication::quit);
    w.imgPixWidth_->setText(QStringLiteral("128"));
    w.imgPixHeight_->setText(QStringLiteral("128"));

    SlicesCtrl *panel = w.sCtrls.first();
    int finished = 0;
    QObject ctx;
    // Connected after the panel's own slot, so the panel has handled the end when this runs.
    connect(&panel->sliceDatas, &SliceDatas::loadFilesFinished, &ctx, [&finished] { ++finished; });
    loadSliceFilesAtStart(w, headFiles);
    w.show();
    QVERIFY(QTest::qWaitFor([&finished] { return finished == 1; }, 60000));

    QCOMPARE(panel->nameList_->count(), 128);
    QCOMPARE(panel->nameList_->itemText(0), headFiles.first());
    QCOMPARE(panel->nameList_->itemText(127), headFiles.last());
    QCOMPARE(panel->rMinV_->text(), QStringLiteral("0"));
    QCOMPARE(panel->rMaxV_->text(), QStringLiteral("255"));

    change(w);
    QCOMPARE(w.pImg.size(), QSize(128, 128));

    const QString path = QStringLiteral(OXA_TEST_DATA_DIR "/") + reference;
    if (qEnvironmentVariableIntValue("OXA_UPDATE_REFERENCE") == 1) {
        QVERIFY(w.pImg.save(path, "PNG"));
        QSKIP(qPrintable(QStringLiteral("reference written: ") + path));
    }
    const QImage expected(path);
    QVERIFY2(!expected.isNull(), qPrintable(QStringLiteral("no reference picture ") + path));
    const QString diff = firstDifference(w.pImg, expected);
    if (!diff.isEmpty()) {
        const QString actualPath = QDir::temp().filePath(QStringLiteral("actual_") + reference);
        w.pImg.save(actualPath, "PNG");
        QFAIL(qPrintable(diff + QStringLiteral("; the picture drawn is in ") + actualPath));
    }
}

QTEST_MAIN(TestWholeProgram)
#include "tst_wholeprogram.moc"
