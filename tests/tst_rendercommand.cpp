#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QSlider>
#include <QTemporaryDir>
#include <QTest>
#include <QTextStream>

#include <cmath>
#include <cstring>
#include <functional>

#include "app/rendercommand.h"
#include "failingwrites.h"
#include "imagecompare.h"
#include "panelfixtures.h"
#include "slicefixtures.h"
#include "tools/phantom.h"
#include "tools/volumewriters.h"
#include "ui/ctview.h"
#include "ui/slicesctrl.h"

// The command-line renderer against the window: the same files, or the same saved
// session, give the same picture pixel for pixel; bad command lines fail with one line.

struct CtViewTestAccess {
    static void updateNvs(CtView &w, Vec3 rax, double th) { w.updateNvs(rax, th); }
    static void paintPImg(CtView &w) { w.paintPImg(); }
};

namespace {

const double pi = 3.141592653589793;

struct Result {
    int status = 0;
    QString out;
    QString err;
};

Result runCommand(const QStringList &args)
{
    Result r;
    QTextStream out(&r.out), err(&r.err);
    r.status = runRenderCommand(QStringList{"oxa-render"} + args, out, err);
    return r;
}

// A range grid of w x h points whose values are offset + small steps, so the
// panel's six-digit fields round them.
bool writeOffsetGrid(const QString &path, int w, int h, double offset, int seed)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Text))
        return false;
    QTextStream s(&f);
    s << "#MOLK-VEDez\n# Range_X0 : 0\n# Range_Y0 : 0\n# Range_X1 : " << w - 1 << "\n# Range_Y1 : " << h - 1 << "\n";
    s.setRealNumberPrecision(17);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            s << x << ' ' << y << ' ' << offset + 0.001 * ((x * 7 + y * 3 + seed) % 97) << "\n";
    return true;
}

using WindowChange = std::function<void(CtView &)>;

}  // namespace

Q_DECLARE_METATYPE(WindowChange)

class TestRenderCommand : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void matchesWindow_data();
    void matchesWindow();
    void sessionMatchesWindow();
    void turntable();
    void info();
    void pickAndSlice();
    void refusals_data();
    void refusals();
    void failedWrites_data();
    void failedWrites();

private:
    QTemporaryDir dir;
    QStringList head, ramps, grids, ct;
};

void TestRenderCommand::initTestCase()
{
    QVERIFY(dir.isValid());
    QString error;
    QVERIFY2(phantom::writeHead(dir.filePath("head"), 24, 64, &error), qPrintable(error));
    head = phantom::headFiles(dir.filePath("head"), 24);
    QVERIFY2(phantom::writeCtSeries(dir.filePath("ct"), &error), qPrintable(error));
    for (const QString &f : QDir(dir.filePath("ct")).entryList(QDir::Files, QDir::Unsorted))
        ct << dir.filePath("ct/" + f);
    for (int i = 0; i < 5; ++i) {
        ramps << dir.filePath(QStringLiteral("ramp%1.png").arg(i));
        QVERIFY(fixtures::writeRampPng(ramps.last(), 50, 30, 5 * i, 220 - 7 * i));
        grids << dir.filePath(QStringLiteral("grid%1.dat").arg(i));
        QVERIFY(writeOffsetGrid(grids.last(), 21, 17, 3.14159265, i));
    }
}

void TestRenderCommand::matchesWindow_data()
{
    QTest::addColumn<QString>("set");
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<WindowChange>("change");  // what the window does for the options

    const WindowChange nothing = [](CtView &) {};
    QTest::newRow("head as loaded") << "head" << QStringList{} << nothing;
    QTest::newRow("pictures, odd size") << "ramps" << QStringList{"--size", "77x45"} << WindowChange([](CtView &w) {
        w.imgPixWidth_->setText("77");
        w.imgPixHeight_->setText("45");
    });
    QTest::newRow("grids with rounded range")
        << "grids" << QStringList{"--size", "64x64"} << WindowChange([](CtView &w) {
               w.imgPixWidth_->setText("64");
               w.imgPixHeight_->setText("64");
           });
    QTest::newRow("head turned") << "head" << QStringList{"--turn", "30,-20"} << WindowChange([](CtView &w) {
        CtViewTestAccess::updateNvs(w, w.ny, 30 * pi / 180);
        CtViewTestAccess::updateNvs(w, w.nx, -20 * pi / 180);
    });
    QTest::newRow("CT series, thick slices, turned")
        << "ct" << QStringList{"--turn", "70,-30", "--size", "96x80"} << WindowChange([](CtView &w) {
               w.imgPixWidth_->setText("96");
               w.imgPixHeight_->setText("80");
               CtViewTestAccess::updateNvs(w, w.ny, 70 * pi / 180);
               CtViewTestAccess::updateNvs(w, w.nx, -30 * pi / 180);
           });
    QTest::newRow("head from the side, voxels")
        << "head" << QStringList{"--turn", "80,5", "--sampling", "voxels"} << WindowChange([](CtView &w) {
               w.sampling_->setCurrentIndex(1);
               CtViewTestAccess::updateNvs(w, w.ny, 80 * pi / 180);
               CtViewTestAccess::updateNvs(w, w.nx, 5 * pi / 180);
           });
}

// The files loaded into the window's first panel, the options done by hand.
void TestRenderCommand::matchesWindow()
{
    QFETCH(QString, set);
    QFETCH(QStringList, options);
    QFETCH(WindowChange, change);
    const QStringList files = set == "head" ? head : set == "ramps" ? ramps : set == "ct" ? ct : grids;

    CtView w(dir.path());
    change(w);
    QVERIFY(fixtures::loadThroughDialog(*w.sCtrls[0], files));
    CtViewTestAccess::paintPImg(w);

    const QString out = dir.filePath(QStringLiteral("%1.png").arg(QTest::currentDataTag()).replace(' ', '_'));
    const Result r = runCommand(files + options + QStringList{"-o", out});
    QVERIFY2(r.status == 0, qPrintable(r.err));
    const QString diff = fixtures::firstDifference(QImage(out), w.pImg);
    QVERIFY2(diff.isEmpty(), qPrintable(diff));
}

// Two sets with their settings changed, saved by the window and drawn again.
void TestRenderCommand::sessionMatchesWindow()
{
    CtView w(dir.path());
    w.imgPixWidth_->setText("90");
    w.imgPixHeight_->setText("70");
    QVERIFY(fixtures::loadThroughDialog(*w.sCtrls[0], head));
    w.addSliceSet();
    QVERIFY(fixtures::loadThroughDialog(*w.sCtrls[1], ramps));
    fixtures::typeInto(w.sCtrls[0]->maxThPC_, "80");
    fixtures::typeInto(w.sCtrls[1]->minTh_, "40");
    w.sCtrls[0]->showCSection_->click();
    w.sCtrls[0]->cSlider_->setValue(10);
    CtViewTestAccess::updateNvs(w, Vec3{0.0, 0.6, 0.8}, 0.4);
    CtViewTestAccess::paintPImg(w);
    const QString session = dir.filePath("two.oxa");
    QVERIFY(w.saveSession(session));

    const QString out = dir.filePath("two.png");
    const Result r = runCommand({"--session", session, "-o", out});
    QVERIFY2(r.status == 0, qPrintable(r.err));
    const QString diff = fixtures::firstDifference(QImage(out), w.pImg);
    QVERIFY2(diff.isEmpty(), qPrintable(diff));
}

// N frames around the vertical axis, numbered; the first is the plain picture.
void TestRenderCommand::turntable()
{
    const QString plain = dir.filePath("plain.png");
    QCOMPARE(runCommand(head + QStringList{"-o", plain, "--fit"}).status, 0);
    const Result r = runCommand(head + QStringList{"-o", dir.filePath("turn.png"), "--fit", "--turntable", "4"});
    QVERIFY2(r.status == 0, qPrintable(r.err));
    for (int k = 0; k < 4; ++k)
        QVERIFY(QFile::exists(dir.filePath(QStringLiteral("turn_%1.png").arg(k, 3, 10, QLatin1Char('0')))));
    QVERIFY(!QFile::exists(dir.filePath("turn_004.png")));
    QVERIFY(fixtures::firstDifference(QImage(dir.filePath("turn_000.png")), QImage(plain)).isEmpty());
    QVERIFY(!fixtures::firstDifference(QImage(dir.filePath("turn_001.png")), QImage(plain)).isEmpty());
}

// What --info reports for a set with a flat and an odd-sized file among good ones.
void TestRenderCommand::info()
{
    const QString flat = dir.filePath("flat.png");
    const QString odd = dir.filePath("odd.png");
    QVERIFY(fixtures::writeRampPng(flat, 50, 30, 9, 9) || QFile::exists(flat));
    QVERIFY(fixtures::writeRampPng(odd, 10, 10, 0, 50));
    const Result r = runCommand({ramps[0], flat, ramps[1], odd, ramps[2], "--info"});
    QVERIFY2(r.status == 0, qPrintable(r.err));
    const QJsonArray sets = QJsonDocument::fromJson(r.out.toUtf8()).array();
    QCOMPARE(sets.size(), 1);
    const QJsonObject o = sets[0].toObject();
    QCOMPARE(o["slices"].toInt(), 3);
    QCOMPARE(o["width"].toInt(), 50);
    QCOMPARE(o["height"].toInt(), 30);
    QCOMPARE(o["min"].toDouble(), 0.0);
    QCOMPARE(o["max"].toDouble(), 220.0);
    QCOMPARE(o["files"].toArray().toVariantList(), QVariantList({ramps[0], ramps[1], ramps[2]}));
    const QJsonArray skipped = o["skipped"].toArray();
    QCOMPARE(skipped.size(), 2);
    QCOMPARE(skipped[0].toObject()["file"].toString(), flat);
    QCOMPARE(skipped[1].toObject()["file"].toString(), odd);
    QVERIFY(!skipped[1].toObject()["reason"].toString().isEmpty());

    // A DICOM series says its spacing and unit, and lists its files in stack order.
    const Result c = runCommand(ct + QStringList{"--info"});
    QVERIFY2(c.status == 0, qPrintable(c.err));
    const QJsonObject series = QJsonDocument::fromJson(c.out.toUtf8()).array()[0].toObject();
    QCOMPARE(series["spacing"].toArray().toVariantList(), QVariantList({0.5, 0.5, 2.0}));
    QCOMPARE(series["unit"].toString(), QStringLiteral("mm"));
    QCOMPARE(series["files"].toArray().size(), ct.size());

    // Raw samples described by --raw: 4 x 3 x 2 big-endian int16 after a 6-byte header
    // (values -12 .. 11); a description one slice too many is a skipped file.
    const QString raw = dir.filePath("scan.bin");
    QByteArray bytes(6, 'h');
    for (int i = 0; i < 24; ++i)
        bytes += char(quint16(i - 12) >> 8), bytes += char(quint16(i - 12) & 0xff);
    QFile rawFile(raw);
    QVERIFY(rawFile.open(QIODevice::WriteOnly) && rawFile.write(bytes) == bytes.size());
    rawFile.close();
    const Result described = runCommand({raw, "--raw", "4,3,2,int16,be,6", "--info"});
    QVERIFY2(described.status == 0, qPrintable(described.err));
    const QJsonObject samples = QJsonDocument::fromJson(described.out.toUtf8()).array()[0].toObject();
    QCOMPARE(samples["slices"].toInt(), 2);
    QCOMPARE(samples["min"].toDouble(), -12.0);
    QCOMPARE(samples["max"].toDouble(), 11.0);
    const Result wrong = runCommand({raw, "--raw", "4,3,3,int16,be,6", "--info"});
    const QJsonObject refused = QJsonDocument::fromJson(wrong.out.toUtf8()).array()[0].toObject();
    QCOMPARE(refused["skipped"].toArray()[0].toObject()["reason"].toString(),
             QStringLiteral("its size does not match its raw description"));

    // A 4-D volume turned a quarter about the slice axis: its first volume, how many it
    // holds, and where its axes point.
    volumewriters::Volume v;
    v.dims = 4;
    v.size[0] = 3, v.size[1] = 2, v.size[2] = 2, v.size[3] = 5;
    v.type = volumewriters::Type::u8;
    v.samples.resize(3 * 2 * 2 * 5);
    for (int i = 0; i < v.samples.size(); ++i)
        v.samples[i] = char(i);
    const double turned[3][3] = {{0, -1, 0}, {1, 0, 0}, {0, 0, 1}};
    std::memcpy(v.direction, turned, sizeof turned);
    QVERIFY(volumewriters::write(dir.filePath("series.nii.gz"), v));
    const Result fmri = runCommand({dir.filePath("series.nii.gz"), "--info"});
    const QJsonObject volume = QJsonDocument::fromJson(fmri.out.toUtf8()).array()[0].toObject();
    QCOMPARE(volume["slices"].toInt(), 2);
    QCOMPARE(volume["max"].toDouble(), 11.0);
    QCOMPARE(volume["volumes"].toInt(), 5);
    const QJsonArray axes = volume["direction"].toArray();
    for (int j = 0; j < 3; ++j)
        for (int i = 0; i < 3; ++i)
            QVERIFY(std::fabs(axes[j].toArray()[i].toDouble() - turned[i][j]) < 1e-6);
}

// --pick prints one entry per set: the voxel behind the pixel, or null where the set
// shows nothing; --slice writes the slice view at the picture size.
void TestRenderCommand::pickAndSlice()
{
    const Result r = runCommand({ramps[0], ramps[1], ramps[2], "--size", "64x48", "--pick", "32,20"});
    QVERIFY2(r.status == 0, qPrintable(r.err));
    const QJsonArray picked = QJsonDocument::fromJson(r.out.toUtf8()).array();
    QCOMPARE(picked.size(), 1);
    const QJsonObject o = picked[0].toObject();
    QCOMPARE(o["set"].toInt(), 0);
    const QJsonArray voxel = o["voxel"].toArray();
    QCOMPARE(voxel.size(), 3);
    QVERIFY(voxel[0].toInt() >= 0 && voxel[0].toInt() < 50 && voxel[1].toInt() >= 0 && voxel[1].toInt() < 30);
    QVERIFY(voxel[2].toInt() >= 0 && voxel[2].toInt() < 3);
    QCOMPARE(o["position"].toArray().size(), 3);
    QVERIFY(o["value"].toDouble() > 0.0);

    const Result none = runCommand({ramps[0], ramps[1], "--size", "64x48", "--pick", "0,0"});
    QVERIFY2(none.status == 0, qPrintable(none.err));
    QVERIFY(QJsonDocument::fromJson(none.out.toUtf8()).array().at(0).isNull());

    const QString out = dir.filePath("slice.png");
    const Result sl = runCommand({ramps[0], ramps[1], ramps[2], "--size", "80x60", "--slice", "rows:10", "-o", out});
    QVERIFY2(sl.status == 0, qPrintable(sl.err));
    QCOMPARE(QImage(out).size(), QSize(80, 60));
}

void TestRenderCommand::refusals_data()
{
    QTest::addColumn<QStringList>("args");  // "OUT" stands for a file in the test folder
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("message");

    QTest::newRow("no files") << QStringList{"-o", "OUT.png"} << 2 << "no slice files";
    QTest::newRow("unknown option") << QStringList{"--spin", "RAMP"} << 2 << "spin";
    QTest::newRow("no output") << QStringList{"RAMP"} << 2 << "-o";
    QTest::newRow("zero size") << QStringList{"RAMP", "--size", "0x10", "-o", "OUT.png"} << 2 << "refused";
    QTest::newRow("size over the limit") << QStringList{"RAMP", "--size", "40000x10", "-o", "OUT.png"} << 2
                                         << "refused";
    QTest::newRow("size not WxH") << QStringList{"RAMP", "--size", "12", "-o", "OUT.png"} << 2 << "WxH";
    QTest::newRow("turn not two numbers") << QStringList{"RAMP", "--turn", "a,b", "-o", "OUT.png"} << 2 << "--turn";
    QTest::newRow("unknown sampling") << QStringList{"RAMP", "--sampling", "rays", "-o", "OUT.png"} << 2
                                      << "--sampling";
    QTest::newRow("unknown picture type") << QStringList{"RAMP", "-o", "OUT.xyz"} << 2 << "xyz";
    QTest::newRow("files and session") << QStringList{"RAMP", "--session", "x.oxa", "-o", "OUT.png"} << 2 << "not both";
    QTest::newRow("no readable slice") << QStringList{"GARBAGE", "-o", "OUT.png"} << 1 << "no readable slice";
    QTest::newRow("unwritable output") << QStringList{"RAMP", "-o", "missing/folder/OUT.png"} << 1 << "cannot write";
    QTest::newRow("slice past the set") << QStringList{"RAMP", "--slice", "stack:99", "-o", "OUT.png"} << 1
                                        << "outside";
    QTest::newRow("slice not axis:index") << QStringList{"RAMP", "--slice", "diagonal:3", "-o", "OUT.png"} << 2
                                          << "--slice";
    QTest::newRow("pick outside the picture") << QStringList{"RAMP", "--pick", "300,2"} << 2 << "outside";
    QTest::newRow("missing session") << QStringList{"--session", "none.oxa", "-o", "OUT.png"} << 1
                                     << "cannot read the session";
    QTest::newRow("NUL in the output name") << QStringList{"RAMP", "-o", "OUT" + QString(QChar(0)) + "x.png"} << 2
                                            << "output file name refused: the file name holds a NUL character";
    QTest::newRow("NUL in the session name")
        << QStringList{"--session", "s" + QString(QChar(0)) + ".oxa", "-o", "OUT.png"} << 2
        << "session file name refused: the file name holds a NUL character";
    QTest::newRow("raw description without a byte order") << QStringList{"RAMP", "--raw", "4,3,2,int16", "-o", "OUT.png"}
                                                           << 2 << "--raw: ";
    QTest::newRow("raw description of a session")
        << QStringList{"--session", "x.oxa", "--raw", "4,3,2,int16,le", "-o", "OUT.png"} << 2 << "not a session";
}

void TestRenderCommand::refusals()
{
    QFETCH(QStringList, args);
    QFETCH(int, status);
    QFETCH(QString, message);
    const QString garbage = dir.filePath("garbage.txt");
    QVERIFY(fixtures::writeGarbage(garbage));
    QTemporaryDir outDir;
    for (QString &a : args) {
        a.replace("RAMP", ramps[0]).replace("GARBAGE", garbage);
        if (a.contains("OUT") || a.endsWith(".oxa"))
            a = outDir.filePath(a);
    }
    const Result r = runCommand(args);
    QCOMPARE(r.status, status);
    QVERIFY2(r.err.startsWith("oxa-render: ") && r.err.contains(message), qPrintable(r.err));
    QCOMPARE(r.err.count('\n'), 1);
    QCOMPARE(QDir(outDir.path()).entryList(QDir::Files).size(), 0);
}

void TestRenderCommand::failedWrites_data()
{
    QTest::addColumn<int>("kind");  // a FailingWrites kind, or -1 for a plain folder
    QTest::addColumn<int>("turns");
    QTest::addColumn<QString>("reason");  // empty: the system's for the kind

    QTest::newRow("picture onto a full disk") << int(fixtures::FailingWrites::FullDisk) << 0 << "";
    QTest::newRow("picture past a file-size limit") << int(fixtures::FailingWrites::SizeLimit) << 0 << "";
    QTest::newRow("turntable onto a full disk") << int(fixtures::FailingWrites::FullDisk) << 3 << "";
    QTest::newRow("turntable stopped at its third frame") << -1 << 4 << "a folder of that name exists";
}

// A write that fails ends the command with status 1 and the system's reason on one
// line; an old file of the name stays, and a turntable takes back the frames it
// wrote before it failed.
void TestRenderCommand::failedWrites()
{
    QFETCH(int, kind);
    QFETCH(int, turns);
    QFETCH(QString, reason);
    const auto failing = kind < 0 ? fixtures::FailingWrites::SizeLimit : fixtures::FailingWrites::Kind(kind);
    fixtures::FailingWrites disk(failing);
    if (!disk.unavailable().isEmpty())
        QSKIP(qPrintable(disk.unavailable()));
    // The picture's old file, or a file beside the frames; a folder may stand in a frame's way.
    const QString old = QStringLiteral("old.png");
    QVERIFY(disk.put(old, "precious"));
    const QStringList before = disk.names();
    if (kind < 0)
        QVERIFY(QDir().mkdir(disk.path("turn_002.png")));
    else
        QVERIFY(disk.startFailing());
    QStringList args = ramps;
    args << "-o" << disk.path(turns == 0 ? old : QStringLiteral("turn.png"));
    if (turns > 0)
        args << "--turntable" << QString::number(turns);
    const Result r = runCommand(args);
    disk.stopFailing();

    QCOMPARE(r.status, 1);
    QVERIFY2(r.err.startsWith("oxa-render: cannot write ") && r.err.count('\n') == 1, qPrintable(r.err));
    const QString why = reason.isEmpty() ? disk.reason() : reason;
    QVERIFY2(r.err.contains(why), qPrintable(r.err));
    QCOMPARE(disk.contents(old), QByteArray("precious"));
    QCOMPARE(disk.names(), before);
}

QTEST_MAIN(TestRenderCommand)
#include "tst_rendercommand.moc"
