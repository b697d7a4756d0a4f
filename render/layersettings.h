#ifndef LAYERSETTINGS_H
#define LAYERSETTINGS_H

#include <QColor>

#include "data/spacing.h"
#include "render/colormap.h"
#include "render/drawmodes.h"
#include "render/vec3.h"

class SliceDatas;
struct SceneLayer;

// Everything that decides how one slice set is drawn, as one value: the panel
// edits it (its fields show it), a session stores a list of them, the
// command-line renderer makes them from a session or its options, and
// sceneLayer() turns one into what the drawing reads. Numbers are kept exact;
// a panel shows them with six significant digits.
struct LayerSettings {
    double rangeMin = 0.0;  // the value at 0 % and at 100 % of the colour scale
    double rangeMax = 0.0;
    double minTh = 0.0;  // display window in data units, as the fields hold it
    double maxTh = 0.0;
    double minPC = 0.0;  // the same window in percent of the range; the drawing reads these
    double maxPC = 100.0;
    QColor vColor{0, 127, 127};
    QColor sColor{127, 0, 0};
    int alpha = 255;  // 0 .. 255
    bool showVolume = true;
    bool showFrame = true;
    bool showCSection = false;
    int cutPos = 0;  // -100 .. 100
    Vec3 csNz;       // normal of the cut plane
    bool fixDir = false;  // the cut's normal stays when the view turns
    Spacing spacing;
    ColorMap colorMap = ColorMap::WhiteRamp;
    double gamma = 1.0;  // render::minGamma .. maxGamma; others draw as 1
    AboveWindow above = AboveWindow::Vanish;
    Projection projection = Projection::Maximum;
    OpacityCurve opacity;  // how opaque each place in the window is under Composite
    Interpolation interpolation = Interpolation::Nearest;
};

// What a finished load tells the settings of its set.
struct LoadOutcome {
    bool loaded = false;  // at least one slice was accepted
    double minV = 0.0;    // the set's value range
    double maxV = 0.0;
    Spacing spacing;  // of the files
};

// The settings after a load. A load that accepted no slice changes nothing.
// Otherwise the spacing becomes the files' as a field shows it (six significant
// digits; a step that is not a number within the spacing bounds reads as 1), and where the set's
// range is finite it becomes the range, a percentage that is not a finite number
// starts over at 0 or 100, each threshold is derived from its percentage and the
// percentage again from the threshold.
LayerSettings settingsAfterLoad(const LayerSettings &before, const LoadOutcome &load);
// Whether that load sets the range and the window (a slice accepted, a finite range).
bool loadSetsWindow(const LoadOutcome &load);

// The outcome of the set's last load; the caller holds the set's read lock.
LoadOutcome loadOutcomeOf(const SliceDatas &set);

// The number a field shows for x ('g', six significant digits), read back.
double shownValue(double x);
// The spacing steps a set is drawn with, in the set's unit: wider apart, the box's
// extents and the rays' steps would overflow or vanish, and the picture comes out
// blank or distorted. Sessions hold their spacing within these bounds.
constexpr double minSpacingStep = 1e-6;
constexpr double maxSpacingStep = 1e6;
bool spacingStepOk(double x);
// A spacing step as a field reads it: within those bounds, else 1.
double spacingFieldValue(double x);

// How the drawing sees a set under these settings: the window from the range and
// the two percentages, the rest as it is.
SceneLayer sceneLayer(const LayerSettings &s, const SliceDatas *set);

#endif
