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
#include <QLocale>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTextStream>

#include <cmath>
#include <functional>
#include <memory>
#include <vector>

#include "app/animation.h"
#include "app/messagenames.h"
#include "app/renderoptions.h"
#include "app/session.h"
#include "app/slicecommand.h"
#include "data/rawvolume.h"
#include "data/setspace.h"
#include "data/slicedatas.h"
#include "data/zarrmeta.h"
#include "render/renderer.h"
#include "render/savefile.h"
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

// The levels of a multi-resolution image: size, chunks, type and spacing of each,
// and which one the set holds.
QJsonArray levelsJson(const QString &dir, int shown)
{
    ZarrImage image;
    QJsonArray levels;
    if (readZarrImage(dir, image))
        return levels;
    for (std::size_t k = 0; k < image.levels.size(); ++k) {
        const ZarrLevel &l = image.levels[k];
        const ZarrArrayMeta &a = l.array;
        levels.append(QJsonObject{{"path", l.path},
                                  {"size", QJsonArray{a.width(), a.height(), a.depth()}},
                                  {"chunks", QJsonArray{a.chunkWidth(), a.chunkHeight(), a.chunkDepth()}},
                                  {"dtype", zarrDtypeName(a.type, a.bigEndian)},
                                  {"spacing", QJsonArray{l.spacing.x, l.spacing.y, l.spacing.z}},
                                  {"loaded", int(k) == shown}});
    }
    return levels;
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
    if (set.volume.hasDirection) {
        QJsonArray axes;  // each axis' direction: columns, rows, slices
        for (int j = 0; j < 3; ++j)
            axes.append(QJsonArray{set.volume.direction.at(0, j), set.volume.direction.at(1, j),
                                   set.volume.direction.at(2, j)});
        o.insert("direction", axes);
    }
    if (set.volume.volumes > 1)
        o.insert("volumes", set.volume.volumes);
    if (set.volume.finestSize[0] > 0 && !set.acceptedFiles.isEmpty())
        o.insert("levels", levelsJson(set.acceptedFiles.first(), set.volume.level));
    if (set.stacking.text)
        o.insert("stacking", set.stacking.english());
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
        throw Failure{QStringLiteral("cannot write %1: %2").arg(messagenames::shown(fname), why)};
}

// Frame k of a turntable's count frames, made when it is drawn: a long turntable of
// many sets holds one frame's scene at a time.
using FrameScene = std::function<Scene(int k)>;

void writeMovie(render::Renderer &renderer, const QString &output, int count, const FrameScene &frameAt)
{
    const QString ffmpeg = QStandardPaths::findExecutable(QStringLiteral("ffmpeg"));
    if (ffmpeg.isEmpty())
        throw Failure{QStringLiteral("ffmpeg is needed for a movie and was not found; write .png frames instead")};
    QTemporaryDir dir;
    if (!dir.isValid())
        throw Failure{QStringLiteral("cannot make a temporary folder for the frames")};
    for (int k = 0; k < count; ++k)
        writeOrFail(renderer, dir.filePath(QStringLiteral("frame_%1.png").arg(k, 6, 10, QLatin1Char('0'))), frameAt(k));
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
        throw Failure{QStringLiteral("ffmpeg could not write %1: %2").arg(messagenames::shown(output), said.left(300))};
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
    const QCommandLineOption sliceOpt("slice", "Write the slice view through plane INDEX (from 0) along AXIS "
                                               "(stack, columns or rows) instead of the projection.",
                                      "AXIS:INDEX");
    const QCommandLineOption pickOpt("pick", "Write no picture; print the voxel each set shows at picture pixel "
                                             "X,Y as JSON.",
                                     "X,Y");
    const QCommandLineOption rawOpt("raw",
                                    "Read every FILE as raw samples: width, height, slices, type (uint8, int8, "
                                    "uint16, int16, uint32, int32, float32, float64), byte order (le or be) and "
                                    "the header bytes to skip.",
                                    "W,H,D,TYPE,ORDER[,OFFSET]");
    const QCommandLineOption memoryOpt("memory",
                                       "The memory each set's slices may take, in MiB (default: half of the "
                                       "machine's); a multi-resolution image loads its finest level that fits.",
                                       "MB");
    const QCommandLineOption helpOpt({"h", "help"}, "Show this help.");
    const QCommandLineOption versionOpt("version", "Show the version.");
    parser.addOptions({outputOpt, sessionOpt, sizeOpt, turnOpt, fitOpt, samplingOpt, turntableOpt, scaleOpt, animateOpt,
                       infoOpt, sliceOpt, pickOpt, rawOpt, memoryOpt, helpOpt, versionOpt});
    DrawingOptions::addTo(parser);
    parser.addPositionalArgument(
        "FILE", "Slice files of one set, in stack order (or an OME-Zarr folder or http(s):// address).", "[FILE...]");
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
    SliceAxis sliceAxis = SliceAxis::Stack;
    int sliceIndex = 0;
    if (parser.isSet(sliceOpt) && !parseSliceOption(parser.value(sliceOpt), sliceAxis, sliceIndex))
        throw Failure{QStringLiteral("--slice takes AXIS:INDEX, such as stack:12 (axes: stack, columns, rows)"), 2};
    double pickX = 0.0, pickY = 0.0;
    if (parser.isSet(pickOpt) && (!parseTurn(parser.value(pickOpt), pickX, pickY) || pickX < 0 || pickY < 0
                                  || pickX != std::floor(pickX) || pickY != std::floor(pickY)))
        throw Failure{QStringLiteral("--pick takes a picture pixel X,Y, such as 128,40"), 2};
    const bool infoOnly = parser.isSet(infoOpt) || parser.isSet(pickOpt);
    const QString output = parser.value(outputOpt);
    if (!infoOnly && output.isEmpty())
        throw Failure{QStringLiteral("no output file given (-o FILE)"), 2};
    QString nameProblem;
    if (!infoOnly && !render::fileNameUsable(output, &nameProblem))
        throw Failure{QStringLiteral("output file name refused: %1").arg(nameProblem), 2};
    if (fromSession && !render::fileNameUsable(parser.value(sessionOpt), &nameProblem))
        throw Failure{QStringLiteral("session file name refused: %1").arg(nameProblem), 2};

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
    if (parser.isSet(rawOpt)) {
        RawDescription raw;
        QString why;
        if (fromSession)
            throw Failure{QStringLiteral("--raw describes slice files, not a session"), 2};
        if (!parseRawDescription(parser.value(rawOpt), raw, &why))
            throw Failure{QStringLiteral("--raw: %1").arg(why), 2};
        for (const QString &f : files)
            rawimport::remember(f, raw);
    }
    qint64 memoryBytes = 0;  // the default budget
    if (parser.isSet(memoryOpt)) {
        bool ok = false;
        const qint64 mb = parser.value(memoryOpt).toLongLong(&ok);
        if (!ok || mb < 1 || mb > (qint64(1) << 30))
            throw Failure{QStringLiteral("--memory takes a number of MiB from 1 to 1073741824"), 2};
        memoryBytes = mb << 20;
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
    std::vector<Measurement> measurements;
    // The sets share one space, as a window's panels do: volumes whose axes point
    // other ways than the first's are refused.
    const auto space = std::make_shared<SetSpace>();
    Scene scene;
    if (fromSession) {
        Session session;
        QString why;
        if (!readSessionFile(parser.value(sessionOpt), session, &why))
            throw Failure{QStringLiteral("cannot read the session %1: %2")
                              .arg(messagenames::shown(parser.value(sessionOpt)), why)};
        const QStringList missing = missingSessionFiles(session);
        if (!missing.isEmpty()) {
            QString names = messagenames::listed(missing).join(", ");
            if (missing.size() > messagenames::maxListedNames)
                names += QStringLiteral(" and %1 more")
                             .arg(QLocale(QLocale::English).toString(missing.size() - messagenames::maxListedNames));
            throw Failure{QStringLiteral("missing slice files of the session: %1").arg(names)};
        }
        scene.view = session.view;
        measurements = session.measurements;
        rememberRawFiles(session);
        scene.background = session.background;
        scene.overlays = session.overlays;
        if (!sizeGiven) {
            width = session.width;
            height = session.height;
        }
        for (const SessionSet &ss : session.sets) {
            sets.emplace_back();
            sets.back().set->setSpace(space);
            sets.back().set->setMemoryBudget(memoryBytes);
            load(sets.back(), ss.files, err);
            settings.push_back(ss);
        }
    } else {
        // A panel's settings after loading the files into it.
        sets.emplace_back();
        sets.back().set->setSpace(space);
        sets.back().set->setMemoryBudget(memoryBytes);
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
        // A set with finer levels in chunks is drawn at the level the view calls for,
        // its chunks read before the picture is made.
        scene.layers.back().finerLevels = FinerLevels::read;
    }

    if (parser.isSet(infoOpt)) {
        QJsonArray all;
        for (const LoadedSet &ls : sets)
            all.append(info(ls));
        out << QJsonDocument(all).toJson(QJsonDocument::Indented) << Qt::flush;
        return 0;
    }
    for (const LoadedSet &ls : sets) {
        SliceDatas::ReadGuard guard(*ls.set);
        if (ls.set->loaded)
            continue;
        if (ls.chosen.isEmpty())
            throw Failure{QStringLiteral("a set of the session has no slice files")};
        // The first file refused, by name, with its reason ("not found", "unreadable", ...).
        QString why = QStringLiteral("no readable slice among the files of a set");
        const QList<SkippedFile> &skipped = ls.set->skipped;
        if (!skipped.isEmpty())
            why += QStringLiteral(": %1: %2").arg(skipped.first().file, skipped.first().reason);
        if (skipped.size() > 1)
            why += QStringLiteral(" (and %1 more)").arg(skipped.size() - 1);
        throw Failure{why};
    }

    if (parser.isSet(samplingOpt))
        scene.view.sampling = samplingText == QLatin1String("voxels") ? Sampling::Voxels : Sampling::Slices;
    scene.width = scene.frameWidth = width;
    scene.height = scene.frameHeight = height;
    const SceneView start = turnedByDegrees(scene.view, ax, ay);

    // The views to draw: one, or a turn about the picture's vertical axis.
    int count = std::max(turns, 1);
    const auto viewAt = [&](int k) { return k == 0 ? start : render::turned(start, start.ny, 2.0 * pi * k / count); };
    const bool fit = parser.isSet(fitOpt);
    double fitScale = 0.0;
    if (fit) {
        // One zoom for every frame, so a turntable does not breathe.
        Scene probe = scene;
        for (int k = 0; k < count; ++k) {
            probe.view = viewAt(k);
            fitScale = std::max(fitScale, render::fitted(probe, width, height).scale);
        }
    }
    // N times the pixels: the same views, each pixel 1 / N as large.
    if (pixelScale > 1) {
        if (!render::pictureSizeOk(width * pixelScale, height * pixelScale))
            throw Failure{QStringLiteral("a picture of %1 x %2 pixels cannot be made")
                              .arg(qint64(width) * pixelScale)
                              .arg(qint64(height) * pixelScale),
                          2};
        width *= pixelScale;
        height *= pixelScale;
        scene.width = scene.frameWidth = width;
        scene.height = scene.frameHeight = height;
    }
    // A turned view carries the section normals that follow it along, as a drag does.
    const bool turned = ax != 0.0 || ay != 0.0;
    const FrameScene frameAt = [&](int k) {
        Scene f = scene;
        f.view = viewAt(k);
        if (fit) {
            f.view.center = Vec3{};
            if (fitScale > 0.0)
                f.view.scale = fitScale;
        }
        f.view.scale /= pixelScale;
        if (turned || k > 0)
            for (std::size_t i = 0; i < f.layers.size(); ++i)
                if (!settings[i].fixDir)
                    f.layers[i].csNz = f.view.nz;
        return f;
    };

    if (parser.isSet(pickOpt)) {
        if (pickX >= width || pickY >= height)
            throw Failure{QStringLiteral("--pick %1 lies outside the %2 x %3 picture").arg(parser.value(pickOpt)).arg(width).arg(height), 2};
        out << pickJson(frameAt(0), int(pickX), int(pickY)) << Qt::flush;
        return 0;
    }
    // Keyframes instead of one view or a turn: each frame's scene made as it is drawn.
    FrameScene frames = frameAt;
    if (parser.isSet(animateOpt)) {
        if (turns > 0)
            throw Failure{QStringLiteral("give either --turntable or --animate, not both"), 2};
        QFile file(parser.value(animateOpt));
        if (!file.open(QIODevice::ReadOnly))
            throw Failure{QStringLiteral("cannot read %1: %2").arg(parser.value(animateOpt), file.errorString())};
        std::vector<Keyframe> keys;
        QString why;
        Scene base = frameAt(0);
        base.view.scale *= pixelScale;
        if (!parseKeyframes(file.read(qint64(16) << 20), base.view, keys, &why))
            throw Failure{QStringLiteral("%1: %2").arg(parser.value(animateOpt), why), 2};
        std::vector<bool> fixed;
        for (const LayerSettings &s : settings)
            fixed.push_back(s.fixDir);
        const auto animation = std::make_shared<const Animation>(base, fixed, keys);
        turns = count = animation->frameCount();
        frames = [animation, pixelScale](int k) {
            Scene f = animation->sceneAt(k);
            f.view.scale /= pixelScale;
            return f;
        };
    }
    render::Renderer renderer;
    if (parser.isSet(sliceOpt)) {
        QString why;
        const QImage picture = slicePicture(frameAt(0), sliceAxis, sliceIndex, width, height, measurements, &why);
        if (picture.isNull())
            throw Failure{QStringLiteral("cannot draw --slice %1: %2").arg(parser.value(sliceOpt), why)};
        if (!render::writePicture(output, picture.convertToFormat(QImage::Format_ARGB32), render::SvgOverlay(), &why))
            throw Failure{QStringLiteral("cannot write %1: %2").arg(output, why)};
        return 0;
    }
    if (isMovie(suffix)) {
        writeMovie(renderer, output, count, frames);
        return 0;
    }
    if (turns == 0) {
        writeOrFail(renderer, output, frames(0));
        return 0;
    }
    // A turntable that fails part way leaves none of its frames behind.
    QStringList written;
    try {
        for (int k = 0; k < count; ++k) {
            const QString name = frameName(output, k, count);
            writeOrFail(renderer, name, frames(k));
            written.append(name);
        }
    } catch (...) {
        for (const QString &name : std::as_const(written))
            QFile::remove(name);
        throw;
    }
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
