#include "ui/ctview.h"

#include <QMouseEvent>

#include <QCollator>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QMimeData>
#include <QSignalBlocker>
#include <QSettings>
#include <QUrl>

#include <algorithm>
#include <cmath>

#include "data/folderscan.h"
#include "data/rawvolume.h"
#include "data/slicedatas.h"
#include "ui/slicesctrl.h"
#include "widgets/dispa.h"

namespace {

// The local files (and addresses) of a drop, in natural order (slice_2 before slice_10), since a
// file manager hands a selection over in no useful order.
QStringList droppedFiles(const QMimeData *mime)
{
    QStringList files;
    if (mime == nullptr || !mime->hasUrls())
        return files;
    for (const QUrl &url : mime->urls()) {
        // An address is an OME-Zarr image, read as one set.
        const QString scheme = url.scheme().toLower();
        if (scheme == QLatin1String("http") || scheme == QLatin1String("https")) {
            files.append(url.toString());
            continue;
        }
        if (!url.isLocalFile())
            continue;
        const QFileInfo fi(url.toLocalFile());
        // A dropped folder gives its slice files, as "Open Folder…" does.
        if (fi.isDir())
            files.append(filesInFolder(fi.absoluteFilePath()));
        else if (fi.isFile())
            files.append(url.toLocalFile());
    }
    QCollator natural;
    natural.setNumericMode(true);
    std::stable_sort(files.begin(), files.end(),
                     [&natural](const QString &a, const QString &b) { return natural.compare(a, b) < 0; });
    return files;
}

}  // namespace

void CtView::setDirection(const Vec3 &x, const Vec3 &y, const Vec3 &z)
{
    nx = x;
    ny = y;
    nz = z;
    emit newNz(nz);
}

// The direction of view is kept: only zoom and pan change.
void CtView::fitView()
{
    const int w = imgPixWidth();
    const int h = imgPixHeight();
    const SceneView v = render::fitted(scene(w, h), w, h);
    center = v.center;
    scale = v.scale;
    paintPImg();
}

void CtView::lookFromSide(int side)
{
    {
        const QSignalBlocker quiet(sampling_);
        sampling_->setCurrentIndex(1);
    }
    lookAlong(side);
}

void CtView::lookAlong(int side)
{
    switch (side) {
    case 1:  // from the side: the stack runs up the picture
        setDirection(Vec3{0.0, 1.0, 0.0}, Vec3{0.0, 0.0, -1.0}, Vec3{-1.0, 0.0, 0.0});
        break;
    case 2:  // from above: rows run up the picture
        setDirection(Vec3{1.0, 0.0, 0.0}, Vec3{0.0, 0.0, -1.0}, Vec3{0.0, 1.0, 0.0});
        break;
    default: {  // along the stack, as at start
        const SceneView start;
        setDirection(start.nx, start.ny, start.nz);
        break;
    }
    }
    const int w = imgPixWidth();
    const int h = imgPixHeight();
    const SceneView v = render::fitted(scene(w, h), w, h);
    center = v.center;
    scale = v.scale;
    paintPImg();
}

void CtView::resetView()
{
    const SceneView start;
    setDirection(start.nx, start.ny, start.nz);
    center = Vec3{};
    scale = 1.0;
    paintPImg();
}

void CtView::followWindowSize()
{
    if (!followWindow_->isChecked())
        return;
    const double ratio = dispA_->devicePixelRatioF();
    const int w = std::max(1, int(std::lround(dispA_->width() * ratio)));
    const int h = std::max(1, int(std::lround(dispA_->height() * ratio)));
    if (imgPixWidth() == w && imgPixHeight() == h && pImg.width() == w && pImg.height() == h)
        return;
    imgPixWidth_->setText(QString::number(w));
    imgPixHeight_->setText(QString::number(h));
    paintPImg();
}

bool CtView::eventFilter(QObject *watched, QEvent *e)
{
    if (watched == slicesCtrls_ && e->type() == QEvent::LayoutRequest) {
        fitPanelColumn();
    } else if (watched == dispA_ && e->type() == QEvent::Resize) {
        followWindowSize();
    } else if (watched == dispA_ && !pImg.isNull() && dispA_->width() > 0 && dispA_->height() > 0
               && (e->type() == QEvent::MouseMove || e->type() == QEvent::MouseButtonDblClick)) {
        // Hovering reads the voxel under the pointer; a double click moves the crosshair
        // there. Neither reaches the display's mouse relay (a turn needs a button held).
        auto *m = static_cast<QMouseEvent *>(e);
        if (e->type() == QEvent::MouseMove && m->buttons() != Qt::NoButton)
            return QFrame::eventFilter(watched, e);
        const int c = int(m->position().x() * pImg.width() / dispA_->width());
        const int r = int(m->position().y() * pImg.height() / dispA_->height());
        if (e->type() == QEvent::MouseButtonDblClick)
            pickAt(c, r);
        showPickReadout(c, r);
        return true;
    } else if (watched == dispA_ && e->type() == QEvent::Leave) {
        readout_->clear();
    } else if (e->type() == QEvent::DragEnter || e->type() == QEvent::Drop) {
        // Files dropped on a panel load there; on the picture, into the first panel.
        SlicesCtrl *target = nullptr;
        if (watched == dispA_)
            target = sCtrls.value(0);
        else
            target = qobject_cast<SlicesCtrl *>(watched);
        auto *drop = static_cast<QDropEvent *>(e);
        const QStringList files = droppedFiles(drop->mimeData());
        if (target == nullptr || files.isEmpty())
            return QFrame::eventFilter(watched, e);
        drop->acceptProposedAction();
        if (e->type() == QEvent::Drop)
            QMetaObject::invokeMethod(&target->sliceDatas, "filesSelected", Qt::QueuedConnection,
                                      Q_ARG(QStringList, files));
        return true;
    }
    return QFrame::eventFilter(watched, e);
}

void CtView::restoreSettings(const QSettings &settings, bool foldersFromSettings)
{
    if (settings.contains("window/geometry"))
        restoreGeometry(settings.value("window/geometry").toByteArray());
    const int w = settings.value("picture/width", 0).toInt();
    const int h = settings.value("picture/height", 0).toInt();
    if (render::pictureSizeOk(w, h)) {
        imgPixWidth_->setText(QString::number(w));
        imgPixHeight_->setText(QString::number(h));
    }
    sampling_->setCurrentIndex(std::clamp(settings.value("view/sampling", 0).toInt(), 0, 1));
    fitOnLoad_->setChecked(settings.value("view/fitOnLoad", false).toBool());
    followWindow_->setChecked(settings.value("view/followWindow", false).toBool());
    setViewsLayout(static_cast<ViewsLayout>(std::clamp(settings.value("view/layout", 0).toInt(), 0, 4)));
    // What each raw file was imported as, so that it loads again by its name alone
    // (from the command line, a drop or a session).
    const int raws = settings.value("rawImports/size", 0).toInt();
    for (int i = 1; i <= raws; ++i) {
        const QString key = QStringLiteral("rawImports/%1/").arg(i);
        RawDescription d;
        const QString file = settings.value(key + "file").toString();
        if (!file.isEmpty() && parseRawDescription(settings.value(key + "description").toString(), d))
            rawimport::remember(file, d);
    }
    if (foldersFromSettings) {
        const QString saveFolder = settings.value("folders/save").toString();
        if (!saveFolder.isEmpty() && QFileInfo(saveFolder).isDir())
            saveDir = saveFolder;
        const QString sliceFolder = settings.value("folders/slices").toString();
        if (!sliceFolder.isEmpty() && QFileInfo(sliceFolder).isDir())
            for (SlicesCtrl *s : std::as_const(sCtrls))
                s->dataRoot = sliceFolder;
    }
}

void CtView::storeSettings(QSettings &settings) const
{
    settings.setValue("window/geometry", saveGeometry());
    settings.setValue("picture/width", imgPixWidth());
    settings.setValue("picture/height", imgPixHeight());
    settings.setValue("view/sampling", sampling_->currentIndex());
    settings.setValue("view/fitOnLoad", fitOnLoad_->isChecked());
    settings.setValue("view/followWindow", followWindow_->isChecked());
    settings.setValue("view/layout", int(viewsLayout()));
    settings.setValue("folders/save", saveDir);
    if (!sCtrls.isEmpty())
        settings.setValue("folders/slices", sCtrls.first()->dataRoot);
    // Written as QSettings writes an array, so file names need no escaping as keys.
    const auto raws = rawimport::remembered();
    settings.remove("rawImports");
    for (qsizetype i = 0; i < raws.size(); ++i) {
        const QString key = QStringLiteral("rawImports/%1/").arg(i + 1);
        settings.setValue(key + "file", raws.at(i).first);
        settings.setValue(key + "description", rawDescriptionText(raws.at(i).second));
    }
    settings.setValue("rawImports/size", raws.size());
}
