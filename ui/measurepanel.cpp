#include "ui/measurepanel.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include <cmath>

// The values of a profile along its length, one line per set in the set's colour, with
// the ends of both axes written at the ends.
class ProfilePlot : public QWidget
{
public:
    explicit ProfilePlot(QWidget *parent) : QWidget(parent) { setMinimumSize(160, 90); }

    void setProfiles(const std::vector<std::vector<ProfilePoint>> &profiles, const std::vector<QColor> &colors,
                     const QString &unit)
    {
        profiles_ = profiles;
        colors_ = colors;
        unit_ = unit;
        update();
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter p(this);
        p.fillRect(rect(), Qt::white);
        double length = 0.0, lo = INFINITY, hi = -INFINITY;
        for (const auto &pr : profiles_)
            for (const ProfilePoint &pt : pr) {
                length = std::max(length, pt.distance);
                if (std::isfinite(pt.value)) {
                    lo = std::min(lo, pt.value);
                    hi = std::max(hi, pt.value);
                }
            }
        const QFontMetrics fm = p.fontMetrics();
        const QRectF plot = QRectF(rect()).adjusted(fm.horizontalAdvance(QStringLiteral("-8888.88")) + 4, 4, -6,
                                                    -fm.height() - 4);
        p.setPen(Qt::gray);
        p.drawRect(plot);
        if (!(hi >= lo) || !(length > 0.0))
            return;
        const double span = hi > lo ? hi - lo : 1.0;
        auto at = [&](const ProfilePoint &pt) {
            return QPointF(plot.left() + pt.distance / length * plot.width(),
                           plot.bottom() - (pt.value - lo) / span * plot.height());
        };
        p.setRenderHint(QPainter::Antialiasing, true);
        for (std::size_t i = 0; i < profiles_.size(); ++i) {
            p.setPen(QPen(i < colors_.size() ? colors_[i] : Qt::black, 1.5));
            QPolygonF run;
            for (const ProfilePoint &pt : profiles_[i]) {
                if (std::isfinite(pt.value)) {
                    run << at(pt);
                } else if (!run.isEmpty()) {
                    p.drawPolyline(run);
                    run.clear();
                }
            }
            p.drawPolyline(run);
        }
        p.setPen(Qt::black);
        const QString tail = unit_.isEmpty() ? QString() : QLatin1Char(' ') + unit_;
        p.drawText(QPointF(2, plot.top() + fm.ascent()), QString::number(hi, 'g', 6));
        p.drawText(QPointF(2, plot.bottom()), QString::number(lo, 'g', 6));
        p.drawText(QPointF(plot.left(), height() - 2), QStringLiteral("0") + tail);
        const QString end = QString::number(length, 'g', 4) + tail;
        p.drawText(QPointF(plot.right() - fm.horizontalAdvance(end), height() - 2), end);
    }

private:
    std::vector<std::vector<ProfilePoint>> profiles_;
    std::vector<QColor> colors_;
    QString unit_;
};

namespace {

QString number(double v)
{
    return QString::number(v, 'g', 6);
}

}  // namespace

MeasurePanel::MeasurePanel(QWidget *parent) : QFrame(parent)
{
    setObjectName(QStringLiteral("measurePanel_"));
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Maximum);
    tool_ = new QComboBox(this);
    tool_->setObjectName(QStringLiteral("measureTool_"));
    tool_->addItems({tr("Crosshair"), tr("Ruler"), tr("Profile"), tr("Rectangle"), tr("Ellipse")});
    tool_->setToolTip(tr("What a left drag in a slice view does"));
    table_ = new QTableWidget(0, 3, this);
    table_->setObjectName(QStringLiteral("measurements_"));
    table_->setHorizontalHeaderLabels({tr("Name"), tr("Kind"), tr("Figures")});
    table_->horizontalHeader()->setStretchLastSection(true);
    table_->verticalHeader()->hide();
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setSelectionMode(QAbstractItemView::SingleSelection);
    table_->setMaximumHeight(110);
    delete_ = new QPushButton(tr("Delete"), this);
    export_ = new QPushButton(tr("Export CSV…"), this);
    plot_ = new ProfilePlot(this);
    plot_->hide();

    auto *controls = new QVBoxLayout;
    controls->addWidget(new QLabel(tr("Measure"), this));
    controls->addWidget(tool_);
    controls->addWidget(delete_);
    controls->addWidget(export_);
    controls->addStretch(1);
    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->addLayout(controls);
    row->addWidget(table_, 3);
    row->addWidget(plot_, 2);

    connect(table_, &QTableWidget::currentCellChanged, this, [this](int r) {
        if (filling_)
            return;
        showProfile(r);
        emit selectionChanged(r);
    });
    connect(table_, &QTableWidget::cellChanged, this, [this](int r, int c) {
        if (!filling_ && c == 0)
            emit renamed(r, table_->item(r, 0)->text());
    });
    connect(delete_, &QPushButton::clicked, this, [this] {
        if (table_->currentRow() >= 0)
            emit deleteRequested(table_->currentRow());
    });
    connect(export_, &QPushButton::clicked, this, &MeasurePanel::exportRequested);
    connect(tool_, &QComboBox::currentIndexChanged, this, [this](int i) { emit toolChanged(i - 1); });
}

int MeasurePanel::tool() const
{
    return tool_->currentIndex() - 1;
}

int MeasurePanel::selected() const
{
    return table_->currentRow();
}

void MeasurePanel::select(int index)
{
    table_->setCurrentCell(index, 0);
}

void MeasurePanel::show(const std::vector<Measurement> &ms, const std::vector<SceneLayer> &layers,
                        const QString &unit)
{
    shown_ = ms;
    layers_ = layers;
    unit_ = unit;
    const int keep = table_->currentRow();
    filling_ = true;
    table_->setRowCount(int(ms.size()));
    const QString tail = unit.isEmpty() ? QString() : QLatin1Char(' ') + unit;
    const QStringList kinds{tr("Ruler"), tr("Profile"), tr("Rectangle"), tr("Ellipse")};
    for (int i = 0; i < int(ms.size()); ++i) {
        const Measurement &m = ms[size_t(i)];
        QStringList figures;
        if (m.kind == MeasureKind::Ruler || m.kind == MeasureKind::Profile) {
            figures << tr("length %1").arg(number(measureLength(m)) + tail);
        } else {
            for (std::size_t k = 0; k < layers.size(); ++k) {
                const RegionFigures f = measureRegion(m, layers[k]);
                figures << tr("set %1: %2 voxels, area %3, mean %4 ± %5, min %6, max %7")
                               .arg(k + 1)
                               .arg(f.count)
                               .arg(number(f.area) + (unit.isEmpty() ? QString() : QStringLiteral(" %1²").arg(unit)),
                                    number(f.mean), number(f.stdDev), number(f.min), number(f.max));
            }
        }
        auto *name = new QTableWidgetItem(m.name);
        auto *kind = new QTableWidgetItem(kinds.value(int(m.kind)));
        auto *fig = new QTableWidgetItem(figures.join(QStringLiteral("; ")));
        kind->setFlags(kind->flags() & ~Qt::ItemIsEditable);
        fig->setFlags(fig->flags() & ~Qt::ItemIsEditable);
        fig->setToolTip(figures.join(QLatin1Char('\n')));
        table_->setItem(i, 0, name);
        table_->setItem(i, 1, kind);
        table_->setItem(i, 2, fig);
    }
    filling_ = false;
    const int row = std::min(keep, int(ms.size()) - 1);
    table_->setCurrentCell(row, 0);
    showProfile(row);
}

void MeasurePanel::showProfile(int index)
{
    if (index < 0 || index >= int(shown_.size()) || shown_[size_t(index)].kind != MeasureKind::Profile) {
        plot_->hide();
        return;
    }
    std::vector<std::vector<ProfilePoint>> profiles;
    std::vector<QColor> colors;
    for (const SceneLayer &l : layers_) {
        profiles.push_back(measureProfile(shown_[size_t(index)], l));
        colors.push_back(l.vColor);
    }
    plot_->setProfiles(profiles, colors, unit_);
    plot_->show();
}
