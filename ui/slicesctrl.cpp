#include "ui/slicesctrl.h"

#include <QColorDialog>
#include <QDir>
#include <QFileDialog>
#include <QGridLayout>
#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QProgressBar>
#include <QPushButton>
#include <QToolButton>

#include <algorithm>

#include "app/cfgstore.h"
#include "data/nativename.h"
#include "ui/histogramview.h"
#include "widgets/chcoord.h"
#include "widgets/exlabel.h"
#include "widgets/mousec.h"

namespace {
QPixmap colorSwatch(const QColor &col)
{
    QPixmap pm(15, 27);
    pm.fill(col);
    return pm;
}
}  // namespace

SlicesCtrl::SlicesCtrl(QString dataRoot_, QWidget *parent) : QFrame(parent)
{
    csNz = Vec3{0.0, 0.0, 0.0};

    setupUi(this);

    closeB_ = new QToolButton(this);
    closeB_->setObjectName(QStringLiteral("closeB_"));
    closeB_->setText(QStringLiteral("\u00d7"));  // a multiplication sign, the usual close cross
    closeB_->setAutoRaise(true);
    closeB_->setFixedSize(18, 18);
    // Every panel keeps the button's room, shown or not, so the panels line up.
    QSizePolicy keepRoom = closeB_->sizePolicy();
    keepRoom.setRetainSizeWhenHidden(true);
    closeB_->setSizePolicy(keepRoom);
    closeB_->setToolTip(tr("Remove this slice set"));
    closeB_->setAccessibleName(tr("Remove this slice set"));
    closeB_->hide();
    if (auto *grid = qobject_cast<QGridLayout *>(layout()))
        grid->addWidget(closeB_, 0, grid->columnCount(), Qt::AlignTop | Qt::AlignRight);

    showB_->setChecked(true);
    showB2_->setChecked(true);
    showB_->setVisible(!showB_->isChecked());
    slicesCtrlFrame_->setVisible(showB_->isChecked());

    dataRoot = dataRoot_;
    histMouse = &dispH_->mouse;
    histCoord = &dispH_->coord;
    dragLine = -1;
    fileDialog = nullptr;
    vColorDialog = nullptr;
    sColorDialog = nullptr;

    nativeDialog = cfg.get("native_dialog", "0").toInt(nullptr, 10) == 1;
    // The memory one load may give its slices, in megabytes; absent, 0 or not a
    // number: half of the physical memory.
    const qint64 budgetMb = cfg.get("slice_memory_mb", "0").toLongLong(nullptr, 10);
    if (budgetMb > 0)
        sliceDatas.setMemoryBudget(std::min<qint64>(budgetMb, qint64(1) << 43) << 20);

    setVColor(QColor(0, 127, 127));
    setSColor(QColor(127, 0, 0));
    makeSetInfo();
    makeOpenFolder();
    makeDrawingRow();
    explainControls();

    sliceDatas.moveToThread(&loaderThread);
    loaderThread.start(QThread::InheritPriority);

    connect(showB_, &QCheckBox::toggled, this, &SlicesCtrl::showHide);
    connect(showB2_, &QCheckBox::toggled, this, &SlicesCtrl::showHide);
    connect(selectB_, &QPushButton::clicked, this, &SlicesCtrl::selectFiles);
    connect(&sliceDatas, &SliceDatas::loadedNewFile, this, &SlicesCtrl::noticedLoadedNewFile);
    connect(&sliceDatas, &SliceDatas::loadFilesFinished, this, &SlicesCtrl::noticedLoadFilesFinished);
    connect(&sliceDatas, &SliceDatas::cleared, this, &SlicesCtrl::datasCleared);
    connect(minTh_, &QLineEdit::editingFinished, this, &SlicesCtrl::updatedMinTh);
    connect(maxTh_, &QLineEdit::editingFinished, this, &SlicesCtrl::updatedMaxTh);
    connect(minThPC_, &QLineEdit::editingFinished, this, &SlicesCtrl::updatedMinThPC);
    connect(maxThPC_, &QLineEdit::editingFinished, this, &SlicesCtrl::updatedMaxThPC);
    connect(dispH_, &ExLabel::draw, this, &SlicesCtrl::drawHist);
    connect(histMouse, &MouseC::mPressed, this, &SlicesCtrl::mousePressedOnDispH);
    connect(histMouse, &MouseC::mMoved, this, &SlicesCtrl::mouseMovedOnDispH);
    connect(histMouse, &MouseC::mReleased, this, &SlicesCtrl::mouseReleasedOnDispH);
    connect(showVolume_, &QCheckBox::toggled, this, &SlicesCtrl::paintPImg);
    connect(showCSection_, &QCheckBox::toggled, this, &SlicesCtrl::paintPImg);
    connect(showFrame_, &QCheckBox::toggled, this, &SlicesCtrl::paintPImg);
    connect(cSlider_, &QSlider::valueChanged, this, &SlicesCtrl::changedSliderStat);
    connect(csFixDir_, &QCheckBox::toggled, this, &SlicesCtrl::changedSliderStat);
    connect(selVColor_, &QPushButton::clicked, this, &SlicesCtrl::selectVColor);
    connect(selSColor_, &QPushButton::clicked, this, &SlicesCtrl::selectSColor);
    // A number the user types is taken as typed, even when it reads as the one written.
    for (QLineEdit *edit : {rMinV_, rMaxV_, minTh_, maxTh_, minThPC_, maxThPC_, spacingX_, spacingY_, spacingZ_})
        connect(edit, &QLineEdit::textEdited, this, [this, edit] { written_.remove(edit); });
    connect(alpha_, &QLineEdit::editingFinished, this, &SlicesCtrl::fixupAlpha);
    connect(alpha_, &QLineEdit::editingFinished, this, &SlicesCtrl::paintPImg);
    connect(&progressTimer, &QTimer::timeout, this, &SlicesCtrl::pollLoadProgress);
    connect(cancelLoad_, &QPushButton::clicked, this, &SlicesCtrl::cancelLoading);
    for (QLineEdit *field : {spacingX_, spacingY_, spacingZ_}) {
        connect(field, &QLineEdit::editingFinished, this, &SlicesCtrl::updateSetInfo);
        connect(field, &QLineEdit::editingFinished, this, &SlicesCtrl::paintPImg);
    }
}

void SlicesCtrl::explainControls()
{
    const QString showTip = tr("Folds or unfolds this panel");
    showB_->setToolTip(showTip);
    showB2_->setToolTip(showTip);
    showVolume_->setToolTip(tr("Draws the set's maximum-intensity projection"));
    showCSection_->setToolTip(
        tr("Cuts the set at the cross-section plane and shows the cut face in the section colour"));
    showFrame_->setToolTip(tr("Draws the set's bounding box"));
    rMinV_->setToolTip(tr("The value at 0 % of the colour scale (the set's smallest value after a load)"));
    rMaxV_->setToolTip(tr("The value at 100 % of the colour scale (the set's largest value after a load)"));
    minTh_->setToolTip(tr("Lower end of the display window, in data units; smaller values are not drawn"));
    maxTh_->setToolTip(tr("Upper end of the display window, in data units; larger values are not drawn"));
    minThPC_->setToolTip(tr("Lower end of the display window, in percent of the colour scale"));
    maxThPC_->setToolTip(tr("Upper end of the display window, in percent of the colour scale"));
    dispH_->setToolTip(tr("Histogram of the set's values; drag a red line to move a window end"));
    cSlider_->setToolTip(tr("Position of the cross-section plane, from one end of the set to the other"));
    csFixDir_->setToolTip(tr("Keeps the cross-section plane's direction when the view turns"));
    selectB_->setToolTip(tr("Chooses the slice files of this set, in stack order"));
    nameList_->setToolTip(tr("The files of the set in stack order"));
    selVColor_->setToolTip(tr("Colour of the projection"));
    selSColor_->setToolTip(tr("Colour of the cut face"));
    alpha_->setToolTip(tr("Opacity of the set: 0 transparent to 255 opaque"));
    // Six significant digits with sign and point ("-1234.57") stay readable; the
    // histogram keeps room to be read beside them.
    const int digits = fontMetrics().horizontalAdvance(QStringLiteral("-8888.88")) + 12;
    for (QLineEdit *field : {rMinV_, minTh_, maxTh_, rMaxV_})
        field->setMinimumWidth(digits);
    const int percent = fontMetrics().horizontalAdvance(QStringLiteral("88.8888")) + 12;
    for (QLineEdit *field : {minThPC_, maxThPC_})
        field->setMinimumWidth(percent);
    dispH_->setMinimumWidth(160);
}

// A running load is asked to stop after its current file, so closing the window
// never waits for a long list of files; selections still queued are dropped with
// the thread's event loop. The set and its slices go after the thread has ended.
SlicesCtrl::~SlicesCtrl()
{
    loaderThread.requestInterruption();
    loaderThread.quit();
    loaderThread.wait();
}

QStringList SlicesCtrl::acceptedFiles() const
{
    SliceDatas::ReadGuard guard(sliceDatas);
    return sliceDatas.acceptedFiles;
}

void SlicesCtrl::setVColor(QColor col)
{
    vColor = col;
    dispVColor_->setPixmap(colorSwatch(col));
}

void SlicesCtrl::setSColor(QColor col)
{
    sColor = col;
    dispSColor_->setPixmap(colorSwatch(col));
}

void SlicesCtrl::setSetupNo(int n)
{
    const QString caption = tr("Show Setup %1").arg(n);
    showB_->setText(caption);
    showB2_->setText(caption);
}

void SlicesCtrl::initNz(Vec3 nz)
{
    csNz = nz;
}

void SlicesCtrl::newNz(Vec3 nz)
{
    if (!csFixDir_->isChecked())
        csNz = nz;
}

// Folding: the panel shrinks to the unchecked showB_; checking it unfolds.
void SlicesCtrl::showHide(bool f)
{
    showB_->setChecked(f);
    showB2_->setChecked(f);
    showB_->setVisible(!showB_->isChecked());
    slicesCtrlFrame_->setVisible(showB_->isChecked());
}

// The chosen files are queued to the loader thread; the dialog stays open
// beside the window and the next one starts where this one was left.
void SlicesCtrl::selectFiles()
{
    if (fileDialog) {
        dataRoot = fileDialog->directory().absolutePath();
        fileDialog->deleteLater();
    }
    fileDialog = new QFileDialog(this, QString(), QString(), QString());
    fileDialog->setAcceptMode(QFileDialog::AcceptOpen);
    fileDialog->setFileMode(QFileDialog::ExistingFiles);
    fileDialog->setDirectory(dataRoot);
    fileDialog->setNameFilters(sliceFileFilters());
    fileDialog->setWindowTitle(tr("Select Data Files"));
    if (!nativeDialog)
        fileDialog->setOption(QFileDialog::DontUseNativeDialog, true);
    connect(fileDialog, &QFileDialog::filesSelected, &sliceDatas, &SliceDatas::filesSelected);
    fileDialog->show();
}

void SlicesCtrl::selectVColor()
{
    if (vColorDialog)
        vColorDialog->deleteLater();
    vColorDialog = new QColorDialog(this);
    QColorDialog *dialog = vColorDialog;
    dialog->setCurrentColor(vColor);
    dialog->setWindowTitle(tr("Select Volume Color"));
    connect(dialog, &QColorDialog::colorSelected, this, [this, dialog]() {
        setVColor(dialog->selectedColor());
        emit paintPImg();
    });
    dialog->show();
}

void SlicesCtrl::selectSColor()
{
    if (sColorDialog)
        sColorDialog->deleteLater();
    sColorDialog = new QColorDialog(this);
    QColorDialog *dialog = sColorDialog;
    dialog->setCurrentColor(sColor);
    dialog->setWindowTitle(tr("Select Section Color"));
    connect(dialog, &QColorDialog::colorSelected, this, [this, dialog]() {
        setSColor(dialog->selectedColor());
        emit paintPImg();
    });
    dialog->show();
}

// The list shows the name on one line, with control characters and bytes that are
// not UTF-8 escaped; the item keeps the name itself as its data.
void SlicesCtrl::noticedLoadedNewFile(QString fname)
{
    nameList_->addItem(nativename::displayName(fname), fname);
    listedFiles.append(fname);
}

// Emits paintPImg five times after a successful load (twice per threshold pair,
// once at the end). A load that accepted no file leaves the range and threshold
// fields as they were - the set's range is then +-DBL_MAX and would turn both
// percent fields into "nan" - but still repaints the histogram (which keeps
// the previous one, if any) and asks for one redraw. What a load resets is
// settingsAfterLoad's rule; the fields show six digits, but hold the set's exact
// range behind them (see fieldValue), so a range such as 1e6 + 0.25 .. 1e6 + 0.75
// derives its thresholds right.
void SlicesCtrl::noticedLoadFilesFinished()
{
    QStringList stacked;
    QList<SkippedFile> skipped;
    LoadOutcome outcome;
    {
        SliceDatas::ReadGuard g(sliceDatas);
        outcome = loadOutcomeOf(sliceDatas);
        stacked = sliceDatas.acceptedFiles;
        skipped = sliceDatas.skipped;
        sliceCount = int(sliceDatas.slices.size());
        sliceWidth = sliceDatas.width;
        sliceHeight = sliceDatas.height;
        stacking = sliceDatas.stacking;
        if (sliceDatas.loaded) {
            spacingUnit = sliceDatas.spacingUnit;
            volumeCount = sliceDatas.volume.volumes;
            levelsShown = sliceDatas.volume;
            streamShown = sliceDatas.stream;
        }
    }
    const LayerSettings next = settingsAfterLoad(settings(), outcome);
    progressTimer.stop();
    loadProgress_->setVisible(false);
    cancelLoad_->setVisible(false);
    // A DICOM series is stacked by slice position: list the files in stack order; and
    // the list shows only what the set holds in the end.
    if (stacked != listedFiles) {
        nameList_->clear();
        listedFiles.clear();
        for (const QString &f : std::as_const(stacked))
            noticedLoadedNewFile(f);
    }
    showSkipped(skipped);
    hasSlices = outcome.loaded;
    if (outcome.loaded)
        setSpacing(next.spacing);
    else
        updateSetInfo();
    if (loadSetsWindow(outcome)) {
        setRMinV(next.rangeMin);
        setRMaxV(next.rangeMax);
        // Each setter derives its percentage again, as the rule does.
        setMinThV(next.minTh, false);
        setMaxThV(next.maxTh, false);
    }
    dispH_->update();
    if (histView)
        histView->recount();
    emit paintPImg();
}

void SlicesCtrl::datasCleared()
{
    nameList_->clear();
    listedFiles.clear();
    progressTimer.start();
}
