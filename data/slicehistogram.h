#ifndef SLICEHISTOGRAM_H
#define SLICEHISTOGRAM_H

#include <QImage>
#include <QList>

#include <vector>

class SliceData;

// The histogram of a slice set, counted apart from the set so that the loader can
// make it before it publishes the slices. Private to the set (slicedatas.cpp).
namespace slicehist {

struct Histogram {
    QList<int> counts;
    double binWidth = 1.0;
    double maxCount = 0.0;
    QImage image;
};

// Counts every value of every slice once, in bins centred on minV, minV + binWidth,
// ..., maxV, and draws one bar per bin. Reads only its arguments, so the loader can
// run it without holding the set's lock. The slices are shared out in up to
// `workers` parts over the process's pool; the counts are whole numbers, so the sum
// is the same in any order.
Histogram computeHistogram(const std::vector<SliceData *> &slices, int width, int height, double minV, double maxV,
                           int bins, int barHeight, int workers);

}  // namespace slicehist

#endif
