#include "app/renderoptions.h"

#include <QStringList>

#include <cmath>

#include "render/scene.h"

namespace {

QString keysOf(const QStringList &keys)
{
    return keys.join(QStringLiteral(", "));
}

}  // namespace

void DrawingOptions::addTo(QCommandLineParser &parser)
{
    parser.addOptions({
        {"projection", "maximum (default), minimum, mean or composite, for every set.", "MODE"},
        {"interpolation", "nearest (default) or linear, for every set.", "RULE"},
        {"colormap",
         "ramp (white to the set's colour, default), grey, inverted-grey, hot, viridis, magma, inferno "
         "or cividis.",
         "MAP"},
        {"gamma", "Gamma of the colours, 0.05 to 20 (default 1).", "G"},
        {"above", "Values at the top of the window: vanish (default) or saturate.", "RULE"},
        {"window", "The display window of every set, in the sets' units.", "LOW,HIGH"},
        {"background", "white (default), black or #rrggbb.", "COLOUR"},
        {"overlays", "Any of scalebar, orientation, colorbar, separated by commas; or none.", "LIST"},
    });
}

bool DrawingOptions::readFrom(const QCommandLineParser &parser, QString *error)
{
    auto fail = [error](const QString &why) {
        if (error)
            *error = why;
        return false;
    };
    if (parser.isSet("projection")) {
        Projection p;
        if (!render::projectionFromKey(parser.value("projection"), &p))
            return fail(QStringLiteral("--projection takes maximum, minimum, mean or composite"));
        projection = p;
    }
    if (parser.isSet("interpolation")) {
        Interpolation i;
        if (!render::interpolationFromKey(parser.value("interpolation"), &i))
            return fail(QStringLiteral("--interpolation takes nearest or linear"));
        interpolation = i;
    }
    if (parser.isSet("colormap")) {
        ColorMap m;
        if (!render::colorMapFromKey(parser.value("colormap"), &m)) {
            QStringList keys;
            for (ColorMap k : render::colorMaps())
                keys << render::colorMapKey(k);
            return fail(QStringLiteral("--colormap takes one of %1").arg(keysOf(keys)));
        }
        colorMap = m;
    }
    if (parser.isSet("gamma")) {
        bool ok = false;
        const double g = parser.value("gamma").toDouble(&ok);
        if (!ok || !(g >= render::minGamma && g <= render::maxGamma))
            return fail(
                QStringLiteral("--gamma takes a number from %1 to %2").arg(render::minGamma).arg(render::maxGamma));
        gamma = g;
    }
    if (parser.isSet("above")) {
        AboveWindow a;
        if (!render::aboveWindowFromKey(parser.value("above"), &a))
            return fail(QStringLiteral("--above takes saturate or vanish"));
        above = a;
    }
    if (parser.isSet("window")) {
        const QStringList parts = parser.value("window").split(QLatin1Char(','));
        bool okLow = false, okHigh = false;
        const double low = parts.size() == 2 ? parts[0].trimmed().toDouble(&okLow) : 0.0;
        const double high = parts.size() == 2 ? parts[1].trimmed().toDouble(&okHigh) : 0.0;
        if (!okLow || !okHigh || !std::isfinite(low) || !std::isfinite(high) || !(low < high))
            return fail(QStringLiteral("--window takes two numbers LOW,HIGH with LOW below HIGH, such as -160,240"));
        windowLow = low;
        windowHigh = high;
    }
    if (parser.isSet("background")) {
        const QString text = parser.value("background").trimmed().toLower();
        QColor c;
        if (text == QLatin1String("white"))
            c = QColor(255, 255, 255);
        else if (text == QLatin1String("black"))
            c = QColor(0, 0, 0);
        else if (text.size() == 7 && text.startsWith(QLatin1Char('#')))
            c = QColor::fromString(text);
        if (!c.isValid())
            return fail(QStringLiteral("--background takes white, black or #rrggbb"));
        background = c;
    }
    if (parser.isSet("overlays")) {
        Overlays o;
        for (const QString &part : parser.value("overlays").split(QLatin1Char(','))) {
            const QString name = part.trimmed().toLower();
            if (name == QLatin1String("scalebar"))
                o.scaleBar = true;
            else if (name == QLatin1String("orientation"))
                o.orientation = true;
            else if (name == QLatin1String("colorbar"))
                o.colorBar = true;
            else if (name != QLatin1String("none"))
                return fail(QStringLiteral("--overlays takes scalebar, orientation, colorbar or none, separated by "
                                           "commas"));
        }
        overlays = o;
    }
    return true;
}

void DrawingOptions::applyTo(LayerSettings &s) const
{
    if (projection)
        s.projection = *projection;
    if (interpolation)
        s.interpolation = *interpolation;
    if (colorMap)
        s.colorMap = *colorMap;
    if (gamma)
        s.gamma = *gamma;
    if (above)
        s.above = *above;
    if (windowLow && windowHigh) {
        s.minTh = *windowLow;
        s.maxTh = *windowHigh;
        s.minPC = render::percentFromValue(s.rangeMin, s.rangeMax, s.minTh);
        s.maxPC = render::percentFromValue(s.rangeMin, s.rangeMax, s.maxTh);
    }
}

void DrawingOptions::applyTo(SceneLayer &layer) const
{
    if (windowLow && windowHigh) {
        layer.minTh = *windowLow;
        layer.maxTh = *windowHigh;
    }
}

void DrawingOptions::applyTo(Scene &scene) const
{
    if (background)
        scene.background = *background;
    if (overlays)
        scene.overlays = *overlays;
}
