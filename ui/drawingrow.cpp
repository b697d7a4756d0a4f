// The panel's row of drawing choices: colour map and gamma, what happens at the top
// of the window, window presets, the automatic window and the larger histogram.
#include "ui/slicesctrl.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QPushButton>
#include <QVBoxLayout>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QSignalBlocker>

#include <algorithm>

#include "render/colormap.h"
#include "render/windowchoice.h"
#include "ui/histogramview.h"

namespace {

QString colorMapName(ColorMap m)
{
    switch (m) {
    case ColorMap::WhiteRamp:
        return SlicesCtrl::tr("White to colour");
    case ColorMap::Grey:
        return SlicesCtrl::tr("Grey");
    case ColorMap::InvertedGrey:
        return SlicesCtrl::tr("Inverted grey");
    case ColorMap::Hot:
        return SlicesCtrl::tr("Hot");
    case ColorMap::Viridis:
        return SlicesCtrl::tr("Viridis");
    case ColorMap::Magma:
        return SlicesCtrl::tr("Magma");
    case ColorMap::Inferno:
        return SlicesCtrl::tr("Inferno");
    case ColorMap::Cividis:
        return SlicesCtrl::tr("Cividis");
    }
    return QString();
}

QString presetName(render::WindowPreset p)
{
    switch (p) {
    case render::WindowPreset::Brain:
        return SlicesCtrl::tr("Brain");
    case render::WindowPreset::SoftTissue:
        return SlicesCtrl::tr("Soft tissue");
    case render::WindowPreset::Bone:
        return SlicesCtrl::tr("Bone");
    case render::WindowPreset::Lung:
        return SlicesCtrl::tr("Lung");
    }
    return QString();
}

}  // namespace

void SlicesCtrl::makeDrawingRow()
{
    auto *box = new QFrame(slicesCtrlFrame_);
    box->setObjectName("drawingFrame_");
    auto *row = new QHBoxLayout(box);
    row->setContentsMargins(0, 0, 0, 0);

    projection_ = new QComboBox(box);
    projection_->setObjectName("projection_");
    projection_->addItem(tr("Maximum"), int(Projection::Maximum));
    projection_->addItem(tr("Minimum"), int(Projection::Minimum));
    projection_->addItem(tr("Mean"), int(Projection::Mean));
    projection_->addItem(tr("Composite"), int(Projection::Composite));
    projection_->setToolTip(tr("What each ray shows: the largest value in the window, the smallest or the mean value "
                               "of its samples, or its samples blended front to back (shape the opacity on the larger "
                               "histogram)"));
    row->addWidget(projection_);
    interpolation_ = new QComboBox(box);
    interpolation_->setObjectName("interpolation_");
    interpolation_->addItem(tr("Nearest"), int(Interpolation::Nearest));
    interpolation_->addItem(tr("Linear"), int(Interpolation::Linear));
    interpolation_->setToolTip(tr("How a sample between voxels takes its value: from the voxel it falls in, or "
                                  "trilinear between the voxels around it"));
    row->addWidget(interpolation_);

    auto *mapLabel = new QLabel(tr("Colours"), box);
    colorMap_ = new QComboBox(box);
    colorMap_->setObjectName("colorMap_");
    for (ColorMap m : render::colorMaps())
        colorMap_->addItem(colorMapName(m), int(m));
    colorMap_->setToolTip(tr("How the window's strengths become colours: the ramp from white to the volume colour, "
                             "or a fixed colour map"));
    mapLabel->setBuddy(colorMap_);
    auto *gammaLabel = new QLabel(tr("γ"), box);
    gamma_ = new QLineEdit(QStringLiteral("1"), box);
    gamma_->setObjectName("gamma_");
    gamma_->setMaximumWidth(fontMetrics().horizontalAdvance(QStringLiteral("88.888")) + 12);
    gamma_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    gamma_->setToolTip(tr("Gamma of the colours, %1 to %2: below 1 brightens weak values, above 1 darkens them")
                           .arg(render::minGamma)
                           .arg(render::maxGamma));
    gammaLabel->setBuddy(gamma_);

    row->addWidget(mapLabel);
    row->addWidget(colorMap_);
    row->addWidget(gammaLabel);
    row->addWidget(gamma_);

    auto *aboveLabel = new QLabel(tr("Top"), box);
    aboveTop_ = new QComboBox(box);
    aboveTop_->setObjectName("aboveTop_");
    aboveTop_->addItem(tr("Vanish"), int(AboveWindow::Vanish));
    aboveTop_->addItem(tr("Saturate"), int(AboveWindow::Saturate));
    aboveTop_->setToolTip(tr("Values at or above the top of the window: not drawn (Vanish), or drawn in the top "
                             "colour (Saturate)"));
    aboveLabel->setBuddy(aboveTop_);
    windowPreset_ = new QComboBox(box);
    windowPreset_->setObjectName("windowPreset_");
    windowPreset_->addItem(tr("Window…"));
    for (render::WindowPreset preset : render::windowPresets()) {
        const render::ValueWindow w = render::presetWindow(preset);
        windowPreset_->addItem(tr("%1 (%2 to %3 HU)").arg(presetName(preset)).arg(w.low).arg(w.high), int(preset));
    }
    windowPreset_->setToolTip(tr("Sets the window to a usual one for CT sets in Hounsfield units"));
    autoWindow_ = new QPushButton(tr("Auto"), box);
    autoWindow_->setObjectName("autoWindow_");
    autoWindow_->setToolTip(tr("Sets the window from 0.5 % to 99.5 % of the set's values"));
    bigHist_ = new QPushButton(tr("Histogram…"), box);
    bigHist_->setObjectName("bigHist_");
    bigHist_->setToolTip(tr("Shows the set's histogram larger, with an axis in the set's units"));
    row->addWidget(aboveLabel);
    row->addWidget(aboveTop_);
    row->addWidget(windowPreset_);
    row->addWidget(autoWindow_);
    row->addWidget(bigHist_);
    row->addStretch(1);
    gridLayout_2->addWidget(box, gridLayout_2->rowCount(), 0);

    connect(colorMap_, &QComboBox::currentIndexChanged, this, &SlicesCtrl::paintPImg);
    connect(gamma_, &QLineEdit::editingFinished, this, &SlicesCtrl::paintPImg);
    connect(aboveTop_, &QComboBox::currentIndexChanged, this, &SlicesCtrl::paintPImg);
    connect(projection_, &QComboBox::currentIndexChanged, this, &SlicesCtrl::paintPImg);
    connect(interpolation_, &QComboBox::currentIndexChanged, this, &SlicesCtrl::paintPImg);
    connect(windowPreset_, &QComboBox::activated, this, [this](int i) {
        if (i > 0)
            applyWindow(render::presetWindow(render::WindowPreset(windowPreset_->itemData(i).toInt())));
        const QSignalBlocker quiet(windowPreset_);
        windowPreset_->setCurrentIndex(0);
    });
    connect(autoWindow_, &QPushButton::clicked, this, &SlicesCtrl::setAutoWindow);
    connect(bigHist_, &QPushButton::clicked, this, &SlicesCtrl::showBigHistogram);
}

void SlicesCtrl::applyWindow(const render::ValueWindow &w)
{
    setMinThV(w.low, false);
    setMaxThV(w.high, false);
}

void SlicesCtrl::setAutoWindow()
{
    render::ValueWindow w;
    bool ok;
    {
        SliceDatas::ReadGuard guard(sliceDatas);
        ok = sliceDatas.loaded && render::autoWindow(sliceDatas, &w);
    }
    if (ok)
        applyWindow(w);
}

void SlicesCtrl::showBigHistogram()
{
    if (!histDialog) {
        histDialog = new QDialog(this);
        histDialog->setWindowTitle(tr("Histogram"));
        auto *layout = new QVBoxLayout(histDialog);
        histView = new HistogramView(this, histDialog);
        layout->addWidget(histView);
        connect(this, &SlicesCtrl::paintPImg, histView, qOverload<>(&QWidget::update));
        connect(logHist_, &QCheckBox::toggled, histView, qOverload<>(&QWidget::update));
    } else {
        histView->recount();
    }
    histDialog->show();
    histDialog->raise();
}

Interpolation SlicesCtrl::interpolation() const
{
    return Interpolation(interpolation_->currentData().toInt());
}

Projection SlicesCtrl::projection() const
{
    return Projection(projection_->currentData().toInt());
}

void SlicesCtrl::setOpacityCurve(const OpacityCurve &c)
{
    opacity_ = c;
    emit paintPImg();
}

AboveWindow SlicesCtrl::aboveWindow() const
{
    return AboveWindow(aboveTop_->currentData().toInt());
}

ColorMap SlicesCtrl::colorMap() const
{
    return ColorMap(colorMap_->currentData().toInt());
}

double SlicesCtrl::gamma() const
{
    return render::gammaOrOne(gamma_->text().toDouble());
}

void SlicesCtrl::showDrawing(const LayerSettings &s)
{
    const QSignalBlocker b1(colorMap_), b2(aboveTop_), b3(projection_), b4(interpolation_);
    interpolation_->setCurrentIndex(std::max(0, interpolation_->findData(int(s.interpolation))));
    projection_->setCurrentIndex(std::max(0, projection_->findData(int(s.projection))));
    opacity_ = s.opacity;
    aboveTop_->setCurrentIndex(std::max(0, aboveTop_->findData(int(s.above))));
    colorMap_->setCurrentIndex(std::max(0, colorMap_->findData(int(s.colorMap))));
    gamma_->setText(QString::number(render::gammaOrOne(s.gamma), 'g', 6));
}
