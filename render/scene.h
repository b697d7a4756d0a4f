#ifndef SCENE_H
#define SCENE_H

#include <QColor>
#include <QImage>
#include <QString>

#include <memory>
#include <vector>

#include "data/spacing.h"
#include "render/colormap.h"
#include "render/drawmodes.h"
#include "render/overlays.h"
#include "render/vec3.h"

class QPainter;
class SliceDatas;
namespace render {
struct CoarseSet;
}

// How a ray takes its samples: where it crosses each slice plane (the stack seen
// edge-on shows little), or at every voxel step along the axis it runs most along.
enum class Sampling { Slices, Voxels };

// The view: three orthonormal directions (nx to the right of the picture, ny
// down it, nz toward the viewer), the volume point at the picture centre and
// the volume units per picture pixel.
struct SceneView {
    Vec3 nx{1.0, 0.0, 0.0};
    Vec3 ny{0.0, 1.0, 0.0};
    Vec3 nz{0.0, 0.0, 1.0};
    Vec3 center;
    double scale = 1.0;
    Sampling sampling = Sampling::Slices;
};

// Whether a set's finer levels in chunks are drawn (see SceneLayer::finerLevels).
enum class FinerLevels { off, ask, read };

// How one slice set is drawn. The set is not owned; the drawing takes its read
// lock, so the set may be loaded in another thread meanwhile.
struct SceneLayer {
    const SliceDatas *set = nullptr;
    double minTh = 0.0;  // display window in data units
    double maxTh = 1.0;
    QColor vColor{0, 127, 127};
    QColor sColor{127, 0, 0};
    int alpha = 255;
    bool showVolume = true;
    bool showFrame = true;
    bool cut = false;
    int cutPos = 0;  // -100 .. 100: the cut plane lies cutPos / 100 * slices from the centre
    Vec3 csNz;  // normal of the cut plane
    Spacing spacing;  // voxel size along columns, rows and the stack
    ColorMap colorMap = ColorMap::WhiteRamp;  // the volume's colours over its window
    double gamma = 1.0;
    AboveWindow above = AboveWindow::Vanish;  // values at the top of the window
    Projection projection = Projection::Maximum;
    OpacityCurve opacity;  // for Projection::Composite
    Interpolation interpolation = Interpolation::Nearest;
    // A coarse copy of the set to draw the volume from instead, quicker and not
    // exact; used only while it was made from the set's current slices, on the
    // raster path, with rays sampled across the slices.
    std::shared_ptr<const render::CoarseSet> coarse;
    // For a set with finer levels in chunks (SliceDatas::stream), on the raster path:
    // draw the level the view calls for from them, either asking for the chunks not in
    // memory and drawing those places from coarser levels meanwhile, or reading them
    // first; off: from the slices, as any set.
    FinerLevels finerLevels = FinerLevels::off;
};

// Everything a picture is drawn from. Layers are drawn in order, later over earlier.
struct Scene {
    SceneView view;
    int width = 256;  // picture size in pixels
    int height = 256;
    // The picture size the frames are centred on: width and height, except when
    // the window writes an SVG at a size typed after its picture was last drawn.
    int frameWidth = 256;
    int frameHeight = 256;
    QColor background{255, 255, 255};  // opaque; the sets are drawn over it
    Overlays overlays;  // drawn over everything
    std::vector<SceneLayer> layers;
};

namespace render {

// Picture sizes the program draws: both sides 1 .. 32767 and at most 2^28 pixels.
bool pictureSizeOk(int w, int h);
// An SVG embeds its picture as text, so its size is held lower: 8192 x 8192 pixels.
bool svgSizeOk(int w, int h);

// The window of a layer from the panel's fields: the range and the two percentages.
// Where the span overflows (a range such as -1e308 .. 1e308) it is worked in halves,
// so the ends of the range stay finite; any other range gives exactly the plain formula.
double thresholdFromPercent(double rMin, double rMax, double pc);
// The panel's derivations between a threshold and its percentage of the range
// low .. high, with the same care near the ends of the double range.
double valueFromPercent(double low, double high, double pc);
double percentFromValue(double low, double high, double v);

// How far a view's axes may be from unit length and from right angles, as the
// difference of a length from 1 and as a dot product. A picture shows no such
// error; a view further off is skewed or stretched.
constexpr double viewAxisTolerance = 1e-6;
// Whether v has unit length within that tolerance.
bool unitLength(const Vec3 &v);
// The dot product of two directions.
double dot(const Vec3 &a, const Vec3 &b);

// The view turned by -th radians about the unit axis rax (right-hand rule). The
// rounding of many turns in a row would let the axes drift from unit length and
// right angles, each turn more (a turn about an axis a little off unit length
// stretches along it); once they drift a thousandth of viewAxisTolerance they are
// set square again, so a view made only by turns always stays within it.
SceneView turned(const SceneView &v, const Vec3 &rax, double th);
// The view with zoom and pan chosen so that the boxes of every layer's set fill a
// w x h picture with a small margin; the direction is kept. Unchanged when no
// layer has slices.
SceneView fitted(const Scene &s, int w, int h);

// One pass of a set's bounding box (far edges when temae is false, near ones when
// true), centred on a picture of frameW x frameH pixels.
void drawFrame(QPainter &p, const SceneView &v, int frameW, int frameH, int ss, int sw, int sh, bool temae,
               const QColor &color, const Spacing &spacing = Spacing());
// Lower-case names of the raster formats Qt writes.
QStringList rasterFormats();

// What an SVG draws over the embedded picture: the near edges of each shown
// frame as vector lines, and the overlays. Made from a scene in the thread that owns its sets;
// holds no reference to them.
struct SvgOverlay {
    struct Box {
        int ss = 0, sw = 0, sh = 0;
        QColor color;
        Spacing spacing;
    };
    SceneView view;
    int frameWidth = 0;
    int frameHeight = 0;
    std::vector<Box> boxes;
    render::OverlayInfo overlays;  // drawn as vectors over the frames
};
SvgOverlay svgOverlay(const Scene &s);

// Writes a picture file, the format picked by the file's suffix in any letter
// case: a raster format Qt writes gets `picture` as it is; "svg" gets `picture`
// embedded once as an image at its size, with the overlay's lines on top. The
// file is written beside the target and renamed over it only once every byte is
// written (render/savefile.h), so a failed save leaves an existing file as it was.
// False with a one-line reason (unknown format, a size the format cannot hold, a
// folder that does not exist, no permission, a full disk, a file-size limit, a
// target that is not a regular file, a NUL in the name). Reads no set: may run on
// any thread.
bool writePicture(const QString &fname, const QImage &picture, const SvgOverlay &overlay, QString *error);
}  // namespace render

#endif
