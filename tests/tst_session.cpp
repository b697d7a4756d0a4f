#include <QCheckBox>
#include <QComboBox>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QLocale>
#include <QMessageBox>
#include <QSignalSpy>
#include <QSlider>
#include <QTemporaryDir>
#include <QTest>
#include <QTextStream>

#include <cmath>

#include "app/rendercommand.h"
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
    s.view.nx = Vec3{0.36, 0.48, -0.8};
    s.view.ny = Vec3{-0.8, 0.6, 0.0};
    s.view.nz = Vec3{0.48, 0.64, 0.6};
    s.view.center = Vec3{1.5, -2.25, 1e-9};
    s.view.scale = 0.123456789012345;
    s.view.sampling = Sampling::Voxels;
    s.width = 321;
    s.height = 123;
    s.linkCSection = false;
    s.views = ViewsLayout::Columns;
    s.crosshair = Vec3{1.25, -3.5, 7e-3};
    Measurement m;
    m.name = QStringLiteral("ventricle, \"left\"");
    m.kind = MeasureKind::Ellipse;
    m.axis = SliceAxis::Rows;
    m.depth = -2.75;
    m.a = QPointF(0.1, -0.2);
    m.b = QPointF(1.0 / 3.0, 7.5);
    s.measurements = {m, Measurement()};
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
    QCOMPARE(a.views, b.views);
    compareVec(a.crosshair, b.crosshair);
    QCOMPARE(a.measurements.size(), b.measurements.size());
    for (std::size_t i = 0; i < a.measurements.size(); ++i) {
        const Measurement &x = a.measurements[i], &y = b.measurements[i];
        QCOMPARE(x.name, y.name);
        QCOMPARE(x.kind, y.kind);
        QCOMPARE(x.axis, y.axis);
        QCOMPARE(x.depth, y.depth);
        QCOMPARE(x.a, y.a);
        QCOMPARE(x.b, y.b);
    }
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

// node with the value at a path such as "view.nx" or "sets[0].crossSection.normal"
// replaced by v.
QJsonValue withValueAt(const QJsonValue &node, QStringList steps, const QJsonValue &v)
{
    if (steps.isEmpty())
        return v;
    const QString step = steps.takeFirst();
    QJsonObject o = node.toObject();
    const qsizetype bracket = step.indexOf('[');
    if (bracket < 0) {
        o.insert(step, withValueAt(o.value(step), steps, v));
        return o;
    }
    const QString key = step.left(bracket);
    const int index = step.mid(bracket + 1).chopped(1).toInt();
    QJsonArray a = o.value(key).toArray();
    a.replace(index, withValueAt(a.at(index), steps, v));
    o.insert(key, a);
    return o;
}

// The JSON of fullSession with one value replaced: "path=json".
QByteArray editedSession(const QDir &base, const QByteArray &edit)
{
    const QJsonObject root = QJsonDocument::fromJson(sessionToJson(fullSession(base), base)).object();
    const qsizetype eq = edit.indexOf('=');
    const QByteArray value = edit.mid(eq + 1);
    const QJsonDocument v = QJsonDocument::fromJson("[" + value + "]");
    const QStringList steps = QString::fromUtf8(edit.left(eq)).split('.');
    QByteArray json =
        QJsonDocument(withValueAt(root, steps, v.isArray() ? v.array().at(0) : QJsonValue()).toObject()).toJson();
    if (v.isNull())  // values too deep for the document: spliced in as text
        json.replace("\"" + edit.left(eq) + "\": null", "\"" + edit.left(eq) + "\": " + value);
    return json;
}

// A session of n sets, each of the same files.
Session setsOf(const QStringList &files, int n)
{
    Session s;
    for (int i = 0; i < n; ++i) {
        SessionSet set;
        set.files = files;
        set.rangeMax = 250;
        set.maxTh = 250;
        s.sets.push_back(set);
    }
    return s;
}

}  // namespace

class TestSession : public QObject
{
    Q_OBJECT
private slots:
    void roundTrip();
    void refused_data();
    void refused();
    void accepted_data();
    void accepted();
    void windowSessionsReadBack_data();
    void windowSessionsReadBack();
    void windowRestoresPicture();
    void badFileChangesNothing();
    void oneRedrawPerSession_data();
    void oneRedrawPerSession();
    void missingFilesCapped_data();
    void missingFilesCapped();
    void addressesKeptAsTheyAre();
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
    QTest::newRow("newer version") << QByteArray("version=" + QByteArray::number(Session::formatVersion + 1))
                                   << "newer version";
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
    QTest::newRow("unknown measurement") << QByteArray("views={\"layout\":\"3d\",\"crosshair\":[0,0,0],"
                                                       "\"measurements\":[{\"name\":\"a\",\"kind\":\"angle\","
                                                       "\"axis\":\"stack\",\"depth\":0,\"from\":[0,0],\"to\":[1,1]}]}")
                                         << "views.measurements[0].kind";
    QTest::newRow("unknown layout") << QByteArray("views={\"layout\":\"4d\",\"crosshair\":[0,0,0]}") << "views.layout";
    QTest::newRow("view axis of zero length") << QByteArray("view.nx=[0,0,0]") << "view.nx: not of unit length";
    QTest::newRow("view axis a little long")
        << QByteArray("view.nz=[0.48,0.64,0.601]") << "view.nz: not of unit length";
    QTest::newRow("huge view axis") << QByteArray("view.ny=[1e308,1e308,0]") << "view.ny: not of unit length";
    QTest::newRow("parallel view axes") << QByteArray("view.ny=[0.36,0.48,-0.8]")
                                        << "view.ny: not at right angles to view.nx";
    QTest::newRow("view axes at 89.9 degrees")
        << QByteArray("view.nz=[0.480627587,0.640836783,0.598602823]") << "view.nz: not at right angles to view.nx";
    QTest::newRow("zero cut normal, cut shown")
        << QByteArray("sets[0].crossSection.normal=[0,0,0]") << "sets[0].crossSection.normal";
    QTest::newRow("huge cut normal") << QByteArray("sets[1].crossSection.normal=[1e308,0,0]")
                                     << "sets[1].crossSection.normal: not of unit length";
    QTest::newRow("short cut normal") << QByteArray("sets[0].crossSection.normal=[0,0.5,0]")
                                      << "sets[0].crossSection.normal: not of unit length";
    QTest::newRow("spacing 1e308") << QByteArray("sets[0].spacing=[1,1,1e308]") << "sets[0].spacing: out of range";
    QTest::newRow("spacing zero") << QByteArray("sets[1].spacing=[0,1,1]") << "sets[1].spacing: out of range";
    QTest::newRow("spacing 1e-300") << QByteArray("sets[1].spacing=[1,1e-300,1]") << "sets[1].spacing: out of range";
    QTest::newRow("NUL in a file name") << QByteArray("sets[1].files=[\"a\\u0000b.png\"]")
                                        << "sets[1].files: a file name holds a NUL character";
}

// A damaged or newer session is refused with a reason and leaves the target as it was.
void TestSession::refused()
{
    QFETCH(QByteArray, edit);
    QFETCH(QString, reason);
    QTemporaryDir dir;
    const QDir base(dir.path());
    QByteArray json;
    if (edit.startsWith('!'))
        json = edit.mid(1);
    else
        json = editedSession(base, edit);
    Session target;
    target.width = 99;
    QString why;
    QVERIFY(!sessionFromJson(json, base, target, &why));
    QVERIFY2(why.contains(reason), qPrintable(why));
    QVERIFY2(!why.contains('\n'), qPrintable(why));
    QCOMPARE(target.width, 99);
    QVERIFY(target.sets.empty());
}

void TestSession::accepted_data()
{
    QTest::addColumn<QByteArray>("edit");

    QTest::newRow("axes off by rounding") << QByteArray("view.nz=[0.48,0.64,0.6000000001]");
    QTest::newRow("mirrored view") << QByteArray("view.nx=[-0.36,-0.48,0.8]");
    QTest::newRow("no cut normal, cut hidden") << QByteArray("sets[1].crossSection.normal=[0,0,0]");
    QTest::newRow("spacing at its bounds") << QByteArray("sets[0].spacing=[1e6,1e-6,1]");
}

// Values near the bounds are read, and written back the same.
void TestSession::accepted()
{
    QFETCH(QByteArray, edit);
    QTemporaryDir dir;
    const QDir base(dir.path());
    Session s, again;
    QString why;
    QVERIFY2(sessionFromJson(editedSession(base, edit), base, s, &why), qPrintable(why));
    QVERIFY2(sessionFromJson(sessionToJson(s, base), base, again, &why), qPrintable(why));
    compareSessions(again, s);
}

void TestSession::windowSessionsReadBack_data()
{
    QTest::addColumn<int>("turns");
    QTest::addColumn<bool>("addedPanelCut");  // a panel added later, its cut shown before any turn

    QTest::newRow("added panel with its cut shown") << 0 << true;
    QTest::newRow("after thousands of turns") << 4000 << false;
    QTest::newRow("added panel, then turns") << 50 << true;
}

// What the window writes it can open again: a panel added after the window was
// built has no cut normal until the view turns, and long drags round the axes.
void TestSession::windowSessionsReadBack()
{
    QFETCH(int, turns);
    QFETCH(bool, addedPanelCut);
    QTemporaryDir dir;
    CtView w(dir.path());
    w.imgPixWidth_->setText("8");
    w.imgPixHeight_->setText("8");
    w.addSliceSet();
    if (addedPanelCut)
        w.sCtrls[1]->showCSection_->click();
    for (int k = 0; k < turns; ++k) {
        // Drags this way and that, each turn about an axis made from the current view.
        const double a = 0.3 + 0.2 * std::sin(k * 0.7), b = std::cos(k * 1.3);
        const double g = std::sqrt(a * a + b * b);
        Vec3 rax{(a / g) * w.nx.x + (b / g) * w.ny.x, (a / g) * w.nx.y + (b / g) * w.ny.y,
                 (a / g) * w.nx.z + (b / g) * w.ny.z};
        CtViewTestAccess::updateNvs(w, rax, 0.2 * g);
    }
    const QString path = dir.filePath("w.oxa");
    QVERIFY(w.saveSession(path));
    Session back;
    QString why;
    QVERIFY2(readSessionFile(path, back, &why), qPrintable(why));
    QCOMPARE(back.sets.size(), std::size_t(2));
    if (addedPanelCut) {
        // The cut faces the viewer, as the next turn would have set it.
        QVERIFY(back.sets[1].showCSection);
        compareVec(back.sets[1].csNz, w.nz);
    }
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

void TestSession::oneRedrawPerSession_data()
{
    QTest::addColumn<int>("sets");
    QTest::newRow("one set") << 1;
    QTest::newRow("twelve sets") << 12;
    QTest::newRow("forty sets") << 40;
}

// The picture is drawn once, when the last load is done, however many sets there
// are; afterwards a panel's change redraws again.
void TestSession::oneRedrawPerSession()
{
    QFETCH(int, sets);
    QTemporaryDir dir;
    QStringList files;
    for (int i = 0; i < 4; ++i) {
        files << dir.filePath(QStringLiteral("r%1.png").arg(i));
        QVERIFY(fixtures::writeRampPng(files.last(), 16, 12, i, 200 + i));
    }
    const QString path = dir.filePath("many.oxa");
    QString why;
    QVERIFY2(writeSessionFile(path, setsOf(files, sets), &why), qPrintable(why));

    CtView w(dir.path());
    QSignalSpy opened(&w, &CtView::sessionOpened);
    QSignalSpy drawn(&w, &CtView::pictureDrawn);
    QVERIFY(w.openSession(path));
    QVERIFY(opened.count() == 1 || opened.wait(60000));
    QCOMPARE(opened.count(), 1);
    QCOMPARE(drawn.count(), 1);
    QCOMPARE(w.sCtrls.size(), sets);
    QCOMPARE(w.sCtrls.last()->nameList_->count(), files.size());
    fixtures::typeInto(w.sCtrls.last()->alpha_, "99");
    QCOMPARE(drawn.count(), 2);
}

void TestSession::missingFilesCapped_data()
{
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("nameLength");  // 0: short names
    QTest::addColumn<int>("listed");
    QTest::addColumn<QString>("more");  // oxa-render's end of the line

    QTest::newRow("three missing") << 3 << 0 << 3 << "";
    QTest::newRow("five thousand missing") << 5000 << 0 << 10 << " and 4,990 more";
    QTest::newRow("one name of a million characters") << 1 << 1000000 << 1 << "";
}

// A session naming files that are not there says so in a message that stays short:
// the window and the command list the first ten, each name cut in the middle past
// a few hundred characters, and count the rest.
void TestSession::missingFilesCapped()
{
    QFETCH(int, count);
    QFETCH(int, nameLength);
    QFETCH(int, listed);
    QFETCH(QString, more);
    QTemporaryDir dir;
    QStringList names;
    for (int i = 0; i < count; ++i)
        names << (nameLength > 0 ? dir.filePath("x" + QString(nameLength, 'y') + "z")
                                 : dir.filePath(QStringLiteral("gone/s%1.png").arg(i)));
    const QString path = dir.filePath("missing.oxa");
    QString why;
    QVERIFY2(writeSessionFile(path, setsOf(names, 1), &why), qPrintable(why));

    CtView w(dir.path());
    QSignalSpy opened(&w, &CtView::sessionOpened);
    QVERIFY(w.openSession(path));
    auto *box = w.findChild<QMessageBox *>();
    QVERIFY(box);
    const QString text = box->text();
    QVERIFY2(text.size() < 2000, qPrintable(QString::number(text.size())));
    QCOMPARE(text.count(dir.path()), listed);
    if (count > listed)
        QVERIFY2(text.endsWith(QStringLiteral("and %1 more").arg(QLocale().toString(count - listed))),
                 qPrintable(text.right(100)));
    else
        QVERIFY2(!text.contains(" more"), qPrintable(text.right(100)));
    if (nameLength > 0)
        QVERIFY(text.contains(dir.filePath("xyyy")) && text.contains("yyyz"));
    QVERIFY(opened.count() == 1 || opened.wait(60000));

    QString out, err;
    QTextStream outStream(&out), errStream(&err);
    const int status =
        runRenderCommand({"oxa-render", "--session", path, "-o", dir.filePath("p.png")}, outStream, errStream);
    QCOMPARE(status, 1);
    QCOMPARE(err.count('\n'), 1);
    QVERIFY2(err.size() < 2000, qPrintable(QString::number(err.size())));
    QCOMPARE(err.count(dir.path()), listed);
    QVERIFY2(err.endsWith(more + "\n"), qPrintable(err.right(100)));
}

// An OME-Zarr image by address is written and read back as its address, neither
// relative nor absolute, and is never reported missing (its load says what it holds).
void TestSession::addressesKeptAsTheyAre()
{
    QTemporaryDir dir;
    const QDir base(dir.path());
    Session s = fullSession(base);
    const QString address = QStringLiteral("https://example.org/data/scan.zarr");
    s.sets[0].files = QStringList{address};
    const QByteArray json = sessionToJson(s, base);
    QVERIFY(json.contains("\"https://example.org/data/scan.zarr\""));
    Session back;
    QString why;
    QVERIFY2(sessionFromJson(json, base, back, &why), qPrintable(why));
    QCOMPARE(back.sets[0].files, QStringList{address});
    QVERIFY(!missingSessionFiles(back).contains(address));
}

QTEST_MAIN(TestSession)
#include "tst_session.moc"
