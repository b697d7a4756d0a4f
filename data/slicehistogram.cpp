#include "data/slicehistogram.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <exception>

#include "data/slicedata.h"
#include "data/workpool.h"

namespace slicehist {

namespace {

const QRgb histBarColor = qRgb(0, 220, 160);

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

}  // namespace

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

}  // namespace slicehist
