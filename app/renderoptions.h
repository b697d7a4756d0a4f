#ifndef RENDEROPTIONS_H
#define RENDEROPTIONS_H

#include <QColor>
#include <QCommandLineParser>
#include <QString>

#include <optional>

#include "render/colormap.h"
#include "render/drawmodes.h"
#include "render/layersettings.h"
#include "render/overlays.h"

struct Scene;
struct SceneLayer;

// The drawing choices oxa-render takes on its command line, each for every set and
// over what a session says: --projection, --interpolation, --colormap, --gamma,
// --above, --window LOW,HIGH (in the sets' units), --background, --overlays.
struct DrawingOptions {
    std::optional<Projection> projection;
    std::optional<Interpolation> interpolation;
    std::optional<ColorMap> colorMap;
    std::optional<double> gamma;
    std::optional<AboveWindow> above;
    std::optional<double> windowLow, windowHigh;
    std::optional<QColor> background;
    std::optional<Overlays> overlays;

    // Adds the options to a parser.
    static void addTo(QCommandLineParser &parser);
    // Reads them from a parser that has parsed; false with a one-line reason.
    bool readFrom(const QCommandLineParser &parser, QString *error);

    // The settings of one set with the options applied.
    void applyTo(LayerSettings &s) const;
    // The window in data units, exactly as given, on a layer made from those settings.
    void applyTo(SceneLayer &layer) const;
    // The background and the overlays.
    void applyTo(Scene &scene) const;
};

#endif
