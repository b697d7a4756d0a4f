#include <QApplication>
#include <QMouseEvent>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include "panelfixtures.h"
#include "ui/slicesctrl.h"

namespace {

const int labelW = 202;  // one pixel per half percent: p % lies at x = 2p
const int labelH = 60;
const QRgb white = qRgb(255, 255, 255);
const QRgb red = qRgb(255, 0, 0);
const QRgb histGreen = qRgb(0, 220, 160);

// A panel whose histogram label is 202 x 60 pixels and has been painted once,
// so the label's mapper knows its pixel range.
struct Panel {
    SlicesCtrl p;
    Panel()
    {
        p.dispH_->setFixedSize(labelW, labelH);
        p.resize(900, 160);
        p.show();
    }
    bool ready()
    {
        if (!QTest::qWaitForWindowExposed(&p))
            return false;
        p.dispH_->grab();
        return p.dispH_->width() == labelW && p.dispH_->height() == labelH;
    }
    QImage shot() { return p.dispH_->grab().toImage().convertToFormat(QImage::Format_RGB32); }
};

void send(QWidget *w, QEvent::Type type, int x, Qt::MouseButton button, Qt::MouseButtons held,
          Qt::KeyboardModifiers mods = Qt::NoModifier)
{
    const QPointF pos(x, labelH / 2);
    QMouseEvent ev(type, pos, w->mapToGlobal(pos), button, held, mods);
    QApplication::sendEvent(w, &ev);
}

void press(QWidget *w, int x, Qt::MouseButton b, Qt::KeyboardModifiers mods = Qt::NoModifier)
{
    send(w, QEvent::MouseButtonPress, x, b, b, mods);
}

void moveHeld(QWidget *w, int x, Qt::MouseButtons held, Qt::KeyboardModifiers mods = Qt::NoModifier)
{
    send(w, QEvent::MouseMove, x, Qt::NoButton, held, mods);
}

void release(QWidget *w, int x, Qt::MouseButton b)
{
    send(w, QEvent::MouseButtonRelease, x, b, Qt::NoButton);
}

// Names the first pixel of a column that is not `want`.
QString columnMismatch(const QImage &img, int x, QRgb want)
{
    for (int y = 0; y < img.height(); ++y)
        if (img.pixel(x, y) != want)
            return QStringLiteral("(%1, %2) is #%3, not #%4")
                .arg(x)
                .arg(y)
                .arg(img.pixel(x, y) & 0xffffff, 6, 16, QLatin1Char('0'))
                .arg(want & 0xffffff, 6, 16, QLatin1Char('0'));
    return QString();
}

}  // namespace

class TestHistogram : public QObject
{
    Q_OBJECT
private slots:
    void whiteBeforeLoad();
    void histogramAndLines_data();
    void histogramAndLines();
    void logCountsRaiseSmallBins();
    void lineChoice_data();
    void lineChoice();
    void pressPixelIsPercent();
    void dragLowerLine();
    void dragUpperLinePastLower();
    void rightPressStartsNoDrag();
    void modifierPressOnlyRedraws_data();
    void modifierPressOnlyRedraws();
};

void TestHistogram::whiteBeforeLoad()
{
    Panel h;
    QVERIFY(h.ready());
    h.p.setMinThPC(50, true);
    const QImage img = h.shot();
    for (int x = 0; x < img.width(); ++x)
        QVERIFY2(columnMismatch(img, x, white).isEmpty(), qPrintable(columnMismatch(img, x, white)));
}

void TestHistogram::histogramAndLines_data()
{
    QTest::addColumn<double>("minPC");
    QTest::addColumn<double>("maxPC");
    QTest::addColumn<int>("minX");  // -1: no line in the label
    QTest::addColumn<int>("maxX");
    QTest::newRow("50 % and 100 %") << 50.0 << 100.0 << 100 << 200;
    QTest::newRow("fractions truncate") << 25.4 << 75.9 << 50 << 151;
    QTest::newRow("101 % is past the edge") << 10.0 << 101.0 << 20 << -1;
    QTest::newRow("outside on both sides") << -3.0 << 130.0 << -1 << -1;
    // Percentages with no pixel column (typed "inf"/"nan", equal range fields, 1e300)
    // draw no line, and nothing else changes.
    QTest::newRow("infinite and not a number") << qInf() << qQNaN() << -1 << -1;
    QTest::newRow("minus infinity, 75 %") << -qInf() << 75.0 << -1 << 150;
    QTest::newRow("far past both edges") << -1e300 << 1e300 << -1 << -1;
}

void TestHistogram::histogramAndLines()
{
    QFETCH(double, minPC);
    QFETCH(double, maxPC);
    QFETCH(int, minX);
    QFETCH(int, maxX);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    // Half the values 0, half 255: the first and the last bin are full, the
    // others empty. The last bin's column and the bottom row are not shown.
    QVERIFY(fixtures::writeTwoValuePng(dir.filePath("two.png"), 20, 10, 0, 255));
    Panel h;
    QVERIFY(h.ready());
    QVERIFY(fixtures::loadThroughDialog(h.p, {dir.filePath("two.png")}));
    h.p.setMinThPC(minPC, true);
    h.p.setMaxThPC(maxPC, true);

    const QImage img = h.shot();
    QCOMPARE(img.size(), QSize(labelW, labelH));
    for (int x = 0; x < labelW; ++x) {
        QRgb want = white;
        if (x == minX || x == maxX)
            want = red;
        else if (x >= 1 && x <= 3)
            want = histGreen;  // first bin, 202 / 49 pixels wide
        else if (x < 5)
            continue;  // edge of the scaled first bin
        QVERIFY2(columnMismatch(img, x, want).isEmpty(), qPrintable(columnMismatch(img, x, want)));
    }
}

// One bin holds 998 of 1000 values, another one: on the count scale the small bar
// is a pixel at most; on the log scale, log 2 / log 999 of the label (6 pixels).
void TestHistogram::logCountsRaiseSmallBins()
{
    QTemporaryDir dir;
    QImage img(1000, 1, QImage::Format_Grayscale8);
    img.fill(0);
    img.scanLine(0)[0] = 255;
    img.scanLine(0)[1] = 128;  // bin 25 of 50, columns 103 .. 107
    QVERIFY(img.save(dir.filePath("one.png")));
    Panel h;
    QVERIFY(h.ready());
    QVERIFY(fixtures::loadThroughDialog(h.p, {dir.filePath("one.png")}));
    h.p.setMaxThPC(100, true);
    h.p.setMinThPC(0, true);
    auto barHeight = [&h](int x) {
        const QImage shot = h.shot();
        int n = 0;
        for (int y = 0; y < shot.height(); ++y)
            n += shot.pixel(x, y) == histGreen;
        return n;
    };
    const int smallBar = 105;
    QVERIFY(barHeight(smallBar) <= 1);
    QVERIFY(barHeight(2) > labelH / 2);
    h.p.logHist_->setChecked(true);
    QVERIFY2(barHeight(smallBar) >= labelH / 12, qPrintable(QString::number(barHeight(smallBar))));
    QVERIFY(barHeight(2) > labelH / 2);
}

void TestHistogram::lineChoice_data()
{
    QTest::addColumn<double>("minPC");
    QTest::addColumn<double>("maxPC");
    QTest::addColumn<int>("x");
    QTest::addColumn<int>("button");
    QTest::addColumn<int>("mods");
    QTest::addColumn<int>("dragLine");
    const int left = Qt::LeftButton;
    QTest::newRow("halfway takes the upper line") << 20.0 << 80.0 << 100 << left << 0 << 1;
    QTest::newRow("49 % takes the lower line") << 20.0 << 80.0 << 98 << left << 0 << 0;
    QTest::newRow("near the upper line") << 20.0 << 80.0 << 170 << left << 0 << 1;
    QTest::newRow("left of both lines") << 20.0 << 80.0 << 2 << left << 0 << 0;
    QTest::newRow("right of both lines") << 20.0 << 80.0 << 201 << left << 0 << 1;
    QTest::newRow("lines at one place") << 50.0 << 50.0 << 10 << left << 0 << 1;
    QTest::newRow("lines crossed") << 80.0 << 20.0 << 150 << left << 0 << 0;
    QTest::newRow("right button") << 20.0 << 80.0 << 40 << int(Qt::RightButton) << 0 << -1;
    QTest::newRow("middle button") << 20.0 << 80.0 << 40 << int(Qt::MiddleButton) << 0 << -1;
    QTest::newRow("left with Shift") << 20.0 << 80.0 << 40 << left << int(Qt::ShiftModifier) << -1;
    QTest::newRow("left with Control") << 20.0 << 80.0 << 40 << left << int(Qt::ControlModifier) << -1;
    QTest::newRow("left with Alt") << 20.0 << 80.0 << 40 << left << int(Qt::AltModifier) << -1;
    QTest::newRow("left with Shift and Control")
        << 20.0 << 80.0 << 40 << left << int(Qt::ShiftModifier | Qt::ControlModifier) << -1;
}

void TestHistogram::lineChoice()
{
    QFETCH(double, minPC);
    QFETCH(double, maxPC);
    QFETCH(int, x);
    QFETCH(int, button);
    QFETCH(int, mods);
    QFETCH(int, dragLine);
    Panel h;
    QVERIFY(h.ready());
    h.p.setMinThPC(minPC, true);
    h.p.setMaxThPC(maxPC, true);
    press(h.p.dispH_, x, Qt::MouseButton(button), Qt::KeyboardModifiers(mods));
    QCOMPARE(h.p.dragLine, dragLine);
    release(h.p.dispH_, x, Qt::MouseButton(button));
    QCOMPARE(h.p.dragLine, -1);
}

// With W = 202 a pointer at pixel 101 stands for 50.5 %.
void TestHistogram::pressPixelIsPercent()
{
    Panel h;
    QVERIFY(h.ready());
    h.p.setRMinV(0);
    h.p.setRMaxV(1000);
    h.p.setMinThPC(50, false);
    h.p.setMaxThPC(100, false);
    press(h.p.dispH_, 101, Qt::LeftButton);
    QCOMPARE(h.p.dragLine, 0);
    moveHeld(h.p.dispH_, 101, Qt::LeftButton);
    QCOMPARE(h.p.minThPC_->text(), QStringLiteral("50.5"));
    QCOMPARE(h.p.minTh_->text(), QStringLiteral("505"));
}

void TestHistogram::dragLowerLine()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QVERIFY(fixtures::writeTwoValuePng(dir.filePath("two.png"), 20, 10, 0, 255));
    Panel h;
    QVERIFY(h.ready());
    QVERIFY(fixtures::loadThroughDialog(h.p, {dir.filePath("two.png")}));
    h.p.setRMinV(0);
    h.p.setRMaxV(200);
    h.p.setMinThPC(20, false);
    h.p.setMaxThPC(80, false);
    QSignalSpy paints(&h.p, &SlicesCtrl::paintPImg);
    QWidget *label = h.p.dispH_;

    press(label, 42, Qt::LeftButton);
    QCOMPARE(h.p.dragLine, 0);
    QCOMPARE(paints.count(), 0);

    moveHeld(label, 60, Qt::LeftButton);
    QCOMPARE(h.p.minThPC_->text(), QStringLiteral("30"));
    QCOMPARE(h.p.minTh_->text(), QStringLiteral("60"));
    QCOMPARE(h.p.minThPC_->cursorPosition(), 0);
    QCOMPARE(paints.count(), 3);
    QCOMPARE(h.p.maxThPC_->text(), QStringLiteral("80"));

    // Past the left edge: not clamped.
    moveHeld(label, -10, Qt::LeftButton);
    QCOMPARE(h.p.minThPC_->text(), QStringLiteral("-5"));
    QCOMPARE(h.p.minTh_->text(), QStringLiteral("-10"));
    QCOMPARE(paints.count(), 6);

    moveHeld(label, 60, Qt::LeftButton);
    release(label, 60, Qt::LeftButton);
    QCOMPARE(h.p.dragLine, -1);
    QCOMPARE(paints.count(), 9);

    // Moving without a button changes nothing and redraws nothing.
    moveHeld(label, 120, Qt::NoButton);
    QCOMPARE(h.p.minThPC_->text(), QStringLiteral("30"));
    QCOMPARE(paints.count(), 9);

    // The display follows: the lower line is now at x = 60.
    const QImage img = h.shot();
    QCOMPARE(img.pixel(60, 5), red);
    QCOMPARE(img.pixel(40, 5), white);
}

void TestHistogram::dragUpperLinePastLower()
{
    Panel h;
    QVERIFY(h.ready());
    h.p.setRMinV(-1);
    h.p.setRMaxV(1);
    h.p.setMinThPC(40, false);
    h.p.setMaxThPC(60, false);
    press(h.p.dispH_, 130, Qt::LeftButton);
    QCOMPARE(h.p.dragLine, 1);
    moveHeld(h.p.dispH_, 20, Qt::LeftButton);
    QCOMPARE(h.p.maxThPC_->text(), QStringLiteral("10"));
    QCOMPARE(h.p.maxTh_->text(), QStringLiteral("-0.8"));
    QCOMPARE(h.p.minThPC_->text(), QStringLiteral("40"));
    moveHeld(h.p.dispH_, 300, Qt::LeftButton);
    QCOMPARE(h.p.maxThPC_->text(), QStringLiteral("150"));
    QCOMPARE(h.p.maxTh_->text(), QStringLiteral("2"));
}

void TestHistogram::rightPressStartsNoDrag()
{
    Panel h;
    QVERIFY(h.ready());
    h.p.setRMinV(0);
    h.p.setRMaxV(100);
    h.p.setMinThPC(20, false);
    QSignalSpy paints(&h.p, &SlicesCtrl::paintPImg);
    press(h.p.dispH_, 40, Qt::RightButton);
    moveHeld(h.p.dispH_, 80, Qt::RightButton);
    moveHeld(h.p.dispH_, 90, Qt::RightButton);
    QCOMPARE(h.p.dragLine, -1);
    QCOMPARE(h.p.minThPC_->text(), QStringLiteral("20"));
    QCOMPARE(paints.count(), 0);
}

void TestHistogram::modifierPressOnlyRedraws_data()
{
    QTest::addColumn<int>("mods");
    QTest::newRow("Shift") << int(Qt::ShiftModifier);
    QTest::newRow("Control") << int(Qt::ControlModifier);
    QTest::newRow("Alt") << int(Qt::AltModifier);
}

// A left press with a modifier starts no drag, yet each move with the button
// held still asks for one redraw.
void TestHistogram::modifierPressOnlyRedraws()
{
    QFETCH(int, mods);
    Panel h;
    QVERIFY(h.ready());
    h.p.setRMinV(0);
    h.p.setRMaxV(100);
    h.p.setMinThPC(20, false);
    h.p.setMaxThPC(80, false);
    QSignalSpy paints(&h.p, &SlicesCtrl::paintPImg);
    press(h.p.dispH_, 40, Qt::LeftButton, Qt::KeyboardModifiers(mods));
    moveHeld(h.p.dispH_, 50, Qt::LeftButton, Qt::KeyboardModifiers(mods));
    moveHeld(h.p.dispH_, 60, Qt::LeftButton);
    QCOMPARE(paints.count(), 2);
    QCOMPARE(h.p.minThPC_->text(), QStringLiteral("20"));
    QCOMPARE(h.p.maxThPC_->text(), QStringLiteral("80"));
    QCOMPARE(h.p.minTh_->text(), QStringLiteral("20"));
}

QTEST_MAIN(TestHistogram)
#include "tst_histogram.moc"
