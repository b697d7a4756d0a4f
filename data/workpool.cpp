#include "data/workpool.h"

#include <QRunnable>
#include <QThreadPool>

#include <algorithm>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <vector>

namespace {

// Orders everything the caller wrote before starting a helper (the helper itself,
// the work's data) before what the helper reads: Qt's pool does that too, but in a
// library the race checker cannot see into. Locked and unlocked by the caller before
// each start, and first thing by each helper.
std::mutex handOver;

// Counts the helpers that have not finished.
struct Latch {
    std::mutex mutex;
    std::condition_variable allDone;
    int pending = 0;

    void done()
    {
        std::lock_guard<std::mutex> lock(mutex);
        --pending;
        allDone.notify_all();
    }
};

class Helper : public QRunnable
{
public:
    Helper(const std::function<void()> &work, std::shared_ptr<Latch> latch) : work_(work), latch_(std::move(latch))
    {
        // Ours to delete: the pool reads this before run() and never touches the
        // helper after it, so it can be taken back or deleted by the caller.
        setAutoDelete(false);
    }

    void run() override
    {
        {
            std::lock_guard<std::mutex> lock(handOver);
        }
        try {
            work_();
        } catch (...) {
        }
        latch_->done();
    }

private:
    const std::function<void()> &work_;
    std::shared_ptr<Latch> latch_;
};

}  // namespace

namespace workpool {

int threads()
{
    return std::max(1, QThreadPool::globalInstance()->maxThreadCount());
}

QThreadPool *decodePool()
{
    // Made on first use and destroyed with the other statics after main() returns;
    // by then every load has stopped, so it only joins idle threads.
    static QThreadPool *const pool = [] {
        static QThreadPool p;
        p.setMaxThreadCount(maxDecodeThreads);
        return &p;
    }();
    return pool;
}

void run(int helpers, const std::function<void()> &work)
{
    QThreadPool *pool = QThreadPool::globalInstance();
    helpers = std::clamp(helpers, 0, threads());
    auto latch = std::make_shared<Latch>();
    std::vector<std::unique_ptr<Helper>> started;
    {
        std::lock_guard<std::mutex> lock(latch->mutex);
        latch->pending = helpers;
    }
    for (int i = 0; i < helpers; ++i) {
        started.push_back(std::make_unique<Helper>(work, latch));
        {
            std::lock_guard<std::mutex> lock(handOver);
        }
        pool->start(started.back().get());
    }
    auto finish = [&]() {
        // A helper still queued is taken back unstarted.
        for (const auto &h : started)
            if (pool->tryTake(h.get()))
                latch->done();
        std::unique_lock<std::mutex> lock(latch->mutex);
        latch->allDone.wait(lock, [&latch] { return latch->pending == 0; });
    };
    try {
        work();
    } catch (...) {
        finish();
        throw;
    }
    finish();
}

}  // namespace workpool
