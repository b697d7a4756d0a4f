#ifndef WORKPOOL_H
#define WORKPOOL_H

#include <functional>

// Work shared out over the process's thread pool (Qt's global one), so a frame
// or a histogram no longer starts threads of its own. The calling thread takes
// part, so the work gets done even while every pool thread is busy elsewhere (a
// load decoding files), and the caller never waits behind that other work.
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

}  // namespace workpool

#endif
