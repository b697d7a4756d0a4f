#include "data/slicedatas.h"

#include <QThread>

#include <algorithm>
#include <exception>
#include <limits>
#include <memory>
#include <mutex>
#include <utility>

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

// Counts every value of every slice once, in bins centred on minV, minV + binWidth,
// ..., maxV, and draws one bar per bin. Reads only its arguments, so the loader can
// run it without holding the set's lock.
Histogram computeHistogram(const std::vector<SliceData *> &slices, int width, int height, double minV,
                           double maxV, int bins, int barHeight)
{
    Histogram h;
    h.counts.fill(0, bins);
    h.binWidth = (maxV - minV) / (bins - 1);
    const double lower = minV - h.binWidth * 0.5;
    int *counts = h.counts.data();
    std::vector<double> row;
    for (const SliceData *s : slices) {
        // Every slice has the set's size; the buffer is sized for the slice all the same.
        row.resize(std::size_t(std::max({width, s->width, 0})));
        for (int y = 0; y < height; ++y) {
            s->rowValues(y, row.data());
            for (int x = 0; x < width; ++x) {
                const double v = row[std::size_t(x)];
                // Clamped while still a double: a NaN or a quotient beyond the int range
                // (a zero bin width, say) can never address a bin outside the list.
                const double bin = (v - lower) / h.binWidth;
                int b = 0;
                if (bin >= bins)
                    b = bins - 1;
                else if (bin > 0)
                    b = int(bin);
                ++counts[b];
            }
        }
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
    Histogram h = computeHistogram(slices, width, height, minV, maxV, histBins, histHeight);
    std::unique_lock<std::shared_mutex> lock(rwLock);
    storeHistogram(*this, h);
}

void SliceDatas::filesSelected(QStringList files)
{
    clear();

    // The new slices are built apart; readers keep seeing the empty set until the
    // whole result is published under the write lock below.
    std::vector<std::unique_ptr<SliceData>> accepted;
    int setWidth = 0;
    int setHeight = 0;
    double setMinV = largestDouble;
    double setMaxV = -largestDouble;
    QThread *thread = QThread::currentThread();
    for (const QString &name : std::as_const(files)) {
        if (thread->isInterruptionRequested())
            break;
        try {
            auto slice = std::make_unique<SliceData>();
            if (!slice->load(name))
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

    bool anyAccepted = setMinV < largestDouble && setMaxV > -largestDouble;
    std::vector<SliceData *> newSlices;
    Histogram h;
    try {
        newSlices.reserve(accepted.size());
        for (const auto &s : accepted)
            newSlices.push_back(s.get());
        if (anyAccepted)
            h = computeHistogram(newSlices, setWidth, setHeight, setMinV, setMaxV, histBins, histHeight);
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
