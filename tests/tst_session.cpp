#include <QCheckBox>
#include <QComboBox>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QMessageBox>
#include <QSignalSpy>
#include <QSlider>
#include <QTemporaryDir>
#include <QTest>

#include "app/session.h"
#include "imagecompare.h"
#include "panelfixtures.h"
#include "slicefixtures.h"
#include "ui/ctview.h"
#include "ui/slicesctrl.h"

struct CtViewTestAccess {
    static void updateNvs(CtView &w, Vec3 rax, double th) { w.updateNvs(rax, th); }
    static void wheel(CtView &w, int step) { w.wheelMovedOnDataDisp(step); }
    static void paintPImg(CtView &w) { w.paintPImg(); }
};

namespace {

// A session in which every field differs from its default.
Session fullSession(const QDir &base)
{
    Session s;
    s.view.nx = Vec3{0.1, 0.2, 0.3};
    s.view.ny = Vec3{-0.4, 0.5, 1.0 / 3.0};
    s.view.nz = Vec3{0.7, -0.8, 0.9};
    s.view.center = Vec3{1.5, -2.25, 1e-9};
    s.view.scale = 0.123456789012345;
    s.view.sampling = Sampling::Voxels;
    s.width = 321;
    s.height = 123;
    s.linkCSection = false;
    SessionSet a;
    a.files = {base.filePath("a/s1.png"), base.filePath("a/s2.png")};
    a.spacing.x = 0.5;
    a.spacing.z = 2.5;
    a.rangeMin = -1024.5;
    a.rangeMax = 3071.25;
    a.minTh = 1.2345678;
    a.maxTh = 2000;
    a.minPC = 12.3456789;
    a.maxPC = 77.7;
    a.vColor = QColor(1, 2, 3);
    a.sColor = QColor(250, 128, 4);
    a.alpha = 77;
    a.showVolume = false;
    a.showFrame = false;
    a.showCSection = true;
    a.cutPos = -37;
    a.csNz = Vec3{0.0, 1.0, 0.0};
    a.fixDir = true;
    SessionSet b;
    b.files = {QStringLiteral("/elsewhere/x.dat"), base.filePath("scan.raw")};
    parseRawDescription("512,256,3,int16,be,64,0.5,0.25,3.5", b.raw[base.filePath("scan.raw")]);
    s.sets = {a, b};
    return s;
}

void compareVec(const Vec3 &a, const Vec3 &b)
{
    QCOMPARE(a.x, b.x);
    QCOMPARE(a.y, b.y);
    QCOMPARE(a.z, b.z);
}

void compareSessions(const Session &a, const Session &b)
{
    compareVec(a.view.nx, b.view.nx);
    compareVec(a.view.ny, b.view.ny);
    compareVec(a.view.nz, b.view.nz);
    compareVec(a.view.center, b.view.center);
    QCOMPARE(a.view.scale, b.view.scale);
    QCOMPARE(a.view.sampling, b.view.sampling);
    QCOMPARE(a.width, b.width);
    QCOMPARE(a.height, b.height);
    QCOMPARE(a.linkCSection, b.linkCSection);
    QCOMPARE(a.sets.size(), b.sets.size());
    for (std::size_t i = 0; i < a.sets.size(); ++i) {
        const SessionSet &x = a.sets[i], &y = b.sets[i];
        QCOMPARE(x.files, y.files);
        QCOMPARE(x.spacing.x, y.spacing.x);
        QCOMPARE(x.spacing.y, y.spacing.y);
        QCOMPARE(x.spacing.z, y.spacing.z);
        QCOMPARE(x.rangeMin, y.rangeMin);
        QCOMPARE(x.rangeMax, y.rangeMax);
        QCOMPARE(x.minTh, y.minTh);
        QCOMPARE(x.maxTh, y.maxTh);
        QCOMPARE(x.minPC, y.minPC);
        QCOMPARE(x.maxPC, y.maxPC);
        QCOMPARE(x.vColor, y.vColor);
        QCOMPARE(x.sColor, y.sColor);
        QCOMPARE(x.alpha, y.alpha);
        QCOMPARE(x.showVolume, y.showVolume);
        QCOMPARE(x.showFrame, y.showFrame);
        QCOMPARE(x.showCSection, y.showCSection);
        QCOMPARE(x.cutPos, y.cutPos);
        compareVec(x.csNz, y.csNz);
        QCOMPARE(x.fixDir, y.fixDir);
        QCOMPARE(x.raw.keys(), y.raw.keys());
        for (const QString &f : x.raw.keys())
            QVERIFY(x.raw.value(f) == y.raw.value(f));
    }
}

bool waitForLoad(SlicesCtrl *panel, const QStringList &files)
{
    return fixtures::loadThroughDialog(*panel, files);
}

}  // namespace

class TestSession : public QObject
{
    Q_OBJECT
private slots:
    void roundTrip();
    void refused_data();
    void refused();
    void windowRestoresPicture();
    void badFileChangesNothing();
};

// Every field comes back exactly, file names below the session's folder are
// written relative to it and others absolute.
void TestSession::roundTrip()
{
    QTemporaryDir dir;
    const QDir base(dir.path());
    const Session s = fullSession(base);
    const QString path = base.filePath("s.oxa");
    QString why;
    QVERIFY2(writeSessionFile(path, s, &why), qPrintable(why));
    QFile f(path);
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QByteArray text = f.readAll();
    QVERIFY(text.contains("\"a/s1.png\""));
    QVERIFY(text.contains("\"../../elsewhere/x.dat\"") || text.contains("/elsewhere/x.dat"));
    Session back;
    QVERIFY2(readSessionFile(path, back, &why), qPrintable(why));
    compareSessions(back, s);

    // A raw file's description travels with it, and only one the parser reads is taken.
    QVERIFY(text.contains("\"scan.raw\": \"512,256,3,int16,be,64,0.5,0.25,3.5\""));
    Session untouched;
    QVERIFY(!sessionFromJson(QByteArray(text).replace("int16,be", "int16"), base, untouched, &why));
    QVERIFY2(why.contains("sets[1].raw.scan.raw: not a raw description"), qPrintable(why));
    QVERIFY(!sessionFromJson(QByteArray(text).replace("\"scan.raw\": ", "\"other.raw\": "), base, untouched, &why));
    QVERIFY2(why.contains("not a file of the set"), qPrintable(why));
    QVERIFY(untouched.sets.empty());
}

void TestSession::refused_data()
{
    QTest::addColumn<QByteArray>("edit");  // "key=json" replaces one value of a good session
    QTest::addColumn<QString>("reason");  // a part of the message

    QTest::newRow("not JSON") << QByteArray("!{") << "not a session file";
    QTest::newRow("another format") << QByteArray("format=\"something\"") << "not a session file";
    QTest::newRow("newer version") << QByteArray("version=2") << "newer version";
    QTest::newRow("unknown key") << QByteArray("colour=1") << "colour: unknown key";
    QTest::newRow("wrong type") << QByteArray("linkCrossSection=\"yes\"") << "linkCrossSection";
    QTest::newRow("huge number") << QByteArray("picture={\"width\":1e300,\"height\":5}") << "picture.width";
    QTest::newRow("negative size") << QByteArray("picture={\"width\":-5,\"height\":5}") << "picture.width";
    QTest::newRow("too many pixels") << QByteArray("picture={\"width\":30000,\"height\":30000}") << "picture";
    QTest::newRow("unknown sampling") << QByteArray("view={\"nx\":[1,0,0],\"ny\":[0,1,0],\"nz\":[0,0,1],"
                                                    "\"center\":[0,0,0],\"scale\":1,\"sampling\":\"rays\"}")
                                      << "view.sampling";
    QTest::newRow("zero zoom") << QByteArray("view={\"nx\":[1,0,0],\"ny\":[0,1,0],\"nz\":[0,0,1],"
                                             "\"center\":[0,0,0],\"scale\":0}")
                               << "view.scale";
    QTest::newRow("deep nesting") << QByteArray("sets=" + QByteArray(5000, '[') + QByteArray(5000, ']'))
                                  << "not a session file";
    QTest::newRow("set not an object") << QByteArray("sets=[7]") << "sets[0]";
    QTest::newRow("missing key") << QByteArray("sets=[{\"files\":[]}]") << "missing";
}

// A damaged or newer session is refused with a reason and leaves the target as it was.
void TestSession::refused()
{
    QFETCH(QByteArray, edit);
    QFETCH(QString, reason);
    QTemporaryDir dir;
    const QDir base(dir.path());
    QByteArray json;
    if (edit.startsWith('!')) {
        json = edit.mid(1);
    } else {
        QJsonObject root = QJsonDocument::fromJson(sessionToJson(fullSession(base), base)).object();
        const qsizetype eq = edit.indexOf('=');
        const QByteArray value = edit.mid(eq + 1);
        const QJsonDocument v = QJsonDocument::fromJson("[" + value + "]");
        root.insert(QString::fromUtf8(edit.left(eq)), v.isArray() ? v.array().at(0) : QJsonValue());
        json = QJsonDocument(root).toJson();
        if (v.isNull())  // values too deep for the document: spliced in as text
            json.replace("\"" + edit.left(eq) + "\": null", "\"" + edit.left(eq) + "\": " + value);
    }
    Session target;
    target.width = 99;
    QString why;
    QVERIFY(!sessionFromJson(json, base, target, &why));
    QVERIFY2(why.contains(reason), qPrintable(why));
    QCOMPARE(target.width, 99);
    QVERIFY(target.sets.empty());
}

// Two sets with every setting changed, a turned and zoomed view: a new window that
// opens the saved session draws the same picture, pixel for pixel.
void TestSession::windowRestoresPicture()
{
    QTemporaryDir dir;
    QStringList ramp, steps;
    for (int i = 0; i < 6; ++i) {
        ramp << dir.filePath(QStringLiteral("r%1.png").arg(i));
        QVERIFY(fixtures::writeRampPng(ramp.last(), 40, 30, 10 * i, 200 + 5 * i));
        steps << dir.filePath(QStringLiteral("t%1.png").arg(i));
        QVERIFY(fixtures::writeTwoValuePng(steps.last(), 24, 36, 3, 90 + i));
    }
    const QString path = dir.filePath("view.oxa");
    QImage saved;
    Session before;
    {
        CtView w(dir.path());
        w.imgPixWidth_->setText("96");
        w.imgPixHeight_->setText("80");
        QVERIFY(waitForLoad(w.sCtrls[0], ramp));
        w.addSliceSet();
        QVERIFY(waitForLoad(w.sCtrls[1], steps));
        SlicesCtrl *a = w.sCtrls[0];
        SlicesCtrl *b = w.sCtrls[1];
        fixtures::typeInto(a->minThPC_, "12.3456789");
        fixtures::typeInto(a->rMaxV_, "180.5");
        fixtures::typeInto(b->maxTh_, "60");
        fixtures::typeInto(b->alpha_, "200");
        fixtures::typeInto(b->spacingZ_, "2.345678912");
        a->setVColor(QColor(200, 10, 30));
        b->showCSection_->click();
        b->csFixDir_->click();
        b->cSlider_->setValue(-20);
        CtViewTestAccess::updateNvs(w, Vec3{0.6, 0.8, 0.0}, 0.7);
        CtViewTestAccess::wheel(w, -1);
        w.sampling_->setCurrentIndex(1);
        CtViewTestAccess::paintPImg(w);
        saved = w.pImg.copy();
        before = w.currentSession();
        QVERIFY(w.saveSession(path));
    }
    CtView w(dir.path());
    QSignalSpy opened(&w, &CtView::sessionOpened);
    QVERIFY(w.openSession(path));
    QVERIFY(opened.wait(20000) || opened.count() == 1);
    QCOMPARE(w.sCtrls.size(), 2);
    QCOMPARE(w.sCtrls[1]->nameList_->count(), steps.size());
    compareSessions(w.currentSession(), before);
    const QString diff = fixtures::firstDifference(w.pImg, saved);
    QVERIFY2(diff.isEmpty(), qPrintable(diff));
}

// A damaged session leaves every panel and the picture as they were.
void TestSession::badFileChangesNothing()
{
    QTemporaryDir dir;
    const QString ramp = dir.filePath("r.png");
    QVERIFY(fixtures::writeRampPng(ramp, 20, 20, 0, 100));
    CtView w(dir.path());
    QVERIFY(waitForLoad(w.sCtrls[0], {ramp, ramp}));
    w.addSliceSet();
    const QImage picture = w.pImg.copy();
    const QString bad = dir.filePath("bad.oxa");
    QFile f(bad);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("{\"format\":\"oxa-session\",\"version\":1,\"sets\":[{\"files\":3}]}");
    f.close();
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("session not opened"));
    QVERIFY(!w.openSession(bad));
    QCOMPARE(w.sCtrls.size(), 2);
    QCOMPARE(w.sCtrls[0]->nameList_->count(), 2);
    QCOMPARE(w.imgPixWidth_->text(), QStringLiteral("256"));
    QVERIFY(fixtures::firstDifference(w.pImg, picture).isEmpty());
    QVERIFY(w.findChild<QMessageBox *>() != nullptr);
}

QTEST_MAIN(TestSession)
#include "tst_session.moc"
