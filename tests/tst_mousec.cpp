#include <QApplication>
#include <QMouseEvent>
#include <QSignalSpy>
#include <QTest>
#include <QWheelEvent>
#include <QWidget>

#include "widgets/mousec.h"

namespace {

// A bare widget that feeds its relay from every mouse handler, as the painting surfaces do.
class Feeder : public QWidget
{
public:
    MouseC mouse;

protected:
    void mouseMoveEvent(QMouseEvent *e) override { mouse.recMove(e); }
    void mousePressEvent(QMouseEvent *e) override { mouse.recPress(e); }
    void mouseReleaseEvent(QMouseEvent *e) override { mouse.recRelease(e); }
    void mouseDoubleClickEvent(QMouseEvent *e) override { mouse.recDClick(e); }
    void wheelEvent(QWheelEvent *e) override { mouse.recWheel(e); }
};

// A mouse event at a fractional position, which QTest cannot produce.
void sendMouse(QWidget *w, QEvent::Type type, QPointF pos, Qt::MouseButton button, Qt::MouseButtons buttons,
               Qt::KeyboardModifiers mods)
{
    QMouseEvent e(type, pos, w->mapToGlobal(pos), button, buttons, mods);
    QApplication::sendEvent(w, &e);
}

void sendWheel(QWidget *w, QPoint angleDelta)
{
    const QPointF pos(5, 5);
    QWheelEvent e(pos, w->mapToGlobal(pos), QPoint(), angleDelta, Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase,
                  false);
    QApplication::sendEvent(w, &e);
}

}  // namespace

class TestMouseC : public QObject
{
    Q_OBJECT
private slots:
    void pressRecord_data();
    void pressRecord();
    void moveRecordsPreviousPosition();
    void releaseKeepsThePressRecord();
    void doubleClickLeavesPositionAlone();
    void receiversSeeTheUpdatedRecord();
    void wheelStep_data();
    void wheelStep();
};

void TestMouseC::pressRecord_data()
{
    QTest::addColumn<QPointF>("at");
    QTest::addColumn<int>("button");
    QTest::addColumn<int>("mods");
    QTest::addColumn<QPoint>("expPos");
    QTest::addColumn<bool>("left");
    QTest::addColumn<bool>("right");
    QTest::addColumn<bool>("shift");
    QTest::addColumn<bool>("ctrl");
    QTest::addColumn<bool>("alt");

    const int none = Qt::NoModifier;
    QTest::newRow("left at a fractional point") << QPointF(10.7, 20.9) << int(Qt::LeftButton) << none << QPoint(10, 20)
                                                << true << false << false << false << false;
    QTest::newRow("negative fractions truncate toward zero")
        << QPointF(-0.5, -1.7) << int(Qt::LeftButton) << none << QPoint(0, -1) << true << false << false << false
        << false;
    QTest::newRow("right with shift") << QPointF(3, 4) << int(Qt::RightButton) << int(Qt::ShiftModifier) << QPoint(3, 4)
                                      << false << true << true << false << false;
    QTest::newRow("left with control") << QPointF(3, 4) << int(Qt::LeftButton) << int(Qt::ControlModifier)
                                       << QPoint(3, 4) << true << false << false << true << false;
    QTest::newRow("left with alt") << QPointF(3, 4) << int(Qt::LeftButton) << int(Qt::AltModifier) << QPoint(3, 4)
                                   << true << false << false << false << true;
    QTest::newRow("shift and control set no flag")
        << QPointF(3, 4) << int(Qt::LeftButton) << int(Qt::ShiftModifier | Qt::ControlModifier) << QPoint(3, 4) << true
        << false << false << false << false;
    QTest::newRow("shift with keypad is not shift alone")
        << QPointF(3, 4) << int(Qt::LeftButton) << int(Qt::ShiftModifier | Qt::KeypadModifier) << QPoint(3, 4) << true
        << false << false << false << false;
    QTest::newRow("middle button is neither left nor right")
        << QPointF(3, 4) << int(Qt::MiddleButton) << none << QPoint(3, 4) << false << false << false << false << false;
}

void TestMouseC::pressRecord()
{
    QFETCH(QPointF, at);
    QFETCH(int, button);
    QFETCH(int, mods);
    QFETCH(QPoint, expPos);

    Feeder w;
    w.resize(100, 100);
    QSignalSpy pressed(&w.mouse, &MouseC::mPressed);
    sendMouse(&w, QEvent::MouseButtonPress, at, Qt::MouseButton(button), Qt::MouseButton(button),
              Qt::KeyboardModifiers(mods));

    QCOMPARE(pressed.count(), 1);
    QCOMPARE(w.mouse.pos, expPos);
    QCOMPARE(w.mouse.pressPos, expPos);
    QCOMPARE(w.mouse.prevPos, QPoint(0, 0));
    QCOMPARE(w.mouse.button, button);
    QCOMPARE(w.mouse.pressButton, button);
    QCOMPARE(w.mouse.modifiers, mods);
    QCOMPARE(w.mouse.pressModifiers, mods);
    QVERIFY(w.mouse.pressed);
    QTEST(w.mouse.pressLeft, "left");
    QTEST(w.mouse.pressRight, "right");
    QTEST(w.mouse.pressShift, "shift");
    QTEST(w.mouse.pressCtrl, "ctrl");
    QTEST(w.mouse.pressAlt, "alt");
}

void TestMouseC::moveRecordsPreviousPosition()
{
    Feeder w;
    w.resize(100, 100);
    QSignalSpy moved(&w.mouse, &MouseC::mMoved);

    QTest::mousePress(&w, Qt::LeftButton, Qt::NoModifier, QPoint(5, 6));
    sendMouse(&w, QEvent::MouseMove, QPointF(7.9, 8.2), Qt::NoButton, Qt::LeftButton, Qt::ShiftModifier);

    QCOMPARE(moved.count(), 1);
    QCOMPARE(w.mouse.prevPos, QPoint(5, 6));
    QCOMPARE(w.mouse.pos, QPoint(7, 8));
    QCOMPARE(w.mouse.button, int(Qt::NoButton));
    QCOMPARE(w.mouse.modifiers, int(Qt::ShiftModifier));
    QVERIFY(w.mouse.moveShift);
    QVERIFY(!w.mouse.moveCtrl);
    QVERIFY(!w.mouse.moveAlt);
    // The press record is untouched by a move.
    QCOMPARE(w.mouse.pressButton, int(Qt::LeftButton));
    QCOMPARE(w.mouse.pressModifiers, int(Qt::NoModifier));
    QVERIFY(w.mouse.pressed);

    sendMouse(&w, QEvent::MouseMove, QPointF(9, 9), Qt::NoButton, Qt::LeftButton,
              Qt::ControlModifier | Qt::AltModifier);
    QCOMPARE(w.mouse.prevPos, QPoint(7, 8));
    QVERIFY(!w.mouse.moveShift);
    QVERIFY(!w.mouse.moveCtrl);
    QVERIFY(!w.mouse.moveAlt);
    QTest::mouseRelease(&w, Qt::LeftButton, Qt::NoModifier, QPoint(9, 9));
}

void TestMouseC::releaseKeepsThePressRecord()
{
    Feeder w;
    w.resize(100, 100);
    QSignalSpy released(&w.mouse, &MouseC::mReleased);

    QTest::mousePress(&w, Qt::RightButton, Qt::AltModifier, QPoint(3, 4));
    QTest::mouseRelease(&w, Qt::RightButton, Qt::NoModifier, QPoint(9, 10));

    QCOMPARE(released.count(), 1);
    QVERIFY(!w.mouse.pressed);
    QVERIFY(!w.mouse.pressLeft);
    QVERIFY(!w.mouse.pressRight);
    QCOMPARE(w.mouse.pressButton, int(Qt::RightButton));
    QCOMPARE(w.mouse.pressModifiers, int(Qt::AltModifier));
    QVERIFY(w.mouse.pressAlt);
    QCOMPARE(w.mouse.pressPos, QPoint(3, 4));
    QCOMPARE(w.mouse.releasePos, QPoint(9, 10));
    QCOMPARE(w.mouse.pos, QPoint(9, 10));
    QCOMPARE(w.mouse.prevPos, QPoint(3, 4));
    QCOMPARE(w.mouse.button, int(Qt::RightButton));
    QCOMPARE(w.mouse.releaseButton, int(Qt::RightButton));
    QCOMPARE(w.mouse.modifiers, int(Qt::NoModifier));
    QCOMPARE(w.mouse.releaseModifiers, int(Qt::NoModifier));
}

void TestMouseC::doubleClickLeavesPositionAlone()
{
    Feeder w;
    w.resize(100, 100);
    QSignalSpy dclicked(&w.mouse, &MouseC::mDClicked);

    QTest::mousePress(&w, Qt::LeftButton, Qt::NoModifier, QPoint(1, 2));
    QTest::mouseRelease(&w, Qt::LeftButton, Qt::NoModifier, QPoint(3, 4));
    QTest::mouseDClick(&w, Qt::MiddleButton, Qt::ShiftModifier, QPoint(20, 30));

    QCOMPARE(dclicked.count(), 1);
    QCOMPARE(w.mouse.dClickPos, QPoint(20, 30));
    QCOMPARE(w.mouse.pos, QPoint(3, 4));
    QCOMPARE(w.mouse.prevPos, QPoint(1, 2));
    QCOMPARE(w.mouse.dClickButton, int(Qt::MiddleButton));
    QCOMPARE(w.mouse.button, int(Qt::MiddleButton));
    QCOMPARE(w.mouse.dClickModifiers, int(Qt::ShiftModifier));
    QCOMPARE(w.mouse.modifiers, int(Qt::ShiftModifier));
    QCOMPARE(w.mouse.pressButton, int(Qt::LeftButton));
    QTest::mouseRelease(&w, Qt::MiddleButton, Qt::NoModifier, QPoint(20, 30));
}

void TestMouseC::receiversSeeTheUpdatedRecord()
{
    Feeder w;
    w.resize(100, 100);
    QStringList log;
    connect(&w.mouse, &MouseC::mPressed, this,
            [&] { log << QStringLiteral("press %1,%2").arg(w.mouse.pos.x()).arg(w.mouse.pos.y()); });
    connect(&w.mouse, &MouseC::mMoved, this,
            [&] { log << QStringLiteral("move %1,%2").arg(w.mouse.pos.x()).arg(w.mouse.pos.y()); });
    connect(&w.mouse, &MouseC::mReleased, this,
            [&] { log << QStringLiteral("release %1").arg(w.mouse.pressed ? "pressed" : "free"); });

    QTest::mousePress(&w, Qt::LeftButton, Qt::NoModifier, QPoint(11, 12));
    QTest::mouseMove(&w, QPoint(13, 14));
    QTest::mouseRelease(&w, Qt::LeftButton, Qt::NoModifier, QPoint(13, 14));

    QCOMPARE(log, QStringList({"press 11,12", "move 13,14", "release free"}));
}

void TestMouseC::wheelStep_data()
{
    QTest::addColumn<QPoint>("angleDelta");
    QTest::addColumn<int>("step");
    QTest::newRow("half a notch away gives 0") << QPoint(0, 60) << 0;
    QTest::newRow("one notch away") << QPoint(0, 120) << 1;
    QTest::newRow("two notches toward") << QPoint(0, -240) << -2;
    QTest::newRow("half a notch toward truncates to 0") << QPoint(0, -60) << 0;
    QTest::newRow("one and a half notches") << QPoint(0, 180) << 1;
    QTest::newRow("sideways only") << QPoint(120, 0) << 0;
}

void TestMouseC::wheelStep()
{
    QFETCH(QPoint, angleDelta);
    Feeder w;
    w.resize(100, 100);
    QSignalSpy wheel(&w.mouse, &MouseC::wMoved);
    sendWheel(&w, angleDelta);
    QCOMPARE(wheel.count(), 1);
    QTEST(wheel.at(0).at(0).toInt(), "step");
    // A wheel event records nothing.
    QCOMPARE(w.mouse.pos, QPoint(0, 0));
    QCOMPARE(w.mouse.button, 0);
}

QTEST_MAIN(TestMouseC)
#include "tst_mousec.moc"
