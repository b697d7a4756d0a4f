#ifndef WORKPOOL_H
#define WORKPOOL_H

#include <functional>

class QThreadPool;

// Work shared out over the process's thread pool (Qt's global one), so a frame
// or a histogram no longer starts threads of its own. The calling thread takes
// part, so the work gets done even while every pool thread is busy elsewhere (the
// histogram of a load in another panel), and the caller never waits behind that
// other work. Decoding files has a pool of its own (decodePool below).
namespace workpool {

// Runs work() on the calling thread and on up to `helpers` pool threads at once;
// returns when every copy that started has returned. Copies still waiting for a
// pool thread when the caller's own copy returns are withdrawn unstarted. work
// must be safe to run in several threads at once, take its pieces from shared
// state (an atomic counter) and return when none is left. An exception from a
// helper's copy ends that copy only; one from the caller's copy is passed on once
// the helpers are done.
void run(int helpers, const std::function<void()> &work);

// How many threads the pool runs at most (one per core), at least 1.
int threads();

// The most threads one load may decode its files on.
constexpr int maxDecodeThreads = 64;

// The process's pool for decoding slice files, apart from the one above: a decode
// spends much of its time waiting for the disk, and one load may be set to decode on
// more threads than there are cores, so decoding on the pool that frames and
// histograms share would leave a frame without helpers while a panel loads. Holds up
// to maxDecodeThreads threads, which end after half a minute without work. Kept for
// the life of the process; tasks put on it must never wait for one another.
QThreadPool *decodePool();

}  // namespace workpool

#endif
