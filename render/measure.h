#ifndef MEASURE_H
#define MEASURE_H

#include <QPointF>
#include <QByteArray>
#include <QString>

#include <vector>

class QPainter;

#include "render/scene.h"
#include "render/sliceview.h"

// Measurements drawn in a slice view: a ruler, a line profile, and rectangle and
// ellipse regions. Each lies in one plane (the view's axis and depth); its points are
// plane coordinates in the sets' unit, as in render/sliceview.h.

enum class MeasureKind { Ruler, Profile, Rectangle, Ellipse };

struct Measurement {
    QString name;
    MeasureKind kind = MeasureKind::Ruler;
    SliceAxis axis = SliceAxis::Stack;
    double depth = 0.0;
    QPointF a, b;  // the line's ends, or the corners of the region's bounding box
};

// The distance between the ends, in the sets' unit.
double measureLength(const Measurement &m);

// The values of one set along a profile: `distance` from the first end, and the value
// of the voxel there, NaN outside the set. Samples every half of the set's smallest
// step along the line (at least two, at most `maxSamples`).
struct ProfilePoint {
    double distance = 0.0;
    double value = 0.0;
};
std::vector<ProfilePoint> measureProfile(const Measurement &m, const SceneLayer &layer, int maxSamples = 4096);

// A region's figures in one set: the voxels of the plane whose centres lie inside it
// (a rectangle's edges count as inside; an ellipse is the one inscribed in the box),
// their area and the statistics of their values (NaN values left out of the mean,
// standard deviation (population), minimum and maximum; all NaN when none is left).
struct RegionFigures {
    qint64 count = 0;
    double area = 0.0;
    double mean = 0.0;
    double stdDev = 0.0;
    double min = 0.0;
    double max = 0.0;
};
RegionFigures measureRegion(const Measurement &m, const SceneLayer &layer);

// Whether a measurement lies in the plane a slice view shows (within half a step of
// the view's depth along its axis, by the first layer's spacing).
bool inViewPlane(const Measurement &m, const SliceViewState &v, const std::vector<SceneLayer> &layers);

// Draws the measurements that lie in the view's plane over a w x h slice picture:
// rulers with their length, profiles as lines, regions as outlines; `selected` (an
// index into ms, or -1) stands out. `unit` follows a ruler's length.
void drawMeasurements(QPainter &p, const SliceViewState &v, int w, int h, const std::vector<Measurement> &ms,
                      const std::vector<SceneLayer> &layers, int selected, const QString &unit);

// "ruler", "profile", "rectangle", "ellipse" and back; false for another name.
QString measureKindName(MeasureKind k);
bool measureKindFromName(const QString &name, MeasureKind &k);
QString sliceAxisName(SliceAxis a);
bool sliceAxisFromName(const QString &name, SliceAxis &a);

// Every measurement's figures in every set as CSV: a header line, then one line per
// measurement and set. Numbers with up to 17 significant digits; text quoted where
// it holds a comma, a quote or a line break.
QByteArray measurementsCsv(const std::vector<Measurement> &ms, const std::vector<SceneLayer> &layers);

#endif
