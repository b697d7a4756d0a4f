#include "ui/sliceviewwidget.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

#include "data/slicedatas.h"

namespace {

// The axis letter of the view's depth, for its line of text.
QString depthName(SliceAxis a)
{
    return a == SliceAxis::Stack ? QStringLiteral("z") : a == SliceAxis::Columns ? QStringLiteral("x")
                                                                                  : QStringLiteral("y");
}

// What a slice view draws of a layer: the same for two layers means the same pixels
// (a turn of the picture, say, changes none of it).
bool sameDrawing(const std::vector<SceneLayer> &a, const std::vector<SceneLayer> &b,
                 const std::vector<quint64> &generations)
{
    if (a.size() != b.size() || generations.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const SceneLayer &x = a[i], &y = b[i];
        quint64 generation = 0;
        if (y.set) {
            SliceDatas::ReadGuard guard(*y.set);
            generation = y.set->generation;
        }
        if (x.set != y.set || generation != generations[i] || x.minTh != y.minTh || x.maxTh != y.maxTh
            || x.vColor != y.vColor || x.alpha != y.alpha || x.showVolume != y.showVolume
            || x.spacing.x != y.spacing.x || x.spacing.y != y.spacing.y || x.spacing.z != y.spacing.z)
            return false;
    }
    return true;
}

}  // namespace

SliceViewWidget::SliceViewWidget(SliceAxis axis, QWidget *parent) : QWidget(parent)
{
    state_.axis = axis;
    setFocusPolicy(Qt::StrongFocus);
    setMouseTracking(true);
    setMinimumSize(64, 64);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
}

void SliceViewWidget::setZoomAndPan(double scale, const QPointF &center)
{
    if (!(scale > 0.0) || !std::isfinite(scale))
        return;
    state_.scale = scale;
    state_.center = center;
    fitted_ = true;
    redraw();
}

void SliceViewWidget::setLayers(const std::vector<SceneLayer> &layers)
{
    if (fitted_ && !picture_.isNull() && sameDrawing(layers_, layers, generations_))
        return;
    layers_ = layers;
    generations_.clear();
    for (const SceneLayer &l : layers_) {
        quint64 generation = 0;
        if (l.set) {
            SliceDatas::ReadGuard guard(*l.set);
            generation = l.set->generation;
        }
        generations_.push_back(generation);
    }
    if (!fitted_) {
        bool any = false;
        for (const SceneLayer &l : layers_) {
            if (l.set == nullptr)
                continue;
            SliceDatas::ReadGuard guard(*l.set);
            any = any || !l.set->slices.empty();
        }
        if (any) {
            fit();
            return;
        }
    }
    redraw();
}

void SliceViewWidget::setCrosshair(const Vec3 &p)
{
    crosshair_ = p;
    const double depth = planeDepth(state_.axis, p);
    if (depth != state_.depth) {
        state_.depth = depth;
        redraw();
    } else {
        update();
    }
}

void SliceViewWidget::setMeasurements(const std::vector<Measurement> &ms, int selected, const QString &unit)
{
    measurements_ = ms;
    selected_ = selected;
    unit_ = unit;
    update();
}

void SliceViewWidget::fit()
{
    const SliceViewState f = fittedSliceView(layers_, state_.axis, state_.depth, width(), height());
    state_.scale = f.scale;
    state_.center = f.center;
    fitted_ = true;
    redraw();
}

void SliceViewWidget::redraw()
{
    picture_ = drawSliceView(layers_, state_, width(), height());
    update();
}

QString SliceViewWidget::planeText() const
{
    for (const SceneLayer &l : layers_) {
        if (l.set == nullptr)
            continue;
        int count = 0;
        QString unit;
        int index = -1;
        {
            SliceDatas::ReadGuard guard(*l.set);
            if (l.set->slices.empty())
                continue;
            index = planeIndex(l, state_.axis, state_.depth, &count);
            unit = l.set->spacingUnit;
        }
        const QString at = QString::number(state_.depth, 'g', 6) + (unit.isEmpty() ? QString() : QLatin1Char(' ') + unit);
        if (index < 0)
            return tr("Outside the set · %1 = %2").arg(depthName(state_.axis), at);
        return tr("Slice %1 of %2 · %3 = %4").arg(index + 1).arg(count).arg(depthName(state_.axis), at);
    }
    return QString();
}

void SliceViewWidget::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    if (picture_.isNull())
        p.fillRect(rect(), Qt::white);
    else
        p.drawImage(0, 0, picture_);
    const QPointF c = planeToPixel(state_, width(), height(), planePoint(state_.axis, crosshair_));
    p.setPen(QPen(QColor(255, 160, 0), 1));
    p.drawLine(QPointF(c.x(), 0), QPointF(c.x(), height()));
    p.drawLine(QPointF(0, c.y()), QPointF(width(), c.y()));
    drawMeasurements(p, state_, width(), height(), measurements_, layers_, selected_, unit_);
    if (drag_ == 3)
        drawMeasurements(p, state_, width(), height(), {drawing_}, layers_, 0, unit_);
    const QString text = planeText();
    if (!text.isEmpty()) {
        const QRect box = p.fontMetrics().boundingRect(text).adjusted(-3, -2, 3, 2).translated(6, 6 + p.fontMetrics().ascent());
        p.fillRect(box, QColor(255, 255, 255, 200));
        p.setPen(Qt::black);
        p.drawText(box, Qt::AlignCenter, text);
    }
    if (hasFocus()) {
        p.setPen(QPen(palette().highlight(), 1));
        p.drawRect(rect().adjusted(0, 0, -1, -1));
    }
}

void SliceViewWidget::resizeEvent(QResizeEvent *)
{
    if (fitted_)
        redraw();
}

Vec3 SliceViewWidget::pointAt(const QPointF &pixel) const
{
    return spacePoint(state_.axis, pixelToPlane(state_, width(), height(), pixel.x() - 0.5, pixel.y() - 0.5),
                      state_.depth);
}

void SliceViewWidget::mousePressEvent(QMouseEvent *e)
{
    lastPos_ = e->position().toPoint();
    if (e->button() == Qt::LeftButton && tool_ >= 0) {
        drag_ = 3;
        drawing_ = Measurement();
        drawing_.kind = static_cast<MeasureKind>(tool_);
        drawing_.axis = state_.axis;
        drawing_.depth = state_.depth;
        drawing_.a = drawing_.b = pixelToPlane(state_, width(), height(), e->position().x() - 0.5, e->position().y() - 0.5);
    } else if (e->button() == Qt::LeftButton) {
        drag_ = 1;
        crosshair_ = pointAt(e->position());
        update();
        emit crosshairMoved(crosshair_);
    } else if (e->button() == Qt::RightButton) {
        drag_ = 2;
    }
}

void SliceViewWidget::mouseMoveEvent(QMouseEvent *e)
{
    const QPoint pos = e->position().toPoint();
    if (drag_ == 1) {
        crosshair_ = pointAt(e->position());
        update();
        emit crosshairMoved(crosshair_);
    } else if (drag_ == 2) {
        state_.center -= QPointF(pos - lastPos_) * state_.scale;
        redraw();
    } else if (drag_ == 3) {
        drawing_.b = pixelToPlane(state_, width(), height(), e->position().x() - 0.5, e->position().y() - 0.5);
        update();
    }
    lastPos_ = pos;
    emit pointerAt(pointAt(e->position()), true);
}

void SliceViewWidget::mouseReleaseEvent(QMouseEvent *)
{
    const bool measuring = drag_ == 3;
    drag_ = 0;
    // A click without a drag draws nothing.
    const QPointF span = planeToPixel(state_, width(), height(), drawing_.b)
                         - planeToPixel(state_, width(), height(), drawing_.a);
    if (measuring && std::abs(span.x()) + std::abs(span.y()) >= 3.0)
        emit measured(drawing_);
    update();
}

void SliceViewWidget::leaveEvent(QEvent *)
{
    emit pointerAt(Vec3(), false);
}

void SliceViewWidget::stepSlices(int steps)
{
    // One slice of the first set with slices along the view's axis.
    for (const SceneLayer &l : layers_) {
        if (l.set == nullptr)
            continue;
        int count = 0;
        int index = -1;
        {
            SliceDatas::ReadGuard guard(*l.set);
            index = planeIndex(l, state_.axis, state_.depth, &count);
        }
        if (count <= 0)
            continue;
        // Outside the set, the first step goes to its nearest end.
        const double low = planeCentre(l, state_.axis, 0);
        index = index >= 0 ? std::clamp(index + steps, 0, count - 1) : state_.depth < low ? 0 : count - 1;
        const double depth = planeCentre(l, state_.axis, index);
        Vec3 p = crosshair_;
        p = spacePoint(state_.axis, planePoint(state_.axis, p), depth);
        setCrosshair(p);
        emit crosshairMoved(p);
        return;
    }
}

void SliceViewWidget::wheelEvent(QWheelEvent *e)
{
    const int notches = e->angleDelta().y() / 120;
    if (notches == 0)
        return;
    if (e->modifiers() & Qt::ControlModifier) {
        // Zoom about the pointer: the plane point under it stays where it is.
        const QPointF under = pixelToPlane(state_, width(), height(), e->position().x() - 0.5, e->position().y() - 0.5);
        state_.scale *= std::pow(0.8, notches);
        const QPointF after = pixelToPlane(state_, width(), height(), e->position().x() - 0.5, e->position().y() - 0.5);
        state_.center += under - after;
        redraw();
    } else {
        stepSlices(notches > 0 ? 1 : -1);
    }
    e->accept();
}

// The window's own F (fit the picture) yields to the view that has the focus.
bool SliceViewWidget::event(QEvent *e)
{
    if (e->type() == QEvent::ShortcutOverride) {
        const int key = static_cast<QKeyEvent *>(e)->key();
        if (key == Qt::Key_F || key == Qt::Key_PageUp || key == Qt::Key_PageDown || key == Qt::Key_Home) {
            e->accept();
            return true;
        }
    }
    return QWidget::event(e);
}

void SliceViewWidget::keyPressEvent(QKeyEvent *e)
{
    switch (e->key()) {
    case Qt::Key_PageUp:
        stepSlices(1);
        break;
    case Qt::Key_PageDown:
        stepSlices(-1);
        break;
    case Qt::Key_F:
    case Qt::Key_Home:
        fit();
        break;
    default:
        QWidget::keyPressEvent(e);
    }
}
