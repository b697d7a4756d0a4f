#include <QFile>
#include <QFileDialog>
#include <QImageReader>
#include <QMessageBox>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QPointer>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

#include "app/session.h"
#include "data/slicedata.h"
#include "data/slicedatas.h"
#include "failingwrites.h"
#include "imagecompare.h"
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

// Saves the window's picture (what: png, jpg, svg) or its session (what: session) to
// path, as the save dialogs do; the reason the window gives for a failure, or empty.
QString saveThrough(CtView &w, const QString &what, const QString &path, bool fails)
{
    if (what == QLatin1String("session")) {
        if (fails)
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^session not saved"));
        if (w.saveSession(path))
            return QString();
        auto *box = w.findChild<QMessageBox *>();
        return box && box->isVisible() ? box->text() : QStringLiteral("(no message shown)");
    }
    QSignalSpy saved(&w, &CtView::imageSaved);
    if (what != QLatin1String("svg"))
        QTest::ignoreMessage(QtDebugMsg, QRegularExpression("^saving"));
    if (fails)
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^not saved"));
    CtViewTestAccess::saveImage(w, path);
    if (saved.count() != 1)
        return QStringLiteral("(no imageSaved)");
    if (saved[0][1].toBool())
        return QString();
    auto *box = w.findChild<QMessageBox *>();
    if (!box || !box->isVisible() || !box->text().contains(saved[0][2].toString()))
        return QStringLiteral("(no message shown)");
    return saved[0][2].toString();
}

QString suffixFor(const QString &what)
{
    return what == QLatin1String("session") ? QStringLiteral("oxa") : what;
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
    void failedSaveReported_data();
    void failedSaveReported();
    void svgEmbedsThePicture();
    void bigPictureSavedInBackground();
    void saveOntoFailingDisk_data();
    void saveOntoFailingDisk();
    void saveTargets_data();
    void saveTargets();
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

void TestComposition::failedSaveReported_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("size");
    QTest::addColumn<QString>("reason");
    QTest::newRow("folder that does not exist") << "missing/pic.png" << 20 << "";
    QTest::newRow("svg into a missing folder") << "missing/pic.svg" << 20 << "";
    QTest::newRow("icon larger than icons hold") << "keep.ico" << 300 << "256";
    QTest::newRow("unknown suffix") << "keep.xyz" << 20 << "suffix";
}

// A save that cannot be written says so (signal, message box, log) and leaves an
// existing file of that name as it was.
void TestComposition::failedSaveReported()
{
    QFETCH(QString, name);
    QFETCH(int, size);
    QFETCH(QString, reason);
    QTemporaryDir dir;
    const QString path = dir.filePath(name);
    QFile old(path);
    if (!name.startsWith("missing")) {
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write("precious");
        old.close();
    }
    CtView w;
    loadSmallSet(w.sCtrls.first());
    w.imgPixWidth_->setText(QString::number(size));
    w.imgPixHeight_->setText(QString::number(size));
    CtViewTestAccess::paintPImg(w);
    QSignalSpy saved(&w, &CtView::imageSaved);
    if (!name.endsWith(".svg") && !name.endsWith(".xyz"))
        QTest::ignoreMessage(QtDebugMsg, QRegularExpression("^saving"));
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^not saved"));
    CtViewTestAccess::saveImage(w, path);
    QCOMPARE(saved.count(), 1);
    QCOMPARE(saved[0][1].toBool(), false);
    QVERIFY2(saved[0][2].toString().contains(reason), qPrintable(saved[0][2].toString()));
    auto *box = w.findChild<QMessageBox *>();
    QVERIFY(box && box->isVisible() && box->text().contains(path));
    if (name.startsWith("missing")) {
        QVERIFY(!QFile::exists(path));
    } else {
        QVERIFY(old.open(QIODevice::ReadOnly));
        QCOMPARE(old.readAll(), QByteArray("precious"));
    }
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), name.startsWith("missing") ? 0 : 1);
}

// Two sets: the SVG embeds one picture whose pixels are the PNG's, plus a few
// lines, instead of one element per pixel.
void TestComposition::svgEmbedsThePicture()
{
    QTemporaryDir dir;
    CtView w;
    loadSmallSet(w.sCtrls.first());
    w.addSliceSet();
    loadSmallSet(w.sCtrls[1]);
    w.imgPixWidth_->setText("300");
    w.imgPixHeight_->setText("200");
    CtViewTestAccess::paintPImg(w);
    CtViewTestAccess::saveImage(w, dir.filePath("two.svg"));
    QFile f(dir.filePath("two.svg"));
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QByteArray svg = f.readAll();
    QVERIFY2(svg.size() < 100000, qPrintable(QString::number(svg.size())));
    QCOMPARE(svg.count("<image"), 1);
    const QRegularExpression data(QStringLiteral("data:image/png;base64,([A-Za-z0-9+/=\\s]+)"));
    const QRegularExpressionMatch m = data.match(QString::fromLatin1(svg));
    QVERIFY(m.hasMatch());
    const QImage embedded = QImage::fromData(QByteArray::fromBase64(m.captured(1).toLatin1()), "PNG");
    const QString diff = fixtures::firstDifference(embedded, w.pImg);
    QVERIFY2(diff.isEmpty(), qPrintable(diff));
}

// Past a million pixels the file is written on a worker thread; the signal brings
// the result, and the file holds the picture.
void TestComposition::bigPictureSavedInBackground()
{
    QTemporaryDir dir;
    CtView w;
    loadSmallSet(w.sCtrls.first());
    w.imgPixWidth_->setText("1100");
    w.imgPixHeight_->setText("1000");
    CtViewTestAccess::paintPImg(w);
    QSignalSpy saved(&w, &CtView::imageSaved);
    QTest::ignoreMessage(QtDebugMsg, QRegularExpression("^saving"));
    CtViewTestAccess::saveImage(w, dir.filePath("big.png"));
    QVERIFY(saved.count() == 1 || saved.wait(30000));
    QCOMPARE(saved[0][1].toBool(), true);
    QVERIFY(fixtures::firstDifference(QImage(dir.filePath("big.png")), w.pImg).isEmpty());
}

void TestComposition::saveOntoFailingDisk_data()
{
    QTest::addColumn<QString>("what");
    QTest::addColumn<int>("kind");
    for (const char *what : {"png", "jpg", "svg", "session"}) {
        QTest::addRow("%s, full disk", what) << what << int(fixtures::FailingWrites::FullDisk);
        QTest::addRow("%s, file-size limit", what) << what << int(fixtures::FailingWrites::SizeLimit);
    }
}

// Small files are still in the save file's buffer when the disk is found full:
// the save fails with the system's reason, the old file stays as it was and no
// partial copy is left beside it.
void TestComposition::saveOntoFailingDisk()
{
    QFETCH(QString, what);
    QFETCH(int, kind);
    fixtures::FailingWrites disk{fixtures::FailingWrites::Kind(kind)};
    if (!disk.unavailable().isEmpty())
        QSKIP(qPrintable(disk.unavailable()));
    const QString name = "old." + suffixFor(what);
    QVERIFY(disk.put(name, "precious"));
    CtView w;
    loadSmallSet(w.sCtrls.first());
    w.imgPixWidth_->setText("20");
    w.imgPixHeight_->setText("20");
    CtViewTestAccess::paintPImg(w);

    QVERIFY(disk.startFailing());
    const QString why = saveThrough(w, what, disk.path(name), true);
    disk.stopFailing();
    QVERIFY2(why.contains(disk.reason()), qPrintable(why));
    QCOMPARE(disk.contents(name), QByteArray("precious"));
    QCOMPARE(disk.names(), QStringList{name});
}

void TestComposition::saveTargets_data()
{
    QTest::addColumn<QString>("what");
    QTest::addColumn<bool>("toPipe");  // the link's target: a pipe, else a file
    for (const char *what : {"png", "session"}) {
        QTest::addRow("%s through a link to a file", what) << what << false;
        QTest::addRow("%s through a link to a pipe", what) << what << true;
    }
}

// A save writes what the user named: through a link, which stays a link; never over
// something that is not a regular file, which the rename would replace.
void TestComposition::saveTargets()
{
    QFETCH(QString, what);
    QFETCH(bool, toPipe);
    QTemporaryDir dir;
    const QString path = dir.filePath("named." + suffixFor(what));
    const QString target = dir.filePath("target." + suffixFor(what));
    if (toPipe) {
        QCOMPARE(::mkfifo(QFile::encodeName(target).constData(), 0600), 0);
    } else {
        QFile f(target);
        QVERIFY(f.open(QIODevice::WriteOnly) && f.write("old") == 3);
    }
    QVERIFY(QFile::link(target, path));
    CtView w;
    loadSmallSet(w.sCtrls.first());
    CtViewTestAccess::paintPImg(w);

    const QString why = saveThrough(w, what, path, toPipe);
    QVERIFY(QFileInfo(path).isSymLink());
    QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot).size(),
             2);
    if (toPipe) {
        QVERIFY2(why.contains("not a regular file"), qPrintable(why));
        struct stat st;
        QVERIFY(::stat(QFile::encodeName(target).constData(), &st) == 0 && S_ISFIFO(st.st_mode));
    } else {
        QVERIFY2(why.isEmpty(), qPrintable(why));
        Session back;
        QVERIFY(what == "session" ? readSessionFile(target, back, nullptr) : QImage(target).size() == w.pImg.size());
    }
}

QTEST_MAIN(TestComposition)
#include "tst_composition.moc"
