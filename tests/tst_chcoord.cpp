#include <QApplication>
#include <QMouseEvent>
#include <QSignalSpy>
#include <QTest>
#include <QWheelEvent>
#include <QWidget>

#include "widgets/chcoord.h"
#include "widgets/mousec.h"

namespace {

// A widget 200 x 100 pixels that feeds its relay; its mapper is linked to the
// relay and given the pixel range a display area of that size would set.
class Pad : public QWidget
{
public:
    MouseC mouse;
    ChCoord coord;

    Pad()
    {
        resize(200, 100);
        setMouseTracking(true);
        coord.setMouse(&mouse);
        coord.setPixRange(0, 99, 199, 0);
        coord.setRange(0, 0, 1, 1);
    }

protected:
    void mouseMoveEvent(QMouseEvent *e) override { mouse.recMove(e); }
    void mousePressEvent(QMouseEvent *e) override { mouse.recPress(e); }
    void mouseReleaseEvent(QMouseEvent *e) override { mouse.recRelease(e); }
    void mouseDoubleClickEvent(QMouseEvent *e) override { mouse.recDClick(e); }
    void wheelEvent(QWheelEvent *e) override { mouse.recWheel(e); }
};

void sendMove(QWidget *w, QPoint pos, Qt::MouseButtons buttons, Qt::KeyboardModifiers mods = Qt::NoModifier)
{
    QMouseEvent e(QEvent::MouseMove, QPointF(pos), w->mapToGlobal(QPointF(pos)), Qt::NoButton, buttons, mods);
    QApplication::sendEvent(w, &e);
}

void sendWheel(QWidget *w, int angleY)
{
    const QPointF pos(0, 0);
    QWheelEvent e(pos, w->mapToGlobal(pos), QPoint(), QPoint(0, angleY), Qt::NoButton, Qt::NoModifier,
                  Qt::NoScrollPhase, false);
    QApplication::sendEvent(w, &e);
}

struct Ranges {
    double x0, x1, y0, y1;
};

Ranges ranges(const ChCoord &c)
{
    return Ranges{c.valX0, c.valX1, c.valY0, c.valY1};
}

}  // namespace

class TestChCoord : public QObject
{
    Q_OBJECT
private slots:
    void conversions_data();
    void conversions();
    void dragCode_data();
    void dragCode();
    void linkingByName();
    void pan_data();
    void pan();
    void noPanAfterRelease();
    void rectangleZoom_data();
    void rectangleZoom();
    void rightClickCollapsesTheRange();
    void wheelZoomBands_data();
    void wheelZoomBands();
};

void TestChCoord::conversions_data()
{
    QTest::addColumn<double>("v0");
    QTest::addColumn<double>("v1");
    QTest::addColumn<double>("px");
    QTest::addColumn<double>("py");
    QTest::addColumn<double>("x");
    QTest::addColumn<double>("y");

    // Pixel range x 0 .. 199, y 99 (bottom row) .. 0 (top row); values v0 .. v1 on both axes.
    QTest::newRow("bottom left pixel") << 0.0 << 1.0 << 0.0 << 99.0 << 0.0 << 0.0;
    QTest::newRow("top right pixel") << 0.0 << 1.0 << 199.0 << 0.0 << 1.0 << 1.0;
    QTest::newRow("middle") << 0.0 << 1.0 << 99.5 << 49.5 << 0.5 << 0.5;
    QTest::newRow("outside the widget extrapolates") << 0.0 << 1.0 << -199.0 << 198.0 << -1.0 << -1.0;
    QTest::newRow("mirrored value range") << 10.0 << -10.0 << 0.0 << 0.0 << 10.0 << -10.0;
}

void TestChCoord::conversions()
{
    QFETCH(double, v0);
    QFETCH(double, v1);
    QFETCH(double, px);
    QFETCH(double, py);
    ChCoord c;
    c.setPixRange(0, 99, 199, 0);
    c.setRange(v0, v0, v1, v1);
    QCOMPARE(c.pixX0, 0.0);
    QCOMPARE(c.pixY0, 99.0);
    QCOMPARE(c.pixX1, 199.0);
    QCOMPARE(c.pixY1, 0.0);
    QTEST(c.pixToX(px), "x");
    QTEST(c.pixToY(py), "y");
    QCOMPARE(c.xToPix(c.pixToX(px)), px);
}

void TestChCoord::dragCode_data()
{
    QTest::addColumn<int>("button");
    QTest::addColumn<int>("mods");
    QTest::addColumn<int>("code");

    const int left = Qt::LeftButton;
    const int right = Qt::RightButton;
    const int s = Qt::ShiftModifier;
    const int c = Qt::ControlModifier;
    const int a = Qt::AltModifier;
    QTest::newRow("left") << left << 0 << 0;
    QTest::newRow("left shift") << left << s << 1;
    QTest::newRow("left control") << left << c << 2;
    QTest::newRow("left alt") << left << a << 3;
    QTest::newRow("left shift control") << left << (s | c) << 4;
    QTest::newRow("left shift alt") << left << (s | a) << 5;
    QTest::newRow("left control alt") << left << (c | a) << 6;
    QTest::newRow("left all three") << left << (s | c | a) << 7;
    QTest::newRow("right") << right << 0 << 8;
    QTest::newRow("right shift") << right << s << 9;
    QTest::newRow("right all three") << right << (s | c | a) << 15;
    QTest::newRow("middle with shift") << int(Qt::MiddleButton) << s << 16;
    QTest::newRow("no button") << int(Qt::NoButton) << 0 << 16;
    QTest::newRow("meta does not count") << left << int(Qt::MetaModifier) << 0;
    QTest::newRow("keypad does not count") << left << (s | int(Qt::KeypadModifier)) << 1;
}

void TestChCoord::dragCode()
{
    QFETCH(int, button);
    QFETCH(int, mods);
    QTEST(ChCoord::dragCode(button, mods), "code");
}

void TestChCoord::linkingByName()
{
    Pad pad;
    MouseC other;
    QSignalSpy updated(&pad.coord, &ChCoord::updated);

    // Linking the same relay again must not double the connections.
    pad.coord.setMouse(&pad.mouse);
    QTest::mousePress(&pad, Qt::LeftButton, Qt::NoModifier, QPoint(10, 10));
    QCOMPARE(updated.count(), 1);
    QTest::mouseRelease(&pad, Qt::LeftButton, Qt::NoModifier, QPoint(10, 10));
    QCOMPARE(updated.count(), 2);
    QTest::mouseDClick(&pad, Qt::LeftButton, Qt::NoModifier, QPoint(10, 10));
    QCOMPARE(updated.count(), 3);
    QTest::mouseRelease(&pad, Qt::LeftButton, Qt::NoModifier, QPoint(10, 10));
    sendWheel(&pad, 120);
    QCOMPARE(updated.count(), 5);

    // Linked elsewhere: the first relay's five connections are gone.
    updated.clear();
    pad.coord.setMouse(&other);
    QCOMPARE(pad.coord.mouse, &other);
    QTest::mousePress(&pad, Qt::LeftButton, Qt::NoModifier, QPoint(10, 10));
    QTest::mouseRelease(&pad, Qt::LeftButton, Qt::NoModifier, QPoint(10, 10));
    sendWheel(&pad, 120);
    QCOMPARE(updated.count(), 0);
    emit other.mPressed();
    QCOMPARE(updated.count(), 1);

    pad.coord.setMouse(nullptr);
    QCOMPARE(pad.coord.mouse, nullptr);
    emit other.mPressed();
    emit other.wMoved(1);
    QCOMPARE(updated.count(), 1);
    // Unlinked, the slots do nothing.
    const Ranges before = ranges(pad.coord);
    pad.coord.wheelMoved(1);
    pad.coord.mMoved();
    QCOMPARE(updated.count(), 1);
    QCOMPARE(pad.coord.valX0, before.x0);
    QCOMPARE(pad.coord.valX1, before.x1);
}

void TestChCoord::pan_data()
{
    QTest::addColumn<int>("button");
    QTest::addColumn<int>("mods");
    QTest::addColumn<bool>("pans");
    QTest::newRow("left with shift pans") << int(Qt::LeftButton) << int(Qt::ShiftModifier) << true;
    QTest::newRow("left with shift and control does not")
        << int(Qt::LeftButton) << int(Qt::ShiftModifier | Qt::ControlModifier) << false;
    QTest::newRow("right button does not") << int(Qt::RightButton) << int(Qt::NoModifier) << false;
    QTest::newRow("plain left does not") << int(Qt::LeftButton) << int(Qt::NoModifier) << false;
}

void TestChCoord::pan()
{
    QFETCH(int, button);
    QFETCH(int, mods);
    QFETCH(bool, pans);

    Pad pad;
    QSignalSpy updated(&pad.coord, &ChCoord::updated);
    QSignalSpy nowPos(&pad.coord, &ChCoord::nowPos);
    const Qt::MouseButton b = Qt::MouseButton(button);

    QTest::mousePress(&pad, b, Qt::KeyboardModifiers(mods), QPoint(100, 50));
    const double grabbedX = pad.coord.pixToX(100);
    const double grabbedY = pad.coord.pixToY(50);
    updated.clear();
    sendMove(&pad, QPoint(120, 40), b, Qt::KeyboardModifiers(mods));

    QCOMPARE(nowPos.count(), 1);
    QCOMPARE(nowPos.at(0).at(0).toDouble(), 120.0 / 199.0);
    QCOMPARE(nowPos.at(0).at(1).toDouble(), 59.0 / 99.0);
    QCOMPARE(updated.count(), pans ? 1 : 0);
    if (pans) {
        // The value grabbed at the press is under the pointer again, and the extents keep their sizes.
        QCOMPARE(pad.coord.pixToX(120), grabbedX);
        QCOMPARE(pad.coord.pixToY(40), grabbedY);
        QCOMPARE(pad.coord.valX1 - pad.coord.valX0, 1.0);
        QCOMPARE(pad.coord.valY1 - pad.coord.valY0, 1.0);
    } else {
        QCOMPARE(pad.coord.valX0, 0.0);
        QCOMPARE(pad.coord.valY0, 0.0);
    }
    QTest::mouseRelease(&pad, b, Qt::NoModifier, QPoint(120, 40));
}

void TestChCoord::noPanAfterRelease()
{
    Pad pad;
    QTest::mousePress(&pad, Qt::LeftButton, Qt::ShiftModifier, QPoint(100, 50));
    QTest::mouseRelease(&pad, Qt::LeftButton, Qt::ShiftModifier, QPoint(100, 50));
    QSignalSpy updated(&pad.coord, &ChCoord::updated);
    sendMove(&pad, QPoint(150, 20), Qt::NoButton, Qt::ShiftModifier);
    QCOMPARE(updated.count(), 0);
    QCOMPARE(pad.coord.valX0, 0.0);
    QCOMPARE(pad.coord.valY1, 1.0);
}

void TestChCoord::rectangleZoom_data()
{
    QTest::addColumn<QPoint>("from");
    QTest::addColumn<QPoint>("to");
    QTest::addColumn<int>("mods");
    QTest::addColumn<bool>("zooms");
    QTest::addColumn<bool>("mirroredY");

    QTest::newRow("down and right") << QPoint(10, 10) << QPoint(50, 40) << 0 << true << false;
    QTest::newRow("up and left") << QPoint(50, 40) << QPoint(10, 10) << 0 << true << false;
    QTest::newRow("up and right mirrors y") << QPoint(10, 40) << QPoint(50, 10) << 0 << true << true;
    QTest::newRow("down and left mirrors y") << QPoint(50, 10) << QPoint(10, 40) << 0 << true << true;
    QTest::newRow("with shift no zoom") << QPoint(10, 10) << QPoint(50, 40) << int(Qt::ShiftModifier) << false << false;
    QTest::newRow("with meta still zooms")
        << QPoint(10, 10) << QPoint(50, 40) << int(Qt::MetaModifier) << true << false;
}

void TestChCoord::rectangleZoom()
{
    QFETCH(QPoint, from);
    QFETCH(QPoint, to);
    QFETCH(int, mods);
    QFETCH(bool, zooms);
    QFETCH(bool, mirroredY);

    Pad pad;
    QSignalSpy updated(&pad.coord, &ChCoord::updated);
    const double left = pad.coord.pixToX(qMin(from.x(), to.x()));
    const double right = pad.coord.pixToX(qMax(from.x(), to.x()));
    const double upper = pad.coord.pixToY(10);
    const double lower = pad.coord.pixToY(40);

    QTest::mousePress(&pad, Qt::RightButton, Qt::KeyboardModifiers(mods), from);
    sendMove(&pad, to, Qt::RightButton);
    QTest::mouseRelease(&pad, Qt::RightButton, Qt::NoModifier, to);
    QCOMPARE(updated.count(), 2);

    if (!zooms) {
        QCOMPARE(pad.coord.valX0, 0.0);
        QCOMPARE(pad.coord.valX1, 1.0);
        QCOMPARE(pad.coord.valY0, 0.0);
        QCOMPARE(pad.coord.valY1, 1.0);
        return;
    }
    QCOMPARE(pad.coord.valX0, left);
    QCOMPARE(pad.coord.valX1, right);
    QVERIFY(pad.coord.valX0 < pad.coord.valX1);
    if (mirroredY) {
        QCOMPARE(pad.coord.valY0, upper);
        QCOMPARE(pad.coord.valY1, lower);
        QVERIFY(pad.coord.valY0 > pad.coord.valY1);
    } else {
        QCOMPARE(pad.coord.valY0, lower);
        QCOMPARE(pad.coord.valY1, upper);
        QVERIFY(pad.coord.valY0 < pad.coord.valY1);
    }
}

void TestChCoord::rightClickCollapsesTheRange()
{
    Pad pad;
    QTest::mousePress(&pad, Qt::RightButton, Qt::NoModifier, QPoint(30, 20));
    QTest::mouseRelease(&pad, Qt::RightButton, Qt::NoModifier, QPoint(30, 20));
    QCOMPARE(pad.coord.valX0, pad.coord.valX1);
    QCOMPARE(pad.coord.valY0, pad.coord.valY1);
    QCOMPARE(pad.coord.valX0, 30.0 / 199.0);
    // The next setRange makes the mapper usable again.
    pad.coord.setRange(0, 0, 1, 1);
    QCOMPARE(pad.coord.xToPix(0.5), 99.5);
}

void TestChCoord::wheelZoomBands_data()
{
    QTest::addColumn<QPoint>("at");
    QTest::addColumn<int>("angle");
    QTest::addColumn<bool>("zoomX");
    QTest::addColumn<bool>("zoomY");
    QTest::addColumn<double>("factor");

    // Bands on a 200 x 100 display: x below 19.9 or above 179.1, y below 9.9 or above 89.1.
    const double in = 1.0 / 1.1;
    QTest::newRow("centre zooms both") << QPoint(100, 50) << 120 << true << true << in;
    QTest::newRow("bottom band zooms x only") << QPoint(100, 95) << 120 << true << false << in;
    QTest::newRow("top band zooms x only") << QPoint(100, 3) << 120 << true << false << in;
    QTest::newRow("left band zooms y only") << QPoint(5, 50) << 120 << false << true << in;
    QTest::newRow("right band zooms y only") << QPoint(195, 50) << 120 << false << true << in;
    QTest::newRow("corner zooms both") << QPoint(5, 95) << 120 << true << true << in;
    QTest::newRow("just inside the left band") << QPoint(19, 50) << 120 << false << true << in;
    QTest::newRow("just outside the left band") << QPoint(20, 50) << 120 << true << true << in;
    QTest::newRow("step 0 zooms in") << QPoint(100, 50) << 60 << true << true << in;
    QTest::newRow("toward the user zooms out") << QPoint(100, 50) << -240 << true << true << 1.1;
}

void TestChCoord::wheelZoomBands()
{
    QFETCH(QPoint, at);
    QFETCH(int, angle);
    QFETCH(bool, zoomX);
    QFETCH(bool, zoomY);
    QFETCH(double, factor);

    Pad pad;
    // The wheel zooms about the pointer of the latest recorded move.
    sendMove(&pad, at, Qt::NoButton);
    const double cx = pad.coord.pixToX(at.x());
    const double cy = pad.coord.pixToY(at.y());
    QSignalSpy updated(&pad.coord, &ChCoord::updated);
    sendWheel(&pad, angle);

    QCOMPARE(updated.count(), 1);
    QCOMPARE(pad.coord.valX1 - pad.coord.valX0, zoomX ? factor : 1.0);
    QCOMPARE(pad.coord.valY1 - pad.coord.valY0, zoomY ? factor : 1.0);
    // The value under the pointer stays under it.
    QCOMPARE(pad.coord.pixToX(at.x()), cx);
    QCOMPARE(pad.coord.pixToY(at.y()), cy);
}

QTEST_MAIN(TestChCoord)
#include "tst_chcoord.moc"
