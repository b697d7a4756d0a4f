#include "render/coarse.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <exception>
#include <mutex>
#include <thread>

#include "data/slicedata.h"
#include "data/slicedatas.h"

namespace render {

CoarseSet::CoarseSet() = default;
CoarseSet::~CoarseSet() = default;

namespace {

// Builds the copy slice by slice; stops early when `stop` says so.
template <typename Stop> std::shared_ptr<const CoarseSet> build(const SliceDatas &set, Stop stop)
{
    auto out = std::make_shared<CoarseSet>();
    int sw, sh, ss;
    {
        SliceDatas::ReadGuard guard(set);
        out->generation = set.generation;
        sw = set.width;
        sh = set.height;
        ss = int(set.slices.size());
    }
    if (sw <= 0 || sh <= 0 || ss <= 0)
        return nullptr;
    const int cw = (sw + 1) / 2, ch = (sh + 1) / 2, cs = (ss + 1) / 2;
    out->width = cw;
    out->height = ch;
    std::vector<double> row(static_cast<size_t>(sw));
    std::vector<double> plane(size_t(cw) * size_t(ch));
    std::vector<uchar> wide(static_cast<size_t>(sw));
    for (int k = 0; k < cs; ++k) {
        if (stop())
            return nullptr;
        std::fill(plane.begin(), plane.end(), -HUGE_VAL);
        {
            SliceDatas::ReadGuard guard(set);
            if (set.generation != out->generation)
                return nullptr;
            // 8-bit grey slices straight from their bytes (the common big set): the same
            // largest values, without going through doubles.
            const int j1 = std::min(ss, 2 * k + 2);
            bool grey = true;
            for (int j = 2 * k; j < j1; ++j) {
                const SliceData *s = set.slices[size_t(j)];
                grey = grey && s->isImage && s->image.format() == QImage::Format_Grayscale8 && s->image.width() >= sw
                    && s->image.height() >= sh;
            }
            if (grey) {
                QImage img(cw, ch, QImage::Format_Grayscale8);
                if (img.isNull())
                    return nullptr;
                for (int y = 0; y < ch; ++y) {
                    std::fill(wide.begin(), wide.end(), uchar(0));
                    for (int j = 2 * k; j < j1; ++j)
                        for (int yy = 2 * y; yy < std::min(sh, 2 * y + 2); ++yy) {
                            const uchar *src = set.slices[size_t(j)]->image.constScanLine(yy);
                            for (int x = 0; x < sw; ++x)
                                wide[size_t(x)] = std::max(wide[size_t(x)], src[x]);
                        }
                    uchar *line = img.scanLine(y);
                    for (int x = 0; x < cw; ++x)
                        line[x] = std::max(wide[size_t(2 * x)], wide[size_t(std::min(sw - 1, 2 * x + 1))]);
                }
                auto slice = std::make_unique<SliceData>();
                slice->image = img;
                slice->computeImageMinMax();
                out->slices.push_back(slice.get());
                out->owned.push_back(std::move(slice));
                continue;
            }
            for (int j = 2 * k; j < std::min(ss, 2 * k + 2); ++j) {
                const SliceData *s = set.slices[size_t(j)];
                if (s->width < sw || s->height < sh)
                    return nullptr;
                for (int y = 0; y < sh; ++y) {
                    s->rowValues(y, row.data());
                    double *dst = plane.data() + size_t(y / 2) * size_t(cw);
                    for (int x = 0; x < sw; ++x)
                        dst[x / 2] = std::max(dst[x / 2], row[size_t(x)]);
                }
            }
        }
        // Whole numbers 0 .. 255 are kept as an 8-bit picture, anything else as a grid.
        const bool bytes = std::all_of(plane.begin(), plane.end(),
                                       [](double v) { return v >= 0.0 && v <= 255.0 && v == std::floor(v); });
        auto slice = std::make_unique<SliceData>();
        if (bytes) {
            QImage img(cw, ch, QImage::Format_Grayscale8);
            if (img.isNull())
                return nullptr;
            for (int y = 0; y < ch; ++y) {
                uchar *line = img.scanLine(y);
                for (int x = 0; x < cw; ++x)
                    line[x] = uchar(plane[size_t(y) * size_t(cw) + size_t(x)]);
            }
            slice->image = img;
            slice->computeImageMinMax();
        } else {
            slice->isImage = false;
            slice->width = cw;
            slice->height = ch;
            slice->values.resize(size_t(ch));
            for (int y = 0; y < ch; ++y)
                slice->values[size_t(y)].assign(plane.begin() + qsizetype(y) * cw,
                                                plane.begin() + qsizetype(y + 1) * cw);
        }
        out->slices.push_back(slice.get());
        out->owned.push_back(std::move(slice));
    }
    if (stop())
        return nullptr;
    out->bricks = mip::valueBricks(out->slices, cw, ch, 1);
    return out;
}

}  // namespace

struct CoarseCopies::Entry {
    const SliceDatas *set = nullptr;
    quint64 generation = 0;
    std::atomic<bool> cancel{false};
    std::atomic<bool> done{false};
    std::mutex mutex;
    std::shared_ptr<const CoarseSet> result;  // under mutex
    std::thread thread;

    void stop()
    {
        cancel = true;
        if (thread.joinable())
            thread.join();
    }
};

CoarseCopies::CoarseCopies() = default;

CoarseCopies::~CoarseCopies()
{
    for (const auto &e : entries_)
        e->stop();
}

std::shared_ptr<const CoarseSet> CoarseCopies::get(const SliceDatas &set)
{
    quint64 generation;
    {
        SliceDatas::ReadGuard guard(set);
        generation = set.generation;
    }
    auto it = std::find_if(entries_.begin(), entries_.end(), [&](const auto &e) { return e->set == &set; });
    if (it != entries_.end() && (*it)->generation != generation) {
        (*it)->stop();
        entries_.erase(it);
        it = entries_.end();
    }
    if (it == entries_.end()) {
        auto e = std::make_shared<Entry>();
        e->set = &set;
        e->generation = generation;
        Entry *raw = e.get();
        try {
            e->thread = std::thread([raw] {
                std::shared_ptr<const CoarseSet> c;
                try {
                    c = build(*raw->set, [raw] { return raw->cancel.load(); });
                } catch (const std::exception &) {
                    // Out of memory: drags on this set stay on the exact path.
                }
                {
                    std::lock_guard<std::mutex> lock(raw->mutex);
                    raw->result = std::move(c);
                }
                raw->done = true;
            });
        } catch (const std::exception &) {
            return nullptr;  // no thread: try again on the next frame
        }
        entries_.push_back(std::move(e));
        return nullptr;
    }
    Entry &e = **it;
    if (!e.done)
        return nullptr;
    std::lock_guard<std::mutex> lock(e.mutex);
    if (e.result && e.result->generation == generation)
        return e.result;
    return nullptr;
}

void CoarseCopies::forget(const SliceDatas *set)
{
    for (auto it = entries_.begin(); it != entries_.end();) {
        if ((*it)->set == set) {
            (*it)->stop();
            it = entries_.erase(it);
        } else {
            ++it;
        }
    }
}

bool CoarseCopies::has(const SliceDatas *set) const
{
    return std::any_of(entries_.begin(), entries_.end(), [set](const auto &e) { return e->set == set; });
}

void CoarseCopies::waitForBuilds()
{
    for (const auto &e : entries_) {
        if (e->thread.joinable())
            e->thread.join();
    }
}

}  // namespace render
