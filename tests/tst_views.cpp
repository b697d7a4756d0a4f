#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include "slicefixtures.h"
#include "panelfixtures.h"
#include "ui/ctview.h"
#include "ui/slicesctrl.h"
#include "widgets/dispa.h"

// Whole views, the picture following the window, and the settings kept between runs.

namespace {

// The smallest rectangle holding every pixel that is not white.
QRect drawnArea(const QImage &img)
{
    QRect area;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x)
            if (img.pixel(x, y) != qRgb(255, 255, 255))
                area |= QRect(x, y, 1, 1);
    return area;
}

}  // namespace

class TestViews : public QObject
{
    Q_OBJECT
private slots:
    void fitFillsThePicture_data();
    void fitFillsThePicture();
    void pictureFollowsWindow();
    void settingsKeptButConfigWins();
};

void TestViews::fitFillsThePicture_data()
{
    QTest::addColumn<int>("sw");
    QTest::addColumn<int>("sh");
    QTest::addColumn<int>("side");  // 0 along the stack, 1 from the side, 2 from above
    QTest::newRow("a speck made whole") << 12 << 9 << 0;
    QTest::newRow("a cropped set made whole") << 600 << 300 << 0;
    QTest::newRow("tall set from the side") << 40 << 90 << 1;
    QTest::newRow("wide set from above") << 300 << 40 << 2;
}

// After Fit the drawn area (frame included) reaches across the picture in one
// direction, with a small margin, and is whole in both.
void TestViews::fitFillsThePicture()
{
    QFETCH(int, sw);
    QFETCH(int, sh);
    QFETCH(int, side);
    QTemporaryDir dir;
    QStringList files;
    for (int i = 0; i < 6; ++i) {
        files << dir.filePath(QStringLiteral("s%1.png").arg(i));
        QVERIFY(fixtures::writeRampPng(files.last(), sw, sh, 20, 200));
    }
    CtView w(dir.path());
    w.sampling_->setCurrentIndex(1);
    w.imgPixWidth_->setText("160");
    w.imgPixHeight_->setText("120");
    QVERIFY(fixtures::loadThroughDialog(*w.sCtrls[0], files));
    w.lookAlong(side);
    const QRect area = drawnArea(w.pImg);
    QVERIFY(!area.isEmpty());
    QVERIFY2(
        QRect(0, 0, 160, 120).contains(area),
        qPrintable(QStringLiteral("%1 %2 %3 %4").arg(area.x()).arg(area.y()).arg(area.width()).arg(area.height())));
    const double fill = std::max(area.width() / 160.0, area.height() / 120.0);
    QVERIFY2(fill > 0.9 && fill < 0.99, qPrintable(QString::number(fill)));
}

// With the tick on, the picture is made at the display's size in device pixels
// and follows it when the window changes size; with it off the typed size stays.
void TestViews::pictureFollowsWindow()
{
    QTemporaryDir dir;
    const QString file = dir.filePath("s.png");
    QVERIFY(fixtures::writeRampPng(file, 30, 20, 0, 100));
    CtView w(dir.path());
    QVERIFY(fixtures::loadThroughDialog(*w.sCtrls[0], {file, file}));
    w.resize(700, 800);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    w.followWindow_->setChecked(true);
    const auto deviceSize = [&w]() {
        const double r = w.dispA_->devicePixelRatioF();
        return QSize(int(std::lround(w.dispA_->width() * r)), int(std::lround(w.dispA_->height() * r)));
    };
    QTRY_COMPARE(w.pImg.size(), deviceSize());
    QCOMPARE(QSize(w.imgPixWidth(), w.imgPixHeight()), deviceSize());
    w.resize(500, 900);
    QTRY_COMPARE(w.pImg.size(), deviceSize());
    w.followWindow_->setChecked(false);
    const QSize kept = w.pImg.size();
    w.resize(600, 700);
    QTest::qWait(50);
    QCOMPARE(QSize(w.imgPixWidth(), w.imgPixHeight()), kept);
}

void TestViews::settingsKeptButConfigWins()
{
    QTemporaryDir dir;
    const QString ini = dir.filePath("oxa.ini");
    {
        CtView w(dir.path());
        w.imgPixWidth_->setText("300");
        w.imgPixHeight_->setText("200");
        w.sampling_->setCurrentIndex(1);
        w.fitOnLoad_->setChecked(true);
        w.saveDir = dir.path();
        w.sCtrls[0]->dataRoot = dir.path();
        QSettings s(ini, QSettings::IniFormat);
        w.storeSettings(s);
    }
    const QSettings s(ini, QSettings::IniFormat);
    CtView remembered(QStringLiteral("/"));
    remembered.restoreSettings(s, true);
    QCOMPARE(remembered.imgPixWidth(), 300);
    QCOMPARE(remembered.imgPixHeight(), 200);
    QCOMPARE(remembered.sampling_->currentIndex(), 1);
    QVERIFY(remembered.fitOnLoad_->isChecked());
    QCOMPARE(remembered.saveDir, dir.path());
    QCOMPARE(remembered.sCtrls[0]->dataRoot, dir.path());
    // A data root from the configuration or the command line keeps the folders.
    CtView configured(QStringLiteral("/"));
    configured.restoreSettings(s, false);
    QCOMPARE(configured.saveDir, QStringLiteral("/"));
    QCOMPARE(configured.sCtrls[0]->dataRoot, QStringLiteral("/"));
}

QTEST_MAIN(TestViews)
#include "tst_views.moc"
