#include <QFile>
#include <QFileDialog>
#include <QImageReader>
#include <QPointer>
#include <QTemporaryDir>
#include <QTest>

#include "data/slicedata.h"
#include "data/slicedatas.h"
#include "ui/ctview.h"
#include "ui/slicesctrl.h"

struct CtViewTestAccess {
    static void paintPImg(CtView &v) { v.paintPImg(); }
    static void saveImage(CtView &v, const QString &f) { v.saveImage(f); }
    static void showSaveImageD(CtView &v) { v.showSaveImageD(); }
    static void draw(CtView &v, QPainter *p) { v.draw(p); }
};

namespace {

// A small loaded set: a bright square in the middle of every slice.
void loadSmallSet(SlicesCtrl *c)
{
    SliceDatas &set = c->sliceDatas;
    for (int z = 0; z < 4; ++z) {
        auto *s = new SliceData;
        QImage img(8, 8, QImage::Format_Grayscale8);
        img.fill(0);
        for (int y = 2; y < 6; ++y)
            for (int x = 2; x < 6; ++x)
                img.scanLine(y)[x] = 200;
        s->image = img;
        s->isImage = true;
        s->width = s->height = 8;
        s->minV = 0;
        s->maxV = 200;
        set.slices.push_back(s);
    }
    set.width = set.height = 8;
    set.minV = 0;
    set.maxV = 200;
    set.loaded = true;
    c->rMinV_->setText("0");
    c->rMaxV_->setText("200");
}

}  // namespace

class TestComposition : public QObject
{
    Q_OBJECT
private slots:
    void drawShowsNothingBeforeLoad();
    void emptySetContributesNothing();
    void saveBySuffix_data();
    void saveBySuffix();
    void svgUsesCurrentSizeAndRefusesHuge();
    void oneSaveDialogAtATime();
};

void TestComposition::drawShowsNothingBeforeLoad()
{
    CtView w;
    w.imgPixWidth_->setText("16");
    w.imgPixHeight_->setText("16");
    CtViewTestAccess::paintPImg(w);
    QImage screen(32, 32, QImage::Format_ARGB32);
    screen.fill(Qt::black);
    {
        QPainter p(&screen);
        CtViewTestAccess::draw(w, &p);
    }
    QCOMPARE(screen.pixel(10, 10), qRgb(0, 0, 0));

    loadSmallSet(w.sCtrls.first());
    CtViewTestAccess::paintPImg(w);
    screen.fill(Qt::black);
    w.dispA_->resize(32, 32);
    {
        QPainter p(&screen);
        CtViewTestAccess::draw(w, &p);
    }
    // Now the picture is stretched over the display: its white corner shows.
    QCOMPARE(screen.pixel(0, 0), qRgb(255, 255, 255));
}

void TestComposition::emptySetContributesNothing()
{
    CtView w;
    w.addSliceSet();
    w.imgPixWidth_->setText("12");
    w.imgPixHeight_->setText("12");
    CtViewTestAccess::paintPImg(w);
    for (int y = 0; y < 12; ++y)
        for (int x = 0; x < 12; ++x)
            QCOMPARE(w.pImg.pixel(x, y), qRgba(255, 255, 255, 255));
}

void TestComposition::saveBySuffix_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("format");
    QTest::newRow("png in capitals") << "pic.PNG" << QByteArray("png");
    QTest::newRow("bmp") << "pic.bmp" << QByteArray("bmp");
    QTest::newRow("svg in capitals") << "pic.SVG" << QByteArray("svg");
    QTest::newRow("unknown suffix") << "pic.xyz" << QByteArray();
    QTest::newRow("no suffix") << "pic" << QByteArray();
}

void TestComposition::saveBySuffix()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, format);
    QTemporaryDir dir;
    CtView w;
    loadSmallSet(w.sCtrls.first());
    w.imgPixWidth_->setText("20");
    w.imgPixHeight_->setText("10");
    CtViewTestAccess::paintPImg(w);
    const QString path = dir.filePath(name);
    if (format == "png" || format == "bmp")
        QTest::ignoreMessage(QtDebugMsg, QRegularExpression("^saving"));
    CtViewTestAccess::saveImage(w, path);
    if (format.isEmpty()) {
        QVERIFY(!QFile::exists(path));
        return;
    }
    QVERIFY(QFile::exists(path));
    if (format == "svg") {
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QByteArray svg = f.readAll();
        QVERIFY(svg.contains("<svg"));
        QVERIFY(svg.contains("viewBox=\"0 0 20 10\""));
        return;
    }
    QImageReader reader(path);
    QCOMPARE(reader.format(), format);
    const QImage back = reader.read();
    QCOMPARE(back.size(), QSize(20, 10));
    QCOMPARE(back.pixel(10, 5), w.pImg.pixel(10, 5));
}

void TestComposition::svgUsesCurrentSizeAndRefusesHuge()
{
    QTemporaryDir dir;
    CtView w;
    loadSmallSet(w.sCtrls.first());
    w.imgPixWidth_->setText("16");
    w.imgPixHeight_->setText("16");
    CtViewTestAccess::paintPImg(w);
    // The SVG is drawn afresh at the size typed now; a raster save keeps the old picture.
    w.imgPixWidth_->setText("24");
    CtViewTestAccess::saveImage(w, dir.filePath("a.svg"));
    QFile f(dir.filePath("a.svg"));
    QVERIFY(f.open(QIODevice::ReadOnly));
    QVERIFY(f.readAll().contains("viewBox=\"0 0 24 16\""));
    QTest::ignoreMessage(QtDebugMsg, QRegularExpression("^saving"));
    CtViewTestAccess::saveImage(w, dir.filePath("a.png"));
    QCOMPARE(QImage(dir.filePath("a.png")).size(), QSize(16, 16));

    // The limit is on the number of pixels, not on either side.
    w.imgPixWidth_->setText("10000");
    w.imgPixHeight_->setText("2");
    CtViewTestAccess::saveImage(w, dir.filePath("wide.svg"));
    QFile wide(dir.filePath("wide.svg"));
    QVERIFY(wide.open(QIODevice::ReadOnly));
    QVERIFY(wide.readAll().contains("viewBox=\"0 0 10000 2\""));
    w.imgPixWidth_->setText("8192");
    w.imgPixHeight_->setText("8193");
    CtViewTestAccess::saveImage(w, dir.filePath("huge.svg"));
    QVERIFY(!QFile::exists(dir.filePath("huge.svg")));
}

void TestComposition::oneSaveDialogAtATime()
{
    CtView w;
    CtViewTestAccess::showSaveImageD(w);
    QPointer<QFileDialog> first = w.saveDialog;
    QVERIFY(first);
    QCOMPARE(first->acceptMode(), QFileDialog::AcceptSave);
    QCOMPARE(first->nameFilters(), QStringList{"Any (* *.*)"});
    CtViewTestAccess::showSaveImageD(w);
    QVERIFY(first.isNull());
    QVERIFY(w.saveDialog);
    w.saveDialog->close();
}

QTEST_MAIN(TestComposition)
#include "tst_composition.moc"
