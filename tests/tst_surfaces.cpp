#include <QApplication>
#include <QEnterEvent>
#include <QImage>
#include <QMouseEvent>
#include <QPainter>
#include <QSignalSpy>
#include <QTest>
#include <QtTest/qtestspontaneevent.h>
#include <QWheelEvent>
#include <QWidget>

#include "widgets/dispa.h"
#include "widgets/exlabel.h"

namespace {

void sendMove(QWidget *w, QPoint pos, Qt::KeyboardModifiers mods)
{
    QMouseEvent e(QEvent::MouseMove, QPointF(pos), w->mapToGlobal(QPointF(pos)), Qt::NoButton, Qt::NoButton, mods);
    QApplication::sendEvent(w, &e);
}

void sendWheel(QWidget *w, int angleY)
{
    const QPointF pos(10, 10);
    QWheelEvent e(pos, w->mapToGlobal(pos), QPoint(), QPoint(0, angleY), Qt::NoButton, Qt::NoModifier,
                  Qt::NoScrollPhase, false);
    // As from the window system (sendEvent would clear the mark): only such wheel
    // events travel on to the parent when ignored.
    QSpontaneKeyEvent::setSpontaneous(&e);
    qApp->notify(w, &e);
}

// Counts the mouse and wheel events that reach a parent because its child passed them on.
class EventCounter : public QObject
{
public:
    QList<QEvent::Type> seen;

protected:
    bool eventFilter(QObject *, QEvent *e) override
    {
        switch (e->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::MouseMove:
        case QEvent::Wheel:
            seen << e->type();
            break;
        default:
            break;
        }
        return false;
    }
};

// The first pixel where a picture differs from a plain colour, or an empty string.
QString firstDifference(const QImage &img, const QRect &area, QColor expected)
{
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            if (img.pixelColor(x, y) != expected)
                return QStringLiteral("pixel (%1, %2) is %3, expected %4")
                    .arg(x)
                    .arg(y)
                    .arg(img.pixelColor(x, y).name(QColor::HexArgb), expected.name(QColor::HexArgb));
    return QString();
}

}  // namespace

class TestSurfaces : public QObject
{
    Q_OBJECT
private slots:
    void pixelRanges_data();
    void pixelRanges();
    void dispALayersOnWhite();
    void dispAWithoutReceiversIsWhite();
    void exLabelDrawsOverItsText();
    void altMovesOnDispA();
    void exLabelHasNoAltRule();
    void doubleClick_data();
    void doubleClick();
    void enterAndLeave_data();
    void enterAndLeave();
    void eventsPassedOn_data();
    void eventsPassedOn();
    void mapperHearsDispAFirst();
    void recordedEventsRepaint();
};

void TestSurfaces::pixelRanges_data()
{
    QTest::addColumn<bool>("label");
    QTest::addColumn<double>("x1");
    QTest::addColumn<double>("y0");
    QTest::newRow("display area ends on the last pixel") << false << 299.0 << 199.0;
    QTest::newRow("label ends past the last pixel") << true << 300.0 << 200.0;
}

void TestSurfaces::pixelRanges()
{
    QFETCH(bool, label);
    DispA dispA;
    ExLabel exLabel;
    QWidget *w = label ? static_cast<QWidget *>(&exLabel) : &dispA;
    ChCoord &coord = label ? exLabel.coord : dispA.coord;
    w->resize(300, 200);
    // Before the first paint the mapper keeps its initial range.
    QCOMPARE(coord.pixX1, 1.0);
    w->grab();
    QCOMPARE(coord.pixX0, 0.0);
    QTEST(coord.pixX1, "x1");
    QTEST(coord.pixY0, "y0");
    QCOMPARE(coord.pixY1, 0.0);
    // The range follows the size at the next paint.
    w->resize(40, 30);
    w->grab();
    QCOMPARE(coord.pixX1, label ? 40.0 : 39.0);
    QCOMPARE(coord.pixY0, label ? 30.0 : 29.0);
}

void TestSurfaces::dispALayersOnWhite()
{
    DispA d;
    d.resize(60, 40);
    QStringList order;
    connect(&d, &DispA::drawImage2, this, [&](QPainter *p) {
        order << "2";
        p->fillRect(QRect(20, 10, 10, 10), Qt::blue);
    });
    connect(&d, &DispA::drawImage0, this, [&](QPainter *p) {
        order << "0";
        p->fillRect(QRect(0, 0, 30, 20), Qt::red);
    });
    connect(&d, &DispA::drawImage1, this, [&](QPainter *) { order << "1"; });

    const QImage img = d.grab().toImage();
    QCOMPARE(order, QStringList({"0", "1", "2"}));
    QCOMPARE(img.pixelColor(5, 5), QColor(Qt::red));
    // The last layer is painted over the first on the same painter.
    QCOMPARE(img.pixelColor(25, 15), QColor(Qt::blue));
    const QString diff = firstDifference(img, QRect(30, 20, 30, 20), QColor(255, 255, 255));
    QVERIFY2(diff.isEmpty(), qPrintable(diff));
}

void TestSurfaces::dispAWithoutReceiversIsWhite()
{
    DispA d;
    d.resize(50, 30);
    QCOMPARE(d.frameShape(), QFrame::StyledPanel);
    // No frame of its own: even the border pixels are the background.
    const QImage img = d.grab().toImage();
    const QString diff = firstDifference(img, img.rect(), QColor(255, 255, 255, 255));
    QVERIFY2(diff.isEmpty(), qPrintable(diff));
}

void TestSurfaces::exLabelDrawsOverItsText()
{
    ExLabel l;
    l.resize(80, 30);
    l.setText(QStringLiteral("WWWWWWWW"));
    QSignalSpy draws(&l, &ExLabel::draw);
    const QImage textOnly = l.grab().toImage();
    QCOMPARE(draws.count(), 1);

    connect(&l, &ExLabel::draw, this, [](QPainter *p) { p->fillRect(QRect(0, 0, 80, 30), Qt::green); });
    const QImage covered = l.grab().toImage();
    const QString diff = firstDifference(covered, covered.rect(), QColor(Qt::green));
    QVERIFY2(diff.isEmpty(), qPrintable(diff));
    QVERIFY(textOnly != covered);
}

void TestSurfaces::altMovesOnDispA()
{
    DispA d;
    d.resize(100, 100);
    QSignalSpy moved(&d.mouse, &MouseC::mMoved);

    sendMove(&d, QPoint(10, 10), Qt::NoModifier);
    QCOMPARE(moved.count(), 1);
    // The first move with Alt is still recorded ...
    sendMove(&d, QPoint(20, 20), Qt::AltModifier);
    QCOMPARE(moved.count(), 2);
    QCOMPARE(d.mouse.pos, QPoint(20, 20));
    // ... but from then on every move is ignored, even with Alt let go.
    sendMove(&d, QPoint(30, 30), Qt::AltModifier);
    sendMove(&d, QPoint(40, 40), Qt::NoModifier);
    QCOMPARE(moved.count(), 2);
    QCOMPARE(d.mouse.pos, QPoint(20, 20));
    // A wheel event records no modifiers, so it does not lift the block.
    sendWheel(&d, 120);
    sendMove(&d, QPoint(45, 45), Qt::NoModifier);
    QCOMPARE(moved.count(), 2);
    // A press without Alt lifts it.
    QTest::mousePress(&d, Qt::LeftButton, Qt::NoModifier, QPoint(50, 50));
    QTest::mouseRelease(&d, Qt::LeftButton, Qt::NoModifier, QPoint(50, 50));
    sendMove(&d, QPoint(60, 60), Qt::NoModifier);
    QCOMPARE(moved.count(), 3);
    QCOMPARE(d.mouse.pos, QPoint(60, 60));
    QCOMPARE(d.mouse.prevPos, QPoint(50, 50));
}

void TestSurfaces::exLabelHasNoAltRule()
{
    ExLabel l;
    l.resize(100, 100);
    QSignalSpy moved(&l.mouse, &MouseC::mMoved);
    sendMove(&l, QPoint(20, 20), Qt::AltModifier);
    sendMove(&l, QPoint(30, 30), Qt::AltModifier);
    QCOMPARE(moved.count(), 2);
    QCOMPARE(l.mouse.pos, QPoint(30, 30));
}

void TestSurfaces::doubleClick_data()
{
    QTest::addColumn<bool>("label");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("display area relays the double click only") << false << QStringList({"dclick"});
    QTest::newRow("label relays it again as a press") << true << QStringList({"dclick", "press"});
}

void TestSurfaces::doubleClick()
{
    QFETCH(bool, label);
    QFETCH(QStringList, expected);
    DispA dispA;
    ExLabel exLabel;
    QWidget *w = label ? static_cast<QWidget *>(&exLabel) : &dispA;
    MouseC &mouse = label ? exLabel.mouse : dispA.mouse;
    w->resize(100, 100);

    QStringList log;
    connect(&mouse, &MouseC::mDClicked, this, [&] { log << "dclick"; });
    connect(&mouse, &MouseC::mPressed, this, [&] { log << "press"; });
    QTest::mouseDClick(w, Qt::LeftButton, Qt::NoModifier, QPoint(30, 40));
    QCOMPARE(log, expected);
    QCOMPARE(mouse.dClickPos, QPoint(30, 40));
    if (label) {
        QVERIFY(mouse.pressed);
        QCOMPARE(mouse.pressPos, QPoint(30, 40));
    } else {
        QVERIFY(!mouse.pressed);
    }
    QTest::mouseRelease(w, Qt::LeftButton, Qt::NoModifier, QPoint(30, 40));
}

void TestSurfaces::enterAndLeave_data()
{
    QTest::addColumn<bool>("label");
    QTest::newRow("display area") << false;
    QTest::newRow("label") << true;
}

void TestSurfaces::enterAndLeave()
{
    QFETCH(bool, label);
    DispA dispA;
    ExLabel exLabel;
    QWidget *w = label ? static_cast<QWidget *>(&exLabel) : &dispA;
    MouseC &mouse = label ? exLabel.mouse : dispA.mouse;
    w->resize(100, 100);

    QStringList log;
    connect(&mouse, &MouseC::mEntered, this, [&] { log << QStringLiteral("entered %1").arg(mouse.inside); });
    connect(&mouse, &MouseC::mLeaved, this, [&] { log << QStringLiteral("leaved %1").arg(mouse.inside); });
    connect(&mouse, &MouseC::mEnterLeave, this, [&](bool f) { log << QStringLiteral("enterLeave %1").arg(f); });

    const QPointF at(5, 5);
    QEnterEvent enter(at, at, w->mapToGlobal(at));
    QApplication::sendEvent(w, &enter);
    QVERIFY(mouse.inside);
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(w, &leave);
    QVERIFY(!mouse.inside);

    QCOMPARE(log, QStringList({"entered 1", "enterLeave 1", "leaved 0", "enterLeave 0"}));
}

void TestSurfaces::eventsPassedOn_data()
{
    QTest::addColumn<bool>("label");
    QTest::newRow("display area keeps its events") << false;
    QTest::newRow("label passes them to its parent") << true;
}

void TestSurfaces::eventsPassedOn()
{
    QFETCH(bool, label);
    QWidget parent;
    parent.resize(200, 200);
    auto *dispA = new DispA(&parent);
    auto *exLabel = new ExLabel(&parent);
    QWidget *w = label ? static_cast<QWidget *>(exLabel) : dispA;
    w->setGeometry(10, 10, 100, 100);
    EventCounter counter;
    parent.installEventFilter(&counter);

    sendWheel(w, 120);
    QTest::mousePress(w, Qt::LeftButton, Qt::NoModifier, QPoint(20, 20));
    QTest::mouseRelease(w, Qt::LeftButton, Qt::NoModifier, QPoint(20, 20));

    if (label) {
        QVERIFY(counter.seen.contains(QEvent::Wheel));
        QVERIFY(counter.seen.contains(QEvent::MouseButtonPress));
    } else {
        QCOMPARE(counter.seen, QList<QEvent::Type>());
    }
}

void TestSurfaces::mapperHearsDispAFirst()
{
    DispA d;
    d.resize(100, 100);
    QCOMPARE(d.coord.mouse, &d.mouse);
    ExLabel l;
    QCOMPARE(l.coord.mouse, nullptr);

    QSignalSpy updated(&d.coord, &ChCoord::updated);
    int updatesSeenByLaterReceiver = -1;
    connect(&d.mouse, &MouseC::mPressed, this, [&] { updatesSeenByLaterReceiver = updated.count(); });
    QTest::mousePress(&d, Qt::LeftButton, Qt::NoModifier, QPoint(20, 20));
    QCOMPARE(updatesSeenByLaterReceiver, 1);
    QTest::mouseRelease(&d, Qt::LeftButton, Qt::NoModifier, QPoint(20, 20));
}

void TestSurfaces::recordedEventsRepaint()
{
    QWidget top;
    top.resize(120, 120);
    auto *d = new DispA(&top);
    d->setGeometry(0, 0, 120, 120);
    top.show();
    QVERIFY(QTest::qWaitForWindowExposed(&top));
    QSignalSpy painted(d, &DispA::drawImage2);
    QTRY_VERIFY(painted.count() > 0);

    const auto repaintsAfter = [&](auto &&send) {
        QCoreApplication::processEvents();
        painted.clear();
        send();
        return QTest::qWaitFor([&] { return painted.count() > 0; });
    };
    QVERIFY(repaintsAfter([&] { sendMove(d, QPoint(10, 10), Qt::NoModifier); }));
    QVERIFY(repaintsAfter([&] { QTest::mousePress(d, Qt::LeftButton, Qt::NoModifier, QPoint(10, 10)); }));
    QVERIFY(repaintsAfter([&] { QTest::mouseRelease(d, Qt::LeftButton, Qt::NoModifier, QPoint(10, 10)); }));
    QVERIFY(repaintsAfter([&] { sendWheel(d, -120); }));
}

QTEST_MAIN(TestSurfaces)
#include "tst_surfaces.moc"
