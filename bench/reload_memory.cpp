// Peak resident memory across reloads of a 1 GiB set, loaded and drawn as the window's
// first panel does:
//   build/reload_memory [FOLDER [WORKERS [RELOADS [FORMAT]]]]
// FOLDER (default reload-1gib beside the program) gets 1024 grey slices of 1024 x 1024
// pixels in FORMAT (pgm, the default, or png) when it holds none yet; WORKERS 0 (the
// default) is one per core. Each load runs in a loader thread of its own as a panel's
// chosen file list does; a renderer then draws the set fitted into 256 x 256 pixels,
// as the window does after a load.
// Prints the resident and the peak resident memory after each load.
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QStringList>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "data/slicedatas.h"
#include "render/layersettings.h"
#include "render/renderer.h"
#include "render/scene.h"

namespace {

// VmRSS or VmHWM of this process in MiB.
double statusMiB(const char *key)
{
    QFile f("/proc/self/status");
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : f.readAll().split('\n')) {
        if (line.startsWith(key))
            return line.mid(int(std::strlen(key))).trimmed().split(' ').first().toDouble() / 1024.0;
    }
    return -1;
}

bool makeSlices(const QString &dir, int n, const QString &format)
{
    QDir().mkpath(dir);
    // A dim ball holding two bright ones and a bright rod across it, over a faint grain.
    QImage img(n, n, QImage::Format_Grayscale8);
    auto inBall = [n](int x, int y, int z, double cx, double cy, double cz, double r) {
        const double dx = x - cx * n, dy = y - cy * n, dz = z - cz * n;
        return dx * dx + dy * dy + dz * dz < r * r * n * n;
    };
    for (int z = 0; z < n; ++z) {
        for (int y = 0; y < n; ++y) {
            uchar *line = img.scanLine(y);
            for (int x = 0; x < n; ++x) {
                int v = (x * 7 + y * 13 + z * 3) % 16;
                if (inBall(x, y, z, 0.5, 0.5, 0.5, 0.42))
                    v += 80;
                if (inBall(x, y, z, 0.35, 0.45, 0.5, 0.1) || inBall(x, y, z, 0.62, 0.6, 0.4, 0.06))
                    v += 150;
                if (std::abs(x - y) < n / 64 && std::abs(z - n / 2) < n / 64)
                    v += 150;
                line[x] = uchar(std::min(v, 255));
            }
        }
        // Stored without compression: the files are made quickly and read quickly.
        if (!img.save(QStringLiteral("%1/slice%2.%3").arg(dir).arg(z, 4, 10, QLatin1Char('0')).arg(format), nullptr,
                      100))
            return false;
    }
    return true;
}

}  // namespace

int main(int argc, char **argv)
{
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QGuiApplication app(argc, argv);
    const QStringList args = app.arguments();
    const QString dir = args.size() > 1 ? args[1] : app.applicationDirPath() + "/reload-1gib";
    const int workers = args.size() > 2 ? args[2].toInt() : 0;
    const int reloads = args.size() > 3 ? args[3].toInt() : 3;
    const QString format = args.size() > 4 ? args[4] : QStringLiteral("pgm");
    const QString pattern = "*." + format;
    if (QDir(dir).entryList({pattern}, QDir::Files).isEmpty() && !makeSlices(dir, 1024, format)) {
        std::fprintf(stderr, "cannot write the slices to %s\n", qPrintable(dir));
        return 1;
    }
    QStringList files;
    for (const QString &name : QDir(dir).entryList({pattern}, QDir::Files, QDir::Name))
        files << dir + '/' + name;

    QThread loader;
    auto *set = new SliceDatas;
    set->moveToThread(&loader);
    loader.start();
    set->setLoadWorkers(workers);
    render::Renderer renderer;
    std::printf("%lld files, %d workers (0: one per core); before loading: resident %.0f MiB\n",
                static_cast<long long>(files.size()), workers, statusMiB("VmRSS:"));
    for (int i = 1; i <= reloads; ++i) {
        QEventLoop loop;
        QObject::connect(set, &SliceDatas::loadFilesFinished, &loop, &QEventLoop::quit, Qt::QueuedConnection);
        QElapsedTimer clock;
        clock.start();
        QMetaObject::invokeMethod(set, "filesSelected", Qt::QueuedConnection, Q_ARG(QStringList, files));
        loop.exec();
        const double loadMs = double(clock.elapsed());
        app.processEvents();
        LayerSettings settings;
        {
            SliceDatas::ReadGuard guard(*set);
            settings = settingsAfterLoad(settings, loadOutcomeOf(*set));
        }
        Scene scene;
        scene.layers.push_back(sceneLayer(settings, set));
        scene.view = render::fitted(scene, scene.width, scene.height);
        clock.restart();
        const QImage picture = renderer.renderScene(scene);
        const double drawMs = double(clock.nsecsElapsed()) / 1e6;
        std::size_t slices = 0;
        {
            SliceDatas::ReadGuard guard(*set);
            slices = set->slices.size();
        }
        std::printf(
            "load %d: %zu slices in %.0f ms, then drawn in %.0f ms: resident %.0f MiB, peak resident %.0f MiB\n", i,
            slices, loadMs, drawMs, statusMiB("VmRSS:"), statusMiB("VmHWM:"));
        std::fflush(stdout);
    }
    loader.requestInterruption();
    loader.quit();
    loader.wait();
    delete set;
    return 0;
}
