#include "render/layersettings.h"

#include <QString>

#include <cmath>

#include "data/slicedatas.h"
#include "render/scene.h"

double shownValue(double x)
{
    return QString::number(x, 'g', 6).toDouble();
}

bool spacingStepOk(double x)
{
    return x >= minSpacingStep && x <= maxSpacingStep;
}

double spacingFieldValue(double x)
{
    return spacingStepOk(x) ? x : 1.0;
}

bool loadSetsWindow(const LoadOutcome &load)
{
    return load.loaded && std::isfinite(load.minV) && std::isfinite(load.maxV);
}

LayerSettings settingsAfterLoad(const LayerSettings &before, const LoadOutcome &load)
{
    LayerSettings s = before;
    if (!load.loaded)
        return s;
    s.spacing = Spacing{spacingFieldValue(shownValue(load.spacing.x)), spacingFieldValue(shownValue(load.spacing.y)),
                        spacingFieldValue(shownValue(load.spacing.z))};
    if (!loadSetsWindow(load))
        return s;
    if (!std::isfinite(s.minPC))
        s.minPC = 0.0;
    if (!std::isfinite(s.maxPC))
        s.maxPC = 100.0;
    s.rangeMin = load.minV;
    s.rangeMax = load.maxV;
    s.minTh = render::valueFromPercent(s.rangeMin, s.rangeMax, s.minPC);
    s.minPC = render::percentFromValue(s.rangeMin, s.rangeMax, s.minTh);
    s.maxTh = render::valueFromPercent(s.rangeMin, s.rangeMax, s.maxPC);
    s.maxPC = render::percentFromValue(s.rangeMin, s.rangeMax, s.maxTh);
    return s;
}

LoadOutcome loadOutcomeOf(const SliceDatas &set)
{
    LoadOutcome o;
    o.loaded = set.loaded;
    o.minV = set.minV;
    o.maxV = set.maxV;
    o.spacing = set.spacing;
    return o;
}

SceneLayer sceneLayer(const LayerSettings &s, const SliceDatas *set)
{
    SceneLayer layer;
    layer.set = set;
    layer.minTh = render::thresholdFromPercent(s.rangeMin, s.rangeMax, s.minPC);
    layer.maxTh = render::thresholdFromPercent(s.rangeMin, s.rangeMax, s.maxPC);
    layer.vColor = s.vColor;
    layer.sColor = s.sColor;
    layer.alpha = s.alpha;
    layer.showVolume = s.showVolume;
    layer.showFrame = s.showFrame;
    layer.cut = s.showCSection;
    layer.cutPos = s.cutPos;
    layer.csNz = s.csNz;
    layer.spacing = s.spacing;
    layer.colorMap = s.colorMap;
    layer.gamma = render::gammaOrOne(s.gamma);
    layer.above = s.above;
    layer.projection = s.projection;
    layer.opacity = s.opacity;
    layer.interpolation = s.interpolation;
    return layer;
}
