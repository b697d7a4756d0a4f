// The window's slice views, its crosshair and the read-out under the pointer.
#include "ui/ctview.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QMessageBox>
#include <QSaveFile>
#include <QGridLayout>
#include <QLabel>
#include <QMouseEvent>

#include "data/slicedatas.h"
#include "render/picking.h"
#include "ui/measurepanel.h"
#include "ui/slicesctrl.h"
#include "ui/sliceviewwidget.h"
#include "widgets/dispa.h"

namespace {

// A number in a read-out: six significant digits, as the fields show them.
QString readoutNumber(double v)
{
    return QString::number(v, 'g', 6);
}

QString triple(double a, double b, double c)
{
    return QStringLiteral("%1, %2, %3").arg(readoutNumber(a), readoutNumber(b), readoutNumber(c));
}

}  // namespace

void CtView::makeSliceViews()
{
    viewArea_ = new QWidget(this);
    viewArea_->setObjectName(QStringLiteral("viewArea_"));
    viewArea_->setSizePolicy(dispA_->sizePolicy());
    auto *grid = new QGridLayout(viewArea_);
    grid->setContentsMargins(0, 0, 0, 0);
    grid->setSpacing(2);
    gridLayout->removeWidget(dispA_);
    grid->addWidget(dispA_, 0, 0);
    const SliceAxis axes[3] = {SliceAxis::Stack, SliceAxis::Columns, SliceAxis::Rows};
    const char *names[3] = {"sliceStack_", "sliceColumns_", "sliceRows_"};
    const QPoint places[3] = {QPoint(1, 0), QPoint(0, 1), QPoint(1, 1)};
    for (int i = 0; i < 3; ++i) {
        sliceViews_[i] = new SliceViewWidget(axes[i], viewArea_);
        sliceViews_[i]->setObjectName(QLatin1String(names[i]));
        sliceViews_[i]->hide();
        grid->addWidget(sliceViews_[i], places[i].y(), places[i].x());
        connect(sliceViews_[i], &SliceViewWidget::crosshairMoved, this, &CtView::setCrosshair);
        connect(sliceViews_[i], &SliceViewWidget::pointerAt, this, &CtView::showReadout);
        connect(sliceViews_[i], &SliceViewWidget::measured, this, &CtView::addMeasurement);
    }
    measurePanel_ = new MeasurePanel(viewArea_);
    measurePanel_->hide();
    grid->addWidget(measurePanel_, 3, 0, 1, 2);
    connect(measurePanel_, &MeasurePanel::toolChanged, this, [this](int tool) {
        for (SliceViewWidget *v : sliceViews_)
            v->setTool(tool);
    });
    connect(measurePanel_, &MeasurePanel::selectionChanged, this, [this] { refreshMeasurements(false); });
    connect(measurePanel_, &MeasurePanel::renamed, this, [this](int i, const QString &name) {
        if (i >= 0 && i < int(measurements_.size()))
            measurements_[size_t(i)].name = name;
        refreshMeasurements(false);
    });
    connect(measurePanel_, &MeasurePanel::deleteRequested, this, [this](int i) {
        if (i >= 0 && i < int(measurements_.size()))
            measurements_.erase(measurements_.begin() + i);
        refreshMeasurements(true);
    });
    connect(measurePanel_, &MeasurePanel::exportRequested, this, [this] {
        delete csvDialog;
        csvDialog = new QFileDialog(this, tr("Export Measurements"), saveDir, tr("CSV files (*.csv)"));
        csvDialog->setAcceptMode(QFileDialog::AcceptSave);
        csvDialog->setDefaultSuffix(QStringLiteral("csv"));
        if (!nativeDialog)
            csvDialog->setOption(QFileDialog::DontUseNativeDialog, true);
        connect(csvDialog, &QFileDialog::fileSelected, this, &CtView::exportMeasurements);
        csvDialog->show();
    });
    readout_ = new QLabel(viewArea_);
    readout_->setObjectName(QStringLiteral("readout_"));
    readout_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    readout_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    grid->addWidget(readout_, 2, 0, 1, 2);
    gridLayout->addWidget(viewArea_, 0, 0);
    // The views keep every height the panel column does not need, as the picture alone did.
    gridLayout->setRowStretch(0, 1);

    auto *viewsLabel = new QLabel(tr("Views"), imageCtrl_);
    views_ = new QComboBox(imageCtrl_);
    views_->setObjectName(QStringLiteral("views_"));
    views_->addItems({tr("3D"), tr("3D + slices"), tr("Along the stack"), tr("Across columns"), tr("Across rows")});
    views_->setToolTip(tr("The picture alone, the picture with three slice views, or one slice view"));
    showCrosshair_ = new QCheckBox(tr("Crosshair"), imageCtrl_);
    showCrosshair_->setObjectName(QStringLiteral("showCrosshair_"));
    showCrosshair_->setChecked(true);
    showCrosshair_->setToolTip(tr("Marks the slice views' crosshair on the picture"));
    viewOptionsLayout_->addWidget(viewsLabel);
    viewOptionsLayout_->addWidget(views_);
    viewOptionsLayout_->addWidget(showCrosshair_);
    connect(views_, &QComboBox::currentIndexChanged, this,
            [this](int i) { setViewsLayout(static_cast<ViewsLayout>(i)); });
    connect(showCrosshair_, &QCheckBox::toggled, dispA_, qOverload<>(&QWidget::update));
    dispA_->setMouseTracking(true);
}

ViewsLayout CtView::viewsLayout() const
{
    return static_cast<ViewsLayout>(views_->currentIndex());
}

void CtView::setViewsLayout(ViewsLayout layout)
{
    if (views_->currentIndex() != int(layout)) {
        views_->setCurrentIndex(int(layout));  // comes back here
        return;
    }
    const bool all = layout == ViewsLayout::PictureAndSlices;
    measurePanel_->setVisible(layout != ViewsLayout::Picture);
    dispA_->setVisible(layout == ViewsLayout::Picture || all);
    sliceViews_[0]->setVisible(all || layout == ViewsLayout::Stack);
    sliceViews_[1]->setVisible(all || layout == ViewsLayout::Columns);
    sliceViews_[2]->setVisible(all || layout == ViewsLayout::Rows);
    updateSliceViews();
    dispA_->update();
}

void CtView::updateSliceViews()
{
    if (views_ == nullptr || viewsLayout() == ViewsLayout::Picture)
        return;
    std::vector<SceneLayer> layers;
    for (const SlicesCtrl *s : std::as_const(sCtrls))
        layers.push_back(layerOf(s));
    for (SliceViewWidget *v : sliceViews_) {
        if (v->isHidden())
            continue;
        v->setCrosshair(crosshair_);
        v->setLayers(layers);
    }
    refreshMeasurements(false);
}

void CtView::setMeasurements(const std::vector<Measurement> &ms)
{
    measurements_ = ms;
    measuresMade_ = int(ms.size());
    refreshMeasurements(true);
}

void CtView::addMeasurement(Measurement m)
{
    const QStringList kinds{tr("Ruler"), tr("Profile"), tr("Rectangle"), tr("Ellipse")};
    m.name = tr("%1 %2").arg(kinds.value(int(m.kind))).arg(++measuresMade_);
    measurements_.push_back(m);
    refreshMeasurements(true);
    measurePanel_->select(int(measurements_.size()) - 1);
}

void CtView::refreshMeasurements(bool recount)
{
    if (measurePanel_ == nullptr)
        return;
    std::vector<SceneLayer> layers;
    std::vector<std::pair<const void *, quint64>> sets;
    QString unit;
    for (const SlicesCtrl *s : std::as_const(sCtrls)) {
        layers.push_back(layerOf(s));
        SliceDatas::ReadGuard guard(s->sliceDatas);
        sets.emplace_back(&s->sliceDatas, s->sliceDatas.generation);
        if (unit.isEmpty() && s->sliceDatas.loaded)
            unit = s->sliceDatas.spacingUnit;
    }
    if (recount || sets != measuredSets_) {
        measuredSets_ = sets;
        measurePanel_->show(measurements_, layers, unit);
    }
    for (SliceViewWidget *v : sliceViews_)
        v->setMeasurements(measurements_, measurePanel_->selected(), unit);
}

void CtView::exportMeasurements(const QString &fname)
{
    std::vector<SceneLayer> layers;
    for (const SlicesCtrl *s : std::as_const(sCtrls))
        layers.push_back(layerOf(s));
    const QByteArray csv = measurementsCsv(measurements_, layers);
    QSaveFile f(fname);
    if (!f.open(QIODevice::WriteOnly) || f.write(csv) != csv.size() || !f.flush() || !f.commit()) {
        const QString why = f.errorString();
        auto *box = new QMessageBox(QMessageBox::Warning, tr("Export Measurements"),
                                    tr("The measurements could not be saved to %1:\n%2").arg(fname, why), QMessageBox::Ok, this);
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->setModal(false);
        box->show();
    }
}

void CtView::setCrosshair(const Vec3 &p)
{
    crosshair_ = p;
    for (SliceViewWidget *v : sliceViews_)
        if (!v->isHidden())
            v->setCrosshair(p);
    dispA_->update();
}

void CtView::showReadout(const Vec3 &p, bool inside)
{
    if (!inside) {
        readout_->clear();
        return;
    }
    QStringList parts{tr("at %1").arg(triple(p.x, p.y, p.z))};
    for (qsizetype i = 0; i < sCtrls.size(); ++i) {
        const SceneLayer layer = layerOf(sCtrls[i]);
        if (!layer.showVolume)
            continue;
        SliceDatas::ReadGuard guard(*layer.set);
        if (layer.set->slices.empty())
            continue;
        const std::optional<VoxelAt> v = voxelAt(layer, p);
        parts << (v ? tr("set %1 [%2, %3, %4] %5")
                          .arg(i + 1)
                          .arg(v->column)
                          .arg(v->row)
                          .arg(v->slice)
                          .arg(readoutNumber(v->value))
                    : tr("set %1 no value").arg(i + 1));
    }
    readout_->setText(parts.join(QStringLiteral(" · ")));
}

void CtView::showPickReadout(int c, int r)
{
    const Scene sc = scene(pImg.width(), pImg.height());
    const std::vector<std::optional<VoxelAt>> picks = render::pickPixel(sc, c, r);
    QStringList parts{tr("pixel %1, %2").arg(c).arg(r)};
    for (std::size_t i = 0; i < picks.size(); ++i) {
        if (!sc.layers[i].showVolume)
            continue;
        const std::optional<VoxelAt> &v = picks[i];
        parts << (v ? tr("set %1 [%2, %3, %4] at %5: %6")
                          .arg(i + 1)
                          .arg(v->column)
                          .arg(v->row)
                          .arg(v->slice)
                          .arg(triple(v->position.x, v->position.y, v->position.z), readoutNumber(v->value))
                    : tr("set %1 no value").arg(i + 1));
    }
    readout_->setText(parts.join(QStringLiteral(" · ")));
}

bool CtView::pickAt(int c, int r)
{
    const std::vector<std::optional<VoxelAt>> picks = render::pickPixel(scene(pImg.width(), pImg.height()), c, r);
    for (const std::optional<VoxelAt> &v : picks) {
        if (v) {
            setCrosshair(v->position);
            return true;
        }
    }
    return false;
}

void CtView::drawCrosshairMarker(QPainter *p)
{
    if (!showCrosshair_->isChecked() || viewsLayout() == ViewsLayout::Picture || pImg.isNull())
        return;
    const SceneView v = view();
    const double dx = crosshair_.x - v.center.x, dy = crosshair_.y - v.center.y, dz = crosshair_.z - v.center.z;
    const double c = (dx * v.nx.x + dy * v.nx.y + dz * v.nx.z) / v.scale + pImg.width() / 2.0 + 0.5;
    const double r = (dx * v.ny.x + dy * v.ny.y + dz * v.ny.z) / v.scale + pImg.height() / 2.0 + 0.5;
    const QPointF at(c * dispA_->width() / pImg.width(), r * dispA_->height() / pImg.height());
    p->setPen(QPen(QColor(255, 160, 0), 2));
    p->drawLine(at - QPointF(7, 0), at + QPointF(7, 0));
    p->drawLine(at - QPointF(0, 7), at + QPointF(0, 7));
}
