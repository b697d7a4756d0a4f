#include "data/slicedatas.h"

#include <QRunnable>
#include <QThread>
#include <QThreadPool>

#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <limits>
#include <memory>
#include <mutex>
#include <utility>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include "data/slicedata.h"
#include "data/workpool.h"
#include "data/slicefile.h"

namespace {

// Generations are unique in the process, so a copy made from one set can never be
// taken for a copy of another set that lives at the same address later.
quint64 nextGeneration()
{
    static std::atomic<quint64> last{0};
    return ++last;
}

const double largestDouble = std::numeric_limits<double>::max();
const QRgb histBarColor = qRgb(0, 220, 160);

struct Histogram {
    QList<int> counts;
    double binWidth = 1.0;
    double maxCount = 0.0;
    QImage image;
};

// The bin of a value: bins centred on minV, minV + binWidth, ..., maxV.
struct Binning {
    double lower;
    double binWidth;
    int bins;

    int operator()(double v) const
    {
        // Clamped while still a double: a NaN or a quotient beyond the int range
        // (a zero bin width, say) can never address a bin outside the list.
        const double bin = (v - lower) / binWidth;
        if (bin >= bins)
            return bins - 1;
        if (bin > 0)
            return int(bin);
        return 0;
    }
};

// Adds every value of slices[first .. last) to counts (one entry per bin).
void countValues(const std::vector<SliceData *> &slices, std::size_t first, std::size_t last, int width, int height,
                 const Binning &binOf, std::vector<int> &counts)
{
    std::vector<double> row;
    for (std::size_t i = first; i < last; ++i) {
        const SliceData *s = slices[i];
        if (s->isImage && s->image.format() == QImage::Format_Grayscale8 && s->width == width && s->height == height) {
            // A grey byte is the value itself: count the 256 levels, then bin each level once.
            std::int64_t levels[4][256] = {};
            for (int y = 0; y < height; ++y) {
                const uchar *line = s->image.constScanLine(y);
                int x = 0;
                for (; x + 4 <= width; x += 4) {
                    ++levels[0][line[x]];
                    ++levels[1][line[x + 1]];
                    ++levels[2][line[x + 2]];
                    ++levels[3][line[x + 3]];
                }
                for (; x < width; ++x)
                    ++levels[0][line[x]];
            }
            for (int v = 0; v < 256; ++v) {
                const std::int64_t n = levels[0][v] + levels[1][v] + levels[2][v] + levels[3][v];
                if (n > 0)
                    counts[std::size_t(binOf(double(v)))] += int(n);
            }
            continue;
        }
        // Every slice has the set's size; the buffer is sized for the slice all the same.
        row.resize(std::size_t(std::max({width, s->width, 0})));
        for (int y = 0; y < height; ++y) {
            s->rowValues(y, row.data());
            for (int x = 0; x < width; ++x)
                ++counts[std::size_t(binOf(row[std::size_t(x)]))];
        }
    }
}

// Counts every value of every slice once, in bins centred on minV, minV + binWidth,
// ..., maxV, and draws one bar per bin. Reads only its arguments, so the loader can
// run it without holding the set's lock. The slices are shared out in up to
// `workers` parts over the process's pool; the counts are whole numbers, so the sum
// is the same in any order.
Histogram computeHistogram(const std::vector<SliceData *> &slices, int width, int height, double minV, double maxV,
                           int bins, int barHeight, int workers)
{
    Histogram h;
    h.counts.fill(0, bins);
    h.binWidth = (maxV - minV) / (bins - 1);
    const Binning binOf{minV - h.binWidth * 0.5, h.binWidth, bins};

    const std::size_t parts =
        std::clamp<std::size_t>(std::size_t(std::max(workers, 1)), 1, std::max<std::size_t>(slices.size(), 1));
    auto bound = [&](std::size_t p) { return slices.size() * p / parts; };
    std::vector<std::vector<int>> partCounts(parts, std::vector<int>(std::size_t(bins), 0));
    std::vector<char> partFailed(parts, 0);
    auto countPart = [&](std::size_t p) {
        countValues(slices, bound(p), bound(p + 1), width, height, binOf, partCounts[p]);
    };
    // Parts are taken in turn by this thread and the pool's; a part whose counting
    // failed (no memory for a row) is counted again here at the end.
    std::atomic<std::size_t> next{0};
    auto work = [&]() {
        for (std::size_t p = next.fetch_add(1); p < parts; p = next.fetch_add(1)) {
            try {
                countPart(p);
            } catch (...) {
                partFailed[p] = 1;
            }
        }
    };
    workpool::run(int(parts) - 1, work);
    for (std::size_t p = 0; p < parts; ++p) {
        if (partFailed[p]) {
            std::fill(partCounts[p].begin(), partCounts[p].end(), 0);
            countPart(p);
        }
    }

    int *counts = h.counts.data();
    for (const std::vector<int> &part : partCounts) {
        for (int i = 0; i < bins; ++i)
            counts[i] += part[std::size_t(i)];
    }
    for (int c : std::as_const(h.counts)) {
        if (c > h.maxCount)
            h.maxCount = c;
    }

    h.image = QImage(bins, barHeight, QImage::Format_RGB32);
    if (h.image.isNull())
        return h;
    h.image.fill(qRgb(255, 255, 255));
    const int bottom = barHeight - 1;
    for (int i = 0; i < bins; ++i) {
        // With every bin empty the bars shrink to their bottom pixel.
        const int top = h.maxCount > 0.0 ? int(bottom - h.counts.at(i) / h.maxCount * bottom) : bottom;
        for (int y = top; y <= bottom; ++y)
            h.image.setPixel(i, y, histBarColor);
    }
    return h;
}

// Moves a finished histogram into the set; the caller holds the write lock.
void storeHistogram(SliceDatas &set, Histogram &h)
{
    set.hist = std::move(h.counts);
    set.binWidth = h.binWidth;
    set.histMaxCount = h.maxCount;
    set.histImage = std::move(h.image);
    set.histReady = true;
}

// Hands the memory of a freed set back to the system. glibc keeps freed blocks in
// the heap of the thread that allocated them, and the threads that decode the next
// load (the decode pool's, which end when idle and start anew, and the loader's) may
// well take other heaps, so without this a reload could hold the old set's memory
// beside the new one. Other allocators are left as they are.
void returnFreedMemory()
{
#if defined(__GLIBC__)
    malloc_trim(0);
#endif
}

// Orders what the loader wrote before putting a decode task on the pool (the task,
// the run's state) before what the task reads: the pool does that too, but inside a
// library the race checker cannot see into. Locked and unlocked by the loader before
// each start, and first thing by each task.
std::mutex decodeHandOver;

class DecodeTask;

// What the loader and the decode tasks of one run share, under mutex. Held by the
// decoder and by every task, so a task that the pool starts only after the run has
// stopped still finds it, sees `stopping` and returns without touching anything else.
struct DecodeRun {
    DecodeRun(const QStringList &fileList, SliceBudget *sliceBudget, int decodes)
        : files(fileList), budget(sliceBudget), limit(decodes), window(2 * qsizetype(decodes)),
          slices(std::size_t(fileList.size())), done(std::size_t(fileList.size()), 0)
    {
        // Tasks alive never outnumber limit, so adding one to the list never allocates.
        queued.reserve(std::size_t(decodes));
    }

    // Decodes files in list order as long as they lie inside the window and fewer
    // than limit decodes are running; returns at the window or when stopping.
    void work(DecodeTask *task);

    const QStringList files;
    SliceBudget *const budget;  // read only while a claimed file decodes
    const int limit;  // decodes at once, the loader's own counted
    const qsizetype window;  // files started past the one the loader takes next

    std::mutex mutex;
    std::condition_variable changed;  // a file decoded, or a decode ended
    std::vector<SliceFile> slices;
    std::vector<char> done;
    std::vector<DecodeTask *> queued;  // on the pool, not yet running
    qsizetype next = 0;  // the first file no one has started
    qsizetype taken = 0;  // files handed to the loader so far
    int tasks = 0;  // on the pool, queued or running
    int decoding = 0;  // files started and not yet done
    bool stopping = false;
};

// One decoding thread's turn on the pool: deleted by the pool after run(), or by the
// loader when it takes the task back unstarted.
class DecodeTask : public QRunnable
{
public:
    explicit DecodeTask(std::shared_ptr<DecodeRun> run) : run_(std::move(run)) { setAutoDelete(true); }

    void run() override
    {
        {
            std::lock_guard<std::mutex> lock(decodeHandOver);
        }
        run_->work(this);
    }

private:
    std::shared_ptr<DecodeRun> run_;
};

void DecodeRun::work(DecodeTask *task)
{
    std::unique_lock<std::mutex> lock(mutex);
    queued.erase(std::remove(queued.begin(), queued.end(), task), queued.end());
    while (!stopping && next < files.size() && next < taken + window && decoding < limit) {
        const qsizetype i = next++;
        ++decoding;
        lock.unlock();
        SliceFile slice = readSliceFile(files.at(i), budget);
        lock.lock();
        slices[std::size_t(i)] = std::move(slice);
        done[std::size_t(i)] = 1;
        --decoding;
        changed.notify_all();
    }
    --tasks;
}

// Decodes the files of one run ahead of the loader on the process's decode pool and
// hands the slices over in list order. Lives in the loader's thread. No file is
// started more than `window` places past the one the loader takes next, so at most
// that many decoded slices wait beside the accepted ones, and no more than `workers`
// files decode at once, the loader's own included. When the loader's turn comes to a
// file no task has started, the loader decodes it itself: a load never waits for a
// pool thread (all of them may be busy with other loads), and no pool thread ever
// waits for the loader. Without workers (one asked for, or a single file) take()
// decodes every file in the calling thread.
class FileDecoder
{
public:
    FileDecoder(const QStringList &files, int workers, SliceBudget *budget) : files_(files), budget_(budget)
    {
        const qsizetype decodes = std::min<qsizetype>(workers, files.size());
        if (decodes < 2)
            return;
        try {
            run_ = std::make_shared<DecodeRun>(files, budget, int(decodes));
        } catch (const std::exception &) {
            return;  // decoded here, one by one
        }
        std::lock_guard<std::mutex> lock(run_->mutex);
        post();
    }
    ~FileDecoder() { stop(); }
    FileDecoder(const FileDecoder &) = delete;
    FileDecoder &operator=(const FileDecoder &) = delete;

    // What files[i] gives; i = 0, 1, 2, ... in turn.
    SliceFile take(qsizetype i)
    {
        if (!run_)
            return readSliceFile(files_.at(i), budget_);
        DecodeRun &r = *run_;
        std::unique_lock<std::mutex> lock(r.mutex);
        SliceFile slice;
        if (i >= r.next) {
            // No task has started it: this thread is one of the decodes for the while.
            r.next = i + 1;
            ++r.decoding;
            lock.unlock();
            slice = readSliceFile(files_.at(i), budget_);
            lock.lock();
            --r.decoding;
        } else {
            r.changed.wait(lock, [&] { return r.done[std::size_t(i)] != 0; });
            slice = std::move(r.slices[std::size_t(i)]);
        }
        r.taken = i + 1;
        post();
        return slice;
    }

    // Takes the tasks still queued back from the pool and waits for the decodes in
    // progress to finish; a task the pool starts after this returns ends at once.
    // Slices not taken are freed here.
    void stop()
    {
        if (!run_)
            return;
        DecodeRun &r = *run_;
        std::unique_lock<std::mutex> lock(r.mutex);
        r.stopping = true;
        QThreadPool *pool = workpool::decodePool();
        for (DecodeTask *t : r.queued) {
            if (pool->tryTake(t)) {
                delete t;
                --r.tasks;
            }
        }
        r.queued.clear();
        r.changed.wait(lock, [&] { return r.decoding == 0; });
        std::vector<SliceFile> untaken;
        untaken.swap(r.slices);
        lock.unlock();
        run_.reset();
    }

private:
    // Puts tasks on the pool for the files a task could start now, as long as fewer
    // than limit are there; called with the run's mutex held, from the loader's thread
    // while it decodes nothing itself. Never throws: without a task the loader decodes
    // the file itself when its turn comes.
    void post()
    {
        DecodeRun &r = *run_;
        const qsizetype open = std::min(r.files.size(), r.taken + r.window) - r.next;
        QThreadPool *pool = workpool::decodePool();
        // Tasks not decoding are about to start a file each.
        while (!r.stopping && r.tasks < r.limit && r.tasks - r.decoding < open) {
            DecodeTask *task = nullptr;
            try {
                task = new DecodeTask(run_);
            } catch (const std::exception &) {
                return;
            }
            r.queued.push_back(task);
            ++r.tasks;
            {
                std::lock_guard<std::mutex> handOverLock(decodeHandOver);
            }
            try {
                pool->start(task);
            } catch (const std::exception &) {
                r.queued.pop_back();
                --r.tasks;
                delete task;
                return;
            }
        }
    }

    const QStringList &files_;
    SliceBudget *budget_;
    std::shared_ptr<DecodeRun> run_;
};

// One accepted file of a load: how many slices it gave and what it says about
// spacing and placement.
struct AcceptedFile {
    std::size_t sliceCount = 0;
    bool hasSpacing = false;
    Spacing spacing;
    QString spacingUnit;
    bool isDicom = false;
    DicomPlacement dicom;
};

double dot3(const double *a, const double *b)
{
    return a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
}

// When every accepted file is a single DICOM slice of one series with position and
// orientation, the slices are put in order of their position along the slice
// normal (ties keep list order) and the slice step is the mean distance between
// neighbours. The set's spacing is then the series' own; otherwise it is that of
// the first accepted file that gives one, else 1, 1, 1 without a unit.
void stackByPosition(std::vector<std::unique_ptr<SliceData>> &slices, QStringList &names,
                     const std::vector<AcceptedFile> &meta, Spacing &spacing, QString &unit)
{
    spacing = Spacing();
    unit.clear();
    for (const AcceptedFile &m : meta) {
        if (m.hasSpacing) {
            spacing = m.spacing;
            unit = m.spacingUnit;
            break;
        }
    }
    if (meta.size() < 2 || slices.size() != meta.size())
        return;
    const DicomPlacement &first = meta.front().dicom;
    for (const AcceptedFile &m : meta) {
        if (!m.isDicom || m.sliceCount != 1 || !m.dicom.hasGeometry || m.dicom.seriesUid != first.seriesUid)
            return;
    }
    const double normal[3] = {first.rowDir[1] * first.colDir[2] - first.rowDir[2] * first.colDir[1],
                              first.rowDir[2] * first.colDir[0] - first.rowDir[0] * first.colDir[2],
                              first.rowDir[0] * first.colDir[1] - first.rowDir[1] * first.colDir[0]};
    std::vector<std::pair<double, std::size_t>> order;
    order.reserve(meta.size());
    for (std::size_t i = 0; i < meta.size(); ++i)
        order.emplace_back(dot3(meta[i].dicom.position, normal), i);
    std::stable_sort(order.begin(), order.end(), [](const auto &a, const auto &b) { return a.first < b.first; });
    std::vector<std::unique_ptr<SliceData>> sorted;
    QStringList sortedNames;
    sorted.reserve(slices.size());
    for (const auto &o : order) {
        sorted.push_back(std::move(slices[o.second]));
        sortedNames.append(names.at(qsizetype(o.second)));
    }
    slices.swap(sorted);
    names.swap(sortedNames);
    const double step = (order.back().first - order.front().first) / double(order.size() - 1);
    if (std::isfinite(step) && step > 0.0)
        spacing.z = step;
    else if (first.sliceGap > 0.0)
        spacing.z = first.sliceGap;
}

}  // namespace

SliceDatas::SliceDatas(QObject *parent) : QObject(parent)
{
    clear();
}

SliceDatas::~SliceDatas()
{
    emit aboutToBeDestroyed();
    for (SliceData *s : slices)
        delete s;
}

void SliceDatas::clear()
{
    std::vector<SliceData *> old;
    {
        std::unique_lock<std::shared_mutex> lock(rwLock);
        old.swap(slices);
        generation = nextGeneration();
        loaded = false;
        width = height = 0;
        minV = 0.0;
        maxV = 1.0;
        minTh = 0.0;
        maxTh = 1.0;
        acceptedFiles.clear();
        skipped.clear();
        spacing = Spacing();
        spacingUnit.clear();
    }
    for (SliceData *s : old)
        delete s;
    emit cleared();
}

void SliceDatas::makeHist()
{
    {
        // Not ready until the new one is stored (it stays so if building it fails).
        std::unique_lock<std::shared_mutex> lock(rwLock);
        histReady = false;
    }
    Histogram h = computeHistogram(slices, width, height, minV, maxV, histBins, histHeight, workerCount());
    std::unique_lock<std::shared_mutex> lock(rwLock);
    storeHistogram(*this, h);
}

void SliceDatas::setLoadWorkers(int count)
{
    loadWorkers_.store(std::max(count, 0));
}

int SliceDatas::loadWorkers() const
{
    return loadWorkers_.load();
}

void SliceDatas::setMemoryBudget(qint64 bytes)
{
    memoryBudget_.store(std::max<qint64>(bytes, 0));
}

qint64 SliceDatas::memoryBudget() const
{
    const qint64 asked = memoryBudget_.load();
    return asked > 0 ? asked : defaultSliceBudget();
}

int SliceDatas::workerCount() const
{
    const int asked = loadWorkers_.load();
    return std::clamp(asked > 0 ? asked : QThread::idealThreadCount(), 1, workpool::maxDecodeThreads);
}

LoadProgress SliceDatas::loadProgress() const
{
    LoadProgress p;
    p.running = running_.load();
    p.done = filesDone_.load();
    p.total = filesTotal_.load();
    return p;
}

void SliceDatas::cancelLoad()
{
    if (running_.load())
        cancelRequested_.store(true);
}

void SliceDatas::filesSelected(QStringList files)
{
    cancelRequested_.store(false);
    filesDone_.store(0);
    filesTotal_.store(int(std::min<qsizetype>(files.size(), std::numeric_limits<int>::max())));
    running_.store(true);
    clear();
    returnFreedMemory();

    // The new slices are built apart; readers keep seeing the empty set until the
    // whole result is published under the write lock below.
    std::vector<std::unique_ptr<SliceData>> accepted;
    QStringList acceptedNames;
    QList<SkippedFile> skippedFiles;
    std::vector<AcceptedFile> acceptedMeta;
    int setWidth = 0;
    int setHeight = 0;
    double setMinV = largestDouble;
    double setMaxV = -largestDouble;
    QThread *thread = QThread::currentThread();
    const int workers = workerCount();
    // Every slice of the run, accepted or in flight, is held in the budget; a dropped
    // one gives its share back. Slices a stopped decoder frees need not: the budget
    // ends with the run.
    SliceBudget budget(memoryBudget());
    FileDecoder decoder(std::as_const(files), workers, &budget);
    for (qsizetype i = 0; i < files.size(); ++i) {
        if (thread->isInterruptionRequested() || cancelRequested_.load())
            break;
        const QString &name = std::as_const(files).at(i);
        filesDone_.store(int(std::min<qsizetype>(i + 1, std::numeric_limits<int>::max())));
        try {
            SliceFile file = decoder.take(i);
            // A flat page inside a stack is a real slice of it; a file all of whose
            // slices are flat is dropped like a flat picture.
            bool fileVaries = false;
            for (const auto &slice : file.slices)
                fileVaries = fileVaries || slice->maxV > slice->minV;
            bool otherSize = false;
            AcceptedFile meta;
            for (auto &slice : file.slices) {
                // The first decoded slice fixes the size, even when it is dropped below.
                if (slice->width > 0 && slice->height != 0 && setWidth <= 0) {
                    setWidth = slice->width;
                    setHeight = slice->height;
                }
                const bool sameSize = slice->width == setWidth && slice->height == setHeight;
                otherSize = otherSize || !sameSize;
                if (!sameSize || !fileVaries) {
                    budget.release(sliceBytes(*slice));
                    continue;
                }
                if (slice->maxV > setMaxV)
                    setMaxV = slice->maxV;
                if (slice->minV < setMinV)
                    setMinV = slice->minV;
                accepted.push_back(std::move(slice));
                ++meta.sliceCount;
            }
            if (meta.sliceCount == 0) {
                QString reason = file.reason;
                if (otherSize)
                    reason = QString::fromLatin1(skipReason::otherSize);
                else if (!file.slices.empty())
                    reason = QString::fromLatin1(skipReason::flat);
                else if (reason.isEmpty())
                    reason = QString::fromLatin1(skipReason::notSlices);
                skippedFiles.append(SkippedFile{name, reason});
                continue;
            }
            meta.hasSpacing = file.hasSpacing;
            meta.spacing = file.spacing;
            meta.spacingUnit = file.spacingUnit;
            meta.isDicom = file.isDicom;
            meta.dicom = file.dicom;
            acceptedMeta.push_back(meta);
            acceptedNames.append(name);
        } catch (const std::exception &) {
            skippedFiles.append(SkippedFile{name, QString::fromLatin1(skipReason::unreadable)});
            continue;
        }
        emit loadedNewFile(name);
    }
    decoder.stop();

    Spacing setSpacing;
    QString setSpacingUnit;
    bool anyAccepted = setMinV < largestDouble && setMaxV > -largestDouble;
    std::vector<SliceData *> newSlices;
    Histogram h;
    try {
        stackByPosition(accepted, acceptedNames, acceptedMeta, setSpacing, setSpacingUnit);
        newSlices.reserve(accepted.size());
        for (const auto &s : accepted)
            newSlices.push_back(s.get());
        if (anyAccepted)
            h = computeHistogram(newSlices, setWidth, setHeight, setMinV, setMaxV, histBins, histHeight, workers);
    } catch (const std::exception &) {
        // Out of memory while finishing: end in the failed state rather than half-made.
        newSlices.clear();
        accepted.clear();
        acceptedNames.clear();
        anyAccepted = false;
        setMinV = largestDouble;
        setMaxV = -largestDouble;
        setSpacing = Spacing();
        setSpacingUnit.clear();
    }

    {
        std::unique_lock<std::shared_mutex> lock(rwLock);
        slices.swap(newSlices);
        generation = nextGeneration();
        width = setWidth;
        height = setHeight;
        minV = setMinV;
        maxV = setMaxV;
        acceptedFiles.swap(acceptedNames);
        skipped.swap(skippedFiles);
        spacing = setSpacing;
        spacingUnit = setSpacingUnit;
        if (anyAccepted) {
            loaded = true;
            minTh = minV;
            maxTh = maxV;
            storeHistogram(*this, h);
        }
    }
    for (auto &s : accepted)
        s.release();  // now owned by slices
    for (SliceData *s : newSlices)
        delete s;  // whatever the set held before; empty after clear()

    running_.store(false);
    emit loadFilesFinished();
}
