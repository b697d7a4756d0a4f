#include "render/drawmodes.h"

#include <algorithm>

double OpacityCurve::at(double fraction) const
{
    const double pos = std::clamp(fraction, 0.0, 1.0) * (count - 1);
    const int k = std::min(count - 2, int(pos));
    return points[size_t(k)] + (points[size_t(k + 1)] - points[size_t(k)]) * (pos - k);
}

namespace render {

QString projectionKey(Projection p)
{
    switch (p) {
    case Projection::Minimum:
        return QStringLiteral("minimum");
    case Projection::Mean:
        return QStringLiteral("mean");
    case Projection::Composite:
        return QStringLiteral("composite");
    case Projection::Maximum:
        break;
    }
    return QStringLiteral("maximum");
}

bool projectionFromKey(const QString &key, Projection *out)
{
    for (Projection p : {Projection::Maximum, Projection::Minimum, Projection::Mean, Projection::Composite})
        if (key.compare(projectionKey(p), Qt::CaseInsensitive) == 0) {
            *out = p;
            return true;
        }
    return false;
}

QString interpolationKey(Interpolation i)
{
    return i == Interpolation::Linear ? QStringLiteral("linear") : QStringLiteral("nearest");
}

bool interpolationFromKey(const QString &key, Interpolation *out)
{
    for (Interpolation i : {Interpolation::Nearest, Interpolation::Linear})
        if (key.compare(interpolationKey(i), Qt::CaseInsensitive) == 0) {
            *out = i;
            return true;
        }
    return false;
}

QString aboveWindowKey(AboveWindow a)
{
    return a == AboveWindow::Saturate ? QStringLiteral("saturate") : QStringLiteral("vanish");
}

bool aboveWindowFromKey(const QString &key, AboveWindow *out)
{
    for (AboveWindow a : {AboveWindow::Vanish, AboveWindow::Saturate})
        if (key.compare(aboveWindowKey(a), Qt::CaseInsensitive) == 0) {
            *out = a;
            return true;
        }
    return false;
}

}  // namespace render
