#ifndef SLICEVIEWWIDGET_H
#define SLICEVIEWWIDGET_H

#include <QImage>
#include <QPoint>
#include <QWidget>

#include <vector>

#include "render/measure.h"
#include "render/scene.h"
#include "render/sliceview.h"
#include "render/vec3.h"

// One flat view through the loaded sets along the stack, across columns or across
// rows (render/sliceview.h draws it): the crosshair's plane, with the crosshair as
// two lines. Wheel or PageUp/PageDown steps one slice, a left drag moves the
// crosshair, a right drag pans, Ctrl+wheel zooms about the pointer, F or Home fits.
// Owned by the window, which hands it the layers to show and the crosshair; GUI
// thread.
class SliceViewWidget : public QWidget
{
    Q_OBJECT
public:
    explicit SliceViewWidget(SliceAxis axis, QWidget *parent = nullptr);

    SliceAxis axis() const { return state_.axis; }
    const SliceViewState &state() const { return state_; }
    // Zoom and pan as a session keeps them; the depth follows the crosshair.
    void setZoomAndPan(double scale, const QPointF &center);

    // The layers drawn, in order; redraws. A view never fitted yet is fitted first.
    void setLayers(const std::vector<SceneLayer> &layers);
    // Moves the crosshair; the picture is drawn again only when the plane changes.
    void setCrosshair(const Vec3 &p);
    // Shows every set whole around the crosshair's plane.
    void fit();
    // What a left drag does: -1 moves the crosshair, else it draws a measurement of
    // that MeasureKind in the view's plane.
    void setTool(int tool) { tool_ = tool; }
    // The measurements to draw (those in the view's plane are), the selected one,
    // and the unit of a ruler's length.
    void setMeasurements(const std::vector<Measurement> &ms, int selected, const QString &unit);
    // The picture as shown now (for saving and tests).
    const QImage &picture() const { return picture_; }

signals:
    // The user moved the crosshair (a drag, a slice step).
    void crosshairMoved(Vec3 p);
    // The point under the pointer, in the view's plane; `inside` is false when the
    // pointer left the view.
    void pointerAt(Vec3 p, bool inside);
    // A measurement drawn by a left drag with a tool.
    void measured(Measurement m);

protected:
    bool event(QEvent *e) override;
    void paintEvent(QPaintEvent *e) override;
    void resizeEvent(QResizeEvent *e) override;
    void mousePressEvent(QMouseEvent *e) override;
    void mouseMoveEvent(QMouseEvent *e) override;
    void mouseReleaseEvent(QMouseEvent *e) override;
    void wheelEvent(QWheelEvent *e) override;
    void keyPressEvent(QKeyEvent *e) override;
    void leaveEvent(QEvent *e) override;

private:
    void redraw();
    void stepSlices(int steps);
    Vec3 pointAt(const QPointF &pixel) const;
    // "Slice 12 of 40 · z = 3.5 mm" for the first set with slices, or empty.
    QString planeText() const;

    SliceViewState state_;
    std::vector<SceneLayer> layers_;
    std::vector<quint64> generations_;  // of each layer's set when it was drawn
    Vec3 crosshair_;
    QImage picture_;
    bool fitted_ = false;
    int drag_ = 0;  // 0 none, 1 crosshair, 2 pan, 3 measurement
    int tool_ = -1;
    std::vector<Measurement> measurements_;
    int selected_ = -1;
    QString unit_;
    Measurement drawing_;  // while drag_ is 3
    QPoint lastPos_;
};

#endif
