#ifndef OVERLAYS_H
#define OVERLAYS_H

#include <QColor>
#include <QString>

#include <vector>

#include "data/spacing.h"
#include "render/colormap.h"
#include "render/vec3.h"

class QPainter;
struct Scene;

// What is drawn over the picture, each switched on its own: a scale bar of a round
// length, the directions at the picture's edges, a colour bar per shown set with
// the ends of its window.
struct Overlays {
    bool scaleBar = false;
    bool orientation = false;
    bool colorBar = false;
    bool any() const { return scaleBar || orientation || colorBar; }
};

namespace render {

// The overlays of a scene as plain values (no reference to its sets), made in the
// thread that owns them, so they can be drawn anywhere, an SVG's vectors included.
struct OverlayInfo {
    Overlays show;
    Vec3 nx{1, 0, 0}, ny{0, 1, 0};
    double unitsPerPixel = 1.0;  // the view's scale
    QString unit;  // of the first set whose files give one ("mm"), else empty
    PatientAxes axes;  // of the first set that has them
    QColor ink;  // black over light backgrounds, white over dark ones
    struct Bar {
        ColorMap map = ColorMap::WhiteRamp;
        double gamma = 1.0;
        QColor vColor;
        double low = 0.0, high = 1.0;  // the window, in the set's units
    };
    std::vector<Bar> bars;  // one per set whose volume is shown
};
OverlayInfo overlayInfo(const Scene &s);

// The scale bar's length: the largest of 1, 2 and 5 times a power of ten that
// takes at most a fifth of a picture w pixels wide at this many units per pixel;
// 0 when there is none.
double scaleBarLength(double unitsPerPixel, int w);

// The direction a unit vector of the volume points to as edge letters: with the
// patient axes R or L, A or P, S or I, the strongest first, each that makes up at
// least a third of it; else the volume's axis it runs most along, as "+x" .. "-z".
QString directionLabel(const Vec3 &v, const PatientAxes &axes);

// Draws the overlays on a picture of w x h pixels, sized with the picture (a
// picture twice as large gets them twice as large).
void drawOverlays(QPainter &p, const OverlayInfo &o, int w, int h);

}  // namespace render

#endif
