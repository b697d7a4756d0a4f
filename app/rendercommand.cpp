#include "app/rendercommand.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTextStream>

#include <cmath>
#include <memory>
#include <vector>

#include "app/animation.h"
#include "app/renderoptions.h"
#include "app/session.h"
#include "data/slicedatas.h"
#include "render/renderer.h"
#include "render/scene.h"

namespace {

constexpr double pi = 3.141592653589793;

// A failure: its one line and the exit status.
struct Failure {
    QString message;
    int status = 1;
};

// One loaded set and what the load said about its files.
struct LoadedSet {
    std::unique_ptr<SliceDatas> set = std::make_unique<SliceDatas>();
    QStringList chosen;
    QStringList accepted;
};

// Loads in this thread exactly as a panel's loader does in its own; after a
// second, a progress line on err.
void load(LoadedSet &ls, const QStringList &files, QTextStream &err)
{
    ls.chosen = files;
    QElapsedTimer clock;
    clock.start();
    bool progressShown = false;
    QObject::connect(ls.set.get(), &SliceDatas::loadedNewFile, [&](const QString &name) {
        ls.accepted.append(name);
        if (clock.elapsed() > 1000) {
            err << "\rloading: " << ls.accepted.size() << " of " << files.size() << " files" << Qt::flush;
            progressShown = true;
        }
    });
    ls.set->filesSelected(files);
    QObject::disconnect(ls.set.get(), nullptr, nullptr, nullptr);
    if (progressShown)
        err << "\n" << Qt::flush;
}

QJsonObject info(const LoadedSet &ls)
{
    const SliceDatas &set = *ls.set;
    SliceDatas::ReadGuard guard(set);
    QJsonArray skipped;
    for (const SkippedFile &f : set.skipped)
        skipped.append(QJsonObject{{"file", f.file}, {"reason", f.reason}});
    QJsonObject o;
    o.insert("slices", int(set.slices.size()));
    o.insert("width", set.width);
    o.insert("height", set.height);
    o.insert("min", set.loaded ? QJsonValue(set.minV) : QJsonValue());
    o.insert("max", set.loaded ? QJsonValue(set.maxV) : QJsonValue());
    o.insert("spacing", QJsonArray{set.spacing.x, set.spacing.y, set.spacing.z});
    if (!set.spacingUnit.isEmpty())
        o.insert("unit", set.spacingUnit);
    o.insert("files", QJsonArray::fromStringList(set.acceptedFiles));
    o.insert("skipped", skipped);
    return o;
}

bool parseSize(const QString &text, int &w, int &h)
{
    static const QRegularExpression form(QStringLiteral("^(\\d{1,9})x(\\d{1,9})$"));
    const QRegularExpressionMatch m = form.match(text);
    if (!m.hasMatch())
        return false;
    w = m.captured(1).toInt();
    h = m.captured(2).toInt();
    return true;
}

bool parseTurn(const QString &text, double &ax, double &ay)
{
    const QStringList parts = text.split(QLatin1Char(','));
    if (parts.size() != 2)
        return false;
    bool okX = false, okY = false;
    ax = parts[0].trimmed().toDouble(&okX);
    ay = parts[1].trimmed().toDouble(&okY);
    return okX && okY && std::isfinite(ax) && std::isfinite(ay);
}

// The view turned as by a drag: by ax degrees about the picture's vertical axis
// (a drag to the right), then by ay degrees about its horizontal axis (a drag upward).
SceneView turnedByDegrees(SceneView v, double ax, double ay)
{
    if (ax != 0.0)
        v = render::turned(v, v.ny, ax * pi / 180.0);
    if (ay != 0.0)
        v = render::turned(v, v.nx, ay * pi / 180.0);
    return v;
}

bool isMovie(const QString &suffix)
{
    return suffix == QLatin1String("mp4") || suffix == QLatin1String("webm") || suffix == QLatin1String("gif");
}

// FILE_000.png ... for frame k of n.
QString frameName(const QString &output, int k, int n)
{
    const QFileInfo fi(output);
    const int digits = std::max(3, int(QString::number(n - 1).size()));
    const QString base = fi.completeBaseName() + QStringLiteral("_%1").arg(k, digits, 10, QLatin1Char('0'));
    const QString name = fi.suffix().isEmpty() ? base : base + QLatin1Char('.') + fi.suffix();
    return fi.dir().filePath(name);
}

void writeOrFail(render::Renderer &renderer, const QString &fname, const Scene &scene)
{
    QString why;
    if (!renderer.writeScene(fname, scene, &why))
        throw Failure{QStringLiteral("cannot write %1: %2").arg(fname, why)};
}

void writeMovie(render::Renderer &renderer, const QString &output, const std::vector<Scene> &frames)
{
    const QString ffmpeg = QStandardPaths::findExecutable(QStringLiteral("ffmpeg"));
    if (ffmpeg.isEmpty())
        throw Failure{QStringLiteral("ffmpeg is needed for a movie and was not found; write .png frames instead")};
    QTemporaryDir dir;
    if (!dir.isValid())
        throw Failure{QStringLiteral("cannot make a temporary folder for the frames")};
    for (std::size_t k = 0; k < frames.size(); ++k)
        writeOrFail(renderer, dir.filePath(QStringLiteral("frame_%1.png").arg(k, 6, 10, QLatin1Char('0'))), frames[k]);
    const QString suffix = QFileInfo(output).suffix().toLower();
    // Movie encoders want even sides; the picture is padded with white.
    const QString pad = QStringLiteral("pad=ceil(iw/2)*2:ceil(ih/2)*2:color=white");
    QStringList args{"-v", "error", "-y", "-framerate", "25", "-i", dir.filePath("frame_%06d.png")};
    if (suffix == QLatin1String("gif"))
        args << "-vf"
             << "split[a][b];[a]palettegen[p];[b][p]paletteuse"
             << "-loop"
             << "0";
    else if (suffix == QLatin1String("webm"))
        args << "-vf" << pad << "-c:v"
             << "libvpx-vp9"
             << "-b:v"
             << "0"
             << "-crf"
             << "30"
             << "-pix_fmt"
             << "yuv420p";
    else
        args << "-vf" << pad << "-c:v"
             << "libx264"
             << "-pix_fmt"
             << "yuv420p"
             << "-crf"
             << "18";
    args << output;
    QProcess proc;
    proc.setProcessChannelMode(QProcess::MergedChannels);
    proc.start(ffmpeg, args);
    if (!proc.waitForFinished(-1) || proc.exitStatus() != QProcess::NormalExit || proc.exitCode() != 0) {
        const QString said = QString::fromLocal8Bit(proc.readAll()).simplified();
        throw Failure{QStringLiteral("ffmpeg could not write %1: %2").arg(output, said.left(300))};
    }
}

int run(const QStringList &args, QTextStream &out, QTextStream &err)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Draws the picture of slice files (one set, in stack order) or of a saved session, as the window draws it."));
    const QCommandLineOption outputOpt({"o", "output"}, "Picture to write; the suffix picks the format.", "FILE");
    const QCommandLineOption sessionOpt("session", "Draw a saved session instead of FILE...", "FILE");
    const QCommandLineOption sizeOpt("size", "Picture size (default: the session's, else 256x256).", "WxH");
    const QCommandLineOption turnOpt("turn",
                                     "Turn the view by AX and AY degrees about the picture's vertical and "
                                     "horizontal axes.",
                                     "AX,AY");
    const QCommandLineOption fitOpt("fit", "Choose zoom and pan so that every set fills the picture.");
    const QCommandLineOption samplingOpt("sampling", "slices (default, or the session's) or voxels.", "RULE");
    const QCommandLineOption turntableOpt("turntable",
                                          "Write N pictures turning once around the vertical axis "
                                          "(FILE_000.png ...), or one movie for .mp4, .webm, .gif.",
                                          "N");
    const QCommandLineOption scaleOpt("scale",
                                      "Draw the picture at N times its pixels (1 to 16), the zoom scaled with it, so "
                                      "it frames the same view.",
                                      "N");
    const QCommandLineOption animateOpt("animate",
                                        "Write one picture per frame of the keyframes in FILE (FILE_000.png ...), "
                                        "or one movie for .mp4, .webm, .gif.",
                                        "FILE");
    const QCommandLineOption infoOpt("info", "Write no picture; print what each set holds as JSON.");
    const QCommandLineOption helpOpt({"h", "help"}, "Show this help.");
    const QCommandLineOption versionOpt("version", "Show the version.");
    parser.addOptions({outputOpt, sessionOpt, sizeOpt, turnOpt, fitOpt, samplingOpt, turntableOpt, scaleOpt, animateOpt, infoOpt,
                       helpOpt, versionOpt});
    DrawingOptions::addTo(parser);
    parser.addPositionalArgument("FILE", "Slice files of one set, in stack order.", "[FILE...]");
    if (!parser.parse(args))
        throw Failure{parser.errorText(), 2};
    if (parser.isSet(helpOpt)) {
        out << parser.helpText() << Qt::flush;
        return 0;
    }
    if (parser.isSet(versionOpt)) {
        out << "oxa-render " << QCoreApplication::applicationVersion() << "\n" << Qt::flush;
        return 0;
    }

    const QStringList files = parser.positionalArguments();
    const bool fromSession = parser.isSet(sessionOpt);
    if (fromSession && !files.isEmpty())
        throw Failure{QStringLiteral("give either slice files or --session, not both"), 2};
    if (!fromSession && files.isEmpty())
        throw Failure{QStringLiteral("no slice files given (see --help)"), 2};
    const bool infoOnly = parser.isSet(infoOpt);
    const QString output = parser.value(outputOpt);
    if (!infoOnly && output.isEmpty())
        throw Failure{QStringLiteral("no output file given (-o FILE)"), 2};

    int width = 256, height = 256;
    const bool sizeGiven = parser.isSet(sizeOpt);
    if (sizeGiven) {
        if (!parseSize(parser.value(sizeOpt), width, height))
            throw Failure{QStringLiteral("--size takes WxH, such as 512x512"), 2};
        if (!render::pictureSizeOk(width, height))
            throw Failure{QStringLiteral("picture size %1 refused: each side 1 to 32767 and at most 268435456 "
                                         "pixels")
                              .arg(parser.value(sizeOpt)),
                          2};
    }
    double ax = 0.0, ay = 0.0;
    if (parser.isSet(turnOpt) && !parseTurn(parser.value(turnOpt), ax, ay))
        throw Failure{QStringLiteral("--turn takes two angles in degrees, such as 30,-15"), 2};
    int turns = 0;
    if (parser.isSet(turntableOpt)) {
        bool ok = false;
        turns = parser.value(turntableOpt).toInt(&ok);
        if (!ok || turns < 1 || turns > 100000)
            throw Failure{QStringLiteral("--turntable takes a number of pictures from 1 to 100000"), 2};
    }
    int pixelScale = 1;
    if (parser.isSet(scaleOpt)) {
        bool ok = false;
        pixelScale = parser.value(scaleOpt).toInt(&ok);
        if (!ok || pixelScale < 1 || pixelScale > 16)
            throw Failure{QStringLiteral("--scale takes a whole number from 1 to 16"), 2};
    }
    DrawingOptions drawing;
    if (QString why; !drawing.readFrom(parser, &why))
        throw Failure{why, 2};
    const QString samplingText = parser.value(samplingOpt);
    if (parser.isSet(samplingOpt) && samplingText != QLatin1String("slices") && samplingText != QLatin1String("voxels"))
        throw Failure{QStringLiteral("--sampling takes slices or voxels"), 2};
    const QString suffix = QFileInfo(output).suffix().toLower();
    if (!infoOnly) {
        const bool knownSuffix = render::rasterFormats().contains(suffix) || suffix == QLatin1String("svg");
        if (isMovie(suffix) && suffix != QLatin1String("gif") && turns == 0 && !parser.isSet(animateOpt))
            throw Failure{QStringLiteral("a movie needs --turntable N or --animate FILE"), 2};
        if (!knownSuffix && !isMovie(suffix))
            throw Failure{QStringLiteral("cannot write pictures of type \"%1\"").arg(suffix), 2};
    }

    // The sets and how each is drawn.
    std::vector<LoadedSet> sets;
    std::vector<LayerSettings> settings;
    Scene scene;
    if (fromSession) {
        Session session;
        QString why;
        if (!readSessionFile(parser.value(sessionOpt), session, &why))
            throw Failure{QStringLiteral("cannot read the session %1: %2").arg(parser.value(sessionOpt), why)};
        const QStringList missing = missingSessionFiles(session);
        if (!missing.isEmpty())
            throw Failure{QStringLiteral("missing slice files of the session: %1").arg(missing.join(", "))};
        scene.view = session.view;
        scene.background = session.background;
        scene.overlays = session.overlays;
        if (!sizeGiven) {
            width = session.width;
            height = session.height;
        }
        for (const SessionSet &ss : session.sets) {
            sets.emplace_back();
            load(sets.back(), ss.files, err);
            settings.push_back(ss);
        }
    } else {
        // A panel's settings after loading the files into it.
        sets.emplace_back();
        load(sets.back(), files, err);
        LayerSettings s;
        s.csNz = scene.view.nz;
        SliceDatas::ReadGuard guard(*sets.back().set);
        settings.push_back(settingsAfterLoad(s, loadOutcomeOf(*sets.back().set)));
    }
    drawing.applyTo(scene);
    for (std::size_t i = 0; i < sets.size(); ++i) {
        drawing.applyTo(settings[i]);
        scene.layers.push_back(sceneLayer(settings[i], sets[i].set.get()));
        drawing.applyTo(scene.layers.back());
    }

    if (infoOnly) {
        QJsonArray all;
        for (const LoadedSet &ls : sets)
            all.append(info(ls));
        out << QJsonDocument(all).toJson(QJsonDocument::Indented) << Qt::flush;
        return 0;
    }
    for (const LoadedSet &ls : sets) {
        SliceDatas::ReadGuard guard(*ls.set);
        if (!ls.set->loaded)
            throw Failure{ls.chosen.isEmpty() ? QStringLiteral("a set of the session has no slice files")
                                              : QStringLiteral("no readable slice among the files of a set")};
    }

    if (parser.isSet(samplingOpt))
        scene.view.sampling = samplingText == QLatin1String("voxels") ? Sampling::Voxels : Sampling::Slices;
    scene.width = scene.frameWidth = width;
    scene.height = scene.frameHeight = height;
    const SceneView start = turnedByDegrees(scene.view, ax, ay);

    // The views to draw: one, or a turn about the picture's vertical axis.
    std::vector<SceneView> views;
    int count = std::max(turns, 1);
    for (int k = 0; k < count; ++k)
        views.push_back(k == 0 ? start : render::turned(start, start.ny, 2.0 * pi * k / count));
    if (parser.isSet(fitOpt)) {
        // One zoom for every frame, so a turntable does not breathe.
        double scale = 0.0;
        for (SceneView &v : views) {
            Scene probe = scene;
            probe.view = v;
            scale = std::max(scale, render::fitted(probe, width, height).scale);
        }
        for (SceneView &v : views) {
            v.center = Vec3{};
            if (scale > 0.0)
                v.scale = scale;
        }
    }
    // N times the pixels: the same views, each pixel 1 / N as large.
    if (pixelScale > 1) {
        if (!render::pictureSizeOk(width * pixelScale, height * pixelScale))
            throw Failure{QStringLiteral("a picture of %1 x %2 pixels cannot be made")
                              .arg(qint64(width) * pixelScale)
                              .arg(qint64(height) * pixelScale),
                          2};
        for (SceneView &v : views)
            v.scale /= pixelScale;
        width *= pixelScale;
        height *= pixelScale;
        scene.width = scene.frameWidth = width;
        scene.height = scene.frameHeight = height;
    }
    // A turned view carries the section normals that follow it along, as a drag does.
    const bool turned = ax != 0.0 || ay != 0.0;
    std::vector<Scene> frames;
    for (std::size_t k = 0; k < views.size(); ++k) {
        Scene f = scene;
        f.view = views[k];
        if (turned || k > 0)
            for (std::size_t i = 0; i < f.layers.size(); ++i)
                if (!settings[i].fixDir)
                    f.layers[i].csNz = f.view.nz;
        frames.push_back(f);
    }

    if (parser.isSet(animateOpt)) {
        if (turns > 0)
            throw Failure{QStringLiteral("give either --turntable or --animate, not both"), 2};
        QFile file(parser.value(animateOpt));
        if (!file.open(QIODevice::ReadOnly))
            throw Failure{QStringLiteral("cannot read %1: %2").arg(parser.value(animateOpt), file.errorString())};
        std::vector<Keyframe> keys;
        QString why;
        if (!parseKeyframes(file.read(qint64(16) << 20), frames.front().view, keys, &why))
            throw Failure{QStringLiteral("%1: %2").arg(parser.value(animateOpt), why), 2};
        std::vector<bool> fixed;
        for (const LayerSettings &s : settings)
            fixed.push_back(s.fixDir);
        frames = animatedScenes(frames.front(), fixed, keys);
        count = int(frames.size());
        turns = count;
    }
    render::Renderer renderer;
    if (isMovie(suffix)) {
        writeMovie(renderer, output, frames);
        return 0;
    }
    if (turns == 0) {
        writeOrFail(renderer, output, frames.front());
        return 0;
    }
    for (int k = 0; k < count; ++k)
        writeOrFail(renderer, frameName(output, k, count), frames[std::size_t(k)]);
    return 0;
}

}  // namespace

int runRenderCommand(const QStringList &args, QTextStream &out, QTextStream &err)
{
    try {
        return run(args, out, err);
    } catch (const Failure &f) {
        err << "oxa-render: " << f.message << "\n" << Qt::flush;
        return f.status;
    } catch (const std::exception &e) {
        err << "oxa-render: " << e.what() << "\n" << Qt::flush;
        return 1;
    }
}
