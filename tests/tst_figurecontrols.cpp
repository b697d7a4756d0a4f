// The window's and the panel's controls of the drawing choices for figures: they
// show a settings value and read it back, presets and the automatic window set the
// window, and the background reaches the picture and the session.
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QSlider>
#include <QRegularExpression>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>
#include <utility>

#include "app/session.h"
#include "panelfixtures.h"
#include "slicefixtures.h"
#include "data/slicedata.h"
#include "ui/ctview.h"
#include "ui/histogramview.h"
#include "ui/slicesctrl.h"

struct CtViewTestAccess {
    static void paintPImg(CtView &w) { w.paintPImg(); }
    static void saveImage(CtView &w, const QString &fname) { w.saveImage(fname); }
};

namespace {

// One slice of 100 x 100 values 0 .. 9999, as a load leaves the set and the panel.
void fillRamp(SlicesCtrl *c)
{
    SliceDatas &set = c->sliceDatas;
    auto *s = new SliceData;
    s->isImage = false;
    s->width = s->height = 100;
    s->values.assign(100, std::vector<double>(100));
    for (int i = 0; i < 10000; ++i)
        s->values[size_t(i / 100)][size_t(i % 100)] = i;
    s->minV = 0;
    s->maxV = 9999;
    set.slices.push_back(s);
    set.width = set.height = 100;
    set.minV = 0;
    set.maxV = 9999;
    set.loaded = true;
    c->setRMinV(0);
    c->setRMaxV(9999);
}

// The smallest rectangle holding every pixel that is not white.
QRect drawnBox(const QImage &img)
{
    QRect box;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x)
            if (img.pixel(x, y) != qRgb(255, 255, 255))
                box |= QRect(x, y, 1, 1);
    return box;
}

}  // namespace

class TestFigureControls : public QObject
{
    Q_OBJECT
private slots:
    void panelShowsAndReadsDrawing();
    void windowChoices_data();
    void windowChoices();
    void backgroundReachesPictureAndSession();
    void bigHistogramAxis();
    void saveAfterTypingASize();
    void viewKeys_data();
    void viewKeys();
    void fieldsShowSixDigits();
    void cutSliderSaysWhere();
    void saveAtMorePixels_data();
    void saveAtMorePixels();
};

// What setSettings shows, settings() reads back, without a redraw being asked for;
// a gamma field that holds no usable gamma reads as 1.
void TestFigureControls::panelShowsAndReadsDrawing()
{
    SlicesCtrl panel;
    QSignalSpy redraws(&panel, &SlicesCtrl::paintPImg);
    LayerSettings s = panel.settings();
    QCOMPARE(s.colorMap, ColorMap::WhiteRamp);
    QCOMPARE(s.gamma, 1.0);
    QCOMPARE(s.above, AboveWindow::Vanish);
    s.colorMap = ColorMap::Magma;
    s.gamma = 0.7;
    s.above = AboveWindow::Saturate;
    s.projection = Projection::Composite;
    s.interpolation = Interpolation::Linear;
    s.opacity.points = {0.0, 0.2, 0.4, 0.6, 0.8};
    panel.setSettings(s);
    QCOMPARE(redraws.count(), 0);
    const LayerSettings back = panel.settings();
    QCOMPARE(back.colorMap, ColorMap::Magma);
    QCOMPARE(back.gamma, 0.7);
    QCOMPARE(back.above, AboveWindow::Saturate);
    QCOMPARE(back.projection, Projection::Composite);
    QCOMPARE(back.interpolation, Interpolation::Linear);
    QVERIFY(back.opacity == s.opacity);
    for (const char *bad : {"abc", "0", "-2", "1e9"}) {
        panel.gamma_->setText(bad);
        QCOMPARE(panel.settings().gamma, 1.0);
    }
    panel.colorMap_->setCurrentIndex(panel.colorMap_->findData(int(ColorMap::Viridis)));
    QCOMPARE(redraws.count(), 1);
}

void TestFigureControls::windowChoices_data()
{
    QTest::addColumn<QString>("choice");  // a preset's name, or "auto"
    QTest::addColumn<double>("low");
    QTest::addColumn<double>("high");
    QTest::addColumn<double>("tolerance");
    QTest::newRow("bone") << "Bone" << -500.0 << 1300.0 << 0.0;
    QTest::newRow("lung") << "Lung" << -1350.0 << 150.0 << 0.0;
    QTest::newRow("brain") << "Brain" << 0.0 << 80.0 << 0.0;
    QTest::newRow("auto") << "auto" << 50.0 << 9950.0 << 3.0;
}

// A preset or Auto sets both window ends in data units and their percentages; the
// preset list shows its title again.
void TestFigureControls::windowChoices()
{
    QFETCH(QString, choice);
    QFETCH(double, low);
    QFETCH(double, high);
    QFETCH(double, tolerance);
    SlicesCtrl panel;
    fillRamp(&panel);
    QSignalSpy redraws(&panel, &SlicesCtrl::paintPImg);
    if (choice == QLatin1String("auto")) {
        panel.autoWindow_->click();
    } else {
        int index = -1;
        for (int i = 0; i < panel.windowPreset_->count(); ++i)
            if (panel.windowPreset_->itemText(i).startsWith(choice))
                index = i;
        QVERIFY(index > 0);
        panel.windowPreset_->setCurrentIndex(index);
        emit panel.windowPreset_->activated(index);
        QCOMPARE(panel.windowPreset_->currentIndex(), 0);
    }
    QVERIFY(redraws.count() > 0);
    QVERIFY2(std::fabs(panel.minThV() - low) <= tolerance, qPrintable(QString::number(panel.minThV())));
    QVERIFY2(std::fabs(panel.maxThV() - high) <= tolerance, qPrintable(QString::number(panel.maxThV())));
    QVERIFY(std::fabs(panel.minThPC() - panel.minThV() / 9999.0 * 100.0) < 1e-9);
    QVERIFY(std::fabs(panel.maxThPC() - panel.maxThV() / 9999.0 * 100.0) < 1e-9);
}

void TestFigureControls::backgroundReachesPictureAndSession()
{
    CtView w;
    fillRamp(w.sCtrls.first());
    w.sCtrls.first()->showFrame_->setChecked(false);
    w.imgPixWidth_->setText("40");
    w.imgPixHeight_->setText("30");
    w.scale = 10.0;  // the set is drawn small in the middle
    w.background_->setCurrentIndex(w.background_->findText(QStringLiteral("Black")));
    CtViewTestAccess::paintPImg(w);
    QCOMPARE(w.pImg.pixel(0, 0), qRgb(0, 0, 0));
    QCOMPARE(w.currentSession().background, QColor(0, 0, 0));
    Session s = w.currentSession();
    s.background = QColor(255, 255, 255);
    s.sets.clear();
    QTemporaryDir dir;
    const QString path = dir.filePath("white.oxa");
    QVERIFY(writeSessionFile(path, s, nullptr));
    QVERIFY(w.openSession(path));
    QCOMPARE(w.backgroundColor(), QColor(255, 255, 255));
}

// The larger histogram places values on its axis over the panel's range, and a
// drag on it moves the nearer window end.
void TestFigureControls::bigHistogramAxis()
{
    SlicesCtrl panel;
    fillRamp(&panel);
    panel.setMinThV(1000, false);
    panel.setMaxThV(9000, false);
    panel.bigHist_->click();
    QVERIFY(panel.histView);
    HistogramView &view = *panel.histView;
    view.resize(600, 240);
    for (double v : {0.0, 2500.0, 9999.0})
        QVERIFY(std::fabs(view.valueAt(view.columnOf(v)) - v) < 1e-6);
    QVERIFY(view.columnOf(0) < view.columnOf(9999));
    const int x = int(view.columnOf(8000));
    QTest::mousePress(&view, Qt::LeftButton, Qt::NoModifier, QPoint(x, 100));
    QTest::mouseRelease(&view, Qt::LeftButton, Qt::NoModifier, QPoint(x, 100));
    QCOMPARE(panel.minThV(), 1000.0);
    QVERIFY2(std::fabs(panel.maxThV() - 8000) < 9999.0 / 500, qPrintable(QString::number(panel.maxThV())));

    // Under Composite the middle point of the opacity curve (at the middle of the
    // window) is dragged to the top, and the set is redrawn.
    panel.projection_->setCurrentIndex(panel.projection_->findData(int(Projection::Composite)));
    QSignalSpy redraws(&panel, &SlicesCtrl::paintPImg);
    // The plot spans rows 8 .. its bottom, above the axis labels.
    const int bottom = view.height() - 1 - (view.fontMetrics().height() + 8);
    const QPoint middle(int(view.columnOf((panel.minThV() + panel.maxThV()) / 2)),
                        int(bottom - OpacityCurve().points[2] * (bottom - 8)));
    QTest::mousePress(&view, Qt::LeftButton, Qt::NoModifier, middle);
    QTest::mouseMove(&view, QPoint(middle.x(), 2));
    QTest::mouseRelease(&view, Qt::LeftButton, Qt::NoModifier, QPoint(middle.x(), 2));
    QVERIFY(redraws.count() > 0);
    QCOMPARE(panel.opacityCurve().points[2], 1.0);
    QCOMPARE(panel.opacityCurve().points[1], OpacityCurve().points[1]);
}

// With the picture following the window, a size typed and entered is drawn, the
// picture no longer follows the window, and a save that follows writes that size.
void TestFigureControls::saveAfterTypingASize()
{
    QTemporaryDir dir;
    CtView w;
    fillRamp(w.sCtrls.first());
    w.followWindow_->setChecked(true);
    QVERIFY(w.followWindow_->isChecked());
    for (auto [field, text] : {std::pair{w.imgPixWidth_, "300"}, std::pair{w.imgPixHeight_, "200"}}) {
        field->selectAll();
        QTest::keyClicks(field, text);
        QTest::keyClick(field, Qt::Key_Return);
    }
    QVERIFY(!w.followWindow_->isChecked());
    QCOMPARE(w.pImg.size(), QSize(300, 200));
    QTest::ignoreMessage(QtDebugMsg, QRegularExpression("^saving"));
    CtViewTestAccess::saveImage(w, dir.filePath("typed.png"));
    QCOMPARE(QImage(dir.filePath("typed.png")).size(), QSize(300, 200));
}

void TestFigureControls::saveAtMorePixels_data()
{
    QTest::addColumn<int>("times");
    QTest::newRow("twice the pixels") << 2;
    QTest::newRow("four times the pixels") << 4;
}

// A save at n times the pixels frames the picture shown: the set fills the same
// part of it, to within a pixel of the picture shown.
void TestFigureControls::saveAtMorePixels()
{
    QFETCH(int, times);
    QTemporaryDir dir;
    CtView w;
    fillRamp(w.sCtrls.first());
    w.imgPixWidth_->setText("60");
    w.imgPixHeight_->setText("45");
    w.scale = 2.5;
    w.center = Vec3{7.0, -4.0, 0.0};
    CtViewTestAccess::paintPImg(w);
    w.saveScale_->setCurrentIndex(w.saveScale_->findData(times));
    QTest::ignoreMessage(QtDebugMsg, QRegularExpression("^saving"));
    CtViewTestAccess::saveImage(w, dir.filePath("big.png"));
    const QImage saved(dir.filePath("big.png"));
    QCOMPARE(saved.size(), w.pImg.size() * times);
    const QRect shown = drawnBox(w.pImg), big = drawnBox(saved);
    QVERIFY(shown.isValid());
    for (auto [a, b] : {std::pair{shown.left() * times, big.left()}, std::pair{shown.top() * times, big.top()},
                        std::pair{(shown.right() + 1) * times, big.right() + 1},
                        std::pair{(shown.bottom() + 1) * times, big.bottom() + 1}})
        QVERIFY2(std::abs(a - b) <= times, qPrintable(QStringLiteral("shown %1, saved %2").arg(a).arg(b)));
}

void TestFigureControls::viewKeys_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("modifiers");
    QTest::addColumn<bool>("keepsDirection");
    QTest::addColumn<int>("sampling");  // expected afterwards; 0 Slices, 1 Voxels
    QTest::newRow("F fits, the view turned as it was") << int(Qt::Key_F) << 0 << true << 0;
    QTest::newRow("Shift+F as well") << int(Qt::Key_F) << int(Qt::ShiftModifier) << true << 0;
    QTest::newRow("2 looks from the side with voxels") << int(Qt::Key_2) << 0 << false << 1;
    QTest::newRow("3 looks from above with voxels") << int(Qt::Key_3) << 0 << false << 1;
    QTest::newRow("1 looks along the stack") << int(Qt::Key_1) << 0 << false << 0;
}

void TestFigureControls::viewKeys()
{
    QFETCH(int, key);
    QFETCH(int, modifiers);
    QFETCH(bool, keepsDirection);
    QFETCH(int, sampling);
    CtView w;
    fillRamp(w.sCtrls.first());
    w.show();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    const SceneView turned = render::turned(w.view(), Vec3{0.0, 1.0, 0.0}, 0.7);
    w.nx = turned.nx;
    w.ny = turned.ny;
    w.nz = turned.nz;
    w.scale = 9.0;
    w.dispA_->setFocus();
    QTest::keyClick(w.dispA_, Qt::Key(key), Qt::KeyboardModifiers(modifiers));
    QCOMPARE(w.sampling_->currentIndex(), sampling);
    QVERIFY(w.scale < 9.0);
    const bool same = w.nz.x == turned.nz.x && w.nz.y == turned.nz.y && w.nz.z == turned.nz.z;
    QCOMPARE(same, keepsDirection);
    QVERIFY(w.imgPixWidth_->minimumWidth() >= w.fontMetrics().horizontalAdvance(QStringLiteral("88888")));
}

// What a session gives a panel: six digits in each field, read from their start,
// the exact values behind them, the spacing among them.
void TestFigureControls::fieldsShowSixDigits()
{
    SlicesCtrl panel;
    LayerSettings s;
    s.rangeMin = -1024;
    s.rangeMax = 3071;
    s.minTh = 486.80999999999995;
    s.maxTh = 1234.5678901234;
    s.minPC = 36.883003;
    s.maxPC = 55.1;
    s.spacing = Spacing{0.48680999999999995, 0.5, 2.345678912};
    panel.setSettings(s);
    QCOMPARE(panel.minTh_->text(), QStringLiteral("486.81"));
    QCOMPARE(panel.minTh_->cursorPosition(), 0);
    QCOMPARE(panel.maxTh_->text(), QStringLiteral("1234.57"));
    QCOMPARE(panel.spacingX_->text(), QStringLiteral("0.48681"));
    QCOMPARE(panel.spacingZ_->text(), QStringLiteral("2.34568"));
    const LayerSettings back = panel.settings();
    QCOMPARE(back.minTh, s.minTh);
    QCOMPARE(back.maxTh, s.maxTh);
    QCOMPARE(back.spacing.x, s.spacing.x);
    QCOMPARE(back.spacing.z, s.spacing.z);
    // A spacing typed is taken as typed.
    panel.spacingZ_->selectAll();
    QTest::keyClicks(panel.spacingZ_, "2.5");
    QCOMPARE(panel.settings().spacing.z, 2.5);
}

void TestFigureControls::cutSliderSaysWhere()
{
    QTemporaryDir dir;
    QStringList files;
    for (int i = 0; i < 24; ++i) {
        files << dir.filePath(QStringLiteral("s%1.png").arg(i, 2, 10, QLatin1Char('0')));
        QVERIFY(fixtures::writeRampPng(files.last(), 8, 8, i, 100 + i));
    }
    SlicesCtrl panel;
    QVERIFY(fixtures::loadThroughDialog(panel, files));
    panel.setSpacing(Spacing{1.0, 1.0, 2.0});
    // 25 % of 24 slices is 6 slice steps past the middle (slice 12 from 0): slice 18,
    // the 19th, 12 units away.
    panel.cSlider_->setValue(25);
    QCOMPARE(panel.cutInfo_->text(), QStringLiteral("slice 19 · 12.0"));
    panel.cSlider_->setValue(-100);
    QCOMPARE(panel.cutInfo_->text(), QStringLiteral("slice 1 · -48.0"));
}

QTEST_MAIN(TestFigureControls)
#include "tst_figurecontrols.moc"
