#include "render/measure.h"

#include <QPainter>
#include <QStringList>

#include <algorithm>
#include <cmath>
#include <limits>

#include "data/slicedatas.h"

namespace {

constexpr double notANumber = std::numeric_limits<double>::quiet_NaN();

const char *const kindNames[] = {"ruler", "profile", "rectangle", "ellipse"};
const char *const axisNames[] = {"stack", "columns", "rows"};

// Mean, population standard deviation, minimum and maximum of the finite-or-infinite
// (not NaN) values fed in.
struct Stats {
    qint64 count = 0;
    double sum = 0.0, sumSquares = 0.0;
    double min = std::numeric_limits<double>::infinity(), max = -std::numeric_limits<double>::infinity();
    void add(double v)
    {
        if (std::isnan(v))
            return;
        ++count;
        sum += v;
        sumSquares += v * v;
        min = std::min(min, v);
        max = std::max(max, v);
    }
    void into(RegionFigures &f) const
    {
        if (count == 0) {
            f.mean = f.stdDev = f.min = f.max = notANumber;
            return;
        }
        f.mean = sum / double(count);
        f.stdDev = std::sqrt(std::max(0.0, sumSquares / double(count) - f.mean * f.mean));
        f.min = min;
        f.max = max;
    }
};

double planeStep(const SceneLayer &layer, SliceAxis axis, bool down)
{
    const bool x = down ? false : axis != SliceAxis::Columns;
    const bool y = down ? axis != SliceAxis::Rows : false;
    if (x)
        return layer.spacing.x;
    if (y)
        return layer.spacing.y;
    return layer.spacing.z;
}

int planeExtent(const SliceDatas &set, SliceAxis axis, bool down)
{
    if (!down)
        return axis == SliceAxis::Columns ? int(set.slices.size()) : set.width;
    return axis == SliceAxis::Rows ? int(set.slices.size()) : set.height;
}

QString csvText(const QString &t)
{
    if (!t.contains(QLatin1Char(',')) && !t.contains(QLatin1Char('"')) && !t.contains(QLatin1Char('\n'))
        && !t.contains(QLatin1Char('\r')))
        return t;
    QString q = t;
    q.replace(QLatin1String("\""), QLatin1String("\"\""));
    return QLatin1Char('"') + q + QLatin1Char('"');
}

QString csvNumber(double v)
{
    return std::isnan(v) ? QString() : QString::number(v, 'g', 17);
}

}  // namespace

double measureLength(const Measurement &m)
{
    return std::hypot(m.b.x() - m.a.x(), m.b.y() - m.a.y());
}

std::vector<ProfilePoint> measureProfile(const Measurement &m, const SceneLayer &layer, int maxSamples)
{
    std::vector<ProfilePoint> out;
    if (layer.set == nullptr)
        return out;
    const double length = measureLength(m);
    const double stepLength = 0.5 * std::min({layer.spacing.x, layer.spacing.y, layer.spacing.z});
    double wanted = stepLength > 0.0 && std::isfinite(length) ? std::ceil(length / stepLength) + 1.0 : 2.0;
    const int n = int(std::clamp(wanted, 2.0, double(std::max(2, maxSamples))));
    SliceDatas::ReadGuard guard(*layer.set);
    for (int k = 0; k < n; ++k) {
        const double t = double(k) / double(n - 1);
        const QPointF q = m.a + (m.b - m.a) * t;
        const std::optional<VoxelAt> v = voxelAt(layer, spacePoint(m.axis, q, m.depth));
        out.push_back(ProfilePoint{length * t, v ? v->value : notANumber});
    }
    return out;
}

RegionFigures measureRegion(const Measurement &m, const SceneLayer &layer)
{
    RegionFigures f;
    Stats stats;
    if (layer.set != nullptr) {
        SliceDatas::ReadGuard guard(*layer.set);
        const SliceDatas &set = *layer.set;
        const int nu = planeExtent(set, m.axis, false), nv = planeExtent(set, m.axis, true);
        const double su = planeStep(layer, m.axis, false), sv = planeStep(layer, m.axis, true);
        const double u0 = std::min(m.a.x(), m.b.x()), u1 = std::max(m.a.x(), m.b.x());
        const double v0 = std::min(m.a.y(), m.b.y()), v1 = std::max(m.a.y(), m.b.y());
        const double cu = (u0 + u1) / 2.0, cv = (v0 + v1) / 2.0, ru = (u1 - u0) / 2.0, rv = (v1 - v0) / 2.0;
        if (!set.slices.empty() && nu > 0 && nv > 0 && std::isfinite(u0 + u1 + v0 + v1)) {
            // Only the cells whose centres can lie in the box.
            const int i0 = std::max(0, int(std::floor(u0 / su + nu / 2.0 - 0.5)));
            const int i1 = std::min(nu - 1, int(std::ceil(u1 / su + nu / 2.0 - 0.5)));
            const int j0 = std::max(0, int(std::floor(v0 / sv + nv / 2.0 - 0.5)));
            const int j1 = std::min(nv - 1, int(std::ceil(v1 / sv + nv / 2.0 - 0.5)));
            for (int j = j0; j <= j1; ++j) {
                const double pv = (j + 0.5 - nv / 2.0) * sv;
                for (int i = i0; i <= i1; ++i) {
                    const double pu = (i + 0.5 - nu / 2.0) * su;
                    bool inside = pu >= u0 && pu <= u1 && pv >= v0 && pv <= v1;
                    if (inside && m.kind == MeasureKind::Ellipse) {
                        const double du = ru > 0.0 ? (pu - cu) / ru : 0.0, dv = rv > 0.0 ? (pv - cv) / rv : 0.0;
                        inside = ru > 0.0 && rv > 0.0 && du * du + dv * dv <= 1.0;
                    }
                    if (!inside)
                        continue;
                    const std::optional<VoxelAt> v = voxelAt(layer, spacePoint(m.axis, QPointF(pu, pv), m.depth));
                    if (!v)
                        continue;
                    ++f.count;
                    stats.add(v->value);
                }
            }
            f.area = double(f.count) * su * sv;
        }
    }
    stats.into(f);
    return f;
}

bool inViewPlane(const Measurement &m, const SliceViewState &v, const std::vector<SceneLayer> &layers)
{
    if (m.axis != v.axis)
        return false;
    double step = 1.0;
    for (const SceneLayer &l : layers)
        if (l.set != nullptr) {
            step = v.axis == SliceAxis::Stack ? l.spacing.z : v.axis == SliceAxis::Columns ? l.spacing.x : l.spacing.y;
            break;
        }
    return std::abs(m.depth - v.depth) < step / 2.0;
}

void drawMeasurements(QPainter &p, const SliceViewState &v, int w, int h, const std::vector<Measurement> &ms,
                      const std::vector<SceneLayer> &layers, int selected, const QString &unit)
{
    p.save();
    p.setRenderHint(QPainter::Antialiasing, true);
    for (std::size_t i = 0; i < ms.size(); ++i) {
        const Measurement &m = ms[i];
        if (!inViewPlane(m, v, layers))
            continue;
        const QPointF a = planeToPixel(v, w, h, m.a), b = planeToPixel(v, w, h, m.b);
        const bool chosen = int(i) == selected;
        p.setPen(QPen(chosen ? QColor(255, 60, 0) : QColor(0, 170, 255), chosen ? 2.0 : 1.5));
        p.setBrush(Qt::NoBrush);
        switch (m.kind) {
        case MeasureKind::Ruler:
        case MeasureKind::Profile: {
            p.drawLine(a, b);
            const QString label = m.kind == MeasureKind::Ruler
                                      ? QString::number(measureLength(m), 'g', 4) + (unit.isEmpty() ? QString() : QLatin1Char(' ') + unit)
                                      : m.name;
            p.drawText((a + b) / 2.0 + QPointF(4, -4), label);
            break;
        }
        case MeasureKind::Rectangle:
            p.drawRect(QRectF(a, b).normalized());
            p.drawText(QRectF(a, b).normalized().topLeft() + QPointF(2, -3), m.name);
            break;
        case MeasureKind::Ellipse:
            p.drawEllipse(QRectF(a, b).normalized());
            p.drawText(QRectF(a, b).normalized().topLeft() + QPointF(2, -3), m.name);
            break;
        }
    }
    p.restore();
}

QString measureKindName(MeasureKind k)
{
    return QLatin1String(kindNames[int(k)]);
}

bool measureKindFromName(const QString &name, MeasureKind &k)
{
    for (int i = 0; i < int(std::size(kindNames)); ++i)
        if (name == QLatin1String(kindNames[i])) {
            k = static_cast<MeasureKind>(i);
            return true;
        }
    return false;
}

QString sliceAxisName(SliceAxis a)
{
    return QLatin1String(axisNames[int(a)]);
}

bool sliceAxisFromName(const QString &name, SliceAxis &a)
{
    for (int i = 0; i < int(std::size(axisNames)); ++i)
        if (name == QLatin1String(axisNames[i])) {
            a = static_cast<SliceAxis>(i);
            return true;
        }
    return false;
}

QByteArray measurementsCsv(const std::vector<Measurement> &ms, const std::vector<SceneLayer> &layers)
{
    QStringList lines{QStringLiteral(
        "name,kind,axis,depth,x1,y1,z1,x2,y2,z2,length,set,count,area,mean,sd,min,max")};
    for (const Measurement &m : ms) {
        const Vec3 p = spacePoint(m.axis, m.a, m.depth), q = spacePoint(m.axis, m.b, m.depth);
        const QString head = QStringList{csvText(m.name), measureKindName(m.kind), sliceAxisName(m.axis),
                                         csvNumber(m.depth), csvNumber(p.x), csvNumber(p.y), csvNumber(p.z),
                                         csvNumber(q.x), csvNumber(q.y), csvNumber(q.z),
                                         csvNumber(m.kind == MeasureKind::Ruler || m.kind == MeasureKind::Profile
                                                       ? measureLength(m)
                                                       : notANumber)}
                                 .join(QLatin1Char(','));
        if (m.kind == MeasureKind::Ruler) {
            lines << head + QStringLiteral(",,,,,,,");
            continue;
        }
        for (std::size_t i = 0; i < layers.size(); ++i) {
            RegionFigures f;
            if (m.kind == MeasureKind::Profile) {
                Stats stats;
                for (const ProfilePoint &pt : measureProfile(m, layers[i]))
                    if (!std::isnan(pt.value)) {
                        ++f.count;
                        stats.add(pt.value);
                    }
                stats.into(f);
                f.area = notANumber;
            } else {
                f = measureRegion(m, layers[i]);
            }
            lines << head
                         + QStringLiteral(",%1,%2,%3,%4,%5,%6,%7")
                               .arg(i + 1)
                               .arg(f.count)
                               .arg(csvNumber(f.area), csvNumber(f.mean), csvNumber(f.stdDev), csvNumber(f.min),
                                    csvNumber(f.max));
        }
    }
    return (lines.join(QLatin1Char('\n')) + QLatin1Char('\n')).toUtf8();
}
