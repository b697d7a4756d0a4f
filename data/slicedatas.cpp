#include "data/slicedatas.h"

#include <QThread>

#include <algorithm>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <limits>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include "data/slicedata.h"

namespace {

const double largestDouble = std::numeric_limits<double>::max();
const QRgb histBarColor = qRgb(0, 220, 160);

struct Histogram
{
    QList<int> counts;
    double binWidth = 1.0;
    double maxCount = 0.0;
    QImage image;
};

// The bin of a value: bins centred on minV, minV + binWidth, ..., maxV.
struct Binning
{
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
void countValues(const std::vector<SliceData *> &slices, std::size_t first, std::size_t last, int width,
                 int height, const Binning &binOf, std::vector<int> &counts)
{
    std::vector<double> row;
    for (std::size_t i = first; i < last; ++i) {
        const SliceData *s = slices[i];
        if (s->isImage && s->image.format() == QImage::Format_Grayscale8 && s->width == width &&
            s->height == height) {
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
// run it without holding the set's lock. The slices are shared out among up to
// `workers` threads; the counts are whole numbers, so the sum is the same in any order.
Histogram computeHistogram(const std::vector<SliceData *> &slices, int width, int height, double minV,
                           double maxV, int bins, int barHeight, int workers)
{
    Histogram h;
    h.counts.fill(0, bins);
    h.binWidth = (maxV - minV) / (bins - 1);
    const Binning binOf{minV - h.binWidth * 0.5, h.binWidth, bins};

    const std::size_t parts = std::clamp<std::size_t>(std::size_t(std::max(workers, 1)), 1,
                                                      std::max<std::size_t>(slices.size(), 1));
    auto bound = [&](std::size_t p) { return slices.size() * p / parts; };
    std::vector<std::vector<int>> partCounts(parts, std::vector<int>(std::size_t(bins), 0));
    std::vector<char> partFailed(parts, 0);
    auto countPart = [&](std::size_t p) {
        countValues(slices, bound(p), bound(p + 1), width, height, binOf, partCounts[p]);
    };
    std::vector<std::thread> threads;
    // Joined on every way out, an exception from this thread's own counting included.
    struct Joiner
    {
        std::vector<std::thread> &threads;
        ~Joiner()
        {
            for (std::thread &t : threads) {
                if (t.joinable())
                    t.join();
            }
        }
    } joiner{threads};
    std::size_t started = 1; // parts 1 .. started - 1 run on threads of their own
    try {
        threads.reserve(parts - 1);
        for (; started < parts; ++started) {
            const std::size_t p = started;
            threads.emplace_back([&, p] {
                try {
                    countPart(p);
                } catch (...) {
                    partFailed[p] = 1;
                }
            });
        }
    } catch (const std::exception &) {
        // No more threads: this one counts the parts left over.
    }
    for (std::size_t p = started; p < parts; ++p)
        countPart(p);
    countPart(0);
    for (std::thread &t : threads)
        t.join();
    for (std::size_t p = 1; p < started; ++p) {
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
// the heap of the thread that allocated them, and the worker threads of the next load
// may well take other heaps, so without this a reload could hold the old set's memory
// beside the new one. Other allocators are left as they are.
void returnFreedMemory()
{
#if defined(__GLIBC__)
    malloc_trim(0);
#endif
}

std::unique_ptr<SliceData> decodeFile(const QString &name) noexcept
{
    try {
        auto slice = std::make_unique<SliceData>();
        if (slice->load(name))
            return slice;
    } catch (...) {
    }
    return nullptr;
}

// Decodes the files of one run ahead of the loader on worker threads of its own and
// hands the slices over in list order. Workers never start a file more than `window`
// places past the one the loader takes next, so at most that many decoded slices
// wait beside the accepted ones. Without workers (one asked for, a single file, or
// no thread could be started) take() decodes in the calling thread.
class FileDecoder
{
public:
    FileDecoder(const QStringList &files, int workers) : files_(files)
    {
        const qsizetype threads = std::min<qsizetype>(workers, files.size());
        if (threads < 2)
            return;
        try {
            slices_.resize(std::size_t(files.size()));
            done_.assign(std::size_t(files.size()), 0);
            window_ = 2 * threads;
            threads_.reserve(std::size_t(threads));
            for (qsizetype i = 0; i < threads; ++i)
                threads_.emplace_back([this] { work(); });
        } catch (const std::exception &) {
            // Fewer threads than asked for, or none: those started do the work.
        }
    }
    ~FileDecoder() { stop(); }
    FileDecoder(const FileDecoder &) = delete;
    FileDecoder &operator=(const FileDecoder &) = delete;

    // The slice of files[i], null when no reader accepts the file; i = 0, 1, 2, ... in turn.
    std::unique_ptr<SliceData> take(qsizetype i)
    {
        if (threads_.empty())
            return decodeFile(files_.at(i));
        std::unique_lock<std::mutex> lock(mutex_);
        sliceReady_.wait(lock, [&] { return done_[std::size_t(i)] != 0; });
        std::unique_ptr<SliceData> slice = std::move(slices_[std::size_t(i)]);
        taken_ = i + 1;
        lock.unlock();
        workReady_.notify_all();
        return slice;
    }

    // Lets the decodes in progress finish, joins the workers; slices not taken are freed
    // with the decoder.
    void stop()
    {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stopping_ = true;
        }
        workReady_.notify_all();
        for (std::thread &t : threads_)
            t.join();
        threads_.clear();
    }

private:
    void work()
    {
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            workReady_.wait(lock, [&] {
                return stopping_ || next_ >= files_.size() || next_ < taken_ + window_;
            });
            if (stopping_ || next_ >= files_.size())
                return;
            const qsizetype i = next_++;
            lock.unlock();
            std::unique_ptr<SliceData> slice = decodeFile(files_.at(i));
            lock.lock();
            slices_[std::size_t(i)] = std::move(slice);
            done_[std::size_t(i)] = 1;
            sliceReady_.notify_one();
        }
    }

    const QStringList &files_;
    std::mutex mutex_;
    std::condition_variable workReady_;
    std::condition_variable sliceReady_;
    std::vector<std::unique_ptr<SliceData>> slices_;
    std::vector<char> done_;
    qsizetype next_ = 0;  // the next file a worker starts
    qsizetype taken_ = 0; // files handed to the loader so far
    qsizetype window_ = 0;
    bool stopping_ = false;
    std::vector<std::thread> threads_;
};

} // namespace

SliceDatas::SliceDatas(QObject *parent) : QObject(parent)
{
    clear();
}

SliceDatas::~SliceDatas()
{
    for (SliceData *s : slices)
        delete s;
}

void SliceDatas::clear()
{
    std::vector<SliceData *> old;
    {
        std::unique_lock<std::shared_mutex> lock(rwLock);
        old.swap(slices);
        ++generation;
        loaded = false;
        width = height = 0;
        minV = 0.0;
        maxV = 1.0;
        minTh = 0.0;
        maxTh = 1.0;
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

int SliceDatas::workerCount() const
{
    const int asked = loadWorkers_.load();
    return std::clamp(asked > 0 ? asked : QThread::idealThreadCount(), 1, 64);
}

void SliceDatas::filesSelected(QStringList files)
{
    clear();
    returnFreedMemory();

    // The new slices are built apart; readers keep seeing the empty set until the
    // whole result is published under the write lock below.
    std::vector<std::unique_ptr<SliceData>> accepted;
    int setWidth = 0;
    int setHeight = 0;
    double setMinV = largestDouble;
    double setMaxV = -largestDouble;
    QThread *thread = QThread::currentThread();
    const int workers = workerCount();
    FileDecoder decoder(std::as_const(files), workers);
    for (qsizetype i = 0; i < files.size(); ++i) {
        if (thread->isInterruptionRequested())
            break;
        const QString &name = std::as_const(files).at(i);
        try {
            std::unique_ptr<SliceData> slice = decoder.take(i);
            if (!slice)
                continue;
            // The first decoded slice fixes the size, even when it is dropped below.
            if (slice->width > 0 && slice->height != 0 && setWidth <= 0) {
                setWidth = slice->width;
                setHeight = slice->height;
            }
            if (slice->width != setWidth || slice->height != setHeight || !(slice->maxV > slice->minV))
                continue;
            if (slice->maxV > setMaxV)
                setMaxV = slice->maxV;
            if (slice->minV < setMinV)
                setMinV = slice->minV;
            accepted.push_back(std::move(slice));
        } catch (const std::exception &) {
            continue;
        }
        emit loadedNewFile(name);
    }
    decoder.stop();

    bool anyAccepted = setMinV < largestDouble && setMaxV > -largestDouble;
    std::vector<SliceData *> newSlices;
    Histogram h;
    try {
        newSlices.reserve(accepted.size());
        for (const auto &s : accepted)
            newSlices.push_back(s.get());
        if (anyAccepted)
            h = computeHistogram(newSlices, setWidth, setHeight, setMinV, setMaxV, histBins, histHeight,
                                 workers);
    } catch (const std::exception &) {
        // Out of memory while finishing: end in the failed state rather than half-made.
        newSlices.clear();
        accepted.clear();
        anyAccepted = false;
        setMinV = largestDouble;
        setMaxV = -largestDouble;
    }

    {
        std::unique_lock<std::shared_mutex> lock(rwLock);
        slices.swap(newSlices);
        ++generation;
        width = setWidth;
        height = setHeight;
        minV = setMinV;
        maxV = setMaxV;
        if (anyAccepted) {
            loaded = true;
            minTh = minV;
            maxTh = maxV;
            storeHistogram(*this, h);
        }
    }
    for (auto &s : accepted)
        s.release(); // now owned by slices
    for (SliceData *s : newSlices)
        delete s; // whatever the set held before; empty after clear()

    emit loadFilesFinished();
}
