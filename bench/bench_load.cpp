// Loading benchmark. Three slice sets are generated once into a temporary folder:
// 256 grey 8-bit PNG slices of 512 x 512 pixels, 64 XYV grid files and 64 range grid
// files of 512 x 512 points. Each is loaded through the loader slot
// SliceDatas::filesSelected, run in a loader thread of its own as a panel runs it,
// with one decoding worker and with one per core, reporting slices and megabytes (10^6 bytes of file) per
// second of wall time. A second group times the grid text parsing alone on one core:
// the fast readers against the line-by-line reference readers.
//
// A third group loads a 512^3 16-bit NIfTI file (gzip) and times `gzip -dc` of the same
// file on the same machine, reporting the ratio ("x gzip") and the peak memory the load
// took above what the process held before it, against the set's size.
//
// With BENCH_LOAD_DIR set, the sets are kept in that folder and reused by later runs.
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QElapsedTimer>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "data/slicedata.h"
#include "data/slicedatas.h"
#include "tools/volumewriters.h"

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace {

constexpr int side = 512;
constexpr int pngCount = 256;
constexpr int gridCount = 64;

enum SetKind { pngSet, xyvSet, rangeSet };

struct SliceSet {
    QStringList files;
    qint64 bytes = 0;
};

// A head-like section of nested ellipses with a little noise, different per slice;
// the same function gives the grid values, so all three sets look like one scan.
double sectionValue(int x, int y, int z, std::uint32_t &noise)
{
    const double u = 2.0 * x / side - 1.0;
    const double v = 2.0 * y / side - 1.0;
    const double w = 2.0 * z / 256 - 1.0;
    double value = 10.0;
    if (u * u / 0.48 + v * v / 0.85 + w * w / 0.8 <= 1.0)
        value += 120.0;
    if (u * u / 0.40 + (v + 0.02) * (v + 0.02) / 0.76 + w * w / 0.7 <= 1.0)
        value -= 70.0;
    if ((u - 0.22) * (u - 0.22) / 0.012 + v * v / 0.1 <= 1.0)
        value += 30.0;
    if ((u + 0.22) * (u + 0.22) / 0.026 + v * v / 0.17 <= 1.0)
        value += 25.0;
    noise = noise * 1664525u + 1013904223u;
    return value + double(noise >> 29) + 0.5 * std::sin(0.05 * x + 0.03 * y);
}

QString writeFile(const QString &path, const std::string &text)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(text.data(), qint64(text.size())) != qint64(text.size()))
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

// Records in row order, values with six significant digits, as a measuring program writes them.
std::string gridText(bool range, int z)
{
    std::string text = range ? "#MOLK-VEDez\n# Range_X0 : 0\n# Range_Y0 : 0\n"
                               "# Range_X1 : 511\n# Range_Y1 : 511\n"
                             : "## 240301\n# Format1 : XYV\n# Format2 : SPACE-Separated\n"
                               "# X-NUM 513\n# Y-NUM 513\n";
    text.reserve(std::size_t(side) * side * 18 + 128);
    std::uint32_t noise = std::uint32_t(z) * 7919u + 1u;
    char buf[64];
    for (int y = 0; y < side; ++y) {
        for (int x = 0; x < side; ++x) {
            char *p = std::to_chars(buf, buf + sizeof buf, x).ptr;
            *p++ = ' ';
            p = std::to_chars(p, buf + sizeof buf, y).ptr;
            *p++ = ' ';
            const double v = sectionValue(x, y, z, noise);
            p = std::to_chars(p, buf + sizeof buf, v, std::chars_format::general, 6).ptr;
            *p++ = '\n';
            text.append(buf, std::size_t(p - buf));
        }
    }
    return text;
}

class Sets
{
public:
    Sets()
    {
        const QString kept = qEnvironmentVariable("BENCH_LOAD_DIR");
        if (kept.isEmpty()) {
            temp_ = std::make_unique<QTemporaryDir>();
            if (!temp_->isValid())
                qFatal("no temporary folder");
        }
        dir_ = QDir(kept.isEmpty() ? temp_->path() : kept);
        if (!dir_.mkpath(QStringLiteral(".")))
            qFatal("cannot make %s", qPrintable(dir_.path()));
        const bool reuse = !kept.isEmpty() && dir_.exists(QStringLiteral("complete"));
        std::fprintf(stderr, "%s the slice sets in %s ...\n", reuse ? "using" : "generating", qPrintable(dir_.path()));
        if (reuse) {
            for (int z = 0; z < pngCount; ++z)
                add(pngSet, dir_.filePath(QStringLiteral("slice%1.png").arg(z, 3, 10, QLatin1Char('0'))));
            for (int z = 0; z < gridCount; ++z) {
                const QString n = QStringLiteral("%1.dat").arg(z, 3, 10, QLatin1Char('0'));
                add(xyvSet, dir_.filePath(QStringLiteral("xyv") + n));
                add(rangeSet, dir_.filePath(QStringLiteral("range") + n));
            }
        } else {
            generate();
        }
        for (const SliceSet &s : sets_)
            std::fprintf(stderr, "  %lld files, %.1f MB\n", qlonglong(s.files.size()), double(s.bytes) / 1e6);
    }

    const SliceSet &operator[](int kind) const { return sets_[kind]; }

private:
    void generate()
    {
        for (int z = 0; z < pngCount; ++z) {
            QImage img(side, side, QImage::Format_Grayscale8);
            std::uint32_t noise = std::uint32_t(z) * 7919u + 1u;
            for (int y = 0; y < side; ++y) {
                uchar *line = img.scanLine(y);
                for (int x = 0; x < side; ++x)
                    line[x] = uchar(std::clamp(int(sectionValue(x, y, z, noise) * 1.5), 0, 255));
            }
            add(pngSet, dir_.filePath(QStringLiteral("slice%1.png").arg(z, 3, 10, QLatin1Char('0'))), img);
        }
        for (int z = 0; z < gridCount; ++z) {
            const QString n = QStringLiteral("%1.dat").arg(z, 3, 10, QLatin1Char('0'));
            add(xyvSet, writeFile(dir_.filePath(QStringLiteral("xyv") + n), gridText(false, z * 4)));
            add(rangeSet, writeFile(dir_.filePath(QStringLiteral("range") + n), gridText(true, z * 4)));
        }
        writeFile(dir_.filePath(QStringLiteral("complete")), std::string());
    }

    void add(SetKind kind, const QString &path, const QImage &img)
    {
        if (!img.save(path, "PNG"))
            qFatal("cannot write %s", qPrintable(path));
        add(kind, path);
    }
    void add(SetKind kind, const QString &path)
    {
        sets_[kind].files << path;
        sets_[kind].bytes += QFileInfo(path).size();
    }

    std::unique_ptr<QTemporaryDir> temp_;
    QDir dir_;
    SliceSet sets_[3];
};

Sets &sets()
{
    static Sets s;
    return s;
}

void setCounters(benchmark::State &state, qsizetype files, qint64 bytes)
{
    const auto rate = benchmark::Counter::kIsIterationInvariantRate;
    state.counters["slices"] = benchmark::Counter(double(files), rate);
    state.counters["MB"] = benchmark::Counter(double(bytes) / 1e6, rate);
}

// Arguments: the set, the number of decoding workers (0: one per core).
void BM_Load(benchmark::State &state)
{
    const SliceSet &set = sets()[int(state.range(0))];
    SliceDatas slices;
    slices.setLoadWorkers(int(state.range(1)));
    QThread loaderThread;
    slices.moveToThread(&loaderThread);
    loaderThread.start(QThread::InheritPriority);
    for (auto _ : state) {
        // Runs the slot in the loader thread and waits for it to return.
        QMetaObject::invokeMethod(
            &slices, [&] { slices.filesSelected(set.files); }, Qt::BlockingQueuedConnection);
        if (slices.slices.size() != std::size_t(set.files.size())) {
            state.SkipWithError("not every slice was accepted");
            break;
        }
    }
    loaderThread.quit();
    loaderThread.wait();
    setCounters(state, set.files.size(), set.bytes);
    state.counters["workers"] = state.range(1) > 0 ? double(state.range(1)) : QThread::idealThreadCount();
}

// Arguments: range (1) or XYV (0) format, fast (1) or reference (0) reader. Eight files per iteration.
void BM_GridParse(benchmark::State &state)
{
    const bool range = state.range(0) != 0;
    const bool fast = state.range(1) != 0;
    const SliceSet &set = sets()[range ? rangeSet : xyvSet];
    const QStringList files = set.files.mid(0, 8);
    qint64 bytes = 0;
    for (const QString &f : files)
        bytes += QFileInfo(f).size();
    for (auto _ : state) {
        for (const QString &f : files) {
            SliceData s;
            const bool ok = range ? (fast ? s.readRangeGrid(f) : s.readRangeGridReference(f))
                                  : (fast ? s.readXyvGrid(f) : s.readXyvGridReference(f));
            if (!ok || s.width != side) {
                state.SkipWithError("grid not read");
                return;
            }
            benchmark::DoNotOptimize(s.values.data());
        }
    }
    setCounters(state, files.size(), bytes);
}

// The 512^3 16-bit volume of a scan (the same sections as the other sets, 16-bit),
// written once as NIfTI with gzip through ITK.
constexpr int volumeSide = 512;

QString niftiVolume()
{
    static QString path = [] {
        static std::unique_ptr<QTemporaryDir> temp;
        QString dir = qEnvironmentVariable("BENCH_LOAD_DIR");
        if (dir.isEmpty()) {
            temp = std::make_unique<QTemporaryDir>();
            dir = temp->path();
        }
        QDir().mkpath(dir);
        const QString file = QDir(dir).filePath(QStringLiteral("volume512.nii.gz"));
        if (QFileInfo::exists(file))
            return file;
        std::fprintf(stderr, "writing %s ...\n", qPrintable(file));
        volumewriters::Volume v;
        v.size[0] = v.size[1] = v.size[2] = volumeSide;
        v.spacing[0] = v.spacing[1] = 0.5;
        v.type = volumewriters::Type::s16;
        v.samples.resize(qsizetype(volumeSide) * volumeSide * volumeSide * 2);
        qint16 *out = reinterpret_cast<qint16 *>(v.samples.data());
        for (int z = 0; z < volumeSide; ++z) {
            std::uint32_t noise = std::uint32_t(z) * 7919u + 1u;
            for (int y = 0; y < volumeSide; ++y)
                for (int x = 0; x < volumeSide; ++x)
                    *out++ = qint16(sectionValue(x, y, z / 2, noise) * 16.0 - 1000.0);
        }
        QString error;
        if (!volumewriters::write(file + QStringLiteral(".part.nii.gz"), v, &error)
            || !QFile::rename(file + QStringLiteral(".part.nii.gz"), file))
            qFatal("cannot write %s: %s", qPrintable(file), qPrintable(error));
        return file;
    }();
    return path;
}

// Seconds `gzip -dc` takes to decompress the file to nothing, the best of three.
double gzipSeconds(const QString &path)
{
    double best = 1e30;
    for (int i = 0; i < 3; ++i) {
        QProcess gzip;
        gzip.setStandardOutputFile(QProcess::nullDevice());
        QElapsedTimer clock;
        clock.start();
        gzip.start(QStringLiteral("gzip"), {QStringLiteral("-dc"), path});
        if (!gzip.waitForFinished(-1) || gzip.exitCode() != 0)
            qFatal("gzip -dc %s failed", qPrintable(path));
        best = std::min(best, double(clock.nsecsElapsed()) * 1e-9);
    }
    return best;
}

// A value of /proc/self/status in kB (VmRSS, VmHWM), 0 where there is none.
qint64 statusKb(const char *key)
{
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : f.readAll().split('\n'))
        if (line.startsWith(key))
            return line.mid(qsizetype(std::strlen(key)) + 1).trimmed().split(' ').first().toLongLong();
    return 0;
}

// Loads the volume on the loader thread as a panel does (one worker per core). Before
// each load the previous set is let go, the memory high-water mark is reset (Linux)
// and the resident memory noted, so "peak MiB" is what the load itself took.
void BM_LoadNifti(benchmark::State &state)
{
    const QString path = niftiVolume();
    static const double gzip = gzipSeconds(path);
    SliceDatas slices;
    QThread loaderThread;
    slices.moveToThread(&loaderThread);
    loaderThread.start(QThread::InheritPriority);
    double seconds = 0.0;
    qint64 peakKb = 0;
    for (auto _ : state) {
        state.PauseTiming();
        QMetaObject::invokeMethod(
            &slices, [&] { slices.clear(); }, Qt::BlockingQueuedConnection);
#if defined(__GLIBC__)
        malloc_trim(0);
#endif
        QFile reset(QStringLiteral("/proc/self/clear_refs"));
        if (reset.open(QIODevice::WriteOnly))
            reset.write("5");
        reset.close();
        const qint64 before = statusKb("VmRSS:");
        state.ResumeTiming();
        QElapsedTimer clock;
        clock.start();
        QMetaObject::invokeMethod(
            &slices, [&] { slices.filesSelected({path}); }, Qt::BlockingQueuedConnection);
        seconds += double(clock.nsecsElapsed()) * 1e-9;
        peakKb = std::max(peakKb, statusKb("VmHWM:") - before);
        if (slices.slices.size() != std::size_t(volumeSide)) {
            state.SkipWithError("the volume was not loaded");
            break;
        }
    }
    loaderThread.quit();
    loaderThread.wait();
    const double n = double(std::max<std::int64_t>(state.iterations(), 1));
    state.counters["gzip -dc ms"] = gzip * 1e3;
    state.counters["x gzip"] = seconds / n / gzip;
    state.counters["peak MiB"] = double(peakKb) / 1024.0;
    state.counters["set MiB"] = double(volumeSide) * volumeSide * volumeSide * 2 / 1048576.0;
}

}  // namespace

// Loads before the timing starts fault the set's memory in once, so that every
// variant is timed in the same steady state, whatever ran before it.
BENCHMARK(BM_Load)
    ->ArgNames({"set", "workers"})
    ->ArgsProduct({{pngSet, xyvSet, rangeSet}, {1, 0}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinWarmUpTime(1.0)
    ->MinTime(2.0);
BENCHMARK(BM_LoadNifti)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_GridParse)
    ->ArgNames({"range", "fast"})
    ->ArgsProduct({{0, 1}, {1, 0}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(1.0);

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    std::fprintf(stderr,
                 "set: 0 = %d PNG slices, 1 = %d XYV grids, 2 = %d range grids, all %d x %d; "
                 "workers: 0 = one per core (%d)\n",
                 pngCount, gridCount, gridCount, side, side, QThread::idealThreadCount());
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
