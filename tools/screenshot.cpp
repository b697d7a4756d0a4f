// Makes the pictures of the user guide: builds the main window as the program
// does, loads the sample sets through the panels' loaders, turns the view with
// real mouse drags on the display and keys, and grabs the window into a PNG file.
//
//   oxa_screenshot <samples folder> <scene> <output.png> [-e | -j] [--controls <file.png>]
//
// --controls also writes the part of the window below the picture (the control
// row and the panels) at full size.
// Scenes:
//   "start"    the head as ./run.sh shows it;
//   "turned"   the head cut in half along its slices with "Fix Dir." and "Show C.
//              Section", zoomed in by the wheel and turned by a drag;
//   "overlay"  the same with the vessels in a second panel;
//   "fit"      the CT series, turned by a drag, then "Voxels" and key 2: the side
//              view, fitted, in the true proportions of its 0.5 mm pixels and 2 mm slices;
//   "side"     the head from the side (key 2) with "Voxels", above the same with
//              "Slices": the picture and the control row of both, in one image, the
//              display and the picture twice as wide as tall;
//   "follow"   a wide window with "Picture follows window" ticked and the view fitted;
//   "savefail" a save into a folder that does not exist, with its message box;
//   "skipped"  the panel after loading the head slices with a picture of another
//              size and a flat one, the skipped files' tool tip shown.
// The window is sized so that the display area has the picture's proportions
// (square but in "side"), except in "follow".

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QFile>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QSlider>
#include <QTemporaryDir>
#include <QTextStream>
#include <QThread>
#include <QToolTip>
#include <QTranslator>
#include <QWheelEvent>

#include <cstdlib>
#include <memory>

#include "app/cfgstore.h"
#include "app/startup.h"
#include "app/version.h"
#include "tools/phantom.h"
#include "ui/ctview.h"
#include "ui/slicesctrl.h"
#include "widgets/dispa.h"

// The save slot is private; the tool reaches it as the tests do.
struct CtViewTestAccess {
    static void saveImage(CtView &w, const QString &fname) { w.saveImage(fname); }
};

namespace {

QTextStream &err()
{
    static QTextStream s(stderr);
    return s;
}

const QStringList scenes = {
    QStringLiteral("start"), QStringLiteral("turned"), QStringLiteral("overlay"),  QStringLiteral("fit"),
    QStringLiteral("side"),  QStringLiteral("follow"), QStringLiteral("savefail"), QStringLiteral("skipped"),
};

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

// A key typed on the display, as a user presses it: the window's shortcuts take it.
// False when no shortcut answered (the view direction did not change).
bool pressKey(CtView &w, Qt::Key key, const QString &text)
{
    const Vec3 before = w.nz;
    QWidget *d = w.dispA_;
    d->setFocus();
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
    QCoreApplication::sendEvent(d, &press);
    QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier, text);
    QCoreApplication::sendEvent(d, &release);
    settle();
    return !(w.nz.x == before.x && w.nz.y == before.y && w.nz.z == before.z);
}

// Looks from the side by key 2, as a user does; directly should the window not take the key.
void sideView(CtView &w)
{
    if (!pressKey(w, Qt::Key_2, QStringLiteral("2"))) {
        err() << "key 2 was not taken by the window; looking from the side directly\n";
        w.lookAlong(1);
    }
}

void setPictureSize(CtView &w, int width, int height)
{
    w.imgPixWidth_->setText(QString::number(width));
    w.imgPixHeight_->setText(QString::number(height));
}

void setSampling(CtView &w, int index)
{
    w.sampling_->setCurrentIndex(index);
    settle();
}

// The files of a folder matching a pattern, by name.
QStringList filesIn(const QString &dir, const QString &pattern)
{
    QStringList files;
    const QDir d(dir);
    for (const QString &name : d.entryList({pattern}, QDir::Files, QDir::Name))
        files << d.filePath(name);
    return files;
}

// What the screen shows within a rectangle: the window with the small windows of
// its own beside it (message boxes, tool tips), as one picture.
QPixmap grabScreen(const QRect &rect)
{
    QScreen *screen = QGuiApplication::primaryScreen();
    return screen->grabWindow(0, rect.x(), rect.y(), rect.width(), rect.height());
}

bool save(const QPixmap &pm, const QString &out)
{
    if (pm.isNull() || !pm.save(out, "PNG")) {
        err() << "cannot write " << out << "\n";
        return false;
    }
    return true;
}

// The picture and the control row, without the panels.
QPixmap grabTop(CtView &w)
{
    return w.grab(QRect(0, 0, w.width(), w.imageCtrl_->geometry().bottom() + 4));
}

// The skipped-files scene's folder: "scans" in the temporary folder when it is free,
// so that the names the panel shows read plainly; a folder of its own otherwise.
// Removed at the end when made here.
struct ScanFolder {
    QString path;
    std::unique_ptr<QTemporaryDir> fallback;
    bool made = false;
    bool make()
    {
        const QString plain = QDir::temp().filePath(QStringLiteral("scans"));
        if (!QFileInfo::exists(plain) && QDir().mkdir(plain)) {
            path = plain;
            made = true;
            return true;
        }
        fallback = std::make_unique<QTemporaryDir>(QDir::temp().filePath(QStringLiteral("scans-XXXXXX")));
        path = fallback->path();
        return fallback->isValid();
    }
    ~ScanFolder()
    {
        if (made)
            QDir(path).removeRecursively();
    }
};

// The skipped-files scene's list: the head slices copied into a scan folder, with a
// scout picture of another size in the middle and a blank slice (one grey level) at the end.
QStringList skippedSceneFiles(const QString &samples, const QString &scans)
{
    QStringList files;
    for (const QString &f : phantom::headFiles(QDir(samples).filePath(QStringLiteral("head")))) {
        const QString copy = QDir(scans).filePath(QFileInfo(f).fileName());
        if (!QFile::copy(f, copy))
            return {};
        files << copy;
    }
    QImage scout(320, 240, QImage::Format_Grayscale8);
    for (int y = 0; y < scout.height(); ++y)
        for (int x = 0; x < scout.width(); ++x)
            scout.scanLine(y)[x] = uchar((x + y) % 256);
    QImage blank(phantom::headSize, phantom::headSize, QImage::Format_Grayscale8);
    blank.fill(0);
    const QString scoutName = QDir(scans).filePath(QStringLiteral("scout.png"));
    const QString blankName = QDir(scans).filePath(QStringLiteral("blank.png"));
    if (!scout.save(scoutName) || !blank.save(blankName))
        return {};
    files.insert(64, scoutName);
    files << blankName;
    return files;
}

}  // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QCoreApplication::setApplicationVersion(oxaVersion());
    const QStringList args = QCoreApplication::arguments();
    if (args.size() < 4) {
        err() << "usage: oxa_screenshot <samples folder> <" << scenes.join(QLatin1Char('|'))
              << "> <output.png> [-e | -j] [--controls <file.png>]\n";
        return 2;
    }
    const qsizetype controlsAt = args.indexOf(QStringLiteral("--controls"));
    const QString controlsOut = controlsAt > 0 && controlsAt + 1 < args.size() ? args.at(controlsAt + 1) : QString();
    const QString samples = QDir(args.at(1)).absolutePath();
    const QString scene = args.at(2);
    const QString out = args.at(3);
    const bool japanese = args.contains(QStringLiteral("-j"));
    if (!scenes.contains(scene)) {
        err() << "unknown scene " << scene << "\n";
        return 2;
    }
    const auto is = [&scene](const char *name) { return scene == QLatin1String(name); };

    QTranslator translator;
    if (japanese && loadJapaneseTranslation(translator, QCoreApplication::applicationDirPath()))
        QCoreApplication::installTranslator(&translator);

    ScanFolder scans;
    QStringList first = phantom::headFiles(QDir(samples).filePath(QStringLiteral("head")));
    if (is("fit")) {
        first = filesIn(QDir(samples).filePath(QStringLiteral("ct")), QStringLiteral("*.dcm"));
    } else if (is("skipped")) {
        first = scans.make() ? skippedSceneFiles(samples, scans.path) : QStringList();
        if (first.isEmpty()) {
            err() << "cannot write the scan folder of the skipped scene\n";
            return 1;
        }
    }
    const QStringList vessels = phantom::vesselsFiles(QDir(samples).filePath(QStringLiteral("vessels")));

    CtView w(samples, nullptr);
    LoadCounter loads;
    loads.watch(w.sCtrls.first());
    loadSliceFilesAtStart(w, first);
    if (is("overlay")) {
        w.addSliceSet_->click();
        SliceDatas *set = &w.sCtrls.at(1)->sliceDatas;
        loads.watch(w.sCtrls.at(1));
        QMetaObject::invokeMethod(
            set, [set, vessels] { set->filesSelected(vessels); }, Qt::QueuedConnection);
    }

    w.move(0, 0);
    w.resize(is("follow") ? 1000 : 760, 1000);
    w.show();
    w.activateWindow();
    settle();
    if (is("side"))
        w.resize(w.width(), w.height() + w.dispA_->width() / 2 - w.dispA_->height());
    else if (!is("follow"))
        w.resize(w.width(), w.height() + w.dispA_->width() - w.dispA_->height());
    if (!loads.waitFor(int(w.sCtrls.size()))) {
        err() << "the sample sets did not load in time\n";
        return 1;
    }
    settle();

    SlicesCtrl *panel = w.sCtrls.first();
    QPixmap shot;
    if (is("turned") || is("overlay")) {
        // A panel added after the window was built learns the view normal only at
        // a turn. A short drag along the top edge turns the picture about the line
        // of sight, so the normal stays (0, 0, 1) and reaches the vessel panel too.
        if (is("overlay"))
            drag(w, QPointF(0.45, 0.05), QPointF(0.55, 0.05));
        // "Fix Dir." keeps the cut parallel to the slices while the view turns, so
        // its face is one whole slice; the link carries the switch and the slider
        // to every panel. At 5 the plane sits between two slices of either set.
        panel->csFixDir_->click();
        panel->cSlider_->setValue(5);
        for (SlicesCtrl *s : std::as_const(w.sCtrls))
            s->showCSection_->click();
        setPictureSize(w, 480, 480);
        wheel(w, is("overlay") ? 6 : 3);
        drag(w, QPointF(0.40, 0.60), QPointF(0.62, 0.44));
    } else if (is("fit")) {
        // A brain window, 0 to 100 HU: the brain and the small structures inside it
        // in three strengths; air and skull lie outside and are not drawn.
        setPictureSize(w, 480, 480);
        panel->setMinThV(0, false);
        panel->setMaxThV(100, false);
        drag(w, QPointF(0.40, 0.60), QPointF(0.60, 0.45));
        setSampling(w, 1);
        sideView(w);
    } else if (is("side")) {
        // A display and a picture twice as wide as tall, as the head seen from the
        // side is; the two samplings one above the other.
        setPictureSize(w, 480, 240);
        setSampling(w, 1);
        sideView(w);
        const QPixmap voxels = grabTop(w);
        setSampling(w, 0);
        const QPixmap slices = grabTop(w);
        const int gap = 12;
        QPixmap both(std::max(voxels.width(), slices.width()), voxels.height() + gap + slices.height());
        both.fill(Qt::white);
        QPainter p(&both);
        p.drawPixmap(0, 0, voxels);
        p.drawPixmap(0, voxels.height() + gap, slices);
        p.end();
        shot = both;
    } else if (is("follow")) {
        w.followWindow_->click();
        settle();
        w.fitView_->click();
    } else if (is("savefail")) {
        const QString target = QDir::rootPath() + QStringLiteral("no-such-folder/head.png");
        if (QFileInfo::exists(QFileInfo(target).path())) {
            err() << "the folder of " << target << " exists\n";
            return 1;
        }
        CtViewTestAccess::saveImage(w, target);
        settle();
        QRect area = w.frameGeometry();
        for (QWidget *top : QApplication::topLevelWidgets())
            if (top != &w && top->isVisible() && qobject_cast<QMessageBox *>(top))
                area |= top->frameGeometry();
        shot = grabScreen(area);
    } else if (is("skipped")) {
        // The panel, with the tool tip the skipped-files line shows under the pointer.
        QLabel *skipped = panel->skippedInfo_;
        const QPoint tipAt = skipped->mapToGlobal(QPoint(skipped->width() / 2, skipped->height() / 2));
        QToolTip::showText(tipAt, skipped->toolTip(), skipped);
        settle();
        // The tip is moved left within the window, as a screen edge would move it,
        // so that the picture holds nothing but the window.
        const int top = w.imageCtrl_->geometry().bottom() + 4;
        const QRect area(w.mapToGlobal(QPoint(0, top)), QSize(w.width(), w.height() - top));
        for (QWidget *tip : QApplication::topLevelWidgets())
            if (tip != &w && tip->isVisible() && tip->inherits("QTipLabel") && tip->geometry().right() > area.right())
                tip->move(area.right() - 12 - tip->width(), tip->y());
        settle();
        shot = grabScreen(area);
    }
    settle();

    if (shot.isNull())
        shot = w.grab();
    if (!save(shot, out))
        return 1;
    if (!controlsOut.isEmpty()) {
        const int top = w.imageCtrl_->geometry().top() - 4;
        if (!save(w.grab(QRect(0, top, w.width(), w.height() - top)), controlsOut))
            return 1;
    }
    return 0;
}
