// Streamed OME-Zarr volumes larger than the memory budget: making them, converting
// them, opening them and drawing them as the window does. A plain timed program, not
// run by ctest:
//   build/bench_stream kernel
//       ns per sample of the streamed rays, every chunk in memory (a pyramid made in
//       memory; no files)
//   build/bench_stream make DIR N u16|u8 [files|direct]
//       writes the noisy phantom of N^3 samples to DIR/phantomN.zarr: "files" writes
//       it as NIfTI files of 64 slices to DIR/inputN/ and converts them with the
//       oxa-convert beside this program (its speed and peak memory measured, the
//       input deleted afterwards); "direct" hands the slices, made slab by slab, to
//       the converter's pyramid writer in this process (for inputs the disk cannot
//       hold beside their pyramid)
//   build/bench_stream open DIR/phantomN.zarr [BUDGET_MB]
//       opens it through a panel's loader with the window's budget (2048 MiB by
//       default) and times the first picture, the fitted picture complete at its
//       level, drags and a zoom to 256 voxels of level 0 across, while sampling the
//       resident memory
//   build/bench_stream all DIR
//       make and open both volumes (2048^3 16-bit, 4096^3 8-bit), each deleted after
#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QThread>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <tuple>
#include <vector>

#include "data/slicedata.h"
#include "data/slicedatas.h"
#include "data/streamedvolume.h"
#include "data/volumeslices.h"
#include "data/zarrwriter.h"
#include "render/coarse.h"
#include "render/layersettings.h"
#include "render/raycast.h"
#include "render/renderer.h"
#include "render/scene.h"
#include "render/streamdraw.h"
#include "render/volumeparams.h"
#include "tools/volumewriters.h"

extern char **environ;

namespace {

double nowMs()
{
    using namespace std::chrono;
    return duration<double, std::milli>(steady_clock::now().time_since_epoch()).count();
}

// The processor time of every thread of this process.
double cpuMs()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

// VmRSS or VmHWM of this process in MiB.
double statusMiB(const char *key)
{
    QFile f("/proc/self/status");
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : f.readAll().split('\n'))
        if (line.startsWith(key))
            return line.mid(int(std::strlen(key))).trimmed().split(' ').first().toDouble() / 1024.0;
    return -1;
}

// Samples the resident memory every 10 ms while it lives and keeps the largest.
class RssSampler
{
public:
    RssSampler()
        : thread_([this] {
              const long page = sysconf(_SC_PAGESIZE);
              while (!stop_.load()) {
                  if (FILE *f = std::fopen("/proc/self/statm", "r")) {
                      long size = 0, resident = 0;
                      if (std::fscanf(f, "%ld %ld", &size, &resident) == 2)
                          peak_.store(std::max(peak_.load(), double(resident) * double(page) / 1048576.0));
                      std::fclose(f);
                  }
                  std::this_thread::sleep_for(std::chrono::milliseconds(10));
              }
          })
    {
    }
    ~RssSampler()
    {
        stop_.store(true);
        thread_.join();
    }
    double peakMiB() const { return peak_.load(); }
    void reset() { peak_.store(0); }

private:
    std::atomic<bool> stop_{false};
    std::atomic<double> peak_{0};
    std::thread thread_;
};

// ---------------------------------------------------------------------------------
// The phantom: a head-like ellipsoid holding two bright balls and a bright rod, with
// noise over everything (a hash of the place, so the same everywhere and every run).
// Its samples in 16 bits span 0 .. 4095 with 8 bits of noise, in 8 bits 0 .. 255 with
// 4 bits of noise: both compress about twofold, as reconstructions do.

quint32 noiseAt(quint64 i)
{
    i += 0x9e3779b97f4a7c15ull;
    i = (i ^ (i >> 30)) * 0xbf58476d1ce4e5b9ull;
    i = (i ^ (i >> 27)) * 0x94d049bb133111ebull;
    return quint32(i ^ (i >> 31));
}

struct Ball {
    double cx, cy, cz, rx, ry, rz;
    int add;  // in 16-bit units
};

// Slice z of the N^3 phantom into out (N * N samples of `bytes` bytes).
void phantomSlice(int n, int z, int bytes, unsigned char *out)
{
    const Ball balls[] = {{0.5, 0.5, 0.5, 0.44, 0.40, 0.42, 1000},
                          {0.36, 0.45, 0.5, 0.10, 0.10, 0.10, 2000},
                          {0.63, 0.6, 0.42, 0.06, 0.06, 0.06, 2400}};
    std::vector<int> row(static_cast<std::size_t>(n));
    for (int y = 0; y < n; ++y) {
        std::fill(row.begin(), row.end(), 100);
        for (const Ball &b : balls) {
            const double dy = (y - b.cy * n) / (b.ry * n), dz = (z - b.cz * n) / (b.rz * n);
            const double r2 = 1.0 - dy * dy - dz * dz;
            if (r2 <= 0)
                continue;
            const double half = std::sqrt(r2) * b.rx * n;
            const int x0 = std::max(0, int(std::ceil(b.cx * n - half))), x1 = std::min(n, int(b.cx * n + half) + 1);
            for (int x = x0; x < x1; ++x)
                row[std::size_t(x)] += b.add;
        }
        // The rod: along x = y, in the middle slices.
        if (std::abs(z - n / 2) < n / 64)
            for (int x = std::max(0, y - n / 64); x < std::min(n, y + n / 64); ++x)
                row[std::size_t(x)] += 1500;
        const quint64 base = (quint64(z) * quint64(n) + quint64(y)) * quint64(n);
        if (bytes == 2) {
            quint16 *o = reinterpret_cast<quint16 *>(out) + std::size_t(y) * std::size_t(n);
            for (int x = 0; x < n; ++x)
                o[x] = quint16(std::min(4095, row[std::size_t(x)] + int(noiseAt(base + quint64(x)) & 255u)));
        } else {
            unsigned char *o = out + std::size_t(y) * std::size_t(n);
            for (int x = 0; x < n; ++x)
                o[x] = uchar(std::min(255, row[std::size_t(x)] / 16 + int(noiseAt(base + quint64(x)) & 15u)));
        }
    }
}

// Slices z0 .. z1 of the phantom, made on two threads.
void phantomSlab(int n, int z0, int z1, int bytes, unsigned char *out)
{
    const std::size_t slice = std::size_t(n) * std::size_t(n) * std::size_t(bytes);
    std::atomic<int> next{z0};
    auto work = [&] {
        for (int z = next++; z < z1; z = next++)
            phantomSlice(n, z, bytes, out + std::size_t(z - z0) * slice);
    };
    std::thread other(work);
    work();
    other.join();
}

// Runs the program with its arguments; its wall time, exit status and peak resident
// memory (MiB).
struct ChildRun {
    int status = -1;
    double ms = 0, cpuMs = 0, peakMiB = 0;
};

ChildRun runChild(const QStringList &args)
{
    std::vector<QByteArray> bytes;
    for (const QString &a : args)
        bytes.push_back(a.toLocal8Bit());
    std::vector<char *> argv;
    for (QByteArray &b : bytes)
        argv.push_back(b.data());
    argv.push_back(nullptr);
    ChildRun r;
    const double t0 = nowMs();
    pid_t pid = 0;
    if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0)
        return r;
    int status = 0;
    rusage use{};
    if (wait4(pid, &status, 0, &use) < 0)
        return r;
    r.ms = nowMs() - t0;
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.peakMiB = double(use.ru_maxrss) / 1024.0;
    r.cpuMs = double(use.ru_utime.tv_sec + use.ru_stime.tv_sec) * 1e3
        + double(use.ru_utime.tv_usec + use.ru_stime.tv_usec) / 1e3;
    return r;
}

bool removeTree(const QString &dir)
{
    return QDir(dir).removeRecursively();
}

int make(const QString &dir, int n, const QString &type, const QString &how)
{
    const int bytes = type == QLatin1String("u16") ? 2 : 1;
    const QString zarr = QStringLiteral("%1/phantom%2.zarr").arg(dir).arg(n);
    removeTree(zarr);
    const double inputMB = double(n) * n * n * bytes / 1e6;
    if (how == QLatin1String("files")) {
        // NIfTI files of 64 slices (512 MiB for 2048 x 2048 16-bit), as a scanner's
        // export in parts: the converter reads one file at a time.
        const QString in = QStringLiteral("%1/input%2").arg(dir).arg(n);
        QDir().mkpath(in);
        const int per = 64;
        QStringList files;
        const double t0 = nowMs();
        for (int z0 = 0; z0 < n; z0 += per) {
            const int z1 = std::min(n, z0 + per);
            volumewriters::Volume v;
            v.size[0] = n, v.size[1] = n, v.size[2] = z1 - z0;
            v.type = bytes == 2 ? volumewriters::Type::u16 : volumewriters::Type::u8;
            v.compress = false;
            v.samples.resize(qsizetype(n) * n * (z1 - z0) * bytes);
            phantomSlab(n, z0, z1, bytes, reinterpret_cast<unsigned char *>(v.samples.data()));
            const QString name = QStringLiteral("%1/part%2.nii").arg(in).arg(z0 / per, 4, 10, QLatin1Char('0'));
            QString why;
            if (!volumewriters::write(name, v, &why)) {
                std::fprintf(stderr, "cannot write %s: %s\n", qPrintable(name), qPrintable(why));
                return 1;
            }
            files << name;
        }
        std::printf("input: %d NIfTI files, %.0f MB, written in %.1f s\n", int(files.size()), inputMB,
                    (nowMs() - t0) / 1000);
        std::fflush(stdout);
        sync();
        QStringList args{QCoreApplication::applicationDirPath() + "/oxa-convert"};
        args << files << "-o" << zarr;
        const ChildRun r = runChild(args);
        std::printf("oxa-convert: exit %d, %.1f s, %.0f MB/s of input (%.1f s of processor time, %.0f MB a processor "
                    "second), peak resident %.0f MiB\n",
                    r.status, r.ms / 1000, inputMB / (r.ms / 1000), r.cpuMs / 1000, inputMB / (r.cpuMs / 1000),
                    r.peakMiB);
        removeTree(in);
        return r.status == 0 ? 0 : 1;
    }
    // Straight into the pyramid writer, with the chunks oxa-convert would choose.
    ZarrPyramidWriter writer;
    ZarrPyramidWriter::Options o;
    o.type = bytes == 2 ? SampleType::u16 : SampleType::u8;
    o.spacing = Spacing{1.0, 1.0, 1.0};
    o.unit = QStringLiteral("mm");
    o.name = QStringLiteral("phantom");
    while (ZarrPyramidWriter::slabBytes(n, n, o) > (qint64(1) << 30) && o.chunkDepth > 1)
        o.chunkDepth /= 2;
    if (QString why = writer.start(zarr, n, n, o); !why.isEmpty()) {
        std::fprintf(stderr, "%s\n", qPrintable(why));
        return 1;
    }
    const int per = 16;
    std::vector<unsigned char> slab(std::size_t(per) * std::size_t(n) * std::size_t(n) * std::size_t(bytes));
    const double t0 = nowMs();
    double making = 0;
    for (int z0 = 0; z0 < n; z0 += per) {
        const int z1 = std::min(n, z0 + per);
        const double m0 = nowMs();
        phantomSlab(n, z0, z1, bytes, slab.data());
        making += nowMs() - m0;
        for (int z = z0; z < z1; ++z) {
            if (QString why = writer.addSlice(slab.data() + std::size_t(z - z0) * std::size_t(n) * n * bytes);
                !why.isEmpty()) {
                std::fprintf(stderr, "%s\n", qPrintable(why));
                return 1;
            }
        }
        if (z0 % 256 == 0) {
            std::fprintf(stderr, "\r%d of %d slices", z1, n);
            std::fflush(stderr);
        }
    }
    if (QString why = writer.finish(); !why.isEmpty()) {
        std::fprintf(stderr, "%s\n", qPrintable(why));
        return 1;
    }
    const double ms = nowMs() - t0;
    std::printf("\nwritten straight by the pyramid writer: %.1f s (%.1f s of it making the phantom), %.0f MB/s of "
                "input (%.0f MB/s without the making), %.0f MB of chunks, %d levels, chunks 128 x 128 x %lld, "
                "peak resident %.0f MiB\n",
                ms / 1000, making / 1000, inputMB / (ms / 1000), inputMB / ((ms - making) / 1000),
                double(writer.bytesWritten()) / 1e6, writer.levelCount(), static_cast<long long>(o.chunkDepth),
                statusMiB("VmHWM:"));
    return 0;
}

// ---------------------------------------------------------------------------------
// Opening and drawing.

// Drops the folder's files from the system's page cache (everything written out first),
// so the next reads come from the disk.
int evictPageCache(const QString &dir)
{
    sync();
    int files = 0;
    QDirIterator it(dir, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QByteArray name = it.next().toLocal8Bit();
        const int fd = ::open(name.constData(), O_RDONLY);
        if (fd < 0)
            continue;
        posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
        ::close(fd);
        ++files;
    }
    return files;
}

struct Opened {
    double loadMs = 0, firstMs = 0;
};

Opened openSet(SliceDatas *set, const QString &zarr)
{
    QEventLoop loop;
    QObject::connect(set, &SliceDatas::loadFilesFinished, &loop, &QEventLoop::quit, Qt::QueuedConnection);
    Opened o;
    const double t0 = nowMs();
    QMetaObject::invokeMethod(set, "filesSelected", Qt::QueuedConnection, Q_ARG(QStringList, QStringList{zarr}));
    loop.exec();
    o.loadMs = nowMs() - t0;
    return o;
}

Scene sceneFor(SliceDatas *set, int size)
{
    LayerSettings settings;
    {
        SliceDatas::ReadGuard guard(*set);
        settings = settingsAfterLoad(settings, loadOutcomeOf(*set));
    }
    Scene scene;
    scene.width = scene.height = scene.frameWidth = scene.frameHeight = size;
    scene.layers.push_back(sceneLayer(settings, set));
    return scene;
}

// Draws the scene as the window refines a still view: asking for the chunks, and again
// whenever chunks came in, until none is missing or eight drawings were made.
struct Refined {
    double ms = 0;
    int level = -1, rounds = 0;
    qint64 missing = 0;
};

Refined refine(render::Renderer &renderer, Scene scene, std::atomic<int> &arrivals)
{
    for (SceneLayer &l : scene.layers)
        l.finerLevels = FinerLevels::ask;
    Refined r;
    const double t0 = nowMs();
    qint64 before = -1;
    while (r.rounds < 8) {
        const int seen = arrivals.load();
        renderer.renderScene(scene);
        ++r.rounds;
        const render::Renderer::StreamedFrame f = renderer.lastStreamedFrame();
        r.level = f.level;
        r.missing = f.missing;
        if (f.missing <= 0 || (before >= 0 && f.missing >= before))
            break;
        before = f.missing;
        // The window draws again at the next arrival (at once when some came meanwhile).
        // (The renderer says so in its own thread's event loop: this one.)
        while (arrivals.load() == seen)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    }
    r.ms = nowMs() - t0;
    return r;
}

int open(const QString &zarr, qint64 budgetMiB)
{
    RssSampler rss;
    const QString root = QFileInfo(zarr).absoluteFilePath();
    std::printf("%s, budget %lld MiB; %d files dropped from the page cache\n", qPrintable(zarr),
                static_cast<long long>(budgetMiB), evictPageCache(root));
    std::fflush(stdout);
    QThread loader;
    auto *set = new SliceDatas;
    set->moveToThread(&loader);
    loader.start();
    set->setMemoryBudget(budgetMiB << 20);
    render::Renderer renderer;
    std::atomic<int> arrivals{0};
    QObject::connect(
        &renderer, &render::Renderer::chunksArrived, &renderer, [&arrivals] { ++arrivals; }, Qt::DirectConnection);

    // The first picture: the held level loaded, then drawn fitted from the slices as
    // the window's first drawing is; then refined as the window does, if its level is
    // finer than the held one.
    Opened o = openSet(set, zarr);
    Scene scene = sceneFor(set, 512);
    int held = -1, levels = 0;
    qint64 chunkLimit = 0;
    {
        SliceDatas::ReadGuard guard(*set);
        if (set->slices.empty() || !set->stream) {
            std::printf("not opened as a streamed set (%zu slices)\n", set->slices.size());
            return 1;
        }
        held = set->stream->heldLevel();
        levels = int(set->stream->levels().size());
        chunkLimit = set->stream->memoryLimit();
        std::printf("held level %d of %d: %d x %d x %zu; chunk cache limit %.0f MiB\n", held, levels, set->width,
                    set->height, set->slices.size(), double(chunkLimit) / 1048576.0);
    }
    const SceneView start =
        render::turned(render::turned(SceneView{}, Vec3{0, 1, 0}, 30 * M_PI / 180), Vec3{1, 0, 0}, 20 * M_PI / 180);
    scene.view = start;
    scene.view = render::fitted(scene, 512, 512);
    double t0 = nowMs();
    renderer.renderScene(scene);
    o.firstMs = o.loadMs + (nowMs() - t0);
    t0 = nowMs();
    const Refined fit = refine(renderer, scene, arrivals);
    std::printf("cold page cache: loaded in %.0f ms, first picture at %.0f ms; fitted 512 x 512 at level %d%s "
                "complete at %.0f ms (%d drawings, %lld chunks missing)\n",
                o.loadMs, o.firstMs, std::max(fit.level, held), fit.level < 0 ? " (the held one)" : "",
                o.firstMs + (fit.level < 0 ? 0 : fit.ms), fit.rounds, static_cast<long long>(fit.missing));
    std::fflush(stdout);

    // Drags: the view turning 3 degrees a frame, drawn from the held level.
    {
        const int frames = 40;
        Scene drag = scene;
        t0 = nowMs();
        for (int i = 0; i < frames; ++i) {
            drag.view = render::turned(drag.view, Vec3{0, 1, 0}, 3 * M_PI / 180);
            renderer.renderScene(drag);
        }
        const double ms = nowMs() - t0;
        std::printf("drag at 512 x 512 from the held level: %.1f ms a frame, %.1f frames per second\n", ms / frames,
                    1000.0 * frames / ms);
        // The window drags a set whose exact pictures take over 40 ms on its coarse copy.
        t0 = nowMs();
        std::shared_ptr<const render::CoarseSet> coarse = renderer.coarseCopy(*set);
        renderer.waitForCoarseCopies();
        coarse = renderer.coarseCopy(*set);
        const double made = nowMs() - t0;
        if (coarse) {
            drag.layers.front().coarse = coarse;
            t0 = nowMs();
            for (int i = 0; i < frames; ++i) {
                drag.view = render::turned(drag.view, Vec3{0, 1, 0}, 3 * M_PI / 180);
                renderer.renderScene(drag);
            }
            const double cms = nowMs() - t0;
            std::printf("  on the coarse copy the window drags with (made in %.0f ms): %.1f ms a frame, %.1f frames "
                        "per second\n",
                        made, cms / frames, 1000.0 * frames / cms);
        }
    }

    // Zoomed in to 256 voxels of level 0 across the picture, from a cold page cache
    // (the chunk cache holds nothing of level 0 yet).
    {
        evictPageCache(root);
        Scene zoom = scene;
        const Spacing sp = zoom.layers.front().spacing;
        const StreamLevel l0 = [&] {
            SliceDatas::ReadGuard guard(*set);
            return set->stream->levels().front();
        }();
        const StreamLevel lh = [&] {
            SliceDatas::ReadGuard guard(*set);
            return set->stream->levels()[std::size_t(held)];
        }();
        zoom.view = start;
        zoom.view.scale = 256.0 / 512.0 * sp.x * l0.spacing.x / lh.spacing.x;
        const Refined z = refine(renderer, zoom, arrivals);
        std::printf("zoomed to 256 voxels of level 0 across, turned: level %d complete in %.0f ms (%d drawings, %lld "
                    "chunks missing at the end)\n",
                    z.level, z.ms, z.rounds, static_cast<long long>(z.missing));
        // The same view again with every chunk in: the drawing alone.
        t0 = nowMs();
        for (SceneLayer &l : zoom.layers)
            l.finerLevels = FinerLevels::ask;
        renderer.renderScene(zoom);
        std::printf("  drawn again with its chunks in: %.0f ms (%lld missing)\n", nowMs() - t0,
                    static_cast<long long>(renderer.lastStreamedFrame().missing));
        std::fflush(stdout);

        // A region 256 voxels deep as well: the same view cut by a plane across it, the
        // part kept reaching 256 voxels in front of the far side of the box along the
        // middle ray.
        evictPageCache(root);
        Scene region = zoom;
        SceneLayer &l = region.layers.front();
        const Vec3 nz = region.view.nz;
        const double exit = std::min({l0.width / 2.0 / std::max(std::fabs(nz.x), 1e-9),
                                      l0.height / 2.0 / std::max(std::fabs(nz.y), 1e-9),
                                      l0.depth / 2.0 / std::max(std::fabs(nz.z), 1e-9)});
        l.cut = true;
        l.csNz = nz;
        l.cutPos = int(std::lround(100.0 * (256.0 - exit) / double(l0.depth)));
        // A fresh cache: nothing of the region in memory.
        Opened again = openSet(set, zarr);
        (void)again;
        region.layers.front().set = set;
        const Refined c = refine(renderer, region, arrivals);
        std::printf("a 256 x 256 x 256 region of level 0 (cut at %d %%): level %d complete in %.0f ms (%d drawings, "
                    "%lld chunks missing at the end)\n",
                    l.cutPos, c.level, c.ms, c.rounds, static_cast<long long>(c.missing));
        std::fflush(stdout);
    }

    // A second opening, the files now in the page cache.
    {
        Opened w = openSet(set, zarr);
        Scene again = sceneFor(set, 512);
        again.view = start;
        again.view = render::fitted(again, 512, 512);
        t0 = nowMs();
        renderer.renderScene(again);
        std::printf("warm page cache: loaded in %.0f ms, first picture at %.0f ms\n", w.loadMs,
                    w.loadMs + nowMs() - t0);
    }
    {
        SliceDatas::ReadGuard guard(*set);
        std::printf("chunks held at the end: %.0f MiB\n", double(set->stream->bytesHeld()) / 1048576.0);
    }
    std::printf("peak resident memory: %.0f MiB sampled, %.0f MiB high-water mark (budget %lld MiB + 300)\n",
                rss.peakMiB(), statusMiB("VmHWM:"), static_cast<long long>(budgetMiB));
    std::fflush(stdout);
    loader.requestInterruption();
    loader.quit();
    loader.wait();
    delete set;
    return 0;
}

// ---------------------------------------------------------------------------------
// The kernel alone: a pyramid in memory, every chunk in, drawn at level 0.

class MemoryPyramid : public StreamedVolume
{
public:
    MemoryPyramid(int n, int bytes, int held, qint64 chunk) : held_(held), bytes_(bytes), chunk_(chunk)
    {
        layout_.type = bytes == 2 ? SampleType::u16 : SampleType::u8;
        std::vector<unsigned char> all(std::size_t(n) * n * n * bytes);
        phantomSlab(n, 0, n, bytes, all.data());
        qint64 w = n;
        StreamLevel l{w, w, w, chunk, chunk, chunk, Spacing{1, 1, 1}};
        levels_.push_back(l);
        samples_.push_back(std::move(all));
        while (levels_.size() <= std::size_t(held)) {
            const StreamLevel &a = levels_.back();
            StreamLevel b = a;
            b.width = b.height = b.depth = (a.width + 1) / 2;
            b.spacing = Spacing{a.spacing.x * 2, a.spacing.y * 2, a.spacing.z * 2};
            std::vector<unsigned char> v(std::size_t(b.width * b.height * b.depth) * bytes, 0);
            const std::vector<unsigned char> &s = samples_.back();
            for (qint64 i = 0; i < a.width * a.height * a.depth; ++i) {
                const qint64 x = i % a.width, y = i / a.width % a.height, z = i / (a.width * a.height);
                const qint64 to = ((z / 2) * b.height + y / 2) * b.width + x / 2;
                if (bytes == 2) {
                    quint16 p, q;
                    std::memcpy(&p, &s[std::size_t(i) * 2], 2);
                    std::memcpy(&q, &v[std::size_t(to) * 2], 2);
                    q = std::max(p, q);
                    std::memcpy(&v[std::size_t(to) * 2], &q, 2);
                } else {
                    v[std::size_t(to)] = std::max(v[std::size_t(to)], s[std::size_t(i)]);
                }
            }
            levels_.push_back(b);
            samples_.push_back(std::move(v));
        }
    }
    void fill(SliceDatas &set) const
    {
        const StreamLevel &L = levels_[std::size_t(held_)];
        std::vector<unsigned char> slice(std::size_t(L.width * L.height) * bytes_);
        for (qint64 z = 0; z < L.depth; ++z) {
            std::memcpy(slice.data(), &samples_[std::size_t(held_)][std::size_t(z * L.width * L.height) * bytes_],
                        slice.size());
            set.slices.push_back(makeVolumeSlice(slice.data(), int(L.width), int(L.height), layout_).release());
        }
        set.width = int(L.width);
        set.height = int(L.height);
        set.minV = 0;
        set.maxV = bytes_ == 2 ? 4095 : 255;
        set.loaded = true;
        ++set.generation;
    }
    const std::vector<StreamLevel> &levels() const override { return levels_; }
    int heldLevel() const override { return held_; }
    SampleLayout layout() const override { return layout_; }
    Chunk find(int level, qint64 z, qint64 y, qint64 x) override
    {
        std::lock_guard<std::mutex> lock(mutex_);
        const auto it = chunks_.find(std::make_tuple(level, z, y, x));
        return it == chunks_.end() ? nullptr : it->second;
    }
    void request(int level, qint64 z, qint64 y, qint64 x, std::function<void()> arrived) override
    {
        get(level, z, y, x);
        if (arrived)
            arrived();
    }
    Chunk get(int level, qint64 z, qint64 y, qint64 x) override
    {
        if (Chunk c = find(level, z, y, x))
            return c;
        const StreamLevel &L = levels_[std::size_t(level)];
        auto c = std::make_shared<std::vector<unsigned char>>(std::size_t(chunk_ * chunk_ * chunk_) * bytes_, 0);
        for (qint64 k = 0; k < chunk_; ++k)
            for (qint64 j = 0; j < chunk_; ++j) {
                const qint64 gz = z * chunk_ + k, gy = y * chunk_ + j, gx = x * chunk_;
                if (gz >= L.depth || gy >= L.height || gx >= L.width)
                    continue;
                const qint64 cols = std::min(chunk_, L.width - gx);
                std::memcpy(c->data() + std::size_t((k * chunk_ + j) * chunk_) * bytes_,
                            &samples_[std::size_t(level)][std::size_t((gz * L.height + gy) * L.width + gx) * bytes_],
                            std::size_t(cols) * bytes_);
            }
        std::lock_guard<std::mutex> lock(mutex_);
        chunks_[std::make_tuple(level, z, y, x)] = c;
        return c;
    }
    qint64 bytesHeld() const override { return 0; }
    qint64 memoryLimit() const override { return 0; }

private:
    int held_;
    int bytes_;
    qint64 chunk_;
    SampleLayout layout_;
    std::vector<StreamLevel> levels_;
    std::vector<std::vector<unsigned char>> samples_;
    std::mutex mutex_;
    std::map<std::tuple<int, qint64, qint64, qint64>, Chunk> chunks_;
};

int kernel(const QString &only)
{
    const int n = 384;
    struct Case {
        const char *name;
        int bytes;
        Projection projection;
        bool linear;
        Sampling sampling;
    } cases[] = {{"8-bit, maximum", 1, Projection::Maximum, false, Sampling::Slices},
                 {"16-bit, maximum", 2, Projection::Maximum, false, Sampling::Slices},
                 {"16-bit, maximum, voxels", 2, Projection::Maximum, false, Sampling::Voxels},
                 {"16-bit, maximum, linear", 2, Projection::Maximum, true, Sampling::Slices},
                 {"8-bit, composite", 1, Projection::Composite, false, Sampling::Slices},
                 {"16-bit, mean", 2, Projection::Mean, false, Sampling::Slices}};
    std::printf("%d^3 pyramid in memory, 64^3 chunks, held level 2, drawn at level 0 at 512 x 512 turned 30 and 20 "
                "degrees and zoomed into its middle\n",
                n);
    std::shared_ptr<MemoryPyramid> pyramids[3];
    for (const Case &c : cases) {
        if (!only.isEmpty() && !QString::fromLatin1(c.name).contains(only))
            continue;
        std::shared_ptr<MemoryPyramid> &p = pyramids[c.bytes];
        if (!p)
            p = std::make_shared<MemoryPyramid>(n, c.bytes, 2, 64);
        SliceDatas set;
        p->fill(set);
        set.stream = p;
        Scene scene = sceneFor(&set, 512);
        SceneLayer &layer = scene.layers.front();
        layer.spacing = Spacing{4, 4, 4};
        layer.projection = c.projection;
        layer.interpolation = c.linear ? Interpolation::Linear : Interpolation::Nearest;
        layer.minTh = c.bytes == 2 ? 1100 : 70;
        layer.maxTh = c.bytes == 2 ? 3600 : 230;
        layer.finerLevels = FinerLevels::read;
        layer.showFrame = false;
        scene.view =
            render::turned(render::turned(SceneView{}, Vec3{0, 1, 0}, 30 * M_PI / 180), Vec3{1, 0, 0}, 20 * M_PI / 180);
        scene.view.sampling = c.sampling;
        scene.view.scale = 0.6;
        render::Renderer renderer;
        renderer.renderScene(scene);  // every chunk read
        // The samples the rays take: the values the reference reads, counted.
        const mip::Params pr = render::volumeParams(
            scene.view,
            [&] {
                SceneLayer at = layer;
                at.spacing = Spacing{1, 1, 1};
                return at;
            }(),
            n, n, n, 512, 512);
        double reads = 0;
        for (int r = 0; r < 512; ++r)
            for (int col = 0; col < 512; ++col)
                mip::castPixelWith(pr, n, col, r, [&reads](int, int, int) {
                    reads += 1;
                    return 1.0;
                });
        const double samples = c.linear ? reads / 4 : reads;
        const int runs = 3;
        std::vector<double> times, cpu;
        for (int i = 0; i < runs; ++i) {
            const double t0 = nowMs(), c0 = cpuMs();
            renderer.renderScene(scene);
            times.push_back(nowMs() - t0);
            cpu.push_back(cpuMs() - c0);
        }
        std::sort(times.begin(), times.end());
        std::sort(cpu.begin(), cpu.end());
        const double ms = times[runs / 2];
        std::printf("%-26s %7.1f ms  %6.1f M samples  %6.2f ns a sample, %6.2f ns of processor time a sample "
                    "(missing %lld)\n",
                    c.name, ms, samples / 1e6, ms * 1e6 / samples, cpu[runs / 2] * 1e6 / samples,
                    static_cast<long long>(renderer.lastStreamedFrame().missing));
        std::fflush(stdout);
        set.stream.reset();
    }
    return 0;
}

void usage()
{
    std::fprintf(stderr,
                 "usage: bench_stream kernel [NAME] | make DIR N u16|u8 [files|direct] | open ZARR [BUDGET_MB] | all "
                 "DIR\n");
}

}  // namespace

int main(int argc, char **argv)
{
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QGuiApplication app(argc, argv);
    const QStringList args = app.arguments();
    const QString what = args.value(1);
    if (what == QLatin1String("kernel"))
        return kernel(args.value(2));
    if (what == QLatin1String("make") && args.size() >= 5)
        return make(args[2], args[3].toInt(), args[4], args.value(5, QStringLiteral("files")));
    if (what == QLatin1String("open") && args.size() >= 3)
        return open(args[2], args.size() > 3 ? args[3].toLongLong() : 2048);
    if (what == QLatin1String("all") && args.size() >= 3) {
        const QString dir = args[2];
        const QString self = app.applicationFilePath();
        struct {
            int n;
            const char *type, *how;
        } sets[] = {{2048, "u16", "files"}, {4096, "u8", "direct"}};
        for (const auto &s : sets) {
            const QString zarr = QStringLiteral("%1/phantom%2.zarr").arg(dir).arg(s.n);
            if (runChild({self, "make", dir, QString::number(s.n), s.type, s.how}).status != 0
                || runChild({self, "open", zarr}).status != 0)
                return 1;
            removeTree(zarr);
        }
        return 0;
    }
    usage();
    return 2;
}
