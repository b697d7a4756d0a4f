#include "app/sessiondrawing.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QStringList>

#include <cmath>

#include "render/colormap.h"

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("Session", text);
}

bool fail(QString *error, const QString &where, const char *what)
{
    if (error)
        *error = tr(what).arg(where);
    return false;
}

}  // namespace

QJsonObject drawingToJson(const LayerSettings &s)
{
    QJsonObject o;
    o.insert("colorMap", render::colorMapKey(s.colorMap));
    o.insert("gamma", s.gamma);
    o.insert("aboveWindow", render::aboveWindowKey(s.above));
    o.insert("projection", render::projectionKey(s.projection));
    o.insert("interpolation", render::interpolationKey(s.interpolation));
    QJsonArray curve;
    for (double h : s.opacity.points)
        curve.append(h);
    o.insert("opacityCurve", curve);
    return o;
}

bool drawingFromJson(const QJsonValue &v, const QString &path, LayerSettings &s, QString *error)
{
    if (v.isUndefined())
        return true;
    if (!v.isObject())
        return fail(error, path, "%1: not an object");
    const QJsonObject o = v.toObject();
    static const QStringList known{"colorMap", "gamma", "aboveWindow", "projection", "opacityCurve", "interpolation"};
    for (auto it = o.begin(); it != o.end(); ++it)
        if (!known.contains(it.key()))
            return fail(error, path + QLatin1Char('.') + it.key(), "%1: unknown key");
    const QJsonValue map = o.value("colorMap");
    if (!map.isUndefined() && (!map.isString() || !render::colorMapFromKey(map.toString(), &s.colorMap)))
        return fail(error, path + ".colorMap", "%1: not a colour map");
    const QJsonValue above = o.value("aboveWindow");
    if (!above.isUndefined() && (!above.isString() || !render::aboveWindowFromKey(above.toString(), &s.above)))
        return fail(error, path + ".aboveWindow", "%1: not \"vanish\" or \"saturate\"");
    const QJsonValue projection = o.value("projection");
    if (!projection.isUndefined()
        && (!projection.isString() || !render::projectionFromKey(projection.toString(), &s.projection)))
        return fail(error, path + ".projection", "%1: not a projection");
    const QJsonValue interpolation = o.value("interpolation");
    if (!interpolation.isUndefined()
        && (!interpolation.isString() || !render::interpolationFromKey(interpolation.toString(), &s.interpolation)))
        return fail(error, path + ".interpolation", "%1: not \"nearest\" or \"linear\"");
    const QJsonValue curve = o.value("opacityCurve");
    if (!curve.isUndefined()) {
        const QJsonArray a = curve.toArray();
        if (!curve.isArray() || a.size() != OpacityCurve::count)
            return fail(error, path + ".opacityCurve", "%1: not a list of the right length");
        for (int i = 0; i < OpacityCurve::count; ++i) {
            const double h = a.at(i).toDouble(-1.0);
            if (!a.at(i).isDouble() || !(h >= 0.0 && h <= 1.0))
                return fail(error, path + ".opacityCurve", "%1: out of range");
            s.opacity.points[size_t(i)] = h;
        }
    }
    const QJsonValue gamma = o.value("gamma");
    if (!gamma.isUndefined()) {
        const double g = gamma.toDouble();
        if (!gamma.isDouble() || !(g >= render::minGamma && g <= render::maxGamma))
            return fail(error, path + ".gamma", "%1: out of range");
        s.gamma = g;
    }
    return true;
}

QJsonObject overlaysToJson(const Overlays &o)
{
    return QJsonObject{{"scaleBar", o.scaleBar}, {"orientation", o.orientation}, {"colorBar", o.colorBar}};
}

bool overlaysFromJson(const QJsonValue &v, const QString &path, Overlays &out, QString *error)
{
    if (v.isUndefined())
        return true;
    if (!v.isObject())
        return fail(error, path, "%1: not an object");
    const QJsonObject o = v.toObject();
    Overlays read;
    bool *flags[3] = {&read.scaleBar, &read.orientation, &read.colorBar};
    const char *keys[3] = {"scaleBar", "orientation", "colorBar"};
    for (auto it = o.begin(); it != o.end(); ++it) {
        int k = 0;
        while (k < 3 && it.key() != QLatin1String(keys[k]))
            ++k;
        if (k == 3)
            return fail(error, path + QLatin1Char('.') + it.key(), "%1: unknown key");
        if (!it.value().isBool())
            return fail(error, path + QLatin1Char('.') + it.key(), "%1: not true or false");
        *flags[k] = it.value().toBool();
    }
    out = read;
    return true;
}

bool backgroundFromJson(const QJsonValue &v, const QString &path, QColor &out, QString *error)
{
    if (v.isUndefined())
        return true;
    const QString text = v.toString();
    const QColor c = QColor::fromString(text);
    if (!v.isString() || text.size() != 7 || !text.startsWith(QLatin1Char('#')) || !c.isValid())
        return fail(error, path, "%1: not a colour of the form #rrggbb");
    out = c;
    return true;
}
