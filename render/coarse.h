#ifndef COARSE_H
#define COARSE_H

#include <QtGlobal>

#include <memory>
#include <vector>

#include "render/bricks.h"

class SliceData;
class SliceDatas;

namespace render {

// A set at half its resolution along every axis: value (x, y) of slice k is the
// largest of the (up to) eight values of slices 2k and 2k + 1 at columns 2x, 2x + 1
// and rows 2y, 2y + 1, so thin bright structures stay in the projection. Made
// from the set as it was at `generation`.
struct CoarseSet {
    quint64 generation = 0;
    int width = 0;  // slice size
    int height = 0;
    std::vector<std::unique_ptr<SliceData>> owned;
    std::vector<SliceData *> slices;
    mip::ValueBricks bricks;  // of the coarse slices
    CoarseSet();
    ~CoarseSet();
};

// The coarse copies of the sets a window draws, each built once per load on a
// thread of its own. The builder reads the set one coarse slice at a time under
// its read lock and gives up as soon as the set changes, so a reload never waits
// for it and never sees a half-made copy. GUI thread only.
class CoarseCopies
{
public:
    CoarseCopies();
    ~CoarseCopies();  // stops and joins every build
    CoarseCopies(const CoarseCopies &) = delete;
    CoarseCopies &operator=(const CoarseCopies &) = delete;

    // The finished copy of `set` as it is now, or null while it is being built; starts
    // building one when none is. A copy of an older load is dropped.
    std::shared_ptr<const CoarseSet> get(const SliceDatas &set);
    // Stops any build of `set` and drops its copy; call before the set is destroyed.
    void forget(const SliceDatas *set);
    // Whether a copy of `set` is kept or being built.
    bool has(const SliceDatas *set) const;
    // Waits until every build started so far has ended.
    void waitForBuilds();

private:
    struct Entry;
    std::vector<std::shared_ptr<Entry>> entries_;
};

}  // namespace render

#endif
