#include "app/session.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cmath>
#include <iterator>
#include <utility>

#include "data/zarrmeta.h"
#include "data/zarrstore.h"
#include "render/savefile.h"

#include "app/sessiondrawing.h"

namespace {

const char formatTag[] = "oxa-session";
constexpr qint64 maxSessionBytes = qint64(64) << 20;
constexpr qsizetype maxSets = 1000;
constexpr qsizetype maxMeasurements = 10000;

QString tr(const char *text)
{
    return QCoreApplication::translate("Session", text);
}

QJsonArray vecJson(const Vec3 &v)
{
    return QJsonArray{v.x, v.y, v.z};
}

// The names of the views layouts in a session, in the order of ViewsLayout.
const char *const viewsNames[] = {"3d", "3d+slices", "stack", "columns", "rows"};

QString colorName(const QColor &c)
{
    return c.name(QColor::HexRgb);
}

// A strict reader: every key known and present, every value of its type and range.
// The first fault is kept as a one-line reason naming where it is.
class Reader
{
public:
    QString error;

    bool ok() const { return error.isEmpty(); }

    void fail(const QString &path, const char *what)
    {
        if (error.isEmpty())
            error = tr(what).arg(path);
    }

    // Refuses keys other than the known ones.
    void onlyKeys(const QJsonObject &o, const QString &path, std::initializer_list<const char *> keys)
    {
        for (auto it = o.begin(); it != o.end(); ++it) {
            bool known = false;
            for (const char *k : keys)
                known = known || it.key() == QLatin1String(k);
            if (!known)
                fail(join(path, it.key()), "%1: unknown key");
        }
    }

    static QString join(const QString &path, const QString &key)
    {
        return path.isEmpty() ? key : path + QLatin1Char('.') + key;
    }

    QJsonValue member(const QJsonObject &o, const QString &path, const char *key)
    {
        const QJsonValue v = o.value(QLatin1String(key));
        if (v.isUndefined())
            fail(join(path, QLatin1String(key)), "%1: missing");
        return v;
    }

    QJsonObject object(const QJsonObject &o, const QString &path, const char *key)
    {
        const QJsonValue v = member(o, path, key);
        if (!v.isUndefined() && !v.isObject())
            fail(join(path, QLatin1String(key)), "%1: not an object");
        return v.toObject();
    }

    bool boolean(const QJsonObject &o, const QString &path, const char *key)
    {
        const QJsonValue v = member(o, path, key);
        if (!v.isUndefined() && !v.isBool())
            fail(join(path, QLatin1String(key)), "%1: not true or false");
        return v.toBool();
    }

    double number(const QJsonValue &v, const QString &path)
    {
        if (v.isUndefined())
            return 0.0;
        if (!v.isDouble() || !std::isfinite(v.toDouble())) {
            fail(path, "%1: not a finite number");
            return 0.0;
        }
        return v.toDouble();
    }

    double number(const QJsonObject &o, const QString &path, const char *key)
    {
        return number(member(o, path, key), join(path, QLatin1String(key)));
    }

    int integer(const QJsonObject &o, const QString &path, const char *key, int lo, int hi)
    {
        const QString where = join(path, QLatin1String(key));
        const double d = number(member(o, path, key), where);
        if (!ok())
            return lo;
        if (d != std::floor(d) || d < lo || d > hi) {
            fail(where, "%1: out of range");
            return lo;
        }
        return int(d);
    }

    // An array of exactly n finite numbers.
    bool numbers(const QJsonObject &o, const QString &path, const char *key, double *dst, int n)
    {
        const QString where = join(path, QLatin1String(key));
        const QJsonValue v = member(o, path, key);
        if (v.isUndefined())
            return false;
        const QJsonArray a = v.toArray();
        if (!v.isArray() || a.size() != n) {
            fail(where, "%1: not a list of the right length");
            return false;
        }
        for (int i = 0; i < n; ++i)
            dst[i] = number(a.at(i), where);
        return ok();
    }

    Vec3 vec(const QJsonObject &o, const QString &path, const char *key)
    {
        double d[3] = {0.0, 0.0, 0.0};
        numbers(o, path, key, d, 3);
        return Vec3{d[0], d[1], d[2]};
    }

    // Each axis of unit length and every two at right angles, within the tolerance
    // that the program's own turns keep to.
    void viewAxes(const SceneView &v)
    {
        const std::pair<const char *, Vec3> axes[] = {{"view.nx", v.nx}, {"view.ny", v.ny}, {"view.nz", v.nz}};
        for (const auto &[name, axis] : axes)
            if (!render::unitLength(axis))
                fail(QLatin1String(name), "%1: not of unit length");
        for (int i = 0; i < 3 && ok(); ++i)
            for (int j = i + 1; j < 3 && ok(); ++j)
                if (!(std::fabs(render::dot(axes[i].second, axes[j].second)) <= render::viewAxisTolerance))
                    error = tr("%1: not at right angles to %2")
                                .arg(QLatin1String(axes[j].first), QLatin1String(axes[i].first));
    }

    QColor color(const QJsonObject &o, const QString &path, const char *key)
    {
        const QJsonValue v = member(o, path, key);
        if (v.isUndefined())
            return QColor();
        const QString text = v.toString();
        const QColor c = QColor::fromString(text);
        if (!v.isString() || text.size() != 7 || !text.startsWith(QLatin1Char('#')) || !c.isValid())
            fail(join(path, QLatin1String(key)), "%1: not a colour of the form #rrggbb");
        return c;
    }
};

}  // namespace

QByteArray sessionToJson(const Session &s, const QDir &base)
{
    QJsonArray sets;
    for (const SessionSet &set : s.sets) {
        QJsonArray files;
        for (const QString &f : set.files)
            files.append(isZarrAddress(f) ? f : base.relativeFilePath(f));
        QJsonObject o;
        o.insert("files", files);
        o.insert("spacing", QJsonArray{set.spacing.x, set.spacing.y, set.spacing.z});
        o.insert("range", QJsonArray{set.rangeMin, set.rangeMax});
        o.insert(
            "thresholds",
            QJsonObject{{"values", QJsonArray{set.minTh, set.maxTh}}, {"percent", QJsonArray{set.minPC, set.maxPC}}});
        o.insert("volumeColor", colorName(set.vColor));
        o.insert("sectionColor", colorName(set.sColor));
        o.insert("opacity", set.alpha);
        o.insert("showVolume", set.showVolume);
        o.insert("showFrame", set.showFrame);
        o.insert("showCrossSection", set.showCSection);
        o.insert("crossSection",
                 QJsonObject{{"position", set.cutPos}, {"normal", vecJson(set.csNz)}, {"fixedDirection", set.fixDir}});
        o.insert("drawing", drawingToJson(set));
        QJsonObject raw;
        for (const QString &f : set.files)
            if (set.raw.contains(f))
                raw.insert(base.relativeFilePath(f), rawDescriptionText(set.raw.value(f)));
        if (!raw.isEmpty())
            o.insert("raw", raw);
        sets.append(o);
    }
    QJsonObject root;
    root.insert("format", QLatin1String(formatTag));
    root.insert("version", Session::formatVersion);
    root.insert("picture",
                QJsonObject{{"width", s.width}, {"height", s.height}, {"background", colorName(s.background)}});
    root.insert("view",
                QJsonObject{{"nx", vecJson(s.view.nx)},
                            {"ny", vecJson(s.view.ny)},
                            {"nz", vecJson(s.view.nz)},
                            {"center", vecJson(s.view.center)},
                            {"scale", s.view.scale},
                            {"sampling", s.view.sampling == Sampling::Voxels ? "voxels" : "slices"}});
    root.insert("linkCrossSection", s.linkCSection);
    QJsonArray measurements;
    for (const Measurement &m : s.measurements)
        measurements.append(QJsonObject{{"name", m.name},
                                        {"kind", measureKindName(m.kind)},
                                        {"axis", sliceAxisName(m.axis)},
                                        {"depth", m.depth},
                                        {"from", QJsonArray{m.a.x(), m.a.y()}},
                                        {"to", QJsonArray{m.b.x(), m.b.y()}}});
    root.insert("views", QJsonObject{{"layout", QLatin1String(viewsNames[int(s.views)])},
                                     {"crosshair", vecJson(s.crosshair)},
                                     {"measurements", measurements}});
    root.insert("overlays", overlaysToJson(s.overlays));
    root.insert("sets", sets);
    return QJsonDocument(root).toJson(QJsonDocument::Indented);
}

bool sessionFromJson(const QByteArray &json, const QDir &base, Session &out, QString *error)
{
    auto failWith = [error](const QString &why) {
        if (error)
            *error = why;
        return false;
    };
    QJsonParseError parseError;
    const QJsonDocument doc = QJsonDocument::fromJson(json, &parseError);
    if (doc.isNull())
        return failWith(tr("not a session file: %1").arg(parseError.errorString()));
    const QJsonObject root = doc.object();
    if (!doc.isObject() || root.value("format").toString() != QLatin1String(formatTag))
        return failWith(tr("not a session file"));
    const QJsonValue version = root.value("version");
    if (!version.isDouble() || version.toDouble() < 1 || version.toDouble() != std::floor(version.toDouble()))
        return failWith(tr("version: out of range"));
    if (version.toDouble() > Session::formatVersion)
        return failWith(tr("the session was written by a newer version of the program (format %1); this one "
                           "reads format %2")
                            .arg(version.toDouble())
                            .arg(Session::formatVersion));

    Reader r;
    Session s;
    r.onlyKeys(root, QString(), {"format", "version", "picture", "view", "linkCrossSection", "views", "sets", "overlays"});
    if (QString why; r.ok() && !overlaysFromJson(root.value("overlays"), "overlays", s.overlays, &why))
        r.error = why;

    const QJsonObject picture = r.object(root, QString(), "picture");
    r.onlyKeys(picture, "picture", {"width", "height", "background"});
    s.width = r.integer(picture, "picture", "width", 1, 32767);
    s.height = r.integer(picture, "picture", "height", 1, 32767);
    if (r.ok() && !render::pictureSizeOk(s.width, s.height))
        r.fail("picture", "%1: out of range");
    if (QString why; r.ok() && !backgroundFromJson(picture.value("background"), "picture.background", s.background, &why))
        r.error = why;

    const QJsonObject view = r.object(root, QString(), "view");
    r.onlyKeys(view, "view", {"nx", "ny", "nz", "center", "scale", "sampling"});
    s.view.nx = r.vec(view, "view", "nx");
    s.view.ny = r.vec(view, "view", "ny");
    s.view.nz = r.vec(view, "view", "nz");
    if (r.ok())
        r.viewAxes(s.view);
    s.view.center = r.vec(view, "view", "center");
    s.view.scale = r.number(view, "view", "scale");
    if (r.ok() && !(std::isnormal(s.view.scale) && s.view.scale > 0.0))
        r.fail("view.scale", "%1: out of range");
    const QJsonValue sampling = r.member(view, "view", "sampling");
    if (sampling == QJsonValue(QStringLiteral("voxels")))
        s.view.sampling = Sampling::Voxels;
    else if (!sampling.isUndefined() && sampling != QJsonValue(QStringLiteral("slices")))
        r.fail("view.sampling", "%1: not \"slices\" or \"voxels\"");

    s.linkCSection = r.boolean(root, QString(), "linkCrossSection");

    // Since format 2; absent, the picture alone with the crosshair at the centre.
    if (root.contains(QLatin1String("views"))) {
        const QJsonObject views = r.object(root, QString(), "views");
        r.onlyKeys(views, "views", {"layout", "crosshair", "measurements"});
        const QJsonValue layout = r.member(views, "views", "layout");
        bool known = false;
        for (int i = 0; i < int(std::size(viewsNames)); ++i) {
            if (layout == QJsonValue(QLatin1String(viewsNames[i]))) {
                s.views = static_cast<ViewsLayout>(i);
                known = true;
            }
        }
        if (!known && !layout.isUndefined())
            r.fail("views.layout", "%1: not a known layout");
        s.crosshair = r.vec(views, "views", "crosshair");
        const QJsonValue list = r.member(views, "views", "measurements");
        if (!list.isUndefined() && !list.isArray())
            r.fail("views.measurements", "%1: not a list");
        const QJsonArray items = list.toArray();
        if (items.size() > maxMeasurements)
            r.fail("views.measurements", "%1: out of range");
        for (qsizetype i = 0; i < items.size() && r.ok(); ++i) {
            const QString path = QStringLiteral("views.measurements[%1]").arg(i);
            const QJsonObject o = items.at(i).toObject();
            if (!items.at(i).isObject()) {
                r.fail(path, "%1: not an object");
                break;
            }
            r.onlyKeys(o, path, {"name", "kind", "axis", "depth", "from", "to"});
            Measurement m;
            const QJsonValue name = r.member(o, path, "name");
            if (!name.isUndefined() && (!name.isString() || name.toString().size() > 1000))
                r.fail(path + ".name", "%1: not a name");
            m.name = name.toString();
            if (!measureKindFromName(r.member(o, path, "kind").toString(), m.kind))
                r.fail(path + ".kind", "%1: not a known kind");
            if (!sliceAxisFromName(r.member(o, path, "axis").toString(), m.axis))
                r.fail(path + ".axis", "%1: not a known axis");
            m.depth = r.number(o, path, "depth");
            double a[2] = {0.0, 0.0}, b[2] = {0.0, 0.0};
            r.numbers(o, path, "from", a, 2);
            r.numbers(o, path, "to", b, 2);
            m.a = QPointF(a[0], a[1]);
            m.b = QPointF(b[0], b[1]);
            s.measurements.push_back(m);
        }
    }

    const QJsonValue setsValue = r.member(root, QString(), "sets");
    if (!setsValue.isUndefined() && !setsValue.isArray())
        r.fail("sets", "%1: not a list");
    const QJsonArray sets = setsValue.toArray();
    if (sets.size() > maxSets)
        r.fail("sets", "%1: out of range");
    for (qsizetype i = 0; i < sets.size() && r.ok(); ++i) {
        const QString path = QStringLiteral("sets[%1]").arg(i);
        if (!sets.at(i).isObject()) {
            r.fail(path, "%1: not an object");
            break;
        }
        const QJsonObject o = sets.at(i).toObject();
        r.onlyKeys(o, path,
                   {"files", "spacing", "range", "thresholds", "volumeColor", "sectionColor", "opacity", "showVolume",
                    "showFrame", "showCrossSection", "crossSection", "drawing",
                    "raw"});
        SessionSet set;
        const QJsonValue files = r.member(o, path, "files");
        if (!files.isUndefined() && !files.isArray())
            r.fail(path + ".files", "%1: not a list");
        for (const QJsonValue &f : files.toArray()) {
            if (!f.isString() || f.toString().isEmpty()) {
                r.fail(path + ".files", "%1: not a list of file names");
                break;
            }
            // The system would open the name cut short at the NUL: another file.
            if (f.toString().contains(QChar(0))) {
                r.fail(path + ".files", "%1: a file name holds a NUL character");
                break;
            }
            set.files.append(isZarrAddress(f.toString()) ? f.toString()
                                                         : QDir::cleanPath(base.absoluteFilePath(f.toString())));
        }
        double step[3] = {1.0, 1.0, 1.0};
        if (r.numbers(o, path, "spacing", step, 3)) {
            for (double d : step)
                if (!spacingStepOk(d))
                    r.fail(path + ".spacing", "%1: out of range");
            set.spacing = Spacing{step[0], step[1], step[2]};
        }
        double pair[2] = {0.0, 0.0};
        if (r.numbers(o, path, "range", pair, 2)) {
            set.rangeMin = pair[0];
            set.rangeMax = pair[1];
        }
        const QString thPath = path + ".thresholds";
        const QJsonObject th = r.object(o, path, "thresholds");
        r.onlyKeys(th, thPath, {"values", "percent"});
        if (r.numbers(th, thPath, "values", pair, 2)) {
            set.minTh = pair[0];
            set.maxTh = pair[1];
        }
        if (r.numbers(th, thPath, "percent", pair, 2)) {
            set.minPC = pair[0];
            set.maxPC = pair[1];
        }
        set.vColor = r.color(o, path, "volumeColor");
        set.sColor = r.color(o, path, "sectionColor");
        set.alpha = r.integer(o, path, "opacity", 0, 255);
        set.showVolume = r.boolean(o, path, "showVolume");
        set.showFrame = r.boolean(o, path, "showFrame");
        set.showCSection = r.boolean(o, path, "showCrossSection");
        const QString csPath = path + ".crossSection";
        const QJsonObject cs = r.object(o, path, "crossSection");
        r.onlyKeys(cs, csPath, {"position", "normal", "fixedDirection"});
        set.cutPos = r.integer(cs, csPath, "position", -100, 100);
        set.csNz = r.vec(cs, csPath, "normal");
        set.fixDir = r.boolean(cs, csPath, "fixedDirection");
        // A panel whose view has not turned yet has no normal, (0, 0, 0); a cut along
        // it would take all of the set or none.
        const bool noNormal = set.csNz.x == 0.0 && set.csNz.y == 0.0 && set.csNz.z == 0.0;
        if (r.ok() && noNormal && set.showCSection)
            r.fail(csPath + ".normal", "%1: (0, 0, 0) while the cross-section is shown");
        else if (r.ok() && !noNormal && !render::unitLength(set.csNz))
            r.fail(csPath + ".normal", "%1: not of unit length");
        if (QString why; r.ok() && !drawingFromJson(o.value("drawing"), path + ".drawing", set, &why))
            r.error = why;
        // Optional: how the set's raw files are read.
        const QJsonValue raw = o.value(QLatin1String("raw"));
        if (!raw.isUndefined() && !raw.isObject())
            r.fail(path + ".raw", "%1: not an object");
        const QJsonObject described = raw.toObject();
        for (auto it = described.begin(); it != described.end() && r.ok(); ++it) {
            const QString file = QDir::cleanPath(base.absoluteFilePath(it.key()));
            RawDescription d;
            if (!set.files.contains(file))
                r.fail(Reader::join(path + ".raw", it.key()), "%1: not a file of the set");
            else if (!it.value().isString() || !parseRawDescription(it.value().toString(), d))
                r.fail(Reader::join(path + ".raw", it.key()), "%1: not a raw description");
            else
                set.raw.insert(file, d);
        }
        s.sets.push_back(set);
    }
    if (!r.ok())
        return failWith(r.error);
    out = s;
    return true;
}

bool readSessionFile(const QString &fname, Session &out, QString *error)
{
    if (fname.contains(QChar(0)))
        return error ? (*error = tr("the file name holds a NUL character"), false) : false;
    const QFileInfo info(fname);
    if (!info.exists())
        return error ? (*error = tr("the file does not exist"), false) : false;
    // Only a regular file is opened: a pipe or device would block or never end.
    if (!info.isFile())
        return error ? (*error = tr("not a regular file"), false) : false;
    if (info.size() > maxSessionBytes)
        return error ? (*error = tr("the file is too large for a session"), false) : false;
    QFile f(fname);
    if (!f.open(QIODevice::ReadOnly))
        return error ? (*error = f.errorString(), false) : false;
    const QByteArray bytes = f.read(maxSessionBytes + 1);
    if (bytes.size() > maxSessionBytes)
        return error ? (*error = tr("the file is too large for a session"), false) : false;
    return sessionFromJson(bytes, info.absoluteDir(), out, error);
}

bool writeSessionFile(const QString &fname, const Session &s, QString *error)
{
    if (fname.contains(QChar(0)))
        return error ? (*error = tr("the file name holds a NUL character"), false) : false;
    render::SaveFile f(fname);
    if (!f.open(error))
        return false;
    const QByteArray bytes = sessionToJson(s, QFileInfo(fname).absoluteDir());
    if (f.write(bytes) != bytes.size())
        return error ? (*error = f.failure(), false) : false;
    return f.commit(error);
}

void describeRawFiles(SessionSet &set)
{
    for (const QString &f : std::as_const(set.files)) {
        RawDescription d;
        if (rawimport::recall(f, d))
            set.raw.insert(f, d);
    }
}

void rememberRawFiles(const Session &s)
{
    for (const SessionSet &set : s.sets)
        for (auto it = set.raw.cbegin(); it != set.raw.cend(); ++it)
            rawimport::remember(it.key(), it.value());
}

QStringList missingSessionFiles(const Session &s)
{
    QStringList missing;
    for (const SessionSet &set : s.sets)
        for (const QString &f : set.files)
            // An address is not looked up here: its load says what became of it.
            if (!isZarrAddress(f) && !QFileInfo(f).isFile() && !isZarrFolder(f))
                missing.append(f);
    return missing;
}
