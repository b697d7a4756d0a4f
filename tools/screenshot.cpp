// Makes the pictures of the user guide: builds the main window as the program
// does, loads the sample sets through the panels' loaders, turns the view with
// real mouse drags on the display, and grabs the window into a PNG file.
//
//   oxa_screenshot <samples folder> <scene> <output.png> [-e | -j] [--controls <file.png>]
//
// --controls also writes the part of the window below the picture (the control
// row and the panels) at full size.
// Scenes: "start" (the head as ./run.sh shows it), "turned" (the head cut in half
// along its slices with "Fix Dir." and "Show C. Section", zoomed in by the wheel and
// turned by a drag), "overlay" (the same with the vessels in a second panel).
// The window is sized so that the display area is square, as the picture is.

#include <QApplication>
#include <QCheckBox>
#include <QDeadlineTimer>
#include <QDir>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPixmap>
#include <QPushButton>
#include <QSlider>
#include <QTextStream>
#include <QThread>
#include <QTranslator>
#include <QWheelEvent>

#include <cstdlib>

#include "app/cfgstore.h"
#include "app/startup.h"
#include "tools/phantom.h"
#include "ui/ctview.h"
#include "ui/slicesctrl.h"
#include "widgets/dispa.h"

namespace {

QTextStream &err()
{
    static QTextStream s(stderr);
    return s;
}

// Counts the loads that have finished and been handled by their panels (their
// own notification slots were connected first, so they have run by then).
struct LoadCounter {
    int finished = 0;
    QObject ctx;
    void watch(SlicesCtrl *s)
    {
        QObject::connect(&s->sliceDatas, &SliceDatas::loadFilesFinished, &ctx, [this] { ++finished; });
    }
    bool waitFor(int count)
    {
        QDeadlineTimer deadline(120000);
        while (finished < count && !deadline.hasExpired())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        return finished >= count;
    }
};

// Lets the window settle: layouts, exposure, pending repaints.
void settle()
{
    for (int i = 0; i < 20; ++i) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(10);
    }
}

void sendMouse(QWidget *target, QEvent::Type type, QPointF pos, Qt::MouseButton button, Qt::MouseButtons buttons)
{
    QMouseEvent e(type, pos, target->mapToGlobal(pos), button, buttons, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &e);
}

// A left-button drag across the display between two points given as fractions
// of its width and height (0, 0 the top left corner), in a few steps.
void drag(CtView &w, QPointF from, QPointF to)
{
    QWidget *d = w.dispA_;
    const QPointF size(d->width() - 1, d->height() - 1);
    const auto at = [&size](QPointF f) { return QPointF(int(f.x() * size.x()), int(f.y() * size.y())); };
    sendMouse(d, QEvent::MouseButtonPress, at(from), Qt::LeftButton, Qt::LeftButton);
    const int steps = 6;
    for (int i = 1; i <= steps; ++i) {
        const QPointF f = from + (to - from) * (double(i) / steps);
        sendMouse(d, QEvent::MouseMove, at(f), Qt::NoButton, Qt::LeftButton);
    }
    sendMouse(d, QEvent::MouseButtonRelease, at(to), Qt::LeftButton, Qt::NoButton);
}

// Wheel notches over the middle of the display; positive ones zoom in.
void wheel(CtView &w, int notches)
{
    QWidget *d = w.dispA_;
    const QPointF mid(d->width() / 2, d->height() / 2);
    for (int i = 0; i < std::abs(notches); ++i) {
        QWheelEvent e(mid, d->mapToGlobal(mid), QPoint(), QPoint(0, notches > 0 ? 120 : -120), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
        QCoreApplication::sendEvent(d, &e);
    }
}

void setPictureSize(CtView &w, int px)
{
    w.imgPixWidth_->setText(QString::number(px));
    w.imgPixHeight_->setText(QString::number(px));
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() < 4) {
        err() << "usage: oxa_screenshot <samples folder> <start|turned|overlay> <output.png> [-e | -j]"
                 " [--controls <file.png>]\n";
        return 2;
    }
    const qsizetype controlsAt = args.indexOf(QStringLiteral("--controls"));
    const QString controlsOut = controlsAt > 0 && controlsAt + 1 < args.size() ? args.at(controlsAt + 1) : QString();
    const QString samples = QDir(args.at(1)).absolutePath();
    const QString scene = args.at(2);
    const QString out = args.at(3);
    const bool japanese = args.contains(QStringLiteral("-j"));
    if (scene != QLatin1String("start") && scene != QLatin1String("turned") && scene != QLatin1String("overlay")) {
        err() << "unknown scene " << scene << "\n";
        return 2;
    }

    QTranslator translator;
    if (japanese && loadJapaneseTranslation(translator, QCoreApplication::applicationDirPath()))
        QCoreApplication::installTranslator(&translator);

    CtView w(samples, nullptr);
    const QStringList head = phantom::headFiles(QDir(samples).filePath(QStringLiteral("head")));
    const QStringList vessels = phantom::vesselsFiles(QDir(samples).filePath(QStringLiteral("vessels")));

    LoadCounter loads;
    loads.watch(w.sCtrls.first());
    loadSliceFilesAtStart(w, head);
    if (scene == QLatin1String("overlay")) {
        w.addSliceSet_->click();
        SliceDatas *set = &w.sCtrls.at(1)->sliceDatas;
        loads.watch(w.sCtrls.at(1));
        QMetaObject::invokeMethod(
            set, [set, vessels] { set->filesSelected(vessels); }, Qt::QueuedConnection);
    }

    w.resize(760, 900);
    w.show();
    settle();
    w.resize(w.width(), w.height() + w.dispA_->width() - w.dispA_->height());
    if (!loads.waitFor(int(w.sCtrls.size()))) {
        err() << "the sample sets did not load in time\n";
        return 1;
    }
    settle();

    if (scene != QLatin1String("start")) {
        // A panel added after the window was built learns the view normal only at
        // a turn. A short drag along the top edge turns the picture about the line
        // of sight, so the normal stays (0, 0, 1) and reaches the vessel panel too.
        if (scene == QLatin1String("overlay"))
            drag(w, QPointF(0.45, 0.05), QPointF(0.55, 0.05));
        // "Fix Dir." keeps the cut parallel to the slices while the view turns, so
        // its face is one whole slice; the link carries the switch and the slider
        // to every panel. At 5 the plane sits between two slices of either set.
        SlicesCtrl *first = w.sCtrls.first();
        first->csFixDir_->click();
        first->cSlider_->setValue(5);
        for (SlicesCtrl *s : std::as_const(w.sCtrls))
            s->showCSection_->click();
        setPictureSize(w, 480);
        wheel(w, scene == QLatin1String("overlay") ? 6 : 3);
        drag(w, QPointF(0.40, 0.60), QPointF(0.62, 0.44));
    }
    settle();

    const QPixmap shot = w.grab();
    if (shot.isNull() || !shot.save(out, "PNG")) {
        err() << "cannot write " << out << "\n";
        return 1;
    }
    if (!controlsOut.isEmpty()) {
        const int top = w.imageCtrl_->geometry().top() - 4;
        const QPixmap controls = w.grab(QRect(0, top, w.width(), w.height() - top));
        if (controls.isNull() || !controls.save(controlsOut, "PNG")) {
            err() << "cannot write " << controlsOut << "\n";
            return 1;
        }
    }
    return 0;
}
