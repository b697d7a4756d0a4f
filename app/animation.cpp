#include "app/animation.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>

#include <array>
#include <cmath>

namespace {

using Quat = std::array<double, 4>;  // w, x, y, z

Vec3 normalised(const Vec3 &v)
{
    const double n = std::sqrt(v.x * v.x + v.y * v.y + v.z * v.z);
    return Vec3{v.x / n, v.y / n, v.z / n};
}

Vec3 cross(const Vec3 &a, const Vec3 &b)
{
    return Vec3{a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

double dot(const Vec3 &a, const Vec3 &b)
{
    return a.x * b.x + a.y * b.y + a.z * b.z;
}

// The rotation whose matrix has the columns nx, ny, nz.
Quat quatOf(const SceneView &v)
{
    const double m00 = v.nx.x, m01 = v.ny.x, m02 = v.nz.x;
    const double m10 = v.nx.y, m11 = v.ny.y, m12 = v.nz.y;
    const double m20 = v.nx.z, m21 = v.ny.z, m22 = v.nz.z;
    const double trace = m00 + m11 + m22;
    Quat q;
    if (trace > 0) {
        const double s = std::sqrt(trace + 1.0) * 2;
        q = {0.25 * s, (m21 - m12) / s, (m02 - m20) / s, (m10 - m01) / s};
    } else if (m00 > m11 && m00 > m22) {
        const double s = std::sqrt(1.0 + m00 - m11 - m22) * 2;
        q = {(m21 - m12) / s, 0.25 * s, (m01 + m10) / s, (m02 + m20) / s};
    } else if (m11 > m22) {
        const double s = std::sqrt(1.0 + m11 - m00 - m22) * 2;
        q = {(m02 - m20) / s, (m01 + m10) / s, 0.25 * s, (m12 + m21) / s};
    } else {
        const double s = std::sqrt(1.0 + m22 - m00 - m11) * 2;
        q = {(m10 - m01) / s, (m02 + m20) / s, (m12 + m21) / s, 0.25 * s};
    }
    return q;
}

void setFromQuat(SceneView &v, Quat q)
{
    const double n = std::sqrt(q[0] * q[0] + q[1] * q[1] + q[2] * q[2] + q[3] * q[3]);
    for (double &c : q)
        c /= n;
    const double w = q[0], x = q[1], y = q[2], z = q[3];
    v.nx = Vec3{1 - 2 * (y * y + z * z), 2 * (x * y + w * z), 2 * (x * z - w * y)};
    v.ny = Vec3{2 * (x * y - w * z), 1 - 2 * (x * x + z * z), 2 * (y * z + w * x)};
    v.nz = Vec3{2 * (x * z + w * y), 2 * (y * z - w * x), 1 - 2 * (x * x + y * y)};
}

// Along the shorter of the two arcs between the rotations.
Quat slerp(const Quat &a, Quat b, double t)
{
    double d = a[0] * b[0] + a[1] * b[1] + a[2] * b[2] + a[3] * b[3];
    if (d < 0) {
        for (double &c : b)
            c = -c;
        d = -d;
    }
    Quat out;
    if (d > 0.9995) {
        for (int i = 0; i < 4; ++i)
            out[size_t(i)] = a[size_t(i)] + t * (b[size_t(i)] - a[size_t(i)]);
        return out;
    }
    const double theta = std::acos(d), s = std::sin(theta);
    const double wa = std::sin((1 - t) * theta) / s, wb = std::sin(t * theta) / s;
    for (int i = 0; i < 4; ++i)
        out[size_t(i)] = wa * a[size_t(i)] + wb * b[size_t(i)];
    return out;
}

bool readVec(const QJsonObject &o, const char *key, Vec3 &v)
{
    const QJsonValue value = o.value(QLatin1String(key));
    if (value.isUndefined())
        return true;
    const QJsonArray a = value.toArray();
    if (!value.isArray() || a.size() != 3)
        return false;
    double c[3];
    for (int i = 0; i < 3; ++i) {
        if (!a.at(i).isDouble() || !std::isfinite(a.at(i).toDouble()))
            return false;
        c[i] = a.at(i).toDouble();
    }
    v = Vec3{c[0], c[1], c[2]};
    return true;
}

}  // namespace

bool parseKeyframes(const QByteArray &json, const SceneView &start, std::vector<Keyframe> &out, QString *error)
{
    auto fail = [error](const QString &why) {
        if (error)
            *error = why;
        return false;
    };
    QJsonParseError parseError;
    const QJsonDocument doc = QJsonDocument::fromJson(json, &parseError);
    if (!doc.isObject())
        return fail(QStringLiteral("not a keyframe file: %1").arg(parseError.errorString()));
    const QJsonArray keys = doc.object().value("keys").toArray();
    if (keys.isEmpty())
        return fail(QStringLiteral("keys: not a list of keyframes"));
    std::vector<Keyframe> read;
    SceneView view = start;
    for (qsizetype i = 0; i < keys.size(); ++i) {
        const QString path = QStringLiteral("keys[%1]").arg(i);
        const QJsonObject o = keys.at(i).toObject();
        if (!keys.at(i).isObject())
            return fail(path + QStringLiteral(": not an object"));
        for (auto it = o.begin(); it != o.end(); ++it)
            if (!QStringList{"frame", "view", "cut", "window", "opacity"}.contains(it.key()))
                return fail(QStringLiteral("%1.%2: unknown key").arg(path, it.key()));
        Keyframe k;
        const double frame = o.value("frame").toDouble(-1);
        if (!o.value("frame").isDouble() || frame != std::floor(frame) || frame < 0 || frame > 100000
            || (!read.empty() && frame <= read.back().frame))
            return fail(path + QStringLiteral(".frame: not a frame number after the key before"));
        k.frame = int(frame);
        if (o.contains("view")) {
            const QJsonObject v = o.value("view").toObject();
            if (!readVec(v, "nx", view.nx) || !readVec(v, "ny", view.ny) || !readVec(v, "nz", view.nz)
                || !readVec(v, "center", view.center))
                return fail(path + QStringLiteral(".view: a direction or centre is not three numbers"));
            if (v.contains("scale")) {
                const double s = v.value("scale").toDouble(-1);
                if (!(s > 0) || !std::isfinite(s))
                    return fail(path + QStringLiteral(".view.scale: not a positive number"));
                view.scale = s;
            }
            // Orthonormal, nz kept: ny loses its part along nz, nx follows.
            const Vec3 nz = normalised(view.nz);
            const Vec3 ny = normalised(Vec3{view.ny.x - dot(view.ny, nz) * nz.x, view.ny.y - dot(view.ny, nz) * nz.y,
                                            view.ny.z - dot(view.ny, nz) * nz.z});
            const Vec3 nx = cross(ny, nz);
            if (!std::isfinite(nx.x + nx.y + nx.z + ny.x + ny.y + ny.z + nz.x + nz.y + nz.z))
                return fail(path + QStringLiteral(".view: the directions are not independent"));
            view.nx = nx;
            view.ny = ny;
            view.nz = nz;
            k.view = view;
        }
        if (o.contains("cut")) {
            const double c = o.value("cut").toDouble(1000);
            if (c != std::floor(c) || c < -100 || c > 100)
                return fail(path + QStringLiteral(".cut: not a whole number from -100 to 100"));
            k.cut = int(c);
        }
        if (o.contains("window")) {
            const QJsonArray w = o.value("window").toArray();
            if (w.size() != 2 || !w.at(0).isDouble() || !w.at(1).isDouble()
                || !(w.at(0).toDouble() < w.at(1).toDouble()))
                return fail(path + QStringLiteral(".window: not two numbers, the lower first"));
            k.windowLow = w.at(0).toDouble();
            k.windowHigh = w.at(1).toDouble();
        }
        if (o.contains("opacity")) {
            const double a = o.value("opacity").toDouble(-1);
            if (a != std::floor(a) || a < 0 || a > 255)
                return fail(path + QStringLiteral(".opacity: not a whole number from 0 to 255"));
            k.opacity = int(a);
        }
        read.push_back(k);
    }
    out = read;
    return true;
}

Animation::Animation(const Scene &base, const std::vector<bool> &fixDir, const std::vector<Keyframe> &keys)
    : base_(base), fixDir_(fixDir)
{
    // Every key complete: what it leaves out, the key before set (the first, the scene).
    State s{0, base.view, {}, {}, {}, {}};
    for (const SceneLayer &l : base.layers) {
        s.cut.push_back(l.cutPos);
        s.opacity.push_back(l.alpha);
        s.low.push_back(l.minTh);
        s.high.push_back(l.maxTh);
    }
    for (const Keyframe &k : keys) {
        s.frame = k.frame;
        if (k.view)
            s.view = *k.view;
        for (size_t i = 0; i < s.cut.size(); ++i) {
            if (k.cut)
                s.cut[i] = *k.cut;
            if (k.opacity)
                s.opacity[i] = *k.opacity;
            if (k.windowLow && k.windowHigh) {
                s.low[i] = *k.windowLow;
                s.high[i] = *k.windowHigh;
            }
        }
        states_.push_back(s);
    }
}

int Animation::frameCount() const
{
    return states_.empty() ? 0 : states_.back().frame + 1;
}

Scene Animation::sceneAt(int f) const
{
    if (states_.empty())
        return base_;
    size_t k = 0;
    while (k + 1 < states_.size() && states_[k + 1].frame <= f)
        ++k;
    const State &a = states_[k];
    const State &b = k + 1 < states_.size() ? states_[k + 1] : a;
    const double t = b.frame > a.frame ? double(std::max(f, a.frame) - a.frame) / (b.frame - a.frame) : 0.0;
    Scene sc = base_;
    sc.view = a.view;
    setFromQuat(sc.view, slerp(quatOf(a.view), quatOf(b.view), t));
    sc.view.center = Vec3{a.view.center.x + t * (b.view.center.x - a.view.center.x),
                          a.view.center.y + t * (b.view.center.y - a.view.center.y),
                          a.view.center.z + t * (b.view.center.z - a.view.center.z)};
    sc.view.scale = a.view.scale * std::pow(b.view.scale / a.view.scale, t);
    for (size_t i = 0; i < sc.layers.size(); ++i) {
        SceneLayer &l = sc.layers[i];
        l.cutPos = int(std::lround(a.cut[i] + t * (b.cut[i] - a.cut[i])));
        l.alpha = int(std::lround(a.opacity[i] + t * (b.opacity[i] - a.opacity[i])));
        l.minTh = a.low[i] + t * (b.low[i] - a.low[i]);
        l.maxTh = a.high[i] + t * (b.high[i] - a.high[i]);
        if (i < fixDir_.size() && !fixDir_[i])
            l.csNz = sc.view.nz;
    }
    return sc;
}
