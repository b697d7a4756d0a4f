// Keyframe animations for oxa-render --animate: the view turns along the shortest
// rotation between keys, the rest changes evenly, faults are named, and the
// command writes one picture per frame.
#include <QDir>
#include <QImage>
#include <QTemporaryDir>
#include <QTest>
#include <QTextStream>

#include <cmath>

#include "app/animation.h"
#include "app/rendercommand.h"

namespace {

QByteArray keysWithTurn(double degrees)
{
    const double r = degrees * M_PI / 180.0;
    // The start view turned about the picture's vertical axis (y) by r.
    return QStringLiteral(R"({"keys": [{"frame": 0, "cut": -40, "window": [0, 100], "opacity": 100},
                                       {"frame": 8, "view": {"nx": [%1, 0, %2], "ny": [0, 1, 0], "nz": [%3, 0, %4]},
                                        "cut": 40, "window": [100, 300], "opacity": 201}]})")
        .arg(std::cos(r), 0, 'g', 17)
        .arg(-std::sin(r), 0, 'g', 17)
        .arg(std::sin(r), 0, 'g', 17)
        .arg(std::cos(r), 0, 'g', 17)
        .toUtf8();
}

}  // namespace

class TestAnimation : public QObject
{
    Q_OBJECT
private slots:
    void betweenKeys_data();
    void betweenKeys();
    void refused_data();
    void refused();
    void writesEveryFrame();
};

void TestAnimation::betweenKeys_data()
{
    QTest::addColumn<double>("turn");  // degrees about the vertical axis from the first key to the last
    QTest::addColumn<double>("halfway");  // the turn at frame 4 of 8
    QTest::newRow("a quarter turn") << 90.0 << 45.0;
    QTest::newRow("three quarters: the short way round") << 270.0 << -45.0;
    QTest::newRow("a small turn") << 10.0 << 5.0;
}

void TestAnimation::betweenKeys()
{
    QFETCH(double, turn);
    QFETCH(double, halfway);
    Scene base;
    base.layers.resize(1);
    std::vector<Keyframe> keys;
    QString why;
    QVERIFY2(parseKeyframes(keysWithTurn(turn), base.view, keys, &why), qPrintable(why));
    const Animation animation(base, {false}, keys);
    QCOMPARE(animation.frameCount(), 9);
    const Scene halfwayScene = animation.sceneAt(4);
    const SceneView &mid = halfwayScene.view;
    const double r = halfway * M_PI / 180.0;
    QVERIFY2(std::fabs(mid.nz.x - std::sin(r)) < 1e-9 && std::fabs(mid.nz.z - std::cos(r)) < 1e-9,
             qPrintable(QStringLiteral("nz %1 %2 %3").arg(mid.nz.x).arg(mid.nz.y).arg(mid.nz.z)));
    QVERIFY(std::fabs(mid.ny.y - 1.0) < 1e-9);
    // Cut, window and opacity halfway; the cut's normal follows the view.
    const SceneLayer &l = halfwayScene.layers[0];
    QCOMPARE(l.cutPos, 0);
    QCOMPARE(l.minTh, 50.0);
    QCOMPARE(l.maxTh, 200.0);
    QCOMPARE(l.alpha, 151);
    QCOMPARE(l.csNz.x, mid.nz.x);
    QCOMPARE(animation.sceneAt(0).layers[0].cutPos, -40);
    QCOMPARE(animation.sceneAt(8).layers[0].alpha, 201);
}

void TestAnimation::refused_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<QString>("error");
    QTest::newRow("no keys") << QByteArray(R"({"keys": []})") << "keys: not a list of keyframes";
    QTest::newRow("frames out of order") << QByteArray(R"({"keys": [{"frame": 5}, {"frame": 5}]})")
                                         << "keys[1].frame: not a frame number after the key before";
    QTest::newRow("cut out of range") << QByteArray(R"({"keys": [{"frame": 0, "cut": 101}]})")
                                      << "keys[0].cut: not a whole number from -100 to 100";
    QTest::newRow("window upside down") << QByteArray(R"({"keys": [{"frame": 0, "window": [5, 1]}]})")
                                        << "keys[0].window: not two numbers, the lower first";
    QTest::newRow("directions along one line")
        << QByteArray(R"({"keys": [{"frame": 0, "view": {"ny": [0, 0, 1], "nz": [0, 0, 2]}}]})")
        << "keys[0].view: the directions are not independent";
    QTest::newRow("unknown key") << QByteArray(R"({"keys": [{"frame": 0, "zoom": 2}]})") << "keys[0].zoom: unknown key";
}

void TestAnimation::refused()
{
    QFETCH(QByteArray, json);
    QFETCH(QString, error);
    std::vector<Keyframe> keys;
    QString why;
    QVERIFY(!parseKeyframes(json, SceneView(), keys, &why));
    QCOMPARE(why, error);
}

// oxa-render --animate writes FILE_000.png .. one per frame, as --turntable does,
// and the frames differ as the view turns.
void TestAnimation::writesEveryFrame()
{
    QTemporaryDir dir;
    QStringList files;
    for (int z = 0; z < 6; ++z) {
        QImage img(16, 12, QImage::Format_Grayscale8);
        for (int y = 0; y < 12; ++y)
            for (int x = 0; x < 16; ++x)
                img.scanLine(y)[x] = uchar((x * 13 + y * 7 + z * 29) % 200 + 20);
        files << dir.filePath(QStringLiteral("s%1.png").arg(z));
        QVERIFY(img.save(files.last()));
    }
    QFile keys(dir.filePath("keys.json"));
    QVERIFY(keys.open(QIODevice::WriteOnly));
    keys.write(keysWithTurn(90));
    keys.close();
    QString said;
    QTextStream out(&said), err(&said);
    const int status = runRenderCommand(
        QStringList{"oxa-render"} + files
            + QStringList{"-o", dir.filePath("a.png"), "--size", "32x24", "--animate", dir.filePath("keys.json")},
        out, err);
    QVERIFY2(status == 0, qPrintable(said));
    const QStringList written = QDir(dir.path()).entryList({"a_*.png"}, QDir::Files, QDir::Name);
    QCOMPARE(written.size(), 9);
    QCOMPARE(written.first(), QStringLiteral("a_000.png"));
    QVERIFY(QImage(dir.filePath("a_000.png")) != QImage(dir.filePath("a_008.png")));
    QCOMPARE(QImage(dir.filePath("a_004.png")).size(), QSize(32, 24));
}

QTEST_MAIN(TestAnimation)
#include "tst_animation.moc"
