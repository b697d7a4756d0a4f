#include "ui/ctview.h"

#include <QTimer>

#include <QCloseEvent>
#include <QColorDialog>
#include <QDeadlineTimer>
#include <QFileDialog>
#include <QImageWriter>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QShortcut>
#include <QSignalBlocker>
#include <QScrollBar>
#include <QToolButton>

#include <algorithm>

#include "app/cfgstore.h"
#include "data/setspace.h"
#include "render/renderer.h"
#include "ui/slicesctrl.h"
#include "widgets/dispa.h"

namespace {
const int vecMetaTypeId = qRegisterMetaType<Vec3>("Vec3");
}

CtView::CtView(QString dataRoot_, QWidget *parent) : QFrame(parent)
{
    Q_UNUSED(vecMetaTypeId);
    pImg = QImage();
    for (const QByteArray &name : QImageWriter::supportedImageFormats())
        imgFormats.append(QString::fromUtf8(name).toLower());

    setupUi(this);
    makeSliceViews();

    dataRoot = dataRoot_;
    saveDir = dataRoot_;
    saveDialog = nullptr;
    dispCoord = &dispA_->coord;
    dispMouse = &dispA_->mouse;
    lastX = lastY = 0.0;
    dragMode = 2;
    rotKind = 0;

    nativeDialog = cfg.get("native_dialog", "0").toInt(nullptr, 10) == 1;
    coarseDrag_ = cfg.get("coarse_drag", "1").trimmed() != QLatin1String("0");
    renderer_ = std::make_unique<render::Renderer>();
    space_ = std::make_shared<SetSpace>();
    refineTimer_ = new QTimer(this);
    refineTimer_->setSingleShot(true);
    refineTimer_->setInterval(150);
    refineWatcher_ = new QFutureWatcher<QImage>(this);
    connect(refineTimer_, &QTimer::timeout, this, &CtView::startRefinement);
    connect(refineWatcher_, &QFutureWatcher<QImage>::finished, this, &CtView::refinementDone);
    connect(renderer_.get(), &render::Renderer::chunksArrived, this, [this] {
        // What is in memory changes as chunks come in and others are dropped.
        for (SlicesCtrl *s : sCtrls)
            s->showDrawnLevel();
        // A view still moving is drawn once it stops; one still being drawn, again after.
        if (!refineTimer_->isActive())
            startRefinement();
    });

    saveImage_->setToolTip(tr("Supported File Types are : %1\n and also SVG.").arg(imgFormats.join(' ')));
    const QString sizeTip = tr("Width and height of the picture in pixels; small sizes turn quickly");
    imgPixWidth_->setToolTip(sizeTip);
    imgPixHeight_->setToolTip(sizeTip);
    for (QLineEdit *field : {imgPixWidth_, imgPixHeight_})
        field->setMinimumWidth(fontMetrics().horizontalAdvance(QStringLiteral("88888")) + 16);
    addSliceSet_->setToolTip(tr("Adds a panel for another slice set, drawn over the ones before it"));
    linkCSection_->setToolTip(tr("Moves the cross-section of every set together"));
    about_->setToolTip(tr("Version, Qt version and licences"));
    auto *backgroundLabel = new QLabel(tr("Background"), imageCtrl_);
    background_ = new QComboBox(imageCtrl_);
    background_->setObjectName("background_");
    background_->addItem(tr("White"), QColor(255, 255, 255));
    background_->addItem(tr("Black"), QColor(0, 0, 0));
    background_->setToolTip(tr("The colour the sets are drawn over, on screen and in saved pictures"));
    backgroundLabel->setBuddy(background_);
    viewOptionsLayout_->insertWidget(viewOptionsLayout_->count() - 1, backgroundLabel);
    viewOptionsLayout_->insertWidget(viewOptionsLayout_->count() - 1, background_);
    auto *saveScaleLabel = new QLabel(tr("Save at"), imageCtrl_);
    saveScale_ = new QComboBox(imageCtrl_);
    saveScale_->setObjectName("saveScale_");
    for (int n : {1, 2, 4})
        saveScale_->addItem(tr("%1 × pixels").arg(n), n);
    saveScale_->setToolTip(tr("Save Image writes the picture shown at this many times its pixels: the same view, "
                              "sharper"));
    saveScaleLabel->setBuddy(saveScale_);
    viewOptionsLayout_->insertWidget(viewOptionsLayout_->count() - 1, saveScaleLabel);
    viewOptionsLayout_->insertWidget(viewOptionsLayout_->count() - 1, saveScale_);
    scaleBar_ = new QCheckBox(tr("Scale bar"), imageCtrl_);
    scaleBar_->setObjectName("scaleBar_");
    scaleBar_->setToolTip(tr("A bar of a round length in the files' unit, in the picture and every saved picture"));
    orientation_ = new QCheckBox(tr("Directions"), imageCtrl_);
    orientation_->setObjectName("orientation_");
    orientation_->setToolTip(tr("The directions at the picture's edges: the patient's (R, L, A, P, S, I) where a "
                                "DICOM series gives them, else the volume's axes"));
    colorBar_ = new QCheckBox(tr("Colour bar"), imageCtrl_);
    colorBar_->setObjectName("colorBar_");
    colorBar_->setToolTip(tr("A colour bar per shown set with its window's ends in the set's units"));
    for (QCheckBox *box : {scaleBar_, orientation_, colorBar_}) {
        viewOptionsLayout_->insertWidget(viewOptionsLayout_->count() - 1, box);
        connect(box, &QCheckBox::toggled, this, &CtView::paintPImg);
    }

    scale = 1.0;
    nx = Vec3{1.0, 0.0, 0.0};
    ny = Vec3{0.0, 1.0, 0.0};
    nz = Vec3{0.0, 0.0, 1.0};
    center = Vec3{0.0, 0.0, 0.0};

    addSliceSet();
    emit initNz(nz);
    slicesCtrls_->installEventFilter(this);
    fitPanelColumn();

    connect(addSliceSet_, &QPushButton::clicked, this, &CtView::addSliceSet);
    connect(dispA_, &DispA::drawImage2, this, &CtView::draw);
    connect(dispMouse, &MouseC::mPressed, this, &CtView::mousePressedOnDataDisp);
    connect(dispMouse, &MouseC::mMoved, this, &CtView::mouseMovedOnDataDisp);
    connect(dispMouse, &MouseC::mReleased, this, &CtView::mouseReleasedOnDataDisp);
    connect(dispMouse, &MouseC::wMoved, this, &CtView::wheelMovedOnDataDisp);
    connect(saveImage_, &QPushButton::clicked, this, &CtView::showSaveImageD);
    connect(saveSession_, &QPushButton::clicked, this, &CtView::showSaveSessionD);
    connect(openSession_, &QPushButton::clicked, this, &CtView::showOpenSessionD);
    connect(fitView_, &QPushButton::clicked, this, &CtView::fitView);
    connect(sampling_, &QComboBox::currentIndexChanged, this, &CtView::paintPImg);
    connect(background_, &QComboBox::currentIndexChanged, this, &CtView::paintPImg);
    // A size typed in is the size drawn and saved: typing stops the picture from
    // following the window, and Enter draws at the typed size.
    for (QLineEdit *field : {imgPixWidth_, imgPixHeight_}) {
        connect(field, &QLineEdit::textEdited, this, [this] { followWindow_->setChecked(false); });
        connect(field, &QLineEdit::editingFinished, this, &CtView::paintPImg);
    }
    connect(followWindow_, &QCheckBox::toggled, this, &CtView::followWindowSize);
    dispA_->installEventFilter(this);
    dispA_->setAcceptDrops(true);
    dispA_->setFocusPolicy(Qt::StrongFocus);
    auto key = [this](QKeySequence seq, auto slot, QWidget *on = nullptr) {
        auto *sc = new QShortcut(seq, on ? on : this);
        if (on)
            sc->setContext(Qt::WidgetShortcut);
        connect(sc, &QShortcut::activated, this, slot);
    };
    key(QKeySequence(Qt::Key_F), &CtView::fitView);
    key(QKeySequence(Qt::SHIFT | Qt::Key_F), &CtView::fitView);
    key(QKeySequence(Qt::Key_Home), &CtView::fitView, dispA_);
    key(QKeySequence(Qt::SHIFT | Qt::Key_Home), &CtView::fitView, dispA_);
    key(QKeySequence(Qt::Key_1), [this]() { lookAlong(0); });
    // From the side or above, "Slices" would show only the slices' edges.
    key(QKeySequence(Qt::Key_2), [this]() { lookFromSide(1); });
    key(QKeySequence(Qt::Key_3), [this]() { lookFromSide(2); });
    key(QKeySequence(Qt::CTRL | Qt::Key_0), &CtView::resetView);
    key(QKeySequence(Qt::CTRL | Qt::Key_S), &CtView::showSaveImageD);
    key(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S), &CtView::showSaveSessionD);
    key(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_O), &CtView::showOpenSessionD);
    connect(about_, &QPushButton::clicked, this, &CtView::showAboutD);
}

CtView::~CtView()
{
    // A picture still being written is finished, not cut off, before the sets go.
    finishSaves();
    finishRefinement();
    // Each panel stops and joins its loader thread in its own destructor.
    qDeleteAll(sCtrls);
    sCtrls.clear();
    delete saveDialog;
    delete sessionDialog;
    delete sessionMessage;
    delete saveMessage;
}

void CtView::addSliceSet()
{
    const int n = setsMade_++;
    auto *s = new SlicesCtrl(dataRoot, this);
    s->sliceDatas.setSpace(space_);
    static const QColor vColors[3] = {QColor(0, 127, 127), QColor(127, 0, 127), QColor(127, 127, 0)};
    static const QColor sColors[3] = {QColor(127, 0, 0), QColor(0, 127, 0), QColor(0, 0, 127)};
    s->setVColor(vColors[n % 3]);
    s->setSColor(sColors[n % 3]);
    s->setSetupNo(n + 1);
    if (n > 0)
        s->setAlpha(128);

    connect(s, &SlicesCtrl::paintPImg, this, [this, s]() {
        if (!sessionLoads_.contains(s))
            paintPImg();
    });
    connect(s, &SlicesCtrl::changedSliderStat, this, &CtView::changedSliderStat);
    connect(this, &CtView::initNz, s, &SlicesCtrl::initNz);
    connect(this, &CtView::newNz, s, &SlicesCtrl::newNz);
    if (n > 0) {
        s->closeB_->show();
        connect(s->closeB_, &QToolButton::clicked, this, [this, s] { removeSliceSet(s); });
    }

    // Files dropped on the panel load into it; a finished load may fit the view.
    s->installEventFilter(this);
    s->setAcceptDrops(true);
    connect(&s->sliceDatas, &SliceDatas::loadFilesFinished, this, [this]() {
        // A session being opened restores its own view instead.
        if (fitOnLoad_->isChecked() && sessionLoads_.isEmpty())
            fitView();
    });

    slicesCtrlsLayout_->addWidget(s, n, 0);
    sCtrls.append(s);
}

void CtView::removeSliceSet(SlicesCtrl *s)
{
    if (!detachSliceSet(s))
        return;
    // A session being opened no longer waits for this panel's load.
    const bool lastLoad = sessionLoads_.remove(s) && sessionLoads_.isEmpty();
    paintPImg();
    if (lastLoad)
        emit sessionOpened();
}

bool CtView::detachSliceSet(SlicesCtrl *s)
{
    const qsizetype i = sCtrls.indexOf(s);
    if (i <= 0)
        return false;
    finishSaves();
    finishRefinement();
    sCtrls.removeAt(i);
    disconnect(s, nullptr, this, nullptr);
    disconnect(this, nullptr, s, nullptr);
    slicesCtrlsLayout_->removeWidget(s);
    s->hide();
    for (QWidget *dialog : {static_cast<QWidget *>(s->fileDialog), static_cast<QWidget *>(s->vColorDialog),
                            static_cast<QWidget *>(s->sColorDialog)}) {
        if (dialog)
            dialog->close();
    }
    // Selections still queued are dropped with the thread's event loop.
    connect(&s->loaderThread, &QThread::finished, s, &QObject::deleteLater);
    s->loaderThread.requestInterruption();
    s->loaderThread.quit();
    if (s->loaderThread.isFinished())
        s->deleteLater();
    return true;
}

bool CtView::stopLoaders(int msecs)
{
    // Panels being removed are still in the window until their loaders end.
    const QList<SlicesCtrl *> panels = findChildren<SlicesCtrl *>();
    for (SlicesCtrl *s : panels) {
        s->loaderThread.requestInterruption();
        s->loaderThread.quit();
    }
    const QDeadlineTimer deadline(msecs);
    bool allEnded = true;
    for (SlicesCtrl *s : panels)
        allEnded = s->loaderThread.wait(deadline) && allEnded;
    return allEnded;
}

void CtView::fitPanelColumn()
{
    const int contentHeight = slicesCtrls_->sizeHint().height();
    const int firstHeight = sCtrls.isEmpty() ? 0 : sCtrls.first()->sizeHint().height();
    const int frame = 2 * slicesScroll_->frameWidth();
    slicesScroll_->setMaximumHeight(contentHeight + frame);
    slicesScroll_->setMinimumHeight(std::min(contentHeight, firstHeight) + frame);
    // Panels are never cut at the side: the column is at least as wide as they need,
    // with room for the scroll bar.
    slicesScroll_->setMinimumWidth(slicesCtrls_->minimumSizeHint().width() + frame
                                   + slicesScroll_->verticalScrollBar()->sizeHint().width());
}

Overlays CtView::overlays() const
{
    Overlays o;
    o.scaleBar = scaleBar_->isChecked();
    o.orientation = orientation_->isChecked();
    o.colorBar = colorBar_->isChecked();
    return o;
}

void CtView::setOverlays(const Overlays &o)
{
    const QSignalBlocker b1(scaleBar_), b2(orientation_), b3(colorBar_);
    scaleBar_->setChecked(o.scaleBar);
    orientation_->setChecked(o.orientation);
    colorBar_->setChecked(o.colorBar);
}

int CtView::saveScale() const
{
    return saveScale_->currentData().toInt();
}

QColor CtView::backgroundColor() const
{
    return background_->currentData().value<QColor>();
}

// A colour other than those offered is added to the list, so a session's is kept.
void CtView::setBackgroundColor(const QColor &c)
{
    int i = background_->findData(c);
    if (i < 0) {
        background_->addItem(c.name(QColor::HexRgb), c);
        i = background_->count() - 1;
    }
    background_->setCurrentIndex(i);
}

int CtView::imgPixWidth() const
{
    return imgPixWidth_->text().toInt(nullptr, 10);
}

int CtView::imgPixHeight() const
{
    return imgPixHeight_->text().toInt(nullptr, 10);
}

void CtView::changedSliderStat()
{
    if (linkCSection_->isChecked()) {
        auto *q = qobject_cast<SlicesCtrl *>(sender());
        if (q) {
            const int v = q->cSlider_->value();
            const bool f = q->csFixDir_->isChecked();
            // Setting another panel re-enters this slot with that panel as the
            // sender; values are written only where they differ, so it ends.
            for (SlicesCtrl *s : std::as_const(sCtrls)) {
                if (s == q)
                    continue;
                if (s->cSlider_->value() != v)
                    s->cSlider_->setValue(v);
                if (s->csFixDir_->isChecked() != f)
                    s->csFixDir_->setChecked(f);
            }
        }
    }
    paintPImg();
}

void CtView::closeEvent(QCloseEvent *e)
{
    Q_UNUSED(e);
    emit finishing();
}

void loadSliceFilesAtStart(CtView &w, const QStringList &files)
{
    if (files.isEmpty() || w.sCtrls.isEmpty())
        return;
    SliceDatas *set = &w.sCtrls.first()->sliceDatas;
    // Queued by name, so Qt copies the list into the call itself and no state of ours
    // (such as a lambda's captured copy) is handed to the loader thread behind Qt's
    // queue, where the thread sanitizer cannot see the ordering.
    QMetaObject::invokeMethod(set, "filesSelected", Qt::QueuedConnection, Q_ARG(QStringList, files));
}
