#include "ui/slicesctrl.h"

#include <QColorDialog>
#include <QDir>
#include <QFileDialog>
#include <QGridLayout>
#include <QPixmap>
#include <QToolButton>

#include <algorithm>
#include <cmath>

#include "app/cfgstore.h"
#include "data/nativename.h"
#include "widgets/chcoord.h"
#include "widgets/exlabel.h"
#include "widgets/mousec.h"

namespace {
// Every number written into a field carries at most six significant digits.
QString fieldText(double x)
{
    return QString::number(x, 'g', 6);
}

QPixmap colorSwatch(const QColor &col)
{
    QPixmap pm(15, 27);
    pm.fill(col);
    return pm;
}
} // namespace

SlicesCtrl::SlicesCtrl(QString dataRoot_, QWidget *parent) : QFrame(parent)
{
    csNz = Vec3{0.0, 0.0, 0.0};

    setupUi(this);

    closeB_ = new QToolButton(this);
    closeB_->setObjectName(QStringLiteral("closeB_"));
    closeB_->setText(QStringLiteral("\u00d7")); // a multiplication sign, the usual close cross
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

    setVColor(QColor(0, 127, 127));
    setSColor(QColor(127, 0, 0));

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
    for (QLineEdit *edit : {rMinV_, rMaxV_, minTh_, maxTh_, minThPC_, maxThPC_})
        connect(edit, &QLineEdit::textEdited, this, [this, edit] { written_.remove(edit); });
    connect(alpha_, &QLineEdit::editingFinished, this, &SlicesCtrl::fixupAlpha);
    connect(alpha_, &QLineEdit::editingFinished, this, &SlicesCtrl::paintPImg);
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

double SlicesCtrl::rMinV() const
{
    return fieldValue(rMinV_);
}

double SlicesCtrl::rMaxV() const
{
    return fieldValue(rMaxV_);
}

double SlicesCtrl::minThV() const
{
    return fieldValue(minTh_);
}

double SlicesCtrl::maxThV() const
{
    return fieldValue(maxTh_);
}

double SlicesCtrl::minThPC() const
{
    return fieldValue(minThPC_);
}

double SlicesCtrl::maxThPC() const
{
    return fieldValue(maxThPC_);
}

void SlicesCtrl::writeField(QLineEdit *edit, double x)
{
    const QString text = fieldText(x);
    edit->setText(text);
    written_.insert(edit, WrittenNumber{text, x});
}

double SlicesCtrl::fieldValue(const QLineEdit *edit) const
{
    const QString text = edit->text();
    const auto it = written_.constFind(edit);
    if (it != written_.cend() && it->text == text)
        return it->value;
    return text.toDouble();
}

// Clamped here and not only on Enter: a value typed but not yet entered is read by
// every redraw (the wheel on the picture, another panel's change).
int SlicesCtrl::alpha() const
{
    return std::clamp(alpha_->text().toInt(nullptr, 10), 0, 255);
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

void SlicesCtrl::setAlpha(int a)
{
    alpha_->setText(QString::number(a, 10));
    fixupAlpha();
}

// Near the ends of the double range (values such as -1e308 and 1e308) the span or
// its product with the percentage overflows; the sum is then worked in halves, so
// that 0 % and 100 % still give the range's ends and no infinity turns into a NaN.
double SlicesCtrl::valueFromPercent(double pc) const
{
    const double low = rMinV();
    const double high = rMaxV();
    const double scaled = (high - low) * pc;
    if (std::isfinite(scaled) || !std::isfinite(low) || !std::isfinite(high) || !std::isfinite(pc))
        return scaled / 100 + low;
    const double halfStep = (high / 2 - low / 2) * (pc / 100);
    return low + halfStep + halfStep;
}

double SlicesCtrl::percentFromValue(double v) const
{
    const double low = rMinV();
    const double high = rMaxV();
    const double offset = v - low;
    const double span = high - low;
    if ((std::isfinite(offset) && std::isfinite(span)) || !std::isfinite(low) || !std::isfinite(high) ||
        !std::isfinite(v))
        return offset / span * 100;
    return (v / 2 - low / 2) / (high / 2 - low / 2) * 100;
}

void SlicesCtrl::setMinThPC(double pc, bool quiet)
{
    writeField(minThPC_, pc);
    minThPC_->setCursorPosition(0);
    dispH_->update();
    if (!quiet)
        setMinThV(valueFromPercent(minThPC()), true);
    emit paintPImg();
    dispH_->update();
}

void SlicesCtrl::setMaxThPC(double pc, bool quiet)
{
    writeField(maxThPC_, pc);
    maxThPC_->setCursorPosition(0);
    dispH_->update();
    if (!quiet)
        setMaxThV(valueFromPercent(maxThPC()), true);
    emit paintPImg();
    dispH_->update();
}

void SlicesCtrl::setMinThV(double v, bool quiet)
{
    writeField(minTh_, v);
    minTh_->setCursorPosition(0);
    if (!quiet)
        setMinThPC(percentFromValue(minThV()), true);
    emit paintPImg();
    dispH_->update();
}

void SlicesCtrl::setMaxThV(double v, bool quiet)
{
    writeField(maxTh_, v);
    maxTh_->setCursorPosition(0);
    if (!quiet)
        setMaxThPC(percentFromValue(maxThV()), true);
    emit paintPImg();
    dispH_->update();
}

void SlicesCtrl::setRMinV(double x)
{
    writeField(rMinV_, x);
}

void SlicesCtrl::setRMaxV(double x)
{
    writeField(rMaxV_, x);
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

// Negative opacities become 0, 256 and more become 255; text that is not an
// integer stays as typed and reads as 0.
void SlicesCtrl::fixupAlpha()
{
    const int typed = alpha_->text().toInt(nullptr, 10);
    if (typed < 0)
        alpha_->setText("0");
    if (typed >= 256)
        alpha_->setText("255");
}

void SlicesCtrl::updatedMinThPC()
{
    setMinThV(valueFromPercent(minThPC()), true);
}

void SlicesCtrl::updatedMaxThPC()
{
    setMaxThV(valueFromPercent(maxThPC()), true);
}

void SlicesCtrl::updatedMinTh()
{
    setMinThPC(percentFromValue(minThV()), true);
}

void SlicesCtrl::updatedMaxTh()
{
    setMaxThPC(percentFromValue(maxThV()), true);
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
    fileDialog->setNameFilters({tr("Data Files (*.dat *.png)"), tr("Any Files (* *.*)")});
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
}

// Emits paintPImg five times after a successful load (twice per threshold pair,
// once at the end). A load that accepted no file leaves the range and threshold
// fields as they were - the set's range is then +-DBL_MAX and would turn both
// percent fields into "nan" - but still repaints the histogram (which keeps
// the previous one, if any) and asks for one redraw. The fields show six digits,
// but hold the set's exact range behind them (see fieldValue), so a range such as
// 1e6 + 0.25 .. 1e6 + 0.75 derives its thresholds right. A percentage that is not
// a finite number (typed, or from a typed empty range) starts over at 0 or 100.
void SlicesCtrl::noticedLoadFilesFinished()
{
    bool loaded = false;
    double lowV = 0.0;
    double highV = 0.0;
    {
        SliceDatas::ReadGuard g(sliceDatas);
        loaded = sliceDatas.loaded;
        lowV = sliceDatas.minV;
        highV = sliceDatas.maxV;
    }
    if (loaded && std::isfinite(lowV) && std::isfinite(highV)) {
        if (!std::isfinite(minThPC()))
            writeField(minThPC_, 0.0);
        if (!std::isfinite(maxThPC()))
            writeField(maxThPC_, 100.0);
        setRMinV(lowV);
        setRMaxV(highV);
        setMinThV(valueFromPercent(minThPC()), false);
        setMaxThV(valueFromPercent(maxThPC()), false);
    }
    dispH_->update();
    emit paintPImg();
}

void SlicesCtrl::datasCleared()
{
    nameList_->clear();
}
