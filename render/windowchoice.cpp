#include "render/windowchoice.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "data/slicedata.h"
#include "data/slicedatas.h"

namespace render {

const std::vector<WindowPreset> &windowPresets()
{
    static const std::vector<WindowPreset> all{WindowPreset::Brain, WindowPreset::SoftTissue, WindowPreset::Bone,
                                               WindowPreset::Lung};
    return all;
}

ValueWindow presetWindow(WindowPreset p)
{
    struct CentreWidth {
        double centre, width;
    };
    CentreWidth cw{40, 80};
    switch (p) {
    case WindowPreset::Brain:
        cw = {40, 80};
        break;
    case WindowPreset::SoftTissue:
        cw = {40, 400};
        break;
    case WindowPreset::Bone:
        cw = {400, 1800};
        break;
    case WindowPreset::Lung:
        cw = {-600, 1500};
        break;
    }
    return ValueWindow{cw.centre - cw.width / 2, cw.centre + cw.width / 2};
}

std::vector<qint64> valueHistogram(const SliceDatas &set, int bins)
{
    constexpr std::int64_t enough = std::int64_t(1) << 24;
    const double lo = set.minV, hi = set.maxV;
    const int w = set.width, h = set.height, ss = int(set.slices.size());
    if (bins < 1 || !std::isfinite(lo) || !std::isfinite(hi) || !(hi >= lo) || w <= 0 || h <= 0 || ss <= 0)
        return {};
    const std::int64_t rows = std::int64_t(h) * ss;
    const std::int64_t step = std::max<std::int64_t>(1, std::int64_t(w) * rows / enough);
    std::vector<qint64> counts(size_t(bins), 0);
    std::vector<double> row(static_cast<size_t>(w));
    const double scale = hi > lo ? bins / (hi - lo) : 0.0;
    for (std::int64_t r = 0; r < rows; r += step) {
        const SliceData *s = set.slices[size_t(r / h)];
        if (s->width < w || s->height < h)
            continue;
        s->rowValues(int(r % h), row.data());
        for (double v : row)
            if (v >= lo && v <= hi)
                ++counts[size_t(std::min(bins - 1, int((v - lo) * scale)))];
    }
    return counts;
}

std::vector<double> axisTicks(double low, double high, int maxTicks)
{
    const double span = high - low;
    if (!(span > 0.0) || !std::isfinite(span) || maxTicks < 2)
        return {};
    const double rough = span / (maxTicks - 1);
    const double power = std::pow(10.0, std::floor(std::log10(rough)));
    double step = power;
    for (double m : {1.0, 2.0, 5.0, 10.0}) {
        step = m * power;
        if (std::floor(high / step) - std::ceil(low / step) + 1 <= maxTicks)
            break;
    }
    std::vector<double> ticks;
    for (double k = std::ceil(low / step); k * step <= high; k += 1.0) {
        const double t = k * step;
        ticks.push_back(std::fabs(t) < step * 1e-9 ? 0.0 : t);
    }
    return ticks;
}

bool autoWindow(const SliceDatas &set, ValueWindow *out, double lowShare, double highShare)
{
    constexpr int bins = 4096;
    const double lo = set.minV, hi = set.maxV;
    const std::vector<qint64> counts = valueHistogram(set, bins);
    if (counts.empty())
        return false;
    qint64 total = 0;
    for (qint64 c : counts)
        total += c;
    if (total == 0)
        return false;
    if (hi == lo) {
        *out = ValueWindow{lo, hi};
        return true;
    }
    const double binWidth = (hi - lo) / bins;
    // The lower end is the start of the bin in which the share is reached, the upper
    // end the end of the bin in which it is passed.
    auto binOf = [&](double share) {
        const double target = share * double(total);
        qint64 seen = 0;
        for (int b = 0; b < bins; ++b) {
            seen += counts[size_t(b)];
            if (double(seen) > target)
                return b;
        }
        return bins - 1;
    };
    out->low = lo + binOf(lowShare) * binWidth;
    out->high = std::min(hi, lo + (binOf(highShare) + 1) * binWidth);
    return true;
}

}  // namespace render
