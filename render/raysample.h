#ifndef RAYSAMPLE_H
#define RAYSAMPLE_H

// What a ray gathers from its samples under each projection and the pixel that
// makes: shared, operation for operation, by the per-point reference
// (mipreference.cpp) and the kernels of the other projections (mipgeneric.cpp).
// Private to those files and the tile driver.

#include <QColor>

#include <algorithm>
#include <cmath>

#include "render/mip.h"

namespace mip {

// One ray's gathering. u: the largest mapped value (Maximum), the smallest value
// (Minimum; HUGE_VAL while none), the sum of the values (Mean); n: the samples
// summed; r, g, b, a: the blended colour and opacity (Composite); s: the mapped
// value on the cut face.
struct RayState {
    double u = 0.0, n = 0.0, r = 0.0, g = 0.0, b = 0.0, a = 0.0, s = 0.0;
};

inline double rayStart(Projection p)
{
    return p == Projection::Minimum ? HUGE_VAL : 0.0;
}

// Whether a ray takes no more samples.
template <Projection P> inline bool rayDone(double a)
{
    return P == Projection::Composite && a >= opaqueLimit;
}

// One sample of value v (before the window); inSlab: it lies on the cut face.
template <Projection P>
inline void takeSample(const Params &pr, double v, bool inSlab, double &u, double &n, double &r, double &g, double &b,
                       double &a, double &s)
{
    if (P == Projection::Minimum) {
        if (v < u)
            u = v;
    } else if (P == Projection::Mean) {
        u += v;
        n += 1.0;
    }
    if (P == Projection::Maximum || P == Projection::Composite || inSlab) {
        const double q = mapValue(v, pr.minTh, pr.maxTh, pr.saturate);
        if (P == Projection::Maximum && q > u)
            u = q;
        if (P == Projection::Composite && q > 0.0) {
            const int i = int(q);
            const double opacity = pr.composite->opacity[i];
            if (opacity > 0.0) {
                const double w = (1.0 - a) * opacity;
                r += w * pr.composite->red[i];
                g += w * pr.composite->green[i];
                b += w * pr.composite->blue[i];
                a += w;
            }
        }
        if (inSlab)
            s = q;
    }
}

// The pen of a pixel as an opaque colour and an opacity, or false when the pixel
// draws nothing: the cut face in the section colour, else the projection's
// strength in the set's colours at the set's opacity; for Composite the blended
// colour at its opacity times the set's.
inline bool rayRgba(const Params &pr, const RayState &st, QRgb *rgb, int *alpha)
{
    *alpha = pr.alpha;
    if (pr.cut && st.s > 0.0) {
        *rgb = qRgb(strengthComponent(pr.sColor.red(), st.s), strengthComponent(pr.sColor.green(), st.s),
                    strengthComponent(pr.sColor.blue(), st.s));
        return true;
    }
    double w = 0.0;
    switch (pr.projection) {
    case Projection::Maximum:
        w = st.u;
        break;
    case Projection::Minimum:
        w = st.u < HUGE_VAL ? mapValue(st.u, pr.minTh, pr.maxTh, pr.saturate) : 0.0;
        break;
    case Projection::Mean:
        w = st.n > 0.0 ? mapValue(st.u / st.n, pr.minTh, pr.maxTh, pr.saturate) : 0.0;
        break;
    case Projection::Composite: {
        const int a = int(st.a * pr.alpha + 0.5);
        if (!(st.a > 0.0) || a <= 0)
            return false;
        *alpha = std::min(a, 255);
        auto component = [&st](double c) { return std::clamp(int(c / st.a + 0.5), 0, 255); };
        *rgb = qRgb(component(st.r), component(st.g), component(st.b));
        return true;
    }
    }
    if (!(w > 0.0))
        return false;
    *rgb = volumeRgb(pr, w);
    return true;
}

// The same as the pen the per-point path draws with (transparent white for nothing).
inline QColor rayPen(const Params &pr, const RayState &st)
{
    QRgb rgb;
    int alpha;
    if (!rayRgba(pr, st, &rgb, &alpha))
        return QColor(255, 255, 255, 0);
    return QColor(qRed(rgb), qGreen(rgb), qBlue(rgb), alpha);
}

}  // namespace mip

#endif
