#include <QApplication>
#include <QMouseEvent>
#include <QSignalSpy>
#include <QTest>
#include <QWheelEvent>

#include <cmath>

#include "ui/ctview.h"
#include "widgets/dispa.h"

struct CtViewTestAccess {
    static void updateNvs(CtView &v, Vec3 rax, double th) { v.updateNvs(rax, th); }
};

namespace {

const double pi = 3.141592653589793;

void sendMove(QWidget *w, QPoint pos, Qt::MouseButtons buttons)
{
    QMouseEvent e(QEvent::MouseMove, QPointF(pos), w->mapToGlobal(QPointF(pos)), Qt::NoButton, buttons, Qt::NoModifier);
    QApplication::sendEvent(w, &e);
}

// A press or release exactly where asked (QTest moves a press at (0, 0) to the widget's centre).
void sendButton(QWidget *w, QEvent::Type type, Qt::MouseButton button, QPoint pos)
{
    const Qt::MouseButtons held = type == QEvent::MouseButtonPress ? Qt::MouseButtons(button) : Qt::NoButton;
    QMouseEvent e(type, QPointF(pos), w->mapToGlobal(QPointF(pos)), button, held, Qt::NoModifier);
    QApplication::sendEvent(w, &e);
}

void sendWheel(QWidget *w, int angleY)
{
    const QPointF pos(10, 10);
    QWheelEvent e(pos, w->mapToGlobal(pos), QPoint(), QPoint(0, angleY), Qt::NoButton, Qt::NoModifier,
                  Qt::NoScrollPhase, false);
    QApplication::sendEvent(w, &e);
}

// Gives the display area a size the window's layout keeps and lets it paint
// once, which hands its mapper the pixel range: x 0 .. w-1, y h-1 (bottom) .. 0 (top).
void sizeDisplay(CtView &v, int w, int h)
{
    v.dispA_->setFixedSize(w, h);
    v.dispA_->grab();
}

// A whole drag on the display area without keys: press, one move, release.
void drag(CtView &v, Qt::MouseButton button, QPoint from, QPoint to)
{
    sendButton(v.dispA_, QEvent::MouseButtonPress, button, from);
    sendMove(v.dispA_, to, button);
    sendButton(v.dispA_, QEvent::MouseButtonRelease, button, to);
}

bool near(double a, double b)
{
    return std::fabs(a - b) < 1e-12;
}

QString show(const Vec3 &v)
{
    return QStringLiteral("(%1, %2, %3)").arg(v.x).arg(v.y).arg(v.z);
}

bool near(const Vec3 &a, const Vec3 &b)
{
    return near(a.x, b.x) && near(a.y, b.y) && near(a.z, b.z);
}

bool finite(const Vec3 &v)
{
    return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z);
}

#define COMPARE_VEC(actual, expected)                                                                                  \
    QVERIFY2(near(actual, expected), qPrintable(show(actual) + " != " + show(expected)))

}  // namespace

class TestViewGeometry : public QObject
{
    Q_OBJECT
private slots:
    void quarterTurnAboutZ();
    void zeroAngleStillReports();
    void turnKeepsTheTripleOrthonormal();
    void pointerIsNormalised();
    void pressChoosesTheDrag_data();
    void pressChoosesTheDrag();
    void freeDragTurnsAboutTheScreenAxis();
    void stillPointerDoesNotTurn();
    void borderDragsTurnClockwise_data();
    void borderDragsTurnClockwise();
    void panUsesTruncatedPictureExtent_data();
    void panUsesTruncatedPictureExtent();
    void releaseEndsTheDrag();
    void wheelSteps();
    void onePixelDisplayStaysFinite_data();
    void onePixelDisplayStaysFinite();
};

void TestViewGeometry::quarterTurnAboutZ()
{
    CtView w;
    QSignalSpy newNz(&w, &CtView::newNz);
    CtViewTestAccess::updateNvs(w, Vec3{0, 0, 1}, pi / 2);
    COMPARE_VEC(w.nx, (Vec3{0, -1, 0}));
    COMPARE_VEC(w.ny, (Vec3{1, 0, 0}));
    COMPARE_VEC(w.nz, (Vec3{0, 0, 1}));
    QCOMPARE(newNz.count(), 1);
    COMPARE_VEC(newNz.at(0).at(0).value<Vec3>(), (Vec3{0, 0, 1}));
}

void TestViewGeometry::zeroAngleStillReports()
{
    CtView w;
    QSignalSpy newNz(&w, &CtView::newNz);
    CtViewTestAccess::updateNvs(w, Vec3{0, 1, 0}, 0.0);
    QCOMPARE(newNz.count(), 1);
    COMPARE_VEC(w.nx, (Vec3{1, 0, 0}));
    COMPARE_VEC(w.ny, (Vec3{0, 1, 0}));
    COMPARE_VEC(w.nz, (Vec3{0, 0, 1}));
}

void TestViewGeometry::turnKeepsTheTripleOrthonormal()
{
    CtView w;
    const double r = 1.0 / std::sqrt(3.0);
    CtViewTestAccess::updateNvs(w, Vec3{r, r, r}, 2 * pi / 3);
    // A third of a turn about the diagonal permutes the axes; the sense is -th about the axis.
    COMPARE_VEC(w.nx, (Vec3{0, 0, 1}));
    COMPARE_VEC(w.ny, (Vec3{1, 0, 0}));
    COMPARE_VEC(w.nz, (Vec3{0, 1, 0}));
    CtViewTestAccess::updateNvs(w, Vec3{0.6, 0.0, 0.8}, 0.7);
    const Vec3 x = w.nx, y = w.ny, z = w.nz;
    // nx x ny = nz survives any turn.
    COMPARE_VEC((Vec3{x.y * y.z - x.z * y.y, x.z * y.x - x.x * y.z, x.x * y.y - x.y * y.x}), z);
}

void TestViewGeometry::pointerIsNormalised()
{
    CtView w;
    sizeDisplay(w, 101, 51);
    QCOMPARE(w.dispA_->size(), QSize(101, 51));
    QCOMPARE(w.dispCoord->pixX1, 100.0);
    QCOMPARE(w.dispCoord->pixY0, 50.0);
    // The mapper may have been panned or zoomed by its own slots; the window resets the value range.
    w.dispCoord->setRange(5, 5, 7, 9);
    QTest::mousePress(w.dispA_, Qt::MiddleButton, Qt::NoModifier, QPoint(25, 10));
    QCOMPARE(w.lastX, 0.25);
    QCOMPARE(w.lastY, 0.8);
    sendMove(w.dispA_, QPoint(100, 50), Qt::MiddleButton);
    QCOMPARE(w.lastX, 1.0);
    QCOMPARE(w.lastY, 0.0);
    QTest::mouseRelease(w.dispA_, Qt::MiddleButton, Qt::NoModifier, QPoint(100, 50));
}

void TestViewGeometry::pressChoosesTheDrag_data()
{
    QTest::addColumn<int>("button");
    QTest::addColumn<int>("mods");
    QTest::addColumn<QPoint>("at");
    QTest::addColumn<int>("dragMode");
    QTest::addColumn<int>("rotKind");

    // The display is 101 x 101 pixels, so pixel p lies at p / 100 across and (100 - p) / 100 up.
    const int left = Qt::LeftButton;
    const int right = Qt::RightButton;
    const int none = Qt::NoModifier;
    const int shift = Qt::ShiftModifier;
    const int ctrl = Qt::ControlModifier;
    const QPoint middle(50, 50);
    QTest::newRow("middle of the display rotates freely") << left << none << middle << 0 << 0;
    QTest::newRow("corner counts as the top band") << left << none << QPoint(10, 10) << 0 << 3;
    QTest::newRow("bottom left corner is the bottom band") << left << none << QPoint(5, 95) << 0 << 4;
    QTest::newRow("right band") << left << none << QPoint(90, 50) << 0 << 2;
    QTest::newRow("left band") << left << none << QPoint(10, 50) << 0 << 1;
    QTest::newRow("top band") << left << none << QPoint(50, 14) << 0 << 3;
    QTest::newRow("bottom band") << left << none << QPoint(50, 86) << 0 << 4;
    QTest::newRow("0.85 across is still the middle") << left << none << QPoint(85, 50) << 0 << 0;
    QTest::newRow("0.15 across is still the middle") << left << none << QPoint(15, 50) << 0 << 0;
    QTest::newRow("0.85 up is still the middle") << left << none << QPoint(50, 15) << 0 << 0;
    QTest::newRow("0.15 up is still the middle") << left << none << QPoint(50, 85) << 0 << 0;
    QTest::newRow("left with shift pans") << left << shift << middle << 1 << 0;
    QTest::newRow("left with control does nothing") << left << ctrl << middle << 2 << 0;
    QTest::newRow("left with shift and control does nothing") << left << (shift | ctrl) << middle << 2 << 0;
    QTest::newRow("left with alt does nothing") << left << int(Qt::AltModifier) << middle << 2 << 0;
    QTest::newRow("meta does not count") << left << int(Qt::MetaModifier) << QPoint(90, 50) << 0 << 2;
    QTest::newRow("right pans") << right << none << middle << 1 << 0;
    QTest::newRow("right with shift does nothing") << right << shift << middle << 2 << 0;
    QTest::newRow("middle button does nothing") << int(Qt::MiddleButton) << none << middle << 2 << 0;
}

void TestViewGeometry::pressChoosesTheDrag()
{
    QFETCH(int, button);
    QFETCH(int, mods);
    QFETCH(QPoint, at);

    CtView w;
    sizeDisplay(w, 101, 101);
    QTest::mousePress(w.dispA_, Qt::MouseButton(button), Qt::KeyboardModifiers(mods), at);
    QTEST(w.dragMode, "dragMode");
    QTEST(w.rotKind, "rotKind");
    QCOMPARE(w.lastX, at.x() / 100.0);
    QCOMPARE(w.lastY, (100 - at.y()) / 100.0);
    QTest::mouseRelease(w.dispA_, Qt::MouseButton(button), Qt::KeyboardModifiers(mods), at);
}

void TestViewGeometry::freeDragTurnsAboutTheScreenAxis()
{
    CtView w;
    sizeDisplay(w, 101, 101);
    QSignalSpy newNz(&w, &CtView::newNz);
    // Half the display width to the right: a quarter turn about the picture's vertical.
    drag(w, Qt::LeftButton, QPoint(25, 50), QPoint(75, 50));
    QCOMPARE(newNz.count(), 1);
    COMPARE_VEC(w.nx, (Vec3{0, 0, 1}));
    COMPARE_VEC(w.ny, (Vec3{0, 1, 0}));
    COMPARE_VEC(w.nz, (Vec3{-1, 0, 0}));
    COMPARE_VEC(newNz.at(0).at(0).value<Vec3>(), (Vec3{-1, 0, 0}));
    // Half the height upwards in the turned view: about the picture's horizontal.
    drag(w, Qt::LeftButton, QPoint(50, 75), QPoint(50, 25));
    QCOMPARE(newNz.count(), 2);
    COMPARE_VEC(w.nx, (Vec3{0, 0, 1}));
    COMPARE_VEC(w.ny, (Vec3{1, 0, 0}));
    COMPARE_VEC(w.nz, (Vec3{0, 1, 0}));
    COMPARE_VEC(w.center, (Vec3{0, 0, 0}));
    QCOMPARE(w.scale, 1.0);
}

void TestViewGeometry::stillPointerDoesNotTurn()
{
    CtView w;
    sizeDisplay(w, 101, 101);
    QSignalSpy newNz(&w, &CtView::newNz);
    drag(w, Qt::LeftButton, QPoint(40, 40), QPoint(40, 40));
    QCOMPARE(newNz.count(), 0);
    COMPARE_VEC(w.nx, (Vec3{1, 0, 0}));
    QVERIFY(finite(w.nz));
    // In a band the turn is about the line of sight and is reported even when it is zero.
    drag(w, Qt::LeftButton, QPoint(50, 5), QPoint(50, 5));
    QCOMPARE(newNz.count(), 1);
}

void TestViewGeometry::borderDragsTurnClockwise_data()
{
    QTest::addColumn<QPoint>("from");
    QTest::addColumn<QPoint>("to");
    QTest::addColumn<int>("rotKind");
    QTest::addColumn<double>("th");

    QTest::newRow("right along the top") << QPoint(50, 5) << QPoint(75, 5) << 3 << pi / 4;
    QTest::newRow("down the right side") << QPoint(95, 50) << QPoint(95, 75) << 2 << pi / 4;
    QTest::newRow("left along the bottom") << QPoint(50, 95) << QPoint(25, 95) << 4 << pi / 4;
    QTest::newRow("up the left side") << QPoint(5, 50) << QPoint(5, 25) << 1 << pi / 4;
    QTest::newRow("left along the top") << QPoint(50, 5) << QPoint(25, 5) << 3 << -pi / 4;
    QTest::newRow("up the right side") << QPoint(95, 50) << QPoint(95, 25) << 2 << -pi / 4;
    // Perpendicular to its band the drag turns nothing.
    QTest::newRow("down from the top band") << QPoint(50, 5) << QPoint(50, 30) << 3 << 0.0;
}

void TestViewGeometry::borderDragsTurnClockwise()
{
    QFETCH(QPoint, from);
    QFETCH(QPoint, to);
    QFETCH(double, th);

    CtView w;
    sizeDisplay(w, 101, 101);
    QSignalSpy newNz(&w, &CtView::newNz);
    QTest::mousePress(w.dispA_, Qt::LeftButton, Qt::NoModifier, from);
    QTEST(w.rotKind, "rotKind");
    sendMove(w.dispA_, to, Qt::LeftButton);
    QTest::mouseRelease(w.dispA_, Qt::LeftButton, Qt::NoModifier, to);

    QCOMPARE(newNz.count(), 1);
    // A turn by -th about nz = (0, 0, 1).
    COMPARE_VEC(w.nx, (Vec3{std::cos(th), -std::sin(th), 0}));
    COMPARE_VEC(w.ny, (Vec3{std::sin(th), std::cos(th), 0}));
    COMPARE_VEC(w.nz, (Vec3{0, 0, 1}));
}

void TestViewGeometry::panUsesTruncatedPictureExtent_data()
{
    QTest::addColumn<int>("button");
    QTest::addColumn<int>("mods");
    QTest::addColumn<QSize>("picture");
    QTest::addColumn<QPoint>("from");
    QTest::addColumn<QPoint>("to");
    QTest::addColumn<double>("scale");
    QTest::addColumn<double>("cx");
    QTest::addColumn<double>("cy");

    const int right = Qt::RightButton;
    const int left = Qt::LeftButton;
    const int none = Qt::NoModifier;
    const int shift = Qt::ShiftModifier;
    // 1.5 truncates to 1: the view moves by one unit, not one and a half.
    QTest::newRow("left edge to right edge, right button")
        << right << none << QSize(3, 1) << QPoint(0, 50) << QPoint(100, 50) << 0.5 << -1.0 << 0.0;
    QTest::newRow("left edge to right edge, shift and left button")
        << left << shift << QSize(3, 1) << QPoint(0, 50) << QPoint(100, 50) << 0.5 << -1.0 << 0.0;
    QTest::newRow("top to bottom") << right << none << QSize(1, 3) << QPoint(50, 0) << QPoint(50, 100) << 0.5 << 0.0
                                   << -1.0;
    QTest::newRow("half way at scale 2") << right << none << QSize(3, 3) << QPoint(25, 25) << QPoint(75, 75) << 2.0
                                         << -3.0 << -3.0;
    QTest::newRow("picture too small to move")
        << right << none << QSize(1, 1) << QPoint(1, 1) << QPoint(100, 100) << 0.5 << 0.0 << 0.0;
}

void TestViewGeometry::panUsesTruncatedPictureExtent()
{
    QFETCH(int, button);
    QFETCH(int, mods);
    QFETCH(QSize, picture);
    QFETCH(QPoint, from);
    QFETCH(QPoint, to);
    QFETCH(double, scale);

    CtView w;
    sizeDisplay(w, 101, 101);
    // The picture size fields too, so a redraw during the drag keeps the same picture.
    w.imgPixWidth_->setText(QString::number(picture.width()));
    w.imgPixHeight_->setText(QString::number(picture.height()));
    w.pImg = QImage(picture, QImage::Format_ARGB32);
    w.scale = scale;
    QSignalSpy newNz(&w, &CtView::newNz);

    QTest::mousePress(w.dispA_, Qt::MouseButton(button), Qt::KeyboardModifiers(mods), from);
    QCOMPARE(w.dragMode, 1);
    sendMove(w.dispA_, to, Qt::MouseButton(button));
    QTest::mouseRelease(w.dispA_, Qt::MouseButton(button), Qt::KeyboardModifiers(mods), to);

    QTEST(w.center.x, "cx");
    QTEST(w.center.y, "cy");
    QCOMPARE(w.center.z, 0.0);
    QCOMPARE(newNz.count(), 0);
    QCOMPARE(w.scale, scale);
}

void TestViewGeometry::releaseEndsTheDrag()
{
    CtView w;
    sizeDisplay(w, 101, 101);
    QSignalSpy newNz(&w, &CtView::newNz);
    QTest::mousePress(w.dispA_, Qt::LeftButton, Qt::NoModifier, QPoint(20, 60));
    QCOMPARE(w.dragMode, 0);
    QTest::mouseRelease(w.dispA_, Qt::LeftButton, Qt::NoModifier, QPoint(20, 60));
    QCOMPARE(w.dragMode, 2);
    QCOMPARE(w.rotKind, 0);
    // Moves without a drag only follow the pointer.
    sendMove(w.dispA_, QPoint(80, 30), Qt::NoButton);
    QCOMPARE(newNz.count(), 0);
    QCOMPARE(w.lastX, 0.8);
    QCOMPARE(w.lastY, 0.7);
    COMPARE_VEC(w.nx, (Vec3{1, 0, 0}));
    COMPARE_VEC(w.center, (Vec3{0, 0, 0}));
}

void TestViewGeometry::wheelSteps()
{
    CtView w;
    sizeDisplay(w, 101, 101);
    sendWheel(w.dispA_, 120);
    QCOMPARE(w.scale, 0.9);
    // The factor is per event, whatever the number of notches.
    sendWheel(w.dispA_, 360);
    QCOMPARE(w.scale, 0.81);
    // Less than a notch is step 0, which leaves the scale.
    sendWheel(w.dispA_, 60);
    QCOMPARE(w.scale, 0.81);
    sendWheel(w.dispA_, -120);
    sendWheel(w.dispA_, -240);
    QVERIFY(std::fabs(w.scale - 1.0) < 1e-12);
    sendWheel(w.dispA_, -120);
    QCOMPARE(w.scale, 1.0 / 0.9);
}

void TestViewGeometry::onePixelDisplayStaysFinite_data()
{
    QTest::addColumn<QSize>("display");
    QTest::newRow("one pixel wide") << QSize(1, 101);
    QTest::newRow("one pixel high") << QSize(101, 1);
    QTest::newRow("a single pixel") << QSize(1, 1);
}

void TestViewGeometry::onePixelDisplayStaysFinite()
{
    QFETCH(QSize, display);
    CtView w;
    sizeDisplay(w, display.width(), display.height());
    w.pImg = QImage(4, 4, QImage::Format_ARGB32);
    w.imgPixWidth_->setText("4");
    w.imgPixHeight_->setText("4");

    // Bottom left and top right corners.
    const QPoint a(0, display.height() - 1);
    const QPoint b(display.width() - 1, 0);
    sendButton(w.dispA_, QEvent::MouseButtonPress, Qt::LeftButton, a);
    QVERIFY(std::isfinite(w.lastX));
    QVERIFY(std::isfinite(w.lastY));
    sendMove(w.dispA_, b, Qt::LeftButton);
    sendMove(w.dispA_, a, Qt::LeftButton);
    sendButton(w.dispA_, QEvent::MouseButtonRelease, Qt::LeftButton, a);
    drag(w, Qt::RightButton, a, b);
    drag(w, Qt::LeftButton, b, a);
    sendWheel(w.dispA_, 120);

    QVERIFY2(finite(w.nx), qPrintable(show(w.nx)));
    QVERIFY2(finite(w.ny), qPrintable(show(w.ny)));
    QVERIFY2(finite(w.nz), qPrintable(show(w.nz)));
    QVERIFY2(finite(w.center), qPrintable(show(w.center)));
    QVERIFY(std::isfinite(w.lastX));
    QVERIFY(std::isfinite(w.lastY));
    QCOMPARE(w.scale, 0.9);
    // The axis without extent reads as no movement; the other one still pans
    // by the whole picture (4 units) from corner to corner.
    QCOMPARE(w.center.x, display.width() > 1 ? -4.0 : 0.0);
    QCOMPARE(w.center.y, display.height() > 1 ? 4.0 : 0.0);
}

QTEST_MAIN(TestViewGeometry)
#include "tst_viewgeometry.moc"
