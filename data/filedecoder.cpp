#include "data/filedecoder.h"

#include <QRunnable>
#include <QThreadPool>

#include <algorithm>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <utility>
#include <vector>

#include "data/workpool.h"

namespace {

// Orders what the loader wrote before putting a decode task on the pool (the task,
// the run's state) before what the task reads: the pool does that too, but inside a
// library the race checker cannot see into. Locked and unlocked by the loader before
// each start, and first thing by each task.
std::mutex decodeHandOver;

class DecodeTask;

}  // namespace

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

namespace {

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

}  // namespace

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

FileDecoder::FileDecoder(const QStringList &files, int workers, SliceBudget *budget) : files_(files), budget_(budget)
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

FileDecoder::~FileDecoder()
{
    stop();
}

SliceFile FileDecoder::take(qsizetype i)
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

void FileDecoder::stop()
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

void FileDecoder::post()
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
