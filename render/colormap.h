#ifndef COLORMAP_H
#define COLORMAP_H

#include <QRgb>
#include <QString>

#include <vector>

// How a set's strengths (0 .. 255 over its window) become colours: the ramp from
// white to the set's volume colour, or one of the fixed tables of 256 entries.
enum class ColorMap { WhiteRamp, Grey, InvertedGrey, Hot, Viridis, Magma, Inferno, Cividis };

namespace render {

// Every map, in the order the panel lists them.
const std::vector<ColorMap> &colorMaps();
// The map's name in sessions and on the command line ("ramp", "grey", "inverted-grey",
// "hot", "viridis", "magma", "inferno", "cividis").
QString colorMapKey(ColorMap m);
// False for a name that is none of those (any letter case).
bool colorMapFromKey(const QString &key, ColorMap *out);
// Entry i (0 .. 255, clamped) of a table map as opaque RGB; the ramp has no table
// (its colour depends on the set's colour) and gives white.
QRgb colorMapEntry(ColorMap m, int i);

// Gamma values a set may take; others read as 1.
constexpr double minGamma = 0.05;
constexpr double maxGamma = 20.0;
double gammaOrOne(double g);

}  // namespace render

#endif
