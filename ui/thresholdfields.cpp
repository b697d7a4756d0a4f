// The panel's number fields: the range, the window in data units and in percent, the
// opacity, and the settings value read from and shown in them.
#include "ui/slicesctrl.h"

#include <QLineEdit>
#include <QSignalBlocker>

#include <algorithm>

#include "render/scene.h"

QString SlicesCtrl::fieldText(double x)
{
    return QString::number(x, 'g', 6);
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

LayerSettings SlicesCtrl::settings() const
{
    LayerSettings s;
    s.rangeMin = rMinV();
    s.rangeMax = rMaxV();
    s.minTh = minThV();
    s.maxTh = maxThV();
    s.minPC = minThPC();
    s.maxPC = maxThPC();
    s.vColor = vColor;
    s.sColor = sColor;
    s.alpha = alpha();
    s.showVolume = showVolume_->isChecked();
    s.showFrame = showFrame_->isChecked();
    s.showCSection = showCSection_->isChecked();
    s.cutPos = cSlider_->value();
    s.csNz = csNz;
    s.fixDir = csFixDir_->isChecked();
    s.spacing = spacing();
    s.colorMap = colorMap();
    s.gamma = gamma();
    s.above = aboveWindow();
    s.projection = projection();
    s.interpolation = interpolation();
    s.opacity = opacity_;
    return s;
}

void SlicesCtrl::setSettings(const LayerSettings &s)
{
    {
        const QSignalBlocker b1(showVolume_), b2(showFrame_), b3(showCSection_), b4(cSlider_), b5(csFixDir_);
        showVolume_->setChecked(s.showVolume);
        showFrame_->setChecked(s.showFrame);
        showCSection_->setChecked(s.showCSection);
        cSlider_->setValue(s.cutPos);
        csFixDir_->setChecked(s.fixDir);
    }
    setVColor(s.vColor);
    setSColor(s.sColor);
    setAlpha(s.alpha);
    csNz = s.csNz;
    writeField(rMinV_, s.rangeMin);
    writeField(rMaxV_, s.rangeMax);
    writeField(minTh_, s.minTh);
    writeField(maxTh_, s.maxTh);
    writeField(minThPC_, s.minPC);
    writeField(maxThPC_, s.maxPC);
    writeField(spacingX_, s.spacing.x);
    writeField(spacingY_, s.spacing.y);
    writeField(spacingZ_, s.spacing.z);
    // Six digits from their start, whatever the field's width.
    for (QLineEdit *field : {rMinV_, rMaxV_, minTh_, maxTh_, minThPC_, maxThPC_, spacingX_, spacingY_, spacingZ_})
        field->setCursorPosition(0);
    showDrawing(s);
    updateSetInfo();
    dispH_->update();
}

void SlicesCtrl::setAlpha(int a)
{
    alpha_->setText(QString::number(a, 10));
    fixupAlpha();
}

double SlicesCtrl::valueFromPercent(double pc) const
{
    return render::valueFromPercent(rMinV(), rMaxV(), pc);
}

double SlicesCtrl::percentFromValue(double v) const
{
    return render::percentFromValue(rMinV(), rMaxV(), v);
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
