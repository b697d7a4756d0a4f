#ifndef DRAWMODES_H
#define DRAWMODES_H

#include <QString>

#include <array>

// How a ray's samples make its pixel: the largest value over the window (the
// rule the viewer started with), the smallest or the mean value of the samples
// inside the set, or front-to-back blending with an opacity that rises over the
// window along a curve.
enum class Projection { Maximum, Minimum, Mean, Composite };

// How a sample between voxels takes its value: the voxel it falls in (the rule
// the viewer started with), or trilinear between the eight voxels around it.
enum class Interpolation { Nearest, Linear };

// What happens to values at or above the top of a set's window: they are not
// drawn (the rule the viewer started with), or drawn in the top colour.
enum class AboveWindow { Vanish, Saturate };

// The opacity a sample adds under "Composite", by its place in the window: a curve
// through heights (each 0 .. 1) at 0, 25, 50, 75 and 100 % of the window, straight
// between them. The default rises evenly to a quarter at the top.
struct OpacityCurve {
    static constexpr int count = 5;
    std::array<double, count> points{0.0, 0.0625, 0.125, 0.1875, 0.25};
    // The height at a fraction 0 .. 1 of the window (clamped).
    double at(double fraction) const;
    bool operator==(const OpacityCurve &o) const { return points == o.points; }
};

namespace render {

// "maximum", "minimum", "mean", "composite", as sessions and the command line spell them.
QString projectionKey(Projection p);
bool projectionFromKey(const QString &key, Projection *out);

// "nearest" or "linear", as sessions and the command line spell them.
QString interpolationKey(Interpolation i);
bool interpolationFromKey(const QString &key, Interpolation *out);

// "vanish" or "saturate", as sessions and the command line spell them.
QString aboveWindowKey(AboveWindow a);
bool aboveWindowFromKey(const QString &key, AboveWindow *out);

}  // namespace render

#endif
