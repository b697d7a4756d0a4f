#include "render/overlays.h"

#include <QFont>
#include <QFontMetricsF>
#include <QPainter>

#include <algorithm>
#include <cmath>

#include "data/slicedatas.h"
#include "render/mip.h"
#include "render/scene.h"

namespace render {

namespace {

// The patient directions of a set's axes: a DICOM series' own, else those of a
// volume file that states a direction, else unknown (labels name the volume's axes).
PatientAxes axesOf(const SliceDatas &set)
{
    if (set.patientAxes.known || !set.volume.hasDirection)
        return set.patientAxes;
    PatientAxes axes;
    axes.known = true;
    for (int i = 0; i < 3; ++i) {
        axes.column[i] = set.volume.direction.at(i, 0);
        axes.row[i] = set.volume.direction.at(i, 1);
        axes.stack[i] = set.volume.direction.at(i, 2);
    }
    return axes;
}

} // namespace

OverlayInfo overlayInfo(const Scene &s)
{
    OverlayInfo o;
    o.show = s.overlays;
    o.nx = s.view.nx;
    o.ny = s.view.ny;
    o.unitsPerPixel = s.view.scale;
    o.ink = s.background.lightness() < 128 ? QColor(255, 255, 255) : QColor(0, 0, 0);
    for (const SceneLayer &layer : s.layers) {
        if (layer.set == nullptr)
            continue;
        {
            SliceDatas::ReadGuard guard(*layer.set);
            if (!layer.set->loaded || layer.set->slices.empty())
                continue;
            if (o.unit.isEmpty())
                o.unit = layer.set->spacingUnit;
            if (!o.axes.known)
                o.axes = axesOf(*layer.set);
        }
        if (layer.showVolume)
            o.bars.push_back({layer.colorMap, layer.gamma, layer.vColor, layer.minTh, layer.maxTh});
    }
    return o;
}

double scaleBarLength(double unitsPerPixel, int w)
{
    const double most = w / 5.0 * unitsPerPixel;
    if (!(most > 0.0) || !std::isfinite(most))
        return 0.0;
    const double power = std::pow(10.0, std::floor(std::log10(most)));
    for (double m : {5.0, 2.0, 1.0})
        if (m * power <= most)
            return m * power;
    return power;
}

QString directionLabel(const Vec3 &v, const PatientAxes &axes)
{
    if (!axes.known) {
        const double c[3] = {v.x, v.y, v.z};
        int best = 0;
        for (int i = 1; i < 3; ++i)
            if (std::fabs(c[i]) > std::fabs(c[best]))
                best = i;
        return QString(c[best] < 0 ? QLatin1Char('-') : QLatin1Char('+')) + QLatin1Char("xyz"[best]);
    }
    // The patient's x runs to the left, y to the back, z to the head.
    double p[3];
    for (int i = 0; i < 3; ++i)
        p[i] = v.x * axes.column[i] + v.y * axes.row[i] + v.z * axes.stack[i];
    const char plus[3] = {'L', 'P', 'S'}, minus[3] = {'R', 'A', 'I'};
    int order[3] = {0, 1, 2};
    std::sort(order, order + 3, [&p](int a, int b) { return std::fabs(p[a]) > std::fabs(p[b]); });
    const double length = std::sqrt(p[0] * p[0] + p[1] * p[1] + p[2] * p[2]);
    QString label;
    for (int i : order)
        if (std::fabs(p[i]) >= length / 3.0 && std::fabs(p[i]) > 0.0)
            label += QLatin1Char(p[i] > 0 ? plus[i] : minus[i]);
    return label;
}

void drawOverlays(QPainter &p, const OverlayInfo &o, int w, int h)
{
    if (!o.show.any() || w <= 0 || h <= 0)
        return;
    const double size = std::max(1.0, std::min(w, h) / 300.0);
    const double margin = 10.0 * size;
    p.save();
    p.setRenderHint(QPainter::Antialiasing, false);
    QFont font = p.font();
    font.setPixelSize(std::max(8, int(std::lround(11.0 * size))));
    p.setFont(font);
    const QFontMetricsF fm(font);
    const QColor ink = o.ink;

    if (o.show.scaleBar) {
        const double length = scaleBarLength(o.unitsPerPixel, w);
        if (length > 0.0) {
            const double pixels = length / o.unitsPerPixel;
            const double thick = std::max(2.0, 3.0 * size);
            const QRectF bar(margin, h - margin - thick, pixels, thick);
            p.fillRect(bar, ink);
            const QString text =
                o.unit.isEmpty() ? QString::number(length, 'g', 6) : QStringLiteral("%1 %2").arg(length).arg(o.unit);
            p.setPen(ink);
            p.drawText(QPointF(margin, bar.top() - fm.descent() - 2.0 * size), text);
        }
    }

    if (o.show.orientation) {
        p.setPen(ink);
        const Vec3 right = o.nx, down = o.ny;
        const Vec3 left{-right.x, -right.y, -right.z}, up{-down.x, -down.y, -down.z};
        const struct {
            Vec3 dir;
            int side;  // 0 right, 1 left, 2 bottom, 3 top
        } edges[4] = {{right, 0}, {left, 1}, {down, 2}, {up, 3}};
        for (const auto &e : edges) {
            const QString text = directionLabel(e.dir, o.axes);
            const double tw = fm.horizontalAdvance(text);
            QPointF at;
            switch (e.side) {
            case 0:
                at = QPointF(w - margin - tw, h / 2.0 + fm.ascent() / 2.0);
                break;
            case 1:
                at = QPointF(margin, h / 2.0 + fm.ascent() / 2.0);
                break;
            case 2:
                at = QPointF(w / 2.0 - tw / 2.0, h - margin - fm.descent());
                break;
            default:
                at = QPointF(w / 2.0 - tw / 2.0, margin + fm.ascent());
                break;
            }
            p.drawText(at, text);
        }
    }

    if (o.show.colorBar && !o.bars.empty()) {
        const double barW = 12.0 * size, barH = std::round(h * 0.4);
        const double labelW = fm.horizontalAdvance(QStringLiteral("-0000.00")) + 4.0 * size;
        double x = w - margin - barW - labelW;
        const double top = std::round((h - barH) / 2.0);
        constexpr int steps = 64;
        for (auto it = o.bars.rbegin(); it != o.bars.rend(); ++it) {
            mip::Params pr;
            pr.vColor = it->vColor;
            pr.colorMap = it->map;
            pr.gamma = gammaOrOne(it->gamma);
            // Strength 255 at the top down to almost nothing at the bottom.
            for (int i = 0; i < steps; ++i) {
                const double strength = 255.0 * (steps - i) / steps;
                const double y0 = top + barH * i / steps, y1 = top + barH * (i + 1) / steps;
                p.fillRect(QRectF(x, y0, barW, y1 - y0), QColor(mip::volumeRgb(pr, strength)));
            }
            p.setPen(ink);
            p.setBrush(Qt::NoBrush);
            p.drawRect(QRectF(x, top, barW, barH));
            p.drawText(QPointF(x + barW + 3.0 * size, top + fm.ascent()), QString::number(it->high, 'g', 5));
            p.drawText(QPointF(x + barW + 3.0 * size, top + barH), QString::number(it->low, 'g', 5));
            x -= barW + labelW;
        }
    }
    p.restore();
}

}  // namespace render
